#include "engine/TZCommon.h"

namespace vz {

WorkArea::WorkArea() = default;
WorkArea::~WorkArea() = default;

std::uint32_t NativeSlotSize(const FieldDesc& f) {
  switch (f.Type) {
    case 'C':
      return f.Len + 1u;
    case 'D':
      return 11;
    case 'N':
    case 'F':
      return f.Dec > 0 ? 6 : 4;
    case 'L':
      return 1;
    case 'M':
      return 4;
    default:
      return 0;
  }
}

std::string TrimLeft(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && static_cast<unsigned char>(s[b]) < 33) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

}  // namespace vz
