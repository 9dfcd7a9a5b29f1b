// The input is a table and its memo file: two bytes (little-endian) give
// the length of the .dbf, which follows; the rest is the .dbt. Every memo
// of every record is read (each one once in each form), in the memo layout
// the table's version byte chooses (0x8B or any other; the mutations of an
// input reach the other layout, and the seeds hold both): whole, through the blob
// descriptor in small pieces with seeks from every origin, and as lines.
// The first blocks of the memo file are read whether a record names them
// or not, the locate scan searches the memo fields, and at the end the
// table component opens the table as the reader does (building its name
// index) and reads each memo through its memo stream.
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

// One memo read every way the engine offers.
void ReadMemo(std::int64_t block, bool convert) {
  fuzz::Try([&] { Consume(ReadMemoText(block, convert)); });
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
    Consume(std::string(tail, static_cast<std::size_t>(std::max<std::int64_t>(0, ReadBlobStream(tail, sizeof tail)))));
    DestroyBlobDescriptor();
  });
  fuzz::Try([&] {
    MemoLines lines;
    if (!lines.Assign(block)) return;
    std::string line;
    for (int i = 0; i < 4096 && lines.GetMemo(line); ++i) Consume(line);
  });
}

void ReadAllMemos(const std::string& dbf, std::uint64_t dbtSize) {
  fuzz::ResetEngine();
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
  // named take the same paths again.
  std::set<std::pair<std::int32_t, bool>> read;
  for (std::int64_t r = 1; r <= std::min<std::int64_t>(count, fuzz::kMaxSteps); ++r) {
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
      if (read.insert({block, r % 2 == 1}).second) ReadMemo(block, r % 2 == 1);
    }
  }

  // Blocks no record names.
  const std::uint32_t blockSize = CurrentMemo() ? CurrentMemo()->BlockSize : 512;
  for (std::int64_t b : {std::int64_t{1}, std::int64_t{2}, std::int64_t{3},
                         static_cast<std::int64_t>(dbtSize / std::max<std::uint32_t>(1, blockSize)), std::int64_t{-1},
                         std::int64_t{kMemoOutOfRange}})
    ReadMemo(b, b == 2);

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
  ReadAllMemos(dbfPath, dbt.size());

  fuzz::ResetEngine();
  fuzz::ComponentOptions options;
  options.indexLine = "1," + fuzz::File("cheat.ndx") + ",CHEATNAME";
  fuzz::WalkComponent(dbfPath, options);

  fuzz::ResetEngine();
  fuzz::RemoveFiles();
  return 0;
}
