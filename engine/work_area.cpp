#include "engine/work_area.h"

namespace vz {

WorkArea::WorkArea() = default;
WorkArea::~WorkArea() = default;

std::uint32_t NativeSlotSize(const FieldDesc& f) {
  switch (f.Type) {
    case 'C': return f.Len + 1u;
    case 'D': return 11;
    case 'N':
    case 'F': return f.Dec > 0 ? 6 : 4;
    case 'L': return 1;
    case 'M': return 4;
    default: return 0;
  }
}

}  // namespace vz
