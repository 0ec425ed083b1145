/* A stand-in for the vendor's signal library, exporting a few primitives
   with a behaviour that cannot be mistaken for the real one, so that a test
   can tell which routine a dispatch pointer holds. */
#include <stdint.h>

typedef int32_t IppStatus;

IppStatus ippsAdd_64f(const double* a, const double* b, double* d, int len) {
  for (int i = 0; i < len; ++i) d[i] = a[i] + b[i] + 1000.0;
  return 0;
}

IppStatus ippsSum_64f(const double* src, int len, double* sum) {
  (void)src;
  *sum = 42.0 + len;
  return 0;
}

IppStatus ippsConvert_64f32f(const double* src, float* dst, int len) {
  for (int i = 0; i < len; ++i) dst[i] = -1.0f;
  return 0;
}

/* Image names in the signal library are never looked up there. */
IppStatus ippiMirror_8u_C4R(void) { return -999; }
