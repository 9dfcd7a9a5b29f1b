// A second program for the tests of shared use: it opens a cheat table
// shared and read/write with its name index, and appends cheats the way a
// catalogue editor working beside a running reader would (file lock,
// record, memo, index key, unlock).
//
// usage: vorza-test-append TABLE NDX NAME=TEXT...
//   Engine errors end it with the engine's message and code, as vorza-dbf.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: vorza-test-append TABLE NDX NAME=TEXT...\n", stderr);
    return 64;
  }
  vz::InitEngine();
  vz::InstallHaltingPresentation();
  vz::Engine().Settings.AnsiTables = false;
  vz::Select(1);
  vz::USE(std::string(argv[1]) + " ALIAS WRITER");
  vz::SetIndexTo(argv[2]);
  vz::DispatchPending();
  const int nameField = vz::FieldNo("cheatname");
  const int memoField = vz::FieldNo("cheatmemo");
  for (int i = 3; i < argc; ++i) {
    const std::string item = argv[i];
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const std::string text = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    if (!vz::ALock()) {
      std::fprintf(stderr, "vorza-test-append: the table is locked\n");
      return 75;
    }
    vz::ClearRecord();
    std::uint8_t* slot = vz::FieldAddress(nameField);
    std::memset(slot + 1, ' ', slot[0]);
    std::memcpy(slot + 1, name.data(), std::min<std::size_t>(name.size(), slot[0]));
    const std::int64_t block = text.empty() ? 0 : vz::WriteMemoText(text, true);
    vz::SetNativeInt(vz::FieldAddress(memoField), static_cast<std::int32_t>(block));
    vz::Append();
    vz::Unlock();
  }
  vz::CloseAll();
  return 0;
}
