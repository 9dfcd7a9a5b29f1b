// vorza-dbf import from CSV and JSON Lines: export, import, export gives
// the same bytes; a malformed source is refused with its line and column
// and no file is touched; and writing a table is all or nothing: an import
// that fails (the disk full) or is killed at any point leaves the old
// table whole, or the new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/engine_context.h"
#include "engine/errors.h"
#include "engine/table_swap.h"
#include "platform/files.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::RunTool;
using test::ShellQuote;

// Every entry of a folder, files with their stamps, folders as such.
std::map<std::string, test::FileStamp> Snapshot(const std::string& dir) {
  std::map<std::string, test::FileStamp> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    out[e.path().filename().string()] =
        e.is_directory() ? test::FileStamp{true, 0, -1, 0} : test::StampOf(e.path().string());
  return out;
}

std::string Export(const std::string& table, const std::string& options = "") {
  std::string out, err;
  EXPECT_EQ(RunTool("--codepage 437 export " + ShellQuote(table) + " " + options, &out, &err), 0)
      << err;
  return out;
}

int Import(const std::string& table, const std::string& source, std::string* err = nullptr) {
  std::string out;
  return RunTool("--codepage 437 import " + ShellQuote(table) + " " + ShellQuote(source), &out,
                 err);
}

// A cheat table made byte by byte: names and memo texts with every OEM byte
// from 0x80 up, quotes, commas, semicolons, CR LF and lone line breaks,
// leading blanks, empty texts; every third record deleted.
void WriteTrickyCheatTable(const std::string& folder, unsigned seed) {
  std::mt19937 random(seed);
  const std::string pieces[] = {"\"",
                                ",",
                                ";",
                                "\r\n",
                                "\n",
                                " ",
                                "''",
                                "IDDQD",
                                "\x82t\x82",
                                "na\xA4"
                                "o",
                                "\x9A"
                                "ber",
                                "\xE1",
                                "\x9C"
                                "5",
                                "\t"};
  const auto text = [&](std::size_t most) {
    std::string t;
    const std::size_t n = random() % 12;
    for (std::size_t i = 0; i < n; ++i) {
      if (random() % 3 == 0)
        t += static_cast<char>(0x80 + random() % 0x80);
      else
        t += pieces[random() % std::size(pieces)];
    }
    return t.substr(0, most);
  };
  test::DbtBuilder memo(true);
  test::DbfBuilder table;
  table.Version(0x8B).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
  for (int i = 0; i < 60; ++i) {
    std::string name = (i % 5 == 0 ? " " : "") + std::string("Game ") + std::to_string(i) + " ";
    for (char c : text(35)) name += (c == '\r' || c == '\n' || c == '\t') ? '-' : c;
    name = name.substr(0, 35);
    const std::string body = text(400);
    const std::string field = body.empty() ? "" : test::MemoField(memo.Add(body));
    table.Record({name, field}, i % 3 == 2);
  }
  memo.Write(folder + "/pc.dbt");
  table.Write(folder + "/pc.dbf");
}

TEST(ImportRoundTrip, ExportImportExportGivesTheSameBytes) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    test::TempDir dir;
    WriteTrickyCheatTable(dir.path(), seed);
    const std::string original = dir.File("pc.dbf");
    for (const std::string format : {"csv", "jsonl"}) {
      for (const std::string all : {"", " --all"}) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + format + all);
        const std::string first = Export(original, "--format " + format + all);
        ASSERT_GT(first.size(), 1000u);
        test::WriteFile(dir.File("cheats." + format), first);
        std::string err;
        const std::string copy = dir.File("copy.dbf");
        ASSERT_EQ(Import(copy, dir.File("cheats." + format), &err), 0) << err;
        EXPECT_EQ(Export(copy, "--format " + format + all), first);
        // And as CSV (which has no record numbers) the live records of
        // the new table are those of the old.
        if (all.empty()) {
          EXPECT_EQ(Export(copy, "--format csv"), Export(original, "--format csv"));
        }
      }
    }
  }
}

