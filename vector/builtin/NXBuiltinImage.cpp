// Built-in routines of the image primitives: copy, fill, mirror, alpha
// composition, per-channel linear lookup, difference norms, and the
// resize-about-a-centre family. Images are interleaved pixels addressed by a
// pointer to the first pixel of the region and a row step in bytes.
//
// These routines are plain scalar C++: row copies go through memcpy, and the
// per-pixel loops are simple enough for the compiler to vectorise where it
// pays. Every routine runs all its checks before it touches a destination.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "vector/LibCDispatcher.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {
namespace {

template <typename T>
inline T* RowPtr(T* base, int step, std::ptrdiff_t y) {
  using Byte = std::conditional_t<std::is_const_v<T>, const Ipp8u, Ipp8u>;
  return reinterpret_cast<T*>(reinterpret_cast<Byte*>(base) + y * static_cast<std::ptrdiff_t>(step));
}

inline bool BadSize(IppiSize s) { return s.width < 1 || s.height < 1; }

// ------------------------------------------------------------------ copy, set

IppStatus CopyRows(const void* pSrc, int srcStep, void* pDst, int dstStep, IppiSize roi,
                   std::size_t pixelBytes) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (BadSize(roi)) return ippStsSizeErr;
  const std::size_t rowBytes = static_cast<std::size_t>(roi.width) * pixelBytes;
  const Ipp8u* s = static_cast<const Ipp8u*>(pSrc);
  Ipp8u* d = static_cast<Ipp8u*>(pDst);
  for (int y = 0; y < roi.height; ++y) std::memcpy(RowPtr(d, dstStep, y), RowPtr(s, srcStep, y), rowBytes);
  return ippStsNoErr;
}

// ------------------------------------------------------------------ mirror

inline bool BadAxis(IppiAxis flip) {
  return flip != ippAxsHorizontal && flip != ippAxsVertical && flip != ippAxsBoth;
}

// Mirrored copy of C-byte pixels.
template <int C>
IppStatus MirrorCopy(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roi, IppiAxis flip) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (BadSize(roi)) return ippStsSizeErr;
  if (BadAxis(flip)) return ippStsMirrorFlipErr;
  const bool flipRows = flip != ippAxsVertical;
  const bool flipCols = flip != ippAxsHorizontal;
  const int w = roi.width;
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = RowPtr(pSrc, srcStep, flipRows ? roi.height - 1 - y : y);
    Ipp8u* d = RowPtr(pDst, dstStep, y);
    if (!flipCols) {
      std::memcpy(d, s, static_cast<std::size_t>(w) * C);
      continue;
    }
    for (int x = 0; x < w; ++x) {
      const Ipp8u* sp = s + static_cast<std::ptrdiff_t>(w - 1 - x) * C;
      for (int c = 0; c < C; ++c) d[x * C + c] = sp[c];
    }
  }
  return ippStsNoErr;
}

inline void SwapPixel3(Ipp8u* a, Ipp8u* b) {
  std::swap(a[0], b[0]);
  std::swap(a[1], b[1]);
  std::swap(a[2], b[2]);
}

inline void ReverseRow3(Ipp8u* row, int w) {
  for (int x = 0, r = w - 1; x < r; ++x, --r) SwapPixel3(row + 3 * x, row + 3 * r);
}

// ------------------------------------------------------------------ alpha composition

// Division by 255, the composition's shared approximation.
inline unsigned Div255(unsigned x) { return (x + (x >> 8) + 1) >> 8; }
inline Ipp8u Sat8(unsigned v) { return static_cast<Ipp8u>(v > 255 ? 255 : v); }

enum class EComp { Over, In, Out, ATop, Xor, Plus };

