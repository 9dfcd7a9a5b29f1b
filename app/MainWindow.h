// The reader's main window: the machine box, the list of cheat names, the
// cheat text, the search box and the print button over the program's
// picture, with the File and Help menus. It opens the alphabetically first
// machine offered in the program directory when it is created. The form's
// size is its default and smallest; a larger window gives the list and the
// text more room (MainLayout.h).
#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "dataset/DataSource.h"
#include "table/DbfTable.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QSettings;

namespace vz::views {
class DataGrid;
class DataMemo;
}  // namespace vz::views

namespace vz::app {

class WebLinksDialog;
class ReleaseInfoDialog;
class VersionInfo;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // The window's caption starts with this; the program's version follows.
  static constexpr const char* kCaptionPrefix = "Vorza for windows v";
  // The shared name index, beside the tables (or in the user's cache folder
  // when the program directory cannot be written).
  static constexpr const char* kIndexFileName = "cheat.ndx";

  // Creates the components and runs SetUp. `programDir` (ending in its
  // separator) is where the machines' tables are looked for; empty: the
  // program's own directory.
  explicit MainWindow(const std::string& programDir = std::string(), QWidget* parent = nullptr);
  ~MainWindow() override;

 private:
  // --- Components ---
  QLabel* picture_ = nullptr;
  QLabel* machineLabel_ = nullptr;
  QLabel* searchLabel_ = nullptr;
  views::DataMemo* textMemo_ = nullptr;
  views::DataGrid* nameGrid_ = nullptr;
  QLineEdit* searchBox_ = nullptr;
  QComboBox* machineBox_ = nullptr;
  QPushButton* printButton_ = nullptr;
  std::unique_ptr<DbfTable> cheatTable_;
  data::DataSource dataSource_;
  VersionInfo* versionInfo_ = nullptr;
  QAction* exitAction_ = nullptr;
  // Edit / Find in texts (Ctrl+F), Find next (F3), Find previous (Shift+F3).
  QAction* findInTextsAction_ = nullptr;
  QAction* findNextAction_ = nullptr;
  QAction* findPreviousAction_ = nullptr;
  // The find bar under the list: the words to find in the cheat texts.
  QWidget* findBar_ = nullptr;
  QLineEdit* findBox_ = nullptr;
  QAction* releaseInfoAction_ = nullptr;
  QAction* webLinksAction_ = nullptr;
  QAction* emailCommentsAction_ = nullptr;

 public:
  // The components, for the window's users and tests.
  QLabel* Picture() const { return picture_; }
  QLabel* MachineLabel() const { return machineLabel_; }
  QLabel* SearchLabel() const { return searchLabel_; }
  views::DataMemo* TextMemo() const { return textMemo_; }
  views::DataGrid* NameGrid() const { return nameGrid_; }
  QLineEdit* SearchBox() const { return searchBox_; }
  QComboBox* MachineBox() const { return machineBox_; }
  QPushButton* PrintButton() const { return printButton_; }
  DbfTable* CheatTable() const { return cheatTable_.get(); }
  data::DataSource& CheatSource() { return dataSource_; }
  VersionInfo* Version() const { return versionInfo_; }
  QAction* ExitAction() const { return exitAction_; }
  QWidget* FindBar() const { return findBar_; }
  QLineEdit* FindBox() const { return findBox_; }
  QAction* ReleaseInfoAction() const { return releaseInfoAction_; }
  QAction* WebLinksAction() const { return webLinksAction_; }
  QAction* EmailCommentsAction() const { return emailCommentsAction_; }

  // The Help menu's windows (made at start-up after this one).
  void SetHelpWindows(WebLinksDialog* about, ReleaseInfoDialog* information);

  // --- Event handlers ---
  void SetUp();
  void OnExitChosen();
  void OnFindInTextsChosen();
  // Goes to the next (or the previous) cheat in name order whose text holds
  // every word of the find bar, wrapping at the end; the status bar says
  // when it wrapped, found nothing or was cancelled.
  void FindNext(bool forward);
  void OnMachineChosen();
  void OnSearchTextChanged();
  void OnPrintClicked();
  void OnReleaseInfoChosen();
  void OnWebLinksChosen();
  void OnEmailCommentsChosen();

  // Where the tables are looked for, and where the name index lives.
  const std::string& ProgramDir() const { return programDir_; }
  const std::string& IndexPath() const { return indexPath_; }

  // Puts the window where it stood, as large as it was, when it was last
  // closed (its size and position are kept in the user's settings), else at
  // its default size in the middle of the screen. Call before showing it.
  void PlaceOnScreen();
  // Where the window's size and position are kept: the group and key in the
  // user's settings ("vorza" in the user's configuration folder).
  static constexpr const char* kPlacementKey = "MainWindow/Geometry";

  // A search of the texts that runs longer than this shows its progress
  // window (with Cancel; Escape cancels too).
  int FindProgressDelayMs = 250;
  // The status bar's notes about a search of the texts.
  static constexpr const char* kWrappedForward =
      "Passed the end of the list: went on from the top.";
  static constexpr const char* kWrappedBackward =
      "Passed the top of the list: went on from the end.";
  static constexpr const char* kNothingFound = "No cheat text holds these words.";
  static constexpr const char* kSearchCancelled = "The search was cancelled.";

  // The printer the print button prints on: by default the desktop's
  // default printer; nothing when there is none.
  using PrinterSource = std::function<std::unique_ptr<QPrinter>()>;
  void SetPrinterSource(PrinterSource source) { printerSource_ = std::move(source); }
  static std::unique_ptr<QPrinter> DefaultPrinter();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  void CreateMenu();
  // Places the controls for the client area's size (and draws the
  // background for it when the size changed).
  void ArrangeControls();
  // The machine box's text changed by typing into it.
  void OnMachineTextEdited(const QString& text);
  // The index lives beside the tables unless the program directory cannot
  // be written; then in the user's cache folder.
  void PlaceIndex();
  // Marks the find bar's words in the cheat text.
  void HighlightFoundWords();

  std::string programDir_;
  std::string indexPath_;
  PrinterSource printerSource_;
  WebLinksDialog* webLinksDialog_ = nullptr;
  ReleaseInfoDialog* releaseInfoDialog_ = nullptr;
  bool firstShow_ = true;
  QSize backgroundSize_;  // the size the background was drawn for
};

// The user's settings of the reader (size and place of its window).
std::unique_ptr<QSettings> UserSettings();

// The main window of the running program. One per process, and Qt keeps no
// main window of its own: the engine's presenters, installed once at
// start-up before the window exists, find the owner of their boxes here.
extern MainWindow* TheMainWindow;

// Readies the engines for the reader (date settings, memo files, the
// expression language, the index hooks) and shows what they report in the
// window system's boxes: a halting error in the modal "Program halted." box
// with the stop icon (the program then ends with the error's code), other
// messages in a plain box, an index build's progress in the status window.
void InitReader();

// An engine text (bytes, normally UTF-8 file names and ASCII) for a box.
QString EngineText(const std::string& text);

}  // namespace vz::app
