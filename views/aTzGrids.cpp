#include "views/aTzGrids.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

#include "platform/codepage.h"
#include "table/UCommon.h"
#include "views/aTzMemo.h"

namespace vz::views {

namespace {

// The event that runs a deferred layout pass.
const QEvent::Type kLayoutEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

QString ToQt(const std::string& ansi) { return QString::fromStdString(platform::AnsiToUtf8(ansi)); }
std::string FromQt(const QString& text) { return platform::Utf8ToAnsi(text.toStdString()); }

// The three row indicators, 6 x 11 pixels on a transparent ground.
QPixmap Indicator(int kind) {
  QPixmap pm(6, 11);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(Qt::black);
  p.setBrush(Qt::black);
  if (kind == 0) {  // browsing: an arrow pointing right
    const QPoint tri[3] = {QPoint(0, 1), QPoint(5, 5), QPoint(0, 9)};
    p.drawPolygon(tri, 3);
  } else if (kind == 1) {  // editing: an I-beam
    p.drawLine(1, 0, 4, 0);
    p.drawLine(2, 0, 2, 10);
    p.drawLine(3, 0, 3, 10);
    p.drawLine(1, 10, 4, 10);
  } else {  // inserting: an asterisk
    p.drawLine(3, 2, 3, 8);
    p.drawLine(0, 5, 5, 5);
    p.drawLine(1, 3, 5, 7);
    p.drawLine(1, 7, 5, 3);
  }
  return pm;
}

TTzDataSet* AsTable(data::TDataSet* d) { return dynamic_cast<TTzDataSet*>(d); }

bool Editing(const data::TDataSet* d) {
  return d && (d->State() == data::DataSetState::Edit || d->State() == data::DataSetState::Insert);
}

// The separator of a date pattern ("MM/dd/yy": '/').
QChar DateSeparator(const std::string& pattern) {
  for (char c : pattern)
    if (c != 'y' && c != 'Y' && c != 'M' && c != 'd' && c != 'D') return QChar::fromLatin1(c);
  return QLatin1Char('/');
}

}  // namespace

// --- The data link ------------------------------------------------------------------------------

void TTzGridDataLink::AddMapping(int fieldIndex) {
  if (map_.size() > 16379) throw data::EDatabaseError("Too many columns in grid");
  if (map_.capacity() == 0) map_.reserve(8);
  map_.push_back(fieldIndex);
}

data::TField* TTzGridDataLink::MappedField(int column) const {
  data::TDataSet* d = DataSet();
  if (!d || column < 0 || column >= static_cast<int>(map_.size())) return nullptr;
  const int i = map_[static_cast<std::size_t>(column)];
  if (i < 0 || i >= static_cast<int>(d->Fields().size())) return nullptr;
  return d->Fields()[static_cast<std::size_t>(i)].get();
}

void TTzGridDataLink::ActiveChanged() { grid_->LinkActive(Active()); }
void TTzGridDataLink::DataSetChanged() { grid_->LinkDataChanged(); }
void TTzGridDataLink::DataSetScrolled(int distance) { grid_->LinkScrolled(distance); }
void TTzGridDataLink::RecordChanged(data::TField* field) { grid_->LinkRecordChanged(field); }
void TTzGridDataLink::LayoutChanged() { grid_->LinkLayoutChanged(); }
void TTzGridDataLink::EditingChanged() { grid_->LinkEditingChanged(); }
void TTzGridDataLink::UpdateData() { grid_->LinkUpdateData(); }

// --- Creation ---------------------------------------------------------------------------------------

TCustomTzGrid::TCustomTzGrid(QWidget* parent) : TCustomGrid(parent) {
  color_ = QApplication::palette().color(QPalette::Base);
  fixedColor_ = QApplication::palette().color(QPalette::Button);
  titleFont_ = font();
  columns_ = std::make_unique<TTzGridColumns>(this);
  arrow_ = Indicator(0);
  edit_ = Indicator(1);
  insert_ = Indicator(2);
  ApplyGridOptions();
  SetColCount(2);
  SetRowCount(2);
  rowColors_.resize(2);
}

TCustomTzGrid::~TCustomTzGrid() {
  link_.SetDataSource(nullptr);
  columns_.reset();
}

// --- Properties ---------------------------------------------------------------------------------------

void TCustomTzGrid::SetBooleanBox(TTzBooleanBox b) {
  booleanBox_ = b;
  InvalidateGrid();
}

void TCustomTzGrid::SetColor(const QColor& c) {
  color_ = c;
  InvalidateGrid();
}

void TCustomTzGrid::SetFixedColor(const QColor& c) {
  fixedColor_ = c;
  InvalidateGrid();
}

void TCustomTzGrid::SetDataSource(data::TDataSource* s) {
  if (loading_) {
    // Applied when loading ends.
    loadingSource_ = s;
    loadingSourceSet_ = true;
    return;
  }
  link_.SetDataSource(s);
  LayoutChangedRequest();
}

void TCustomTzGrid::SetDefaultDrawing(bool on) {
  defaultDrawing_ = on;
  InvalidateGrid();
}

void TCustomTzGrid::SetDepressDisabled(bool on) {
  if (!depressDisabled_ && depressed_ >= 0) {
    depressed_ = -1;
    InvalidateGrid();
  }
  depressDisabled_ = on;
}

int TCustomTzGrid::FixedColumns() const { return std::max(0, FixedCols() - indicatorOffset_); }

void TCustomTzGrid::SetFixedColumns(int n) {
  fixedColumns_ = std::max(0, n);
  LayoutChangedRequest();
}

void TCustomTzGrid::SetGridFont(const QFont& f) {
  setFont(f);
  for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->RefreshDefaultFont();
  LayoutChangedRequest();
}

void TCustomTzGrid::SetTitleFont(const QFont& f) {
  titleFont_ = f;
  if (options_ & dgTitles) LayoutChangedRequest();
}

void TCustomTzGrid::SetReadOnly(bool on) {
  readOnly_ = on;
  if (on) HideEditor();
}

void TCustomTzGrid::SetGridOptions(TTzGridOptions o) {
  if (o & dgRowSelect) o &= ~(dgEditing | dgAlwaysShowEditor);
  if (o == options_) return;
  const TTzGridOptions changed = options_ ^ o;
  options_ = o;
  ApplyGridOptions();
  if (changed & (dgTitles | dgIndicator | dgRowLines | dgColLines)) LayoutChangedRequest();
  else InvalidateGrid();
}

void TCustomTzGrid::ApplyGridOptions() {
  unsigned g = 0;
  if (options_ & dgEditing) g |= goEditing;
  if (options_ & dgAlwaysShowEditor) g |= goAlwaysShowEditor;
  if (options_ & dgColLines) g |= goVertLine | goFixedVertLine;
  if (options_ & dgRowLines) g |= goHorzLine | goFixedHorzLine;
  if (options_ & dgColumnResize) g |= goColSizing | goColMoving;
  if (options_ & dgTabs) g |= goTabs;
  if (options_ & dgRowSelect) g |= goRowSelect;
  SetOptions(g);
}

void TCustomTzGrid::BeginLoading() { loading_ = true; }

void TCustomTzGrid::EndLoading() {
  loading_ = false;
  // One layout pass for the data source and everything set while loading.
  BeginLayout();
  layoutWanted_ = true;
  try {
    if (loadingSourceSet_) {
      data::TDataSource* s = loadingSource_;
      loadingSource_ = nullptr;
      loadingSourceSet_ = false;
      link_.SetDataSource(s);
    }
  } catch (...) {
    EndLayout();
    throw;
  }
  EndLayout();
}

// --- Layout -------------------------------------------------------------------------------------------------

void TCustomTzGrid::BeginLayout() { ++layoutLock_; }

void TCustomTzGrid::EndLayout() {
  if (layoutLock_ > 0 && --layoutLock_ == 0 && layoutWanted_) LayoutPass();
}

void TCustomTzGrid::EndUpdate() {
  if (updateLock_ > 0) --updateLock_;
  if (updateLock_ > 0) return;
  // Whatever was painted while the lock was held shows the current cell
  // without its highlight: it is drawn again now that the lock is gone.
  InvalidateRow(Row());
  if (layoutWanted_ && layoutLock_ == 0) LayoutPass();
}

void TCustomTzGrid::LayoutChangedRequest() {
  // A pass that is running takes in whatever it changes itself (the
  // window of records it resizes reports a layout change back).
  if (loading_ || inLayout_) return;
  if (layoutLock_ > 0 || updateLock_ > 0) {
    // Deferred: one posted message, never two.
    layoutWanted_ = true;
    if (!layoutPosted_) {
      layoutPosted_ = true;
      QCoreApplication::postEvent(this, new QEvent(kLayoutEvent));
    }
    return;
  }
  LayoutPass();
}

bool TCustomTzGrid::event(QEvent* e) {
  if (e->type() == kLayoutEvent) {
    layoutPosted_ = false;
    if (layoutWanted_ && layoutLock_ == 0 && updateLock_ == 0) LayoutPass();
    return true;
  }
  return TCustomGrid::event(e);
}

void TCustomTzGrid::LayoutPass() {
  if (loading_ || inLayout_) return;
  if (layoutLock_ > 0) {
    layoutWanted_ = true;
    return;
  }
  inLayout_ = true;
  layoutWanted_ = false;
  ++layoutLock_;
  try {
    columns_->RemovePassthroughBeforePersistent();
    indicatorOffset_ = (options_ & dgIndicator) ? 1 : 0;
    // The field map.
    link_.ClearMapping();
    data::TDataSet* d = link_.DataSet();
    const bool persistent = !columns_->IsDefaultColumns();
    link_.SetDefaultFields(!persistent);
    if (link_.Active() && d) {
      auto& fields = d->Fields();
      if (persistent) {
        for (int i = 0; i < columns_->Count(); ++i) {
          data::TField* f = d->FindField(columns_->Items(i)->FieldName());
          int index = -1;
          for (std::size_t k = 0; k < fields.size(); ++k)
            if (fields[k].get() == f) index = static_cast<int>(k);
          link_.AddMapping(index);
        }
      } else {
        for (std::size_t k = 0; k < fields.size(); ++k)
          if (fields[k]->Visible()) link_.AddMapping(static_cast<int>(k));
      }
      if (OnDefineFieldMap) OnDefineFieldMap(*this);
    }
    // The columns.
    if (persistent) {
      for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->ForgetField();
    } else {
      columns_->SyncDefaultColumns(link_.Active() && d, link_.FieldMap().size());
    }
    SetColCount(columns_->Count() + indicatorOffset_);
    int fixed = indicatorOffset_;
    if (fixedColumns_ >= 0) {
      fixedColumns_ = std::min(fixedColumns_, columns_->Count());
      if (link_.Active()) fixed += fixedColumns_;
    }
    SetFixedCols(std::min(fixed, ColCount()));
    titleOffset_ = (options_ & dgTitles) ? 1 : 0;
    // Heights.
    const int lineWidth = (options_ & dgRowLines) ? GridLineWidth() : 0;
    SetDefaultRowHeight(QFontMetrics(font()).boundingRect("Wg").height() + 3 + lineWidth);
    SetFixedRows(0);
    if (titleOffset_) {
      int h = 0;
      for (int i = 0; i < columns_->Count(); ++i)
        h = std::max(h, QFontMetrics(columns_->Items(i)->Title().Font()).boundingRect("Wg").height());
      if (columns_->Count() == 0) h = QFontMetrics(titleFont_).boundingRect("Wg").height();
      SetRowHeight(0, h + 4);
    }
    // Column widths.
    if (indicatorOffset_) SetColWidth(0, 11);
    for (int i = 0; i < columns_->Count(); ++i) SetColWidth(RawColumn(i), columns_->Items(i)->Width());
    FitLastColumn();
    UpdateRowCount();
    UpdateActive();
    InvalidateGrid();
  } catch (...) {
    --layoutLock_;
    inLayout_ = false;
    throw;
  }
  --layoutLock_;
  inLayout_ = false;
}

void TCustomTzGrid::UpdateRowCount() {
  if (inRowCount_) return;
  inRowCount_ = true;
  const int oldRows = RowCount();
  if (link_.Active() && link_.DataSet() && link_.RecordCount() > 0 && GridHasWindow()) {
    SetFixedRows(0);
    const int titleRows = titleOffset_;
    // Rows below the titles that are fully visible.
    SetRowCount(std::max(1, titleRows + 1));
    if (titleRows) SetFixedRows(titleRows);
    const int visible = std::max(1, VisibleRowCount());
    link_.SetBufferCount(visible);
    SetRowCount(link_.RecordCount() + titleRows);
    if (titleRows) SetFixedRows(titleRows);
    allFit_ = RowCount() < visible + titleRows;
    UpdateScrollBar();
    UpdateActive();
  } else {
    SetRowCount(1 + titleOffset_);
    SetFixedRows(titleOffset_);
    allFit_ = true;
    UpdateScrollBar();
  }
  if (static_cast<int>(rowColors_.size()) < RowCount()) rowColors_.resize(static_cast<std::size_t>(RowCount()));
  if (RowCount() != oldRows) InvalidateGrid();
  inRowCount_ = false;
}

void TCustomTzGrid::UpdateScrollBar() {
  int v[4] = {0, 0, 0, 0};
  data::TDataSet* d = link_.DataSet();
  if (link_.Active() && d && !allFit_) {
    TTzDataSet* t = AsTable(d);
    const bool sequenced = t ? t->IsSequenced() : false;
    if (sequenced) {
      const int page = VisibleRowCount();
      v[0] = 1;
      v[1] = std::max(1, d->RecordCount() + page - 1);
      v[2] = page;
      v[3] = d->State() == data::DataSetState::Insert ? lastScroll_[3] : d->RecNo();
    } else {
      v[0] = 0;
      v[1] = 4;
      v[2] = 1;
      // The thumb follows the record shown, not the flags of the last move
      // (Home, Down, Up stands on the first record without the BOF flag).
      v[3] = d->AtFirstRecord() ? 0 : d->AtLastRecord() ? 4 : 2;
    }
  }
  if (std::equal(v, v + 4, lastScroll_)) return;  // written only on change
  std::copy(v, v + 4, lastScroll_);
  SetVScroll(v[0], v[1], v[2], v[3]);
}

void TCustomTzGrid::UpdateActive() {
  if (!link_.Active() || loading_ || !GridHasWindow()) return;
  const int want = link_.ActiveRecord() + titleOffset_;
  if (Row() != want) {
    if (!(options_ & dgAlwaysShowEditor)) HideEditor();
    SetCurrent(Col(), want, true);
  }
  if (EditorShown()) InvalidateEditor();
}

void TCustomTzGrid::InvalidateEditor() {
  if (!EditorShown()) return;
  const QString now = GetEditText(Col(), Row());
  if (Editor()->text() != now && !editPending_) UpdateEditor();
}

void TCustomTzGrid::SetLastColumnFills(bool on) {
  lastColumnFills_ = on;
  LayoutChangedRequest();
}

void TCustomTzGrid::FitLastColumn() {
  if (!lastColumnFills_ || columns_->Count() == 0) return;
  // The column's own width stays as it is; only its cells are sized.
  const int last = ColCount() - 1;
  const QRect cell = CellRect(last, 0);
  if (cell.isNull()) return;  // scrolled out of view
  SetColWidth(last, std::max(1, viewport()->width() - cell.left()));
}

QString TCustomTzGrid::CutCellText(const QPoint& p, QRect* cellRect) {
  int col, row;
  if (!link_.Active() || !CellAt(p, col, row) || row < titleOffset_) return QString();
  const int dc = DataColumn(col);
  if (dc < 0 || dc >= columns_->Count() || row - titleOffset_ >= link_.RecordCount() ||
      IsLogicalColumn(dc))
    return QString();
  TTzColumn* column = columns_->Items(dc);
  data::TField* f = column->Field();
  if (!f) return QString();
  const int saved = link_.ActiveRecord();
  link_.SetActiveRecord(row - titleOffset_);
  QString text = ToQt(f->DisplayText());
  link_.SetActiveRecord(saved);
  while (!text.isEmpty() && text.back() == QLatin1Char(' ')) text.chop(1);
  // What the window shows of the cell, less the 2 pixels before the text.
  const QRect shown = CellRect(col, row).intersected(viewport()->rect());
  if (cellRect) *cellRect = shown;
  if (QFontMetrics(column->Font()).horizontalAdvance(text) <= shown.width() - 2) return QString();
  return text;
}

bool TCustomTzGrid::viewportEvent(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    QRect cell;
    const QString text = CutCellText(help->pos(), &cell);
    if (text.isEmpty()) {
      QToolTip::hideText();
      e->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, viewport(), cell);
    }
    return true;
  }
  return TCustomGrid::viewportEvent(e);
}

