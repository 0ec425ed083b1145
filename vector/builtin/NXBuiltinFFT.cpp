// Built-in double-precision FFT: complex and real (CCS) power-of-two
// transforms, orders 0 ... 30, planned once in InitAlloc and executed many
// times, with SIMD kernels chosen at run time.
//
// Organisation of the transform (complex, N = 2^P):
// - P <= 3: straight-line scalar DFTs.
// - 4 <= P <= 6 with AVX-512: the whole transform in registers (Dft16,
//   DftSmall), since per-stage overhead dominates such short transforms.
// - 4 <= P < kBlockedFrom: a Stockham autosort FFT (decimation in frequency,
//   no bit-reversal pass) over the whole array, radix-4 stages and, for odd P,
//   a radix-8 last stage. Data stay interleaved (re, im); every stage except
//   the first is vectorised over the contiguous "stride" index, so whole SIMD
//   vectors of complex values are loaded and stored. The first stage (stride
//   1) is vectorised over the butterfly index instead and transposes its four
//   outputs in registers (4x4 blocks of complex values) before storing.
//   Stages ping-pong between pDst and the work buffer. From P = 6 the last
//   two stages run fused as one radix-16 (even P) or radix-32 (odd P) pass.
// - P >= kBlockedFrom: a four-step decomposition N = N1 * N2 that keeps the
//   working set in cache. Pass 1 transforms the N1-point columns in blocks of
//   ColBlock adjacent columns (batched Stockham, the block of columns being
//   the innermost, vectorised index), multiplies by the twiddles
//   W_N^(k1*n2) and writes the block into a full-size scratch array. Pass 2
//   transforms the N2-point rows four at a time (the first stage transposes
//   the four rows into batch-inner order) and its last stage stores every
//   result straight into its natural place in pDst. W_N^(k1*n2) is formed as
//   G[k1][n2 mod ColBlock] * W_N^(k1*n2_0), the second factor from two short
//   tables (high and low bits of the exponent), so no N-sized table exists;
//   only the shortest four-step orders read it from a table of N / ColBlock
//   values (kFTableTo).
// - The inverse is conj(FFT(conj(x))): the conjugation is folded into the
//   loads of the first stage and the scaling multiply of the last stage.
// - Twiddles are precomputed per stage as (wr, wr) and (-wi, wi) pairs, the
//   form in which a complex multiply of interleaved data costs one shuffle,
//   one multiply and one fused multiply-add. The whole-array transform's first
//   stage, whose table is the largest, stores W^p only and forms W^2p and
//   W^3p in registers.
// Real transforms of order p: the N reals are N/2 complex values (even
// samples real, odd imaginary); a complex transform of order p - 1 followed
// by the vectorised split step (or, inverse, the split step first). From
// order kFusedSplitFrom the forward split step runs inside the four-step's
// row pass, block by block, while the results are still in cache.
// Short transforms (complex orders 4 to 6, real 4 to 7) on targets with four
// complex values per vector take their whole kernel from the spec, chosen at
// planning time (TSpec::Small): one in-register transform, plus the split
// step for real ones, with no further dispatch per call.
//
// Spec: one 88-byte block from _ippMalloc (fields below) plus one block with
// the plan layout and the tables of the complex plan and, for real specs, one
// block for the split step. Work buffer: the Stockham ping-pong arrays (two of
// N complex), or for the four-step the scratch array of N complex (rows
// padded) plus two small arrays; a caller's buffer is used from its first
// 16-byte-aligned address. Sizes are 64-bit inside. Where the work buffer
// does not fit the 32-bit size field (complex orders 27 and up, real 28 and
// up) the spec reports a buffer size of 0 and every call allocates its own
// work memory (a caller's buffer is then not used).

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinFFT.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#ifndef NX_BUILTIN_FFT_SHARED_ONCE
#define NX_BUILTIN_FFT_SHARED_ONCE
namespace nx::builtin::fft {

// Complex orders from which the four-step decomposition is used. Below it
// the whole-array Stockham transform measured faster; from 4,096 points on,
// its radix-16/32 passes step through memory in strides of 4 KiB or more,
// which all fall into the same first-level cache sets, and the four-step
// (columns in small blocks, a padded scratch array) measured faster.
constexpr int kBlockedFrom = 12;
constexpr size_t kNone = ~size_t(0);
// Four-step orders up to which the per-block twiddles W_N^(k1*n2_0) come from
// a table (N / ColBlock entries) instead of being formed from the Hi and Lo
// tables at every use: at orders 12 and 13 that measured 10% faster; from 14
// on it made no difference, and the table would only grow.
constexpr int kFTableTo = 13;

// The stages of one Stockham transform of length 2^l: radix-4 stages and, for
// odd l, a radix-8 last stage. Stage i works on sub-length m*radix with
// stride s; its twiddles (m > 1 only) start at tw doubles into the tables.
struct TStages {
  int Count = 0;
  int Radix[16] = {};
  size_t M[16] = {};
  size_t S[16] = {};
  size_t Tw[16] = {};
  // The first stage keeps only W^p (rows wr1, wi1: 16 doubles per block of
  // four); its kernel forms W^2p and W^3p in registers. That stage streams
  // the largest table (3N/4 twiddles), and reading a third of it made
  // orders 8-11 measurably faster.
  bool CompactFirst = false;
};

// How a complex transform of one order runs: a straight-line small DFT, one
// whole-array Stockham transform, or the four-step decomposition.
enum class TPlanKind : std::uint8_t { StraightLine, Stockham, FourStep };

struct TLayout {
  int P = 0;          // complex order
  TPlanKind Kind = TPlanKind::StraightLine;
  size_t N = 1;
  TStages A;          // Stockham: the whole transform; four-step: columns (N1)
  TStages B;          // four-step: rows (N2)
  int C1 = 0, C2 = 0; // four-step: log2 N1, log2 N2
  int H = 0;          // four-step: bits of the low twiddle table
  size_t G = kNone, Hi = kNone, Lo = kNone;  // four-step table offsets (doubles)
  size_t F = kNone;  // four-step, orders up to kFTableTo: W_N^(k1*n2_0) per block, see TPost
  size_t TableDoubles = 0;
  size_t WorkBytes = 0;  // including 64 bytes of alignment slack
  size_t WorkA = 0, WorkB = 0, WorkT = 0;  // offsets in doubles from the aligned start
  // Four-step: columns per block of the column pass (a multiple of the
  // complex values per vector of every target) and rows per block of the row
  // pass (a multiple of four, the rows its transposing first stage takes).
  size_t ColBlock = 0, RowBlock = 0;
  size_t TStride = 0;  // four-step: row stride of the scratch array (complex), padded
                       // so that its columns do not all fall into the same cache sets
  // The multipliers of the last stage, set by InitAlloc from the flag: the
  // forward pair (s, s) and the inverse pair (s, -s), whose sign conjugates
  // the result of the conjugated-input transform.
  double Sc[4] = {1.0, 1.0, 1.0, -1.0};
};

// A whole short transform in one call, taken by the spec at planning time
// so that an execution goes straight to it: src, dst, the complex plan's
// first-stage twiddles, the split-step table (real transforms) and the
// multipliers of the last stage (null: none).
using TSmallFn = void (*)(const double* src, double* dst, const double* tw, const double* split, const double* sc);
// The layout is stored at the start of the spec's table block.
constexpr size_t kLayoutDoubles = (sizeof(TLayout) / sizeof(double) + 8) & ~size_t(7);

inline void MakeStages(int l, size_t& off, TStages& st, bool compactFirst = false) {
  size_t n = size_t(1) << l, s = 1;
  int rem = l;
  st.Count = 0;
  st.CompactFirst = compactFirst;
  while (rem > 0) {
    const int r = (rem == 3) ? 8 : (rem == 1 ? 2 : 4);
    const int i = st.Count++;
    st.Radix[i] = r;
    st.M[i] = n / size_t(r);
    st.S[i] = s;
    if (st.M[i] > 1) {
      st.Tw[i] = off;
      off += (i == 0 && compactFirst ? 4 : 12) * st.M[i];
    } else {
      st.Tw[i] = kNone;
    }
    s *= size_t(r);
    n /= size_t(r);
    rem -= (r == 8 ? 3 : (r == 4 ? 2 : 1));
  }
}

// Stage twiddles: for each butterfly index p, six rows (wr1, wi1, wr2, wi2,
// wr3, wi3) of (re, im) pairs. They are stored interleaved in blocks of four
// indices (48 doubles a block, each row's four pairs together), so that a
// butterfly reads its twiddles from one or two cache lines instead of six
// streams far apart, which at 4 KiB multiples would share cache sets with
// the data. Row k of index p:
inline const double* TwAt(const double* tw, size_t p, size_t k) { return tw + 48 * (p >> 2) + 8 * k + 2 * (p & 3); }
inline double* TwAt(double* tw, size_t p, size_t k) {
  return const_cast<double*>(TwAt(static_cast<const double*>(tw), p, k));
}
// The compact first stage: rows wr1, wi1 only (k = 0, 1).
inline const double* TwAt1(const double* tw, size_t p, size_t k) { return tw + 16 * (p >> 2) + 8 * k + 2 * (p & 3); }
inline double* TwAt1(double* tw, size_t p, size_t k) {
  return const_cast<double*>(TwAt1(static_cast<const double*>(tw), p, k));
}

inline size_t Round8(size_t v) { return (v + 7) & ~size_t(7); }  // doubles -> 64-byte multiple

inline TLayout MakeLayout(int P) {
  TLayout L;
  L.P = P;
  L.N = size_t(1) << P;
  size_t off = kLayoutDoubles;
  if (P <= 3) {
    L.Kind = TPlanKind::StraightLine;
  } else if (P < kBlockedFrom) {
    L.Kind = TPlanKind::Stockham;
    // From order 8 (four stages) the first two stages run fused, and that
    // pass reads the compact first-stage table; below, the table is small
    // enough to stay in the first-level cache and is read whole.
    MakeStages(P, off, L.A, P >= 8);
    L.WorkA = 0;
    L.WorkB = Round8(2 * L.N);
    L.WorkBytes = (L.WorkB + 2 * L.N) * sizeof(double) + 64;
  } else {
    L.Kind = TPlanKind::FourStep;
    // Short transforms keep the batched arrays of a block small enough for
    // the first-level cache; long ones take wider blocks, so that each
    // transposed write-out is a longer burst (measured per order range:
    // rows of 8 at orders 12 and 13 ran 5-6% faster than rows of 16, and
    // at 14 and up 12-34% slower; at order 16, whose rows are 512 long,
    // blocks of 64 columns and 16 rows ran 3-10% faster than 16 and 32).
    L.ColBlock = P <= 13 ? 8 : P == 16 ? 64 : 16;
    L.RowBlock = P <= 13 ? 8 : P <= 16 ? 16 : 32;
    // Columns of 2^(P/2) points, rows of the rest; except at orders 15
    // (columns of 64, rows of 512), 16 (128 and 512) and 19 (1,024 and 512),
    // which measured 5-8% faster so (and the neighbouring orders slower).
    L.C1 = P == 15 ? 6 : P == 16 ? 7 : P == 19 ? 10 : P / 2;
    L.C2 = P - L.C1;
    MakeStages(L.C1, off, L.A);
    MakeStages(L.C2, off, L.B);
    const size_t n1 = size_t(1) << L.C1;
    L.G = off;
    off += n1 * 2 * L.ColBlock;
    L.H = (P + 1) / 2;
    L.Lo = off;
    off += 2 * (size_t(1) << L.H);
    L.Hi = off;
    off += 2 * (size_t(1) << (P - L.H));
    if (P <= kFTableTo) {
      L.F = off;
      off += 4 * (L.N / L.ColBlock);
    }
    const size_t n2 = size_t(1) << L.C2;
    L.TStride = n2 + 4;
    const size_t small = 2 * (n1 * L.ColBlock > n2 * L.RowBlock ? n1 * L.ColBlock : n2 * L.RowBlock);
    L.WorkT = 0;
    L.WorkA = Round8(2 * n1 * L.TStride);
    L.WorkB = L.WorkA + Round8(small);
    L.WorkBytes = (L.WorkB + small) * sizeof(double) + 64;
  }
  L.TableDoubles = off;
  return L;
}

// Real orders from which the forward split step runs inside the row pass of
// the half-length transform: there the data no longer fit the second-level
// cache, and saving a pass over them measured 2-4% faster at orders 17-19;
// at 14-16, where the separate pass finds them in cache, it was the same or
// up to 6% slower.
constexpr int kFusedSplitFrom = 17;

// Whether a real transform whose half-length complex plan is L does its split
// step inside the row pass (four-step, at least two row blocks), and the
// doubles its split block then holds besides the N/4 values of the split
// table: W^(n1*k2) for k2 < n2/2 as (c, c, s, -s).
inline bool FusedSplit(const TLayout& L) {
  return L.Kind == TPlanKind::FourStep && L.P + 1 >= kFusedSplitFrom && (size_t(1) << L.C1) >= 2 * L.RowBlock;
}
inline size_t FusedSplitDoubles(const TLayout& L) { return FusedSplit(L) ? 2 * (size_t(1) << L.C2) : 0; }

}  // namespace nx::builtin::fft
#endif  // NX_BUILTIN_FFT_SHARED_ONCE

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace nx::builtin::fft;

