// The function table of the key-expression language: what each function
// does with its arguments (the types they take are in expr_grammar), and
// the date and number texts the functions share.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/expr_code.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace vz {

using namespace expr;

namespace {

// The latest date the language knows (31 December 9999).
constexpr double kLastJulian = 5373484;
constexpr double kFirstJulian = 1721426;

// The empty date, and a date that is no number at all (what an overflowing
// computation such as 0 * 10 ^ 999 leaves), have no parts.
bool NoDate(double julian) {
  return julian == 0 || std::isnan(julian);
}

// Date parts of a Julian day number (clamped to the years 1 to 9999).
void DateParts(double julian, int& y, int& m, int& d) {
  double j = std::floor(julian);
  if (j > kLastJulian) j = kLastJulian;
  if (!(j >= kFirstJulian)) j = kFirstJulian;  // NaN too
  CalendarDate(static_cast<std::int64_t>(j), y, m, d);
}

// A number argument as an int inside [lo, hi]; NaN counts as lo.
int ClampedInt(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return static_cast<int>(v);
}

std::string Digits(int v, int width) {
  std::string s = std::to_string(v < 0 ? 0 : v);
  while (static_cast<int>(s.size()) < width) s = "0" + s;
  return s.substr(s.size() - width);
}

// DTOC: the date in the engine's date format.
std::string DateText(double julian) {
  const int code = Engine().Dates.DateFormat;
  const bool century = Engine().Dates.Century;
  const int yw = century ? 4 : 2;
  char sep = '/';
  int order = 0;  // 0 MDY, 1 YMD, 2 DMY
  switch (code) {
    case 0: order = 0, sep = '/'; break;
    case 1: order = 1, sep = '.'; break;
    case 2:
    case 8: order = 2, sep = '/'; break;
    case 3: order = 2, sep = '-'; break;
    default: order = 2, sep = '.'; break;
  }
  std::string yy, mm, dd;
  if (NoDate(julian)) {
    yy.assign(yw, ' '), mm.assign(2, ' '), dd.assign(2, ' ');
  } else {
    int y, m, d;
    DateParts(julian, y, m, d);
    yy = Digits(y, yw), mm = Digits(m, 2), dd = Digits(d, 2);
  }
  switch (order) {
    case 0: return mm + sep + dd + sep + yy;
    case 1: return yy + sep + mm + sep + dd;
    default: return dd + sep + mm + sep + yy;
  }
}

std::string StrOf(double v, int width, int decimals) {
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  if (decimals < 0) decimals = 0;
  if (decimals > 15) decimals = 15;
  char buf[400];
  if (!std::isfinite(v)) v = 0;
  // Halves round away from zero, on the value corrected to 12 significant
  // digits (2.5 gives 3, 0.125 with two decimals 0.13), as people expect.
  const double scale = std::pow(10.0, decimals);
  if (std::fabs(v) * scale < 1e15) {
    std::snprintf(buf, sizeof buf, "%.12g", v * scale);
    const double rounded = std::round(std::strtod(buf, nullptr));
    v = rounded == 0 ? 0.0 : rounded / scale;
  }
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (static_cast<int>(s.size()) > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

// ROUND(x, n) cuts x to n decimals towards zero (no rounding of halves):
// ROUND(2.567, 2) is 2.56. A negative n cuts whole digits before the point
// instead, working on tens, hundreds, ...: ROUND(123.456, -1) is 120,
// ROUND(1234.5, -2) is 1200, ROUND(50, -2) is 0 and ROUND(150, -2) is 100.
// A fractional n counts as its whole part. The correction below works on
// 12 significant digits, so a number with more digits than that loses the
// ones past the twelfth.
double TruncatedRound(double x, double n) {
  // The value corrected to 12 significant digits, so that the binary error
  // of a decimal fraction does not cost a digit, then cut to n decimals.
  auto correct = [](double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.12g", v);
    return std::strtod(buf, nullptr);
  };
  const int places = std::isnan(n) ? 0 : ClampedInt(n, -300, 300);
  if (places < 0) {
    // x / 10^-n corrected, cut to a whole number, then scaled back.
    const double unit = std::pow(10.0, -places);
    return correct(std::trunc(correct(x / unit)) * unit);
  }
  const double ip = std::trunc(x);
  const double scaled = correct((x - ip) * std::pow(10.0, places));
  const double r = ip + std::trunc(scaled) * std::pow(0.1, places);
  return correct(r);
}

}  // namespace

std::string DateToStored(double julian) {
  if (NoDate(julian)) return std::string(8, ' ');
  int y, m, d;
  DateParts(julian, y, m, d);
  return Digits(y, 4) + Digits(m, 2) + Digits(d, 2);
}

std::string Soundex(std::string_view text) {
  static const char kCodes[] = "01230120022455012623010202";
  std::string out;
  char previous = 0;
  for (char raw : text) {
    const auto c = platform::AnsiUpperByte(static_cast<std::uint8_t>(raw));
    const bool letter = c >= 'A' && c <= 'Z';
    const char digit = letter ? kCodes[c - 'A'] : 0;
    if (out.empty()) {
      out += static_cast<char>(c);
      previous = digit;
      continue;
    }
    if (!letter) continue;
    if (digit == '0') {
      previous = '0';
      continue;
    }
    if (digit == previous) continue;
    out += digit;
    previous = digit;
    if (out.size() == 4) break;
  }
  while (out.size() < 4) out += '0';
  return out;
}

namespace {

// A count from a number argument: truncated, and kept inside what a text can
// hold (negative counts count as 0).
std::size_t Count(double v) {
  if (!(v > 0)) return 0;
  if (v > 1e9) return static_cast<std::size_t>(1e9);
  return static_cast<std::size_t>(v);
}

}  // namespace

void CompiledExpr::RunFunction(const ExprInstr& in) {
  const int token = in.op - kOpFunction;
  switch (token) {
    case kAbs: {
      const Slot x = PopSlot();
      PushValue(kTypeN, std::fabs(x.number));
      break;
    }
    case kInt: {
      const Slot x = PopSlot();
      PushValue(kTypeN, std::trunc(x.number));
      break;
    }
    case kAsc: {
      const Slot x = PopSlot();
      const std::string_view t = TextOf(x);
      PushValue(kTypeN, t.empty() ? 0 : static_cast<unsigned char>(t[0]));
      break;
    }
    case kLen: {
      const Slot x = PopSlot();
      PushValue(kTypeN, x.length);
      break;
    }
    case kVal: {
      const Slot x = PopSlot();
      std::string_view t = TrimView(TextOf(x));
      if (!t.empty() && t[0] == '+') t.remove_prefix(1);
      double d = 0;
      // The longest leading number; a text that is not a number gives 0.
      const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
      PushValue(kTypeN, r.ec == std::errc() && std::isfinite(d) ? d : 0);
      break;
    }
    case kAt: {
      const Slot b = PopSlot(), a = PopSlot();
      const std::string_view needle = TextOf(a), hay = TextOf(b);
      const std::size_t p = needle.empty() ? std::string_view::npos : hay.find(needle);
      PushValue(kTypeN, p == std::string_view::npos ? 0 : static_cast<double>(p + 1));
      break;
    }
    case kChr: {
      const Slot x = PopSlot();
      const double v = std::trunc(x.number);
      if (v >= 0 && v <= 255) {
        const char c = static_cast<char>(static_cast<int>(v));
        // A NUL ends a text: CHR(0) is the empty text.
        PushText(&c, c == '\0' ? 0 : 1);
      } else {
        PushText("", 0);
      }
      break;
    }
    case kUpper:
    case kLower: {
      const Slot x = PopSlot();
      std::uint32_t at;
      if (!Reserve(x.length, at)) break;
      for (std::uint32_t i = 0; i < x.length; ++i) {
        const auto c = static_cast<std::uint8_t>(pool_[at + i]);
        pool_[at + i] = static_cast<char>(token == kUpper ? platform::AnsiUpperByte(c)
                                                          : platform::AnsiLowerByte(c));
      }
      stack_.push_back(Slot{kTypeC, 0, at, x.length});
      break;
    }
    case kLtrim:
    case kRtrim:
    case kTrim: {
      const Slot x = PopSlot();
      std::string_view t = TextOf(x);
      if (token == kLtrim) {
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
      } else {
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      }
      PushText(t.data(), t.size());
      break;
    }
    case kLeft:
    case kRight: {
      const Slot n = PopSlot(), x = PopSlot();
      const std::string_view t = TextOf(x);
      const std::size_t k = std::min(Count(n.number), t.size());
      const std::string_view part = token == kLeft ? t.substr(0, k) : t.substr(t.size() - k);
      PushText(part.data(), part.size());
      break;
    }
    case kSubstr: {
      const Slot n = PopSlot(), s = PopSlot(), x = PopSlot();
      const std::string_view t = TextOf(x);
      // A start before the first character counts from the first; one past
      // the end gives the empty text.
      const std::size_t start = !(s.number >= 1) ? 0 : std::min(Count(s.number) - 1, t.size());
      const std::string_view part = t.substr(start, Count(n.number));
      PushText(part.data(), part.size());
      break;
    }
    case kStuff: {
      const Slot ins = PopSlot(), n = PopSlot(), s = PopSlot(), x = PopSlot();
      std::string t(TextOf(x));
      const std::string add(TextOf(ins));
      const std::size_t start = !(s.number >= 1) ? 0 : std::min(Count(s.number) - 1, t.size());
      const std::size_t cut = std::min(Count(n.number), t.size() - start);
      t.replace(start, cut, add);
      PushText(t.data(), t.size());
      break;
    }
    case kReplicate: {
      const Slot n = PopSlot(), x = PopSlot();
      const std::string unit(TextOf(x));
      const std::size_t times = Count(n.number);
      if (!unit.empty() && times > (pool_.size() - top_) / unit.size()) {
        Fail(354, "Working pool overflow [PARSER/Allocate]");
        break;
      }
      std::string t;
      if (!unit.empty()) {  // nothing to repeat: no time spent on a huge count
        t.reserve(unit.size() * times);
        for (std::size_t i = 0; i < times; ++i) t += unit;
      }
      PushText(t.data(), t.size());
      break;
    }
    case kSpace: {
      const Slot n = PopSlot();
      const std::size_t k = Count(n.number);
      if (k + 1 > pool_.size() - top_) {
        Fail(354, "Working pool overflow [PARSER/Allocate]");
        break;
      }
      const std::string t(k, ' ');
      PushText(t.data(), t.size());
      break;
    }
    case kStr: {
      double decimals = 0, width = 10;
      if (in.argc >= 3) decimals = PopSlot().number;
      if (in.argc >= 2) width = PopSlot().number;
      const Slot x = PopSlot();
      const std::string t =
          StrOf(x.number, ClampedInt(width, -1, 1000), ClampedInt(decimals, -1, 1000));
      PushText(t.data(), t.size());
      break;
    }
    case kRound: {
      const Slot n = PopSlot(), x = PopSlot();
      PushValue(kTypeN, TruncatedRound(x.number, n.number));
      break;
    }
    case kMod: {
      const Slot b = PopSlot(), a = PopSlot();
      const double ia = std::trunc(a.number), ib = std::trunc(b.number);
      // MOD by 0 gives the dividend.
      PushValue(kTypeN, ib == 0 ? ia : std::fmod(ia, ib));
      break;
    }
    case kMax:
    case kMin: {
      const Slot b = PopSlot(), a = PopSlot();
      PushValue(kTypeN,
                token == kMax ? std::max(a.number, b.number) : std::min(a.number, b.number));
      break;
    }
    case kSoundex: {
      const Slot x = PopSlot();
      const std::string code = Soundex(TextOf(x));
      PushText(code.data(), code.size());
      break;
    }
    case kIif: {
      const Slot c2 = PopSlot(), c1 = PopSlot(), l = PopSlot();
      const std::string t(l.number != 0 ? TextOf(c1) : TextOf(c2));
      PushText(t.data(), t.size());
      break;
    }
    case kDate: {
      const platform::LocalDate d = platform::Today();
      PushValue(kTypeD, static_cast<double>(JulianDay(d.year, d.month, d.day)));
      break;
    }
    case kCtod: {
      const Slot x = PopSlot();
      const std::string t(TextOf(x).substr(0, 10));
      std::string stored;
      double j = 0;
      if (DisplayToStored(t, stored)) j = static_cast<double>(JulianOfStored(stored));
      PushValue(kTypeD, j);
      break;
    }
    case kDtoc: {
      const Slot x = PopSlot();
      const std::string t = DateText(x.number);
      PushText(t.data(), t.size());
      break;
    }
    case kDtos: {
      const Slot x = PopSlot();
      const std::string t = DateToStored(x.number);
      PushText(t.data(), t.size());
      break;
    }
    case kDay:
    case kMonth:
    case kYear:
    case kDow: {
      const Slot x = PopSlot();
      double v = 0;
      if (!NoDate(x.number)) {
        int y, m, d;
        DateParts(x.number, y, m, d);
        if (token == kDay) v = d;
        if (token == kMonth) v = m;
        if (token == kYear) v = y;
        // Sunday is 1, as the engine's day names start with Sunday.
        if (token == kDow) v = DayOfWeek(JulianDay(y, m, d)) + 1;
      }
      PushValue(kTypeN, v);
      break;
    }
    case kCdow:
    case kCmonth: {
      const Slot x = PopSlot();
      std::string t;
      if (NoDate(x.number)) {
        t.assign(token == kCdow ? DayNameWidth() : MonthNameWidth(), ' ');
      } else {
        int y, m, d;
        DateParts(x.number, y, m, d);
        t = token == kCdow ? DayNameAnsi(DayOfWeek(JulianDay(y, m, d))) : MonthNameAnsi(m);
      }
      PushText(t.data(), t.size());
      break;
    }
    case kDeleted: {
      WorkArea* w =
          in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
      const bool del = w && !w->RawRec.empty() && !w->Eof && w->RecNo >= 1 &&
                       w->RecNo <= w->RecCount && w->RawRec[0] == '*';
      PushValue(kTypeL, del);
      break;
    }
    case kRecno: {
      WorkArea* w =
          in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
      PushValue(kTypeN, w ? static_cast<double>(w->RecNo) : 0);
      break;
    }
    default:
      Fail(356, "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/PushSD]");
      break;
  }
}

}  // namespace vz
