#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>

#include "app/Application.h"
#include "app/CheatTable.h"
#include "app/CheatViews.h"
#include "app/MachineCatalogue.h"
#include "app/MainLayout.h"
#include "app/Pictures.h"
#include "app/ReleaseInfoDialog.h"
#include "app/Shell.h"
#include "app/TextPrinter.h"
#include "app/VersionInfo.h"
#include "app/WebLinksDialog.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "views/DataGrid.h"
#include "views/DataMemo.h"
#include "views/StatusPopup.h"

namespace vz::app {

MainWindow* TheMainWindow = nullptr;

namespace {

// The main window's colour.
const QColor kPurple(0x80, 0x00, 0x80);

QFont TerminalFontOf(int pixelHeight) {
  QFont font = views::TerminalFont();
  font.setPixelSize(pixelHeight);
  return font;
}

QLabel* WhiteLabel(QWidget* parent, const char* name, const char* caption, const QRect& geometry) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setFont(SansFont(11, true));
  label->setAttribute(Qt::WA_TranslucentBackground);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(p);
  // The sans-serif stand-in is wider than the layout's font: the label
  // grows to its text from its place instead of cutting it.
  label->adjustSize();
  label->move(geometry.topLeft());
  return label;
}

}  // namespace

MainWindow::MainWindow(const std::string& programDir, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      programDir_(programDir) {
  setObjectName(QStringLiteral("Form1"));
  CreateComponents();
  CreateMenu();
  // The form's own size is the default and the smallest one.
  resize(minimumSizeHint());
  // The first form made is the application's main window.
  if (!TheMainWindow) TheMainWindow = this;
  try {
    SetUp();
  } catch (const std::exception& e) {
    // As the application handles an exception of a form's creation: the
    // message is shown and the remaining steps are skipped.
    ShowException(e, this);
  }
}

MainWindow::~MainWindow() {
  // The table closes with the window; the views let go of the data source
  // first.
  if (cheatTable_) {
    try {
      cheatTable_->Close();
    } catch (...) {
    }
  }
  if (TheMainWindow == this) TheMainWindow = nullptr;
}

void MainWindow::SetHelpWindows(WebLinksDialog* about, ReleaseInfoDialog* information) {
  webLinksDialog_ = about;
  releaseInfoDialog_ = information;
}

// --- The components ------------------------------------------------------------------------------

void MainWindow::CreateComponents() {
  setFont(SansFont(11));
  setWindowIcon(WindowIcon());
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->setMinimumSize(kMainClientWidth, kMainClientHeight);
  client->resize(kMainClientWidth, kMainClientHeight);
  client->setAutoFillBackground(true);
  QPalette purple = client->palette();
  purple.setColor(QPalette::Window, kPurple);
  client->setPalette(purple);
  setCentralWidget(client);

  picture_ = new QLabel(client);
  picture_->setObjectName(QStringLiteral("Image1"));
  picture_->setGeometry(0, 0, kMainClientWidth, kMainClientHeight);
  picture_->setPixmap(MainBackground());
  backgroundSize_ = QSize(kMainClientWidth, kMainClientHeight);

  // Alt+M: the machine box (its buddy, set below).
  machineLabel_ = WhiteLabel(client, "Label4", "&Machine :", QRect(3, 15, 57, 13));
  searchLabel_ = WhiteLabel(client, "Label3", "<-Search", QRect(173, 341, 52, 13));

  textMemo_ = new views::DataMemo(client);
  textMemo_->setObjectName(QStringLiteral("TzMemo1"));
  textMemo_->setGeometry(229, 52, 372, 309);
  ConfigureCheatTextMemo(*textMemo_);
  textMemo_->SetCaptionPos(views::CaptionPosition::cpLeft);
  textMemo_->SetDataSource(&dataSource_);
  textMemo_->SetDataField("CHEATMEMO");

  nameGrid_ = new views::DataGrid(client);
  nameGrid_->setObjectName(QStringLiteral("TzGrid1"));
  nameGrid_->setGeometry(0, 53, 169, 277);
  ConfigureCheatNameGrid(*nameGrid_);
  nameGrid_->SetDataSource(&dataSource_);

  searchBox_ = new QLineEdit(QStringLiteral("Edit1"), client);
  searchBox_->setObjectName(QStringLiteral("Edit1"));
  searchBox_->setGeometry(0, 335, 170, 24);
  searchBox_->setFont(TerminalFontOf(16));
  // Every change of the text, typed or set, runs the search.
  connect(searchBox_, &QLineEdit::textChanged, this, [this] { OnSearchTextChanged(); });

  machineBox_ = new QComboBox(client);
  machineBox_->setObjectName(QStringLiteral("ComboBox1"));
  machineBox_->setGeometry(1, 29, 169, 20);
  machineBox_->setEditable(true);
  machineBox_->setInsertPolicy(QComboBox::NoInsert);
  machineBox_->setCompleter(nullptr);
  machineBox_->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  machineBox_->setFont(TerminalFontOf(12));
  machineBox_->setEditText(QStringLiteral("ComboBox1"));
  // A list entry picked by the user, and every edit of the text field.
  connect(machineBox_, qOverload<int>(&QComboBox::activated), this, [this] { OnMachineChosen(); });
  connect(machineBox_->lineEdit(), &QLineEdit::textEdited, this,
          [this](const QString& text) { OnMachineTextEdited(text); });
  machineLabel_->setBuddy(machineBox_);

  printButton_ = new QPushButton(client);
  printButton_->setObjectName(QStringLiteral("BitBtn1"));
  printButton_->setGeometry(616, 332, 29, 25);
  printButton_->setIcon(PrintIcon());
  printButton_->setIconSize(QSize(16, 16));
  printButton_->setToolTip(QStringLiteral("Print the cheat"));
  connect(printButton_, &QPushButton::clicked, this, [this] { OnPrintClicked(); });

  // Tab order: the grid, the cheat text, the search box, the machine box
  // (not a tab stop; Alt+M), the print button. Alt+T also reaches the text,
  // whose keys then scroll it; Tab goes on from it.
  textMemo_->setFocusPolicy(Qt::StrongFocus);
  textMemo_->setTabChangesFocus(true);
  setTabOrder(nameGrid_, textMemo_);
  setTabOrder(textMemo_, searchBox_);
  setTabOrder(searchBox_, printButton_);
  auto* toText = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_T), this);
  connect(toText, &QShortcut::activated, this,
          [this] { textMemo_->setFocus(Qt::ShortcutFocusReason); });

  // The find bar, under the list while it is shown (Edit / Find in texts).
  findBar_ = new QWidget(client);
  findBar_->setObjectName(QStringLiteral("FindBar1"));
  findBar_->setAutoFillBackground(true);
  auto* findLayout = new QHBoxLayout(findBar_);
  findLayout->setContentsMargins(2, 1, 2, 1);
  findLayout->setSpacing(3);
  auto* findLabel = new QLabel(QStringLiteral("Find:"), findBar_);
  findLabel->setObjectName(QStringLiteral("FindLabel1"));
  findBox_ = new QLineEdit(findBar_);
  findBox_->setObjectName(QStringLiteral("FindEdit1"));
  findBox_->setToolTip(
      QStringLiteral("Words to find in the cheat texts: Enter or F3 finds the next cheat, "
                     "Shift+F3 the previous one, Escape closes the bar"));
  findLabel->setBuddy(findBox_);
  findLayout->addWidget(findLabel);
  findLayout->addWidget(findBox_, 1);
  findBar_->hide();
  connect(findBox_, &QLineEdit::returnPressed, this, [this] { FindNext(true); });
  findBox_->installEventFilter(this);
  connect(textMemo_, &QPlainTextEdit::textChanged, this, [this] { HighlightFoundWords(); });
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));

  cheatTable_ = std::make_unique<DbfTable>();
  ConfigureAsCheatTable(*cheatTable_, kIndexFileName);
  dataSource_.SetDataSet(cheatTable_.get());

  versionInfo_ = new VersionInfo(this);

  // The controls follow the client area's size.
  client->installEventFilter(this);
  // Ctrl+X is File/Exit from every control: seen before any control (the
  // machine box hands the key to its text field directly, past the field's
  // own filters).
  qApp->installEventFilter(this);
}

