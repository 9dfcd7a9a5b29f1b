// Moving the record pointer and reading fields: GO, SKIP, GoTop, GoBottom
// over visible records (deleted ones hidden, filter and while procedures),
// the after-move procedure, a custom skip procedure, moves in the order of
// an index given through the index hooks (with its semaphore), the native
// record that Unpack builds and Pack reads back, the 6-byte reals, Peek,
// the shared-mode record-count refresh and the lenient integer reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/errors.h"
#include "engine/work_area.h"
#include "platform/codepage.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;

// A controlling index made of a list of record numbers, reached through the
// index hooks. It keeps a position in the list the way an index engine does
// and counts the semaphore calls.
struct FakeIndex {
  static inline std::vector<std::int64_t> order;
  static inline std::size_t pos = 0;  // order.size(): past the last entry
  static inline bool eof = false;
  static inline bool bof = false;
  static inline int depth = 0;
  static inline int begins = 0;
  static inline int ends = 0;
  static inline bool endedUnopened = false;
  static inline std::vector<std::string> log;

  static void Install(std::vector<std::int64_t> o) {
    order = std::move(o);
    pos = 0;
    eof = bof = false;
    depth = begins = ends = 0;
    endedUnopened = false;
    log.clear();
    Engine().Index = {};
    Engine().Index.Active = &Active;
    Engine().Index.Synchronise = &Synchronise;
    Engine().Index.NextEntry = &NextEntry;
    Engine().Index.PriorEntry = &PriorEntry;
    Engine().Index.FirstEntry = &FirstEntry;
    Engine().Index.LastEntry = &LastEntry;
    Engine().Index.AtEof = &AtEof;
    Engine().Index.AtBof = &AtBof;
    Engine().Index.StoreKeys = &StoreKeys;
    Engine().Index.SetBof = &SetBofHook;
    Engine().Index.SetEof = &SetEofHook;
    Engine().Index.Semaphore = &Semaphore;
  }
  static bool Balanced() { return depth == 0 && begins == ends && !endedUnopened; }

  static std::int64_t Current() { return CurrentTable() ? CurrentTable()->RecNo : 0; }
  static bool Active() { return true; }
  static void Synchronise() {
    const auto it = std::find(order.begin(), order.end(), Current());
    pos = static_cast<std::size_t>(it - order.begin());
    eof = it == order.end();
    bof = false;
    log.push_back("sync");
  }
  static std::int64_t NextEntry() {
    if (pos + 1 < order.size()) {
      ++pos;
      bof = false;
      return order[pos];
    }
    pos = order.size();
    eof = true;
    return Current();
  }
  static std::int64_t PriorEntry() {
    if (pos > 0 && !order.empty()) {
      pos = std::min(pos, order.size()) - 1;
      eof = false;
      return order[pos];
    }
    bof = true;
    return Current();
  }
  static std::int64_t FirstEntry() {
    pos = 0;
    bof = false;
    eof = order.empty();
    return order.empty() ? 0 : order.front();
  }
  static std::int64_t LastEntry() {
    pos = order.empty() ? 0 : order.size() - 1;
    bof = order.empty();
    eof = false;
    return order.empty() ? 0 : order.back();
  }
  static bool AtEof() { return eof; }
  static bool AtBof() { return bof; }
  static void StoreKeys() { log.push_back("store"); }
  static void SetBofHook(bool on) { bof = on; }
  static void SetEofHook(bool on) { eof = on; }
  static void Semaphore(bool begin) {
    if (begin) {
      ++depth;
      ++begins;
      log.push_back("begin");
    } else {
      ++ends;
      if (--depth < 0) endedUnopened = true;
      log.push_back("end");
    }
  }
};

class NavTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetEngineForTest(); }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    Engine().Index = {};  // the closing below must not reach the test's index
    CloseAll();
    test::ResetEngineForTest();
  }

  // Full name of a table in the test folder, as messages show it.
  std::string Shown(const std::string& file) const {
    return platform::AsciiUpper(dir_.path() + "/" + file);
  }

  // Runs an operation with dispatching off; returns the error code.
  static int Quiet(const std::function<void()>& op) {
    ScopedErrorDispatch quiet(false);
    op();
    return Engine().Errors.ErrorCode;
  }

  // The text of a C or D slot of the native record (its length byte first).
  static std::string Text(int i) {
    const std::uint8_t* p = FieldAddress(i);
    return std::string(reinterpret_cast<const char*>(p) + 1, p[0]);
  }
  static std::int32_t Int(int i) { return NativeInt(FieldAddress(i)); }
  static double Real(int i) { return Real48ToDouble(FieldAddress(i)); }

  // Record numbers met from GoTop forwards / GoBottom backwards.
  static std::vector<std::int64_t> Forward() {
    std::vector<std::int64_t> seen;
    for (GoTop(); !dEOF() && seen.size() < 100; SKIP(1)) seen.push_back(RecNo());
    return seen;
  }
  static std::vector<std::int64_t> Backward() {
    std::vector<std::int64_t> seen;
    GoBottom();
    if (dEOF()) return seen;
    for (;;) {
      seen.push_back(RecNo());
      SKIP(-1);
      if (dBOF() || seen.size() >= 100) break;
    }
    return seen;
  }

  // NAME C 10, LEVEL N 3: record i has NAME "Rec<i>" and LEVEL i.
  static void Numbered(const std::string& file, int count, const std::vector<int>& deleted = {},
                       bool endMarker = true) {
    DbfBuilder b;
    b.Field("NAME", 'C', 10).Field("LEVEL", 'N', 3).EndMarker(endMarker);
    for (int i = 1; i <= count; ++i)
      b.Record({"Rec" + std::to_string(i), std::to_string(i)},
               std::find(deleted.begin(), deleted.end(), i) != deleted.end());
    b.Write(file);
  }

  static std::string Blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

  test::TempDir dir_{true};
};

using Recs = std::vector<std::int64_t>;

TEST_F(NavTest, EveryOperationNeedsATable) {
  Select(7);
  ScopedErrorDispatch quiet(false);
  const auto expect215 = [](const std::string& op) {
    EXPECT_EQ(Engine().Errors.ErrorCode, 215) << op;
    EXPECT_EQ(Engine().Errors.ErrorDetail, "No database in use [" + op + "]  WorkArea = 7");
  };
  GO(1);
  expect215("GO()");
  SKIP(1);
  expect215("SKIP()");
  GoTop();
  expect215("GoTop");
  GoBottom();
  expect215("GoBottom");
  EXPECT_EQ(RecCount(), 0);
  expect215("RecCount");
  EXPECT_EQ(RecNo(), 0);
  expect215("RecNo");
  EXPECT_EQ(RecSize(), 0u);
  expect215("RecSize");
  EXPECT_FALSE(Deleted());
  expect215("Deleted");
  (void)dEOF();
  expect215("dEOF");
  (void)dBOF();
  expect215("dBOF");
  EXPECT_EQ(FieldType(1), ' ');
  expect215("FieldType()");
  EXPECT_EQ(FieldLen(1), 0);
  expect215("FieldLen()");
  EXPECT_EQ(FieldDec(1), 0);
  expect215("FieldDec()");
  EXPECT_EQ(FieldAddress(1), nullptr);
  expect215("FieldAddress()");
  EXPECT_EQ(FieldAddress(0), nullptr);
  expect215("FieldAddress()");
  EXPECT_EQ(Field(1), "");
  expect215("Field()");
  EXPECT_EQ(FieldNo("NAME"), 0);
  expect215("FieldNo()");
  EXPECT_EQ(FieldCount(), 0);
  expect215("FieldCount()");
  ClearRecord();
  expect215("ClearRecord");
  EXPECT_FALSE(IsWhileOn());
  expect215("IsWhileOn");
  EXPECT_EQ(Peek(1, 1), "");
  expect215("Peek");
  RawGo(1);
  expect215("Dbf4RawGo");
  // Setting procedures on a free area is harmless.
  SetAfterMove([] {});
  SetFilterProc([] { return true; });
  SetWhileProc([] { return true; });
  EXPECT_EQ(CurrentTable(), nullptr);

  // With dispatching on, the error is raised.
  SetErrorDispatch(true);
  EXPECT_THROW(GO(1), EngineError);
  EXPECT_THROW(SKIP(-1), EngineError);
  EXPECT_THROW(RecCount(), EngineError);
  EXPECT_THROW(FieldNo("X"), EngineError);
  EXPECT_THROW(Peek(0, 1), EngineError);
  // A table in another area does not help.
  SetErrorDispatch(false);
  Numbered("nav.dbf", 2);
  Select(1);
  USE("nav.dbf");
  Select(7);
  EXPECT_EQ(RecCount(), 0);
  expect215("RecCount");
  Select(1);
  EXPECT_EQ(RecCount(), 2);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
}

