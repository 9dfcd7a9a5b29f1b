// Checks an NDX file against the format, reading nothing but its bytes: no
// code of the index engine is used, so a file the engine writes wrongly and
// then reads back the same wrong way is still caught.
//
// The walk starts at the anchor's root and follows child pointers; a leaf is
// a node whose first entry has child 0 (leaves may lie at different depths).
// Every node may be reached once only: a node met a second time (a cycle, or
// a node shared by two parents) is a problem, and the walk does not follow
// it again. Entries must ascend by key, and by record number among equal
// keys; the key of an interior entry must be at least every key of its
// child's subtree and at most every key that follows that subtree.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/DbfBuilder.h"

namespace vz::test {

struct NdxCheckOptions {
  // Records 1..Records must each appear exactly once (when >= 0).
  std::int64_t Records = -1;
  // Or: the exact number of times each record appears (records not listed
  // must not appear). Used instead of Records when not empty.
  std::map<std::int32_t, int> Occurrences;
  // The record count stored in the anchor (488/492) must equal this and its
  // complement must match (when >= 0).
  std::int64_t AnchorCount = -1;
  // The table name stored at 496 (when not empty).
  std::string Table;
  // The key expression stored at 24 (when not empty).
  std::string Expression;
  // The file holds exactly next-free blocks (an index written by us). When
  // false the file may be longer, never shorter.
  bool ExactSize = true;
  // Leaves other than the root may hold no entry (a maintained index keeps
  // the leaves that deletions emptied).
  bool AllowEmptyLeaves = false;
  // Every node below next free must be reached from the root.
  bool AllReachable = true;
  // The bytes between a key and the end of its entry are zero, and so are
  // the record numbers of interior entries (what we write).
  bool ZeroPadding = true;
  // Character keys are compared over the key length as unsigned bytes.
};

struct NdxCheckedEntry {
  std::int32_t Record = 0;
  std::string Key;  // key-length bytes (8 bytes of a double for N, F, D)
  double Number() const;
};

struct NdxReport {
  std::vector<std::string> Problems;
  // The anchor as read.
  std::int32_t Root = 0;
  std::int32_t NextFree = 0;
  char Letter = 0;
  int KeyLen = 0;
  int KeysPerNode = 0;
  int TypeCode = 0;
  int EntrySize = 0;
  int UniqueByte = 0;
  std::string Expression;
  std::uint32_t StoredCount = 0;
  std::uint32_t StoredComplement = 0;
  std::string Table;
  std::uint64_t FileSize = 0;
  // The walk.
  std::vector<NdxCheckedEntry> Entries;  // in key order
  int Leaves = 0;
  int Interiors = 0;
  int MinLeafDepth = 0;  // the root is at depth 0
  int MaxLeafDepth = 0;
  std::vector<std::int32_t> NodeOrder;  // nodes as the walk met them

  bool Ok() const { return Problems.empty(); }
  std::string Text() const;  // the problems, one a line
  std::vector<std::int32_t> Records() const;
  bool CharKeys() const;
};

NdxReport CheckNdx(const Bytes& file, const NdxCheckOptions& options = {});
NdxReport CheckNdxFile(const std::string& path, const NdxCheckOptions& options = {});

// The normal form of a key expression, computed here for comparisons: blanks
// outside quotes removed, letters outside quotes upper-cased, both kinds of
// quote written as double quotes.
std::string NormalExpression(const std::string& text);

}  // namespace vz::test
