// Forwarding header: removed by the restructure's final pass.
#pragma once
#include "engine/dbt_file.h"
#include "engine/trim.h"
