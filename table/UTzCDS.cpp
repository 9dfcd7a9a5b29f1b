#include "table/UTzCDS.h"

#include "engine/Dbf4.h"
#include "engine/tzmsg.h"

namespace vz {

void TTzCDataSet::LocateRec(const std::string& fieldName, const std::string& value) {
  CheckBrowseMode();
  SelectWorkArea("LocateRec");
  vz::Locate(fieldName, value);
  if (!dEOF()) {
    ResyncFromEngine();
  } else {
    // Nothing found: the engine goes back onto the record the dataset shows.
    CursorPosChanged();
    UpdateCursorPos();
  }
}

bool TTzCDataSet::EngineLocate(const std::string& field, const std::string& value, LocateOptions options) {
  // The scan compares without regard to case unless NOCASE is given.
  std::string spec = field;
  if (!options.CaseInsensitive) spec += " NOCASE";
  std::string v = value;
  if (!options.PartialKey) {
    spec += " EXACT";
    vz::WorkArea* a = CurrentTable();
    const int n = FieldNo(field);
    if (a && n > 0 && a->Fields[static_cast<std::size_t>(n - 1)].Type == 'C' &&
        v.size() < a->Fields[static_cast<std::size_t>(n - 1)].Len)
      v.append(a->Fields[static_cast<std::size_t>(n - 1)].Len - v.size(), ' ');
  }
  bool found = vz::Locate(spec, v);
  // A record that is not visible does not count: go on from the next one.
  while (found && !dEOF() && !IsVisible(*CurrentTable())) found = Continue();
  return found && !dEOF();
}

bool TTzCDataSet::Locate(const std::string& keyFields, const std::string& keyValues, LocateOptions options) {
  CheckBrowseMode();
  SelectWorkArea("Locate");
  bool found = false;
  std::size_t pos = 0;
  while (!found && pos <= keyFields.size()) {
    const std::size_t end = keyFields.find(';', pos);
    const std::string name = Trim(keyFields.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    pos = end == std::string::npos ? keyFields.size() + 1 : end + 1;
    if (name.empty()) continue;
    found = EngineLocate(name, keyValues, options);
  }
  ResyncFromEngine();
  return found;
}

}  // namespace vz
