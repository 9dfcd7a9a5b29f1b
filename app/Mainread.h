// Forwarding header: removed by the restructure's final pass.
#include "app/MainWindow.h"
