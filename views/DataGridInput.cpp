// The data-bound grid's keys and mouse: every key, press and wheel turn
// made into a move of the data set, an edit or an event of the grid.
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>

#include "table/TableDataSet.h"
#include "views/DataGrid.h"

namespace vz::views {

// --- Keys
// -----------------------------------------------------------------------------------------------------------

bool DataGrid::Confirm(const QString& question) {
  return QMessageBox::question(this, QApplication::applicationDisplayName(), question,
                               QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void DataGrid::DeleteOrRestore() {
  data::DataSet* d = link_.DataSet();
  if (!d || readOnly_ || !d->CanModify()) return;
  if (TableDataSet* t = AsTable(d)) {
    if (t->RecordDeleted()) {
      if (!(options_ & dgConfirmRestore) || Confirm("Restore Record ?")) t->SetRecordDeleted(false);
    } else if (!(options_ & dgConfirmDelete) || Confirm("Delete Record ?")) {
      t->SetRecordDeleted(true);
    }
    return;
  }
  if (!(options_ & dgConfirmDelete) || Confirm("Delete Record ?")) d->Delete();
}

void DataGrid::TabMove(bool backward) {
  data::DataSet* d = link_.DataSet();
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

void DataGrid::GridKeyDown(QKeyEvent* e) {
  if (OnKeyDown) OnKeyDown(*this, e);
  data::DataSet* d = link_.DataSet();
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
      if (UntouchedInsert() && d->Eof())
        d->Cancel();
      else
        MoveBy(-1);
      return;
    case Qt::Key_Down:
      if (UntouchedInsert()) {
        // At the end of the data it stays: Down there would append it again.
        if (!d->Eof()) d->Cancel();
        return;
      }
      MoveBy(1);
      if (d->Eof() && d->CanModify() && (options_ & dgEditing) && autoAppend_ && !readOnly_)
        d->Append();
      return;
    case Qt::Key_Left:
      if (options_ & dgRowSelect)
        MoveBy(-1);
      else
        SetCurrent(Col() - 1, Row());
      return;
    case Qt::Key_Right:
      if (options_ & dgRowSelect)
        MoveBy(1);
      else
        SetCurrent(Col() + 1, Row());
      return;
    case Qt::Key_Home:
      if (single || (options_ & dgRowSelect))
        GoFirst();
      else
        SetCurrent(FixedCols(), Row());
      return;
    case Qt::Key_End:
      if (single || (options_ & dgRowSelect))
        GoLast();
      else
        SetCurrent(ColCount() - 1, Row());
      return;
    case Qt::Key_PageUp: MoveBy(-VisibleRowCount()); return;
    case Qt::Key_PageDown: MoveBy(VisibleRowCount()); return;
    case Qt::Key_Insert:
      if (!readOnly_ && !shift && d->CanModify()) d->Insert();
      return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (!alt && (options_ & dgTabs))
        TabMove(shift || e->key() == Qt::Key_Backtab);
      else
        e->ignore();
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
      CellGrid::GridKeyDown(e);
      return;
    case Qt::Key_Space:
      if (logical) {
        ToggleLogical();
        return;
      }
      CellGrid::GridKeyDown(e);
      return;
    case Qt::Key_Backspace:
      if (logical) return;  // ignored
      CellGrid::GridKeyDown(e);
      return;
    default:
      // Other characters mean nothing in a logical column.
      if (logical && TypesCharacter(e)) return;
      CellGrid::GridKeyDown(e);
      return;
  }
}

bool DataGrid::EditorKeyPress(QKeyEvent* e) {
  // Space toggles a logical cell; its other keys change nothing, as
  // CanEditModify refuses them.
  if (e->key() == Qt::Key_Space && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
      IsLogicalColumn(SelectedIndex())) {
    ToggleLogical();
    e->accept();
    return true;
  }
  return CellGrid::EditorKeyPress(e);
}

// --- Mouse
// -----------------------------------------------------------------------------------------------------------

void DataGrid::GridMousePress(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (!AcquireFocus()) return;
  int col, row;
  CellAt(p, col, row);
  pressedCol_ = col;
  if (InSizingZone(p) || (row >= 0 && row < titleOffset_ && (options_ & dgColumnResize))) {
    link_.UpdateRecord();
    CellGrid::GridMousePress(e);
    return;
  }
  if (!link_.Active() || row < 0) return;
  BeginUpdate();
  try {
    if (row >= titleOffset_) {
      if (row == Row() && col == Col()) {
        if (IsLogicalColumn(DataColumn(col)))
          ToggleLogical();
        else
          ShowEditor();
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

void DataGrid::GridMouseRelease(QMouseEvent* e) {
  const bool wasSizing = Sizing();
  CellGrid::GridMouseRelease(e);
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
    GridColumn* column = dc >= 0 && dc < columns_->Count() ? columns_->Items(dc) : nullptr;
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

void DataGrid::MoveToRow(int row) {
  data::DataSet* d = link_.DataSet();
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

void DataGrid::WheelRows(int rows) {
  // As that many presses of Down or Up, after taking the focus as the
  // scroll bar's requests do; the wheel never appends a record.
  if (!AcquireFocus() || !link_.Active()) return;
  data::DataSet* d = link_.DataSet();
  if (!d || d->IsEmpty()) return;
  MoveBy(rows);
}

void DataGrid::GridDoubleClick(QMouseEvent*) {
  if (OnDblClick) OnDblClick(*this);
}

void DataGrid::GridExit() {
  if (!editPending_) return;
  try {
    link_.UpdateRecord();
  } catch (...) {
    setFocus();
    throw;
  }
}

bool DataGrid::SelectCell(int col, int) {
  // What was typed belongs to the column it was typed in.
  if (editPending_ && col != Col()) link_.UpdateRecord();
  return true;
}

}  // namespace vz::views
