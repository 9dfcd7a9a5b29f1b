// vorza-dbf with dates and languages, end to end: index searches and the
// locate scan read a year written with four digits as that year, `eval`
// prints dates past the calendar's ends as DTOS gives them, and the OEM code
// page comes from --codepage, VORZA_OEM_CODEPAGE or the locale.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "tests/support/Compat.h"
#include "tests/support/DateTexts.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::BinPath;
using test::ShellQuote;

// Runs the tool with exactly the locale variables given ("LANG=ru_RU.UTF-8
// VORZA_OEM_CODEPAGE=866"), every other one of them unset.
int Tool(const std::string& environment, const std::string& args, std::string* out,
         std::string* err = nullptr) {
  const std::string clean = "env -u LC_ALL -u LC_CTYPE -u LC_TIME -u LANG -u VORZA_OEM_CODEPAGE ";
  return test::RunCommand(clean + environment + " " + BinPath("vorza-dbf") + " " + args, out, err);
}

std::string TrimNewline(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// The tool's date format under a locale: the format code and the locale.
struct LocaleFormat {
  int code;
  const char* locale;
};
const LocaleFormat kLocales[] = {{0, "en_US.UTF-8"}, {2, "en_GB.UTF-8"}, {3, "it_IT.UTF-8"},
                                 {4, "fr_FR.UTF-8"}, {5, "de_DE.UTF-8"}, {6, "es_ES.UTF-8"},
                                 {7, "fr_CA.UTF-8"}, {8, "ru_RU.UTF-8"}};

TEST(CliDates, FindAndLocateReadTheYearAsWritten) {
  test::TempDir dir;
  const std::vector<std::string> dates = test::SampleStoredDates(10, 1776);
  test::DbfBuilder b;
  b.Field("NAME", 'C', 10).Field("BORN", 'D', 8);
  for (std::size_t i = 0; i < dates.size(); ++i) b.Record({"d" + std::to_string(i + 1), dates[i]});
  b.Write(dir.File("t.dbf"));
  const std::string table = ShellQuote(dir.File("t.dbf")), ndx = ShellQuote(dir.File("d.ndx"));
  std::string out, err;
  ASSERT_EQ(Tool("LANG=C", "index " + table + " BORN " + ndx, &out, &err), 0) << err;
  auto recordOf = [&](const std::string& stored) {
    for (std::size_t i = 0; i < dates.size(); ++i)
      if (dates[i] == stored) return std::to_string(i + 1);
    return std::string("0");
  };

  // The tool keeps the century switch off; the window starts 70 years back.
  const int windowBase = platform::Today().year - 70;
  for (std::size_t li = 0; li < std::size(kLocales); ++li) {
    const LocaleFormat& l = kLocales[li];
    std::size_t k = li;  // each locale keeps other writings under the sanitizers
    for (const test::DateWriting& w : test::DateWritings(dates, {l.code}, windowBase)) {
      if (k++ % test::kToolCaseStride != 0) continue;
      const std::string what = std::string(l.locale) + ": \"" + w.text + "\" for " + w.stored;
      const std::string env = std::string("LC_ALL=") + l.locale;
      ASSERT_EQ(Tool(env, "find " + table + " " + ndx + " " + ShellQuote(w.text), &out, &err), 0)
          << err;
      EXPECT_EQ(TrimNewline(out), recordOf(w.expected)) << "find, " << what;
      ASSERT_EQ(Tool(env, "locate " + table + " BORN " + ShellQuote(w.text), &out, &err), 0) << err;
      EXPECT_EQ(TrimNewline(out), recordOf(w.expected)) << "locate, " << what;
    }
  }
  // The issue's own case: 1920 and 2020 side by side.
  test::DbfBuilder two;
  two.Field("BORN", 'D', 8).Record({"20200101"}).Record({"19200101"});
  two.Write(dir.File("two.dbf"));
  ASSERT_EQ(Tool("LANG=C", "index " + ShellQuote(dir.File("two.dbf")) + " BORN " + ndx, &out, &err),
            0)
      << err;
  ASSERT_EQ(Tool("LANG=C", "find " + ShellQuote(dir.File("two.dbf")) + " " + ndx + " 01/01/1920",
                 &out, &err),
            0);
  EXPECT_EQ(out, "2\n");
  ASSERT_EQ(Tool("LANG=C", "find " + ShellQuote(dir.File("two.dbf")) + " " + ndx + " 01/01/20",
                 &out, &err),
            0);
  EXPECT_EQ(out, windowBase % 100 > 20 ? "1\n" : "2\n");
}

TEST(CliDates, EvalPrintsDatesPastTheCalendarsEndsAsDtosGivesThem) {
  test::TempDir dir;
  test::DbfBuilder b;
  b.Field("BORN", 'D', 8).Record({"99991231"}).Record({""});
  b.Write(dir.File("t.dbf"));
  const std::string table = ShellQuote(dir.File("t.dbf"));
  const char* const dates[] = {
      "BORN+1",  // past 31 December 9999
      "BORN+1E308",
      "BORN+1E308+1E308",  // infinite
      "BORN-1E308-1E308",  // minus infinity
      "BORN-5373484",      // Julian day 0 is the empty date
      "BORN-5373485",      // before 1 January 1
      "CTOD('01/01/0001')-1",
      "CTOD('')+1",  // the empty date plus a day: before the calendar
      "CTOD('')-1",
      "CTOD('')+0*10^999",  // no number at all
      "BORN",
      "CTOD('02/29/2400')",
  };
  std::string out, err;
  for (const char* date : dates) {
    for (const char* recno : {"1", "2"}) {
      ASSERT_EQ(Tool("LANG=C", std::string("eval ") + table + " " + recno + " " + ShellQuote(date),
                     &out, &err),
                0)
          << date << "\n"
          << err;
      std::string dtos;
      ASSERT_EQ(Tool("LANG=C",
                     std::string("eval ") + table + " " + recno + " " +
                         ShellQuote(std::string("DTOS(") + date + ")"),
                     &dtos, &err),
                0)
          << err;
      ASSERT_EQ(dtos.substr(0, 2), "C\t") << date;
      EXPECT_EQ(out, "D\t" + dtos.substr(2)) << date << " on record " << recno;
      EXPECT_EQ(out.size(), 11u) << date << " on record " << recno << ": " << out;
    }
  }
  ASSERT_EQ(Tool("LANG=C", "eval " + table + " 1 'BORN+1'", &out, &err), 0);
  EXPECT_EQ(out, "D\t99991231\n");
  ASSERT_EQ(Tool("LANG=C", "eval " + table + " 2 'BORN+1'", &out, &err), 0);
  EXPECT_EQ(out, "D\t00010101\n");
  ASSERT_EQ(Tool("LANG=C", "eval " + table + " 2 'BORN'", &out, &err), 0);
  EXPECT_EQ(out, "D\t        \n");
}

// --- Code pages -------------------------------------------------------------------------------

// The bytes 8C A8 E0 ("Мир" in code page 866) read in another OEM page, as
// the tool prints them.
std::string ReadIn(int codePage) {
  platform::SetOemCodePage(codePage);
  const std::string shown = platform::AnsiToUtf8(platform::OemToAnsi("\x8C\xA8\xE0"));
  platform::SetOemCodePage(437);
  return shown;
}

class CliCodePage : public ::testing::Test {
 protected:
  void SetUp() override {
    // NAME holds "Мир" in code page 866 (8C A8 E0); BORN is Thursday,
    // 29 February 2024.
    test::DbfBuilder b;
    b.Field("NAME", 'C', 10).Field("BORN", 'D', 8).Record({"\x8C\xA8\xE0", "20240229"});
    b.Write(dir_.File("t.dbf"));
    table_ = ShellQuote(dir_.File("t.dbf"));
  }

  // `eval` of EXPR on record 1 under an environment, trailing blanks and
  // the line break removed; the exit status must be 0.
  std::string Eval(const std::string& environment, const std::string& expr,
                   const std::string& options = "") {
    std::string out, err;
    const int rc =
        Tool(environment, options + " eval " + table_ + " 1 " + ShellQuote(expr), &out, &err);
    EXPECT_EQ(rc, 0) << environment << " " << expr << "\n" << err;
    out = TrimNewline(out);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  }

  test::TempDir dir_;
  std::string table_;
};

TEST_F(CliCodePage, ARussianLocaleGivesCyrillicNamesAndText) {
  for (const char* env :
       {"LANG=ru_RU.UTF-8", "LC_ALL=ru_RU.UTF-8 LANG=en_US.UTF-8", "LC_TIME=ru_RU.UTF-8",
        "LC_CTYPE=uk_UA.UTF-8 LC_TIME=ru_RU", "LANG=ru_RU.KOI8-R"}) {
    EXPECT_EQ(Eval(env, "CMONTH(BORN)"), "C\tФевраль") << env;
    EXPECT_EQ(Eval(env, "CDOW(BORN)"), "C\tЧетверг") << env;
    EXPECT_EQ(Eval(env, "NAME"), "C\tМир") << env;
  }
  // Ukrainian and Belarusian: the page of Cyrillic text, English names.
  for (const char* env :
       {"LANG=uk_UA.UTF-8", "LC_ALL=be_BY.UTF-8", "LC_CTYPE=ru_RU.UTF-8 LANG=en_US.UTF-8"}) {
    EXPECT_EQ(Eval(env, "CMONTH(BORN)"), "C\tFebruary") << env;
    EXPECT_EQ(Eval(env, "NAME"), "C\tМир") << env;
  }
}

TEST_F(CliCodePage, OtherLocalesGiveTheirNamesAndCodePage437) {
  EXPECT_EQ(Eval("LANG=en_US.UTF-8", "CMONTH(BORN)"), "C\tFebruary");
  EXPECT_EQ(Eval("LANG=en_US.UTF-8", "CDOW(BORN)"), "C\tThursday");
  EXPECT_EQ(Eval("LANG=de_DE.UTF-8", "CDOW(BORN)"), "C\tDonnerstag");
  EXPECT_EQ(Eval("", "CMONTH(BORN)"), "C\tFebruary");
  ASSERT_NE(ReadIn(437), ReadIn(866));
  for (const char* env : {"LANG=en_US.UTF-8", "LANG=de_DE.UTF-8", "LANG=C", "",
                          "LC_ALL=en_GB.UTF-8 LANG=ru_RU.UTF-8"})
    EXPECT_EQ(Eval(env, "NAME"), "C\t" + ReadIn(437)) << env;
}

TEST_F(CliCodePage, TheVariableAndTheOptionOverrideTheLocale) {
  // The variable over the locale.
  EXPECT_EQ(Eval("LANG=en_US.UTF-8 VORZA_OEM_CODEPAGE=866", "NAME"), "C\tМир");
  EXPECT_EQ(Eval("LANG=ru_RU.UTF-8 VORZA_OEM_CODEPAGE=437", "NAME"), "C\t" + ReadIn(437));
  EXPECT_EQ(Eval("LANG=ru_RU.UTF-8 VORZA_OEM_CODEPAGE=437", "CMONTH(BORN)"), "C\t???????");
  EXPECT_EQ(Eval("LANG=ru_RU.UTF-8 VORZA_OEM_CODEPAGE=850", "NAME"), "C\t" + ReadIn(850));
  // The option over both, before or after the command, in either spelling.
  EXPECT_EQ(Eval("LANG=en_US.UTF-8", "NAME", "--codepage 866"), "C\tМир");
  EXPECT_EQ(Eval("LANG=ru_RU.UTF-8 VORZA_OEM_CODEPAGE=866", "NAME", "--codepage=437"),
            "C\t" + ReadIn(437));
  std::string out, err;
  ASSERT_EQ(Tool("LANG=en_US.UTF-8", "eval " + table_ + " 1 NAME --codepage 866", &out, &err), 0)
      << err;
  EXPECT_EQ(out, "C\tМир       \n");
  ASSERT_EQ(Tool("LANG=ru_RU.UTF-8", "list " + table_ + " --codepage 437", &out, &err), 0) << err;
  EXPECT_EQ(out, "1\t-\t" + ReadIn(437) + "\t20240229\n");
  ASSERT_EQ(Tool("LANG=C", "list --codepage 866 " + table_, &out, &err), 0) << err;
  EXPECT_EQ(out, "1\t-\tМир\t20240229\n");
  // A valid option wins over a variable the program does not know.
  ASSERT_EQ(Tool("VORZA_OEM_CODEPAGE=1251", "--codepage 866 list " + table_, &out, &err), 0) << err;
  EXPECT_EQ(out, "1\t-\tМир\t20240229\n");
}

TEST_F(CliCodePage, AnUnknownCodePageIsAUsageError) {
  std::string out, err;
  for (const char* bad :
       {"--codepage 1251", "--codepage=12", "--codepage", "--codepage=", "--codepage 866x"}) {
    EXPECT_EQ(Tool("LANG=C", "list " + table_ + " " + bad, &out, &err), 64) << bad;
    EXPECT_EQ(out, "") << bad;
    EXPECT_NE(err.find("code page"), std::string::npos) << bad << ": " << err;
    EXPECT_NE(err.find("437, 850 or 866"), std::string::npos) << bad << ": " << err;
  }
  for (const char* bad : {"VORZA_OEM_CODEPAGE=1251", "VORZA_OEM_CODEPAGE=ru",
                          "LANG=ru_RU.UTF-8 VORZA_OEM_CODEPAGE=8666"}) {
    EXPECT_EQ(Tool(bad, "list " + table_, &out, &err), 64) << bad;
    EXPECT_EQ(out, "") << bad;
    EXPECT_NE(err.find("VORZA_OEM_CODEPAGE="), std::string::npos) << bad << ": " << err;
  }
  // An empty variable counts as not set.
  ASSERT_EQ(Tool("VORZA_OEM_CODEPAGE= LANG=ru_RU.UTF-8", "list " + table_, &out, &err), 0) << err;
  EXPECT_EQ(out, "1\t-\tМир\t20240229\n");
  // The usage tells of the option.
  ASSERT_EQ(Tool("LANG=C", "--help", &out, &err), 0);
  EXPECT_NE(out.find("--codepage N"), std::string::npos) << out;
  EXPECT_NE(out.find("VORZA_OEM_CODEPAGE"), std::string::npos) << out;
}

}  // namespace
}  // namespace vz
