#include "table/IndexList.h"

#include <string>

#include "dataset/Fields.h"
#include "engine/dbf_file.h"
#include "engine/trim.h"

namespace vz {

IndexItem ParseIndexLine(const std::string& line) {
  IndexItem item;
  std::string rest = line;
  std::size_t comma = rest.find(',');
  if (comma != std::string::npos && comma >= 1) {
    const std::string number = TrimLeft(rest.substr(0, comma));
    std::size_t used = 0;
    int value = 0;
    bool ok = !number.empty();
    try {
      value = std::stoi(number, &used);
      ok = ok && used == number.size();
    } catch (...) {
      ok = false;
    }
    if (!ok)
      throw data::DatabaseError("'" + rest.substr(0, comma) + "' is not a valid integer value");
    item.Order = value;
    rest.erase(0, comma + 1);
    comma = rest.find(',');
    if (comma != std::string::npos && comma >= 1) {
      item.File = rest.substr(0, comma);
      rest.erase(0, comma + 1);
    }
  }
  item.Expression = rest.substr(0, 100);
  return item;
}

}  // namespace vz
