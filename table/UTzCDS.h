// Forwarding header: removed by the restructure's final pass.
#include "table/TableDataSet.h"

namespace vz {
using TTzCDataSet = TableDataSet;  // Forwarding alias: removed by the restructure's final pass.
}  // namespace vz
