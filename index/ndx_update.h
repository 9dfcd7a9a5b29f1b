// Keeping a work area's indexes in step with its records: the entries of
// an appended or rewritten record go in and out of every open index as one
// change, and the journal takes a change that failed part-way back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "index/ndx_format.h"

namespace vz {

struct AreaIndexes;

// What one change of a table's indexes overwrote, so that a change cut
// short by a failed write (a full disk, a failing device) can be taken back
// and leave every index as it was. While a journal is active, the first
// write of each node and of the anchor keeps the block as the file held it;
// nodes past the file's end were new and go with a cut of the file.
class IndexJournal {
 public:
  // Starts keeping the open indexes of a work area (their anchors as held
  // in memory and the sizes of their files).
  explicit IndexJournal(AreaIndexes& area);
  ~IndexJournal();
  IndexJournal(const IndexJournal&) = delete;
  IndexJournal& operator=(const IndexJournal&) = delete;

  // Called before block n of x is written.
  void Keep(NdxFile& x, std::int32_t n);
  // Writes back every kept block, cuts every file to its former size and
  // puts the anchors held in memory back. False when a write back failed
  // (the error state is not touched either way).
  bool TakeBack();

 private:
  struct Saved {
    NdxFile* Index = nullptr;
    NdxAnchor Anchor;
    bool AnchorChanged = false;
    std::string CurKey;
    std::uint64_t FileSize = 0;
    std::uint64_t Blocks = 0;
    std::vector<std::pair<std::int32_t, std::array<std::uint8_t, kNodeSize>>> Images;
  };
  AreaIndexes& area_;
  std::vector<Saved> saved_;
  IndexJournal* outer_ = nullptr;
};

// Keeps every open index of the current area in step with the record at
// the pointer after it was appended (true) or rewritten (false), all or
// nothing. The error is stored, not dispatched.
void KeepIndexesInStep(bool appended);

}  // namespace vz
