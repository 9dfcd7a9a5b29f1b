#include "views/CellGrid.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

namespace vz::views {

namespace {
constexpr int kSizingMargin = 3;

// A key the line editor would change its text with.
bool ChangesText(QKeyEvent* e) {
  if (CellGrid::TypesCharacter(e)) return true;
  switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete: return true;
    default: break;
  }
  return e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) ||
         e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo) ||
         e->matches(QKeySequence::DeleteStartOfWord) || e->matches(QKeySequence::DeleteEndOfWord) ||
         e->matches(QKeySequence::DeleteEndOfLine);
}

// Keys that move between cells or end the edit: the grid's even while the
// editor has the focus.
bool IsGridKey(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: return true;
    default: return false;
  }
}
}  // namespace

CellGrid::CellGrid(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  // Every pixel is painted by the grid: Qt can then move pixels when the
  // rows scroll instead of repainting the whole area.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  verticalScrollBar()->setRange(0, 0);
  horizontalScrollBar()->setRange(0, 0);
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &CellGrid::OnScrollAction);
  connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, &CellGrid::OnSliderReleased);
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &CellGrid::OnHorizontalScroll);
  // The wheel over the vertical bar moves the rows as it does over them,
  // not the bar's thumb.
  verticalScrollBar()->installEventFilter(this);
  colWidths_.assign(2, defaultColWidth_);
  rowCount_ = 2;
  fixedCols_ = 1;
  fixedRows_ = 1;
  col_ = 1;
  row_ = 1;
  leftCol_ = 1;
}

CellGrid::~CellGrid() = default;

// --- Geometry ---------------------------------------------------------------------------------

void CellGrid::SetColCount(int n) {
  n = std::max(1, n);
  if (n == ColCount()) return;
  colWidths_.resize(static_cast<std::size_t>(n), defaultColWidth_);
  if (fixedCols_ > n) fixedCols_ = n;
  if (col_ >= n) col_ = n - 1;
  if (col_ < fixedCols_) col_ = std::min(fixedCols_, n - 1);
  if (leftCol_ >= n || leftCol_ < fixedCols_) leftCol_ = std::min(fixedCols_, n - 1);
  UpdateHorizontalBar();
  viewport()->update();
}

void CellGrid::SetRowCount(int n) {
  n = std::max(1, n);
  if (n == rowCount_) return;
  rowCount_ = n;
  if (static_cast<int>(rowHeights_.size()) > n) rowHeights_.resize(static_cast<std::size_t>(n));
  if (fixedRows_ >= n) fixedRows_ = n - 1;
  if (row_ >= n) row_ = n - 1;
  if (row_ < fixedRows_) row_ = std::min(fixedRows_, n - 1);
  viewport()->update();
}

void CellGrid::SetFixedCols(int n) {
  // Every column may be fixed; the current cell then stays on the last one.
  n = std::clamp(n, 0, ColCount());
  fixedCols_ = n;
  if (col_ < n) col_ = std::min(n, ColCount() - 1);
  if (leftCol_ < n) leftCol_ = std::min(n, ColCount() - 1);
  UpdateHorizontalBar();
  viewport()->update();
}

void CellGrid::SetFixedRows(int n) {
  n = std::clamp(n, 0, std::max(0, rowCount_ - 1));
  fixedRows_ = n;
  if (row_ < n) row_ = n;
  viewport()->update();
}

int CellGrid::ColWidth(int c) const {
  return c >= 0 && c < ColCount() ? colWidths_[static_cast<std::size_t>(c)] : defaultColWidth_;
}

void CellGrid::SetColWidth(int c, int w) {
  if (c < 0 || c >= ColCount()) return;
  w = std::max(0, w);
  if (colWidths_[static_cast<std::size_t>(c)] == w) return;
  colWidths_[static_cast<std::size_t>(c)] = w;
  UpdateHorizontalBar();
  viewport()->update();
}

