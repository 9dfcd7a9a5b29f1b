// NDX indexes: building (character, numeric and date keys, tree shapes,
// UNIQUE, spilled runs, progress), opening and its refusals, navigation in
// key order, Find, damaged files, keeping indexes up to date on Append and
// Replace, IndexInfo, and the real-world indexes of the corpus.
//
// Every file the engine writes is checked by tests/support/NdxChecker, which
// reads the bytes without any code of the index engine; files "written by
// other programs" come from tests/support/NdxBuilder or from the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/NdxBuilder.h"
#include "tests/support/NdxChecker.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::Bytes;
using test::CheckNdxFile;
using test::DbfBuilder;
using test::NdxBuilder;
using test::NdxCheckOptions;
using test::NdxReport;
using Recs = std::vector<std::int64_t>;

constexpr std::size_t kWalkLimit = 100000;

// --- Helpers ---------------------------------------------------------------------

// A name made of a few syllables: few distinct values, so keys repeat.
std::string SyllableName(std::mt19937& rng, int syllables, int spread) {
  static const char* const kParts[] = {"Doom", "Quake", "Hex",  "en", " II",  "Sim",
                                       "City", "Tomb",  "Raid", "er", "Myst", " 3",
                                       "Zork", "Elite", "Pac",  "Man"};
  std::uniform_int_distribution<int> pick(0, std::min(15, spread));
  std::uniform_int_distribution<int> count(1, syllables);
  std::string s;
  for (int i = count(rng); i > 0; --i) s += kParts[pick(rng)];
  return s;
}

std::string Pad(std::string s, std::size_t n, char c = ' ') {
  s.resize(n, c);
  return s;
}

// Record numbers in the order of their keys (then record numbers), computed
// here: keys[i] is the key of record i + 1, compared as unsigned bytes.
Recs OrderOf(const std::vector<std::string>& keys) {
  Recs r(keys.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::int64_t>(i) + 1;
  std::stable_sort(r.begin(), r.end(), [&](std::int64_t a, std::int64_t b) {
    return keys[static_cast<std::size_t>(a - 1)] < keys[static_cast<std::size_t>(b - 1)];
  });
  return r;
}

Recs OrderOfNumbers(const std::vector<double>& keys) {
  Recs r(keys.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::int64_t>(i) + 1;
  std::stable_sort(r.begin(), r.end(), [&](std::int64_t a, std::int64_t b) {
    return keys[static_cast<std::size_t>(a - 1)] < keys[static_cast<std::size_t>(b - 1)];
  });
  return r;
}

Recs Without(const Recs& order, const std::set<std::int64_t>& hidden) {
  Recs out;
  for (std::int64_t r : order)
    if (!hidden.count(r)) out.push_back(r);
  return out;
}

Recs Reversed(Recs r) {
  std::reverse(r.begin(), r.end());
  return r;
}

Recs ReportRecords(const NdxReport& report) {
  Recs out;
  for (std::int32_t r : report.Records()) out.push_back(r);
  return out;
}

// The Julian day number of a calendar date, by the usual integer formula.
std::int64_t JulianDay(int y, int m, int d) {
  const std::int64_t a = (14 - m) / 12;
  const std::int64_t yy = y + 4800 - a;
  const std::int64_t mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

// Walks the current area in the controlling order from the top; stops at EOF
// or after `limit` records.
Recs WalkForward(std::size_t limit = kWalkLimit) {
  Recs out;
  GoTop();
  while (!dEOF() && out.size() < limit) {
    out.push_back(RecNo());
    SKIP(1);
  }
  return out;
}

Recs WalkBackward(std::size_t limit = kWalkLimit) {
  Recs out;
  GoBottom();
  if (dEOF()) return out;
  while (out.size() < limit) {
    out.push_back(RecNo());
    SKIP(-1);
    if (dBOF()) break;
  }
  return out;
}

// The text of a character field in the native record.
std::string NativeText(int field) {
  const std::uint8_t* slot = FieldAddress(field);
  return std::string(reinterpret_cast<const char*>(slot + 1), slot[0]);
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return test::Get32(b, at);
}
std::uint16_t U16At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

bool HasSpillFiles(const std::string& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().rfind("TZP", 0) == 0) return true;
  return false;
}

// --- The fixture ---------------------------------------------------------------------

class NdxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    InstallMemoUnit();
    InstallEvaluator();
    InstallIndexHooks();
  }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    CloseAll();
    test::ResetEngineForTest();
    if (savedTmp_) setenv("TMPDIR", tmp_.c_str(), 1);
  }

  // Points TMPDIR (where the run file of a spilled build goes) at a folder
  // of this test; restored in TearDown.
  void UseOwnTmp(const std::string& folder) {
    if (!savedTmp_) {
      const char* t = std::getenv("TMPDIR");
      tmp_ = t ? t : "";
      savedTmp_ = true;
    }
    std::filesystem::create_directories(folder);
    setenv("TMPDIR", folder.c_str(), 1);
  }

  // A table of cheats: CHEATNAME C 35, LEVEL N 8 2, ADDED D.
  static void CheatTable(const std::string& file, const std::vector<std::string>& names,
                         const std::set<std::int64_t>& deleted = {}) {
    DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35).Field("LEVEL", 'N', 8, 2).Field("ADDED", 'D', 8);
    for (std::size_t i = 0; i < names.size(); ++i)
      b.Record({names[i], std::to_string(i % 7) + ".25", "19990101"},
               deleted.count(static_cast<std::int64_t>(i) + 1) > 0);
    b.Write(file);
  }

  static std::vector<std::string> RandomNames(std::size_t n, unsigned seed, int syllables = 3,
                                              int spread = 15) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(SyllableName(rng, syllables, spread));
    return out;
  }

  static std::vector<std::string> Keys35(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& n : names) out.push_back(Pad(n, 35));
    return out;
  }

  // Sets CHEATNAME (field 1) in the native record.
  static void SetName(const std::string& text) {
    std::uint8_t* slot = FieldAddress(1);
    std::memset(slot + 1, ' ', slot[0]);
    std::memcpy(slot + 1, text.data(), std::min<std::size_t>(text.size(), slot[0]));
  }

  test::TempDir dir_{true};
  std::string tmp_;
  bool savedTmp_ = false;
};

// ===================================================================================
// Building
// ===================================================================================

using NdxBuildTest = NdxTest;

TEST_F(NdxBuildTest, CharacterKeysOfACheatTable) {
  std::vector<std::string> names = RandomNames(60, 7);
  names[10] = "Pok\x82mon Snap";  // OEM e acute, stored as such
  names[20] = "";                 // a blank name
  names[30] = std::string(35, 'Z');
  CheatTable("cheats.dbf", names, {3, 4, 50});
  USE("cheats.dbf");
  Index_On("names.ndx", "cheatname");
  ASSERT_EQ(CurrentOrder(), 1);
  CloseAll();

  NdxCheckOptions o;
  o.Records = 60;
  o.AnchorCount = 60;
  o.Table = "CHEATS.DBF";
  o.Expression = "CHEATNAME";
  const NdxReport r = CheckNdxFile("names.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.Letter, 'C');
  EXPECT_EQ(r.KeyLen, 35);
  EXPECT_EQ(r.EntrySize, 44);
  EXPECT_EQ(r.KeysPerNode, 11);
  EXPECT_EQ(r.TypeCode, 0);
  EXPECT_EQ(r.UniqueByte, 0);
  EXPECT_EQ(r.Leaves, 6);  // 60 keys, 11 a leaf
  EXPECT_EQ(r.Interiors, 1);
  EXPECT_EQ(r.Root, r.NextFree - 1);  // written bottom-up: the root last
  EXPECT_EQ(r.NextFree, 8);
  EXPECT_EQ(r.FileSize, 8u * 512);
  const std::vector<std::string> keys = Keys35(names);
  EXPECT_EQ(ReportRecords(r), OrderOf(keys));
  for (const auto& e : r.Entries) EXPECT_EQ(e.Key, keys[static_cast<std::size_t>(e.Record - 1)]);

  // The expression is stored in normal form, in the table's character set.
  USE("cheats.dbf");
  Index_On("mixed.ndx", "upper( cheatname ) + 'a b' + \"\xE9\"");
  CloseAll();
  o.Expression = "UPPER(CHEATNAME)+\"a b\"+\"\x82\"";
  const NdxReport m = CheckNdxFile("mixed.ndx", o);
  EXPECT_TRUE(m.Ok()) << m.Text();
  EXPECT_EQ(m.KeyLen, 39);
  EXPECT_EQ(m.EntrySize, 48);
  EXPECT_EQ(m.KeysPerNode, 10);
  // UPPER works on the readable (ANSI) text: OEM 0x82 (e acute) becomes OEM
  // 0x90 (E acute).
  std::vector<std::string> upper;
  for (const std::string& n : names) {
    std::string u = Pad(n, 35);
    for (char& c : u) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c == '\x82') c = '\x90';
    }
    upper.push_back(u + "a b\x82");
  }
  EXPECT_EQ(ReportRecords(m), OrderOf(upper));
  for (const auto& e : m.Entries)
    EXPECT_EQ(e.Key, upper[static_cast<std::size_t>(e.Record - 1)]) << e.Record;
}

