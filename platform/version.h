// Version records: the small block of version texts that the build embeds in
// the program's executable, and reading it back from any file.
//
// The record lies in an ELF section of its own, ".vorza_version". Its layout
// (all numbers little-endian, whatever the byte order of the ELF file):
//
//   offset  size  field
//        0     4  magic "VZVR"
//        4     2  format version (1)
//        6     2  header size (16 for format 1; readers skip anything beyond)
//        8     4  total size of the record, header included
//       12     2  number of translations
//       14     2  number of strings
//       16        translations: per entry a 16-bit language and a 16-bit
//                 code page (0x0409, 0x04E4 = U.S. English, Western)
//         ...     strings, one after the other, unaligned:
//                   2  key size in bytes, terminating NUL included
//                   2  value size in bytes, terminating NUL included
//                   key   e.g. "StringFileInfo\040904e4\FileVersion", NUL
//                   value UTF-8 text, NUL
//
// The record may be followed by padding up to the section's end. A record
// that does not fit its section, or whose entries do not fit the record,
// counts as no record at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vz::platform {

inline constexpr std::string_view kVersionSectionName = ".vorza_version";
inline constexpr std::array<std::uint8_t, 4> kVersionRecordMagic = {'V', 'Z', 'V', 'R'};
inline constexpr std::uint16_t kVersionRecordFormat = 1;
inline constexpr std::size_t kVersionRecordHeaderSize = 16;
// Records larger than this are taken for damage: a real one is a few hundred
// bytes, and the limit keeps a hostile file from making us allocate much.
inline constexpr std::size_t kVersionRecordMaxSize = 64 * 1024;

struct VersionTranslation {
  std::uint16_t language;
  std::uint16_t codePage;
};

struct VersionString {
  std::string_view key;  // the full query path, e.g. "StringFileInfo\\040904e4\\Author"
  std::string_view value;
};

// Encodes a record into `out` (when not null) and returns its size. Usable
// at compile time, so the build can place a finished record in the program.
// Throws std::length_error for a key or value over 65534 bytes or a record
// over kVersionRecordMaxSize (at compile time: a build error).
constexpr std::size_t EncodeVersionRecord(std::span<const VersionTranslation> translations,
                                          std::span<const VersionString> strings,
                                          std::uint8_t* out) {
  std::size_t pos = 0;
  auto put8 = [&](std::uint8_t b) {
    if (out) out[pos] = b;
    ++pos;
  };
  auto put16 = [&](std::size_t v) {
    if (v > 0xFFFF) throw std::length_error("version record entry too long");
    put8(static_cast<std::uint8_t>(v & 0xFF));
    put8(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  };
  auto putText = [&](std::string_view text) {
    for (char c : text) put8(static_cast<std::uint8_t>(c));
    put8(0);
  };
  for (std::uint8_t b : kVersionRecordMagic) put8(b);
  put16(kVersionRecordFormat);
  put16(kVersionRecordHeaderSize);
  const std::size_t totalAt = pos;
  put16(0);  // the total size, filled in below
  put16(0);
  put16(translations.size());
  put16(strings.size());
  for (const VersionTranslation& t : translations) {
    put16(t.language);
    put16(t.codePage);
  }
  for (const VersionString& s : strings) {
    put16(s.key.size() + 1);
    put16(s.value.size() + 1);
    putText(s.key);
    putText(s.value);
  }
  if (pos > kVersionRecordMaxSize) throw std::length_error("version record too large");
  if (out) {
    for (int i = 0; i < 4; ++i)
      out[totalAt + i] = static_cast<std::uint8_t>((pos >> (8 * i)) & 0xFF);
  }
  return pos;
}

// The size of the version record of a file: 0 when the file is missing,
// unreadable, not an ELF file, has no version section, or when anything on
// the way to the record (headers, section table, names, the record itself)
// is damaged. Never reads outside the file.
std::size_t VersionRecordSize(const std::string& path);

// Reads the file's version record into a caller's block of `size` bytes.
// Fails (and leaves the block as it was) when the file has no sound record
// or the block is smaller than the record.
bool ReadVersionRecord(const std::string& path, void* block, std::size_t size);

// Looks a value up in a record block of `size` bytes:
//   "\VarFileInfo\Translation" gives the translation table: 4 bytes per
//     entry, language then code page, 16 bits each, little-endian (see
//     VersionTranslationAt); absent when the record has no translations;
//   "StringFileInfo\040904e4\Key" gives the NUL-terminated value of a
//     string; `length` counts its bytes with the terminating NUL.
// A leading backslash is optional, and keys compare without regard to ASCII
// letter case. `value` points into the block. The block itself is checked,
// so any bytes may be passed.
bool QueryVersionValue(const void* block, std::size_t size, std::string_view path,
                       const void** value, std::size_t* length);

// Entry `index` of a translation table returned by QueryVersionValue.
bool VersionTranslationAt(const void* table, std::size_t length, std::size_t index,
                          VersionTranslation& out);

}  // namespace vz::platform
