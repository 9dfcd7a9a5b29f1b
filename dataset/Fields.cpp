#include "dataset/Fields.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dataset/DataSet.h"

namespace vz::data {

Field::Field(FieldType type, const std::string& name, int size)
    : type_(type), name_(name), size_(size) {}

bool Field::GetData(void* buffer) const {
  if (!dataSet_ || !dataSet_->Active()) return false;
  return dataSet_->GetFieldData(this, buffer);
}

void Field::SetData(const void* buffer) {
  CheckWritable();
  dataSet_->SetFieldData(this, buffer);
}

bool Field::IsNull() const {
  return !GetData(nullptr);
}

void Field::CheckWritable() const {
  if (!dataSet_ || !dataSet_->Active()) throw DatabaseError("Dataset not in edit or insert mode");
  if (readOnly_ && !dataSet_->CalcFieldsRunning())
    throw DatabaseError("Field '" + name_ + "' cannot be modified");
  const DataSetState s = dataSet_->State();
  if (s != DataSetState::Edit && s != DataSetState::Insert && s != DataSetState::SetKey &&
      s != DataSetState::CalcFields)
    throw DatabaseError("Dataset not in edit or insert mode");
}

// --- String ---------------------------------------------------------------------------------

std::string StringField::AsString() const {
  std::string buf(DataSize(), '\0');
  if (!GetData(buf.data())) return std::string();
  return std::string(buf.c_str());
}

void StringField::SetAsString(const std::string& text) {
  std::string buf(DataSize(), '\0');
  std::memcpy(buf.data(), text.data(), std::min(text.size(), static_cast<std::size_t>(Size())));
  SetData(buf.data());
}

// --- Integer --------------------------------------------------------------------------------

std::int32_t IntegerField::AsInteger() const {
  std::int32_t v = 0;
  return GetData(&v) ? v : 0;
}

void IntegerField::SetAsInteger(std::int32_t v) {
  SetData(&v);
}

std::string IntegerField::AsString() const {
  std::int32_t v = 0;
  return GetData(&v) ? std::to_string(v) : std::string();
}

void IntegerField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  std::int32_t v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size())
    throw DatabaseError("'" + text + "' is not a valid integer value");
  SetAsInteger(v);
}

// --- Float ----------------------------------------------------------------------------------

double FloatField::AsFloat() const {
  double v = 0;
  return GetData(&v) ? v : 0;
}

void FloatField::SetAsFloat(double v) {
  SetData(&v);
}

std::string FloatField::AsString() const {
  double v = 0;
  if (!GetData(&v)) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", precision_ > 0 && precision_ <= 17 ? precision_ : 15, v);
  return buf;
}

void FloatField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  double v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size())
    throw DatabaseError("'" + text + "' is not a valid floating point value");
  SetAsFloat(v);
}

// --- Boolean --------------------------------------------------------------------------------

bool BooleanField::AsBoolean() const {
  std::uint8_t v[2] = {0, 0};
  return GetData(v) && v[0] != 0;
}

void BooleanField::SetAsBoolean(bool v) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(v ? 1 : 0), 0};
  SetData(b);
}

std::string BooleanField::AsString() const {
  std::uint8_t v[2] = {0, 0};
  if (!GetData(v)) return std::string();
  return v[0] ? "True" : "False";
}

void BooleanField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  SetAsBoolean(c == 'T' || c == 'Y');
}

// --- Dates ----------------------------------------------------------------------------------

namespace {

using namespace std::chrono;

constexpr sys_days kDayZero = sys_days{year{1899} / December / 30};

std::string Digits(int v, int width) {
  std::string s = std::to_string(v < 0 ? -v : v);
  while (static_cast<int>(s.size()) < width) s = "0" + s;
  return s;
}

// The date format of the runtime, one per process like the runtime's own
// format settings: the framework lies below the engine and links without it,
// so it keeps them itself. The table component sets them from the engine's
// date settings whenever a table opens.

// The date pattern of the runtime, set by the engine's date format.
std::string& ShortDatePattern() {
  static std::string pattern = "MM/dd/yy";
  return pattern;
}

// The first year of the hundred that a two-digit year falls in.
int& TwoDigitYearBase() {
  static int base = 1950;
  return base;
}

}  // namespace

DayNumber DayNumberOf(int y, int m, int d) {
  const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
  return static_cast<DayNumber>((sys_days{ymd} - kDayZero).count());
}

