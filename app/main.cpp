// The reader's entry point: the splash slides down while the main window
// opens the first machine's table; then the main window runs.
//
// usage: vorza [--no-splash] [FOLDER]
//   FOLDER        the folder of the catalogue (the machines' tables); by
//                 default the user's catalogue, else the sample installed
//                 with the program (see CatalogueFolder.h)
//   --no-splash   starts without the splash window (which otherwise stays
//                 at least 4.5 seconds)
//   --help        prints the usage and exits
//   --version     prints the version and exits
// The tables' OEM code page comes from VORZA_OEM_CODEPAGE (437, 850 or
// 866), else from the locale (866 for Russian, Ukrainian and Belarusian).
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Application.h"
#include "app/CatalogueFolder.h"
#include "app/MainWindow.h"
#include "app/ReleaseInfoDialog.h"
#include "app/SplashScreen.h"
#include "app/VersionInfo.h"
#include "app/WebLinksDialog.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"

using namespace vz::app;

namespace {

// The exit status of a command line that cannot be used.
constexpr int kUsageError = 64;

// Also the source of the manual page (see tools/man_page.cpp for the form).
void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: vorza [--no-splash] [FOLDER]\n"
               "Reads catalogues of video-game cheats.\n"
               "Pick a games machine, type the beginning of a cheat's name to jump to\n"
               "it, read its text, print it. A catalogue is a folder with one dBase\n"
               "table per machine: pc.dbf and pc.dbt for IBM/PC, n64, psx and dream\n"
               "for the Nintendo N64, Sony Playstation and Sega Dreamcast.\n"
               "\n"
               "Options:\n"
               "  --no-splash  start without the splash window\n"
               "  --help       print this text and exit\n"
               "  --version    print the version and exit\n"
               "\n"
               "Catalogues:\n"
               "  The reader opens the catalogue in FOLDER; without one, the catalogue\n"
               "  in your data folder, ~/.local/share/vorza (or $XDG_DATA_HOME/vorza),\n"
               "  when it holds at least one machine's table, else the sample installed\n"
               "  with the program (share/vorza of its prefix). It keeps a name index,\n"
               "  cheat.ndx, beside the tables, or in ~/.cache/vorza (or\n"
               "  $XDG_CACHE_HOME/vorza) when that folder cannot be written.\n"
               "  Make your own catalogue from a text, CSV or JSON Lines file with\n"
               "  vorza-dbf import, for example\n"
               "    mkdir -p ~/.local/share/vorza\n"
               "    vorza-dbf import ~/.local/share/vorza/pc.dbf my-pc-cheats.txt\n"
               "  (see vorza-dbf import --help for the formats).\n"
               "\n"
               "Environment:\n"
               "  VORZA_OEM_CODEPAGE  the code page of the tables: 437, 850 or 866\n"
               "                      (by default 866 under a Russian, Ukrainian or\n"
               "                      Belarusian locale, else 437)\n"
               "  DISPLAY             the display to open the window on\n"
               "\n"
               "Files:\n"
               "  ~/.config/vorza/vorza.conf  the window's size and place\n");
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

// Without a window system to talk to, Qt ends the program with an abort
// and a page of advice; one line says it better. The environment is looked
// at first; a display that is set but cannot be reached is caught when the
// window system's plug-in gives up.
bool DisplayMissing(int argc, char** argv) {
  std::string platform = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
  for (int i = 1; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "-platform")) platform = argv[i + 1];
  const auto set = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
  if (platform.empty()) return !set("DISPLAY") && !set("WAYLAND_DISPLAY");
  if (platform.rfind("xcb", 0) == 0) return !set("DISPLAY");
  return false;
}

void SayNoDisplay() {
  const char* display = std::getenv("DISPLAY");
  std::fprintf(stderr,
               "vorza: no display to open a window on (%s%s); start it in a desktop session, "
               "or with QT_QPA_PLATFORM=offscreen to run it without a screen\n",
               display && *display ? "cannot reach DISPLAY " : "DISPLAY is not set",
               display && *display ? display : "");
}

QtMessageHandler qtMessages = nullptr;

// While the application object is made: the window system plug-in's
// complaints are held back, and its failure ends the program with one line.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && message.contains(QStringLiteral("platform plugin"))) {
    SayNoDisplay();
    std::fflush(stderr);
    std::_Exit(1);
  }
  if (context.category && std::strncmp(context.category, "qt.qpa.", 7) == 0 && type != QtDebugMsg)
    return;
  if (qtMessages) qtMessages(type, context, message);
}

// SIGTERM and SIGINT end the reader as File/Exit does (the table closed,
// its index removed), between two events rather than in the middle of one:
// the handler only writes to a pipe the event loop watches.
int endSignalPipe[2] = {-1, -1};

void OnEndSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(endSignalPipe[1], &c, 1);
}

// Catches the signals from the start; `form` acts on them once it exists
// (one that came earlier waits in the pipe).
void CatchEndSignals() {
  if (::pipe2(endSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

void ExitOnEndSignals(MainWindow* form) {
  if (endSignalPipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(endSignalPipe[0], QSocketNotifier::Read, form);
  QObject::connect(notifier, &QSocketNotifier::activated, form, [form] {
    char c;
    while (::read(endSignalPipe[0], &c, 1) > 0) {
    }
    form->ExitAction()->trigger();
  });
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (PrintAndEnd(argc, argv, status)) return status;

  if (DisplayMissing(argc, argv)) {
    SayNoDisplay();
    return 1;
  }
  qtMessages = qInstallMessageHandler(StartupMessages);
  Application application(argc, argv);
  qInstallMessageHandler(qtMessages);
  CatchEndSignals();
  SetDesktopIdentity();
  SetApplicationTitle(QStringLiteral("Vorza Cheat Reader for W95"));

  Options options;
  std::string error;
  if (!ParseArguments(QCoreApplication::arguments(), options, error)) {
    std::fprintf(stderr, "vorza: %s\n", error.c_str());
    PrintUsage(stderr);
    return kUsageError;
  }
  const CatalogueChoice catalogue =
      ChooseCatalogueFolder(options.folder, vz::platform::ProgramDirectory());
  if (!catalogue.problem.empty()) {
    std::fprintf(stderr, "vorza: %s\n", catalogue.problem.c_str());
    return 2;
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

  SplashScreen* splashScreen = nullptr;
  if (options.splash) {
    VersionInfo version;
    version.SetFileName(ProgramFileName());
    splashScreen = new SplashScreen(version.FileVersion());
    ShowSplash(*splashScreen);
    EnableSplashTimer(*splashScreen);
  }
  // The main window first (it opens the table, and builds its index when
  // needed, while the splash is up), then the Help menu's windows; the
  // release information is looked for in the catalogue's folder too.
  auto* form1 = new MainWindow(catalogue.folder);
  auto* form2 = new WebLinksDialog();
  auto* form3 = new ReleaseInfoDialog(
      ReleaseInformationFolder(form1->ProgramDir(), vz::platform::ProgramDirectory()));
  form1->SetHelpWindows(form2, form3);
  ExitOnEndSignals(form1);
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
