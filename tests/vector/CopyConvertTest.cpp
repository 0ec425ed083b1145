// Initialisation, copying and conversion primitives: every dispatched routine
// against its scalar twin on random data with special values, unaligned
// pointers and guard regions, plus saturation, rounding, scaling, overlap and
// the argument errors.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace nx {
namespace {

constexpr unsigned char kCanary = 0xA5;

// Raw bytes with guard regions around the destination, preset to the canary.
struct GuardedBytes {
  static constexpr std::size_t kGuard = 64;
  std::vector<unsigned char> raw;
  unsigned char* data;
  std::size_t bytes;
  GuardedBytes(std::size_t n, std::size_t offset) : raw(n + 2 * kGuard + 16, kCanary), bytes(n) {
    // raw.data() is 16-byte aligned; offset shifts the destination off alignment.
    data = raw.data() + kGuard + offset;
  }
  bool GuardsIntact() const {
    for (const unsigned char* p = raw.data(); p < data; ++p)
      if (*p != kCanary) return false;
    for (const unsigned char* p = data + bytes; p < raw.data() + raw.size(); ++p)
      if (*p != kCanary) return false;
    return true;
  }
  bool Untouched() const {
    for (unsigned char b : raw)
      if (b != kCanary) return false;
    return true;
  }
};

// Random source bytes shaped for the element type: floats get NaN, +-Inf, -0,
// denormals, values beyond FLT_MAX and values near the int32 limits mixed in.
template <typename T>
std::vector<T> RandomElements(std::mt19937& rng, int n) {
  std::vector<T> v(static_cast<std::size_t>(n));
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (auto& x : v) {
    if constexpr (std::is_floating_point_v<T>) {
      const double r = u(rng);
      if (r < 0.04) {
        const T specials[] = {std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::infinity(),
                              -std::numeric_limits<T>::infinity(), -T(0), std::numeric_limits<T>::denorm_min(),
                              T(2.5), T(-2.5), T(0.5), T(-0.5), T(2147483520.0), T(-2147483648.0)};
        x = specials[static_cast<std::size_t>(u(rng) * std::size(specials)) % std::size(specials)];
      } else if (r < 0.5) {
        x = static_cast<T>((u(rng) - 0.5) * 2000.0);  // small: rounding matters
      } else {
        x = static_cast<T>((u(rng) < 0.5 ? -1 : 1) * std::pow(10.0, u(rng) * (sizeof(T) == 8 ? 90.0 : 76.0) - 38.0));
      }
    } else {
      std::uniform_int_distribution<std::int64_t> ui(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
      x = static_cast<T>(ui(rng));
    }
  }
  return v;
}

// One routine under test: `call` runs the dispatched routine (ref = false) or
// its twin on `n` elements from src into dst.
struct Case {
  std::string name;
  std::size_t dstSize;  // bytes per destination element
  bool usesSrc;
  std::function<IppStatus(bool ref, const void* src, void* dst, int n)> call;
  std::function<std::vector<unsigned char>(std::mt19937&, int)> makeSrc;
};

template <typename T>
std::function<std::vector<unsigned char>(std::mt19937&, int)> Source() {
  return [](std::mt19937& rng, int n) {
    const auto v = RandomElements<T>(rng, n);
    std::vector<unsigned char> b(v.size() * sizeof(T));
    std::memcpy(b.data(), v.data(), b.size());
    return b;
  };
}

#define NX_SEL(ref, fn) ((ref) ? &reference::fn : nx::fn)
#define NX_SRC(T) static_cast<const T*>(s)
#define NX_DST(T) static_cast<T*>(d)

std::vector<Case> Cases() {
  const Ipp64fc c{1.25, -7.5};
  return {
      {"Zero_8u", 1, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsZero_8u)(NX_DST(Ipp8u), n); }, Source<Ipp8u>()},
      {"Zero_16s", 2, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsZero_16s)(NX_DST(Ipp16s), n); }, Source<Ipp8u>()},
      {"Zero_32s", 4, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsZero_32s)(NX_DST(Ipp32s), n); }, Source<Ipp8u>()},
      {"Zero_32f", 4, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsZero_32f)(NX_DST(Ipp32f), n); }, Source<Ipp8u>()},
      {"Zero_64f", 8, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsZero_64f)(NX_DST(Ipp64f), n); }, Source<Ipp8u>()},
      {"Zero_64fc", 16, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsZero_64fc)(NX_DST(Ipp64fc), n); }, Source<Ipp8u>()},
      {"Set_8u", 1, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsSet_8u)(0x3C, NX_DST(Ipp8u), n); }, Source<Ipp8u>()},
      {"Set_32s", 4, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsSet_32s)(-123456, NX_DST(Ipp32s), n); }, Source<Ipp8u>()},
      {"Set_32f", 4, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsSet_32f)(-0.0f, NX_DST(Ipp32f), n); }, Source<Ipp8u>()},
      {"Set_64f", 8, false, [](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsSet_64f)(3.75, NX_DST(Ipp64f), n); }, Source<Ipp8u>()},
      {"Set_64fc", 16, false, [c](bool r, const void*, void* d, int n) { return NX_SEL(r, ippsSet_64fc)(c, NX_DST(Ipp64fc), n); }, Source<Ipp8u>()},
      {"Copy_8u", 1, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsCopy_8u)(NX_SRC(Ipp8u), NX_DST(Ipp8u), n); }, Source<Ipp8u>()},
      {"Copy_32f", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsCopy_32f)(NX_SRC(Ipp32f), NX_DST(Ipp32f), n); }, Source<Ipp32f>()},
      {"Copy_64f", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsCopy_64f)(NX_SRC(Ipp64f), NX_DST(Ipp64f), n); }, Source<Ipp64f>()},
      {"Move_64f", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsMove_64f)(NX_SRC(Ipp64f), NX_DST(Ipp64f), n); }, Source<Ipp64f>()},
      {"Move_8u", 1, true, [](bool r, const void* s, void* d, int n) { return (r ? &reference::ippsMove_8u : NXScopeDispatcher::ippsMove_8u)(NX_SRC(Ipp8u), NX_DST(Ipp8u), n); }, Source<Ipp8u>()},
      {"Convert_32f64f", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_32f64f)(NX_SRC(Ipp32f), NX_DST(Ipp64f), n); }, Source<Ipp32f>()},
      {"Convert_64f32f", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32f)(NX_SRC(Ipp64f), NX_DST(Ipp32f), n); }, Source<Ipp64f>()},
      {"Scope Convert_64f32f", 4, true, [](bool r, const void* s, void* d, int n) { return (r ? &reference::ippsConvert_64f32f : NXScopeDispatcher::ippsConvert_64f32f)(NX_SRC(Ipp64f), NX_DST(Ipp32f), n); }, Source<Ipp64f>()},
      {"Convert_32s64f", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_32s64f)(NX_SRC(Ipp32s), NX_DST(Ipp64f), n); }, Source<Ipp32s>()},
      {"Convert_32s32f", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_32s32f)(NX_SRC(Ipp32s), NX_DST(Ipp32f), n); }, Source<Ipp32s>()},
      {"Convert_16s64f_Sfs 3", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_16s64f_Sfs)(NX_SRC(Ipp16s), NX_DST(Ipp64f), n, 3); }, Source<Ipp16s>()},
      {"Convert_16s64f_Sfs -1100", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_16s64f_Sfs)(NX_SRC(Ipp16s), NX_DST(Ipp64f), n, -1100); }, Source<Ipp16s>()},
      {"Convert_16s64f_Sfs 1030", 8, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_16s64f_Sfs)(NX_SRC(Ipp16s), NX_DST(Ipp64f), n, 1030); }, Source<Ipp16s>()},
      {"Convert_64f32s_Sfs near 0", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32s_Sfs)(NX_SRC(Ipp64f), NX_DST(Ipp32s), n, ippRndNear, 0); }, Source<Ipp64f>()},
      {"Convert_64f32s_Sfs zero 0", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32s_Sfs)(NX_SRC(Ipp64f), NX_DST(Ipp32s), n, ippRndZero, 0); }, Source<Ipp64f>()},
      {"Convert_64f32s_Sfs near 5", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32s_Sfs)(NX_SRC(Ipp64f), NX_DST(Ipp32s), n, ippRndNear, 5); }, Source<Ipp64f>()},
      {"Convert_64f32s_Sfs near -40", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32s_Sfs)(NX_SRC(Ipp64f), NX_DST(Ipp32s), n, ippRndNear, -40); }, Source<Ipp64f>()},
      {"Convert_64f32s_Sfs other -1500", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32s_Sfs)(NX_SRC(Ipp64f), NX_DST(Ipp32s), n, 7, -1500); }, Source<Ipp64f>()},
      {"Convert_64f32s_Sfs near 1100", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_64f32s_Sfs)(NX_SRC(Ipp64f), NX_DST(Ipp32s), n, ippRndNear, 1100); }, Source<Ipp64f>()},
      {"Convert_32f32s_Sfs near 0", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_32f32s_Sfs)(NX_SRC(Ipp32f), NX_DST(Ipp32s), n, ippRndNear, 0); }, Source<Ipp32f>()},
      {"Convert_32f32s_Sfs zero 2", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_32f32s_Sfs)(NX_SRC(Ipp32f), NX_DST(Ipp32s), n, ippRndZero, 2); }, Source<Ipp32f>()},
      {"Convert_32f32s_Sfs near -3", 4, true, [](bool r, const void* s, void* d, int n) { return NX_SEL(r, ippsConvert_32f32s_Sfs)(NX_SRC(Ipp32f), NX_DST(Ipp32s), n, ippRndNear, -3); }, Source<Ipp32f>()},
  };
}