void CalendarOf(DayNumber n, int& y, int& m, int& d) {
  const year_month_day ymd{kDayZero + days{n}};
  y = static_cast<int>(ymd.year());
  m = static_cast<int>(static_cast<unsigned>(ymd.month()));
  d = static_cast<int>(static_cast<unsigned>(ymd.day()));
}

std::string FormatDate(DayNumber n, const std::string& pattern) {
  int y, m, d;
  CalendarOf(n, y, m, d);
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == pattern[i]) ++run;
    const char c = pattern[i];
    if (c == 'y')
      out += run >= 4 ? Digits(y, 4) : Digits(y % 100, 2);
    else if (c == 'M')
      out += Digits(m, run >= 2 ? 2 : 1);
    else if (c == 'd')
      out += Digits(d, run >= 2 ? 2 : 1);
    else
      out.append(run, c);
    i += run;
  }
  return out;
}

bool ParseDate(const std::string& text, const std::string& pattern, DayNumber& out) {
  // The order of year, month and day from the pattern; any non-digit
  // separates the parts.
  std::string order;
  for (char c : pattern)
    if ((c == 'y' || c == 'M' || c == 'd') && order.find(c) == std::string::npos) order += c;
  if (order.size() != 3) return false;
  int parts[3] = {0, 0, 0};
  int widths[3] = {0, 0, 0};
  int k = -1;
  bool inDigits = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (!inDigits) {
        if (++k > 2) return false;
        inDigits = true;
      }
      parts[k] = parts[k] * 10 + (c - '0');
      if (++widths[k] > 4) return false;
    } else {
      inDigits = false;
    }
  }
  if (k != 2) return false;
  int y = 0, m = 0, d = 0;
  for (int i = 0; i < 3; ++i) {
    if (order[i] == 'y') {
      const int base = TwoDigitYearBase(), century = base / 100 * 100;
      y = widths[i] > 2           ? parts[i]
          : parts[i] < base % 100 ? century + 100 + parts[i]
                                  : century + parts[i];
    }
    if (order[i] == 'M') m = parts[i];
    if (order[i] == 'd') d = parts[i];
  }
  const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return false;
  out = DayNumberOf(y, m, d);
  return true;
}

DayNumber DateField::AsDate() const {
  DayNumber d = 0;
  return GetData(&d) ? d : 0;
}

void DateField::SetAsDate(DayNumber d) {
  SetData(&d);
}

std::string DateField::AsString() const {
  DayNumber d = 0;
  if (!GetData(&d)) return std::string();
  return FormatDate(d, ShortDatePattern());
}

void DateField::SetAsString(const std::string& text) {
  if (text.find_first_not_of(' ') == std::string::npos) {
    Clear();
    return;
  }
  DayNumber d = 0;
  if (!ParseDate(text, ShortDatePattern(), d))
    throw DatabaseError("'" + text + "' is not a valid date");
  SetAsDate(d);
}

void SetShortDatePattern(const std::string& pattern) {
  ShortDatePattern() = pattern;
}
void SetTwoDigitYearBase(int firstYear) {
  TwoDigitYearBase() = firstYear;
}
const std::string& GetShortDatePattern() {
  return ShortDatePattern();
}

// --- Memo -----------------------------------------------------------------------------------

std::string MemoField::AsString() const {
  if (!DataSet() || !DataSet()->Active()) return std::string();
  std::unique_ptr<Stream> s =
      DataSet()->CreateBlobStream(const_cast<MemoField*>(this), BlobMode::Read);
  return s ? s->ReadAll() : std::string();
}

void MemoField::SetAsString(const std::string& text) {
  CheckWritable();
  std::unique_ptr<Stream> s = DataSet()->CreateBlobStream(this, BlobMode::Write);
  if (s && !text.empty()) s->Write(text.data(), static_cast<std::int64_t>(text.size()));
}

std::unique_ptr<Field> MakeField(const FieldDef& def) {
  std::unique_ptr<Field> f;
  switch (def.DataType) {
    case FieldType::String: f = std::make_unique<StringField>(def.Name, def.Size); break;
    case FieldType::Integer: f = std::make_unique<IntegerField>(def.Name); break;
    case FieldType::Float: f = std::make_unique<FloatField>(def.Name); break;
    case FieldType::Boolean: f = std::make_unique<BooleanField>(def.Name); break;
    case FieldType::Date: f = std::make_unique<DateField>(def.Name); break;
    case FieldType::Memo: f = std::make_unique<MemoField>(def.Name); break;
    default: return nullptr;
  }
  f->SetFieldNo(def.FieldNo);
  return f;
}

}  // namespace vz::data