void TCustomTzGrid::GridResized() {
  FitLastColumn();
  UpdateRowCount();
  InvalidateGrid();
}

void TCustomTzGrid::showEvent(QShowEvent* e) {
  TCustomGrid::showEvent(e);
  BeginLayout();
  UpdateRowCount();
  UpdateActive();
  UpdateScrollBar();
  EndLayout();
}

void TCustomTzGrid::changeEvent(QEvent* e) {
  TCustomGrid::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->RefreshDefaultFont();
    LayoutChangedRequest();
  }
}

// --- Notifications --------------------------------------------------------------------------------------------

void TCustomTzGrid::LinkActive(bool on) {
  if (!on) HideEditor();
  LayoutChangedRequest();
  UpdateScrollBar();
  if (on && (options_ & dgAlwaysShowEditor)) ShowEditor();
}

void TCustomTzGrid::LinkDataChanged() {
  UpdateRowCount();
  UpdateScrollBar();
  UpdateActive();
  InvalidateEditor();
  InvalidateGrid();
  editPending_ = false;
}

void TCustomTzGrid::LinkScrolled(int d) {
  const int oldRow = Row();
  if (link_.ActiveRecord() + titleOffset_ >= RowCount()) UpdateRowCount();
  UpdateScrollBar();
  UpdateActive();
  // Whether the current row looks different from the others: the indicator
  // arrow, or the highlight (drawn with the focus or dgAlwaysShowSelection).
  const bool marked = (options_ & dgIndicator) || (options_ & dgAlwaysShowSelection) || hasFocus() ||
                      (Editor() && Editor()->hasFocus());
  if (d == 0 || std::abs(d) > VisibleRowCount()) {
    InvalidateRow(oldRow);
    InvalidateRow(Row());
  }
  if (d != 0) {
    HideEditor();
    if (std::abs(d) > VisibleRowCount()) {
      InvalidateGrid();
    } else {
      // Move the pixels (the fixed data columns hold the same records, so
      // they move as well); only the rows that come into view are painted.
      // The old current record now stands d rows higher, and the new
      // current row was drawn as an ordinary row: both need repainting
      // only when the current row is marked.
      ScrollDataRows(d, indicatorOffset_);
      if (marked) {
        if (oldRow - d >= titleOffset_ && oldRow - d < RowCount()) InvalidateRow(oldRow - d);
        InvalidateRow(Row());
      }
    }
    if (options_ & dgAlwaysShowEditor) ShowEditor();
  }
  if (layoutLock_ == 0) QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
}

