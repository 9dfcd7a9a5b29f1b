// A byte stream (the base of blob streams).
#pragma once

#include <cstdint>
#include <string>

namespace vz::data {

class Stream {
 public:
  virtual ~Stream() = default;
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // origin 0 from the start, 1 from the position, 2 from the end.
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
  // The size, by seeking to the end and back.
  std::int64_t Size() {
    const std::int64_t here = Seek(0, 1);
    const std::int64_t size = Seek(0, 2);
    Seek(here, 0);
    return size;
  }
  // Reads the whole stream from its start.
  std::string ReadAll();
};

}  // namespace vz::data
