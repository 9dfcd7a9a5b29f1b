// vorza-dbf and the files it is given: the commands that only read leave
// every file as it was (bytes and modification time, and no new file
// beside them), also with damaged and foreign indexes; and names that are
// not regular files (pipes, sockets, devices) or lie in folders that do not
// exist are refused at once with their codes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/Processes.h"
#include "tests/support/TableFixture.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::RunTool;
using test::ShellQuote;

// Every entry of a folder with the stamp of its bytes and time.
std::map<std::string, test::FileStamp> Snapshot(const std::string& dir) {
  std::map<std::string, test::FileStamp> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (!e.is_directory()) out[e.path().filename().string()] = test::StampOf(e.path().string());
  return out;
}

// The differences between two snapshots, one line each.
std::string Changes(const std::map<std::string, test::FileStamp>& before,
                    const std::map<std::string, test::FileStamp>& after) {
  std::string out;
  for (const auto& [name, stamp] : before) {
    const auto it = after.find(name);
    if (it == after.end()) {
      out += name + ": gone\n";
    } else if (!(it->second == stamp)) {
      out += name + ": " + test::Describe(stamp) + " became " + test::Describe(it->second) + "\n";
    }
  }
  for (const auto& [name, stamp] : after)
    if (!before.count(name)) out += name + ": new, " + test::Describe(stamp) + "\n";
  return out;
}

std::vector<std::string> FilesEndingIn(const std::string& dir, const std::string& extension) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.size() > extension.size() && name.substr(name.size() - extension.size()) == extension)
      out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The first field's name as `info` prints it (empty when it cannot).
std::string FirstField(const std::string& table) {
  std::string out;
  if (RunTool("info " + ShellQuote(table), &out) != 0) return "";
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("field ", 0) == 0) return line.substr(6, line.find(' ', 6) - 6);
  return "";
}

// Runs every command that only reads over the tables and indexes of a
// folder: each table alone, each index with its own table (`owner`, when
// known) and with other tables, and each index alone. Returns how many
// commands ran.
int ReadEverything(const std::vector<std::string>& tables, const std::vector<std::string>& indexes,
                   const std::map<std::string, std::string>& owner) {
  int runs = 0, cases = 0;
  auto run = [&](const std::string& args) {
    if (cases++ % test::kToolCaseStride != 0) return;
    RunTool(args);
    ++runs;
  };
  for (const std::string& t : tables) {
    const std::string q = ShellQuote(t);
    for (const char* flags : {"", " --all", " --raw", " --all --raw"}) run("list " + q + flags);
    run("info " + q);
    run("memo " + q + " 1");
    run("memo " + q + " 2 --raw");
    run("eval " + q + " 1 " + ShellQuote("RECNO()"));
    const std::string field = FirstField(t);
    if (!field.empty()) run("locate " + q + " " + ShellQuote(field) + " a");
  }
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    const std::string x = ShellQuote(indexes[i]);
    run("ndxinfo " + x);
    std::vector<std::string> with;
    if (const auto it = owner.find(indexes[i]); it != owner.end()) with.push_back(it->second);
    // Foreign tables: a few others, different for each index.
    for (std::size_t k = 0; k < 3 && !tables.empty(); ++k)
      with.push_back(tables[(i * 3 + k) % tables.size()]);
    for (const std::string& t : with) {
      const std::string q = ShellQuote(t);
      run("list " + q + " --index " + x);
      run("list " + q + " --index " + x + " --all --raw");
      run("find " + q + " " + x + " a");
      run("find " + q + " " + x + " " + ShellQuote("Game 0") + " --exact");
    }
  }
  return runs;
}

