// The code page tables against the system's iconv, the best fits, letter
// case and the UTF-8 edge.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace vz::platform {
namespace {

// Unicode of one byte in a code page by iconv, or -1 when iconv has none.
long IconvUnicode(const char* page, unsigned char byte) {
  iconv_t cd = iconv_open("UTF-32LE", page);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -2;
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[8] = {};
  char* ip = in;
  char* op = reinterpret_cast<char*>(out);
  size_t il = 1, ol = sizeof out;
  const size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || ol != 4) return -1;
  return out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<long>(out[3]) << 24);
}

struct Pair {
  int oem;
  const char* oemName;
  int ansi;
  const char* ansiName;
  int bestFits;
};

// A pair's name, in the test's name too: "CP437_CP1252".
std::string PairName(const Pair& p) {
  return std::string(p.oemName) + "_" + p.ansiName;
}
void PrintTo(const Pair& p, std::ostream* os) {
  *os << PairName(p);
}

class CodePageTest : public ::testing::TestWithParam<Pair> {
 protected:
  void SetUp() override { ASSERT_TRUE(SetOemCodePage(GetParam().oem)); }
  void TearDown() override { SetOemCodePage(437); }
};

TEST_P(CodePageTest, TablesAgreeWithIconv) {
  const Pair p = GetParam();
  EXPECT_EQ(AnsiCodePage(), p.ansi);
  int fitted = 0;
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    const long uo = IconvUnicode(p.oemName, byte);
    ASSERT_NE(uo, -2) << "iconv lacks " << p.oemName;
    EXPECT_EQ(static_cast<long>(OemToUnicode(byte)), uo) << p.oemName << " byte " << b;
    const long ua = IconvUnicode(p.ansiName, byte);
    if (ua >= 0) {
      EXPECT_EQ(static_cast<long>(AnsiToUnicode(byte)), ua) << p.ansiName << " " << b;
    }
    // OEM -> ANSI is exact wherever the ANSI page has the character.
    const std::uint8_t a = OemToAnsiByte(byte);
    if (AnsiToUnicode(a) == OemToUnicode(byte)) {
      EXPECT_EQ(AnsiToOemByte(a), byte) << "round trip of " << b;
    } else {
      ++fitted;
      // A best fit is never a control character and is not used for a
      // character that has an exact counterpart.
      EXPECT_GE(a, 0x20) << b;
      for (int x = 0; x < 256; ++x)
        EXPECT_NE(AnsiToUnicode(static_cast<std::uint8_t>(x)), OemToUnicode(byte)) << b;
    }
  }
  EXPECT_EQ(fitted, p.bestFits);
}

TEST_P(CodePageTest, AsciiIsTheSameInEveryPage) {
  for (int b = 0; b < 128; ++b) {
    EXPECT_EQ(OemToAnsiByte(static_cast<std::uint8_t>(b)), b);
    EXPECT_EQ(AnsiToOemByte(static_cast<std::uint8_t>(b)), b);
  }
}