#if HWY_TARGET == HWY_SCALAR
// The single-lane target works on one complex value per "vector".
struct DF {};
struct VF {
  double r, i;
};
constexpr size_t kC = 1;
namespace cv {
HWY_INLINE VF LoadU(DF, const double* p) { return {p[0], p[1]}; }
HWY_INLINE VF LoadDup128(DF, const double* p) { return {p[0], p[1]}; }
HWY_INLINE void StoreU(VF v, DF, double* p) {
  p[0] = v.r;
  p[1] = v.i;
}
HWY_INLINE VF Set(DF, double x) { return {x, x}; }
HWY_INLINE VF Zero(DF) { return {0.0, 0.0}; }
HWY_INLINE VF OddEven(VF odd, VF even) { return {even.r, odd.i}; }
// Only ever used with sign masks (+0 or -0 per lane).
HWY_INLINE VF Xor(VF a, VF m) { return {std::signbit(m.r) ? -a.r : a.r, std::signbit(m.i) ? -a.i : a.i}; }
HWY_INLINE VF Add(VF a, VF b) { return {a.r + b.r, a.i + b.i}; }
HWY_INLINE VF Sub(VF a, VF b) { return {a.r - b.r, a.i - b.i}; }
HWY_INLINE VF Mul(VF a, VF b) { return {a.r * b.r, a.i * b.i}; }
HWY_INLINE VF MulAdd(VF a, VF b, VF c) { return {a.r * b.r + c.r, a.i * b.i + c.i}; }
HWY_INLINE VF MulSub(VF a, VF b, VF c) { return {a.r * b.r - c.r, a.i * b.i - c.i}; }
HWY_INLINE VF Reverse2(DF, VF v) { return {v.i, v.r}; }
HWY_INLINE VF DupEven(VF v) { return {v.r, v.r}; }
HWY_INLINE VF DupOdd(VF v) { return {v.i, v.i}; }
}  // namespace cv
#else
using DF = hn::ScalableTag<double>;
using VF = hn::Vec<DF>;
// Complex values per vector (1, 2 or 4).
constexpr size_t kC = HWY_LANES(double) / 2;
namespace cv {
using hn::Add;
using hn::DupEven;
using hn::DupOdd;
using hn::LoadDup128;
using hn::LoadU;
using hn::Mul;
using hn::MulAdd;
using hn::MulSub;
using hn::OddEven;
using hn::Reverse2;
using hn::Set;
using hn::StoreU;
using hn::Sub;
using hn::Xor;
using hn::Zero;
}  // namespace cv
#endif
static_assert(kC >= 1, "the kernels need at least one complex value per vector");

HWY_INLINE VF SignOdd() { return cv::OddEven(cv::Set(DF(), -0.0), cv::Zero(DF())); }
HWY_INLINE VF SignEven() { return cv::OddEven(cv::Zero(DF()), cv::Set(DF(), -0.0)); }

// a * w for interleaved a and w given as (wr, wr) / (-wi, wi) pairs.
HWY_INLINE VF CMulDup(VF a, VF wr, VF wi) { return cv::MulAdd(a, wr, cv::Mul(cv::Reverse2(DF(), a), wi)); }
// Multiplies the outputs 1..3 of the first stage's butterflies p ... by W^p,
// W^2p, W^3p. From the compact table it reads W^p and forms the other two
// (W^2 = W * W, W^3 = W * W^2, in the (c, c), (s, -s) form of CMulDup).
template <bool kCompact>
HWY_INLINE void TwiddleFirst(const double* tw, size_t p, VF& y1, VF& y2, VF& y3) {
  const DF d;
  if (!kCompact) {
    y1 = CMulDup(y1, cv::LoadU(d, TwAt(tw, p, 0)), cv::LoadU(d, TwAt(tw, p, 1)));
    y2 = CMulDup(y2, cv::LoadU(d, TwAt(tw, p, 2)), cv::LoadU(d, TwAt(tw, p, 3)));
    y3 = CMulDup(y3, cv::LoadU(d, TwAt(tw, p, 4)), cv::LoadU(d, TwAt(tw, p, 5)));
    return;
  }
  const VF wr = cv::LoadU(d, TwAt1(tw, p, 0)), wi = cv::LoadU(d, TwAt1(tw, p, 1));
  const VF wr2 = cv::MulSub(wr, wr, cv::Mul(wi, wi)), wi2 = cv::Mul(cv::Add(wr, wr), wi);
  const VF wr3 = cv::MulSub(wr, wr2, cv::Mul(wi, wi2)), wi3 = cv::MulAdd(wr, wi2, cv::Mul(wi, wr2));
  y1 = CMulDup(y1, wr, wi);
  y2 = CMulDup(y2, wr2, wi2);
  y3 = CMulDup(y3, wr3, wi3);
}
// -i * v.
HWY_INLINE VF MulNegI(VF v, VF signOdd) { return cv::Xor(cv::Reverse2(DF(), v), signOdd); }
// Conjugates the four inputs of a butterfly when conj is set (the inverse
// transform's loads); with a constant flag the test folds away.
HWY_INLINE void Conj4(bool conj, VF so, VF& a, VF& b, VF& c, VF& e) {
  if (!conj) return;
  a = cv::Xor(a, so);
  b = cv::Xor(b, so);
  c = cv::Xor(c, so);
  e = cv::Xor(e, so);
}

HWY_INLINE void Bfly4(VF a, VF b, VF c, VF d, VF so, VF& y0, VF& y1, VF& y2, VF& y3) {
  const VF apc = cv::Add(a, c), amc = cv::Sub(a, c), bpd = cv::Add(b, d);
  y0 = cv::Add(apc, bpd);
  y2 = cv::Sub(apc, bpd);
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL || HWY_TARGET == HWY_AVX2
  // amc -+ i*(b - d) as one alternating add/subtract of the swapped pair
  // each (multiplied by one, which is exact): no sign flip needed.
  (void)so;
  const VF sw = cv::Reverse2(DF(), cv::Sub(b, d)), one = cv::Set(DF(), 1.0);
#if HWY_TARGET == HWY_AVX2
  y1 = VF{_mm256_fmsubadd_pd(amc.raw, one.raw, sw.raw)};
  y3 = VF{_mm256_fmaddsub_pd(amc.raw, one.raw, sw.raw)};
#else
  y1 = VF{_mm512_fmsubadd_pd(amc.raw, one.raw, sw.raw)};
  y3 = VF{_mm512_fmaddsub_pd(amc.raw, one.raw, sw.raw)};
#endif
#else
  const VF t = MulNegI(cv::Sub(b, d), so);
  y1 = cv::Add(amc, t);
  y3 = cv::Sub(amc, t);
#endif
}

// Forward DFT of 8 vectors of independent lanes, results in natural order.
HWY_INLINE void Bfly8(VF* x, VF so, VF r2, VF* y) {
  const VF a0 = cv::Add(x[0], x[4]), a1 = cv::Add(x[1], x[5]), a2 = cv::Add(x[2], x[6]), a3 = cv::Add(x[3], x[7]);
  const VF b0 = cv::Sub(x[0], x[4]);
  const VF u1 = cv::Sub(x[1], x[5]), u2 = cv::Sub(x[2], x[6]), u3 = cv::Sub(x[3], x[7]);
  const VF b1 = cv::Mul(cv::Add(u1, MulNegI(u1, so)), r2);
  const VF b2 = MulNegI(u2, so);
  const VF b3 = cv::Mul(cv::Sub(MulNegI(u3, so), u3), r2);
  Bfly4(a0, a1, a2, a3, so, y[0], y[2], y[4], y[6]);
  Bfly4(b0, b1, b2, b3, so, y[1], y[3], y[5], y[7]);
}

// Forward DFT of 16 vectors of independent lanes, results in natural order:
// radix-4 over n = a + 4b, the twiddles W_16^(a*c) as broadcast constants,
// radix-4 again (output c + 4d). W = c - i s is applied as
// CMulDup(v, (c, c), (s, -s)).
HWY_INLINE void Bfly16(const VF* x, VF so, VF* y) {
  const DF d;
  const double k1 = 0.92387953251128675613, k3 = 0.38268343236508977173, kh = 0.70710678118654752440;
  const VF c1 = cv::Set(d, k1), s1 = cv::Xor(cv::Set(d, k3), so);    // W^1
  const VF c3 = cv::Set(d, k3), s3 = cv::Xor(cv::Set(d, k1), so);    // W^3
  const VF h = cv::Set(d, kh), hs = cv::Xor(h, so);                  // W^2
  const VF mh = cv::Set(d, -kh);                                     // W^6 = (-h, hs)
  const VF c9 = cv::Set(d, -k1), s9 = cv::Xor(cv::Set(d, -k3), so);  // W^9
  VF t[4][4];
  for (int a = 0; a < 4; ++a) Bfly4(x[a], x[a + 4], x[a + 8], x[a + 12], so, t[a][0], t[a][1], t[a][2], t[a][3]);
  t[1][1] = CMulDup(t[1][1], c1, s1);
  t[1][2] = CMulDup(t[1][2], h, hs);
  t[1][3] = CMulDup(t[1][3], c3, s3);
  t[2][1] = CMulDup(t[2][1], h, hs);
  t[2][2] = MulNegI(t[2][2], so);
  t[2][3] = CMulDup(t[2][3], mh, hs);
  t[3][1] = CMulDup(t[3][1], c3, s3);
  t[3][2] = CMulDup(t[3][2], mh, hs);
  t[3][3] = CMulDup(t[3][3], c9, s9);
  for (int c = 0; c < 4; ++c) Bfly4(t[0][c], t[1][c], t[2][c], t[3][c], so, y[c], y[c + 4], y[c + 8], y[c + 12]);
}

// Transpose of complex values: given y_k (k = 0..3) each holding kC
// consecutive items j, produce o_0..o_3 whose concatenation lists, for each j,
// y_0[j], y_1[j], y_2[j], y_3[j].
HWY_INLINE void Interleave4(VF y0, VF y1, VF y2, VF y3, VF* o) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  const __m512d t0 = _mm512_shuffle_f64x2(y0.raw, y1.raw, 0x44);
  const __m512d t1 = _mm512_shuffle_f64x2(y2.raw, y3.raw, 0x44);
  const __m512d t2 = _mm512_shuffle_f64x2(y0.raw, y1.raw, 0xEE);
  const __m512d t3 = _mm512_shuffle_f64x2(y2.raw, y3.raw, 0xEE);
  o[0] = VF{_mm512_shuffle_f64x2(t0, t1, 0x88)};
  o[1] = VF{_mm512_shuffle_f64x2(t0, t1, 0xDD)};
  o[2] = VF{_mm512_shuffle_f64x2(t2, t3, 0x88)};
  o[3] = VF{_mm512_shuffle_f64x2(t2, t3, 0xDD)};
