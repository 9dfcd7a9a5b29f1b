// The write paths under faults: every write of an append, a replace, a
// deletion, a memo text, a pack and an index build is made to fail in turn
// (as a full disk or a failing device refuses it, after half its bytes),
// and then on a real full file system. After each fault the engine has
// reported its code, and the table and its indexes are consistent: the
// header's count equals the whole records in the file, no memo block number
// points past the memo file, every index equals a fresh build of it, and
// the table holds what it held before the operation (a failed operation
// is taken back whole).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "index/indexes.h"
#include "platform/files.h"
#include "platform/little_endian.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/NdxChecker.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

struct Order {
  const char* file;
  const char* expression;
  bool unique;
};
// A character key, a numeric key and a UNIQUE key of an expression.
const Order kOrders[] = {{"name.ndx", "NAME", false},
                         {"lvl.ndx", "LEVEL", false},
                         {"uname.ndx", "UPPER(TRIM(NAME))", true}};

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return platform::LoadLe32(&b[at]);
}

// A name of letters from a seeded generator (the UNIQUE index sees some
// names twice, in other letter case).
std::string NameFor(std::mt19937& rng) {
  std::string name;
  const int len = 3 + static_cast<int>(rng() % 8);
  for (int i = 0; i < len; ++i) name += static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 6);
  return name;
}

void SetText(int field, const std::string& text) {
  std::uint8_t* slot = FieldAddress(field);
  std::memset(slot + 1, ' ', slot[0]);
  std::memcpy(slot + 1, text.data(), std::min<std::size_t>(text.size(), slot[0]));
}

// A numeric field without decimals is a 32-bit integer in the native record.
void SetNumber(int field, int value) {
  SetNativeInt(FieldAddress(field), value);
}

// The records of the table as stored: the bytes after the header, whole
// records only.
struct TableState {
  std::uint32_t headerCount = 0;
  std::uint64_t wholeRecords = 0;
  std::uint64_t leftover = 0;  // bytes after the whole records
  std::vector<std::string> records;
};

TableState ReadTable(const std::string& path) {
  const Bytes b = test::ReadFile(path);
  TableState s;
  const std::uint32_t headerLen = platform::LoadLe16(&b[8]), recordLen = platform::LoadLe16(&b[10]);
  s.headerCount = U32(b, 4);
  const std::uint64_t body = b.size() > headerLen ? b.size() - headerLen : 0;
  s.wholeRecords = body / recordLen;
  s.leftover = body % recordLen;
  for (std::uint64_t r = 0; r < s.wholeRecords; ++r)
    s.records.emplace_back(reinterpret_cast<const char*>(b.data() + headerLen + r * recordLen),
                           recordLen);
  return s;
}

class FaultTest : public ::testing::Test {
 protected:
  // Builds the table the tests start from in `dir`: NAME C 12, LEVEL N 5,
  // NOTE M 10, 660 records (the indexes' nodes full up to the root, so an
  // insert splits a leaf and its parent), every seventh deleted, a memo for
  // every third, and its three indexes.
  void MakeFixture(const std::string& dir) {
    dir_ = dir;
    test::ResetEngineForTest();
    InitEngine();
    ASSERT_TRUE(CreateDbf(File("t.dbf"),
                          {{"name", 'C', 12, 0}, {"level", 'N', 5, 0}, {"note", 'M', 10, 0}}));
    Select(1);
    USE(File("t.dbf") + " exclusive");
    std::mt19937 rng(17);
    for (int i = 1; i <= 660; ++i) {
      ClearRecord();
      // Record 1 has a name of the full width: an index on TRIM() takes
      // its key length from the record a build stands on, the first.
      SetText(1, i == 1 ? std::string("Pinned names") : NameFor(rng));
      SetNumber(2, static_cast<int>(rng() % 50));
      if (i % 3 == 0)
        SetNativeInt(FieldAddress(3),
                     static_cast<std::int32_t>(WriteMemoText("memo " + std::to_string(i), true)));
      Append();
      if (i % 7 == 0) DeleteRec();
    }
    GO(1);
    for (const Order& o : kOrders) {
      BuildOptions b;
      b.Expression = o.expression;
      b.Unique = o.unique;
      MakeIndex(File(o.file), b);
    }
    CloseAll();
    pristine_.clear();
    for (const auto& e : fs::directory_iterator(dir_))
      pristine_[e.path().filename().string()] = test::ReadFile(e.path().string());
  }

  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  // The files as the fixture left them, nothing else.
  void Restore() {
    test::ResetEngineForTest();
    InitEngine();
    for (const auto& e : fs::directory_iterator(dir_))
      if (!pristine_.count(e.path().filename().string()) && e.path().filename() != "filler")
        fs::remove(e.path());
    for (const auto& [name, bytes] : pristine_) test::WriteFile(File(name), bytes);
  }

