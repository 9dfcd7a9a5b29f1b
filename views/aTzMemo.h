// Forwarding header: removed by the restructure's final pass.
#include "views/DataMemo.h"
