// Built-in routines: Complex family (being written).
#include "vector/builtin/NXBuiltins.h"
