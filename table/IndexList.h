// The table component's IndexList: one line per index to open, with its
// order, file and key expression.
#pragma once

#include <string>

namespace vz {

// One line of IndexList: "order,file,expression".
struct IndexItem {
  int Order = 0;
  std::string File;
  std::string Expression;  // at most 100 characters
};
// Parses a line; throws data::DatabaseError for an order that is not an
// integer.
IndexItem ParseIndexLine(const std::string& line);

}  // namespace vz
