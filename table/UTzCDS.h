// The table component with the dataset properties published, its read-only
// switch, and the record-number-order searches: LocateRec (the search box's
// search) and Locate.
#pragma once

#include <string>

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

 protected:
  bool ReadOnlyFlag() const override { return ReadOnly; }
  // The engine locate for one field with the options, going on past
  // records that are not visible.
  bool EngineLocate(const std::string& field, const std::string& value, LocateOptions options);
};

}  // namespace vz
