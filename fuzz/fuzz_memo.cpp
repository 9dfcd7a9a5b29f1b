// The input is a table and its memo file: two bytes (little-endian) give
// the length of the .dbf, which follows; the rest is the .dbt. The memos are
// read in the memo layout the table's version byte chooses (0x8B or any
// other; the mutations of an input reach the other layout, and the seeds
// hold both), one of four ways chosen by bits 4 and 5 of the table's header
// byte 30, which the engine does not read: every memo a record names read
// whole and as lines; the same memos through the blob descriptor in small
// pieces with seeks from every origin; the first blocks of the memo file
// (named or not) every way, and the locate scan over the memo fields; or
// the table component opening the table as the reader does (building its
// name index) and reading each memo through its memo stream, in the part of
// its walk that bits 6 and 7 choose. One way per input keeps each run
// short; the mutations of an input reach the other ways.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/work_area.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/Walk.h"
#include "platform/files.h"

using namespace vz;

namespace {

void Consume(const std::string& s) {
  fuzz::ConsumeBytes(s.data(), s.size());
}

// The ways of reading one memo.
enum MemoForm : unsigned { kWhole = 1, kStream = 2, kLines = 4, kEveryForm = 7 };

// One memo read in the given forms.
void ReadMemo(std::int64_t block, bool convert, unsigned forms) {
  if (forms & kWhole) fuzz::Try([&] { Consume(ReadMemoText(block, convert)); });
  if (forms & kStream)
    fuzz::Try([&] {
      CreateBlobDescriptor(convert, block, 1);
      const std::int64_t size = SeekBlobStream(0, 2);
      SeekBlobStream(0, 0);
      // Pieces of several sizes, small ones across block ends included.
      std::string text;
      static char piece[40000];
      const std::int64_t sizes[] = {7, 1, 513, 32768, 3};
      for (int i = 0; i < 64; ++i) {
        const std::int64_t got = ReadBlobStream(piece, sizes[i % 5]);
        if (got <= 0) break;
        text.append(piece, static_cast<std::size_t>(got));
      }
      Consume(text + std::to_string(size));
      SeekBlobStream(-5, 1);
      SeekBlobStream(3, 2);
      SeekBlobStream(1, 9);
      char tail[100];
      Consume(std::string(tail, static_cast<std::size_t>(
                                    std::max<std::int64_t>(0, ReadBlobStream(tail, sizeof tail)))));
      DestroyBlobDescriptor();
    });
  if (forms & kLines)
    fuzz::Try([&] {
      MemoLines lines;
      if (!lines.Assign(block)) return;
      std::string line;
      for (int i = 0; i < 4096 && lines.GetMemo(line); ++i) Consume(line);
    });
}

// Way 0: forms kWhole | kLines of each named memo; way 1: kStream; way 2:
// the first blocks every way and the locate scan.
void ReadAllMemos(const std::string& dbf, std::uint64_t dbtSize, int way) {
  {
    ScopedSetting<bool> fix(Engine().Settings.FixRecCount, true);
    ScopedSetting<int> readOnly(Engine().Settings.ForcedFileMode, platform::kModeRead);
    fuzz::Try([&] { USE(dbf); });
  }
  WorkArea* a = CurrentTable();
  if (!a) return;

  std::int64_t count = 0;
  fuzz::Try([&] { count = RecCount(); });
  // Each memo once in each form: records that name a memo another record
  // named take the same paths again. Memos past the first sixteen take the
  // paths of those before them.
  constexpr std::size_t kMaxMemos = 16;
  std::set<std::pair<std::int32_t, bool>> read;
  const unsigned forms = way == 0 ? kWhole | kLines : kStream;
  for (std::int64_t r = 1;
       way < 2 && read.size() < kMaxMemos && r <= std::min<std::int64_t>(count, fuzz::kMaxSteps);
       ++r) {
    bool there = false;
    fuzz::Try([&] {
      GO(r);
      there = true;
    });
    if (!there) continue;
    for (int i = 1; i <= a->FieldCount; ++i) {
      if (a->Fields[static_cast<std::size_t>(i - 1)].Type != 'M') continue;
      std::int32_t block = 0;
      fuzz::Try([&] {
        if (const std::uint8_t* slot = FieldAddress(i)) block = NativeInt(slot);
      });
      if (read.insert({block, r % 2 == 1}).second) ReadMemo(block, r % 2 == 1, forms);
    }
  }

  if (way != 2) return;
  // Blocks no record names.
  const std::uint32_t blockSize = CurrentMemo() ? CurrentMemo()->BlockSize : 512;
  for (std::int64_t b : {std::int64_t{1}, std::int64_t{2}, std::int64_t{3},
                         static_cast<std::int64_t>(dbtSize / std::max<std::uint32_t>(1, blockSize)),
                         std::int64_t{-1}, std::int64_t{kMemoOutOfRange}})
    ReadMemo(b, b == 2, kEveryForm);

  // The locate scan over the memo fields (their text as lines).
  for (int i = 1; i <= a->FieldCount; ++i) {
    if (a->Fields[static_cast<std::size_t>(i - 1)].Type != 'M') continue;
    const std::string name = a->Fields[static_cast<std::size_t>(i - 1)].Name;
    fuzz::Try([&] { Locate(name + " CONTAINED", "e"); });
    fuzz::Try([&] { Locate(name, "A"); });
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  const std::size_t dbfLen = in.U16();
  const std::string dbf(in.Take(dbfLen));
  const std::string_view dbt = in.Rest();
  const std::string dbfPath = fuzz::File("fz.dbf");
  fuzz::WriteFile(fuzz::File("fz.dbt"), dbt);

  fuzz::WriteFile(dbfPath, dbf);
  const std::uint8_t flags = dbf.size() > 30 ? static_cast<std::uint8_t>(dbf[30]) : 0;
  const int way = (flags >> 4) & 3;
  if (way < 3) {
    ReadAllMemos(dbfPath, dbt.size(), way);
  } else {
    fuzz::ComponentOptions options;
    options.indexLine = "1," + fuzz::File("cheat.ndx") + ",CHEATNAME";
    options.parts = fuzz::WalkParts(flags >> 6);
    fuzz::WalkComponent(dbfPath, options);
  }

  fuzz::ResetEngine();
  fuzz::RemoveFiles();
  return 0;
}