#elif HWY_TARGET == HWY_AVX2
  const DF d;
  o[0] = hn::ConcatLowerLower(d, y1, y0);
  o[1] = hn::ConcatLowerLower(d, y3, y2);
  o[2] = hn::ConcatUpperUpper(d, y1, y0);
  o[3] = hn::ConcatUpperUpper(d, y3, y2);
#else
  static_assert(kC == 1, "unexpected vector width");
  o[0] = y0;
  o[1] = y1;
  o[2] = y2;
  o[3] = y3;
#endif
}

// Reverses the order of the complex values in a vector.
HWY_INLINE VF ReverseComplex(VF v) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  return VF{_mm512_shuffle_f64x2(v.raw, v.raw, 0x1B)};
#elif HWY_TARGET == HWY_AVX2
  return hn::ConcatLowerUpper(DF(), v, v);
#else
  return v;
#endif
}

// ---------------------------------------------------------------- stages
// Addresses are in doubles; strides, s and B are in complex values. A stage
// reads unit (q + s*(p + j*m)) and writes unit (q + s*(R*p + k)); unit u of an
// array with unit stride str holds B complex values at 2*u*str.

template <bool kConjIn>
HWY_NOINLINE void Radix4Tw(const double* in, size_t inStr, double* out, size_t outStr, size_t m, size_t s,
                           size_t B, const double* tw) {
  const DF d;
  const VF so = SignOdd();
  for (size_t p = 0; p < m; ++p) {
    const VF wr1 = cv::LoadDup128(d, TwAt(tw, p, 0)), wi1 = cv::LoadDup128(d, TwAt(tw, p, 1));
    const VF wr2 = cv::LoadDup128(d, TwAt(tw, p, 2)), wi2 = cv::LoadDup128(d, TwAt(tw, p, 3));
    const VF wr3 = cv::LoadDup128(d, TwAt(tw, p, 4)), wi3 = cv::LoadDup128(d, TwAt(tw, p, 5));
    for (size_t q = 0; q < s; ++q) {
      const double* i0 = in + 2 * (q + s * p) * inStr;
      const double* i1 = in + 2 * (q + s * (p + m)) * inStr;
      const double* i2 = in + 2 * (q + s * (p + 2 * m)) * inStr;
      const double* i3 = in + 2 * (q + s * (p + 3 * m)) * inStr;
      double* o0 = out + 2 * (q + s * (4 * p)) * outStr;
      double* o1 = out + 2 * (q + s * (4 * p + 1)) * outStr;
      double* o2 = out + 2 * (q + s * (4 * p + 2)) * outStr;
      double* o3 = out + 2 * (q + s * (4 * p + 3)) * outStr;
      for (size_t b = 0; b < 2 * B; b += 2 * kC) {
        VF a = cv::LoadU(d, i0 + b), bb = cv::LoadU(d, i1 + b), c = cv::LoadU(d, i2 + b), e = cv::LoadU(d, i3 + b);
        Conj4(kConjIn, so, a, bb, c, e);
        VF y0, y1, y2, y3;
        Bfly4(a, bb, c, e, so, y0, y1, y2, y3);
        cv::StoreU(y0, d, o0 + b);
        cv::StoreU(CMulDup(y1, wr1, wi1), d, o1 + b);
        cv::StoreU(CMulDup(y2, wr2, wi2), d, o2 + b);
        cv::StoreU(CMulDup(y3, wr3, wi3), d, o3 + b);
      }
    }
  }
}

// Radix4Tw for s = 1 with unit stride B on both sides (the middle stages of
// the whole-array and batched transforms): two loop levels and pointers that
// advance instead of being recomputed, which matters when B is one or a few
// vectors.
template <bool kConjIn>
HWY_NOINLINE void Radix4TwS1(const double* in, double* out, size_t m, size_t B, const double* tw) {
  const DF d;
  const VF so = SignOdd();
  const size_t quarter = 2 * B * m;  // doubles between the four inputs
  const size_t unit = 2 * B;
  for (size_t p = 0; p < m; ++p) {
    const VF wr1 = cv::LoadDup128(d, TwAt(tw, p, 0)), wi1 = cv::LoadDup128(d, TwAt(tw, p, 1));
    const VF wr2 = cv::LoadDup128(d, TwAt(tw, p, 2)), wi2 = cv::LoadDup128(d, TwAt(tw, p, 3));
    const VF wr3 = cv::LoadDup128(d, TwAt(tw, p, 4)), wi3 = cv::LoadDup128(d, TwAt(tw, p, 5));
    const double* i0 = in + unit * p;
    double* o0 = out + 4 * unit * p;
    for (size_t b = 0; b < unit; b += 2 * kC) {
      VF a = cv::LoadU(d, i0 + b), bb = cv::LoadU(d, i0 + quarter + b);
      VF c = cv::LoadU(d, i0 + 2 * quarter + b), e = cv::LoadU(d, i0 + 3 * quarter + b);
      Conj4(kConjIn, so, a, bb, c, e);
      VF y0, y1, y2, y3;
      Bfly4(a, bb, c, e, so, y0, y1, y2, y3);
      cv::StoreU(y0, d, o0 + b);
      cv::StoreU(CMulDup(y1, wr1, wi1), d, o0 + unit + b);
      cv::StoreU(CMulDup(y2, wr2, wi2), d, o0 + 2 * unit + b);
      cv::StoreU(CMulDup(y3, wr3, wi3), d, o0 + 3 * unit + b);
    }
  }
}

// What the last stage does to its results before storing them.
enum { kPostNone = 0, kPostScale = 1, kPostFourStep = 2 };
struct TPost {
  const double* Scale = nullptr;  // two doubles: multipliers of re and im
  // Four-step twiddles: G rows of ColBlock complex values W (re, im), Hi/Lo
  // tables. G is read whole by every column block; kept as plain complex
  // values rather than (wr, wr) / (-wi, wi) pairs it takes half the cache,
  // which measured 4-8% faster at orders 12-18 than the pairs despite the
  // two shuffles that form them.
  const double* G = nullptr;
  const double* Hi = nullptr;
  const double* Lo = nullptr;
  int H = 0;
  size_t NMask = 0;
  size_t Col0 = 0;  // first column of the block
  // Or, where the layout has one, the block's row of the F table: W_N^(k1*Col0)
  // for every k1 as (c, c) and (s, -s) pairs (W = c - i s).
  const double* F = nullptr;
  size_t ColBlock = 0;
};

template <int R, bool kConjIn, int kPost>
HWY_NOINLINE void LastStage(const double* in, size_t inStr, double* out, size_t outStr, size_t s, size_t B,
                            const TPost& post) {
  const DF d;
  const VF so = SignOdd();
  const VF r2 = cv::Set(d, 0.70710678118654752440);
  VF sc = cv::Zero(d);
  if (kPost == kPostScale) sc = cv::LoadDup128(d, post.Scale);
  const VF se = SignEven();
  for (size_t q = 0; q < s; ++q) {
    VF fr[R], fi[R];
    const double* g[R];
    if (kPost == kPostFourStep) {
      for (int k = 0; k < R; ++k) {
        const size_t k1 = q + s * size_t(k);
        g[k] = post.G + k1 * 2 * post.ColBlock;
        if (post.F != nullptr) {
          fr[k] = cv::LoadDup128(d, post.F + 4 * k1);
          fi[k] = cv::LoadDup128(d, post.F + 4 * k1 + 2);
          continue;
        }
        const size_t e = (k1 * post.Col0) & post.NMask;
        const double* hi = post.Hi + 2 * (e >> post.H);
        const double* lo = post.Lo + 2 * (e & ((size_t(1) << post.H) - 1));
        const double cr = hi[0] * lo[0] - hi[1] * lo[1];
        const double ci = hi[0] * lo[1] + hi[1] * lo[0];
        fr[k] = cv::Set(d, cr);
        fi[k] = cv::Xor(cv::Set(d, ci), se);  // (-ci, ci)
      }
    }
    for (size_t b = 0; b < 2 * B; b += 2 * kC) {
      VF x[R], y[R];
      for (int j = 0; j < R; ++j) {
        x[j] = cv::LoadU(d, in + 2 * (q + s * size_t(j)) * inStr + b);
        if (kConjIn) x[j] = cv::Xor(x[j], so);
      }
      if (R == 4) {
        Bfly4(x[0], x[1], x[2], x[3], so, y[0], y[1], y[2], y[3]);
      } else {
        Bfly8(x, so, r2, y);
      }
      for (int k = 0; k < R; ++k) {
        VF v = y[k];
        if (kPost == kPostScale) v = cv::Mul(v, sc);
        if (kPost == kPostFourStep) {
          const VF w = cv::LoadU(d, g[k] + b);
          v = CMulDup(v, cv::DupEven(w), cv::Xor(cv::DupOdd(w), se));
          v = CMulDup(v, fr[k], fi[k]);
        }
        cv::StoreU(v, d, out + 2 * (q + s * size_t(k)) * outStr + b);
      }
    }
  }
}

// The last two radix-4 stages of a whole-array Stockham transform fused into
// one radix-16 pass (inputs and outputs 16 units of B complex values), so
// that the data cross memory once instead of twice; the middle twiddles are
// the constants W_16^(a*c).
template <bool kScale>
HWY_NOINLINE void LastStage16(const double* in, double* out, size_t B, const double* scale) {
  const DF d;
  const VF so = SignOdd();
  VF sc = cv::Zero(d);
  if (kScale) sc = cv::LoadDup128(d, scale);
  const size_t unit = 2 * B;
  for (size_t b = 0; b < unit; b += 2 * kC) {
    VF x[16], y[16];
    for (size_t j = 0; j < 16; ++j) x[j] = cv::LoadU(d, in + unit * j + b);
    Bfly16(x, so, y);
    for (size_t k = 0; k < 16; ++k) cv::StoreU(kScale ? cv::Mul(y[k], sc) : y[k], d, out + unit * k + b);
  }
}

// For odd orders: the last radix-4 stage (m = 8) and the radix-8 stage fused
// into one radix-32 pass; the middle twiddles W_32^(p*c) come from the
// radix-4 stage's table.
template <bool kScale>
HWY_NOINLINE void LastStage32(const double* in, double* out, size_t B, const double* tw, const double* scale) {
  const DF d;
  const VF so = SignOdd();
  const VF r2 = cv::Set(d, 0.70710678118654752440);
  VF sc = cv::Zero(d);
  if (kScale) sc = cv::LoadDup128(d, scale);
  const size_t unit = 2 * B;
  for (size_t b = 0; b < unit; b += 2 * kC) {
    VF t[4][8];
    for (size_t p = 0; p < 8; ++p) {
      const double* i0 = in + unit * p + b;
      Bfly4(cv::LoadU(d, i0), cv::LoadU(d, i0 + 8 * unit), cv::LoadU(d, i0 + 16 * unit), cv::LoadU(d, i0 + 24 * unit),
            so, t[0][p], t[1][p], t[2][p], t[3][p]);
      if (p > 0) {
        for (size_t c = 1; c < 4; ++c)
          t[c][p] = CMulDup(t[c][p], cv::LoadDup128(d, TwAt(tw, p, 2 * (c - 1))),
                            cv::LoadDup128(d, TwAt(tw, p, 2 * (c - 1) + 1)));
      }
    }
    for (size_t c = 0; c < 4; ++c) {
      VF y[8];
      Bfly8(t[c], so, r2, y);
      for (size_t k = 0; k < 8; ++k)
        cv::StoreU(kScale ? cv::Mul(y[k], sc) : y[k], d, out + unit * (4 * k + c) + b);
    }
  }
}

