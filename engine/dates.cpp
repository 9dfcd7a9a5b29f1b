#include "engine/dates.h"

#include <array>
#include <cstring>

#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "platform/codepage.h"

namespace vz {

namespace {

int Clamp(int code) {
  return code < 0 || code > 8 ? 0 : code;
}

char SeparatorOf(int code) {
  switch (Clamp(code)) {
    case kAmerican:
    case kBritish: return '/';
    case kItalian: return '-';
    default: return '.';
  }
}

std::string ShortFormatOf(int code, bool century) {
  const std::string y = century ? "yyyy" : "yy";
  switch (Clamp(code)) {
    case kAmerican: return "MM/dd/" + y;
    case kAnsi: return y + ".MM.dd";
    case kBritish: return "dd/MM/" + y;
    case kItalian: return "dd-MM-" + y;
    default: return "dd.MM." + y;
  }
}

struct Language {
  int oemPage;
  int dayWidth;
  int monthWidth;
  std::array<const char*, 7> days;
  std::array<const char*, 12> months;
};

const Language kEnglish{
    437,
    9,
    9,
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December"}};
const Language kItalianNames{
    437,
    9,
    9,
    {"Domenica", "Lunedì", "Martedì", "Mercoledì", "Giovedì", "Venerdì", "Sabato"},
    {"Gennaio", "Febbraio", "Marzo", "Aprile", "Maggio", "Giugno", "Luglio", "Agosto", "Settembre",
     "Ottobre", "Novembre", "Dicembre"}};
const Language kFrenchNames{
    437,
    8,
    9,
    {"Dimanche", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi"},
    {"Janvier", "Février", "Mars", "Avril", "Mai", "Juin", "Juillet", "Août", "Septembre",
     "Octobre", "Novembre", "Décembre"}};
const Language kGermanNames{
    437,
    10,
    9,
    {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
    {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August", "September", "Oktober",
     "November", "Dezember"}};
const Language kSpanishNames{
    437,
    9,
    10,
    {"Domingo", "Lunes", "Martes", "Miércoles", "Jueves", "Viernes", "Sábado"},
    {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre",
     "Octubre", "Noviembre", "Diciembre"}};
const Language kRussianNames{
    866,
    11,
    8,
    {"Воскресенье", "Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота"},
    {"Январь", "Февраль", "Март", "Апрель", "Май", "Июнь", "Июль", "Август", "Сентябрь", "Октябрь",
     "Ноябрь", "Декабрь"}};

const Language& LanguageOf(int code) {
  switch (code) {
    case kItalian: return kItalianNames;
    case kFrench:
    case kFrenchCa: return kFrenchNames;
    case kGerman: return kGermanNames;
    case kSpanish: return kSpanishNames;
    case kRussian: return kRussianNames;
    default: return kEnglish;
  }
}

std::string Padded(const char* utf8, int page, int width) {
  std::string s = platform::Utf8ToCodePage(utf8, page);
  if (static_cast<int>(s.size()) < width) s.append(width - s.size(), ' ');
  return s.substr(0, width);
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int ToInt(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

std::string TwoDigits(int v) {
  std::string s = std::to_string(v % 100);
  return s.size() < 2 ? "0" + s : s;
}

std::string FourDigits(int v) {
  std::string s = std::to_string(v);
  while (s.size() < 4) s = "0" + s;
  return s;
}

// The three parts of a date text in day, month, year order of a format.
void OrderParts(int code, const std::string& a, const std::string& b, const std::string& c,
                std::string& mm, std::string& dd, std::string& yy) {
  switch (Clamp(code)) {
    case kAmerican: mm = a, dd = b, yy = c; break;
    case kAnsi: yy = a, mm = b, dd = c; break;
    default: dd = a, mm = b, yy = c; break;
  }
}

std::string Compose(int code, const std::string& mm, const std::string& dd,
                    const std::string& year) {
  const char s = SeparatorOf(code);
  switch (Clamp(code)) {
    case kAmerican: return mm + s + dd + s + year;
    case kAnsi: return year + s + mm + s + dd;
    default: return dd + s + mm + s + year;
  }
}

// The date check proper: trims, cuts to 10 characters, takes the three
// parts in the order of the current format and checks the date. `blank` is
// set for an empty text or the blank picture.
bool ParseDate(std::string_view text, int& year, int& month, int& day, bool& blank) {
  blank = false;
  std::string t = Trim(text);
  if (t.size() > 10) t.resize(10);
  const std::string blank2 = BlankDate(Engine().Dates.DateFormat, false);
  const std::string blank4 = BlankDate(Engine().Dates.DateFormat, true);
  if (t.empty() || t == Trim(blank2) || t == Trim(blank4)) {
    blank = true;
    return true;
  }
  // Split into three parts at "/", "-" or ".".
  std::string parts[3];
  int k = 0;
  for (char c : t) {
    if (c == '/' || c == '-' || c == '.') {
      if (++k > 2) return false;
    } else {
      parts[k] += c;
    }
  }
  if (k != 2) return false;
  std::string mm, dd, yy;
  OrderParts(Engine().Dates.DateFormat, parts[0], parts[1], parts[2], mm, dd, yy);
  if (mm.size() == 1) mm = "0" + mm;
  if (dd.size() == 1) dd = "0" + dd;
  if (yy.size() == 1) yy = "0" + yy;
  // Month/day/year with "/" in positions 3 and 6, 8 or 10 characters.
  const std::string mdy = mm + "/" + dd + "/" + yy;
  if ((mdy.size() != 8 && mdy.size() != 10) || mdy[2] != '/' || mdy[5] != '/') return false;
  if (!AllDigits(mm) || !AllDigits(dd) || !AllDigits(yy)) return false;
  month = ToInt(mm);
  day = ToInt(dd);
  year = ToInt(yy);
  if (yy.size() == 2) year = YearOfTwoDigits(year);
  return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

}  // namespace

void SetDateFormat(int code) {
  code = Clamp(code);
  Engine().Dates.DateFormat = code;
  if (code >= kItalian && code <= kSpanish) {
    Engine().Dates.DecimalSeparator = ',';
    Engine().Dates.ThousandSeparator = '.';
  } else {
    Engine().Dates.DecimalSeparator = '.';
    Engine().Dates.ThousandSeparator = code == kRussian ? ' ' : ',';
  }
  Engine().Dates.ShortDateFormat = ShortFormatOf(code, Engine().Dates.Century);
  Engine().Dates.DateSeparator = SeparatorOf(code);
}

void SetCentury(bool on) {
  Engine().Dates.Century = on;
  Engine().Dates.ShortDateFormat = ShortFormatOf(Engine().Dates.DateFormat, on);
}

int DateFormatForLanguage(const platform::UserLanguage& language) {
  const std::string& l = language.language;
  if (l == "de") return kGerman;
  if (l == "en")
    return language.territory.empty() || language.territory == "US" ? kAmerican : kBritish;
  if (l == "es") return kSpanish;
  if (l == "fr") return language.territory == "CA" ? kFrenchCa : kFrench;
  if (l == "it") return kItalian;
  if (l == "ru") return kRussian;
  return kAmerican;
}

void InitDateSettings() {
  Engine().Dates = DateSettings{};
  Engine().Dates.WindowBase = platform::Today().year - 70;
  SetDateFormat(DateFormatForLanguage(platform::DefaultUserLanguage()));
}

std::string DatePicture(int code, bool century) {
  return Compose(code, "MM", "DD", century ? "YYYY" : "YY");
}

std::string BlankDate() {
  const DateSettings& d = Engine().Dates;
  return BlankDate(d.DateFormat, d.Century);
}

std::string BlankDate(int code, bool century) {
  return Compose(code, "  ", "  ", century ? "    " : "  ");
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int YearOfTwoDigits(int yy) {
  return YearOfTwoDigits(yy, Engine().Dates.WindowBase);
}

int YearOfTwoDigits(int yy, int windowBase) {
  const int century = (windowBase / 100) * 100;
  return yy < windowBase % 100 ? century + 100 + yy : century + yy;
}

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

std::string StoredToDisplay(const char* stored8) {
  if (std::memcmp(stored8, "        ", 8) == 0) return BlankDate();
  const std::string yyyy(stored8, 4), mm(stored8 + 4, 2), dd(stored8 + 6, 2);
  const std::string year = Engine().Dates.Century ? yyyy : yyyy.substr(2);
  return Compose(Engine().Dates.DateFormat, mm, dd, year);
}

bool DisplayToStored(std::string_view display, std::string& stored8) {
  // Read the date from the text itself: DateCheck's result shows the year
  // by the century setting and would lose the century of a four-digit year.
  int year = 0, month = 0, day = 0;
  bool blank = false;
  if (!ParseDate(display, year, month, day, blank)) return false;
  if (blank) {
    stored8.assign(8, ' ');
    return true;
  }
  stored8 = FourDigits(year) + TwoDigits(month) + TwoDigits(day);
  return true;
}

bool SearchDateToStored(std::string_view text, std::string& stored8) {
  if (text.size() == 8 && AllDigits(text)) {
    stored8.assign(text);
    return true;
  }
  return DisplayToStored(text, stored8);
}

std::string StoredToDisplayKeepingCentury(const char* stored8, const char* unlike8) {
  const std::string shown = StoredToDisplay(stored8);
  if (Engine().Dates.Century || !AllDigits(std::string_view(stored8, 4))) return shown;
  std::string back;
  const bool readsBack = DisplayToStored(shown, back) && back.compare(0, 8, stored8, 8) == 0;
  const bool mistakable =
      unlike8 && std::memcmp(unlike8, stored8, 8) != 0 && StoredToDisplay(unlike8) == shown;
  if (readsBack && !mistakable) return shown;
  const std::string yyyy(stored8, 4), mm(stored8 + 4, 2), dd(stored8 + 6, 2);
  return Compose(Engine().Dates.DateFormat, mm, dd, yyyy);
}

bool DateCheck(std::string_view text, std::string& out) {
  int year = 0, month = 0, day = 0;
  bool blank = false;
  if (!ParseDate(text, year, month, day, blank)) return false;
  if (blank) {
    out = BlankDate();
    return true;
  }
  const std::string shownYear = Engine().Dates.Century ? FourDigits(year) : TwoDigits(year);
  out = Compose(Engine().Dates.DateFormat, TwoDigits(month), TwoDigits(day), shownYear);
  return true;
}

std::int64_t JulianDay(int year, int month, int day) {
  // Proleptic Gregorian calendar, days counted from 24 November 4714 BC.
  const std::int64_t a = (14 - month) / 12;
  const std::int64_t y = static_cast<std::int64_t>(year) + 4800 - a;
  const std::int64_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CalendarDate(std::int64_t julian, int& year, int& month, int& day) {
  const std::int64_t a = julian + 32044;
  const std::int64_t b = (4 * a + 3) / 146097;
  const std::int64_t c = a - 146097 * b / 4;
  const std::int64_t d = (4 * c + 3) / 1461;
  const std::int64_t e = c - 1461 * d / 4;
  const std::int64_t m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

int DayOfWeek(std::int64_t julian) {
  return static_cast<int>(((julian + 1) % 7 + 7) % 7);
}

std::int64_t JulianOfStored(std::string_view stored8) {
  if (stored8.size() < 8 || !AllDigits(stored8.substr(0, 8))) return 0;
  const int year = ToInt(stored8.substr(0, 4));
  const int month = ToInt(stored8.substr(4, 2));
  const int day = ToInt(stored8.substr(6, 2));
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return 0;
  return JulianDay(year, month, day);
}

std::string DayName(int weekday, int code) {
  const Language& l = LanguageOf(code);
  if (weekday < 0 || weekday > 6) return std::string(l.dayWidth, ' ');
  return Padded(l.days[weekday], l.oemPage, l.dayWidth);
}

std::string MonthName(int month, int code) {
  const Language& l = LanguageOf(code);
  if (month < 1 || month > 12) return std::string(l.monthWidth, ' ');
  return Padded(l.months[month - 1], l.oemPage, l.monthWidth);
}

namespace {

std::string AnsiPadded(const char* utf8, int width) {
  std::string s = platform::Utf8ToAnsi(utf8);
  if (static_cast<int>(s.size()) < width) s.append(width - s.size(), ' ');
  return s.substr(0, width);
}

}  // namespace

std::string DayNameAnsi(int weekday, int code) {
  const Language& l = LanguageOf(code);
  if (weekday < 0 || weekday > 6) return std::string(l.dayWidth, ' ');
  return AnsiPadded(l.days[weekday], l.dayWidth);
}

std::string MonthNameAnsi(int month, int code) {
  const Language& l = LanguageOf(code);
  if (month < 1 || month > 12) return std::string(l.monthWidth, ' ');
  return AnsiPadded(l.months[month - 1], l.monthWidth);
}

int DayNameWidth(int code) {
  return LanguageOf(code).dayWidth;
}
int MonthNameWidth(int code) {
  return LanguageOf(code).monthWidth;
}

std::string DayName(int weekday) {
  return DayName(weekday, Engine().Dates.DateFormat);
}
std::string MonthName(int month) {
  return MonthName(month, Engine().Dates.DateFormat);
}
int DayNameWidth() {
  return DayNameWidth(Engine().Dates.DateFormat);
}
std::string DayNameAnsi(int weekday) {
  return DayNameAnsi(weekday, Engine().Dates.DateFormat);
}
std::string MonthNameAnsi(int month) {
  return MonthNameAnsi(month, Engine().Dates.DateFormat);
}
int MonthNameWidth() {
  return MonthNameWidth(Engine().Dates.DateFormat);
}

}  // namespace vz
