// Forwarding header: removed by the restructure's final pass.
#pragma once
#include "engine/dates.h"
#include "engine/trim.h"
