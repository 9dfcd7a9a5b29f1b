#include "dataset/Stream.h"

namespace vz::data {

std::string Stream::ReadAll() {
  const std::int64_t size = Size();
  Seek(0, 0);
  std::string text;
  if (size <= 0) return text;
  text.resize(static_cast<std::size_t>(size));
  const std::int64_t got = Read(text.data(), size);
  // A stream that delivers less than it promised gives what arrived.
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

}  // namespace vz::data
