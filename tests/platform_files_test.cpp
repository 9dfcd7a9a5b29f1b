// Files: open modes and their sharing locks, byte-range locks, error codes,
// name resolution and temporary files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz::platform {
namespace {

TEST(Files, ErrnoMapsToDosCodes) {
  EXPECT_EQ(DosErrorFromErrno(ENOENT), 2);
  EXPECT_EQ(DosErrorFromErrno(ENOTDIR), 3);
  EXPECT_EQ(DosErrorFromErrno(EMFILE), 4);
  EXPECT_EQ(DosErrorFromErrno(EACCES), 5);
  EXPECT_EQ(DosErrorFromErrno(EPERM), 5);
  EXPECT_EQ(DosErrorFromErrno(EROFS), 5);
  EXPECT_EQ(DosErrorFromErrno(EWOULDBLOCK), 32);
  EXPECT_EQ(DosErrorFromErrno(ENOSPC), 101);
}

TEST(Files, OpenReadWriteAndSize) {
  test::TempDir dir;
  const std::string name = dir.File("a.bin");
  File f;
  EXPECT_EQ(f.Open(name, kModeRead), 2);
  // A folder that does not exist is "Path not found", for opening and making.
  EXPECT_EQ(f.Open(dir.File("no/such/a.bin"), kModeRead), 3);
  EXPECT_EQ(f.Create(dir.File("no/such/a.bin"), kModeReadWrite), 3);
  ASSERT_EQ(f.Create(name, kModeReadWrite), 0);
  EXPECT_EQ(f.WriteAt(10, "hello", 5), 0);
  std::uint64_t size = 0;
  EXPECT_EQ(f.Size(size), 0);
  EXPECT_EQ(size, 15u);
  char buf[32];
  std::size_t got = 0;
  EXPECT_EQ(f.ReadAt(10, buf, sizeof buf, got), 0);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(f.ReadAt(1000, buf, 4, got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(f.Commit(), 0);
  f.Close();
  ASSERT_EQ(f.Open(name, kModeRead), 0);
  EXPECT_EQ(f.WriteAt(0, "x", 1), 5);  // read access only
  EXPECT_EQ(f.Truncate(0), 5);
}

// A mapped copy gives what a read at the same place gives, for every place
// and length inside the view, an empty copy into no buffer included, and
// refuses what lies outside the view.
TEST(Files, MappedCopiesAgreeWithReads) {
  test::TempDir dir;
  const std::string name = dir.File("m.bin");
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  File f;
  ASSERT_EQ(f.Create(name, kModeReadWrite), 0);
  ASSERT_EQ(f.WriteAt(0, bytes.data(), bytes.size()), 0);
  FileMapping view;
  ASSERT_EQ(view.Map(f, bytes.size()), 0);
  std::vector<std::uint8_t> none;
  for (std::uint64_t offset = 0; offset <= bytes.size(); ++offset) {
    EXPECT_TRUE(view.Copy(offset, none.data(), 0)) << offset;
    for (std::size_t count : {1u, 2u, 7u, 64u, 300u}) {
      if (offset + count > bytes.size()) {
        std::uint8_t spare[300];
        EXPECT_FALSE(view.Copy(offset, spare, count)) << offset << "+" << count;
        continue;
      }
      std::vector<std::uint8_t> mapped(count), read(count);
      ASSERT_TRUE(view.Copy(offset, mapped.data(), count)) << offset << "+" << count;
      std::size_t got = 0;
      ASSERT_EQ(f.ReadAt(offset, read.data(), count, got), 0);
      ASSERT_EQ(got, count);
      EXPECT_EQ(mapped, read) << offset << "+" << count;
    }
  }
}

TEST(Files, SharingLocks) {
  test::TempDir dir;
  const std::string name = dir.File("t.dbf");
  test::WriteFile(name, std::string(100, 'x'));
  File shared1, shared2, reader, exclusive;
  ASSERT_EQ(shared1.Open(name, kModeShared), 0);
  ASSERT_EQ(shared2.Open(name, kModeShared), 0);
  ASSERT_EQ(reader.Open(name, kModeRead), 0);
  EXPECT_EQ(exclusive.Open(name, kModeExclusive), 32);
  shared1.Close();
  shared2.Close();
  reader.Close();
  ASSERT_EQ(exclusive.Open(name, kModeExclusive), 0);
  EXPECT_EQ(reader.Open(name, kModeRead), 32);
  EXPECT_EQ(shared1.Open(name, kModeShared), 32);
}

TEST(Files, ByteRangeLocks) {
  test::TempDir dir;
  const std::string name = dir.File("t.dbf");
  test::WriteFile(name, std::string(100, 'x'));
  File a, b;
  ASSERT_EQ(a.Open(name, kModeShared), 0);
  ASSERT_EQ(b.Open(name, kModeShared), 0);
  EXPECT_EQ(a.Lock(10, 5), 0);
  EXPECT_EQ(b.Lock(12, 1), 33);
  EXPECT_TRUE(b.IsRangeLockedByOther(10, 1));
  EXPECT_EQ(b.Lock(15, 5), 0);  // next to it is free
  EXPECT_EQ(a.Unlock(10, 5), 0);
  EXPECT_EQ(b.Lock(12, 1), 0);
  // Locks far beyond the end of the file work too (lock regions of a
  // network protocol lie there).
  EXPECT_EQ(a.Lock(4000000000ULL, 1), 0);
  EXPECT_EQ(b.Lock(4000000000ULL, 1), 33);
}

TEST(Files, ResolvingNamesWithoutRegardToCase) {
  test::TempDir dir;
  test::WriteFile(dir.File("pc.dbf"), "x");
  test::WriteFile(dir.File("N64.DBT"), "x");
  test::WriteFile(dir.File("plain"), "x");
  EXPECT_EQ(ResolveFileName(dir.File("pc.dbf")), dir.File("pc.dbf"));
  EXPECT_EQ(ResolveFileName(dir.File("PC.DBF")), dir.File("pc.dbf"));
  EXPECT_EQ(ResolveFileName(dir.File("n64.dbt")), dir.File("N64.DBT"));
  EXPECT_EQ(ResolveFileName(dir.File("plain.")), dir.File("plain"));
  EXPECT_EQ(ResolveFileName(dir.File("PLAIN.")), dir.File("plain"));
  EXPECT_EQ(ResolveFileName(dir.File("psx.dbf")), dir.File("psx.dbf"));
  test::WriteFile(dir.File("Pc.dbf"), "x");
  EXPECT_EQ(ResolveFileName(dir.File("PC.DBF")), dir.File("PC.DBF"));  // ambiguous: untouched
}

TEST(Files, PathPieces) {
  EXPECT_EQ(DirectoryOf("/a/b/c.dbf"), "/a/b/");
  EXPECT_EQ(DirectoryOf("c.dbf"), "");
  EXPECT_EQ(DirectoryOf("C:\\DATA\\PC.DBF"), "C:\\DATA\\");
  EXPECT_EQ(NameOf("/a/b/c.dbf"), "c.dbf");
  EXPECT_EQ(NameOf("D:x"), "x");
  EXPECT_EQ(ExpandFileName("/a/./b/../c.dbf"), "/a/c.dbf");
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(ExpandFileName("x.dbf"), cwd + "/x.dbf");
  EXPECT_EQ(ExpandFileName("Sub Dir/X.Dbf"), cwd + "/Sub Dir/X.Dbf");
}

TEST(Files, TemporaryFilesDisappear) {
  test::TempDir dir;
  std::string name;
  {
    TempFile t;
    ASSERT_EQ(t.Create(dir.path(), "TZP"), 0);
    name = t.name();
    EXPECT_EQ(NameOf(name).substr(0, 3), "TZP");
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ(t.file().WriteAt(0, "abc", 3), 0);
    TempFile u;
    ASSERT_EQ(u.Create(dir.path(), "TZP"), 0);
    EXPECT_NE(u.name(), name);
  }
  EXPECT_FALSE(FileExists(name));
  TempFile bad;
  EXPECT_EQ(bad.Create(dir.File("missing"), "TZP"), 2);
}

TEST(Files, DeleteAndFreeSpace) {
  test::TempDir dir;
  test::WriteFile(dir.File("x"), "x");
  EXPECT_EQ(DeleteFile(dir.File("x")), 0);
  EXPECT_EQ(DeleteFile(dir.File("x")), 2);
  std::uint64_t bytes = 0;
  EXPECT_EQ(FreeDiskSpace(dir.File("not-yet.ndx"), bytes), 0);
  EXPECT_GT(bytes, 0u);
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_TRUE(DirectoryWritable(dir.path()));
  EXPECT_FALSE(ProgramDirectory().empty());
  EXPECT_EQ(ProgramDirectory().back(), '/');
}

TEST(Files, MemoryFilesOpenAsFilesUnderAnyName) {
  test::TempDir dir;
  const std::string link = dir.File("fz.dbf");
  std::string path;
  {
    MemoryFile m;
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(m.Assign("x", 1), kFileNotOpen);
    ASSERT_EQ(m.Create("fz.dbf"), 0);
    path = m.Path();
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_TRUE(FileExists(link));
    EXPECT_EQ(ResolveFileName(link), link);
    // Contents of several sizes, each replacing the whole of the one
    // before, read back through the name and through the path.
    for (std::size_t size :
         {std::size_t{70000}, std::size_t{0}, std::size_t{3}, std::size_t{513}}) {
      std::string bytes(size, '\0');
      for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + size);
      ASSERT_EQ(m.Assign(bytes.data(), bytes.size()), 0);
      for (const std::string& name : {link, path}) {
        File f;
        ASSERT_EQ(f.Open(name, kModeShared), 0) << name;
        std::uint64_t got = 0;
        EXPECT_EQ(f.Size(got), 0);
        EXPECT_EQ(got, size);
        std::string back(size + 10, '?');
        std::size_t n = 0;
        EXPECT_EQ(f.ReadAt(0, back.data(), back.size(), n), 0);
        EXPECT_EQ(back.substr(0, n), bytes);
      }
    }
    // Each open is a file of its own: sharing and byte-range locks hold
    // between two opens as between two opens of a file on disk.
    File a, b;
    ASSERT_EQ(a.Open(link, kModeExclusive), 0);
    EXPECT_EQ(b.Open(path, kModeShared), kSharingViolation);
    a.Close();
    ASSERT_EQ(a.Open(link, kModeShared), 0);
    ASSERT_EQ(b.Open(link, kModeShared), 0);
    ASSERT_EQ(a.Lock(100, 1), 0);
    EXPECT_EQ(b.Lock(100, 1), kLockViolation);
    EXPECT_TRUE(b.IsRangeLockedByOther(100, 1));
    // What is written through an open is the file's content.
    EXPECT_EQ(a.WriteAt(0, "ABC", 3), 0);
    char head[3] = {};
    std::size_t n = 0;
    EXPECT_EQ(b.ReadAt(0, head, 3, n), 0);
    EXPECT_EQ(std::string(head, n), "ABC");
  }
  // Gone with its object: the name leads nowhere.
  EXPECT_FALSE(FileExists(link));
  File f;
  EXPECT_NE(f.Open(link, kModeRead), 0);
}

// The pause before a retry is the installed one, or a sleep of its length.
TEST(Files, RetryPauses) {
  std::vector<std::chrono::milliseconds> seen;
  const RetryPause previous =
      SetRetryPause([&](std::chrono::milliseconds d) { seen.push_back(d); });
  const auto start = std::chrono::steady_clock::now();
  PauseBeforeRetry(std::chrono::milliseconds(5000));
  PauseBeforeRetry(std::chrono::milliseconds(7));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(seen, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(5000),
                                                          std::chrono::milliseconds(7)}));
  EXPECT_TRUE(SetRetryPause(previous));
  const auto slept = std::chrono::steady_clock::now();
  PauseBeforeRetry(std::chrono::milliseconds(30));
  EXPECT_GE(std::chrono::steady_clock::now() - slept, std::chrono::milliseconds(30));
  EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
}  // namespace vz::platform

