// Built-in routines: Arith family (being written).
#include "vector/builtin/NXBuiltins.h"
