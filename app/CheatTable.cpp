#include "app/CheatTable.h"

namespace vz::app {

void ConfigureAsCheatTable(DbfTable& t, const std::string& indexFile) {
  t.SetName("CheatDbf");
  t.DbfFields = {"cheatname, C, 35, 0", "cheatmemo, M, 10, 0"};
  t.HideDeletedRecs = true;
  t.ShowProgress = false;
  t.TableLanguage = TableCharset::tlOem;
  t.ReadOnly = true;
  t.AutoFixRecCount = true;
  t.CreateIndex = CreateIndexMode::ciVerifyHeader;
  t.CreateIfNotFound = false;
  t.SetExclusive(false);
  t.IndexList = {"1," + indexFile + ",CHEATNAME"};
  t.AutoCalcFields = false;
}

}  // namespace vz::app
