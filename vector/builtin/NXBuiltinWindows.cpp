// Built-in routines: Windows family (being written).
#include "vector/builtin/NXBuiltins.h"
