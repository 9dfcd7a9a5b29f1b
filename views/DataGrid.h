// The data-bound grid: rows that are a window onto a data source's data
// set (exactly as many records as fully visible rows), columns bound to
// fields, a current row that is the data set's current record, and every
// move in the grid (keys, mouse, scroll bar) a move of the data set.
//
// The grid's data and state are here (DataGrid.cpp); its drawing is
// DataGridPainter's, its keys and mouse are in DataGridInput.cpp, its link
// to the data source is GridDataLink. The columns model (GridColumns,
// GridColumn, titles) lives in GridColumns.h; the generic cell grid
// underneath in CellGrid.h.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <functional>
#include <memory>
#include <vector>

#include "dataset/DataSource.h"
#include "views/CellGrid.h"
#include "views/ColumnsOwner.h"
#include "views/GridColumns.h"
#include "views/GridDataLink.h"

namespace vz {
class TableDataSet;
}

namespace vz::views {

enum DataGridOption : unsigned {
  dgEditing = 1u << 0,
  dgAlwaysShowEditor = 1u << 1,
  dgTitles = 1u << 2,
  dgIndicator = 1u << 3,
  dgColumnResize = 1u << 4,
  dgColLines = 1u << 5,
  dgRowLines = 1u << 6,
  dgTabs = 1u << 7,
  dgRowSelect = 1u << 8,
  dgAlwaysShowSelection = 1u << 9,
  dgConfirmDelete = 1u << 10,
  dgConfirmRestore = 1u << 11,
};
using DataGridOptions = unsigned;
inline constexpr DataGridOptions kDefaultGridOptions = dgEditing | dgTitles | dgIndicator |
                                                       dgColumnResize | dgColLines | dgRowLines |
                                                       dgTabs | dgConfirmDelete | dgConfirmRestore;

enum class BooleanBoxStyle {
  bbCheckBox,
  bbCheckMark,
  bbText,
  bbFillBox,
  bbFillBoxRed,
  bbRButton,
  bbRButtonRed,
  bbDot,
  bbDotRed,
};

// The seven colours of a row.
struct RowColorSet {
  QColor Indicator, Cell, CellText, Hilite, HiliteText, Deleted, DeletedText;
};

using DrawDataCellEvent =
    std::function<void(DataGrid&, const QRect&, data::Field*, unsigned state)>;
using DrawColumnCellEvent =
    std::function<void(DataGrid&, const QRect&, int dataCol, GridColumn*, unsigned state)>;
using GridClickEvent = std::function<void(DataGrid&, GridColumn*)>;
using ChangeColorsEvent = std::function<void(DataGrid&, int curRow, RowColorSet&)>;
using GridNotifyEvent = std::function<void(DataGrid&)>;
using ColumnMovedEvent = std::function<void(DataGrid&, int from, int to)>;

class DataGridPainter;

class DataGrid : public CellGrid, public ColumnsOwner {
  Q_OBJECT

 public:
  explicit DataGrid(QWidget* parent = nullptr);
  ~DataGrid() override;

  // --- Properties ---
  bool AutoAppend() const { return autoAppend_; }
  void SetAutoAppend(bool on) { autoAppend_ = on; }
  BooleanBoxStyle BooleanBox() const { return booleanBox_; }
  void SetBooleanBox(BooleanBoxStyle b);
  QColor Color() const { return color_; }
  void SetColor(const QColor& c);
  GridColumns& Columns() { return *columns_; }
  data::DataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(data::DataSource* s);
  bool DefaultDrawing() const { return defaultDrawing_; }
  void SetDefaultDrawing(bool on);
  bool DepressDisabled() const { return depressDisabled_; }
  void SetDepressDisabled(bool on);
  QColor FixedColor() const { return fixedColor_; }
  void SetFixedColor(const QColor& c);
  int FixedColumns() const;
  void SetFixedColumns(int n);
  // The stored FixedColumns value (-1 when none was set).
  int StoredFixedColumns() const { return fixedColumns_; }
  QFont GridFontValue() const { return font(); }
  void SetGridFont(const QFont& f);
  DataGridOptions GridOptions() const { return options_; }
  void SetGridOptions(DataGridOptions o);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  QFont TitleFont() const { return titleFont_; }
  void SetTitleFont(const QFont& f);
  // While true the grid is being read from its stored form.
  void BeginLoading();
  void EndLoading();