// NaN results compare equal whatever their payload; everything else bit for bit.
bool SameElement(const Case& c, const unsigned char* a, const unsigned char* b) {
  if (std::memcmp(a, b, c.dstSize) == 0) return true;
  const bool floatDst = c.name.find("Convert") != std::string::npos && c.name.find("32s_Sfs") == std::string::npos;
  if (floatDst && c.dstSize == 8) {
    double x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    return std::isnan(x) && std::isnan(y);
  }
  if (floatDst && c.dstSize == 4) {
    float x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return std::isnan(x) && std::isnan(y);
  }
  return false;
}

TEST(CopyConvertKernels, MatchScalarTwins) {
  std::mt19937 rng(4321);
  std::vector<int> sizes = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100003};
  std::uniform_int_distribution<int> u(1, 1000);
  for (int i = 0; i < 25; ++i) sizes.push_back(u(rng));
  for (const auto& c : Cases()) {
    for (int n : sizes) {
      for (std::size_t offset : {std::size_t{0}, c.dstSize}) {
        SCOPED_TRACE(c.name + " len " + std::to_string(n) + " offset " + std::to_string(offset));
        // The source is shifted by one byte-sized element type's width as well.
        const auto srcBytes = c.makeSrc(rng, n + 1);
        const std::size_t srcElem = srcBytes.size() / static_cast<std::size_t>(n + 1);
        const void* src = srcBytes.data() + (offset ? srcElem : 0);
        GuardedBytes got(static_cast<std::size_t>(n) * c.dstSize, offset);
        GuardedBytes want(static_cast<std::size_t>(n) * c.dstSize, offset);
        EXPECT_EQ(c.call(false, src, got.data, n), ippStsNoErr);
        EXPECT_EQ(c.call(true, src, want.data, n), ippStsNoErr);
        EXPECT_TRUE(got.GuardsIntact());
        int bad = 0;
        for (int i = 0; i < n && bad < 5; ++i) {
          const std::size_t at = static_cast<std::size_t>(i) * c.dstSize;
          if (!SameElement(c, got.data + at, want.data + at)) {
            ADD_FAILURE() << "element " << i << " differs";
            ++bad;
          }
        }
      }
    }
  }
}

