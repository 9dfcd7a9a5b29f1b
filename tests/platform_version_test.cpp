// Version records: reading them back from ELF files of both classes and
// both byte orders that the tests write themselves, looking values up by
// path, and refusing damaged or hostile files without reading outside them.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/version.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionFileBuilder.h"

namespace vz::platform {
namespace {

using namespace vz::test;

// --- Helpers ------------------------------------------------------------------------------------

class VersionFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (memory_ >= 0) close(memory_);
  }

  std::string Write(const Bytes& bytes, const std::string& name = "file") {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  // The same in a file in memory, rewritten in place: for the tests that
  // write thousands of variants. It is opened by name as any other file.
  std::string WriteInMemory(const Bytes& bytes) {
    if (memory_ < 0) memory_ = memfd_create("vorza-version-test", MFD_CLOEXEC);
    EXPECT_GE(memory_, 0);
    EXPECT_EQ(ftruncate(memory_, 0), 0);
    EXPECT_EQ(pwrite(memory_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    return "/proc/self/fd/" + std::to_string(memory_);
  }

  // The record of a file, or nothing; checks that size and read agree.
  std::optional<Bytes> Record(const std::string& path) {
    const std::size_t size = VersionRecordSize(path);
    Bytes block(size + 8, 0xEE);
    const bool read = ReadVersionRecord(path, block.data(), block.size());
    EXPECT_EQ(read, size > 0) << path;
    if (size == 0) return std::nullopt;
    for (std::size_t i = size; i < block.size(); ++i)
      EXPECT_EQ(block[i], 0xEE) << "written past the record";
    block.resize(size);
    return block;
  }

  vz::test::TempDir dir_;
  int memory_ = -1;
};

std::optional<std::string> Text(const Bytes& block, const std::string& path) {
  const void* value = nullptr;
  std::size_t length = 0;
  if (!QueryVersionValue(block.data(), block.size(), path, &value, &length)) return std::nullopt;
  const auto* p = static_cast<const std::uint8_t*>(value);
  EXPECT_GE(p, block.data());
  EXPECT_LE(p + length, block.data() + block.size());
  EXPECT_GE(length, 1u);
  EXPECT_EQ(p[length - 1], 0) << "value without its terminating NUL";
  return std::string(static_cast<const char*>(value));
}

std::vector<VersionTranslation> Translations(const Bytes& block) {
  const void* table = nullptr;
  std::size_t length = 0;
  std::vector<VersionTranslation> out;
  if (!QueryVersionValue(block.data(), block.size(), "\\VarFileInfo\\Translation", &table, &length))
    return out;
  VersionTranslation t{};
  for (std::size_t i = 0; VersionTranslationAt(table, length, i, t); ++i) out.push_back(t);
  return out;
}

// --- Tests --------------------------------------------------------------------------------------

TEST(VersionRecordEncoding, ProgramEncoderWritesTheDocumentedLayout) {
  const VersionTranslation translations[] = {{0x0409, 0x04E4}, {0x0407, 0x04B0}};
  const VersionString strings[] = {{"StringFileInfo\\040904e4\\FileVersion", "1.3.0.3"},
                                   {"StringFileInfo\\040904e4\\Comments", ""}};
  const std::size_t size = EncodeVersionRecord(translations, strings, nullptr);
  Bytes encoded(size);
  EXPECT_EQ(EncodeVersionRecord(translations, strings, encoded.data()), size);
  EXPECT_EQ(encoded, MakeRecord({{0x0409, 0x04E4}, {0x0407, 0x04B0}},
                                {{"StringFileInfo\\040904e4\\FileVersion", "1.3.0.3"},
                                 {"StringFileInfo\\040904e4\\Comments", ""}}));

  // At compile time too.
  static constexpr VersionString kOne[] = {{"k", "v"}};
  static_assert(EncodeVersionRecord({}, kOne, nullptr) == 16 + 4 + 2 + 2);

  const std::string tooLong(70000, 'x');
  const VersionString huge[] = {{"StringFileInfo\\040904e4\\Comments", tooLong}};
  EXPECT_THROW(EncodeVersionRecord(translations, huge, nullptr), std::length_error);
}

TEST_F(VersionFileTest, ReadsTheRecordFromEveryClassAndByteOrder) {
  const Bytes record = SampleRecord();
  for (bool is64 : {false, true}) {
    for (bool big : {false, true}) {
      for (bool extended : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "64-bit " << is64 << ", big-endian " << big << ", extended " << extended);
        const std::string path = Write(ElfWithRecord(record, {is64, big, extended}));
        EXPECT_EQ(VersionRecordSize(path), record.size());
        const std::optional<Bytes> block = Record(path);
        ASSERT_TRUE(block);
        EXPECT_EQ(*block, record);
      }
    }
  }
}

TEST_F(VersionFileTest, QueriesTranslationsAndStringsByPath) {
  const std::optional<Bytes> block = Record(Write(ElfWithRecord(SampleRecord())));
  ASSERT_TRUE(block);
  const std::vector<VersionTranslation> t = Translations(*block);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].language, 0x0409);
  EXPECT_EQ(t[0].codePage, 0x04E4);

  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\CompanyName"), "Vantu");
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\FileVersion"), "1.3.0.3");
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\Author"), "A. N. Author");
  // An empty value is present, and distinct from a missing one.
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\Comments"), "");
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\LegalTradeMarks"), std::nullopt);
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\Registry"), std::nullopt);
  // A leading backslash is optional; keys ignore ASCII letter case.
  EXPECT_EQ(Text(*block, "\\StringFileInfo\\040904e4\\FileVersion"), "1.3.0.3");
  EXPECT_EQ(Text(*block, "stringfileinfo\\040904E4\\FILEVERSION"), "1.3.0.3");
  // Not a prefix match, not another translation.
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\File"), std::nullopt);
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\FileVersionX"), std::nullopt);
  EXPECT_EQ(Text(*block, "StringFileInfo\\041304e4\\FileVersion"), std::nullopt);
  EXPECT_EQ(Text(*block, ""), std::nullopt);
  EXPECT_EQ(Text(*block, "\\"), std::nullopt);

