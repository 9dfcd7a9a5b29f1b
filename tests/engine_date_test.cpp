// Dates: the format settings and pictures, stored/displayed conversions, the
// two-digit-year window, leap years, the date check of date fields, the
// start-up language, the day and month names, and Julian day numbers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/engine_context.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

class DateTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetEngineForTest(); }
  void TearDown() override { test::ResetEngineForTest(); }

  static void Use(int code, bool century) {
    SetCentury(century);
    SetDateFormat(code);
  }

  // DateCheck's result, or nothing when the text is rejected.
  static std::optional<std::string> Check(std::string_view text) {
    std::string out = "untouched";
    if (!DateCheck(text, out)) return std::nullopt;
    return out;
  }

  static std::optional<std::string> ToStored(std::string_view text) {
    std::string out = "untouched";
    if (!DisplayToStored(text, out)) return std::nullopt;
    return out;
  }
};

struct FormatRow {
  int code;
  const char* picture2;
  const char* picture4;
  const char* blank2;
  const char* blank4;
  const char* short2;
  const char* short4;
  char separator;
  char decimal;
  char thousands;
};

const FormatRow kFormats[] = {
    {0, "MM/DD/YY", "MM/DD/YYYY", "  /  /  ", "  /  /    ", "MM/dd/yy", "MM/dd/yyyy", '/', '.',
     ','},
    {1, "YY.MM.DD", "YYYY.MM.DD", "  .  .  ", "    .  .  ", "yy.MM.dd", "yyyy.MM.dd", '.', '.',
     ','},
    {2, "DD/MM/YY", "DD/MM/YYYY", "  /  /  ", "  /  /    ", "dd/MM/yy", "dd/MM/yyyy", '/', '.',
     ','},
    {3, "DD-MM-YY", "DD-MM-YYYY", "  -  -  ", "  -  -    ", "dd-MM-yy", "dd-MM-yyyy", '-', ',',
     '.'},
    {4, "DD.MM.YY", "DD.MM.YYYY", "  .  .  ", "  .  .    ", "dd.MM.yy", "dd.MM.yyyy", '.', ',',
     '.'},
    {5, "DD.MM.YY", "DD.MM.YYYY", "  .  .  ", "  .  .    ", "dd.MM.yy", "dd.MM.yyyy", '.', ',',
     '.'},
    {6, "DD.MM.YY", "DD.MM.YYYY", "  .  .  ", "  .  .    ", "dd.MM.yy", "dd.MM.yyyy", '.', ',',
     '.'},
    {7, "DD.MM.YY", "DD.MM.YYYY", "  .  .  ", "  .  .    ", "dd.MM.yy", "dd.MM.yyyy", '.', '.',
     ','},
    {8, "DD.MM.YY", "DD.MM.YYYY", "  .  .  ", "  .  .    ", "dd.MM.yy", "dd.MM.yyyy", '.', '.',
     ' '},
};

TEST_F(DateTest, FormatCodesSetPicturesSeparatorsAndShortFormat) {
  for (const FormatRow& row : kFormats) {
    SCOPED_TRACE("code " + std::to_string(row.code));
    EXPECT_EQ(DatePicture(row.code, false), row.picture2);
    EXPECT_EQ(DatePicture(row.code, true), row.picture4);
    EXPECT_EQ(BlankDate(row.code, false), row.blank2);
    EXPECT_EQ(BlankDate(row.code, true), row.blank4);

    // Start from the opposite separators so that a setting left alone shows.
    SetDateFormat(row.decimal == '.' ? kGerman : kAmerican);
    SetCentury(false);
    SetDateFormat(row.code);
    EXPECT_EQ(Engine().Dates.DateFormat, row.code);
    EXPECT_EQ(Engine().Dates.DecimalSeparator, row.decimal);
    EXPECT_EQ(Engine().Dates.ThousandSeparator, row.thousands);
    EXPECT_EQ(Engine().Dates.DateSeparator, row.separator);
    EXPECT_EQ(Engine().Dates.ShortDateFormat, row.short2);
    EXPECT_EQ(BlankDate(), row.blank2);

    // The century switch changes the short format in either order.
    SetCentury(true);
    EXPECT_EQ(Engine().Dates.ShortDateFormat, row.short4);
    EXPECT_EQ(BlankDate(), row.blank4);
    SetDateFormat(kAmerican);
    SetDateFormat(row.code);
    EXPECT_EQ(Engine().Dates.ShortDateFormat, row.short4);
    SetCentury(false);
    EXPECT_EQ(Engine().Dates.ShortDateFormat, row.short2);
  }

  // Codes outside 0 to 8 count as American.
  for (int code : {9, 10, 100, -1, -8}) {
    SCOPED_TRACE("code " + std::to_string(code));
    SetDateFormat(kRussian);
    SetDateFormat(code);
    EXPECT_EQ(Engine().Dates.DateFormat, kAmerican);
    EXPECT_EQ(Engine().Dates.DecimalSeparator, '.');
    EXPECT_EQ(Engine().Dates.ThousandSeparator, ',');
    EXPECT_EQ(Engine().Dates.DateSeparator, '/');
    EXPECT_EQ(Engine().Dates.ShortDateFormat, "MM/dd/yy");
    EXPECT_EQ(DatePicture(code, true), "MM/DD/YYYY");
    EXPECT_EQ(BlankDate(code, false), "  /  /  ");
  }
}