TEST_F(NdxBuildTest, NumericAndDateKeys) {
  const std::vector<std::string> prices = {"12.50", "-3.25", "0.00",  "",  "-100.75", "99999.99",
                                           "12.50", "0.01",  "-0.01", "7", "-3.25",   "250.5"};
  const std::vector<std::string> dates = {"19931210", "20000229", "",         "18991231",
                                          "19700101", "20991231", "19931210", "19000301",
                                          "",         "20240715", "19600101", "19931209"};
  DbfBuilder b;
  b.Field("NAME", 'C', 10).Field("PRICE", 'N', 10, 2).Field("ADDED", 'D', 8);
  for (std::size_t i = 0; i < prices.size(); ++i)
    b.Record({"n" + std::to_string(i), prices[i], dates[i]});
  // Enough records for a second level: 31 keys a leaf.
  for (int i = 0; i < 40; ++i)
    b.Record({"x", std::to_string((i * 37) % 23 - 11) + ".5",
              "2001" + std::string(i % 2 ? "0615" : "0101")});
  b.Write("prices.dbf");
  const std::size_t n = prices.size() + 40;

  std::vector<double> priceKeys, dateKeys;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string p =
        i < prices.size()
            ? prices[i]
            : std::to_string((static_cast<int>(i - prices.size()) * 37) % 23 - 11) + ".5";
    priceKeys.push_back(p.empty() ? 0.0 : std::stod(p));
    const std::string d =
        i < dates.size() ? dates[i] : (((i - prices.size()) % 2) ? "20010615" : "20010101");
    dateKeys.push_back(d.empty() ? 0.0
                                 : static_cast<double>(JulianDay(std::stoi(d.substr(0, 4)),
                                                                 std::stoi(d.substr(4, 2)),
                                                                 std::stoi(d.substr(6, 2)))));
  }
  EXPECT_EQ(dateKeys[0], 2449332.0);  // 10 December 1993

  USE("prices.dbf");
  Index_On("price.ndx", "PRICE");
  Index_On("added.ndx", "added");
  CloseAll();

  NdxCheckOptions o;
  o.Records = static_cast<std::int64_t>(n);
  o.AnchorCount = o.Records;
  o.Table = "PRICES.DBF";
  o.Expression = "PRICE";
  const NdxReport p = CheckNdxFile("price.ndx", o);
  EXPECT_TRUE(p.Ok()) << p.Text();
  EXPECT_EQ(p.Letter, 'N');
  EXPECT_EQ(p.KeyLen, 8);
  EXPECT_EQ(p.EntrySize, 16);
  EXPECT_EQ(p.KeysPerNode, 31);
  EXPECT_EQ(p.TypeCode, 1);
  EXPECT_EQ(p.Leaves, 2);
  // Negative numbers sort below positive ones (a numeric, not a byte order).
  EXPECT_EQ(ReportRecords(p), OrderOfNumbers(priceKeys));
  for (const auto& e : p.Entries)
    EXPECT_EQ(e.Number(), priceKeys[static_cast<std::size_t>(e.Record - 1)]);
  EXPECT_EQ(p.Entries.front().Number(), -100.75);
  EXPECT_EQ(p.Entries.back().Number(), 99999.99);

  o.Expression = "ADDED";
  const NdxReport d = CheckNdxFile("added.ndx", o);
  EXPECT_TRUE(d.Ok()) << d.Text();
  EXPECT_EQ(d.Letter, 'D');
  EXPECT_EQ(d.KeyLen, 8);
  EXPECT_EQ(d.EntrySize, 16);
  EXPECT_EQ(d.KeysPerNode, 31);
  EXPECT_EQ(d.TypeCode, 1);
  EXPECT_EQ(ReportRecords(d), OrderOfNumbers(dateKeys));
  for (const auto& e : d.Entries)
    EXPECT_EQ(e.Number(), dateKeys[static_cast<std::size_t>(e.Record - 1)]);
  EXPECT_EQ(d.Entries.front().Number(), 0.0);  // blank dates first

  // The engine walks them in the same order.
  USE("prices.dbf");
  SetIndexTo("price.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), OrderOfNumbers(priceKeys));
  EXPECT_EQ(WalkBackward(), Reversed(OrderOfNumbers(priceKeys)));
  SetIndexTo("added.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), OrderOfNumbers(dateKeys));
}

TEST_F(NdxBuildTest, TreeShapes) {
  // An empty table: the anchor and one empty leaf.
  CheatTable("empty.dbf", {});
  USE("empty.dbf");
  Index_On("empty.ndx", "cheatname");
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(Find("a"));
  CloseAll();
  Bytes e = test::ReadFile("empty.ndx");
  ASSERT_EQ(e.size(), 1024u);
  EXPECT_EQ(U32At(e, 0), 1u);
  EXPECT_EQ(U32At(e, 4), 2u);
  EXPECT_EQ(U32At(e, 492), 0u);
  EXPECT_EQ(U32At(e, 488), 0xFFFFFFFFu);
  EXPECT_TRUE(std::all_of(e.begin() + 512, e.end(), [](std::uint8_t c) { return c == 0; }));
  NdxCheckOptions none;
  none.Records = 0;
  EXPECT_TRUE(CheckNdxFile("empty.ndx", none).Ok()) << CheckNdxFile("empty.ndx", none).Text();

  // Exactly keys-per-node records: one full leaf as the root.
  std::vector<std::string> eleven;
  for (int i = 0; i < 11; ++i) eleven.push_back(std::string(1, static_cast<char>('k' - i)));
  CheatTable("eleven.dbf", eleven);
  USE("eleven.dbf");
  Index_On("eleven.ndx", "cheatname");
  CloseAll();
  Bytes f = test::ReadFile("eleven.ndx");
  ASSERT_EQ(f.size(), 1024u);
  EXPECT_EQ(U32At(f, 0), 1u);
  EXPECT_EQ(U32At(f, 4), 2u);
  EXPECT_EQ(U16At(f, 512), 11);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(U32At(f, 512 + 4 + 44 * i), 0u);
    EXPECT_EQ(U32At(f, 512 + 8 + 44 * i), static_cast<std::uint32_t>(11 - i));
  }
  NdxCheckOptions o;
  o.Records = 11;
  EXPECT_TRUE(CheckNdxFile("eleven.ndx", o).Ok());

  // One more: two leaves and a root with one entry and a right-most child.
  eleven.push_back("0");
  CheatTable("twelve.dbf", eleven);
  USE("twelve.dbf");
  Index_On("twelve.ndx", "cheatname");
  EXPECT_EQ(WalkForward(), (Recs{12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  CloseAll();
  Bytes t = test::ReadFile("twelve.ndx");
  ASSERT_EQ(t.size(), 4u * 512);
  EXPECT_EQ(U32At(t, 0), 3u);
  EXPECT_EQ(U32At(t, 4), 4u);
  EXPECT_EQ(U16At(t, 512), 11);       // node 1: the first, full leaf
  EXPECT_EQ(U16At(t, 1024), 1);       // node 2: the last leaf
  EXPECT_EQ(U32At(t, 1024 + 8), 1u);  // record 1 ("k") is the greatest
  EXPECT_EQ(U16At(t, 1536), 1);       // node 3: the root
  EXPECT_EQ(U32At(t, 1536 + 4), 1u);  // its entry's child
  EXPECT_EQ(U32At(t, 1536 + 8), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&t[1536 + 12]), 35), Pad("j", 35));
  EXPECT_EQ(U32At(t, 1536 + 4 + 44), 2u);  // the right-most child
  o.Records = 12;
  EXPECT_TRUE(CheckNdxFile("twelve.ndx", o).Ok());

  // Numeric keys: 31 a node.
  for (int count : {31, 32}) {
    DbfBuilder nb;
    nb.Field("N", 'N', 5);
    for (int i = 0; i < count; ++i) nb.Record({std::to_string(count - i)});
    nb.Write("n.dbf");
    USE("n.dbf");
    Index_On("n.ndx", "n");
    CloseAll();
    o.Records = count;
    const NdxReport r = CheckNdxFile("n.ndx", o);
    EXPECT_TRUE(r.Ok()) << r.Text();
    EXPECT_EQ(r.Root, count == 31 ? 1 : 3);
    EXPECT_EQ(r.NextFree, count == 31 ? 2 : 4);
    EXPECT_EQ(r.Leaves, count == 31 ? 1 : 2);
  }

  // A level left without entries is skipped: with (11 + 1) x 11 + 1 keys the
  // root's right-most child is a leaf right below it, its other child a
  // level-1 node.
  const std::vector<std::string> many = RandomNames(133, 11);
  CheatTable("skip.dbf", many);
  USE("skip.dbf");
  Index_On("skip.ndx", "cheatname");
  const Recs order = OrderOf(Keys35(many));
  EXPECT_EQ(WalkForward(), order);
  EXPECT_EQ(WalkBackward(), Reversed(order));
  CloseAll();
  o.Records = 133;
  NdxReport s = CheckNdxFile("skip.ndx", o);
  EXPECT_TRUE(s.Ok()) << s.Text();
  EXPECT_EQ(s.MinLeafDepth, 1);
  EXPECT_EQ(s.MaxLeafDepth, 2);
  EXPECT_EQ(s.Leaves, 13);
  EXPECT_EQ(s.Interiors, 2);
  EXPECT_EQ(ReportRecords(s), order);

  // Several levels.
  const std::vector<std::string> lots = RandomNames(1800, 12, 5);
  CheatTable("lots.dbf", lots, {1, 900, 1800});
  USE("lots.dbf");
  Index_On("lots.ndx", "cheatname");
  const Recs lotsOrder = OrderOf(Keys35(lots));
  EXPECT_EQ(WalkForward(), lotsOrder);
  EXPECT_EQ(WalkBackward(), Reversed(lotsOrder));
  CloseAll();
  o.Records = 1800;
  s = CheckNdxFile("lots.ndx", o);
  EXPECT_TRUE(s.Ok()) << s.Text();
  EXPECT_GE(s.MaxLeafDepth, 3);
  EXPECT_EQ(ReportRecords(s), lotsOrder);
}

TEST_F(NdxBuildTest, UniqueKeepsTheLowestRecordOfEqualKeys) {
  const std::vector<std::string> names = {"Doom",  "Quake", "Doom", "Hexen",
                                          "Quake", "Doom",  "Myst", "Hexen"};
  CheatTable("u.dbf", names, {1, 4});
  USE("u.dbf");
  Index_On("u.ndx UNIQUE", "cheatname");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  // Deleted or not, the lowest record of each key stays.
  EXPECT_EQ(WalkForward(), (Recs{1, 4, 7, 2}));
  Engine().Settings.HideDeleted = true;
  EXPECT_EQ(WalkForward(), (Recs{7, 2}));
  Engine().Settings.HideDeleted = false;
  CloseAll();
  NdxCheckOptions o;
  o.Occurrences = {{1, 1}, {2, 1}, {4, 1}, {7, 1}};
  o.AnchorCount = 8;
  NdxReport r = CheckNdxFile("u.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.UniqueByte, 1);
  EXPECT_EQ(ReportRecords(r), (Recs{1, 4, 7, 2}));

  // The engine-wide default makes every new index UNIQUE.
  IndexEngine().Settings.UniqueDefault = true;
  USE("u.dbf");
  Index_On("d.ndx", "cheatname");
  CloseAll();
  r = CheckNdxFile("d.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.UniqueByte, 1);
  IndexEngine().Settings.UniqueDefault = false;

  // Many duplicates across runs that spill.
  const std::vector<std::string> dupes = RandomNames(400, 3, 2, 3);
  CheatTable("dupes.dbf", dupes);
  IndexEngine().RunItems = 9;
  UseOwnTmp(dir_.File("tmp"));
  USE("dupes.dbf");
  BuildOptions u;
  u.Expression = "cheatname";
  u.Unique = true;
  MakeIndex("dupes.ndx", u);
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  std::map<std::string, std::int32_t> first;
  for (std::size_t i = 0; i < dupes.size(); ++i)
    first.emplace(Pad(dupes[i], 35), static_cast<std::int32_t>(i) + 1);
  NdxCheckOptions uo;
  for (const auto& [k, rec] : first) uo.Occurrences[rec] = 1;
  r = CheckNdxFile("dupes.ndx", uo);
  EXPECT_TRUE(r.Ok()) << r.Text();
  ASSERT_EQ(r.Entries.size(), first.size());
  std::size_t i = 0;
  for (const auto& [k, rec] : first) {
    EXPECT_EQ(r.Entries[i].Key, k);
    EXPECT_EQ(r.Entries[i].Record, rec);
    ++i;
  }
}

TEST_F(NdxBuildTest, DeletedRecordsAreIndexedAndHiddenWhenAsked) {
  const std::vector<std::string> names = RandomNames(40, 5);
  const std::set<std::int64_t> deleted = {1, 2, 7, 20, 39, 40};
  CheatTable("d.dbf", names, deleted);
  USE("d.dbf");
  Index_On("d.ndx", "cheatname");
  const Recs order = OrderOf(Keys35(names));
  EXPECT_EQ(WalkForward(), order);
  Engine().Settings.HideDeleted = true;
  const Recs visible = Without(order, deleted);
  EXPECT_EQ(WalkForward(), visible);
  EXPECT_EQ(WalkBackward(), Reversed(visible));
  GoTop();
  EXPECT_EQ(RecNo(), visible.front());
  GoBottom();
  EXPECT_EQ(RecNo(), visible.back());
  CloseAll();
  NdxCheckOptions o;
  o.Records = 40;
  EXPECT_TRUE(CheckNdxFile("d.ndx", o).Ok());

  // Nothing visible: both ends at once.
  CheatTable("gone.dbf", {"a", "b", "c"}, {1, 2, 3});
  USE("gone.dbf");
  Index_On("gone.ndx", "cheatname");
  GoTop();
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), 4);
  GoBottom();
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(Find("a"));
  EXPECT_EQ(RecNo(), 4);
}

TEST_F(NdxBuildTest, SpilledRunsGiveTheSameBytesAsOneRun) {
  const std::string tmp = dir_.File("runs");
  UseOwnTmp(tmp);
  std::vector<std::string> names = RandomNames(300, 21, 3, 6);
  CheatTable("s.dbf", names, {5, 6, 150});
  struct Case {
    const char* expression;
    bool unique;
  };
  for (const Case c : {Case{"cheatname", false}, Case{"cheatname", true}, Case{"level", false},
                       Case{"added", false}, Case{"upper(cheatname)+str(level,8,2)", false}}) {
    SCOPED_TRACE(c.expression);
    BuildOptions b;
    b.Expression = c.expression;
    b.Unique = c.unique;
    USE("s.dbf");
    IndexEngine().RunItems = 8189;
    MakeIndex("one.ndx", b);
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    for (std::size_t items : {7, 1, 64, 299, 300}) {
      IndexEngine().RunItems = items;
      MakeIndex("spilled.ndx", b);
      ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
      EXPECT_EQ(test::ReadFile("spilled.ndx"), test::ReadFile("one.ndx")) << items;
      EXPECT_FALSE(HasSpillFiles(tmp));
    }
    CloseAll();
    NdxCheckOptions o;
    if (!c.unique) o.Records = 300;
    const NdxReport r = CheckNdxFile("one.ndx", o);
    EXPECT_TRUE(r.Ok()) << r.Text();
  }

  // Seven items a run really spill: without a folder for the run file the
  // build fails, while one run needs no file.
  setenv("TMPDIR", dir_.File("nowhere").c_str(), 1);
  USE("s.dbf");
  BuildOptions b;
  b.Expression = "cheatname";
  IndexEngine().RunItems = 300;
  MakeIndex("fits.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  IndexEngine().RunItems = 7;
  {
    ScopedErrorDispatch quiet(false);
    MakeIndex("spills.ndx", b);
    EXPECT_NE(Engine().Errors.ErrorCode, 0);
    EXPECT_NE(Engine().Errors.ErrorDetail.find("sort file"), std::string::npos)
        << Engine().Errors.ErrorDetail;
  }
  CloseAll();

  // A build that fails after it spilled leaves no run file behind: the
  // header claims more records than the file holds.
  setenv("TMPDIR", tmp.c_str(), 1);
  CheatTable("short.dbf", RandomNames(1000, 2));
  Bytes shortTable = test::ReadFile("short.dbf");
  test::Put32(shortTable, 4, 1200);
  test::WriteFile("short.dbf", shortTable);
  USE("short.dbf exclusive");
  ASSERT_EQ(RecCount(), 1200);
  IndexEngine().RunItems = 7;
  {
    ScopedErrorDispatch quiet(false);
    MakeIndex("short.ndx", b);
    EXPECT_NE(Engine().Errors.ErrorCode, 0);
  }
  EXPECT_FALSE(HasSpillFiles(tmp));
}

TEST_F(NdxBuildTest, ProgressIsReportedAHundredTimes) {
  UseOwnTmp(dir_.File("tmp"));
  int steps = 0;
  for (std::size_t records : {100, 101, 199, 250, 1000, 3001}) {
    CheatTable("p.dbf", RandomNames(records, static_cast<unsigned>(records)));
    for (bool unique : {false, true}) {
      for (std::size_t items : {std::size_t{8189}, std::size_t{13}}) {
        steps = 0;
        IndexEngine().Progress.Steps = 100;
        IndexEngine().Progress.Step = [&steps] { ++steps; };
        IndexEngine().RunItems = items;
        USE("p.dbf");
        BuildOptions b;
        b.Expression = "cheatname";
        b.Unique = unique;
        MakeIndex("p.ndx", b);
        ASSERT_EQ(Engine().Errors.ErrorCode, 0);
        EXPECT_EQ(steps, 100) << records << " records, unique " << unique << ", run " << items;
        CloseAll();
      }
    }
  }
  // Index_On reports the same way; no procedure, no calls.
  steps = 0;
  USE("p.dbf");
  Index_On("q.ndx", "level");
  EXPECT_EQ(steps, 100);
  IndexEngine().Progress = {};
  steps = 0;
  Index_On("q.ndx", "level");
  EXPECT_EQ(steps, 0);
}

TEST_F(NdxBuildTest, BuildRefusals) {
  ScopedErrorDispatch quiet(false);
  BuildOptions b;
  b.Expression = "cheatname";
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 215);

  CheatTable("r.dbf", {"Doom", "", "Quake", std::string(35, 'x')});
  USE("r.dbf");
  // 100 characters are allowed, 101 are not.
  b.Expression = "cheatname" + std::string(91, ' ');
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  b.Expression += " ";
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 300);
  EXPECT_EQ(Engine().Errors.ErrorDetail,
            "Expression length exceeds 100 bytes [MakeIndex(<...>,x.ndx)]");

  // An empty key of the current record.
  GO(2);
  b.Expression = "trim(cheatname)";
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 266);
  EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Incorrect key length: Must be 1 to 100.", 0), 0u)
      << Engine().Errors.ErrorDetail;
  // A key longer than 100 bytes.
  b.Expression = "cheatname+cheatname+cheatname";
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 266);
  // A logical key.
  b.Expression = "cheatname = 'Doom'";
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 254);
  EXPECT_NE(Engine().Errors.ErrorDetail.find("Wrong parser return type"), std::string::npos);
  // Neither an expression nor a KeyMaker.
  b.Expression = "  ";
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 254);
  b.Expression = "cheatname";
  MakeIndex("  ", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  // An index open in any area cannot be rebuilt under it.
  MakeIndex("x.ndx", b);
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  SetIndexTo("x.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  MakeIndex("x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 214);
  MakeIndex(dir_.File("X.NDX"), b);  // the same file, spelt differently
  EXPECT_EQ(Engine().Errors.ErrorCode, 214);
  MakeIndex("./x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 214);
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  MakeIndex("sub/up/x.ndx", b);
  EXPECT_EQ(Engine().Errors.ErrorCode, 214);
  CloseIndexes();

  // A key shorter than the key length is padded with blanks; the key length
  // is the current record's.
  GO(4);
  b.Expression = "trim(cheatname)";
  MakeIndex("trim.ndx", b);
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  GO(1);
  MakeIndex("trim4.ndx", b);
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  CloseAll();
  NdxCheckOptions o;
  o.Records = 4;
  NdxReport r = CheckNdxFile("trim.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.KeyLen, 35);
  EXPECT_EQ(ReportRecords(r), (Recs{2, 1, 3, 4}));
  EXPECT_EQ(r.Entries[0].Key, std::string(35, ' '));
  EXPECT_EQ(r.Entries[1].Key, Pad("Doom", 35));
  r = CheckNdxFile("trim4.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.KeyLen, 4);
  EXPECT_EQ(r.EntrySize, 12);
  EXPECT_EQ(r.KeysPerNode, 42);
  EXPECT_EQ(r.Entries[1].Key, "Doom");
  EXPECT_EQ(r.Entries[2].Key, "Quak");
  EXPECT_EQ(r.Entries[3].Key, "xxxx");
}

// ===================================================================================
// Opening
// ===================================================================================

using NdxOpenTest = NdxTest;

TEST_F(NdxOpenTest, RefusalsAreLeftForTheCaller) {
  // Errors raise in this fixture; SetIndexTo leaves them in the error state.
  auto refused = [](const std::string& name, KeyMaker maker = nullptr, int order = 1) {
    try {
      SetIndexTo(name, std::move(maker), order);
    } catch (const EngineError& e) {
      ADD_FAILURE() << "SetIndexTo dispatched: " << e.what();
    }
    const int code = Engine().Errors.ErrorCode;
    if (CurrentTable() && code != 0) {
      EXPECT_FALSE(IndexEngine()
                       .Areas[static_cast<std::size_t>(Engine().Areas.Current)]
                       .Opened[static_cast<std::size_t>(std::clamp(order, 1, kMaxOrders))])
          << name;
    }
    return code;
  };
  EXPECT_EQ(refused("t.ndx"), 215);

  CheatTable("t.dbf", {"Doom", "Quake", "Myst"});
  USE("t.dbf");
  Index_On("t.ndx", "cheatname");
  CloseIndexes();
  EXPECT_EQ(refused("t.ndx", nullptr, 0), 220);
  EXPECT_EQ(refused("t.ndx", nullptr, 17), 220);
  EXPECT_EQ(refused("missing.ndx"), 2);

  const Bytes good = test::ReadFile("t.ndx");
  auto variant = [&](const std::function<void(Bytes&)>& change) {
    Bytes b = good;
    change(b);
    test::WriteFile("v.ndx", b);
    return refused("v.ndx");
  };
  EXPECT_EQ(variant([](Bytes& b) { b.resize(1023); }), 222);
  EXPECT_EQ(variant([](Bytes& b) { test::Put16(b, 12, 0); }), 222);    // key length 0
  EXPECT_EQ(variant([](Bytes& b) { test::Put16(b, 12, 101); }), 222);  // key length 101
  EXPECT_EQ(variant([](Bytes& b) { test::Put16(b, 18, 40); }), 222);   // entry size < key + 8
  EXPECT_EQ(variant([](Bytes& b) { test::Put16(b, 14, 0); }), 222);    // no key a node
  EXPECT_EQ(variant([](Bytes& b) { test::Put16(b, 14, 12); }), 222);   // 12 x 44 + 8 > 512
  EXPECT_EQ(variant([](Bytes& b) { test::Put32(b, 0, 0); }), 222);     // root 0
  EXPECT_EQ(variant([](Bytes& b) { test::Put32(b, 0, 2); }), 222);     // root past the file
  EXPECT_EQ(variant([](Bytes& b) { test::Put32(b, 4, 3); }), 222);     // next free past the file
  EXPECT_EQ(variant([](Bytes& b) { test::Put32(b, 4, 1); }), 222);     // no node
  EXPECT_EQ(variant([](Bytes& b) { b[9] = 'N'; }), 222);               // a numeric key of 35 bytes
  EXPECT_EQ(variant([](Bytes& b) { std::memcpy(&b[24], "NOSUCHFIELD\0", 12); }), 222);
  EXPECT_EQ(variant([](Bytes& b) { std::memcpy(&b[24], "LEVEL\0", 6); }),
            222);                                        // numeric, anchor says C
  EXPECT_EQ(variant([](Bytes& b) { b[24] = 0; }), 222);  // no expression
  EXPECT_EQ(variant([&](Bytes& b) { b.resize(good.size() + 512 * 3 + 100); }), 0);  // longer: fine
  CloseIndexes();

  // A numeric index whose anchor says 4 bytes.
  Index_On("n.ndx", "level");
  CloseIndexes();
  Bytes n = test::ReadFile("n.ndx");
  test::Put16(n, 12, 4);
  test::WriteFile("n4.ndx", n);
  EXPECT_EQ(refused("n4.ndx"), 222);

  // A KeyMaker index needs its KeyMaker; an expression index refuses one.
  int made = 0;
  Index_On("maker.ndx", [&made] {
    ++made;
    return NativeText(1).substr(0, 6);
  });
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_GE(made, 3);
  EXPECT_EQ(WalkForward(), (Recs{1, 3, 2}));
  CloseIndexes();
  EXPECT_EQ(test::CheckNdxFile("maker.ndx").Expression,
            "USERDEFINEDKEYMAKERWASUSEDTOBUILDTHISINDEX");
  EXPECT_EQ(refused("maker.ndx"), 223);
  EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Key maker function required, ", 0), 0u)
      << Engine().Errors.ErrorDetail;
  EXPECT_EQ(refused("t.ndx", [] { return std::string("x"); }), 223);
  SetIndexTo("maker.ndx", [] { return NativeText(1).substr(0, 6); });
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  CloseIndexes();

  // The same file under a second order of one area.
  SetIndexTo("t.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(refused("t.ndx", nullptr, 2), 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Index file already open: ", 0), 0u)
      << Engine().Errors.ErrorDetail;
  EXPECT_EQ(refused("./t.ndx", nullptr, 2), 220);
  EXPECT_EQ(refused(dir_.File("T.NDX"), nullptr, 3), 220);
  EXPECT_EQ(CurrentOrder(), 1);
  CloseAll();

  // A key that no longer fits: built on a 10-wide field, opened on a table
  // whose field is 12 wide.
  DbfBuilder narrow;
  narrow.Field("CODE", 'C', 10).Record({"abc"}).Record({"xyz"});
  narrow.Write("codes.dbf");
  USE("codes.dbf");
  Index_On("codes.ndx", "code");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  CloseAll();
  DbfBuilder wide;
  wide.Field("CODE", 'C', 12).Record({"abc"}).Record({"xyz"});
  wide.Write("codes.dbf");
  USE("codes.dbf");
  EXPECT_EQ(refused("codes.ndx"), 266);
  // The open's own key check reports it, not the moves of its positioning.
  EXPECT_EQ(
      Engine().Errors.ErrorDetail,
      "Incorrect key length: Must be 1 to 100.\n\rExpected Length=  10\n\rKey= [abc         ] " +
          platform::AsciiUpper(dir_.File("codes.ndx")) + " [SetIndexTo/OpenIndex]");
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_EQ(WalkForward(), (Recs{1, 2}));  // natural order goes on
}

TEST_F(NdxOpenTest, ALongerFileIsCorrectedOnlyWhenTheOpenMayWrite) {
  CheatTable("t.dbf", RandomNames(50, 4));
  const std::vector<std::string> names = RandomNames(50, 4);
  NdxBuilder nb('C', 35);
  nb.Expression("CHEATNAME").Fill(7).ExtraBlocks(3).CountCheck(50, "T.DBF");
  for (std::size_t i = 0; i < names.size(); ++i) nb.Key(names[i], static_cast<std::int32_t>(i) + 1);
  nb.Write("long.ndx");
  const Bytes before = test::ReadFile("long.ndx");
  const std::uint32_t nextFree = U32At(before, 4);
  const Recs order = OrderOf(Keys35(names));

  // Read-only: nothing is written, the walk works.
  Engine().Settings.ForcedFileMode = platform::kModeRead;
  USE("t.dbf");
  SetIndexTo("long.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), order);
  EXPECT_EQ(WalkBackward(), Reversed(order));
  EXPECT_TRUE(Find(names[9].substr(0, 3)));
  GO(17);
  SKIP(1);
  CloseAll();
  Engine().Settings.ForcedFileMode = -1;
  EXPECT_EQ(test::ReadFile("long.ndx"), before);

  // Writable: the anchor's next free becomes the file's block count; the
  // nodes stay as they were.
  USE("t.dbf");
  SetIndexTo("long.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), order);
  CloseAll();
  const Bytes after = test::ReadFile("long.ndx");
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(U32At(after, 4), nextFree + 3);
  EXPECT_EQ(U32At(after, 0), U32At(before, 0));
  EXPECT_TRUE(std::equal(before.begin() + 512, before.end(), after.begin() + 512));
  NdxCheckOptions o;
  o.Records = 50;
  o.AllReachable = false;  // the extra blocks
  o.AllowEmptyLeaves = false;
  const NdxReport r = CheckNdxFile("long.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
}

TEST_F(NdxOpenTest, OneIndexInTwoAreasOfTheSameTable) {
  CheatTable("t.dbf", {"Doom", "Quake", "Myst", "Hexen"});
  DbfBuilder other;
  other.Field("CHEATNAME", 'C', 35).Record({"Zork"});
  other.Write("other.dbf");
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  USE("t.dbf");
  Index_On("t.ndx", "cheatname");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  // The same table through another path.
  Select(2);
  USE("sub/up/t.dbf alias t2");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  SetIndexTo("t.ndx");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{1, 4, 3, 2}));
  Select(1);
  EXPECT_EQ(WalkBackward(), (Recs{2, 3, 4, 1}));
  Select(2);
  EXPECT_EQ(RecNo(), 5);  // the other area stayed where it was
  // Another table refuses it.
  Select(3);
  USE("other.dbf");
  SetIndexTo(dir_.File("t.ndx"));
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Index file already open: ", 0), 0u)
      << Engine().Errors.ErrorDetail;
  EXPECT_NE(Engine().Errors.ErrorDetail.find("Attempting to set index of same name for " +
                                             platform::AsciiUpper(dir_.File("OTHER.DBF"))),
            std::string::npos)
      << Engine().Errors.ErrorDetail;
  EXPECT_EQ(CurrentOrder(), 0);
}

// Leaves that hold nothing (another program's deletions leave them): walks
// pass over them both ways, and a step that meets an end past them stays
// on the last entry there, from where a step back goes on.
TEST_F(NdxOpenTest, WalksPassOverLeavesThatHoldNothing) {
  DbfBuilder b;
  b.Field("NUM", 'N', 6);
  std::vector<double> nums;
  for (int i = 0; i < 60; ++i) {
    nums.push_back((i * 17) % 60);
    const std::string text = std::to_string(static_cast<int>(nums.back()));
    b.RawRecord(" " + std::string(6 - text.size(), ' ') + text);
  }
  b.Write("nums.dbf");
  NdxBuilder nb('N', 8);
  nb.Expression("NUM").Fill(3);
  for (std::size_t i = 0; i < nums.size(); ++i)
    nb.Number(nums[i], static_cast<std::int32_t>(i) + 1);
  const Bytes full = nb.Build();
  // Top-down, level by level: the leaves (entries with no child) come last,
  // in key order.
  std::vector<std::size_t> leaves;
  for (std::size_t at = 512; at + 512 <= full.size(); at += 512)
    if (U16At(full, at) > 0 && U32At(full, at + 4) == 0) leaves.push_back(at);
  ASSERT_GE(leaves.size(), 8u);
  const std::vector<std::vector<std::size_t>> emptied = {
      {leaves[0], leaves[1]},                                   // at the start
      {leaves[3]},                                              // inside
      {leaves[leaves.size() - 2], leaves[leaves.size() - 1]}};  // at the end
  Bytes x = full;
  std::set<std::int64_t> gone;
  for (const auto& group : emptied)
    for (std::size_t at : group) {
      for (std::size_t e = 0; e < U16At(x, at); ++e) gone.insert(U32At(x, at + 8 + 16 * e));
      test::Put16(x, at, 0);
    }
  test::WriteFile("nums.ndx", x);
  Recs expected;
  for (std::int64_t r : OrderOfNumbers(nums))
    if (!gone.count(r)) expected.push_back(r);

  USE("nums.dbf");
  Set_Index_To("nums.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), expected);
  EXPECT_EQ(WalkBackward(), Reversed(expected));
  GoBottom();
  SKIP(1);
  EXPECT_TRUE(dEOF());
  SKIP(-1);
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(RecNo(), expected.back());
  SKIP(-1);
  EXPECT_EQ(RecNo(), expected[expected.size() - 2]);
  GoTop();
  SKIP(-1);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), expected.front());
  SKIP(1);
  EXPECT_EQ(RecNo(), expected[1]);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
}

TEST_F(NdxOpenTest, FilesWrittenTheWayOtherProgramsWriteThem) {
  // A table whose CODE texts are padded with NULs (as some programs store
  // them), indexed with NUL-padded keys.
  std::mt19937 rng(5);
  std::vector<std::string> codes, keys;
  std::vector<double> nums;
  DbfBuilder b;
  b.Field("CODE", 'C', 12).Field("NUM", 'N', 6);
  for (int i = 0; i < 100; ++i) {
    std::string c;
    for (int n = 1 + static_cast<int>(rng() % 12); n > 0; --n)
      c += static_cast<char>('A' + rng() % 4);
    const int num = static_cast<int>(rng() % 200) - 100;
    codes.push_back(c);
    keys.push_back(Pad(c, 12, '\0'));
    nums.push_back(num);
    std::string numText = std::to_string(num);
    b.RawRecord(" " + Pad(c, 12, '\0') + std::string(6 - numText.size(), ' ') + numText);
  }
  b.Write("codes.dbf");
  const Recs order = OrderOf(keys);
  const Recs numOrder = OrderOfNumbers(nums);

  struct Variant {
    NdxBuilder::Layout layout;
    int fill;
    bool letter;
  };
  for (const Variant v : {Variant{NdxBuilder::Layout::TopDown, 1, true},
                          Variant{NdxBuilder::Layout::TopDown, 2, false},
                          Variant{NdxBuilder::Layout::TopDown, 5, false},
                          Variant{NdxBuilder::Layout::BottomUp, 3, true},
                          Variant{NdxBuilder::Layout::TopDown, 0, false}}) {
    SCOPED_TRACE("fill " + std::to_string(v.fill) +
                 (v.layout == NdxBuilder::Layout::TopDown ? " top-down" : " bottom-up"));
    b.Write("codes.dbf");  // without the records a previous round appended
    NdxBuilder cb('C', 12);
    cb.Expression("CODE").PadWith('\0').Fill(v.fill).Arrange(v.layout);
    if (!v.letter) cb.Letter(0);  // the type letter left out
    for (std::size_t i = 0; i < codes.size(); ++i)
      cb.Key(codes[i], static_cast<std::int32_t>(i) + 1);
    cb.Write("code.ndx");
    NdxBuilder nb('N', 8);
    nb.Expression("NUM").Fill(v.fill).Arrange(v.layout);
    if (!v.letter) nb.Letter(0);
    for (std::size_t i = 0; i < nums.size(); ++i)
      nb.Number(nums[i], static_cast<std::int32_t>(i) + 1);
    nb.Write("num.ndx");
    const Bytes codeBytes = test::ReadFile("code.ndx");
    if (v.layout == NdxBuilder::Layout::TopDown) {
      EXPECT_EQ(U32At(codeBytes, 0), 1u);  // the root first
    }

    USE("codes.dbf exclusive");
    Set_Index_To("code.ndx num.ndx");
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(WalkForward(), order);
    EXPECT_EQ(WalkBackward(), Reversed(order));
    for (std::size_t at : {std::size_t{0}, std::size_t{17}, std::size_t{63}, std::size_t{98}}) {
      GO(order[at]);
      ASSERT_EQ(Engine().Errors.ErrorCode, 0);
      SKIP(1);
      EXPECT_EQ(RecNo(), order[at + 1]);
      EXPECT_TRUE(Find(codes[static_cast<std::size_t>(order[at] - 1)]));
      EXPECT_EQ(Peek(1, RecNo()).substr(0, codes[static_cast<std::size_t>(order[at] - 1)].size()),
                codes[static_cast<std::size_t>(order[at] - 1)]);
    }
    EXPECT_FALSE(Find("E"));
    EXPECT_TRUE(dEOF());
    Set_Order_To(2);
    EXPECT_EQ(WalkForward(), numOrder);
    EXPECT_TRUE(Find(std::to_string(static_cast<int>(nums[40]))));
    EXPECT_EQ(nums[static_cast<std::size_t>(RecNo() - 1)], nums[40]);
    // Appends go into the foreign layout.
    Set_Order_To(1);
    std::vector<std::string> allKeys = keys;
    std::vector<double> allNums = nums;
    for (int i = 0; i < 60; ++i) {
      ClearRecord();
      std::string c;
      for (int n = 1 + static_cast<int>(rng() % 12); n > 0; --n)
        c += static_cast<char>('A' + rng() % 4);
      SetName(c);                             // blank-padded, as this engine stores texts
      SetNativeInt(FieldAddress(2), i - 30);  // N 6 0: an integer slot
      Append();
      ASSERT_EQ(Engine().Errors.ErrorCode, 0);
      allKeys.push_back(Pad(c, 12));
      allNums.push_back(i - 30);
    }
    EXPECT_EQ(WalkForward(), OrderOf(allKeys));
    Set_Order_To(2);
    EXPECT_EQ(WalkForward(), OrderOfNumbers(allNums));
    CloseAll();
    NdxCheckOptions o;
    o.Records = 160;
    o.AnchorCount = 160;
    NdxReport r = CheckNdxFile("code.ndx", o);
    EXPECT_TRUE(r.Ok()) << r.Text();
    EXPECT_EQ(r.Letter, 'C');  // written back with its letter
    r = CheckNdxFile("num.ndx", o);
    EXPECT_TRUE(r.Ok()) << r.Text();
    EXPECT_EQ(r.Letter, 'N');
  }

  // Wider entries than the key needs, as long as the anchor says so.
  NdxBuilder wide('C', 12);
  b.Write("codes.dbf");
  wide.Expression("code").PadWith('\0').EntrySize(28).KeysPerNode(17).Fill(4);
  for (std::size_t i = 0; i < codes.size(); ++i)
    wide.Key(codes[i], static_cast<std::int32_t>(i) + 1);
  wide.Write("wide.ndx");
  USE("codes.dbf");
  SetIndexTo("wide.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), order);
  EXPECT_EQ(WalkBackward(), Reversed(order));
}

// ===================================================================================
// Navigation and Find
// ===================================================================================

using NdxNavTest = NdxTest;

TEST_F(NdxNavTest, MovesFollowTheControllingIndex) {
  const std::vector<std::string> names = RandomNames(70, 31);
  const std::set<std::int64_t> deleted = {2, 33, 70};
  CheatTable("t.dbf", names, deleted);
  USE("t.dbf");
  Index_On("t.ndx", "cheatname");
  Index_On("lvl.ndx", "level");
  CloseIndexes();
  Set_Index_To("t.ndx lvl.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  const Recs order = OrderOf(Keys35(names));
  EXPECT_EQ(CurrentOrder(), 1);

  // Next from the last entry: EOF, the index standing on the last record.
  GoBottom();
  EXPECT_EQ(RecNo(), order.back());
  SKIP(1);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 71);
  SKIP(-1);
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(RecNo(), order.back());
  // Prior from the first: BOF on the first record.
  GoTop();
  SKIP(-1);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), order.front());
  SKIP(1);
  EXPECT_FALSE(dBOF());
  EXPECT_EQ(RecNo(), order[1]);
  // From any record, in key order, several steps at a time.
  for (std::size_t at : {std::size_t{0}, std::size_t{10}, std::size_t{35}, std::size_t{68}}) {
    GO(order[at]);
    SKIP(1);
    EXPECT_EQ(RecNo(), order[at + 1]);
    SKIP(-1);
    EXPECT_EQ(RecNo(), order[at]);
  }
  GO(order[5]);
  SKIP(20);
  EXPECT_EQ(RecNo(), order[25]);
  SKIP(-12);
  EXPECT_EQ(RecNo(), order[13]);
  SKIP(100);
  EXPECT_TRUE(dEOF());
  GO(order[3]);
  SKIP(-10);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), order[0]);

  // Deleted records hidden: moves pass over them.
  Engine().Settings.HideDeleted = true;
  const Recs visible = Without(order, deleted);
  EXPECT_EQ(WalkForward(), visible);
  EXPECT_EQ(WalkBackward(), Reversed(visible));
  Engine().Settings.HideDeleted = false;

  // The second order, natural order and back.
  Set_Order_To(2);
  EXPECT_EQ(CurrentOrder(), 2);
  std::vector<double> levels;
  for (std::size_t i = 0; i < names.size(); ++i)
    levels.push_back(static_cast<double>(i % 7) + 0.25);
  EXPECT_EQ(WalkForward(), OrderOfNumbers(levels));
  Set_Order_To(0);
  EXPECT_EQ(CurrentOrder(), 0);
  Recs natural(70);
  for (int i = 0; i < 70; ++i) natural[static_cast<std::size_t>(i)] = i + 1;
  EXPECT_EQ(WalkForward(), natural);
  {
    ScopedErrorDispatch quiet(false);
    EXPECT_FALSE(Find("Doom"));
    EXPECT_EQ(Engine().Errors.ErrorCode, 254);
    EXPECT_EQ(Engine().Errors.ErrorDetail,
              "Cannot use Find() with index order 0 (natural order) [Find]");
  }
  GO(order[40]);
  Set_Order_To(1);
  EXPECT_EQ(RecNo(), order[40]);
  SKIP(1);
  EXPECT_EQ(RecNo(), order[41]);
  {
    ScopedErrorDispatch quiet(false);
    Set_Order_To(5);
    EXPECT_EQ(Engine().Errors.ErrorCode, 221);
    Set_Order_To(17);
    EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  }
  EXPECT_EQ(CurrentOrder(), 1);
  CloseIndex(1);
  EXPECT_EQ(CurrentOrder(), 0);
}

