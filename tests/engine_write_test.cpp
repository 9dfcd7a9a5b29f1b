// Writing records: packing, Replace, Append, deleting and recalling, locks,
// Poke and the read cache, and the header rewrite at close.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;

class WriteTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetEngineForTest(); }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    CloseAll();
    test::ResetEngineForTest();
  }

  static void AllTypes(const std::string& name) {
    DbfBuilder b;
    b.Field("NAME", 'C', 12)
        .Field("PRICE", 'N', 8, 2)
        .Field("QTY", 'N', 5)
        .Field("WHEN", 'D', 8)
        .Field("OK", 'L', 1)
        .Field("RATE", 'F', 10, 4);
    b.Record({"Doom", "12.50", "3", "19931210", "T", "0.5000"});
    b.Record({"Quake", "-1.25", "-40", "        ", "F", "3.1416"});
    b.Write(name);
  }

  static std::string RecordBytes(const std::string& file, int n) {
    const test::Bytes b = test::ReadFile(file);
    const int hl = b[8] | (b[9] << 8), rl = b[10] | (b[11] << 8);
    return std::string(reinterpret_cast<const char*>(&b[hl + (n - 1) * rl]), rl);
  }

  static void SetText(int field, const std::string& text) {
    std::uint8_t* slot = FieldAddress(field);
    std::memset(slot + 1, ' ', slot[0]);
    std::memcpy(slot + 1, text.data(), std::min<std::size_t>(text.size(), slot[0]));
  }

  test::TempDir dir_{true};
};

TEST_F(WriteTest, PackIsTheInverseOfUnpack) {
  AllTypes("t.dbf");
  const std::string r1 = RecordBytes("t.dbf", 1), r2 = RecordBytes("t.dbf", 2);
  USE("t.dbf exclusive");
  Replace();  // an unchanged record is written back byte for byte
  SKIP(1);
  Replace();
  CloseAll();
  EXPECT_EQ(RecordBytes("t.dbf", 1), r1);
  EXPECT_EQ(RecordBytes("t.dbf", 2), r2);
  // The same holds in every date format, with and without century.
  for (int code = 0; code <= 8; ++code) {
    SetDateFormat(code);
    for (bool century : {false, true}) {
      SetCentury(century);
      USE("t.dbf exclusive");
      Replace();
      CloseAll();
      EXPECT_EQ(RecordBytes("t.dbf", 1), r1) << code << century;
    }
  }
}

TEST_F(WriteTest, ReplaceWritesNewValues) {
  AllTypes("t.dbf");
  USE("t.dbf exclusive");
  SetText(1, "Doom II");
  DoubleToReal48(99.999, FieldAddress(2));  // rounds at the field's decimals
  SetNativeInt(FieldAddress(3), 123456);    // too wide for 5 characters
  const char when[] = "02/29/00";
  std::memcpy(FieldAddress(4) + 1, when, 8);
  FieldAddress(5)[0] = 0;
  Replace();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  CloseAll();
  EXPECT_EQ(RecordBytes("t.dbf", 1), " Doom II       100.00*****20000229F    0.5000");
  // A date the caller left in a form that is no day is stored blank; any
  // day is stored as such.
  const std::pair<std::string, std::string> dates[] = {
      {"12/31/99", "19991231"}, {"02/29/96", "19960229"}, {"02/29/99", "        "},
      {"13/01/99", "        "}, {"ab/cd/ef", "        "}, {"  /  /  ", "        "},
      {"1/2/3", "20030102"},    {"00/00/00", "        "}};
  USE("t.dbf exclusive");
  for (const auto& [shown, stored] : dates) {
    std::uint8_t* slot = FieldAddress(4);
    slot[0] = static_cast<std::uint8_t>(shown.size());
    std::memset(slot + 1, ' ', 10);
    std::memcpy(slot + 1, shown.data(), shown.size());
    Replace();
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << shown;
    EXPECT_EQ(RecordBytes("t.dbf", 1).substr(26, 8), stored) << shown;
  }
}

TEST_F(WriteTest, ReplaceRefusals) {
  AllTypes("t.dbf");
  DbfBuilder().Field("A", 'C', 3).Write("empty.dbf");
  ScopedErrorDispatch quiet(false);
  USE("t.dbf exclusive");
  GoBottom();
  SKIP(1);
  Replace();
  EXPECT_EQ(Engine().Errors.ErrorCode, 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Database \"" + platform::AsciiUpper(dir_.path()) + "/T.DBF\" is at EOF. [REPLACE]");
  Select(2);
  USE("empty.dbf");
  Replace();
  EXPECT_EQ(Engine().Errors.ErrorCode, 212);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Database \"" + platform::AsciiUpper(dir_.path()) + "/EMPTY.DBF\" is empty. [REPLACE]");
  Select(1);
  USE("t.dbf");  // a table opened for reading cannot be written
  Engine().Settings.ForcedFileMode = platform::kModeRead;
  USE("t.dbf");
  Engine().Settings.ForcedFileMode = -1;
  Replace();
  EXPECT_EQ(Engine().Errors.ErrorCode, 5);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Record #1 in " + platform::AsciiUpper(dir_.path()) + "/T.DBF [REPLACE]");
}

