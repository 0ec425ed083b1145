/* A stand-in for the vendor's image library: one image primitive and the
   vendor-only matrix primitive. */
#include <stdint.h>

typedef int32_t IppStatus;
typedef struct { int width; int height; } IppiSize;

IppStatus ippiCopy_8u_C4R(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, IppiSize roi) {
  for (int y = 0; y < roi.height; ++y)
    for (int x = 0; x < 4 * roi.width; ++x) dst[y * dstStep + x] = 0xAB;
  return 77;
}

IppStatus ippsSVD_64f_D2L(void) { return 0; }