TEST_F(DateTest, StoredDatesDisplayInEveryFormat) {
  struct Row {
    int code;
    const char* d1999_2;  // 19991231
    const char* d1999_4;
    const char* d2005_2;  // 20050704
    const char* d2005_4;
  };
  const Row rows[] = {
      {0, "12/31/99", "12/31/1999", "07/04/05", "07/04/2005"},
      {1, "99.12.31", "1999.12.31", "05.07.04", "2005.07.04"},
      {2, "31/12/99", "31/12/1999", "04/07/05", "04/07/2005"},
      {3, "31-12-99", "31-12-1999", "04-07-05", "04-07-2005"},
      {4, "31.12.99", "31.12.1999", "04.07.05", "04.07.2005"},
      {5, "31.12.99", "31.12.1999", "04.07.05", "04.07.2005"},
      {6, "31.12.99", "31.12.1999", "04.07.05", "04.07.2005"},
      {7, "31.12.99", "31.12.1999", "04.07.05", "04.07.2005"},
      {8, "31.12.99", "31.12.1999", "04.07.05", "04.07.2005"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("code " + std::to_string(row.code));
    Use(row.code, false);
    EXPECT_EQ(StoredToDisplay("19991231"), row.d1999_2);
    EXPECT_EQ(StoredToDisplay("20050704"), row.d2005_2);
    EXPECT_EQ(StoredToDisplay("        "), BlankDate(row.code, false));
    EXPECT_EQ(ToStored(row.d1999_2), "19991231");
    EXPECT_EQ(ToStored(row.d2005_2), "20050704");
    EXPECT_EQ(ToStored(row.d1999_4), "19991231");
    EXPECT_EQ(ToStored(BlankDate(row.code, false)), "        ");
    EXPECT_EQ(ToStored(BlankDate(row.code, true)), "        ");

    Use(row.code, true);
    EXPECT_EQ(StoredToDisplay("19991231"), row.d1999_4);
    EXPECT_EQ(StoredToDisplay("20050704"), row.d2005_4);
    EXPECT_EQ(StoredToDisplay("        "), BlankDate(row.code, true));
    EXPECT_EQ(ToStored(row.d1999_4), "19991231");
    EXPECT_EQ(ToStored(row.d2005_4), "20050704");
    EXPECT_EQ(ToStored(row.d2005_2), "20050704");
    EXPECT_EQ(ToStored(""), "        ");
    EXPECT_EQ(ToStored(BlankDate(row.code, true)), "        ");
  }

  // Without the century a stored date shows only the last two digits, so
  // only the window's hundred years come back unchanged; with the century
  // every year does. Both ways in every format.
  for (int code = 0; code <= 8; ++code) {
    SCOPED_TRACE("code " + std::to_string(code));
    for (const char* stored :
         {"19560101", "19600229", "19991231", "20000229", "20240229", "20551231", "20260415"}) {
      Use(code, false);
      EXPECT_EQ(ToStored(StoredToDisplay(stored)), stored) << stored;
    }
    for (const char* stored :
         {"00010101", "10661014", "16000229", "18991231", "19000301", "21000228", "99991231"}) {
      Use(code, true);
      EXPECT_EQ(ToStored(StoredToDisplay(stored)), stored) << stored;
    }
  }

  // The stored bytes are rearranged as they are.
  Use(kAmerican, false);
  EXPECT_EQ(StoredToDisplay("1999ab31"), "ab/31/99");

  // Reading a displayed date: a four-digit year stays as written whatever
  // the century setting; two digits take the window.
  Use(kAmerican, false);
  EXPECT_EQ(ToStored("12/31/1850"), "18501231");
  EXPECT_EQ(ToStored("07/04/2099"), "20990704");
  EXPECT_EQ(ToStored("01/01/55"), "20550101");
  EXPECT_EQ(ToStored("01/01/56"), "19560101");
  EXPECT_EQ(ToStored(" 1/2/3 "), "20030102");
  Use(kGerman, false);
  EXPECT_EQ(ToStored("29.02.1900"), std::nullopt);
  EXPECT_EQ(ToStored("29.02.2000"), "20000229");
  EXPECT_EQ(ToStored("1.3.1700"), "17000301");
  Use(kAnsi, false);
  EXPECT_EQ(ToStored("1850.12.31"), "18501231");
  Use(kAnsi, true);
  EXPECT_EQ(ToStored("55.12.31"), "20551231");

  // Texts that are not dates of the format.
  Use(kAmerican, true);
  EXPECT_EQ(ToStored("13/01/1999"), std::nullopt);
  EXPECT_EQ(ToStored("31/12/1999"), std::nullopt);
  EXPECT_EQ(ToStored("12/31"), std::nullopt);
  EXPECT_EQ(ToStored("tomorrow"), std::nullopt);
  Use(kBritish, true);
  EXPECT_EQ(ToStored("31/12/1999"), "19991231");
  EXPECT_EQ(ToStored("12/31/1999"), std::nullopt);
}

TEST_F(DateTest, LeapYearsWindowAndMonthLengths) {
  for (int y : {4, 400, 1600, 1904, 1996, 2000, 2004, 2024, 2400}) EXPECT_TRUE(IsLeapYear(y)) << y;
  for (int y : {1, 100, 1700, 1800, 1900, 1999, 2023, 2100, 2200, 2300})
    EXPECT_FALSE(IsLeapYear(y)) << y;

  // Window starting at 1956: 00-55 are 2000-2055, 56-99 are 1956-1999.
  EXPECT_EQ(YearOfTwoDigits(0, 1956), 2000);
  EXPECT_EQ(YearOfTwoDigits(26, 1956), 2026);
  EXPECT_EQ(YearOfTwoDigits(55, 1956), 2055);
  EXPECT_EQ(YearOfTwoDigits(56, 1956), 1956);
  EXPECT_EQ(YearOfTwoDigits(99, 1956), 1999);
  // The default base is the setting.
  EXPECT_EQ(YearOfTwoDigits(55), 2055);
  EXPECT_EQ(YearOfTwoDigits(56), 1956);
  Engine().Dates.WindowBase = 1970;
  EXPECT_EQ(YearOfTwoDigits(69), 2069);
  EXPECT_EQ(YearOfTwoDigits(70), 1970);
  // Other bases, including those on a century boundary.
  EXPECT_EQ(YearOfTwoDigits(0, 1900), 1900);
  EXPECT_EQ(YearOfTwoDigits(99, 1900), 1999);
  EXPECT_EQ(YearOfTwoDigits(0, 2000), 2000);
  EXPECT_EQ(YearOfTwoDigits(99, 2000), 2099);
  EXPECT_EQ(YearOfTwoDigits(98, 1999), 2098);
  EXPECT_EQ(YearOfTwoDigits(99, 1999), 1999);
  EXPECT_EQ(YearOfTwoDigits(29, 2030), 2129);
  EXPECT_EQ(YearOfTwoDigits(30, 2030), 2030);
  // Every base gives exactly the hundred years from the base on.
  for (int base : {1901, 1950, 1956, 1999, 2000, 2001, 2050}) {
    for (int yy = 0; yy <= 99; ++yy) {
      const int year = YearOfTwoDigits(yy, base);
      EXPECT_GE(year, base) << base << " " << yy;
      EXPECT_LE(year, base + 99) << base << " " << yy;
      EXPECT_EQ(year % 100, yy) << base << " " << yy;
    }
  }

  const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_EQ(DaysInMonth(2023, m), lengths[m - 1]) << m;
    EXPECT_EQ(DaysInMonth(2024, m), m == 2 ? 29 : lengths[m - 1]) << m;
  }
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2024, 0), 0);
  EXPECT_EQ(DaysInMonth(2024, 13), 0);
}

