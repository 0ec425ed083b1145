// RGMalloc: the process-heap allocation under the aligned allocator.
#pragma once

#include <cstdint>

namespace nx::RGMalloc {

// A heap block of `size` bytes without flags; null on failure.
void* _malloc(std::uint32_t size);
// Releases a block from _malloc; null is ignored.
void _free(void* p);

}  // namespace nx::RGMalloc

namespace nx {
using RGMalloc::_free;
using RGMalloc::_malloc;
}