// One vector of radix-4 butterflies of a stride-1 first stage: the inputs
// p, p + m, p + 2m, p + 3m (conjugated for an inverse transform), their
// butterfly and the twiddles of outputs 1 to 3; y[k] holds output k of the
// kC butterflies p ... p + kC - 1.
template <bool kConjIn, bool kCompact>
HWY_INLINE void FirstButterfliesT(const double* in, size_t p, size_t m, const double* tw, VF so, VF y[4]) {
  const DF d;
  VF a = cv::LoadU(d, in + 2 * p), b = cv::LoadU(d, in + 2 * (p + m));
  VF c = cv::LoadU(d, in + 2 * (p + 2 * m)), e = cv::LoadU(d, in + 2 * (p + 3 * m));
  Conj4(kConjIn, so, a, b, c, e);
  Bfly4(a, b, c, e, so, y[0], y[1], y[2], y[3]);
  TwiddleFirst<kCompact>(tw, p, y[1], y[2], y[3]);
}

// The same, interleaved into o: the four results of each butterfly side by side.
template <bool kConjIn, bool kCompact>
HWY_INLINE void FirstButterflies(const double* in, size_t p, size_t m, const double* tw, VF so, VF o[4]) {
  VF y[4];
  FirstButterfliesT<kConjIn, kCompact>(in, p, m, tw, so, y);
  Interleave4(y[0], y[1], y[2], y[3], o);
}

// First stage of a whole-array Stockham transform (stride 1), vectorised over
// the butterfly index; the four results of each butterfly are transposed so
// that they land next to each other.
template <bool kConjIn>
HWY_NOINLINE void FirstStage1(const double* in, double* out, size_t m, const double* tw) {
  const DF d;
  const VF so = SignOdd();
  for (size_t p = 0; p < m; p += kC) {
    VF o[4];
    FirstButterflies<kConjIn, false>(in, p, m, tw, so, o);
    double* dst = out + 8 * p;
    for (int i = 0; i < 4; ++i) cv::StoreU(o[i], d, dst + 2 * kC * size_t(i));
  }
}

// The first two stages of a whole-array Stockham transform fused (orders of
// 8 and up): each block of kC butterflies of the second stage (m1 = N/16)
// gathers its four input units from four first-stage blocks computed on the
// spot (p, p + m1, p + 2*m1, p + 3*m1), so the first stage's results never
// go through memory. The first stage's table is the compact one (every
// layout that takes this pass has it). The second stage runs before the
// transpose, on vectors whose lanes are still the butterfly index, so that
// its twiddles are six whole-vector loads per kC butterflies rather than six
// broadcasts per butterfly (orders 8-10 measured 8-12% faster; 11 the same).
template <bool kConjIn>
HWY_NOINLINE void FirstStage16(const double* in, double* out, size_t m0, const double* tw0, size_t m1,
                               const double* tw1) {
  const DF d;
  const VF so = SignOdd();
  constexpr size_t kV = 4 / kC;  // vectors per unit of four complex values
  for (size_t p = 0; p < m1; p += kC) {
    // First stage, untransposed: y[j][k] = output k of butterflies p + m1*j.
    VF y[4][4];
    for (size_t j = 0; j < 4; ++j) FirstButterfliesT<kConjIn, true>(in, p + m1 * j, m0, tw0, so, y[j]);
    // Second stage across j with the lanes still the butterfly index, so
    // its twiddles are whole vectors of the table (one load per row for kC
    // indices); then one transpose per output c.
    const VF wr1 = cv::LoadU(d, TwAt(tw1, p, 0)), wi1 = cv::LoadU(d, TwAt(tw1, p, 1));
    const VF wr2 = cv::LoadU(d, TwAt(tw1, p, 2)), wi2 = cv::LoadU(d, TwAt(tw1, p, 3));
    const VF wr3 = cv::LoadU(d, TwAt(tw1, p, 4)), wi3 = cv::LoadU(d, TwAt(tw1, p, 5));
    VF z[4][4];  // z[c][k]
    for (size_t k = 0; k < 4; ++k) {
      Bfly4(y[0][k], y[1][k], y[2][k], y[3][k], so, z[0][k], z[1][k], z[2][k], z[3][k]);
      z[1][k] = CMulDup(z[1][k], wr1, wi1);
      z[2][k] = CMulDup(z[2][k], wr2, wi2);
      z[3][k] = CMulDup(z[3][k], wr3, wi3);
    }
    for (size_t c = 0; c < 4; ++c) {
      VF o[4];
      Interleave4(z[c][0], z[c][1], z[c][2], z[c][3], o);
      for (size_t g = 0; g < kC; ++g) {
        double* dst = out + 32 * (p + g) + 8 * c;
        for (size_t v = 0; v < kV; ++v) cv::StoreU(o[g * kV + v], d, dst + 2 * kC * v);
      }
    }
  }
}

// First stage of the four-step row pass: four rows (rowStr apart) are
// transformed together and their results interleaved so that the batch of
// rows becomes the innermost index; units of the output hold `unit` complex
// values (the whole row block), of which these four rows fill four.
HWY_NOINLINE void FirstStageRows(const double* in, size_t rowStr, double* out, size_t unit, size_t m,
                                 const double* tw) {
  const DF d;
  const VF so = SignOdd();
  constexpr size_t kV = 4 / kC;  // vectors per unit of four complex values
  for (size_t p = 0; p < m; p += kC) {
    const VF wr1 = cv::LoadU(d, TwAt(tw, p, 0)), wi1 = cv::LoadU(d, TwAt(tw, p, 1));
    const VF wr2 = cv::LoadU(d, TwAt(tw, p, 2)), wi2 = cv::LoadU(d, TwAt(tw, p, 3));
    const VF wr3 = cv::LoadU(d, TwAt(tw, p, 4)), wi3 = cv::LoadU(d, TwAt(tw, p, 5));
    VF y[4][4];
    for (size_t r = 0; r < 4; ++r) {
      const double* row = in + 2 * r * rowStr;
      const VF a = cv::LoadU(d, row + 2 * p), b = cv::LoadU(d, row + 2 * (p + m));
      const VF c = cv::LoadU(d, row + 2 * (p + 2 * m)), e = cv::LoadU(d, row + 2 * (p + 3 * m));
      Bfly4(a, b, c, e, so, y[r][0], y[r][1], y[r][2], y[r][3]);
      y[r][1] = CMulDup(y[r][1], wr1, wi1);
      y[r][2] = CMulDup(y[r][2], wr2, wi2);
      y[r][3] = CMulDup(y[r][3], wr3, wi3);
    }
    for (size_t k = 0; k < 4; ++k) {
      VF o[4];
      Interleave4(y[0][k], y[1][k], y[2][k], y[3][k], o);
      for (size_t g = 0; g < kC; ++g) {
        double* dst = out + 2 * unit * (4 * (p + g) + k);
        for (size_t v = 0; v < kV; ++v) cv::StoreU(o[g * kV + v], d, dst + 2 * kC * v);
      }
    }
  }
}

// ---------------------------------------------------------------- drivers

template <bool kConjIn, int kPost>
void RunLast(int radix, const double* in, size_t inStr, double* out, size_t outStr, size_t s, size_t B,
             const TPost& post) {
  if (radix == 4)
    LastStage<4, kConjIn, kPost>(in, inStr, out, outStr, s, B, post);
  else
    LastStage<8, kConjIn, kPost>(in, inStr, out, outStr, s, B, post);
}