TEST_F(DateTest, DateCheckAcceptsOnlyRealDates) {
  Use(kAmerican, false);
  // Accepted, written back in the format.
  EXPECT_EQ(Check("12/31/99"), "12/31/99");
  EXPECT_EQ(Check("12/31/1999"), "12/31/99");
  EXPECT_EQ(Check("1/2/03"), "01/02/03");
  EXPECT_EQ(Check("1/2/3"), "01/02/03");
  EXPECT_EQ(Check("  7/4/1776  "), "07/04/76");
  EXPECT_EQ(Check("12-31-99"), "12/31/99");
  EXPECT_EQ(Check("12.31.99"), "12/31/99");
  EXPECT_EQ(Check("12-31.99"), "12/31/99");
  EXPECT_EQ(Check("01/31/99"), "01/31/99");
  EXPECT_EQ(Check("04/30/99"), "04/30/99");
  EXPECT_EQ(Check("02/29/2024"), "02/29/24");
  EXPECT_EQ(Check("02/29/2000"), "02/29/00");
  EXPECT_EQ(Check("02/29/24"), "02/29/24");  // 2024
  EXPECT_EQ(Check("02/29/00"), "02/29/00");  // 2000
  EXPECT_EQ(Check("02/29/1600"), "02/29/00");
  // The blank picture and an empty text are the empty date.
  EXPECT_EQ(Check("  /  /  "), "  /  /  ");
  EXPECT_EQ(Check("  /  /    "), "  /  /  ");
  EXPECT_EQ(Check(""), "  /  /  ");
  EXPECT_EQ(Check("     "), "  /  /  ");
  // Longer texts are cut to their first 10 characters (after trimming).
  EXPECT_EQ(Check("12/31/19995"), "12/31/99");
  EXPECT_EQ(Check("   12/31/1999 and more"), "12/31/99");
  EXPECT_EQ(Check("12/31/99 extra"), std::nullopt);  // "12/31/99 e"
  EXPECT_EQ(Check("012/31/1999"), std::nullopt);     // "012/31/199"

  // Rejected: impossible months and days.
  for (const char* text :
       {"04/31/99", "06/31/99", "09/31/99", "11/31/99", "04/31/2024", "02/29/2023", "02/29/23",
        "02/29/1900", "02/29/2100", "02/30/2024", "02/30/24", "13/01/99", "00/10/99", "12/00/99",
        "12/32/99", "01/32/99", "0/1/99", "1/0/99"}) {
    EXPECT_EQ(Check(text), std::nullopt) << text;
  }
  // Rejected: wrong shapes.
  for (const char* text :
       {"12/31",     "12/31/99/01", "12311999",  "12 31 99", "/12/31/99", "12//31/99", "123/1/99",
        "1/123/99",  "1/1/199",     "1/1/19999", "ab/cd/ef", "1a/01/99",  "12/3x/99",  "12/31/9x",
        "12/31/ 99", "+1/01/99",    "-1/01/99",  "  .  .  ", "//",        "today"}) {
    EXPECT_EQ(Check(text), std::nullopt) << text;
  }

  // Two-digit years take their century from the window.
  Use(kAmerican, true);
  EXPECT_EQ(Check("1/1/55"), "01/01/2055");
  EXPECT_EQ(Check("12/31/55"), "12/31/2055");
  EXPECT_EQ(Check("1/1/56"), "01/01/1956");
  EXPECT_EQ(Check("12/31/99"), "12/31/1999");
  EXPECT_EQ(Check("1/1/0"), "01/01/2000");
  EXPECT_EQ(Check("12/31/1850"), "12/31/1850");
  EXPECT_EQ(Check("02/29/0400"), "02/29/0400");
  EXPECT_EQ(Check("  /  /  "), "  /  /    ");
  EXPECT_EQ(Check(""), "  /  /    ");
  // 29 February of a two-digit year depends on the century it lands in.
  Engine().Dates.WindowBase = 1901;  // 00 is 2000
  EXPECT_EQ(Check("02/29/00"), "02/29/2000");
  Engine().Dates.WindowBase = 1900;  // 00 is 1900
  EXPECT_EQ(Check("02/29/00"), std::nullopt);
  Engine().Dates.WindowBase = 1956;

  // The parts are taken in the order of the format.
  Use(kBritish, false);
  EXPECT_EQ(Check("31/12/99"), "31/12/99");
  EXPECT_EQ(Check("12/31/99"), std::nullopt);
  EXPECT_EQ(Check("31/4/2024"), std::nullopt);
  EXPECT_EQ(Check("4/3/2024"), "04/03/24");
  Use(kAnsi, true);
  EXPECT_EQ(Check("99.12.31"), "1999.12.31");
  EXPECT_EQ(Check("2024.2.29"), "2024.02.29");
  EXPECT_EQ(Check("2023.2.29"), std::nullopt);
  EXPECT_EQ(Check("31.12.99"), std::nullopt);
  EXPECT_EQ(Check("    .  .  "), "    .  .  ");
  Use(kItalian, false);
  EXPECT_EQ(Check("31-12-1999"), "31-12-99");
  EXPECT_EQ(Check("1/2/3"), "01-02-03");
  EXPECT_EQ(Check("  -  -  "), "  -  -  ");
  Use(kGerman, true);
  EXPECT_EQ(Check("29.2.24"), "29.02.2024");
  EXPECT_EQ(Check("29.2.23"), std::nullopt);
  EXPECT_EQ(Check("31/12/1999"), "31.12.1999");
  EXPECT_EQ(Check("  .  .  "), "  .  .    ");
  EXPECT_EQ(Check("  /  /  "), std::nullopt);
  Use(kRussian, false);
  EXPECT_EQ(Check("7.11.1917"), "07.11.17");
  EXPECT_EQ(Check("31.11.1917"), std::nullopt);
}

