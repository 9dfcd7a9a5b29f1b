// vorza-dbf index, find, ndxinfo and list --index: on tables built here and
// on the corpus's indexes, with the engine's errors as messages on standard
// error and codes as exit status (modulo 256).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/NdxBuilder.h"
#include "tests/support/NdxChecker.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::BinPath;
using test::RunTool;
using test::ShellQuote;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The record numbers `list` printed (its first column).
std::vector<long> ListedRecords(const std::string& out) {
  std::vector<long> r;
  for (const std::string& line : Lines(out))
    r.push_back(std::stol(line.substr(0, line.find('\t'))));
  return r;
}

class NdxCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // CHEATNAME C 35, LEVEL N 3; 3 and 7 deleted; 5 holds an OEM e acute.
    test::DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35).Field("LEVEL", 'N', 3);
    const char* const names[] = {"Quake",      "Doom", "Doom II", "Zork",
                                 "Pok\x82mon", "Myst", "Doom 3",  "Hexen"};
    for (int i = 0; i < 8; ++i) b.Record({names[i], std::to_string(8 - i)}, i == 2 || i == 6);
    b.Write(dir_.File("cheats.dbf"));
    table_ = ShellQuote(dir_.File("cheats.dbf"));
  }

  std::string Ndx(const std::string& name) const { return ShellQuote(dir_.File(name)); }

  test::TempDir dir_;
  std::string table_;
};

