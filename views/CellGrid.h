// A generic cell grid: cells in rows and columns with fixed leading rows
// and columns, column widths and row heights, grid lines, a current cell,
// column sizing and moving with the mouse, and an in-place line editor. It
// is painted with QPainter; what a cell shows is decided by DrawCell.
//
// The vertical scroll bar is not driven by the grid's rows: whoever uses
// the grid sets its range, page and position (SetVScroll) and answers its
// requests (VScrollRequest). The rows below the fixed ones are all shown
// from the first one; the grid never scrolls them by itself.
//
// The in-place editor: F2, Enter or a click on the current cell (through
// the owner) shows it; typing a printable key on the grid shows it with
// that key replacing the cell's text. Keys that move between cells (Up,
// Down, Page Up, Page Down, Tab, Escape, Enter) typed in the editor are the
// grid's; a key that would change the text is let through only when
// CanEditModify agrees. When the focus leaves both the grid and its editor,
// GridExit runs.
#pragma once

#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QPointer>
#include <vector>

namespace vz::views {

enum GridOption : unsigned {
  goHorzLine = 1u << 0,  // horizontal lines between data rows
  goVertLine = 1u << 1,  // vertical lines between data columns
  goFixedHorzLine = 1u << 2,
  goFixedVertLine = 1u << 3,
  goEditing = 1u << 4,
  goAlwaysShowEditor = 1u << 5,
  goRowSelect = 1u << 6,
  goColSizing = 1u << 7,
  goColMoving = 1u << 8,
  goTabs = 1u << 9,
  goDrawFocusSelected = 1u << 10,
};

enum CellState : unsigned {
  csSelected = 1u << 0,
  csFocused = 1u << 1,
  csFixed = 1u << 2,
};

enum class ScrollRequest {
  LineUp,
  LineDown,
  PageUp,
  PageDown,
  Top,
  Bottom,
  ThumbPosition,
  ThumbTrack
};

class CellGrid : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit CellGrid(QWidget* parent = nullptr);
  ~CellGrid() override;

  // --- Geometry ---
  int ColCount() const { return static_cast<int>(colWidths_.size()); }
  void SetColCount(int n);
  int RowCount() const { return rowCount_; }
  void SetRowCount(int n);
  int FixedCols() const { return fixedCols_; }
  void SetFixedCols(int n);
  int FixedRows() const { return fixedRows_; }
  void SetFixedRows(int n);
  int ColWidth(int c) const;
  void SetColWidth(int c, int w);
  int DefaultColWidth() const { return defaultColWidth_; }
  void SetDefaultColWidth(int w);
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(int h);
  int RowHeight(int r) const;
  void SetRowHeight(int r, int h);
  int GridLineWidth() const { return lineWidth_; }
  unsigned Options() const { return options_; }
  void SetOptions(unsigned o);

  // --- The current cell ---
  int Col() const { return col_; }
  int Row() const { return row_; }
  // Moves the current cell (asks SelectCell first unless `force`).
  void SetCurrent(int col, int row, bool force = false);
  int LeftCol() const { return leftCol_; }
  void SetLeftCol(int c);
  // Fully visible data rows / columns.
  int VisibleRowCount() const;
  int VisibleColCount() const;
  // Rows that fit in the window at all (partly shown included).
  int RowsThatFit() const;

  // --- Cells ---
  QRect CellRect(int col, int row) const;
  bool CellAt(const QPoint& viewportPoint, int& col, int& row) const;
  void InvalidateCell(int col, int row);
  void InvalidateRow(int row);
  void InvalidateGrid();
  // Moves the pixels of the data rows (from the first data row down, from
  // column `fromCol` to the right edge) up by `rows` row pitches (down when
  // negative) and repaints only the rows that came into view and what lies
  // below the last row. Fixed columns from `fromCol` on move with the rows.
  void ScrollDataRows(int rows, int fromCol);
  int RowPitch() const;

  // --- The vertical scroll bar ---
  // `max` is the last position the page can cover: with a page of n the
  // thumb runs from min to max - n + 1 (a page of 0 counts as 1).
  void SetVScroll(int min, int max, int page, int pos);
  void VScrollInfo(int& min, int& max, int& page, int& pos) const;
  int VScrollWrites() const { return vscrollWrites_; }

