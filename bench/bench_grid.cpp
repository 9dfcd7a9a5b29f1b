// Grid benchmark on a generated cheat table opened as the reader opens it,
// with the reader's grid (169 x 277, one column of names) shown on the
// offscreen platform: Page Down pressed 100 times, each press timed with
// its repaint, side by side with Down pressed 100 times and with a plain
// repaint of the grid.
//
// usage: vorza-bench-grid [--records N] [--reps R]
#include <QApplication>
#include <QKeyEvent>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/CheatTable.h"
#include "app/CheatViews.h"
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
#include "views/DataGrid.h"
#include "views/DataMemo.h"

using namespace vz;

namespace {

// A key press delivered as the window system delivers it, then every
// pending paint done.
void Press(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
  QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  bench::Group() = "grid";
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  bench::CheatTableSpec spec;
  int reps = 5;
  bench::ParseArgs(argc, argv, spec, reps);
  InitEngine();
  InstallHaltingPresentation();  // an engine error ends the run with its message
  const std::string table = bench::CachedCheatTable(spec);
  const std::string ndx = platform::DirectoryOf(table) + "bench-grid-cheat.ndx";

  DbfTable t;
  app::ConfigureAsCheatTable(t, ndx);
  data::DataSource source;
  source.SetDataSet(&t);

  QWidget form;
  form.resize(658, 363);
  auto* grid = new views::DataGrid(&form);
  grid->setGeometry(0, 53, 169, 277);
  app::ConfigureCheatNameGrid(*grid);
  auto* memo = new views::DataMemo(&form);
  memo->setGeometry(229, 52, 372, 309);
  app::ConfigureCheatTextMemo(*memo);
  grid->SetDataSource(&source);
  memo->SetDataSource(&source);
  memo->SetDataField("CHEATMEMO");
  t.SetDbfFileName(table);
  const double openMs = bench::TimeMs([&] { t.Open(); });  // builds the index when needed
  form.show();
  grid->setFocus();
  t.First();
  QApplication::processEvents();

  std::vector<double> pagePress;
  const std::string cat = table;
  std::vector<bench::Case> cases = {
      {"read the .dbf once", [&] { bench::ReadFileOnce(cat); }, {}},
      {"100 x repaint of the grid",
       [&] {
         for (int i = 0; i < 100; ++i) grid->viewport()->repaint();
       },
       {}},
      {"100 x Down (grid and memo follow)",
       [&] {
         t.First();
         QApplication::processEvents();
         for (int i = 0; i < 100; ++i) Press(grid, Qt::Key_Down);
       },
       {}},
      {"100 x Page Down (grid and memo follow)",
       [&] {
         t.First();
         QApplication::processEvents();
         for (int i = 0; i < 100; ++i) {
           const double t0 = bench::NowMs();
           Press(grid, Qt::Key_PageDown);
           pagePress.push_back(bench::NowMs() - t0);
         }
       },
       {}},
  };
  std::printf("table: %s (%d records, %d rows shown); open: %.0f ms\n", table.c_str(),
              t.RecordCount(), grid->VisibleRowCount(), openMs);
  const std::vector<double> medians = bench::RunCases(cases, reps);
  std::vector<double> sorted = pagePress;
  std::sort(sorted.begin(), sorted.end());
  std::printf(
      "per Page Down press with its repaint: median %.3f ms, 90th percentile %.3f ms, max %.3f "
      "ms\n",
      bench::Median(pagePress), sorted[sorted.size() * 9 / 10], sorted.back());
  bench::ReportTiming("one Page Down with its repaint", bench::Median(pagePress), medians[0]);
  t.Close();
  platform::DeleteFile(ndx);
  return 0;
}