void TCustomTzGrid::LinkRecordChanged(data::TField* field) {
  if (field && Editing(link_.DataSet())) recordChanged_ = true;
  if (field) {
    for (int i = 0; i < columns_->Count(); ++i) {
      if (columns_->Items(i)->Field() != field) continue;
      for (int r = titleOffset_; r < RowCount(); ++r) InvalidateCell(RawColumn(i), r);
    }
  } else {
    InvalidateGrid();
  }
  InvalidateEditor();
  editPending_ = false;
}

void TCustomTzGrid::LinkLayoutChanged() {
  LayoutChangedRequest();
  LinkDataChanged();
}

void TCustomTzGrid::LinkEditingChanged() {
  recordChanged_ = false;
  if (options_ & dgIndicator) InvalidateCell(0, Row());
}

void TCustomTzGrid::LinkUpdateData() {
  if (!editPending_) return;
  editPending_ = false;
  if (data::TField* f = SelectedField()) {
    f->SetEditText(FromQt(editText_));
    recordChanged_ = true;
  }
}

// --- Columns and fields -----------------------------------------------------------------------------------------

int TCustomTzGrid::SelectedIndex() const { return DataColumn(Col()); }

void TCustomTzGrid::SetSelectedIndex(int column) {
  const int c = std::clamp(RawColumn(column), FixedCols(), std::max(FixedCols(), ColCount() - 1));
  SetCurrent(c, Row());
}

