// Storage-engine benchmark on a generated cheat table: the locate scan, a
// walk in record-number order, reading every memo, and searching every memo
// for a text none holds (the locate scan's CONTAINED, the tool's grep as a
// process, beside grep -c over the memo file: the machine's limit), each
// against reading the data file once, side by side in one run.
//
// usage: vorza-bench-engine [--records N] [--reps R]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/BenchUtil.h"
#include "bench/CheatTableGenerator.h"
#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "platform/files.h"

using namespace vz;

namespace {

void OpenLikeTheReader(const std::string& table) {
  EngineSettings& settings = Engine().Settings;
  settings.HideDeleted = true;
  ScopedSetting<int> readOnly(settings.ForcedFileMode, platform::kModeRead);
  ScopedSetting<bool> fix(settings.FixRecCount, true);
  Select(1);
  USE(table);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Group() = "engine";
  bench::CheatTableSpec spec;
  int reps = 5;
  bench::ParseArgs(argc, argv, spec, reps);
  InitDateSettings();
  InstallMemoUnit();
  InstallHaltingPresentation();  // an engine error ends the run with its message
  const std::string table = bench::CachedCheatTable(spec);
  const std::string memo = table.substr(0, table.size() - 4) + ".dbt";
  const std::string cat = table;
  const std::string catMemo = memo;
  OpenLikeTheReader(table);
  std::int64_t visible = 0, memoBytes = 0;
  bool found = true, foundInMemo = true;
  int grepStatus = -1;
  const std::string tool = bench::ProgramFolder(argv[0]) + "vorza-dbf";
  const std::string grep = "/usr/bin/grep";
  static const char* const kNoSuchText = "zz no such cheat text";

  std::vector<bench::Case> cases = {
      {"read the .dbf once", [&] { bench::ReadFileOnce(cat); }, {}},
      {"locate scan, no match", [&] { found = Locate("cheatname", "zz no such cheat"); }, {}},
      {"walk GoTop..EOF with SKIP(1)",
       [&] {
         visible = 0;
         for (GoTop(); !dEOF(); SKIP(1)) ++visible;
       },
       {}},
      {"read the .dbt once", [&] { bench::ReadFileOnce(catMemo); }, {}},
      {"grep -c of a text no memo holds, over the .dbt (process)",
       [&] {
         bench::RunProcess({grep, "-c", kNoSuchText, catMemo});
       },
       {}},
      {"vorza-dbf grep, no match (process)",
       [&] {
         grepStatus = bench::RunProcess({tool, "grep", cat, kNoSuchText});
       },
       {}},
      {"locate CHEATMEMO CONTAINED, no match",
       [&] { foundInMemo = Locate("cheatmemo contained", kNoSuchText); },
       {}},
      {"read every memo once (walk + memo)",
       [&] {
         memoBytes = 0;
         const int field = FieldNo("cheatmemo");
         std::string text;
         for (GoTop(); !dEOF(); SKIP(1)) {
           ReadMemoText(NativeInt(FieldAddress(field)), true, text);
           memoBytes += static_cast<std::int64_t>(text.size());
         }
       },
       {}},
  };
  std::printf("table: %s (%lld records)\n", table.c_str(), static_cast<long long>(RecCount()));
  bench::RunCases(cases, reps);
  std::printf(
      "visible records walked: %lld; memo bytes read: %lld; locate found: %s; in a memo: %s; "
      "grep status: %d\n",
      static_cast<long long>(visible), static_cast<long long>(memoBytes),
      found ? "yes (unexpected)" : "no", foundInMemo ? "yes (unexpected)" : "no", grepStatus);
  CloseAll();
  return 0;
}