inline void RunLastScaled(int radix, bool post, const double* in, size_t inStr, double* out, size_t outStr,
                          size_t s, size_t B, const TPost& tp) {
  if (post)
    RunLast<false, kPostScale>(radix, in, inStr, out, outStr, s, B, tp);
  else
    RunLast<false, kPostNone>(radix, in, inStr, out, outStr, s, B, tp);
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// Twiddles W_16^(n1*k1) of the 16-point kernel as (c, c) and (s, -s) rows
// for k1 = 1, 2, 3 and lanes n1 = 0..3 (W = c - i s).
alignas(64) static const double kTw16[3][2][8] = {
    {{1.0, 1.0, 0.92387953251128675613, 0.92387953251128675613, 0.70710678118654752440, 0.70710678118654752440,
      0.38268343236508977173, 0.38268343236508977173},
     {0.0, -0.0, 0.38268343236508977173, -0.38268343236508977173, 0.70710678118654752440, -0.70710678118654752440,
      0.92387953251128675613, -0.92387953251128675613}},
    {{1.0, 1.0, 0.70710678118654752440, 0.70710678118654752440, 0.0, 0.0, -0.70710678118654752440,
      -0.70710678118654752440},
     {0.0, -0.0, 0.70710678118654752440, -0.70710678118654752440, 1.0, -1.0, 0.70710678118654752440,
      -0.70710678118654752440}},
    {{1.0, 1.0, 0.38268343236508977173, 0.38268343236508977173, -0.70710678118654752440, -0.70710678118654752440,
      -0.92387953251128675613, -0.92387953251128675613},
     {0.0, -0.0, 0.92387953251128675613, -0.92387953251128675613, 0.70710678118654752440, -0.70710678118654752440,
      -0.38268343236508977173, 0.38268343236508977173}}};

// The whole 16-point transform in four registers: radix-4 across the
// vectors (n = n1 + 4*n2, lanes n1), twiddles, a 4x4 transpose, radix-4
// again; the results come out in natural order. Short transforms are
// dominated by per-stage overhead, which this avoids.
HWY_INLINE void Dft16(const double* src, double* dst, bool conj, const double* scaleConj) {
  const DF d;
  const VF so = SignOdd();
  VF a = cv::LoadU(d, src), b = cv::LoadU(d, src + 8), c = cv::LoadU(d, src + 16), e = cv::LoadU(d, src + 24);
  Conj4(conj, so, a, b, c, e);
  VF y0, y1, y2, y3;
  Bfly4(a, b, c, e, so, y0, y1, y2, y3);
  y1 = CMulDup(y1, cv::LoadU(d, kTw16[0][0]), cv::LoadU(d, kTw16[0][1]));
  y2 = CMulDup(y2, cv::LoadU(d, kTw16[1][0]), cv::LoadU(d, kTw16[1][1]));
  y3 = CMulDup(y3, cv::LoadU(d, kTw16[2][0]), cv::LoadU(d, kTw16[2][1]));
  const __m512d t0 = _mm512_shuffle_f64x2(y0.raw, y1.raw, 0x44);
  const __m512d t1 = _mm512_shuffle_f64x2(y2.raw, y3.raw, 0x44);
  const __m512d t2 = _mm512_shuffle_f64x2(y0.raw, y1.raw, 0xEE);
  const __m512d t3 = _mm512_shuffle_f64x2(y2.raw, y3.raw, 0xEE);
  const VF z0{_mm512_shuffle_f64x2(t0, t1, 0x88)}, z1{_mm512_shuffle_f64x2(t0, t1, 0xDD)};
  const VF z2{_mm512_shuffle_f64x2(t2, t3, 0x88)}, z3{_mm512_shuffle_f64x2(t2, t3, 0xDD)};
  Bfly4(z0, z1, z2, z3, so, y0, y1, y2, y3);
  if (scaleConj != nullptr) {
    const VF sc = cv::LoadDup128(d, scaleConj);
    y0 = cv::Mul(y0, sc);
    y1 = cv::Mul(y1, sc);
    y2 = cv::Mul(y2, sc);
    y3 = cv::Mul(y3, sc);
  }
  cv::StoreU(y0, d, dst);
  cv::StoreU(y1, d, dst + 8);
  cv::StoreU(y2, d, dst + 16);
  cv::StoreU(y3, d, dst + 24);
}

// Transforms of 32 and 64 points in registers: a radix-4 step across the
// vectors (n = n1 + (N/4)*n2, n1 in the lanes) with the first stage's
// twiddles, a 4x4 transpose of each group so that the lanes become k2, then
// an 8- or 16-point DFT across the vectors whose results k1 hold the
// contiguous outputs X[k2 + 4*k1].
template <size_t kN>
HWY_INLINE void DftSmall(const double* src, double* dst, const double* tw, bool conj, const double* scaleConj) {
  const DF d;
  const VF so = SignOdd();
  constexpr size_t m = kN / 4, G = m / 4;  // n1 values, and vectors per group
  VF x[kN / 4];
  VF u[kN / 4];
  for (size_t j = 0; j < kN / 4; ++j) {
    x[j] = cv::LoadU(d, src + 8 * j);
    if (conj) x[j] = cv::Xor(x[j], so);
  }
  for (size_t g = 0; g < G; ++g) {
    VF y0, y1, y2, y3;
    Bfly4(x[g], x[g + G], x[g + 2 * G], x[g + 3 * G], so, y0, y1, y2, y3);
    TwiddleFirst<false>(tw, 4 * g, y1, y2, y3);
    Interleave4(y0, y1, y2, y3, u + 4 * g);
  }
  VF y[kN / 4];
  if (kN == 32)
    Bfly8(u, so, cv::Set(d, 0.70710678118654752440), y);
  else
    Bfly16(u, so, y);
  if (scaleConj != nullptr) {
    const VF sc = cv::LoadDup128(d, scaleConj);
    for (size_t k = 0; k < kN / 4; ++k) y[k] = cv::Mul(y[k], sc);
  }
  for (size_t k = 0; k < kN / 4; ++k) cv::StoreU(y[k], d, dst + 8 * k);
}
#endif

// The split step of a real forward transform (see RealSplitFwd) done inside
// the four-step's row pass: z holds the M = n1*n2 complex results in natural
// order, X[k] at k = k1 + n1*k2. For the columns k1 in [c0, c0 + RB) and the
// upper half k2 < n2/2, each k with its mirror image M - k (always in the
// lower half, or the spare slot z[M] = z[0] for k = 0). P[k] = -i W^k / 2
// is formed as P[k1] (ptab, k1 < n1 <= N/4) times W^(n1*k2) (pb, as
// (c, c, s, -s) for W = c - i s).
void SplitStrip(double* z, size_t M, size_t n1, size_t n2, size_t c0, size_t RB, const double* ptab,
                const double* pb) {
  const DF d;
  const VF so = SignOdd(), se = SignEven(), half = cv::Set(d, 0.5);
  for (size_t k2 = 0; k2 < n2 / 2; ++k2) {
    const VF br = cv::LoadDup128(d, pb + 4 * k2), bi = cv::LoadDup128(d, pb + 4 * k2 + 2);
    for (size_t a = c0; a < c0 + RB; a += kC) {
      const size_t k = a + n1 * k2;
      double* lo = z + 2 * k;
      double* hiP = z + 2 * (M - k - kC + 1);
      const VF zk = cv::LoadU(d, lo);
      const VF zc = cv::Xor(ReverseComplex(cv::LoadU(d, hiP)), so);
      const VF w = CMulDup(cv::LoadU(d, ptab + 2 * a), br, bi);
      const VF wr = cv::DupEven(w), wi = cv::Xor(cv::DupOdd(w), se);
      const VF S = cv::Add(zk, zc), t = CMulDup(cv::Sub(zk, zc), wr, wi);
      cv::StoreU(cv::MulAdd(S, half, t), d, lo);
      cv::StoreU(ReverseComplex(cv::Xor(cv::MulSub(S, half, t), so)), d, hiP);
    }
  }
}

// Complex transform of order P >= 4. scaleConj: the two multipliers of the
// last stage (null: none); conj: conjugate the input (inverse transform).
// split (four-step, forward only; null: none): the split table of the real
// transform of order P + 1 followed by the W^(n1*k2) table, to finish a real
// transform inside the row pass (dst then has room for M + 1 values).
void ComplexKernel(const TLayout& L, const double* tables, const double* src, double* dst, double* work,
                   bool conj, const double* scaleConj, const double* split) {
  TPost tp;
  tp.Scale = scaleConj;
  const bool post = scaleConj != nullptr;
  if (L.Kind == TPlanKind::Stockham) {
    const TStages& st = L.A;
    const int K = st.Count;
    const bool inPlace = src == dst;
    double* A = work + L.WorkA;
    double* Bb = work + L.WorkB;
    // Target of stage i: the last stage writes dst; before it the arrays
    // alternate (dst and A out of place, A and B in place).
    auto target = [&](int i) -> double* {
      if (i == K - 1) return dst;
      if (inPlace) return (i % 2 == 0) ? A : Bb;
      return ((K - 1 - i) % 2 == 0) ? dst : A;
    };
    // From four stages on (order 8 and up) the first two run fused.
    const int first = K >= 4 ? 2 : 1;
    double* cur = target(first - 1);
    if (first == 2) {
      if (conj)
        FirstStage16<true>(src, cur, st.M[0], tables + st.Tw[0], st.M[1], tables + st.Tw[1]);
      else
        FirstStage16<false>(src, cur, st.M[0], tables + st.Tw[0], st.M[1], tables + st.Tw[1]);
    } else if (conj) {
      FirstStage1<true>(src, cur, st.M[0], tables + st.Tw[0]);
    } else {
      FirstStage1<false>(src, cur, st.M[0], tables + st.Tw[0]);
    }
    // An even order of at least 6 ends with two radix-4 stages (the first
    // of them with m = 4): they run as one radix-16 pass.
    // An odd order of at least 7 ends with a radix-4 stage (m = 8) and the
    // radix-8 stage: they run as one radix-32 pass. Out of place, that pass
    // may read dst itself, which is safe: each column b is read whole
    // before any of it is written.
    const bool fuse = K >= 3;
    for (int i = first; i < K - (fuse ? 2 : 1); ++i) {
      double* nxt = target(i);
      const size_t B = st.S[i];
      Radix4TwS1<false>(cur, nxt, st.M[i], B, tables + st.Tw[i]);
      cur = nxt;
    }
    if (fuse) {
      const size_t B = st.S[K - 2];
      if (st.Radix[K - 1] == 4) {
        if (post)
          LastStage16<true>(cur, dst, B, scaleConj);
        else
          LastStage16<false>(cur, dst, B, scaleConj);
      } else {
        const double* tw = tables + st.Tw[K - 2];
        if (post)
          LastStage32<true>(cur, dst, B, tw, scaleConj);
        else
          LastStage32<false>(cur, dst, B, tw, scaleConj);
      }
      return;
    }
    const size_t B = st.S[K - 1];  // the last stage (m = 1) as one contiguous pass
    RunLastScaled(st.Radix[K - 1], post, cur, B, dst, B, 1, B, tp);
    return;
  }
  // Four-step.
  const size_t n1 = size_t(1) << L.C1, n2 = size_t(1) << L.C2;
  double* T = work + L.WorkT;
  double* A = work + L.WorkA;
  double* Bb = work + L.WorkB;
  TPost fp;
  fp.G = tables + L.G;
  fp.Hi = tables + L.Hi;
  fp.Lo = tables + L.Lo;
  fp.H = L.H;
  fp.NMask = L.N - 1;
  fp.ColBlock = L.ColBlock;
  const TStages& ca = L.A;
  const int KA = ca.Count;
  for (size_t c0 = 0; c0 < n2; c0 += L.ColBlock) {
    fp.Col0 = c0;
    if (L.F != kNone) fp.F = tables + L.F + 4 * n1 * (c0 / L.ColBlock);
    const double* in = src + 2 * c0;
    double* outT = T + 2 * c0;
    if (KA == 1) {
      if (conj)
        RunLast<true, kPostFourStep>(ca.Radix[0], in, n2, outT, L.TStride, 1, L.ColBlock, fp);
      else
        RunLast<false, kPostFourStep>(ca.Radix[0], in, n2, outT, L.TStride, 1, L.ColBlock, fp);
      continue;
    }
    if (conj)
      Radix4Tw<true>(in, n2, A, L.ColBlock, ca.M[0], 1, L.ColBlock, tables + ca.Tw[0]);
    else
      Radix4Tw<false>(in, n2, A, L.ColBlock, ca.M[0], 1, L.ColBlock, tables + ca.Tw[0]);
    double* cur = A;
    for (int i = 1; i < KA - 1; ++i) {
      double* nxt = (cur == A) ? Bb : A;
      const size_t B = ca.S[i] * L.ColBlock;
      Radix4TwS1<false>(cur, nxt, ca.M[i], B, tables + ca.Tw[i]);
      cur = nxt;
    }
    RunLast<false, kPostFourStep>(ca.Radix[KA - 1], cur, L.ColBlock, outT, L.TStride, ca.S[KA - 1], L.ColBlock, fp);
  }
  const TStages& rb = L.B;
  const int KB = rb.Count;
  auto rowBlock = [&](size_t r0) {
    for (size_t r = 0; r < L.RowBlock; r += 4)
      FirstStageRows(T + 2 * (r0 + r) * L.TStride, L.TStride, A + 2 * r, L.RowBlock, rb.M[0], tables + rb.Tw[0]);
    double* cur = A;
    for (int i = 1; i < KB - 1; ++i) {
      double* nxt = (cur == A) ? Bb : A;
      const size_t B = rb.S[i] * L.RowBlock;
      Radix4TwS1<false>(cur, nxt, rb.M[i], B, tables + rb.Tw[i]);
      cur = nxt;
    }
    RunLastScaled(rb.Radix[KB - 1], post, cur, L.RowBlock, dst + 2 * r0, n1, rb.S[KB - 1], L.RowBlock, tp);
  };
  if (split == nullptr) {
    for (size_t r0 = 0; r0 < n1; r0 += L.RowBlock) rowBlock(r0);
    return;
  }
  // Real forward: the row blocks run from both ends inwards (F0, B0, F1, B1,
  // ... with Fi = i*RB and Bi = n1 - (i+1)*RB), and the split step of a
  // block's columns follows as soon as the columns holding its mirror images
  // are done (those of Fi lie in Bi and B(i-1), those of Bi in Fi and
  // F(i+1)), while the block's results are still in cache: the data cross
  // memory once less than with a separate split pass.
  const size_t RB = L.RowBlock, nb = n1 / RB, M = L.N;
  const double* pb = split + M;  // after the N/4 = M/2 values of the split table
  for (size_t i = 0; i < nb / 2; ++i) {
    const size_t f = i * RB, bk = n1 - (i + 1) * RB;
    rowBlock(f);
    if (i == 0) {
      dst[2 * M] = dst[0];  // Z[M] taken as Z[0]
      dst[2 * M + 1] = dst[1];
    } else {
      SplitStrip(dst, M, n1, n2, bk + RB, RB, split, pb);  // B(i-1)
    }
    rowBlock(bk);
    SplitStrip(dst, M, n1, n2, f, RB, split, pb);
  }
  SplitStrip(dst, M, n1, n2, n1 / 2, RB, split, pb);  // the last B
  dst[M + 1] = -dst[M + 1];  // X[M/2] = conj Z[M/2]
}

// Complex transforms of orders 4 to 6: one in-register kernel where the
// target has four complex values per vector, else the general path.
void ComplexKernelSmall(const TLayout& L, const double* tables, const double* src, double* dst, double* work,
                     bool conj, const double* scaleConj) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  (void)work;
  if (L.P == 4)
    Dft16(src, dst, conj, scaleConj);
  else if (L.P == 5)
    DftSmall<32>(src, dst, tables + L.A.Tw[0], conj, scaleConj);
  else
    DftSmall<64>(src, dst, tables + L.A.Tw[0], conj, scaleConj);
#else
  ComplexKernel(L, tables, src, dst, work, conj, scaleConj, nullptr);
#endif
}