TEST_F(NavTest, GoAndRawGoPositionByRecordNumber) {
  Numbered("nav.dbf", 5, {3});
  Engine().Settings.HideDeleted = true;
  USE("nav.dbf");
  const std::string name = Shown("NAV.DBF");
  EXPECT_EQ(RecCount(), 5);
  EXPECT_EQ(RecSize(), 14u);

  GO(4);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_EQ(Text(1), "Rec4      ");
  EXPECT_EQ(Int(2), 4);
  EXPECT_FALSE(dEOF());
  EXPECT_FALSE(dBOF());
  // GO ignores visibility: a hidden deleted record can be reached.
  GO(3);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(Text(1), "Rec3      ");
  EXPECT_EQ(FieldAddress(0)[0], 1);
  GO(5);
  EXPECT_FALSE(Deleted());

  // Record numbers outside the table: past the end with EOF, error 212.
  for (std::int64_t bad :
       {std::int64_t{0}, std::int64_t{-1}, std::int64_t{6}, std::int64_t{1000}}) {
    GO(2);
    EXPECT_EQ(Quiet([&] { GO(bad); }), 212) << bad;
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              "Invalid record number = " + std::to_string(bad) + " Database \"" + name + "\" [GO]");
    EXPECT_EQ(RecNo(), 6) << bad;
    EXPECT_TRUE(dEOF()) << bad;
    EXPECT_FALSE(dBOF()) << bad;
  }
  // Raised when dispatching is on; a good GO clears the flags and the error.
  EXPECT_THROW(GO(0), EngineError);
  GO(1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(RecNo(), 1);

  // The record reader itself.
  WorkArea& a = *CurrentTable();
  {
    ScopedErrorDispatch quiet(false);
    EXPECT_FALSE(GetDbfRecord(a, 0));
    EXPECT_EQ(Engine().Errors.ErrorCode, 212);
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              "Invalid record number = 0 (" + name + ")  [GetDbfRecord]");
    EXPECT_FALSE(GetDbfRecord(a, 6));
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              "Invalid record number = 6 (" + name + ")  [GetDbfRecord]");
    EXPECT_EQ(a.RecNo, 1);
    ClearError();
    EXPECT_TRUE(GetDbfRecord(a, 2));
    EXPECT_EQ(Engine().Errors.ErrorCode, 0);
    EXPECT_EQ(a.RecNo, 2);
    // Reading does not unpack: the native record still holds record 1.
    EXPECT_EQ(Text(1), "Rec1      ");
    Unpack(a);
    EXPECT_EQ(Text(1), "Rec2      ");
  }

  // Dbf4RawGo: no filter, no message of its own past the end.
  SetFilterProc([] { return false; });
  RawGo(2);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 2);
  EXPECT_EQ(Text(1), "Rec2      ");
  RawGo(3);
  EXPECT_TRUE(Deleted());
  RawGo(9);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 6);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(Text(1), Blanks(10));
  EXPECT_EQ(Int(2), 0);
  EXPECT_FALSE(Deleted());
  EXPECT_EQ(Quiet([] { RawGo(0); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid record number = 0 [Dbf4RawGo]");
  EXPECT_EQ(Quiet([] { RawGo(-4); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid record number = -4 [Dbf4RawGo]");
  EXPECT_THROW(RawGo(0), EngineError);
  SetFilterProc(nullptr);

  // An empty table: both flags, a blank record, 212.
  Numbered("empty.dbf", 0);
  Select(2);
  USE("empty.dbf");
  const std::string emptyName = Shown("EMPTY.DBF");
  EXPECT_EQ(Quiet([] { GO(1); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Invalid record number = 1 Database \"" + emptyName + "\" [GO]");
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(Text(1), Blanks(10));
  EXPECT_EQ(Int(2), 0);
  RawGo(1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(dEOF());
}

TEST_F(NavTest, ShortReadsReport213) {
  // The header promises 5 records, the file holds 3 (the fourth is cut).
  DbfBuilder b;
  b.Field("NAME", 'C', 10).HeaderRecordCount(5).EndMarker(false);
  b.Record({"one"}).Record({"two"}).Record({"three"}).RawRecord(" fou");
  b.Write("short.dbf");
  USE("short.dbf exclusive");
  const std::string name = Shown("SHORT.DBF");
  ASSERT_EQ(RecCount(), 5);
  WorkArea& a = *CurrentTable();
  {
    ScopedErrorDispatch quiet(false);
    EXPECT_FALSE(GetDbfRecord(a, 4));
    EXPECT_EQ(Engine().Errors.ErrorCode, 213);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "File:  " + name + "  [GetDbfRecord]");
    EXPECT_FALSE(GetDbfRecord(a, 5));
    EXPECT_EQ(Engine().Errors.ErrorCode, 213);
  }
  GO(3);
  EXPECT_EQ(Quiet([] { GO(4); }), 213);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "File:  " + name + "  [GetDbfRecord]");
  EXPECT_EQ(RecNo(), 3);  // the pointer did not move
  EXPECT_EQ(Text(1), "three     ");
  EXPECT_THROW(GO(5), EngineError);
  EXPECT_EQ(Quiet([] { RawGo(4); }), 213);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "File:  " + name + "  [GetDbfRecord] [Dbf4RawGo]");
  GO(3);
  EXPECT_EQ(Quiet([] { SKIP(1); }), 213);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(Quiet([] { GoBottom(); }), 213);

  // An installed handler hears of each failure once.
  int handled = 0;
  Engine().Errors.ErrorHandler = [&handled] { ++handled; };
  GO(3);
  GO(4);
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 213);
  EXPECT_EQ(RecNo(), 3);
  SKIP(1);
  EXPECT_EQ(handled, 2);
  GoBottom();
  EXPECT_EQ(handled, 3);
  RawGo(5);
  EXPECT_EQ(handled, 4);
  GO(2);
  EXPECT_EQ(handled, 4);
  EXPECT_EQ(Text(1), "two       ");
  Engine().Errors.ErrorHandler = nullptr;
}

TEST_F(NavTest, SkipMovesOverVisibleRecords) {
  // Deleted records at both ends and in runs.
  Numbered("nav.dbf", 11, {1, 2, 4, 6, 7, 10, 11});
  USE("nav.dbf");
  const std::string name = Shown("NAV.DBF");

  // Deleted records are shown while HideDeleted is off.
  EXPECT_EQ(Forward(), (Recs{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(Backward(), (Recs{11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));

  Engine().Settings.HideDeleted = true;
  EXPECT_EQ(Forward(), (Recs{3, 5, 8, 9}));
  EXPECT_EQ(Backward(), (Recs{9, 8, 5, 3}));

  GoTop();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(dBOF());
  EXPECT_FALSE(Deleted());
  SKIP(3);  // over 4, 6 and 7: the third visible record after 3
  EXPECT_EQ(RecNo(), 9);
  EXPECT_EQ(Text(1), "Rec9      ");
  EXPECT_FALSE(dEOF());
  // SKIP(1) on the last visible record: past the end with a blank record.
  SKIP(1);
  EXPECT_EQ(RecNo(), 12);
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(dBOF());
  EXPECT_EQ(Text(1), Blanks(10));
  EXPECT_EQ(FieldAddress(1)[0], 10);
  EXPECT_EQ(Int(2), 0);
  EXPECT_FALSE(Deleted());
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Database \"" + name + "\" is past EOF. [SKIP]");
  EXPECT_EQ(RecNo(), 12);
  EXPECT_THROW(SKIP(2), EngineError);
  // Back from the end: the last visible record.
  SKIP(-1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 9);
  EXPECT_FALSE(dEOF());
  SKIP(-2);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_FALSE(dBOF());
  // SKIP(-1) on the first visible record: BOF, the record stays current.
  SKIP(-1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(dBOF());
  SKIP(-1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(Text(1), "Rec3      ");
  // A further step back does nothing, and reports nothing.
  SKIP(-1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
  // Forward again from BOF.
  SKIP(1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_FALSE(dBOF());
  // Too far back in one step: BOF on the first visible record.
  GoBottom();
  EXPECT_EQ(RecNo(), 9);
  SKIP(-10);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
  // Too far forward in one step.
  GoTop();
  SKIP(4);
  EXPECT_EQ(RecNo(), 12);
  EXPECT_TRUE(dEOF());
  GoTop();
  SKIP(3);
  EXPECT_EQ(RecNo(), 9);

  // SKIP(0) reads the current record again (another program changed it).
  GO(5);
  {
    std::fstream f("nav.dbf", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(CurrentTable()->HeaderLen + 4 * 14 + 1);
    f.write("Five", 4);
  }
  EXPECT_EQ(Text(1), "Rec5      ");
  SKIP(0);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Text(1), "Five      ");
  // SKIP(0) past the end keeps the blank record.
  GoBottom();
  SKIP(1);
  SKIP(0);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 12);
  EXPECT_EQ(Text(1), Blanks(10));

  // A deleted current record (reached by GO) is passed over in both ways.
  GO(6);
  SKIP(1);
  EXPECT_EQ(RecNo(), 8);
  GO(6);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 5);
  GO(2);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
}

TEST_F(NavTest, NoVisibleRecordAndEmptyTables) {
  Numbered("gone.dbf", 4, {1, 2, 3, 4});
  Engine().Settings.HideDeleted = true;
  USE("gone.dbf");
  const std::string name = Shown("GONE.DBF");
  GoTop();
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Text(1), Blanks(10));
  EXPECT_FALSE(Deleted());
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Database \"" + name + "\" is past EOF. [SKIP]");
  EXPECT_EQ(Quiet([] { SKIP(-1); }), 0);
  EXPECT_EQ(RecNo(), 5);
  GO(2);
  EXPECT_TRUE(Deleted());
  GoBottom();
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Text(1), Blanks(10));
  EXPECT_EQ(Forward(), Recs{});
  // A filter that rejects everything hides the records just as well.
  Engine().Settings.HideDeleted = false;
  EXPECT_EQ(Forward(), (Recs{1, 2, 3, 4}));
  SetFilterProc([] { return false; });
  GoTop();
  EXPECT_TRUE(dBOF() && dEOF());
  EXPECT_EQ(RecNo(), 5);
  GO(3);
  SKIP(-1);
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 5);

  Numbered("empty.dbf", 0);
  Select(2);
  USE("empty.dbf");
  const std::string emptyName = Shown("EMPTY.DBF");
  EXPECT_EQ(RecCount(), 0);
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Database \"" + emptyName + "\" is past EOF. [SKIP]");
  EXPECT_EQ(Quiet([] { SKIP(-1); }), 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Database \"" + emptyName + "\" is empty. [SKIP]");
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(Quiet([] { GoTop(); }), 0);
  EXPECT_TRUE(dBOF() && dEOF());
  EXPECT_EQ(Quiet([] { GoBottom(); }), 0);
  EXPECT_TRUE(dBOF() && dEOF());
  EXPECT_EQ(Text(1), Blanks(10));
  SKIP(0);
  EXPECT_EQ(Text(1), Blanks(10));
}

// A damaged header may make a memo field wide enough for any number of
// digits; no count of them names a block.
TEST_F(NavTest, AMemoNumberOfAnyLengthBeyond32BitsIsOutOfRange) {
  DbfBuilder b;
  b.Field("NAME", 'C', 4).Field("NOTES", 'M', 40);
  const std::vector<std::string> numbers = {"2147483648", "66666666666666666666",
                                            std::string(40, '9'), " 7" + std::string(30, '6')};
  for (const std::string& n : numbers) b.Record({"x", n});
  b.Write("wide.dbf");
  USE("wide.dbf");
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    GO(static_cast<std::int64_t>(i) + 1);
    EXPECT_EQ(Int(2), kMemoOutOfRange) << numbers[i];
  }
}

// Memo block numbers as other programs write them: blanks on either side,
// signs, zeros in front, too many digits, stray bytes. A number is read when
// the field holds one whole (a value beyond 32 bits names no block); any
// other text names no memo.
TEST_F(NavTest, MemoNumbersAreReadAsWrittenInEveryShape) {
  std::mt19937 rng(21);
  const std::string pieces[] = {
      " ",          "  ", "0", "7", "42", "123456789", "2147483647",
      "2147483648", "-",  "+", "x", ".",  "\t",        std::string(1, '\0')};
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    const int parts = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < parts; ++k) t += pieces[rng() % std::size(pieces)];
    texts.push_back(t.substr(0, 12));
  }
  const auto expected = [](std::string t) -> std::int32_t {
    while (!t.empty() && static_cast<unsigned char>(t.back()) < 33) t.pop_back();
    std::size_t b = 0;
    while (b < t.size() && static_cast<unsigned char>(t[b]) < 33) ++b;
    t = t.substr(b);
    std::size_t d = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (d == t.size()) return 0;
    for (std::size_t i = d; i < t.size(); ++i)
      if (t[i] < '0' || t[i] > '9') return 0;
    long double v = 0;
    for (std::size_t i = d; i < t.size(); ++i) v = v * 10 + (t[i] - '0');
    if (v > 2147483647.0L) return kMemoOutOfRange;
    return static_cast<std::int32_t>(t[0] == '-' ? -v : v);
  };
  DbfBuilder b;
  b.Field("NAME", 'C', 4).Field("NOTES", 'M', 12);
  for (const std::string& t : texts) b.Record({"x", t});
  b.Write("shapes.dbf");
  USE("shapes.dbf");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    GO(static_cast<std::int64_t>(i) + 1);
    ASSERT_EQ(Int(2), expected(texts[i])) << "memo field [" << texts[i] << "]";
  }
}

