// Built-in routines: Filters family (being written).
#include "vector/builtin/NXBuiltins.h"