data::TField* TCustomTzGrid::ColumnField(int column) const {
  if (column < 0 || column >= columns_->Count()) return nullptr;
  return columns_->Items(column)->Field();
}

data::TField* TCustomTzGrid::SelectedField() const { return ColumnField(SelectedIndex()); }

void TCustomTzGrid::ColumnMoved(int from, int to) {
  const int a = DataColumn(from), b = DataColumn(to);
  if (a < 0 || b < 0) return;
  // The depressed title stays on its column, wherever that column goes.
  if (depressed_ == a) depressed_ = b;
  else if (a < depressed_ && depressed_ <= b) --depressed_;
  else if (b <= depressed_ && depressed_ < a) ++depressed_;
  columns_->Move(a, b);
  TCustomGrid::ColumnMoved(from, to);
  if (OnColumnMoved) OnColumnMoved(*this, a, b);
  LayoutChangedRequest();
}

void TCustomTzGrid::ColWidthChanged(int col) {
  const int c = DataColumn(col);
  if (c >= 0 && c < columns_->Count()) columns_->Items(c)->SetWidth(ColWidth(col));
}

// --- Scroll bar and moving ----------------------------------------------------------------------------------------

bool TCustomTzGrid::AcquireFocus() {
  if (!isVisible()) return true;
  const auto ours = [this] {
    QWidget* f = window()->focusWidget();
    return hasFocus() || f == this || (Editor() && f == Editor());
  };
  if (ours()) return true;
  if (focusPolicy() & Qt::ClickFocus) setFocus(Qt::MouseFocusReason);
  // Taking the focus can fail (a focus handler elsewhere may refuse to let
  // it go); the press then does nothing else.
  return ours();
}

bool TCustomTzGrid::UntouchedInsert() const {
  const data::TDataSet* d = link_.DataSet();
  return d && d->State() == data::DataSetState::Insert && !recordChanged_ && !editPending_;
}

void TCustomTzGrid::DropUntouchedInsert() {
  if (UntouchedInsert()) link_.DataSet()->Cancel();
}

void TCustomTzGrid::MoveBy(int distance) {
  data::TDataSet* d = link_.DataSet();
  if (!d) return;
  DropUntouchedInsert();
  d->MoveBy(distance);
}

void TCustomTzGrid::GoFirst() {
  if (data::TDataSet* d = link_.DataSet()) {
    DropUntouchedInsert();
    d->First();
  }
}

void TCustomTzGrid::GoLast() {
  if (data::TDataSet* d = link_.DataSet()) {
    DropUntouchedInsert();
    d->Last();
  }
}

void TCustomTzGrid::GoRecNo(int n) {
  if (data::TDataSet* d = link_.DataSet()) {
    DropUntouchedInsert();
    d->SetRecNo(n);
  }
}

void TCustomTzGrid::VScrollRequest(ScrollRequest kind, int pos) {
  if (!AcquireFocus() || !link_.Active()) return;
  data::TDataSet* d = link_.DataSet();
  if (!d || d->IsEmpty()) return;
  const int visible = VisibleRowCount();
  switch (kind) {
    case ScrollRequest::LineUp: MoveBy(-(link_.ActiveRecord() + 1)); break;
    case ScrollRequest::LineDown: MoveBy(link_.RecordCount() - link_.ActiveRecord()); break;
    case ScrollRequest::PageUp: MoveBy(-visible); break;
    case ScrollRequest::PageDown: MoveBy(visible); break;
    case ScrollRequest::Top: GoFirst(); break;
    case ScrollRequest::Bottom: GoLast(); break;
    case ScrollRequest::ThumbPosition: {
      TTzDataSet* t = AsTable(d);
      if (t && t->IsSequenced()) {
        if (pos <= 1) GoFirst();
        else if (pos >= d->RecordCount()) GoLast();
        else GoRecNo(pos);
      } else {
        switch (pos) {
          case 0: GoFirst(); break;
          case 1: MoveBy(-visible); break;
          case 3: MoveBy(visible); break;
          case 4: GoLast(); break;
          default: break;
        }
      }
      break;
    }
    case ScrollRequest::ThumbTrack: break;
  }
  // The bar shows where the data set now stands.
  std::fill(lastScroll_, lastScroll_ + 4, -1);
  UpdateScrollBar();
}