// A move may put off unpacking its record until a field is read. Two areas
// on one table make the same moves: one unpacks into the caller's buffer
// at every move, the other when asked. Both must hold the same record
// after every move, whatever was read into the raw buffer meanwhile, and a
// field address handed out follows every later move.
TEST_F(NdxNavTest, ARecordUnpackedLateIsTheOneMovedTo) {
  const std::vector<std::string> names = RandomNames(300, 47);
  DbfBuilder b;
  b.Field("CHEATNAME", 'C', 35).Field("LEVEL", 'N', 8, 2).Field("DONE", 'L', 1);
  for (std::size_t i = 0; i < names.size(); ++i)
    b.Record({names[i], std::to_string(i % 97) + ".5", i % 3 ? "T" : "F"}, i % 11 == 4);
  b.Write("t.dbf");
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  Engine().Settings.HideDeleted = true;
  const std::size_t size = 1 + 36 + 6 + 1;
  std::vector<std::uint8_t> eager(size);
  USE("t.dbf", eager.data(), eager.size());
  Index_On("t.ndx", "CHEATNAME");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  Select(2);
  USE("sub/up/t.dbf alias late");
  SetIndexTo("t.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  WorkArea& late = *CurrentTable();
  ASSERT_EQ(late.NativeSize, size);

  std::mt19937 rng(11);
  const auto count = static_cast<std::uint32_t>(names.size());
  const std::uint8_t* kept = nullptr;
  for (int step = 0; step < 600; ++step) {
    const std::uint32_t what = rng() % 6;
    const std::int64_t r = 1 + rng() % count;
    const std::int64_t k = static_cast<std::int64_t>(rng() % 7) - 3;
    const std::string prefix = names[rng() % count].substr(0, 3);
    for (int area : {1, 2}) {
      Select(area);
      ScopedErrorDispatch quiet(false);  // a SKIP past the end is refused in both
      switch (what) {
        case 0: GO(r); break;
        case 1: GoTop(); break;
        case 2: GoBottom(); break;
        case 3: Find(prefix); break;
        default:
          if (k != 0) SKIP(k);
      }
    }
    SCOPED_TRACE("step " + std::to_string(step));
    ASSERT_EQ(late.RecNo, RecNo());
    Select(1);
    const bool deleted = Deleted();
    Select(2);
    // The kept address is read before anything asks for the record.
    if (kept) {
      EXPECT_EQ(std::memcmp(kept, eager.data() + 1, 36), 0);
    }
    if (step == 300) kept = FieldAddress(1);
    // Another record read into the raw buffer meanwhile does not change
    // what the move unpacks.
    const std::vector<std::uint8_t> raw = late.RawRec;
    if (step % 3 == 0) std::fill(late.RawRec.begin(), late.RawRec.end(), '#');
    EXPECT_EQ(Deleted(), deleted);
    ASSERT_EQ(std::memcmp(NativeRecord(late), eager.data(), size), 0);
    late.RawRec = raw;
  }
}

TEST_F(NdxNavTest, FindSearchesTheControllingIndex) {
  const std::vector<std::string> names = {
      "Doom",    "Quake", "Doom II", "Hexen", "Pok\x82mon Snap", "Quake II",
      "Heretic", "Doom",  "Myst",    "Zork",  "Doom 3",          "Quake 4"};
  CheatTable("f.dbf", names, {2, 4});
  USE("f.dbf");
  Index_On("f.ndx", "cheatname");
  const Recs order = OrderOf(Keys35(names));
  ASSERT_EQ(order, (Recs{1, 8, 11, 3, 7, 4, 9, 5, 2, 12, 6, 10}));

  EXPECT_TRUE(Find("Doom"));  // a prefix: the first of four
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(IndexEngine().Settings.Found);
  SKIP(1);
  EXPECT_EQ(RecNo(), 8);
  EXPECT_TRUE(Find("Doom "));  // "Doom" and its blanks
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(Find("Doom I"));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(Find("H"));
  EXPECT_EQ(RecNo(), 7);
  EXPECT_TRUE(Find("Pok\xE9"));  // typed in ANSI, stored in OEM
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(Find(Pad("Zork", 35) + "and more"));  // cut to the key length
  EXPECT_EQ(RecNo(), 10);

  // Past every key, and between two keys: not found, past the end.
  EXPECT_FALSE(Find("Zzz"));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 13);
  EXPECT_FALSE(IndexEngine().Settings.Found);
  EXPECT_FALSE(Find("Mysz"));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 13);
  EXPECT_FALSE(Find("A"));
  EXPECT_EQ(RecNo(), 13);
  // After a failed search, a good one and moves from it.
  EXPECT_TRUE(Find("Myst"));
  EXPECT_FALSE(dEOF());
  SKIP(1);
  EXPECT_EQ(RecNo(), 5);
  SKIP(-2);
  EXPECT_EQ(RecNo(), 4);

  // An empty text changes nothing.
  GO(6);
  EXPECT_FALSE(Find(""));
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(RecNo(), 6);
  SKIP(1);
  EXPECT_EQ(RecNo(), 10);

  // Exact: the whole key, padded with blanks.
  IndexEngine().Settings.ExactFind = true;
  EXPECT_TRUE(Find("Doom"));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_FALSE(Find("Doo"));
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Find("Doom II"));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(Find(Pad("Zork", 35)));
  IndexEngine().Settings.ExactFind = false;

  // A hidden first match: the next visible one, found only if it matches.
  Engine().Settings.HideDeleted = true;
  EXPECT_TRUE(Find("Quake"));  // 2 is deleted
  EXPECT_EQ(RecNo(), 12);
  EXPECT_FALSE(Find("Hex"));  // 4 is deleted, the next visible is Myst
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 13);
  IndexEngine().Settings.ExactFind = true;
  EXPECT_FALSE(Find("Quake"));
  EXPECT_TRUE(dEOF());
  IndexEngine().Settings.ExactFind = false;
  Engine().Settings.HideDeleted = false;

  // Numeric and date keys.
  DbfBuilder nb;
  nb.Field("PRICE", 'N', 8, 2).Field("ADDED", 'D', 8);
  nb.Record({"12.50", "19931210"})
      .Record({"-3.25", "20000229"})
      .Record({"7.00", ""})
      .Record({"12.50", "19931209"});
  nb.Record({"-0.00", "20240101"});
  nb.Write("n.dbf");
  Select(2);
  USE("n.dbf");
  Index_On("p.ndx", "price");
  EXPECT_TRUE(Find("12.5"));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(Find(" -3.25 "));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_FALSE(Find("12.49"));
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(Find("100"));
  // Zero is zero, whatever its sign in the field or in the search.
  EXPECT_TRUE(Find("0"));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(Find("-0"));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(Find(""));  // on a numeric key: the number 0
  EXPECT_EQ(RecNo(), 5);
  Index_On("a.ndx", "added");
  EXPECT_TRUE(Find("12/10/93"));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(Find("20000229"));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_FALSE(Find("01/01/01"));
  EXPECT_TRUE(dEOF());
}

