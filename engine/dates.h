// Dates: the date-format setting with its pictures and separators, the
// century switch, the two-digit-year window, the leap-year test, the date
// check, day and month names in six languages, and the conversions between
// the stored YYYYMMDD form, the displayed form and Julian day numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vz {

// Date-format codes.
enum DateFormatCode : int {
  kAmerican = 0,  // MM/DD/YY
  kAnsi = 1,      // YY.MM.DD
  kBritish = 2,   // DD/MM/YY
  kItalian = 3,   // DD-MM-YY
  kFrench = 4,    // DD.MM.YY
  kGerman = 5,    // DD.MM.YY
  kSpanish = 6,   // DD.MM.YY
  kFrenchCa = 7,  // DD.MM.YY
  kRussian = 8,   // DD.MM.YY
};

struct DateSettings {
  int DateFormat = kAmerican;
  bool Century = false;
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  int WindowBase = 1956;  // current year - 70, set at start-up
  // The runtime's short date format ("MM/dd/yy") and date separator.
  std::string ShortDateFormat = "MM/dd/yy";
  char DateSeparator = '/';
};

// Sets the date format (a code above 8 counts as 0), the separators and
// the short date format.
void SetDateFormat(int code);
void SetCentury(bool on);
// The start-up settings: the format of the user's language, the window of
// the current year.
void InitDateSettings();
int DateFormatForLanguage(const platform::UserLanguage& language);

// The picture with blanks for the digits ("  /  /  ", "    .  .  ", ...).
std::string BlankDate(int code, bool century);
// ... of the current date format and century switch.
std::string BlankDate();
// Picture letters of a format ("MM/DD/YY", "YYYY.MM.DD").
std::string DatePicture(int code, bool century);

bool IsLeapYear(int year);
// The full year of a two-digit year by the window that starts at the base
// year: 00 to 55 are 2000 to 2055 and 56 to 99 are 1956 to 1999 in 2026.
int YearOfTwoDigits(int yy, int windowBase);
// ... by the current window.
int YearOfTwoDigits(int yy);
int DaysInMonth(int year, int month);

// Stored form (8 bytes YYYYMMDD) to the displayed form of the current
// format and century; 8 blanks give the blank picture. The bytes are
// rearranged as they are, digits or not.
std::string StoredToDisplay(const char* stored8);
// Displayed form (any of the current format's pictures, 2- or 4-digit year)
// back to YYYYMMDD; the blank picture, or an empty text, gives 8 blanks.
// False when the text is not a date of the current format. This is the one
// conversion of a date a user wrote: the window of YearOfTwoDigits applies
// to a year written with two digits only, whatever the century switch says
// ("01/01/1920" is 1920, "01/01/20" is 2020).
bool DisplayToStored(std::string_view display, std::string& stored8);
// A search value for a date (Locate, index searches): eight digits are
// taken as the stored form as they are; anything else goes through
// DisplayToStored. False when the text is neither.
bool SearchDateToStored(std::string_view text, std::string& stored8);
// The displayed form of a stored date that reads back as the same date
// through DisplayToStored: the current picture, except that while the
// century switch is off a year keeps its four digits where two would be
// read as another century, or where they would show the same text as
// `unlike8` (another stored date, such as the one a record holds now, which
// a record write keeps when the text is unchanged).
std::string StoredToDisplayKeepingCentury(const char* stored8, const char* unlike8 = nullptr);

// The date check of date fields: trims, cuts to 10 characters, takes the
// three parts in the order of the format, checks month and day ranges with
// leap years. The blank picture is the empty date. On success `out` holds
// the date in the current format.
bool DateCheck(std::string_view text, std::string& out);

// Julian day numbers of the proleptic Gregorian calendar (1 January of the
// year 1 is 1721426; 0 stands for the empty date).
std::int64_t JulianDay(int year, int month, int day);
void CalendarDate(std::int64_t julian, int& year, int& month, int& day);
// 0 Sunday to 6 Saturday.
int DayOfWeek(std::int64_t julian);
// Julian day of a stored YYYYMMDD text; 0 for a blank or malformed one.
std::int64_t JulianOfStored(std::string_view stored8);

// Day names (0 Sunday) and month names (1 January), blank-padded to their
// language's width and in that language's OEM code page. The language
// follows the date format: 3 Italian, 4 and 7 French, 5 German, 6 Spanish,
// 8 Russian, every other code English. The forms without a code take the
// current date format.
std::string DayName(int weekday, int code);
std::string MonthName(int month, int code);
int DayNameWidth(int code);
std::string DayName(int weekday);
std::string MonthName(int month);
int DayNameWidth();
// The same names in the current ANSI code page (texts of the expression
// language are ANSI), blank-padded to the same widths.
std::string DayNameAnsi(int weekday, int code);
std::string MonthNameAnsi(int month, int code);
int MonthNameWidth(int code);
std::string DayNameAnsi(int weekday);
std::string MonthNameAnsi(int month);
int MonthNameWidth();

}  // namespace vz
