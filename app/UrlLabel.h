// UrlLabel: a label that works as a web link. Its text is drawn in one of
// three colours, after the mouse: ColorNormal while the mouse is elsewhere,
// ColorMoveOver while it is over the label, ColorClick while a button
// pressed on the label is held. A button released over the label (its edges
// included) opens URL with the desktop; released elsewhere, it opens nothing.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

class QEnterEvent;
class QMouseEvent;

namespace vz::app {

class UrlLabel : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QColor ColorNormal READ ColorNormal WRITE SetColorNormal)
  Q_PROPERTY(QColor ColorMoveOver READ ColorMoveOver WRITE SetColorMoveOver)
  Q_PROPERTY(QColor ColorClick READ ColorClick WRITE SetColorClick)
  Q_PROPERTY(QString URL READ URL WRITE SetURL)

 public:
  // Caption "Click me!", blue underlined text, the default URL.
  explicit UrlLabel(QWidget* parent = nullptr);

  // The colours are stored values: changing one takes effect at the next
  // mouse event, the label is not repainted for it.
  QColor ColorNormal() const { return colorNormal_; }
  void SetColorNormal(const QColor& color) { colorNormal_ = color; }
  QColor ColorMoveOver() const { return colorMoveOver_; }
  void SetColorMoveOver(const QColor& color) { colorMoveOver_ = color; }
  QColor ColorClick() const { return colorClick_; }
  void SetColorClick(const QColor& color) { colorClick_ = color; }

  // What a click opens; when empty, the caption is opened instead.
  QString URL() const { return url_; }
  void SetURL(const QString& url) { url_ = url; }

  // A button was pressed on the label and not released yet.
  bool Pressed() const { return pressed_; }

  // The colour the text is drawn in now.
  QColor FontColor() const;
  void SetFontColor(const QColor& color);

 signals:
  // Every mouse move over the label (button held or not), in the label's
  // coordinates.
  void MouseMove(Qt::KeyboardModifiers modifiers, int x, int y);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QColor colorNormal_{Qt::blue};
  QColor colorMoveOver_{Qt::blue};
  QColor colorClick_{Qt::red};
  QString url_;
  bool pressed_ = false;
};

}  // namespace vz::app
