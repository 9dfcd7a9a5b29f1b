// The Help menu's windows and commands: the release-information window and
// its file in the current directory, the web-links window, the e-mail
// command, and the application services and desktop requests behind them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <memory>

#include "app/Application.h"
#include "app/ReleaseInfoDialog.h"
#include "app/Shell.h"
#include "app/UrlLabel.h"
#include "app/VersionInfo.h"
#include "app/WebLinksDialog.h"
#include "platform/codepage.h"
#include "tests/gui/help_modal.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionFileBuilder.h"

namespace vz::app {
namespace {

using vz::test::Bytes;
using vz::test::ModalWatcher;
using vz::test::SeenModal;
using vz::test::UrlCatcher;

const QString kTitle = QStringLiteral("Vorza Cheat Reader for W95");

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationTitle(kTitle);
    ClearTerminated();
    platform::SetOemCodePage(437);
  }
  void TearDown() override {
    ClearTerminated();
    SetScreenCursor(Qt::ArrowCursor);
  }

  // The release information in the current directory (the test's folder).
  void WriteDoc(const std::string& bytes) {
    vz::test::WriteBytes(ReleaseInfoDialog::kFileName, Bytes(bytes.begin(), bytes.end()));
  }

  vz::test::TempDir dir_{/*enter=*/true};
};

QStringList Lines(const QPlainTextEdit* memo) {
  QStringList lines;
  for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next()) lines << b.text();
  return lines;
}

// A device that delivers some bytes and then fails.
class FailingDevice : public QIODevice {
 public:
  explicit FailingDevice(QByteArray data) : data_(std::move(data)) { open(QIODevice::ReadOnly); }

 protected:
  qint64 readData(char* out, qint64 max) override {
    if (at_ >= data_.size()) return -1;
    const qint64 n = std::min<qint64>(max, std::min<qint64>(5, data_.size() - at_));
    memcpy(out, data_.constData() + at_, static_cast<size_t>(n));
    at_ += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }
  bool isSequential() const override { return true; }

 private:
  QByteArray data_;
  qint64 at_ = 0;
};

// --- Application services ---------------------------------------------------------------------

TEST_F(HelpTest, MessageBoxesBreakLinesAndCarryTheTitle) {
  EXPECT_EQ(ToLineBreaks("a\rb\r\nc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(ApplicationTitle(), kTitle);

  ModalWatcher watcher;
  ShowMessage("first\rsecond");
  ShowException(std::runtime_error("Disk read error"));
  ShowException(std::runtime_error("Already done."));
  const int answer = MessageBox(nullptr, "Sure?", "Question", QMessageBox::Question,
                                QMessageBox::Yes | QMessageBox::No);
  const std::vector<SeenModal>& seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].title, kTitle);
  EXPECT_EQ(seen[0].text, "first\nsecond");
  EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen[1].title, kTitle);
  EXPECT_EQ(seen[1].text, "Disk read error.");
  EXPECT_EQ(seen[1].icon, QMessageBox::Critical);
  EXPECT_EQ(seen[2].text, "Already done.");
  EXPECT_EQ(seen[3].title, "Question");
  EXPECT_EQ(seen[3].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(answer == QMessageBox::Yes || answer == QMessageBox::No);
}