TEST_F(NavTest, FieldsAndTheNativeRecord) {
  DbfBuilder b;
  b.Field("NAME", 'C', 8)
      .Field("born", 'D', 8)
      .Field("SCORE", 'N', 5, 2)
      .Field("LEVEL", 'N', 5)
      .Field("ALIVE", 'L', 1)
      .Field("NOTES", 'M', 10)
      .Field("RATE", 'F', 8, 3)
      .Field("BIG", 'N', 12);
  b.Record({"Ab", "19991231", "3.50", "-12", "y", "42", "-0.125", "99999999999"});
  b.Record({"", "", "", "", "N", "", "", "-99999999999"}, true);
  b.Record({"x", "20240229", "-9.99", "+7", "F", "9999999999", "100.5", "2147483647"});
  b.Record({"ab   cd", "20000101", "0.01", "32768", " ", "2147483647", "12", "-2147483648"});
  b.Record({"", "", "", "", "T", "2147483648", "", ""});
  b.Record({"", "", "", "", "t", "  17   ", "", ""});
  b.Record({"", "", "", "", "Y", "", "", ""});
  b.Write("f.dbf");
  USE("f.dbf");

  EXPECT_EQ(FieldCount(), 8);
  EXPECT_EQ(RecSize(), 1u + 8 + 8 + 5 + 5 + 1 + 10 + 8 + 12);
  const char types[] = "CDNNLMFN";
  const int lens[] = {8, 8, 5, 5, 1, 10, 8, 12};
  const int decs[] = {0, 0, 2, 0, 0, 0, 3, 0};
  const char* names[] = {"NAME", "born", "SCORE", "LEVEL", "ALIVE", "NOTES", "RATE", "BIG"};
  for (int i = 1; i <= 8; ++i) {
    EXPECT_EQ(FieldType(i), types[i - 1]) << i;
    EXPECT_EQ(FieldLen(i), lens[i - 1]) << i;
    EXPECT_EQ(FieldDec(i), decs[i - 1]) << i;
    EXPECT_EQ(Field(i), names[i - 1]) << i;
    EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  }
  // Slots follow one another: flag, C len+1, D 11, N with decimals 6,
  // N without 4, L 1, M 4.
  const std::ptrdiff_t slots[] = {1, 9, 11, 6, 4, 1, 4, 6, 4};
  std::ptrdiff_t at = 0;
  for (int i = 1; i <= 8; ++i) {
    at += slots[i - 1];
    EXPECT_EQ(FieldAddress(i) - FieldAddress(0), at) << i;
  }
  EXPECT_EQ(at + slots[8], static_cast<std::ptrdiff_t>(CurrentTable()->NativeSize));

  // Field names: cut to 10, trimmed right, any ASCII case; unknown is 0.
  EXPECT_EQ(FieldNo("NAME"), 1);
  EXPECT_EQ(FieldNo("name"), 1);
  EXPECT_EQ(FieldNo("BORN"), 2);
  EXPECT_EQ(FieldNo("Score   "), 3);
  EXPECT_EQ(FieldNo("level     and more"), 4);
  EXPECT_EQ(FieldNo("NOTESxxxxxxx"), 0);
  EXPECT_EQ(FieldNo(" NAME"), 0);
  EXPECT_EQ(FieldNo("NAM"), 0);
  EXPECT_EQ(FieldNo(""), 0);
  EXPECT_EQ(FieldNo("BIGGER"), 0);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);

  // Bad field numbers.
  {
    ScopedErrorDispatch quiet(false);
    for (int bad : {0, -1, 9}) {
      const std::string n = std::to_string(bad);
      EXPECT_EQ(FieldType(bad), ' ');
      EXPECT_EQ(Engine().Errors.ErrorCode, 220);
      EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid field number. [FieldType(" + n + ")]");
      EXPECT_EQ(FieldLen(bad), 0);
      EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid field number. [FieldLen(" + n + ")]");
      EXPECT_EQ(FieldDec(bad), 0);
      EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid field number. [FieldDec(" + n + ")]");
      EXPECT_EQ(Field(bad), "");
      EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid field number. [Field(" + n + ")]");
      if (bad != 0) {
        EXPECT_EQ(FieldAddress(bad), nullptr);
        EXPECT_EQ(Engine().Errors.ErrorCode, 220);
        EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid field number. [FieldAddress(" + n + ")]");
      }
    }
    EXPECT_NE(FieldAddress(0), nullptr);
    EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  }
  EXPECT_THROW(FieldType(9), EngineError);
  EXPECT_THROW(FieldAddress(-2), EngineError);

  // Record 1.
  GO(1);
  EXPECT_FALSE(Deleted());
  EXPECT_EQ(FieldAddress(0)[0], 0);
  EXPECT_EQ(FieldAddress(1)[0], 8);
  EXPECT_EQ(Text(1), "Ab      ");  // trailing blanks kept
  EXPECT_EQ(Text(2), "12/31/99");
  EXPECT_EQ(FieldAddress(2)[0], 8);
  EXPECT_DOUBLE_EQ(Real(3), 3.5);
  EXPECT_EQ(Int(4), -12);
  EXPECT_EQ(FieldAddress(5)[0], 1);
  EXPECT_EQ(Int(6), 42);
  EXPECT_DOUBLE_EQ(Real(7), -0.125);
  EXPECT_EQ(Int(8), INT32_MAX);  // beyond 32 bits: clamped

  // Record 2: deleted, blank values.
  GO(2);
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(FieldAddress(0)[0], 1);
  EXPECT_EQ(Text(1), Blanks(8));
  EXPECT_EQ(Text(2), "  /  /  ");
  EXPECT_EQ(Real(3), 0.0);
  EXPECT_EQ(FieldAddress(3)[0], 0);
  EXPECT_EQ(Int(4), 0);
  EXPECT_EQ(FieldAddress(5)[0], 0);
  EXPECT_EQ(Int(6), 0);
  EXPECT_EQ(Int(8), INT32_MIN);

  GO(3);
  EXPECT_EQ(Text(1), "x       ");
  EXPECT_EQ(Text(2), "02/29/24");
  EXPECT_NEAR(Real(3), -9.99, 1e-10);
  EXPECT_EQ(Int(4), 7);
  EXPECT_EQ(FieldAddress(5)[0], 0);
  EXPECT_EQ(Int(6), kMemoOutOfRange);  // ten digits, beyond 32 bits
  EXPECT_DOUBLE_EQ(Real(7), 100.5);
  EXPECT_EQ(Int(8), INT32_MAX);

  GO(4);
  EXPECT_EQ(Text(1), "ab   cd ");
  EXPECT_NEAR(Real(3), 0.01, 1e-12);
  EXPECT_EQ(Int(4), 32768);
  EXPECT_EQ(FieldAddress(5)[0], 0);  // a blank is false
  EXPECT_EQ(Int(6), INT32_MAX);      // still fits 32 bits
  EXPECT_DOUBLE_EQ(Real(7), 12.0);
  EXPECT_EQ(Int(8), INT32_MIN);

  GO(5);
  EXPECT_EQ(FieldAddress(5)[0], 1);
  EXPECT_EQ(Int(6), kMemoOutOfRange);
  EXPECT_EQ(Int(8), 0);
  GO(6);
  EXPECT_EQ(FieldAddress(5)[0], 1);
  EXPECT_EQ(Int(6), 17);
  GO(7);
  EXPECT_EQ(FieldAddress(5)[0], 1);

  // Dates follow the date format and century of the moment of reading.
  SetDateFormat(kGerman);
  SetCentury(true);
  EXPECT_EQ(FieldLen(2), 10);
  GO(1);
  EXPECT_EQ(Text(2), "31.12.1999");
  EXPECT_EQ(FieldAddress(2)[0], 10);
  SetDateFormat(kAnsi);
  SetCentury(false);
  EXPECT_EQ(FieldLen(2), 8);
  SKIP(0);
  EXPECT_EQ(Text(2), "99.12.31");

  // ClearRecord: every slot blank or zero.
  SetDateFormat(kGerman);
  SetCentury(true);
  GO(2);
  ASSERT_TRUE(Deleted());
  ClearRecord();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_FALSE(Deleted());
  EXPECT_EQ(FieldAddress(1)[0], 8);
  EXPECT_EQ(Text(1), Blanks(8));
  EXPECT_EQ(Text(2), "  .  .    ");
  EXPECT_EQ(std::memcmp(FieldAddress(3), "\0\0\0\0\0\0", 6), 0);
  EXPECT_EQ(Int(4), 0);
  EXPECT_EQ(FieldAddress(5)[0], 0);
  EXPECT_EQ(Int(6), 0);
  EXPECT_EQ(Real(7), 0.0);
  EXPECT_EQ(Int(8), 0);
  // The pointer has not moved.
  EXPECT_EQ(RecNo(), 2);
}

