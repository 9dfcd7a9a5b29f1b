// Forwarding header: removed by the restructure's final pass.
#pragma once
#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
