// The reader's entry point: the splash slides down while the main window
// opens the first machine's table; then the main window runs.
//
// usage: vorza [--no-splash] [FOLDER]
//   FOLDER        the folder of the catalogue (the machines' tables); by
//                 default the program's own folder
//   --no-splash   starts without the splash window (which otherwise stays
//                 at least 4.5 seconds)
//   --help        prints the usage and exits
//   --version     prints the version and exits
// The tables' OEM code page comes from VORZA_OEM_CODEPAGE (437, 850 or
// 866), else from the locale (866 for Russian, Ukrainian and Belarusian).
#include "app/Mainread.h"

#include <sys/stat.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/Application.h"
#include "app/InfoScr.h"
#include "app/RAbout.h"
#include "app/Splash.h"
#include "app/VersionInfo.h"
#include "platform/codepage.h"
#include "platform/hooks.h"

using namespace vz::app;

namespace {

// The exit status of a command line that cannot be used.
constexpr int kUsageError = 64;

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: vorza [--no-splash] [FOLDER]\n"
               "Reads the cheat catalogue kept in FOLDER (by default the program's own\n"
               "folder): each machine's cheats in a dBase table (pc.dbf and pc.dbt for\n"
               "IBM/PC, n64, psx and dream for the Nintendo N64, Sony Playstation and\n"
               "Sega Dreamcast).\n"
               "\n"
               "  --no-splash  start without the splash window\n"
               "  --help       print this text and exit\n"
               "  --version    print the version and exit\n");
}

// The options that print and end. They are looked for before the window
// system is reached, so that they work without a display.
bool PrintAndEnd(int argc, char** argv, int& status) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--")) break;
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      PrintUsage(stdout);
      status = 0;
      return true;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("vorza %s\n", VORZA_VERSION);
      status = 0;
      return true;
    }
  }
  return false;
}

struct Options {
  bool splash = true;
  std::string folder;  // empty: the program's own
};

// The arguments the window system left. False (with a message) when they
// cannot be used.
bool ParseArguments(const QStringList& arguments, Options& options, std::string& error) {
  bool optionsEnd = false;
  for (int i = 1; i < arguments.size(); ++i) {
    const std::string argument = arguments.at(i).toStdString();
    if (!optionsEnd && argument == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && argument == "--no-splash") {
      options.splash = false;
    } else if (!optionsEnd && argument.size() > 1 && argument[0] == '-') {
      error = "unknown option " + argument;
      return false;
    } else if (!options.folder.empty()) {
      error = "one folder only";
      return false;
    } else {
      options.folder = argument;
    }
  }
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (PrintAndEnd(argc, argv, status)) return status;

  TApplication application(argc, argv);
  SetDesktopIdentity();
  SetApplicationTitle(QStringLiteral("Vorza Cheat Reader for W95"));

  Options options;
  std::string error;
  if (!ParseArguments(QCoreApplication::arguments(), options, error)) {
    std::fprintf(stderr, "vorza: %s\n", error.c_str());
    PrintUsage(stderr);
    return kUsageError;
  }
  std::string catalogue;
  if (!options.folder.empty()) {
    if (!IsFolder(options.folder)) {
      std::fprintf(stderr, "vorza: %s: no such folder\n", options.folder.c_str());
      return 2;
    }
    catalogue = std::filesystem::absolute(options.folder).lexically_normal().string();
  }
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
  if (options.splash) {
    TVersionInfo version;
    version.SetFileName(ProgramFileName());
    splashScreen = new TSplashScreen(version.FileVersion());
    ShowSplash(*splashScreen);
    EnableSplashTimer(*splashScreen);
  }
  // The main window first (it opens the table, and builds its index when
  // needed, while the splash is up), then the Help menu's windows; the
  // release information is looked for in the catalogue's folder too.
  auto* form1 = new TForm1(catalogue);
  auto* form2 = new TForm2();
  auto* form3 = new TForm3(form1->ProgramDir());
  form1->SetHelpWindows(form2, form3);
  if (splashScreen) WaitWhileSplashTimerRuns(*splashScreen);

  if (!Terminated()) {
    form1->PlaceOnScreen();
    form1->show();
    status = application.exec();
  }
  delete form3;
  delete form2;
  delete form1;
  return status;
}