void CellGrid::SetDefaultColWidth(int w) {
  defaultColWidth_ = std::max(0, w);
  std::fill(colWidths_.begin(), colWidths_.end(), defaultColWidth_);
  viewport()->update();
}

void CellGrid::SetDefaultRowHeight(int h) {
  defaultRowHeight_ = std::max(1, h);
  rowHeights_.clear();
  viewport()->update();
}

int CellGrid::RowHeight(int r) const {
  if (r >= 0 && r < static_cast<int>(rowHeights_.size()) &&
      rowHeights_[static_cast<std::size_t>(r)] > 0)
    return rowHeights_[static_cast<std::size_t>(r)];
  return defaultRowHeight_;
}

void CellGrid::SetRowHeight(int r, int h) {
  if (r < 0) return;
  if (static_cast<int>(rowHeights_.size()) <= r)
    rowHeights_.resize(static_cast<std::size_t>(r) + 1, 0);
  rowHeights_[static_cast<std::size_t>(r)] = h;
  viewport()->update();
}

void CellGrid::SetOptions(unsigned o) {
  if (o & goRowSelect) o &= ~(goEditing | goAlwaysShowEditor);
  options_ = o;
  lineWidth_ = 1;
  if (!(o & goEditing)) HideEditor();
  viewport()->update();
}

int CellGrid::RowPitch() const {
  return defaultRowHeight_ + ((options_ & goHorzLine) ? lineWidth_ : 0);
}

int CellGrid::ColLeft(int c) const {
  if (c < 0 || c >= ColCount()) return -1;
  int x = 0;
  for (int i = 0; i < fixedCols_; ++i) {
    if (i == c) return x;
    x += ColWidth(i) + ((options_ & goFixedVertLine) ? lineWidth_ : 0);
  }
  if (c < leftCol_) return -1;
  for (int i = leftCol_; i < c; ++i) x += ColWidth(i) + ((options_ & goVertLine) ? lineWidth_ : 0);
  return x;
}

int CellGrid::RowTop(int r) const {
  if (r < 0 || r >= rowCount_) return -1;
  int y = 0;
  for (int i = 0; i < r; ++i) {
    const bool fixed = i < fixedRows_;
    y += RowHeight(i) + (((fixed ? goFixedHorzLine : goHorzLine) & options_) ? lineWidth_ : 0);
  }
  return y;
}

QRect CellGrid::CellRect(int col, int row) const {
  const int x = ColLeft(col), y = RowTop(row);
  if (x < 0 || y < 0) return QRect();
  return QRect(x, y, ColWidth(col), RowHeight(row));
}

bool CellGrid::CellAt(const QPoint& p, int& col, int& row) const {
  col = row = -1;
  for (int r = 0; r < rowCount_; ++r) {
    const int y = RowTop(r);
    if (p.y() >= y && p.y() < y + RowHeight(r) + lineWidth_) {
      row = r;
      break;
    }
  }
  for (int c = 0; c < ColCount(); ++c) {
    const int x = ColLeft(c);
    if (x >= 0 && p.x() >= x && p.x() < x + ColWidth(c) + lineWidth_) {
      col = c;
      break;
    }
  }
  return col >= 0 && row >= 0;
}

int CellGrid::VisibleRowCount() const {
  int fixedHeight = 0;
  for (int r = 0; r < fixedRows_; ++r)
    fixedHeight += RowHeight(r) + ((options_ & goFixedHorzLine) ? lineWidth_ : 0);
  const int room = viewport()->height() - fixedHeight;
  if (room <= 0) return 0;
  // A row counts when its cell (not the line below it) is inside the window.
  return (room + ((options_ & goHorzLine) ? lineWidth_ : 0)) / RowPitch();
}

int CellGrid::RowsThatFit() const {
  int fixedHeight = 0;
  for (int r = 0; r < fixedRows_; ++r)
    fixedHeight += RowHeight(r) + ((options_ & goFixedHorzLine) ? lineWidth_ : 0);
  const int room = viewport()->height() - fixedHeight;
  return room <= 0 ? 0 : (room + RowPitch() - 1) / RowPitch();
}

