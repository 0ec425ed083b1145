// Vector primitives give the same results whatever the alignment of their
// arrays: the kernels peel a head so that one array is accessed on vector
// boundaries, which must change neither the element-wise results (bit for
// bit) nor the reductions beyond rounding. One input is run with the operands
// at every offset of 0-7 doubles from a 64-byte boundary (each operand at a
// different one), against the all-aligned run and the scalar twin.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace nx {
namespace {

constexpr int kMaxLen = 257;
constexpr int kGuard = 16;                 // doubles of canary on each side
constexpr std::uint64_t kCanary = 0x7FF4A5A5A5A5A5A5u;  // a signalling-NaN pattern no kernel writes

// One operand: kMaxLen doubles (room for complex elements: twice that) at a
// chosen offset from a 64-byte boundary, canaries around them.
struct TOperand {
  std::vector<double> raw = std::vector<double>(2 * kMaxLen + 2 * kGuard + 16);
  double* at = nullptr;
  void Place(int offset) {
    const auto base = reinterpret_cast<std::uintptr_t>(raw.data() + kGuard);
    at = reinterpret_cast<double*>((base + 63) / 64 * 64) + offset;
    for (double& v : raw) std::memcpy(&v, &kCanary, sizeof v);
  }
  // Nothing written outside [at, at + bytes).
  bool CanariesIntact(std::size_t bytes) const {
    const auto* lo = reinterpret_cast<const unsigned char*>(at);
    const auto* c = reinterpret_cast<const unsigned char*>(&kCanary);
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    for (std::size_t i = 0; i < raw.size() * sizeof(double); ++i) {
      const bool inside = p + i >= lo && p + i < lo + bytes;
      if (!inside && p[i] != c[i % 8]) return false;
    }
    return true;
  }
};

struct TOps {
  TOperand a, b, d;
};

// A kernel under test: Call runs ours or the twin with sources a, b and
// destination d (in-place forms work on d, which starts as a copy of a);
// reductions leave one double in d[0]. OutBytes: bytes of d that an
// element-wise kernel writes per element (0: a reduction).
struct TCase {
  const char* Name;
  int OutBytes;
  bool ExactTwin;  // element-wise results equal the twin's bit for bit
  std::function<IppStatus(TOps&, int n, bool twin)> Call;
};

#define PICK(name) (twin ? &reference::name : &builtin::name)
template <typename T>
T* As(double* p) {
  return reinterpret_cast<T*>(p);
}

std::vector<TCase> Cases() {
  return {
      // real arithmetic
      {"Add_64f", 8, true, [](TOps& o, int n, bool twin) { return PICK(ippsAdd_64f)(o.a.at, o.b.at, o.d.at, n); }},
      {"MulC_64f_I", 8, true, [](TOps& o, int n, bool twin) { return PICK(ippsMulC_64f_I)(1.25, o.d.at, n); }},
      {"Mul_32f", 4, true,
       [](TOps& o, int n, bool twin) {
         return PICK(ippsMul_32f)(As<Ipp32f>(o.a.at), As<Ipp32f>(o.b.at), As<Ipp32f>(o.d.at), n);
       }},
      {"Div_64f_I (zero divisor)", 8, true,
       [](TOps& o, int n, bool twin) {
         o.b.at[n / 2] = 0.0;
         return PICK(ippsDiv_64f_I)(o.b.at, o.d.at, n);
       }},
      {"Sqrt_64f (negative)", 8, true, [](TOps& o, int n, bool twin) { return PICK(ippsSqrt_64f)(o.a.at, o.d.at, n); }},
      {"Exp_64f", 8, false, [](TOps& o, int n, bool twin) { return PICK(ippsExp_64f)(o.a.at, o.d.at, n); }},
      {"Ln_64f (zero)", 8, false,
       [](TOps& o, int n, bool twin) {
         o.b.at[n - 1] = 0.0;
         return PICK(ippsLn_64f)(o.b.at, o.d.at, n);
       }},
      // statistics and thresholds
      {"Sum_64f", 0, false, [](TOps& o, int n, bool twin) { return PICK(ippsSum_64f)(o.a.at, n, o.d.at); }},
      {"DotProd_64f", 0, false,
       [](TOps& o, int n, bool twin) { return PICK(ippsDotProd_64f)(o.a.at, o.b.at, n, o.d.at); }},
      {"NormDiff_L1_64f", 0, false,
       [](TOps& o, int n, bool twin) { return PICK(ippsNormDiff_L1_64f)(o.a.at, o.b.at, n, o.d.at); }},
      {"Threshold_64f_I", 8, true,
       [](TOps& o, int n, bool twin) { return PICK(ippsThreshold_64f_I)(o.d.at, n, 0.25, ippCmpLess); }},
      {"Normalize_64fc", 16, true,
       [](TOps& o, int n, bool twin) {
         return PICK(ippsNormalize_64fc)(As<Ipp64fc>(o.a.at), As<Ipp64fc>(o.d.at), n, {0.5, -0.25}, 3.0);
       }},
      // initialisation and conversions
      {"Set_64f", 8, true, [](TOps& o, int n, bool twin) { return PICK(ippsSet_64f)(-2.5, o.d.at, n); }},
      {"Set_64fc", 16, true, [](TOps& o, int n, bool twin) { return PICK(ippsSet_64fc)({1.5, -3.0}, As<Ipp64fc>(o.d.at), n); }},
      {"Convert_64f32f", 4, true,
       [](TOps& o, int n, bool twin) { return PICK(ippsConvert_64f32f)(o.a.at, As<Ipp32f>(o.d.at), n); }},
      // complex arithmetic
      {"Mul_64fc_I", 16, true,
       [](TOps& o, int n, bool twin) { return PICK(ippsMul_64fc_I)(As<Ipp64fc>(o.b.at), As<Ipp64fc>(o.d.at), n); }},
      {"MulC_64fc", 16, true,
       [](TOps& o, int n, bool twin) {
         return PICK(ippsMulC_64fc)(As<Ipp64fc>(o.a.at), {0.5, -1.5}, As<Ipp64fc>(o.d.at), n);
       }},
      {"SubC_64fc", 16, true,
       [](TOps& o, int n, bool twin) {
         return PICK(ippsSubC_64fc)(As<Ipp64fc>(o.a.at), {0.75, 2.0}, As<Ipp64fc>(o.d.at), n);
       }},
      {"Div_64fc_I (zero divisor)", 16, true,
       [](TOps& o, int n, bool twin) {
         As<Ipp64fc>(o.b.at)[n / 3] = {0.0, 0.0};
         return PICK(ippsDiv_64fc_I)(As<Ipp64fc>(o.b.at), As<Ipp64fc>(o.d.at), n);
       }},
  };
}
#undef PICK

struct TResult {
  IppStatus Status;
  std::vector<unsigned char> Bytes;  // element-wise output
  double Value;                      // reduction output
};

// Sources a in (-1, 1) (some negative square roots and logarithms), b in
// [0.5, 2); placed at offsets (oa, ob, od) doubles past a 64-byte boundary.
TResult RunCase(const TCase& c, TOps& o, int n, int oa, int ob, int od, bool twin) {
  o.a.Place(oa);
  o.b.Place(ob);
  o.d.Place(od);
  std::mt19937_64 rng(static_cast<unsigned>(n));
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int i = 0; i < 2 * n; ++i) {
    o.a.at[i] = u(rng);
    o.b.at[i] = 1.25 + 0.75 * u(rng);
  }
  // d holds a copy of a where the kernel writes (the in-place forms' input),
  // canaries after that.
  const std::size_t written = c.OutBytes == 0 ? sizeof(double) : static_cast<std::size_t>(n) * c.OutBytes;
  std::memcpy(o.d.at, o.a.at, written);
  TResult r{c.Call(o, n, twin), {}, 0.0};
  EXPECT_TRUE(o.d.CanariesIntact(written)) << c.Name << " n=" << n << " wrote outside its destination";
  if (c.OutBytes == 0) {
    r.Value = o.d.at[0];
  } else {
    const auto* p = reinterpret_cast<const unsigned char*>(o.d.at);
    r.Bytes.assign(p, p + written);
  }
  return r;
}

