// What every fuzz target shares: a private folder for the files an input
// becomes, the engine put back to its defaults before each input, and the
// hooks that keep an engine error from ending the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace vz::fuzz {

// The engine tried to end the program (a halting error that was not
// raised). Thrown by the terminator the targets install, so the process
// goes on with the next input.
struct Halted : std::exception {
  const char* what() const noexcept override { return "the engine ended the program"; }
};

// Called once from LLVMFuzzerInitialize: creates the private folder (in
// /dev/shm when there is one), removes the folders of earlier runs whose
// process has gone, and arranges for the folder to go at exit. Installs the
// halt presenter, message presenter and terminator hooks, and a retry pause
// that does not wait.
void Initialize();

// The private folder, and a file in it.
const std::string& Dir();
std::string File(const std::string& name);

// Gives a file of the private folder these bytes as its whole content. The
// file is held in memory: its name is a symbolic link to an in-memory file
// (made at the first write, refilled by the next), so an input reaches the
// engine's normal open path without a file being made or removed.
void WriteFile(const std::string& path, const void* data, std::size_t size);
inline void WriteFile(const std::string& path, std::string_view bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}

// Removes every file of the private folder but the in-memory ones that
// WriteFile fills (after each input, so nothing of one input is seen by the
// next: each input gives those their content anew).
void RemoveFiles();

// Closes every work area and puts the engine, the index engine and the
// error state back to their defaults, with errors raised as EngineError;
// SyncIndex reads a record again twice at most, not 50 times. Initialize
// calls it, and so does the end of every input: an input starts with the
// engine fresh and need not call it first.
void ResetEngine();

// Reads every byte of [data, data + size) (so the sanitizer checks that the
// whole range is there) at the speed of a copy, and keeps something of them
// where the compiler cannot drop the read. A byte-by-byte hash would do the
// same at the cost of an instrumented comparison per byte.
void ConsumeBytes(const void* data, std::size_t size);
inline void ConsumeBytes(std::string_view bytes) {
  ConsumeBytes(bytes.data(), bytes.size());
}

// Splits an input into the parts a target needs: Take(n) gives the next n
// bytes (fewer at the end), Byte() the next byte or 0, Rest() what is left.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t lo = Byte();
    return static_cast<std::uint16_t>(lo | (Byte() << 8));
  }
  std::string_view Take(std::size_t n) {
    if (n > size_ - pos_) n = size_ - pos_;
    std::string_view v(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return v;
  }
  std::string_view Rest() { return Take(size_ - pos_); }
  std::size_t Left() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace vz::fuzz
