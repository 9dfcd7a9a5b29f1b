#include "views/DataGridPainter.h"

#include <QFontMetrics>
#include <QPainter>

#include "table/TableDataSet.h"
#include "views/AnsiText.h"
#include "views/DataGrid.h"

namespace vz::views {

namespace {

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

}  // namespace

DataGridPainter::DataGridPainter(DataGrid& grid)
    : grid_(grid), arrow_(Indicator(0)), edit_(Indicator(1)), insert_(Indicator(2)) {}

void DataGridPainter::WriteText(QPainter& p, const QRect& rect, const QString& text,
                                Qt::Alignment a, const QColor& back, const QColor& fore,
                                const QFont& font) {
  p.fillRect(rect, back);
  p.setPen(fore);
  p.setFont(font);
  const int w = QFontMetrics(font).horizontalAdvance(text);
  int x = rect.left() + 2;
  if (a & Qt::AlignRight)
    x = rect.right() - w - 3;
  else if (a & Qt::AlignHCenter)
    x = rect.left() + (rect.width() - w) / 2;
  p.drawText(QRect(x, rect.top() + 2, rect.right() - x + 1, rect.height() - 2),
             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs, text);
}

void DataGridPainter::DrawBooleanBox(QPainter& p, const QRect& rect, bool value,
                                     const QColor& fore) {
  int side = rect.height();
  QRect box(rect.left() + (rect.width() - side) / 2, rect.top(), side, side);
  if (rect.width() < rect.height())
    box = QRect(rect.left(), rect.top(), rect.width(), rect.width());
  const int inset = 1 + 1;
  box.adjust(inset, inset, -inset, -inset);
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(fore, 1));
  p.setBrush(Qt::NoBrush);
  switch (grid_.booleanBox_) {
    case BooleanBoxStyle::bbCheckBox:
    case BooleanBoxStyle::bbFillBox:
    case BooleanBoxStyle::bbFillBoxRed: p.drawRect(box); break;
    case BooleanBoxStyle::bbRButton:
    case BooleanBoxStyle::bbRButtonRed: p.drawEllipse(box); break;
    default: break;
  }
  if (value) {
    p.setPen(QPen(fore, 2));
    switch (grid_.booleanBox_) {
      case BooleanBoxStyle::bbCheckBox:
        p.drawLine(box.topLeft() + QPoint(3, 3), box.bottomRight() - QPoint(3, 3));
        p.drawLine(QPoint(box.left() + 3, box.bottom() - 3),
                   QPoint(box.right() - 3, box.top() + 3));
        break;
      case BooleanBoxStyle::bbCheckMark: {
        const QPoint a(box.left() + 2, box.top() + box.width() / 2);
        const QPoint b(box.left() + box.width() / 3, box.bottom() - 2);
        const QPoint c(box.right() - 2, box.top());
        p.drawLine(a, b);
        p.drawLine(b, c);
        break;
      }
      case BooleanBoxStyle::bbFillBox: p.fillRect(box.adjusted(1, 1, -1, -1), fore); break;
      case BooleanBoxStyle::bbFillBoxRed: p.fillRect(box.adjusted(1, 1, -1, -1), Qt::red); break;
      case BooleanBoxStyle::bbRButton:
      case BooleanBoxStyle::bbDot:
        p.setBrush(fore);
        p.drawEllipse(box.adjusted(2, 2, -2, -2));
        break;
      case BooleanBoxStyle::bbRButtonRed:
      case BooleanBoxStyle::bbDotRed:
        p.setBrush(Qt::red);
        p.setPen(QPen(Qt::red, 2));
        p.drawEllipse(box.adjusted(2, 2, -2, -2));
        break;
      default: break;
    }
  }
  p.restore();
}