TEST_F(NavTest, PackWritesTheNativeRecordBack) {
  DbfBuilder b;
  b.Field("NAME", 'C', 6)
      .Field("BORN", 'D', 8)
      .Field("SCORE", 'N', 6, 2)
      .Field("LEVEL", 'N', 4)
      .Field("ALIVE", 'L', 1)
      .Field("NOTES", 'M', 10);
  b.Record({"Doom", "19931210", "12.25", "-7", "T", "         5"});
  b.Record({"", "", "", "", "", ""}, true);
  b.Write("p.dbf");
  USE("p.dbf");
  WorkArea& a = *CurrentTable();
  const auto raw = [&a] { return std::string(a.RawRec.begin(), a.RawRec.end()); };

  // What was read packs back to the same bytes.
  GO(1);
  const std::string first = raw();
  Pack(a);
  EXPECT_EQ(raw(), first);
  GO(2);
  const std::string second = raw();
  Pack(a);
  // Unchanged fields keep their stored bytes, blanks included.
  EXPECT_EQ(raw(), second);
  // Changed ones are written in their canonical form: blank numbers that
  // became 0 as zeros, a blank logical set to false as F.
  DoubleToReal48(1.0, NativeRecord(a) + a.Fields[2].NativeOffset);
  DoubleToReal48(0.0, NativeRecord(a) + a.Fields[2].NativeOffset);
  NativeRecord(a)[a.Fields[4].NativeOffset] = 1;
  Pack(a);
  NativeRecord(a)[a.Fields[4].NativeOffset] = 0;
  Pack(a);
  EXPECT_EQ(raw(),
            std::string("*") + Blanks(6) + Blanks(8) + Blanks(6) + Blanks(4) + "F" + Blanks(10));

  // Values put into the native record.
  std::uint8_t* n = NativeRecord(a);
  n[0] = 0;
  FieldAddress(1)[0] = 3;
  std::memcpy(FieldAddress(1) + 1, "QuakeX", 6);
  std::memcpy(FieldAddress(2) + 1, "02/29/24", 8);
  FieldAddress(2)[0] = 8;
  ASSERT_TRUE(DoubleToReal48(-3.456, FieldAddress(3)));
  SetNativeInt(FieldAddress(4), 123);
  FieldAddress(5)[0] = 1;
  SetNativeInt(FieldAddress(6), 77);
  Pack(a);
  EXPECT_EQ(raw(),
            std::string(" ") + "Qua   " + "20240229" + " -3.46" + " 123" + "T" + "        77");
  // Numbers that do not fit are stars.
  SetNativeInt(FieldAddress(4), 12345);
  ASSERT_TRUE(DoubleToReal48(1000.0, FieldAddress(3)));
  SetNativeInt(FieldAddress(6), 0);
  Pack(a);
  EXPECT_EQ(raw().substr(15, 10),
            "******"
            "****");
  EXPECT_EQ(raw().substr(26, 10), Blanks(10));
  // Unpack gives the values back.
  SetNativeInt(FieldAddress(4), -999);
  ASSERT_TRUE(DoubleToReal48(99.5, FieldAddress(3)));
  SetNativeInt(FieldAddress(6), 2147483647);
  n[0] = 1;
  Pack(a);
  ClearRecord();
  Unpack(a);
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(Text(1), "Qua   ");
  EXPECT_EQ(Text(2), "02/29/24");
  EXPECT_DOUBLE_EQ(Real(3), 99.5);
  EXPECT_EQ(Int(4), -999);
  EXPECT_EQ(FieldAddress(5)[0], 1);
  EXPECT_EQ(Int(6), 2147483647);
}