TEST_F(WriteTest, AppendNeedsTheFileLockWhenShared) {
  AllTypes("t.dbf");
  USE("t.dbf");
  {
    ScopedErrorDispatch quiet(false);
    Append();
    EXPECT_EQ(Engine().Errors.ErrorCode, 1201);
    EXPECT_EQ(
        Engine().Errors.ErrorDetail,
        "File must be locked to append: " + platform::AsciiUpper(dir_.path()) + "/T.DBF [APPEND]");
  }
  // Somebody else's lock keeps us out.
  platform::File other;
  ASSERT_EQ(other.Open("t.dbf", platform::kModeShared), 0);
  ASSERT_EQ(other.Lock(kLockBase + 5, 1), 0);
  EXPECT_FALSE(ALock());
  other.Unlock(kLockBase + 5, 1);
  ASSERT_TRUE(ALock());
  EXPECT_TRUE(other.IsRangeLockedByOther(kLockBase + 1, 1));
  ClearRecord();
  SetText(1, "Heretic");
  Append();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(RecCount(), 3);
  Unlock();
  EXPECT_FALSE(other.IsRangeLockedByOther(kLockBase + 1, 1));
  // Shared appends update the header at once; the end byte follows.
  test::Bytes b = test::ReadFile("t.dbf");
  EXPECT_EQ(b[4], 3);
  EXPECT_EQ(b.back(), 0x1A);
  const platform::LocalDate today = platform::Today();
  EXPECT_EQ(b[1], today.year - 1900);
  CloseAll();
  b = test::ReadFile("t.dbf");
  const int hl = b[8] | (b[9] << 8), rl = b[10] | (b[11] << 8);
  EXPECT_EQ(b.size(), static_cast<std::size_t>(hl + 3 * rl + 1));
  EXPECT_EQ(RecordBytes("t.dbf", 3).substr(0, 13), " Heretic     ");
}

TEST_F(WriteTest, ExclusiveAppendsRewriteTheHeaderAtClose) {
  AllTypes("t.dbf");
  USE("t.dbf exclusive");
  for (int i = 0; i < 5; ++i) AppendBlank();
  EXPECT_EQ(RecCount(), 7);
  EXPECT_EQ(test::ReadFile("t.dbf")[4], 2);  // not yet
  CloseArea();
  test::Bytes b = test::ReadFile("t.dbf");
  EXPECT_EQ(b[4], 7);
  EXPECT_EQ(b.back(), 0x1A);
  USE("t.dbf");
  GoBottom();
  EXPECT_EQ(RecNo(), 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 12), std::string(12, ' '));
}

TEST_F(WriteTest, DeleteAndRecall) {
  AllTypes("t.dbf");
  USE("t.dbf");
  {
    ScopedErrorDispatch quiet(false);
    DeleteRec();
    EXPECT_EQ(Engine().Errors.ErrorCode, 1200);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "Record not locked. [DeleteRec]");
  }
  ASSERT_TRUE(RLock());
  EXPECT_TRUE(IsLocked(1));
  EXPECT_FALSE(IsLocked(2));
  DeleteRec();
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(Peek(0, 1), "*");  // the read cache sees our own write
  EXPECT_EQ(RecordBytes("t.dbf", 1)[0], '*');
  RecallRec();
  EXPECT_FALSE(Deleted());
  EXPECT_EQ(RecordBytes("t.dbf", 1)[0], ' ');
  UnlockRec(1);
  {
    ScopedErrorDispatch quiet(false);
    UnlockRec(1);
    EXPECT_EQ(Engine().Errors.ErrorCode, 1200);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "Record not locked. [UnlockRec(1)]");
    GoBottom();
    SKIP(1);
    RLock(1);
    DeleteRec();
    EXPECT_EQ(Engine().Errors.ErrorCode, 212);
  }
}

