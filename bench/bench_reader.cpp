// Reader benchmark: start-up to a usable main window (the three forms made,
// the main window shown and painted, the first machine open on a valid
// cheat.ndx) on the sample catalogue and on a generated catalogue of a
// million records, keystrokes in the search box on the large one (each
// with the repaint of grid and memo), and Find in texts on it (a search
// that finds nothing, with its progress window; a search of the next 1,000
// cheats), side by side with reading the large table once.
//
// usage: vorza-bench-reader [--records N] [--reps R]
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ReleaseInfoDialog.h"
#include "app/WebLinksDialog.h"
#include "bench/BenchUtil.h"
#include "bench/CheatTableGenerator.h"
#include "platform/files.h"

using namespace vz;

namespace {

std::string MakeProgramDir(const std::string& name) {
  std::string dir = "/tmp/vorza-bench-reader-" + name + "-" + std::to_string(::getpid());
  ::mkdir(dir.c_str(), 0755);
  return dir + "/";
}

void Link(const std::string& from, const std::string& to) {
  ::unlink(to.c_str());
  if (::symlink(from.c_str(), to.c_str()) != 0) std::perror(to.c_str());
}

// Makes the three forms and shows the main window until it is painted.
double StartUp(const std::string& programDir) {
  const double t0 = bench::NowMs();
  auto* form1 = new app::MainWindow(programDir);
  auto* form2 = new app::WebLinksDialog();
  auto* form3 = new app::ReleaseInfoDialog();
  form1->SetHelpWindows(form2, form3);
  form1->show();
  (void)QTest::qWaitForWindowExposed(form1);
  QApplication::processEvents();
  const double ms = bench::NowMs() - t0;
  delete form3;
  delete form2;
  delete form1;
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Group() = "reader";
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  app::SetApplicationTitle(QStringLiteral("Vorza Cheat Reader for W95"));
  app::InitReader();
  bench::CheatTableSpec spec;
  int reps = 5;
  bench::ParseArgs(argc, argv, spec, reps);

  // The sample catalogue beside the program, and a large one.
  const std::string sample = MakeProgramDir("sample");
  const std::string bin = platform::ProgramDirectory();
  for (const char* f :
       {"pc.dbf", "pc.dbt", "n64.dbf", "n64.dbt", "psx.dbf", "psx.dbt", "dream.dbf", "dream.dbt"})
    Link(bin + f, sample + f);
  const std::string large = MakeProgramDir("large");
  const std::string table = bench::CachedCheatTable(spec);
  const std::string base = table.substr(0, table.size() - 4);
  Link(base + ".dbf", large + "pc.dbf");
  Link(base + ".dbt", large + "pc.dbt");
  const std::string cat = base + ".dbf";

  // The first start of each builds its cheat.ndx: not counted.
  const double buildSample = StartUp(sample);
  const double buildLarge = StartUp(large);

  std::vector<bench::Case> cases = {
      {"read the large .dbf once", [&] { bench::ReadFileOnce(cat); }, {}},
      {"start-up, sample catalogue", [&] { StartUp(sample); }, {}},
      {"start-up, large catalogue (valid index)", [&] { StartUp(large); }, {}},
  };
  std::printf(
      "large catalogue: %lld records; first starts with the index build: sample %.0f ms, large "
      "%.0f ms\n",
      static_cast<long long>(spec.records), buildSample, buildLarge);
  const std::vector<double> medians = bench::RunCases(cases, reps);

  // Keystrokes in the search box on the large catalogue.
  auto* form = new app::MainWindow(large);
  form->show();
  (void)QTest::qWaitForWindowExposed(form);
  form->SearchBox()->setFocus();
  std::vector<double> hits, misses, clears;
  for (int r = 0; r < reps; ++r) {
    for (const char* letter : {"s", "t", "a"}) {
      const double t0 = bench::NowMs();
      QTest::keyClick(form->SearchBox(), letter[0]);
      QApplication::processEvents();
      hits.push_back(bench::NowMs() - t0);
    }
    {
      // A text no name begins with: the scan reads the whole table.
      const double t0 = bench::NowMs();
      QTest::keyClick(form->SearchBox(), '~');
      QApplication::processEvents();
      misses.push_back(bench::NowMs() - t0);
    }
    for (int i = 0; i < 4; ++i) {
      const double t0 = bench::NowMs();
      QTest::keyClick(form->SearchBox(), Qt::Key_Backspace);
      QApplication::processEvents();
      clears.push_back(bench::NowMs() - t0);
    }
  }
  std::printf("%-44s %12s\n", "keystroke in the search box (large)", "median ms");
  std::printf("%-44s %12.2f\n", "a letter that finds a name", bench::Median(hits));
  std::printf("%-44s %12.2f\n", "a letter that finds nothing (whole scan)", bench::Median(misses));
  std::printf("%-44s %12.2f\n", "Backspace", bench::Median(clears));
  bench::ReportTiming("keystroke: a letter that finds a name", bench::Median(hits), medians[0]);
  bench::ReportTiming("keystroke: a letter that finds nothing", bench::Median(misses), medians[0]);
  bench::ReportTiming("keystroke: Backspace", bench::Median(clears), medians[0]);

  // Find in texts on the large catalogue: words no cheat text holds (the
  // whole table is searched, the progress window shows), and a search of
  // the next 1,000 cheats in name order (what a match among them costs at
  // most).
  QTest::keyClick(form, Qt::Key_F, Qt::ControlModifier);
  form->FindBox()->setText(QStringLiteral("zz no such cheat text"));
  bool progressShown = false;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (QApplication::activeModalWidget() &&
        QApplication::activeModalWidget()->objectName() == QLatin1String("FindProgress1"))
      progressShown = true;
  });
  std::vector<double> findNone, findNext;
  for (int r = 0; r < reps; ++r) {
    watch.start();
    const double t0 = bench::NowMs();
    form->FindNext(true);
    QApplication::processEvents();
    findNone.push_back(bench::NowMs() - t0);
    watch.stop();
    const double t1 = bench::NowMs();
    form->CheatTable()->FindText("zz no such cheat text", true,
                                 [](std::int64_t looked) { return looked < 1000; });
    QApplication::processEvents();
    findNext.push_back(bench::NowMs() - t1);
  }
  std::printf("%-44s %12.2f  (progress window shown: %s)\n",
              "Find in texts, no match (whole table)", bench::Median(findNone),
              progressShown ? "yes" : "no");
  std::printf("%-44s %12.2f\n", "Find in texts over the next 1,000 cheats",
              bench::Median(findNext));
  bench::ReportTiming("Find in texts, no match, " + std::to_string(spec.records) +
                          " cheats (progress " + (progressShown ? "shown)" : "not shown)"),
                      bench::Median(findNone), medians[0]);
  bench::ReportTiming("Find in texts over the next 1,000 cheats", bench::Median(findNext),
                      medians[0]);

  form->OnExitChosen();
  delete form;
  for (const std::string& dir : {sample, large}) {
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  return 0;
}
