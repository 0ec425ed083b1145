// RGMalloc: malloc/free stand in for the process heap.
#include "vector/RGMalloc.h"

#include <cstdlib>

namespace nx::RGMalloc {

void* _malloc(std::uint32_t size) { return std::malloc(size); }
void _free(void* p) { std::free(p); }

}  // namespace nx::RGMalloc
