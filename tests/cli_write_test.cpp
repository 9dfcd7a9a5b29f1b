// vorza-dbf append, replace, delete, recall and pack: what is given is
// checked before anything is written, every field type is stored as the
// engine stores it, the named indexes stay equal to fresh builds after
// random sequences of commands, and two programs may write at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/NdxChecker.h"
#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::RunTool;
using test::ShellQuote;
using Strings = std::vector<std::string>;

Strings Lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

Strings Fields(const std::string& line) {
  Strings out;
  std::string cur;
  for (char c : line) {
    if (c == '\t') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

// The indexes every test keeps: plain, UNIQUE, TRIM(), numeric and date keys.
struct Order {
  const char* file;
  const char* expression;
  bool unique;
};
const Order kOrders[] = {
    {"name.ndx", "name", false},       {"uname.ndx", "name", true},
    {"trim.ndx", "trim(name)", false}, {"utrim.ndx", "upper(trim(name))", true},
    {"ulevel.ndx", "level", true},     {"added.ndx", "added", false},
};

class CliWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    InstallMemoUnit();  // CreateDbf writes the memo file through the memo unit
    // NAME C 12, LEVEL N 6 2, ADDED D, OK L, NOTE M (.dbt beside it).
    ASSERT_TRUE(CreateDbf(dir_.File("t.dbf"), {{"name", 'C', 12, 0},
                                               {"level", 'N', 6, 2},
                                               {"added", 'D', 8, 0},
                                               {"ok", 'L', 1, 0},
                                               {"note", 'M', 10, 0}}));
    table_ = ShellQuote(dir_.File("t.dbf"));
  }
  void TearDown() override { test::ResetEngineForTest(); }

  std::string Q(const std::string& name) const { return ShellQuote(dir_.File(name)); }
  std::string IndexArgs() const {
    std::string a;
    for (const Order& o : kOrders) a += " --index " + Q(o.file);
    return a;
  }
  void BuildIndexes() {
    for (const Order& o : kOrders) {
      std::string err;
      ASSERT_EQ(RunTool("index " + table_ + " " + ShellQuote(o.expression) + " " + Q(o.file) +
                            (o.unique ? " --unique" : ""),
                        nullptr, &err),
                0)
          << err;
    }
  }
  // Runs a command that must succeed; returns its output.
  std::string Ok(const std::string& args) {
    std::string out, err;
    EXPECT_EQ(RunTool(args, &out, &err), 0) << args << "\n" << err;
    return out;
  }
  // Each index walks like a fresh build of it by the tool: the same
  // entries, record and key bytes, in the same order.
  void ExpectIndexesLikeFreshBuilds() {
    test::NdxCheckOptions o;
    o.AllowEmptyLeaves = true;
    for (const Order& x : kOrders) {
      SCOPED_TRACE(std::string(x.expression) + (x.unique ? " UNIQUE" : ""));
      const test::NdxReport kept = test::CheckNdxFile(dir_.File(x.file), o);
      EXPECT_TRUE(kept.Ok()) << kept.Text();
      Ok("index " + table_ + " " + ShellQuote(x.expression) + " " + Q("fresh.ndx") +
         (x.unique ? " --unique" : ""));
      const test::NdxReport fresh = test::CheckNdxFile(dir_.File("fresh.ndx"));
      ASSERT_TRUE(fresh.Ok()) << fresh.Text();
      EXPECT_EQ(kept.KeyLen, fresh.KeyLen);
      EXPECT_EQ(kept.Records(), fresh.Records());
      Strings keptKeys, freshKeys;
      for (const auto& e : kept.Entries) keptKeys.push_back(e.Key);
      for (const auto& e : fresh.Entries) freshKeys.push_back(e.Key);
      EXPECT_EQ(keptKeys, freshKeys);
      // And the tool walks it in that order.
      std::vector<std::int32_t> listed;
      for (const std::string& line : Lines(Ok("list " + table_ + " --all --index " + Q(x.file))))
        listed.push_back(std::stoi(line.substr(0, line.find('\t'))));
      EXPECT_EQ(listed, fresh.Records());
    }
  }

  test::TempDir dir_;
  std::string table_;
};

