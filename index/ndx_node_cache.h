// The node cache of a work area (it holds the controlling index's nodes),
// and node input and output through it, the path of the current descent
// and the file's mapping.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "index/ndx_format.h"

namespace vz {

struct AreaIndexes;

// The node cache of a work area (used by the controlling order only).
struct NodeCache {
  struct Slot {
    std::int32_t Node = 0;
    bool Used = false;
    bool Modified = false;
    std::array<std::uint8_t, kNodeSize> Image{};
  };
  std::vector<Slot> Slots;  // most useful first
  int Owner = 0;            // order whose nodes it holds (0: none yet)
  bool Enabled() const { return !Slots.empty(); }
};

// Reads node n (from the path, the node cache, or the file) and checks it;
// 222 for a damaged node, 254 for node 0.
void ReadNode(NdxFile& x, std::int32_t n, std::uint8_t* image);
// Writes node n and refreshes its copies in the path and the node cache.
void WriteNode(NdxFile& x, std::int32_t n, const std::uint8_t* image);
// Sizes the node cache of a work area (none for 0 bytes).
void SetUpNodeCache(AreaIndexes& a, int bytes);

}  // namespace vz
