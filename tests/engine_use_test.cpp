// Opening and closing tables: USE with its options and messages, the header
// checks, work-area selection, record counts, file names on a case-sensitive
// file system, and the promise that a read-only open writes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

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

class UseTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetEngineForTest(); }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    CloseAll();
    test::ResetEngineForTest();
  }

  // Runs an open with dispatching off; returns the error code.
  int TryUse(const std::string& command) {
    ScopedErrorDispatch quiet(false);
    USE(command);
    return Engine().Errors.ErrorCode;
  }

  static DbfBuilder Cheats() {
    DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35).Field("LEVEL", 'N', 3);
    return b;
  }

  test::TempDir dir_{true};
};

TEST_F(UseTest, OpensAndReadsTheHeader) {
  Cheats().Record({"Doom", "1"}).Record({"Quake", "2"}).Write("pc.dbf");
  USE("pc.dbf");
  WorkArea* a = CurrentTable();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->FieldCount, 2);
  EXPECT_EQ(a->RecCount, 2);
  EXPECT_EQ(a->HeaderLen, 32u + 64u + 1u);
  EXPECT_EQ(a->RecordLen, 39u);
  EXPECT_EQ(a->Fields[0].Name, "CHEATNAME");
  EXPECT_EQ(a->Fields[0].Offset, 1u);
  EXPECT_EQ(a->Fields[1].Offset, 36u);
  EXPECT_EQ(a->Alias, "PC");
  EXPECT_EQ(a->FileName, platform::AsciiUpper(dir_.path()) + "/PC.DBF");
  EXPECT_EQ(a->OpenName, dir_.path() + "/pc.dbf");
  EXPECT_EQ(RecNo(), 1);
  EXPECT_FALSE(dBOF());
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(Alias(), "PC");
  USE("");
  EXPECT_EQ(CurrentTable(), nullptr);
}

TEST_F(UseTest, ShortPrologIsNotADbaseFile) {
  test::WriteFile("short.dbf", std::string(10, '\x03'));
  EXPECT_EQ(TryUse("short.dbf"), 210);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            platform::AsciiUpper(dir_.path()) +
                "/SHORT.DBF is not a dBASE database. (Prolog is less than 32 "
                "bytes) [USE/OpenDBF]");
  EXPECT_EQ(CurrentTable(), nullptr);
}

TEST_F(UseTest, VersionBytes) {
  Cheats().Version(0x83).Record({"a", "1"}).Write("memo.dbf");
  USE("memo.dbf");
  EXPECT_TRUE(CurrentTable()->Memo);
  CloseArea();
  Cheats().Version(0x03).Record({"a", "1"}).Write("plain.dbf");
  USE("plain.dbf");
  EXPECT_FALSE(CurrentTable()->Memo);
  CloseArea();
  for (std::uint8_t v : {0x04, 0x30, 0xF5, 0x00, 0x05}) {
    Cheats().Version(v).Record({"a", "1"}).Write("bad.dbf");
    EXPECT_EQ(TryUse("bad.dbf"), 210) << int(v);
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              platform::AsciiUpper(dir_.path()) +
                  "/BAD.DBF is not a dBASE database.(Invalid version byte)+ "
                  "[USE/OpenDBF]");
  }
}

TEST_F(UseTest, FieldCountComesFromTheHeaderLength) {
  const std::string outOfRange =
      "X.DBF is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]";
  Cheats().HeaderLength(33).Write("x.dbf");
  EXPECT_EQ(TryUse("x.dbf"), 210);
  EXPECT_EQ(Engine().Errors.ErrorDetail, outOfRange);
  Cheats().HeaderLength(8192 + 33).Write("x.dbf");
  EXPECT_EQ(TryUse("x.dbf"), 210);
  EXPECT_EQ(Engine().Errors.ErrorDetail, outOfRange);
  Cheats().HeaderLength(20).Write("x.dbf");  // wraps round below 32
  EXPECT_EQ(TryUse("x.dbf"), 210);
  EXPECT_EQ(Engine().Errors.ErrorDetail, outOfRange);
  // 65 bytes: exactly one field, the second descriptor is not read.
  Cheats().HeaderLength(65).RecordLength(36).Write("x.dbf");
  EXPECT_EQ(TryUse("x.dbf"), 0);
  EXPECT_EQ(CurrentTable()->FieldCount, 1);
}

TEST_F(UseTest, ExtraHeaderBytesAfterTheTerminatorAreAccepted) {
  Cheats().HeaderPadding(1).Record({"Doom", "1"}).Write("pad.dbf");
  USE("pad.dbf");
  EXPECT_EQ(CurrentTable()->HeaderLen, 32u + 64u + 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 4), "Doom");
}

