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

NdxFile::~NdxFile() {
  ReleaseExpr(Expr);
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
