#include "index/ndx_format.h"

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

// --- Anchor ------------------------------------------------------------------------

std::int32_t NdxAnchor::Root() const {
  return static_cast<std::int32_t>(U32(Raw));
}
void NdxAnchor::SetRoot(std::int32_t n) {
  PutU32(Raw, static_cast<std::uint32_t>(n));
}
std::int32_t NdxAnchor::NextFree() const {
  return static_cast<std::int32_t>(U32(Raw + 4));
}
void NdxAnchor::SetNextFree(std::int32_t n) {
  PutU32(Raw + 4, static_cast<std::uint32_t>(n));
}
int NdxAnchor::KeyLen() const {
  return static_cast<std::int16_t>(U16(Raw + 12));
}
void NdxAnchor::SetKeyLen(int n) {
  PutU16(Raw + 12, static_cast<std::uint32_t>(n));
}
int NdxAnchor::KeysPerNode() const {
  return U16(Raw + 14);
}
void NdxAnchor::SetKeysPerNode(int n) {
  PutU16(Raw + 14, static_cast<std::uint32_t>(n));
}
int NdxAnchor::TypeCode() const {
  return U16(Raw + 16);
}
void NdxAnchor::SetTypeCode(int n) {
  PutU16(Raw + 16, static_cast<std::uint32_t>(n));
}
int NdxAnchor::EntrySize() const {
  return U16(Raw + 18);
}
void NdxAnchor::SetEntrySize(int n) {
  PutU16(Raw + 18, static_cast<std::uint32_t>(n));
}

NdxFile::~NdxFile() {
  ReleaseExpr(Expr);
}

// --- Nodes -------------------------------------------------------------------------

int NodeCount(const std::uint8_t* image) {
  return U16(image);
}

std::uint8_t* EntryAt(NdxFile& x, std::uint8_t* image, int i) {
  return image + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(x.Anchor.EntrySize());
}
const std::uint8_t* EntryAt(const NdxFile& x, const std::uint8_t* image, int i) {
  return image + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(x.Anchor.EntrySize());
}
std::int32_t EntryChild(const std::uint8_t* entry) {
  return static_cast<std::int32_t>(U32(entry));
}
std::int32_t EntryRecord(const std::uint8_t* entry) {
  return static_cast<std::int32_t>(U32(entry + 4));
}
std::int32_t RightChild(const NdxFile& x, const std::uint8_t* image) {
  return static_cast<std::int32_t>(U32(EntryAt(x, image, NodeCount(image))));
}
bool IsLeaf(const std::uint8_t* image) {
  return NodeCount(image) == 0 || U32(image + 4) == 0;
}

// --- Anchor --------------------------------------------------------------------------

void WriteAnchor(NdxFile& x, WorkArea& table) {
  std::array<std::uint8_t, kNodeSize> block{};
  std::memcpy(block.data(), x.Anchor.Raw, 24);
  std::string expr = x.Expression.substr(0, 100);
  if (table.Oem) expr = platform::AnsiToOem(expr);
  std::memcpy(block.data() + 24, expr.data(), expr.size());
  const std::uint32_t count = static_cast<std::uint32_t>(table.RecCount < 0 ? 0 : table.RecCount);
  PutU32(block.data() + 488, ~count);
  PutU32(block.data() + 492, count);
  std::string name = platform::NameOf(table.FileName).substr(0, 12);
  if (table.Oem) name = platform::AnsiToOem(name);
  std::memcpy(block.data() + 496, name.data(), name.size());
  if (IndexJournal* j = IndexEngine().Journal) j->Keep(x, 0);
  const int rc = x.File.WriteAt(0, block.data(), kNodeSize);
  if (rc != 0) RaiseIndexError(rc, "Error writing index file: " + x.Name + " [WriteAnchorNode]");
  if (IndexEngine().Settings.Flush) x.File.Commit();
  x.AnchorChanged = false;
}

void ReadAnchor(NdxFile& x) {
  std::size_t got = 0;
  std::uint8_t raw[24];
  const int rc = x.File.ReadAt(0, raw, 24, got);
  if (rc != 0 || got < 24)
    RaiseIndexError(rc ? rc : 100, "Error reading index file: " + x.Name + " [ReadAnchor]");
  // A file without a type letter keeps the one its expression gave at open.
  const char letter = x.Anchor.TypeLetter();
  std::memcpy(x.Anchor.Raw, raw, 24);
  const char read = x.Anchor.TypeLetter();
  if (read != 'C' && read != 'N' && read != 'F' && read != 'D') x.Anchor.SetTypeLetter(letter);
  std::uint64_t size = 0;
  x.File.Size(size);
  x.Blocks = std::max<std::uint64_t>(static_cast<std::uint64_t>(std::max(0, x.Anchor.NextFree())),
                                     size / kNodeSize);
  x.Path.clear();
  x.Positioned = false;
}

}  // namespace vz
