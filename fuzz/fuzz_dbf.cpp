// The input is a .dbf file. It is opened one of three ways, chosen by bits
// 4 and 5 of header byte 30, which the engine does not interpret: as the
// reader opens its catalogue (shared, read-only, deleted records hidden,
// the record count taken from the file size, OEM text), with settings taken
// from the other bits of bytes 30 and 31 (record count repair, deleted
// records hidden, ANSI table, exclusive; the date format and century), or
// through the table component. One way per input keeps each run short; the
// mutations of an input reach the other ways. Bits 6 and 7 of byte 30 choose
// the part of the walk, with every field read: forward record by record,
// backward, the jumps (the ends, longer steps, searches), or all three. A fixed memo
// file lies beside the table, so that tables with memo fields open too.
#include <cstddef>
#include <cstdint>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/work_area.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/Walk.h"
#include "platform/files.h"
#include "tests/support/DbtBuilder.h"

using namespace vz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const test::Bytes kMemo = [] {
    test::DbtBuilder m(false);
    m.Add("first memo\r\nsecond line");
    m.AddRaw(
        std::string("\xFF\xFF\x08\x00\x11\x00\x00\x00"
                    "headered!",
                    17));
    return m.Build();
  }();
  const std::string path = fuzz::File("fz.dbf");
  fuzz::WriteFile(path, data, size);
  fuzz::WriteFile(fuzz::File("fz.dbt"), kMemo.data(), kMemo.size());
  const std::uint8_t flags = size > 30 ? data[30] : 0;
  const std::uint8_t dates = size > 31 ? data[31] : 0;
  const unsigned parts = fuzz::WalkParts(flags >> 6);

  switch ((flags >> 4) & 3) {
    case 0:
    case 3: {
      // As the reader opens a table.
      Engine().Settings.HideDeleted = true;
      {
        ScopedSetting<bool> fix(Engine().Settings.FixRecCount, true);
        ScopedSetting<int> readOnly(Engine().Settings.ForcedFileMode, platform::kModeRead);
        fuzz::Try([&] { USE(path); });
      }
      fuzz::WalkTable(true, parts);
      break;
    }
    case 1:
      // With the settings of the header's spare bytes.
      Engine().Settings.FixRecCount = flags & 1;
      Engine().Settings.HideDeleted = flags & 2;
      Engine().Settings.AnsiTables = flags & 4;
      SetDateFormat(dates % 9);
      SetCentury(dates & 0x10);
      fuzz::Try([&] { USE(path + ((flags & 8) ? " EXCLUSIVE" : "") + " ALIAS FZ"); });
      Engine().Settings.FixRecCount = false;
      fuzz::WalkTable(false, parts);
      break;
    case 2: {
      // Through the table component.
      fuzz::ComponentOptions options;
      options.hideDeleted = !(flags & 2);
      options.ansi = flags & 4;
      options.parts = parts;
      fuzz::WalkComponent(path, options);
      break;
    }
  }

  fuzz::ResetEngine();
  fuzz::RemoveFiles();
  return 0;
}