// One channel of Porter–Duff composition on premultiplied operands: colours
// (or alphas) a, b with the alphas aA, aB of the two sources.
template <EComp Op>
inline unsigned Compose(unsigned a, unsigned b, unsigned aA, unsigned aB) {
  switch (Op) {
    case EComp::Over: return a + Div255(b * (255 - aA));
    case EComp::In: return Div255(a * aB);
    case EComp::Out: return Div255(a * (255 - aB));
    case EComp::ATop: return Div255(a * aB) + Div255(b * (255 - aA));
    case EComp::Xor: return Div255(a * (255 - aB)) + Div255(b * (255 - aA));
    case EComp::Plus: return a + b;
  }
  return 0;
}

// The non-premultiplied forms premultiply the colours first (with the same
// rounding) and give a premultiplied result; the alpha is composed alike in
// both forms. All reads of a pixel precede its writes, so pDst may alias a source.
template <EComp Op, bool Premul>
void AlphaCompRows(const Ipp8u* pSrc1, int s1Step, const Ipp8u* pSrc2, int s2Step, Ipp8u* pDst, int dStep,
                   IppiSize roi) {
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s1 = RowPtr(pSrc1, s1Step, y);
    const Ipp8u* s2 = RowPtr(pSrc2, s2Step, y);
    Ipp8u* d = RowPtr(pDst, dStep, y);
    for (int x = 0; x < roi.width; ++x, s1 += 4, s2 += 4, d += 4) {
      const unsigned aA = s1[3], aB = s2[3];
      unsigned A[3], B[3];
      for (int c = 0; c < 3; ++c) {
        A[c] = Premul ? s1[c] : Div255(s1[c] * aA);
        B[c] = Premul ? s2[c] : Div255(s2[c] * aB);
      }
      for (int c = 0; c < 3; ++c) d[c] = Sat8(Compose<Op>(A[c], B[c], aA, aB));
      d[3] = Sat8(Compose<Op>(aA, aB, aA, aB));
    }
  }
}

template <EComp Op>
void AlphaCompForm(bool premul, const Ipp8u* p1, int s1, const Ipp8u* p2, int s2, Ipp8u* pd, int sd, IppiSize roi) {
  if (premul)
    AlphaCompRows<Op, true>(p1, s1, p2, s2, pd, sd, roi);
  else
    AlphaCompRows<Op, false>(p1, s1, p2, s2, pd, sd, roi);
}

// ------------------------------------------------------------------ difference norms

template <typename F>
IppStatus NormDiffRows(const Ipp8u* pSrc1, int s1Step, const Ipp8u* pSrc2, int s2Step, IppiSize roi, Ipp64f* pValue,
                       F rowKernel) {
  if (!pSrc1 || !pSrc2 || !pValue) return ippStsNullPtrErr;
  if (BadSize(roi)) return ippStsSizeErr;
  std::uint64_t acc = 0;
  for (int y = 0; y < roi.height; ++y) acc = rowKernel(RowPtr(pSrc1, s1Step, y), RowPtr(pSrc2, s2Step, y), roi.width, acc);
  *pValue = static_cast<Ipp64f>(acc);
  return ippStsNoErr;
}

inline unsigned AbsDiff(unsigned a, unsigned b) { return a > b ? a - b : b - a; }

// ------------------------------------------------------------------ resize about a centre
//
// Geometry: destination pixel x (relative to the destination region) samples
// the source image at xs = (x - dstWidth/2) / xFactor + xCenter, in source pixel
// units whose integers are pixel positions (pixel i sits at i). The region
// written is the run of x whose xs falls in [roi.x, roi.x + roi.width); the
// rest of the destination is left untouched. Samples near the region's edges
// take missing neighbours from the nearest edge pixel of the source region
// (replicated border); nothing outside the source region is read.
//
// The filter is separable: per axis, each destination index gets a short list
// of (source index, weight) taps, the weights normalised to sum 1. Each
// destination row is made by combining its source rows column by column into a
// 32-bit float row, then combining that row's columns; the result is rounded
// to nearest (halves up) and saturated to the sample type.

constexpr int kLanczosTableSize = 301;  // L(0.00) ... L(3.00) in steps of 0.01

