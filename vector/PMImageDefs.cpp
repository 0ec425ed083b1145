#include "vector/PMImageDefs.h"