void MainWindow::ArrangeControls() {
  QWidget* client = centralWidget();
  const MainLayout l = MainLayoutFor(client->size());
  picture_->setGeometry(QRect(QPoint(0, 0), client->size()));
  if (backgroundSize_ != l.Client) {
    picture_->setPixmap(MainBackground(l));
    backgroundSize_ = l.Client;
  }
  machineLabel_->move(l.MachineLabel);
  machineBox_->setGeometry(l.MachineBox);
  if (findBar_->isVisible()) {
    // The find bar takes the bottom of the list's place.
    constexpr int kBarHeight = 26;
    QRect grid = l.Grid;
    grid.setHeight(grid.height() - kBarHeight);
    nameGrid_->setGeometry(grid);
    findBar_->setGeometry(grid.left(), grid.bottom() + 1, grid.width(), kBarHeight);
  } else {
    nameGrid_->setGeometry(l.Grid);
  }
  searchBox_->setGeometry(l.SearchBox);
  searchLabel_->move(l.SearchLabel);
  textMemo_->setGeometry(l.Memo);
  printButton_->setGeometry(l.PrintButton);
}

std::unique_ptr<QSettings> UserSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("vorza"), QStringLiteral("vorza"));
}

void MainWindow::PlaceOnScreen() {
  const QByteArray saved = UserSettings()->value(QLatin1String(kPlacementKey)).toByteArray();
  if (saved.isEmpty() || !restoreGeometry(saved)) CentreOnScreen(this);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  UserSettings()->setValue(QLatin1String(kPlacementKey), saveGeometry());
  QMainWindow::closeEvent(event);
}