  // --- Events ---
  GridClickEvent OnCellClick, OnTitleClick, OnDepressTitle;
  ChangeColorsEvent OnChangeColorsEvent;
  ColumnMovedEvent OnColumnMoved;
  GridNotifyEvent OnColEnter, OnColExit, OnCornerLeftClick, OnCornerRightClick, OnDblClick,
      OnIndicatorClick, OnDefineFieldMap;
  DrawDataCellEvent OnDrawDataCell;
  DrawColumnCellEvent OnDrawColumnCell;
  std::function<void(DataGrid&, QKeyEvent*)> OnKeyDown;

  // --- Operations ---
  int SelectedIndex() const;  // the current data column
  void SetSelectedIndex(int column);
  data::Field* SelectedField() const;
  data::Field* ColumnField(int column) const;
  GridDataLink& DataLink() { return link_; }
  void BeginLayout();
  void EndLayout();
  void BeginUpdate() { ++updateLock_; }
  void EndUpdate();
  int TitleOffset() const { return titleOffset_; }
  int IndicatorOffset() const { return indicatorOffset_; }
  bool AllRecordsFit() const { return allFit_; }
  int DepressedTitle() const { return depressed_; }
  const RowColorSet& RowColors(int row) const;
  // The painter of the cell being drawn, for OnDrawDataCell and
  // OnDrawColumnCell (its brush, pen and font are the cell's colours and
  // font); null outside the drawing of a data cell.
  QPainter* Canvas() const { return canvas_; }
  // Runs a pending layout pass now (the posted one comes later).
  void LayoutNow() { LayoutPass(); }
  // Whether the last data column reaches the grid's right edge whatever its
  // own width (a list of one column then takes the list's width). Off by
  // default.
  bool LastColumnFills() const { return lastColumnFills_; }
  void SetLastColumnFills(bool on);
  // The whole text of the data cell at a point of the rows' area when the
  // cell shows it cut (it is then shown as the cell's tooltip); empty when
  // it fits, and where there is no data cell.
  QString CutCellText(const QPoint& viewportPoint, QRect* cell = nullptr);

  // --- For the data link ---
  void LinkActive(bool on);
  void LinkDataChanged();
  void LinkScrolled(int distance);
  void LinkRecordChanged(data::Field* field);
  void LinkLayoutChanged();
  void LinkEditingChanged();
  void LinkUpdateData();

  // --- ColumnsOwner ---
  QColor GridColor() const override { return color_; }
  QColor GridFixedColor() const override { return fixedColor_; }
  QFont GridFont() const override { return font(); }
  QFont GridTitleFont() const override { return titleFont_; }
  bool GridHasTitles() const override { return options_ & dgTitles; }
  int GridDefaultColWidth() const override { return DefaultColWidth(); }
  bool GridHasWindow() const override {
    return isVisible() || testAttribute(Qt::WA_WState_Created);
  }
  bool GridLoading() const override { return loading_; }
  data::DataSet* GridDataSet() const override { return link_.DataSet(); }
  bool GridLinkActive() const override { return link_.Active(); }
  data::Field* GridMappedField(int column) const override { return link_.MappedField(column); }
  void GridBeginLayout() override { BeginLayout(); }
  void GridEndLayout() override { EndLayout(); }
  void GridColumnsChanged() override { LayoutChangedRequest(); }

