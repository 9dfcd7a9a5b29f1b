// Reads out of file order and in bulk: tables that other programs rewrite,
// shrink and replace while they are read through their mappings, and memo
// texts read in bulk against the descriptor's own reading.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/MemoTableTest.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;
using test::DbtBuilder;
using test::MemoField;

class MappedReadTest : public test::MemoTableTest {
 protected:
  // The text as a descriptor of its own reads it (size by seeking to the
  // end, then every byte): the reading the bulk path must agree with.
  static std::string DescriptorRead(std::int64_t block, bool convert, int& code) {
    BlobDescriptor d;
    ScopedErrorDispatch quiet(false);
    CreateBlobDescriptor(d, convert, block, 1);
    code = Engine().Errors.ErrorCode;
    if (code != 0) return {};
    const std::int64_t size = SeekBlobStream(d, 0, 2);
    SeekBlobStream(d, 0, 0);
    std::string text(static_cast<std::size_t>(std::max<std::int64_t>(0, size)), '\0');
    const std::int64_t got = size > 0 ? ReadBlobStream(d, text.data(), size) : 0;
    text.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, got)));
    code = Engine().Errors.ErrorCode;
    DestroyBlobDescriptor(d);
    return text;
  }
};

// --- Other programs at work -----------------------------------------------------------

// A table whose every record is one letter repeated: a record read half
// before and half after another program rewrote it shows two letters.
constexpr int kRecords = 3000;
constexpr int kNameLen = 60;

std::string Letters(char c) {
  return std::string(kNameLen, c);
}

void UniformTable(const std::string& name, char c, int records) {
  DbfBuilder b;
  b.Field("NAME", 'C', kNameLen);
  for (int i = 0; i < records; ++i) b.Record({Letters(c)});
  b.Write(name);
}

// The current record's name: one letter repeated, or empty when it mixes.
char UniformLetter() {
  const std::uint8_t* slot = FieldAddress(1);
  const char first = static_cast<char>(slot[1]);
  for (int i = 1; i < kNameLen; ++i)
    if (static_cast<char>(slot[1 + i]) != first) return '\0';
  return first;
}

