#include "platform/codepage.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <unordered_map>

#include "platform/clock.h"

namespace vz::platform {
namespace {

#include "platform/codepage_tables.inc"

struct Pages {
  int oem = 437;
  int ansi = 1252;
  const unsigned char* oemToAnsi = kOem437ToAnsi1252;
  const unsigned char* ansiToOem = kAnsi1252ToOem437;
  const char16_t* oemUnicode = kUnicode437;
  const char16_t* ansiUnicode = kUnicode1252;
  const unsigned char* upper = kUpper1252;
  const unsigned char* lower = kLower1252;
};

// The code pages selected for this process. The platform layer lies below
// the engine and is used without it, so it keeps the selection itself; the
// engine context's Reset puts 437 back.
Pages& Current() {
  static Pages pages;
  return pages;
}

// Unicode -> ANSI byte for the current ANSI page, built on first use: a
// cache of what the constant tables say, not a setting.
const std::unordered_map<char32_t, std::uint8_t>& UnicodeToAnsiMap() {
  static std::unordered_map<char32_t, std::uint8_t> maps[2];
  static bool built[2] = {false, false};
  const int which = Current().ansi == 1251 ? 1 : 0;
  if (!built[which]) {
    const char16_t* table = which ? kUnicode1251 : kUnicode1252;
    auto& m = maps[which];
    for (int b = 255; b >= 0; --b) m[table[b]] = static_cast<std::uint8_t>(b);
    // Characters of the other Unicode blocks that the page lacks: take the
    // best fit the OEM tables use, through the OEM pages' own characters.
    for (const char16_t* oem : {kUnicode437, kUnicode850, kUnicode866}) {
      const unsigned char* toAnsi =
          oem == kUnicode866 ? kOem866ToAnsi1251
                             : (oem == kUnicode437 ? kOem437ToAnsi1252 : kOem850ToAnsi1252);
      if ((oem == kUnicode866) != (which == 1)) continue;
      for (int b = 128; b < 256; ++b) m.emplace(oem[b], toAnsi[b]);
    }
    built[which] = true;
  }
  return maps[which];
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool SetOemCodePage(int codePage) {
  Pages& p = Current();
  switch (codePage) {
    case 437: p = Pages{}; return true;
    case 850:
      p = Pages{850,         1252,         kOem850ToAnsi1252, kAnsi1252ToOem850,
                kUnicode850, kUnicode1252, kUpper1252,        kLower1252};
      return true;
    case 866:
      p = Pages{866,         1251,         kOem866ToAnsi1251, kAnsi1251ToOem866,
                kUnicode866, kUnicode1251, kUpper1251,        kLower1251};
      return true;
    default: return false;
  }
}

int OemCodePage() {
  return Current().oem;
}

int ParseOemCodePage(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  const std::string_view t = text.substr(b, e - b);
  if (t == "437") return 437;
  if (t == "850") return 850;
  if (t == "866") return 866;
  return 0;
}

int OemCodePageOfLocale(const std::string& localeName) {
  const std::string language = ParseLocaleName(localeName).language;
  return language == "ru" || language == "uk" || language == "be" ? 866 : 437;
}

int OemCodePageFromEnvironment(std::string* problem) {
  if (problem) problem->clear();
  // The first of the variables that is set and not empty.
  auto locale = [](std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (const char* v = std::getenv(name); v && *v) return std::string(v);
    return std::string();
  };
  const int ctype = OemCodePageOfLocale(locale({"LC_ALL", "LC_CTYPE", "LANG"}));
  const int time = OemCodePageOfLocale(locale({"LC_ALL", "LC_TIME", "LANG"}));
  const int ofLocale = ctype == 866 || time == 866 ? 866 : 437;
  const char* chosen = std::getenv(kOemCodePageVariable);
  if (!chosen || !*chosen) return ofLocale;
  if (const int page = ParseOemCodePage(chosen)) return page;
  if (problem)
    *problem = std::string(kOemCodePageVariable) + "=" + chosen +
               ": not a code page this program knows (437, 850 or 866)";
  return ofLocale;
}
int AnsiCodePage() {
  return Current().ansi;
}

std::uint8_t OemToAnsiByte(std::uint8_t b) {
  return Current().oemToAnsi[b];
}
std::uint8_t AnsiToOemByte(std::uint8_t b) {
  return Current().ansiToOem[b];
}

namespace {

// Every table here leaves the bytes below 0x80 as they are (the pages share
// ASCII), so eight such bytes in a row are passed over at once: names and
// texts are mostly ASCII.
void Translate(const unsigned char* table, std::uint8_t* bytes, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if ((word & 0x8080808080808080ULL) == 0) continue;
    for (std::size_t k = i; k < i + 8; ++k) bytes[k] = table[bytes[k]];
  }
  if (i < count && count >= 8) {
    // The bytes left over end a word that also holds bytes already done.
    std::uint64_t word;
    std::memcpy(&word, bytes + count - 8, 8);
    if ((word & 0x8080808080808080ULL) == 0) return;
  }
  for (; i < count; ++i) bytes[i] = table[bytes[i]];
}

}  // namespace

void OemToAnsi(std::uint8_t* bytes, std::size_t count) {
  Translate(Current().oemToAnsi, bytes, count);
}

void AnsiToOem(std::uint8_t* bytes, std::size_t count) {
  Translate(Current().ansiToOem, bytes, count);
}

std::string OemToAnsi(std::string_view text) {
  std::string out(text);
  OemToAnsi(reinterpret_cast<std::uint8_t*>(out.data()), out.size());
  return out;
}

std::string AnsiToOem(std::string_view text) {
  std::string out(text);
  AnsiToOem(reinterpret_cast<std::uint8_t*>(out.data()), out.size());
  return out;
}

std::uint8_t AnsiUpperByte(std::uint8_t b) {
  return Current().upper[b];
}
std::uint8_t AnsiLowerByte(std::uint8_t b) {
  return Current().lower[b];
}

std::string AnsiUpper(std::string_view text) {
  std::string out(text);
  const unsigned char* t = Current().upper;
  for (char& c : out) c = static_cast<char>(t[static_cast<std::uint8_t>(c)]);
  return out;
}

std::string AnsiLower(std::string_view text) {
  std::string out(text);
  const unsigned char* t = Current().lower;
  for (char& c : out) c = static_cast<char>(t[static_cast<std::uint8_t>(c)]);
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

char16_t AnsiToUnicode(std::uint8_t b) {
  return Current().ansiUnicode[b];
}
char16_t OemToUnicode(std::uint8_t b) {
  return Current().oemUnicode[b];
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 4);
  const char16_t* t = Current().ansiUnicode;
  for (char c : ansi) AppendUtf8(out, t[static_cast<std::uint8_t>(c)]);
  return out;
}

std::string OemToUtf8(std::string_view oem) {
  std::string out;
  out.reserve(oem.size() + oem.size() / 4);
  const char16_t* t = Current().oemUnicode;
  for (char c : oem) AppendUtf8(out, t[static_cast<std::uint8_t>(c)]);
  return out;
}

namespace {

// Decodes UTF-8 and maps each code point through `map`; '?' for what the
// map lacks and for malformed sequences.
std::string MapUtf8(std::string_view utf8, const std::unordered_map<char32_t, std::uint8_t>& map) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<std::uint8_t>(utf8[i]);
    char32_t cp;
    std::size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out += '?';  // a stray continuation byte or an invalid lead byte
      ++i;
      continue;
    }
    bool ok = i + len <= utf8.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<std::uint8_t>(utf8[i + k]);
      if ((cc & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    i += len;
    auto it = map.find(cp);
    out += it != map.end() ? static_cast<char>(it->second) : '?';
  }
  return out;
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8) {
  return MapUtf8(utf8, UnicodeToAnsiMap());
}

std::string Utf8ToCodePage(std::string_view utf8, int codePage) {
  const char16_t* table = nullptr;
  switch (codePage) {
    case 437: table = kUnicode437; break;
    case 850: table = kUnicode850; break;
    case 866: table = kUnicode866; break;
    case 1251: table = kUnicode1251; break;
    case 1252: table = kUnicode1252; break;
    default: return std::string(utf8);
  }
  std::unordered_map<char32_t, std::uint8_t> map;
  for (int b = 255; b >= 0; --b) map[table[b]] = static_cast<std::uint8_t>(b);
  return MapUtf8(utf8, map);
}

}  // namespace vz::platform
