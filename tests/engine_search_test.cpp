// Finding records by the words of their texts: the finder against a plain
// search, the locate scan's whole-text search against its line-by-line one,
// the scan in both directions with its progress, and a search while another
// program appends to the memo file or cuts it.
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
#include "engine/text_search.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/MemoTableTest.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;
using test::DbtBuilder;
using test::MemoField;

class SearchTest : public test::MemoTableTest {};

// A plain search of the folded text: every position, byte by byte, no line
// end inside the match.
bool PlainFind(const std::string& stored, const std::string& ansiNeedle, bool oem) {
  std::string folded = stored, needle = ansiNeedle;
  for (char& c : folded) {
    const auto b = static_cast<std::uint8_t>(c);
    c = (b == 0x0D || b == 0x8D)
            ? '\0'
            : static_cast<char>(FoldedAnsiByte(oem ? platform::OemToAnsiByte(b) : b));
  }
  for (char& c : needle) c = static_cast<char>(FoldedAnsiByte(static_cast<std::uint8_t>(c)));
  if (needle.find('\0') != std::string::npos) return false;
  return folded.find(needle) != std::string::npos;
}

TEST_F(SearchTest, TheFinderFindsWhatAPlainSearchFinds) {
  std::mt19937 rng(1501);
  static const char* kAlphabet[] = {"e", "E",    "\x82", "\x90", "a",    "A", "\xA0",
                                    "n", "\xA4", " ",    "\r",   "\x8D", "z", "q"};
  for (const int page : {437, 850, 866}) {
    platform::SetOemCodePage(page);
    for (int round = 0; round < 3000; ++round) {
      std::string text;
      const int len = static_cast<int>(rng() % 80);
      for (int i = 0; i < len; ++i)
        text += kAlphabet[rng() % (sizeof kAlphabet / sizeof kAlphabet[0])];
      std::string needle;
      const int nlen = 1 + static_cast<int>(rng() % 4);
      if (!text.empty() && rng() % 2) {
        const std::size_t at = rng() % text.size();
        needle = platform::OemToAnsi(text.substr(at, static_cast<std::size_t>(nlen)));
      } else {
        for (int i = 0; i < nlen; ++i) needle += kAlphabet[rng() % 10];
      }
      const bool oem = rng() % 2 == 0;
      const TextFinder f = TextFinder::Folded(needle, oem);
      ASSERT_EQ(f.In(text), PlainFind(text, needle, oem))
          << "page " << page << " text " << platform::VisibleText(text) << " needle "
          << platform::VisibleText(needle);
    }
  }
  platform::SetOemCodePage(437);
  // Accents and letter case do not count; the OEM byte is compared as the
  // letter it stands for.
  const std::string stored = "Le caf\x82 de G\x90rard";  // OEM 437: é, É
  for (const char* n : {"CAFE", "cafe", "caf\xE9", "CAF\xC9", "gerard", "G\xC9RARD"})
    EXPECT_TRUE(TextFinder::Folded(n, true).In(stored)) << n;
  EXPECT_FALSE(TextFinder::Folded("cafes", true).In(stored));
  // A long text: every match place around the 16-byte steps is seen.
  std::string big(5000, 'x');
  for (std::size_t at : {0u, 15u, 16u, 17u, 4990u, 4996u}) {
    std::string t = big;
    t.replace(at, 4,
              "ab\x82"
              "c");
    EXPECT_TRUE(TextFinder::Folded("abec", true).In(t)) << at;
    EXPECT_FALSE(TextFinder::Folded("abed", true).In(t)) << at;
  }
}