TEST_F(NdxCliTest, IndexBuildsAFileTheFormatAccepts) {
  std::string out, err;
  ASSERT_EQ(RunTool("index " + table_ + " cheatname " + Ndx("names.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  test::NdxCheckOptions o;
  o.Records = 8;
  o.AnchorCount = 8;
  o.Table = "CHEATS.DBF";
  o.Expression = "CHEATNAME";
  test::NdxReport r = test::CheckNdxFile(dir_.File("names.ndx"), o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.Records(), (std::vector<std::int32_t>{2, 7, 3, 8, 6, 5, 1, 4}));

  // A name without a folder goes beside the table, whatever the current
  // directory; --unique keeps one record a key.
  test::TempDir elsewhere(true);
  ASSERT_EQ(RunTool("index " + table_ + " 'left(cheatname, 4)' short.ndx --unique", &out, &err), 0)
      << err;
  ASSERT_TRUE(std::filesystem::exists(dir_.File("short.ndx")));
  EXPECT_FALSE(std::filesystem::exists(elsewhere.File("short.ndx")));
  o.Records = -1;
  o.Occurrences = {{1, 1}, {2, 1}, {4, 1}, {5, 1}, {6, 1}, {8, 1}};
  o.Expression = "LEFT(CHEATNAME,4)";
  r = test::CheckNdxFile(dir_.File("short.ndx"), o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.UniqueByte, 1);
  EXPECT_EQ(r.KeyLen, 4);

  // --progress: a hundred steps on standard error, nothing on standard out.
  test::DbfBuilder big;
  big.Field("N", 'N', 6);
  for (int i = 0; i < 250; ++i) big.Record({std::to_string((i * 7919) % 1000)});
  big.Write(dir_.File("big.dbf"));
  ASSERT_EQ(
      RunTool("index " + ShellQuote(dir_.File("big.dbf")) + " n " + Ndx("big.ndx") + " --progress",
              &out, &err),
      0)
      << err;
  EXPECT_EQ(out, "");
  const std::vector<std::string> steps = Lines(err);
  ASSERT_EQ(steps.size(), 100u) << err;
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(steps[static_cast<std::size_t>(i)], std::to_string(i + 1) + "%");
  o = {};
  o.Records = 250;
  r = test::CheckNdxFile(dir_.File("big.ndx"), o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(r.Letter, 'N');
}

TEST_F(NdxCliTest, FindAndListFollowTheIndex) {
  std::string out, err;
  ASSERT_EQ(RunTool("index " + table_ + " cheatname " + Ndx("names.ndx"), &out, &err), 0) << err;
  auto find = [&](const std::string& key, const std::string& flags = "") {
    std::string o, e;
    const int rc =
        RunTool("find " + table_ + " " + Ndx("names.ndx") + " " + ShellQuote(key) + flags, &o, &e);
    EXPECT_EQ(rc, 0) << e;
    return o;
  };
  EXPECT_EQ(find("Doom"), "2\n");
  EXPECT_EQ(find("Doom "), "2\n");   // "Doom" and its blanks
  EXPECT_EQ(find("Doom 3"), "0\n");  // 7 and 3 are deleted, the next visible is Hexen
  EXPECT_EQ(find("Doom I"), "0\n");
  EXPECT_EQ(find("Z"), "4\n");
  EXPECT_EQ(find("Pok\xC3\xA9"), "5\n");  // UTF-8 on the command line, OEM in the table
  EXPECT_EQ(find("Zz"), "0\n");
  EXPECT_EQ(find("Nothing"), "0\n");
  EXPECT_EQ(find("Myst", " --exact"), "6\n");
  EXPECT_EQ(find("Mys", " --exact"), "0\n");
  EXPECT_EQ(find("Mys"), "6\n");

  ASSERT_EQ(RunTool("list " + table_ + " --index " + Ndx("names.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(ListedRecords(out), (std::vector<long>{2, 8, 6, 5, 1, 4}));
  EXPECT_EQ(Lines(out)[0], "2\t-\tDoom\t7");
  ASSERT_EQ(RunTool("list " + table_ + " --index " + Ndx("names.ndx") + " --all", &out, &err), 0)
      << err;
  EXPECT_EQ(ListedRecords(out), (std::vector<long>{2, 7, 3, 8, 6, 5, 1, 4}));
  EXPECT_EQ(Lines(out)[1], "7\t*\tDoom 3\t2");

  // A numeric index.
  ASSERT_EQ(RunTool("index " + table_ + " level " + Ndx("level.ndx"), &out, &err), 0) << err;
  ASSERT_EQ(RunTool("list " + table_ + " --all --index " + Ndx("level.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(ListedRecords(out), (std::vector<long>{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(RunTool("find " + table_ + " " + Ndx("level.ndx") + " 4", &out, &err), 0) << err;
  EXPECT_EQ(out, "5\n");
}

// An index on TRIM(CHEATNAME) takes its key length from the first record
// ("Quake", 5): shorter names are padded and longer ones cut, as the build
// stores them, and the index can be walked and searched.
TEST_F(NdxCliTest, AnIndexOnTrimmedNamesIsWalkedAndSearched) {
  std::string out, err;
  ASSERT_EQ(RunTool("index " + table_ + " 'trim(cheatname)' " + Ndx("trim.ndx"), &out, &err), 0)
      << err;
  ASSERT_EQ(RunTool("ndxinfo " + Ndx("trim.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(Lines(out).at(1), "key_length 5");
  ASSERT_EQ(RunTool("list " + table_ + " --index " + Ndx("trim.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(ListedRecords(out), (std::vector<long>{2, 8, 6, 5, 1, 4}));
  ASSERT_EQ(RunTool("list " + table_ + " --all --index " + Ndx("trim.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(ListedRecords(out), (std::vector<long>{2, 3, 7, 8, 6, 5, 1, 4}));
  for (const auto& [key, recno] :
       std::vector<std::pair<std::string, std::string>>{{"Doom", "2"},
                                                        {"Hex", "8"},
                                                        {"Zork --exact", "4"},
                                                        {"Myst --exact", "6"},
                                                        {"Zz", "0"}}) {
    ASSERT_EQ(RunTool("find " + table_ + " " + Ndx("trim.ndx") + " " + key, &out, &err), 0)
        << key << err;
    EXPECT_EQ(out, recno + "\n") << key;
  }
}

// An index of an empty table: a character key's length comes from what
// the expression can hold (there is no record to measure, and TRIM of a
// blank name is empty); where that cannot be told, the build fails with
// its code as the tool's exit status and leaves no file behind.
TEST_F(NdxCliTest, AnEmptyTableTakesTheKeyLengthFromTheExpression) {
  const std::string empty = dir_.File("empty.dbf");
  const auto makeEmpty = [&] {
    test::DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35);
    b.Write(empty);
  };
  struct Case {
    const char* expression;
    int keyLength;  // 0: cannot be told
  };
  const Case cases[] = {{"TRIM(CHEATNAME)", 35},
                        {"UPPER(TRIM(CHEATNAME))", 35},
                        {"LEFT(CHEATNAME,5)+'x'", 6},
                        {"SUBSTR(CHEATNAME,2,4)", 4},
                        {"TRIM(CHEATNAME)+CHEATNAME", 70},
                        {"IIF(.T.,TRIM(CHEATNAME),'a')", 0},
                        {"LEFT(TRIM(CHEATNAME),1000000000000)", 35}};
  const std::string ndx = dir_.File("e.ndx");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    makeEmpty();
    std::filesystem::remove(ndx);
    std::string err;
    const int status = RunTool(
        "index " + ShellQuote(empty) + " " + ShellQuote(c.expression) + " " + ShellQuote(ndx),
        nullptr, &err);
    if (c.keyLength == 0) {
      EXPECT_EQ(status, 266 % 256) << err;
      EXPECT_NE(err.find("Error # 266"), std::string::npos) << err;
      EXPECT_FALSE(std::filesystem::exists(ndx)) << "a failed build left its file";
      continue;
    }
    ASSERT_EQ(status, 0) << err;
    test::NdxCheckOptions o;
    o.Records = 0;
    const test::NdxReport built = test::CheckNdxFile(ndx, o);
    EXPECT_TRUE(built.Ok()) << built.Text();
    EXPECT_EQ(built.KeyLen, c.keyLength);
    // Names appended through it land where a build puts them.
    for (const char* name : {"Doom", "Hexen", "Abuse"})
      ASSERT_EQ(RunTool("append " + ShellQuote(empty) + " CHEATNAME=" + name + " --index " +
                            ShellQuote(ndx),
                        nullptr, &err),
                0)
          << err;
    const test::NdxReport after = test::CheckNdxFile(ndx);
    EXPECT_TRUE(after.Ok()) << after.Text();
    ASSERT_EQ(RunTool("index " + ShellQuote(empty) + " " + ShellQuote(c.expression) + " " +
                          Ndx("fresh.ndx"),
                      nullptr, &err),
              0)
        << err;
    EXPECT_EQ(after.Records(), test::CheckNdxFile(dir_.File("fresh.ndx")).Records());
    EXPECT_EQ(after.Records().size(), 3u);
  }
}

// A table cut short under its index (60 records, then 20): the entries of
// the records that are gone end a walk and a search with the engine's
// damaged-index error naming the index, never with a short list or a
// record that does not exist.
TEST_F(NdxCliTest, EntriesPastTheTablesEndAreReportedAsDamage) {
  auto table = [&](int records) {
    test::DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35).Field("LEVEL", 'N', 3);
    for (int i = 0; i < records; ++i) b.Record({"K" + std::to_string(10 + i), "1"});
    b.Write(dir_.File("cut.dbf"));
  };
  table(60);
  const std::string cut = ShellQuote(dir_.File("cut.dbf"));
  std::string out, err;
  ASSERT_EQ(RunTool("index " + cut + " cheatname " + Ndx("cut.ndx"), &out, &err), 0) << err;
  table(20);
  std::string name = dir_.File("cut.ndx");
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (const char* all : {"", " --all"}) {
    EXPECT_EQ(RunTool("list " + cut + all + " --index " + Ndx("cut.ndx"), &out, &err), 222);
    EXPECT_EQ(Lines(out).size(), 20u);
    EXPECT_EQ(Lines(err).at(0), "Error # 222 (Corrupted index file)") << err;
    EXPECT_NE(err.find(name), std::string::npos) << err;
  }
  for (const char* key : {"K45", "K69", "K3"}) {
    EXPECT_EQ(RunTool("find " + cut + " " + Ndx("cut.ndx") + " " + key, &out, &err), 222) << key;
    EXPECT_EQ(out, "") << key;
    EXPECT_NE(err.find(name), std::string::npos) << err;
  }
  ASSERT_EQ(RunTool("find " + cut + " " + Ndx("cut.ndx") + " K15", &out, &err), 0) << err;
  EXPECT_EQ(out, "6\n");
}

TEST_F(NdxCliTest, NdxInfoPrintsTheAnchor) {
  std::string out, err;
  ASSERT_EQ(
      RunTool("index " + table_ + " 'upper(cheatname)' " + Ndx("u.ndx") + " --unique", &out, &err),
      0)
      << err;
  ASSERT_EQ(RunTool("ndxinfo " + Ndx("u.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(out,
            "expression UPPER(CHEATNAME)\nkey_length 35\nkey_type C\nunique 1\ntable "
            "CHEATS.DBF\nrecords 8\n");

  // A failing count check: -1 and no name.
  test::NdxBuilder b('D', 8);
  b.Expression("ADDED").CountCheck(5, "X.DBF");
  b.Number(2449332, 1);
  test::Bytes bytes = b.Build();
  test::Put32(bytes, 488, 0);
  test::WriteFile(dir_.File("d.ndx"), bytes);
  ASSERT_EQ(RunTool("ndxinfo " + Ndx("d.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(out, "expression ADDED\nkey_length 8\nkey_type D\nunique 0\ntable \nrecords -1\n");

  // The corpus's indexes, read where they are: no type letter, expressions
  // as their writers spelt them, their writers' unique byte, no count check.
  int seen = 0;
  for (const auto& e : std::filesystem::directory_iterator(test::CompatDir() + "/expect")) {
    const std::string n = e.path().filename().string();
    if (n.size() < 9 || n.substr(n.size() - 9) != ".ndx.json") continue;
    ++seen;
    const nlohmann::json x = test::LoadJson(e.path().string());
    const std::string ndx = test::CompatDir() + "/" + x["index"].get<std::string>();
    ASSERT_EQ(RunTool("ndxinfo " + ShellQuote(ndx), &out, &err), 0) << err;
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 6u) << out;
    const auto& h = x["header"];
    std::string expression = lines[0];
    while (!expression.empty() && expression.back() == ' ') expression.pop_back();
    EXPECT_EQ(expression, "expression " + h["key_expression"].get<std::string>());
    EXPECT_EQ(lines[1], "key_length " + std::to_string(h["key_length"].get<int>()));
    EXPECT_EQ(lines[2], std::string("key_type ") + (h["key_type"].get<int>() == 0 ? "C" : "N"));
    EXPECT_EQ(lines[3], std::string("unique ") + (h["byte23_unique"].get<int>() != 0 ? "1" : "0"));
    EXPECT_EQ(lines[4], "table ");
    EXPECT_EQ(lines[5], "records -1");
  }
  EXPECT_EQ(seen, 3);
}

TEST_F(NdxCliTest, ErrorsEndWithTheEngineMessageAndCode) {
  std::string out, err;
  // Building: no such field (the expression language's error), a key too
  // long, an expression too long.
  EXPECT_EQ(RunTool("index " + table_ + " nosuchfield " + Ndx("x.ndx"), &out, &err), 351 % 256);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("Error # 351", 0), 0u) << err;
  EXPECT_EQ(
      RunTool("index " + table_ + " cheatname+cheatname+cheatname " + Ndx("x.ndx"), &out, &err),
      266 % 256);
  EXPECT_EQ(err.rfind("Error # 266", 0), 0u) << err;
  EXPECT_NE(err.find("Incorrect key length: Must be 1 to 100."), std::string::npos) << err;
  EXPECT_EQ(RunTool("index " + table_ + " " + ShellQuote("cheatname" + std::string(95, ' ')) + " " +
                        Ndx("x.ndx"),
                    &out, &err),
            300 % 256);
  EXPECT_NE(err.find("Expression length exceeds 100 bytes"), std::string::npos) << err;
  EXPECT_EQ(RunTool("index " + ShellQuote(dir_.File("missing.dbf")) + " cheatname " + Ndx("x.ndx"),
                    &out, &err),
            2);

  // Opening: a missing index, a damaged one, one of a KeyMaker.
  EXPECT_EQ(RunTool("find " + table_ + " " + Ndx("missing.ndx") + " Doom", &out, &err), 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("Error # 2 (File not found)\n", 0), 0u) << err;
  test::WriteFile(dir_.File("short.ndx"), test::Bytes(1023, 0));
  EXPECT_EQ(RunTool("list " + table_ + " --index " + Ndx("short.ndx"), &out, &err), 222);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("Error # 222 (Corrupted index file)\n", 0), 0u) << err;
  EXPECT_NE(err.find("Unable to open index: "), std::string::npos) << err;
  test::NdxBuilder marker('C', 4);
  marker.Expression("USERDEFINEDKEYMAKERWASUSEDTOBUILDTHISINDEX").Key("Doom", 2);
  marker.Write(dir_.File("maker.ndx"));
  EXPECT_EQ(RunTool("find " + table_ + " " + Ndx("maker.ndx") + " Doom", &out, &err), 223);
  EXPECT_NE(err.find("Key maker function required, "), std::string::npos) << err;

  // A node damaged past the first leaf: list stops there with the error.
  std::vector<std::string> many;
  test::DbfBuilder b;
  b.Field("CHEATNAME", 'C', 35);
  for (int i = 0; i < 40; ++i) b.Record({"Cheat " + std::to_string(100 + i)});
  b.Write(dir_.File("many.dbf"));
  ASSERT_EQ(RunTool("index " + ShellQuote(dir_.File("many.dbf")) + " cheatname " + Ndx("many.ndx"),
                    &out, &err),
            0)
      << err;
  test::Bytes m = test::ReadFile(dir_.File("many.ndx"));
  test::Put16(m, 3 * 512, 99);  // the third leaf
  test::WriteFile(dir_.File("many.ndx"), m);
  EXPECT_EQ(RunTool("list " + ShellQuote(dir_.File("many.dbf")) + " --index " + Ndx("many.ndx"),
                    &out, &err),
            222);
  EXPECT_EQ(ListedRecords(out).size(), 22u);
  EXPECT_NE(err.find("Corrupted index file: "), std::string::npos) << err;

  // Usage errors.
  EXPECT_EQ(RunTool("find " + table_ + " " + Ndx("names.ndx"), &out, &err), 64);
  EXPECT_EQ(RunTool("index " + table_ + " cheatname " + Ndx("x.ndx") + " --fast", &out, &err), 64);
  EXPECT_EQ(RunTool("ndxinfo", &out, &err), 64);
  EXPECT_EQ(RunTool("ndxinfo " + Ndx("missing.ndx"), &out, &err), 2);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace vz