// sinc(x) sinc(x/3), the three-lobed Lanczos kernel.
struct TLanczosTable {
  float v[kLanczosTableSize];
  TLanczosTable() {
    const double pi = 3.14159265358979323846;
    v[0] = 1.0f;
    for (int i = 1; i < kLanczosTableSize; ++i) {
      const double x = i * 0.01;
      const double a = pi * x, b = a / 3.0;
      v[i] = static_cast<float>((nx::_sin(a) / a) * (nx::_sin(b) / b));
    }
    v[kLanczosTableSize - 1] = 0.0f;  // the kernel's zero at 3, exactly
  }
};

const TLanczosTable& LanczosTable() {
  static const TLanczosTable table;  // built on first use, thread-safe
  return table;
}

// The kernel read from the table with linear interpolation between samples.
inline float Lanczos(const TLanczosTable& t, float x) {
  const float pos = std::fabs(x) * 100.0f;
  if (!(pos < kLanczosTableSize - 1)) return 0.0f;
  const int i = static_cast<int>(pos);
  const float f = pos - static_cast<float>(i);
  return t.v[i] + f * (t.v[i + 1] - t.v[i]);
}

// Cubic convolution kernel with a = -0.5 (the Catmull-Rom spline): it
// interpolates (1 at 0, 0 at the other integers), reproduces linear ramps and
// is the usual definition of "bicubic" for image resampling.
inline float Cubic(float x) {
  constexpr float a = -0.5f;
  x = std::fabs(x);
  if (x <= 1.0f) return ((a + 2.0f) * x - (a + 3.0f)) * x * x + 1.0f;
  if (x < 2.0f) return ((a * x - 5.0f * a) * x + 8.0f * a) * x - 4.0f * a;
  return 0.0f;
}

enum class EFilter { Nearest, Linear, Cubic, Lanczos, Super };

// Integer part of a sample position, kept within a few pixels of the source
// region so that extreme centres or factors cannot overflow the conversion.
inline int FloorIndex(double s, int lo, int hi) {
  const double f = nx::_floor(s);
  if (!(f > lo - 8)) return lo - 8;  // NaN lands here too
  if (f > hi + 8) return hi + 8;
  return static_cast<int>(f);
}

// One destination index's taps along an axis whose source region is [lo, hi).
// `s` is the sample position; for super-sampling [s, sEnd) is the covered
// source interval. Writes at most `maxTaps` taps and returns their count.
int AxisTaps(EFilter filter, double s, double sEnd, int lo, int hi, int maxTaps, int* idx, float* w) {
  int n = 0;
  if (filter == EFilter::Super) {
    // Coverage of [a, b) over source pixels [i, i+1); ends within 1e-7 of a
    // pixel boundary count as on it, so no pixel gets a vanishing weight.
    constexpr double kTol = 1e-7;
    const double a = std::max(s, static_cast<double>(lo));
    const double b = std::min(sEnd, static_cast<double>(hi));
    int i0 = FloorIndex(a + kTol, lo, hi);
    int i1 = FloorIndex(b - kTol, lo, hi) + 1;
    i0 = std::clamp(i0, lo, hi - 1);
    i1 = std::clamp(i1, i0 + 1, std::min(hi, i0 + maxTaps));
    for (int i = i0; i < i1; ++i) {
      const double cover = std::min(i + 1.0, b) - std::max(static_cast<double>(i), a);
      idx[n] = i;
      w[n] = static_cast<float>(cover > 0 ? cover : 0.0);
      ++n;
    }
  } else {
    const int i = FloorIndex(s, lo, hi);
    const float f = static_cast<float>(s - i);
    switch (filter) {
      case EFilter::Nearest:
        idx[0] = i, w[0] = 1.0f, n = 1;
        break;
      case EFilter::Linear:
        idx[0] = i, w[0] = 1.0f - f;
        idx[1] = i + 1, w[1] = f;
        n = 2;
        break;
      case EFilter::Cubic:
        for (int k = -1; k <= 2; ++k, ++n) idx[n] = i + k, w[n] = Cubic(static_cast<float>(k) - f);
        break;
      case EFilter::Lanczos: {
        const TLanczosTable& t = LanczosTable();
        for (int k = -2; k <= 3; ++k, ++n) idx[n] = i + k, w[n] = Lanczos(t, static_cast<float>(k) - f);
        break;
      }
      case EFilter::Super:
        break;
    }
    for (int k = 0; k < n; ++k) idx[k] = std::clamp(idx[k], lo, hi - 1);
  }
  float sum = 0.0f;
  for (int k = 0; k < n; ++k) sum += w[k];
  if (!(sum > 0.0f)) {  // a degenerate (rounded-away) coverage: take its first pixel
    w[0] = 1.0f;
    return 1;
  }
  if (sum != 1.0f)
    for (int k = 0; k < n; ++k) w[k] /= sum;
  return n;
}

