// Shared vector-test support: SIMD suites, the kernel-vs-twin runner, the primitive groups.
#pragma once

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace nxtest {

using namespace nx;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// The targets this machine runs, best first.
inline std::vector<std::int64_t> SimdTargets() { return builtin::SimdTargets(); }

// A suite whose tests run once per target: SetUp makes the dispatch use it,
// TearDown gives back the targets offered before (a program run on one
// forced target stays on it).
class TSimdTest : public ::testing::TestWithParam<std::int64_t> {
 protected:
  void SetUp() override {
    for (const std::int64_t t : builtin::SimdTargets()) FBefore |= t;
    builtin::SetSimdTargetsForTest(GetParam());
    ASSERT_STREQ(builtin::SimdTargetName(), hwy::TargetName(GetParam()));
  }
  void TearDown() override { builtin::SetSimdTargetsForTest(FBefore); }

 private:
  std::int64_t FBefore = 0;
};

inline std::string SimdTargetParamName(const ::testing::TestParamInfo<std::int64_t>& info) {
  std::string name;
  for (const char* p = hwy::TargetName(info.param); *p != 0; ++p)
    if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
  return name;
}

// Declares the fixture of a suite of TEST_Ps and runs them on every target.
#define NX_SIMD_SUITE(suite)                              \
  class suite : public ::nxtest::TSimdTest {};            \
  INSTANTIATE_TEST_SUITE_P(Simd, suite, ::testing::ValuesIn(::nxtest::SimdTargets()), \
                           ::nxtest::SimdTargetParamName)

template <typename T>
auto BitsOf(T x) {
  std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t> b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Distance in units in the last place; NaNs match each other only, +0 and -0 differ.
template <typename T>
std::uint64_t UlpDistance(T a, T b) {
  if (std::isnan(a) || std::isnan(b)) return (std::isnan(a) && std::isnan(b)) ? 0 : ~std::uint64_t{0};
  if (a == b) return BitsOf(a) == BitsOf(b) ? 0 : ~std::uint64_t{0};
  if (std::signbit(a) != std::signbit(b)) return ~std::uint64_t{0};
  const std::uint64_t ba = BitsOf(a), bb = BitsOf(b);
  return ba > bb ? ba - bb : bb - ba;
}

// Bit for bit, any NaN matching any NaN.
template <typename T>
bool SameValue(T a, T b) {
  if constexpr (std::is_floating_point_v<T>) return UlpDistance(a, b) == 0;
  if constexpr (std::is_same_v<T, Ipp64fc> || std::is_same_v<T, Ipp32fc>)
    return SameValue(a.re, b.re) && SameValue(a.im, b.im);
  else
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// n values uniform in [-1, 1), the same for the same seed.
inline std::vector<double> RandomReal(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(n);
  for (auto& x : v) x = u(g);
  return v;
}

// n random values of Ipp64f or Ipp64fc (pairs of RandomReal's values).
template <typename T>
std::vector<T> Random(std::size_t n, std::uint64_t seed) {
  const auto r = RandomReal(n * sizeof(T) / sizeof(double), seed);
  std::vector<T> v(n);
  std::memcpy(static_cast<void*>(v.data()), r.data(), n * sizeof(T));
  return v;
}

template <typename T>
std::vector<T> Vec(const T* p, std::size_t n) { return std::vector<T>(p, p + n); }

// n elements between guards of canary bytes (and a canary fill).
template <typename T>
class TGuarded {
 public:
  static constexpr std::size_t kGuard = 9;
  explicit TGuarded(std::size_t n) : FBuf(n + 2 * kGuard) {
    std::memset(static_cast<void*>(FBuf.data()), 0xA5, FBuf.size() * sizeof(T));
  }
  T* data() { return FBuf.data() + kGuard; }
  T& operator[](std::size_t i) { return data()[i]; }
  bool GuardsIntact() const { return Canary(0, kGuard) && Canary(FBuf.size() - kGuard, FBuf.size()); }
  bool AllCanary() const { return Canary(0, FBuf.size()); }

 private:
  bool Canary(std::size_t from, std::size_t to) const {
    const auto* p = reinterpret_cast<const unsigned char*>(FBuf.data());
    return std::all_of(p + from * sizeof(T), p + to * sizeof(T), [](unsigned char b) { return b == 0xA5; });
  }
  std::vector<T> FBuf;
};

// The ranges of random values; Small keeps sums far from overflow.
enum class TRange { General, Moderate, Positive, Small };

// Random numbers; with `special` about 4% NaN, +-Inf, +-0, denormals, halves, int32 limits.
class TFiller {
 public:
  explicit TFiller(unsigned seed) : FRng(seed) {}
  double Real(TRange range, bool special) {
    static const double kSpecial[] = {kNaN, kInf, -kInf, 0.0, -0.0, 4.9e-324, -2.5e-310, 1e-310 / 3, -1.5,
                                      2.5, -2.5, 0.5, -0.5, 2147483520.0, -2147483648.0};
    if (special && Uniform(0, 1) < 0.04) return kSpecial[Index(std::size(kSpecial))];
    switch (range) {
      case TRange::General:
        if (Uniform(0, 1) < 0.5) return Uniform(-1000, 1000);
        return (Uniform(0, 1) < 0.5 ? -1 : 1) * std::pow(10.0, Uniform(-40, 50));
      case TRange::Moderate: return Uniform(-730, 710);
      case TRange::Positive: return std::pow(10.0, Uniform(-300, 300));
      case TRange::Small: break;
    }
    return Uniform(-100, 100);
  }
  std::int32_t Int32() {
    static const std::int32_t kSpecial[] = {0, 1, -1, 2, -2, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1, 0x40000000};
    const auto pick = FRng() % 4;
    if (pick == 0) return kSpecial[Index(std::size(kSpecial))];
    if (pick == 1) return static_cast<std::int32_t>(FRng() % 2001) - 1000;
    return static_cast<std::int32_t>(FRng());
  }
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(FRng); }
  std::size_t Index(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRng); }
  std::mt19937_64& Rng() { return FRng; }

 private:
  std::mt19937_64 FRng;
};

enum class TElem : std::uint8_t { F64, F32, C64, C32, S32, U32, S16, U8, B3 };

inline std::size_t ElemSize(TElem e) {
  static const std::size_t kSize[] = {8, 4, 16, 8, 4, 4, 2, 1, 3};
  return kSize[static_cast<int>(e)];
}

// One array argument: read, written or both; `fixed` > 0: that many elements (a reduction's outputs).
struct TSlot {
  TElem Elem;
  char Role;  // 'i' read, 'o' written, 'x' read and written
  bool Required = true;
  int Fixed = 0;
};
inline TSlot In(TElem e) { return {e, 'i'}; }
inline TSlot Out(TElem e, int fixed = 0) { return {e, 'o', true, fixed}; }
inline TSlot InOut(TElem e) { return {e, 'x'}; }
template <typename... T>
std::vector<TSlot> Slots(T... s) { return {s...}; }
inline TSlot Optional(TSlot s) { return s.Required = false, s; }

// The arrays, the length and two scalar parameters (scale factor, shift, constant) of one call.
struct TArgs {
  std::array<void*, 6> P{};
  int Len = 0, K1 = 0, K2 = 0;
  Ipp64f* F64(int i) const { return static_cast<Ipp64f*>(P[i]); }
  Ipp32f* F32(int i) const { return static_cast<Ipp32f*>(P[i]); }
  Ipp64fc* C64(int i) const { return static_cast<Ipp64fc*>(P[i]); }
  Ipp32fc* C32(int i) const { return static_cast<Ipp32fc*>(P[i]); }
  Ipp32s* S32(int i) const { return static_cast<Ipp32s*>(P[i]); }
  Ipp32u* U32(int i) const { return static_cast<Ipp32u*>(P[i]); }
  Ipp16s* S16(int i) const { return static_cast<Ipp16s*>(P[i]); }
  Ipp16u* U16(int i) const { return static_cast<Ipp16u*>(P[i]); }
  Ipp8u* U8(int i) const { return static_cast<Ipp8u*>(P[i]); }
};

// A primitive with its arrays and a call through the dispatch pointer or (twin) its scalar twin.
struct TTwinRow {
  TTwinRow(std::string name, std::vector<TSlot> slots, std::function<IppStatus(bool, const TArgs&)> call)
      : Name(std::move(name)), Slots(std::move(slots)), Call(std::move(call)) {}
  std::string Name;
  std::vector<TSlot> Slots;
  std::function<IppStatus(bool twin, const TArgs&)> Call;
  TRange Range = TRange::General;
  std::uint64_t Ulps = 0;           // allowed distance from the twin
  std::vector<int> P1 = {0}, P2 = {0};
  // Reductions: outputs within 1e-12 of the rounding budget (sum of |terms|) from the twin's.
  std::function<double(const TArgs&)> Budget;
  int MinLen = 1;
  TTwinRow& Range_(TRange r) { Range = r; return *this; }
  TTwinRow& Ulps_(std::uint64_t u) { Ulps = u; return *this; }
  TTwinRow& Params(std::vector<int> p1, std::vector<int> p2 = {0}) { P1 = std::move(p1); P2 = std::move(p2); return *this; }
  TTwinRow& Budget_(std::function<double(const TArgs&)> b, int minLen = 1) { Budget = std::move(b); MinLen = minLen; return *this; }
};

// A row of `name` through dispatcher `disp`: its arrays, then the call's arguments from `a`.
#define NX_TWIN_ROW(disp, name, slots, ...)                                                       \
  ::nxtest::TTwinRow {                                                                            \
    #name, ::nxtest::Slots slots, [](bool twin, const ::nxtest::TArgs& a) {                                       \
      return (twin ? &::nx::reference::name : ::nx::disp::name)(__VA_ARGS__);                     \
    }                                                                                             \
  }
