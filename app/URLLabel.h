// Forwarding header: removed by the restructure's final pass.
#include "app/UrlLabel.h"