void MainWindow::CreateMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  exitAction_ = file->addAction(QStringLiteral("Exit"));
  exitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
  connect(exitAction_, &QAction::triggered, this, [this] { OnExitChosen(); });
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  findInTextsAction_ = edit->addAction(QStringLiteral("&Find in texts..."));
  findInTextsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(findInTextsAction_, &QAction::triggered, this, [this] { OnFindInTextsChosen(); });
  findNextAction_ = edit->addAction(QStringLiteral("Find &next"));
  findNextAction_->setShortcut(QKeySequence(Qt::Key_F3));
  connect(findNextAction_, &QAction::triggered, this, [this] { FindNext(true); });
  findPreviousAction_ = edit->addAction(QStringLiteral("Find &previous"));
  findPreviousAction_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
  connect(findPreviousAction_, &QAction::triggered, this, [this] { FindNext(false); });
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  releaseInfoAction_ = help->addAction(QStringLiteral("&Information about this release"));
  releaseInfoAction_->setShortcut(QKeySequence(Qt::Key_F1));
  connect(releaseInfoAction_, &QAction::triggered, this, [this] { OnReleaseInfoChosen(); });
  help->addSeparator();
  webLinksAction_ = help->addAction(QStringLiteral("Web links"));
  connect(webLinksAction_, &QAction::triggered, this, [this] { OnWebLinksChosen(); });
  emailCommentsAction_ = help->addAction(QStringLiteral("E-mail your comments"));
  connect(emailCommentsAction_, &QAction::triggered, this, [this] { OnEmailCommentsChosen(); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) ArrangeControls();
  // Escape in the find bar closes it; the list has the focus again.
  if (watched == findBox_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    findBar_->hide();
    ArrangeControls();
    HighlightFoundWords();
    nameGrid_->setFocus(Qt::OtherFocusReason);
    return true;
  }
  // A text field takes Ctrl+X as Cut before the menu sees it; the menu's
  // File/Exit comes first here, from every control of the window.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this && key->key() == Qt::Key_X &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
      event->ignore();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (firstShow_) {
    firstShow_ = false;
    // The first control in the tab order takes the focus.
    nameGrid_->setFocus(Qt::OtherFocusReason);
  }
}

void MainWindow::PlaceIndex() {
  indexPath_ = programDir_ + kIndexFileName;
  SetIndexSemaphoreFolder("");
  if (platform::DirectoryWritable(programDir_)) return;
  // An installed copy's folder is often not writable by its user: the
  // index (and the semaphore file) then live in the user's cache folder,
  // built, reused and deleted on File/Exit just the same.
  const std::string cache = platform::UserCacheDirectory("vorza");
  if (cache.empty()) return;
  indexPath_ = cache + kIndexFileName;
  SetIndexSemaphoreFolder(cache);
  ConfigureAsCheatTable(*cheatTable_, indexPath_);
}

// --- Start-up and exit ---------------------------------------------------------------------------

void MainWindow::SetUp() {
  // 1. The program directory.
  if (programDir_.empty()) programDir_ = platform::ProgramDirectory();
  if (programDir_.back() != '/') programDir_ += '/';
  // When no machine is offered the open fails on the first catalogue
  // entry's data file: a name the user can look for.
  cheatTable_->SetDbfFileName(programDir_ + kMachines.front().DataFile);
  PlaceIndex();
  // 2. The machines offered, sorted.
  machineBox_->clear();
  for (const std::string& name : OfferedMachines(programDir_))
    machineBox_->addItem(QString::fromStdString(name));
  // 3. The first entry (the box keeps its text when the list is empty).
  if (machineBox_->count() > 0) machineBox_->setCurrentIndex(0);
  // 4. Its data file.
  std::string dataFile;
  if (MapDisplayNameToDataFile(
          machineBox_->count() > 0 ? machineBox_->itemText(0).toStdString() : std::string(),
          dataFile))
    cheatTable_->SetDbfFileName(programDir_ + dataFile);
  // 5. Open it.
  cheatTable_->Open();
  // 6. Clear the search box: its change handler runs.
  searchBox_->setText(QString());
  // 7. The first name.
  cheatTable_->First();
  // 8. The caption.
  versionInfo_->SetFileName(ProgramFileName());
  setWindowTitle(QString::fromLatin1(kCaptionPrefix) + versionInfo_->FileVersion());
}