// Destination indices [first, last) whose samples fall inside [lo, hi):
// corners by ceiling, clamped to the destination extent (NaN gives none). A
// corner within 1e-7 above a whole pixel counts as on it, so that rounding in
// an exact fit (dstWidth = srcWidth * factor) cannot drop the first column; the
// clamped taps make the opposite error harmless.
inline int DestBound(double v, int extent) {
  const double c = nx::_ceil(v - 1e-7);
  if (!(c > 0)) return 0;
  if (c >= extent) return extent;
  return static_cast<int>(c);
}

template <int C, typename T>
IppStatus ResizeCenter(const T* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi, T* pDst, int dstStep,
                       IppiSize dstRoiSize, double xFactor, double yFactor, double xCenter, double yCenter,
                       int interpolation) {
  // Checks in order: pointers, sizes, the region origin (a warning, nothing
  // written), the factors, the interpolation mode.
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (BadSize(srcSize) || srcRoi.x < 0 || srcRoi.y < 0 || srcRoi.width < 1 || srcRoi.height < 1 ||
      BadSize(dstRoiSize))
    return ippStsSizeErr;
  if (srcRoi.x >= srcSize.width || srcRoi.y >= srcSize.height) return ippStsNoIntersection;
  if (!(xFactor > 0) || !(yFactor > 0)) return ippStsResizeFactorErr;

  EFilter filter;
  switch (interpolation) {
    case IPPI_INTER_NN: filter = EFilter::Nearest; break;
    case IPPI_INTER_LINEAR: filter = EFilter::Linear; break;
    case IPPI_INTER_CUBIC: filter = EFilter::Cubic; break;
    case IPPI_INTER_LANCZOS: filter = EFilter::Lanczos; break;
    case IPPI_INTER_SUPER:
      // Super-sampling is a reduction; with an enlarging factor the general
      // resampler takes over, with linear interpolation.
      filter = (xFactor <= 1.0 && yFactor <= 1.0) ? EFilter::Super : EFilter::Linear;
      break;
    default: return ippStsInterpolationErr;
  }

  // The source region, clipped to the image.
  const int xLo = srcRoi.x, xHi = srcRoi.x + std::min(srcRoi.width, srcSize.width - srcRoi.x);
  const int yLo = srcRoi.y, yHi = srcRoi.y + std::min(srcRoi.height, srcSize.height - srcRoi.y);

  const double halfW = dstRoiSize.width * 0.5, halfH = dstRoiSize.height * 0.5;
  const auto srcX = [&](double x) { return (x - halfW) / xFactor + xCenter; };
  const auto srcY = [&](double y) { return (y - halfH) / yFactor + yCenter; };
  const int x0 = DestBound((xLo - xCenter) * xFactor + halfW, dstRoiSize.width);
  const int x1 = DestBound((xHi - xCenter) * xFactor + halfW, dstRoiSize.width);
  const int y0 = DestBound((yLo - yCenter) * yFactor + halfH, dstRoiSize.height);
  const int y1 = DestBound((yHi - yCenter) * yFactor + halfH, dstRoiSize.height);
  if (x0 >= x1 || y0 >= y1) return ippStsNoErr;  // no destination pixel samples the region

  // Taps per destination index along each axis.
  const auto maxTapsFor = [filter](double factor, int regionLen) -> int {
    switch (filter) {
      case EFilter::Nearest: return 1;
      case EFilter::Linear: return 2;
      case EFilter::Cubic: return 4;
      case EFilter::Lanczos: return 6;
      case EFilter::Super: break;
    }
    // An interval of length 1/factor meets at most ceil(1/factor) + 1 pixels.
    const double n = nx::_ceil(1.0 / factor) + 1.0;
    return n >= regionLen ? regionLen : static_cast<int>(n);
  };
  const int kx = maxTapsFor(xFactor, xHi - xLo);
  const int ky = maxTapsFor(yFactor, yHi - yLo);
  const int nDst = x1 - x0;

  // One work block: x taps (count, indices, weights), y taps, and a float row.
  // Column range is known only after the x taps, so the row is sized for the
  // whole clipped source region width.
  const std::size_t rowLen = static_cast<std::size_t>(xHi - xLo) * C;
  const std::size_t bytes = sizeof(int) * nDst + (sizeof(int) + sizeof(float)) * static_cast<std::size_t>(nDst) * kx +
                            (sizeof(int) + sizeof(float)) * static_cast<std::size_t>(ky) + sizeof(float) * rowLen;
  if (bytes > static_cast<std::size_t>(std::numeric_limits<Ipp32s>::max() - 64)) return ippStsMemAllocErr;
  void* block = nx::_ippMalloc(static_cast<Ipp32s>(bytes));
  if (!block) return ippStsMemAllocErr;
  // Floats first (4-byte alignment holds for everything after them).
  float* row = static_cast<float*>(block);
  float* xw = row + rowLen;
  float* yw = xw + static_cast<std::size_t>(nDst) * kx;
  int* xCount = reinterpret_cast<int*>(yw + ky);
  int* xIdx = xCount + nDst;
  int* yIdx = xIdx + static_cast<std::size_t>(nDst) * kx;

  int cMin = xHi, cMax = xLo - 1;  // source columns actually used
  for (int x = x0; x < x1; ++x) {
    const std::size_t o = static_cast<std::size_t>(x - x0) * kx;
    const int n = AxisTaps(filter, srcX(x), srcX(x + 1.0), xLo, xHi, kx, xIdx + o, xw + o);
    xCount[x - x0] = n;
    for (int k = 0; k < n; ++k) cMin = std::min(cMin, xIdx[o + k]), cMax = std::max(cMax, xIdx[o + k]);
  }
  const std::size_t usedLen = static_cast<std::size_t>(cMax - cMin + 1) * C;

  constexpr float kMax = static_cast<float>(std::numeric_limits<T>::max());
  for (int y = y0; y < y1; ++y) {
    const int ny = AxisTaps(filter, srcY(y), srcY(y + 1.0), yLo, yHi, ky, yIdx, yw);
    // Columns: combine the source rows into the float row.
    {
      const T* s = RowPtr(pSrc, srcStep, yIdx[0]) + static_cast<std::ptrdiff_t>(cMin) * C;
      const float w0 = yw[0];
      for (std::size_t i = 0; i < usedLen; ++i) row[i] = w0 * static_cast<float>(s[i]);
    }
    for (int k = 1; k < ny; ++k) {
      const T* s = RowPtr(pSrc, srcStep, yIdx[k]) + static_cast<std::ptrdiff_t>(cMin) * C;
      const float wk = yw[k];
      for (std::size_t i = 0; i < usedLen; ++i) row[i] += wk * static_cast<float>(s[i]);
    }
    // Rows: combine the columns of the float row into the destination pixels.
    T* d = RowPtr(pDst, dstStep, y) + static_cast<std::ptrdiff_t>(x0) * C;
    for (int x = 0; x < nDst; ++x, d += C) {
      const std::size_t o = static_cast<std::size_t>(x) * kx;
      float acc[C] = {};
      for (int k = 0; k < xCount[x]; ++k) {
        const float* p = row + static_cast<std::size_t>(xIdx[o + k] - cMin) * C;
        for (int c = 0; c < C; ++c) acc[c] += xw[o + k] * p[c];
      }
      for (int c = 0; c < C; ++c) {
        const float v = std::clamp(acc[c] + 0.5f, 0.0f, kMax);
        d[c] = static_cast<T>(v);  // truncation after +0.5: round half up
      }
    }
  }
  nx::_ippFree(block);
  return ippStsNoErr;
}

}  // namespace