TEST_F(UseTest, ShortDescriptorsAreAReadError) {
  auto bytes = Cheats().Build();
  bytes.resize(70);
  test::WriteFile("cut.dbf", bytes);
  EXPECT_EQ(TryUse("cut.dbf"), 100);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Error reading " + platform::AsciiUpper(dir_.path()) + "/CUT.DBF [Use/OpenDbf]");
}

TEST_F(UseTest, UnknownFieldTypeNamesTheField) {
  DbfBuilder b;
  b.Field("NAME", 'C', 10).Field("PICTURE", 'G', 10).Record({"a", "b"}).Write("g.dbf");
  SetRaiseErrors(true);
  try {
    USE("g.dbf");
    FAIL();
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error # 211 (Invalid database field type encountered)\r\nField: PICTURE [G] in " +
                  platform::AsciiUpper(dir_.path()) + "/G.DBF is not a valid field type");
  }
  EXPECT_EQ(CurrentTable(), nullptr);
  // With dispatching off the open reports the general reading failure.
  EXPECT_EQ(TryUse("g.dbf"), 211);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Error reading " + platform::AsciiUpper(dir_.path()) + "/G.DBF [Use/OpenDbf]");
}

TEST_F(UseTest, RecordLengthMustHoldTheFields) {
  Cheats().RecordLength(0).Record({"a", "1"}).Write("zero.dbf");
  EXPECT_EQ(TryUse("zero.dbf"), 210);
  EXPECT_NE(Engine().Errors.ErrorDetail.find("[USE/OpenDBF]"), std::string::npos);
  Cheats().RecordLength(38).Record({"a", "1"}).Write("short.dbf");
  EXPECT_EQ(TryUse("short.dbf"), 210);
  EXPECT_NE(Engine().Errors.ErrorDetail.find("is not a dBASE database."), std::string::npos);
  // A longer record is padding and stays readable.
  DbfBuilder b = Cheats();
  b.RecordLength(41).RawRecord(" Doom" + std::string(31, ' ') + "  7XY").Write("long.dbf");
  USE("long.dbf");
  EXPECT_EQ(CurrentTable()->RecordLen, 41u);
  EXPECT_EQ(NativeInt(FieldAddress(2)), 7);
}

TEST_F(UseTest, RecordCountFromHeaderOrFileSize) {
  DbfBuilder b = Cheats();
  for (int i = 0; i < 12; ++i) b.Record({"game " + std::to_string(i), std::to_string(i)});
  b.HeaderRecordCount(10).Write("ten.dbf");

  USE("ten.dbf exclusive");
  EXPECT_EQ(RecCount(), 10);  // exclusive: the header's count stands
  CloseArea();

  Engine().Settings.FixRecCount = true;
  USE("ten.dbf exclusive");
  EXPECT_EQ(CurrentTable()->RecCount, 12);
  CloseArea();
  Engine().Settings.FixRecCount = false;

  USE("ten.dbf");  // shared: the first end-of-file test refreshes it
  EXPECT_EQ(CurrentTable()->RecCount, 10);
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(CurrentTable()->RecCount, 12);
}

TEST_F(UseTest, HeaderLengthBeyondTheFileGivesNoRecords) {
  DbfBuilder b = Cheats();
  b.Record({"a", "1"}).Record({"b", "2"});
  b.Write("cut.dbf");
  Engine().Settings.FixRecCount = true;
  USE("cut.dbf");
  EXPECT_EQ(CurrentTable()->RecCount, 2);
  // Another program cuts the file inside the header: no records, never a
  // negative or huge count.
  std::filesystem::resize_file("cut.dbf", b.ComputedHeaderLength() - 5);
  EXPECT_EQ(RecCount(), 0);
  EXPECT_TRUE(dEOF());
  std::filesystem::resize_file("cut.dbf", 0);
  EXPECT_EQ(RecCount(), 0);
}

TEST_F(UseTest, EmptyTableStandsOnRecordZeroWithBothFlags) {
  Cheats().Write("empty.dbf");
  USE("empty.dbf");
  EXPECT_EQ(RecNo(), 0);
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(dEOF());
  // The native record is blank.
  EXPECT_EQ(FieldAddress(1)[0], 35);
  EXPECT_EQ(FieldAddress(1)[1], ' ');
}

