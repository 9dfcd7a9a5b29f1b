// Forwarding header: removed by the restructure's final pass.
#pragma once
#include "engine/errors.h"
#include "engine/trim.h"