TEST_F(CliWriteTest, EveryFieldTypeIsStoredAsTheEngineStoresIt) {
  const std::string bytes("\x01\x1A\x00\xFFraw\r\n", 9);
  test::WriteFile(dir_.File("memo.bin"), bytes);
  EXPECT_EQ(Ok("append " + table_ +
               " NAME=Caf\xC3\xA9 level=-3.5 ADDED=19201231 OK=? 'NOTE=Line one\r\nLine two'"),
            "1\n");
  EXPECT_EQ(Ok("append " + table_ + " name=A-very-long-name-cut OK=T NOTE=@" + Q("memo.bin")),
            "2\n");
  EXPECT_EQ(Ok("append " + table_ + " LEVEL=12 ADDED= OK=F"), "3\n");
  Strings rows = Lines(Ok("list " + table_ + " --all"));
  ASSERT_EQ(rows.size(), 3u);
  const Strings first = Fields(rows[0]);
  ASSERT_EQ(first.size(), 7u);
  EXPECT_EQ(Strings(first.begin(), first.end() - 1),
            (Strings{"1", "-", "Caf\xC3\xA9", "-3.50", "19201231", "?"}));
  EXPECT_NE(first.back(), "0");
  const Strings second = Fields(rows[1]);
  EXPECT_EQ(Strings(second.begin(), second.end() - 1),
            (Strings{"2", "-", "A-very-long-", "", "        ", "T"}));
  EXPECT_EQ(Fields(rows[2]), (Strings{"3", "-", "", "12.00", "        ", "F", "0"}));
  // The memo texts: converted to the table's code page and back, and the
  // file's bytes as they were.
  EXPECT_EQ(Ok("memo " + table_ + " 1"), "Line one\r\nLine two");
  EXPECT_EQ(Ok("memo " + table_ + " 2 --raw"), bytes);
  EXPECT_EQ(Ok("list " + table_ + " --raw --all").rfind("1\t-\tCaf\\x82\t", 0), 0u);

  // A change keeps the fields it does not name.
  Ok("replace " + table_ + " 1 LEVEL=7 OK=F");
  const Strings changed = Fields(Lines(Ok("list " + table_))[0]);
  EXPECT_EQ(Strings(changed.begin(), changed.end() - 1),
            (Strings{"1", "-", "Caf\xC3\xA9", "7.00", "19201231", "F"}));
  EXPECT_EQ(Ok("memo " + table_ + " 1"), "Line one\r\nLine two");
  Ok("replace " + table_ + " 1 'NOTE=New text'");
  EXPECT_EQ(Ok("memo " + table_ + " 1"), "New text");

  // Deleted, live again, deleted and packed away.
  Ok("delete " + table_ + " 2");
  EXPECT_EQ(Lines(Ok("list " + table_)).size(), 2u);
  EXPECT_EQ(Fields(Lines(Ok("list " + table_ + " --all"))[1])[1], "*");
  Ok("recall " + table_ + " 2");
  EXPECT_EQ(Lines(Ok("list " + table_)).size(), 3u);
  Ok("delete " + table_ + " 1");
  Ok("pack " + table_);
  rows = Lines(Ok("list " + table_ + " --all"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Fields(rows[0])[2], "A-very-long-");
  EXPECT_EQ(Fields(rows[1])[0], "2");
  EXPECT_EQ(Ok("memo " + table_ + " 1 --raw"), bytes);
  EXPECT_EQ(Lines(Ok("info " + table_))[1], "records 2");

  // The usage names every command.
  const std::string help = Ok("--help");
  for (const char* c : {"append", "replace", "delete", "recall", "pack"}) {
    EXPECT_NE(help.find(std::string("  ") + c + " TABLE"), std::string::npos) << c;
    EXPECT_EQ(Ok(std::string(c) + " --help").rfind(std::string("usage: vorza-dbf ") + c, 0), 0u)
        << c;
  }
}

TEST_F(CliWriteTest, WhatIsGivenIsCheckedBeforeAnythingIsWritten) {
  Ok("append " + table_ + " 'NAME=Pinned names' LEVEL=1");
  BuildIndexes();
  Ok("append " + table_ + " NAME=Two LEVEL=2" + IndexArgs());
  Strings files = {"t.dbf", "t.dbt"};
  for (const Order& o : kOrders) files.push_back(o.file);
  std::map<std::string, test::FileStamp> before;
  for (const std::string& f : files) before[f] = test::StampOf(dir_.File(f));
  const Strings refused = {
      "append " + table_ + " NOPE=1",
      "append " + table_ + " NAME",
      "append " + table_ + " =x",
      "append " + table_ + " NAME=ok LEVEL=abc",
      "append " + table_ + " LEVEL=1e3",
      "append " + table_ + " LEVEL=12345.67",
      "append " + table_ + " LEVEL=99999999999999999999",
      "append " + table_ + " ADDED=20231301",
      "append " + table_ + " ADDED=2023011",
      "append " + table_ + " ADDED=00000101",
      "append " + table_ + " OK=X",
      "append " + table_ + " NOTE=@" + Q("no-such-file"),
      "replace " + table_ + " 0 NAME=x",
      "replace " + table_ + " 3 NAME=x",
      "replace " + table_ + " two NAME=x",
      "replace " + table_ + " 1 NAME=x OK=maybe",
      "delete " + table_ + " 3",
      "recall " + table_ + " -1",
  };
  for (const std::string& command : refused) {
    SCOPED_TRACE(command);
    std::string out, err;
    EXPECT_EQ(RunTool(command + IndexArgs(), &out, &err), 65);
    EXPECT_EQ(out, "");
    EXPECT_NE(err, "");
    for (const std::string& f : files) EXPECT_EQ(test::StampOf(dir_.File(f)), before[f]) << f;
  }
  for (const std::string& usage :
       {"append " + table_, "replace " + table_ + " 1", "delete " + table_, "pack " + table_ + " 1",
        "append " + table_ + " NAME=x --index", "append " + table_ + " NAME=x --unique"}) {
    EXPECT_EQ(RunTool(usage), 64) << usage;
  }
  for (const std::string& f : files) EXPECT_EQ(test::StampOf(dir_.File(f)), before[f]) << f;
}

// Random sequences of the writing commands, each a process of its own, with
// every index named: after each sequence the table holds what the sequence
// wrote, and each index walks like a fresh build.
TEST_F(CliWriteTest, RandomCommandSequencesKeepEveryIndexLikeAFreshBuild) {
  static const char* const kNames[] = {"doom", "Doom", "DOOM", "hex",   "Hex",
                                       "Myst", "myst", "A",    "Zork 2"};
  static const char* const kLevels[] = {"1.5", "2.25", "-3", "0", "7.75"};
  static const char* const kDates[] = {"19991231", "20000229", "19700101", "20380119", ""};
  for (unsigned seed = 1; seed <= 2; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    if (seed > 1) {
      for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        std::filesystem::remove(e.path());
      SetUp();
    }
    // Record 1 keeps a name of the full width: TRIM(NAME) takes its key
    // length from the first record when it is built.
    Ok("append " + table_ + " 'NAME=Pinned names' LEVEL=50");
    for (int i = 0; i < 4; ++i)
      Ok("append " + table_ + " " + ShellQuote(std::string("NAME=") + kNames[rng() % 9]) +
         " LEVEL=" + kLevels[rng() % 5]);
    BuildIndexes();
    struct Row {
      std::string name, added;
      bool deleted = false;
    };
    std::vector<Row> model;
    for (const std::string& line : Lines(Ok("list " + table_ + " --all"))) {
      const Strings f = Fields(line);
      model.push_back({f[2], f[4]});
    }
    for (int step = 0; step < 36; ++step) {
      const unsigned what = rng() % 20;
      const std::size_t r = model.size() > 1 ? 2 + rng() % (model.size() - 1) : 0;
      const std::string name = kNames[rng() % 9], level = kLevels[rng() % 5],
                        added = kDates[rng() % 5];
      if (what < 7 || r == 0) {
        EXPECT_EQ(Ok("append " + table_ + " " + ShellQuote("NAME=" + name) + " LEVEL=" + level +
                     " ADDED=" + added + IndexArgs()),
                  std::to_string(model.size() + 1) + "\n");
        model.push_back({name, added.empty() ? "        " : added});
      } else if (what < 14) {
        const bool both = rng() % 2;
        Ok("replace " + table_ + " " + std::to_string(r) + " " + ShellQuote("NAME=" + name) +
           (both ? " ADDED=" + added : "") + IndexArgs());
        model[r - 1].name = name;
        if (both) model[r - 1].added = added.empty() ? "        " : added;
      } else if (what < 17) {
        Ok("delete " + table_ + " " + std::to_string(r) + IndexArgs());
        model[r - 1].deleted = true;
      } else if (what < 19) {
        Ok("recall " + table_ + " " + std::to_string(r) + IndexArgs());
        model[r - 1].deleted = false;
      } else {
        Ok("pack " + table_ + IndexArgs());
        std::erase_if(model, [](const Row& row) { return row.deleted; });
      }
    }
    const Strings rows = Lines(Ok("list " + table_ + " --all"));
    ASSERT_EQ(rows.size(), model.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Strings f = Fields(rows[i]);
      EXPECT_EQ(f[1], model[i].deleted ? "*" : "-") << i;
      EXPECT_EQ(f[2], model[i].name) << i;
      EXPECT_EQ(f[4], model[i].added) << i;
    }
    ExpectIndexesLikeFreshBuilds();
    if (HasFailure()) break;
  }
}

// Two programs append and change records of one table at the same time,
// through the same indexes: every change of both lands, and the indexes
// still walk like fresh builds.
TEST_F(CliWriteTest, TwoProgramsWritingAtOnce) {
  Ok("append " + table_ + " 'NAME=Pinned names' LEVEL=50");
  for (int i = 0; i < 10; ++i)
    Ok("append " + table_ + " NAME=Old" + std::to_string(i) + " LEVEL=" + std::to_string(i));
  BuildIndexes();
  const std::string tool = ShellQuote(test::BinPath("vorza-dbf"));
  std::string both;
  for (const char* writer : {"a", "b"}) {
    std::string script = "set -e\n";
    for (int i = 0; i < 12; ++i) {
      script += tool + " append " + table_ + " NAME=" + writer + std::to_string(i) +
                " LEVEL=" + std::to_string(100 + i) + (writer[0] == 'a' ? ".25" : ".5") +
                IndexArgs() + " >/dev/null\n";
      // Writer a changes records 2 to 6, writer b records 7 to 11.
      const int r = (writer[0] == 'a' ? 2 : 7) + i % 5;
      script += tool + " replace " + table_ + " " + std::to_string(r) + " NAME=" + writer +
                "Changed" + std::to_string(i) + IndexArgs() + "\n";
    }
    script += "touch " + Q(std::string(writer) + ".done") + "\n";
    test::WriteFile(dir_.File(std::string(writer) + ".sh"), script);
    both += "sh " + Q(std::string(writer) + ".sh") + " & ";
  }
  std::string out, err;
  // A writer's script stops at its first command that fails; one that
  // went through leaves its mark.
  test::RunCommand(both + "wait", &out, &err);
  ASSERT_TRUE(std::filesystem::exists(dir_.File("a.done"))) << err;
  ASSERT_TRUE(std::filesystem::exists(dir_.File("b.done"))) << err;
  const Strings rows = Lines(Ok("list " + table_ + " --all"));
  ASSERT_EQ(rows.size(), 35u);
  std::map<std::string, std::string> names;  // name -> level
  for (const std::string& line : rows) names[Fields(line)[2]] = Fields(line)[3];
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(names["a" + std::to_string(i)], std::to_string(100 + i) + ".25") << i;
    EXPECT_EQ(names["b" + std::to_string(i)], std::to_string(100 + i) + ".50") << i;
  }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Fields(rows[1 + static_cast<std::size_t>(i)])[2],
              "aChanged" + std::to_string(i + 10 < 12 ? i + 10 : i + 5));
    EXPECT_EQ(Fields(rows[6 + static_cast<std::size_t>(i)])[2],
              "bChanged" + std::to_string(i + 10 < 12 ? i + 10 : i + 5));
  }
  ExpectIndexesLikeFreshBuilds();
}

}  // namespace
}  // namespace vz