// Split step of the real forward transform, in place on z (N/2 complex values
// followed by room for one more): X[k] = S/2 + D*P[k] and
// X[N/2-k] = conj(S/2 - D*P[k]) with S = Z[k] + conj Z[N/2-k],
// D = Z[k] - conj Z[N/2-k], P[k] = -i W_N^k / 2 (ptab, k < N/4). With
// Z[N/2] taken as Z[0] (copied into the spare slot first), k = 0 gives the
// DC and Nyquist terms by the same formula, so the pairs of vectors
// (k ... k+kC-1 and their mirror images) tile 0 ... N/4 - 1 and
// N/4 + 1 ... N/2 exactly whenever kC divides N/4: no scalar tail.
void RealSplitFwd(double* z, size_t n, const double* ptab) {
  const size_t h = n / 2, q = n / 4;
  if (q == 0) {  // n = 2
    const double z0r = z[0], z0i = z[1];
    z[0] = z0r + z0i;
    z[1] = 0.0;
    z[2] = z0r - z0i;
    z[3] = 0.0;
    return;
  }
  z[2 * h] = z[0];
  z[2 * h + 1] = z[1];
  const DF d;
  const VF so = SignOdd(), se = SignEven(), half = cv::Set(d, 0.5);
  size_t k = 0;
  for (; k + kC <= q; k += kC) {
    double* lo = z + 2 * k;
    double* hiP = z + 2 * (h - k - kC + 1);
    const VF zk = cv::LoadU(d, lo);
    const VF zc = cv::Xor(ReverseComplex(cv::LoadU(d, hiP)), so);
    const VF w = cv::LoadU(d, ptab + 2 * k);
    const VF wr = cv::DupEven(w), wi = cv::Xor(cv::DupOdd(w), se);
    const VF S = cv::Add(zk, zc), t = CMulDup(cv::Sub(zk, zc), wr, wi);
    cv::StoreU(cv::MulAdd(S, half, t), d, lo);
    cv::StoreU(ReverseComplex(cv::Xor(cv::MulSub(S, half, t), so)), d, hiP);
  }
  for (; k < q; ++k) {
    double* a = z + 2 * k;
    double* b = z + 2 * (h - k);
    const double zr = a[0], zi = a[1], cr = b[0], ci = -b[1];
    const double sr = 0.5 * (zr + cr), si = 0.5 * (zi + ci), dr = zr - cr, di = zi - ci;
    const double pr = ptab[2 * k], pi = ptab[2 * k + 1];
    const double tr = dr * pr - di * pi, ti = dr * pi + di * pr;
    a[0] = sr + tr;
    a[1] = si + ti;
    b[0] = sr - tr;
    b[1] = -(si - ti);
  }
  z[2 * q + 1] = -z[2 * q + 1];  // X[N/4] = conj Z[N/4]
}

// Inverse split step from CCS x into z (may be the same array):
// Z[k] = S + 2D*conj(P[k]), Z[N/2-k] = conj(S - 2D*conj(P[k])) with
// S = X[k] + conj X[N/2-k], D = X[k] - conj X[N/2-k], tiled as in the
// forward step. The pair at k = 0 would write Z[N/2], which z has no room
// for: its mirror vector is stored without that value, and Z[0] is then
// formed from the real parts of X[0] and X[N/2] alone (their imaginary
// slots are never read).
void RealSplitInv(const double* x, double* z, size_t n, const double* ptab) {
  const size_t h = n / 2, q = n / 4;
  const double x0 = x[0], xh = x[2 * h];
  if (q > 0) {
    const double zq0 = 2.0 * x[2 * q], zq1 = -2.0 * x[2 * q + 1];
    const DF d;
    const VF so = SignOdd();
    size_t k = 0;
    for (; k + kC <= q; k += kC) {
      const double* lo = x + 2 * k;
      const double* hiP = x + 2 * (h - k - kC + 1);
      const VF xk = cv::LoadU(d, lo);
      const VF xc = cv::Xor(ReverseComplex(cv::LoadU(d, hiP)), so);
      const VF w = cv::LoadU(d, ptab + 2 * k);
      const VF wr = cv::DupEven(w), wi = cv::DupOdd(w);  // conj(P): (-(-pi), -pi) = (pi, -pi)
      const VF wis = cv::Xor(wi, so);
      const VF dd = cv::Sub(xk, xc);
      const VF S = cv::Add(xk, xc), u = CMulDup(cv::Add(dd, dd), wr, wis);
      const VF hiV = ReverseComplex(cv::Xor(cv::Sub(S, u), so));
      cv::StoreU(cv::Add(S, u), d, z + 2 * k);
      double* hiOut = z + 2 * (h - k - kC + 1);
      if (k > 0) {
        cv::StoreU(hiV, d, hiOut);
      } else {
        alignas(64) double tmp[2 * kC];
        cv::StoreU(hiV, d, tmp);
        for (size_t i = 0; i + 2 < 2 * kC; ++i) hiOut[i] = tmp[i];  // all but Z[N/2]
      }
    }
    for (; k < q; ++k) {
      const double* a = x + 2 * k;
      const double* b = x + 2 * (h - k);
      const double xr = a[0], xi = a[1], cr = b[0], ci = -b[1];
      const double sr = xr + cr, si = xi + ci, dr = 2.0 * (xr - cr), di = 2.0 * (xi - ci);
      const double pr = ptab[2 * k], pi = -ptab[2 * k + 1];
      const double ur = dr * pr - di * pi, ui = dr * pi + di * pr;
      z[2 * k] = sr + ur;
      z[2 * k + 1] = si + ui;
      if (k > 0) {
        z[2 * (h - k)] = sr - ur;
        z[2 * (h - k) + 1] = -(si - ui);
      }
    }
    z[2 * q] = zq0;
    z[2 * q + 1] = zq1;
  }
  z[0] = x0 + xh;
  z[1] = x0 - xh;
}

// Forward real transform of 16 samples straight into CCS where the target
// has four complex values per vector: the samples, as complex values with
// zero imaginary parts, go through the in-register 16-point transform, and
// the first nine results are the CCS output. Shorter than the half-length
// transform and split step, whose fixed costs dominate at this size.
// Returns false on other targets (the caller then takes the general path).
bool RealFwd16(const double* src, double* dst, const double* scale) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  alignas(64) double x[32];
  // Re-interleave with zero imaginary parts: lanes 0, 2, 4, 6 of each
  // vector take four consecutive samples.
  const __m512i spread = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
  for (int v = 0; v < 4; ++v) {
    const __m512d r = _mm512_castpd256_pd512(_mm256_loadu_pd(src + 4 * v));
    _mm512_store_pd(x + 8 * v, _mm512_maskz_permutexvar_pd(0x55, spread, r));
  }
  alignas(64) double y[32];
  Dft16(x, y, false, scale);
  for (int i = 0; i < 18; ++i) dst[i] = y[i];
  dst[1] = dst[17] = 0.0;  // the DC and Nyquist terms of real data are real
  return true;
#else
  (void)src;
  (void)dst;
  (void)scale;
  return false;
#endif
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// The in-register transforms of 16, 32 and 64 points as whole transforms
// (complex orders 4 to 6, real orders 4 to 7), the real ones with their
// split step in the same call.
template <size_t kN>
HWY_INLINE void DftRegs(const double* src, double* dst, const double* tw, bool conj, const double* sc) {
  if (kN == 16)
    Dft16(src, dst, conj, sc);
  else
    DftSmall<kN>(src, dst, tw, conj, sc);
}
template <size_t kN, bool kInv>
void SmallComplex(const double* src, double* dst, const double* tw, const double*, const double* sc) {
  DftRegs<kN>(src, dst, tw, kInv, sc);
}
void SmallRealFwd16(const double* src, double* dst, const double*, const double*, const double* sc) {
  RealFwd16(src, dst, sc);
}
template <size_t kH>
void SmallRealFwd(const double* src, double* dst, const double* tw, const double* split, const double* sc) {
  DftRegs<kH>(src, dst, tw, false, sc);
  RealSplitFwd(dst, 2 * kH, split);
}
template <size_t kH>
void SmallRealInv(const double* src, double* dst, const double* tw, const double* split, const double* sc) {
  RealSplitInv(src, dst, 2 * kH, split);
  DftRegs<kH>(dst, dst, tw, true, sc);
}
#endif

