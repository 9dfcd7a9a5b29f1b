// Creating tables: the prolog, descriptors and terminator, checked byte by
// byte, and the refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

class CreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    SetRaiseErrors(false);
    SetErrorDispatch(false);
  }
  void TearDown() override {
    CloseAll();
    test::ResetEngineForTest();
  }
  test::TempDir dir_{true};
};

TEST_F(CreateTest, WritesTheFormatByteForByte) {
  ASSERT_TRUE(CreateDbf(
      "games",
      {{"cheatname", 'C', 35, 0}, {"Score", 'n', 7, 2}, {"ok", 'L', 1, 0}, {"when", 'D', 8, 0}}));
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  const test::Bytes b = test::ReadFile("games.dbf");
  ASSERT_EQ(b.size(), 32u + 4 * 32 + 1 + 1);
  const platform::LocalDate today = platform::Today();
  EXPECT_EQ(b[0], 0x03);
  EXPECT_EQ(b[1], today.year - 1900);
  EXPECT_EQ(b[2], today.month);
  EXPECT_EQ(b[3], today.day);
  EXPECT_EQ(b[4] | b[5] | b[6] | b[7], 0);
  EXPECT_EQ(b[8] | (b[9] << 8), 32 * 4 + 33);
  EXPECT_EQ(b[10] | (b[11] << 8), 1 + 35 + 7 + 1 + 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[32]), 11),
            std::string("CHEATNAME\0\0", 11));
  EXPECT_EQ(b[32 + 11], 'C');
  EXPECT_EQ(b[32 + 16], 35);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[64]), 6), std::string("SCORE\0", 6));
  EXPECT_EQ(b[64 + 11], 'N');
  EXPECT_EQ(b[64 + 16], 7);
  EXPECT_EQ(b[64 + 17], 2);
  EXPECT_EQ(b[32 + 4 * 32], 0x0D);
  EXPECT_EQ(b.back(), 0x1A);
  // And the engine reads it back.
  USE("games");
  EXPECT_EQ(RecCount(), 0);
  EXPECT_EQ(FieldCount(), 4);
  EXPECT_EQ(Field(2), "SCORE");
  EXPECT_EQ(FieldDec(2), 2);
}

TEST_F(CreateTest, MemoFieldsMakeTheMemoVersion) {
  ASSERT_TRUE(CreateDbf("pc.dbf", {{"cheatname", 'C', 35, 0}, {"cheatmemo", 'M', 10, 0}}));
  const test::Bytes b = test::ReadFile("pc.dbf");
  EXPECT_EQ(b[0], 0x8B);
  EXPECT_EQ(b[10] | (b[11] << 8), 46);
}

TEST_F(CreateTest, Refusals) {
  EXPECT_FALSE(CreateDbf("x.dbf", {{"  ", 'C', 10, 0}}));
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Empty field name [CreateDbf(" + platform::AsciiUpper(dir_.path()) + "/X.DBF)]");
  for (const FieldSpec& bad : {FieldSpec{"A", 'G', 10, 0}, FieldSpec{"A", 'C', 0, 0},
                               FieldSpec{"A", 'C', 256, 0}, FieldSpec{"A", 'N', 5, 5},
                               FieldSpec{"ELEVENCHARS", 'C', 5, 0}, FieldSpec{"A", 'N', -1, 0}}) {
    EXPECT_FALSE(CreateDbf("x.dbf", {bad})) << bad.Name << bad.Type << bad.Len;
    EXPECT_EQ(Engine().Errors.ErrorCode, 220);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid dBASE field definition [CreateDBF]");
  }
  EXPECT_FALSE(CreateDbf("x.dbf", {}));
  EXPECT_FALSE(platform::FileExists("x.dbf"));
  EXPECT_FALSE(CreateDbf("no/such/folder/x.dbf", {{"A", 'C', 5, 0}}));
  EXPECT_EQ(Engine().Errors.ErrorCode, 3);  // "Path not found"
  EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Error writing ", 0), 0u);
}

// Making a table is all or nothing: when any write of the table or of its
// memo file fails, or the memo file cannot be made, CreateDbf reports the
// system's code and leaves neither file behind.
TEST_F(CreateTest, ATableThatCannotBeWrittenWholeIsNotLeft) {
  InstallMemoUnit();
  const std::vector<FieldSpec> fields = {{"NAME", 'C', 35, 0}, {"NOTES", 'M', 10, 0}};
  platform::SetWriteFault(0, 0);
  ASSERT_TRUE(CreateDbf("m.dbf", fields));
  const std::int64_t writes = platform::WritesCounted();
  platform::ClearWriteFault();
  ASSERT_TRUE(platform::FileExists("m.dbt"));
  ASSERT_GE(writes, 3);  // the table's header and end mark, the memo file's header
  for (const int err : {ENOSPC, EIO}) {
    for (std::int64_t nth = 1; nth <= writes; ++nth) {
      SCOPED_TRACE("write " + std::to_string(nth) + ", errno " + std::to_string(err));
      platform::SetWriteFault(nth, err);
      EXPECT_FALSE(CreateDbf("f.dbf", fields));
      const bool hit = platform::WriteFaultHit();
      platform::ClearWriteFault();
      EXPECT_TRUE(hit);
      EXPECT_EQ(Engine().Errors.ErrorCode, 101);  // a refused write, whatever the cause
      EXPECT_FALSE(platform::FileExists("f.dbf"));
      EXPECT_FALSE(platform::FileExists("f.dbt"));
    }
  }
  // A folder of the memo file's name: the table is taken back too.
  ASSERT_EQ(mkdir("g.dbt", 0755), 0);
  EXPECT_FALSE(CreateDbf("g.dbf", fields));
  EXPECT_EQ(Engine().Errors.ErrorCode, 5);
  EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Cannot create memo file ", 0), 0u);
  EXPECT_FALSE(platform::FileExists("g.dbf"));
  // The widest record the fields can make still fits the header's 16 bits.
  std::vector<FieldSpec> widest;
  for (int i = 1; i <= 255; ++i) widest.push_back({"F" + std::to_string(i), 'C', 255, 0});
  ASSERT_TRUE(CreateDbf("wide.dbf", widest));
  USE("wide.dbf");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(FieldCount(), 255);
  EXPECT_EQ(CurrentTable()->RecordLen, 1 + 255 * 255);
}

}  // namespace
}  // namespace vz
