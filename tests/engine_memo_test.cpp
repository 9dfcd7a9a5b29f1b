// Memo files: both layouts, the blob descriptor's reading rules, damaged
// and odd memo files, writing, and the line reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <random>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/text_search.h"
#include "platform/codepage.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;
using test::DbtBuilder;
using test::MemoField;

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    InstallMemoUnit();
  }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    CloseAll();
    test::ResetEngineForTest();
  }

  // A table with one memo field whose records point at `blocks`.
  static void Table(const std::string& name, std::uint8_t version, const std::vector<int>& blocks) {
    DbfBuilder b;
    b.Version(version).Field("NAME", 'C', 10).Field("NOTES", 'M', 10);
    for (int blk : blocks) b.Record({"r" + std::to_string(blk), MemoField(blk)});
    b.Write(name);
  }

  static std::int32_t BlockOfCurrent() { return NativeInt(FieldAddress(2)); }

  // Size by seeking to the end, then the whole text, as the framework reads.
  static std::string ReadCurrent(bool convert = false) {
    return ReadMemoText(BlockOfCurrent(), convert);
  }

  test::TempDir dir_{true};
};

TEST_F(MemoTest, TerminatorLayout) {
  DbtBuilder m(false);
  const int abc = m.Add("abc", 1);
  const int two = m.Add("line one\r\nline two", 2);
  const int straddle1 = m.Add(std::string(511, 'x'), 2);  // 0x1A pair across a block end
  const int straddle2 = m.Add(std::string(512, 'y'), 1);  // terminator first byte of a block
  const int headered =
      m.AddRaw(std::string("\xFF\xFF\x08\x00\x0D\x00\x00\x00"
                           "12345",
                           13));
  m.Write("t.dbt");
  Table("t.dbf", 0x83, {abc, two, straddle1, straddle2, headered, 0});
  USE("t.dbf");
  ASSERT_NE(CurrentMemo(), nullptr);
  EXPECT_EQ(CurrentMemo()->Layout, 0x83);
  EXPECT_EQ(CurrentMemo()->BlockSize, 512u);
  EXPECT_EQ(ReadCurrent(), "abc");
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), "line one\r\nline two");
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), std::string(511, 'x'));
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), std::string(512, 'y'));
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), "12345");  // a block header counts in either layout
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), "");
  // The descriptor's result carries the layout in its sign.
  GO(1);
  EXPECT_EQ(CreateBlobDescriptor(false, abc, 1), -abc);
  DestroyBlobDescriptor();
}

TEST_F(MemoTest, DescriptorReadsAndSeeks) {
  DbtBuilder m(false);
  const int abc = m.Add("abc", 1);
  m.Write("t.dbt");
  Table("t.dbf", 0x83, {abc});
  USE("t.dbf");
  CreateBlobDescriptor(false, abc, 1);
  char buf[100] = {};
  // The length is unknown until the terminator is met.
  EXPECT_EQ(CurrentMemo()->Blob.Length, -1);
  EXPECT_EQ(SeekBlobStream(0, 2), 3);
  EXPECT_EQ(CurrentMemo()->Blob.Length, 3);
  EXPECT_EQ(SeekBlobStream(-10, 1), 0);  // negative positions become 0
  EXPECT_EQ(SeekBlobStream(1, 0), 1);
  EXPECT_EQ(SeekBlobStream(1, 1), 2);
  EXPECT_EQ(SeekBlobStream(7, 9), 2);  // unknown origin: the position
  SeekBlobStream(1, 0);
  EXPECT_EQ(ReadBlobStream(buf, 100), 2);
  EXPECT_EQ(std::string(buf, 2), "bc");
  EXPECT_EQ(ReadBlobStream(buf, 100), 0);
  EXPECT_EQ(ReadBlobStream(buf, 0), 0);
  DestroyBlobDescriptor();
  EXPECT_EQ(CurrentMemo()->Blob.InUse, 0);
  EXPECT_EQ(ReadBlobStream(buf, 100), 0);  // no descriptor in use
}

