// Built-in routines: CopyConvert family (being written).
#include "vector/builtin/NXBuiltins.h"