#define NX_TWIN(name, slots, ...) NX_TWIN_ROW(NXBasicDispatcher, name, slots, __VA_ARGS__)
// The dispatched primitive `name`, or its scalar twin.
#define NX_PICK(twin, name) ((twin) ? &::nx::reference::name : ::nx::NXBasicDispatcher::name)

// Arrays with 64 canary bytes either side, each `offset` elements past a 64-byte boundary.
class TArrays {
 public:
  static constexpr std::size_t kGuard = 64;
  static constexpr unsigned char kCanary = 0xA5;
  TArrays(const std::vector<TSlot>& slots, int len, const std::vector<int>& offsets) : FSlots(slots) {
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const std::size_t count = slots[i].Fixed > 0 ? slots[i].Fixed : static_cast<std::size_t>(std::max(len, 1));
      FBytes.push_back(count * ElemSize(slots[i].Elem));
      FStart.push_back(kGuard + static_cast<std::size_t>(offsets[i]) * ElemSize(slots[i].Elem));
      FRaw.emplace_back((FStart[i] + FBytes[i] + kGuard + 63) / 64);
      std::memset(static_cast<void*>(FRaw[i].data()), kCanary, FRaw[i].size() * 64);
    }
  }
  unsigned char* At(std::size_t i) { return FRaw[i].front().B + FStart[i]; }
  std::size_t Bytes(std::size_t i) const { return FBytes[i]; }
  std::size_t Count(std::size_t i) const { return FBytes[i] / ElemSize(FSlots[i].Elem); }
  bool SameStore(std::size_t i, const TArrays& other) const {
    return std::memcmp(FRaw[i].data(), other.FRaw[i].data(), FRaw[i].size() * 64) == 0;
  }
  bool CanariesIntact(std::size_t i) {
    const unsigned char* p = FRaw[i].front().B;
    for (std::size_t k = 0; k < FRaw[i].size() * 64; ++k)
      if ((k < FStart[i] || k >= FStart[i] + FBytes[i]) && p[k] != kCanary) return false;
    return true;
  }
  void Fill(TFiller& f, TRange range, bool special) {
    for (std::size_t i = 0; i < FSlots.size(); ++i) {
      unsigned char* p = At(i);
      const std::size_t n = Count(i);
      switch (FSlots[i].Elem) {
        case TElem::F64:
          for (std::size_t k = 0; k < n; ++k) reinterpret_cast<double*>(p)[k] = f.Real(range, special);
          break;
        case TElem::F32:
        case TElem::C32:  // two floats an element
          for (std::size_t k = 0; k < FBytes[i] / 4; ++k) reinterpret_cast<float*>(p)[k] = static_cast<float>(f.Real(range, special));
          break;
        case TElem::C64:
          for (std::size_t k = 0; k < n; ++k) {
            auto& c = reinterpret_cast<Ipp64fc*>(p)[k];
            c = {f.Real(range, special), f.Real(range, special)};
            if (special && f.Uniform(0, 1) < 0.03) c = {f.Uniform(0, 1) < 0.5 ? 0.0 : -0.0, 0.0};  // zero divisors
          }
          break;
        case TElem::S32:
        case TElem::U32:
          for (std::size_t k = 0; k < n; ++k) reinterpret_cast<std::int32_t*>(p)[k] = f.Int32();
          break;
        default:
          for (std::size_t k = 0; k < FBytes[i]; ++k) p[k] = static_cast<unsigned char>(f.Rng()());
      }
    }
  }

 private:
  std::vector<TSlot> FSlots;
  struct alignas(64) TBlock { unsigned char B[64]; };
  std::vector<std::vector<TBlock>> FRaw;
  std::vector<std::size_t> FBytes, FStart;
};

