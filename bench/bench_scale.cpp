// Growth with the table: the walks and searches on a generated cheat table
// of N records and on one of 5 x N (by default 1,000,000 and 5,000,000),
// side by side in one run, each size against reading its own data file
// once. A walk or a search should take at most 6 times as long on the
// larger table (linear growth: 5), an index build at most 7 times (n log n).
// Also the peak memory of a key-order listing of the larger table.
//
// usage: vorza-bench-scale [--records N] [--reps R]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/BenchUtil.h"
#include "bench/CheatTableGenerator.h"
#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/files.h"

using namespace vz;

namespace {

struct Size {
  std::int64_t records = 0;
  std::string table, ndx;
  int area = 0;
};

long long FileBytes(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// Peak resident memory (KB) of a program run to its end.
long PeakKb(const std::vector<std::string>& args) {
  struct rusage ru;
  return bench::RunProcess(args, &ru) == 0 ? ru.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Group() = "scale";
  bench::CheatTableSpec spec;
  int reps = 3;
  bench::ParseArgs(argc, argv, spec, reps);
  const std::string tool = bench::ProgramFolder(argv[0]) + "vorza-dbf";
  InitEngine();
  Engine().Settings.HideDeleted = true;
  Size sizes[2];
  for (int i = 0; i < 2; ++i) {
    bench::CheatTableSpec s = spec;
    s.records = i == 0 ? spec.records : 5 * spec.records;
    sizes[i].records = s.records;
    sizes[i].table = bench::CachedCheatTable(s);
    sizes[i].ndx =
        platform::DirectoryOf(sizes[i].table) + "bench-scale-" + std::to_string(s.records) + ".ndx";
    if (bench::RunProcess({tool, "index", sizes[i].table, "CHEATNAME", sizes[i].ndx}) != 0) {
      std::fprintf(stderr, "vorza-bench-scale: the index of %s could not be built\n",
                   sizes[i].table.c_str());
      return 1;
    }
    sizes[i].area = i + 1;
    ScopedSetting<int> readOnly(Engine().Settings.ForcedFileMode, platform::kModeRead);
    ScopedSetting<bool> fix(Engine().Settings.FixRecCount, true);
    Select(sizes[i].area);
    USE(sizes[i].table);
    SetIndexTo(sizes[i].ndx);
  }
  const char* const kNoSuchText = "zz no such cheat text";
  std::int64_t walked[2] = {};
  std::vector<bench::Case> cases;
  const char* names[] = {"read the .dbf once",
                         "walk in key order in-process",
                         "vorza-dbf list --index (process)",
                         "vorza-dbf list --index --raw (process)",
                         "vorza-dbf grep, no match (process)",
                         "vorza-dbf index (process)"};
  for (int c = 0; c < 6; ++c) {
    for (int i = 0; i < 2; ++i) {
      Size& z = sizes[i];
      const std::string name =
          std::string(names[c]) + ", " + std::to_string(z.records) + " records";
      std::function<void()> run;
      switch (c) {
        case 0: run = [&z] { bench::ReadFileOnce(z.table); }; break;
        case 1:
          run = [&z, &walked, i] {
            Select(z.area);
            walked[i] = 0;
            for (GoTop(); !dEOF(); SKIP(1)) ++walked[i];
          };
          break;
        case 2:
          run = [&z, &tool] { bench::RunProcess({tool, "list", z.table, "--index", z.ndx}); };
          break;
        case 3:
          run = [&z, &tool] {
            bench::RunProcess({tool, "list", z.table, "--index", z.ndx, "--raw"});
          };
          break;
        case 4:
          run = [&z, &tool, kNoSuchText] {
            bench::RunProcess({tool, "grep", z.table, kNoSuchText});
          };
          break;
        default:
          run = [&z, &tool] {
            bench::RunProcess({tool, "index", z.table, "CHEATNAME", z.ndx + ".tmp"});
          };
          break;
      }
      cases.push_back({name, run, {}});
    }
  }
  std::printf("tables: %s, %s\n", sizes[0].table.c_str(), sizes[1].table.c_str());
  const std::vector<double> medians = bench::RunCases(cases, reps);
  std::printf("records walked in key order: %lld and %lld\n", static_cast<long long>(walked[0]),
              static_cast<long long>(walked[1]));
  std::printf("%-44s %10s\n", "growth from the smaller table to the larger", "x");
  for (int c = 0; c < 6; ++c) {
    const double small = medians[static_cast<std::size_t>(2 * c)];
    const double large = medians[static_cast<std::size_t>(2 * c + 1)];
    std::printf("%-44s %10.2f\n", names[c], small > 0 ? large / small : 0.0);
    bench::ReportTiming(std::string("growth x5 of the table: ") + names[c], large, small);
  }
  CloseAll();
  // The peak memory of a key-order listing of the larger table, and the
  // mapped files it reads (their pages count as resident while mapped).
  const long peak = PeakKb({tool, "list", sizes[1].table, "--index", sizes[1].ndx});
  const long long mapped = (FileBytes(sizes[1].table) + FileBytes(sizes[1].ndx)) / 1024;
  std::printf(
      "peak memory of list --index on %lld records: %ld KB, of which the mapped .dbf and .ndx: "
      "%lld KB\n",
      static_cast<long long>(sizes[1].records), peak, mapped);
  bench::ReportValue(
      "peak memory of list --index, " + std::to_string(sizes[1].records) + " records", peak, "KB");
  bench::ReportValue("the same beyond the mapped .dbf and .ndx", static_cast<double>(peak - mapped),
                     "KB");
  for (const Size& z : sizes) {
    platform::DeleteFile(z.ndx);
    platform::DeleteFile(z.ndx + ".tmp");
  }
  return 0;
}