// --- Keys -----------------------------------------------------------------------------------------------------------

bool TCustomTzGrid::Confirm(const QString& question) {
  return QMessageBox::question(this, QApplication::applicationDisplayName(), question,
                               QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void TCustomTzGrid::DeleteOrRestore() {
  data::TDataSet* d = link_.DataSet();
  if (!d || readOnly_ || !d->CanModify()) return;
  if (TTzDataSet* t = AsTable(d)) {
    if (t->RecordDeleted()) {
      if (!(options_ & dgConfirmRestore) || Confirm("Restore Record ?")) t->SetRecordDeleted(false);
    } else if (!(options_ & dgConfirmDelete) || Confirm("Delete Record ?")) {
      t->SetRecordDeleted(true);
    }
    return;
  }
  if (!(options_ & dgConfirmDelete) || Confirm("Delete Record ?")) d->Delete();
}

void TCustomTzGrid::TabMove(bool backward) {
  data::TDataSet* d = link_.DataSet();
  const int first = FixedCols(), last = ColCount() - 1;
  const int start = Col();
  int c = start;
  for (;;) {
    if (backward) {
      if (--c < first) {
        if (d) MoveBy(-1);
        c = last;
      }
    } else if (++c > last) {
      if (d) MoveBy(1);
      c = first;
    }
    if (c == start) break;
    const int dc = DataColumn(c);
    const bool stop = dc >= 0 && dc < columns_->Count() && !columns_->Items(dc)->ReadOnly() &&
                      columns_->Items(dc)->Field() && !columns_->Items(dc)->Field()->Calculated();
    if (stop) break;
  }
  SetCurrent(c, Row());
}

void TCustomTzGrid::GridKeyDown(QKeyEvent* e) {
  if (OnKeyDown) OnKeyDown(*this, e);
  data::TDataSet* d = link_.DataSet();
  if (!link_.Active() || !d) {
    e->ignore();
    return;
  }
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const bool shift = e->modifiers() & Qt::ShiftModifier;
  const bool alt = e->modifiers() & Qt::AltModifier;
  const bool single = columns_->Count() <= 1;
  const bool logical = IsLogicalColumn(SelectedIndex());
  e->accept();
  if (ctrl) {
    // With Ctrl only these keys mean something to the grid.
    switch (e->key()) {
      case Qt::Key_Up:
      case Qt::Key_PageUp: MoveBy(-link_.ActiveRecord()); return;
      case Qt::Key_Down:
      case Qt::Key_PageDown: MoveBy(link_.BufferCount() - link_.ActiveRecord() - 1); return;
      case Qt::Key_Home: GoFirst(); return;
      case Qt::Key_End: GoLast(); return;
      case Qt::Key_Left: SetCurrent(FixedCols(), Row()); return;
      case Qt::Key_Right: SetCurrent(ColCount() - 1, Row()); return;
      case Qt::Key_Delete: DeleteOrRestore(); return;
      default: e->ignore(); return;
    }
  }
  switch (e->key()) {
    case Qt::Key_Up:
      // An untouched record appended at the end is given up.
      if (UntouchedInsert() && d->Eof()) d->Cancel();
      else MoveBy(-1);
      return;
    case Qt::Key_Down:
      if (UntouchedInsert()) {
        // At the end of the data it stays: Down there would append it again.
        if (!d->Eof()) d->Cancel();
        return;
      }
      MoveBy(1);
      if (d->Eof() && d->CanModify() && (options_ & dgEditing) && autoAppend_ && !readOnly_) d->Append();
      return;
    case Qt::Key_Left:
      if (options_ & dgRowSelect) MoveBy(-1);
      else SetCurrent(Col() - 1, Row());
      return;
    case Qt::Key_Right:
      if (options_ & dgRowSelect) MoveBy(1);
      else SetCurrent(Col() + 1, Row());
      return;
    case Qt::Key_Home:
      if (single || (options_ & dgRowSelect)) GoFirst();
      else SetCurrent(FixedCols(), Row());
      return;
    case Qt::Key_End:
      if (single || (options_ & dgRowSelect)) GoLast();
      else SetCurrent(ColCount() - 1, Row());
      return;
    case Qt::Key_PageUp: MoveBy(-VisibleRowCount()); return;
    case Qt::Key_PageDown: MoveBy(VisibleRowCount()); return;
    case Qt::Key_Insert:
      if (!readOnly_ && !shift && d->CanModify()) d->Insert();
      return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (!alt && (options_ & dgTabs)) TabMove(shift || e->key() == Qt::Key_Backtab);
      else e->ignore();
      return;
    case Qt::Key_Escape:
      if (editPending_) {
        editPending_ = false;
        UpdateEditor();
      } else if (Editing(d)) {
        d->Cancel();
      }
      if (!(options_ & dgAlwaysShowEditor)) HideEditor();
      return;
    case Qt::Key_F2: ShowEditor(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (logical) {
        ToggleLogical();
        return;
      }
      if (!(options_ & dgAlwaysShowEditor)) link_.UpdateRecord();
      TCustomGrid::GridKeyDown(e);
      return;
    case Qt::Key_Space:
      if (logical) {
        ToggleLogical();
        return;
      }
      TCustomGrid::GridKeyDown(e);
      return;
    case Qt::Key_Backspace:
      if (logical) return;  // ignored
      TCustomGrid::GridKeyDown(e);
      return;
    default:
      // Other characters mean nothing in a logical column.
      if (logical && TypesCharacter(e)) return;
      TCustomGrid::GridKeyDown(e);
      return;
  }
}

bool TCustomTzGrid::EditorKeyPress(QKeyEvent* e) {
  // Space toggles a logical cell; its other keys change nothing, as
  // CanEditModify refuses them.
  if (e->key() == Qt::Key_Space && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
      IsLogicalColumn(SelectedIndex())) {
    ToggleLogical();
    e->accept();
    return true;
  }
  return TCustomGrid::EditorKeyPress(e);
}

// --- Mouse -----------------------------------------------------------------------------------------------------------

void TCustomTzGrid::GridMousePress(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (!AcquireFocus()) return;
  int col, row;
  CellAt(p, col, row);
  pressedCol_ = col;
  if (InSizingZone(p) || (row >= 0 && row < titleOffset_ && (options_ & dgColumnResize))) {
    link_.UpdateRecord();
    TCustomGrid::GridMousePress(e);
    return;
  }
  if (!link_.Active() || row < 0) return;
  BeginUpdate();
  try {
    if (row >= titleOffset_) {
      if (row == Row() && col == Col()) {
        if (IsLogicalColumn(DataColumn(col))) ToggleLogical();
        else ShowEditor();
      } else if (row != Row()) {
        MoveToRow(row);
      }
      if (col >= FixedCols()) SetCurrent(col, Row());
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCustomTzGrid::GridMouseRelease(QMouseEvent* e) {
  const bool wasSizing = Sizing();
  TCustomGrid::GridMouseRelease(e);
  if (wasSizing) return;
  const QPoint p = e->position().toPoint();
  if (EditorShown() && Editor()->geometry().contains(p)) return;
  int col, row;
  if (!CellAt(p, col, row)) return;
  if (row < titleOffset_) {
    if (col < indicatorOffset_) {
      if (e->button() == Qt::LeftButton && OnCornerLeftClick) OnCornerLeftClick(*this);
      if (e->button() == Qt::RightButton && OnCornerRightClick) OnCornerRightClick(*this);
      return;
    }
    const int dc = DataColumn(col);
    TTzColumn* column = dc >= 0 && dc < columns_->Count() ? columns_->Items(dc) : nullptr;
    if (e->button() == Qt::LeftButton && col == pressedCol_) {
      if (OnTitleClick) OnTitleClick(*this, column);
    } else if (e->button() == Qt::RightButton && !depressDisabled_) {
      depressed_ = dc;
      InvalidateGrid();
      if (OnDepressTitle) OnDepressTitle(*this, column);
    }
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  if (col < indicatorOffset_) {
    if (OnIndicatorClick) OnIndicatorClick(*this);
  } else if (OnCellClick) {
    const int dc = SelectedIndex();
    OnCellClick(*this, dc >= 0 && dc < columns_->Count() ? columns_->Items(dc) : nullptr);
  }
}

void TCustomTzGrid::MoveToRow(int row) {
  data::TDataSet* d = link_.DataSet();
  if (!d) return;
  if (!UntouchedInsert()) {
    MoveBy(row - Row());
    return;
  }
  // The untouched record goes away and the rows below it move up: the
  // record that was pressed is found again by its bookmark.
  auto bookmarkAt = [&](int r) {
    const int saved = link_.ActiveRecord();
    link_.SetActiveRecord(r);
    const data::Bookmark b = d->GetBookmark();
    link_.SetActiveRecord(saved);
    return b;
  };
  const data::Bookmark target = bookmarkAt(row - titleOffset_);
  d->Cancel();
  if (target.empty()) return;
  for (int r = 0; r < link_.RecordCount(); ++r) {
    if (bookmarkAt(r) == target) {
      MoveBy(r - link_.ActiveRecord());
      return;
    }
  }
  d->GotoBookmark(target);
}

void TCustomTzGrid::WheelRows(int rows) {
  // As that many presses of Down or Up, after taking the focus as the
  // scroll bar's requests do; the wheel never appends a record.
  if (!AcquireFocus() || !link_.Active()) return;
  data::TDataSet* d = link_.DataSet();
  if (!d || d->IsEmpty()) return;
  MoveBy(rows);
}

void TCustomTzGrid::GridDoubleClick(QMouseEvent*) {
  if (OnDblClick) OnDblClick(*this);
}

void TCustomTzGrid::GridExit() {
  if (!editPending_) return;
  try {
    link_.UpdateRecord();
  } catch (...) {
    setFocus();
    throw;
  }
}

bool TCustomTzGrid::SelectCell(int col, int) {
  // What was typed belongs to the column it was typed in.
  if (editPending_ && col != Col()) link_.UpdateRecord();
  return true;
}

// --- Editing --------------------------------------------------------------------------------------------------------------

bool TCustomTzGrid::CanEditCell() const {
  if (readOnly_ || link_.ReadOnly || !link_.Active()) return false;
  const int dc = SelectedIndex();
  if (dc < 0 || dc >= columns_->Count() || columns_->Items(dc)->ReadOnly()) return false;
  data::TField* f = columns_->Items(dc)->Field();
  data::TDataSet* d = link_.DataSet();
  return f && !f->ReadOnly() && d && d->CanModify() && !f->IsBlob();
}

bool TCustomTzGrid::CanEditShow() const { return TCustomGrid::CanEditShow() && CanEditCell(); }

QString TCustomTzGrid::GetEditText(int, int) const {
  if (editPending_) return editText_;
  data::TField* f = SelectedField();
  return f ? ToQt(f->EditText()) : QString();
}

bool TCustomTzGrid::BeginPendingEdit() {
  if (editPending_) return true;
  // Going into edit state tells the links that the record changed; the
  // editor must keep what it holds meanwhile, so the edit counts as pending
  // from the start.
  editText_ = EditorText();
  editPending_ = true;
  bool ok = false;
  try {
    ok = link_.Edit();
  } catch (...) {
    editPending_ = false;
    throw;
  }
  editPending_ = ok;
  return ok;
}

bool TCustomTzGrid::CanEditModify() {
  if (!CanEditShow() || IsLogicalColumn(SelectedIndex())) return false;
  return BeginPendingEdit();
}

void TCustomTzGrid::SetEditText(int, int, const QString& text) {
  if (!editPending_ && !BeginPendingEdit()) {
    UpdateEditor();  // the change is not taken
    return;
  }
  editText_ = text;
}

QString TCustomTzGrid::GetEditMask(int, int) const {
  data::TField* f = SelectedField();
  if (!f || f->DataType() != data::FieldType::Date) return QString();
  // Digits that may stay blank ("9"), the date separator between them, the
  // year first when the format starts with it, four year digits when the
  // format has them; blanks show as spaces.
  const std::string pattern = data::GetShortDatePattern();
  const bool fourDigits = pattern.find("yyyy") != std::string::npos || pattern.find("YYYY") != std::string::npos;
  const QString year = fourDigits ? QStringLiteral("9999") : QStringLiteral("99");
  QString separator = DateSeparator(pattern);
  if (QStringLiteral("AaNnXx90Dd#HhBb><!;[]{}\\").contains(separator)) separator.prepend(QLatin1Char('\\'));
  const QString part = QStringLiteral("99");
  if (!pattern.empty() && (pattern[0] == 'y' || pattern[0] == 'Y'))
    return year + separator + part + separator + part + QStringLiteral("; ");
  return part + separator + part + separator + year + QStringLiteral("; ");
}

int TCustomTzGrid::GetEditLimit() const {
  data::TField* f = SelectedField();
  return f && f->DataType() == data::FieldType::String ? f->Size() : 0;
}

bool TCustomTzGrid::IsLogicalColumn(int column) const {
  if (booleanBox_ == TTzBooleanBox::bbText) return false;
  data::TField* f = ColumnField(column);
  if (!f) return false;
  if (TTzDataSet* t = AsTable(link_.DataSet())) return t->FieldTypeLetter(f, ' ') == 'L';
  return f->DataType() == data::FieldType::Boolean;
}

void TCustomTzGrid::ToggleLogical() {
  if (!(options_ & dgEditing) || !CanEditCell()) return;
  data::TField* f = SelectedField();
  if (!f || !link_.Edit()) return;
  const bool isTrue = QString::fromStdString(f->EditText()).compare("True", Qt::CaseInsensitive) == 0;
  editText_ = isTrue ? "False" : "True";
  editPending_ = true;
  link_.UpdateRecord();
  if (EditorShown()) UpdateEditor();
}

// --- Drawing ---------------------------------------------------------------------------------------------------------------

const TTzRowColors& TCustomTzGrid::RowColors(int row) const {
  static const TTzRowColors none;
  return row >= 0 && row < static_cast<int>(rowColors_.size()) ? rowColors_[static_cast<std::size_t>(row)] : none;
}

void TCustomTzGrid::ResetRowColors(int row) {
  if (row >= static_cast<int>(rowColors_.size())) rowColors_.resize(static_cast<std::size_t>(row) + 1);
  TTzRowColors& c = rowColors_[static_cast<std::size_t>(row)];
  c.Indicator = fixedColor_;
  c.Cell = QColor();
  c.CellText = QColor();
  c.Hilite = palette().color(QPalette::Highlight);
  c.HiliteText = palette().color(QPalette::HighlightedText);
  c.Deleted = Qt::red;
  c.DeletedText = palette().color(QPalette::Text);
  data::TDataSet* d = link_.DataSet();
  if (row >= titleOffset_ && OnChangeColorsEvent && d && link_.Active() && row - titleOffset_ < link_.RecordCount()) {
    const int saved = link_.ActiveRecord();
    link_.SetActiveRecord(row - titleOffset_);
    OnChangeColorsEvent(*this, row, c);
    link_.SetActiveRecord(saved);
  }
}

void TCustomTzGrid::WriteText(QPainter& p, const QRect& rect, const QString& text, Qt::Alignment a,
                              const QColor& back, const QColor& fore, const QFont& font) {
  p.fillRect(rect, back);
  p.setPen(fore);
  p.setFont(font);
  const int w = QFontMetrics(font).horizontalAdvance(text);
  int x = rect.left() + 2;
  if (a & Qt::AlignRight) x = rect.right() - w - 3;
  else if (a & Qt::AlignHCenter) x = rect.left() + (rect.width() - w) / 2;
  p.drawText(QRect(x, rect.top() + 2, rect.right() - x + 1, rect.height() - 2),
             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs, text);
}

void TCustomTzGrid::DrawBooleanBox(QPainter& p, const QRect& rect, bool value, const QColor& fore) {
  int side = rect.height();
  QRect box(rect.left() + (rect.width() - side) / 2, rect.top(), side, side);
  if (rect.width() < rect.height()) box = QRect(rect.left(), rect.top(), rect.width(), rect.width());
  const int inset = 1 + 1;
  box.adjust(inset, inset, -inset, -inset);
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(fore, 1));
  p.setBrush(Qt::NoBrush);
  switch (booleanBox_) {
    case TTzBooleanBox::bbCheckBox:
    case TTzBooleanBox::bbFillBox:
    case TTzBooleanBox::bbFillBoxRed: p.drawRect(box); break;
    case TTzBooleanBox::bbRButton:
    case TTzBooleanBox::bbRButtonRed: p.drawEllipse(box); break;
    default: break;
  }
  if (value) {
    p.setPen(QPen(fore, 2));
    switch (booleanBox_) {
      case TTzBooleanBox::bbCheckBox:
        p.drawLine(box.topLeft() + QPoint(3, 3), box.bottomRight() - QPoint(3, 3));
        p.drawLine(QPoint(box.left() + 3, box.bottom() - 3), QPoint(box.right() - 3, box.top() + 3));
        break;
      case TTzBooleanBox::bbCheckMark: {
        const QPoint a(box.left() + 2, box.top() + box.width() / 2);
        const QPoint b(box.left() + box.width() / 3, box.bottom() - 2);
        const QPoint c(box.right() - 2, box.top());
        p.drawLine(a, b);
        p.drawLine(b, c);
        break;
      }
      case TTzBooleanBox::bbFillBox: p.fillRect(box.adjusted(1, 1, -1, -1), fore); break;
      case TTzBooleanBox::bbFillBoxRed: p.fillRect(box.adjusted(1, 1, -1, -1), Qt::red); break;
      case TTzBooleanBox::bbRButton:
      case TTzBooleanBox::bbDot:
        p.setBrush(fore);
        p.drawEllipse(box.adjusted(2, 2, -2, -2));
        break;
      case TTzBooleanBox::bbRButtonRed:
      case TTzBooleanBox::bbDotRed:
        p.setBrush(Qt::red);
        p.setPen(QPen(Qt::red, 2));
        p.drawEllipse(box.adjusted(2, 2, -2, -2));
        break;
      default: break;
    }
  }
  p.restore();
}

void TCustomTzGrid::DrawCell(QPainter& p, const QRect& cellRect, int col, int row, unsigned state) {
  QRect rect = cellRect;
  if (loading_) {
    p.fillRect(rect, color_);
    return;
  }
  if (col == 0) ResetRowColors(row);
  const TTzRowColors& colors = RowColors(row);
  const bool frame = (state & csFixed) && (options_ & dgColLines) && (options_ & dgRowLines);
  if (frame) rect.adjust(1, 1, -1, -1);
  // The indicator.
  if (indicatorOffset_ && col == 0 && row >= titleOffset_) {
    p.fillRect(rect, colors.Indicator);
    if (link_.Active() && row - titleOffset_ == link_.ActiveRecord()) {
      const data::DataSetState s = link_.DataSet()->State();
      const QPixmap& pm = s == data::DataSetState::Edit ? edit_ : s == data::DataSetState::Insert ? insert_ : arrow_;
      const int margin = frame ? 1 : 2;
      p.drawPixmap(rect.right() - margin - pm.width() + 1, rect.top() + (rect.height() - pm.height()) / 2, pm);
    }
  } else if (row < titleOffset_) {
    // A title.
    const int dc = DataColumn(col);
    if (dc >= 0 && dc < columns_->Count()) {
      const TTzColumnTitle& t = columns_->Items(dc)->Title();
      p.fillRect(rect, t.Color());
      p.setFont(t.Font());
      p.setPen(t.FontColor());
      const int offset = frame ? 1 : 2;
      p.drawText(rect.adjusted(offset, offset, -offset, 0),
                 ToQtAlignment(t.Alignment()) | Qt::AlignTop | Qt::TextSingleLine, t.Caption());
    } else {
      p.fillRect(rect, fixedColor_);
    }
  } else {
    const int dc = DataColumn(col);
    if (!link_.Active() || dc < 0 || dc >= columns_->Count() || row - titleOffset_ >= link_.RecordCount()) {
      p.fillRect(rect, color_);
    } else {
      TTzColumn* column = columns_->Items(dc);
      QColor back = column->Color();
      QColor fore = column->FontColor();
      const int saved = link_.ActiveRecord();
      link_.SetActiveRecord(row - titleOffset_);
      if (colors.Cell.isValid()) back = colors.Cell;
      if (colors.CellText.isValid()) fore = colors.CellText;
      data::TField* f = column->Field();
      const QString text = f ? ToQt(f->DisplayText()) : QString();
      TTzDataSet* t = AsTable(link_.DataSet());
      if (t && t->RecordDeleted()) {
        back = colors.Deleted;
        fore = colors.DeletedText;
      }
      const bool focused = hasFocus() || (Editor() && Editor()->hasFocus());
      const bool highlighted = (state & csSelected) && (focused || (options_ & dgAlwaysShowSelection)) &&
                               ((options_ & dgRowSelect) || updateLock_ == 0);
      if (highlighted) {
        back = colors.Hilite;
        fore = colors.HiliteText;
      }
      if (defaultDrawing_) {
        if (IsLogicalColumn(dc)) {
          p.fillRect(rect, back);
          DrawBooleanBox(p, rect, text.compare("True", Qt::CaseInsensitive) == 0, fore);
        } else {
          WriteText(p, rect, text, ToQtAlignment(column->Alignment()), back, fore, column->Font());
        }
      }
      if (OnDrawDataCell || OnDrawColumnCell) {
        // The events draw with the cell's colours and font.
        p.setBrush(back);
        p.setPen(fore);
        p.setFont(column->Font());
        struct CanvasScope {
          QPainter*& slot;
          CanvasScope(QPainter*& s, QPainter* painter) : slot(s) { slot = painter; }
          ~CanvasScope() { slot = nullptr; }
        } scope(canvas_, &p);
        if (OnDrawDataCell) OnDrawDataCell(*this, rect, f, state);
        if (OnDrawColumnCell) OnDrawColumnCell(*this, rect, dc, column, state);
      }
      if (defaultDrawing_ && highlighted && !(options_ & dgRowSelect) && focused) {
        p.setPen(QPen(fore, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect.adjusted(0, 0, -1, -1));
      }
      link_.SetActiveRecord(saved);
    }
  }
  if (frame) {
    const bool sunken = row < titleOffset_ && DataColumn(col) == depressed_ && depressed_ >= 0;
    p.setPen(sunken ? palette().color(QPalette::Dark) : palette().color(QPalette::Light));
    p.drawLine(cellRect.topLeft(), cellRect.topRight());
    p.drawLine(cellRect.topLeft(), cellRect.bottomLeft());
    p.setPen(sunken ? palette().color(QPalette::Light) : palette().color(QPalette::Dark));
    p.drawLine(cellRect.bottomLeft(), cellRect.bottomRight());
    p.drawLine(cellRect.topRight(), cellRect.bottomRight());
  }
}

void ConfigureCheatNameGrid(TTzGrid& grid) {
  grid.BeginLayout();
  grid.SetGridFont(TerminalFont());
  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(13);
  title.setBold(true);
  grid.SetTitleFont(title);
  grid.SetGridOptions(dgConfirmDelete | dgConfirmRestore);
  grid.SetReadOnly(true);
  grid.SetFixedColumns(0);
  grid.SetAutoAppend(false);
  grid.SetBooleanBox(TTzBooleanBox::bbCheckBox);
  grid.SetDepressDisabled(false);
  grid.SetDefaultDrawing(true);
  grid.SetLastColumnFills(true);
  TTzGridColumns& columns = grid.Columns();
  columns.Clear();
  TTzColumn* name = columns.Add();
  name->SetFieldName("CHEATNAME");
  name->Title().SetCaption(QStringLiteral("Cheatname"));
  QFont captionFont(QStringLiteral("DejaVu Sans"));
  captionFont.setPixelSize(13);
  name->Title().SetFont(captionFont);
  name->Title().SetFontColor(Qt::black);
  grid.EndLayout();
}

}  // namespace vz::views