TEST(CopyConvertKernels, NullPointersAndBadLengthsWriteNothing) {
  const std::vector<unsigned char> src(256, 1);
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.name);
    for (bool ref : {false, true}) {
      GuardedBytes dst(8 * c.dstSize, 0);
      if (c.usesSrc) {
        EXPECT_EQ(c.call(ref, nullptr, dst.data, 8), ippStsNullPtrErr);
      }
      EXPECT_EQ(c.call(ref, src.data(), nullptr, 8), ippStsNullPtrErr);
      EXPECT_EQ(c.call(ref, src.data(), nullptr, 0), ippStsNullPtrErr);  // pointers first
      EXPECT_EQ(c.call(ref, src.data(), dst.data, 0), ippStsSizeErr);
      EXPECT_EQ(c.call(ref, src.data(), dst.data, -1), ippStsSizeErr);
      EXPECT_TRUE(dst.Untouched());
    }
  }
}

std::uint32_t FloatBits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

TEST(CopyConvertValues, DoubleToSingleSaturates) {
  const double src[] = {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), 3.4028235677973366e38, 1.5, -0.0};
  float dst[8];
  ASSERT_EQ(ippsConvert_64f32f(src, dst, 8), ippStsNoErr);
  EXPECT_EQ(FloatBits(dst[0]), 0x7F7FFFFFu);
  EXPECT_EQ(FloatBits(dst[1]), 0xFF7FFFFFu);
  EXPECT_EQ(FloatBits(dst[2]), 0xFF7FFFFFu);  // NaN
  EXPECT_EQ(FloatBits(dst[3]), 0x7F7FFFFFu);
  EXPECT_EQ(FloatBits(dst[4]), 0xFF7FFFFFu);
  EXPECT_EQ(FloatBits(dst[5]), 0x7F7FFFFFu);  // just above FLT_MAX, would round to Inf
  EXPECT_EQ(dst[6], 1.5f);
  EXPECT_EQ(FloatBits(dst[7]), 0x80000000u);
}