int CellGrid::VisibleColCount() const {
  int n = 0;
  const int width = viewport()->width();
  for (int c = leftCol_; c < ColCount(); ++c) {
    const int x = ColLeft(c);
    if (x < 0 || x + ColWidth(c) > width) break;
    ++n;
  }
  return n;
}

// --- The current cell ---------------------------------------------------------------------------

bool CellGrid::SelectCell(int, int) {
  return true;
}

void CellGrid::SetCurrent(int col, int row, bool force) {
  col = std::clamp(col, std::min(fixedCols_, ColCount() - 1), ColCount() - 1);
  row = std::clamp(row, fixedRows_, std::max(fixedRows_, rowCount_ - 1));
  if (col == col_ && row == row_) return;
  if (!force && !SelectCell(col, row)) return;
  const int oldRow = row_, oldCol = col_;
  col_ = col;
  row_ = row;
  // Keep the current column in view.
  if (col_ >= fixedCols_ && col_ < leftCol_) SetLeftCol(col_);
  while (col_ > leftCol_ && ColLeft(col_) + ColWidth(col_) > viewport()->width() && leftCol_ < col_)
    SetLeftCol(leftCol_ + 1);
  if (options_ & goRowSelect) {
    InvalidateRow(oldRow);
    InvalidateRow(row_);
  } else {
    InvalidateCell(oldCol, oldRow);
    InvalidateCell(col_, row_);
  }
  if (EditorShown()) {
    UpdateEditor();
  }
  CurrentChanged();
}

void CellGrid::SetLeftCol(int c) {
  c = std::clamp(c, std::min(fixedCols_, ColCount() - 1), ColCount() - 1);
  if (c == leftCol_) return;
  leftCol_ = c;
  UpdateHorizontalBar();
  viewport()->update();
  TopLeftChanged();
}

void CellGrid::InvalidateCell(int col, int row) {
  const QRect r = CellRect(col, row);
  if (!r.isEmpty()) viewport()->update(r.adjusted(0, 0, lineWidth_, lineWidth_));
}

void CellGrid::InvalidateRow(int row) {
  const int y = RowTop(row);
  if (y >= 0) viewport()->update(QRect(0, y, viewport()->width(), RowHeight(row) + lineWidth_));
}

void CellGrid::InvalidateGrid() {
  viewport()->update();
}

void CellGrid::ScrollDataRows(int rows, int fromCol) {
  if (rows == 0) return;
  const int top = RowTop(fixedRows_);
  if (top < 0) {
    viewport()->update();
    return;
  }
  int left = 0;
  for (int i = 0; i < std::min(fromCol, fixedCols_); ++i)
    left += ColWidth(i) + ((options_ & goFixedVertLine) ? lineWidth_ : 0);
  const int width = viewport()->width(), height = viewport()->height();
  const QRect area(left, top, width - left, height - top);
  // Qt moves the pixels and asks for a repaint of the strip of pixels that
  // was uncovered. The window rarely ends on a row boundary, so that strip
  // is not the rows that came into view: those are repainted by row, and
  // so is what lies below the last row (pixels of a row moved in there).
  viewport()->scroll(0, -rows * RowPitch(), area);
  const int firstData = fixedRows_, lastData = rowCount_ - 1;
  const int from = rows > 0 ? std::max(firstData, lastData - rows + 1) : firstData;
  const int to = rows > 0 ? lastData : std::min(lastData, firstData - rows - 1);
  for (int r = from; r <= to; ++r) {
    const int y = RowTop(r);
    if (y >= 0 && y < height)
      viewport()->update(QRect(left, y, width - left, RowHeight(r) + lineWidth_));
  }
  const int below = RowTop(lastData) + RowHeight(lastData) + lineWidth_;
  if (RowTop(lastData) >= 0 && below < height)
    viewport()->update(QRect(left, below, width - left, height - below));
}