// ------------------------------------------------------------------ entry points

IppStatus ippiCopy_8u_C4R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roiSize) {
  return CopyRows(pSrc, srcStep, pDst, dstStep, roiSize, 4);
}

IppStatus ippiCopy_32s_C1R(const Ipp32s* pSrc, int srcStep, Ipp32s* pDst, int dstStep, IppiSize roiSize) {
  return CopyRows(pSrc, srcStep, pDst, dstStep, roiSize, sizeof(Ipp32s));
}

IppStatus ippiSet_8u_C4R(const Ipp8u value[4], Ipp8u* pDst, int dstStep, IppiSize roiSize) {
  if (!value || !pDst) return ippStsNullPtrErr;
  if (BadSize(roiSize)) return ippStsSizeErr;
  if (dstStep < 1) return ippStsStepErr;
  const Ipp8u v0 = value[0], v1 = value[1], v2 = value[2], v3 = value[3];
  for (int y = 0; y < roiSize.height; ++y) {
    Ipp8u* d = RowPtr(pDst, dstStep, y);
    for (int x = 0; x < roiSize.width; ++x, d += 4) d[0] = v0, d[1] = v1, d[2] = v2, d[3] = v3;
  }
  return ippStsNoErr;
}

IppStatus ippiMirror_8u_C4R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roiSize,
                            IppiAxis flip) {
  return MirrorCopy<4>(pSrc, srcStep, pDst, dstStep, roiSize, flip);
}