// ===================================================================================
// Damaged files
// ===================================================================================

class NdxDamageTest : public NdxTest {
 protected:
  // A table of 60 cheats and a good index of it (5 leaves of 11, 1 of 5).
  void SetUp() override {
    NdxTest::SetUp();
    names_ = RandomNames(60, 77);
    CheatTable("t.dbf", names_);
    USE("t.dbf");
    Index_On("good.ndx", "cheatname");
    CloseAll();
    good_ = test::ReadFile("good.ndx");
    order_ = OrderOf(Keys35(names_));
  }

  // Opens a damaged index and exercises it; every path must end, with an
  // error or without one. Returns the first error code met (0: none).
  int Exercise(const Bytes& file) {
    test::WriteFile("bad.ndx", file);
    ScopedErrorDispatch quiet(false);
    int first = 0;
    auto note = [&first] {
      if (first == 0) first = Engine().Errors.ErrorCode;
    };
    USE("t.dbf");
    note();
    SetIndexTo("bad.ndx");
    note();
    if (CurrentOrder() == 1) {
      // (dEOF and dBOF clear the error state: it is read right after a move.)
      std::size_t steps = 0;
      GoTop();
      note();
      while (Engine().Errors.ErrorCode == 0 && !dEOF() && ++steps < 1000) {
        SKIP(1);
        note();
      }
      EXPECT_LT(steps, 1000u);
      steps = 0;
      GoBottom();
      note();
      while (Engine().Errors.ErrorCode == 0 && !dBOF() && !dEOF() && ++steps < 1000) {
        SKIP(-1);
        note();
      }
      EXPECT_LT(steps, 1000u);
      Find(names_[7].substr(0, 2));
      note();
      Find("zzzz");
      note();
      GO(30);
      note();
      SKIP(1);
      note();
    }
    CloseAll();
    return first;
  }

