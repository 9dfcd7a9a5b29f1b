// Small generators for version records and the ELF files that carry them:
// records written from the layout description (independently of the
// program's encoder), and ELF files of either class and byte order with any
// sections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/version.h"

namespace vz::test {

using Bytes = std::vector<std::uint8_t>;
using platform::VersionTranslation;

inline void PutLe(Bytes& out, std::size_t at, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct StringEntry {
  std::string key;
  std::string value;
};

// A record written from the layout description, independently of the
// program's encoder.
inline Bytes MakeRecord(const std::vector<VersionTranslation>& translations,
                        const std::vector<StringEntry>& strings) {
  Bytes r(16, 0);
  r[0] = 'V', r[1] = 'Z', r[2] = 'V', r[3] = 'R';
  PutLe(r, 4, 1, 2);
  PutLe(r, 6, 16, 2);
  PutLe(r, 12, translations.size(), 2);
  PutLe(r, 14, strings.size(), 2);
  for (const VersionTranslation& t : translations) {
    r.resize(r.size() + 4);
    PutLe(r, r.size() - 4, t.language, 2);
    PutLe(r, r.size() - 2, t.codePage, 2);
  }
  for (const StringEntry& s : strings) {
    const std::size_t at = r.size();
    r.resize(at + 4);
    PutLe(r, at, s.key.size() + 1, 2);
    PutLe(r, at + 2, s.value.size() + 1, 2);
    r.insert(r.end(), s.key.begin(), s.key.end());
    r.push_back(0);
    r.insert(r.end(), s.value.begin(), s.value.end());
    r.push_back(0);
  }
  PutLe(r, 8, r.size(), 4);
  return r;
}

inline std::string Key(const char* translation, const char* name) {
  return std::string("StringFileInfo\\") + translation + "\\" + name;
}

inline Bytes SampleRecord(const char* translation = "040904e4",
                          VersionTranslation t = {0x0409, 0x04E4}) {
  return MakeRecord({t}, {{Key(translation, "CompanyName"), "Vantu"},
                          {Key(translation, "FileVersion"), "1.3.0.3"},
                          {Key(translation, "Comments"), ""},
                          {Key(translation, "Author"), "A. N. Author"}});
}

struct Section {
  std::string name;
  Bytes data;
  std::uint32_t type = 1;  // SHT_PROGBITS
};

struct ElfShape {
  bool is64 = true;
  bool bigEndian = false;
  // The section count and name-table index stored in section 0, as files
  // with very many sections do.
  bool extendedNumbering = false;
};

// The byte offsets of the parts of a generated file, for tests that damage
// one part.
struct ElfLayout {
  std::size_t sectionTable = 0;
  std::size_t entrySize = 0;
  std::size_t nameTable = 0;
  std::vector<std::size_t> dataAt;  // per given section
};

// A minimal relocatable-style ELF file: header, the sections' bytes, the
// section-name table and, last, the section table (null section, the given
// sections, the name table).
inline Bytes MakeElf(const ElfShape& shape, const std::vector<Section>& sections,
                     ElfLayout* layout = nullptr) {
  const std::size_t headerSize = shape.is64 ? 64 : 52;
  const std::size_t entrySize = shape.is64 ? 64 : 40;
  Bytes out(headerSize, 0);
  auto put = [&](std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
      const int shift = shape.bigEndian ? 8 * (n - 1 - i) : 8 * i;
      out[at + i] = static_cast<std::uint8_t>(v >> shift);
    }
  };
  const int word = shape.is64 ? 8 : 4;

  ElfLayout l;
  std::string names(1, '\0');
  std::vector<std::size_t> nameAt;
  for (const Section& s : sections) {
    while (out.size() % 8) out.push_back(0);
    l.dataAt.push_back(out.size());
    out.insert(out.end(), s.data.begin(), s.data.end());
    nameAt.push_back(names.size());
    names += s.name;
    names.push_back('\0');
  }
  const std::size_t namesName = names.size();
  names += ".shstrtab";
  names.push_back('\0');
  l.nameTable = out.size();
  out.insert(out.end(), names.begin(), names.end());
  while (out.size() % 8) out.push_back(0);
  l.sectionTable = out.size();
  l.entrySize = entrySize;
  const std::size_t count = sections.size() + 2;
  out.resize(out.size() + count * entrySize, 0);

  auto putSection = [&](std::size_t index, std::uint64_t name, std::uint64_t type,
                        std::uint64_t offset, std::uint64_t size, std::uint64_t link) {
    const std::size_t at = l.sectionTable + index * entrySize;
    put(at, name, 4);
    put(at + 4, type, 4);
    if (shape.is64) {
      put(at + 0x18, offset, 8);
      put(at + 0x20, size, 8);
      put(at + 0x28, link, 4);
    } else {
      put(at + 0x10, offset, 4);
      put(at + 0x14, size, 4);
      put(at + 0x18, link, 4);
    }
  };
  const std::size_t namesIndex = count - 1;
  if (shape.extendedNumbering) putSection(0, 0, 0, 0, count, namesIndex);
  for (std::size_t i = 0; i < sections.size(); ++i)
    putSection(i + 1, nameAt[i], sections[i].type, l.dataAt[i], sections[i].data.size(), 0);
  putSection(namesIndex, namesName, 3 /* SHT_STRTAB */, l.nameTable, names.size(), 0);

  out[0] = 0x7F, out[1] = 'E', out[2] = 'L', out[3] = 'F';
  out[4] = shape.is64 ? 2 : 1;
  out[5] = shape.bigEndian ? 2 : 1;
  out[6] = 1;
  put(16, 2, 2);                            // e_type: executable
  put(18, shape.bigEndian ? 20 : 62, 2);    // e_machine
  put(20, 1, 4);                            // e_version
  const std::size_t shoff = 24 + 2 * word;  // after e_entry and e_phoff
  put(shoff, l.sectionTable, word);
  const std::size_t sizes = shoff + word + 4;  // after e_flags
  put(sizes, headerSize, 2);                   // e_ehsize
  put(sizes + 6, entrySize, 2);                // e_shentsize
  put(sizes + 8, shape.extendedNumbering ? 0 : count, 2);
  put(sizes + 10, shape.extendedNumbering ? 0xFFFF : namesIndex, 2);
  if (layout) *layout = l;
  return out;
}

inline Bytes ElfWithRecord(const Bytes& record, const ElfShape& shape = {},
                           ElfLayout* layout = nullptr) {
  return MakeElf(shape,
                 {{".text", Bytes(24, 0x90)}, {".vorza_version", record}, {".data", Bytes(8, 1)}},
                 layout);
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vz::test
