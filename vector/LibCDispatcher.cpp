// LibCDispatcher: thin wrappers over the C library's maths.
#include "vector/LibCDispatcher.h"

#include <alloca.h>

#include <cmath>
#include <cstring>

namespace nx::LibCDispatcher {

double _sin(double x) { return std::sin(x); }
double _cos(double x) { return std::cos(x); }
double _sqrt(double x) { return std::sqrt(x); }
double _exp(double x) { return std::exp(x); }
double _log(double x) { return std::log(x); }
double _pow(double x, double y) { return std::pow(x, y); }
double _atan2(double y, double x) { return std::atan2(y, x); }
double _floor(double x) { return std::floor(x); }
double _ceil(double x) { return std::ceil(x); }
void* _memmove(void* dst, const void* src, std::size_t n) { return std::memmove(dst, src, n); }

void __chkstk(std::size_t frameBytes) {
  // Touch one byte per 4096-byte page of a frame of the requested size, from
  // the top down, so the kernel grows the stack one page at a time.
  constexpr std::size_t kPage = 4096;
  if (frameBytes == 0) return;
  volatile char* frame = static_cast<volatile char*>(alloca(frameBytes));
  for (std::size_t off = frameBytes; off > kPage; off -= kPage) frame[off - 1] = 0;
  frame[0] = 0;
}

}  // namespace nx::LibCDispatcher
