// Forwarding header: removed by the restructure's final pass.
#include "index/expr.h"
