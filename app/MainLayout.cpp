#include "app/MainLayout.h"

#include <algorithm>

namespace vz::app {

MainLayout MainLayoutFor(const QSize& client) {
  const int width = std::max(client.width(), kMainClientWidth);
  const int height = std::max(client.height(), kMainClientHeight);
  const int wider = width - kMainClientWidth;
  const int taller = height - kMainClientHeight;
  MainLayout l;
  l.Client = QSize(width, height);
  l.MachineLabel = QPoint(3, 15);
  l.MachineBox = QRect(1, 29, 169 + wider, 20);
  l.Grid = QRect(0, 53, 169 + wider, 277 + taller);
  l.SearchBox = QRect(0, 335 + taller, 170 + wider, 24);
  l.SearchLabel = QPoint(173 + wider, 341 + taller);
  l.Memo = QRect(229 + wider, 52, 372, 309 + taller);
  l.PrintButton = QRect(616 + wider, 332 + taller, 29, 25);
  return l;
}

}  // namespace vz::app