TEST_F(SearchTest, LocateContainedInAMemoFindsWhatTheLineReaderFinds) {
  std::mt19937 rng(42);
  static const char* kPieces[] = {"cheat", "CODE", "co", "de",        "\r\n", "\r",
                                  "\x8D",  "\n",   " ",  "\x82t\x82", "ETE"};
  for (const bool headers : {true, false}) {
    CloseAll();
    DbtBuilder m(headers);
    std::vector<int> blocks;
    std::vector<std::string> texts;
    for (int i = 0; i < 200; ++i) {
      std::string t;
      const int n = static_cast<int>(rng() % 12);
      for (int k = 0; k < n; ++k) t += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
      texts.push_back(t);
      blocks.push_back(t.empty() && rng() % 2 ? 0 : m.Add(t, 1));
    }
    m.Write("t.dbt");
    Table("t.dbf", headers ? 0x8B : 0x83, blocks);
    USE("t.dbf");
    for (const std::string value :
         {"code", "cheatco", "ETE", "\xE9T\xE9", "de co", "decode", "tc", "e"}) {
      for (const char* field : {"NOTES CONTAINED", "NOTES CONTAINED NOCASE"}) {
        // What the memo's lines hold, in the locate scan's own terms.
        const bool nocase = std::strstr(field, "NOCASE") != nullptr;
        std::int64_t expected = 0;
        const std::string v = nocase ? value : platform::AnsiUpper(value);
        for (std::size_t i = 0; i < texts.size() && expected == 0; ++i) {
          if (blocks[i] == 0) continue;
          for (const std::string& line : SplitMemoLines(texts[i])) {
            std::string mapped = platform::OemToAnsi(line);
            if (!nocase) mapped = platform::AnsiUpper(mapped);
            if (mapped.find(v) != std::string::npos) {
              expected = static_cast<std::int64_t>(i) + 1;
              break;
            }
          }
        }
        const bool found = Locate(field, value);
        EXPECT_EQ(found ? RecNo() : 0, expected) << field << " " << platform::VisibleText(value);
      }
    }
  }
}

TEST_F(SearchTest, ASearchSeesTextsAnotherProgramAppendsAndSurvivesACutMemoFile) {
  DbtBuilder m(true);
  std::vector<int> blocks;
  for (int i = 0; i < 200; ++i)
    blocks.push_back(m.Add("plain text number " + std::to_string(i), 1));
  m.Write("g.dbt");
  Table("g.dbf", 0x8B, blocks);
  const test::Bytes memo = test::ReadFile("g.dbt");
  USE("g.dbf");
  const std::vector<TextFinder> wanted = FoldedWords("needle", true);
  GoTop();
  EXPECT_FALSE(FindTextFrom(wanted, false, true));
  // Another program appends a memo that holds the word and points the last
  // record at it.
  {
    DbtBuilder more(true);
    for (int i = 0; i < 200; ++i) more.Add("plain text number " + std::to_string(i), 1);
    const int block = more.Add("a NEEDLE in the hay", 1);
    more.Write("g.dbt");
    const int fd = open("g.dbf", O_WRONLY);
    const std::string field = MemoField(block);
    const WorkArea& a = *CurrentTable();
    (void)!pwrite(fd, field.data(), field.size(),
                  static_cast<off_t>(RecordOffset(a, 200) + a.Fields[1].Offset));
    close(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kSharedWindowNs / 1000000));
  GoTop();
  ASSERT_TRUE(FindTextFrom(wanted, false, true));
  EXPECT_EQ(RecNo(), 200);
  // The memo file is cut to its first block under the search: no crash, no
  // text found in what is gone.
  {
    const int fd = open("g.dbt", O_WRONLY | O_TRUNC);
    ASSERT_EQ(write(fd, memo.data(), 512), 512);
    close(fd);
  }
  GoTop();
  EXPECT_FALSE(FindTextFrom(FoldedWords("plain", true), false, true));
}