TEST_F(MemoTest, BlockHeaderLayout) {
  DbtBuilder m(true, 1024);
  const int a = m.Add("hello");
  const int b = m.Add(std::string(70000, 'z'));
  m.Write("h.dbt");
  Table("h.dbf", 0x8B, {a, b});
  USE("h.dbf");
  EXPECT_EQ(CurrentMemo()->Layout, 0x8B);
  EXPECT_EQ(CurrentMemo()->BlockSize, 1024u);
  EXPECT_EQ(CreateBlobDescriptor(false, a, 1), a);
  char buf[100];
  EXPECT_EQ(ReadBlobStream(buf, 100), 5);  // the header says 13: 5 bytes of text
  EXPECT_EQ(std::string(buf, 5), "hello");
  DestroyBlobDescriptor();
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), std::string(70000, 'z'));
}

TEST_F(MemoTest, LongTextsAreReadInPiecesIntoOneBuffer) {
  DbtBuilder m(false);
  std::string text;
  for (int i = 0; i < 100000; ++i) text += static_cast<char>('a' + i % 26);
  const int blk = m.Add(text);
  m.Write("l.dbt");
  Table("l.dbf", 0x83, {blk});
  std::vector<std::size_t> pieces;
  USE("l.dbf", nullptr, 0, nullptr, [&](std::uint8_t*, std::size_t n) { pieces.push_back(n); });
  pieces.clear();  // the record read ran through the decoder as well
  CreateBlobDescriptor(false, BlockOfCurrent(), 1);
  std::string out(100000, '\0');
  EXPECT_EQ(ReadBlobStream(out.data(), 100000), 100000);
  EXPECT_EQ(out, text);
  ASSERT_GE(pieces.size(), 4u);
  std::size_t sum = 0;
  for (std::size_t p : pieces) {
    EXPECT_LE(p, 32767u);
    sum += p;
  }
  EXPECT_EQ(sum, 100000u);
  DestroyBlobDescriptor();
}

TEST_F(MemoTest, ConversionIsDecidedByTheDeliveredBytes) {
  DbtBuilder m(true);
  const int plain = m.Add(
      "Pok\x82mon \x81"
      "ber");
  const int withNul = m.Add(std::string("Pok\x82mon\0x", 9));
  // A first piece with a NUL, then pieces without: conversion switches on
  // at the first clean piece and stays on.
  std::string mixed = std::string("\0", 1) + std::string(40000, '\x82');
  const int late = m.Add(mixed);
  m.Write("c.dbt");
  Table("c.dbf", 0x8B, {plain, withNul, late});
  USE("c.dbf");
  EXPECT_EQ(ReadCurrent(true),
            "Pok\xE9mon \xFC"
            "ber");
  EXPECT_EQ(ReadCurrent(false),
            "Pok\x82mon \x81"
            "ber");
  SKIP(1);
  EXPECT_EQ(ReadCurrent(true), std::string("Pok\x82mon\0x", 9));
  SKIP(1);
  const std::string got = ReadCurrent(true);
  ASSERT_EQ(got.size(), mixed.size());
  EXPECT_EQ(got.substr(0, 32767), mixed.substr(0, 32767));           // first piece untouched
  EXPECT_EQ(got.substr(32767), std::string(40001 - 32767, '\xE9'));  // later pieces converted
}