 protected:
  void DrawCell(QPainter& p, const QRect& rect, int col, int row, unsigned state) override;
  void VScrollRequest(ScrollRequest kind, int pos) override;
  void GridKeyDown(QKeyEvent* e) override;
  void GridMousePress(QMouseEvent* e) override;
  void GridMouseRelease(QMouseEvent* e) override;
  void GridDoubleClick(QMouseEvent* e) override;
  void WheelRows(int rows) override;
  void GridResized() override;
  void ColumnMoved(int from, int to) override;
  void ColWidthChanged(int col) override;
  QString GetEditText(int col, int row) const override;
  void SetEditText(int col, int row, const QString& text) override;
  QString GetEditMask(int col, int row) const override;
  int GetEditLimit() const override;
  bool CanEditShow() const override;
  bool CanEditModify() override;
  bool EditorKeyPress(QKeyEvent* e) override;
  bool SelectCell(int col, int row) override;
  void GridExit() override;
  bool event(QEvent* e) override;
  bool viewportEvent(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  friend class DataGridPainter;
  static TableDataSet* AsTable(data::DataSet* d);
  // The data set is editing or inserting a record.
  static bool Editing(const data::DataSet* d);
  void LayoutChangedRequest();
  void LayoutPass();
  void UpdateRowCount();
  void UpdateScrollBar();
  void UpdateActive();
  void InvalidateEditor();
  void ApplyGridOptions();
  bool AcquireFocus();
  // Moves of the data set made by the grid. A record being inserted that
  // was never changed is given up first, so that moving away from it does
  // not store an empty record.
  void MoveBy(int distance);
  void GoFirst();
  void GoLast();
  void GoRecNo(int n);
  void DropUntouchedInsert();
  // A press on another data row: that row's record becomes current.
  void MoveToRow(int row);
  bool UntouchedInsert() const;
  // Starts the pending edit: the data set goes into edit state (false when
  // it cannot).
  bool BeginPendingEdit();
  bool CanEditCell() const;
  bool IsLogicalColumn(int column) const;
  void ToggleLogical();
  int DataColumn(int gridCol) const { return gridCol - indicatorOffset_; }
  int RawColumn(int dataCol) const { return dataCol + indicatorOffset_; }
  void ResetRowColors(int row);
  void FitLastColumn();
  void TabMove(bool backward);
  void DeleteOrRestore();
  bool Confirm(const QString& question);

  GridDataLink link_{this};
  std::unique_ptr<GridColumns> columns_;
  DataGridOptions options_ = kDefaultGridOptions;
  bool readOnly_ = false;
  bool autoAppend_ = true;
  bool defaultDrawing_ = true;
  bool depressDisabled_ = false;
  bool lastColumnFills_ = false;
  BooleanBoxStyle booleanBox_ = BooleanBoxStyle::bbCheckBox;
  int fixedColumns_ = -1;  // -1: not stored
  QColor color_;
  QColor fixedColor_;
  QFont titleFont_;
  int titleOffset_ = 1;
  int indicatorOffset_ = 1;
  int layoutLock_ = 0;
  int updateLock_ = 0;
  bool layoutWanted_ = false;
  bool layoutPosted_ = false;
  bool inLayout_ = false;
  bool inRowCount_ = false;
  bool loading_ = false;
  data::DataSource* loadingSource_ = nullptr;
  bool loadingSourceSet_ = false;
  int depressed_ = -1;
  int pressedCol_ = -1;
  bool allFit_ = false;
  bool editPending_ = false;
  // The record being edited or inserted was changed (a field written by
  // the grid or by anyone else); cleared when the editing state changes.
  bool recordChanged_ = false;
  QString editText_;
  std::vector<RowColorSet> rowColors_;
  QPainter* canvas_ = nullptr;
  int lastScroll_[4] = {-1, -1, -1, -1};
  std::unique_ptr<DataGridPainter> painter_;
};

}  // namespace vz::views