  // --- The in-place editor ---
  QLineEdit* Editor() const { return editor_; }
  bool EditorShown() const { return editor_ && editor_->isVisible(); }
  void ShowEditor();
  void HideEditor();
  void UpdateEditor();  // puts the current cell's text and mask into it
  // A key that types a character into a cell (no Ctrl or Alt with it).
  static bool TypesCharacter(const QKeyEvent* e);
  // The editor's text as the grid reads it: with an input mask the blanks
  // stand in it as blanks (a cleared date reads "  /  /  ").
  QString EditorText() const;

 protected:
  virtual void DrawCell(QPainter& p, const QRect& rect, int col, int row, unsigned state) = 0;
  virtual bool SelectCell(int col, int row);
  virtual void CurrentChanged() {}
  virtual void TopLeftChanged() {}
  virtual void ColumnMoved(int from, int to);
  virtual void ColWidthChanged(int col) { (void)col; }
  virtual void VScrollRequest(ScrollRequest kind, int pos);
  virtual void GridResized() {}
  virtual QString GetEditText(int col, int row) const;
  virtual void SetEditText(int col, int row, const QString& text);
  virtual QString GetEditMask(int col, int row) const;
  virtual int GetEditLimit() const { return 0; }
  virtual bool CanEditShow() const;
  // Asked before a key changes the editor's text; false drops the key.
  virtual bool CanEditModify() { return true; }
  // A key pressed in the editor, before the editor sees it: true when it
  // was handled (the editor does not get it).
  virtual bool EditorKeyPress(QKeyEvent* e);
  // The focus left the grid and its editor.
  virtual void GridExit() {}
  // The generic handling of a key: moves the current cell.
  virtual void GridKeyDown(QKeyEvent* e);
  virtual void GridMousePress(QMouseEvent* e);
  virtual void GridMouseRelease(QMouseEvent* e);
  virtual void GridDoubleClick(QMouseEvent* e) { (void)e; }
  // The mouse wheel turned over the grid or its vertical bar, by `rows`
  // (the desktop's wheel-scroll lines per notch, parts of a notch added up;
  // positive: down). By default the current cell moves as many rows.
  virtual void WheelRows(int rows);
  // True while a column is being sized, or moved with the mouse (a press
  // on a title becomes a move once the mouse has gone a drag distance).
  bool Sizing() const { return dragKind_ == Drag::Size || (dragKind_ == Drag::Move && dragMoved_); }
  // Whether a point lies in the zone where a column border can be dragged.
  bool InSizingZone(const QPoint& p) const;

  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  bool focusNextPrevChild(bool next) override;
  bool viewportEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  // The bars do not scroll the contents: the grid moves its own pixels
  // (ScrollDataRows) and repaints columns itself.
  void scrollContentsBy(int dx, int dy) override;

 private:
  enum class Drag { None, Size, Move };
  int ColLeft(int c) const;  // -1 when not shown
  int RowTop(int r) const;
  void OnScrollAction(int action);
  void OnSliderReleased();
  void OnHorizontalScroll(int value);
  void UpdateHorizontalBar();
  // Whether the focus now stands outside the grid and its editor.
  bool FocusLeftGrid() const;
  // Tab without goTabs: the focus goes on from the grid to the next control.
  void LeaveByTab(bool next);

  std::vector<int> colWidths_;
  std::vector<int> rowHeights_;
  int rowCount_ = 0;
  int fixedCols_ = 0;
  int fixedRows_ = 0;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  int lineWidth_ = 1;
  unsigned options_ = goHorzLine | goVertLine | goFixedHorzLine | goFixedVertLine;
  int col_ = 0;
  int row_ = 0;
  int leftCol_ = 0;
  int vscrollWrites_ = 0;
  bool settingScroll_ = false;
  QPointer<QLineEdit> editor_;
  Drag dragKind_ = Drag::None;
  int dragCol_ = -1;
  int dragStartX_ = 0;
  int dragStartWidth_ = 0;
  bool dragMoved_ = false;
  // Wheel turns not yet made rows: angle (in eighths of a degree) times
  // lines per notch.
  int wheelRest_ = 0;
};

}  // namespace vz::views