TEST_F(HelpTest, TerminateIsRememberedForTheEntryPoint) {
  EXPECT_FALSE(Terminated());
  Terminate();  // no event loop runs: only the flag tells
  EXPECT_TRUE(Terminated());
  ClearTerminated();
  EXPECT_FALSE(Terminated());

  // A running event loop is asked to quit.
  QTimer terminate;
  terminate.setSingleShot(true);
  QObject::connect(&terminate, &QTimer::timeout, [] { Terminate(); });
  terminate.start(0);
  QTimer giveUp;
  giveUp.setSingleShot(true);
  QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  giveUp.start(5000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(Terminated());
}

TEST_F(HelpTest, ScreenCursorIsOneOverride) {
  SetScreenCursor(Qt::PointingHandCursor);
  SetScreenCursor(Qt::PointingHandCursor);
  SetScreenCursor(Qt::WaitCursor);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  EXPECT_EQ(ScreenCursor(), Qt::WaitCursor);
  SetScreenCursor(Qt::ArrowCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  SetScreenCursor(Qt::ArrowCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// --- Desktop requests -------------------------------------------------------------------------

TEST_F(HelpTest, ShellOpenResults) {
  {
    UrlCatcher catcher({"https", "file", "mailto"});
    EXPECT_GT(ShellOpen(nullptr, "https://vantu.example.org/a b"), 32);
    WriteDoc("text");
    EXPECT_GT(ShellOpen(nullptr, ReleaseInfoDialog::kFileName), 32);
    ASSERT_EQ(catcher.opened.size(), 2u);
    EXPECT_EQ(catcher.opened[0].host(), "vantu.example.org");
    EXPECT_EQ(catcher.opened[1],
              QUrl::fromLocalFile(QDir::current().absoluteFilePath(ReleaseInfoDialog::kFileName)));

    // Nothing to open: no request is made.
    EXPECT_EQ(ShellOpen(nullptr, ""), kShellFileNotFound);
    EXPECT_EQ(ShellOpen(nullptr, "Click me!"), kShellFileNotFound);
    EXPECT_EQ(ShellOpen(nullptr, "c:\\games\\vorzaw95.doc"), kShellFileNotFound);
    EXPECT_EQ(catcher.opened.size(), 2u);
  }
  // A scheme nobody takes (this platform has no desktop to ask).
  EXPECT_EQ(ShellOpen(nullptr, "vorza-test-scheme:anything"), kShellNoAssociation);
}

TEST_F(HelpTest, MailGoesToTheAuthorWithoutABlank) {
  QWidget mainWindow;
  UrlCatcher catcher({"mailto"});
  ModalWatcher watcher;
  EXPECT_GT(SendCommentsByMail(&mainWindow), 32);
  ASSERT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(catcher.opened[0].toString(), QString("mailto:") + kAuthorMailAddress);
  EXPECT_EQ(catcher.opened[0].path(), kAuthorMailAddress);
  EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(HelpTest, MailWithoutAMailProgramWarns) {
  QWidget mainWindow;
  ModalWatcher watcher;
  EXPECT_EQ(SendCommentsByMail(&mainWindow), kShellNoAssociation);
  const std::vector<SeenModal>& seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].className, "QMessageBox");
  EXPECT_EQ(seen[0].title, "Vorza reader for Windows 95 v1.3");
  EXPECT_EQ(seen[0].text,
            "There is no E-mail program to the mailto-function\n"
            "from Windows connected, therefore you can not\n"
            "send E-mail to Vantu.");
  EXPECT_EQ(seen[0].text.split('\n').size(), 3);
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen[0].parent, &mainWindow);
}

// --- Release information ----------------------------------------------------------------------

TEST_F(HelpTest, ReleaseInformationWindowLayout) {
  ReleaseInfoDialog form;
  EXPECT_EQ(form.windowTitle(), "Vorza for Windows Help");
  EXPECT_FALSE(form.windowIcon().isNull());
  EXPECT_EQ(form.size(), QSize(524, 294));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.size(), QSize(524, 294));
  EXPECT_EQ(form.Panel()->geometry(), form.rect());
  EXPECT_EQ(form.InfoText()->parentWidget(), form.Panel());
  EXPECT_EQ(form.InfoText()->geometry(), QRect(8, 7, 509, 233));
  EXPECT_TRUE(form.InfoText()->isReadOnly());
  EXPECT_EQ(form.InfoText()->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(form.InfoText()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form.InfoText()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(form.InfoText()->font().bold());
  EXPECT_TRUE(QFontInfo(form.InfoText()->font()).fixedPitch());
  EXPECT_EQ(form.InfoText()->palette().color(QPalette::Text), QColor(Qt::black));
  EXPECT_EQ(form.OkButton()->text(), "Ok");
  EXPECT_EQ(form.OkButton()->geometry(), QRect(224, 256, 75, 25));
  const QRect screen = form.screen()->geometry();
  EXPECT_LE((form.frameGeometry().center() - screen.center()).manhattanLength(), 1);
  // Sizeable: the panel follows the window.
  form.resize(600, 400);
  QApplication::processEvents();
  EXPECT_EQ(form.Panel()->geometry(), form.rect());

  QTest::mouseClick(form.OkButton(), Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(HelpTest, ReleaseInformationIsOemTextReadOnce) {
  // CR LF and LF line ends, empty lines, OEM letters and box drawing, and a
  // last line without an end.
  WriteDoc(
      "Vorza 1.3\r\n\r\nGr\x81\xE1"
      "e, caf\x82\n\xC9\xCD\xCD\xBB\r\n\xBA \x9C\x9B \xBA\nlast line");
  ReleaseInfoDialog form;
  EXPECT_EQ(Lines(form.InfoText()),
            QStringList({"Vorza 1.3", "", QString::fromUtf8("Grüße, café"),
                         QString::fromUtf8("╔══╗"), QString::fromUtf8("║ £¢ ║"), "last line"}));

  // The window does not read the file again.
  WriteDoc("changed\r\n");
  ModalWatcher watcher;
  ShowReleaseInfo(nullptr, &form);
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].widget, &form);
  EXPECT_TRUE(watcher.Seen()[0].visible);
  EXPECT_EQ(Lines(form.InfoText()).front(), "Vorza 1.3");
  EXPECT_EQ(Lines(form.InfoText()).size(), 6);
}

TEST_F(HelpTest, ReleaseInformationMissing) {
  ReleaseInfoDialog form;
  EXPECT_EQ(form.InfoText()->toPlainText(), "");

  QWidget owner;
  {
    ModalWatcher watcher;
    ShowReleaseInfo(&owner, &form);
    const std::vector<SeenModal>& seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].className, "QMessageBox");
    EXPECT_EQ(seen[0].title, kTitle);
    EXPECT_EQ(seen[0].text, "'Vorzaw95.doc' not found\nInformation not available");
    EXPECT_EQ(seen[0].text.split('\n'),
              QStringList({"'Vorzaw95.doc' not found", "Information not available"}));
    EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen[0].parent, &owner);
    EXPECT_FALSE(form.isVisible());
  }

  // Created after the window: the window shows, empty.
  WriteDoc("late\r\n");
  ModalWatcher second(
      [](QDialog* dialog) { static_cast<ReleaseInfoDialog*>(dialog)->OkButton()->click(); });
  ShowReleaseInfo(&owner, &form);
  ASSERT_EQ(second.Seen().size(), 1u);
  EXPECT_EQ(second.Seen()[0].widget, &form);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.InfoText()->toPlainText(), "");
}