  std::vector<std::string> names_;
  Bytes good_;
  Recs order_;
};

TEST_F(NdxDamageTest, DamagedAnchorsAndShortFilesAreRefused) {
  EXPECT_EQ(Exercise(good_), 0);
  // Truncated anywhere: refused at once.
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{512}, std::size_t{1023},
                           std::size_t{1024}, good_.size() - 512, good_.size() - 1}) {
    Bytes b(good_.begin(), good_.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(Exercise(b), 222) << size;
  }
  // All zeros.
  EXPECT_EQ(Exercise(Bytes(good_.size(), 0)), 222);
  // Random bytes.
  std::mt19937 rng(99);
  for (int round = 0; round < 40; ++round) {
    Bytes b(512 * static_cast<std::size_t>(2 + round % 6));
    for (std::uint8_t& c : b) c = static_cast<std::uint8_t>(rng());
    EXPECT_NE(Exercise(b), 0) << round;
  }
}

TEST_F(NdxDamageTest, DamagedNodesGiveErrorsNeverEndlessWalks) {
  const std::int32_t root = static_cast<std::int32_t>(U32At(good_, 0));
  ASSERT_EQ(root, 7);
  auto node = [](std::int32_t n) { return static_cast<std::size_t>(n) * 512; };

  // Garbage in the nodes under a sane anchor: every byte of every node is
  // fair game.
  std::mt19937 rng(2024);
  int failures = 0;
  for (int round = 0; round < 150; ++round) {
    Bytes b = good_;
    const int hits = 1 + round % 12;
    for (int h = 0; h < hits; ++h) {
      const std::size_t at = 512 + rng() % (b.size() - 512);
      b[at] = static_cast<std::uint8_t>(rng());
    }
    if (round % 10 == 0)
      std::fill(b.begin() + static_cast<std::ptrdiff_t>(node(1 + round % 7)),
                b.begin() + static_cast<std::ptrdiff_t>(node(2 + round % 7)), 0xFF);
    if (Exercise(b) != 0) ++failures;
  }
  EXPECT_GT(failures, 10);

  // A zero-filled root: an empty leaf; the table shows nothing in index order.
  Bytes z = good_;
  std::fill(z.begin() + static_cast<std::ptrdiff_t>(node(root)), z.end(), 0);
  EXPECT_EQ(Exercise(z), 212);  // GO: the record's key is not in the index
  // Too many entries; a child 0, past the file, or the anchor.
  Bytes c = good_;
  test::Put16(c, node(3), 12);
  EXPECT_EQ(Exercise(c), 222);
  for (std::uint32_t child : {0u, 8u, 1000u, 0xFFFFFFFFu}) {
    Bytes d = good_;
    test::Put32(d, node(root) + 4 + 44 * 2, child);
    EXPECT_EQ(Exercise(d), 222) << child;
  }
  // A cycle: the root's right-most child points back at the root, and a
  // two-node cycle below it.
  Bytes cyc = good_;
  test::Put32(cyc, node(root) + 4 + 44 * 5, static_cast<std::uint32_t>(root));
  EXPECT_EQ(Exercise(cyc), 222);
  NdxBuilder deep('C', 35);
  deep.Expression("CHEATNAME").Fill(2);
  for (std::size_t i = 0; i < names_.size(); ++i)
    deep.Key(names_[i], static_cast<std::int32_t>(i) + 1);
  Bytes two = deep.Build();
  // Top-down: node 1 is the root, 2 and 3 its first children (interior).
  ASSERT_NE(U32At(two, node(2) + 4), 0u);
  test::Put32(two, node(2) + 4 + 44, 1);  // node 2's second child: the root
  EXPECT_EQ(Exercise(two), 222);

  // Nodes shared by several parents: every entry of the root leads to the
  // same leaf.
  Bytes shared = good_;
  for (int i = 0; i <= 5; ++i)
    test::Put32(shared, node(root) + 4 + 44 * static_cast<std::size_t>(i), 2);
  EXPECT_EQ(Exercise(shared), 222);
  // A long chain of interior nodes each leading three times to the next:
  // 3^40 leaf visits if nothing stopped the walk.
  {
    Bytes chain(512 * 43, 0);
    std::memcpy(chain.data(), good_.data(), 512);
    test::Put32(chain, 0, 1);
    test::Put32(chain, 4, 43);
    for (std::int32_t n = 1; n <= 40; ++n) {
      test::Put16(chain, node(n), 2);
      for (int i = 0; i < 3; ++i)
        test::Put32(chain, node(n) + 4 + 44 * static_cast<std::size_t>(i),
                    static_cast<std::uint32_t>(n + 1));
      for (int i = 0; i < 2; ++i)
        std::memset(&chain[node(n) + 12 + 44 * static_cast<std::size_t>(i)], 'z', 35);
    }
    // The leaf holds the two lowest keys of the table.
    test::Put16(chain, node(41), 2);
    for (std::size_t i = 0; i < 2; ++i) {
      test::Put32(chain, node(41) + 8 + 44 * i, static_cast<std::uint32_t>(order_[i]));
      const std::string key = Pad(names_[static_cast<std::size_t>(order_[i] - 1)], 35);
      std::copy_n(key.begin(), 35,
                  chain.begin() + static_cast<std::ptrdiff_t>(node(41) + 12 + 44 * i));
    }
    EXPECT_EQ(Exercise(chain), 222);
  }
  // Deeper than any real index: a chain of 60 one-entry interior nodes.
  {
    Bytes tall(512 * 63, 0);
    std::memcpy(tall.data(), good_.data(), 512);
    test::Put32(tall, 0, 1);
    test::Put32(tall, 4, 63);
    for (std::int32_t n = 1; n <= 60; ++n) {
      test::Put16(tall, node(n), 1);
      test::Put32(tall, node(n) + 4, static_cast<std::uint32_t>(n + 1));
      test::Put32(tall, node(n) + 4 + 44, static_cast<std::uint32_t>(n + 1));
      std::memset(&tall[node(n) + 12], 'z', 35);
    }
    test::Put16(tall, node(61), 1);
    test::Put32(tall, node(61) + 8, 1);
    EXPECT_EQ(Exercise(tall), 222);
  }
}