// Element-wise outputs equal as values of their type (4 bytes: float, else
// doubles), any NaN matching any other: the twins' NaN may differ in sign.
bool SameValues(const std::vector<unsigned char>& x, const std::vector<unsigned char>& y, int unit) {
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); i += unit) {
    double a, b;
    if (unit == 4) {
      float fa, fb;
      std::memcpy(&fa, &x[i], 4);
      std::memcpy(&fb, &y[i], 4);
      a = fa;
      b = fb;
    } else {
      std::memcpy(&a, &x[i], 8);
      std::memcpy(&b, &y[i], 8);
    }
    if (!(a == b || (a != a && b != b)) || (a == 0 && std::signbit(a) != std::signbit(b))) return false;
  }
  return true;
}

// Rounding budget of a reduction over these inputs: every term at most 2 in
// magnitude, so n * eps * 2n bounds any summation order.
double Budget(int n) { return 2.0 * n * n * DBL_EPSILON; }

TEST(Alignment, ResultsDoNotDependOnTheOffsetOfTheArrays) {
  TOps ops;
  for (const TCase& c : Cases()) {
    for (int n : {1, 3, 7, 8, 9, 16, 31, 37, 64, 100, kMaxLen}) {
      const TResult aligned = RunCase(c, ops, n, 0, 0, 0, false);
      const TResult twin = RunCase(c, ops, n, 0, 0, 0, true);
      ASSERT_EQ(aligned.Status, twin.Status) << c.Name << " n=" << n;
      if (c.OutBytes == 0) {
        ASSERT_NEAR(aligned.Value, twin.Value, Budget(n)) << c.Name << " n=" << n;
      } else if (c.ExactTwin) {
        ASSERT_TRUE(SameValues(aligned.Bytes, twin.Bytes, c.OutBytes == 4 ? 4 : 8)) << c.Name << " n=" << n;
      }
      // Each operand at its own offset from 0..7 doubles, in three patterns:
      // all three apart (every relative alignment occurs), b off a lined-up
      // pair a, d, and a off a lined-up pair b, d.
      for (int k = 0; k < 24; ++k) {
        const int off = k % 8, pattern = k / 8;
        const int oa = pattern == 2 ? (off + 2) % 8 : off;
        const int ob = pattern == 0 ? off * 5 % 8 : pattern == 1 ? (off + 3) % 8 : off;
        const int od = pattern == 0 ? off * 3 % 8 : off;
        if (oa == 0 && ob == 0 && od == 0) continue;
        const TResult r = RunCase(c, ops, n, oa, ob, od, false);
        const std::string where = std::string(c.Name) + " n=" + std::to_string(n) + " offsets " + std::to_string(oa) +
                                  "," + std::to_string(ob) + "," + std::to_string(od);
        ASSERT_EQ(r.Status, aligned.Status) << where;
        if (c.OutBytes == 0) {
          ASSERT_NEAR(r.Value, twin.Value, Budget(n)) << where;
        } else {
          ASSERT_EQ(r.Bytes, aligned.Bytes) << where;
        }
      }
    }
  }
}

}  // namespace
}  // namespace nx