TEST_F(NavTest, CharacterSetsDecodingAndPeek) {
  // 0x81 is u-umlaut in the OEM code page, 0xFC in ANSI.
  DbfBuilder b;
  b.Field("NAME", 'C', 6).Field("N", 'N', 2);
  b.Record({"M\x81nz", "1"}).Record({"\x81\x81", "2"}, true);
  b.Write("oem.dbf");
  USE("oem.dbf");
  EXPECT_EQ(Text(1), "M\xFCnz  ");
  GO(2);
  EXPECT_EQ(Text(1), "\xFC\xFC    ");
  EXPECT_TRUE(Deleted());  // the flag is not converted
  EXPECT_EQ(Int(2), 2);
  // Peek: the stored bytes, deleted or not, no conversion, no move.
  GO(1);
  EXPECT_EQ(Peek(1, 1), "M\x81nz  ");
  EXPECT_EQ(Peek(1, 2), "\x81\x81    ");
  EXPECT_EQ(Peek(2, 2), " 2");
  EXPECT_EQ(Peek(0, 1), " ");
  EXPECT_EQ(Peek(0, 2), "*");
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(Text(1), "M\xFCnz  ");
  // Out of range: empty, no error (and nothing raised).
  EXPECT_EQ(Peek(1, 0), "");
  EXPECT_EQ(Peek(1, 3), "");
  EXPECT_EQ(Peek(-1, 1), "");
  EXPECT_EQ(Peek(3, 1), "");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  // Peek sees what another program wrote once the count is refreshed.
  {
    std::fstream f("oem.dbf", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(CurrentTable()->HeaderLen + 1);
    f.write("Z", 1);
  }
  (void)RecCount();
  EXPECT_EQ(Peek(1, 1), "Z\x81nz  ");
  CloseArea();

  // A table declared ANSI is read as it is.
  Engine().Settings.AnsiTables = true;
  USE("oem.dbf");
  EXPECT_EQ(Text(1), "Z\x81nz  ");
  CloseArea();
  Engine().Settings.AnsiTables = false;

  // A decode procedure: it sees the stored bytes after the flag, before the
  // conversion. Here the text is stored with every byte XOR 0x20.
  std::string scrambled = " ";
  for (char c : std::string("M\x81nz  ") + " 5") scrambled += static_cast<char>(c ^ 0x20);
  DbfBuilder e;
  e.Field("NAME", 'C', 6)
      .Field("N", 'N', 2)
      .RawRecord(scrambled)
      .RawRecord("*" + scrambled.substr(1));
  e.Write("enc.dbf");
  std::vector<std::string> seen;
  RecordProc decode = [&seen](std::uint8_t* p, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) p[i] ^= 0x20;
    seen.emplace_back(reinterpret_cast<char*>(p), count);
  };
  USE("enc.dbf", nullptr, 0, nullptr, decode);
  ASSERT_NE(CurrentTable(), nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "M\x81nz   5");
  EXPECT_EQ(Text(1), "M\xFCnz  ");
  EXPECT_EQ(Int(2), 5);
  SKIP(1);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(Text(1), "M\xFCnz  ");
  EXPECT_EQ(Peek(1, 1), scrambled.substr(1, 6));
}

