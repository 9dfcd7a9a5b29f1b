// Records the regions a widget is asked to paint (installed as an event
// filter on a grid's viewport), so that a test sees what was repainted and
// not only the end state.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPaintEvent>
#include <QRegion>

namespace vz::test {

class PaintLog : public QObject {
 public:
  QRegion painted;
  int events = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      painted += static_cast<QPaintEvent*>(e)->region();
      ++events;
    }
    return false;
  }
};

}  // namespace vz::test