TEST_F(WriteTest, RecordLocksConflictAcrossOpens) {
  AllTypes("t.dbf");
  USE("t.dbf");
  platform::File other;
  ASSERT_EQ(other.Open("t.dbf", platform::kModeShared), 0);
  ASSERT_EQ(other.Lock(kLockBase + 2, 1), 0);
  EXPECT_TRUE(RLock(1));
  EXPECT_FALSE(RLock(2));
  EXPECT_FALSE(ALock());  // a file lock covers every record
  other.Unlock(kLockBase + 2, 1);
  EXPECT_TRUE(RLock(2));
  Unlock();
  EXPECT_FALSE(IsLocked(1));
  // Exclusive areas need no locks.
  CloseAll();
  other.Close();
  USE("t.dbf exclusive");
  EXPECT_TRUE(IsLocked(2));
  DeleteRec();
  EXPECT_TRUE(Deleted());
}

TEST_F(WriteTest, PokeWritesRawBytesThroughTheCache) {
  AllTypes("t.dbf");
  USE("t.dbf exclusive");
  EXPECT_EQ(Peek(1, 2), "Quake       ");
  Poke(1, 2, "Pok\x82mon");
  EXPECT_EQ(Peek(1, 2), "Pok\x82mon     ");
  EXPECT_EQ(RecordBytes("t.dbf", 2).substr(1, 12), "Pok\x82mon     ");
  GO(2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 7), "Pok\xE9mon");
  ScopedErrorDispatch quiet(false);
  Poke(1, 9, "x");
  EXPECT_EQ(Engine().Errors.ErrorCode, 212);
}

TEST_F(WriteTest, WritesConvertBackAndEncode) {
  AllTypes("t.dbf");
  std::vector<int> encoded;
  USE(
      "t.dbf exclusive", nullptr, 0,
      [&](std::uint8_t* p, std::size_t n) {
        encoded.push_back(static_cast<int>(n));
        for (std::size_t i = 0; i < n; ++i)
          if (p[i] == 'X') p[i] = 'Y';
      },
      nullptr);
  SetText(1, "X\xE9X");  // ANSI e acute
  Replace();
  EXPECT_EQ(encoded.size(), 1u);
  EXPECT_EQ(RecordBytes("t.dbf", 1).substr(1, 3), "Y\x82Y");
  // The buffers keep their readable form.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(CurrentTable()->RawRec.data()) + 1, 3), "X\xE9X");
}

TEST_F(WriteTest, UnchangedFieldsKeepTheirStoredBytes) {
  DbfBuilder b;
  b.Field("WHEN", 'D', 8).Field("QTY", 'N', 6, 1).Field("OK", 'L', 1).Field("NOTE", 'M', 10);
  b.Record({"18501231", "+2.50", "y", "99999999999"});
  b.Record({"1999ab31", "  junk", "?", "  7"});
  b.Write("t.dbf");
  const std::string r1 = RecordBytes("t.dbf", 1), r2 = RecordBytes("t.dbf", 2);
  SetCentury(false);  // 1850 shows as 50, which the window would read as 2050
  USE("t.dbf exclusive");
  Replace();
  SKIP(1);
  Replace();
  GO(1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 8), "12/31/50");
  const char when[] = "01/01/51";
  std::memcpy(FieldAddress(1) + 1, when, 8);
  Replace();
  CloseAll();
  EXPECT_EQ(RecordBytes("t.dbf", 2), r2);
  EXPECT_EQ(RecordBytes("t.dbf", 1), " 20510101" + r1.substr(9));
}

TEST_F(WriteTest, RecordReadsOfASharedTableSeeOtherWritersSoon) {
  AllTypes("t.dbf");
  USE("t.dbf");
  platform::File other;
  ASSERT_EQ(other.Open("t.dbf", platform::kModeShared), 0);
  const std::uint64_t at = CurrentTable()->HeaderLen + 1;
  ASSERT_EQ(other.WriteAt(at, "Heretic", 7), 0);
  SKIP(0);  // a re-read asks the file
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 7), "Heretic");
  ASSERT_EQ(other.WriteAt(at, "Hexen  ", 7), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  GO(1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 7), "Hexen  ");
  // Our own writes are in the cache at once.
  CloseAll();
  other.Close();
  USE("t.dbf exclusive");
  SetText(1, "Strife");
  Replace();
  SKIP(1);
  GO(1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 6), "Strife");
}

TEST_F(WriteTest, NothingIsWrittenWithoutChanges) {
  AllTypes("t.dbf");
  const test::Bytes before = test::ReadFile("t.dbf");
  USE("t.dbf exclusive");
  for (GoTop(); !dEOF(); SKIP(1)) {
  }
  CloseAll();
  EXPECT_EQ(test::ReadFile("t.dbf"), before);
}

}  // namespace
}  // namespace vz
