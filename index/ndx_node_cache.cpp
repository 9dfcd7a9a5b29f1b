#include "index/ndx_node_cache.h"

#include <algorithm>
#include <cstring>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/index_state.h"
#include "index/ndx_update.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

namespace {

[[noreturn]] void Damaged(const NdxFile& x, std::int32_t n) {
  RaiseIndexError(222, "Corrupted index file: " + x.Name + " (node " + Str(n) + ") [SeekAndRead]");
}

// Whether node n lies inside the index file. The node count known is the
// file's size when it was last looked at; another program may have added
// nodes since (in shared use it can begin while a read is under way), so a
// node beyond it is looked for in the file as it is now before it counts
// as damage.
bool InsideFile(NdxFile& x, std::int32_t n) {
  if (static_cast<std::uint64_t>(n) < x.Blocks) return true;
  std::uint64_t size = 0;
  if (x.File.Size(size) == 0 && size / kNodeSize > x.Blocks) x.Blocks = size / kNodeSize;
  return static_cast<std::uint64_t>(n) < x.Blocks;
}

// Checks a node read from the file: its entry count, and that every child
// of an interior node lies inside the file.
void CheckNode(NdxFile& x, std::int32_t n, const std::uint8_t* image) {
  const int count = NodeCount(image);
  if (count > x.Anchor.KeysPerNode()) Damaged(x, n);
  if (IsLeaf(image)) return;
  const auto inside = [&](std::int32_t c) { return c >= 1 && InsideFile(x, c); };
  for (int i = 0; i < count; ++i)
    if (!inside(EntryChild(EntryAt(x, image, i)))) Damaged(x, n);
  if (!inside(RightChild(x, image))) Damaged(x, n);
}

bool UsesCache(const NdxFile& x) {
  const AreaIndexes& a = IndexEngine().Areas[static_cast<std::size_t>(x.Area)];
  return a.Cache.Enabled() && a.Work[1] == &x && !x.NoCache;
}

// The cache holds the nodes of one order: another order taking it over
// starts from an empty cache, since node numbers mean nothing across files.
void ClaimCache(NodeCache& cache, const NdxFile& x) {
  if (cache.Owner == x.Order) return;
  for (NodeCache::Slot& s : cache.Slots) s.Used = s.Modified = false;
  cache.Owner = x.Order;
}

// Copies node bytes out of the index's mapping (mapping the file, or
// mapping it again when it grew). False when the mapping cannot serve
// them: the caller reads the file.
bool MappedNode(NdxFile& x, std::uint64_t at, std::uint8_t* image) {
  if (at + kNodeSize > x.Map.Length()) {
    std::uint64_t size = 0;
    if (x.File.Size(size) != 0 || at + kNodeSize > size || size == x.MapRefusedSize) return false;
    if (x.Map.Map(x.File, size) != 0) {
      x.MapRefusedSize = size;
      return false;
    }
    x.MapRefusedSize = UINT64_MAX;
  }
  return x.Map.Copy(at, image, kNodeSize);
}

}  // namespace

void SetUpNodeCache(AreaIndexes& a, int bytes) {
  a.Cache.Slots.clear();
  a.Cache.Owner = 0;
  if (bytes <= 0) return;
  int size = bytes - bytes % static_cast<int>(kNodeSize);
  if (size < 2048) size = 2048;
  a.Cache.Slots.resize(static_cast<std::size_t>(size) / kNodeSize);
}

void ReadNode(NdxFile& x, std::int32_t n, std::uint8_t* image) {
  if (n == 0) {
    RaiseIndexError(254, "Invalid Node Number (0) in DBF Area " + Str(x.Area) + ", Order " +
                             Str(x.Order) + " " + x.Name + " [GetNode]");
  }
  if (n < 0 || !InsideFile(x, n)) Damaged(x, n);
  for (const PathLevel& l : x.Path) {
    if (l.Node == n) {
      std::memcpy(image, l.Image.data(), kNodeSize);
      return;
    }
  }
  NodeCache& cache = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].Cache;
  const bool cached = UsesCache(x);
  if (cached) {
    ClaimCache(cache, x);
    for (std::size_t i = 0; i < cache.Slots.size(); ++i) {
      if (cache.Slots[i].Used && cache.Slots[i].Node == n) {
        // A hit moves one place toward the front.
        if (i > 0) std::swap(cache.Slots[i], cache.Slots[i - 1]), --i;
        std::memcpy(image, cache.Slots[i].Image.data(), kNodeSize);
        return;
      }
    }
  }
  std::size_t got = 0;
  const std::uint64_t at = static_cast<std::uint64_t>(n) * kNodeSize;
  if (MappedNode(x, at, image)) {
    got = kNodeSize;
  } else {
    const int rc = x.File.ReadAt(at, image, kNodeSize, got);
    if (rc != 0) RaiseIndexError(rc, "Error reading index file: " + x.Name + " [SeekAndRead]");
  }
  if (got < kNodeSize) Damaged(x, n);
  image[2] = image[3] = 0;  // the modified mark is clear after a read
  CheckNode(x, n, image);
  if (cached) {
    std::size_t victim = cache.Slots.size();
    for (std::size_t i = 0; i < cache.Slots.size(); ++i)
      if (!cache.Slots[i].Used) {
        victim = i;
        break;
      }
    if (victim == cache.Slots.size()) {
      victim = cache.Slots.size() - 1;
      NodeCache::Slot& old = cache.Slots[victim];
      if (old.Modified) {
        const int wrc = x.File.WriteAt(static_cast<std::uint64_t>(old.Node) * kNodeSize,
                                       old.Image.data(), kNodeSize);
        if (wrc != 0)
          RaiseIndexError(wrc, "Error writing index file: " + x.Name + " [SeekAndWrite]");
      }
    }
    NodeCache::Slot& s = cache.Slots[victim];
    s.Used = true;
    s.Modified = false;
    s.Node = n;
    std::memcpy(s.Image.data(), image, kNodeSize);
  }
}

void WriteNode(NdxFile& x, std::int32_t n, const std::uint8_t* image) {
  if (IndexJournal* j = IndexEngine().Journal) j->Keep(x, n);
  std::array<std::uint8_t, kNodeSize> out;
  std::memcpy(out.data(), image, kNodeSize);
  out[2] = out[3] = 0;
  const int rc = x.File.WriteAt(static_cast<std::uint64_t>(n) * kNodeSize, out.data(), kNodeSize);
  if (rc != 0) RaiseIndexError(rc, "Error writing index file: " + x.Name + " [SeekAndWrite]");
  if (static_cast<std::uint64_t>(n) >= x.Blocks) x.Blocks = static_cast<std::uint64_t>(n) + 1;
  for (PathLevel& l : x.Path)
    if (l.Node == n) std::memcpy(l.Image.data(), out.data(), kNodeSize);
  // Only this index's own nodes in the cache are refreshed: the cache may
  // hold another order's node of the same number.
  NodeCache& cache = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].Cache;
  if (cache.Owner != x.Order) return;
  for (NodeCache::Slot& s : cache.Slots)
    if (s.Used && s.Node == n) {
      std::memcpy(s.Image.data(), out.data(), kNodeSize);
      s.Modified = false;
    }
}

}  // namespace vz