TEST_F(HelpTest, ReleaseInformationFromTheCurrentDirectoryOnly) {
  // A folder of that name is not the file.
  ASSERT_EQ(mkdir(ReleaseInfoDialog::kFileName, 0700), 0);
  ReleaseInfoDialog form;
  EXPECT_EQ(form.InfoText()->toPlainText(), "");
  ModalWatcher watcher;
  ShowReleaseInfo(nullptr, &form);
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].className, "QMessageBox");
}

TEST_F(HelpTest, ReadErrorKeepsTheLinesReadSoFar) {
  ReleaseInfoDialog form;
  FailingDevice device("one\r\ntwo\nthr");
  try {
    form.AppendLines(device);
    ADD_FAILURE() << "no error";
  } catch (const InOutError& error) {
    EXPECT_EQ(error.Code(), 100);
    EXPECT_NE(std::string(error.what()).find("I/O error 100"), std::string::npos);
  }
  EXPECT_EQ(Lines(form.InfoText()), QStringList({"one", "two"}));

  // While the window is made: a file whose reading fails is reported in
  // the application's error box, and the window is made all the same.
  ASSERT_EQ(symlink("/proc/self/mem", ReleaseInfoDialog::kFileName), 0);
  ModalWatcher watcher;
  ReleaseInfoDialog failing;
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].title, kTitle);
  EXPECT_EQ(watcher.Seen()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(watcher.Seen()[0].text, "Cannot read 'vorzaw95.doc': I/O error 100.");
  EXPECT_EQ(failing.InfoText()->toPlainText(), "");
}

// --- Web links --------------------------------------------------------------------------------