// Runs `work` in a child process until the parent is done; the child ends
// with the test.
class Writer {
 public:
  explicit Writer(std::function<void()> work) {
    pid_ = fork();
    if (pid_ == 0) {
      for (;;) work();
    }
  }
  ~Writer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

void PutRecord(int fd, std::uint32_t headerLen, int n, char c) {
  const std::string rec = " " + Letters(c);
  const off_t at =
      static_cast<off_t>(headerLen) + static_cast<off_t>(n - 1) * static_cast<off_t>(rec.size());
  (void)!pwrite(fd, rec.data(), rec.size(), at);
}

// Another program rewrites records with no lock while this one walks and
// jumps: every record read holds only bytes the file held (each one of the
// two versions' letters, never a zero or a byte of something else), the
// walk meets every record, and the rewrites show. A writer the system stops
// in the middle of its own write leaves a record half written for as long
// as it waits; a reader without locks sees that as it is (see
// docs/engine.md), so records that mix the two letters are counted, not
// refused.
TEST_F(MappedReadTest, ASharedWalkSeesOnlyTheFilesBytesWhileAnotherProgramRewritesThem) {
  UniformTable("w.dbf", 'A', kRecords);
  USE("w.dbf");
  const std::uint32_t headerLen = CurrentTable()->HeaderLen;
  Writer writer([&, flip = false]() mutable {
    const int fd = open("w.dbf", O_WRONLY);
    flip = !flip;
    for (int n = 1; n <= kRecords; n += 7) PutRecord(fd, headerLen, n, flip ? 'B' : 'A');
    close(fd);
  });
  const auto onlyTheFilesBytes = [] {
    const std::uint8_t* slot = FieldAddress(1);
    for (int i = 0; i < kNameLen; ++i)
      if (slot[1 + i] != 'A' && slot[1 + i] != 'B') return false;
    return !Deleted();
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
  int seenB = 0, mixed = 0, walks = 0;
  while (std::chrono::steady_clock::now() < until) {
    int walked = 0;
    for (GoTop(); !dEOF(); SKIP(1)) {
      ASSERT_TRUE(onlyTheFilesBytes()) << "record " << RecNo();
      const char c = UniformLetter();
      seenB += c == 'B';
      mixed += c == '\0';
      ++walked;
    }
    ASSERT_EQ(walked, kRecords);
    ++walks;
    // Random-order reads too.
    for (int k = 0; k < 500; ++k) {
      GO(1 + (k * 7919) % kRecords);
      ASSERT_TRUE(onlyTheFilesBytes()) << "record " << RecNo();
    }
  }
  EXPECT_GT(walks, 1);
  EXPECT_GT(seenB, 0) << "the other program's rewrites never showed";
  RecordProperty("records seen half rewritten", mixed);
}

TEST_F(MappedReadTest, ASharedTableThatShrinksOrIsReplacedUnderAWalkGivesNoStaleRecord) {
  UniformTable("s.dbf", 'A', kRecords);
  const test::Bytes original = test::ReadFile("s.dbf");
  UniformTable("s.dbf", 'C', kRecords / 2);
  const test::Bytes shorter = test::ReadFile("s.dbf");
  test::WriteFile("s.dbf", original);
  USE("s.dbf");
  // Read every record once, so that all of them were seen through the
  // mapping, then let another program cut the table to half its records.
  for (GoTop(); !dEOF(); SKIP(1)) ASSERT_EQ(UniformLetter(), 'A');
  // Another program cuts the file inside a record; at once (the file is
  // not looked at again for a few milliseconds) the records after the cut
  // are read: those in the page of the cut read as zeros in the mapping,
  // those after it are gone. None of them is taken for a record.
  {
    const WorkArea& a = *CurrentTable();
    ASSERT_EQ(truncate("s.dbf", static_cast<off_t>(RecordOffset(a, kRecords - 20) + 7)), 0);
    std::vector<std::uint8_t> rec(a.RecordLen);
    for (std::int64_t r = kRecords - 20; r <= kRecords; ++r)
      EXPECT_NE(ReadRecordBytes(*CurrentTable(), r, rec.data()), 0) << "record " << r;
    test::WriteFile("s.dbf", original);
  }
  {
    const int fd = open("s.dbf", O_WRONLY | O_TRUNC);
    ASSERT_EQ(write(fd, shorter.data(), shorter.size()), static_cast<ssize_t>(shorter.size()));
    close(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kSharedWindowNs / 1000000));
  EXPECT_EQ(RecCount(), kRecords / 2);
  std::vector<std::uint8_t> bytes(CurrentTable()->RecordLen);
  // A record the file no longer holds is not read from what was mapped.
  EXPECT_NE(ReadRecordBytes(*CurrentTable(), kRecords - 1, bytes.data()), 0);
  EXPECT_NE(ReadRecordBytes(*CurrentTable(), kRecords / 2 + 1, bytes.data()), 0);
  for (GoTop(); !dEOF(); SKIP(1)) ASSERT_EQ(UniformLetter(), 'C') << RecNo();

  // Now another program keeps cutting the file and writing it anew (the
  // original, then the shorter one) while this one walks: every record read
  // is whole and one of the two tables', or its read fails; nothing
  // crashes.
  Writer writer([&, flip = false]() mutable {
    flip = !flip;
    const test::Bytes& b = flip ? original : shorter;
    const int fd = open("s.dbf", O_WRONLY | O_TRUNC);
    // Pieces that end inside pages, slowly: the bytes after the end of the
    // file read as zeros in the page that holds the end.
    for (std::size_t at = 0; at < b.size(); at += 1000) {
      (void)!write(fd, b.data() + at, std::min<std::size_t>(1000, b.size() - at));
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    close(fd);
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
  int records = 0;
  SetRaiseErrors(false);
  SetErrorDispatch(false);
  while (std::chrono::steady_clock::now() < until) {
    for (GoTop(); Engine().Errors.ErrorCode == 0 && !dEOF(); SKIP(1)) {
      const char c = UniformLetter();
      ASSERT_TRUE(c == 'A' || c == 'C')
          << "record " << RecNo() << " is torn or stale: " << static_cast<int>(c);
      ++records;
    }
    ClearError();
    for (int k = 0; k < 300; ++k) {
      const std::int64_t r = 1 + (k * 7919) % kRecords;
      if (ReadRecordBytes(*CurrentTable(), r, bytes.data()) != 0) continue;
      // Zero bytes past the end of the file are no record.
      ASSERT_TRUE(bytes[1] == 'A' || bytes[1] == 'C')
          << "record " << r << ": " << static_cast<int>(bytes[1]);
      ASSERT_EQ(std::count(bytes.begin() + 1, bytes.end(), bytes[1]), kNameLen)
          << "record " << r << " is torn";
    }
  }
  EXPECT_GT(records, 0);
}

// Random texts with the bytes that decide things: NULs (no conversion),
// terminators (the end of a text in one layout, a plain byte in the other),
// line ends, OEM letters with accents, and lengths around the block size
// and the reading piece.
std::string RandomText(std::mt19937& rng) {
  static const int kLengths[] = {0,   1,   7,    8,    9,    500,   503,   504,   505,   511,
                                 512, 513, 1023, 1024, 1025, 32766, 32767, 32768, 32769, 70000};
  const int len = (rng() % 3 == 0) ? kLengths[rng() % (sizeof kLengths / sizeof kLengths[0])]
                                   : static_cast<int>(rng() % 2000);
  static const std::uint8_t kBytes[] = {'a',  'B',  'c',  ' ',  '\r', '\n', 0x8D,
                                        0x82, 0x90, 0xA4, 0x00, 0x1A, 'z'};
  std::string t(static_cast<std::size_t>(len), 'x');
  for (char& c : t) {
    const unsigned r = rng() % 100;
    c = r < 85 ? static_cast<char>('a' + rng() % 26)
               : static_cast<char>(kBytes[rng() % (sizeof kBytes / sizeof kBytes[0])]);
  }
  return t;
}

TEST_F(MappedReadTest, BulkMemoReadsAgreeWithTheDescriptorInBothLayouts) {
  std::mt19937 rng(15);
  for (const bool headers : {true, false}) {
    for (const int blockSize : {512, 64}) {
      if (!headers && blockSize != 512) continue;  // that layout has 512-byte blocks
      SCOPED_TRACE(std::string(headers ? "block headers " : "terminators ") +
                   std::to_string(blockSize));
      CloseAll();
      DbtBuilder m(headers, blockSize);
      std::vector<int> blocks;
      for (int i = 0; i < 120; ++i)
        blocks.push_back(m.Add(RandomText(rng), 1 + static_cast<int>(rng() % 2)));
      // A text whose header states more than the file holds, a text that
      // runs to the end of the file, an address past the end, no memo.
      blocks.push_back(
          m.AddRaw(std::string("\xFF\xFF\x08\x00\xFF\xFF\x00\x00"
                               "cut short",
                               17)));
      blocks.push_back(m.AddRaw("no terminator to the end of the file"));
      blocks.push_back(blocks.back() + 50);
      blocks.push_back(0);
      m.Write("t.dbt");
      Table("t.dbf", headers ? 0x8B : 0x83, blocks);
      USE("t.dbf");
      ASSERT_NE(CurrentMemo(), nullptr);
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        GO(static_cast<std::int64_t>(i) + 1);
        const std::int32_t block = NativeInt(FieldAddress(2));
        for (const bool convert : {false, true}) {
          int code = 0;
          const std::string expected = DescriptorRead(block, convert, code);
          std::string got;
          int gotCode = 0;
          {
            ScopedErrorDispatch quiet(false);
            got = ReadMemoText(block, convert);
            gotCode = Engine().Errors.ErrorCode;
            ClearError();
          }
          ASSERT_EQ(gotCode, code) << "record " << i + 1;
          ASSERT_EQ(got, expected) << "record " << i + 1 << (convert ? " converted" : "");
          // The text the finder sees is the stored one.
          std::string seen;
          bool read = false;
          {
            ScopedErrorDispatch quiet(false);
            read = Engine().MemoUnit.WithText(*CurrentTable(), block,
                                              [&](const std::uint8_t* p, std::size_t n) {
                                                seen.assign(reinterpret_cast<const char*>(p), n);
                                              });
            ClearError();
          }
          EXPECT_EQ(read, code == 0);
          if (read && !convert) {
            EXPECT_EQ(seen, expected) << "record " << i + 1;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace vz