// In the terminator layout a request larger than the text reads on past the
// terminator into the rest of the block (another 0x1A, zero padding, the
// next memo): none of it is delivered, so none of it may keep the text from
// being converted. Every text, every terminator count and every request
// size gives the converted text.
TEST_F(MemoTest, ConversionLooksOnlyAtTheTextNotPastItsTerminator) {
  std::mt19937 random(12);
  std::vector<std::string> texts = {"Caf\x82 au lait", "\x82", std::string(511, '\x81'),
                                    std::string(700, '\x84')};
  for (int i = 0; i < 12; ++i) {
    std::string t(1 + static_cast<std::size_t>(random() % 900), ' ');
    for (char& c : t) c = static_cast<char>(0x20 + random() % 0xE0);  // no NUL, no 0x1A
    texts.push_back(t);
  }
  DbtBuilder m(false);
  std::vector<int> blocks;
  for (std::size_t i = 0; i < texts.size(); ++i)
    blocks.push_back(m.Add(texts[i], 1 + static_cast<int>(i % 2)));
  m.Write("t.dbt");
  Table("t.dbf", 0x83, blocks);
  USE("t.dbf");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE("memo " + std::to_string(i));
    GO(static_cast<std::int64_t>(i) + 1);
    const std::string want = platform::OemToAnsi(texts[i]);
    EXPECT_EQ(ReadCurrent(true), want);
    for (const std::int64_t request :
         {std::int64_t{1}, std::int64_t{13}, std::int64_t{600}, std::int64_t{4096},
          static_cast<std::int64_t>(texts[i].size()),
          static_cast<std::int64_t>(texts[i].size() + 1 + random() % 1200)}) {
      SCOPED_TRACE("request " + std::to_string(request));
      ASSERT_NE(CreateBlobDescriptor(true, BlockOfCurrent(), 1), 0);
      std::string got;
      std::vector<char> buffer(static_cast<std::size_t>(request));
      for (std::int64_t n; (n = ReadBlobStream(buffer.data(), request)) > 0;)
        got.append(buffer.data(), static_cast<std::size_t>(n));
      DestroyBlobDescriptor();
      EXPECT_EQ(got, want);
    }
  }
}

TEST_F(MemoTest, DamagedAndOddMemoFiles) {
  DbtBuilder m(false);
  const int good = m.Add("fine", 2);
  const int open = m.AddRaw("runs to the end");  // no terminator at all
  m.Write("d.dbt");
  DbfBuilder b;
  b.Version(0x83).Field("NAME", 'C', 10).Field("NOTES", 'M', 10);
  b.Record({"a", MemoField(good)}).Record({"b", MemoField(open)}).Record({"c", MemoField(99)});
  b.Record({"d", "99999999999"}).Record({"e", "-1"}).Record({"f", "   junk   "});
  b.Write("d.dbf");
  USE("d.dbf");
  EXPECT_EQ(ReadCurrent(), "fine");
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), "runs to the end");
  SKIP(1);
  {
    ScopedErrorDispatch quiet(false);
    EXPECT_EQ(CreateBlobDescriptor(false, BlockOfCurrent(), 1), 0);
    EXPECT_EQ(Engine().Errors.ErrorCode, 1003);
    EXPECT_EQ(Engine().Errors.ErrorDetail, "99 " + platform::AsciiUpper(dir_.path()) +
                                               "/D.DBT Record # 3 [CreateBlobDescriptor]");
    EXPECT_EQ(CurrentMemo()->Blob.InUse, 0);
  }
  SKIP(1);
  EXPECT_EQ(BlockOfCurrent(), kMemoOutOfRange);
  {
    ScopedErrorDispatch quiet(false);
    CreateBlobDescriptor(false, BlockOfCurrent(), 1);
    EXPECT_EQ(Engine().Errors.ErrorCode, 1003);
  }
  SKIP(1);
  EXPECT_EQ(ReadCurrent(), "fine");  // a negative number is taken by its size
  SKIP(1);
  EXPECT_EQ(BlockOfCurrent(), 0);
  EXPECT_EQ(ReadCurrent(), "");
}

TEST_F(MemoTest, BlockHeaderLengthsAreCheckedAgainstTheFile) {
  DbtBuilder m(true);
  const int over =
      m.AddRaw(std::string("\xFF\xFF\x08\x00\x00\x10\x00\x00"
                           "short",
                           13));
  m.Write("o.dbt");
  DbtBuilder n(true);
  const int under =
      n.AddRaw(std::string("\xFF\xFF\x08\x00\x04\x00\x00\x00"
                           "xyz",
                           11));
  n.Write("u.dbt");
  Table("o.dbf", 0x8B, {over});
  Table("u.dbf", 0x8B, {under});
  USE("o.dbf");
  EXPECT_EQ(ReadCurrent(), "short");  // the header claims 4096 bytes
  Select(2);
  USE("u.dbf");
  EXPECT_EQ(ReadCurrent(), "");  // the header claims less than itself
}