// Restores the locale variables on scope exit.
class LocaleEnvironment {
 public:
  LocaleEnvironment() {
    for (const char* var : kVars) {
      const char* v = std::getenv(var);
      saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  ~LocaleEnvironment() {
    for (std::size_t i = 0; i < saved_.size(); ++i) Put(kVars[i], saved_[i]);
  }
  static void Set(const char* all, const char* time, const char* lang) {
    Put("LC_ALL", Opt(all));
    Put("LC_TIME", Opt(time));
    Put("LANG", Opt(lang));
  }

 private:
  static constexpr const char* kVars[] = {"LC_ALL", "LC_TIME", "LANG"};
  static std::optional<std::string> Opt(const char* v) {
    return v ? std::optional<std::string>(v) : std::nullopt;
  }
  static void Put(const char* var, const std::optional<std::string>& value) {
    if (value)
      setenv(var, value->c_str(), 1);
    else
      unsetenv(var);
  }
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(DateTest, StartUpFormatFollowsTheUserLanguage) {
  struct Row {
    const char* locale;
    int code;
  };
  const Row rows[] = {
      {"de_DE.UTF-8", kGerman},
      {"de_AT", kGerman},
      {"de_CH.ISO-8859-1", kGerman},
      {"de", kGerman},
      {"en_US.UTF-8", kAmerican},
      {"en_US", kAmerican},
      {"en-us", kAmerican},
      {"en_GB.UTF-8", kBritish},
      {"en_AU", kBritish},
      {"en_CA", kBritish},
      {"en_IE@euro", kBritish},
      {"en_IN", kBritish},
      {"C", kAmerican},
      {"POSIX", kAmerican},
      {"C.UTF-8", kAmerican},
      {"", kAmerican},
      {"es_ES.UTF-8", kSpanish},
      {"es_MX", kSpanish},
      {"fr_FR.UTF-8", kFrench},
      {"fr_BE", kFrench},
      {"fr_CH", kFrench},
      {"fr", kFrench},
      {"fr_CA.UTF-8", kFrenchCa},
      {"fr_CA@euro", kFrenchCa},
      {"it_IT.UTF-8", kItalian},
      {"it_CH", kItalian},
      {"ru_RU.UTF-8", kRussian},
      {"ru_RU.KOI8-R", kRussian},
      {"ru_UA", kRussian},
      {"pt_BR.UTF-8", kAmerican},
      {"pt_PT", kAmerican},
      {"ja_JP.eucJP", kAmerican},
      {"nl_NL", kAmerican},
      {"uk_UA", kAmerican},
      {"ca_ES", kAmerican},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DateFormatForLanguage(platform::ParseLocaleName(row.locale)), row.code)
        << '"' << row.locale << '"';
  }
  EXPECT_EQ(DateFormatForLanguage({"en", "US"}), kAmerican);
  EXPECT_EQ(DateFormatForLanguage({"en", "NZ"}), kBritish);
  EXPECT_EQ(DateFormatForLanguage({"fr", "CA"}), kFrenchCa);
  EXPECT_EQ(DateFormatForLanguage({"fr", "FR"}), kFrench);
  EXPECT_EQ(DateFormatForLanguage({"es", "CA"}), kSpanish);  // Catalonia's territory code
  EXPECT_EQ(DateFormatForLanguage({"zh", "CN"}), kAmerican);

  // The variables count in the order LC_ALL, LC_TIME, LANG; an empty one
  // is skipped. Start-up also resets the century and sets the window.
  LocaleEnvironment restore;
  const int base = platform::Today().year - 70;
  struct Env {
    const char* all;
    const char* time;
    const char* lang;
    int code;
  };
  const Env envs[] = {
      {nullptr, nullptr, "de_DE.UTF-8", kGerman},
      {"", "", "de_DE.UTF-8", kGerman},
      {nullptr, "en_GB.UTF-8", "ru_RU.UTF-8", kBritish},
      {"fr_CA.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8", kFrenchCa},
      {"it_IT", nullptr, nullptr, kItalian},
      {"", "es_ES", "", kSpanish},
      {"C", "ru_RU", "de_DE", kAmerican},
      {nullptr, nullptr, nullptr, kAmerican},
      {nullptr, nullptr, "pt_BR.UTF-8", kAmerican},
  };
  for (const Env& env : envs) {
    SCOPED_TRACE(std::string("LC_ALL=") + (env.all ? env.all : "(unset)") + " LC_TIME=" +
                 (env.time ? env.time : "(unset)") + " LANG=" + (env.lang ? env.lang : "(unset)"));
    LocaleEnvironment::Set(env.all, env.time, env.lang);
    SetDateFormat(kRussian);
    SetCentury(true);
    Engine().Dates.WindowBase = 1800;
    InitDateSettings();
    EXPECT_EQ(Engine().Dates.DateFormat, env.code);
    EXPECT_FALSE(Engine().Dates.Century);
    EXPECT_EQ(Engine().Dates.WindowBase, base);
    EXPECT_EQ(Engine().Dates.ShortDateFormat, kFormats[env.code].short2);
    EXPECT_EQ(Engine().Dates.DateSeparator, kFormats[env.code].separator);
    EXPECT_EQ(Engine().Dates.DecimalSeparator, kFormats[env.code].decimal);
    EXPECT_EQ(Engine().Dates.ThousandSeparator, kFormats[env.code].thousands);
  }
}

TEST_F(DateTest, DayAndMonthNamesInTheirCodePageAndWidth) {
  // Language widths: {code, day width, month width, OEM page}.
  struct Lang {
    int code;
    int dayWidth;
    int monthWidth;
    int page;
    std::vector<const char*> days;
    std::vector<const char*> months;
  };
  const std::vector<Lang> langs = {
      {kAmerican,
       9,
       9,
       437,
       {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
       {"January", "February", "March", "April", "May", "June", "July", "August", "September",
        "October", "November", "December"}},
      {kItalian,
       9,
       9,
       437,
       {"Domenica", "Lunedì", "Martedì", "Mercoledì", "Giovedì", "Venerdì", "Sabato"},
       {"Gennaio", "Febbraio", "Marzo", "Aprile", "Maggio", "Giugno", "Luglio", "Agosto",
        "Settembre", "Ottobre", "Novembre", "Dicembre"}},
      {kFrench,
       8,
       9,
       437,
       {"Dimanche", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi"},
       {"Janvier", "Février", "Mars", "Avril", "Mai", "Juin", "Juillet", "Août", "Septembre",
        "Octobre", "Novembre", "Décembre"}},
      {kGerman,
       10,
       9,
       437,
       {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
       {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August", "September",
        "Oktober", "November", "Dezember"}},
      {kSpanish,
       9,
       10,
       437,
       {"Domingo", "Lunes", "Martes", "Miércoles", "Jueves", "Viernes", "Sábado"},
       {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre",
        "Octubre", "Noviembre", "Diciembre"}},
      {kRussian,
       11,
       8,
       866,
       {"Воскресенье", "Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота"},
       {"Январь", "Февраль", "Март", "Апрель", "Май", "Июнь", "Июль", "Август", "Сентябрь",
        "Октябрь", "Ноябрь", "Декабрь"}},
  };
  for (const Lang& lang : langs) {
    SCOPED_TRACE("code " + std::to_string(lang.code));
    EXPECT_EQ(DayNameWidth(lang.code), lang.dayWidth);
    EXPECT_EQ(MonthNameWidth(lang.code), lang.monthWidth);
    ASSERT_TRUE(platform::SetOemCodePage(lang.page));
    for (int i = 0; i < 19; ++i) {
      const bool day = i < 7;
      const std::string name = day ? DayName(i, lang.code) : MonthName(i - 6, lang.code);
      const std::string expected = day ? lang.days[i] : lang.months[i - 7];
      const std::size_t width = day ? lang.dayWidth : lang.monthWidth;
      EXPECT_EQ(name.size(), width) << expected;
      // Blank padding only; no byte is left in UTF-8 or replaced by '?'.
      EXPECT_EQ(name.find('?'), std::string::npos) << expected;
      const std::size_t end = name.find_last_not_of(' ');
      ASSERT_NE(end, std::string::npos) << expected;
      for (std::size_t k = end + 1; k < name.size(); ++k) EXPECT_EQ(name[k], ' ');
      for (unsigned char c : name) EXPECT_FALSE(c >= 0xB0 && c <= 0xDF) << expected;
      EXPECT_EQ(platform::OemToUtf8(name.substr(0, end + 1)), expected);
    }
    // Out of range: all blanks of the width.
    EXPECT_EQ(DayName(-1, lang.code), std::string(lang.dayWidth, ' '));
    EXPECT_EQ(DayName(7, lang.code), std::string(lang.dayWidth, ' '));
    EXPECT_EQ(MonthName(0, lang.code), std::string(lang.monthWidth, ' '));
    EXPECT_EQ(MonthName(13, lang.code), std::string(lang.monthWidth, ' '));
  }
  platform::SetOemCodePage(437);

  // Exact OEM bytes of some names.
  EXPECT_EQ(MonthName(2, kFrench), "F\x82vrier  ");
  EXPECT_EQ(MonthName(8, kFrench), "Ao\x96t     ");
  EXPECT_EQ(MonthName(12, kFrenchCa),
            "D\x82"
            "cembre ");
  EXPECT_EQ(DayName(3, kFrench), "Mercredi");
  EXPECT_EQ(DayName(1, kItalian), "Luned\x8D   ");
  EXPECT_EQ(MonthName(3, kGerman), "M\x84rz     ");
  EXPECT_EQ(DayName(4, kGerman), "Donnerstag");
  EXPECT_EQ(DayName(3, kSpanish), "Mi\x82rcoles");
  EXPECT_EQ(DayName(6, kSpanish),
            "S\xA0"
            "bado   ");
  EXPECT_EQ(MonthName(9, kSpanish), "Septiembre");
  EXPECT_EQ(MonthName(1, kRussian), "\x9F\xAD\xA2\xA0\xE0\xEC  ");
  EXPECT_EQ(MonthName(9, kRussian), "\x91\xA5\xAD\xE2\xEF\xA1\xE0\xEC");
  EXPECT_EQ(DayName(0, kRussian), "\x82\xAE\xE1\xAA\xE0\xA5\xE1\xA5\xAD\xEC\xA5");
  EXPECT_EQ(DayName(5, kRussian), "\x8F\xEF\xE2\xAD\xA8\xE6\xA0    ");
  EXPECT_EQ(DayName(3), "Wednesday");
  EXPECT_EQ(MonthName(5), "May      ");

  // The language follows the format code; every code outside 3 to 8 is English.
  for (int code : {0, 1, 2, 9, -1, 42}) {
    EXPECT_EQ(MonthName(2, code), "February ") << code;
    EXPECT_EQ(DayName(0, code), "Sunday   ") << code;
    EXPECT_EQ(DayNameWidth(code), 9) << code;
    EXPECT_EQ(MonthNameWidth(code), 9) << code;
  }
  EXPECT_EQ(MonthName(2, kFrenchCa), MonthName(2, kFrench));
  EXPECT_EQ(DayName(2, kFrenchCa), "Mardi   ");
  // The default code is the setting.
  SetDateFormat(kGerman);
  EXPECT_EQ(DayName(0), "Sonntag   ");
  EXPECT_EQ(MonthName(12), "Dezember ");
  EXPECT_EQ(DayNameWidth(), 10);
  SetDateFormat(kRussian);
  EXPECT_EQ(MonthNameWidth(), 8);
  EXPECT_EQ(MonthName(5), "\x8C\xA0\xA9     ");
}

TEST_F(DateTest, JulianDayNumbersAndWeekdays) {
  struct Known {
    int y, m, d;
    std::int64_t julian;
    int weekday;
  };
  const Known known[] = {
      {1, 1, 1, 1721426, 1},     {1582, 10, 15, 2299161, 5}, {1776, 7, 4, 2369916, 4},
      {1900, 3, 1, 2415080, 4},  {1970, 1, 1, 2440588, 4},   {2000, 1, 1, 2451545, 6},
      {2024, 2, 29, 2460370, 4}, {2026, 12, 7, 2461382, 1},  {9999, 12, 31, 5373484, 5},
  };
  for (const Known& k : known) {
    SCOPED_TRACE(std::to_string(k.y) + "-" + std::to_string(k.m) + "-" + std::to_string(k.d));
    EXPECT_EQ(JulianDay(k.y, k.m, k.d), k.julian);
    EXPECT_EQ(DayOfWeek(k.julian), k.weekday);
    int y = 0, m = 0, d = 0;
    CalendarDate(k.julian, y, m, d);
    EXPECT_EQ(y, k.y);
    EXPECT_EQ(m, k.m);
    EXPECT_EQ(d, k.d);
    char stored[16];
    std::snprintf(stored, sizeof stored, "%04d%02d%02d", k.y, k.m, k.d);
    EXPECT_EQ(JulianOfStored(stored), k.julian);
  }

  // Every day from 1 January 1 to 31 December 9999: the numbers count up by
  // one, the calendar date steps to the next day (months and leap days by
  // their lengths), and the weekday steps through the week.
  int y = 1, m = 1, d = 1;
  const std::int64_t first = JulianDay(1, 1, 1), last = JulianDay(9999, 12, 31);
  for (std::int64_t j = first; j <= last; ++j) {
    int cy = 0, cm = 0, cd = 0;
    CalendarDate(j, cy, cm, cd);
    ASSERT_TRUE(cy == y && cm == m && cd == d)
        << j << ": " << cy << "-" << cm << "-" << cd << " expected " << y << "-" << m << "-" << d;
    ASSERT_EQ(JulianDay(y, m, d), j);
    ASSERT_EQ(DayOfWeek(j + 1), (DayOfWeek(j) + 1) % 7) << j;
    if (++d > DaysInMonth(y, m)) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
  for (int year = 1; year < 9999; ++year)
    ASSERT_EQ(JulianDay(year + 1, 1, 1) - JulianDay(year, 1, 1), IsLeapYear(year) ? 366 : 365)
        << year;
  EXPECT_EQ(JulianDay(2100, 3, 1) - JulianDay(2100, 2, 28), 1);
  EXPECT_EQ(JulianDay(2000, 3, 1) - JulianDay(2000, 2, 28), 2);

  // Stored texts that are no date give 0, the empty date.
  for (const char* stored :
       {"        ", "", "2024", "2024021", "20240230", "20230229", "19000229", "20241301",
        "20240001", "20240100", "2024-1-1", "2O240101", " 2024010"}) {
    EXPECT_EQ(JulianOfStored(stored), 0) << '"' << stored << '"';
  }
  EXPECT_EQ(JulianOfStored("20000229"), 2451604);
  EXPECT_EQ(JulianOfStored("20240229xyz"), 2460370);  // only the first 8 bytes count
}

}  // namespace
}  // namespace vz