// The whole-transform entry points of this target for a spec of the given
// order ([0] forward, [1] inverse; null where the general path runs).
void PickSmall(int order, bool real, TSmallFn* fns) {
  fns[0] = fns[1] = nullptr;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  if (!real) {
    if (order == 4) fns[0] = SmallComplex<16, false>, fns[1] = SmallComplex<16, true>;
    if (order == 5) fns[0] = SmallComplex<32, false>, fns[1] = SmallComplex<32, true>;
    if (order == 6) fns[0] = SmallComplex<64, false>, fns[1] = SmallComplex<64, true>;
  } else {
    if (order == 4) fns[0] = SmallRealFwd16;
    if (order == 5) fns[0] = SmallRealFwd<16>, fns[1] = SmallRealInv<16>;
    if (order == 6) fns[0] = SmallRealFwd<32>, fns[1] = SmallRealInv<32>;
    if (order == 7) fns[0] = SmallRealFwd<64>, fns[1] = SmallRealInv<64>;
  }
#else
  (void)order;
  (void)real;
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <climits>
#include <cstdlib>
#include <cstring>

#include "vector/LibCDispatcher.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"

namespace nx::builtin {

HWY_EXPORT(ComplexKernel);
HWY_EXPORT(ComplexKernelSmall);
HWY_EXPORT(RealSplitFwd);
HWY_EXPORT(RealSplitInv);
HWY_EXPORT(RealFwd16);
HWY_EXPORT(PickSmall);

namespace fft {
namespace {

constexpr Ipp32s kIdComplex = 7;
constexpr Ipp32s kIdReal = 9;

// The spec block: 88 bytes, zero-filled, from _ippMalloc.
struct TSpec {
  Ipp32s Id;
  Ipp32s Order;
  Ipp32s FwdScaled;
  Ipp32s InvScaled;
  Ipp64f Scale;
  Ipp32s Hint;
  Ipp32s BufSize;
  Ipp32s Owner;
  Ipp32s Reserved;
  double* Tables;  // the complex plan's tables
  double* Split;   // real specs: N/4 values -i W_N^k / 2 of the split step
  TSmallFn Small[2];       // the whole-transform kernels of short orders (forward, inverse) or null
  const double* SmallTw;   // their first-stage twiddles
  void* Spare;
};
static_assert(sizeof(TSpec) == 88, "the spec block is 88 bytes");
static_assert(offsetof(TSpec, Scale) == 16 && offsetof(TSpec, Tables) == 40, "spec field layout");

// (cos, sin) of 2*pi*j/n for a power of two n, each taken from the
// better-conditioned function of an angle in the first octant.
void CosSin(size_t j, size_t n, double& c, double& s) {
  if (n < 4) {
    c = (n == 2 && (j & 1)) ? -1.0 : 1.0;
    s = 0.0;
    return;
  }
  j &= n - 1;
  const size_t quarter = n / 4;
  const size_t quad = j / quarter, r = j % quarter;
  const double step = 6.283185307179586476925286766559 / double(n);
  double c0, s0;
  if (8 * r <= n) {
    c0 = nx::_cos(double(r) * step);
    s0 = nx::_sin(double(r) * step);
  } else {
    const double t = double(quarter - r) * step;
    c0 = nx::_sin(t);
    s0 = nx::_cos(t);
  }
  switch (quad) {
    case 0: c = c0; s = s0; break;
    case 1: c = -s0; s = c0; break;
    case 2: c = -c0; s = -s0; break;
    default: c = s0; s = -c0; break;
  }
}

void FillStages(const TStages& st, double* tables) {
  for (int i = 0; i < st.Count; ++i) {
    if (st.Tw[i] == kNone) continue;
    const size_t m = st.M[i], n = m * 4;
    double* t = tables + st.Tw[i];
    const bool compact = i == 0 && st.CompactFirst;
    for (size_t k = 1; k <= (compact ? 1 : 3); ++k) {
      for (size_t p = 0; p < m; ++p) {
        double c, s;
        CosSin(p * k, n, c, s);  // W = c - i s
        double* wr = compact ? TwAt1(t, p, 0) : TwAt(t, p, 2 * (k - 1));
        double* wi = compact ? TwAt1(t, p, 1) : TwAt(t, p, 2 * (k - 1) + 1);
        wr[0] = wr[1] = c;
        wi[0] = s;  // (-Im W, Im W)
        wi[1] = -s;
      }
    }
  }
}

void FillTables(const TLayout& L, double* tables) {
  if (L.Kind == TPlanKind::StraightLine) return;
  FillStages(L.A, tables);
  if (L.Kind != TPlanKind::FourStep) return;
  FillStages(L.B, tables);
  const size_t n1 = size_t(1) << L.C1;
  for (size_t k1 = 0; k1 < n1; ++k1) {
    double* g = tables + L.G + k1 * 2 * L.ColBlock;
    for (size_t b = 0; b < L.ColBlock; ++b) {
      double c, s;
      CosSin(k1 * b, L.N, c, s);
      g[2 * b] = c;
      g[2 * b + 1] = -s;
    }
  }
  if (L.F != kNone) {
    const size_t n2 = size_t(1) << L.C2;
    for (size_t c0 = 0; c0 < n2; c0 += L.ColBlock) {
      double* f = tables + L.F + 4 * n1 * (c0 / L.ColBlock);
      for (size_t k1 = 0; k1 < n1; ++k1) {
        double c, s;
        CosSin(k1 * c0, L.N, c, s);
        f[4 * k1] = f[4 * k1 + 1] = c;
        f[4 * k1 + 2] = s;
        f[4 * k1 + 3] = -s;
      }
    }
  }
  const size_t nLo = size_t(1) << L.H, nHi = L.N >> L.H;
  for (size_t j = 0; j < nLo; ++j) {
    double c, s;
    CosSin(j, L.N, c, s);
    tables[L.Lo + 2 * j] = c;
    tables[L.Lo + 2 * j + 1] = -s;
  }
  for (size_t j = 0; j < nHi; ++j) {
    double c, s;
    CosSin(j << L.H, L.N, c, s);
    tables[L.Hi + 2 * j] = c;
    tables[L.Hi + 2 * j + 1] = -s;
  }
}

// Scalar DFT of 1, 2, 4 or 8 complex values (in place allowed): bit-reversed
// copy, then radix-2 butterflies with the exact eighth-turn constants.
// The length is a template argument so that the loops unroll completely.
template <size_t n>
void SmallDftN(const double* src, double* dst, bool inverse, double scale) {
  static const unsigned char kRev[4][8] = {{0}, {0, 1}, {0, 2, 1, 3}, {0, 4, 2, 6, 1, 5, 3, 7}};
  constexpr int lg = n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3;
  const double h = 0.70710678118654752440;
  // W_8^j = (c, s) for the forward direction; the inverse flips s.
  const double wc[4] = {1.0, h, 0.0, -h}, ws[4] = {0.0, -h, -1.0, -h};
  double x[16];
  for (size_t i = 0; i < n; ++i) {
    x[2 * i] = src[2 * kRev[lg][i]];
    x[2 * i + 1] = src[2 * kRev[lg][i] + 1];
  }
  for (size_t len = 2; len <= n; len *= 2) {
    const size_t half = len / 2, step = 8 / len;
    for (size_t base = 0; base < n; base += len) {
      for (size_t j = 0; j < half; ++j) {
        const double c = wc[j * step], sn = inverse ? -ws[j * step] : ws[j * step];
        double* a = x + 2 * (base + j);
        double* b = x + 2 * (base + j + half);
        const double tr = b[0] * c - b[1] * sn, ti = b[0] * sn + b[1] * c;
        b[0] = a[0] - tr;
        b[1] = a[1] - ti;
        a[0] += tr;
        a[1] += ti;
      }
    }
  }
  for (size_t i = 0; i < 2 * n; ++i) dst[i] = x[i] * scale;
}

// Straight-line 8-point DFT (the half-length transform of the order-4 real
// transform); the inverse is conj(DFT(conj x)), negations being exact.
void Dft8(const double* src, double* dst, bool inverse, double scale) {
  const double h = 0.70710678118654752440;
  const double sg = inverse ? -1.0 : 1.0;
  // Plain scalars throughout (no staging arrays: their mixed-width
  // store/load pairs stall store forwarding).
  const double x0r = src[0], x0i = sg * src[1], x1r = src[2], x1i = sg * src[3];
  const double x2r = src[4], x2i = sg * src[5], x3r = src[6], x3i = sg * src[7];
  const double x4r = src[8], x4i = sg * src[9], x5r = src[10], x5i = sg * src[11];
  const double x6r = src[12], x6i = sg * src[13], x7r = src[14], x7i = sg * src[15];
  const double a0r = x0r + x4r, a0i = x0i + x4i, a1r = x0r - x4r, a1i = x0i - x4i;
  const double b0r = x2r + x6r, b0i = x2i + x6i, b1r = x2r - x6r, b1i = x2i - x6i;
  const double c0r = x1r + x5r, c0i = x1i + x5i, c1r = x1r - x5r, c1i = x1i - x5i;
  const double d0r = x3r + x7r, d0i = x3i + x7i, d1r = x3r - x7r, d1i = x3i - x7i;
  // Even and odd 4-point DFTs; -i*(r, i) = (i, -r).
  const double e0r = a0r + b0r, e0i = a0i + b0i, e2r = a0r - b0r, e2i = a0i - b0i;
  const double e1r = a1r + b1i, e1i = a1i - b1r, e3r = a1r - b1i, e3i = a1i + b1r;
  const double o0r = c0r + d0r, o0i = c0i + d0i, o2r = c0r - d0r, o2i = c0i - d0i;
  const double o1r = c1r + d1i, o1i = c1i - d1r, o3r = c1r - d1i, o3i = c1i + d1r;
  // W_8^k * O_k.
  const double t1r = h * (o1r + o1i), t1i = h * (o1i - o1r);
  const double t2r = o2i, t2i = -o2r;
  const double t3r = h * (o3i - o3r), t3i = -h * (o3r + o3i);
  const double si = sg * scale;
  dst[0] = (e0r + o0r) * scale;
  dst[1] = (e0i + o0i) * si;
  dst[2] = (e1r + t1r) * scale;
  dst[3] = (e1i + t1i) * si;
  dst[4] = (e2r + t2r) * scale;
  dst[5] = (e2i + t2i) * si;
  dst[6] = (e3r + t3r) * scale;
  dst[7] = (e3i + t3i) * si;
  dst[8] = (e0r - o0r) * scale;
  dst[9] = (e0i - o0i) * si;
  dst[10] = (e1r - t1r) * scale;
  dst[11] = (e1i - t1i) * si;
  dst[12] = (e2r - t2r) * scale;
  dst[13] = (e2i - t2i) * si;
  dst[14] = (e3r - t3r) * scale;
  dst[15] = (e3i - t3i) * si;
}

void SmallDft(const double* src, double* dst, size_t n, bool inverse, double scale) {
  switch (n) {
    case 1: SmallDftN<1>(src, dst, inverse, scale); break;
    case 2: SmallDftN<2>(src, dst, inverse, scale); break;
    case 4: SmallDftN<4>(src, dst, inverse, scale); break;
    default: Dft8(src, dst, inverse, scale); break;
  }
}

// Blocks on a cache line of any 64-bit size: the package allocator up to its
// 32-bit limit, the C library's above it (the largest tables and work arrays).
// A block is released with the size it was allocated with.
constexpr size_t kLargeBlockFrom = size_t(INT_MAX) - 32;
void* AllocLine(size_t bytes) {
  if (bytes <= kLargeBlockFrom) return nx::NXMallocLineAligned(bytes);
  void* p = nullptr;
  return posix_memalign(&p, 64, bytes) == 0 ? p : nullptr;
}
void FreeLine(void* p, size_t bytes) {
  if (bytes <= kLargeBlockFrom) nx::_ippFree(p);
  else std::free(p);
}
size_t SplitDoubles(bool real, int order) {
  if (!real) return 0;
  return 2 * ((size_t(1) << order) / 4) + (order > 0 ? FusedSplitDoubles(MakeLayout(order - 1)) : 0);
}
size_t SplitBytes(bool real, int order) { return SplitDoubles(real, order) * sizeof(double); }

IppStatus CheckFlag(int flag) {
  return (flag == IPP_FFT_DIV_FWD_BY_N || flag == IPP_FFT_DIV_INV_BY_N || flag == IPP_FFT_DIV_BY_SQRTN ||
          flag == IPP_FFT_NODIV_BY_ANY)
             ? ippStsNoErr
             : ippStsFftFlagErr;
}

IppStatus InitAlloc(TSpec** pp, int order, int flag, IppHintAlgorithm hint, bool real) {
  if (pp == nullptr) return ippStsNullPtrErr;
  if (order < 0 || order > 30) return ippStsFftOrderErr;
  if (CheckFlag(flag) != ippStsNoErr) return ippStsFftFlagErr;
  const int P = real ? (order > 0 ? order - 1 : 0) : order;
  TLayout L = MakeLayout(P);
  const size_t n = size_t(1) << order;
  const size_t splitDoubles = SplitDoubles(real, order);
  auto* spec = static_cast<TSpec*>(nx::_ippMalloc(int(sizeof(TSpec))));
  if (spec == nullptr) return ippStsMemAllocErr;
  std::memset(static_cast<void*>(spec), 0, sizeof(TSpec));
  spec->Tables = static_cast<double*>(AllocLine(L.TableDoubles * sizeof(double)));
  if (spec->Tables == nullptr) {
    nx::_ippFree(spec);
    return ippStsMemAllocErr;
  }
  const double scale = flag == IPP_FFT_DIV_BY_SQRTN ? 1.0 / nx::_sqrt(double(n))
                       : flag == IPP_FFT_NODIV_BY_ANY ? 1.0
                                                      : 1.0 / double(n);
  const double fwdScale = (flag == IPP_FFT_DIV_FWD_BY_N || flag == IPP_FFT_DIV_BY_SQRTN) ? scale : 1.0;
  const double invScale = (flag == IPP_FFT_DIV_INV_BY_N || flag == IPP_FFT_DIV_BY_SQRTN) ? scale : 1.0;
  L.Sc[0] = L.Sc[1] = fwdScale;
  L.Sc[2] = invScale;
  L.Sc[3] = -invScale;
  std::memcpy(static_cast<void*>(spec->Tables), &L, sizeof(TLayout));
  if (splitDoubles > 0) {
    spec->Split = static_cast<double*>(AllocLine(splitDoubles * sizeof(double)));
    if (spec->Split == nullptr) {
      FreeLine(spec->Tables, L.TableDoubles * sizeof(double));
      nx::_ippFree(spec);
      return ippStsMemAllocErr;
    }
  }
  spec->Id = real ? kIdReal : kIdComplex;
  spec->Order = order;
  spec->FwdScaled = (flag == IPP_FFT_DIV_FWD_BY_N || flag == IPP_FFT_DIV_BY_SQRTN) ? 1 : 0;
  spec->InvScaled = (flag == IPP_FFT_DIV_INV_BY_N || flag == IPP_FFT_DIV_BY_SQRTN) ? 1 : 0;
  spec->Scale = scale;
  spec->Hint = hint;
  HWY_DYNAMIC_DISPATCH(PickSmall)(order, real, spec->Small);
  if (L.Kind != TPlanKind::StraightLine && L.A.Tw[0] != kNone) spec->SmallTw = spec->Tables + L.A.Tw[0];
  // A work buffer past the 32-bit size field is allocated by each call.
  spec->BufSize = L.WorkBytes <= size_t(INT_MAX) ? int(L.WorkBytes) : 0;
  spec->Owner = 1;
  FillTables(L, spec->Tables);
  // Split table: -i W_N^k / 2 = (-sin, -cos) / 2 of 2*pi*k/N (halving is
  // exact, and it saves the split step a multiply). The first kDirect
  // entries come from CosSin; above them the angle is split into a multiple
  // of kDirect and a remainder already in the table (one rounding more, and
  // a large table built quickly).
  constexpr size_t kDirect = 1024;
  double* sp = spec->Split;
  double hc = 1.0, hs = 0.0;
  for (size_t k = 0; k < (real ? n / 4 : 0); ++k) {
    double c, s;
    const size_t lo = k & (kDirect - 1);
    if (k < kDirect) {
      CosSin(k, n, c, s);
    } else {
      if (lo == 0) CosSin(k, n, hc, hs);
      const double lc = -2.0 * sp[2 * lo + 1], ls = -2.0 * sp[2 * lo];
      c = hc * lc - hs * ls;
      s = hs * lc + hc * ls;
    }
    sp[2 * k] = -0.5 * s;
    sp[2 * k + 1] = -0.5 * c;
  }
  if (real && FusedSplit(L)) {
    const size_t n1 = size_t(1) << L.C1, n2 = size_t(1) << L.C2;
    double* pb = sp + 2 * (n / 4);
    for (size_t k2 = 0; k2 < n2 / 2; ++k2) {
      double c, s;
      CosSin(n1 * k2, n, c, s);
      pb[4 * k2] = pb[4 * k2 + 1] = c;
      pb[4 * k2 + 2] = s;
      pb[4 * k2 + 3] = -s;
    }
  }
  *pp = spec;
  return ippStsNoErr;
}

IppStatus Free(TSpec* spec, Ipp32s id) {
  if (spec == nullptr) return ippStsNullPtrErr;
  if (spec->Id != id) return ippStsContextMatchErr;
  spec->Id = 0;
  FreeLine(spec->Split, SplitBytes(id == kIdReal, spec->Order));
  FreeLine(spec->Tables, reinterpret_cast<const TLayout*>(spec->Tables)->TableDoubles * sizeof(double));
  nx::_ippFree(spec);
  return ippStsNoErr;
}

// The work buffer of one call: the caller's (from its first 16-byte-aligned
// address) or one allocated for the call.
class TWork {
 public:
  TWork(const TSpec* spec, int P, Ipp8u* buffer) {
    if (P <= 3) return;  // the straight-line transforms need none
    const size_t bytes = reinterpret_cast<const TLayout*>(spec->Tables)->WorkBytes;
    if (spec->BufSize == 0) buffer = nullptr;  // too large for the size field: always the call's own
    if (buffer == nullptr) {
      Owned_ = AllocLine(bytes);
      OwnedBytes_ = bytes;
      buffer = static_cast<Ipp8u*>(Owned_);
      if (buffer == nullptr) {
        Failed_ = true;
        return;
      }
    }
    // The buffer is used from its first 16-byte-aligned address; inside it
    // the arrays start at the next cache-line boundary (the size holds the
    // slack), so that no full-width AVX-512 access straddles two lines.
    const uintptr_t a = (reinterpret_cast<uintptr_t>(buffer) + 15) & ~uintptr_t(15);
    Ptr_ = reinterpret_cast<double*>((a + 63) & ~uintptr_t(63));
  }
  ~TWork() {
    if (Owned_) FreeLine(Owned_, OwnedBytes_);
  }
  TWork(const TWork&) = delete;
  TWork& operator=(const TWork&) = delete;
  bool Failed() const { return Failed_; }
  double* Ptr() const { return Ptr_; }

 private:
  void* Owned_ = nullptr;
  size_t OwnedBytes_ = 0;
  double* Ptr_ = nullptr;
  bool Failed_ = false;
};

// Complex transform of order P with the given scale; src may equal dst.
// split: see ComplexKernel.
void Complex(const TSpec* spec, int P, const double* src, double* dst, double* work, bool inverse,
             bool scaled, const double* split = nullptr) {
  const double scale = scaled ? spec->Scale : 1.0;
  if (P <= 3) {
    SmallDft(src, dst, size_t(1) << P, inverse, scale);
    return;
  }
  const TLayout& L = *reinterpret_cast<const TLayout*>(spec->Tables);
  alignas(16) double sc[2] = {scale, inverse ? -scale : scale};
  const bool post = scaled || inverse;
  if (P <= 6)
    HWY_DYNAMIC_DISPATCH(ComplexKernelSmall)(L, spec->Tables, src, dst, work, inverse, post ? sc : nullptr);
  else
    HWY_DYNAMIC_DISPATCH(ComplexKernel)(L, spec->Tables, src, dst, work, inverse, post ? sc : nullptr, split);
}

// The multipliers a whole-transform kernel takes: the forward pair only when
// the forward transform is scaled, the inverse pair always (its sign
// conjugates the result).
inline const double* SmallScale(const TSpec* spec, bool inverse) {
  const TLayout& L = *reinterpret_cast<const TLayout*>(spec->Tables);
  return inverse ? L.Sc + 2 : (spec->FwdScaled != 0 ? L.Sc : nullptr);
}

IppStatus TransformC(const Ipp64fc* pSrc, Ipp64fc* pDst, const IppsFFTSpec_C_64fc* pSpec, Ipp8u* pBuffer,
                     bool inverse) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  const auto* spec = reinterpret_cast<const TSpec*>(pSpec);
  if (spec == nullptr || spec->Id != kIdComplex) return ippStsContextMatchErr;
  if (const TSmallFn fn = spec->Small[inverse ? 1 : 0]) {
    fn(reinterpret_cast<const double*>(pSrc), reinterpret_cast<double*>(pDst), spec->SmallTw, nullptr,
       SmallScale(spec, inverse));
    return ippStsNoErr;
  }
  TWork work(spec, spec->Order, pBuffer);
  if (work.Failed()) return ippStsMemAllocErr;
  Complex(spec, spec->Order, reinterpret_cast<const double*>(pSrc), reinterpret_cast<double*>(pDst), work.Ptr(),
          inverse, inverse ? spec->InvScaled != 0 : spec->FwdScaled != 0);
  return ippStsNoErr;
}

IppStatus TransformR(const Ipp64f* pSrc, Ipp64f* pDst, const IppsFFTSpec_R_64f* pSpec, Ipp8u* pBuffer,
                     bool inverse) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  const auto* spec = reinterpret_cast<const TSpec*>(pSpec);
  if (spec == nullptr || spec->Id != kIdReal) return ippStsContextMatchErr;
  if (const TSmallFn fn = spec->Small[inverse ? 1 : 0]) {
    fn(pSrc, pDst, spec->SmallTw, spec->Split, SmallScale(spec, inverse));
    return ippStsNoErr;
  }
  const int order = spec->Order;
  const size_t n = size_t(1) << order;
  const bool scaled = inverse ? spec->InvScaled != 0 : spec->FwdScaled != 0;
  const double scale = scaled ? spec->Scale : 1.0;
  if (order == 0) {
    if (inverse) {
      pDst[0] = pSrc[0] * scale;
    } else {
      pDst[0] = pSrc[0] * scale;
      pDst[1] = 0.0;
    }
    return ippStsNoErr;
  }
  TWork work(spec, order - 1, pBuffer);
  if (work.Failed()) return ippStsMemAllocErr;
  if (!inverse) {
    if (order == 4) {
      const double sc[2] = {scale, scale};
      if (HWY_DYNAMIC_DISPATCH(RealFwd16)(pSrc, pDst, scaled ? sc : nullptr)) return ippStsNoErr;
    }
    if (FusedSplit(*reinterpret_cast<const TLayout*>(spec->Tables))) {
      Complex(spec, order - 1, pSrc, pDst, work.Ptr(), false, scaled, spec->Split);
      return ippStsNoErr;
    }
    Complex(spec, order - 1, pSrc, pDst, work.Ptr(), false, scaled);
    HWY_DYNAMIC_DISPATCH(RealSplitFwd)(pDst, n, spec->Split);
  } else {
    HWY_DYNAMIC_DISPATCH(RealSplitInv)(pSrc, pDst, n, spec->Split);
    Complex(spec, order - 1, pDst, pDst, work.Ptr(), true, scaled);
  }
  return ippStsNoErr;
}

IppStatus BufSize(const TSpec* spec, Ipp32s id, int* pSize) {
  if (pSize == nullptr) return ippStsNullPtrErr;
  if (spec == nullptr || spec->Id != id) return ippStsContextMatchErr;
  *pSize = spec->BufSize;
  return ippStsNoErr;
}

}  // namespace
}  // namespace fft