TEST_F(MemoTest, BlockSizeBelongsToEachTable) {
  DbtBuilder big(true, 2048), small(true, 64);
  big.Add("first");
  const int b2 = big.Add("second of the big one");
  small.Add("tiny 1");
  const int s2 = small.Add("tiny 2");
  big.Write("big.dbt");
  small.Write("small.dbt");
  Table("big.dbf", 0x8B, {b2});
  Table("small.dbf", 0x8B, {s2});
  Select(1);
  USE("big.dbf");
  Select(2);
  USE("small.dbf");
  EXPECT_EQ(ReadCurrent(), "tiny 2");
  Select(1);
  EXPECT_EQ(ReadCurrent(), "second of the big one");
  Select(2);
  EXPECT_EQ(ReadCurrent(), "tiny 2");
}

TEST_F(MemoTest, StatedBlockSizes) {
  DbtBuilder zero(true);
  const int z = zero.Add("zero means 512");
  zero.StatedBlockSize(0).Write("z.dbt");
  Table("z.dbf", 0x8B, {z});
  USE("z.dbf");
  EXPECT_EQ(CurrentMemo()->BlockSize, 512u);
  EXPECT_EQ(ReadCurrent(), "zero means 512");
  CloseArea();
  // A memo file of a few bytes still opens; records without memo read empty.
  test::WriteFile("tiny.dbt", std::string("\x01\x00", 2));
  Table("tiny.dbf", 0x8B, {0, 0});
  USE("tiny.dbf");
  EXPECT_EQ(CurrentMemo()->BlockSize, 512u);
  EXPECT_EQ(ReadCurrent(), "");
}

TEST_F(MemoTest, MissingAndAbsentMemoFiles) {
  Table("nomemo.dbf", 0x83, {1});
  SetRaiseErrors(true);
  try {
    USE("nomemo.dbf");
    FAIL();
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()), "Error # 2 (File not found)\r\nMemo file not found: " +
                                         platform::AsciiUpper(dir_.path()) + "/NOMEMO.DBT [USE]");
  }
  EXPECT_EQ(CurrentTable(), nullptr);
  SetRaiseErrors(false);
  {
    ScopedErrorDispatch quiet(false);
    USE("nomemo.dbf");
    EXPECT_EQ(Engine().Errors.ErrorCode, 2);
    EXPECT_EQ(Engine().Errors.ErrorDetail.rfind("Problem with memo [USE(NOMEMO.DBF,<@Buffer>,", 0),
              0u)
        << Engine().Errors.ErrorDetail;
    EXPECT_EQ(CurrentTable(), nullptr);
    // Operations on a table without memo file, and without a table.
    DbfBuilder b;
    b.Field("NAME", 'C', 10).Record({"x"}).Write("plain.dbf");
    USE("plain.dbf");
    CreateBlobDescriptor(false, 1, 1);
    EXPECT_EQ(Engine().Errors.ErrorCode, 1019);
    EXPECT_EQ(Engine().Errors.ErrorDetail, platform::AsciiUpper(dir_.path()) +
                                               "/PLAIN.DBF No Memo Field [CreateBlobDescriptor]");
    DestroyBlobDescriptor();
    EXPECT_EQ(Engine().Errors.ErrorCode, 1019);
    Select(9);
    CreateBlobDescriptor(false, 1, 1);
    EXPECT_EQ(Engine().Errors.ErrorCode, 215);
    EXPECT_EQ(Engine().Errors.ErrorDetail, " [CreateBlobDescriptor]");
  }
}

TEST_F(MemoTest, LowerCaseMemoFileBesideAnUpperCaseName) {
  DbtBuilder m(false);
  const int blk = m.Add("found");
  m.Write("pc.dbt");
  Table("pc.dbf", 0x83, {blk});
  USE("PC.DBF");
  EXPECT_EQ(ReadCurrent(), "found");
}