  void Open(bool exclusive) {
    Select(1);
    USE(File("t.dbf") + (exclusive ? " exclusive" : ""));
    std::string names;
    for (const Order& o : kOrders) names += File(o.file) + " ";
    Set_Index_To(names);
  }

  // Runs an operation; the code it reported (0 for none).
  int Run(const std::function<void()>& op) {
    try {
      op();
    } catch (const EngineError&) {
    }
    return Engine().Errors.ErrorCode;
  }

  // Everything the fault must have left whole. `before` and `after` are the
  // records the table held before the operation and after it ran without
  // a fault; `failed` says which of them must be there now.
  //
  // A pack is made in two steps: the records (taken back whole when a write
  // fails), then each index built anew; a build that fails leaves no file
  // (an index of the records before the pack would be wrong), the others
  // are built.
  void ExpectConsistent(const TableState& before, const TableState& after, bool failed,
                        const std::string& builtIndex = "", bool packing = false) {
    const TableState now = ReadTable(File("t.dbf"));
    EXPECT_EQ(now.headerCount, now.wholeRecords)
        << "the header's count and the records in the file";
    EXPECT_LE(now.leftover, 1u) << "a partial record after the last whole one";
    const bool packed = packing && failed && now.records == after.records;
    if (!packed) {
      EXPECT_EQ(now.records, failed ? before.records : after.records)
          << (failed ? "a failed operation was not taken back" : "the operation did not land");
    }
    // Memo block numbers inside the memo file, each at a block the engine
    // wrote.
    const Bytes memo = test::ReadFile(File("t.dbt"));
    for (std::size_t r = 0; r < now.records.size(); ++r) {
      const std::string field = now.records[r].substr(18, 10);
      const long block = std::atol(field.c_str());
      if (block == 0) continue;
      ASSERT_LE(static_cast<std::size_t>(block) * 512 + 8, memo.size()) << "record " << r + 1;
      EXPECT_EQ(memo[static_cast<std::size_t>(block) * 512], 0xFF) << "record " << r + 1;
    }
    // Every index equals a fresh build.
    for (const Order& o : kOrders) {
      SCOPED_TRACE(o.expression);
      if (!fs::exists(File(o.file))) {
        if (!packed) ADD_FAILURE() << o.file << " is gone";
        ++indexesGone_;
        continue;
      }
      ExpectLikeFreshBuild(File(o.file), o.expression, o.unique);
    }
    if (!builtIndex.empty()) {
      if (failed) {
        EXPECT_FALSE(fs::exists(File(builtIndex))) << "a failed build left its file";
      } else {
        ExpectLikeFreshBuild(File(builtIndex), "UPPER(NAME)", false);
      }
    }
  }

  void ExpectLikeFreshBuild(const std::string& path, const std::string& expression, bool unique) {
    test::NdxCheckOptions o;
    o.AllowEmptyLeaves = true;
    const test::NdxReport kept = test::CheckNdxFile(path, o);
    EXPECT_TRUE(kept.Ok()) << kept.Text();
    test::ResetEngineForTest();
    InitEngine();
    Select(1);
    USE(File("t.dbf") + " exclusive");
    BuildOptions b;
    b.Expression = expression;
    b.Unique = unique;
    MakeIndex(File("fresh.ndx"), b);
    CloseAll();
    const test::NdxReport fresh = test::CheckNdxFile(File("fresh.ndx"));
    ASSERT_TRUE(fresh.Ok()) << fresh.Text();
    EXPECT_EQ(kept.KeyLen, fresh.KeyLen);
    EXPECT_EQ(kept.Records(), fresh.Records());
    std::vector<std::string> keptKeys, freshKeys;
    for (const auto& e : kept.Entries) keptKeys.push_back(e.Key);
    for (const auto& e : fresh.Entries) freshKeys.push_back(e.Key);
    EXPECT_EQ(keptKeys, freshKeys);
    fs::remove(File("fresh.ndx"));
  }