TEST_F(UseTest, OptionsAliasAndExclusive) {
  Cheats().Record({"a", "1"}).Write("pc.dbf");
  USE("pc.dbf alias cheats exclusive");
  WorkArea* a = CurrentTable();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Alias, "CHEATS");
  EXPECT_TRUE(a->Exclusive);
  EXPECT_EQ(a->FileMode, 0x12);
  EXPECT_EQ(a->FileName, platform::AsciiUpper(dir_.path()) + "/PC.DBF");
  // Nobody else may open the file now.
  platform::File other;
  EXPECT_EQ(other.Open("pc.dbf", platform::kModeShared), 32);
  CloseArea();
  EXPECT_EQ(other.Open("pc.dbf", platform::kModeShared), 0);
  other.Close();

  USE("  PC EXCLUSIVE  ");
  EXPECT_TRUE(CurrentTable()->Exclusive);
  EXPECT_EQ(CurrentTable()->Alias, "PC");
  CloseArea();

  USE("pc");
  EXPECT_FALSE(CurrentTable()->Exclusive);
  EXPECT_EQ(CurrentTable()->FileMode, 0x42);
  EXPECT_EQ(CurrentTable()->Alias, "PC");
  CloseArea();

  // A word that only begins with the option is part of the name.
  std::filesystem::copy_file("pc.dbf", "pc exclusively.dbf");
  for (const bool option : {false, true}) {
    USE(option ? "pc exclusively exclusive" : "pc exclusively");
    ASSERT_NE(CurrentTable(), nullptr) << option;
    EXPECT_EQ(CurrentTable()->Exclusive, option);
    EXPECT_EQ(CurrentTable()->FileName, platform::AsciiUpper(dir_.path()) + "/PC EXCLUSIVELY.DBF");
    CloseArea();
  }
}

TEST_F(UseTest, ExclusiveOpenFailsWhileAnotherHoldsTheFile) {
  Cheats().Record({"a", "1"}).Write("pc.dbf");
  platform::File other;
  ASSERT_EQ(other.Open("pc.dbf", platform::kModeRead), 0);
  EXPECT_EQ(TryUse("pc exclusive"), 32);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Failure to open " + platform::AsciiUpper(dir_.path()) + "/PC.DBF [USE/OpenDbf]");
  EXPECT_EQ(TryUse("pc"), 0);  // shared opens live side by side
}

TEST_F(UseTest, NameEndingInADotHasNoExtension) {
  Cheats().Record({"a", "1"}).Write("pc");
  USE("pc.");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->FileName, platform::AsciiUpper(dir_.path()) + "/PC.");
  EXPECT_EQ(CurrentTable()->Alias, "PC");
}

TEST_F(UseTest, UpperCasedNamesFindLowerCaseFiles) {
  Cheats().Record({"Doom", "1"}).Write("pc.dbf");
  USE("PC.DBF");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->OpenName, dir_.path() + "/pc.dbf");
  CloseArea();
  Cheats().Record({"Doom", "1"}).Write("N64.DBF");
  USE("n64");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->OpenName, dir_.path() + "/N64.DBF");
  CloseArea();
  // Two spellings of one name in one folder: only the exact one is taken.
  Cheats().Record({"Doom", "1"}).Write("Psx.dbf");
  Cheats().Record({"Doom", "1"}).Write("PSX.dbf");
  EXPECT_EQ(TryUse("psx.dbf"), 2);
  EXPECT_EQ(TryUse("PSX.dbf"), 0);
}

TEST_F(UseTest, OptionWordsAreTakenOnlyAfterTheLastFolder) {
  std::filesystem::create_directory("My Unique Games exclusive");
  std::filesystem::create_directory("old alias games");
  Cheats().Record({"a", "1"}).Write("My Unique Games exclusive/pc.dbf");
  Cheats().Record({"a", "1"}).Write("old alias games/n64.dbf");
  USE("My Unique Games exclusive/pc.dbf");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_FALSE(CurrentTable()->Exclusive);
  EXPECT_EQ(CurrentTable()->Alias, "PC");
  Select(2);
  USE("old alias games/n64.dbf alias nin");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->Alias, "NIN");
  EXPECT_EQ(CurrentTable()->OpenName, dir_.path() + "/old alias games/n64.dbf");
}

TEST_F(UseTest, SameFileTwiceAndSameAliasTwice) {
  Cheats().Record({"a", "1"}).Write("pc.dbf");
  Cheats().Record({"a", "1"}).Write("n64.dbf");
  Select(1);
  USE("pc");
  Select(2);
  EXPECT_EQ(TryUse("PC.DBF"), 214);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "File: " + platform::AsciiUpper(dir_.path()) + "/PC.DBF is already in use. [USE]");
  EXPECT_EQ(CurrentTable(), nullptr);
  EXPECT_EQ(TryUse("n64 alias pc"), 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Alias name \"PC\" already in use. [USE]");
  EXPECT_EQ(CurrentTable(), nullptr);
  // The same file again in the area that holds it is a reopen.
  Select(1);
  EXPECT_EQ(TryUse("pc"), 0);
}

