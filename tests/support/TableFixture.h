// A table component set up like the reader's CheatDbf over a generated
// cheat table, and a data link that records every notification it gets.
#pragma once

#include <string>
#include <vector>

#include "dataset/DataSource.h"
#include "table/DbfTable.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz::test {

class RecordingLink : public data::DataLink {
 public:
  std::vector<std::string> Log;
  // The text of a field in every row of the link's window, the active one
  // marked with ">".
  std::vector<std::string> Rows(const std::string& field);
  std::string ActiveText(const std::string& field);

 protected:
  void ActiveChanged() override { Log.push_back("active"); }
  void DataSetChanged() override { Log.push_back("changed"); }
  void DataSetScrolled(int d) override { Log.push_back("scrolled " + std::to_string(d)); }
  void RecordChanged(data::Field* f) override {
    Log.push_back(f ? "field " + f->FieldName() : "record");
  }
  void LayoutChanged() override { Log.push_back("layout"); }
  void EditingChanged() override { Log.push_back("editing"); }
};

struct Cheat {
  std::string name;
  std::string text;
  bool deleted = false;
};

// Writes name.dbf / name.dbt (version 0x83, terminator memos) with fields
// CHEATNAME C 35 and CHEATMEMO M 10; names are given in OEM bytes.
void WriteCheatTable(const std::string& base, const std::vector<Cheat>& cheats);

// Configures a table like the reader's CheatDbf.
void ConfigureLikeCheatDbf(DbfTable& t, const std::string& indexLine = "1,cheat.ndx,CHEATNAME");

// Engine, index engine and framework state back to their defaults.
void ResetAll();

}  // namespace vz::test
