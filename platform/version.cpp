#include "platform/version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/little_endian.h"

namespace vz::platform {
namespace {

// --- Reading a file ---------------------------------------------------------------------------

// A regular file opened for reading, with reads that either deliver every
// byte asked for or fail.
class InputFile {
 public:
  explicit InputFile(const std::string& path) {
    // Non-blocking, so that a FIFO without a writer does not hang the open;
    // anything but a regular file is refused below.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
  }
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  std::uint64_t Size() const { return size_; }

  // True when [offset, offset + count) lies inside the file.
  bool Holds(std::uint64_t offset, std::uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (!Holds(offset, count)) return false;
    auto* p = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
      const ssize_t n = ::pread(fd_, p, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // an error, or the file shrank under us
      p += n;
      offset += static_cast<std::uint64_t>(n);
      count -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// --- ELF ----------------------------------------------------------------------------------------

constexpr std::size_t kIdentSize = 16;
constexpr int kClass32 = 1, kClass64 = 2;
constexpr int kDataLittle = 1, kDataBig = 2;
constexpr std::uint32_t kSectionNoBits = 8;                // SHT_NOBITS: no bytes in the file
constexpr std::uint32_t kSectionIndexEscape = 0xFFFF;      // SHN_XINDEX
constexpr std::uint32_t kSectionIndexLowReserve = 0xFF00;  // SHN_LORESERVE
// Section tables and name tables larger than this are not from a sane
// program; refusing them bounds what a hostile header can make us allocate.
constexpr std::uint64_t kMaxTableBytes = 16u * 1024 * 1024;

// Decodes the integers of one ELF file: its class sets the widths, its data
// encoding the byte order.
class ElfReader {
 public:
  ElfReader(bool is64, bool bigEndian) : is64_(is64), big_(bigEndian) {}

  std::uint64_t U16(const std::uint8_t* p) const { return Uint(p, 2); }
  std::uint64_t U32(const std::uint8_t* p) const { return Uint(p, 4); }
  std::uint64_t U64(const std::uint8_t* p) const { return Uint(p, 8); }
  // An address-sized or offset-sized field ("Word" of the class).
  std::uint64_t Word(const std::uint8_t* p) const { return is64_ ? U64(p) : U32(p); }

  bool Is64() const { return is64_; }
  std::size_t HeaderSize() const { return is64_ ? 64 : 52; }
  std::size_t SectionHeaderSize() const { return is64_ ? 64 : 40; }

  // Field offsets in the file header.
  std::size_t SectionTableOffsetField() const { return is64_ ? 0x28 : 0x20; }
  std::size_t SectionEntrySizeField() const { return is64_ ? 0x3A : 0x2E; }
  std::size_t SectionCountField() const { return is64_ ? 0x3C : 0x30; }
  std::size_t NameTableIndexField() const { return is64_ ? 0x3E : 0x32; }

  struct Section {
    std::uint64_t name = 0;
    std::uint64_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t link = 0;
  };
  Section ReadSection(const std::uint8_t* p) const {
    Section s;
    s.name = U32(p);
    s.type = U32(p + 4);
    if (is64_) {
      s.offset = U64(p + 0x18);
      s.size = U64(p + 0x20);
      s.link = U32(p + 0x28);
    } else {
      s.offset = U32(p + 0x10);
      s.size = U32(p + 0x14);
      s.link = U32(p + 0x18);
    }
    return s;
  }

 private:
  std::uint64_t Uint(const std::uint8_t* p, int n) const {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
      const std::uint8_t b = big_ ? p[i] : p[n - 1 - i];
      v = (v << 8) | b;
    }
    return v;
  }

  bool is64_;
  bool big_;
};

// The place of the version section in the file, if it has one that lies
// wholly inside the file.
struct SectionPlace {
  std::uint64_t offset;
  std::uint64_t size;
};

std::optional<SectionPlace> FindVersionSection(const InputFile& file) {
  std::uint8_t ident[kIdentSize];
  if (!file.ReadAt(0, ident, sizeof ident)) return std::nullopt;
  if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F')
    return std::nullopt;
  if (ident[4] != kClass32 && ident[4] != kClass64) return std::nullopt;
  if (ident[5] != kDataLittle && ident[5] != kDataBig) return std::nullopt;
  if (ident[6] != 1) return std::nullopt;  // EV_CURRENT
  const ElfReader elf(ident[4] == kClass64, ident[5] == kDataBig);

  std::uint8_t header[64];
  if (!file.ReadAt(0, header, elf.HeaderSize())) return std::nullopt;
  const std::uint64_t tableOffset = elf.Word(header + elf.SectionTableOffsetField());
  const std::uint64_t entrySize = elf.U16(header + elf.SectionEntrySizeField());
  std::uint64_t count = elf.U16(header + elf.SectionCountField());
  std::uint64_t namesIndex = elf.U16(header + elf.NameTableIndexField());
  if (tableOffset == 0 || entrySize < elf.SectionHeaderSize()) return std::nullopt;

  // Section 0 carries the real count and name-table index when they do not
  // fit the file header's 16-bit fields.
  std::vector<std::uint8_t> entry(entrySize);
  if (!file.ReadAt(tableOffset, entry.data(), entry.size())) return std::nullopt;
  const ElfReader::Section first = elf.ReadSection(entry.data());
  if (count == 0) count = first.size;
  if (namesIndex == kSectionIndexEscape)
    namesIndex = first.link;
  else if (namesIndex >= kSectionIndexLowReserve)
    return std::nullopt;
  if (count == 0 || namesIndex >= count) return std::nullopt;
  if (count > kMaxTableBytes / entrySize) return std::nullopt;
  const std::uint64_t tableBytes = count * entrySize;
  if (!file.Holds(tableOffset, tableBytes)) return std::nullopt;

  std::vector<std::uint8_t> table(static_cast<std::size_t>(tableBytes));
  if (!file.ReadAt(tableOffset, table.data(), table.size())) return std::nullopt;
  auto sectionAt = [&](std::uint64_t i) {
    return elf.ReadSection(table.data() + static_cast<std::size_t>(i * entrySize));
  };

  const ElfReader::Section names = sectionAt(namesIndex);
  if (names.type == kSectionNoBits || names.size == 0 || names.size > kMaxTableBytes)
    return std::nullopt;
  if (!file.Holds(names.offset, names.size)) return std::nullopt;
  std::vector<char> nameTable(static_cast<std::size_t>(names.size));
  if (!file.ReadAt(names.offset, nameTable.data(), nameTable.size())) return std::nullopt;

  for (std::uint64_t i = 1; i < count; ++i) {
    const ElfReader::Section s = sectionAt(i);
    // The name must lie inside the name table with its terminating NUL.
    if (s.name >= nameTable.size()) continue;
    const std::size_t left = nameTable.size() - static_cast<std::size_t>(s.name);
    if (left < kVersionSectionName.size() + 1) continue;
    const char* name = nameTable.data() + s.name;
    if (std::memcmp(name, kVersionSectionName.data(), kVersionSectionName.size()) != 0 ||
        name[kVersionSectionName.size()] != '\0')
      continue;
    if (s.type == kSectionNoBits || !file.Holds(s.offset, s.size)) return std::nullopt;
    return SectionPlace{s.offset, s.size};
  }
  return std::nullopt;
}

// --- The record ---------------------------------------------------------------------------------

// A checked view of a record: every part lies inside the record, which lies
// inside the bytes it was found in.
struct RecordView {
  const std::uint8_t* base = nullptr;
  std::size_t size = 0;  // the record's total size
  std::size_t translationsAt = 0;
  std::size_t translationCount = 0;
  std::size_t stringsAt = 0;
  std::size_t stringCount = 0;
};

// Walks the string entries of a checked record; stops early when `visit`
// returns true. Returns false when an entry does not fit.
template <typename Visit>
bool ForEachString(const std::uint8_t* base, std::size_t size, std::size_t at, std::size_t count,
                   Visit visit) {
  for (std::size_t i = 0; i < count; ++i) {
    if (at > size || size - at < 4) return false;
    const std::size_t keySize = LoadLe16(base + at);
    const std::size_t valueSize = LoadLe16(base + at + 2);
    at += 4;
    if (keySize < 1 || valueSize < 1 || size - at < keySize || size - at - keySize < valueSize)
      return false;
    const std::uint8_t* key = base + at;
    const std::uint8_t* value = key + keySize;
    if (key[keySize - 1] != 0 || value[valueSize - 1] != 0) return false;
    at += keySize + valueSize;
    if (visit(std::string_view(reinterpret_cast<const char*>(key), keySize - 1), value, valueSize))
      return true;
  }
  return true;
}

std::optional<RecordView> CheckRecord(const void* block, std::size_t available) {
  if (!block || available < kVersionRecordHeaderSize) return std::nullopt;
  const auto* p = static_cast<const std::uint8_t*>(block);
  for (std::size_t i = 0; i < kVersionRecordMagic.size(); ++i)
    if (p[i] != kVersionRecordMagic[i]) return std::nullopt;
  if (LoadLe16(p + 4) != kVersionRecordFormat) return std::nullopt;
  RecordView r;
  r.base = p;
  const std::size_t headerSize = LoadLe16(p + 6);
  r.size = LoadLe32(p + 8);
  r.translationCount = LoadLe16(p + 12);
  r.stringCount = LoadLe16(p + 14);
  if (headerSize < kVersionRecordHeaderSize || r.size < headerSize || r.size > available ||
      r.size > kVersionRecordMaxSize)
    return std::nullopt;
  r.translationsAt = headerSize;
  if ((r.size - headerSize) / 4 < r.translationCount) return std::nullopt;
  r.stringsAt = headerSize + 4 * r.translationCount;
  const bool fits =
      ForEachString(p, r.size, r.stringsAt, r.stringCount,
                    [](std::string_view, const std::uint8_t*, std::size_t) { return false; });
  if (!fits) return std::nullopt;
  return r;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// Reads and checks the record of a file; an empty vector when it has none.
std::vector<std::uint8_t> LoadRecord(const std::string& path) {
  InputFile file(path);
  if (!file.IsOpen()) return {};
  const std::optional<SectionPlace> section = FindVersionSection(file);
  if (!section || section->size < kVersionRecordHeaderSize) return {};
  std::uint8_t header[kVersionRecordHeaderSize];
  if (!file.ReadAt(section->offset, header, sizeof header)) return {};
  const std::size_t total = LoadLe32(header + 8);
  if (total < kVersionRecordHeaderSize || total > kVersionRecordMaxSize || total > section->size)
    return {};
  std::vector<std::uint8_t> record(total);
  if (!file.ReadAt(section->offset, record.data(), record.size())) return {};
  if (!CheckRecord(record.data(), record.size())) return {};
  return record;
}

}  // namespace

std::size_t VersionRecordSize(const std::string& path) {
  return LoadRecord(path).size();
}

bool ReadVersionRecord(const std::string& path, void* block, std::size_t size) {
  if (!block) return false;
  const std::vector<std::uint8_t> record = LoadRecord(path);
  if (record.empty() || size < record.size()) return false;
  std::memcpy(block, record.data(), record.size());
  return true;
}

bool QueryVersionValue(const void* block, std::size_t size, std::string_view path,
                       const void** value, std::size_t* length) {
  const std::optional<RecordView> r = CheckRecord(block, size);
  if (!r) return false;
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);

  const void* found = nullptr;
  std::size_t foundLength = 0;
  if (EqualsIgnoringAsciiCase(path, "VarFileInfo\\Translation")) {
    if (r->translationCount == 0) return false;
    found = r->base + r->translationsAt;
    foundLength = 4 * r->translationCount;
  } else {
    ForEachString(r->base, r->size, r->stringsAt, r->stringCount,
                  [&](std::string_view key, const std::uint8_t* text, std::size_t textSize) {
                    if (!EqualsIgnoringAsciiCase(key, path)) return false;
                    found = text;
                    foundLength = textSize;
                    return true;
                  });
    if (!found) return false;
  }
  if (value) *value = found;
  if (length) *length = foundLength;
  return true;
}

bool VersionTranslationAt(const void* table, std::size_t length, std::size_t index,
                          VersionTranslation& out) {
  if (!table || index >= length / 4) return false;
  const auto* p = static_cast<const std::uint8_t*>(table) + 4 * index;
  out.language = static_cast<std::uint16_t>(LoadLe16(p));
  out.codePage = static_cast<std::uint16_t>(LoadLe16(p + 2));
  return true;
}

}  // namespace vz::platform