TEST_F(NdxDamageTest, ADamagedNodeMetMidWalkEndsTheMoveWithItsError) {
  // The last leaf (node 6) is damaged; the walk reaches it after 55 records.
  Bytes b = good_;
  test::Put16(b, 6 * 512, 40);
  test::WriteFile("bad.ndx", b);
  USE("t.dbf");
  SetIndexTo("bad.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  GoTop();
  for (int i = 1; i < 55; ++i) SKIP(1);
  EXPECT_EQ(RecNo(), order_[54]);
  // Errors raise in this fixture: the move reports the index's error.
  try {
    SKIP(1);
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(Engine().Errors.ErrorCode, 222);
    EXPECT_NE(std::string(e.what()).find("Corrupted index file: " +
                                         platform::AsciiUpper(dir_.File("bad.ndx")) + " (node 6)"),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(dEOF());
  {
    ScopedErrorDispatch quiet(false);
    GO(order_[54]);
    SKIP(1);
    EXPECT_EQ(Engine().Errors.ErrorCode, 222);
    EXPECT_TRUE(dEOF());
    EXPECT_EQ(RecNo(), 61);
    GoBottom();
    EXPECT_EQ(Engine().Errors.ErrorCode, 222);
    EXPECT_TRUE(dEOF());
    GoTop();  // the healthy part still works
    EXPECT_EQ(Engine().Errors.ErrorCode, 0);
    EXPECT_EQ(RecNo(), order_[0]);
  }
}

TEST_F(NdxDamageTest, AnIndexOutOfDateWithItsTable) {
  // The table changed behind the index's back: record 5 has a new name.
  std::vector<std::string> changed = names_;
  changed[4] = "Renamed";
  CheatTable("t.dbf", changed);
  USE("t.dbf");
  SetIndexTo("good.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  // Walks follow the index.
  EXPECT_EQ(WalkForward(), order_);
  // Going to the changed record: its key is not in the index.
  try {
    GO(5);
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(Engine().Errors.ErrorCode, 212);
    EXPECT_NE(std::string(e.what()).find("Key: \"Renamed"), std::string::npos) << e.what();
  }
  // The move's read bracket of the shared protocol is closed all the same.
  EXPECT_TRUE(IndexEngine().Areas[1].Sem.LoggedIn);
  EXPECT_EQ(IndexEngine().Areas[1].Sem.Reads, 0);
  GO(6);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  // The old key still finds the record.
  EXPECT_TRUE(Find(names_[4]));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(IndexEngine().Areas[1].Sem.Reads, 0);
}

// A table cut short under its index: the entries of the records that are
// gone are damage, reported with the index's name by the open, by a walk
// and by Find; no walk ends early as if the table ended there, and Find
// never lands past the end.
TEST_F(NdxDamageTest, EntriesPastTheTablesEndAreDamage) {
  // Keys ascend with the record numbers: the first 30 entries name records
  // that stay.
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) names.push_back("K" + std::to_string(10 + i));
  CheatTable("cut.dbf", names);
  USE("cut.dbf");
  Index_On("cut.ndx", "cheatname");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  CloseAll();
  CheatTable("cut.dbf", std::vector<std::string>(names.begin(), names.begin() + 30));
  const std::string index = platform::AsciiUpper(dir_.File("cut.ndx"));
  USE("cut.dbf");
  SetIndexTo("cut.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  Recs walked;
  std::string message;
  try {
    for (GoTop(); !dEOF() && walked.size() < kWalkLimit; SKIP(1)) walked.push_back(RecNo());
  } catch (const EngineError& e) {
    message = e.what();
  }
  EXPECT_EQ(Engine().Errors.ErrorCode, 222);
  EXPECT_NE(message.find(index), std::string::npos) << message;
  EXPECT_EQ(walked.size(), 30u);
  for (const char* key : {"K45", "K69"}) {
    message.clear();
    bool found = false;
    try {
      found = Find(key);
    } catch (const EngineError& e) {
      message = e.what();
    }
    EXPECT_FALSE(found) << key;
    EXPECT_EQ(Engine().Errors.ErrorCode, 222) << key;
    EXPECT_NE(message.find(index), std::string::npos) << message;
    EXPECT_LE(RecNo(), 31) << key;
  }
  EXPECT_TRUE(Find("K20"));
  EXPECT_EQ(RecNo(), 11);
  CloseAll();

  // Keys descend with the record numbers: the first entry already names a
  // record that is gone, and the open reports it.
  std::reverse(names.begin(), names.end());
  CheatTable("cut.dbf", names);
  USE("cut.dbf");
  Index_On("cut.ndx", "cheatname");
  CloseAll();
  CheatTable("cut.dbf", std::vector<std::string>(names.begin(), names.begin() + 30));
  USE("cut.dbf");
  SetIndexTo("cut.ndx");
  EXPECT_EQ(Engine().Errors.ErrorCode, 222);
  EXPECT_NE(Engine().Errors.ErrorDetail.find(index), std::string::npos)
      << Engine().Errors.ErrorDetail;
  EXPECT_EQ(CurrentOrder(), 0);
}

// Keys shorter than the key length (an index on TRIM(NAME) built on a long
// name) are padded wherever a key is computed: the index opens, walks,
// follows GO and finds, and a changed record moves to its place.
TEST_F(NdxDamageTest, ShortKeysArePaddedWhereverAKeyIsComputed) {
  const std::vector<std::string> names = {
      "Wolfenstein 3D: Spear", "Doom", "Hexen", "Doom II", "A", "Myst"};
  CheatTable("trim.dbf", names);
  USE("trim.dbf");
  Index_On("trim.ndx", "trim(cheatname)");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  CloseAll();
  const NdxReport built = CheckNdxFile("trim.ndx");
  ASSERT_TRUE(built.Ok()) << built.Text();
  EXPECT_EQ(built.KeyLen, 21);
  USE("trim.dbf");
  SetIndexTo("trim.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  const Recs order = {5, 2, 4, 3, 6, 1};
  EXPECT_EQ(WalkForward(), order);
  EXPECT_EQ(WalkBackward(), Reversed(order));
  for (std::int64_t r = 1; r <= 6; ++r) {
    GO(r);
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << r;
    StoreCurrentKeys();
    SKIP(0);
    EXPECT_EQ(RecNo(), r);
  }
  IndexEngine().Settings.ExactFind = true;
  EXPECT_TRUE(Find("Doom"));
  EXPECT_EQ(RecNo(), 2);
  IndexEngine().Settings.ExactFind = false;
  EXPECT_TRUE(Find("Hex"));
  EXPECT_EQ(RecNo(), 3);
  GO(3);
  SetName("Zork");
  Replace();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{5, 2, 4, 6, 1, 3}));
  CloseAll();
  const NdxReport changed = CheckNdxFile("trim.ndx");
  ASSERT_EQ(changed.Entries.size(), 6u);
  EXPECT_EQ(changed.Entries.back().Key, Pad("Zork", 21));
}

// ===================================================================================
// Keeping indexes up to date
// ===================================================================================

class NdxWriteTest : public NdxTest {
 protected:
  // Appends and replaces on the current table with orders 1 (CHEATNAME),
  // 2 (LEVEL) and 3 (UPPER(CHEATNAME)) open, then compares each with a
  // fresh build.
  void Churn(unsigned seed, int appends, int replaces) {
    std::mt19937 rng(seed);
    std::vector<std::string> names;
    for (std::int64_t r = 1; r <= RecCount(); ++r) names.push_back(TrimRight(Peek(1, r)));
    for (int i = 0; i < appends; ++i) {
      ClearRecord();
      const std::string name = SyllableName(rng, 3, 5);
      SetName(name);
      DoubleToReal48(static_cast<double>(rng() % 50) - 20.5, FieldAddress(2));
      if (!CurrentTable()->Exclusive) {
        ASSERT_TRUE(ALock());
      }
      Append();
      ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
      names.push_back(name);
      // Each open index stands on the new record.
      if (i % 17 == 0) {
        SKIP(0);
        EXPECT_EQ(RecNo(), static_cast<std::int64_t>(names.size()));
      }
    }
    Unlock();
    for (int i = 0; i < replaces; ++i) {
      const std::int64_t r = 1 + static_cast<std::int64_t>(rng() % names.size());
      GO(r);
      if (!CurrentTable()->Exclusive) {
        ASSERT_TRUE(RLock());
      }
      // Key changes, duplicates, back and forth.
      const std::string name = i % 5 == 0   ? names[0]
                               : i % 7 == 0 ? names[static_cast<std::size_t>(r - 1)]
                                            : SyllableName(rng, 3, 5);
      SetName(name);
      if (i % 3 == 0) DoubleToReal48(static_cast<double>(rng() % 50), FieldAddress(2));
      Replace();
      ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
      names[static_cast<std::size_t>(r - 1)] = name;
      Unlock();
    }
    const Recs expected = OrderOf(Keys35(names));
    for (int order = 1; order <= 3; ++order) {
      Set_Order_To(order);
      const Recs walked = WalkForward();
      EXPECT_EQ(walked.size(), names.size());
      if (order == 1) {
        EXPECT_EQ(walked, expected);
      }
      EXPECT_EQ(WalkBackward(), Reversed(walked)) << order;
      maintained_[order] = walked;
    }
  }

  void CompareWithRebuilds(std::int64_t records) {
    const char* const expressions[] = {"", "cheatname", "level", "upper(cheatname)"};
    NdxCheckOptions o;
    o.Records = records;
    o.AnchorCount = records;  // the anchor counts the appended records too
    o.AllowEmptyLeaves = true;
    for (int order = 1; order <= 3; ++order) {
      SCOPED_TRACE(expressions[order]);
      const std::string file = "o" + std::to_string(order) + ".ndx";
      const NdxReport r = CheckNdxFile(file, o);
      EXPECT_TRUE(r.Ok()) << r.Text();
      EXPECT_EQ(ReportRecords(r), maintained_[order]);
      USE("w.dbf exclusive");
      BuildOptions b;
      b.Expression = expressions[order];
      MakeIndex("fresh.ndx", b);
      CloseAll();
      const NdxReport fresh = CheckNdxFile("fresh.ndx", o);
      EXPECT_TRUE(fresh.Ok()) << fresh.Text();
      EXPECT_EQ(ReportRecords(fresh), maintained_[order]);
    }
  }

  void OpenThree(const std::string& use) {
    USE(use);
    ASSERT_EQ(Engine().Errors.ErrorCode, 0);
    Index_On("o2.ndx", "level");
    Index_On("o3.ndx", "upper(cheatname)");
    Index_On("o1.ndx", "cheatname");
    CloseIndexes();
    Set_Index_To("o1.ndx o2.ndx o3.ndx");
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  }

  std::map<int, Recs> maintained_;
};

TEST_F(NdxWriteTest, AnExclusiveTableWithTheNodeCache) {
  Engine().Settings.NetworkMode = false;  // exclusive tables, node cache on
  CheatTable("w.dbf", {"Doom", "Quake"});
  OpenThree("w.dbf");
  ASSERT_TRUE(IndexEngine().Areas[1].Cache.Enabled());
  Churn(1, 400, 250);
  CloseAll();
  CompareWithRebuilds(402);
}

TEST_F(NdxWriteTest, ASharedTableLockedForAppends) {
  CheatTable("w.dbf", RandomNames(30, 8));
  OpenThree("w.dbf");
  ASSERT_FALSE(CurrentTable()->Exclusive);
  {
    // Appending needs the table lock.
    ScopedErrorDispatch quiet(false);
    const Bytes before = test::ReadFile("o1.ndx");
    ClearRecord();
    SetName("Unlocked");
    Append();
    EXPECT_EQ(Engine().Errors.ErrorCode, 1201);
    EXPECT_EQ(test::ReadFile("o1.ndx"), before);
  }
  Churn(2, 300, 300);
  CloseAll();
  CompareWithRebuilds(330);
}

TEST_F(NdxWriteTest, SplitsAndNewRootsFromAnEmptyIndex) {
  Engine().Settings.NetworkMode = false;
  CheatTable("w.dbf", {});
  OpenThree("w.dbf");
  // Ascending, then descending, then equal keys: splits at both ends and
  // in the middle, roots growing one level at a time.
  std::vector<std::string> names;
  for (int i = 0; i < 150; ++i) names.push_back("A" + std::to_string(1000 + i));
  for (int i = 0; i < 150; ++i) names.push_back("B" + std::to_string(9000 - i));
  for (int i = 0; i < 100; ++i) names.push_back("Same");
  for (std::size_t i = 0; i < names.size(); ++i) {
    ClearRecord();
    SetName(names[i]);
    Append();
    ASSERT_EQ(Engine().Errors.ErrorCode, 0);
    if (i == 11 || i == 12 || i == 131 || i == 132) {
      // Standing on the new record, in key order.
      SKIP(-1);
      if (i >= 12) {
        EXPECT_EQ(RecNo(), static_cast<std::int64_t>(i));
      }
      SKIP(1);
      EXPECT_EQ(RecNo(), static_cast<std::int64_t>(i) + 1);
    }
  }
  // A changed key moves its record; the next moves go on from its new place.
  GO(1);
  SetName("B8950a");
  Replace();
  names[0] = "B8950a";
  SKIP(1);
  EXPECT_EQ(TrimRight(NativeText(1)), "B8951");
  SKIP(-2);
  EXPECT_EQ(TrimRight(NativeText(1)), "B8950");
  const Recs expected = OrderOf(Keys35(names));
  EXPECT_EQ(WalkForward(), expected);
  EXPECT_EQ(WalkBackward(), Reversed(expected));
  for (std::size_t i = 0; i < names.size(); i += 37) {
    EXPECT_TRUE(Find(names[i]));
    EXPECT_EQ(TrimRight(NativeText(1)), names[i]);
  }
  // An unchanged key leaves the file alone.
  CloseAll();
  const Bytes o1 = test::ReadFile("o1.ndx");
  const Bytes o2 = test::ReadFile("o2.ndx");
  USE("w.dbf");
  Set_Index_To("o1.ndx o2.ndx o3.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  GO(5);
  DoubleToReal48(3, FieldAddress(2));  // LEVEL changes, CHEATNAME does not
  Replace();
  CloseAll();
  EXPECT_EQ(test::ReadFile("o1.ndx"), o1);
  EXPECT_NE(test::ReadFile("o2.ndx"), o2);
  maintained_[1] = expected;
  USE("w.dbf");
  Set_Index_To("o1.ndx o2.ndx o3.ndx");
  Set_Order_To(2);
  maintained_[2] = WalkForward();
  Set_Order_To(3);
  maintained_[3] = WalkForward();
  CloseAll();
  CompareWithRebuilds(400);
  NdxCheckOptions o;
  o.Records = 400;
  const NdxReport r = CheckNdxFile("o1.ndx", o);
  EXPECT_GE(r.MaxLeafDepth, 2);
}

// Deleting and recalling a record keeps an index whose key uses DELETED()
// in step.
TEST_F(NdxWriteTest, DeletionsKeepAnIndexOnDeletedInStep) {
  CheatTable("d.dbf", {"Doom", "Abuse", "Myst", "Hexen"});
  USE("d.dbf exclusive");
  Index_On("d.ndx", "iif(deleted(), 'zz', cheatname)");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{2, 1, 4, 3}));
  GO(2);
  DeleteRec();
  GO(4);
  DeleteRec();
  EXPECT_EQ(WalkForward(), (Recs{1, 3, 2, 4}));
  GO(2);
  RecallRec();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{2, 1, 3, 4}));
  CloseAll();
  NdxCheckOptions o;
  o.Records = 4;
  const NdxReport r = CheckNdxFile("d.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(ReportRecords(r), (Recs{2, 1, 3, 4}));
}

// Reindex builds each index standing on the record the table stood on: an
// index on TRIM(...) takes its key length from there, not from where
// reopening an order before it left the table.
TEST_F(NdxWriteTest, ReindexBuildsEveryIndexOnTheRecordItStartedFrom) {
  CheatTable("r.dbf", {"Zork, with a long cheat name", "Doom", "B"});
  USE("r.dbf exclusive");
  Index_On("r2.ndx", "trim(cheatname)");
  Index_On("r1.ndx", "cheatname");
  CloseIndexes();
  Set_Index_To("r1.ndx r2.ndx");
  GO(1);
  Reindex();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(RecNo(), 1);
  CloseAll();
  EXPECT_EQ(CheckNdxFile("r2.ndx").KeyLen, 28);
  EXPECT_EQ(ReportRecords(CheckNdxFile("r2.ndx")), (Recs{3, 2, 1}));
}

// PACK removes the deleted records of an exclusive table and builds its
// open indexes anew, each standing on the first record: an index on
// TRIM(...) takes its key length from there, not from where reopening an
// order before it left the table.
TEST_F(NdxWriteTest, PackRemovesDeletedRecordsAndRebuildsTheIndexes) {
  const std::vector<std::string> names = {
      "Zork, with a long cheat name", "Doom", "Abc", "Hexen", "B", "Myst"};
  CheatTable("p.dbf", names, {3});
  USE("p.dbf");
  {
    ScopedErrorDispatch quiet(false);
    PACK();
    EXPECT_EQ(Engine().Errors.ErrorCode, 225);
  }
  CloseAll();
  USE("p.dbf exclusive");
  Index_On("o2.ndx", "trim(cheatname)");
  Index_On("o1.ndx", "cheatname");
  CloseIndexes();
  Set_Index_To("o1.ndx o2.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  PACK();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(RecCount(), 5);
  // On the first record in name order.
  EXPECT_EQ(RecNo(), 4);
  const Recs order = {4, 2, 3, 5, 1};
  EXPECT_EQ(WalkForward(), order);
  Set_Order_To(2);
  EXPECT_EQ(WalkForward(), order);
  CloseAll();
  const std::size_t header = DbfBuilder()
                                 .Field("CHEATNAME", 'C', 35)
                                 .Field("LEVEL", 'N', 8, 2)
                                 .Field("ADDED", 'D', 8)
                                 .ComputedHeaderLength();
  EXPECT_EQ(test::ReadFile("p.dbf").size(), header + 5u * 52u + 1u);
  NdxCheckOptions o;
  o.Records = 5;
  o.AnchorCount = 5;
  const NdxReport trimmed = CheckNdxFile("o2.ndx", o);
  EXPECT_TRUE(trimmed.Ok()) << trimmed.Text();
  EXPECT_EQ(trimmed.KeyLen, 28);
  EXPECT_EQ(ReportRecords(trimmed), order);
  const NdxReport plain = CheckNdxFile("o1.ndx", o);
  EXPECT_TRUE(plain.Ok()) << plain.Text();
  EXPECT_EQ(ReportRecords(plain), order);

  // With every record deleted, PACK leaves an empty table standing at its
  // end and beginning, and empty indexes.
  USE("p.dbf exclusive");
  Set_Index_To("o1.ndx o2.ndx");
  for (GoTop(); !dEOF(); SKIP(1)) DeleteRec();
  PACK();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(RecCount(), 0);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(WalkForward(), Recs{});
  CloseAll();
  EXPECT_EQ(test::ReadFile("p.dbf").size(), header + 1u);
  o.Records = 0;
  o.AnchorCount = 0;
  for (const char* name : {"o1.ndx", "o2.ndx"}) {
    const NdxReport empty = CheckNdxFile(name, o);
    EXPECT_TRUE(empty.Ok()) << name << empty.Text();
    EXPECT_EQ(ReportRecords(empty), Recs{}) << name;
  }
}

TEST_F(NdxWriteTest, UniqueIndexesKeepOneRecordAKey) {
  Engine().Settings.NetworkMode = false;
  CheatTable("w.dbf", {"Doom", "Quake"});
  USE("w.dbf");
  Index_On("u.ndx UNIQUE", "cheatname");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  for (const char* n : {"Doom", "Myst", "Quake", "Myst"}) {
    ClearRecord();
    SetName(n);
    Append();
    ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  }
  EXPECT_EQ(WalkForward(), (Recs{1, 4, 2}));
  // A record that has no entry (its key was taken) gets one when its key
  // becomes free of duplicates.
  GO(3);
  SetName("Zork");
  Replace();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{1, 4, 2, 3}));
  GO(6);
  SetName("Hexen");
  Replace();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{1, 6, 4, 2, 3}));
  CloseAll();
  NdxCheckOptions o;
  o.Occurrences = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {6, 1}};
  const NdxReport r = CheckNdxFile("u.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
}

