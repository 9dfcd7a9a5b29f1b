#include "tests/support/DbtBuilder.h"

#include "platform/little_endian.h"

namespace vz::test {

DbtBuilder::DbtBuilder(bool blockHeaders, int blockSize)
    : blockHeaders_(blockHeaders), blockSize_(blockSize), statedBlockSize_(blockSize) {}

int DbtBuilder::NextBlock() const {
  return 1 + static_cast<int>((body_.size() + blockSize_ - 1) / blockSize_);
}

int DbtBuilder::AddRaw(const std::string& bytes) {
  const int block = NextBlock();
  body_.resize(static_cast<std::size_t>(block - 1) * blockSize_, 0);
  body_.insert(body_.end(), bytes.begin(), bytes.end());
  return block;
}

int DbtBuilder::Add(const std::string& text, int terminators) {
  std::string bytes;
  if (blockHeaders_) {
    const std::uint32_t len = static_cast<std::uint32_t>(text.size() + 8);
    bytes = std::string("\xFF\xFF\x08\x00", 4);
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(len >> (8 * i));
    bytes += text;
  } else {
    bytes = text + std::string(terminators, '\x1A');
  }
  return AddRaw(bytes);
}

Bytes DbtBuilder::Build() const {
  Bytes out(static_cast<std::size_t>(blockSize_), 0);  // block 0: the header
  const std::uint32_t next = static_cast<std::uint32_t>(NextBlock());
  platform::StoreLe32(&out[0], next);
  if (blockHeaders_) platform::StoreLe16(&out[20], statedBlockSize_);
  out.insert(out.end(), body_.begin(), body_.end());
  return out;
}

void DbtBuilder::Write(const std::string& path) const {
  WriteFile(path, Build());
}

std::string MemoField(int block) {
  if (block == 0) return std::string(10, ' ');
  std::string n = std::to_string(block);
  return std::string(10 - n.size(), ' ') + n;
}

}  // namespace vz::test