TEST(CopyConvertValues, RoundingConversions) {
  const double src[] = {2.5, 3.5, -2.5, 3e9, -3e9, 2147483647.0, -2147483648.0, 2147483646.5, -2.7, 0.5};
  Ipp32s dst[10];
  ASSERT_EQ(ippsConvert_64f32s_Sfs(src, dst, 10, ippRndNear, 0), ippStsNoErr);
  const Ipp32s nearWant[] = {2, 4, -2, 2147483647, -2147483647 - 1, 2147483647, -2147483647 - 1, 2147483646, -3, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(dst[i], nearWant[i]) << i;
  ASSERT_EQ(ippsConvert_64f32s_Sfs(src, dst, 10, ippRndZero, 0), ippStsNoErr);
  const Ipp32s zeroWant[] = {2, 3, -2, 2147483647, -2147483647 - 1, 2147483647, -2147483647 - 1, 2147483646, -2, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(dst[i], zeroWant[i]) << i;
  // A positive scale factor divides: 10 / 4 = 2.5 -> 2, 14 / 4 = 3.5 -> 4; a negative one multiplies.
  const double scaled[] = {10.0, 14.0, -10.0, 1.5};
  ASSERT_EQ(ippsConvert_64f32s_Sfs(scaled, dst, 4, ippRndNear, 2), ippStsNoErr);
  EXPECT_EQ(dst[0], 2);
  EXPECT_EQ(dst[1], 4);
  EXPECT_EQ(dst[2], -2);
  EXPECT_EQ(dst[3], 0);
  ASSERT_EQ(ippsConvert_64f32s_Sfs(scaled, dst, 4, ippRndNear, -3), ippStsNoErr);
  EXPECT_EQ(dst[0], 80);
  EXPECT_EQ(dst[3], 12);
  ASSERT_EQ(ippsConvert_64f32s_Sfs(scaled, dst, 4, ippRndNear, -40), ippStsNoErr);
  EXPECT_EQ(dst[0], 2147483647);
  EXPECT_EQ(dst[2], -2147483647 - 1);
  const float fsrc[] = {2.5f, -2.7f, 5e9f, 6.0f};
  ASSERT_EQ(ippsConvert_32f32s_Sfs(fsrc, dst, 4, ippRndNear, 0), ippStsNoErr);
  EXPECT_EQ(dst[0], 2);
  EXPECT_EQ(dst[1], -3);
  EXPECT_EQ(dst[2], 2147483647);
  ASSERT_EQ(ippsConvert_32f32s_Sfs(fsrc, dst, 4, ippRndZero, 1), ippStsNoErr);
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[1], -1);
  EXPECT_EQ(dst[3], 3);
}

TEST(CopyConvertValues, ScaledShortsUseTheClampedFactor) {
  const Ipp16s src[] = {3, -32768, 1, 0};
  double dst[4];
  ASSERT_EQ(ippsConvert_16s64f_Sfs(src, dst, 4, 1), ippStsNoErr);
  EXPECT_EQ(dst[0], 1.5);  // no rounding
  EXPECT_EQ(dst[1], -16384.0);
  ASSERT_EQ(ippsConvert_16s64f_Sfs(src, dst, 4, -2000), ippStsNoErr);  // acts as -1008
  EXPECT_EQ(dst[2], std::ldexp(1.0, 1008));
  EXPECT_EQ(dst[1], -std::ldexp(1.0, 1023));
  ASSERT_EQ(ippsConvert_16s64f_Sfs(src, dst, 4, 5000), ippStsNoErr);  // acts as 1022
  EXPECT_EQ(dst[2], std::ldexp(1.0, -1022));
}

TEST(CopyConvertValues, SixtyFourBitIntegersToDoubles) {
  const Ipp64u u[] = {0, 1, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0x8000000000000401ull, 0x8000000000000C00ull,
                      0x20000000000001ull, 0x7FFFFFFFFFFFFFFFull, 12345678901234567ull};
  constexpr int kN = static_cast<int>(std::size(u));
  // Long enough that the vector loop runs, not only the tail.
  std::vector<Ipp64u> us;
  for (int r = 0; r < 9; ++r) us.insert(us.end(), u, u + kN);
  std::vector<Ipp64f> d(us.size(), -1.0);
  NXBasicDispatcher::ippsConvert_64u64f(us.data(), d.data(), static_cast<int>(us.size()));
  for (std::size_t i = 0; i < us.size(); ++i) EXPECT_EQ(d[i], static_cast<double>(us[i])) << us[i];
  EXPECT_EQ(d[2], 9223372036854775808.0);
  EXPECT_EQ(d[3], 18446744073709551616.0);
  std::vector<Ipp64s> ss;
  for (Ipp64u x : us) ss.push_back(static_cast<Ipp64s>(x));
  NXBasicDispatcher::ippsConvert_64s64f(ss.data(), d.data(), static_cast<int>(ss.size()));
  for (std::size_t i = 0; i < ss.size(); ++i) EXPECT_EQ(d[i], static_cast<double>(ss[i])) << ss[i];
  // No status: bad arguments simply write nothing.
  double guard = 42.0;
  NXBasicDispatcher::ippsConvert_64u64f(us.data(), &guard, 0);
  NXBasicDispatcher::ippsConvert_64s64f(nullptr, &guard, 1);
  EXPECT_EQ(guard, 42.0);
}

TEST(CopyConvertValues, MoveHandlesOverlapBothWays) {
  std::vector<Ipp64f> v(300);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i);
  ASSERT_EQ(ippsMove_64f(v.data(), v.data() + 3, 250), ippStsNoErr);  // forward overlap
  for (int i = 0; i < 250; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i) + 3], i);
  ASSERT_EQ(ippsMove_64f(v.data() + 3, v.data(), 250), ippStsNoErr);  // backward overlap
  for (int i = 0; i < 250; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i)], i);
  std::vector<Ipp8u> b(100);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<Ipp8u>(i);
  ASSERT_EQ(NXScopeDispatcher::ippsMove_8u(b.data(), b.data() + 1, 99), ippStsNoErr);
  for (int i = 0; i < 99; ++i) EXPECT_EQ(b[static_cast<std::size_t>(i) + 1], i);
}

TEST(CopyConvertDispatch, OneRoutineServesBothConvertPointers) {
  EXPECT_EQ(reinterpret_cast<const void*>(NXScopeDispatcher::ippsConvert_64f32f),
            reinterpret_cast<const void*>(NXBasicDispatcher::ippsConvert_64f32f));
  EXPECT_EQ(reinterpret_cast<const void*>(NXScopeDispatcher::ippsMove_8u), reinterpret_cast<const void*>(&builtin::ippsMove_8u));
}

}  // namespace
}  // namespace nx
