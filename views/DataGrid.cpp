#include "views/DataGrid.h"

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

#include "table/TableDataSet.h"
#include "views/AnsiText.h"
#include "views/DataGridPainter.h"
#include "views/DataMemo.h"

namespace vz::views {

namespace {

// The event that runs a deferred layout pass.
const QEvent::Type kLayoutEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// The separator of a date pattern ("MM/dd/yy": '/').
QChar DateSeparator(const std::string& pattern) {
  for (char c : pattern)
    if (c != 'y' && c != 'Y' && c != 'M' && c != 'd' && c != 'D') return QChar::fromLatin1(c);
  return QLatin1Char('/');
}

}  // namespace

TableDataSet* DataGrid::AsTable(data::DataSet* d) {
  return dynamic_cast<TableDataSet*>(d);
}

bool DataGrid::Editing(const data::DataSet* d) {
  return d && (d->State() == data::DataSetState::Edit || d->State() == data::DataSetState::Insert);
}

// --- Creation
// ---------------------------------------------------------------------------------------

DataGrid::DataGrid(QWidget* parent) : CellGrid(parent) {
  color_ = QApplication::palette().color(QPalette::Base);
  fixedColor_ = QApplication::palette().color(QPalette::Button);
  titleFont_ = font();
  columns_ = std::make_unique<GridColumns>(this);
  painter_ = std::make_unique<DataGridPainter>(*this);
  ApplyGridOptions();
  SetColCount(2);
  SetRowCount(2);
  rowColors_.resize(2);
}

DataGrid::~DataGrid() {
  link_.SetDataSource(nullptr);
  columns_.reset();
}

// --- Properties
// ---------------------------------------------------------------------------------------

void DataGrid::SetBooleanBox(BooleanBoxStyle b) {
  booleanBox_ = b;
  InvalidateGrid();
}

void DataGrid::SetColor(const QColor& c) {
  color_ = c;
  InvalidateGrid();
}

void DataGrid::SetFixedColor(const QColor& c) {
  fixedColor_ = c;
  InvalidateGrid();
}

void DataGrid::SetDataSource(data::DataSource* s) {
  if (loading_) {
    // Applied when loading ends.
    loadingSource_ = s;
    loadingSourceSet_ = true;
    return;
  }
  link_.SetDataSource(s);
  LayoutChangedRequest();
}

void DataGrid::SetDefaultDrawing(bool on) {
  defaultDrawing_ = on;
  InvalidateGrid();
}

void DataGrid::SetDepressDisabled(bool on) {
  if (!depressDisabled_ && depressed_ >= 0) {
    depressed_ = -1;
    InvalidateGrid();
  }
  depressDisabled_ = on;
}

int DataGrid::FixedColumns() const {
  return std::max(0, FixedCols() - indicatorOffset_);
}

void DataGrid::SetFixedColumns(int n) {
  fixedColumns_ = std::max(0, n);
  LayoutChangedRequest();
}

void DataGrid::SetGridFont(const QFont& f) {
  setFont(f);
  for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->RefreshDefaultFont();
  LayoutChangedRequest();
}

void DataGrid::SetTitleFont(const QFont& f) {
  titleFont_ = f;
  if (options_ & dgTitles) LayoutChangedRequest();
}

void DataGrid::SetReadOnly(bool on) {
  readOnly_ = on;
  if (on) HideEditor();
}

void DataGrid::SetGridOptions(DataGridOptions o) {
  if (o & dgRowSelect) o &= ~(dgEditing | dgAlwaysShowEditor);
  if (o == options_) return;
  const DataGridOptions changed = options_ ^ o;
  options_ = o;
  ApplyGridOptions();
  if (changed & (dgTitles | dgIndicator | dgRowLines | dgColLines))
    LayoutChangedRequest();
  else
    InvalidateGrid();
}

void DataGrid::ApplyGridOptions() {
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

void DataGrid::BeginLoading() {
  loading_ = true;
}

void DataGrid::EndLoading() {
  loading_ = false;
  // One layout pass for the data source and everything set while loading.
  BeginLayout();
  layoutWanted_ = true;
  try {
    if (loadingSourceSet_) {
      data::DataSource* s = loadingSource_;
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

// --- Layout
// -------------------------------------------------------------------------------------------------

void DataGrid::BeginLayout() {
  ++layoutLock_;
}

void DataGrid::EndLayout() {
  if (layoutLock_ > 0 && --layoutLock_ == 0 && layoutWanted_) LayoutPass();
}

void DataGrid::EndUpdate() {
  if (updateLock_ > 0) --updateLock_;
  if (updateLock_ > 0) return;
  // Whatever was painted while the lock was held shows the current cell
  // without its highlight: it is drawn again now that the lock is gone.
  InvalidateRow(Row());
  if (layoutWanted_ && layoutLock_ == 0) LayoutPass();
}

void DataGrid::LayoutChangedRequest() {
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

bool DataGrid::event(QEvent* e) {
  if (e->type() == kLayoutEvent) {
    layoutPosted_ = false;
    if (layoutWanted_ && layoutLock_ == 0 && updateLock_ == 0) LayoutPass();
    return true;
  }
  return CellGrid::event(e);
}

void DataGrid::LayoutPass() {
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
    data::DataSet* d = link_.DataSet();
    const bool persistent = !columns_->IsDefaultColumns();
    link_.SetDefaultFields(!persistent);
    if (link_.Active() && d) {
      auto& fields = d->Fields();
      if (persistent) {
        for (int i = 0; i < columns_->Count(); ++i) {
          data::Field* f = d->FindField(columns_->Items(i)->FieldName());
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
        h = std::max(h,
                     QFontMetrics(columns_->Items(i)->Title().Font()).boundingRect("Wg").height());
      if (columns_->Count() == 0) h = QFontMetrics(titleFont_).boundingRect("Wg").height();
      SetRowHeight(0, h + 4);
    }
    // Column widths.
    if (indicatorOffset_) SetColWidth(0, 11);
    for (int i = 0; i < columns_->Count(); ++i)
      SetColWidth(RawColumn(i), columns_->Items(i)->Width());
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

void DataGrid::UpdateRowCount() {
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
  if (static_cast<int>(rowColors_.size()) < RowCount())
    rowColors_.resize(static_cast<std::size_t>(RowCount()));
  if (RowCount() != oldRows) InvalidateGrid();
  inRowCount_ = false;
}

void DataGrid::UpdateScrollBar() {
  int v[4] = {0, 0, 0, 0};
  data::DataSet* d = link_.DataSet();
  if (link_.Active() && d && !allFit_) {
    TableDataSet* t = AsTable(d);
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

void DataGrid::UpdateActive() {
  if (!link_.Active() || loading_ || !GridHasWindow()) return;
  const int want = link_.ActiveRecord() + titleOffset_;
  if (Row() != want) {
    if (!(options_ & dgAlwaysShowEditor)) HideEditor();
    SetCurrent(Col(), want, true);
  }
  if (EditorShown()) InvalidateEditor();
}

void DataGrid::InvalidateEditor() {
  if (!EditorShown()) return;
  const QString now = GetEditText(Col(), Row());
  if (Editor()->text() != now && !editPending_) UpdateEditor();
}

void DataGrid::SetLastColumnFills(bool on) {
  lastColumnFills_ = on;
  LayoutChangedRequest();
}

void DataGrid::FitLastColumn() {
  if (!lastColumnFills_ || columns_->Count() == 0) return;
  // The column's own width stays as it is; only its cells are sized.
  const int last = ColCount() - 1;
  const QRect cell = CellRect(last, 0);
  if (cell.isNull()) return;  // scrolled out of view
  SetColWidth(last, std::max(1, viewport()->width() - cell.left()));
}

QString DataGrid::CutCellText(const QPoint& p, QRect* cellRect) {
  int col, row;
  if (!link_.Active() || !CellAt(p, col, row) || row < titleOffset_) return QString();
  const int dc = DataColumn(col);
  if (dc < 0 || dc >= columns_->Count() || row - titleOffset_ >= link_.RecordCount() ||
      IsLogicalColumn(dc))
    return QString();
  GridColumn* column = columns_->Items(dc);
  data::Field* f = column->Field();
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

bool DataGrid::viewportEvent(QEvent* e) {
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
  return CellGrid::viewportEvent(e);
}

void DataGrid::GridResized() {
  FitLastColumn();
  UpdateRowCount();
  InvalidateGrid();
}

void DataGrid::showEvent(QShowEvent* e) {
  CellGrid::showEvent(e);
  BeginLayout();
  UpdateRowCount();
  UpdateActive();
  UpdateScrollBar();
  EndLayout();
}

void DataGrid::changeEvent(QEvent* e) {
  CellGrid::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->RefreshDefaultFont();
    LayoutChangedRequest();
  }
}

// --- Notifications
// --------------------------------------------------------------------------------------------

void DataGrid::LinkActive(bool on) {
  if (!on) HideEditor();
  LayoutChangedRequest();
  UpdateScrollBar();
  if (on && (options_ & dgAlwaysShowEditor)) ShowEditor();
}

void DataGrid::LinkDataChanged() {
  UpdateRowCount();
  UpdateScrollBar();
  UpdateActive();
  InvalidateEditor();
  InvalidateGrid();
  editPending_ = false;
}

void DataGrid::LinkScrolled(int d) {
  const int oldRow = Row();
  if (link_.ActiveRecord() + titleOffset_ >= RowCount()) UpdateRowCount();
  UpdateScrollBar();
  UpdateActive();
  // Whether the current row looks different from the others: the indicator
  // arrow, or the highlight (drawn with the focus or dgAlwaysShowSelection).
  const bool marked = (options_ & dgIndicator) || (options_ & dgAlwaysShowSelection) ||
                      hasFocus() || (Editor() && Editor()->hasFocus());
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

void DataGrid::LinkRecordChanged(data::Field* field) {
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

void DataGrid::LinkLayoutChanged() {
  LayoutChangedRequest();
  LinkDataChanged();
}

void DataGrid::LinkEditingChanged() {
  recordChanged_ = false;
  if (options_ & dgIndicator) InvalidateCell(0, Row());
}

void DataGrid::LinkUpdateData() {
  if (!editPending_) return;
  editPending_ = false;
  if (data::Field* f = SelectedField()) {
    f->SetEditText(FromQt(editText_));
    recordChanged_ = true;
  }
}

// --- Columns and fields
// -----------------------------------------------------------------------------------------

int DataGrid::SelectedIndex() const {
  return DataColumn(Col());
}

void DataGrid::SetSelectedIndex(int column) {
  const int c = std::clamp(RawColumn(column), FixedCols(), std::max(FixedCols(), ColCount() - 1));
  SetCurrent(c, Row());
}

data::Field* DataGrid::ColumnField(int column) const {
  if (column < 0 || column >= columns_->Count()) return nullptr;
  return columns_->Items(column)->Field();
}

data::Field* DataGrid::SelectedField() const {
  return ColumnField(SelectedIndex());
}

void DataGrid::ColumnMoved(int from, int to) {
  const int a = DataColumn(from), b = DataColumn(to);
  if (a < 0 || b < 0) return;
  // The depressed title stays on its column, wherever that column goes.
  if (depressed_ == a)
    depressed_ = b;
  else if (a < depressed_ && depressed_ <= b)
    --depressed_;
  else if (b <= depressed_ && depressed_ < a)
    ++depressed_;
  columns_->Move(a, b);
  CellGrid::ColumnMoved(from, to);
  if (OnColumnMoved) OnColumnMoved(*this, a, b);
  LayoutChangedRequest();
}

void DataGrid::ColWidthChanged(int col) {
  const int c = DataColumn(col);
  if (c >= 0 && c < columns_->Count()) columns_->Items(c)->SetWidth(ColWidth(col));
}

// --- Scroll bar and moving
// ----------------------------------------------------------------------------------------

bool DataGrid::AcquireFocus() {
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

bool DataGrid::UntouchedInsert() const {
  const data::DataSet* d = link_.DataSet();
  return d && d->State() == data::DataSetState::Insert && !recordChanged_ && !editPending_;
}

void DataGrid::DropUntouchedInsert() {
  if (UntouchedInsert()) link_.DataSet()->Cancel();
}

void DataGrid::MoveBy(int distance) {
  data::DataSet* d = link_.DataSet();
  if (!d) return;
  DropUntouchedInsert();
  d->MoveBy(distance);
}

void DataGrid::GoFirst() {
  if (data::DataSet* d = link_.DataSet()) {
    DropUntouchedInsert();
    d->First();
  }
}

void DataGrid::GoLast() {
  if (data::DataSet* d = link_.DataSet()) {
    DropUntouchedInsert();
    d->Last();
  }
}

void DataGrid::GoRecNo(int n) {
  if (data::DataSet* d = link_.DataSet()) {
    DropUntouchedInsert();
    d->SetRecNo(n);
  }
}

void DataGrid::VScrollRequest(ScrollRequest kind, int pos) {
  if (!AcquireFocus() || !link_.Active()) return;
  data::DataSet* d = link_.DataSet();
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
      TableDataSet* t = AsTable(d);
      if (t && t->IsSequenced()) {
        if (pos <= 1)
          GoFirst();
        else if (pos >= d->RecordCount())
          GoLast();
        else
          GoRecNo(pos);
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

// --- Editing
// --------------------------------------------------------------------------------------------------------------

bool DataGrid::CanEditCell() const {
  if (readOnly_ || link_.ReadOnly || !link_.Active()) return false;
  const int dc = SelectedIndex();
  if (dc < 0 || dc >= columns_->Count() || columns_->Items(dc)->ReadOnly()) return false;
  data::Field* f = columns_->Items(dc)->Field();
  data::DataSet* d = link_.DataSet();
  return f && !f->ReadOnly() && d && d->CanModify() && !f->IsBlob();
}

bool DataGrid::CanEditShow() const {
  return CellGrid::CanEditShow() && CanEditCell();
}

QString DataGrid::GetEditText(int, int) const {
  if (editPending_) return editText_;
  data::Field* f = SelectedField();
  return f ? ToQt(f->EditText()) : QString();
}

bool DataGrid::BeginPendingEdit() {
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

bool DataGrid::CanEditModify() {
  if (!CanEditShow() || IsLogicalColumn(SelectedIndex())) return false;
  return BeginPendingEdit();
}

void DataGrid::SetEditText(int, int, const QString& text) {
  if (!editPending_ && !BeginPendingEdit()) {
    UpdateEditor();  // the change is not taken
    return;
  }
  editText_ = text;
}

QString DataGrid::GetEditMask(int, int) const {
  data::Field* f = SelectedField();
  if (!f || f->DataType() != data::FieldType::Date) return QString();
  // Digits that may stay blank ("9"), the date separator between them, the
  // year first when the format starts with it, four year digits when the
  // format has them; blanks show as spaces.
  const std::string pattern = data::GetShortDatePattern();
  const bool fourDigits =
      pattern.find("yyyy") != std::string::npos || pattern.find("YYYY") != std::string::npos;
  const QString year = fourDigits ? QStringLiteral("9999") : QStringLiteral("99");
  QString separator = DateSeparator(pattern);
  if (QStringLiteral("AaNnXx90Dd#HhBb><!;[]{}\\").contains(separator))
    separator.prepend(QLatin1Char('\\'));
  const QString part = QStringLiteral("99");
  if (!pattern.empty() && (pattern[0] == 'y' || pattern[0] == 'Y'))
    return year + separator + part + separator + part + QStringLiteral("; ");
  return part + separator + part + separator + year + QStringLiteral("; ");
}

int DataGrid::GetEditLimit() const {
  data::Field* f = SelectedField();
  return f && f->DataType() == data::FieldType::String ? f->Size() : 0;
}

bool DataGrid::IsLogicalColumn(int column) const {
  if (booleanBox_ == BooleanBoxStyle::bbText) return false;
  data::Field* f = ColumnField(column);
  if (!f) return false;
  if (TableDataSet* t = AsTable(link_.DataSet())) return t->FieldTypeLetter(f, ' ') == 'L';
  return f->DataType() == data::FieldType::Boolean;
}

void DataGrid::ToggleLogical() {
  if (!(options_ & dgEditing) || !CanEditCell()) return;
  data::Field* f = SelectedField();
  if (!f || !link_.Edit()) return;
  const bool isTrue =
      QString::fromStdString(f->EditText()).compare("True", Qt::CaseInsensitive) == 0;
  editText_ = isTrue ? "False" : "True";
  editPending_ = true;
  link_.UpdateRecord();
  if (EditorShown()) UpdateEditor();
}

// --- Row colours
// ---------------------------------------------------------------------------------------------------------------

const RowColorSet& DataGrid::RowColors(int row) const {
  static const RowColorSet none;
  return row >= 0 && row < static_cast<int>(rowColors_.size())
             ? rowColors_[static_cast<std::size_t>(row)]
             : none;
}

void DataGrid::ResetRowColors(int row) {
  if (row >= static_cast<int>(rowColors_.size()))
    rowColors_.resize(static_cast<std::size_t>(row) + 1);
  RowColorSet& c = rowColors_[static_cast<std::size_t>(row)];
  c.Indicator = fixedColor_;
  c.Cell = QColor();
  c.CellText = QColor();
  c.Hilite = palette().color(QPalette::Highlight);
  c.HiliteText = palette().color(QPalette::HighlightedText);
  c.Deleted = Qt::red;
  c.DeletedText = palette().color(QPalette::Text);
  data::DataSet* d = link_.DataSet();
  if (row >= titleOffset_ && OnChangeColorsEvent && d && link_.Active() &&
      row - titleOffset_ < link_.RecordCount()) {
    const int saved = link_.ActiveRecord();
    link_.SetActiveRecord(row - titleOffset_);
    OnChangeColorsEvent(*this, row, c);
    link_.SetActiveRecord(saved);
  }
}

void DataGrid::DrawCell(QPainter& p, const QRect& rect, int col, int row, unsigned state) {
  painter_->DrawCell(p, rect, col, row, state);
}

}  // namespace vz::views
