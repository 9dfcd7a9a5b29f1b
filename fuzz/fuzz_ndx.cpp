// The input is an .ndx file, opened as an index of a fixed generated table
// (NAME C 12, QTY N 8 2, WHEN D 8, FLAG L 1, CODE N 5), one of two ways
// chosen by bit 0 of byte 511, the anchor's last byte, which the engine
// does not read (of the input's length, for one shorter than that): as the
// reader opens its index (shared, read-only, without node cache, deleted
// records hidden), or exclusive with the node cache and a second copy of
// the file open as order 2. One way per input keeps each run short; the
// mutations of an input reach the other. Bits 1 and 2 of that byte choose
// what is done with the open index, in the same way: walked through the
// table's moves (forwards, backwards, by jumps or all three, as bits 3 and 4
// choose), walked through the index's own first/next/last/prior, searched
// with Find (prefix and exact), or kept in step with SyncIndex after moves
// in natural order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/dbf.h"
#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTables.h"
#include "fuzz/Walk.h"
#include "index/indexes.h"
#include "platform/files.h"

using namespace vz;

namespace {

volatile std::int64_t gSink = 0;

void WalkIndexOwnMoves() {
  fuzz::Try([] { gSink = gSink + FindFirstRecord(); });
  for (int i = 0; i < fuzz::kMaxSteps; ++i) {
    std::int64_t r = 0;
    fuzz::Try([&] { r = FindNextRecord(); });
    gSink = gSink + r;
    bool eof = true;
    fuzz::Try([&] { eof = Engine().Index.AtEof && Engine().Index.AtEof(); });
    if (r == 0 || eof) break;
  }
  fuzz::Try([] { gSink = gSink + FindLastRecord(); });
  for (int i = 0; i < fuzz::kMaxSteps; ++i) {
    std::int64_t r = 0;
    fuzz::Try([&] { r = FindPriorRecord(); });
    gSink = gSink + r;
    bool bof = true;
    fuzz::Try([&] { bof = Engine().Index.AtBof && Engine().Index.AtBof(); });
    if (r == 0 || bof) break;
  }
}

void Searches() {
  for (const std::string& key : fuzz::SearchKeys()) {
    for (bool exact : {false, true}) {
      ScopedSetting<bool> exactFind(IndexEngine().Settings.ExactFind, exact);
      fuzz::Try([&] { gSink = gSink + Find(key); });
      fuzz::ReadCurrentRecord();
      fuzz::Try([] { SKIP(1); });
      fuzz::Try([] { SKIP(-2); });
    }
  }
}

void KeepInStep(std::int64_t count) {
  for (std::int64_t r : {std::int64_t{1}, std::int64_t{6}, count / 2, count, count + 1}) {
    fuzz::Try([&] { Set_Order_To(0); });
    fuzz::Try([&] { GO(r); });
    fuzz::Try([] { Set_Order_To(1); });
    fuzz::Try([] { SyncIndex(); });
    fuzz::Try([] { StoreCurrentKeys(); });
    fuzz::Try([] { SoftSyncIndex(); });
    fuzz::Try([] { SKIP(1); });
    fuzz::Try([] { gSink = gSink + CurrentOrder(); });
  }
}

void OpenAndWalk(const std::string& table, const std::string& ndx, std::string_view input,
                 std::uint8_t way) {
  const bool reader = (way & 1) == 0;
  // The reader opens read-only; the walk below goes on with the default.
  std::optional<ScopedSetting<int>> readOnly;
  if (reader) {
    Engine().Settings.HideDeleted = true;
    readOnly.emplace(Engine().Settings.ForcedFileMode, platform::kModeRead);
  } else {
    Engine().Settings.NetworkMode = false;
  }
  fuzz::Try([&] { USE(table); });
  WorkArea* a = CurrentTable();
  if (!a) return;
  fuzz::Try([&] {
    const IndexInfoRecord info = IndexInfo(ndx);
    gSink =
        gSink + info.Records + info.KeyLength + static_cast<std::int64_t>(info.Expression.size());
  });
  fuzz::Try([&] { SetIndexTo(ndx); });
  if (!reader) {
    // The same index under another name, as a second order.
    const std::string copy = fuzz::File("copy.ndx");
    fuzz::WriteFile(copy, input);
    fuzz::Try([&] { SetIndexTo(copy, nullptr, 2); });
    fuzz::Try([] { Set_Order_To(1); });
  }
  readOnly.reset();
  if (Engine().Errors.ErrorCode != 0) return;  // the index did not open: nothing more to walk

  const std::int64_t count = a->RecCount;
  switch ((way >> 1) & 3) {
    case 0: fuzz::WalkTable(false, fuzz::WalkParts(way >> 3)); break;
    case 1: WalkIndexOwnMoves(); break;
    case 2: Searches(); break;
    case 3: KeepInStep(count); break;
  }
  if (!reader) {
    fuzz::Try([] { Set_Order_To(2); });
    fuzz::Try([] { GoBottom(); });
    fuzz::Try([] { SKIP(-3); });
    fuzz::Try([] { gSink = gSink + Find("Doom"); });
  }
  fuzz::Try([] { CloseIndex(1); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const test::Bytes kTable = fuzz::IndexTable();
  const std::string table = fuzz::File("ft.dbf");
  const std::string ndx = fuzz::File("fz.ndx");
  const std::uint8_t way = static_cast<std::uint8_t>(size > 511 ? data[511] : size);
  fuzz::WriteFile(table, kTable.data(), kTable.size());
  fuzz::WriteFile(ndx, data, size);
  OpenAndWalk(table, ndx, std::string_view(reinterpret_cast<const char*>(data), size), way);
  fuzz::ResetEngine();
  fuzz::RemoveFiles();
  return 0;
}