void MainWindow::OnExitChosen() {
  cheatTable_->Close();
  platform::DeleteFile(indexPath_);  // a missing file or a failure is ignored
  close();
}

// --- The machine box, the search box, printing
// ----------------------------------------------------

void MainWindow::OnMachineChosen() {
  const int index = machineBox_->currentIndex();
  const std::string entry = index >= 0 && index < machineBox_->count()
                                ? machineBox_->itemText(index).toStdString()
                                : std::string();
  std::string dataFile;
  MapDisplayNameToDataFile(entry, dataFile);
  cheatTable_->SetDbfFileName(programDir_ + dataFile);
  cheatTable_->Open();
  cheatTable_->First();
  searchBox_->setText(QString());
  // What is typed next searches the machine just chosen.
  searchBox_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::OnMachineTextEdited(const QString& text) {
  // Typing into the box's text field: only a text that names a listed
  // machine switches to it; any other text leaves the open table as it is.
  const int index = machineBox_->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) return;
  machineBox_->setCurrentIndex(index);
  OnMachineChosen();
}

// --- Find in texts ---------------------------------------------------------------------------

void MainWindow::OnFindInTextsChosen() {
  if (!findBar_->isVisible()) {
    findBar_->show();
    ArrangeControls();
  }
  findBox_->setFocus(Qt::ShortcutFocusReason);
  findBox_->selectAll();
}

void MainWindow::FindNext(bool forward) {
  const QString words = findBox_->text().simplified();
  if (!findBar_->isVisible() || words.isEmpty()) {
    OnFindInTextsChosen();
    return;
  }
  statusBar()->clearMessage();
  HighlightFoundWords();
  // A scan that takes a while shows its progress and can be cancelled.
  QElapsedTimer clock;
  clock.start();
  std::unique_ptr<QProgressDialog> progress;
  bool cancelled = false;
  qint64 shownAt = -1;  // when the window was last brought up to date
  const std::int64_t total = std::max<std::int64_t>(1, cheatTable_->RecordCount());
  const auto onProgress = [&](std::int64_t looked) {
    if (!progress) {
      if (clock.elapsed() < FindProgressDelayMs) return true;
      progress = std::make_unique<QProgressDialog>(QStringLiteral("Searching the cheat texts..."),
                                                   QStringLiteral("Cancel"), 0, 1000, this);
      progress->setObjectName(QStringLiteral("FindProgress1"));
      progress->setWindowTitle(ApplicationTitle());
      progress->setWindowModality(Qt::WindowModal);
      progress->setMinimumDuration(0);
      progress->setAutoClose(false);
      progress->setAutoReset(false);
      // Cancel, and Escape (which rejects the window), stop the search.
      connect(progress.get(), &QProgressDialog::canceled, this, [&cancelled] { cancelled = true; });
      connect(progress.get(), &QDialog::rejected, this, [&cancelled] { cancelled = true; });
      progress->show();
    }
    // The window (and Escape) are seen to every 30 ms: more often would
    // slow the search down.
    if (shownAt >= 0 && clock.elapsed() - shownAt < 30) return true;
    shownAt = clock.elapsed();
    progress->setValue(static_cast<int>(std::min<std::int64_t>(1000, looked * 1000 / total)));
    QApplication::processEvents();
    return !cancelled && !progress->wasCanceled();
  };
  const DbfTable::TextSearch result =
      cheatTable_->FindText(platform::Utf8ToAnsi(words.toStdString()), forward, onProgress);
  progress.reset();
  switch (result) {
    case DbfTable::TextSearch::Found: break;
    case DbfTable::TextSearch::FoundAfterWrap:
      statusBar()->showMessage(QString::fromLatin1(forward ? kWrappedForward : kWrappedBackward));
      break;
    case DbfTable::TextSearch::NotFound:
      statusBar()->showMessage(QString::fromLatin1(kNothingFound));
      break;
    case DbfTable::TextSearch::Cancelled:
      statusBar()->showMessage(QString::fromLatin1(kSearchCancelled));
      break;
  }
  HighlightFoundWords();
}