namespace vz::platform {
namespace {

// The write-fault hook: the chosen write fails with the code of its errno
// after half its bytes, once or from then on; truncation is never counted.
TEST(Files, WriteFaultHookFailsTheChosenWrites) {
  test::TempDir dir;
  File f;
  ASSERT_EQ(f.Create(dir.File("w.bin"), kModeReadWrite), 0);
  SetWriteFault(2, ENOSPC);
  EXPECT_EQ(f.WriteAt(0, "abcd", 4), 0);
  EXPECT_EQ(f.WriteAt(4, "efgh", 4), kDiskWriteError);
  EXPECT_TRUE(WriteFaultHit());
  EXPECT_EQ(f.WriteAt(4, "EFGH", 4), 0);  // once only
  EXPECT_EQ(f.Truncate(6), 0);
  EXPECT_EQ(WritesCounted(), 3);
  std::uint64_t size = 0;
  f.Size(size);
  EXPECT_EQ(size, 6u);

  SetWriteFault(1, EIO, true);
  EXPECT_EQ(f.WriteAt(0, "xxxxxxxx", 8), kDiskWriteError);
  EXPECT_EQ(f.WriteAt(0, "y", 1), kDiskWriteError);
  char buf[8] = {};
  std::size_t got = 0;
  f.ReadAt(0, buf, 8, got);
  EXPECT_EQ(std::string(buf, got), "xxxxEF");  // half of the failed write landed
  ClearWriteFault();
  EXPECT_FALSE(WriteFaultHit());
  EXPECT_EQ(f.WriteAt(0, "z", 1), 0);
  EXPECT_EQ(WritesCounted(), 0);  // not counting any more

  SetWriteFault(0, ENOSPC);  // counting only
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f.WriteAt(0, "q", 1), 0);
  EXPECT_EQ(WritesCounted(), 5);
  EXPECT_FALSE(WriteFaultHit());
  ClearWriteFault();
}

}  // namespace
}  // namespace vz::platform