IppStatus ippiMirror_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roiSize,
                            IppiAxis flip) {
  return MirrorCopy<3>(pSrc, srcStep, pDst, dstStep, roiSize, flip);
}

IppStatus ippiMirror_8u_C3IR(Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, IppiAxis flip) {
  if (!pSrcDst) return ippStsNullPtrErr;
  if (BadSize(roiSize)) return ippStsSizeErr;
  if (BadAxis(flip)) return ippStsMirrorFlipErr;
  const int w = roiSize.width, h = roiSize.height;
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
  if (flip == ippAxsVertical) {
    for (int y = 0; y < h; ++y) ReverseRow3(RowPtr(pSrcDst, srcDstStep, y), w);
    return ippStsNoErr;
  }
  // Row pairs from the outside in; an odd middle row stays (horizontal) or is
  // reversed on its own (both).
  for (int y = 0; y < h / 2; ++y) {
    Ipp8u* top = RowPtr(pSrcDst, srcDstStep, y);
    Ipp8u* bottom = RowPtr(pSrcDst, srcDstStep, h - 1 - y);
    if (flip == ippAxsHorizontal) {
      std::swap_ranges(top, top + rowBytes, bottom);
    } else {
      for (int x = 0; x < w; ++x) SwapPixel3(top + 3 * x, bottom + 3 * (w - 1 - x));
    }
  }
  if (flip == ippAxsBoth && (h & 1)) ReverseRow3(RowPtr(pSrcDst, srcDstStep, h / 2), w);
  return ippStsNoErr;
}