TEST_F(NavTest, SharedTablesSeeRecordsOfOtherWriters) {
  Numbered("share.dbf", 3, {}, false);
  const auto appendRecord = [](const std::string& name, int level) {
    std::ofstream f("share.dbf", std::ios::binary | std::ios::app);
    std::string rec = " " + name;
    rec.resize(11, ' ');
    std::string lv = std::to_string(level);
    rec += std::string(3 - lv.size(), ' ') + lv;
    f.write(rec.data(), static_cast<std::streamsize>(rec.size()));
  };
  USE("share.dbf");
  GoBottom();
  EXPECT_EQ(RecNo(), 3);
  appendRecord("Four", 4);
  EXPECT_EQ(RecCount(), 4);
  SKIP(1);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_EQ(Text(1), "Four      ");
  EXPECT_FALSE(dEOF());
  // SKIP forward finds a record written while standing on the last one.
  appendRecord("Five", 5);
  SKIP(1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Int(2), 5);
  EXPECT_FALSE(dEOF());
  // GO above the known count looks at the file first.
  appendRecord("Six", 6);
  GO(6);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(Text(1), "Six       ");
  // GoBottom too.
  appendRecord("Seven", 7);
  GoBottom();
  EXPECT_EQ(RecNo(), 7);
  // dEOF sees the file shrink under the pointer, once the short window in
  // which a walk trusts its last look at the file has passed.
  std::filesystem::resize_file("share.dbf", CurrentTable()->HeaderLen + 5 * 14);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecCount(), 5);
  CloseArea();

  // An exclusive table trusts its own count.
  Numbered("share.dbf", 3, {}, false);
  USE("share.dbf exclusive");
  GoBottom();
  appendRecord("Four", 4);
  EXPECT_EQ(RecCount(), 3);
  SKIP(1);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 4);
}

TEST_F(NavTest, AfterMoveProcedure) {
  Numbered("main.dbf", 5, {2});
  Numbered("child.dbf", 3);
  Select(2);
  USE("child.dbf");
  Select(1);
  USE("main.dbf");
  WorkArea& a = *CurrentTable();
  const std::string name = Shown("MAIN.DBF");

  int calls = 0;
  std::int64_t seenRec = -1;
  bool seenBof = false, seenEof = false, installedDuringCall = true;
  SetAfterMove([&] {
    ++calls;
    seenRec = RecNo();
    seenBof = dBOF();
    seenEof = dEOF();
    installedDuringCall = static_cast<bool>(a.AfterMove);
  });
  GO(3);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenRec, 3);
  EXPECT_FALSE(installedDuringCall);
  EXPECT_TRUE(static_cast<bool>(a.AfterMove));
  SKIP(1);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(seenRec, 4);
  SKIP(0);
  EXPECT_EQ(calls, 3);
  GoTop();
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(seenRec, 1);
  GoBottom();
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(seenRec, 5);
  SKIP(1);
  EXPECT_EQ(calls, 6);
  EXPECT_TRUE(seenEof);
  RawGo(2);
  EXPECT_EQ(calls, 6);
  RawGo(2, true);
  EXPECT_EQ(calls, 7);
  EXPECT_EQ(seenRec, 2);
  // One call per move, with the final state: stepping back before the
  // first record is one move that ends on BOF.
  GO(1);
  calls = 0;
  SKIP(-1);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(seenBof);
  EXPECT_EQ(seenRec, 1);
  // A step back at BOF is no move, nor is a refused step past the end.
  SKIP(-1);
  EXPECT_EQ(calls, 1);
  GoBottom();
  SKIP(1);
  calls = 0;
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(calls, 0);
  // A failing GO still calls it, and its message survives the call.
  calls = 0;
  SetAfterMove([&] { ++calls; });
  EXPECT_EQ(Quiet([] { GO(0); }), 212);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Invalid record number = 0 Database \"" + name + "\" [GO]");
  EXPECT_THROW(GO(99), EngineError);

  // Moving another area inside the call: the current area comes back.
  std::int64_t childRec = 0;
  SetAfterMove([&] {
    Select(2);
    GO(RecNo() == 3 ? 1 : 3);
    childRec = RecNo();
  });
  GO(4);
  EXPECT_EQ(SelectedArea(), 1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_EQ(childRec, 3);
  // Moving its own area (no recursion, but the relation is cyclical).
  calls = 0;
  SetAfterMove([&] {
    ++calls;
    GO(RecNo() == 1 ? 3 : 1);
  });
  EXPECT_EQ(Quiet([] { GO(4); }), 224);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Engine().Errors.ErrorDetail, a.FileName);
  EXPECT_EQ(Engine().Errors.ErrorDetail, name);
  EXPECT_EQ(RecNo(), 1);
  try {
    GO(4);
    ADD_FAILURE() << "no error raised";
  } catch (const EngineError& e) {
    EXPECT_NE(std::string(e.what()).find("Cyclical relationship detected"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
  }
  // Re-reading the same record inside the call is no cycle.
  SetAfterMove([&] {
    ++calls;
    SKIP(0);
  });
  calls = 0;
  EXPECT_EQ(Quiet([] { GO(3); }), 0);
  EXPECT_EQ(calls, 1);
  // An error of the procedure itself is left as it reported it.
  SetAfterMove([] { SetError(100, "from the procedure"); });
  EXPECT_EQ(Quiet([] { GO(3); }), 100);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "from the procedure");
  // A raised error leaves the area current and the procedure installed.
  calls = 0;
  SetAfterMove([&] {
    ++calls;
    Select(2);
    GO(99);
  });
  EXPECT_THROW(GO(3), EngineError);
  EXPECT_EQ(SelectedArea(), 1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_THROW(GO(4), EngineError);
  EXPECT_EQ(calls, 2);
  // Removed.
  SetAfterMove(nullptr);
  GO(5);
  EXPECT_EQ(calls, 2);
}

TEST_F(NavTest, FilterAndWhileProcedures) {
  Numbered("nav.dbf", 8, {6});
  USE("nav.dbf");
  const auto level = [] { return Int(2); };
  EXPECT_FALSE(IsWhileOn());

  // A filter on even levels.
  SetFilterProc([&] { return level() % 2 == 0; });
  EXPECT_EQ(Forward(), (Recs{2, 4, 6, 8}));
  EXPECT_EQ(Backward(), (Recs{8, 6, 4, 2}));
  Engine().Settings.HideDeleted = true;
  EXPECT_EQ(Forward(), (Recs{2, 4, 8}));
  EXPECT_EQ(Backward(), (Recs{8, 4, 2}));
  GO(3);  // GO lands on a filtered record
  EXPECT_EQ(RecNo(), 3);
  SKIP(1);
  EXPECT_EQ(RecNo(), 4);
  GoTop();
  SKIP(-1);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), 2);
  SetFilterProc(nullptr);
  Engine().Settings.HideDeleted = false;
  EXPECT_EQ(Forward(), (Recs{1, 2, 3, 4, 5, 6, 7, 8}));

  // A while condition that fails forward: EOF on the failing record.
  SetWhileProc([&] { return level() < 5; });
  EXPECT_TRUE(IsWhileOn());
  GO(2);
  SKIP(1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(dEOF());
  SKIP(5);
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(dBOF());
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);

  // Failing backward: BOF on the last visible record that held.
  SetWhileProc([&] { return level() >= 4; });
  GO(6);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_FALSE(dBOF());
  GO(6);
  SKIP(-5);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dBOF());
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(Text(1), "Rec4      ");
  // With a filter: odd levels hidden, deleted 6 hidden.
  Engine().Settings.HideDeleted = true;
  SetFilterProc([&] { return level() % 2 == 0; });
  SetWhileProc([&] { return level() >= 5; });
  GO(8);
  SKIP(-3);  // 7 hidden, 6 deleted, 5 hidden, 4 fails the condition
  EXPECT_EQ(RecNo(), 8);
  EXPECT_TRUE(dBOF());
  SetFilterProc(nullptr);
  Engine().Settings.HideDeleted = false;
  // None met: past the end, BOF set.
  SetWhileProc([] { return false; });
  GoBottom();
  SetWhileProc(nullptr);
  SKIP(1);
  ASSERT_TRUE(dEOF());
  SetWhileProc([] { return false; });
  SKIP(-1);
  EXPECT_EQ(RecNo(), 9);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(Text(1), Blanks(10));
  SetWhileProc(nullptr);
  EXPECT_FALSE(IsWhileOn());

  // Compiled expressions go through the evaluator; without one they
  // neither hide records nor end a scan.
  WorkArea& a = *CurrentTable();
  a.FilterExpr = std::make_unique<AreaExpression>();
  a.WhileExpr = std::make_unique<AreaExpression>();
  EXPECT_TRUE(IsWhileOn());
  EXPECT_EQ(Forward(), (Recs{1, 2, 3, 4, 5, 6, 7, 8}));
  static int evaluations = 0;
  Engine().Evaluator.IsTrue = [](AreaExpression&) {
    ++evaluations;
    return Int(2) % 3 != 0;
  };
  EXPECT_EQ(Forward(), (Recs{1, 2}));  // 3 fails both; as the while condition it ends the scan
  EXPECT_GT(evaluations, 0);
  a.WhileExpr.reset();
  EXPECT_FALSE(IsWhileOn());
  EXPECT_EQ(Forward(), (Recs{1, 2, 4, 5, 7, 8}));
  // A filter procedure takes precedence over the expression.
  SetFilterProc([] { return Int(2) > 6; });
  EXPECT_EQ(Forward(), (Recs{7, 8}));
}