  struct Operation {
    Operation(std::string n, bool x, std::function<void()> r, std::string built = "")
        : name(std::move(n)), exclusive(x), run(std::move(r)), builtIndex(std::move(built)) {}
    std::string name;
    bool exclusive;
    std::function<void()> run;
    std::string builtIndex;  // the index file the operation makes
    bool tool = false;       // runs vorza-dbf (run sets toolStatus_)
  };

  std::vector<Operation> Operations() {
    std::vector<Operation> ops;
    // An append with a memo text, the key landing in full leaves.
    ops.push_back({"append", false, [] {
                     ALock();
                     ClearRecord();
                     SetText(1, "CCcaa");
                     SetNumber(2, 25);
                     SetNativeInt(FieldAddress(3), static_cast<std::int32_t>(
                                                       WriteMemoText("a new memo text", true)));
                     Append();
                     Unlock();
                   }});
    ops.push_back({"append exclusive", true, [] {
                     ClearRecord();
                     SetText(1, "bbBBa");
                     SetNumber(2, 3);
                     Append();
                   }});
    // A replace that moves the record in every index and gives it a memo.
    ops.push_back({"replace", false, [] {
                     GO(10);
                     RLock();
                     SetText(1, "FFFf");
                     SetNumber(2, 49);
                     SetNativeInt(FieldAddress(3),
                                  static_cast<std::int32_t>(WriteMemoText("replaced memo", true)));
                     Replace();
                     Unlock();
                   }});
    ops.push_back({"delete", false, [] {
                     GO(11);
                     RLock();
                     DeleteRec();
                     Unlock();
                   }});
    ops.push_back({"pack", true, [] { PACK(); }});
    ops.push_back({"index build", false,
                   [this] {
                     IndexEngine().RunItems = 100;  // the build spills sorted runs
                     BuildOptions b;
                     b.Expression = "UPPER(NAME)";
                     MakeIndex(File("new.ndx"), b);
                   },
                   "new.ndx"});
    return ops;
  }

  // The tool's write commands, each keeping the three indexes.
  std::vector<Operation> ToolOperations() {
    std::string indexes;
    for (const Order& o : kOrders) indexes += " --index " + test::ShellQuote(File(o.file));
    const std::string table = test::ShellQuote(File("t.dbf"));
    const auto tool = [this](const std::string& args) {
      return [this, args] { toolStatus_ = test::RunTool(args, nullptr, &toolError_); };
    };
    std::vector<Operation> ops;
    ops.push_back({"vorza-dbf append", false,
                   tool("append " + table +
                        " NAME=CCcaa LEVEL=25 'NOTE=a memo text from the tool'" + indexes)});
    ops.push_back({"vorza-dbf replace", false,
                   tool("replace " + table + " 10 NAME=FFFf LEVEL=49 NOTE=changed" + indexes)});
    ops.push_back({"vorza-dbf delete", false, tool("delete " + table + " 11" + indexes)});
    ops.push_back({"vorza-dbf pack", false, tool("pack " + table + indexes)});
    ops.push_back({"vorza-dbf index", false,
                   tool("index " + table + " " + test::ShellQuote("UPPER(NAME)") + " " +
                        test::ShellQuote(File("new.ndx"))),
                   "new.ndx"});
    for (Operation& op : ops) op.tool = true;
    return ops;
  }

  int toolStatus_ = 0;
  std::string toolError_;

  std::string dir_;
  std::map<std::string, Bytes> pristine_;
  int indexesGone_ = 0;
};