TEST_F(NdxWriteTest, AnotherAreasChangesShowAtTheVeryNextMove) {
  // As another program's: area 2 has just moved (and so looked at the
  // semaphore file) when area 1 appends enough to split leaves and grow
  // the tree; area 2's next moves, at once, walk and search the grown
  // index whole, without calling its new nodes damage.
  std::vector<std::string> names = RandomNames(12, 5);
  CheatTable("g.dbf", names);
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  USE("g.dbf");
  Index_On("g.ndx", "cheatname");
  Select(2);
  USE("sub/up/g.dbf alias reader");
  SetIndexTo("g.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  std::mt19937 rng(11);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Select(2);
    GoBottom();
    GoTop();
    Select(1);
    ASSERT_TRUE(ALock());
    for (int i = 0; i < 25; ++i) {
      ClearRecord();
      names.push_back(SyllableName(rng, 3, 15));
      SetName(names.back());
      Append();
      ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    }
    Unlock();
    Select(2);
    const std::string last = names.back();
    EXPECT_TRUE(Find(last));
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(TrimRight(Peek(1, RecNo())), TrimRight(last.substr(0, 35)));
    EXPECT_EQ(WalkForward(), OrderOf(Keys35(names)));
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  }
  CloseAll();
}

TEST_F(NdxWriteTest, AReadOnlyReaderFollowsAnotherAreasRewritesAsAWritingOneDoes) {
  // A reader walks in key order while another area (as another program)
  // rewrites names, its current record's among them, and appends. A table
  // opened read-only works the keys of its records out only when it has to
  // find its place again; it must walk exactly as a reader that may write.
  auto walk = [&](bool readOnly) {
    const std::string name = readOnly ? "r1" : "r0";
    std::vector<std::string> names = RandomNames(40, 9);
    CheatTable(name + ".dbf", names);
    Select(1);
    USE(name + ".dbf");
    Index_On(name + ".ndx", "cheatname");
    Select(2);
    {
      ScopedSetting<int> mode(Engine().Settings.ForcedFileMode,
                              readOnly ? platform::kModeRead : Engine().Settings.ForcedFileMode);
      USE("sub/up/" + name + ".dbf alias reader");
      SetIndexTo(name + ".ndx");
    }
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(CurrentTable()->File.Writable(), !readOnly);
    std::mt19937 rng(5);
    std::vector<std::string> seen;
    GoTop();
    for (int step = 0; !dEOF() && step < 400; ++step) {
      seen.push_back(Str(RecNo()) + " " + TrimRight(Peek(1, RecNo())));
      if (step % 6 == 2) {
        const std::int64_t here = RecNo();
        Select(1);
        for (int i = 0; i < 3; ++i) {
          const std::int64_t r = i == 0 ? here : 1 + static_cast<std::int64_t>(rng() % RecCount());
          GO(r);
          EXPECT_TRUE(RLock());
          SetName(SyllableName(rng, 2, 4));
          Replace();
          Unlock();
        }
        if (step % 12 == 2) {
          EXPECT_TRUE(ALock());
          ClearRecord();
          SetName(SyllableName(rng, 2, 4));
          Append();
          Unlock();
        }
        EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
        Select(2);
      }
      SKIP(1);
      EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    }
    CloseAll();
    return seen;
  };
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  const std::vector<std::string> writing = walk(false);
  const std::vector<std::string> reading = walk(true);
  EXPECT_GT(writing.size(), 30u);
  EXPECT_EQ(reading, writing);
}

