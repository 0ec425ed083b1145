// PMImageDefs: the image rectangle is header-only; this unit exists so that
// the package's unit list has its first member. No start-up work.
#include "vector/PMImageDefs.h"