// --- The vertical scroll bar
// ----------------------------------------------------------------------

void CellGrid::SetVScroll(int min, int max, int page, int pos) {
  QScrollBar* bar = verticalScrollBar();
  settingScroll_ = true;
  page = std::max(1, page);
  // Qt's maximum is the last position of the thumb, not of the page.
  bar->setRange(min, std::max(min, max - page + 1));
  bar->setPageStep(page);
  bar->setValue(pos);
  bar->setSliderPosition(pos);
  settingScroll_ = false;
  ++vscrollWrites_;
}

void CellGrid::VScrollInfo(int& min, int& max, int& page, int& pos) const {
  const QScrollBar* bar = verticalScrollBar();
  min = bar->minimum();
  max = bar->maximum();
  page = bar->pageStep();
  pos = bar->value();
}

void CellGrid::VScrollRequest(ScrollRequest, int) {}

void CellGrid::OnScrollAction(int action) {
  if (settingScroll_) return;
  QScrollBar* bar = verticalScrollBar();
  const int before = bar->value();
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: VScrollRequest(ScrollRequest::LineUp, 0); break;
    case QAbstractSlider::SliderSingleStepAdd: VScrollRequest(ScrollRequest::LineDown, 0); break;
    case QAbstractSlider::SliderPageStepSub: VScrollRequest(ScrollRequest::PageUp, 0); break;
    case QAbstractSlider::SliderPageStepAdd: VScrollRequest(ScrollRequest::PageDown, 0); break;
    case QAbstractSlider::SliderToMinimum: VScrollRequest(ScrollRequest::Top, 0); break;
    case QAbstractSlider::SliderToMaximum: VScrollRequest(ScrollRequest::Bottom, 0); break;
    case QAbstractSlider::SliderMove:
      if (!bar->isSliderDown()) VScrollRequest(ScrollRequest::ThumbPosition, bar->sliderPosition());
      return;  // while dragging the thumb follows the mouse
    default: return;
  }
  // The bar shows what the request's owner wrote, not the step Qt meant.
  bar->setSliderPosition(bar->value() == before ? before : bar->value());
}

void CellGrid::OnSliderReleased() {
  if (settingScroll_) return;
  VScrollRequest(ScrollRequest::ThumbPosition, verticalScrollBar()->sliderPosition());
}

void CellGrid::UpdateHorizontalBar() {
  int total = 0;
  for (int c = fixedCols_; c < ColCount(); ++c) total += ColWidth(c);
  int fixedWidth = 0;
  for (int c = 0; c < fixedCols_; ++c) fixedWidth += ColWidth(c);
  const bool fits = fixedWidth + total <= viewport()->width() || ColCount() - fixedCols_ <= 1;
  QScrollBar* bar = horizontalScrollBar();
  bar->blockSignals(true);
  bar->setRange(fixedCols_, fits ? fixedCols_ : ColCount() - 1);
  bar->setValue(leftCol_);
  bar->blockSignals(false);
}

void CellGrid::OnHorizontalScroll(int value) {
  SetLeftCol(value);
}

// Writing the vertical bar is no reason to repaint the rows.
void CellGrid::scrollContentsBy(int, int) {}

// --- Painting
// ---------------------------------------------------------------------------------------