TEST_F(SearchTest, FindTextGoesBothWaysInTheOrderAndCanBeStopped) {
  DbtBuilder m(true);
  std::vector<int> blocks;
  for (int i = 0; i < 5000; ++i)
    blocks.push_back(m.Add(i % 1000 == 500 ? "Press Start and \x82l\x82phant" : "nothing here", 1));
  m.Write("f.dbt");
  Table("f.dbf", 0x8B, blocks);
  USE("f.dbf");
  const std::vector<TextFinder> words = FoldedWords("ELEPHANT start", true);
  GoTop();
  std::vector<std::int64_t> found;
  while (FindTextFrom(words, false, true)) found.push_back(RecNo());
  EXPECT_EQ(found, (std::vector<std::int64_t>{501, 1501, 2501, 3501, 4501}));
  GoBottom();
  ASSERT_TRUE(FindTextFrom(words, false, false));
  EXPECT_EQ(RecNo(), 4501);
  ASSERT_TRUE(FindTextFrom(words, false, false));
  EXPECT_EQ(RecNo(), 3501);
  // Both words must be there; a name counts only when asked.
  EXPECT_EQ(FoldedWords("elephant missing", true).size(), 2u);
  GoTop();
  EXPECT_FALSE(FindTextFrom(FoldedWords("elephant missing", true), false, true));
  GoTop();
  EXPECT_FALSE(FindTextFrom(FoldedWords("r4501", true), false, true));
  GoTop();
  ASSERT_TRUE(FindTextFrom(FoldedWords("r4501", true), true, true));
  EXPECT_EQ(RecNo(), 4501);
  // The progress callback stops a scan.
  GoTop();
  std::int64_t calls = 0;
  EXPECT_FALSE(FindTextFrom(FoldedWords("missing", true), false, true, [&](std::int64_t looked) {
    ++calls;
    return looked < 2000;
  }));
  EXPECT_EQ(calls, 2);
  EXPECT_LT(RecNo(), 2100);
}

TEST_F(SearchTest, TheToolsGrepListsTheRecordsWhoseTextHoldsTheText) {
  // Record order is not name order; OEM 437 0x82 is e acute, 0x90 E acute.
  DbtBuilder m(false);
  const int cafe = m.Add("Le caf\x82 du coin", 1);
  const int upper = m.Add("CAFE NOIR\r\nsecond line", 1);
  const int split = m.Add("caf\r\ne across a line end", 1);
  const int other = m.Add("nothing here", 1);
  const int gone = m.Add("cafe in a deleted record", 1);
  m.Write("g.dbt");
  DbfBuilder b;
  b.Version(0x83).Field("CHEATNAME", 'C', 20).Field("CHEATMEMO", 'M', 10);
  b.Record({"Zulu", MemoField(cafe)});
  b.Record({"Alpha", MemoField(upper)});
  b.Record({"Mike", MemoField(split)});
  b.Record({"Caf\x90 name", MemoField(other)});
  b.Record({"Bravo", MemoField(gone)}, true);
  b.Write("g.dbf");
  const std::string table = test::ShellQuote(dir_.File("g.dbf"));
  std::string out, err;
  ASSERT_EQ(test::RunTool("grep " + table + " cafe", &out, &err), 0) << err;
  EXPECT_EQ(out, "1\t-\tZulu\t1\n2\t-\tAlpha\t2\n");
  ASSERT_EQ(
      test::RunTool("grep " + table + " " + test::ShellQuote("CAFÉ") + " --names", &out, &err), 0)
      << err;
  EXPECT_EQ(out, "1\t-\tZulu\t1\n2\t-\tAlpha\t2\n4\t-\tCafÉ name\t4\n");
  const std::string ndx = test::ShellQuote(dir_.File("names.ndx"));
  ASSERT_EQ(test::RunTool("index " + table + " CHEATNAME " + ndx, &out, &err), 0) << err;
  ASSERT_EQ(test::RunTool("grep " + table + " cafe --names --index " + ndx, &out, &err), 0) << err;
  EXPECT_EQ(out, "2\t-\tAlpha\t2\n4\t-\tCafÉ name\t4\n1\t-\tZulu\t1\n");
  ASSERT_EQ(test::RunTool("grep " + table + " " + test::ShellQuote("no such text"), &out, &err), 0)
      << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(test::RunTool("grep " + table + " ''", &out, &err), 64);
  // The locate scan's CONTAINED finds the same first record.
  ASSERT_EQ(
      test::RunTool("locate " + table + " " + test::ShellQuote("cheatmemo contained") + " noir",
                    &out, &err),
      0)
      << err;
  EXPECT_EQ(out, "2\n");
}

}  // namespace
}  // namespace vz