TEST_F(NavTest, CustomSkipProcedure) {
  Numbered("nav.dbf", 9, {1});
  Engine().Settings.HideDeleted = true;
  USE("nav.dbf");
  std::vector<std::int64_t> steps;
  // Moves two records per step.
  Engine().CustomSkip = [&steps](std::int64_t n, bool& end) -> std::int64_t {
    steps.push_back(n);
    const std::int64_t target = CurrentTable()->RecNo + 2 * n;
    end = target < 1 || target > CurrentTable()->RecCount;
    return target;
  };
  GO(1);
  SKIP(1);
  EXPECT_EQ(RecNo(), 3);
  SKIP(2);
  EXPECT_EQ(RecNo(), 7);
  EXPECT_EQ(Text(1), "Rec7      ");
  SKIP(-1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(steps, (Recs{1, 2, -1}));
  // The procedure tells the end: forward EOF with a blank record.
  GO(8);
  SKIP(1);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 10);
  EXPECT_EQ(Text(1), Blanks(10));
  // Backward end: BOF on the first visible record (1 is hidden).
  GO(4);
  SKIP(-3);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), 2);
  EXPECT_EQ(steps.back(), -3);
  // SKIP's own checks come first.
  steps.clear();
  GO(9);
  SKIP(1);
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(steps.size(), 1u);
}

TEST_F(NavTest, MovesFollowTheIndexOrder) {
  // Deleted 2 and 7 stand first and last in the index order.
  Numbered("idx.dbf", 8, {2, 7});
  USE("idx.dbf");
  FakeIndex::Install({2, 5, 8, 1, 3, 6, 4, 7});
  EXPECT_EQ(Forward(), (Recs{2, 5, 8, 1, 3, 6, 4, 7}));
  EXPECT_EQ(Backward(), (Recs{7, 4, 6, 3, 1, 8, 5, 2}));
  EXPECT_TRUE(FakeIndex::Balanced());

  Engine().Settings.HideDeleted = true;
  EXPECT_EQ(Forward(), (Recs{5, 8, 1, 3, 6, 4}));
  EXPECT_EQ(Backward(), (Recs{4, 6, 3, 1, 8, 5}));
  EXPECT_TRUE(FakeIndex::Balanced());

  GoTop();
  EXPECT_EQ(RecNo(), 5);
  SKIP(3);
  EXPECT_EQ(RecNo(), 3);
  SKIP(2);
  EXPECT_EQ(RecNo(), 4);
  SKIP(1);  // past the end: the index says EOF
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(FakeIndex::eof);
  EXPECT_EQ(RecNo(), 9);
  EXPECT_EQ(Text(1), Blanks(10));
  SKIP(-1);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_FALSE(dEOF());
  GoBottom();
  EXPECT_EQ(RecNo(), 4);
  SKIP(-5);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_FALSE(dBOF());
  SKIP(-1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(FakeIndex::bof);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 5);
  // GO positions the index: the next step follows the order from there.
  GO(7);
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(FakeIndex::pos, 7u);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 4);
  GO(1);
  SKIP(1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(FakeIndex::Balanced());
  // Dbf4RawGo leaves the index alone.
  FakeIndex::log.clear();
  RawGo(2);
  RawGo(20);
  EXPECT_TRUE(FakeIndex::log.empty());
  EXPECT_EQ(RecNo(), 9);

  // GO: begin, synchronise, store the keys, end.
  FakeIndex::log.clear();
  GO(6);
  EXPECT_EQ(FakeIndex::log, (std::vector<std::string>{"begin", "sync", "store", "end"}));
  // Every move opens and closes the semaphore once.
  for (const auto& move : std::vector<std::function<void()>>{[] { GoTop(); }, [] { GoBottom(); },
                                                             [] { SKIP(1); }, [] { SKIP(-2); }}) {
    FakeIndex::begins = FakeIndex::ends = 0;
    move();
    EXPECT_GE(FakeIndex::begins, 1);
    EXPECT_TRUE(FakeIndex::Balanced());
  }

  // Every record hidden: both flags, in the index too.
  Numbered("gone.dbf", 3, {1, 2, 3});
  Select(2);
  FakeIndex::Install({3, 1, 2});
  USE("gone.dbf");
  GoTop();
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(FakeIndex::eof && FakeIndex::bof);
  GoBottom();
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dEOF() && dBOF());
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_TRUE(FakeIndex::Balanced());
}

TEST_F(NavTest, TheIndexSemaphoreIsClosedOnEveryPath) {
  // The header promises 6 records, the file holds 4.
  DbfBuilder b;
  b.Field("NAME", 'C', 4).HeaderRecordCount(6);
  for (int i = 1; i <= 4; ++i) b.Record({"R" + std::to_string(i)});
  b.Write("short.dbf");
  USE("short.dbf exclusive");
  ASSERT_EQ(RecCount(), 6);

  FakeIndex::Install({1, 2, 3, 4, 5, 6});
  // A bad record number.
  EXPECT_EQ(Quiet([] { GO(0); }), 212);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_THROW(GO(7), EngineError);
  EXPECT_TRUE(FakeIndex::Balanced());
  // A short read, reported quietly and raised.
  EXPECT_EQ(Quiet([] { GO(5); }), 213);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_THROW(GO(6), EngineError);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_EQ(FakeIndex::begins, 2);

  GO(4);
  EXPECT_EQ(Quiet([] { SKIP(1); }), 213);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_EQ(RecNo(), 4);
  GO(4);
  EXPECT_THROW(SKIP(1), EngineError);
  EXPECT_TRUE(FakeIndex::Balanced());

  FakeIndex::Install({5, 1, 2, 3, 4, 6});
  EXPECT_EQ(Quiet([] { GoTop(); }), 213);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_THROW(GoTop(), EngineError);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_EQ(Quiet([] { GoBottom(); }), 213);
  EXPECT_TRUE(FakeIndex::Balanced());
  EXPECT_THROW(GoBottom(), EngineError);
  EXPECT_TRUE(FakeIndex::Balanced());
  GO(1);
  EXPECT_EQ(Quiet([] { SKIP(-1); }), 213);
  EXPECT_TRUE(FakeIndex::Balanced());
  GO(1);
  EXPECT_THROW(SKIP(-1), EngineError);
  EXPECT_TRUE(FakeIndex::Balanced());
}