TEST_F(MemoTest, WritingMemos) {
  ASSERT_TRUE(CreateDbf("w.dbf", {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}));
  const test::Bytes header = test::ReadFile("w.dbt");
  ASSERT_EQ(header.size(), 512u);
  EXPECT_EQ(header[0], 1);  // next free block
  EXPECT_EQ(header[20] | (header[21] << 8), 512);
  USE("w.dbf exclusive");
  std::string big(50000, 'q');
  big[100] = '\x81';
  const std::int64_t b1 = WriteMemoText("Pok\xE9mon", true);
  const std::int64_t b2 = WriteMemoText(big, false);
  EXPECT_EQ(b1, 1);
  EXPECT_EQ(b2, 2);
  ClearRecord();
  SetNativeInt(FieldAddress(2), static_cast<std::int32_t>(b1));
  ALock();
  Append();
  SetNativeInt(FieldAddress(2), static_cast<std::int32_t>(b2));
  Append();
  CloseAll();
  const test::Bytes file = test::ReadFile("w.dbt");
  // Stored OEM, with a block header; the header counts the blocks in use.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[512]), 15),
            std::string("\xFF\xFF\x08\x00\x0F\x00\x00\x00Pok\x82mon", 15));
  const std::uint32_t next = file[0] | (file[1] << 8) | (file[2] << 16);
  EXPECT_EQ(next, (file.size() + 511) / 512);
  USE("w.dbf");
  EXPECT_EQ(ReadCurrent(true), "Pok\xE9mon");
  SKIP(1);
  EXPECT_EQ(ReadCurrent(false), big);
}

// A table stored encoded (here every byte of a record and of a memo text
// XOR 0x5A) is written and read through its procedures alone: each text,
// short or longer than one read piece, is stored encoded, reads back whole
// after the table is opened again, and is found by the word scan; no plain
// text is in the memo file.
TEST_F(MemoTest, AnEncodedTablesMemoTextsGoThroughItsProcedures) {
  ASSERT_TRUE(CreateDbf("e.dbf", {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}));
  const RecordProc flip = [](std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] ^= 0x5A;
  };
  std::mt19937 rng(17);
  std::vector<std::string> texts;
  std::vector<std::int64_t> blocks;
  USE("e.dbf exclusive", nullptr, 0, flip, flip);
  ALock();
  for (int i = 0; i < 12; ++i) {
    // Letters and blanks, then a word of its own ("w7x"): no word is part
    // of another's.
    const std::size_t len =
        std::uniform_int_distribution<std::size_t>(1, i % 4 == 3 ? 70000 : 900)(rng);
    std::string t(len, ' ');
    for (char& c : t) c = rng() % 5 == 0 ? ' ' : static_cast<char>('a' + rng() % 26);
    t += " w" + std::to_string(i) + "x";
    const std::int64_t blk = WriteMemoText(t, false);
    ASSERT_GT(blk, 0) << i;
    texts.push_back(t);
    blocks.push_back(blk);
    ClearRecord();
    SetNativeInt(FieldAddress(2), static_cast<std::int32_t>(blk));
    Append();
    ASSERT_EQ(Engine().Errors.ErrorCode, 0);
  }
  CloseAll();
  const test::Bytes file = test::ReadFile("e.dbt");
  const std::string stored(file.begin(), file.end());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::string encoded = texts[i];
    for (char& c : encoded) c = static_cast<char>(c ^ 0x5A);
    EXPECT_EQ(stored.find(texts[i]), std::string::npos) << i;
    EXPECT_EQ(
        stored.compare(static_cast<std::size_t>(blocks[i]) * 512 + 8, encoded.size(), encoded), 0)
        << i;
  }

  USE("e.dbf", nullptr, 0, flip, flip);
  ASSERT_EQ(RecCount(), static_cast<std::int64_t>(texts.size()));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    GO(static_cast<std::int64_t>(i) + 1);
    ASSERT_EQ(BlockOfCurrent(), blocks[i]);
    EXPECT_EQ(ReadCurrent(), texts[i]) << i;
    WorkArea& a = *CurrentTable();
    EXPECT_TRUE(RecordHoldsText(a, FoldedWords("W" + std::to_string(i) + "X", false), false)) << i;
    EXPECT_FALSE(RecordHoldsText(a, FoldedWords("w" + std::to_string(i + 1) + "x", false), false))
        << i;
  }
  GoTop();
  ASSERT_TRUE(FindTextFrom(FoldedWords("w9x", false), false, true));
  EXPECT_EQ(RecNo(), 10);
}

