#include "app/CheatViews.h"

#include <QFont>

namespace vz::app {

using namespace views;

void ConfigureCheatNameGrid(DataGrid& grid) {
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
  grid.SetBooleanBox(BooleanBoxStyle::bbCheckBox);
  grid.SetDepressDisabled(false);
  grid.SetDefaultDrawing(true);
  grid.SetLastColumnFills(true);
  GridColumns& columns = grid.Columns();
  columns.Clear();
  GridColumn* name = columns.Add();
  name->SetFieldName("CHEATNAME");
  name->Title().SetCaption(QStringLiteral("Cheatname"));
  QFont captionFont(QStringLiteral("DejaVu Sans"));
  captionFont.setPixelSize(13);
  name->Title().SetFont(captionFont);
  name->Title().SetFontColor(Qt::black);
  grid.EndLayout();
}

void ConfigureCheatTextMemo(DataMemo& memo) {
  memo.SetReadOnly(true);
  memo.SetScrollBars(ScrollStyle::ssVertical);
  memo.setFont(TerminalFont());
  memo.SetWordWrap(true);
  // Not a tab stop: Tab skips it, a click still gives it the focus.
  memo.setFocusPolicy(Qt::ClickFocus);
}

}  // namespace vz::app
