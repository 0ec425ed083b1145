// LibCDispatcher: the C maths entry points on which the built-in routines are
// written (double precision, the C library's results).
#pragma once

#include <cstddef>

namespace nx::LibCDispatcher {

double _sin(double x);
double _cos(double x);
double _sqrt(double x);
double _exp(double x);
double _log(double x);
double _pow(double x, double y);
double _atan2(double y, double x);
double _floor(double x);
double _ceil(double x);
void* _memmove(void* dst, const void* src, std::size_t n);
// Stack probe: commits `frameBytes` of stack below the caller page by page
// (4096 bytes), so that a following large frame never skips the guard page.
void __chkstk(std::size_t frameBytes);

}  // namespace nx::LibCDispatcher

namespace nx {
using namespace LibCDispatcher;
}