  // The value pointer may be left out.
  std::size_t length = 0;
  EXPECT_TRUE(QueryVersionValue(block->data(), block->size(), "StringFileInfo\\040904e4\\Author",
                                nullptr, &length));
  EXPECT_EQ(length, std::string("A. N. Author").size() + 1);
}

TEST_F(VersionFileTest, DutchTranslationIsQueriedUnderItsOwnPath) {
  const std::optional<Bytes> block =
      Record(Write(ElfWithRecord(SampleRecord("041304e4", {0x0413, 0x04E4}))));
  ASSERT_TRUE(block);
  const std::vector<VersionTranslation> t = Translations(*block);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].language, 0x0413);
  EXPECT_EQ(t[0].codePage, 0x04E4);
  EXPECT_EQ(Text(*block, "StringFileInfo\\041304e4\\FileVersion"), "1.3.0.3");
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\FileVersion"), std::nullopt);
}

TEST_F(VersionFileTest, RecordWithoutTranslationsOrStrings) {
  const Bytes bare = MakeRecord({}, {});
  const std::optional<Bytes> block = Record(Write(ElfWithRecord(bare)));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 16u);
  EXPECT_TRUE(Translations(*block).empty());
  EXPECT_EQ(Text(*block, "StringFileInfo\\040904e4\\FileVersion"), std::nullopt);

  // Several translations come back in order.
  const Bytes two = MakeRecord({{0x0407, 0x04B0}, {0x0409, 0x04E4}}, {});
  const std::optional<Bytes> twoBlock = Record(Write(ElfWithRecord(two)));
  ASSERT_TRUE(twoBlock);
  const std::vector<VersionTranslation> t = Translations(*twoBlock);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].language, 0x0407);
  EXPECT_EQ(t[1].codePage, 0x04E4);
  VersionTranslation out{};
  EXPECT_FALSE(VersionTranslationAt(twoBlock->data() + 16, 8, 2, out));
}

TEST_F(VersionFileTest, PaddingAfterTheRecordIsNotPartOfIt) {
  Bytes padded = SampleRecord();
  const std::size_t size = padded.size();
  padded.resize(size + 37, 0);
  const std::optional<Bytes> block = Record(Write(ElfWithRecord(padded)));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), size);
}

