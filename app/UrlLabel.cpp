#include "app/UrlLabel.h"

#include <QEnterEvent>
#include <QMouseEvent>

#include "app/Application.h"
#include "app/Shell.h"

namespace vz::app {

UrlLabel::UrlLabel(QWidget* parent) : QLabel(parent), url_(QString::fromLatin1(kDefaultLabelURL)) {
  setTextFormat(Qt::PlainText);
  setText(QStringLiteral("Click me!"));
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  SetFontColor(Qt::blue);
  // Mouse moves arrive with no button held too.
  setMouseTracking(true);
}

QColor UrlLabel::FontColor() const {
  return palette().color(QPalette::WindowText);
}

void UrlLabel::SetFontColor(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, color);
  setPalette(p);
}

void UrlLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = true;
  SetFontColor(colorClick_);
  event->accept();
}

void UrlLabel::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  // The right and bottom edges count as inside, as the left and top do.
  const bool inside = at.x() >= 0 && at.x() <= width() && at.y() >= 0 && at.y() <= height();
  if (inside) {
    if (pressed_) ShellOpen(window(), url_.isEmpty() ? text() : url_);
    SetFontColor(colorMoveOver_);
  } else {
    SetFontColor(colorNormal_);
  }
  pressed_ = false;
  event->accept();
}

void UrlLabel::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  emit MouseMove(event->modifiers(), at.x(), at.y());
  event->accept();
}

void UrlLabel::enterEvent(QEnterEvent* event) {
  if (pressed_) {
    SetFontColor(colorClick_);
  } else {
    SetFontColor(colorMoveOver_);
    SetScreenCursor(Qt::PointingHandCursor);
  }
  QLabel::enterEvent(event);
}

void UrlLabel::leaveEvent(QEvent* event) {
  SetFontColor(colorNormal_);
  SetScreenCursor(Qt::ArrowCursor);
  QLabel::leaveEvent(event);
}

}  // namespace vz::app