// The first element of slot `i` where got and want differ beyond the allowance, or -1.
inline long FirstDifference(const TTwinRow& row, const TArgs& got, const TArgs& want, std::size_t i, std::size_t count,
                            double budget) {
  auto close = [&](double g, double w) {
    if (row.Budget) {
      if (!std::isfinite(g) || !std::isfinite(w)) return SameValue(g, w);
      return std::fabs(g - w) <= 1e-12 * budget + 1e-300;
    }
    return UlpDistance(g, w) <= row.Ulps;
  };
  auto closef = [&](float g, float w) { return row.Budget ? close(g, w) : UlpDistance(g, w) <= row.Ulps; };
  const std::size_t size = ElemSize(row.Slots[i].Elem);
  for (std::size_t k = 0; k < count; ++k) {
    bool same = true;
    switch (row.Slots[i].Elem) {
      case TElem::F64: same = close(got.F64(i)[k], want.F64(i)[k]); break;
      case TElem::F32: same = closef(got.F32(i)[k], want.F32(i)[k]); break;
      case TElem::C64: same = close(got.C64(i)[k].re, want.C64(i)[k].re) && close(got.C64(i)[k].im, want.C64(i)[k].im); break;
      case TElem::C32: same = closef(got.C32(i)[k].re, want.C32(i)[k].re) && closef(got.C32(i)[k].im, want.C32(i)[k].im); break;
      default: same = std::memcmp(got.U8(i) + k * size, want.U8(i) + k * size, size) == 0;
    }
    if (!same) return static_cast<long>(k);
  }
  return -1;
}

