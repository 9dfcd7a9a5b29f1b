// Forwarding header: removed by the restructure's final pass.
#pragma once
#include "engine/dbf.h"
#include "engine/trim.h"
