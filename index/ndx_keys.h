// The keys of an NDX index: computing the current record's key, fitting
// it to the key length, comparing keys, the key of a search, and the key
// each open index keeps of the current record (worked out at once, or
// marked as due on a read-only table and worked out when needed).
#pragma once

#include <cstdint>
#include <string>

#include "index/index_state.h"

namespace vz {

int KeyCompare(const NdxFile& x, const std::uint8_t* a, const std::uint8_t* b);
// The key of the current record: a character key as the expression (or
// KeyMaker) gives it, any length; a numeric or date key as 8 bytes.
std::string ComputeKey(NdxFile& x, bool oemTable);
// A character key brought to the key length (padded with blanks, cut).
std::string FitKey(const std::string& key, int keyLen);

// Brings a character key computed for the current record to the key
// length, as the build stores it: a short one (TRIM(NAME), a shorter field)
// is padded with blanks, a long one cut. False when the key cannot belong to
// this index: a plain field's text longer than the key length means the
// field was widened after the build. (The texts of other expressions vary in
// length from record to record, and the build cut them the same way.)
bool FitComputedKey(const NdxFile& x, std::string& key);

// A character key of the wrong length.
std::string LengthMessage(const NdxFile& x, const std::string& key, const char* where);

// The key text of a search in the index's kind.
std::string SearchKey(const NdxFile& x, const std::string& k, bool exact, bool oem);

// Whether an index's key of the current record is still to be worked out,
// and the marks that say it is or is not.
inline bool KeyDue(const NdxFile& x) {
  return x.KeyMove != IndexEngine().Areas[static_cast<std::size_t>(x.Area)].KeysMoved;
}
inline void MarkKeyWorkedOut(NdxFile& x) {
  x.KeyMove = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].KeysMoved;
}
inline void MarkKeyDue(NdxFile& x) {
  x.KeyMove = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].KeysMoved - 1;
}

// Works out and keeps the key of the current record of one index.
void StoreKeyOf(NdxFile& x, const WorkArea& t);
// Every open index keeps the key of the current record: a write needs the
// old key of the record it rewrites, and a place lost to another program's
// changes is found again by it. A table opened read-only is never written,
// so after a move its keys are only marked as due and worked out from the
// record when a lost place is looked for (Reposition): a walk then does
// not evaluate every key of every record it passes.
// A failure leaves its error stored and raises IndexError.
void StoreCurrentKeysRaising(bool whenNeeded = false);

}  // namespace vz
