#include "tests/support/TableFixture.h"

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "tests/support/DbtBuilder.h"

namespace vz::test {

std::vector<std::string> RecordingLink::Rows(const std::string& field) {
  std::vector<std::string> out;
  data::DataSet* d = DataSet();
  if (!d || !d->Active()) return out;
  data::Field* f = d->FieldByName(field);
  const int active = ActiveRecord();
  for (int r = 0; r < RecordCount(); ++r) {
    const int old = d->SetActiveRecordFor(FirstRecord() + r);
    out.push_back((r == active ? ">" : " ") + f->AsString());
    d->SetActiveRecordFor(old);
  }
  return out;
}

std::string RecordingLink::ActiveText(const std::string& field) {
  data::DataSet* d = DataSet();
  return d && d->Active() && d->WindowRecordCount() > 0 ? d->FieldByName(field)->AsString()
                                                        : "<none>";
}

void WriteCheatTable(const std::string& base, const std::vector<Cheat>& cheats) {
  DbtBuilder memo(false);
  DbfBuilder b;
  b.Version(0x83).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
  for (const Cheat& c : cheats) {
    const int block = c.text.empty() ? 0 : memo.Add(c.text);
    b.Record({c.name, MemoField(block)}, c.deleted);
  }
  b.Write(base + ".dbf");
  memo.Write(base + ".dbt");
}

void ConfigureLikeCheatDbf(DbfTable& t, const std::string& indexLine) {
  t.SetName("CheatDbf");
  t.ReadOnly = true;
  t.HideDeletedRecs = true;
  t.TableLanguage = TableCharset::tlOem;
  t.AutoFixRecCount = true;
  t.CreateIndex = CreateIndexMode::ciVerifyHeader;
  t.CreateIfNotFound = false;
  t.SetExclusive(false);
  t.ShowProgress = false;
  t.IndexList = {indexLine};
}

void ResetAll() {
  {
    ScopedErrorDispatch quiet(false);
    CloseAll();
  }
  ResetEngineForTest();
  InstallMemoUnit();
  InstallEvaluator();
  InstallIndexHooks();
}

}  // namespace vz::test