TEST_F(VersionFileTest, FilesWithoutARecord) {
  // No version section.
  EXPECT_EQ(VersionRecordSize(Write(MakeElf({}, {{".text", Bytes(24, 0x90)}}), "plain")), 0u);
  // A section of a similar name.
  EXPECT_EQ(VersionRecordSize(Write(MakeElf({}, {{".vorza_versions", SampleRecord()}}), "longer")),
            0u);
  EXPECT_EQ(VersionRecordSize(Write(MakeElf({}, {{".vorza_versio", SampleRecord()}}), "shorter")),
            0u);
  // A section without bytes in the file.
  EXPECT_EQ(
      VersionRecordSize(Write(MakeElf({}, {{".vorza_version", SampleRecord(), 8}}), "nobits")), 0u);
  // Not ELF at all, empty, missing, a folder, a pipe.
  const std::string text = "This is not an executable.\r\n";
  EXPECT_EQ(VersionRecordSize(Write(Bytes(text.begin(), text.end()), "text")), 0u);
  EXPECT_EQ(VersionRecordSize(Write({}, "empty")), 0u);
  EXPECT_EQ(VersionRecordSize(dir_.File("missing")), 0u);
  EXPECT_EQ(VersionRecordSize(dir_.path()), 0u);
  EXPECT_EQ(VersionRecordSize(""), 0u);
  const std::string fifo = dir_.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(VersionRecordSize(fifo), 0u);  // and does not wait for a writer

  Bytes block(64, 0xEE);
  EXPECT_FALSE(ReadVersionRecord(dir_.File("missing"), block.data(), block.size()));
  EXPECT_EQ(block, Bytes(64, 0xEE));
}

TEST_F(VersionFileTest, BlockTooSmallIsRefusedAndLeftAlone) {
  const Bytes record = SampleRecord();
  const std::string path = Write(ElfWithRecord(record));
  Bytes block(record.size() - 1, 0xEE);
  EXPECT_FALSE(ReadVersionRecord(path, block.data(), block.size()));
  EXPECT_EQ(block, Bytes(record.size() - 1, 0xEE));
  EXPECT_FALSE(ReadVersionRecord(path, nullptr, 1000));
  block.assign(record.size(), 0);
  EXPECT_TRUE(ReadVersionRecord(path, block.data(), block.size()));
  EXPECT_EQ(block, record);
}

// Each hostile value in a header field, at the field's place in the file.
TEST_F(VersionFileTest, HostileHeadersAreRefused) {
  const Bytes record = SampleRecord();
  struct Patch {
    const char* what;
    std::size_t at;  // offset from a base chosen below
    int base;        // 0 file, 1 section table, 2 version section entry, 3 record
    std::uint64_t value;
    int width;
  };
  ElfLayout l;
  const Bytes good = ElfWithRecord(record, {}, &l);
  const std::size_t versionEntry = l.sectionTable + 2 * l.entrySize;
  const Patch patches[] = {
      {"section table beyond the file", 0x28, 0, good.size(), 8},
      {"section table offset overflowing", 0x28, 0, ~std::uint64_t{0} - 8, 8},
      {"no section table", 0x28, 0, 0, 8},
      {"entry size too small", 0x3A, 0, 63, 2},
      {"section count beyond the file", 0x3C, 0, 0xFFFE, 2},
      {"name table index out of range", 0x3E, 0, 5, 2},
      {"name table index reserved", 0x3E, 0, 0xFF01, 2},
      {"escaped count of zero", 0x3C, 0, 0, 2},
      {"version section beyond the file", 0x18, 2, good.size() - 10, 8},
      {"version section size overflowing", 0x20, 2, ~std::uint64_t{0} - 4, 8},
      {"version section offset overflowing", 0x18, 2, ~std::uint64_t{0} - 4, 8},
      {"version section too small", 0x20, 2, 15, 8},
      {"version section name beyond the names", 0x00, 2, 0xFFFFFFF0, 4},
      {"record larger than its section", 8, 3, record.size() + 1, 4},
      {"record size absurd", 8, 3, 0xFFFFFFFF, 4},
      {"record smaller than its header", 8, 3, 15, 4},
      {"header size absurd", 6, 3, 0xFFFF, 2},
      {"header size too small", 6, 3, 8, 2},
      {"other format", 4, 3, 2, 2},
      {"magic", 0, 3, 0x5256, 2},
      {"translations beyond the record", 12, 3, 0x4000, 2},
      {"strings beyond the record", 14, 3, 5, 2},
      {"key beyond the record", 20, 3, 0xFFFF, 2},
      {"value beyond the record", 22, 3, 0xFFFF, 2},
      {"empty key entry", 20, 3, 0, 2},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    Bytes bad = good;
    const std::size_t base = p.base == 0   ? 0
                             : p.base == 1 ? l.sectionTable
                             : p.base == 2 ? versionEntry
                                           : l.dataAt[1];
    PutLe(bad, base + p.at, p.value, p.width);
    EXPECT_EQ(VersionRecordSize(WriteInMemory(bad)), 0u);
  }

  // A name table that ends inside the version section's name: its NUL lies
  // outside the table, so the name is not taken. One byte more and it is.
  const std::size_t namesEntry = l.sectionTable + 4 * l.entrySize;
  const std::size_t versionName = std::string("\0.text\0", 7).size();
  Bytes unterminated = good;
  PutLe(unterminated, namesEntry + 0x20, versionName + 14, 8);
  EXPECT_EQ(VersionRecordSize(Write(unterminated)), 0u);
  PutLe(unterminated, namesEntry + 0x20, versionName + 15, 8);
  EXPECT_EQ(VersionRecordSize(Write(unterminated)), record.size());
}

