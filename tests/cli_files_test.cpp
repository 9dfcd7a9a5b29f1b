// vorza-dbf and the files it is given: names that are not regular files
// (pipes, sockets, devices) or lie in folders that do not exist are refused
// at once with their codes.
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
