// Shared helpers of the scalar reference twins.
#include "vector/reference/NXReference.h"