TEST(ImportRoundTrip, ExportedTextKeepsTheStoredBytes) {
  // A text with quotes, a comma, line breaks and accents comes back to the
  // same stored bytes (OEM code page 437).
  test::TempDir dir;
  const std::string memo =
      "Say \"hi\", then\r\nwait;\nr\x82sum\x82 \x81"
      "ber";
  test::DbtBuilder dbt(true);
  const int block = dbt.Add(memo);
  dbt.Write(dir.File("pc.dbt"));
  test::DbfBuilder()
      .Version(0x8B)
      .Field("CHEATNAME", 'C', 35)
      .Field("CHEATMEMO", 'M', 10)
      .Record({"Caf\x82, \"Bar\"", test::MemoField(block)})
      .Write(dir.File("pc.dbf"));
  for (const std::string format : {"csv", "jsonl"}) {
    test::WriteFile(dir.File("x." + format), Export(dir.File("pc.dbf"), "--format " + format));
    std::string out, err;
    ASSERT_EQ(Import(dir.File("new.dbf"), dir.File("x." + format), &err), 0) << err;
    ASSERT_EQ(RunTool("memo " + ShellQuote(dir.File("new.dbf")) + " 1 --raw", &out), 0);
    EXPECT_EQ(out, memo);
    ASSERT_EQ(RunTool("list " + ShellQuote(dir.File("new.dbf")) + " --raw", &out), 0);
    EXPECT_EQ(out, "1\t-\tCaf\\x82, \"Bar\"\t1\n");
  }
}

struct Malformed {
  const char* file;
  std::string content;
  const char* message;  // what follows the file's name
};