void CellGrid::paintEvent(QPaintEvent* e) {
  QPainter p(viewport());
  const QRect clip = e->rect();
  const QColor fixedLine = palette().color(QPalette::Dark);
  const QColor dataLine = palette().color(QPalette::Midlight);
  const int width = viewport()->width(), height = viewport()->height();
  int maxX = 0, maxY = 0;
  for (int r = 0; r < rowCount_; ++r) {
    const int y = RowTop(r);
    if (y >= height) break;
    const int h = RowHeight(r);
    const bool fixedRow = r < fixedRows_;
    maxY = std::max(maxY, y + h);
    for (int c = 0; c < ColCount(); ++c) {
      const int x = ColLeft(c);
      if (x < 0) continue;
      if (x >= width) break;
      const QRect cell(x, y, ColWidth(c), h);
      maxX = std::max(maxX, x + cell.width());
      const bool fixed = fixedRow || c < fixedCols_;
      const bool vline = (fixed ? goFixedVertLine : goVertLine) & options_;
      const bool hline = (fixed ? goFixedHorzLine : goHorzLine) & options_;
      const QRect withLines = cell.adjusted(0, 0, vline ? lineWidth_ : 0, hline ? lineWidth_ : 0);
      if (!withLines.intersects(clip)) continue;
      unsigned state = fixed ? csFixed : 0u;
      const bool selected = (options_ & goRowSelect) ? r == row_ : (r == row_ && c == col_);
      if (!fixed && selected) state |= csSelected;
      if (!fixed && r == row_ && c == col_ && hasFocus()) state |= csFocused;
      p.save();
      p.setClipRect(cell);
      DrawCell(p, cell, c, r, state);
      p.restore();
      if (vline)
        p.fillRect(QRect(cell.right() + 1, y, lineWidth_, h + (hline ? lineWidth_ : 0)),
                   fixed ? fixedLine : dataLine);
      if (hline)
        p.fillRect(QRect(x, cell.bottom() + 1, cell.width() + (vline ? lineWidth_ : 0), lineWidth_),
                   fixed ? fixedLine : dataLine);
    }
  }
  // What lies beyond the last cell is the background.
  const QColor back = palette().color(QPalette::Base);
  if (maxX + lineWidth_ < width) p.fillRect(QRect(maxX + lineWidth_, 0, width, height), back);
  if (maxY + lineWidth_ < height) p.fillRect(QRect(0, maxY + lineWidth_, width, height), back);
}

void CellGrid::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  UpdateHorizontalBar();
  GridResized();
  if (EditorShown()) UpdateEditor();
}

bool CellGrid::viewportEvent(QEvent* e) {
  return QAbstractScrollArea::viewportEvent(e);
}

// --- Keys and mouse
// -----------------------------------------------------------------------------------

void CellGrid::GridKeyDown(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Up: SetCurrent(col_, row_ - 1); break;
    case Qt::Key_Down: SetCurrent(col_, row_ + 1); break;
    case Qt::Key_Left: SetCurrent(col_ - 1, row_); break;
    case Qt::Key_Right: SetCurrent(col_ + 1, row_); break;
    case Qt::Key_Home: SetCurrent(fixedCols_, row_); break;
    case Qt::Key_End: SetCurrent(ColCount() - 1, row_); break;
    case Qt::Key_F2: ShowEditor(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter opens the editor on the current cell, or closes it.
      if (options_ & goAlwaysShowEditor) break;
      if (EditorShown())
        HideEditor();
      else
        ShowEditor();
      break;
    case Qt::Key_Escape:
      if (!(options_ & goAlwaysShowEditor)) HideEditor();
      break;
    default:
      // A character typed on a cell replaces its text in the editor.
      if (TypesCharacter(e) && CanEditShow()) {
        ShowEditor();
        if (EditorShown()) {
          editor_->selectAll();
          QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(),
                         e->count());
          QApplication::sendEvent(editor_, &copy);
          break;
        }
      }
      e->ignore();
      return;
  }
  e->accept();
}

bool CellGrid::TypesCharacter(const QKeyEvent* e) {
  if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString t = e->text();
  return !t.isEmpty() && t.at(0).isPrint();
}

bool CellGrid::EditorKeyPress(QKeyEvent* e) {
  if (IsGridKey(e)) {
    e->accept();
    keyPressEvent(e);
    if (e->isAccepted()) return true;
    const bool plain =
        !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab)) {
      LeaveByTab(e->key() == Qt::Key_Tab && !(e->modifiers() & Qt::ShiftModifier));
      e->accept();  // not passed on to the editor's parents
      return true;
    }
    return false;
  }
  // A change of the text must be allowed first (it may start an edit).
  if (ChangesText(e) && !CanEditModify()) {
    e->accept();
    return true;
  }
  return false;
}

