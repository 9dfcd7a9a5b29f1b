// The table component's date field: its text follows the engine's date
// conventions (the date format, the century switch, the blank date).
#pragma once

#include <string>

#include "dataset/Fields.h"

namespace vz {

// A date field whose text follows the engine's date conventions.
class TableDateField : public data::DateField {
 public:
  explicit TableDateField(const std::string& name) : DateField(name) {}
  std::string DisplayText() const override;
  void SetAsString(const std::string& text) override;
};

// The engine's date text of a native slot, as days since 30 December 1899
// (0 for the blank date or a text that is no date).
double DateValueOfText(const std::string& text);

}  // namespace vz
