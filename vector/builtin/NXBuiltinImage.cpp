// Built-in routines: Image family (being written).
#include "vector/builtin/NXBuiltins.h"
