// The locate scan behind the search box: options, messages, one character
// set, memo fields, and where the pointer ends.
#include <gtest/gtest.h>

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;

class LocateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    InstallMemoUnit();
    test::DbtBuilder memo(false);
    const int m1 = memo.Add("Type IDDQD for god mode.\r\nIDKFA gives all keys.");
    const int m2 = memo.Add("Hold L and press \x82tape\r\nnothing else");
    memo.Write("pc.dbt");
    DbfBuilder b;
    b.Version(0x83)
        .Field("CHEATNAME", 'C', 20)
        .Field("LEVEL", 'N', 3)
        .Field("ADDED", 'D', 8)
        .Field("OK", 'L', 1)
        .Field("CHEATMEMO", 'M', 10);
    b.Record({"Quake", "1", "19960622", "T", ""});
    b.Record({"Doom", "12", "19931210", "F", test::MemoField(m1)});
    b.Record({"doom II", "2", "19941010", "T", ""}, true);  // deleted
    b.Record({"Pok\x82mon Snap", "3", "19990321", "T", test::MemoField(m2)});
    b.Record({"Doom II", "3", "19941010", "F", ""});
    b.Write("pc.dbf");
    Engine().Settings.HideDeleted = true;
    USE("pc.dbf");
  }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    CloseAll();
    test::ResetEngineForTest();
  }

  // The record found, or 0 (then the pointer must stand past the end).
  static std::int64_t Find(const std::string& field, const std::string& value) {
    if (Locate(field, value)) return RecNo();
    EXPECT_TRUE(dEOF());
    EXPECT_EQ(RecNo(), RecCount() + 1);
    return 0;
  }

  test::TempDir dir_{true};
};

TEST_F(LocateTest, PrefixWithoutRegardToCase) {
  EXPECT_EQ(Find("cheatname", "doom"), 2);
  EXPECT_EQ(Find("cheatname", "DOOM I"), 3);  // record-number order, deleted or not
  EXPECT_TRUE(Deleted());
  EXPECT_EQ(Find("cheatname", "doom   "), 2);  // trailing blanks of the text don't count
  EXPECT_EQ(Find("cheatname", ""), 1);         // an empty text matches the first record
  EXPECT_EQ(Find("cheatname", "x"), 0);
  EXPECT_EQ(Find("cheatname", "Doom II and more text than the field"), 0);
  EXPECT_EQ(Find("  cheatname  ", "q"), 1);
}

TEST_F(LocateTest, Options) {
  EXPECT_EQ(Find("cheatname nocase", "doom"), 3);  // NOCASE: letter case counts
  EXPECT_EQ(Find("CHEATNAME NOCASE", "DOOM"), 0);
  EXPECT_EQ(Find("cheatname exact", "DOOM"), 0);  // the whole field
  EXPECT_EQ(Find("cheatname exact", "DOOM" + std::string(16, ' ')), 2);
  EXPECT_EQ(Find("cheatname contained", "SNAP"), 4);
  EXPECT_EQ(Find("cheatname contained nocase", "SNAP"), 0);
}

TEST_F(LocateTest, Messages) {
  ScopedErrorDispatch quiet(false);
  Locate("  ", "x");
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "No field name specified [Locate/Count/Sum]");
  Locate("level nocasex", "x");  // an option word only when a word ends there
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Unrecognized field name [Locate/Count/Sum(LEVEL NOCASEX)]");
  Locate("nothing", "x");
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Unrecognized field name [Locate/Count/Sum(NOTHING)]");
  Continue();
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
}

TEST_F(LocateTest, AccentedLettersAreComparedInOneCharacterSet) {
  // The typed text is ANSI (e acute 0xE9); the table stores OEM (0x82).
  EXPECT_EQ(Find("cheatname", "pok\xE9"), 4);
  EXPECT_EQ(Find("cheatname", "POK\xC9MON"), 4);  // capital E acute, upper-cased ANSI
  EXPECT_EQ(Find("cheatname nocase", "Pok\xE9mon S"), 4);
  EXPECT_EQ(Find("cheatname", "pok\x82"), 0);  // raw OEM bytes are not what users type
}

TEST_F(LocateTest, OtherFieldTypes) {
  EXPECT_EQ(Find("level", "3"), 4);
  EXPECT_EQ(Find("level", "12"), 2);
  EXPECT_EQ(Find("added", "10/10/94"), 3);
  EXPECT_EQ(Find("added", "19960622"), 1);
  EXPECT_EQ(Find("ok", "F"), 2);
  EXPECT_EQ(Find("ok", ".T."), 1);
}

TEST_F(LocateTest, MemoFieldsAreSearchedLineByLine) {
  EXPECT_EQ(Find("cheatmemo", "idkfa"), 2);
  EXPECT_EQ(Find("cheatmemo", "GOD MODE."), 2);
  EXPECT_EQ(Find("cheatmemo", "\xE9tape"), 4);    // converted before comparing
  EXPECT_EQ(Find("cheatmemo", "MODE.IDKFA"), 0);  // never across a line end
  EXPECT_EQ(Find("cheatmemo nocase", "idkfa"), 0);
}

TEST_F(LocateTest, ContinueGoesOn) {
  EXPECT_EQ(Find("cheatname", "doom"), 2);
  EXPECT_TRUE(Continue());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(Continue());
  EXPECT_EQ(RecNo(), 5);
  EXPECT_FALSE(Continue());
  EXPECT_TRUE(dEOF());
  ScopedErrorDispatch quiet(false);
  Continue();  // the failed scan forgot its terms
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
}

TEST_F(LocateTest, NothingVisibleStillEndsPastTheEndWithoutAnError) {
  CloseAll();
  DbfBuilder b;
  b.Field("CHEATNAME", 'C', 10).Record({"a"}, true).Record({"b"}, true);
  b.Write("gone.dbf");
  USE("gone.dbf");
  ScopedErrorDispatch quiet(false);
  EXPECT_FALSE(Locate("cheatname", "z"));
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Locate("cheatname", "b"));
  EXPECT_EQ(RecNo(), 2);
}

// Damaged headers may declare a field of no width; looking in it finds
// nothing and reads nothing.
TEST_F(LocateTest, AFieldOfNoWidthHoldsNothing) {
  CloseAll();
  DbfBuilder b;
  b.Field("CHEATNAME", 'C', 10).Field("EMPTY", 'C', 0);
  for (const char* name : {"a", "b", "c"}) b.Record({name, ""});
  b.Write("narrow.dbf");
  USE("narrow.dbf");
  ScopedErrorDispatch quiet(false);
  EXPECT_FALSE(Locate("empty", "x"));
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Locate("cheatname", "b"));
  EXPECT_EQ(RecNo(), 2);
}

TEST_F(LocateTest, AnsiTablesAreComparedAsStored) {
  CloseAll();
  DbfBuilder b;
  b.Field("CHEATNAME", 'C', 10).Record({"Caf\xE9"});
  b.Write("ansi.dbf");
  Engine().Settings.AnsiTables = true;
  USE("ansi.dbf");
  EXPECT_EQ(Find("cheatname", "caf\xE9"), 1);
}

}  // namespace
}  // namespace vz
