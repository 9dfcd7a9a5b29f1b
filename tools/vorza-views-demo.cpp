// A small window with the reader's grid and memo bound to one cheat table:
// a way to look at the views on their own (and to take their picture).
//
// usage: vorza-views-demo [TABLE] [--locate TEXT]
//   TABLE    a cheat table (default: n64.dbf beside the program)
//   --locate moves to the first cheat whose name begins with TEXT
//            (default "Pok")
// The name index is built in a temporary folder that is removed on exit.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The table's headers come before Qt's.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "app/CheatTable.h"
#include "app/CheatViews.h"
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
#include "views/StatusPopup.h"

using namespace vz;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string table = platform::ProgramDirectory() + "n64.dbf";
  std::string locate = "Pok";
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--locate") && i + 1 < argc) {
      locate = argv[++i];
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: vorza-views-demo [TABLE] [--locate TEXT]\n");
      return 64;
    } else {
      table = argv[i];
    }
  }
  InitEngine();
  InstallHaltingPresentation();
  views::InstallStatusWindows();

  char folder[] = "/tmp/vorza-demo-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("vorza-views-demo");
    return 1;
  }
  const std::string ndx = std::string(folder) + "/cheat.ndx";

  DbfTable cheats;
  app::ConfigureAsCheatTable(cheats, ndx);
  data::DataSource source;
  source.SetDataSet(&cheats);

  QWidget window;
  window.setWindowTitle(QStringLiteral("Vorza views demo"));
  window.setFixedSize(566, 300);
  window.setStyleSheet(QStringLiteral("QWidget#demo { background: #4b1a5e; }"));
  window.setObjectName(QStringLiteral("demo"));
  auto* grid = new views::DataGrid(&window);
  grid->setGeometry(6, 6, 169, 277);
  app::ConfigureCheatNameGrid(*grid);
  auto* memo = new views::DataMemo(&window);
  memo->setGeometry(186, 6, 372, 288);
  app::ConfigureCheatTextMemo(*memo);
  grid->SetDataSource(&source);
  memo->SetDataSource(&source);
  memo->SetDataField("CHEATMEMO");

  cheats.SetDbfFileName(table);
  int status = 0;
  try {
    cheats.Open();
    cheats.First();
    if (!locate.empty()) cheats.LocateRec("cheatname", locate);
    window.show();
    window.activateWindow();
    grid->setFocus();
    status = app.exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorza-views-demo: %s\n", e.what());
    status = 1;
  }
  cheats.Close();
  platform::DeleteFile(ndx);
  rmdir(folder);
  return status;
}
