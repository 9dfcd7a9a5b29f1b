// Builds NDX files byte by byte, for tests: the way other dBase programs
// write them (any fill level, keys padded with blanks or NULs, the root
// first or last, extra blocks), and damaged ones (every anchor field can be
// overridden, and the bytes can be patched after Build()).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/DbfBuilder.h"

namespace vz::test {

class NdxBuilder {
 public:
  // Node numbering: the root first (node 1) and then level by level, or the
  // leaves first and the root last (as a bottom-up build writes them).
  enum class Layout { TopDown, BottomUp };

  // type: 'C', 'N', 'F' or 'D'; keyLen: the key length (8 for N, F, D).
  NdxBuilder(char type, int keyLen);

  NdxBuilder& Expression(const std::string& bytes) {
    expression_ = bytes;
    return *this;
  }
  // Entries per node, leaves and interior nodes alike (default: full nodes).
  NdxBuilder& Fill(int entries) {
    fill_ = entries;
    return *this;
  }
  NdxBuilder& Arrange(Layout layout) {
    layout_ = layout;
    return *this;
  }
  // The byte that pads character keys shorter than the key length.
  NdxBuilder& PadWith(char c) {
    pad_ = c;
    return *this;
  }
  // Writes the record count, its complement and the table name.
  NdxBuilder& CountCheck(std::uint32_t count, const std::string& table) {
    count_ = count, table_ = table, hasCount_ = true;
    return *this;
  }
  // Zero blocks after the last node that next free does not count.
  NdxBuilder& ExtraBlocks(int n) {
    extraBlocks_ = n;
    return *this;
  }
  // Keep the entries in the order given (no sorting).
  NdxBuilder& Unsorted() {
    sort_ = false;
    return *this;
  }

  // Anchor overrides (the value written instead of the computed one).
  NdxBuilder& Letter(std::uint8_t c) {
    letter_ = c;
    hasLetter_ = true;
    return *this;
  }
  NdxBuilder& TypeCode(int n) {
    typeCode_ = n;
    hasTypeCode_ = true;
    return *this;
  }
  NdxBuilder& EntrySize(int n) {
    entrySize_ = n;
    return *this;
  }
  NdxBuilder& KeysPerNode(int n) {
    keysPerNode_ = n;
    return *this;
  }
  NdxBuilder& UniqueByte(std::uint8_t b) {
    unique_ = b;
    return *this;
  }

  NdxBuilder& Key(const std::string& key, std::int32_t record);
  NdxBuilder& Number(double key, std::int32_t record);

  int EntrySizeUsed() const;
  int KeysPerNodeUsed() const;
  Bytes Build() const;
  void Write(const std::string& path) const;

 private:
  struct Item {
    std::string key;  // key-length bytes
    std::int32_t record;
  };
  char type_;
  int keyLen_;
  std::string expression_;
  int fill_ = 0;
  Layout layout_ = Layout::TopDown;
  char pad_ = ' ';
  std::uint32_t count_ = 0;
  std::string table_;
  bool hasCount_ = false;
  int extraBlocks_ = 0;
  bool sort_ = true;
  std::uint8_t letter_ = 0;
  bool hasLetter_ = false;
  int typeCode_ = 0;
  bool hasTypeCode_ = false;
  int entrySize_ = 0;
  int keysPerNode_ = 0;
  std::uint8_t unique_ = 0;
  std::vector<Item> items_;
};

// Little-endian stores into a file image (for damaging files in tests).
void Put32(Bytes& b, std::size_t offset, std::uint32_t v);
void Put16(Bytes& b, std::size_t offset, std::uint16_t v);
std::uint32_t Get32(const Bytes& b, std::size_t offset);

}  // namespace vz::test