// Whole texts convert as their bytes do one by one, whatever mix of ASCII
// and other bytes, length and alignment they have.
TEST_P(CodePageTest, TextsConvertAsTheirBytesDo) {
  std::mt19937 rng(GetParam().oem);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> text(rng() % 40);
    const unsigned highShare = rng() % 4;  // none, a few, many, most
    for (auto& b : text)
      b = static_cast<std::uint8_t>(rng() % 4 < highShare ? 0x80 + rng() % 128 : rng() % 128);
    const std::size_t from = text.empty() ? 0 : rng() % text.size();
    std::vector<std::uint8_t> toAnsi = text, toOem = text;
    OemToAnsi(toAnsi.data() + from, text.size() - from);
    AnsiToOem(toOem.data() + from, text.size() - from);
    for (std::size_t i = 0; i < text.size(); ++i) {
      ASSERT_EQ(toAnsi[i], i < from ? text[i] : OemToAnsiByte(text[i]))
          << "round " << round << " byte " << i;
      ASSERT_EQ(toOem[i], i < from ? text[i] : AnsiToOemByte(text[i]))
          << "round " << round << " byte " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, CodePageTest,
                         ::testing::Values(Pair{437, "CP437", 1252, "CP1252", 74},
                                           Pair{850, "CP850", 1252, "CP1252", 31},
                                           Pair{866, "CP866", 1251, "CP1251", 51}),
                         [](const ::testing::TestParamInfo<Pair>& info) {
                           return PairName(info.param);
                         });

TEST(CodePage, KnownBytes) {
  SetOemCodePage(437);
  EXPECT_EQ(OemToAnsiByte(0x81), 0xFC);  // u with diaeresis
  EXPECT_EQ(OemToAnsiByte(0x82), 0xE9);  // e acute
  EXPECT_EQ(AnsiToOemByte(0xE9), 0x82);
  EXPECT_EQ(OemToAnsiByte(0xC4), '-');  // box drawing, horizontal
  EXPECT_EQ(OemToAnsiByte(0xB3), '|');  // box drawing, vertical
  EXPECT_EQ(OemToAnsiByte(0xC5), '+');  // box drawing, cross
  EXPECT_EQ(AnsiToOemByte(0xC0), 'A');  // A grave is not in 437
  EXPECT_EQ(OemToAnsi(std::string("Pok\x82mon")), "Pok\xE9mon");
  EXPECT_EQ(AnsiToOem(std::string("Pok\xE9mon")), "Pok\x82mon");
  EXPECT_FALSE(SetOemCodePage(1252));
  EXPECT_EQ(OemCodePage(), 437);
}

TEST(CodePage, AnsiCase) {
  SetOemCodePage(437);
  EXPECT_EQ(AnsiUpper("abc\xE4\xFF\x9A xyz"), "ABC\xC4\x9F\x8A XYZ");
  EXPECT_EQ(AnsiLower("ABC\xC4\x8A"), "abc\xE4\x9A");
  EXPECT_EQ(AnsiUpperByte(0xDF), 0xDF);  // sharp s has no single capital
  EXPECT_EQ(AnsiUpperByte(0xB5), 0xB5);  // micro sign stays
  EXPECT_EQ(AnsiUpperByte(0xF7), 0xF7);  // division sign is no letter
  EXPECT_EQ(AsciiUpper("pc.dbf\xE4"), "PC.DBF\xE4");
  SetOemCodePage(866);
  EXPECT_EQ(AnsiUpper("\xE0\xFF\xB8"), "\xC0\xDF\xA8");  // a, ya, yo in 1251
  SetOemCodePage(437);
}

TEST(CodePage, Utf8) {
  SetOemCodePage(437);
  EXPECT_EQ(AnsiToUtf8("Pok\xE9mon \x80"), "Pok\xC3\xA9mon \xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("Pok\xC3\xA9mon \xE2\x82\xAC"), "Pok\xE9mon \x80");
  EXPECT_EQ(Utf8ToAnsi("\xE2\x94\x80"), "-");      // box drawing takes the best fit
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "?");  // not in the page
  EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");            // cut sequence
  EXPECT_EQ(Utf8ToAnsi("\x80z"), "?z");            // stray continuation byte
  EXPECT_EQ(OemToUtf8("\x81"), "\xC3\xBC");
  EXPECT_EQ(Utf8ToCodePage("\xD0\x90", 866), "\x80");
  EXPECT_EQ(Utf8ToCodePage("\xC3\xA9", 437), "\x82");
}

// The environment's page: the variable, else the locale's language of
// character types or of dates.
TEST(CodePage, FromTheEnvironment) {
  const char* const names[] = {"LC_ALL", "LC_CTYPE", "LC_TIME", "LANG", "VORZA_OEM_CODEPAGE"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* n : names)
    if (const char* v = std::getenv(n)) saved.emplace_back(n, v);
  struct Case {
    std::vector<std::pair<const char*, const char*>> env;
    int page;
    bool problem;
  };
  const Case cases[] = {
      {{}, 437, false},
      {{{"LANG", "ru_RU.UTF-8"}}, 866, false},
      {{{"LANG", "uk_UA"}}, 866, false},
      {{{"LANG", "be_BY.UTF-8"}}, 866, false},
      {{{"LANG", "de_DE.UTF-8"}}, 437, false},
      {{{"LANG", "C"}}, 437, false},
      {{{"LC_ALL", "en_US.UTF-8"}, {"LANG", "ru_RU.UTF-8"}}, 437, false},
      {{{"LC_ALL", "ru_RU.UTF-8"}, {"LANG", "en_US.UTF-8"}}, 866, false},
      {{{"LC_CTYPE", "ru_RU.UTF-8"}, {"LANG", "en_US.UTF-8"}}, 866, false},
      {{{"LC_TIME", "ru_RU.UTF-8"}, {"LANG", "en_US.UTF-8"}}, 866, false},
      {{{"LC_CTYPE", "en_US.UTF-8"}, {"LANG", "ru_RU.UTF-8"}},
       866,
       false},  // the dates still Russian
      {{{"LC_CTYPE", "en_US.UTF-8"}, {"LC_TIME", "C"}, {"LANG", "ru_RU.UTF-8"}}, 437, false},
      {{{"LC_ALL", ""}, {"LANG", "ru_RU"}}, 866, false},
      {{{"VORZA_OEM_CODEPAGE", "850"}, {"LANG", "ru_RU.UTF-8"}}, 850, false},
      {{{"VORZA_OEM_CODEPAGE", " 866 "}}, 866, false},
      {{{"VORZA_OEM_CODEPAGE", "437"}, {"LC_ALL", "ru_RU"}}, 437, false},
      {{{"VORZA_OEM_CODEPAGE", ""}, {"LC_ALL", "ru_RU"}}, 866, false},
      {{{"VORZA_OEM_CODEPAGE", "1251"}, {"LC_ALL", "ru_RU"}}, 866, true},
      {{{"VORZA_OEM_CODEPAGE", "cp850"}}, 437, true},
  };
  for (const Case& c : cases) {
    for (const char* n : names) unsetenv(n);
    std::string what;
    for (const auto& [name, value] : c.env) {
      setenv(name, value, 1);
      what += std::string(name) + "=" + value + " ";
    }
    std::string problem = "old";
    EXPECT_EQ(OemCodePageFromEnvironment(&problem), c.page) << what;
    EXPECT_EQ(!problem.empty(), c.problem) << what << problem;
    if (c.problem) {
      EXPECT_NE(problem.find("437, 850 or 866"), std::string::npos) << problem;
    }
  }
  for (const char* n : names) unsetenv(n);
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  EXPECT_EQ(ParseOemCodePage("866"), 866);
  EXPECT_EQ(ParseOemCodePage("8 66"), 0);
  EXPECT_EQ(ParseOemCodePage("-437"), 0);
  EXPECT_EQ(ParseOemCodePage(""), 0);
}

}  // namespace
}  // namespace vz::platform