IppStatus ippiAlphaComp_8u_AC4R(const Ipp8u* pSrc1, int src1Step, const Ipp8u* pSrc2, int src2Step, Ipp8u* pDst,
                                int dstStep, IppiSize roiSize, IppiAlphaType alphaType) {
  if (!pSrc1 || !pSrc2 || !pDst) return ippStsNullPtrErr;
  if (BadSize(roiSize)) return ippStsSizeErr;
  if (alphaType < ippAlphaOver || alphaType > ippAlphaPlusPremul) return ippStsAlphaTypeErr;
  const bool premul = alphaType >= ippAlphaOverPremul;
  switch (alphaType % 6) {
    case 0: AlphaCompForm<EComp::Over>(premul, pSrc1, src1Step, pSrc2, src2Step, pDst, dstStep, roiSize); break;
    case 1: AlphaCompForm<EComp::In>(premul, pSrc1, src1Step, pSrc2, src2Step, pDst, dstStep, roiSize); break;
    case 2: AlphaCompForm<EComp::Out>(premul, pSrc1, src1Step, pSrc2, src2Step, pDst, dstStep, roiSize); break;
    case 3: AlphaCompForm<EComp::ATop>(premul, pSrc1, src1Step, pSrc2, src2Step, pDst, dstStep, roiSize); break;
    case 4: AlphaCompForm<EComp::Xor>(premul, pSrc1, src1Step, pSrc2, src2Step, pDst, dstStep, roiSize); break;
    default: AlphaCompForm<EComp::Plus>(premul, pSrc1, src1Step, pSrc2, src2Step, pDst, dstStep, roiSize); break;
  }
  return ippStsNoErr;
}

// Per channel, inputs v with levels[k] <= v < levels[k+1] map linearly from
// values[k] towards values[k+1] (integer arithmetic, quotient truncated toward
// zero, result saturated to 0..255); the first matching interval wins. Inputs
// outside every interval (below levels[0], from levels[n-1] up) pass through
// unchanged.
IppStatus ippiLUT_Linear_8u_C4R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roiSize,
                                const Ipp32s* pValues[4], const Ipp32s* pLevels[4], int nLevels[4]) {
  if (!pSrc || !pDst || !pValues || !pLevels || !nLevels) return ippStsNullPtrErr;
  for (int c = 0; c < 4; ++c)
    if (!pValues[c] || !pLevels[c]) return ippStsNullPtrErr;
  if (BadSize(roiSize)) return ippStsSizeErr;
  for (int c = 0; c < 4; ++c)
    if (nLevels[c] < 2) return ippStsLUTNofLevelsErr;

  Ipp8u table[4][256];
  for (int c = 0; c < 4; ++c) {
    const Ipp32s* lv = pLevels[c];
    const Ipp32s* va = pValues[c];
    for (int v = 0; v < 256; ++v) {
      table[c][v] = static_cast<Ipp8u>(v);
      for (int k = 0; k + 1 < nLevels[c]; ++k) {
        if (lv[k] <= v && v < lv[k + 1]) {
          const std::int64_t r = va[k] + (static_cast<std::int64_t>(v) - lv[k]) *
                                             (static_cast<std::int64_t>(va[k + 1]) - va[k]) /
                                             (static_cast<std::int64_t>(lv[k + 1]) - lv[k]);
          table[c][v] = static_cast<Ipp8u>(std::clamp<std::int64_t>(r, 0, 255));
          break;
        }
      }
    }
  }
  for (int y = 0; y < roiSize.height; ++y) {
    const Ipp8u* s = RowPtr(pSrc, srcStep, y);
    Ipp8u* d = RowPtr(pDst, dstStep, y);
    for (int i = 0; i < 4 * roiSize.width; i += 4) {
      const Ipp8u s0 = s[i], s1 = s[i + 1], s2 = s[i + 2], s3 = s[i + 3];  // in place is allowed
      d[i] = table[0][s0], d[i + 1] = table[1][s1], d[i + 2] = table[2][s2], d[i + 3] = table[3][s3];
    }
  }
  return ippStsNoErr;
}

