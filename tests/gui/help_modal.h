// Test helpers for the Help menu's windows: a watcher that records and closes
// every modal window that opens while it lives, and a catcher for the
// requests handed to the desktop.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <vector>

namespace vz::test {

struct SeenModal {
  QPointer<QWidget> widget;
  QString className;
  QString title;
  QString text;  // a message box's text
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QWidget* parent = nullptr;
  bool visible = false;
};

// While it lives, every modal window that becomes active is recorded and
// then closed: a message box with its first button, any other dialog by
// `closeDialog` (default: reject()). Runs inside the modal window's own
// event loop, through a repeating timer.
class ModalWatcher : public QObject {
 public:
  explicit ModalWatcher(std::function<void(QDialog*)> closeDialog = nullptr)
      : close_(std::move(closeDialog)) {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
    timer_.start();
  }

  const std::vector<SeenModal>& Seen() const { return seen_; }

 private:
  void Check() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == last_) return;
    last_ = modal;
    SeenModal s;
    s.widget = modal;
    s.className = QString::fromLatin1(modal->metaObject()->className());
    s.title = modal->windowTitle();
    s.parent = modal->parentWidget();
    s.visible = modal->isVisible();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      s.text = box->text();
      s.icon = box->icon();
      s.buttons = box->standardButtons();
      seen_.push_back(s);
      const QList<QAbstractButton*> buttons = box->buttons();
      if (!buttons.isEmpty())
        buttons.front()->click();
      else
        box->reject();
      return;
    }
    seen_.push_back(s);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      if (close_)
        close_(dialog);
      else
        dialog->reject();
    }
  }

  std::function<void(QDialog*)> close_;
  QTimer timer_;
  QPointer<QWidget> last_;
  std::vector<SeenModal> seen_;
};

// Catches the requests for some URL schemes while it lives.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  explicit UrlCatcher(const QStringList& schemes) : schemes_(schemes) {
    for (const QString& scheme : schemes_) QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~UrlCatcher() override {
    for (const QString& scheme : schemes_) QDesktopServices::unsetUrlHandler(scheme);
  }

  std::vector<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }

 private:
  QStringList schemes_;
};

}  // namespace vz::test
