// Index benchmarks on a generated cheat table, side by side with reading
// the data file once: evaluating the key expression, building the name
// index, walking in key order (in this process, and as vorza-dbf list
// --index, plain and --raw, beside reading the index file once), and
// searching. Also the peak memory of a
// build (in a child process) for two table sizes.
//
// usage: vorza-bench-index [--records N] [--reps R]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bench/BenchUtil.h"
#include "bench/CheatTableGenerator.h"
#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"
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

std::string gTool;  // vorza-dbf beside this program

// Peak resident memory (KB) of `vorza-dbf index` building the index of
// `table` in a process of its own.
long BuildPeakKb(const std::string& table, const std::string& ndx) {
  struct rusage ru;
  return bench::RunProcess({gTool, "index", table, "CHEATNAME", ndx}, &ru) == 0 ? ru.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Group() = "index";
  bench::CheatTableSpec spec;
  int reps = 5;
  bench::ParseArgs(argc, argv, spec, reps);
  {
    const std::string self = argv[0];
    gTool = self.substr(0, self.rfind('/') + 1) + "vorza-dbf";
  }
  InitEngine();
  InstallHaltingPresentation();  // an engine error ends the run with its message
  const std::string table = bench::CachedCheatTable(spec);
  const std::string dir = platform::DirectoryOf(table);
  const std::string ndx = dir + "bench-cheat.ndx";
  const std::string cat = table;

  OpenLikeTheReader(table);
  // Keys to search for: prefixes of names that exist.
  std::vector<std::string> keys;
  {
    std::mt19937 rng(7);
    for (int i = 0; i < 1000; ++i) {
      GO(1 + static_cast<std::int64_t>(rng() % static_cast<std::uint32_t>(RecCount())));
      // Read at once, not through a kept address: the walks below then
      // unpack no record they do not read.
      WorkArea& area = *CurrentTable();
      const std::uint8_t* slot = NativeRecord(area) + area.Fields[0].NativeOffset;
      std::string name(reinterpret_cast<const char*>(slot) + 1, 35);
      keys.push_back(name.substr(0, 6 + rng() % 10));
    }
  }
  CompiledExpr* key = CompileExpr("CHEATNAME");
  GO(1);
  std::int64_t visible = 0;
  double findMs = 0;
  int found = 0;

  std::vector<bench::Case> cases = {
      {"read the .dbf once", [&] { bench::ReadFileOnce(cat); }, {}},
      {"evaluate CHEATNAME 1,000,000 times",
       [&] {
         for (int i = 0; i < 1000000; ++i) (void)key->Evaluate();
       },
       {}},
      {"build the index (1 run of the table)",
       [&] {
         CloseIndexes();
         BuildOptions o;
         o.Expression = "CHEATNAME";
         MakeIndex(ndx, o);
       },
       {}},
      {"walk in key order GoTop..EOF with SKIP(1)",
       [&] {
         SetIndexTo(ndx);
         visible = 0;
         for (GoTop(); !dEOF(); SKIP(1)) ++visible;
         CloseIndexes();
       },
       {}},
      {"read the .ndx once", [&] { bench::ReadFileOnce(ndx); }, {}},
      {"vorza-dbf list --index (process)",
       [&] {
         bench::RunProcess({gTool, "list", table, "--index", ndx});
       },
       {}},
      {"vorza-dbf list --index --raw (process)",
       [&] {
         bench::RunProcess({gTool, "list", table, "--index", ndx, "--raw"});
       },
       {}},
      {"1000 Finds on a freshly opened index",
       [&] {
         SetIndexTo(ndx);
         found = 0;
         const double t0 = bench::NowMs();
         for (const std::string& k : keys) found += Find(k);
         findMs = bench::NowMs() - t0;
         CloseIndexes();
       },
       {}},
  };
  std::printf("table: %s (%lld records)\n", table.c_str(), static_cast<long long>(RecCount()));
  const std::vector<double> medians = bench::RunCases(cases, reps);
  std::printf("per evaluation: %.1f ns; per Find: %.1f us (last run, %d of %zu found)\n",
              bench::Median(cases[1].samples) * 1e6 / 1000000.0, findMs * 1000.0 / keys.size(),
              found, keys.size());
  std::printf("visible records walked in key order: %lld\n", static_cast<long long>(visible));
  bench::ReportTiming("one Find (median run / 1000)", medians[7] / 1000.0, medians[0]);
  ReleaseExpr(key);
  CloseAll();

  // Peak memory of a build at two sizes, each in its own process (the
  // resident size of the whole program, its code included).
  bench::CheatTableSpec small = spec;
  small.records = spec.records / 10;
  const std::string smallTable = bench::CachedCheatTable(small);
  const long smallKb = BuildPeakKb(smallTable, dir + "bench-small.ndx");
  const long largeKb = BuildPeakKb(table, ndx);
  std::printf("peak memory of a build: %ld KB at %lld records, %ld KB at %lld records\n", smallKb,
              static_cast<long long>(small.records), largeKb, static_cast<long long>(spec.records));
  bench::ReportValue("peak memory of an index build, " + std::to_string(small.records) + " records",
                     static_cast<double>(smallKb), "KB");
  bench::ReportValue("peak memory of an index build, " + std::to_string(spec.records) + " records",
                     static_cast<double>(largeKb), "KB");
  platform::DeleteFile(ndx);
  platform::DeleteFile(dir + "bench-small.ndx");
  return 0;
}
