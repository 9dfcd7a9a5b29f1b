#include "app/ReleaseInfoDialog.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cerrno>
#include <string>

#include "app/Application.h"
#include "app/Pictures.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "views/DataMemo.h"

namespace vz::app {
namespace {

QString ReadErrorMessage(int code) {
  return QStringLiteral("Cannot read '%1': I/O error %2")
      .arg(QLatin1String(ReleaseInfoDialog::kFileName))
      .arg(code);
}

}  // namespace

ReleaseInfoDialog::ReleaseInfoDialog(QWidget* parent) : ReleaseInfoDialog(std::string(), parent) {}

ReleaseInfoDialog::ReleaseInfoDialog(const std::string& catalogueDir, QWidget* parent)
    : QDialog(parent), catalogueDir_(catalogueDir) {
  if (!catalogueDir_.empty() && catalogueDir_.back() != '/') catalogueDir_ += '/';
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Vorza for Windows Help"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setFont(SansFont(11));
  setWindowIcon(WindowIcon());
  resize(524, 294);

  panel_ = FillWithRaisedPanel(this);

  infoText_ = new QPlainTextEdit(panel_);
  infoText_->setObjectName(QStringLiteral("Memo1"));
  infoText_->setGeometry(8, 7, 509, 233);
  infoText_->setReadOnly(true);
  infoText_->setLineWrapMode(QPlainTextEdit::NoWrap);
  infoText_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  infoText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont memoFont = views::TerminalFont();
  memoFont.setBold(true);
  infoText_->setFont(memoFont);
  QPalette memoPalette = infoText_->palette();
  memoPalette.setColor(QPalette::Text, Qt::black);
  infoText_->setPalette(memoPalette);

  okButton_ = new QPushButton(QStringLiteral("Ok"), panel_);
  okButton_->setObjectName(QStringLiteral("Button1"));
  okButton_->setGeometry(224, 256, 75, 25);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

  CentreOnScreen(this);

  // An error while loading is shown, as the creation of any window shows
  // it, and the window is made all the same.
  try {
    SetUp();
  } catch (const std::exception& error) {
    ShowException(error, nullptr);
  }
}

std::string ReleaseInfoDialog::ReleaseInfoPath() const {
  if (platform::FileExists(kFileName)) return kFileName;
  // Started from a terminal in another folder: the catalogue's own copy.
  if (!catalogueDir_.empty() && platform::FileExists(catalogueDir_ + kFileName))
    return catalogueDir_ + kFileName;
  return std::string();
}

void ReleaseInfoDialog::SetUp() {
  infoText_->clear();
  const std::string path = ReleaseInfoPath();
  if (path.empty()) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int code = platform::DosErrorFromErrno(errno);
    throw InOutError(code, ReadErrorMessage(code).toStdString());
  }
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    throw InOutError(platform::kDiskReadError,
                     ReadErrorMessage(platform::kDiskReadError).toStdString());
  }
  // The window opens on the first line, not where the appending ended
  // (also when a read error ends it early).
  struct BackToTop {
    QPlainTextEdit* memo;
    ~BackToTop() { memo->moveCursor(QTextCursor::Start); }
  } top{infoText_};
  AppendLines(file);
}

void ReleaseInfoDialog::AppendLines(QIODevice& device) {
  std::string pending;  // bytes of the line being read
  char chunk[4096];
  auto append = [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    infoText_->appendPlainText(QString::fromUtf8(platform::OemToUtf8(line)));
  };
  for (;;) {
    const qint64 got = device.read(chunk, sizeof chunk);
    if (got < 0)
      throw InOutError(platform::kDiskReadError,
                       ReadErrorMessage(platform::kDiskReadError).toStdString());
    if (got == 0) break;
    pending.append(chunk, static_cast<std::size_t>(got));
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
      append(std::string_view(pending).substr(start, end - start));
    pending.erase(0, start);
  }
  if (!pending.empty()) append(pending);
}

void ShowReleaseInfo(QWidget* owner, ReleaseInfoDialog* form) {
  if (form && !form->ReleaseInfoPath().empty()) {
    form->exec();
  } else {
    ShowMessage(QString::fromLatin1(ReleaseInfoDialog::kNotFoundText), owner);
  }
}

}  // namespace vz::app