TEST_F(NavTest, SixByteReals) {
  std::uint8_t p[6];
  const auto bytes = [&p] { return std::vector<int>(p, p + 6); };
  ASSERT_TRUE(DoubleToReal48(1.0, p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x81, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(DoubleToReal48(-1.0, p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x81, 0, 0, 0, 0, 0x80}));
  ASSERT_TRUE(DoubleToReal48(0.5, p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x80, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(DoubleToReal48(3.5, p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x82, 0, 0, 0, 0, 0x60}));
  ASSERT_TRUE(DoubleToReal48(-10.0, p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x84, 0, 0, 0, 0, 0xA0}));
  // The least significant fraction byte comes first.
  ASSERT_TRUE(DoubleToReal48(1.0 + std::ldexp(1.0, -39), p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x81, 1, 0, 0, 0, 0}));
  ASSERT_TRUE(DoubleToReal48(1.0 + std::ldexp(1.0, -31), p));
  EXPECT_EQ(bytes(), (std::vector<int>{0x81, 0, 1, 0, 0, 0}));
  ASSERT_TRUE(DoubleToReal48(0.0, p));
  EXPECT_EQ(bytes(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(DoubleToReal48(-0.0, p));
  EXPECT_EQ(p[0], 0);

  // Reading: exponent 0 is zero whatever the other bytes hold.
  const std::uint8_t zeroish[6] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Real48ToDouble(zeroish), 0.0);
  const std::uint8_t two[6] = {0x82, 0, 0, 0, 0, 0};
  EXPECT_EQ(Real48ToDouble(two), 2.0);
  const std::uint8_t minusThree[6] = {0x82, 0, 0, 0, 0, 0xC0};
  EXPECT_EQ(Real48ToDouble(minusThree), -3.0);

  // Round trips: within the 40 bits of precision.
  std::vector<double> values = {1e-30,  0.1,           0.01,         1.0 / 3, 2.5,
                                99.99,  12345.678,     2147483647.0, 1e20,    3.4e37,
                                1.5e38, 123456789.125, 1e-38};
  std::uint64_t seed = 88172645463325252ULL;
  for (int i = 0; i < 2000; ++i) {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    const double mant = static_cast<double>(seed >> 11) / static_cast<double>(1ULL << 53);
    const int exp = static_cast<int>((seed >> 3) % 240) - 120;
    values.push_back(std::ldexp(0.5 + mant / 2, exp));
  }
  for (double v : values) {
    for (double s : {v, -v}) {
      ASSERT_TRUE(DoubleToReal48(s, p)) << s;
      const double back = Real48ToDouble(p);
      EXPECT_LE(std::fabs(back - s), std::fabs(s) * std::ldexp(1.0, -40)) << s;
      EXPECT_EQ(std::signbit(back), std::signbit(s)) << s;
    }
  }
  // Exact for values of up to 40 significant bits.
  for (double v : {1234567.0, -0.75, 1099511627775.0, 65535.5, -8.0}) {
    ASSERT_TRUE(DoubleToReal48(v, p));
    EXPECT_EQ(Real48ToDouble(p), v);
  }
  // Rounding up to the next power of two carries into the exponent.
  ASSERT_TRUE(DoubleToReal48(std::nextafter(2.0, 0.0), p));
  EXPECT_EQ(Real48ToDouble(p), 2.0);
  EXPECT_EQ(p[0], 0x82);

  // Range: the smallest is 2^-128, the largest just under 2^127.
  const double smallest = std::ldexp(1.0, -128);
  ASSERT_TRUE(DoubleToReal48(smallest, p));
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(Real48ToDouble(p), smallest);
  ASSERT_TRUE(DoubleToReal48(std::ldexp(1.0, -135), p));
  EXPECT_EQ(Real48ToDouble(p), 0.0);
  const double largest = std::ldexp(2.0 - std::ldexp(1.0, -39), 126);
  ASSERT_TRUE(DoubleToReal48(largest, p));
  EXPECT_EQ(Real48ToDouble(p), largest);
  ASSERT_TRUE(DoubleToReal48(1.7e38, p));
  for (double huge : {1e39, 1e300, std::numeric_limits<double>::infinity(), std::ldexp(1.0, 127)}) {
    EXPECT_FALSE(DoubleToReal48(huge, p)) << huge;
    EXPECT_EQ(Real48ToDouble(p), largest) << huge;
    EXPECT_FALSE(DoubleToReal48(-huge, p)) << huge;
    EXPECT_EQ(Real48ToDouble(p), -largest) << huge;
  }
  // Integers of the native record.
  std::uint8_t q[4];
  for (std::int32_t v : {0, 1, -1, 123456, INT32_MIN, INT32_MAX}) {
    SetNativeInt(q, v);
    EXPECT_EQ(NativeInt(q), v);
  }
  SetNativeInt(q, 0x01020304);
  EXPECT_EQ(q[0], 4);  // the machine's order: little-endian
}

TEST_F(NavTest, LenientIntegerReading) {
  EXPECT_EQ(LenientInt(""), 0);
  EXPECT_EQ(LenientInt("   "), 0);
  EXPECT_EQ(LenientInt("12"), 12);
  EXPECT_EQ(LenientInt("   42"), 42);
  EXPECT_EQ(LenientInt("-17"), -17);
  EXPECT_EQ(LenientInt("+5"), 5);
  EXPECT_EQ(LenientInt("  +  8"), 8);
  EXPECT_EQ(LenientInt("++8"), 0);
  EXPECT_EQ(LenientInt("1,234"), 1234);
  EXPECT_EQ(LenientInt("1,2,3"), 123);
  EXPECT_EQ(LenientInt("$12"), 12);
  EXPECT_EQ(LenientInt("$1,000"), 1000);
  EXPECT_EQ(LenientInt("+$7"), 7);
  EXPECT_EQ(LenientInt("$$7"), 0);
  EXPECT_EQ(LenientInt("12 34"), 12);
  EXPECT_EQ(LenientInt("12abc"), 12);
  EXPECT_EQ(LenientInt("12.9"), 12);
  EXPECT_EQ(LenientInt("abc"), 0);
  EXPECT_EQ(LenientInt("32767"), 32767);
  EXPECT_EQ(LenientInt("32768"), 32767);
  EXPECT_EQ(LenientInt("-32768"), -32768);
  EXPECT_EQ(LenientInt("-32769"), -32768);
  EXPECT_EQ(LenientInt("99999999999999999999"), 32767);
  EXPECT_EQ(LenientInt("-99999999999999999999"), -32768);
  EXPECT_EQ(LenientInt("1,000,000"), 32767);
  EXPECT_EQ(LenientInt("\t 9"), 9);
  // With a decimal comma the point separates thousands.
  Engine().Dates.DecimalSeparator = ',';
  EXPECT_EQ(LenientInt("1.234"), 1234);
  EXPECT_EQ(LenientInt("12,9"), 12);
  EXPECT_EQ(LenientInt("$2.500,75"), 2500);
}

}  // namespace
}  // namespace vz