void CellGrid::LeaveByTab(bool next) {
  setFocus(Qt::TabFocusReason);
  QAbstractScrollArea::focusNextPrevChild(next);
}

bool CellGrid::FocusLeftGrid() const {
  // A window of its own (a message box, a menu) takes the focus for a
  // while; that is not leaving the grid.
  const QWidget* f = QApplication::focusWidget();
  if (!f || f->window() != window()) return false;
  return f != this && !isAncestorOf(f);
}

bool CellGrid::eventFilter(QObject* watched, QEvent* e) {
  if (watched == verticalScrollBar() && e->type() == QEvent::Wheel) {
    wheelEvent(static_cast<QWheelEvent*>(e));
    return true;
  }
  if (editor_ && watched == editor_) {
    if (e->type() == QEvent::KeyPress) return EditorKeyPress(static_cast<QKeyEvent*>(e));
    if (e->type() == QEvent::FocusOut && FocusLeftGrid()) {
      InvalidateRow(row_);
      GridExit();
    }
    return false;
  }
  return QAbstractScrollArea::eventFilter(watched, e);
}

void CellGrid::keyPressEvent(QKeyEvent* e) {
  GridKeyDown(e);
}

bool CellGrid::focusNextPrevChild(bool next) {
  if (options_ & goTabs) return false;  // Tab stays in the grid
  return QAbstractScrollArea::focusNextPrevChild(next);
}

bool CellGrid::InSizingZone(const QPoint& p) const {
  if (!(options_ & goColSizing) || fixedRows_ == 0) return false;
  if (p.y() >= RowTop(fixedRows_)) return false;
  for (int c = 0; c < ColCount(); ++c) {
    const int x = ColLeft(c);
    if (x < 0) continue;
    const int edge = x + ColWidth(c);
    if (std::abs(p.x() - edge) <= kSizingMargin && c >= fixedCols_) return true;
  }
  return false;
}

void CellGrid::GridMousePress(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton && InSizingZone(p)) {
    for (int c = ColCount() - 1; c >= 0; --c) {
      const int x = ColLeft(c);
      if (x >= 0 && std::abs(p.x() - (x + ColWidth(c))) <= kSizingMargin) {
        dragKind_ = Drag::Size;
        dragCol_ = c;
        dragStartX_ = p.x();
        dragStartWidth_ = ColWidth(c);
        return;
      }
    }
  }
  int col, row;
  if (!CellAt(p, col, row)) return;
  if (e->button() == Qt::LeftButton && (options_ & goColMoving) && row < fixedRows_ &&
      col >= fixedCols_) {
    // A move only once the mouse has gone a drag distance: a plain click
    // on a title stays a click.
    dragKind_ = Drag::Move;
    dragMoved_ = false;
    dragCol_ = col;
    dragStartX_ = p.x();
    return;
  }
  if (row >= fixedRows_ && col >= fixedCols_) SetCurrent(col, row);
}

void CellGrid::GridMouseRelease(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (dragKind_ == Drag::Size) {
    dragKind_ = Drag::None;
    ColWidthChanged(dragCol_);
  } else if (dragKind_ == Drag::Move) {
    dragKind_ = Drag::None;
    int col, row;
    if (dragMoved_ && CellAt(QPoint(p.x(), RowTop(0) + 1), col, row) && col != dragCol_ &&
        col >= fixedCols_)
      ColumnMoved(dragCol_, col);
    dragMoved_ = false;
  }
}

void CellGrid::mousePressEvent(QMouseEvent* e) {
  GridMousePress(e);
}

