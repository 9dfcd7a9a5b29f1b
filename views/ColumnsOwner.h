// What the grid's columns need of their grid: the defaults they fall back
// on, the data set their fields come from, and the layout they report
// changes to. The data-bound grid implements it; tests can implement it
// without a grid.
#pragma once

#include <QColor>
#include <QFont>

#include "dataset/DataSet.h"

namespace vz::views {

class ColumnsOwner {
 public:
  virtual ~ColumnsOwner() = default;
  virtual QColor GridColor() const = 0;         // the grid's Color
  virtual QColor GridFixedColor() const = 0;    // the grid's FixedColor
  virtual QFont GridFont() const = 0;           // the grid's Font
  virtual QFont GridTitleFont() const = 0;      // the grid's TitleFont
  virtual bool GridHasTitles() const = 0;       // dgTitles is set
  virtual int GridDefaultColWidth() const = 0;  // the cell grid's default column width
  virtual bool GridHasWindow() const = 0;
  virtual bool GridLoading() const = 0;  // being read from its stored form
  virtual data::DataSet* GridDataSet() const = 0;
  virtual bool GridLinkActive() const = 0;
  // The field the grid's field map holds for a data column (none: null).
  virtual data::Field* GridMappedField(int column) const = 0;
  // Layout lock around column creation; a change lays the grid out again.
  virtual void GridBeginLayout() = 0;
  virtual void GridEndLayout() = 0;
  virtual void GridColumnsChanged() = 0;
};

}  // namespace vz::views