namespace {

// A character as the search compares it: without its accent, upper-cased.
QChar FoldedChar(QChar c) {
  if (c.unicode() < 0x80) return c.toUpper();
  const QString d = QString(c).normalized(QString::NormalizationForm_D);
  return (d.isEmpty() ? c : d.at(0)).toUpper();
}

QString Folded(const QString& text) {
  QString out = text;
  for (QChar& c : out) c = FoldedChar(c);
  return out;
}

}  // namespace

void MainWindow::HighlightFoundWords() {
  QList<QTextEdit::ExtraSelection> marks;
  if (findBar_->isVisible()) {
    const QString text = Folded(textMemo_->toPlainText());
    QTextCharFormat format;
    format.setBackground(QColor(0xFF, 0xE0, 0x40));
    format.setForeground(Qt::black);
    for (const QString& word : findBox_->text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      const QString wanted = Folded(word);
      for (int at = text.indexOf(wanted); at >= 0 && !wanted.isEmpty();
           at = text.indexOf(wanted, at + wanted.size())) {
        QTextEdit::ExtraSelection mark;
        mark.format = format;
        mark.cursor = QTextCursor(textMemo_->document());
        mark.cursor.setPosition(at);
        mark.cursor.setPosition(at + static_cast<int>(wanted.size()), QTextCursor::KeepAnchor);
        marks.append(mark);
      }
    }
  }
  textMemo_->setExtraSelections(marks);
}

void MainWindow::OnSearchTextChanged() {
  // Every change, with the text as typed; the table converts nothing of it
  // but the character set.
  cheatTable_->LocateRec("cheatname", platform::Utf8ToAnsi(searchBox_->text().toStdString()));
}

std::unique_ptr<QPrinter> MainWindow::DefaultPrinter() {
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) return nullptr;
  return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

void MainWindow::OnPrintClicked() {
  // An empty cheat gives no blank page.
  const QStringList lines = DisplayedLines(*textMemo_);
  if (lines.join(QString()).trimmed().isEmpty()) {
    MessageBox(this, QStringLiteral("This cheat has no text to print."), ApplicationTitle(),
               QMessageBox::Information);
    return;
  }
  std::unique_ptr<QPrinter> printer = printerSource_ ? printerSource_() : DefaultPrinter();
  if (!printer) {
    MessageBox(
        this,
        QStringLiteral("There is no default printer.\rSet one up in the printer settings of your "
                       "desktop and try again."),
        ApplicationTitle(), QMessageBox::Warning);
    return;
  }
  // The job is named after the program and the cheat (a PDF printer names
  // its file after it); the lines keep the width they are shown in.
  QString name;
  if (data::Field* field = cheatTable_->FindField("CHEATNAME"))
    name = QString::fromStdString(platform::AnsiToUtf8(field->AsString())).trimmed();
  const QString job = name.isEmpty() ? QStringLiteral("Vorza Cheat Reader")
                                     : QStringLiteral("Vorza Cheat Reader - ") + name;
  QString error;
  if (!PrintLines(*printer, textMemo_->font(), lines, &error, job, textMemo_->viewport()->width()))
    MessageBox(this, error, ApplicationTitle(), QMessageBox::Warning);
}

// --- The Help menu
// --------------------------------------------------------------------------------

void MainWindow::OnReleaseInfoChosen() {
  app::ShowReleaseInfo(this, releaseInfoDialog_);
}

void MainWindow::OnWebLinksChosen() {
  app::ShowWebLinks(webLinksDialog_);
}

void MainWindow::OnEmailCommentsChosen() {
  SendCommentsByMail(this);
}

// --- The engines
// -----------------------------------------------------------------------------------

QString EngineText(const std::string& text) {
  const QString utf8 = QString::fromUtf8(text);
  // Not UTF-8: show the bytes one for one.
  if (utf8.contains(QChar::ReplacementCharacter)) return QString::fromLatin1(text);
  return utf8;
}

void InitReader() {
  // An engine error that nobody handles ends the reader: the "Program
  // halted." box, then the exit with the error's code.
  StartEngine(HaltingErrors::Presented);
  views::InstallStatusWindows();
  // Every byte of a message shows, a NUL from a damaged file included.
  platform::SetHaltPresenter([](const std::string& caption, const std::string& message) {
    MessageBox(TheMainWindow, EngineText(platform::VisibleText(message)), EngineText(caption),
               QMessageBox::Critical);
  });
  platform::SetMessagePresenter([](const std::string& message) {
    ShowMessage(EngineText(platform::VisibleText(message)), TheMainWindow);
  });
}

}  // namespace vz::app