IppStatus ippsFFTInitAlloc_R_64f(IppsFFTSpec_R_64f** ppFFTSpec, int order, int flag, IppHintAlgorithm hint) {
  return fft::InitAlloc(reinterpret_cast<fft::TSpec**>(ppFFTSpec), order, flag, hint, true);
}
IppStatus ippsFFTInitAlloc_C_64fc(IppsFFTSpec_C_64fc** ppFFTSpec, int order, int flag, IppHintAlgorithm hint) {
  return fft::InitAlloc(reinterpret_cast<fft::TSpec**>(ppFFTSpec), order, flag, hint, false);
}
IppStatus ippsFFTFree_R_64f(IppsFFTSpec_R_64f* pFFTSpec) {
  return fft::Free(reinterpret_cast<fft::TSpec*>(pFFTSpec), fft::kIdReal);
}
IppStatus ippsFFTFree_C_64fc(IppsFFTSpec_C_64fc* pFFTSpec) {
  return fft::Free(reinterpret_cast<fft::TSpec*>(pFFTSpec), fft::kIdComplex);
}
IppStatus ippsFFTFwd_RToCCS_64f(const Ipp64f* pSrc, Ipp64f* pDst, const IppsFFTSpec_R_64f* pFFTSpec,
                                Ipp8u* pBuffer) {
  return fft::TransformR(pSrc, pDst, pFFTSpec, pBuffer, false);
}
IppStatus ippsFFTInv_CCSToR_64f(const Ipp64f* pSrc, Ipp64f* pDst, const IppsFFTSpec_R_64f* pFFTSpec,
                                Ipp8u* pBuffer) {
  return fft::TransformR(pSrc, pDst, pFFTSpec, pBuffer, true);
}
IppStatus ippsFFTFwd_CToC_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, const IppsFFTSpec_C_64fc* pFFTSpec,
                               Ipp8u* pBuffer) {
  return fft::TransformC(pSrc, pDst, pFFTSpec, pBuffer, false);
}
IppStatus ippsFFTInv_CToC_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, const IppsFFTSpec_C_64fc* pFFTSpec,
                               Ipp8u* pBuffer) {
  return fft::TransformC(pSrc, pDst, pFFTSpec, pBuffer, true);
}
IppStatus ippsFFTGetBufSize_R_64f(const IppsFFTSpec_R_64f* pFFTSpec, int* pSize) {
  return fft::BufSize(reinterpret_cast<const fft::TSpec*>(pFFTSpec), fft::kIdReal, pSize);
}
IppStatus ippsFFTGetBufSize_C_64fc(const IppsFFTSpec_C_64fc* pFFTSpec, int* pSize) {
  return fft::BufSize(reinterpret_cast<const fft::TSpec*>(pFFTSpec), fft::kIdComplex, pSize);
}

}  // namespace nx::builtin
#endif  // HWY_ONCE