// A memo writer that finds the memo file locked by another program tries
// again, 20 ms apart, eleven times in all: it gets the lock when the other
// program lets go before the last try, and fails with 1017 otherwise.
TEST_F(MemoTest, AMemoWriterWaitsForAnotherProgramsLock) {
  DbtBuilder m(false);
  const int old = m.Add("old text");
  m.Write("s.dbt");
  Table("s.dbf", 0x83, {old});
  USE("s.dbf");
  platform::File other;
  ASSERT_EQ(other.Open("s.dbt", platform::kModeShared), 0);
  constexpr std::uint64_t kLock = 0x7FFFFFFEULL;
  for (const int releaseAfter : {1, 4, 10, 11, 1000}) {
    SCOPED_TRACE(releaseAfter);
    ASSERT_EQ(other.Lock(kLock, 1), 0);
    std::vector<std::chrono::milliseconds> pauses;
    const platform::RetryPause previous = platform::SetRetryPause([&](std::chrono::milliseconds d) {
      pauses.push_back(d);
      if (static_cast<int>(pauses.size()) == releaseAfter) other.Unlock(kLock, 1);
    });
    BlobDescriptor writer;
    std::int64_t made = 0;
    try {
      made = CreateBlobDescriptor(writer, false, 0, 2);
    } catch (const EngineError&) {
      EXPECT_EQ(Engine().Errors.ErrorCode, 1017);
      ClearError();
    }
    platform::SetRetryPause(previous);
    const bool gotIt = releaseAfter <= 10;
    EXPECT_EQ(made != 0, gotIt);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(gotIt ? releaseAfter : 11,
                                                             std::chrono::milliseconds(20)));
    // The writer holds the lock until it is done; after a failure, the
    // other program still does unless it let go during the last pause,
    // which comes after the last try.
    const bool otherHolds = releaseAfter > 11;
    platform::File probe;
    ASSERT_EQ(probe.Open("s.dbt", platform::kModeShared), 0);
    EXPECT_EQ(probe.Lock(kLock, 1) != 0, gotIt || otherHolds);
    probe.Unlock(kLock, 1);
    if (gotIt) {
      ASSERT_EQ(WriteBlobStream(writer, "new", 3), 3);
      DestroyBlobDescriptor(writer);
    } else if (otherHolds) {
      other.Unlock(kLock, 1);
    }
    EXPECT_EQ(probe.Lock(kLock, 1), 0);
    probe.Unlock(kLock, 1);
  }
}

// A writer with a descriptor of its own goes on writing while the same
// table's memos are read (through the work area's descriptor and through
// other descriptors, also of the memo being written), in a shared table
// whose memo file lock the writer holds throughout. A second writer waits
// its turn (1017), and a descriptor of an earlier opening of the file
// touches nothing.
TEST_F(MemoTest, AWritersDescriptorIsNotDisturbedByReaders) {
  for (const std::uint8_t version : {std::uint8_t{0x83}, std::uint8_t{0x8B}}) {
    SCOPED_TRACE(version);
    DbtBuilder m(version == 0x8B);
    const int old = m.Add("old text");
    m.Write("s.dbt");
    Table("s.dbf", version, {old});
    USE("s.dbf");
    BlobDescriptor writer;
    const std::int64_t made = CreateBlobDescriptor(writer, false, old, 2);
    ASSERT_NE(made, 0);
    const std::int64_t block = made < 0 ? -made : made;
    // Another program cannot place a memo meanwhile.
    platform::File other;
    ASSERT_EQ(other.Open("s.dbt", platform::kModeShared), 0);
    EXPECT_NE(other.Lock(0x7FFFFFFEULL, 1), 0);
    std::string written;
    for (int piece = 0; piece < 4; ++piece) {
      const std::string part = "piece " + std::to_string(piece) + ";";
      ASSERT_EQ(WriteBlobStream(writer, part.data(), static_cast<std::int64_t>(part.size())),
                static_cast<std::int64_t>(part.size()));
      written += part;
      EXPECT_EQ(ReadCurrent(), "old text");
      EXPECT_EQ(ReadMemoText(block, false), written);
      BlobDescriptor reader;
      ASSERT_EQ(CreateBlobDescriptor(reader, false, block, 1), made);
      char buf[64] = {};
      EXPECT_EQ(ReadBlobStream(reader, buf, sizeof buf), static_cast<std::int64_t>(written.size()));
      DestroyBlobDescriptor(reader);
      BlobDescriptor second;
      EXPECT_THROW(CreateBlobDescriptor(second, false, 0, 2), EngineError);
      EXPECT_EQ(Engine().Errors.ErrorCode, 1017);
      EXPECT_FALSE(second.InUse);
      ClearError();
    }
    EXPECT_NE(other.Lock(0x7FFFFFFEULL, 1), 0);
    DestroyBlobDescriptor(writer);
    EXPECT_EQ(other.Lock(0x7FFFFFFEULL, 1), 0);
    other.Unlock(0x7FFFFFFEULL, 1);
    EXPECT_EQ(ReadMemoText(block, false), written);
    // A writer made for an earlier opening of the file writes nothing.
    BlobDescriptor stale;
    ASSERT_NE(CreateBlobDescriptor(stale, false, 0, 2), 0);
    CloseAll();
    const test::Bytes before = test::ReadFile("s.dbt");
    USE("s.dbf");
    EXPECT_EQ(WriteBlobStream(stale, "lost", 4), 0);
    DestroyBlobDescriptor(stale);
    EXPECT_EQ(test::ReadFile("s.dbt"), before);
    BlobDescriptor next;
    EXPECT_NE(CreateBlobDescriptor(next, false, 0, 2), 0);
    DestroyBlobDescriptor(next);
    CloseAll();
  }
}