TEST(ImportMalformed, EachFaultIsNamedWithItsPlaceAndNothingIsTouched) {
  const std::string tooLong(36, 'n');
  const Malformed cases[] = {
      {"a.csv", "CHEATNAME,CHEATMEMO\r\nA,\"unclosed\r\nB,x\r\n",
       ":2:3: the quoted cell that starts here has no closing quote"},
      {"b.csv", "CHEATNAME,CHEATMEMO\nAb\"c,x\n",
       ":2:3: a quote inside a cell that does not start"},
      {"c.csv", "CHEATNAME,CHEATMEMO\n\"A\"x,y\n", ":2:4: text after the closing quote of a cell"},
      {"d.csv", "CHEATNAME,CHEATMEMO\nA,b\nA,b,c\n", ":3:1: 3 cells where the header has 2"},
      {"e.csv", "NAME,TEXT\nA,b\n", ":1:1: a column named \"NAME\""},
      {"f.csv", "CHEATMEMO\nx\n", ":1:1: no column CHEATNAME"},
      {"g.csv", "cheatname,cheatmemo\nok,\"two\nlines\"\n" + tooLong + ",x\n",
       ":4:1: the name is longer than 35 characters"},
      {"h.csv", "CHEATNAME,CHEATMEMO\n\xC3\xA9t\xC3\xA9\xFF,x\n", ":2:4: not UTF-8 text"},
      {"i.csv", "_deleted,CHEATNAME\nyes,A\n", ":2:1: _deleted is true, false or empty"},
      {"j.csv", "CHEATNAME,CHEATMEMO\n\"A\nB\",x\n", ":2:1: the name holds a line break"},
      {"k.csv", "", ":1:1: no header row"},
      {"a.jsonl", "{\"CHEATNAME\":\"A\"}\n{\"CHEATNAME\":\"B\",}\n",
       ":2:18: not JSON: syntax error"},
      {"b.jsonl", "[\"A\"]\n", ":1:1: not a JSON object"},
      {"c.jsonl", "{\"CHEATNAME\":5}\n", ":1:2: CHEATNAME is not a string"},
      {"d.jsonl", "{\"CHEATMEMO\":\"x\"}\n", ":1:1: no CHEATNAME in this object"},
      {"e.jsonl", "{\"CHEATNAME\":\"A\",\"extra\":1}\n", ":1:18: a key \"extra\""},
      {"f.jsonl", "{\"cheatname\":\"A\",\"_deleted\":\"yes\"}\n",
       ":1:18: _deleted is not true or false"},
      {"g.jsonl", "{\"CHEATNAME\":\"A\"}\n\n{\"CHEATNAME\":\"" + tooLong + "\"}\n",
       ":3:2: the name is longer than 35 characters"},
      {"h.jsonl", "{\"CHEATNAME\":\"\xC3\xA9\xFF\"}\n", ":1:16: not JSON"},
      {"i.jsonl", "{\"CHEATNAME\":\"A\",\"CHEATMEMO\":\"unclosed}\n",
       ":1:40: not JSON: syntax error while parsing value - invalid string: missing closing quote"},
  };
  test::TempDir dir;
  test::WriteFile(dir.File("good.txt"), "@@ Doom\nIDDQD\n@@ Quake\nimpulse 9\n");
  std::string err;
  ASSERT_EQ(Import(dir.File("pc.dbf"), dir.File("good.txt"), &err), 0) << err;
  const std::string before = Export(dir.File("pc.dbf"), "--all");
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.file);
    test::WriteFile(dir.File(c.file), c.content);
    const auto files = Snapshot(dir.path());
    EXPECT_EQ(Import(dir.File("pc.dbf"), dir.File(c.file), &err), 65);
    EXPECT_NE(err.find(dir.File(c.file) + c.message), std::string::npos) << err;
    EXPECT_EQ(Snapshot(dir.path()), files);
    // A table that did not exist is not made either.
    EXPECT_EQ(Import(dir.File("new.dbf"), dir.File(c.file), &err), 65);
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.dbf")));
  }
  EXPECT_EQ(Export(dir.File("pc.dbf"), "--all"), before);
  // --format overrides the extension; an unknown one is wrong usage.
  test::WriteFile(dir.File("cheats.txt"), "CHEATNAME,CHEATMEMO\nDoom,\"IDDQD, IDKFA\"\n");
  std::string out;
  EXPECT_EQ(RunTool("import " + ShellQuote(dir.File("pc.dbf")) + " " +
                        ShellQuote(dir.File("cheats.txt")) + " --format csv",
                    &out, &err),
            0)
      << err;
  EXPECT_EQ(Export(dir.File("pc.dbf")), "CHEATNAME,CHEATMEMO\r\nDoom,\"IDDQD, IDKFA\"\r\n");
  EXPECT_EQ(RunTool("import " + ShellQuote(dir.File("pc.dbf")) + " " +
                        ShellQuote(dir.File("cheats.txt")) + " --format xml",
                    &out, &err),
            64);
}

// A source of `n` cheats with texts long enough to span memo blocks.
std::string LargeSource(int n, const std::string& tag) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    s += "@@ " + tag + " game " + std::to_string(i) + "\n";
    s += "Cheat " + std::to_string(i) + " of the " + tag + " catalogue, \"quoted\".\n";
    s += std::string(static_cast<std::size_t>(i % 700), 'x') + "\n";
  }
  return s;
}

// What is left in the folder besides the table and the sources (an
// import's folder is gone once the table was opened).
std::string Strays(const std::string& dir) {
  std::string out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name == "pc.dbf" || name == "pc.dbt" || name == "old.txt" || name == "new.txt") continue;
    out += name + " ";
  }
  return out;
}

// A folder in memory where there is one: the engine flushes every memo it
// writes, and on a disk the many imports of the next test would spend most
// of their time waiting for that. What it checks holds on any file system.
std::string QuickParent() {
  return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                         : std::filesystem::temp_directory_path().string();
}

// Runs the import with the table swap's test hook: the process kills
// itself at `point` of putting the new files in place ("flushed", before
// the commit mark; "committed"; "memo", between the two renames; "table",
// after both). Returns its exit status.
int ImportKilledAt(const std::string& point, const std::string& table, const std::string& source) {
  std::string out, err;
  return test::RunCommand("VORZA_SWAP_KILL_AT=" + point + " exec " + test::BinPath("vorza-dbf") +
                              " --codepage 437 import " + ShellQuote(table) + " " +
                              ShellQuote(source),
                          &out, &err);
}

