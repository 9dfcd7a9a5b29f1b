// Table-component benchmark on a generated cheat table opened as the reader
// opens it: opening with a valid index plus First with 20 buffers, a
// LocateRec that finds nothing, and MoveBy(1) at the bottom of a 20-row
// window, side by side with reading the data file once.
//
// usage: vorza-bench-table [--records N] [--reps R]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/CheatTable.h"
#include "bench/BenchUtil.h"
#include "bench/CheatTableGenerator.h"
#include "dataset/DataSource.h"
#include "engine/dates.h"
#include "engine/dbt_file.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/files.h"
#include "table/DbfTable.h"

using namespace vz;

namespace {

class Window : public data::DataLink {};

}  // namespace

int main(int argc, char** argv) {
  bench::Group() = "table";
  bench::CheatTableSpec spec;
  int reps = 5;
  bench::ParseArgs(argc, argv, spec, reps);
  InitEngine();
  InstallHaltingPresentation();  // an engine error ends the run with its message
  const std::string table = bench::CachedCheatTable(spec);
  const std::string ndx = platform::DirectoryOf(table) + "bench-table-cheat.ndx";
  const std::string cat = table;
  bench::ReadFileOnce(cat);

  DbfTable t;
  app::ConfigureAsCheatTable(t, ndx);
  data::DataSource source;
  source.SetDataSet(&t);
  Window window;
  window.SetDataSource(&source);
  window.SetBufferCount(20);
  t.SetDbfFileName(table);
  const double buildMs = bench::TimeMs([&] { t.Open(); });  // builds the index once
  t.First();

  double moveUs = 0;
  std::vector<bench::Case> cases = {
      {"read the .dbf once", [&] { bench::ReadFileOnce(cat); }, {}},
      {"open with a valid index + First (20 rows)",
       [&] {
         t.Close();
         t.Open();
         t.First();
       },
       {}},
      {"LocateRec that finds nothing", [&] { t.LocateRec("cheatname", "zz no such cheat"); }, {}},
      {"1000 x MoveBy(1) at the window's bottom",
       [&] {
         t.First();
         t.MoveBy(19);  // the last row of the window
         const double t0 = bench::NowMs();
         for (int i = 0; i < 1000; ++i) t.MoveBy(1);
         moveUs = (bench::NowMs() - t0);  // ms for 1000 = us per move
       },
       {}},
  };
  std::printf("table: %s (%d records); first open with the index build: %.0f ms\n", table.c_str(),
              t.RecordCount(), buildMs);
  const std::vector<double> medians = bench::RunCases(cases, reps);
  std::printf("per MoveBy(1) at the window's bottom: %.2f us (last run)\n", moveUs);
  bench::ReportTiming("one MoveBy(1) at the window's bottom (median run / 1000)",
                      medians[3] / 1000.0, medians[0]);
  t.Close();
  platform::DeleteFile(ndx);
  return 0;
}
