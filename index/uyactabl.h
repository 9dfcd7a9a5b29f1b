// Forwarding header: removed by the restructure's final pass.
#include "index/expr_grammar.h"