// Every write of every operation fails in turn, once, with ENOSPC and with
// EIO.
TEST_F(FaultTest, EachWriteOfEachOperationFailingLeavesTheTableWhole) {
  test::TempDir tmp;
  MakeFixture(tmp.path());
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    // A run without a fault: how many writes it makes, and what it leaves.
    Restore();
    const TableState before = ReadTable(File("t.dbf"));
    Open(op.exclusive);
    platform::SetWriteFault(0, 0);
    ASSERT_EQ(Run(op.run), 0);
    const std::int64_t writes = platform::WritesCounted();
    platform::ClearWriteFault();
    CloseAll();
    const TableState after = ReadTable(File("t.dbf"));
    ASSERT_GT(writes, 0);
    const std::int64_t stride = std::max<std::int64_t>(1, writes / 60);
    std::map<int, int> outcomes;
    for (const int err : {ENOSPC, EIO}) {
      for (std::int64_t nth = 1; nth <= writes;
           nth += (nth < 40 || nth + 40 > writes) ? 1 : stride) {
        SCOPED_TRACE("write " + std::to_string(nth) + " of " + std::to_string(writes) + ", errno " +
                     std::to_string(err));
        Restore();
        Open(op.exclusive);
        platform::SetWriteFault(nth, err);
        const int code = Run(op.run);
        const bool hit = platform::WriteFaultHit();
        platform::ClearWriteFault();
        CloseAll();
        ASSERT_TRUE(hit);
        // A write whose failure changes nothing for the table (the
        // semaphore's counter after the change is made) is not reported;
        // then the operation must have landed whole.
        EXPECT_TRUE(code == 0 || code == 101 || code == 1005) << "code " << code;
        ++outcomes[code];
        ExpectConsistent(before, after, code != 0, op.builtIndex, op.name == "pack");
        if (HasFailure()) return;
      }
    }
    std::string summary;
    for (const auto& [code, n] : outcomes)
      summary += " code " + std::to_string(code) + ": " + std::to_string(n);
    if (indexesGone_ > 0)
      summary += "; index builds that failed and left no file: " + std::to_string(indexesGone_);
    indexesGone_ = 0;
    std::printf("%s: %lld writes;%s\n", op.name.c_str(), static_cast<long long>(writes),
                summary.c_str());
  }
}

