// Built-in routines: Integer family (being written).
#include "vector/builtin/NXBuiltins.h"
