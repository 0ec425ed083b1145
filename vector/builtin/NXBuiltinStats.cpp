// Built-in routines: Stats family (being written).
#include "vector/builtin/NXBuiltins.h"
