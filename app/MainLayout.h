// Where the main window's controls stand for a given size of its client
// area. The picture's 658 x 363 is the default and the smallest size, with
// every control at its place in the form's layout. A larger window gives
// the list of names (with the machine box above it and the search box below
// it) all the extra width, and the list and the cheat text all the extra
// height; the text keeps its width, and the strip right of it (with the
// print button) keeps its width and follows the window's right edge.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace vz::app {

struct MainLayout {
  QSize Client;
  QPoint MachineLabel;  // top left of "Machine :"
  QRect MachineBox;
  QRect Grid;
  QRect SearchBox;
  QPoint SearchLabel;  // top left of "<-Search"
  QRect Memo;
  QRect PrintButton;
};

// The form's own size.
inline constexpr int kMainClientWidth = 658;
inline constexpr int kMainClientHeight = 363;

// The layout for a client area of `client` (a smaller size counts as the
// smallest one).
MainLayout MainLayoutFor(const QSize& client);

// The layout at the default size.
inline MainLayout DefaultMainLayout() {
  return MainLayoutFor(QSize(kMainClientWidth, kMainClientHeight));
}

}  // namespace vz::app
