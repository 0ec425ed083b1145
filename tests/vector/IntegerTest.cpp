// Integer family: twins, hand-worked scaling, shift edges, byte swaps, 32u and DivC_32s faults.
#include "vector/KernelTables.h"

namespace nx {
namespace {

using namespace nxtest;
using E = TElem;

const std::vector<int> kScales = {0, 1, 2, 3, 7, 16, 30, 31, 32, 33, 40, 62, 63, 64, 1000, INT_MAX,
                                  -1, -2, -7, -16, -30, -31, -32, -33, -100, INT_MIN};
const std::vector<int> kConsts = {0, 1, -1, 12345, INT32_MIN, INT32_MAX};
const std::vector<int> kCounts = {-1, 0, 1, 5, 16, 30, 31, 32, 33, 100, INT_MIN, INT_MAX};
const std::vector<int> kMasks = {0, -1, 0x0F0F0F0F, static_cast<int>(0x80000001u)};

// Scaled forms: K1 the scale factor, K2 the constant; bitwise: K2 the mask; shifts: K1 the count.
std::vector<TTwinRow> TwinRows() {
  const auto s = E::S32, u = E::U32;
  return {
      NX_TWIN(ippsAdd_32s_ISfs, (In(s), InOut(s)), a.S32(0), a.S32(1), a.Len, a.K1).Params(kScales),
      NX_TWIN(ippsSub_32s_ISfs, (In(s), InOut(s)), a.S32(0), a.S32(1), a.Len, a.K1).Params(kScales),
      NX_TWIN(ippsAddC_32s_ISfs, (InOut(s)), a.K2, a.S32(0), a.Len, a.K1).Params(kScales, kConsts),
      NX_TWIN(ippsAddC_32s_Sfs, (In(s), Out(s)), a.S32(0), a.K2, a.S32(1), a.Len, a.K1).Params(kScales, kConsts),
      NX_TWIN(ippsSubC_32s_ISfs, (InOut(s)), a.K2, a.S32(0), a.Len, a.K1).Params(kScales, kConsts),
      NX_TWIN(ippsSubC_32s_Sfs, (In(s), Out(s)), a.S32(0), a.K2, a.S32(1), a.Len, a.K1).Params(kScales, kConsts),
      NX_TWIN(ippsSubCRev_32s_Sfs, (In(s), Out(s)), a.S32(0), a.K2, a.S32(1), a.Len, a.K1).Params(kScales, kConsts),
      NX_TWIN_ROW(NXScopeDispatcher, ippsSubCRev_32s_ISfs, (InOut(s)), a.K2, a.S32(0), a.Len, a.K1).Params(kScales, kConsts),
      NX_TWIN(ippsAnd_32u_I, (In(u), InOut(u)), a.U32(0), a.U32(1), a.Len),
      NX_TWIN(ippsAndC_32u, (In(u), Out(u)), a.U32(0), Ipp32u(a.K2), a.U32(1), a.Len).Params({0}, kMasks),
      NX_TWIN(ippsAndC_32u_I, (InOut(u)), Ipp32u(a.K2), a.U32(0), a.Len).Params({0}, kMasks),
      NX_TWIN(ippsOr_32u_I, (In(u), InOut(u)), a.U32(0), a.U32(1), a.Len),
      NX_TWIN(ippsOrC_32u, (In(u), Out(u)), a.U32(0), Ipp32u(a.K2), a.U32(1), a.Len).Params({0}, kMasks),
      NX_TWIN(ippsOrC_32u_I, (InOut(u)), Ipp32u(a.K2), a.U32(0), a.Len).Params({0}, kMasks),
      NX_TWIN(ippsXor_32u_I, (In(u), InOut(u)), a.U32(0), a.U32(1), a.Len),
      NX_TWIN(ippsXorC_32u, (In(u), Out(u)), a.U32(0), Ipp32u(a.K2), a.U32(1), a.Len).Params({0}, kMasks),
      NX_TWIN(ippsXorC_32u_I, (InOut(u)), Ipp32u(a.K2), a.U32(0), a.Len).Params({0}, kMasks),
      NX_TWIN(ippsLShiftC_32s, (In(s), Out(s)), a.S32(0), a.K1, a.S32(1), a.Len).Params(kCounts),
      NX_TWIN(ippsLShiftC_32s_I, (InOut(s)), a.K1, a.S32(0), a.Len).Params(kCounts),
      NX_TWIN(ippsRShiftC_32s, (In(s), Out(s)), a.S32(0), a.K1, a.S32(1), a.Len).Params(kCounts),
      NX_TWIN(ippsRShiftC_32s_I, (InOut(s)), a.K1, a.S32(0), a.Len).Params(kCounts),
      NX_TWIN(ippsSwapBytes_16u, (In(E::S16), Out(E::S16)), a.U16(0), a.U16(1), a.Len),
      NX_TWIN(ippsSwapBytes_24u, (In(E::B3), Out(E::B3)), a.U8(0), a.U8(1), a.Len),
      NX_TWIN(ippsSwapBytes_24u, (InOut(E::B3)), a.U8(0), a.U8(0), a.Len),  // in place
      NX_TWIN(ippsSwapBytes_32u, (In(u), Out(u)), a.U32(0), a.U32(1), a.Len),
      NX_TWIN(ippsSwapBytes_32u_I, (InOut(u)), a.U32(0), a.Len),
  };
}

NX_SIMD_SUITE(IntegerTwins);

TEST_P(IntegerTwins, SimdRoutinesMatchScalarTwins) { RunTwinTable(TwinRows(), 1234); }

TEST(IntegerDispatch, EveryPrimitiveHasATest) { CheckPrimitiveGroups("Integer", {TwinRows()}); }

NX_SIMD_SUITE(Integer32u);
NX_SIMD_SUITE(IntegerScaled);
NX_SIMD_SUITE(IntegerShift);

using TOneFn = Ipp32s (*)(Ipp32s, Ipp32s, int);
#define NX_ONE(T, fn) +[](Ipp32s a, Ipp32s b, int sf) { T d = T(a), s = T(b); EXPECT_EQ(fn(&s, &d, 1, sf), ippStsNoErr); return Ipp32s(d); }
#define NX_ONE_C(fn) +[](Ipp32s a, Ipp32s b, int sf) { Ipp32s d = 0; EXPECT_EQ(fn(&a, b, &d, 1, sf), ippStsNoErr); return d; }
#define NX_ONE_CI(fn) +[](Ipp32s a, Ipp32s b, int sf) { EXPECT_EQ(fn(b, &a, 1, sf), ippStsNoErr); return a; }

// One element per row {srcDst or src, src or constant, scale factor, result}.
TEST_P(IntegerScaled, OneElementCasesAndDotProduct) {
  const Ipp32s kMax = INT32_MAX, kMin = INT32_MIN;
  const struct {
    const char* Name;
    TOneFn Fn;
    std::vector<std::array<Ipp32s, 4>> Rows;
  } ops[] = {
      {"Add_8u", NX_ONE(Ipp8u, ippsAdd_8u_ISfs),
       {{100, 27, -1, 254}, {200, 100, 0, 255}, {3, 2, 1, 2}, {5, 2, 1, 4}, {255, 255, 9, 1}, {255, 255, 1000, 0},
        {0, 0, -8, 0}, {1, 0, INT_MIN, 255}}},
      {"Sub_8u", NX_ONE(Ipp8u, ippsSub_8u_ISfs), {{5, 10, 0, 0}}},
      {"Mul_8u", NX_ONE(Ipp8u, ippsMul_8u_ISfs), {{15, 17, 0, 255}, {16, 16, 0, 255}, {16, 16, 4, 16}}},
      {"Add_32s", NX_ONE(Ipp32s, ippsAdd_32s_ISfs),
       {{1, 2, 1, 2}, {1, 4, 1, 2}, {-1, -2, 1, -2}, {kMax, kMax, 1, kMax}, {kMax, kMax, 32, 1}, {kMin, kMin, 32, -1},
        {kMax, kMax, 33, 0}, {kMax, kMax, INT_MAX, 0}, {1, 0, -31, kMax}, {-1, 0, -31, kMin}, {0, 0, -31, 0},
        {1, 0, INT_MIN, kMax}, {3, 0, -1, 6}}},
      {"Sub_32s", NX_ONE(Ipp32s, ippsSub_32s_ISfs), {{kMin, 1, 0, kMin}}},
      {"SubCRev_32s", NX_ONE_C(ippsSubCRev_32s_Sfs), {{kMin, 0, 0, kMax}, {kMin, 0, 1, 1 << 30}}},
      {"SubCRev_32s_I", NX_ONE_CI(NXScopeDispatcher::ippsSubCRev_32s_ISfs), {{10, 3, 0, -7}}},
      {"SubC_32s", NX_ONE_C(ippsSubC_32s_Sfs), {{kMin, -1, 0, kMin + 1}}},
      {"Mul_32s", NX_ONE(Ipp32s, ippsMul_32s_ISfs),
       {{65536, 65536, 0, kMax}, {65536, 65536, 16, 65536}, {5, 3, 1, 8}, {3, 3, 1, 4}, {3, -3, 1, -4}}},
      {"MulC_32s", NX_ONE_C(ippsMulC_32s_Sfs), {{kMin, -1, 0, kMax}, {7, -1, 0, -7}}},
      {"MulC_32s_I", NX_ONE_CI(ippsMulC_32s_ISfs), {{kMin, kMin, 62, 1}, {-7, kMin, 62, 0}, {1, 5, 200, 0}}},
      {"Div_32s", NX_ONE(Ipp32s, ippsDiv_32s_ISfs),
       {{7, 2, 0, 4}, {5, 2, 0, 2}, {-5, 2, 0, -2}, {-7, 2, 0, -4}, {7, 2, 1, 2}, {1, 3, -2, 1}, {kMin, -1, 0, kMax},
        {kMin, -1, 1, 1 << 30}, {1, 1, -31, kMax}, {-1, kMax, INT_MIN, kMin}, {kMax, 1, 32, 0}, {kMin, 1, 31, -1},
        {5, 3, INT_MAX, 0}}},
  };
  for (const auto& op : ops)
    for (const auto& [a, b, sf, want] : op.Rows) EXPECT_EQ(op.Fn(a, b, sf), want) << op.Name << " " << a << ", " << b << " sf " << sf;
  // A zero divisor: the quotient saturates (0 / 0 gives 0) and the loop goes on.
  const Ipp32s den[] = {0, 0, 0, 4};
  Ipp32s num[] = {5, 0, -5, 10};
  EXPECT_EQ(ippsDiv_32s_ISfs(den, num, 4, 0), ippStsDivByZero);
  EXPECT_EQ(Vec(num, 4), (std::vector<Ipp32s>{INT32_MAX, 0, INT32_MIN, 2}));
  // The dot product's exact sum, scaled.
  const Ipp32s a[] = {1, 2, 3}, b[] = {4, 5, 6};  // 32
  for (auto [sf, want] : {std::pair{0, 32}, {3, 4}, {5, 1}, {-1, 64}, {-26, INT32_MAX}, {200, 0}, {-200, INT32_MAX}}) {
    Ipp32s dp = -99;
    ASSERT_EQ(ippsDotProd_32s_Sfs(a, b, 3, &dp, sf), ippStsNoErr);
    EXPECT_EQ(dp, want) << sf;
  }
  // Products that overflow 64 bits when summed: 2 * (2^31 - 1)^2 / 2^32 = 2^31 - 2 + 2^-31.
  const Ipp32s m[] = {INT32_MAX, INT32_MAX}, n[] = {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
  Ipp32s dp = 0;
  ASSERT_EQ(ippsDotProd_32s_Sfs(m, m, 2, &dp, 32), ippStsNoErr);
  EXPECT_EQ(dp, 2147483646);
  ASSERT_EQ(ippsDotProd_32s_Sfs(n, n, 4, &dp, 64), ippStsNoErr);  // 2^64 in all, beyond any 64-bit accumulator
  EXPECT_EQ(dp, 1);
  ASSERT_EQ(ippsDotProd_32s_Sfs(n, m, 2, &dp, 62), ippStsNoErr);  // -2 * (2^62 - 2^31) / 2^62 -> -2
  EXPECT_EQ(dp, -2);
  EXPECT_EQ(ippsDotProd_32s_Sfs(a, b, 0, &dp, 0), ippStsSizeErr);
  EXPECT_EQ(ippsDotProd_32s_Sfs(a, b, 3, nullptr, 0), ippStsNullPtrErr);
}

TEST_P(IntegerShift, EdgeCountsAndByteOrders) {
  const Ipp32s src[] = {1, -8, INT32_MAX, INT32_MIN, 5};
  const std::tuple<bool, int, std::vector<Ipp32s>> cases[] = {
      {true, 1, {2, -16, -2, 0, 10}},      {true, 31, {INT32_MIN, 0, INT32_MIN, 0, INT32_MIN}},
      {true, INT_MAX, {0, 0, 0, 0, 0}},     {false, 1, {0, -4, 0x3FFFFFFF, -0x40000000, 2}},
      {false, 31, {0, -1, 0, -1, 0}},       {false, 1000, {0, -1, 0, -1, 0}},
  };
  for (const auto& [left, count, want] : cases) {
    Ipp32s out[5], io[5];
    std::memcpy(io, src, sizeof src);
    ASSERT_EQ(left ? ippsLShiftC_32s(src, count, out, 5) : ippsRShiftC_32s(src, count, out, 5), ippStsNoErr);
    ASSERT_EQ(left ? ippsLShiftC_32s_I(count, io, 5) : ippsRShiftC_32s_I(count, io, 5), ippStsNoErr);
    EXPECT_EQ(Vec(out, 5), want) << (left ? "<<" : ">>") << count;
    EXPECT_EQ(Vec(io, 5), want) << (left ? "<<" : ">>") << count << " in place";
  }
  Ipp32s out[5] = {9, 9, 9, 9, 9};
  EXPECT_EQ(ippsLShiftC_32s(src, -1, out, 5), ippStsShiftErr);
  EXPECT_EQ(ippsRShiftC_32s(src, INT_MIN, out, 5), ippStsShiftErr);
  EXPECT_EQ(Vec(out, 5), std::vector<Ipp32s>(5, 9));
  const Ipp16u s16[] = {0x1234, 0x00FF};
  Ipp16u d16[2];
  ASSERT_EQ(ippsSwapBytes_16u(s16, d16, 2), ippStsNoErr);
  EXPECT_EQ(Vec(d16, 2), (std::vector<Ipp16u>{0x3412, 0xFF00}));
  Ipp32u s32[] = {0x11223344u, 0x80000001u};
  ASSERT_EQ(ippsSwapBytes_32u_I(s32, 2), ippStsNoErr);
  EXPECT_EQ(Vec(s32, 2), (std::vector<Ipp32u>{0x44332211u, 0x01000080u}));
  const Ipp8u s24[] = {1, 2, 3, 4, 5, 6, 7};
  Ipp8u d24[7] = {0, 0, 0, 0, 0, 0, 99};
  ASSERT_EQ(ippsSwapBytes_24u(s24, d24, 2), ippStsNoErr);
  EXPECT_EQ(Vec(d24, 7), (std::vector<Ipp8u>{3, 2, 1, 6, 5, 4, 99}));
}

TEST_P(Integer32u, PlainArithmeticAndShifts) {
  const Ipp32u a[] = {1, 4000000000u, 7};
  Ipp32u d[] = {2, 294967295u, 10};
  ASSERT_EQ(ippsAdd_32u_ISfs(a, d, 3, 5), ippStsNoErr);  // the scale factor is ignored
  EXPECT_EQ(Vec(d, 3), (std::vector<Ipp32u>{3, UINT32_MAX, 17}));
  ASSERT_EQ(ippsSub_32u_ISfs(a, d, 3, -3), ippStsNoErr);
  EXPECT_EQ(Vec(d, 3), (std::vector<Ipp32u>{2, 294967295u, 10}));
  const Ipp32u m[] = {3, 2, 0};
  ASSERT_EQ(ippsMul_32u_ISfs(m, d, 3, 0), ippStsNoErr);
  EXPECT_EQ(Vec(d, 3), (std::vector<Ipp32u>{6, 589934590u, 0}));
  const Ipp32u q[] = {4, 3, 1};
  ASSERT_EQ(ippsDiv_32u_ISfs(q, d, 3, 9), ippStsNoErr);
  EXPECT_EQ(Vec(d, 2), (std::vector<Ipp32u>{1, 196644863u}));  // 6 / 4 truncates
  Ipp32u c[] = {10, 20};
  ASSERT_EQ(ippsAddC_32u_ISfs(5, c, 2, 0), ippStsNoErr);
  ASSERT_EQ(ippsSubC_32u_ISfs(15, c, 2, 0), ippStsNoErr);
  ASSERT_EQ(ippsMulC_32u_ISfs(3, c, 2, 0), ippStsNoErr);
  ASSERT_EQ(ippsDivC_32u_ISfs(4, c, 2, 0), ippStsNoErr);
  EXPECT_EQ(Vec(c, 2), (std::vector<Ipp32u>{0, 7}));  // (10 + 5 - 15) * 3 / 4, 30 / 4
  Ipp32u out[2];
  ASSERT_EQ(ippsDivC_32u_Sfs(a, 3, out, 2, 1), ippStsNoErr);
  EXPECT_EQ(Vec(out, 2), (std::vector<Ipp32u>{0, 1333333333u}));
  const Ipp32u x[] = {100000, 3}, y[] = {40000, 5};
  Ipp32u dp = 0;
  ASSERT_EQ(ippsDotProd_32u_Sfs(x, y, 2, &dp, 7), ippStsNoErr);
  EXPECT_EQ(dp, 4000000015u);
  // Shift counts are taken modulo 32.
  const std::tuple<bool, int, Ipp32u> cases[] = {
      {true, 1, 0x80000002u},  {true, 33, 0x80000002u},  {true, 32, 0xC0000001u}, {true, -1, 0x80000000u},
      {false, 1, 0x60000000u}, {false, 32, 0xC0000001u}, {false, 63, 1u},         {false, -31, 0x60000000u}};
  for (auto [left, count, want] : cases) {
    Ipp32u v = 0xC0000001u;
    ASSERT_EQ(left ? ippsLShiftC_32u_I(count, &v, 1) : ippsRShiftC_32u_I(count, &v, 1), ippStsNoErr);
    EXPECT_EQ(v, want) << (left ? "<<" : ">>") << count;
  }
}

TEST_P(Integer32u, FaultsRaiseAndLeaveDestinationUntouchedAndDivC32s) {
  // The middle element faults, so an element-wise loop would already have written the first.
  const Ipp32u one[] = {1, 1, 1}, zeroMid[] = {1, 0, 1}, big[] = {1, 0x10000u, 1};
  const std::vector<Ipp32u> init = {5, UINT32_MAX, 0x10000u};
  struct Case { const char* name; std::function<void(Ipp32u*)> call; bool divByZero; std::vector<Ipp32u> start; };
  const Case cases[] = {
      {"Add", [&](Ipp32u* d) { ippsAdd_32u_ISfs(one, d, 3, 0); }, false, init},
      {"Sub", [&](Ipp32u* d) { ippsSub_32u_ISfs(big, d, 3, 0); }, false, {5, 0xFFFFu, 7}},
      {"Mul", [&](Ipp32u* d) { ippsMul_32u_ISfs(big, d, 3, 0); }, false, init},
      {"Div", [&](Ipp32u* d) { ippsDiv_32u_ISfs(zeroMid, d, 3, 0); }, true, init},
      {"AddC", [&](Ipp32u* d) { ippsAddC_32u_ISfs(1, d, 3, 0); }, false, init},
      {"SubC", [&](Ipp32u* d) { ippsSubC_32u_ISfs(6, d, 3, 0); }, false, {7, 5, 9}},
      {"MulC", [&](Ipp32u* d) { ippsMulC_32u_ISfs(2, d, 3, 0); }, false, init},
      {"DivC", [&](Ipp32u* d) { ippsDivC_32u_ISfs(0, d, 3, 0); }, true, init},
      {"DivC_Sfs", [&](Ipp32u* d) { ippsDivC_32u_Sfs(one, 0, d, 3, 0); }, true, init},
  };
  for (const Case& c : cases) {
    std::vector<Ipp32u> d = c.start;
    if (c.divByZero) {
      EXPECT_THROW(c.call(d.data()), EDivByZero) << c.name;
    } else {
      EXPECT_THROW(c.call(d.data()), EIntOverflow) << c.name;
    }
    EXPECT_EQ(d, c.start) << c.name;
  }
  const Ipp32u x[] = {0x10000u, 0x10000u}, y[] = {0x8000u, 0x8000u};  // 2^31 + 2^31
  Ipp32u dp = 42;
  EXPECT_THROW(ippsDotProd_32u_Sfs(x, y, 2, &dp, 0), EIntOverflow);
  EXPECT_EQ(dp, 42u);
  EXPECT_EQ(ippsDotProd_32u_Sfs(x, y, 1, &dp, 0), ippStsNoErr);
  EXPECT_EQ(dp, 0x80000000u);
  // Statuses rather than exceptions for null pointers and bad lengths.
  EXPECT_EQ(ippsAdd_32u_ISfs(nullptr, &dp, 1, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippsDivC_32u_ISfs(0, &dp, 0, 0), ippStsSizeErr);
  // DivC_32s truncates toward zero and faults before writing.
  const Ipp32s src[] = {7, -7, 6, INT32_MIN, 1};
  Ipp32s out[5];
  ippsDivC_32s_Sfs(src, -2, out, 5, 3);
  EXPECT_EQ(Vec(out, 5), (std::vector<Ipp32s>{-3, 3, -3, 1 << 30, 0}));
  Ipp32s io[] = {9, -9};
  ippsDivC_32s_ISfs(4, io, 2, 0);
  EXPECT_EQ(Vec(io, 2), (std::vector<Ipp32s>{2, -2}));
  // Faults raise before anything is written (the first element alone would pass).
  io[1] = INT32_MIN;
  EXPECT_THROW(ippsDivC_32s_ISfs(0, io, 2, 0), EDivByZero);
  EXPECT_THROW(ippsDivC_32s_ISfs(-1, io, 2, 0), EIntOverflow);
  EXPECT_EQ(Vec(io, 2), (std::vector<Ipp32s>{2, INT32_MIN}));
  out[0] = 0;
  EXPECT_THROW(ippsDivC_32s_Sfs(io, 0, out, 2, 0), EDivByZero);
  // Nothing to report for a null pointer or an empty vector: nothing happens.
  EXPECT_NO_THROW(ippsDivC_32s_ISfs(0, nullptr, 3, 0));
  EXPECT_NO_THROW(ippsDivC_32s_Sfs(io, 0, out, 0, 0));
  EXPECT_EQ(out[0], 0);
}

}  // namespace
}  // namespace nx