TEST_F(UseTest, SelectingWorkAreas) {
  Select(0);
  EXPECT_EQ(SelectedArea(), 1);
  for (int i = 1; i <= kMaxAreas; ++i) {
    const std::string name = "t" + std::to_string(i) + ".dbf";
    Cheats().Record({"a", "1"}).Write(name);
    Select(0);
    EXPECT_EQ(SelectedArea(), i);
    USE(name);
  }
  for (int i = 1; i <= kMaxAreas; ++i) EXPECT_NE(Engine().Areas.Slot[i], nullptr) << i;
  {
    ScopedErrorDispatch quiet(false);
    Select(0);
    EXPECT_EQ(Engine().Errors.ErrorCode, 220);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "No free workarea available [Select(0)]");
    Select(34);
    EXPECT_EQ(Engine().Errors.ErrorCode, 220);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid workarea selected = [Select(34)]");
  }
  Select(7);
  CloseArea();
  Select(0);
  EXPECT_EQ(SelectedArea(), 7);
  CloseAll();
  EXPECT_EQ(SelectedArea(), 1);
  for (int i = 1; i <= kMaxAreas; ++i) EXPECT_EQ(Engine().Areas.Slot[i], nullptr);
}

TEST_F(UseTest, CallerBuffers) {
  Cheats().Record({"Doom", "42"}).Write("pc.dbf");
  std::uint8_t buffer[1 + 36 + 4];
  USE("pc", buffer, sizeof buffer);
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->NativeBuffer, buffer);
  EXPECT_EQ(NativeInt(buffer + 37), 42);
  CloseArea();
  {
    ScopedErrorDispatch quiet(false);
    USE("pc", buffer, 10);
    EXPECT_EQ(Engine().Errors.ErrorCode, 266);
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              "Database record/buffer size mismatch: PC [USE()]\n\rRecord "
              "Size=41, Buffer Size=10");
    EXPECT_EQ(CurrentTable(), nullptr);
    USE("pc", buffer, 0);
    EXPECT_EQ(Engine().Errors.ErrorCode, 220);
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              "Buffer is NIL or size is zero, attempting to open PC  [USE]");
    USE("pc", nullptr, 41);
    EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  }
}

TEST_F(UseTest, TablesKeptInMemoryAreRefused) {
  EXPECT_EQ(TryUse("cheats linked list to heap"), 220);
  EXPECT_EQ(TryUse("cheats virtual file"), 220);
}

TEST_F(UseTest, MissingFilesReportTheSystemsCode) {
  EXPECT_EQ(TryUse("nothing.dbf"), 2);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Failure to open " + platform::AsciiUpper(dir_.path()) + "/NOTHING.DBF [USE/OpenDbf]");
  EXPECT_EQ(TryUse("no/such/folder/x.dbf"), 3);  // the folder is missing
  std::filesystem::create_directory("folder.dbf");
  EXPECT_EQ(TryUse("folder.dbf"), 5);
}

TEST_F(UseTest, ClosingTheFailedOpenLeavesTheOldTableClosed) {
  Cheats().Record({"a", "1"}).Write("pc.dbf");
  USE("pc");
  EXPECT_EQ(TryUse("missing"), 2);
  EXPECT_EQ(CurrentTable(), nullptr);
}

TEST_F(UseTest, FieldNamesFoundWithoutRegardToCase) {
  DbfBuilder b;
  b.Field("Point_ID", 'N', 5).Field("cheatname", 'C', 35).Record({"3", "x"}).Write("mixed.dbf");
  USE("mixed.dbf");
  EXPECT_EQ(FieldNo("POINT_ID"), 1);
  EXPECT_EQ(FieldNo("point_id  "), 1);
  EXPECT_EQ(FieldNo("CheatName"), 2);
  EXPECT_EQ(FieldNo("unknown"), 0);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(Field(1), "Point_ID");
  EXPECT_EQ(Field(2), "cheatname");
}

