// Trimming text: the engine's one family. Every member removes the
// characters below 33 (blanks and control characters) at one or both ends.
#pragma once

#include <string>
#include <string_view>

namespace vz {

std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
// Trim as a view into the same characters (no copy); inline, as record
// unpacking calls it for every numeric field.
inline std::string_view TrimmedView(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return s.substr(b, e - b);
}

}  // namespace vz