void DataGridPainter::DrawCell(QPainter& p, const QRect& cellRect, int col, int row,
                               unsigned state) {
  QRect rect = cellRect;
  if (grid_.loading_) {
    p.fillRect(rect, grid_.color_);
    return;
  }
  if (col == 0) grid_.ResetRowColors(row);
  const RowColorSet& colors = grid_.RowColors(row);
  const bool frame =
      (state & csFixed) && (grid_.options_ & dgColLines) && (grid_.options_ & dgRowLines);
  if (frame) rect.adjust(1, 1, -1, -1);
  // The indicator.
  if (grid_.indicatorOffset_ && col == 0 && row >= grid_.titleOffset_) {
    p.fillRect(rect, colors.Indicator);
    if (grid_.link_.Active() && row - grid_.titleOffset_ == grid_.link_.ActiveRecord()) {
      const data::DataSetState s = grid_.link_.DataSet()->State();
      const QPixmap& pm = s == data::DataSetState::Edit     ? edit_
                          : s == data::DataSetState::Insert ? insert_
                                                            : arrow_;
      const int margin = frame ? 1 : 2;
      p.drawPixmap(rect.right() - margin - pm.width() + 1,
                   rect.top() + (rect.height() - pm.height()) / 2, pm);
    }
  } else if (row < grid_.titleOffset_) {
    // A title.
    const int dc = grid_.DataColumn(col);
    if (dc >= 0 && dc < grid_.columns_->Count()) {
      const ColumnTitle& t = grid_.columns_->Items(dc)->Title();
      p.fillRect(rect, t.Color());
      p.setFont(t.Font());
      p.setPen(t.FontColor());
      const int offset = frame ? 1 : 2;
      p.drawText(rect.adjusted(offset, offset, -offset, 0),
                 ToQtAlignment(t.Alignment()) | Qt::AlignTop | Qt::TextSingleLine, t.Caption());
    } else {
      p.fillRect(rect, grid_.fixedColor_);
    }
  } else {
    const int dc = grid_.DataColumn(col);
    if (!grid_.link_.Active() || dc < 0 || dc >= grid_.columns_->Count() ||
        row - grid_.titleOffset_ >= grid_.link_.RecordCount()) {
      p.fillRect(rect, grid_.color_);
    } else {
      GridColumn* column = grid_.columns_->Items(dc);
      QColor back = column->Color();
      QColor fore = column->FontColor();
      const int saved = grid_.link_.ActiveRecord();
      grid_.link_.SetActiveRecord(row - grid_.titleOffset_);
      if (colors.Cell.isValid()) back = colors.Cell;
      if (colors.CellText.isValid()) fore = colors.CellText;
      data::Field* f = column->Field();
      const QString text = f ? ToQt(f->DisplayText()) : QString();
      TableDataSet* t = DataGrid::AsTable(grid_.link_.DataSet());
      if (t && t->RecordDeleted()) {
        back = colors.Deleted;
        fore = colors.DeletedText;
      }
      const bool focused = grid_.hasFocus() || (grid_.Editor() && grid_.Editor()->hasFocus());
      const bool highlighted = (state & csSelected) &&
                               (focused || (grid_.options_ & dgAlwaysShowSelection)) &&
                               ((grid_.options_ & dgRowSelect) || grid_.updateLock_ == 0);
      if (highlighted) {
        back = colors.Hilite;
        fore = colors.HiliteText;
      }
      if (grid_.defaultDrawing_) {
        if (grid_.IsLogicalColumn(dc)) {
          p.fillRect(rect, back);
          DrawBooleanBox(p, rect, text.compare("True", Qt::CaseInsensitive) == 0, fore);
        } else {
          WriteText(p, rect, text, ToQtAlignment(column->Alignment()), back, fore, column->Font());
        }
      }
      if (grid_.OnDrawDataCell || grid_.OnDrawColumnCell) {
        // The events draw with the cell's colours and font.
        p.setBrush(back);
        p.setPen(fore);
        p.setFont(column->Font());
        struct CanvasScope {
          QPainter*& slot;
          CanvasScope(QPainter*& s, QPainter* painter) : slot(s) { slot = painter; }
          ~CanvasScope() { slot = nullptr; }
        } scope(grid_.canvas_, &p);
        if (grid_.OnDrawDataCell) grid_.OnDrawDataCell(grid_, rect, f, state);
        if (grid_.OnDrawColumnCell) grid_.OnDrawColumnCell(grid_, rect, dc, column, state);
      }
      if (grid_.defaultDrawing_ && highlighted && !(grid_.options_ & dgRowSelect) && focused) {
        p.setPen(QPen(fore, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect.adjusted(0, 0, -1, -1));
      }
      grid_.link_.SetActiveRecord(saved);
    }
  }
  if (frame) {
    const bool sunken = row < grid_.titleOffset_ && grid_.DataColumn(col) == grid_.depressed_ &&
                        grid_.depressed_ >= 0;
    p.setPen(sunken ? grid_.palette().color(QPalette::Dark)
                    : grid_.palette().color(QPalette::Light));
    p.drawLine(cellRect.topLeft(), cellRect.topRight());
    p.drawLine(cellRect.topLeft(), cellRect.bottomLeft());
    p.setPen(sunken ? grid_.palette().color(QPalette::Light)
                    : grid_.palette().color(QPalette::Dark));
    p.drawLine(cellRect.bottomLeft(), cellRect.bottomRight());
    p.drawLine(cellRect.topRight(), cellRect.bottomRight());
  }
}

}  // namespace vz::views
