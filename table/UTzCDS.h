// The table component with the dataset properties published, its read-only
// switch, and the record-number-order searches: LocateRec (the search box's
// search) and Locate.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/text_search.h"
#include "table/UCommon.h"

namespace vz {

// Options of the framework's Locate.
struct LocateOptions {
  bool CaseInsensitive = false;
  bool PartialKey = false;
};

class TTzCDataSet : public TTzDataSet {
 public:
  bool ReadOnly = false;

  // Runs the engine's locate scan (record-number order) for the field and
  // value; when it finds a record, the dataset shows it.
  void LocateRec(const std::string& fieldName, const std::string& value);
  // The framework's locate: each field of KeyFields (separated by ";") in
  // turn, with the whole of KeyValues.
  virtual bool Locate(const std::string& keyFields, const std::string& keyValues, LocateOptions options);

  // How a search of the texts ended.
  enum class TextSearch { Found, FoundAfterWrap, NotFound, Cancelled };
  // Finds the next record (`forward`) or the one before, in the table's
  // order, from the record shown, whose memo texts hold every word of
  // `ansiWords` (split at blanks; letter case and accents do not count);
  // at the end it goes on from the other end, up to the record shown
  // (which is looked at last). `progress` is called about every 1,000
  // records with the records looked at; false stops the search. Found: the
  // dataset shows the record. Otherwise the record shown stays.
  TextSearch FindText(const std::string& ansiWords, bool forward,
                      const std::function<bool(std::int64_t)>& progress = nullptr);

 protected:
  bool ReadOnlyFlag() const override { return ReadOnly; }
  // The engine locate for one field with the options, going on past
  // records that are not visible.
  bool EngineLocate(const std::string& field, const std::string& value, LocateOptions options);
};

}  // namespace vz
