// How the data-bound grid draws a cell: the indicator column, the titles,
// the data cells in their column's or the row's colours (a logical field as
// a box), and the events that draw cells of their own.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;

namespace vz::views {

class DataGrid;

class DataGridPainter {
 public:
  explicit DataGridPainter(DataGrid& grid);
  DataGridPainter(const DataGridPainter&) = delete;
  DataGridPainter& operator=(const DataGridPainter&) = delete;

  // Draws the cell (col, row) of the grid; `state` holds the cell grid's
  // csSelected, csFocused and csFixed bits.
  void DrawCell(QPainter& p, const QRect& cellRect, int col, int row, unsigned state);

 private:
  void DrawBooleanBox(QPainter& p, const QRect& rect, bool value, const QColor& fore);
  void WriteText(QPainter& p, const QRect& rect, const QString& text, Qt::Alignment a,
                 const QColor& back, const QColor& fore, const QFont& font);

  DataGrid& grid_;
  QPixmap arrow_, edit_, insert_;  // the row indicators: browsing, editing, inserting
};

}  // namespace vz::views