void CellGrid::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (dragKind_ == Drag::Size) {
    SetColWidth(dragCol_, std::max(1, dragStartWidth_ + p.x() - dragStartX_));
    return;
  }
  if (dragKind_ == Drag::Move) {
    if (std::abs(p.x() - dragStartX_) >= QApplication::startDragDistance()) dragMoved_ = true;
    return;
  }
  viewport()->setCursor(InSizingZone(p) ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void CellGrid::mouseReleaseEvent(QMouseEvent* e) {
  GridMouseRelease(e);
}

void CellGrid::mouseDoubleClickEvent(QMouseEvent* e) {
  GridDoubleClick(e);
}

void CellGrid::wheelEvent(QWheelEvent* e) {
  const int angle = e->angleDelta().y();
  if (angle == 0) {
    QAbstractScrollArea::wheelEvent(e);  // sideways: the horizontal bar's
    return;
  }
  // A notch is 120; high-resolution wheels and touchpads send parts of one,
  // which add up. A turn the other way starts afresh.
  if (wheelRest_ != 0 && (wheelRest_ > 0) != (angle > 0)) wheelRest_ = 0;
  wheelRest_ += angle * QApplication::wheelScrollLines();
  const int rows = wheelRest_ / 120;
  wheelRest_ -= rows * 120;
  e->accept();
  // Turning the wheel away from the user scrolls up.
  if (rows != 0) WheelRows(-rows);
}

void CellGrid::WheelRows(int rows) {
  SetCurrent(col_, row_ + rows);
}

void CellGrid::focusInEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusInEvent(e);
  InvalidateRow(row_);
}

void CellGrid::focusOutEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusOutEvent(e);
  InvalidateRow(row_);
  if (FocusLeftGrid()) GridExit();
}

void CellGrid::ColumnMoved(int from, int to) {
  if (from < 0 || to < 0 || from >= ColCount() || to >= ColCount()) return;
  const int w = colWidths_[static_cast<std::size_t>(from)];
  colWidths_.erase(colWidths_.begin() + from);
  colWidths_.insert(colWidths_.begin() + to, w);
  viewport()->update();
}

// --- The editor
// -----------------------------------------------------------------------------------------

QString CellGrid::GetEditText(int, int) const {
  return QString();
}
void CellGrid::SetEditText(int, int, const QString&) {}
QString CellGrid::GetEditMask(int, int) const {
  return QString();
}
bool CellGrid::CanEditShow() const {
  return (options_ & goEditing) && !(options_ & goRowSelect);
}

void CellGrid::ShowEditor() {
  if (!CanEditShow()) return;
  if (!editor_) {
    editor_ = new QLineEdit(viewport());
    editor_->setFrame(false);
    // Tab never takes the focus into the editor: it belongs to the grid.
    editor_->setFocusPolicy(Qt::ClickFocus);
    editor_->installEventFilter(this);
    connect(editor_, &QLineEdit::textEdited, this,
            [this] { SetEditText(col_, row_, EditorText()); });
  }
  UpdateEditor();
  editor_->show();
  if (hasFocus()) editor_->setFocus();
}

QString CellGrid::EditorText() const {
  if (!editor_) return QString();
  // With a mask, text() leaves the blanks out; displayText() keeps them.
  return editor_->inputMask().isEmpty() ? editor_->text() : editor_->displayText();
}

void CellGrid::HideEditor() {
  if (editor_ && editor_->isVisible()) {
    const bool hadFocus = editor_->hasFocus();
    editor_->hide();
    if (hadFocus) setFocus();
  }
}

void CellGrid::UpdateEditor() {
  if (!editor_) return;
  const QRect r = CellRect(col_, row_);
  if (r.isEmpty()) {
    editor_->hide();
    return;
  }
  editor_->setGeometry(r);
  editor_->setInputMask(GetEditMask(col_, row_));
  const int limit = GetEditLimit();
  editor_->setMaxLength(limit > 0 ? limit : 32767);
  editor_->setText(GetEditText(col_, row_));
}

}  // namespace vz::views