TEST_F(UseTest, OldLayoutTablesAreReadAndWritten) {
  // 8-byte prolog, 16-byte descriptors from offset 8 ended by 0x0D, records
  // from 521.
  test::Bytes b(521, 0);
  b[0] = 0x02;
  b[1] = 2;  // two records
  b[6] = 1 + 8 + 3;
  const char* names[] = {"NAME", "QTY"};
  const char types[] = {'C', 'N'};
  const int lens[] = {8, 3};
  for (int i = 0; i < 2; ++i) {
    std::uint8_t* d = b.data() + 8 + 16 * i;
    std::memcpy(d, names[i], std::strlen(names[i]));
    d[11] = static_cast<std::uint8_t>(types[i]);
    d[12] = static_cast<std::uint8_t>(lens[i]);
  }
  b[8 + 32] = 0x0D;
  const std::string recs = " Alpha     1*Beta     22";
  b.insert(b.end(), recs.begin(), recs.end());
  test::WriteFile("old.dbf", b);
  USE("old.dbf");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->FieldCount, 2);
  EXPECT_EQ(CurrentTable()->HeaderLen, 521u);
  EXPECT_EQ(RecCount(), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 8), "Alpha   ");
  SKIP(1);
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(NativeInt(FieldAddress(2)), 22);
  CloseArea();

  // Writes keep the layout: a 16-bit count at 1 and the day of the change
  // as month, day, year at 3; the records stay at 521.
  USE("old.dbf exclusive");
  GO(1);
  SetNativeInt(FieldAddress(2), 333);
  ALock();
  Append();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  CloseArea();
  const platform::LocalDate today = platform::Today();
  const auto layoutKept = [&](int count, const std::string& records) {
    const test::Bytes w = test::ReadFile("old.dbf");
    ASSERT_GE(w.size(), 521 + records.size());
    EXPECT_EQ(w[0], 0x02);
    EXPECT_EQ(w[1] | (w[2] << 8), count);
    EXPECT_EQ(w[3], today.month);
    EXPECT_EQ(w[4], today.day);
    EXPECT_EQ(w[5], today.year % 100);
    EXPECT_EQ(w[6], 1 + 8 + 3);
    EXPECT_EQ(std::string(w.begin() + 521, w.begin() + 521 + records.size()), records);
  };
  layoutKept(3, recs + " Alpha   333");
  // Removing the deleted record rewrites the count the same way.
  USE("old.dbf exclusive");
  PACK();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecCount(), 2);
  CloseArea();
  layoutKept(2, " Alpha     1 Alpha   333");
  USE("old.dbf");
  GoBottom();
  EXPECT_EQ(NativeInt(FieldAddress(2)), 333);
  CloseArea();

  b.resize(300);
  test::WriteFile("old.dbf", b);
  EXPECT_EQ(TryUse("old.dbf"), 210);
  EXPECT_NE(Engine().Errors.ErrorDetail.find("(Header is less than 521 bytes) [Use/OpenDBF]"),
            std::string::npos);
}

TEST_F(UseTest, ReadOnlyOpenLeavesTheFileUntouched) {
  DbfBuilder b = Cheats();
  for (int i = 0; i < 50; ++i)
    b.Record({"Game " + std::to_string(i), std::to_string(i)}, i % 7 == 0);
  b.Write("pc.dbf");
  const auto before = test::ReadFile("pc.dbf");
  struct stat st0;
  ASSERT_EQ(stat("pc.dbf", &st0), 0);
  Engine().Settings.ForcedFileMode = platform::kModeRead;
  Engine().Settings.FixRecCount = true;
  Engine().Settings.HideDeleted = true;
  USE("pc.dbf");
  Engine().Settings.ForcedFileMode = -1;
  EXPECT_EQ(CurrentTable()->FileMode, 0);
  int seen = 0;
  for (GoTop(); !dEOF(); SKIP(1)) ++seen;
  EXPECT_EQ(seen, 42);
  GoBottom();
  SKIP(-3);
  GO(7);
  (void)Peek(1, 3);
  CloseAll();
  EXPECT_EQ(test::ReadFile("pc.dbf"), before);
  struct stat st1;
  ASSERT_EQ(stat("pc.dbf", &st1), 0);
  EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
  EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
}

TEST_F(UseTest, OperationsWithoutATableReport215) {
  ScopedErrorDispatch quiet(false);
  Select(5);
  GO(1);
  EXPECT_EQ(Engine().Errors.ErrorCode, 215);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "No database in use [GO()]  WorkArea = 5");
  EXPECT_EQ(RecCount(), 0);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "No database in use [RecCount]  WorkArea = 5");
  EXPECT_EQ(FieldType(1), ' ');
  EXPECT_EQ(Engine().Errors.ErrorDetail, "No database in use [FieldType()]  WorkArea = 5");
}

}  // namespace
}  // namespace vz