// What the folder of a cut import of `table` holds, its entries sorted;
// "none" when there is no such folder.
std::string SwapFolderHolds(const std::string& table) {
  const std::string folder = SwapFolderOf(table);
  if (!std::filesystem::is_directory(folder)) return "none";
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    entries.push_back(e.path().filename().string());
  std::sort(entries.begin(), entries.end());
  std::string out;
  for (const std::string& e : entries) out += (out.empty() ? "" : " ") + e;
  return out;
}

TEST(ImportAllOrNothing, KilledAtAnyPointTheTableIsTheOldOrTheNewWhole) {
  test::TempDir dir(QuickParent());
  test::WriteFile(dir.File("old.txt"), LargeSource(300, "old"));
  test::WriteFile(dir.File("new.txt"), LargeSource(700, "new"));
  const std::string table = dir.File("pc.dbf");
  std::string err;
  ASSERT_EQ(Import(table, dir.File("new.txt"), &err), 0) << err;
  const std::string newer = Export(table, "--format jsonl --all");
  ASSERT_EQ(Import(table, dir.File("old.txt"), &err), 0) << err;
  const std::string older = Export(table, "--format jsonl --all");
  ASSERT_NE(older, newer);

  // Kill points: after a progress report (the import stopped by a full
  // pipe; at 100 % killed wherever it then is), and at each step of
  // putting the new files in place.
  struct Point {
    std::string name;
    int percent;  // or -1 for a step of the swap
    std::string step;
  };
  std::vector<Point> points;
  for (int p = 1; p < 100; p += 7) points.push_back({std::to_string(p) + "%", p, ""});
  for (int i = 0; i < 4; ++i) points.push_back({"99%", 99, ""});
  for (int i = 0; i < 6; ++i) points.push_back({"100%", 100, ""});
  for (const char* step : {"flushed", "committed", "memo", "table"})
    for (int i = 0; i < 2; ++i) points.push_back({step, -1, step});

  struct Outcome {
    int runs = 0, killed = 0, leftNew = 0, leftOld = 0, rolledForward = 0, takenBack = 0;
  };
  std::map<std::string, Outcome> outcomes;
  std::vector<std::string> order;
  for (const Point& point : points) {
    SCOPED_TRACE("killed at " + point.name);
    Outcome& o = outcomes[point.name];
    if (o.runs++ == 0) order.push_back(point.name);
    if (point.percent >= 0) {
      const test::KilledBuild run = test::KillAtProgress(
          {"--codepage", "437", "import", table, dir.File("new.txt"), "--progress"}, point.percent,
          dir.path(), table);
      ASSERT_EQ(run.problem, "");
      o.killed += run.killed;
    } else {
      ASSERT_EQ(ImportKilledAt(point.step, table, dir.File("new.txt")), 128 + SIGKILL);
      ++o.killed;
    }
    // What the next open finds, and finishes.
    const std::string left = SwapFolderHolds(table);
    if (left != "none") {
      if (left.find("commit") != std::string::npos)
        ++o.rolledForward;
      else
        ++o.takenBack;
    }
    const std::string now = Export(table, "--format jsonl --all");
    EXPECT_EQ(SwapFolderHolds(table), "none");
    const bool mustBeOld = (point.percent >= 0 && point.percent < 100) || point.step == "flushed";
    const bool mustBeNew = point.percent < 0 && point.step != "flushed";
    if (now == newer) {
      ++o.leftNew;
      ASSERT_FALSE(mustBeOld) << "the new table after a kill before its commit";
    } else {
      ASSERT_EQ(now, older) << "neither the old nor the new table (" << left << ")";
      ++o.leftOld;
      ASSERT_FALSE(mustBeNew) << "the old table after a kill past the commit";
    }
    EXPECT_EQ(Strays(dir.path()), "");
    // Back to the old catalogue for the next point.
    if (now != older) {
      ASSERT_EQ(Import(table, dir.File("old.txt"), &err), 0) << err;
    }
  }
  int killed = 0;
  for (const std::string& name : order) {
    const Outcome& o = outcomes[name];
    killed += o.killed;
    std::printf(
        "killed at %-9s %d of %d runs killed; new table %d, old table %d; finished by the next "
        "open: %d rolled forward, %d taken back\n",
        name.c_str(), o.killed, o.runs, o.leftNew, o.leftOld, o.rolledForward, o.takenBack);
  }
  EXPECT_GE(killed, static_cast<int>(points.size()) - 6);
  // Every kill past the commit mark left a table that the next open made new.
  for (const char* step : {"committed", "memo", "table"})
    EXPECT_EQ(outcomes[step].rolledForward, 2);
  EXPECT_EQ(outcomes["flushed"].takenBack, 2);
  // The next import completes.
  ASSERT_EQ(Import(table, dir.File("new.txt"), &err), 0) << err;
  EXPECT_EQ(Export(table, "--format jsonl --all"), newer);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"new.txt", "old.txt", "pc.dbf", "pc.dbt"}));
}