TEST_F(VersionFileTest, EveryTruncationHasNoRecord) {
  for (bool is64 : {false, true}) {
    for (bool big : {false, true}) {
      const Bytes good = ElfWithRecord(SampleRecord(), {is64, big, false});
      ASSERT_GT(VersionRecordSize(Write(good)), 0u);
      for (std::size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_EQ(VersionRecordSize(WriteInMemory(cut)), 0u) << "cut to " << n << " bytes";
      }
    }
  }
}

// Random damage may leave a readable record (a changed letter of a value),
// but what is reported must be a sound record that lies in the file as it
// is: never bytes from elsewhere, never a record that its own queries
// cannot walk.
TEST_F(VersionFileTest, RandomCorruptionNeverCrashesNorInventsARecord) {
  std::mt19937 rng(20240611);
  const Bytes record = SampleRecord();
  int survived = 0;
  for (bool is64 : {false, true}) {
    for (bool big : {false, true}) {
      const Bytes good = ElfWithRecord(record, {is64, big, false});
      for (int round = 0; round < 1500; ++round) {
        Bytes bad = good;
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int c = 0; c < changes; ++c) {
          const std::size_t at = rng() % bad.size();
          switch (rng() % 3) {
            case 0: bad[at] = static_cast<std::uint8_t>(rng()); break;
            case 1: bad[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
            default: bad[at] = (rng() % 2) ? 0xFF : 0x00; break;
          }
        }
        const std::optional<Bytes> block = Record(WriteInMemory(bad));
        if (!block) continue;
        ++survived;
        ASSERT_GE(block->size(), 16u);
        EXPECT_EQ(std::memcmp(block->data(), "VZVR", 4), 0);
        EXPECT_EQ(block->size(),
                  std::size_t(block->at(8) | block->at(9) << 8 | block->at(10) << 16 |
                              std::size_t(block->at(11)) << 24));
        // The record is a run of the file's own bytes.
        bool inFile = false;
        for (std::size_t at = 0; !inFile && at + block->size() <= bad.size(); ++at)
          inFile = std::memcmp(bad.data() + at, block->data(), block->size()) == 0;
        EXPECT_TRUE(inFile);
        Text(*block, "StringFileInfo\\040904e4\\FileVersion");
        Translations(*block);
      }
    }
  }
  // Most single changes hit the padding, the other sections or a text.
  EXPECT_GT(survived, 1000);
}

// Queries check the block they are given: any bytes, any size.
TEST(VersionQuery, DamagedBlocksAreWalkedWithinTheirSize) {
  const Bytes record = SampleRecord();
  for (std::size_t n = 0; n < record.size(); ++n) {
    // A heap block of exactly n bytes, so that ASan sees any over-read.
    Bytes cut(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(QueryVersionValue(cut.data(), cut.size(), "StringFileInfo\\040904e4\\CompanyName",
                                   nullptr, nullptr))
        << n;
    EXPECT_TRUE(Translations(cut).empty()) << n;
  }
  EXPECT_FALSE(QueryVersionValue(nullptr, 100, "\\VarFileInfo\\Translation", nullptr, nullptr));

  std::mt19937 rng(7);
  for (int round = 0; round < 5000; ++round) {
    Bytes bad = record;
    const std::size_t at = rng() % bad.size();
    bad[at] = static_cast<std::uint8_t>(rng());
    const std::size_t size = (rng() % 4 == 0) ? rng() % bad.size() : bad.size();
    bad.resize(size);
    Text(bad, "StringFileInfo\\040904e4\\Author");
    Text(bad, "StringFileInfo\\040904e4\\Comments");
    Translations(bad);
  }
}

}  // namespace
}  // namespace vz::platform