TEST_F(NdxWriteTest, AnotherAreaOfTheSameTableSeesTheChanges) {
  // Two areas share one table (through two paths) and its index, in shared
  // use: each sees the other's appends and changes, splits and new roots
  // included.
  std::vector<std::string> names = RandomNames(20, 3);
  CheatTable("w.dbf", names);
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  USE("w.dbf");
  Index_On("w.ndx", "cheatname");
  Select(2);
  USE("sub/up/w.dbf alias other");
  SetIndexTo("w.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  std::mt19937 rng(4);
  for (int round = 0; round < 4; ++round) {
    Select(round % 2 ? 1 : 2);
    ASSERT_TRUE(ALock());
    for (int i = 0; i < 60; ++i) {
      ClearRecord();
      names.push_back(SyllableName(rng, 3, 15));
      SetName(names.back());
      Append();
      ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    }
    Unlock();
    GO(3);
    ASSERT_TRUE(RLock());
    names[2] = "Changed in round " + std::to_string(round);
    SetName(names[2]);
    Replace();
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    const Recs order = OrderOf(Keys35(names));
    if (round > 0) {
      // The other area still stands on record 3, whose key changed under
      // it: its moves go on from the record's new place.
      Select(round % 2 ? 2 : 1);
      const auto at = std::find(order.begin(), order.end(), 3) - order.begin();
      SKIP(1);
      EXPECT_EQ(Engine().Errors.ErrorCode, 0);
      if (at + 1 < static_cast<std::ptrdiff_t>(order.size())) {
        EXPECT_EQ(RecNo(), order[static_cast<std::size_t>(at + 1)]) << "round " << round;
      }
      SKIP(-1);
      EXPECT_EQ(RecNo(), 3);
    }
    for (int area : {1, 2}) {
      Select(area);
      EXPECT_EQ(WalkForward(), OrderOf(Keys35(names))) << "round " << round << ", area " << area;
      EXPECT_TRUE(Find(names[2]));
      EXPECT_EQ(RecNo(), 3);
    }
  }
  CloseAll();
  NdxCheckOptions o;
  o.Records = static_cast<std::int64_t>(names.size());
  o.AllowEmptyLeaves = true;
  const NdxReport r = CheckNdxFile("w.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(ReportRecords(r), OrderOf(Keys35(names)));
}

TEST_F(NdxWriteTest, AMoveFromARecordWhoseEntryAnotherAreaRemoved) {
  // Area 2 stands on record 3. Area 1 changes its level (the index follows)
  // and then writes another level straight into the file (the index does
  // not follow): area 2's record, read again, has a key that is nowhere in
  // the index. Its moves go on from where the record was.
  std::vector<std::string> names = RandomNames(40, 9);
  CheatTable("w.dbf", names);
  std::vector<double> levels;
  for (std::size_t i = 0; i < names.size(); ++i)
    levels.push_back(static_cast<double>(i % 7) + 0.25);
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  USE("w.dbf");
  Index_On("l.ndx", "level");
  Select(2);
  USE("sub/up/w.dbf alias other");
  SetIndexTo("l.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  const Recs before = OrderOfNumbers(levels);
  const auto at = std::find(before.begin(), before.end(), 3) - before.begin();
  ASSERT_GT(at, 0);
  for (int direction : {1, -1}) {
    SCOPED_TRACE(direction);
    Select(2);
    GO(3);
    Select(1);
    GO(3);
    ASSERT_TRUE(RLock());
    DoubleToReal48(direction > 0 ? -50.0 : 50.0, FieldAddress(2));
    Replace();
    Poke(2, 3, "  777.00");
    Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    Select(2);
    SKIP(direction);
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(RecNo(), before[static_cast<std::size_t>(at + direction)]);
    // Put record 3 back as it was, in the file and in the index.
    Select(1);
    Poke(2, 3, direction > 0 ? "  -50.00" : "   50.00");
    GO(3);
    ASSERT_TRUE(RLock());
    DoubleToReal48(levels[2], FieldAddress(2));
    Replace();
    Unlock();
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(WalkForward(), before);
    // Area 2 trusts the record it read for a short window.
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

// Area 2 has read record 5; area 1 (another program as far as the shared
// protocol goes) then gives it another key. Going to that record from
// area 2 finds the record's new key in the index: the record is read again
// instead of the move halting with "not in index". (The index stays one
// node: area 2 is not asked to see nodes it has not heard of yet.)
TEST_F(NdxWriteTest, ARecordAnotherProgramChangedIsReadAgainToFindItsKey) {
  std::vector<std::string> names = RandomNames(6, 5);
  CheatTable("w.dbf", names);
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  USE("w.dbf");
  Index_On("w.ndx", "cheatname");
  Select(2);
  USE("sub/up/w.dbf alias other");
  SetIndexTo("w.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Select(2);
    GO(5);
    Select(1);
    GO(5);
    ASSERT_TRUE(RLock());
    names[4] = "Changed " + std::to_string(round);
    SetName(names[4]);
    Replace();
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    Unlock();
    Select(2);
    SyncIndex();
    EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(TrimRight(NativeText(1)), names[4]);
    SKIP(1);
    const Recs order = OrderOf(Keys35(names));
    const auto at = std::find(order.begin(), order.end(), 5) - order.begin();
    if (at + 1 < static_cast<std::ptrdiff_t>(order.size())) {
      EXPECT_EQ(RecNo(), order[static_cast<std::size_t>(at + 1)]);
    }
  }
}

TEST_F(NdxWriteTest, AnIndexWithoutTypeLetterKeepsItsTypeWhenReadAgain) {
  // A date index whose writer left the type letter out; another area's
  // append makes this one read the anchor again.
  DbfBuilder b;
  b.Field("ADDED", 'D', 8).Record({"19931210"}).Record({"20000229"}).Record({"19700101"});
  b.Write("d.dbf");
  NdxBuilder nb('D', 8);
  nb.Expression("ADDED").Letter(0);
  nb.Number(static_cast<double>(JulianDay(1993, 12, 10)), 1);
  nb.Number(static_cast<double>(JulianDay(2000, 2, 29)), 2);
  nb.Number(static_cast<double>(JulianDay(1970, 1, 1)), 3);
  nb.Write("d.ndx");
  std::filesystem::create_directory("sub");
  std::filesystem::create_directory_symlink("..", "sub/up");
  USE("d.dbf");
  SetIndexTo("d.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{3, 1, 2}));
  Select(2);
  USE("sub/up/d.dbf alias other");
  SetIndexTo("d.ndx");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  ASSERT_TRUE(ALock());
  ClearRecord();
  std::memcpy(FieldAddress(1) + 1, "01/02/03", 8);
  Append();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(25));
  Select(1);
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(Find("12/10/93")) << round;
    EXPECT_EQ(RecNo(), 1);
    EXPECT_TRUE(Find("01/02/03")) << round;
    EXPECT_EQ(RecNo(), 4);
  }
  EXPECT_EQ(WalkForward(), (Recs{3, 1, 2, 4}));
}

// A catalogue's life in random steps (appends, changes of every kind of
// key, deletions, recalls, packs), with plain, UNIQUE, TRIM(), numeric and
// date indexes open; shared lives take the locks, and pack in them opens
// the table exclusively for a moment. After each life every index holds
// what a build of the table holds: the same entries (record and key bytes)
// in the same order, and a walk through the engine follows them.
class NdxLifeTest : public NdxTest {
 protected:
  struct Order {
    const char* file;
    const char* expression;
    bool unique;
  };
  static constexpr Order kOrders[] = {
      {"name.ndx", "name", false},
      {"uname.ndx", "name", true},
      {"trim.ndx", "trim(name)", false},
      {"utrim.ndx", "upper(trim(name))", true},
      {"ulevel.ndx", "level", true},
      {"added.ndx", "added", false},
      {"gone.ndx", "iif(deleted(), 'x', name)", false},
  };
  static constexpr int kOrderCount = static_cast<int>(std::size(kOrders));
  // Record 1 keeps a name of the full width for ever: TRIM(NAME) takes its
  // key length from the record a build stands on, the first one.
  static constexpr const char* kPinned = "Pinned names";

  static std::string RandomName(std::mt19937& rng) {
    static const char* const kNames[] = {"doom",  "Doom", "DOOM", "hex",  "Hex",
                                         "quake", "Myst", "myst", "Zork", "A"};
    std::string n = kNames[rng() % std::size(kNames)];
    if (rng() % 4 == 0) n += " " + std::to_string(rng() % 3);
    return n;
  }
  static double RandomLevel(std::mt19937& rng) {
    static const double kLevels[] = {1.5, 2.25, -3, 0, 7.75, 99.5};
    return kLevels[rng() % std::size(kLevels)];
  }
  static std::string RandomDate(std::mt19937& rng) {
    static const char* const kDates[] = {"19991231", "20000229", "19700101", "20380119",
                                         "        "};
    return kDates[rng() % std::size(kDates)];
  }

  void Open(bool exclusive) {
    USE(std::string("life.dbf") + (exclusive ? " exclusive" : ""));
    std::string list;
    for (const Order& o : kOrders) list += std::string(o.file) + " ";
    Set_Index_To(list);
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  }

  void SetFields(std::mt19937& rng, bool all) {
    if (all || rng() % 2) SetName(RandomName(rng));
    if (all || rng() % 2) DoubleToReal48(RandomLevel(rng), FieldAddress(2));
    if (all || rng() % 2) {
      const std::string shown = StoredToDisplay(RandomDate(rng).c_str());
      std::uint8_t* slot = FieldAddress(3);
      slot[0] = static_cast<std::uint8_t>(shown.size());
      std::memset(slot + 1, ' ', 10);
      std::memcpy(slot + 1, shown.data(), shown.size());
    }
  }

  void Live(unsigned seed, bool exclusive, int steps) {
    std::mt19937 rng(seed);
    DbfBuilder b;
    b.Field("NAME", 'C', 12).Field("LEVEL", 'N', 6, 2).Field("ADDED", 'D', 8);
    b.Record({kPinned, "5.00", "19931210"});
    for (int i = 0; i < 8; ++i) b.Record({RandomName(rng), "1.50", "20000229"});
    b.Write("life.dbf");
    USE("life.dbf exclusive");
    for (const Order& o : kOrders) {
      BuildOptions options;
      options.Expression = o.expression;
      options.Unique = o.unique;
      MakeIndex(o.file, options);
      ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    }
    CloseAll();
    Open(exclusive);
    for (int step = 0; step < steps; ++step) {
      const std::int64_t count = RecCount();
      const unsigned what = rng() % 20;
      const std::int64_t r = count > 1 ? 2 + static_cast<std::int64_t>(rng() % (count - 1)) : 0;
      if (what < 7 || r == 0) {
        ASSERT_TRUE(ALock());
        ClearRecord();
        SetFields(rng, true);
        Append();
      } else if (what < 14) {
        GO(r);
        ASSERT_TRUE(RLock());
        SetFields(rng, false);
        Replace();
      } else if (what < 17) {
        GO(r);
        ASSERT_TRUE(RLock());
        DeleteRec();
      } else if (what < 19) {
        GO(r);
        ASSERT_TRUE(RLock());
        RecallRec();
      } else {
        if (!exclusive) {
          CloseAll();
          Open(true);
        }
        PACK();
        ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
        if (!exclusive) {
          CloseAll();
          Open(false);
        }
      }
      ASSERT_EQ(Engine().Errors.ErrorCode, 0)
          << "step " << step << ": " << Engine().Errors.ErrorDetail;
      Unlock();
    }
    // Walks through the engine, in every order.
    std::map<int, Recs> walked;
    for (int order = 1; order <= kOrderCount; ++order) {
      Set_Order_To(order);
      walked[order] = WalkForward();
    }
    CloseAll();
    NdxCheckOptions o;
    o.AllowEmptyLeaves = true;
    for (int order = 1; order <= kOrderCount; ++order) {
      const Order& x = kOrders[order - 1];
      SCOPED_TRACE(std::string(x.expression) + (x.unique ? " UNIQUE" : ""));
      const NdxReport kept = CheckNdxFile(x.file, o);
      EXPECT_TRUE(kept.Ok()) << kept.Text();
      USE("life.dbf exclusive");
      BuildOptions options;
      options.Expression = x.expression;
      options.Unique = x.unique;
      MakeIndex("fresh.ndx", options);
      CloseAll();
      const NdxReport fresh = CheckNdxFile("fresh.ndx");
      ASSERT_TRUE(fresh.Ok()) << fresh.Text();
      ASSERT_EQ(kept.KeyLen, fresh.KeyLen);
      EXPECT_EQ(ReportRecords(kept), ReportRecords(fresh));
      std::vector<std::string> keptKeys, freshKeys;
      for (const auto& e : kept.Entries) keptKeys.push_back(e.Key);
      for (const auto& e : fresh.Entries) freshKeys.push_back(e.Key);
      EXPECT_EQ(keptKeys, freshKeys);
      EXPECT_EQ(walked[order], ReportRecords(fresh));
    }
  }
};

TEST_F(NdxLifeTest, ExclusiveLivesLeaveEveryIndexAsABuildMakesIt) {
  Engine().Settings.NetworkMode = false;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    Live(seed, true, 70);
    if (HasFailure()) break;
  }
}

TEST_F(NdxLifeTest, SharedLivesLeaveEveryIndexAsABuildMakesIt) {
  for (unsigned seed = 101; seed <= 110; ++seed) {
    SCOPED_TRACE(seed);
    Live(seed, false, 60);
    if (HasFailure()) break;
  }
}

// Records 1 and 2 hold one key of a UNIQUE index; record 1 leaves it:
// record 2 takes its place, and going to it finds it. A lower record taking
// a key replaces the one that held it.
TEST_F(NdxLifeTest, AnotherRecordTakesTheKeyARecordLeaves) {
  CheatTable("u.dbf", {"A", "A", "C", "B"});
  USE("u.dbf");
  Index_On("u.ndx UNIQUE", "cheatname");
  ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(WalkForward(), (Recs{1, 4, 3}));
  GO(1);
  ASSERT_TRUE(RLock());
  SetName("B");
  Replace();
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  Unlock();
  GO(2);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  EXPECT_EQ(WalkForward(), (Recs{2, 1, 3}));
  CloseAll();
  const NdxReport r = CheckNdxFile("u.ndx");
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(ReportRecords(r), (Recs{2, 1, 3}));
}

// ===================================================================================
// IndexInfo
// ===================================================================================

using NdxInfoTest = NdxTest;

TEST_F(NdxInfoTest, TheAnchorReadWithoutOpening) {
  CheatTable("cheats.dbf", RandomNames(25, 1));
  USE("cheats.dbf");
  Index_On("names", "upper(cheatname)");
  Index_On("lvl.ndx UNIQUE", "level");
  Index_On("when.ndx", "added");
  CloseAll();
  ASSERT_TRUE(std::filesystem::exists("names.ndx"));

  IndexInfoRecord r = IndexInfo("names");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(r.Expression, "UPPER(CHEATNAME)");
  EXPECT_EQ(r.KeyLength, 35);
  EXPECT_EQ(r.KeyType, 'C');
  EXPECT_FALSE(r.Unique);
  EXPECT_EQ(r.Table, "CHEATS.DBF");
  EXPECT_EQ(r.Records, 25);
  r = IndexInfo("lvl.ndx");
  EXPECT_EQ(r.Expression, "LEVEL");
  EXPECT_EQ(r.KeyLength, 8);
  EXPECT_EQ(r.KeyType, 'N');
  EXPECT_TRUE(r.Unique);
  r = IndexInfo(dir_.File("when.ndx"));
  EXPECT_EQ(r.KeyType, 'D');
  EXPECT_EQ(r.Records, 25);

  // A failing count check: no count, no table name.
  Bytes b = test::ReadFile("names.ndx");
  test::Put32(b, 488, 12345);
  test::WriteFile("bad.ndx", b);
  r = IndexInfo("bad.ndx");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(r.Records, -1);
  EXPECT_EQ(r.Table, "");
  EXPECT_EQ(r.Expression, "UPPER(CHEATNAME)");
  EXPECT_EQ(r.KeyLength, 35);

  // Hand-built: a count check of our own, long names cut to 12 bytes.
  NdxBuilder nb('N', 8);
  nb.Expression("PRICE*2").CountCheck(7, "ABCDEFGHIJKLMNOP").UniqueByte(0x40);
  nb.Number(1, 1);
  nb.Write("hand.ndx");
  r = IndexInfo("hand.ndx");
  EXPECT_EQ(r.Expression, "PRICE*2");
  EXPECT_EQ(r.Records, 7);
  EXPECT_EQ(r.Table, "ABCDEFGHIJKL");
  EXPECT_TRUE(r.Unique);
  EXPECT_EQ(r.KeyType, 'N');

  // Errors.
  ScopedErrorDispatch quiet(false);
  r = IndexInfo("missing.ndx");
  EXPECT_EQ(Engine().Errors.ErrorCode, 2);
  EXPECT_EQ(r.Records, -1);
  test::WriteFile("tiny.ndx", Bytes(100, 0));
  IndexInfo("tiny.ndx");
  EXPECT_NE(Engine().Errors.ErrorCode, 0);
  IndexInfo("  ");
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
}

// ===================================================================================
// The corpus: indexes written by other programs
// ===================================================================================

using NdxCompatTest = NdxTest;

TEST_F(NdxCompatTest, CorpusIndexesWalkInTheirOrder) {
  const std::string base = test::CompatDir();
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(base + "/expect")) {
    const std::string n = e.path().filename().string();
    if (n.size() > 9 && n.substr(n.size() - 9) == ".ndx.json") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 3u);
  // Nothing may be written beside the corpus: read-only opens, semaphore
  // files in our own folder.
  IndexEngine().Settings.SemaphoreDir = dir_.path();
  Engine().Settings.ForcedFileMode = platform::kModeRead;
  Engine().Settings.FixRecCount = true;
  Engine().Settings.HideDeleted = false;
  for (const std::string& json : files) {
    SCOPED_TRACE(json);
    const nlohmann::json x = test::LoadJson(json);
    const std::string table = base + "/" + x["table"].get<std::string>();
    const std::string index = base + "/" + x["index"].get<std::string>();
    const Bytes before = test::ReadFile(index);
    Recs expected;
    std::vector<std::string> keys;
    const bool numeric = x["header"]["key_type"].get<int>() == 1;
    for (const auto& e : x["entries"]) {
      expected.push_back(e["recno"].get<std::int64_t>());
      keys.push_back(numeric ? std::to_string(e["key"].get<double>())
                             : test::Unescape(e["key"].get<std::string>()));
    }
    ScopedErrorDispatch quiet(false);
    Select(1);
    USE(table);
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    // The walk follows the index's entries, so even the index that is out of
    // date with its table (records rewritten since, one record that the
    // header does not count) walks in its writer's order: FixRecCount makes
    // that record readable.
    SetIndexTo(index);
    ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
    Recs walked;
    GoTop();
    int walkCode = Engine().Errors.ErrorCode;
    while (walkCode == 0 && !dEOF() && walked.size() < 4 * expected.size() + 10) {
      walked.push_back(RecNo());
      SKIP(1);
      walkCode = Engine().Errors.ErrorCode;
    }
    EXPECT_EQ(walkCode, 0) << Engine().Errors.ErrorDetail;
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(WalkBackward(4 * expected.size() + 10), Reversed(expected));
    // Every key is found where the index puts it (keys padded with NULs are
    // found by their text).
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::string k = keys[i].substr(0, keys[i].find('\0'));
      EXPECT_TRUE(Find(k)) << k;
      EXPECT_EQ(RecNo(), expected[i]) << k;
    }
    // Going to each record must end, with an error where the table's key
    // is not in the index (out of date) or the record does not exist.
    for (std::int64_t r = 1; r <= RecCount() + 1; ++r) {
      GO(r);
      SKIP(1);
      SKIP(-1);
    }
    // IndexInfo reads the anchor as written.
    const IndexInfoRecord info = IndexInfo(index);
    EXPECT_EQ(Engine().Errors.ErrorCode, 0);
    EXPECT_EQ(Trim(info.Expression), x["header"]["key_expression"].get<std::string>());
    EXPECT_EQ(info.KeyLength, x["header"]["key_length"].get<int>());
    EXPECT_EQ(info.KeyType, numeric ? 'N' : 'C');
    EXPECT_EQ(info.Unique, x["header"]["byte23_unique"].get<int>() != 0);
    CloseAll();
    EXPECT_EQ(test::ReadFile(index), before);
  }
}

}  // namespace
}  // namespace vz