TEST(ImportAllOrNothing, AFailedWriteLeavesTheOldTableAndNoTemporaries) {
  test::TempDir dir;
  test::WriteFile(dir.File("old.txt"), LargeSource(20, "old"));
  test::WriteFile(dir.File("new.txt"), LargeSource(400, "new"));
  const std::string table = dir.File("pc.dbf");
  std::string out, err;
  ASSERT_EQ(Import(table, dir.File("old.txt"), &err), 0) << err;
  ::chmod(table.c_str(), 0640);
  const auto before = Snapshot(dir.path());
  // Files may grow to 64 KiB only (the disk is full, as far as the import
  // can tell): the memo file hits that on the way.
  const int status =
      test::RunCommand("ulimit -f 128 && trap '' XFSZ && exec " + test::BinPath("vorza-dbf") +
                           " import " + ShellQuote(table) + " " + ShellQuote(dir.File("new.txt")),
                       &out, &err);
  EXPECT_NE(status, 0);
  EXPECT_NE(err.find("Error #"), std::string::npos) << err;
  EXPECT_EQ(Snapshot(dir.path()), before);
  // Without the limit it goes through, with the old files' permissions.
  ASSERT_EQ(Import(table, dir.File("new.txt"), &err), 0) << err;
  struct stat st {};
  ASSERT_EQ(::stat(table.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_NE(Export(table).find("new game 399,"), std::string::npos);
}

// An import of the earlier kind (a folder of its own per import, named
// ".NAME.import-XXXXXX", no commit mark), killed in the instant between
// putting the new memo file in place and the new table: the old table
// stands beside the new memo file. The next import puts the kept old memo
// file back before anything else is written, here one that then fails (the
// disk full): the old table is whole again.
TEST(ImportAllOrNothing, KilledBetweenTheRenamesTheOldMemoFileGoesBack) {
  test::TempDir dir;
  test::WriteFile(dir.File("old.txt"), LargeSource(50, "old"));
  test::WriteFile(dir.File("new.txt"), LargeSource(400, "new"));
  const std::string table = dir.File("pc.dbf");
  std::string out, err;
  ASSERT_EQ(Import(table, dir.File("old.txt"), &err), 0) << err;
  const std::string older = Export(table, "--format jsonl --all");
  test::TempDir other;
  ASSERT_EQ(Import(other.File("pc.dbf"), dir.File("new.txt"), &err), 0) << err;

  // What such an import leaves: its folder with the new table and the kept
  // old memo file, the new memo file in place.
  const std::string work = dir.File(".pc.dbf.import-k1LLed");
  ASSERT_TRUE(std::filesystem::create_directory(work));
  ASSERT_EQ(::link(dir.File("pc.dbt").c_str(), (work + "/previous-pc.dbt").c_str()), 0);
  std::filesystem::copy_file(other.File("pc.dbf"), work + "/pc.dbf");
  std::filesystem::copy_file(other.File("pc.dbt"), work + "/pc.dbt");
  ASSERT_EQ(::rename((work + "/pc.dbt").c_str(), dir.File("pc.dbt").c_str()), 0);
  const int damaged =
      RunTool("--codepage 437 export " + ShellQuote(table) + " --format jsonl --all", &out, &err);
  ASSERT_FALSE(damaged == 0 && out == older) << "the old table beside the new memo file";

  const int status =
      test::RunCommand("ulimit -f 128 && trap '' XFSZ && exec " + test::BinPath("vorza-dbf") +
                           " import " + ShellQuote(table) + " " + ShellQuote(dir.File("new.txt")),
                       &out, &err);
  EXPECT_NE(status, 0);
  EXPECT_EQ(Export(table, "--format jsonl --all"), older);
  EXPECT_EQ(Strays(dir.path()), "");
  EXPECT_FALSE(std::filesystem::exists(work));
}

// The table's records as the engine's USE reads them in this process
// (read-only or read/write): each name, memo text and deletion mark; or
// "error CODE: message" when it does not open.
std::string ReadThroughUse(const std::string& table, bool readOnly) {
  test::ResetEngineForTest();
  InstallMemoUnit();
  std::string out;
  try {
    ScopedSetting<int> mode(Engine().Settings.ForcedFileMode,
                            readOnly ? platform::kModeRead : Engine().Settings.ForcedFileMode);
    USE(table);
    for (GoTop(); !dEOF(); SKIP()) {
      const std::int32_t block = NativeInt(FieldAddress(2));
      out += Field(1) + "\t" + (block ? ReadMemoText(block, false) : "") +
             (Deleted() ? "\t*\n" : "\n");
    }
    CloseAll();
  } catch (const EngineError& e) {
    out = "error " + std::to_string(Engine().Errors.ErrorCode) + ": " + e.Message();
  }
  test::ResetEngineForTest();
  return out;
}

std::string List(const std::string& table, int* status = nullptr) {
  std::string out, err;
  const int rc = RunTool("--codepage 437 list " + ShellQuote(table), &out, &err);
  if (status) *status = rc;
  return rc == 0 ? out : "status " + std::to_string(rc) + ": " + err;
}

// The ways a table is opened: the tool's reading command, the engine's USE
// read/write and read-only.
const char* const kWaysToOpen[] = {"list", "use", "use read-only"};

std::string ReadThe(const std::string& way, const std::string& table) {
  if (way == "list") return List(table);
  return ReadThroughUse(table, way == "use read-only");
}

// The states an import cut short leaves, made by killing a real import at
// each step of putting its files in place, and what the folder then holds.
struct CutState {
  const char* step;
  const char* holds;
  bool becomesNew;
};
const CutState kCutStates[] = {
    {"flushed", "pc.dbf pc.dbt previous-pc.dbt", false},          // no commit mark
    {"committed", "commit pc.dbf pc.dbt previous-pc.dbt", true},  // mark, both files
    {"memo", "commit pc.dbf previous-pc.dbt", true},              // mark, the memo file in place
    {"table", "commit previous-pc.dbt", true},                    // both in place, not cleared
};

TEST(ImportAllOrNothing, EachStateACutImportLeavesOpensWholeEveryWay) {
  test::TempDir refs(QuickParent());
  test::WriteFile(refs.File("old.txt"), LargeSource(40, "old"));
  test::WriteFile(refs.File("new.txt"), LargeSource(90, "new"));
  std::string err;
  ASSERT_EQ(Import(refs.File("old.dbf"), refs.File("old.txt"), &err), 0) << err;
  ASSERT_EQ(Import(refs.File("new.dbf"), refs.File("new.txt"), &err), 0) << err;
  std::map<std::string, std::string> older, newer;
  for (const std::string way : kWaysToOpen) {
    older[way] = ReadThe(way, refs.File("old.dbf"));
    newer[way] = ReadThe(way, refs.File("new.dbf"));
    ASSERT_NE(older[way], newer[way]) << way;
    ASSERT_EQ(older[way].find("error"), std::string::npos) << older[way];
  }
  const std::string olderExport = Export(refs.File("old.dbf"), "--format jsonl --all");
  const std::string newerExport = Export(refs.File("new.dbf"), "--format jsonl --all");

  for (const CutState& state : kCutStates) {
    for (const std::string way : kWaysToOpen) {
      SCOPED_TRACE(std::string("cut at ") + state.step + ", opened by " + way);
      test::TempDir dir(QuickParent());
      const std::string table = dir.File("pc.dbf");
      ASSERT_EQ(Import(table, refs.File("old.txt"), &err), 0) << err;
      ASSERT_EQ(ImportKilledAt(state.step, table, refs.File("new.txt")), 128 + SIGKILL);
      ASSERT_EQ(SwapFolderHolds(table), state.holds);
      EXPECT_EQ(ReadThe(way, table), state.becomesNew ? newer[way] : older[way]);
      EXPECT_EQ(SwapFolderHolds(table), "none");
      EXPECT_EQ(Export(table, "--format jsonl --all"),
                state.becomesNew ? newerExport : olderExport);
      EXPECT_EQ(Strays(dir.path()), "");
    }
  }
  // The first import of a table, cut between its renames: there is no
  // table yet, only the new memo file; the open puts the table in place.
  for (const std::string way : kWaysToOpen) {
    SCOPED_TRACE("first import, opened by " + way);
    test::TempDir dir(QuickParent());
    const std::string table = dir.File("pc.dbf");
    ASSERT_EQ(ImportKilledAt("memo", table, refs.File("new.txt")), 128 + SIGKILL);
    ASSERT_FALSE(std::filesystem::exists(table));
    EXPECT_EQ(ReadThe(way, table), newer[way]);
    EXPECT_EQ(SwapFolderHolds(table), "none");
  }
}

// A folder that can be made read-only for the program: a small tmpfs
// mounted on it, remounted read-only (as root, whom file modes do not
// stop), or else its mode.
class FolderToLock {
 public:
  explicit FolderToLock(const std::string& dir) : dir_(dir) {
    if (::geteuid() == 0)
      mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16m,mode=0755") == 0;
  }
  ~FolderToLock() {
    if (mounted_)
      ::umount2(dir_.c_str(), MNT_DETACH);
    else
      ::chmod(dir_.c_str(), 0755);
  }
  FolderToLock(const FolderToLock&) = delete;
  FolderToLock& operator=(const FolderToLock&) = delete;
  bool usable() const { return mounted_ || ::geteuid() != 0; }
  bool Writable(bool on) {
    if (mounted_)
      return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | (on ? 0 : MS_RDONLY), nullptr) ==
             0;
    return ::chmod(dir_.c_str(), on ? 0755 : 0555) == 0;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// Where the cut import cannot be finished (the folder cannot be written),
// an open that would have to finish a committed one fails with a clear
// error instead of showing the old table beside the new memo file; one cut
// before its commit opens the old table and leaves the folder be.
TEST(ImportAllOrNothing, ACutImportThatCannotBeFinishedFailsTheOpen) {
  test::TempDir refs;
  test::WriteFile(refs.File("old.txt"), LargeSource(40, "old"));
  test::WriteFile(refs.File("new.txt"), LargeSource(90, "new"));
  std::string err;
  ASSERT_EQ(Import(refs.File("old.dbf"), refs.File("old.txt"), &err), 0) << err;
  ASSERT_EQ(Import(refs.File("new.dbf"), refs.File("new.txt"), &err), 0) << err;
  for (const char* step : {"memo", "flushed"}) {
    SCOPED_TRACE(step);
    test::TempDir dir;
    FolderToLock lock(dir.path());
    if (!lock.usable()) GTEST_SKIP() << "running as root, and no tmpfs can be mounted";
    const std::string table = dir.File("pc.dbf");
    ASSERT_EQ(Import(table, refs.File("old.txt"), &err), 0) << err;
    ASSERT_EQ(ImportKilledAt(step, table, refs.File("new.txt")), 128 + SIGKILL);
    const std::string holds = SwapFolderHolds(table);
    ASSERT_TRUE(lock.Writable(false));
    int status = 0;
    const std::string listed = List(table, &status);
    const std::string used = ReadThroughUse(table, true);
    if (std::string(step) == "memo") {
      EXPECT_EQ(status, 5) << listed;
      EXPECT_NE(listed.find("Error # 5"), std::string::npos) << listed;
      EXPECT_NE(
          listed.find("An import into " + table +
                      " was cut short and cannot be finished: cannot put " + table + " in place"),
          std::string::npos)
          << listed;
      EXPECT_EQ(used.rfind("error 5: Error # 5", 0), 0u) << used;
      EXPECT_NE(used.find("\nAn import into " + table + " was cut short"), std::string::npos)
          << used;
    } else {
      EXPECT_EQ(listed, List(refs.File("old.dbf")));
      EXPECT_EQ(used, ReadThroughUse(refs.File("old.dbf"), true));
    }
    EXPECT_EQ(SwapFolderHolds(table), holds);
    // Writable again, the next open finishes it.
    ASSERT_TRUE(lock.Writable(true));
    EXPECT_EQ(List(table), List(refs.File(std::string(step) == "memo" ? "new.dbf" : "old.dbf")));
    EXPECT_EQ(SwapFolderHolds(table), "none");
  }
}

// An open that finds a live import (its folder locked) past its commit
// mark waits until it is done; one that finds it still writing its files
// opens the old table at once.
TEST(ImportAllOrNothing, AnOpenWaitsForALiveImportPastItsCommitOnly) {
  test::TempDir dir(QuickParent());
  test::WriteFile(dir.File("old.txt"), LargeSource(40, "old"));
  test::WriteFile(dir.File("new.txt"), LargeSource(90, "new"));
  const std::string table = dir.File("pc.dbf");
  std::string err;
  ASSERT_EQ(Import(dir.File("old.dbf"), dir.File("old.txt"), &err), 0) << err;
  ASSERT_EQ(Import(dir.File("new.dbf"), dir.File("new.txt"), &err), 0) << err;
  const std::string older = ReadThroughUse(dir.File("old.dbf"), false);
  const std::string newer = ReadThroughUse(dir.File("new.dbf"), false);

  // Cut between its renames, its folder held as the import holds it.
  ASSERT_EQ(Import(table, dir.File("old.txt"), &err), 0) << err;
  ASSERT_EQ(ImportKilledAt("memo", table, dir.File("new.txt")), 128 + SIGKILL);
  int held = ::open(SwapFolderOf(table).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  {
    // Never released: the open gives up (its pauses made instant here).
    const platform::RetryPause before = platform::SetRetryPause([](std::chrono::milliseconds) {});
    const std::string used = ReadThroughUse(table, true);
    platform::SetRetryPause(before);
    EXPECT_EQ(used.rfind("error 32: Error # 32", 0), 0u) << used;
    EXPECT_NE(
        used.find("\nAn import into " + table + " does not finish putting its files in place"),
        std::string::npos)
        << used;
    EXPECT_EQ(SwapFolderHolds(table), "commit pc.dbf previous-pc.dbt");
  }
  const auto start = std::chrono::steady_clock::now();
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::close(held);
  });
  EXPECT_EQ(ReadThroughUse(table, true), newer);
  release.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
  EXPECT_EQ(SwapFolderHolds(table), "none");

  // Still writing its files (before its mark): the old table, at once.
  ASSERT_EQ(Import(table, dir.File("old.txt"), &err), 0) << err;
  ASSERT_EQ(ImportKilledAt("flushed", table, dir.File("new.txt")), 128 + SIGKILL);
  held = ::open(SwapFolderOf(table).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(ReadThroughUse(table, false), older);
  EXPECT_EQ(SwapFolderHolds(table), "pc.dbf pc.dbt previous-pc.dbt");
  // And a second import is refused while the first runs.
  EXPECT_EQ(Import(table, dir.File("new.txt"), &err), 1);
  EXPECT_NE(err.find("another import into " + table + " is under way"), std::string::npos) << err;
  ::close(held);
  EXPECT_EQ(ReadThroughUse(table, false), older);
  EXPECT_EQ(SwapFolderHolds(table), "none");
}

}  // namespace
}  // namespace vz
