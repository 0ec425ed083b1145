// Initialisation, copy and conversion: twins, saturation, rounding, scaling, overlap.
#include "vector/KernelTables.h"

namespace nx {
namespace {

using namespace nxtest;
using E = TElem;

const Ipp64fc kC{1.25, -7.5};

std::vector<TTwinRow> TwinRows() {
  return {
      NX_TWIN(ippsZero_8u, (Out(E::U8)), a.U8(0), a.Len),
      NX_TWIN(ippsZero_16s, (Out(E::S16)), a.S16(0), a.Len),
      NX_TWIN(ippsZero_32s, (Out(E::S32)), a.S32(0), a.Len),
      NX_TWIN(ippsZero_32f, (Out(E::F32)), a.F32(0), a.Len),
      NX_TWIN(ippsZero_64f, (Out(E::F64)), a.F64(0), a.Len),
      NX_TWIN(ippsZero_64fc, (Out(E::C64)), a.C64(0), a.Len),
      NX_TWIN(ippsSet_8u, (Out(E::U8)), 0x3C, a.U8(0), a.Len),
      NX_TWIN(ippsSet_32s, (Out(E::S32)), -123456, a.S32(0), a.Len),
      NX_TWIN(ippsSet_32f, (Out(E::F32)), -0.0f, a.F32(0), a.Len),
      NX_TWIN(ippsSet_64f, (Out(E::F64)), 3.75, a.F64(0), a.Len),
      NX_TWIN(ippsSet_64fc, (Out(E::C64)), kC, a.C64(0), a.Len),
      NX_TWIN(ippsCopy_8u, (In(E::U8), Out(E::U8)), a.U8(0), a.U8(1), a.Len),
      NX_TWIN(ippsCopy_32f, (In(E::F32), Out(E::F32)), a.F32(0), a.F32(1), a.Len),
      NX_TWIN(ippsCopy_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsMove_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN_ROW(NXScopeDispatcher, ippsMove_8u, (In(E::U8), Out(E::U8)), a.U8(0), a.U8(1), a.Len),
      NX_TWIN(ippsConvert_32f64f, (In(E::F32), Out(E::F64)), a.F32(0), a.F64(1), a.Len),
      NX_TWIN(ippsConvert_64f32f, (In(E::F64), Out(E::F32)), a.F64(0), a.F32(1), a.Len),
      NX_TWIN_ROW(NXScopeDispatcher, ippsConvert_64f32f, (In(E::F64), Out(E::F32)), a.F64(0), a.F32(1), a.Len),
      NX_TWIN(ippsConvert_32s64f, (In(E::S32), Out(E::F64)), a.S32(0), a.F64(1), a.Len),
      NX_TWIN(ippsConvert_32s32f, (In(E::S32), Out(E::F32)), a.S32(0), a.F32(1), a.Len),
      NX_TWIN(ippsConvert_16s64f_Sfs, (In(E::S16), Out(E::F64)), a.S16(0), a.F64(1), a.Len, a.K1).Params({3, -1100, 1030}),  // beyond the clamps
      // K1 the rounding mode (7: any other), K2 the scale factor.
      NX_TWIN(ippsConvert_64f32s_Sfs, (In(E::F64), Out(E::S32)), a.F64(0), a.S32(1), a.Len, IppRoundMode(a.K1), a.K2)
          .Params({ippRndNear, ippRndZero, 7}, {0, 5, -40, -1500, 1100}),
      NX_TWIN(ippsConvert_32f32s_Sfs, (In(E::F32), Out(E::S32)), a.F32(0), a.S32(1), a.Len, IppRoundMode(a.K1), a.K2)
          .Params({ippRndNear, ippRndZero}, {0, 2, -3}),
  };
}

NX_SIMD_SUITE(CopyConvertKernels);

TEST_P(CopyConvertKernels, MatchScalarTwins) { RunTwinTable(TwinRows(), 4321); }

TEST(CopyConvertDispatch, EveryPrimitiveHasATest) { CheckPrimitiveGroups("CopyConvert", {TwinRows()}); }

TEST_P(CopyConvertKernels, DoubleToSingleSaturates) {
  // NaN goes to the lowest float; just above FLT_MAX would round to Inf.
  const double src[] = {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), 3.4028235677973366e38, 1.5, -0.0};
  const std::uint32_t want[] = {0x7F7FFFFFu, 0xFF7FFFFFu, 0xFF7FFFFFu, 0x7F7FFFFFu,
                                0xFF7FFFFFu, 0x7F7FFFFFu, BitsOf(1.5f), 0x80000000u};
  float dst[8];
  ASSERT_EQ(ippsConvert_64f32f(src, dst, 8), ippStsNoErr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(BitsOf(dst[i]), want[i]) << i;
}

// Rounding modes and saturation; a positive scale factor divides, a negative one multiplies. 64-bit integers; Move.
TEST_P(CopyConvertKernels, RoundingConversions64BitIntegersAndMove) {
  const Ipp32s kMax = INT32_MAX, kMin = INT32_MIN;
  const std::vector<double> src = {2.5, 3.5, -2.5, 3e9, -3e9, 2147483647.0, -2147483648.0, 2147483646.5, -2.7, 0.5};
  const std::vector<double> scaled = {10.0, 14.0, -10.0, 1.5};
  const struct {
    const std::vector<double>& Src;
    IppRoundMode Mode;
    int Sf;
    std::vector<Ipp32s> Want;
  } cases[] = {
      {src, ippRndNear, 0, {2, 4, -2, kMax, kMin, kMax, kMin, 2147483646, -3, 0}},
      {src, ippRndZero, 0, {2, 3, -2, kMax, kMin, kMax, kMin, 2147483646, -2, 0}},
      {scaled, ippRndNear, 2, {2, 4, -2, 0}},
      {scaled, ippRndNear, -3, {80, 112, -80, 12}},
      {scaled, ippRndNear, -40, {kMax, kMax, kMin, kMax}},
  };
  for (const auto& c : cases) {
    std::vector<Ipp32s> dst(c.Src.size());
    const int n = static_cast<int>(dst.size());
    ASSERT_EQ(ippsConvert_64f32s_Sfs(c.Src.data(), dst.data(), n, c.Mode, c.Sf), ippStsNoErr);
    EXPECT_EQ(dst, c.Want) << "mode " << c.Mode << " sf " << c.Sf;
  }
  const float fsrc[] = {2.5f, -2.7f, 5e9f, 6.0f};
  Ipp32s dst[4];
  ASSERT_EQ(ippsConvert_32f32s_Sfs(fsrc, dst, 4, ippRndZero, 1), ippStsNoErr);
  EXPECT_EQ(Vec(dst, 4), (std::vector<Ipp32s>{1, -1, kMax, 3}));
  // 64-bit integers to doubles; no status: bad arguments simply write nothing.
  const Ipp64u u[] = {0, 1, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0x8000000000000401ull, 0x8000000000000C00ull,
                      0x20000000000001ull, 0x7FFFFFFFFFFFFFFFull, 12345678901234567ull};
  constexpr int kN = static_cast<int>(std::size(u));
  // Long enough that the vector loop runs, not only the tail.
  std::vector<Ipp64u> us;
  for (int r = 0; r < 9; ++r) us.insert(us.end(), u, u + kN);
  std::vector<Ipp64f> d(us.size(), -1.0);
  NXBasicDispatcher::ippsConvert_64u64f(us.data(), d.data(), static_cast<int>(us.size()));
  for (std::size_t i = 0; i < us.size(); ++i) EXPECT_EQ(d[i], static_cast<double>(us[i])) << us[i];
  std::vector<Ipp64s> ss;
  for (Ipp64u x : us) ss.push_back(static_cast<Ipp64s>(x));
  NXBasicDispatcher::ippsConvert_64s64f(ss.data(), d.data(), static_cast<int>(ss.size()));
  for (std::size_t i = 0; i < ss.size(); ++i) EXPECT_EQ(d[i], static_cast<double>(ss[i])) << ss[i];
  double guard = 42.0;
  NXBasicDispatcher::ippsConvert_64u64f(us.data(), &guard, 0);
  NXBasicDispatcher::ippsConvert_64s64f(nullptr, &guard, 1);
  EXPECT_EQ(guard, 42.0);
  // Move handles overlap both ways.
  std::vector<Ipp64f> v(300);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i);
  ASSERT_EQ(ippsMove_64f(v.data(), v.data() + 3, 250), ippStsNoErr);  // forward overlap
  for (int i = 0; i < 250; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i) + 3], i);
  ASSERT_EQ(ippsMove_64f(v.data() + 3, v.data(), 250), ippStsNoErr);  // backward overlap
  for (int i = 0; i < 250; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i)], i);
}

}  // namespace
}  // namespace nx
