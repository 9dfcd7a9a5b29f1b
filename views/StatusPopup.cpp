#include "views/StatusPopup.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace vz::views {

namespace {

constexpr int kMargin = 30;     // added to the text's width and height
constexpr int kPanelInset = 4;  // of the inner panel in the borderless window

constexpr Qt::WindowFlags kBorderless =
    Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
constexpr Qt::WindowFlags kDialog = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                    Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

// Keeps user input from being delivered while it exists, and delivers what
// it kept when it goes. Input from the window system stays queued through
// QEventLoop::ExcludeUserInputEvents; this catches input events that were
// posted or sent to widgets directly.
class InputHold : public QObject {
 public:
  InputHold() { QCoreApplication::instance()->installEventFilter(this); }
  ~InputHold() override {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
    for (auto& [receiver, event] : held_)
      if (receiver) QCoreApplication::postEvent(receiver, event.release());
  }
  InputHold(const InputHold&) = delete;
  InputHold& operator=(const InputHold&) = delete;

 protected:
  bool eventFilter(QObject* receiver, QEvent* event) override {
    if (!event->isInputEvent() && event->type() != QEvent::InputMethod) return false;
    held_.emplace_back(QPointer<QObject>(receiver), std::unique_ptr<QEvent>(event->clone()));
    return true;
  }

 private:
  std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

QString FromAnsi(const std::string& ansi) {
  return QString::fromUtf8(platform::AnsiToUtf8(ansi));
}

class QtStatusWindow : public platform::StatusWindow {
 public:
  explicit QtStatusWindow(const std::string& caption) {
    msg_.SetCaption(FromAnsi(caption));
    msg_.SetHoldBackInput(true);
  }
  void ShowMessage(const std::string& text) override { msg_.ShowMessage(FromAnsi(text)); }

 private:
  StatusPopup msg_;
};

}  // namespace

StatusPopup::StatusPopup(QWidget* over)
    : QWidget(nullptr, kBorderless), over_(over ? over : QApplication::activeWindow()) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::yellow);
  setPalette(palette);
  setAutoFillBackground(true);
  resize(0, 0);

  outer_ = new QFrame(this);
  outer_->setObjectName(QStringLiteral("outerPanel"));
  outer_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  outer_->setLineWidth(2);

  // The inner panel takes the window's font and colour.
  inner_ = new QLabel(this);
  inner_->setObjectName(QStringLiteral("innerPanel"));
  inner_->setFrameStyle(QFrame::Box | QFrame::Plain);
  inner_->setLineWidth(1);
  inner_->setMidLineWidth(0);
  inner_->setAlignment(Qt::AlignCenter);
  inner_->raise();
}

StatusPopup::~StatusPopup() = default;

void StatusPopup::ApplyBorder(Border border) {
  border_ = border;
  setWindowFlags(border == Border::Dialog ? kDialog : kBorderless);
  outer_->setVisible(border == Border::None);
}

void StatusPopup::ShowMessage() {
  ShowMessage(text_);
}

void StatusPopup::ShowMessage(const QString& text) {
  text_ = text;
  const QFontMetrics metrics(font());
  int width = metrics.horizontalAdvance(text) + kMargin;
  const int height = metrics.height() + kMargin;

  const Border border = Caption().isEmpty() ? Border::None : Border::Dialog;
  if (border == Border::Dialog) {
    const QFontMetrics title(QFontDatabase::systemFont(QFontDatabase::TitleFont));
    width = std::max(width, title.horizontalAdvance(Caption()) + kMargin);
  }
  const bool borderChanged = border != border_;
  if (borderChanged) ApplyBorder(border);

  if (borderChanged || this->width() < width || this->height() < height) {
    resize(width, height);
    const int inset = border == Border::None ? kPanelInset : 0;
    outer_->setGeometry(rect());
    inner_->setGeometry(rect().adjusted(inset, inset, -inset, -inset));
    show();
    // Centred with its frame, known once the window is shown.
    QRect area;
    if (over_) {
      area = over_->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
      area = screen->availableGeometry();
    }
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
  }

  inner_->setText(text);
  repaint();
  ProcessPendingEvents();
}

void StatusPopup::ProcessPendingEvents() {
  if (!holdBackInput_) {
    QCoreApplication::processEvents();
    return;
  }
  InputHold hold;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::unique_ptr<platform::StatusWindow> CreateQtStatusWindow(const std::string& caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
  return std::make_unique<QtStatusWindow>(caption);
}

platform::StatusWindowFactory InstallStatusWindows() {
  return platform::SetStatusWindowFactory(&CreateQtStatusWindow);
}

}  // namespace vz::views
