// Dates written by users: every place that turns a displayed date into a
// stored one (CTOD in the expression language, a search of a date index,
// Locate on a date field, the table component's date field) reads the same
// date from the same text. A year written with four digits is that year
// whether the century switch is on or off; only a year written with two
// digits takes its century from the window.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/errors.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/hooks.h"
#include "tests/support/DateTexts.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TableFixture.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DateWriting;

constexpr int kWindowBase = 1956;
const std::vector<int> kAllFormats = {0, 1, 2, 3, 4, 5, 6, 7, 8};

// The stored date of a framework day number.
std::string StoredOfDay(data::DayNumber day) {
  int y = 0, m = 0, d = 0;
  data::CalendarOf(day, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

class DateEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    dates_ = test::SampleStoredDates(60, 1920);
    // DATES.DBF: NAME C 10 ("d" + the record number), BORN D, one record per
    // sample date.
    test::DbfBuilder b;
    b.Field("NAME", 'C', 10).Field("BORN", 'D', 8);
    for (std::size_t i = 0; i < dates_.size(); ++i) {
      b.Record({"d" + std::to_string(i + 1), dates_[i]});
      recordOf_[dates_[i]] = static_cast<std::int64_t>(i) + 1;
    }
    b.Write(dir_.File("dates.dbf"));
  }
  void TearDown() override { test::ResetAll(); }

  // The record that holds a stored date, 0 for none.
  std::int64_t RecordOf(const std::string& stored) const {
    const auto it = recordOf_.find(stored);
    return it == recordOf_.end() ? 0 : it->second;
  }

  static void Use(int code, bool century) {
    SetCentury(century);
    SetDateFormat(code);
  }

  static std::vector<DateWriting> Writings(const std::vector<std::string>& dates) {
    return test::DateWritings(dates, kAllFormats, kWindowBase);
  }

  static std::string Describe(const DateWriting& w, bool century) {
    return "format " + std::to_string(w.code) + (century ? ", century on" : ", century off") +
           ": \"" + w.text + "\" for " + w.stored;
  }

  test::TempDir dir_;
  std::vector<std::string> dates_;
  std::map<std::string, std::int64_t> recordOf_;
};

TEST_F(DateEntryTest, CtodReadsTheYearAsWritten) {
  USE(dir_.File("dates.dbf"));
  GO(1);
  for (const bool century : {false, true}) {
    for (const DateWriting& w : Writings(dates_)) {
      Use(w.code, century);
      CompiledExpr* e = CompileExpr("DTOS(CTOD('" + w.text + "'))");
      ASSERT_NE(e, nullptr);
      const std::string got(e->Evaluate().text);
      ReleaseExpr(e);
      const std::string want = w.expected.empty() ? std::string(8, ' ') : w.expected;
      EXPECT_EQ(got, want) << Describe(w, century);
    }
  }
  CloseAll();
}

TEST_F(DateEntryTest, SearchesOfADateIndexAndLocateFindTheDateWritten) {
  USE(dir_.File("dates.dbf"));
  Index_On(dir_.File("born.ndx"), "BORN");
  CloseAll();
  USE(dir_.File("dates.dbf"));
  SetIndexTo(dir_.File("born.ndx"));
  for (const bool century : {false, true}) {
    for (const DateWriting& w : Writings(dates_)) {
      Use(w.code, century);
      const std::int64_t want = RecordOf(w.expected);
      const bool found = Find(w.text);
      EXPECT_EQ(found ? RecNo() : 0, want) << "Find, " << Describe(w, century);
      const bool located = Locate("BORN", w.text);
      EXPECT_EQ(located ? RecNo() : 0, want) << "Locate, " << Describe(w, century);
    }
  }
  CloseAll();
}

TEST_F(DateEntryTest, TheTableComponentsDateFieldStoresTheDateWritten) {
  std::vector<std::string> messages;
  auto previous =
      platform::SetMessagePresenter([&](const std::string& m) { messages.push_back(m); });
  // Record 1's stored date, as the file holds it.
  auto storedDate = [&] {
    const test::Bytes b = test::ReadFile(dir_.File("dates.dbf"));
    const std::size_t header = b[8] | (b[9] << 8);
    return std::string(reinterpret_cast<const char*>(b.data()) + header + 11, 8);
  };
  // A third of the dates keeps the test quick.
  std::vector<std::string> some;
  for (std::size_t i = 0; i < dates_.size(); i += 3) some.push_back(dates_[i]);
  for (const bool century : {false, true}) {
    for (const int code : kAllFormats) {
      Use(code, century);
      DbfTable t;
      t.ReadOnly = false;
      t.SetExclusive(true);
      t.ShowProgress = false;
      t.CreateIfNotFound = false;
      t.SetDbfFileName(dir_.File("dates"));
      t.Open();
      t.First();
      auto* born = dynamic_cast<TableDateField*>(t.FieldByName("BORN"));
      ASSERT_NE(born, nullptr);
      for (const DateWriting& w : test::DateWritings(some, {code}, kWindowBase)) {
        if (w.expected.empty()) continue;
        // As text, the way the grid's editor hands it over.
        t.Edit();
        born->SetAsString(w.text);
        t.Post();
        EXPECT_EQ(storedDate(), w.expected) << "as text, " << Describe(w, century);
        EXPECT_EQ(StoredOfDay(born->AsDate()), w.expected) << "as text, " << Describe(w, century);
        // Blanks between the parts: the engine's check refuses that, and the
        // framework's own reading takes over, with the same window.
        std::string blanks = w.text;
        for (char& c : blanks)
          if (c < '0' || c > '9') c = ' ';
        t.Edit();
        born->SetAsString(blanks);
        t.Post();
        EXPECT_EQ(storedDate(), w.expected) << "with blanks, " << Describe(w, century);
        // As a date: the day itself, whatever its year.
        const data::DayNumber day =
            data::DayNumberOf(std::stoi(w.stored.substr(0, 4)), std::stoi(w.stored.substr(4, 2)),
                              std::stoi(w.stored.substr(6, 2)));
        t.Edit();
        born->SetAsDate(day);
        t.Post();
        EXPECT_EQ(storedDate(), w.stored) << "as a date, " << Describe(w, century);
        EXPECT_EQ(born->AsDate(), day) << "as a date, " << Describe(w, century);
      }
      t.Close();
    }
  }
  platform::SetMessagePresenter(previous);
  EXPECT_TRUE(messages.empty()) << messages.size() << " messages, the first: " << messages.front();
}

}  // namespace
}  // namespace vz