// Every length to 40, a spread to 2049 and one large length (first parameter pair only).
inline const std::vector<int>& TwinLengths() {
  static const std::vector<int> lengths = [] {
    std::vector<int> l;
    for (int n = 1; n <= 40; ++n) l.push_back(n);
    for (int n : {63, 64, 65, 127, 128, 129, 255, 333, 512, 777, 1000, 2047, 2049, 100003}) l.push_back(n);
    return l;
  }();
  return lengths;
}

inline void RunTwinRow(const TTwinRow& row, TFiller& f) {
  const std::size_t slots = row.Slots.size();
  const std::vector<int> aligned(slots, 0);
  auto args = [&](TArrays& arr, int len, int k1, int k2) {
    TArgs a;
    for (std::size_t i = 0; i < slots; ++i) a.P[i] = arr.At(i);
    a.Len = len, a.K1 = k1, a.K2 = k2;
    return a;
  };
  auto untouched = [&](const TArrays& x, const TArrays& before) {
    for (std::size_t i = 0; i < slots; ++i)
      if (!x.SameStore(i, before)) return false;
    return true;
  };
  // Each required array null (also at length 0: pointers first), then bad lengths: nothing written.
  for (bool twin : {false, true}) {
    for (std::size_t i = 0; i < slots; ++i) {
      if (!row.Slots[i].Required) continue;
      for (int len : {16, 0}) {
        TArrays arr(row.Slots, 16, aligned);
        arr.Fill(f, row.Range, false);
        const TArrays before = arr;
        TArgs a = args(arr, len, row.P1.front(), row.P2.front());
        a.P[i] = nullptr;
        EXPECT_EQ(row.Call(twin, a), ippStsNullPtrErr) << "array " << i << " null, len " << len << (twin ? " (twin)" : "");
        EXPECT_TRUE(untouched(arr, before)) << "written with array " << i << " null";
      }
    }
    for (int len : {row.MinLen - 1, -1, INT_MIN}) {
      TArrays arr(row.Slots, 4, aligned);
      arr.Fill(f, row.Range, false);
      const TArrays before = arr;
      EXPECT_EQ(row.Call(twin, args(arr, len, row.P1.front(), row.P2.front())), ippStsSizeErr)
          << "len " << len << (twin ? " (twin)" : "");
      EXPECT_TRUE(untouched(arr, before)) << "written with len " << len;
    }
  }
  // The dispatched routine against the twin, arrays `offsets` elements past a 64-byte boundary.
  auto compare = [&](int len, const std::vector<int>& offsets, int p1, int p2, bool special, const std::string& where) {
    TArrays got(row.Slots, len, offsets);
    got.Fill(f, row.Range, special);
    TArrays want = got;
    const TArrays before = got;
    const TArgs ga = args(got, len, p1, p2), wa = args(want, len, p1, p2);
    const IppStatus sGot = row.Call(false, ga), sWant = row.Call(true, wa);
    ASSERT_EQ(sGot, sWant) << where;
    if (sGot < 0) {
      ASSERT_TRUE(untouched(got, before)) << where << ": written on error " << sGot;
    }
    const double budget = row.Budget ? row.Budget(wa) : 0.0;
    for (std::size_t i = 0; i < slots; ++i) {
      ASSERT_TRUE(got.CanariesIntact(i)) << where << ": written outside array " << i;
      if (row.Slots[i].Role == 'i') {
        ASSERT_TRUE(got.SameStore(i, before)) << where << ": source " << i << " written";
        continue;
      }
      const long bad = FirstDifference(row, ga, wa, i, got.Count(i), budget);
      ASSERT_EQ(bad, -1) << where << ": array " << i << " differs from the twin";
    }
  };
  auto offsetText = [](const std::vector<int>& offsets) {
    std::string s;
    for (int o : offsets) s += std::to_string(o) + " ";
    return s;
  };
  int pattern = 0;
  for (int len : TwinLengths()) {
    if (len < row.MinLen) continue;
    const bool big = len > 10000;
    for (bool special : {false, true}) {
      // All arrays aligned, then each at its own offset of 0-7 elements.
      std::vector<int> offsets(slots);
      ++pattern;
      for (std::size_t i = 0; i < slots; ++i) offsets[i] = special ? (pattern * (2 * static_cast<int>(i) + 3) + static_cast<int>(i)) % 8 : 0;
      for (int p1 : row.P1) {
        for (int p2 : row.P2) {
          if (big && (p1 != row.P1.front() || p2 != row.P2.front())) continue;
          compare(len, offsets, p1, p2, special,
                  row.Name + " len " + std::to_string(len) + " params " + std::to_string(p1) + "," + std::to_string(p2) +
                      (special ? " with special values" : "") + " offsets " + offsetText(offsets));
          if (::testing::Test::HasFatalFailure()) return;
        }
      }
    }
  }
  // Every combination of offsets 0-7 (beyond the third array the first's): results must not change.
  const int sweepLen = std::max(row.MinLen, 203);
  const std::size_t swept = std::min<std::size_t>(slots, 3);
  for (std::size_t c = 0; c < (std::size_t{1} << (3 * swept)); ++c) {
    std::vector<int> offsets(slots);
    for (std::size_t i = 0; i < slots; ++i) offsets[i] = static_cast<int>((c >> (3 * (i < swept ? i : 0))) & 7);
    compare(sweepLen, offsets, row.P1.front(), row.P2.front(), false,
            row.Name + " len " + std::to_string(sweepLen) + " offsets " + offsetText(offsets));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

inline void RunTwinTable(const std::vector<TTwinRow>& rows, unsigned seed) {
  TFiller f(seed);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    RunTwinRow(row, f);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// A group of primitives, its program and suite ("Twins": a row each in the twin table).
struct TPrimitiveGroup {
  std::string_view Program, Suite, Names;
};

inline constexpr TPrimitiveGroup kPrimitiveGroups[] = {
    {"Arith", "Twins",
     "ippsAdd_64f ippsAdd_64f_I ippsSub_64f_I ippsSub_32f_I ippsMul_64f ippsMul_64f_I ippsMul_32f ippsMul_32f_I "
     "ippsDiv_64f_I ippsAddC_64f ippsAddC_64f_I ippsSubC_64f ippsSubC_64f_I ippsSubCRev_64f ippsMulC_64f ippsMulC_64f_I "
     "ippsMulC_32f_I ippsDivC_64f ippsDivC_64f_I ippsAbs_64f ippsAbs_64f_I ippsSqr_64f ippsSqr_64f_I ippsSqrt_64f "
     "ippsSqrt_64f_I ippsExp_64f ippsExp_64f_I ippsLn_64f ippsLn_64f_I ippsSubCRev_64f_I ippsSubCRev_32f_I"},
    {"Complex", "Twins",
     "ippsAdd_64fc ippsAdd_64fc_I ippsSub_64fc_I ippsMul_64fc_I ippsDiv_64fc_I ippsAddC_64fc ippsAddC_64fc_I "
     "ippsSubC_64fc ippsSubC_64fc_I ippsSubCRev_64fc ippsMulC_64fc ippsMulC_64fc_I ippsDivC_64fc ippsDivC_64fc_I "
     "ippsSqr_64fc ippsSqr_64fc_I ippsSqrt_64fc ippsSqrt_64fc_I ippsMagnitude_64fc ippsPhase_64fc ippsPowerSpectr_64fc "
     "ippsReal_64fc ippsImag_64fc ippsRealToCplx_64f ippsRealToCplx_32f ippsConjCcs_64fc_I ippsCartToPolar_64f "
     "ippsCartToPolar_32f ippsPolarToCart_64f ippsPolarToCart_32f"},
    {"Integer", "Twins",
     "ippsAdd_32s_ISfs ippsSub_32s_ISfs ippsAddC_32s_ISfs ippsAddC_32s_Sfs ippsSubC_32s_ISfs ippsSubC_32s_Sfs "
     "ippsSubCRev_32s_Sfs ippsSubCRev_32s_ISfs ippsAnd_32u_I ippsAndC_32u ippsAndC_32u_I ippsOr_32u_I ippsOrC_32u "
     "ippsOrC_32u_I ippsXor_32u_I ippsXorC_32u ippsXorC_32u_I ippsLShiftC_32s ippsLShiftC_32s_I ippsRShiftC_32s "
     "ippsRShiftC_32s_I ippsSwapBytes_16u ippsSwapBytes_24u ippsSwapBytes_32u ippsSwapBytes_32u_I"},
    {"Integer", "IntegerScaled",
     "ippsAdd_8u_ISfs ippsSub_8u_ISfs ippsMul_8u_ISfs ippsMul_32s_ISfs ippsDiv_32s_ISfs ippsMulC_32s_ISfs "
     "ippsMulC_32s_Sfs ippsDotProd_32s_Sfs"},
    {"CopyConvert", "Twins",
     "ippsZero_8u ippsZero_16s ippsZero_32s ippsZero_32f ippsZero_64f ippsZero_64fc ippsSet_8u ippsSet_32s ippsSet_32f "
     "ippsSet_64f ippsSet_64fc ippsCopy_8u ippsCopy_32f ippsCopy_64f ippsMove_64f ippsMove_8u ippsConvert_32f64f "
     "ippsConvert_64f32f ippsConvert_32s64f ippsConvert_32s32f ippsConvert_16s64f_Sfs ippsConvert_64f32s_Sfs "
     "ippsConvert_32f32s_Sfs"},
    {"Stats", "Twins",
     "ippsSum_64f ippsMean_64f ippsMean_32f ippsStdDev_64f ippsDotProd_64f ippsDotProd_64fc ippsNormDiff_L1_64f "
     "ippsNormDiff_L2_64f ippsNormDiff_Inf_64f ippsNormalize_64f ippsNormalize_32f ippsNormalize_64fc ippsThreshold_64f "
     "ippsThreshold_64f_I ippsThreshold_32f_I ippsThreshold_64fc ippsThreshold_64fc_I ippsThreshold_LT_32s_I "
     "ippsThreshold_GT_32s_I ippsNorm_L2_64fc64f"},
    {"Stats", "StatsKernels", "ippsMin_64f ippsMax_64f ippsMinMax_64f ippsMinIndx_64f ippsMaxIndx_64f"},
    {"Windows", "Windows",
     "ippsWinBartlett_64f ippsWinBartlett_64f_I ippsWinBartlett_64fc_I ippsWinHann_64f ippsWinHann_64f_I "
     "ippsWinHann_64fc_I ippsWinHamming_64f ippsWinHamming_64f_I ippsWinHamming_64fc_I ippsWinBlackman_64f "
     "ippsWinBlackman_64f_I ippsWinBlackman_64fc_I"},
    {"Windows", "Generators", "ippsRandUniform_Direct_16s ippsRandUniform_Direct_64f ippsVectorJaehne_64f"},
    {"Filters", "Correlation",
     "ippsAutoCorr_64f ippsAutoCorr_NormA_64f ippsAutoCorr_NormB_64f ippsAutoCorr_64fc ippsAutoCorr_NormA_64fc "
     "ippsAutoCorr_NormB_64fc ippsCrossCorr_64f ippsCrossCorr_64fc"},
    {"Filters", "Convolution", "ippsConv_64f"},
    {"Filters", "FIRFilter", "ippsFIRInitAlloc_64f ippsFIR_64f ippsFIRFree_64f"},
    {"Filters", "IIRFilter", "ippsIIRInitAlloc_64f ippsIIRInitAlloc_BiQuad_64f ippsIIR_64f ippsIIRFree_64f"},
    {"FFT", "FFTRoundTrip",
     "ippsFFTInitAlloc_R_64f ippsFFTInitAlloc_C_64fc ippsFFTFree_R_64f ippsFFTFree_C_64fc ippsFFTFwd_RToCCS_64f "
     "ippsFFTInv_CCSToR_64f ippsFFTFwd_CToC_64fc ippsFFTInv_CToC_64fc"},
    {"Image", "ImageCopySet", "ippiCopy_32s_C1R ippiCopy_8u_C4R ippiSet_8u_C4R"},
    {"Image", "ImageMirror", "ippiMirror_8u_C3IR ippiMirror_8u_C4R ippiMirror_8u_C3R"},
    {"Image", "ImageLUT", "ippiLUT_Linear_8u_C4R"},
    {"Image", "ImageAlphaComp", "ippiAlphaComp_8u_AC4R"},
    {"Image", "ImageNormDiff", "ippiNormDiff_L1_8u_C1R ippiNormDiff_L2_8u_C1R ippiNormDiff_Inf_8u_C1R"},
    {"Image", "ImageResize",
     "ippiResizeCenter_8u_C1R ippiResizeCenter_8u_C3R ippiResizeCenter_8u_C4R ippiResizeCenter_16u_C1R"},
    {"Package", "Package", "ippsSVD_64f_D2L"},
};

// Calls f for each name of a space-separated list.
template <typename F>
constexpr void ForEachName(std::string_view list, F f) {
  for (std::size_t pos = 0, end; pos < list.size(); pos = end + 1) {
    end = std::min(list.find(' ', pos), list.size());
    f(list.substr(pos, end - pos));
  }
}

constexpr bool NameInList(std::string_view list, std::string_view name) {
  bool found = false;
  ForEachName(list, [&](std::string_view n) { found = found || n == name; });
  return found;
}

constexpr bool InSomeGroup(std::string_view name) {
  for (const auto& g : kPrimitiveGroups)
    if (NameInList(g.Names, name)) return true;
  return false;
}

// Every primitive of the dispatch lists, in list order.
inline constexpr std::string_view kDispatchedPrimitives[] = {
#define NX_PRIM(L, name, params) #name,
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "vector/NXBasicDispatcher.inc"
#include "vector/NXScopeDispatcher.inc"
#include "vector/NXResizeDispatcher.inc"
#include "vector/NXNormDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
};

// A primitive added to a dispatch list without a test group stops the build here.
#define NX_PRIM(L, name, params) static_assert(InSomeGroup(#name), "no test group lists " #name);
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "vector/NXBasicDispatcher.inc"
#include "vector/NXScopeDispatcher.inc"
#include "vector/NXResizeDispatcher.inc"
#include "vector/NXNormDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

// Every group of `program` has its suite or twin rows; names are dispatched; rows are in the groups.
inline void CheckPrimitiveGroups(std::string_view program, const std::vector<std::vector<TTwinRow>>& twins = {}) {
  auto suiteHere = [](std::string_view suite) {
    const auto* unit = ::testing::UnitTest::GetInstance();
    for (int i = 0; i < unit->total_test_suite_count(); ++i) {
      const std::string_view name = unit->GetTestSuite(i)->name();
      if (name == suite || (name.size() > suite.size() && name.ends_with(suite) && name[name.size() - suite.size() - 1] == '/'))
        return true;
    }
    return false;
  };
  std::string twinNames, rowNames;
  for (const auto& table : twins)
    for (const auto& row : table) rowNames += row.Name + " ";
  for (const auto& g : kPrimitiveGroups) {
    if (g.Program != program) continue;
    if (g.Suite == "Twins") {
      twinNames += std::string(g.Names) + " ";
    } else {
      EXPECT_TRUE(suiteHere(g.Suite)) << "no suite " << g.Suite << " in " << program;
    }
    ForEachName(g.Names, [&](std::string_view name) {
      EXPECT_TRUE(std::find(std::begin(kDispatchedPrimitives), std::end(kDispatchedPrimitives), name) !=
                  std::end(kDispatchedPrimitives)) << name << " is in no dispatch list";
      if (g.Suite == "Twins") {
        EXPECT_TRUE(NameInList(rowNames, name)) << name << " has no twin row";
      }
    });
  }
  ForEachName(rowNames, [&](std::string_view name) {
    EXPECT_TRUE(NameInList(twinNames, name)) << name << " is not in the twin groups of " << program;
  });
}

}  // namespace nxtest
