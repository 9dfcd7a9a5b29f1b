// Builds memo files byte by byte from the format, for tests.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/DbfBuilder.h"

namespace vz::test {

class DbtBuilder {
 public:
  // blockHeaders: the layout of 0x8B tables (block headers, block size at
  // offset 20); otherwise 512-byte blocks with texts ended by 0x1A.
  // The block size must be at least 32 (the header fits in block 0).
  explicit DbtBuilder(bool blockHeaders, int blockSize = 512);

  // Adds a memo and returns its block number. In the terminator layout the
  // text is followed by `terminators` bytes 0x1A.
  int Add(const std::string& text, int terminators = 2);
  // Adds raw bytes at the next block (anything at all).
  int AddRaw(const std::string& bytes);
  // The value written at offset 20 (block size) instead of the real one.
  DbtBuilder& StatedBlockSize(int n) {
    statedBlockSize_ = n;
    return *this;
  }

  Bytes Build() const;
  void Write(const std::string& path) const;

 private:
  int NextBlock() const;
  bool blockHeaders_;
  int blockSize_;
  int statedBlockSize_;
  Bytes body_;  // everything after the header block
};

// Right-aligned block number as a memo field holds it.
std::string MemoField(int block);

}  // namespace vz::test
