// Forwarding header: removed by the restructure's final pass.
#include "table/DbfTable.h"
