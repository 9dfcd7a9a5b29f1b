// The input is a file that may hold a version record (an ELF file with a
// ".vorza_version" section). Its record is sized and read as the version
// information component does (also into a block one byte too small, which
// must fail), and queried for the translation and every key the component
// asks for, under the first translation and under the default one. The
// input's bytes are also queried directly as a record block, since the
// query accepts any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/version.h"

using namespace vz;

namespace {

volatile std::uint64_t gSink = 0;

const char* const kKeys[] = {"CompanyName",      "FileDescription", "FileVersion",
                             "InternalName",     "LegalCopyright",  "LegalTradeMarks",
                             "OriginalFilename", "ProductName",     "ProductVersion",
                             "Author",           "Comments",        "Registry"};

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04x", v & 0xFFFFu);
  return buf;
}

// Every query the version information component makes, and a few more.
void Query(const void* block, std::size_t size) {
  const void* value = nullptr;
  std::size_t length = 0;
  platform::VersionTranslation first{1033, 1252};
  if (platform::QueryVersionValue(block, size, "\\VarFileInfo\\Translation", &value, &length)) {
    // The value must lie inside the block.
    const auto* v = static_cast<const std::uint8_t*>(value);
    const auto* b = static_cast<const std::uint8_t*>(block);
    if (v < b || length > size || static_cast<std::size_t>(v - b) > size - length) {
      std::fprintf(stderr, "fuzz_version: the translation table lies outside the block\n");
      std::abort();
    }
    for (std::size_t i = 0; i < length / 4 + 2; ++i) {
      platform::VersionTranslation t{};
      if (platform::VersionTranslationAt(value, length, i, t)) {
        gSink = gSink + t.language + t.codePage;
        if (i == 0) first = t;
      }
    }
  }
  for (const platform::VersionTranslation& t :
       {first, platform::VersionTranslation{0x0409, 0x04E4}}) {
    const std::string prefix = "StringFileInfo\\" + Hex4(t.language) + Hex4(t.codePage) + "\\";
    for (const char* key : kKeys) {
      for (const std::string& path : {prefix + key, "\\" + prefix + key}) {
        if (!platform::QueryVersionValue(block, size, path, &value, &length)) continue;
        const auto* v = static_cast<const std::uint8_t*>(value);
        const auto* b = static_cast<const std::uint8_t*>(block);
        if (v < b || length > size || static_cast<std::size_t>(v - b) > size - length) {
          std::fprintf(stderr, "fuzz_version: the value of %s lies outside the block\n",
                       path.c_str());
          std::abort();
        }
        // The text up to its terminating NUL, as the component copies it.
        const void* nul = std::memchr(value, 0, length);
        const std::size_t n =
            nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - v) : length;
        for (std::size_t i = 0; i < n; ++i) gSink = gSink * 31 + v[i];
      }
    }
  }
  platform::QueryVersionValue(block, size, "", &value, &length);
  platform::QueryVersionValue(block, size, "\\", &value, &length);
  platform::QueryVersionValue(block, size, "stringfileinfo\\040904E4\\fileversion", &value,
                              &length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::File("program");
  fuzz::WriteFile(path, data, size);

  const std::size_t recordSize = platform::VersionRecordSize(path);
  if (recordSize > platform::kVersionRecordMaxSize) {
    std::fprintf(stderr, "fuzz_version: a record of %zu bytes\n", recordSize);
    std::abort();
  }
  if (recordSize > 0) {
    std::vector<std::uint8_t> block(recordSize, 0);
    if (platform::ReadVersionRecord(path, block.data(), block.size())) {
      Query(block.data(), block.size());
      std::vector<std::uint8_t> small(recordSize - 1, 0xA5);
      if (platform::ReadVersionRecord(path, small.data(), small.size())) {
        std::fprintf(stderr, "fuzz_version: a record read into a block smaller than itself\n");
        std::abort();
      }
    }
  }
  // Any bytes may be queried as a block.
  std::vector<std::uint8_t> copy(data, data + size);
  Query(copy.data(), copy.size());

  fuzz::RemoveFiles();
  return 0;
}
