// The main window's two views of the cheat table: the list of cheat names
// and the cheat's text.
#pragma once

#include "views/DataGrid.h"
#include "views/DataMemo.h"

namespace vz::app {

// The main window's list of cheat names: one column CHEATNAME titled
// "Cheatname" that takes the list's width, no title row, no indicator, no
// grid lines, read-only, the terminal font.
void ConfigureCheatNameGrid(views::DataGrid& grid);

// The main window's cheat text: read-only, a vertical scroll bar, the
// terminal font, word wrap.
void ConfigureCheatTextMemo(views::DataMemo& memo);

}  // namespace vz::app