// The commands that only read, over tables and indexes of our own that are
// damaged in the ways the engine repairs or refuses at open (an index
// longer than its anchor says, one shorter, one of another table, one with
// a garbage node, a table cut short under its index, a memo file cut
// short), and over copies of the corpus. Nothing may change, nothing may
// appear. Run on copies first: a tool that writes is caught there before
// it can touch the corpus itself, which is read in place last.
TEST(CliReadOnly, EveryReadingCommandLeavesEveryFileAsItWas) {
  test::TempDir dir;
  std::vector<test::Cheat> games, others;
  for (int i = 0; i < 120; ++i)
    games.push_back({"Game " + std::to_string(1000 - i * 7), "Text " + std::to_string(i)});
  for (int i = 0; i < 40; ++i)
    others.push_back({"Other " + std::to_string(i), "More " + std::to_string(i)});
  test::WriteCheatTable(dir.File("games"), games);
  test::WriteCheatTable(dir.File("others"), others);
  test::WriteCheatTable(dir.File("cut"), games);
  test::WriteCheatTable(dir.File("shortmemo"), games);
  ASSERT_EQ(RunTool("index " + ShellQuote(dir.File("games.dbf")) + " CHEATNAME " +
                    ShellQuote(dir.File("games.ndx"))),
            0);
  ASSERT_EQ(RunTool("index " + ShellQuote(dir.File("others.dbf")) + " CHEATNAME " +
                    ShellQuote(dir.File("others.ndx"))),
            0);
  ASSERT_EQ(
      RunTool("index " + ShellQuote(dir.File("games.dbf")) + " " + ShellQuote("UPPER(CHEATNAME)") +
              " " + ShellQuote(dir.File("upper.ndx")) + " --unique"),
      0);
  const std::string ndx = test::ReadText(dir.File("games.ndx"));
  ASSERT_GT(ndx.size(), 1024u);
  test::WriteFile(dir.File("long.ndx"), ndx + std::string(3 * 512, '\0'));
  test::WriteFile(dir.File("short.ndx"), ndx.substr(0, ndx.size() - 512));
  test::WriteFile(dir.File("foreign-long.ndx"),
                  test::ReadText(dir.File("others.ndx")) + std::string(2 * 512, '\0'));
  std::string garbage = ndx;
  for (std::size_t i = 512; i < 1024; ++i) garbage[i] = '\xFF';
  test::WriteFile(dir.File("garbage.ndx"), garbage);
  std::filesystem::copy_file(dir.File("games.ndx"), dir.File("cut.ndx"));
  // The index of 120 records over a table cut to its first 20.
  std::string info;
  ASSERT_EQ(RunTool("info " + ShellQuote(dir.File("cut.dbf")), &info), 0);
  const std::size_t at = info.find("record_length ");
  ASSERT_NE(at, std::string::npos);
  const auto recordLength = std::stoul(info.substr(at + 14));
  std::filesystem::resize_file(
      dir.File("cut.dbf"),
      std::filesystem::file_size(dir.File("cut.dbf")) - 100 * recordLength - 1);
  std::filesystem::resize_file(dir.File("shortmemo.dbt"), 512 * 30 + 7);
  const std::string corpus = test::CompatDir() + "/files";
  std::filesystem::create_directory(dir.File("corpus"));
  for (const auto& e : std::filesystem::directory_iterator(corpus))
    std::filesystem::copy_file(e.path(), dir.File("corpus/" + e.path().filename().string()));
  // Times in the past, so that a rewrite within the same clock tick shows.
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    std::filesystem::last_write_time(
        e.path(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(30));

  std::map<std::string, std::string> owner;
  for (const char* n : {"games", "others", "cut"})
    owner[dir.File(std::string(n) + ".ndx")] = dir.File(std::string(n) + ".dbf");
  for (const char* n : {"long", "short", "garbage", "upper"})
    owner[dir.File(std::string(n) + ".ndx")] = dir.File("games.dbf");
  owner[dir.File("foreign-long.ndx")] = dir.File("games.dbf");
  const auto corpusOwners = [](const std::string& folder) {
    std::map<std::string, std::string> o;
    o[folder + "/altemiq_test.ndx"] = folder + "/altemiq_test.dbf";
    o[folder + "/xbasej_class_TchrClass.ndx"] = folder + "/xbasej_class.dbf";
    o[folder + "/xbasej_class_classId.ndx"] = folder + "/xbasej_class.dbf";
    return o;
  };

  const auto ownBefore = Snapshot(dir.path());
  const auto copiesBefore = Snapshot(dir.File("corpus"));
  int runs =
      ReadEverything(FilesEndingIn(dir.path(), ".dbf"), FilesEndingIn(dir.path(), ".ndx"), owner);
  runs +=
      ReadEverything(FilesEndingIn(dir.File("corpus"), ".dbf"),
                     FilesEndingIn(dir.File("corpus"), ".ndx"), corpusOwners(dir.File("corpus")));
  EXPECT_GT(runs, 300 / test::kToolCaseStride);
  const std::string own = Changes(ownBefore, Snapshot(dir.path()));
  const std::string copies = Changes(copiesBefore, Snapshot(dir.File("corpus")));
  ASSERT_EQ(own, "");
  ASSERT_EQ(copies, "");

  const auto originals = Snapshot(corpus);
  ASSERT_GE(originals.size(), 30u) << "corpus not found in " << corpus;
  ReadEverything(FilesEndingIn(corpus, ".dbf"), FilesEndingIn(corpus, ".ndx"),
                 corpusOwners(corpus));
  EXPECT_EQ(Changes(originals, Snapshot(corpus)), "");
}

// Runs the tool with a time limit: a command that waits on a pipe is ended
// (status 124) instead of holding up the tests.
int Timed(const std::string& args, std::string* err) {
  return test::RunCommand("timeout 20 " + test::BinPath("vorza-dbf") + " " + args, nullptr, err);
}

// Named pipes, a socket and devices as tables, memo files, indexes and the
// semaphore file: refused with code 5 at once, nothing waits for a writer,
// nothing is made or emptied. A folder that does not exist is code 3, a
// missing file in a folder that exists code 2.
TEST(CliFiles, OnlyRegularFilesAreOpened) {
  test::TempDir dir;
  test::WriteCheatTable(dir.File("games"), {{"Doom", "IDDQD"}, {"Quake", "IMPULSE 9"}});
  ASSERT_EQ(RunTool("index " + ShellQuote(dir.File("games.dbf")) + " CHEATNAME " +
                    ShellQuote(dir.File("games.ndx"))),
            0);
  ASSERT_EQ(::mkfifo(dir.File("pipe.dbf").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(dir.File("pipe.ndx").c_str(), 0644), 0);
  // A table whose memo file is a pipe, and one whose semaphore file is.
  test::WriteCheatTable(dir.File("memo"), {{"Doom", "IDDQD"}});
  std::filesystem::remove(dir.File("memo.dbt"));
  ASSERT_EQ(::mkfifo(dir.File("memo.dbt").c_str(), 0644), 0);
  test::WriteCheatTable(dir.File("sem"), {{"Doom", "IDDQD"}});
  ASSERT_EQ(RunTool("index " + ShellQuote(dir.File("sem.dbf")) + " CHEATNAME " +
                    ShellQuote(dir.File("sem.ndx"))),
            0);
  ASSERT_EQ(::mkfifo(dir.File("sem.@S@").c_str(), 0644), 0);
  // A socket.
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.File("socket.dbf");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

  const std::string games = ShellQuote(dir.File("games.dbf"));
  struct Case {
    std::string args;
    int code;
    const char* said;  // a piece of the message
  };
  const std::vector<Case> cases = {
      {"info " + ShellQuote(dir.File("pipe.dbf")), 5, "Failure to open"},
      {"list " + ShellQuote(dir.File("socket.dbf")), 5, "Failure to open"},
      {"info /dev/null.", 5, "Failure to open"},
      {"info " + ShellQuote(dir.File("memo.dbf")), 5, "Memo file not found: "},
      {"memo " + ShellQuote(dir.File("memo.dbf")) + " 1", 5, "Memo file not found: "},
      {"list " + games + " --index " + ShellQuote(dir.File("pipe.ndx")), 5,
       "Unable to open index: "},
      {"find " + games + " " + ShellQuote(dir.File("pipe.ndx")) + " Doom", 5,
       "Unable to open index: "},
      {"list " + games + " --index /dev/zero.", 5, "Unable to open index: "},
      {"ndxinfo " + ShellQuote(dir.File("pipe.ndx")), 5, ""},
      {"index " + games + " CHEATNAME " + ShellQuote(dir.File("pipe.ndx")), 5, ""},
      {"list " + ShellQuote(dir.File("sem.dbf")) + " --index " + ShellQuote(dir.File("sem.ndx")), 5,
       "Database Semaphore"},
      {"info " + ShellQuote(dir.File("no/such/folder.dbf")), 3, "Failure to open"},
      {"info " + ShellQuote(dir.File("missing.dbf")), 2, "Failure to open"},
      {"list " + games + " --index " + ShellQuote(dir.File("none/games.ndx")), 3,
       "Attempt to open "},
      {"list " + games + " --index " + ShellQuote(dir.File("missing.ndx")), 2, "Attempt to open "},
      {"ndxinfo " + ShellQuote(dir.File("none/games.ndx")), 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string err;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Timed(c.args, &err), c.code) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(err.find(c.said), std::string::npos) << err;
  }
  ::close(s);
  struct stat st {};
  for (const char* fifo : {"pipe.dbf", "pipe.ndx", "memo.dbt", "sem.@S@"}) {
    ASSERT_EQ(::stat(dir.File(fifo).c_str(), &st), 0) << fifo;
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << fifo;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("none")));
}

}  // namespace
}  // namespace vz
