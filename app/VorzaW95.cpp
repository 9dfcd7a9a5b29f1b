// The reader's entry point: the splash slides down while the main window
// opens the first machine's table; then the main window runs.
//
// usage: vorzaw95 [--no-splash]
//   --no-splash   starts without the splash window (which otherwise stays
//                 at least 4.5 seconds)
// The tables' OEM code page comes from VORZA_OEM_CODEPAGE (437, 850 or
// 866), else from the locale (866 for Russian, Ukrainian and Belarusian).
#include "app/Mainread.h"

#include <QApplication>
#include <cstring>
#include <string>

#include "app/Application.h"
#include "app/InfoScr.h"
#include "app/RAbout.h"
#include "app/Splash.h"
#include "app/VersionInfo.h"
#include "platform/codepage.h"
#include "platform/hooks.h"

using namespace vz::app;

int main(int argc, char** argv) {
  bool splash = true;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--no-splash")) splash = false;

  TApplication application(argc, argv);
  SetApplicationTitle(QStringLiteral("Vorza Cheat Reader for W95"));
  InitReader();
  // The OEM code page of the tables: VORZA_OEM_CODEPAGE, else the locale's.
  // A value it does not know is reported, and the locale's page used.
  std::string problem;
  const int codePage = vz::platform::OemCodePageFromEnvironment(&problem);
  vz::platform::SetOemCodePage(codePage);
  if (!problem.empty())
    vz::platform::ShowMessage(problem + ".\r\nThe tables are read in code page " +
                              std::to_string(codePage) + ".");

  TSplashScreen* splashScreen = nullptr;
  if (splash) {
    TVersionInfo version;
    version.SetFileName(ProgramFileName());
    splashScreen = new TSplashScreen(version.FileVersion());
    ShowSplash(*splashScreen);
    EnableSplashTimer(*splashScreen);
  }
  // The main window first (it opens the table, and builds its index when
  // needed, while the splash is up), then the Help menu's windows.
  auto* form1 = new TForm1();
  auto* form2 = new TForm2();
  auto* form3 = new TForm3();
  form1->SetHelpWindows(form2, form3);
  if (splashScreen) WaitWhileSplashTimerRuns(*splashScreen);

  int status = 0;
  if (!Terminated()) {
    CentreOnScreen(form1);
    form1->show();
    status = application.exec();
  }
  delete form3;
  delete form2;
  delete form1;
  return status;
}
