/* A stand-in for the vendor's colour-conversion library: found only after
   the image library has been searched. */
#include <stdint.h>

typedef int32_t IppStatus;

IppStatus ippiCopy_8u_C4R(void) { return -1; } /* shadowed by the image library */
IppStatus ippiSet_8u_C4R(const uint8_t value[4], uint8_t* dst, int step, int w, int h) { return 78; }