IppStatus ippiNormDiff_L1_8u_C1R(const Ipp8u* pSrc1, int src1Step, const Ipp8u* pSrc2, int src2Step,
                                 IppiSize roiSize, Ipp64f* pValue) {
  return NormDiffRows(pSrc1, src1Step, pSrc2, src2Step, roiSize, pValue,
                      [](const Ipp8u* a, const Ipp8u* b, int w, std::uint64_t acc) {
                        for (int x = 0; x < w; ++x) acc += AbsDiff(a[x], b[x]);
                        return acc;
                      });
}

IppStatus ippiNormDiff_L2_8u_C1R(const Ipp8u* pSrc1, int src1Step, const Ipp8u* pSrc2, int src2Step,
                                 IppiSize roiSize, Ipp64f* pValue) {
  const IppStatus st = NormDiffRows(pSrc1, src1Step, pSrc2, src2Step, roiSize, pValue,
                                    [](const Ipp8u* a, const Ipp8u* b, int w, std::uint64_t acc) {
                                      for (int x = 0; x < w; ++x) {
                                        const int d = static_cast<int>(a[x]) - b[x];
                                        acc += static_cast<std::uint64_t>(d * d);
                                      }
                                      return acc;
                                    });
  if (st == ippStsNoErr) *pValue = nx::_sqrt(*pValue);
  return st;
}

IppStatus ippiNormDiff_Inf_8u_C1R(const Ipp8u* pSrc1, int src1Step, const Ipp8u* pSrc2, int src2Step,
                                  IppiSize roiSize, Ipp64f* pValue) {
  return NormDiffRows(pSrc1, src1Step, pSrc2, src2Step, roiSize, pValue,
                      [](const Ipp8u* a, const Ipp8u* b, int w, std::uint64_t acc) {
                        unsigned m = static_cast<unsigned>(acc);
                        for (int x = 0; x < w; ++x) m = std::max(m, AbsDiff(a[x], b[x]));
                        return static_cast<std::uint64_t>(m);
                      });
}

IppStatus ippiResizeCenter_8u_C1R(const Ipp8u* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* pDst,
                                  int dstStep, IppiSize dstRoiSize, double xFactor, double yFactor, double xCenter,
                                  double yCenter, int interpolation) {
  return ResizeCenter<1>(pSrc, srcSize, srcStep, srcRoi, pDst, dstStep, dstRoiSize, xFactor, yFactor, xCenter,
                         yCenter, interpolation);
}

IppStatus ippiResizeCenter_8u_C3R(const Ipp8u* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* pDst,
                                  int dstStep, IppiSize dstRoiSize, double xFactor, double yFactor, double xCenter,
                                  double yCenter, int interpolation) {
  return ResizeCenter<3>(pSrc, srcSize, srcStep, srcRoi, pDst, dstStep, dstRoiSize, xFactor, yFactor, xCenter,
                         yCenter, interpolation);
}

IppStatus ippiResizeCenter_8u_C4R(const Ipp8u* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* pDst,
                                  int dstStep, IppiSize dstRoiSize, double xFactor, double yFactor, double xCenter,
                                  double yCenter, int interpolation) {
  return ResizeCenter<4>(pSrc, srcSize, srcStep, srcRoi, pDst, dstStep, dstRoiSize, xFactor, yFactor, xCenter,
                         yCenter, interpolation);
}

IppStatus ippiResizeCenter_16u_C1R(const Ipp16u* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp16u* pDst,
                                   int dstStep, IppiSize dstRoiSize, double xFactor, double yFactor, double xCenter,
                                   double yCenter, int interpolation) {
  return ResizeCenter<1>(pSrc, srcSize, srcStep, srcRoi, pDst, dstStep, dstRoiSize, xFactor, yFactor, xCenter,
                         yCenter, interpolation);
}

}  // namespace nx::builtin