// Two programs write memo texts to one shared memo file: a text written
// after waiting for the memo file's lock goes after the text the other
// program added meanwhile, not over it (the soak of shared use found texts
// of one record under the block of another).
TEST(SharedMemoWrites, ATextWrittenAfterWaitingForTheLockGoesAfterTheOther) {
  test::TempDir dir;
  test::ResetEngineForTest();
  InitEngine();
  ASSERT_TRUE(CreateDbf(dir.File("t.dbf"), {{"name", 'C', 10, 0}, {"note", 'M', 10, 0}}));
  Select(1);
  USE(dir.File("t.dbf"));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const std::string theirs(3 * 512 - 8, 'Z');
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The other program: takes the memo file's lock, says so, and adds a
    // text of three blocks at the end a moment later.
    platform::File f;
    if (f.Open(dir.File("t.dbt"), platform::kModeShared) != 0 || f.Lock(0x7FFFFFFE, 1) != 0)
      _exit(1);
    (void)!write(ready[1], "x", 1);
    usleep(100000);
    std::string block =
        std::string("\xFF\xFF\x08\x00", 4) + std::string("\x00\x06\x00\x00", 4) + theirs;
    if (f.WriteAt(512, block.data(), block.size()) != 0) _exit(2);
    f.Unlock(0x7FFFFFFE, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  const std::int64_t block = WriteMemoText("mine", false);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GE(block, 4) << "the text went over the other program's";
  EXPECT_EQ(ReadMemoText(block, false), "mine");
  CloseAll();
  const Bytes memo = test::ReadFile(dir.File("t.dbt"));
  ASSERT_GE(memo.size(), 2048u);
  EXPECT_EQ(std::string(memo.begin() + 520, memo.begin() + 2048), theirs);
  close(ready[0]);
  close(ready[1]);
}

// A change of the indexes whose first write (the semaphore's counter, that
// tells other programs a change is under way) is refused leaves the
// semaphore's lock free: other programs are not kept waiting, and the next
// change takes and gives up the lock as usual.
TEST_F(FaultTest, ARefusedSemaphoreWriteGivesTheLockUp) {
  test::TempDir tmp;
  MakeFixture(tmp.path());
  Restore();
  Open(false);
  const auto append = [](const char* name) {
    ALock();
    ClearRecord();
    SetText(1, name);
    Append();
    Unlock();
  };
  // The append's writes: the record, its end mark, the header, then the
  // counter at the start of the index change.
  platform::SetWriteFault(4, ENOSPC);
  EXPECT_EQ(Run([&] { append("Refused"); }), 101);
  platform::ClearWriteFault();
  platform::File other;
  ASSERT_EQ(other.Open(File("t.@S@"), platform::kModeShared), 0);
  EXPECT_FALSE(other.IsRangeLockedByOther(17, 1)) << "the index lock is still held";
  EXPECT_EQ(Run([&] { append("Accepted"); }), 0);
  EXPECT_FALSE(other.IsRangeLockedByOther(17, 1)) << "the index lock is still held";
  CloseAll();
  const TableState now = ReadTable(File("t.dbf"));
  EXPECT_EQ(now.records.size(), 661u);
  EXPECT_EQ(now.records.back().substr(1, 8), "Accepted");
  for (const Order& o : kOrders) {
    SCOPED_TRACE(o.expression);
    ExpectLikeFreshBuild(File(o.file), o.expression, o.unique);
  }
}

// A small file system mounted for a test (root only), unmounted after it.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& dir) : dir_(dir) {
    if (geteuid() != 0) {
      why_ = "not running as root";
      return;
    }
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=2m") != 0) {
      why_ = std::string("mount: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

  // Fills the file system with a filler file, then gives `pages` pages of
  // 4 KiB back.
  void LeaveFree(int pages) {
    const std::string filler = dir_ + "/filler";
    platform::File f;
    f.Create(filler, platform::kModeReadWrite);
    const std::string chunk(65536, 'x');
    std::uint64_t at = 0;
    for (std::size_t size = chunk.size(); size > 0;) {
      if (f.WriteAt(at, chunk.data(), size) == 0) {
        at += size;
      } else {
        size /= 2;
      }
    }
    std::uint64_t size = 0;
    f.Size(size);
    f.Truncate(size > static_cast<std::uint64_t>(pages) * 4096
                   ? size - static_cast<std::uint64_t>(pages) * 4096
                   : 0);
  }
  void Empty() { fs::remove(dir_ + "/filler"); }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string why_;
};

// A real full disk: a small tmpfs filled up to a few pages, under the
// engine's operations and the tool's write commands.
TEST_F(FaultTest, AFullFileSystemLeavesTheTableWhole) {
  test::TempDir tmp;
  SmallFileSystem small(tmp.path());
  if (!small.mounted()) GTEST_SKIP() << "the full-disk test mounts a small tmpfs: " << small.why();
  MakeFixture(tmp.path());
  // The sort files of index builds go there too.
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);
  std::vector<Operation> ops = Operations();
  for (Operation& op : ToolOperations()) ops.push_back(op);
  for (const Operation& op : ops) {
    SCOPED_TRACE(op.name);
    Restore();
    const TableState before = ReadTable(File("t.dbf"));
    if (!op.tool) Open(op.exclusive);
    ASSERT_EQ(op.tool ? (op.run(), toolStatus_) : Run(op.run), 0) << toolError_;
    CloseAll();
    const TableState after = ReadTable(File("t.dbf"));
    std::map<int, int> outcomes;
    for (const int pages : {0, 1, 2, 3, 4, 5, 6, 8, 10, 12, 16, 24}) {
      SCOPED_TRACE(std::to_string(pages) + " pages free");
      Restore();
      small.LeaveFree(pages);
      int code = 0;
      if (op.tool) {
        op.run();
        code = toolStatus_;
        // Exit statuses: the codes modulo 256.
        EXPECT_TRUE(code == 0 || code == 101 || code == 1004 % 256 || code == 1005 % 256 ||
                    code == 227)
            << "status " << code << "\n"
            << toolError_;
      } else {
        Open(op.exclusive);
        code = Run(op.run);
        CloseAll();
        EXPECT_TRUE(code == 0 || code == 101 || code == 1004 || code == 1005 || code == 227)
            << "code " << code;
      }
      ++outcomes[code];
      small.Empty();
      ExpectConsistent(before, after, code != 0, op.builtIndex,
                       op.name.find("pack") != std::string::npos);
      if (HasFailure()) break;
    }
    std::string summary;
    for (const auto& [code, n] : outcomes)
      summary += " code " + std::to_string(code) + ": " + std::to_string(n);
    std::printf("%s on a full disk:%s\n", op.name.c_str(), summary.c_str());
    if (HasFailure()) break;
  }
  if (oldTmp)
    setenv("TMPDIR", savedTmp.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

}  // namespace
}  // namespace vz
