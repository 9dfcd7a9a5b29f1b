// The reader's cheat table: how the program sets the table component up
// for its catalogue of cheats.
#pragma once

#include <string>

#include "table/DbfTable.h"

namespace vz::app {

// Sets a table up as the reader's cheat table: the two fields, read-only
// and shared, deleted records hidden, the record count fixed when it is
// wrong, no progress window, and the name index `indexFile` (a name without
// folder lies beside the table) checked against the table at every open
// and built when it does not fit.
void ConfigureAsCheatTable(DbfTable& table, const std::string& indexFile);

}  // namespace vz::app
