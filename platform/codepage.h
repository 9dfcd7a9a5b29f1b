// Character sets: the OEM code page that table texts are stored in, the ANSI
// code page the program works in, conversion between them, ANSI letter case,
// and the one place where ANSI bytes become Unicode (UTF-8).
//
// The OEM page is 437 by default; 850 and 866 can be selected. The ANSI page
// follows from it: windows-1251 beside 866, windows-1252 otherwise. Bytes
// below 0x80 are the same in every page. Bytes without an exact counterpart
// in the other page get a fixed best fit (see gen/gen_codepages.py).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vz::platform {

// Selects the OEM code page (437, 850 or 866). Returns false, and changes
// nothing, for any other number.
bool SetOemCodePage(int codePage);
int OemCodePage();

// The name of the environment variable that picks the OEM code page.
inline constexpr const char* kOemCodePageVariable = "VORZA_OEM_CODEPAGE";
// A code page number as a user writes it ("866", blanks around allowed):
// 437, 850 or 866; 0 for anything else.
int ParseOemCodePage(std::string_view text);
// The OEM code page the user's environment asks for: VORZA_OEM_CODEPAGE
// when it is set and not empty; otherwise the locale's page: 866 when the
// language of character types (LC_ALL, else LC_CTYPE, else LANG) or of
// dates (LC_ALL, else LC_TIME, else LANG) is Russian, Ukrainian or
// Belarusian (their month and day names need it), 437 for every other one.
// A variable that names no known page gives the locale's page, and
// `problem` (when given) a message that says so; it is emptied otherwise.
int OemCodePageFromEnvironment(std::string* problem = nullptr);
// The locale's page alone, from a locale name such as "ru_RU.UTF-8".
int OemCodePageOfLocale(const std::string& localeName);
int AnsiCodePage();  // 1252, or 1251 while the OEM page is 866

// In-place and copying conversions between the two pages.
void OemToAnsi(std::uint8_t* bytes, std::size_t count);
void AnsiToOem(std::uint8_t* bytes, std::size_t count);
std::string OemToAnsi(std::string_view text);
std::string AnsiToOem(std::string_view text);
std::uint8_t OemToAnsiByte(std::uint8_t b);
std::uint8_t AnsiToOemByte(std::uint8_t b);

// ANSI letter case of the current ANSI page.
std::uint8_t AnsiUpperByte(std::uint8_t b);
std::uint8_t AnsiLowerByte(std::uint8_t b);
std::string AnsiUpper(std::string_view text);
std::string AnsiLower(std::string_view text);
// Upper-cases ASCII letters only (file names, field names).
std::string AsciiUpper(std::string_view text);

// Unicode: ANSI bytes of the current ANSI page to UTF-8 and back. Characters
// that the ANSI page cannot hold become the page's best fit or '?'.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
// OEM bytes of the current OEM page straight to UTF-8 (texts kept in OEM).
std::string OemToUtf8(std::string_view oem);
// UTF-8 text in a named code page (437, 850, 866, 1251 or 1252), whatever
// the current pages are; characters the page lacks become '?'.
std::string Utf8ToCodePage(std::string_view utf8, int codePage);

// Appends a code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// The Unicode code point of an ANSI byte / OEM byte in the current pages.
char16_t AnsiToUnicode(std::uint8_t b);
char16_t OemToUnicode(std::uint8_t b);

}  // namespace vz::platform
