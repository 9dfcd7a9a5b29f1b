// Forwarding header: removed by the restructure's final pass.
#include "views/StatusPopup.h"
