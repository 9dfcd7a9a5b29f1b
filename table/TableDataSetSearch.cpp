#include <utility>

#include "engine/dbf.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "table/TableDataSet.h"

namespace vz {

void TableDataSet::LocateRec(const std::string& fieldName, const std::string& value) {
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

TableDataSet::TextSearch TableDataSet::FindText(const std::string& ansiWords, bool forward,
                                                const std::function<bool(std::int64_t)>& progress) {
  CheckBrowseMode();
  SelectWorkArea("FindText");
  TextSearch result = TextSearch::NotFound;
  vz::WorkArea* a = CurrentTable();
  const std::vector<TextFinder> words = FoldedWords(ansiWords, a->Oem);
  if (words.empty()) return result;
  // The engine stands on the record shown; the moves of the scan tell no
  // control (the dataset shows the outcome once).
  UpdateCursorPos();
  const VoidProc after = std::exchange(a->AfterMove, nullptr);
  try {
    const std::int64_t start = dEOF() ? 0 : a->RecNo;
    bool wrapped = false;
    std::int64_t looked = 0;
    for (bool first = true; a->RecCount > 0; first = false) {
      if (first && start == 0) {
        // Nothing shown: the scan starts at one end.
        wrapped = true;
        forward ? GoTop() : GoBottom();
        if (Engine().Errors.ErrorCode != 0 || dEOF()) break;
      } else {
        SKIP(forward ? 1 : -1);
      }
      if (Engine().Errors.ErrorCode != 0) break;
      if (forward ? dEOF() : dBOF()) {
        if (wrapped) break;
        wrapped = true;
        forward ? GoTop() : GoBottom();
        if (Engine().Errors.ErrorCode != 0 || dEOF()) break;
      }
      if (RecordHoldsText(*a, words, false)) {
        result = wrapped ? TextSearch::FoundAfterWrap : TextSearch::Found;
        break;
      }
      if (wrapped && a->RecNo == start) break;
      if (progress && ++looked % 1000 == 0 && !progress(looked)) {
        result = TextSearch::Cancelled;
        break;
      }
    }
  } catch (...) {
    if (CurrentTable() == a) a->AfterMove = after;
    throw;
  }
  if (CurrentTable() == a) a->AfterMove = after;
  if (result == TextSearch::Found || result == TextSearch::FoundAfterWrap) {
    ResyncFromEngine();
  } else {
    // The engine goes back onto the record the dataset shows.
    CursorPosChanged();
    UpdateCursorPos();
  }
  return result;
}

bool TableDataSet::EngineLocate(const std::string& field, const std::string& value,
                                LocateOptions options) {
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

bool TableDataSet::Locate(const std::string& keyFields, const std::string& keyValues,
                          LocateOptions options) {
  CheckBrowseMode();
  SelectWorkArea("Locate");
  bool found = false;
  std::size_t pos = 0;
  while (!found && pos <= keyFields.size()) {
    const std::size_t end = keyFields.find(';', pos);
    const std::string name =
        Trim(keyFields.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    pos = end == std::string::npos ? keyFields.size() + 1 : end + 1;
    if (name.empty()) continue;
    found = EngineLocate(name, keyValues, options);
  }
  ResyncFromEngine();
  return found;
}

}  // namespace vz
