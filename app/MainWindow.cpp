#include "app/MainWindow.h"

#include "platform/hooks.h"
#include "platform/codepage.h"
#include "platform/files.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
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
#include "app/ReleaseInfoDialog.h"
#include "app/MachineCatalogue.h"
#include "app/MainLayout.h"
#include "app/Pictures.h"
#include "app/WebLinksDialog.h"
#include "app/Shell.h"
#include "app/TextPrinter.h"
#include "app/VersionInfo.h"
#include "views/StatusPopup.h"
#include "views/DataGrid.h"
#include "views/DataMemo.h"

namespace vz::app {

MainWindow* Form1 = nullptr;

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
  if (!Form1) Form1 = this;
  try {
    FormCreate();
  } catch (const std::exception& e) {
    // As the application handles an exception of a form's creation: the
    // message is shown and the remaining steps are skipped.
    ShowException(e, this);
  }
}

MainWindow::~MainWindow() {
  // The table closes with the window; the views let go of the data source
  // first.
  if (CheatDbf) {
    try {
      CheatDbf->Close();
    } catch (...) {
    }
  }
  if (Form1 == this) Form1 = nullptr;
}

void MainWindow::SetHelpWindows(WebLinksDialog* about, ReleaseInfoDialog* information) {
  form2_ = about;
  form3_ = information;
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

  Image1 = new QLabel(client);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, kMainClientWidth, kMainClientHeight);
  Image1->setPixmap(MainBackground());
  backgroundSize_ = QSize(kMainClientWidth, kMainClientHeight);

  // Alt+M: the machine box (its buddy, set below).
  Label4 = WhiteLabel(client, "Label4", "&Machine :", QRect(3, 15, 57, 13));
  Label3 = WhiteLabel(client, "Label3", "<-Search", QRect(173, 341, 52, 13));

  TzMemo1 = new views::DataMemo(client);
  TzMemo1->setObjectName(QStringLiteral("TzMemo1"));
  TzMemo1->setGeometry(229, 52, 372, 309);
  ConfigureCheatTextMemo(*TzMemo1);
  TzMemo1->SetCaptionPos(views::CaptionPosition::cpLeft);
  TzMemo1->SetDataSource(&DataSource1);
  TzMemo1->SetDataField("CHEATMEMO");

  TzGrid1 = new views::DataGrid(client);
  TzGrid1->setObjectName(QStringLiteral("TzGrid1"));
  TzGrid1->setGeometry(0, 53, 169, 277);
  ConfigureCheatNameGrid(*TzGrid1);
  TzGrid1->SetDataSource(&DataSource1);

  Edit1 = new QLineEdit(QStringLiteral("Edit1"), client);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(0, 335, 170, 24);
  Edit1->setFont(TerminalFontOf(16));
  // Every change of the text, typed or set, runs the search.
  connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });

  ComboBox1 = new QComboBox(client);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setGeometry(1, 29, 169, 20);
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setCompleter(nullptr);
  ComboBox1->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  ComboBox1->setFont(TerminalFontOf(12));
  ComboBox1->setEditText(QStringLiteral("ComboBox1"));
  // A list entry picked by the user, and every edit of the text field.
  connect(ComboBox1, qOverload<int>(&QComboBox::activated), this, [this] { ComboBox1Change(); });
  connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this,
          [this](const QString& text) { ComboBox1TextEdited(text); });
  Label4->setBuddy(ComboBox1);

  BitBtn1 = new QPushButton(client);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(616, 332, 29, 25);
  BitBtn1->setIcon(PrintIcon());
  BitBtn1->setIconSize(QSize(16, 16));
  BitBtn1->setToolTip(QStringLiteral("Print the cheat"));
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

  // Tab order: the grid, the cheat text, the search box, the machine box
  // (not a tab stop; Alt+M), the print button. Alt+T also reaches the text,
  // whose keys then scroll it; Tab goes on from it.
  TzMemo1->setFocusPolicy(Qt::StrongFocus);
  TzMemo1->setTabChangesFocus(true);
  setTabOrder(TzGrid1, TzMemo1);
  setTabOrder(TzMemo1, Edit1);
  setTabOrder(Edit1, BitBtn1);
  auto* toText = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_T), this);
  connect(toText, &QShortcut::activated, this,
          [this] { TzMemo1->setFocus(Qt::ShortcutFocusReason); });

  // The find bar, under the list while it is shown (Edit / Find in texts).
  FindBar1 = new QWidget(client);
  FindBar1->setObjectName(QStringLiteral("FindBar1"));
  FindBar1->setAutoFillBackground(true);
  auto* findLayout = new QHBoxLayout(FindBar1);
  findLayout->setContentsMargins(2, 1, 2, 1);
  findLayout->setSpacing(3);
  auto* findLabel = new QLabel(QStringLiteral("Find:"), FindBar1);
  findLabel->setObjectName(QStringLiteral("FindLabel1"));
  FindEdit1 = new QLineEdit(FindBar1);
  FindEdit1->setObjectName(QStringLiteral("FindEdit1"));
  FindEdit1->setToolTip(QStringLiteral("Words to find in the cheat texts: Enter or F3 finds the next cheat, "
                                       "Shift+F3 the previous one, Escape closes the bar"));
  findLabel->setBuddy(FindEdit1);
  findLayout->addWidget(findLabel);
  findLayout->addWidget(FindEdit1, 1);
  FindBar1->hide();
  connect(FindEdit1, &QLineEdit::returnPressed, this, [this] { FindNextClick(true); });
  FindEdit1->installEventFilter(this);
  connect(TzMemo1, &QPlainTextEdit::textChanged, this, [this] { HighlightFoundWords(); });
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));

  CheatDbf = std::make_unique<DbfTable>();
  ConfigureAsCheatTable(*CheatDbf, kIndexFileName);
  DataSource1.SetDataSet(CheatDbf.get());

  VersionInfo1 = new VersionInfo(this);

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
  Image1->setGeometry(QRect(QPoint(0, 0), client->size()));
  if (backgroundSize_ != l.Client) {
    Image1->setPixmap(MainBackground(l));
    backgroundSize_ = l.Client;
  }
  Label4->move(l.MachineLabel);
  ComboBox1->setGeometry(l.MachineBox);
  if (FindBar1->isVisible()) {
    // The find bar takes the bottom of the list's place.
    constexpr int kBarHeight = 26;
    QRect grid = l.Grid;
    grid.setHeight(grid.height() - kBarHeight);
    TzGrid1->setGeometry(grid);
    FindBar1->setGeometry(grid.left(), grid.bottom() + 1, grid.width(), kBarHeight);
  } else {
    TzGrid1->setGeometry(l.Grid);
  }
  Edit1->setGeometry(l.SearchBox);
  Label3->move(l.SearchLabel);
  TzMemo1->setGeometry(l.Memo);
  BitBtn1->setGeometry(l.PrintButton);
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
  Exit1 = file->addAction(QStringLiteral("Exit"));
  Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
  connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  Findintexts1 = edit->addAction(QStringLiteral("&Find in texts..."));
  Findintexts1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(Findintexts1, &QAction::triggered, this, [this] { Findintexts1Click(); });
  Findnext1 = edit->addAction(QStringLiteral("Find &next"));
  Findnext1->setShortcut(QKeySequence(Qt::Key_F3));
  connect(Findnext1, &QAction::triggered, this, [this] { FindNextClick(true); });
  Findprevious1 = edit->addAction(QStringLiteral("Find &previous"));
  Findprevious1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
  connect(Findprevious1, &QAction::triggered, this, [this] { FindNextClick(false); });
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  Help2 = help->addAction(QStringLiteral("&Information about this release"));
  Help2->setShortcut(QKeySequence(Qt::Key_F1));
  connect(Help2, &QAction::triggered, this, [this] { Help2Click(); });
  help->addSeparator();
  About1 = help->addAction(QStringLiteral("Web links"));
  connect(About1, &QAction::triggered, this, [this] { About1Click(); });
  Emailyourcomments1 = help->addAction(QStringLiteral("E-mail your comments"));
  connect(Emailyourcomments1, &QAction::triggered, this, [this] { Emailyourcomments1Click(); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) ArrangeControls();
  // Escape in the find bar closes it; the list has the focus again.
  if (watched == FindEdit1 && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    FindBar1->hide();
    ArrangeControls();
    HighlightFoundWords();
    TzGrid1->setFocus(Qt::OtherFocusReason);
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
    TzGrid1->setFocus(Qt::OtherFocusReason);
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
  ConfigureAsCheatTable(*CheatDbf, indexPath_);
}

// --- Start-up and exit ---------------------------------------------------------------------------

void MainWindow::FormCreate() {
  // 1. The program directory.
  if (programDir_.empty()) programDir_ = platform::ProgramDirectory();
  if (programDir_.back() != '/') programDir_ += '/';
  // When no machine is offered the open fails on the first catalogue
  // entry's data file: a name the user can look for.
  CheatDbf->SetDbfFileName(programDir_ + kMachines.front().DataFile);
  PlaceIndex();
  // 2. The machines offered, sorted.
  ComboBox1->clear();
  for (const std::string& name : OfferedMachines(programDir_))
    ComboBox1->addItem(QString::fromStdString(name));
  // 3. The first entry (the box keeps its text when the list is empty).
  if (ComboBox1->count() > 0) ComboBox1->setCurrentIndex(0);
  // 4. Its data file.
  std::string dataFile;
  if (MapDisplayNameToDataFile(ComboBox1->count() > 0 ? ComboBox1->itemText(0).toStdString() : std::string(),
                               dataFile))
    CheatDbf->SetDbfFileName(programDir_ + dataFile);
  // 5. Open it.
  CheatDbf->Open();
  // 6. Clear the search box: its change handler runs.
  Edit1->setText(QString());
  // 7. The first name.
  CheatDbf->First();
  // 8. The caption.
  VersionInfo1->SetFileName(ProgramFileName());
  setWindowTitle(QString::fromLatin1(kCaptionPrefix) + VersionInfo1->FileVersion());
}

void MainWindow::Exit1Click() {
  CheatDbf->Close();
  platform::DeleteFile(indexPath_);  // a missing file or a failure is ignored
  close();
}

// --- The machine box, the search box, printing ----------------------------------------------------

void MainWindow::ComboBox1Change() {
  const int index = ComboBox1->currentIndex();
  const std::string entry = index >= 0 && index < ComboBox1->count() ? ComboBox1->itemText(index).toStdString()
                                                                      : std::string();
  std::string dataFile;
  MapDisplayNameToDataFile(entry, dataFile);
  CheatDbf->SetDbfFileName(programDir_ + dataFile);
  CheatDbf->Open();
  CheatDbf->First();
  Edit1->setText(QString());
  // What is typed next searches the machine just chosen.
  Edit1->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ComboBox1TextEdited(const QString& text) {
  // Typing into the box's text field: only a text that names a listed
  // machine switches to it; any other text leaves the open table as it is.
  const int index = ComboBox1->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) return;
  ComboBox1->setCurrentIndex(index);
  ComboBox1Change();
}

// --- Find in texts ---------------------------------------------------------------------------

void MainWindow::Findintexts1Click() {
  if (!FindBar1->isVisible()) {
    FindBar1->show();
    ArrangeControls();
  }
  FindEdit1->setFocus(Qt::ShortcutFocusReason);
  FindEdit1->selectAll();
}

void MainWindow::FindNextClick(bool forward) {
  const QString words = FindEdit1->text().simplified();
  if (!FindBar1->isVisible() || words.isEmpty()) {
    Findintexts1Click();
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
  const std::int64_t total = std::max<std::int64_t>(1, CheatDbf->RecordCount());
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
      CheatDbf->FindText(platform::Utf8ToAnsi(words.toStdString()), forward, onProgress);
  progress.reset();
  switch (result) {
    case DbfTable::TextSearch::Found:
      break;
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
  if (FindBar1->isVisible()) {
    const QString text = Folded(TzMemo1->toPlainText());
    QTextCharFormat format;
    format.setBackground(QColor(0xFF, 0xE0, 0x40));
    format.setForeground(Qt::black);
    for (const QString& word : FindEdit1->text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      const QString wanted = Folded(word);
      for (int at = text.indexOf(wanted); at >= 0 && !wanted.isEmpty(); at = text.indexOf(wanted, at + wanted.size())) {
        QTextEdit::ExtraSelection mark;
        mark.format = format;
        mark.cursor = QTextCursor(TzMemo1->document());
        mark.cursor.setPosition(at);
        mark.cursor.setPosition(at + static_cast<int>(wanted.size()), QTextCursor::KeepAnchor);
        marks.append(mark);
      }
    }
  }
  TzMemo1->setExtraSelections(marks);
}

void MainWindow::Edit1Change() {
  // Every change, with the text as typed; the table converts nothing of it
  // but the character set.
  CheatDbf->LocateRec("cheatname", platform::Utf8ToAnsi(Edit1->text().toStdString()));
}

std::unique_ptr<QPrinter> MainWindow::DefaultPrinter() {
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) return nullptr;
  return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

void MainWindow::BitBtn1Click() {
  // An empty cheat gives no blank page.
  const QStringList lines = DisplayedLines(*TzMemo1);
  if (lines.join(QString()).trimmed().isEmpty()) {
    MessageBox(this, QStringLiteral("This cheat has no text to print."), ApplicationTitle(),
               QMessageBox::Information);
    return;
  }
  std::unique_ptr<QPrinter> printer = printerSource_ ? printerSource_() : DefaultPrinter();
  if (!printer) {
    MessageBox(this, QStringLiteral("There is no default printer.\rSet one up in the printer settings of your "
                                    "desktop and try again."),
               ApplicationTitle(), QMessageBox::Warning);
    return;
  }
  // The job is named after the program and the cheat (a PDF printer names
  // its file after it); the lines keep the width they are shown in.
  QString name;
  if (data::Field* field = CheatDbf->FindField("CHEATNAME"))
    name = QString::fromStdString(platform::AnsiToUtf8(field->AsString())).trimmed();
  const QString job = name.isEmpty() ? QStringLiteral("Vorza Cheat Reader")
                                     : QStringLiteral("Vorza Cheat Reader - ") + name;
  QString error;
  if (!PrintLines(*printer, TzMemo1->font(), lines, &error, job, TzMemo1->viewport()->width()))
    MessageBox(this, error, ApplicationTitle(), QMessageBox::Warning);
}

// --- The Help menu --------------------------------------------------------------------------------

void MainWindow::Help2Click() { app::Help2Click(this, form3_); }

void MainWindow::About1Click() { app::About1Click(form2_); }

void MainWindow::Emailyourcomments1Click() { SendCommentsByMail(this); }

// --- The engines -----------------------------------------------------------------------------------

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
    MessageBox(Form1, EngineText(platform::VisibleText(message)), EngineText(caption),
               QMessageBox::Critical);
  });
  platform::SetMessagePresenter([](const std::string& message) {
    ShowMessage(EngineText(platform::VisibleText(message)), Form1);
  });
}

}  // namespace vz::app
