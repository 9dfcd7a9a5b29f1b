#include "table/TableDataSet.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"

namespace vz {

using data::DataSetState;
using data::FieldType;
using data::GetMode;
using data::GetResult;

namespace {

// The engine opens no table with field types other than these.
std::size_t BufferBytes(const FieldDesc& f) {
  switch (f.Type) {
    case 'C': return static_cast<std::size_t>(f.Len) + 1;
    case 'D': return 8;
    case 'N':
    case 'F': return f.Dec > 0 ? 8 : 4;
    case 'L': return 2;
    case 'M': return 4;
    default: return 0;
  }
}

// The stored form (YYYYMMDD) of a framework date (days since 30 December
// 1899, the time of day left out); empty for a day outside the years 1 to
// 9999.
std::string StoredOfDays(double days) {
  constexpr double kFirst = 1721426 - data::kJulianOfDayZero;  // 1 January 1
  constexpr double kLast = 5373484 - data::kJulianOfDayZero;   // 31 December 9999
  const double day = std::floor(days);
  if (!(day >= kFirst && day <= kLast)) return std::string();
  int y = 0, m = 0, d = 0;
  CalendarDate(static_cast<std::int64_t>(day) + data::kJulianOfDayZero, y, m, d);
  char stored[16];
  std::snprintf(stored, sizeof stored, "%04d%02d%02d", y, m, d);
  return stored;
}

}  // namespace

// --- The dataset ---------------------------------------------------------------------------

TableDataSet::TableDataSet() = default;

TableDataSet::~TableDataSet() {
  SetDestroying();
  try {
    SetActive(false);
  } catch (...) {
  }
}

void TableDataSet::SetDbfFileName(const std::string& text) {
  const bool wasActive = Active();
  if (!Loading) SetActive(false);
  std::string name = Trim(text);
  if (!name.empty() && name.back() != '.') {
    // Blanks before the dot go; a name with an extension stays as it is.
    const std::size_t start = platform::NameStart(name);
    if (name.find('.', start) == std::string::npos) name = TrimRight(name) + ".DBF";
  }
  dbfFileName_ = name;
  if (InMemoryOnly()) InMemoryNameChanged();
  if (!name.empty() && !Loading) SetActive(wasActive);
}

void TableDataSet::SelectWorkArea(const std::string& label) {
  if (workArea_ == 0) {
    const std::string message = "Database is not open [" + Name() + "." + label + "]";
    {
      ScopedErrorDispatch on(true);
      SetError(1103, message);
    }
    // Reached only when a handler took the error: the work ends anyway.
    Halt(1103, ErrorText(1103) + "\r\n" + message);
  }
  if (Engine().Areas.Current != workArea_) Select(workArea_);
  Engine().Settings.HideDeleted = HideDeletedRecs;
  Engine().Settings.AnsiTables = TableLanguage == TableCharset::tlAnsi;
}

bool TableDataSet::OpenTable(const std::string& name) {
  fieldProps_.reset();
  const int previous = Engine().Areas.Current;
  {
    ScopedErrorDispatch quiet(false);
    Select(workArea_);
    if (Engine().Errors.ErrorCode != 0) {
      // The open fails for the engine's reason (no free work area), which
      // going back to the previous area must not clear.
      const std::uint16_t code = Engine().Errors.ErrorCode;
      const std::uint16_t messageCode = Engine().Errors.MessageCode;
      const std::string detail = Engine().Errors.ErrorDetail;
      Select(previous);
      Engine().Errors.ErrorCode = code;
      Engine().Errors.MessageCode = messageCode;
      Engine().Errors.ErrorDetail = detail;
      return false;
    }
  }
  Engine().Settings.AnsiTables = TableLanguage == TableCharset::tlAnsi;
  const bool ok = OpenFileStep(name);
  if (ok) {
    workArea_ = Engine().Areas.Current;
    fieldProps_ = std::make_unique<vz::FieldProps>(workArea_);
  }
  return ok;
}

void TableDataSet::InternalOpen() {
  if (dbfFileName_.empty()) {
    cursorOpen_ = false;
    SetError(1103, "DBF file name has not been specified for " + Name());
  } else {
    cursorOpen_ = OpenTable(dbfFileName_);
  }
  if (Engine().Errors.ErrorCode != 0) throw EngineError(ErrorMessage());
  if (!cursorOpen_) throw data::DatabaseError(Name() + ": the table did not open");
  InternalInitFieldDefs();
  if (Fields().empty() || DefaultFields()) CreateDefaultFields();
  // Display set-up: date masks, float precisions.
  const std::string& shortFormat = Engine().Dates.ShortDateFormat;
  data::SetShortDatePattern(shortFormat);
  data::SetTwoDigitYearBase(Engine().Dates.WindowBase);
  const std::string year = Engine().Dates.Century ? "9999" : "99";
  for (auto& f : Fields()) {
    if (f->DataType() == FieldType::Date && f->EditMask().empty()) {
      if (!shortFormat.empty() && (shortFormat[0] == 'Y' || shortFormat[0] == 'y'))
        f->SetEditMask(year + "/99/99;1; ");
      else
        f->SetEditMask("99/99/" + year + ";1; ");
    }
    if (auto* fl = dynamic_cast<data::FloatField*>(f.get())) {
      const int n = fl->FieldNo();
      fl->SetPrecision(n >= 1 && fieldProps_ && n <= fieldProps_->Count() ? fieldProps_->Length(n)
                                                                          : fl->DisplayWidth());
    }
  }
}

void TableDataSet::InternalInitFieldDefs() {
  auto& defs = MutableFieldDefs();
  defs.clear();
  fieldOffsets_.clear();
  const vz::WorkArea* a = Engine().Areas.Slot[static_cast<std::size_t>(workArea_)].get();
  std::size_t offset = 1;
  int n = 0;
  for (const FieldDesc& f : a->Fields) {
    data::FieldDef d;
    d.Name = f.Name;
    d.FieldNo = ++n;
    switch (f.Type) {
      case 'C': d.DataType = FieldType::String, d.Size = f.Len; break;
      case 'D': d.DataType = FieldType::Date; break;
      case 'N':
      case 'F': d.DataType = f.Dec > 0 ? FieldType::Float : FieldType::Integer; break;
      case 'L': d.DataType = FieldType::Boolean; break;
      case 'M': d.DataType = FieldType::Memo; break;
    }
    defs.push_back(d);
    fieldOffsets_.push_back(offset);
    offset += BufferBytes(f);
  }
  recordDataSize_ = offset;
}

std::unique_ptr<data::Field> TableDataSet::CreateField(const data::FieldDef& def) {
  if (def.DataType != FieldType::Date) return DataSet::CreateField(def);
  auto f = std::make_unique<TableDateField>(def.Name);
  f->SetFieldNo(def.FieldNo);
  return f;
}

void TableDataSet::InternalClose() {
  if (workArea_ != 0) {
    SelectWorkArea("CloseCursor");
    BeforeTableClose();
    USE("");
    workArea_ = 0;
  }
  cursorOpen_ = false;
}

// --- Buffers ---------------------------------------------------------------------------------

std::size_t TableDataSet::RecordBufferSize() {
  return recordDataSize_ + CalcFieldsSize() + 9;
}

data::Bookmark TableDataSet::GetBookmarkData(const std::uint8_t* buffer) {
  return data::Bookmark(buffer + BookmarkOffset(), buffer + BookmarkOffset() + 4);
}

void TableDataSet::SetBookmarkData(std::uint8_t* buffer, const data::Bookmark& b) {
  std::memset(buffer + BookmarkOffset(), 0, 4);
  std::memcpy(buffer + BookmarkOffset(), b.data(), std::min<std::size_t>(4, b.size()));
}

data::BookmarkFlag TableDataSet::GetBookmarkFlag(const std::uint8_t* buffer) {
  return static_cast<data::BookmarkFlag>(buffer[FlagOffset()]);
}

void TableDataSet::SetBookmarkFlag(std::uint8_t* buffer, data::BookmarkFlag f) {
  buffer[FlagOffset()] = static_cast<std::uint8_t>(f);
}

void TableDataSet::CopyIn(std::uint8_t* buffer) {
  vz::WorkArea* a = Engine().Areas.Slot[static_cast<std::size_t>(workArea_)].get();
  const std::uint8_t* native = NativeRecord(*a);
  buffer[0] = native[0] ? 1 : 0;
  for (std::size_t i = 0; i < a->Fields.size(); ++i) {
    const FieldDesc& f = a->Fields[i];
    const std::uint8_t* slot = native + f.NativeOffset;
    std::uint8_t* out = buffer + fieldOffsets_[i];
    switch (f.Type) {
      case 'C': std::memcpy(out, slot, static_cast<std::size_t>(f.Len) + 1); break;
      case 'D': {
        const std::string text(reinterpret_cast<const char*>(slot) + 1,
                               std::min<std::size_t>(slot[0], 10));
        double v = DateValueOfText(text);
        // Without the century the shown text names the year by two digits
        // only; when the record's stored date is what the text shows, the
        // stored date gives the year (1900 is not 2000, and 29 February 2000
        // stays a date when the window reads 00 as 1900).
        if (f.Len >= 8 && a->RawRec.size() >= f.Offset + 8u) {
          const char* stored = reinterpret_cast<const char*>(a->RawRec.data()) + f.Offset;
          const std::int64_t j = JulianOfStored(std::string_view(stored, 8));
          if (j != 0 && StoredToDisplay(stored) == TrimRight(text))
            v = static_cast<double>(j - data::kJulianOfDayZero);
        }
        std::memcpy(out, &v, 8);
        break;
      }
      case 'N':
      case 'F':
        if (f.Dec > 0) {
          // Exactly the field's decimals.
          char text[400];
          std::snprintf(text, sizeof text, "%.*f", static_cast<int>(f.Dec), Real48ToDouble(slot));
          const double v = std::strtod(text, nullptr);
          std::memcpy(out, &v, 8);
        } else {
          std::memcpy(out, slot, 4);
        }
        break;
      case 'M': std::memcpy(out, slot, 4); break;
      case 'L':
        out[0] = slot[0];
        out[1] = 0;
        break;
    }
  }
}

void TableDataSet::CopyOut(int field) {
  vz::WorkArea* a = Engine().Areas.Slot[static_cast<std::size_t>(workArea_)].get();
  const std::uint8_t* buffer = ActiveBuffer();
  if (!a || !buffer) return;
  std::uint8_t* native = NativeRecord(*a);
  native[0] = buffer[0];
  for (std::size_t i = 0; i < a->Fields.size(); ++i) {
    if (field != 0 && static_cast<int>(i) + 1 != field) continue;
    const FieldDesc& f = a->Fields[i];
    std::uint8_t* slot = native + f.NativeOffset;
    const std::uint8_t* in = buffer + fieldOffsets_[i];
    switch (f.Type) {
      case 'C':
        slot[0] = std::min<std::uint8_t>(in[0], f.Len);
        std::memcpy(slot + 1, in + 1, f.Len);
        break;
      case 'D': {
        double v;
        std::memcpy(&v, in, 8);
        // The slot takes the date in the engine's format, so that writing the
        // record stores this very day: without the century a year keeps its
        // four digits where the two-digit window would misread it, or where
        // the record's present date shows the same two digits (writing keeps
        // a date whose text is unchanged).
        std::string checked;
        if (v == 0) {
          checked = BlankDate();
        } else if (const std::string stored = StoredOfDays(v); !stored.empty()) {
          const bool present = f.Len >= 8 && a->RawRec.size() >= f.Offset + 8u;
          checked = StoredToDisplayKeepingCentury(
              stored.c_str(),
              present ? reinterpret_cast<const char*>(a->RawRec.data()) + f.Offset : nullptr);
        }
        if (checked.empty()) {
          platform::ShowMessage("        Invalid date       ");
          checked = BlankDate();
        }
        slot[0] = static_cast<std::uint8_t>(checked.size());
        std::memset(slot + 1, ' ', 10);
        std::memcpy(slot + 1, checked.data(), std::min<std::size_t>(checked.size(), 10));
        break;
      }
      case 'N':
      case 'F':
        if (f.Dec > 0) {
          double v;
          std::memcpy(&v, in, 8);
          DoubleToReal48(v, slot);
        } else {
          std::memcpy(slot, in, 4);
        }
        break;
      case 'M': std::memcpy(slot, in, 4); break;
      case 'L': slot[0] = in[0]; break;
    }
  }
}

bool TableDataSet::GetFieldData(const data::Field* field, void* dest) {
  const std::uint8_t* source = CalcFieldsRunning() ? CalcBuffer() : ActiveBuffer();
  if (!source || !field) return false;
  if (field->Calculated()) {
    const std::uint8_t* at = source + recordDataSize_ + field->Offset();
    const bool present = at[0] != 1;
    if (present && dest) std::memcpy(dest, at + 1, field->DataSize());
    return present;
  }
  const int n = field->FieldNo();
  if (n < 1 || static_cast<std::size_t>(n) > fieldOffsets_.size()) return false;
  const std::uint8_t* at = source + fieldOffsets_[static_cast<std::size_t>(n - 1)];
  if (field->DataType() == FieldType::Date) {
    double v;
    std::memcpy(&v, at, 8);
    if (v == 0) return false;
    if (dest) {
      const data::DayNumber d = static_cast<data::DayNumber>(std::floor(v));
      std::memcpy(dest, &d, 4);
    }
    return true;
  }
  if (!dest) return true;
  std::memset(dest, 0, field->DataSize());
  if (field->DataType() == FieldType::String) {
    std::size_t len = std::min<std::size_t>(at[0], static_cast<std::size_t>(field->Size()));
    while (len > 0 && at[len] == ' ') --len;
    std::memcpy(dest, at + 1, len);
    return true;
  }
  std::memcpy(dest, at, field->DataSize());
  return true;
}

void TableDataSet::SetFieldData(data::Field* field, const void* value) {
  std::uint8_t* target = CalcFieldsRunning() ? CalcBuffer() : ActiveBuffer();
  if (!target || !field) return;
  if (field->Calculated()) {
    std::uint8_t* at = target + recordDataSize_ + field->Offset();
    at[0] = value ? 0 : 1;
    if (value) std::memcpy(at + 1, value, field->DataSize());
  } else {
    if (CalcFieldsRunning()) throw data::DatabaseError("Dataset not in edit or insert mode");
    const int n = field->FieldNo();
    if (n < 1 || static_cast<std::size_t>(n) > fieldOffsets_.size()) return;
    std::uint8_t* at = target + fieldOffsets_[static_cast<std::size_t>(n - 1)];
    const FieldDesc& f =
        Engine().Areas.Slot[static_cast<std::size_t>(workArea_)]->Fields[static_cast<std::size_t>(
            n - 1)];
    if (!value) {
      std::memset(at, 0, BufferBytes(f));
    } else if (field->DataType() == FieldType::String) {
      // A text longer than the field is cut to its length.
      const char* text = static_cast<const char*>(value);
      std::size_t len = strnlen(text, 255);
      len = std::min<std::size_t>(len, f.Len);
      at[0] = static_cast<std::uint8_t>(len);
      std::memset(at + 1, ' ', f.Len);
      std::memcpy(at + 1, text, len);
    } else if (field->DataType() == FieldType::Date) {
      data::DayNumber d;
      std::memcpy(&d, value, 4);
      const double v = d;
      std::memcpy(at, &v, 8);
    } else {
      std::memcpy(at, value, std::min(field->DataSize(), BufferBytes(f)));
    }
    SelectWorkArea("SetFieldData");
    CopyOut(n);
  }
  if (!CalcFieldsRunning()) DataChanged(field);
}

char TableDataSet::FieldTypeLetter(const data::Field* field, char fallback) const {
  if (!field || !fieldProps_) return fallback;
  const int n = fieldProps_->Number(field->FieldName());
  return n == 0 ? fallback : fieldProps_->Type(n);
}

void TableDataSet::ActivateRow() {
  if (!Active() || workArea_ == 0) return;
  SelectWorkArea("ActivateRow");
  CopyOut(0);
}

// --- Writing -------------------------------------------------------------------------------

void TableDataSet::InternalPost() {
  if (State() == DataSetState::Edit) {
    if (!ReplaceWithLock()) throw AbortError();
    KeepWhileAfterPost();
  } else if (State() == DataSetState::Insert) {
    ActiveBuffer()[0] = 0;
    SelectWorkArea("InternalPost");
    CopyOut(0);
    if (!AppendWithLock()) throw AbortError();
    KeepWhileAfterInsert();
  }
}

void TableDataSet::InternalDelete() {
  if (!DeleteWithLock()) throw AbortError();
}

bool TableDataSet::RecordDeleted() {
  const std::uint8_t* b = ActiveBuffer();
  return b && WindowRecordCount() > 0 && b[0] != 0;
}

void TableDataSet::SetRecordDeleted(bool on) {
  if (on == RecordDeleted()) return;
  if (on) {
    if (WindowRecordCount() > 0) Delete();
    return;
  }
  NotifyLinks(data::DataEvent::CheckBrowseMode);
  DoBeforeRestore();
  UpdateCursorPos();
  if (RestoreWithLock()) {
    if (State() != DataSetState::Browse) SetState(DataSetState::Browse);
    CursorPosChanged();
    UpdateCursorPos();
    Resync(true);
    DoAfterRestore();
  }
}

}  // namespace vz