TEST_F(MemoTest, EngineWrittenMemosInATerminatorFileCarryABlockHeader) {
  DbtBuilder m(false);
  const int old = m.Add("old text");
  m.Write("t.dbt");
  Table("t.dbf", 0x83, {old});
  USE("t.dbf exclusive");
  const std::int64_t blk = WriteMemoText("new text", false);
  EXPECT_EQ(blk, 2);
  SetNativeInt(FieldAddress(2), static_cast<std::int32_t>(blk));
  Replace();
  CloseAll();
  const test::Bytes file = test::ReadFile("t.dbt");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[1024]), 18),
            std::string("\xFF\xFF\x08\x00\x10\x00\x00\x00new text\x1A\x1A", 18));
  USE("t.dbf");
  EXPECT_EQ(ReadCurrent(), "new text");
}

TEST_F(MemoTest, ReadingChangesNothing) {
  DbtBuilder m(false);
  const int a = m.Add("alpha");
  const int b = m.AddRaw("open end");
  m.Write("r.dbt");
  Table("r.dbf", 0x83, {a, b});
  const test::Bytes dbf = test::ReadFile("r.dbf"), dbt = test::ReadFile("r.dbt");
  struct stat before;
  ASSERT_EQ(stat("r.dbt", &before), 0);
  Engine().Settings.ForcedFileMode = platform::kModeRead;
  USE("r.dbf");
  Engine().Settings.ForcedFileMode = -1;
  for (GoTop(); !dEOF(); SKIP(1)) {
    (void)ReadCurrent(true);
    (void)ReadCurrent(false);
  }
  CloseAll();
  EXPECT_EQ(test::ReadFile("r.dbf"), dbf);
  EXPECT_EQ(test::ReadFile("r.dbt"), dbt);
  struct stat after;
  ASSERT_EQ(stat("r.dbt", &after), 0);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST(MemoLinesTest, LineEnds) {
  EXPECT_EQ(SplitMemoLines("one\r\ntwo\rthree\x8Dsoft\r\n"),
            (std::vector<std::string>{"one", "two", "three", "soft"}));
  EXPECT_EQ(SplitMemoLines(""), std::vector<std::string>{});
  EXPECT_EQ(SplitMemoLines("\r\n\r\nx"), (std::vector<std::string>{"", "", "x"}));
  EXPECT_EQ(SplitMemoLines("no end"), std::vector<std::string>{"no end"});
  // A soft return before a plain one, each with and without a line feed;
  // a line feed alone is part of the line.
  EXPECT_EQ(SplitMemoLines("a\x8D\nb\x8D\rc\rd\ne\n\x8D\x8D"),
            (std::vector<std::string>{"a", "b", "", "c", "d\ne\n", ""}));
}

}  // namespace
}  // namespace vz