TEST_F(HelpTest, WebLinksWindow) {
  ModalWatcher watcher;
  WebLinksDialog form;
  EXPECT_TRUE(watcher.Seen().empty());  // the program's record has a company name
  EXPECT_FALSE(Terminated());
  EXPECT_EQ(form.windowTitle(), "About");
  EXPECT_FALSE(form.windowIcon().isNull());
  EXPECT_EQ(form.size(), QSize(282, 187));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowSystemMenuHint));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));

  EXPECT_EQ(form.Version()->FileName(), ProgramFileName());
  EXPECT_EQ(form.VersionLabel()->text(), QString("v") + VORZA_PROJECT_VERSION);
  EXPECT_EQ(form.VersionLabel()->text(), "v1.3.0.3");
  EXPECT_EQ(form.VersionLabel()->pos(), QPoint(111, 54));
  EXPECT_GE(form.VersionLabel()->width(), form.VersionLabel()->sizeHint().width());

  EXPECT_EQ(form.TitleLabel()->text(), "Vorza for Windows");
  EXPECT_EQ(form.TitleLabel()->font().pixelSize(), 24);
  EXPECT_TRUE(form.TitleLabel()->font().bold());
  EXPECT_EQ(form.TitleLabel()->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_TRUE(form.TitleLabel()->autoFillBackground());
  EXPECT_EQ(form.TitleLabel()->palette().color(QPalette::Window),
            QApplication::palette("QMenu").color(QPalette::Window));
  EXPECT_TRUE(form.TitleLabel()->alignment() & Qt::AlignVCenter);
  EXPECT_EQ(form.TitleLabel()->y(), 22);
  // Grown about its centre when the text needs more room than laid out.
  EXPECT_GE(form.TitleLabel()->width(), std::max(226, form.TitleLabel()->sizeHint().width()));
  EXPECT_LE(
      std::abs(form.TitleLabel()->geometry().center().x() - QRect(28, 22, 226, 29).center().x()),
      1);

  EXPECT_EQ(form.CreditLabel()->text(), kAuthorCredit);
  EXPECT_EQ(form.CreditLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(form.CreditLabel()->font().pixelSize(), 13);
  EXPECT_TRUE(form.CreditLabel()->font().bold());
  EXPECT_TRUE(form.CreditLabel()->alignment() & Qt::AlignHCenter);
  EXPECT_GE(form.CreditLabel()->width(), std::max(166, form.CreditLabel()->sizeHint().width()));
  EXPECT_LE(
      std::abs(form.CreditLabel()->geometry().center().x() - QRect(58, 75, 166, 16).center().x()),
      1);

  EXPECT_EQ(form.VantuLink()->text(), "Homepage Vantu");
  EXPECT_EQ(form.VantuLink()->URL(), kHomepageVantu);
  EXPECT_EQ(form.VantuLink()->pos(), QPoint(102, 99));
  EXPECT_EQ(form.SkarrowLink()->text(), "Homepage Skarrow");
  EXPECT_EQ(form.SkarrowLink()->URL(), kHomepageSkarrow);
  EXPECT_EQ(form.SkarrowLink()->pos(), QPoint(91, 124));
  for (UrlLabel* link : {form.VantuLink(), form.SkarrowLink()}) {
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->font().pixelSize(), 11);
    EXPECT_EQ(link->FontColor(), QColor(Qt::blue));
    EXPECT_EQ(link->ColorClick(), QColor(Qt::red));
    EXPECT_GE(link->width(), link->sizeHint().width());
    EXPECT_EQ(link->parentWidget(), form.Panel());
  }
  EXPECT_EQ(form.OkButton()->text(), "OK");
  EXPECT_EQ(form.OkButton()->geometry(), QRect(106, 152, 69, 25));
}

TEST_F(HelpTest, WebLinksOpenAndPointTheCursor) {
  WebLinksDialog form;
  ModalWatcher watcher([&](QDialog* dialog) {
    auto* about = static_cast<WebLinksDialog*>(dialog);
    // A mouse move over either link shows the hand.
    for (UrlLabel* link : {about->VantuLink(), about->SkarrowLink()}) {
      SetScreenCursor(Qt::ArrowCursor);
      QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), link->mapToGlobal(QPointF(3, 3)),
                       Qt::NoButton, Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(link, &move);
      EXPECT_EQ(ScreenCursor(), Qt::PointingHandCursor);
    }
    QTest::mouseClick(about->VantuLink(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(about->SkarrowLink(), Qt::LeftButton, {}, QPoint(5, 5));
    about->OkButton()->click();
  });
  UrlCatcher catcher({"https", "http"});
  ShowWebLinks(&form);
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].widget, &form);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  ASSERT_EQ(catcher.opened.size(), 2u);
  EXPECT_EQ(catcher.opened[0], QUrl(kHomepageVantu));
  EXPECT_EQ(catcher.opened[1], QUrl(kHomepageSkarrow));
}

}  // namespace
}  // namespace vz::app
