// Damaged tables: thousands of generated broken headers must give one of
// the engine's errors or a readable table, never a crash, a hang, a read
// past the file or an allocation from an unchecked size. Run under the
// sanitizers by scripts/test.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::Bytes;
using test::DbfBuilder;

class DamagedTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetEngineForTest(); }
  void TearDown() override {
    SetErrorDispatch(false);
    CloseAll();
    test::ResetEngineForTest();
  }

  // Opens the bytes as a table and, when that works, walks it both ways and
  // reads every field. Returns the open's error code.
  int Exercise(const Bytes& bytes, bool fixCount, bool exclusive) {
    test::WriteFile(path_, bytes);
    ScopedErrorDispatch quiet(false);
    Engine().Settings.FixRecCount = fixCount;
    USE(path_ + (exclusive ? " exclusive" : ""));
    Engine().Settings.FixRecCount = false;
    const int openCode = Engine().Errors.ErrorCode;
    if (!CurrentTable()) return openCode;
    WorkArea& a = *CurrentTable();
    EXPECT_GE(a.RecCount, 0);
    // Walk forward: every step must either move on or end; an unreadable
    // record stops the walk with an error.
    int steps = 0;
    for (GoTop(); Engine().Errors.ErrorCode == 0 && !dEOF() && steps < 200; SKIP(1), ++steps) {
      for (int i = 0; i <= FieldCount(); ++i) (void)FieldAddress(i);
      for (int i = 1; i <= FieldCount(); ++i) (void)Peek(i, RecNo());
    }
    GoBottom();
    for (steps = 0; Engine().Errors.ErrorCode == 0 && !dBOF() && steps < 200; SKIP(-1), ++steps) {
    }
    GO(1);
    GO(a.RecCount);
    (void)Peek(1, 1);
    (void)Peek(0, a.RecCount);
    CloseArea();
    return openCode;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("damaged.dbf");
};

Bytes GoodTable(std::mt19937& rng) {
  DbfBuilder b;
  const char types[] = {'C', 'N', 'D', 'L', 'M', 'F'};
  const int fields = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < fields; ++i) {
    const char t = types[rng() % 6];
    int len = t == 'D' ? 8 : t == 'L' ? 1 : t == 'M' ? 10 : 1 + static_cast<int>(rng() % 40);
    int dec = (t == 'N' || t == 'F') && len > 2 ? static_cast<int>(rng() % (len - 1)) : 0;
    b.Field("F" + std::to_string(i), t, len, dec);
  }
  const int records = static_cast<int>(rng() % 6);
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> values;
    for (int i = 0; i < fields; ++i) values.push_back(std::to_string(rng() % 100000));
    b.Record(values, rng() % 4 == 0);
  }
  return b.Build();
}

TEST_F(DamagedTest, GeneratedDamageNeverCrashes) {
  std::mt19937 rng(20261207);
  const std::set<int> expected = {0, 100, 210, 211, 212, 213};
  std::map<int, int> seen;
  for (int round = 0; round < 3000; ++round) {
    Bytes b;
    switch (round % 6) {
      case 0: {  // random bytes
        b.resize(rng() % 700);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        if (!b.empty() && rng() % 2) b[0] = (rng() % 2) ? 0x03 : 0x83;
        break;
      }
      case 1: {  // a good table with a few bytes changed
        b = GoodTable(rng);
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
        break;
      }
      case 2: {  // truncated
        b = GoodTable(rng);
        b.resize(rng() % (b.size() + 1));
        break;
      }
      case 3: {  // huge or zero sizes in the prolog
        b = GoodTable(rng);
        const std::uint32_t values[] = {
            0, 1, 0xFFFF, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, static_cast<std::uint32_t>(rng())};
        const int which = static_cast<int>(rng() % 3);
        const std::uint32_t v = values[rng() % 7];
        if (which == 0) std::memcpy(&b[4], &v, 4);
        if (which == 1)
          b[8] = static_cast<std::uint8_t>(v), b[9] = static_cast<std::uint8_t>(v >> 8);
        if (which == 2)
          b[10] = static_cast<std::uint8_t>(v), b[11] = static_cast<std::uint8_t>(v >> 8);
        break;
      }
      case 4: {  // descriptors cut short, or damaged lengths
        b = GoodTable(rng);
        const std::size_t fields = (b[8] | (b[9] << 8)) / 32 - 1;
        const std::size_t d = 32 + 32 * (rng() % (fields ? fields : 1));
        if (d + 17 < b.size()) {
          b[d + 16] = static_cast<std::uint8_t>(rng());
          b[d + 17] = static_cast<std::uint8_t>(rng());
          b[d + 11] = "CNDLMFGX\0"[rng() % 9];
        }
        break;
      }
      default: {  // old layout, random contents
        b.resize(400 + rng() % 400);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        b[0] = 0x02;
        break;
      }
    }
    const int code = Exercise(b, round % 2 == 0, round % 3 == 0);
    ++seen[code];
    EXPECT_TRUE(expected.count(code)) << "round " << round << " code " << code;
  }
  // The generator reaches both good and refused tables.
  EXPECT_GT(seen[0], 100);
  EXPECT_GT(seen[210], 100);
}

TEST_F(DamagedTest, HugeHeaderCountOnAnExclusiveOpenStopsAtTheFileEnd) {
  DbfBuilder b;
  b.Field("NAME", 'C', 10).Record({"one"}).Record({"two"}).HeaderRecordCount(0xFFFFFFFF);
  test::WriteFile(path_, b.Build());
  ScopedErrorDispatch quiet(false);
  USE(path_ + " exclusive");
  ASSERT_NE(CurrentTable(), nullptr);
  EXPECT_EQ(CurrentTable()->RecCount, 0xFFFFFFFFLL);
  SKIP(1);
  EXPECT_EQ(RecNo(), 2);
  SKIP(1);  // record 3 is not in the file: the read fails, nothing is invented
  EXPECT_EQ(Engine().Errors.ErrorCode, 213);
  GO(3);
  EXPECT_EQ(Engine().Errors.ErrorCode, 213);
}

}  // namespace
}  // namespace vz
