// Vector loop helpers shared by the built-in kernel families (internal).
// Like every Highway "-inl" header it is compiled once per SIMD target: the
// guard below flips with HWY_TARGET_TOGGLE, so a family that includes it
// after <hwy/foreach_target.h> gets one copy in each target's namespace.
#if defined(NX_BUILTIN_LOOPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef NX_BUILTIN_LOOPS_INL_H_
#undef NX_BUILTIN_LOOPS_INL_H_
#else
#define NX_BUILTIN_LOOPS_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

// The single-lane fallback target cannot hold a (re, im) pair in one vector;
// there the pair kernels run their scalar loop only.
#undef NX_PAIR_SIMD
#if HWY_TARGET == HWY_SCALAR
#define NX_PAIR_SIMD 0
#else
#define NX_PAIR_SIMD 1
#endif

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace loops_hn = hwy::HWY_NAMESPACE;

// Calls f(i) for each whole vector of N lanes in [0, n), four vectors per step
// so that independent iterations overlap; returns where the scalar tail starts.
template <class DT, class F>
HWY_INLINE size_t ForVectors(DT d, size_t n, const F& f) {
  const size_t N = loops_hn::Lanes(d);
  size_t i = 0;
  if (n >= 4 * N) {
    for (; i <= n - 4 * N; i += 4 * N) {
      f(i);
      f(i + N);
      f(i + 2 * N);
      f(i + 3 * N);
    }
  }
  for (; i + N <= n; i += N) f(i);
  return i;
}

// ---------------------------------------------------------------- alignment
// Loads and stores of a whole vector that straddle two cache lines cost about
// twice as much as aligned ones, and arrays (a std::vector<double>, a pointer
// into an array) often start off a vector boundary. The loops below peel a
// short head so that one chosen array (the destination, or the single source
// of a reduction) is accessed on vector boundaries in the body.

// Elements of type T before p + head lies on a boundary of Lanes(d) elements
// of T (a vector of d, or of its rebind to T): fewer than Lanes(d), at most
// n, and a multiple of kStep (0 where p cannot be lined up in whole
// kStep-element units, e.g. a complex array on an odd double).
template <size_t kStep = 1, class D, typename T>
HWY_INLINE size_t AlignHead(D d, const T* p, size_t n) {
  const size_t bytes = loops_hn::Lanes(d) * sizeof(T);
  if (bytes & (bytes - 1)) return 0;  // only power-of-two vector sizes are lined up
  const size_t mis = reinterpret_cast<uintptr_t>(p) & (bytes - 1);
  if (mis == 0 || mis % (kStep * sizeof(T)) != 0) return 0;
  const size_t head = (bytes - mis) / sizeof(T);
  return head <= n ? head : n - n % kStep;
}

// Calls f(dw, i) for the pieces of `count` elements (fewer than the widest
// vector's lanes) from i on, widest first: each piece is a narrower vector
// whose lane count is a bit of count, down to kMin lanes.
template <size_t W, size_t kMin, typename T, class F>
HWY_INLINE void ForPieces(size_t i, size_t count, const F& f) {
  if constexpr (W >= kMin && W >= 1) {
    if (count & W) {
      f(loops_hn::CappedTag<T, W>(), i);
      i += W;
    }
    ForPieces<W / 2, kMin, T>(i, count, f);
  }
}

// Runs f over [0, n) in vectors: f(dw, i) handles Lanes(dw) elements from i,
// where dw is d in the body (four vectors per step) and a narrower tag in
// the head and the tail. The head is peeled so that `anchor` + head lies on a
// vector boundary: a kernel passes the array whose accesses matter most (its
// destination), the others are read unaligned. With kMin > 1 (interleaved
// pairs) the pieces keep to whole kMin-lane units; returns where the
// remaining (fewer than kMin) elements start, n for kMin = 1.
//
// Every element goes through the same lane-wise code whatever its piece, so
// lane-wise kernels give results that do not depend on the alignment.
template <size_t kMin = 1, class D, typename T, class F>
HWY_INLINE size_t ForAligned(D d, const T* anchor, size_t n, const F& f) {
  using TD = loops_hn::TFromD<D>;
  constexpr size_t kMax = loops_hn::MaxLanes(D());
  const size_t head = kMax > kMin ? AlignHead<kMin>(d, anchor, n) : 0;
  ForPieces<kMax / 2, kMin, TD>(0, head, f);
  size_t i = head + ForVectors(d, n - head, [&](size_t k) { f(d, head + k); });
  const size_t rest = (n - i) - (n - i) % kMin;
  ForPieces<kMax / 2, kMin, TD>(i, rest, f);
  return i + rest;
}

// ---------------------------------------------------------------- shifted loads
// When the destination is lined up and a source is not, every full-width load
// of that source straddles two cache lines. On the AVX-512 targets such a
// source is read with aligned loads instead, each vector joined from two
// neighbouring aligned ones by one lane shift (valignq): measured on an
// AVX-512 processor whose split loads cost twice, this runs at the speed of
// the aligned case, where narrower vectors run at half of it and a
// variable two-source permute (vpermt2pd) at about 0.6. The shift is an
// immediate, so the loops exist once per shift (1-7 doubles); a second source
// is shifted too when it sits at the same distance, else loaded unaligned.
#undef NX_SHIFTED_LOADS
#if HWY_ARCH_X86 && (HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL)
#define NX_SHIFTED_LOADS 1

// Consecutive vectors of a source lying kShift lanes past a vector boundary:
// Next() returns the vector at the current position and advances.
template <int kShift>
struct TShiftedStream {
  const double* base;  // vector boundary at or before the current position
  __m512i prev;
  HWY_INLINE TShiftedStream(const double* p) : base(p - kShift), prev(_mm512_load_si512(p - kShift)) {}
  HWY_INLINE loops_hn::Vec512<double> Next() {
    base += 8;
    const __m512i next = _mm512_load_si512(base);
    loops_hn::Vec512<double> v;
    v.raw = _mm512_castsi512_pd(_mm512_alignr_epi64(next, prev, kShift));
    prev = next;
    return v;
  }
};

// One source read as it is (aligned or not).
struct TPlainStream {
  const double* p;
  HWY_INLINE loops_hn::Vec512<double> Next() {
    const auto v = loops_hn::LoadU(loops_hn::Full512<double>(), p);
    p += 8;
    return v;
  }
};

// Whole vectors from i while the shifted sources' read-ahead stays inside the
// arrays; returns where it stopped. f(va[, vb]) gives the vector to store.
template <int kShift, bool kShiftA, bool kShiftB, class F>
HWY_INLINE size_t ShiftedBody(const double* a, const double* b, double* dst, size_t i, size_t n, const F& f) {
  // The read-ahead takes the next boundary vector: 8 - kShift elements past
  // the current vector's end.
  const size_t reach = 16 - kShift;
  if (i < static_cast<size_t>(kShift) || n < reach || i > n - reach) return i;
  using SA = std::conditional_t<kShiftA, TShiftedStream<kShift>, TPlainStream>;
  using SB = std::conditional_t<kShiftB, TShiftedStream<kShift>, TPlainStream>;
  constexpr bool kUnary = std::is_invocable_v<const F&, loops_hn::Vec512<double>>;
  const loops_hn::Full512<double> d;
  SA sa{a + i};
  if constexpr (kUnary) {
    (void)b;
    for (; i + 32 + 8 - kShift <= n; i += 32) {
      const auto v0 = sa.Next(), v1 = sa.Next(), v2 = sa.Next(), v3 = sa.Next();
      loops_hn::Store(f(v0), d, dst + i);
      loops_hn::Store(f(v1), d, dst + i + 8);
      loops_hn::Store(f(v2), d, dst + i + 16);
      loops_hn::Store(f(v3), d, dst + i + 24);
    }
    for (; i + reach <= n; i += 8) loops_hn::Store(f(sa.Next()), d, dst + i);
  } else {
    SB sb{b + i};
    for (; i + 32 + 8 - kShift <= n; i += 32) {
      const auto a0 = sa.Next(), a1 = sa.Next(), a2 = sa.Next(), a3 = sa.Next();
      const auto b0 = sb.Next(), b1 = sb.Next(), b2 = sb.Next(), b3 = sb.Next();
      loops_hn::Store(f(a0, b0), d, dst + i);
      loops_hn::Store(f(a1, b1), d, dst + i + 8);
      loops_hn::Store(f(a2, b2), d, dst + i + 16);
      loops_hn::Store(f(a3, b3), d, dst + i + 24);
    }
    for (; i + reach <= n; i += 8) {
      const auto va = sa.Next();
      loops_hn::Store(f(va, sb.Next()), d, dst + i);
    }
  }
  return i;
}

// Picks the loop for the sources' distance from the boundary (in doubles)
// when dst + i is lined up; returns where it stopped (i when nothing fits).
template <int kShift, class F>
HWY_INLINE size_t ShiftedDispatch(const double* a, const double* b, double* dst, size_t i, size_t n, int ka, int kb,
                                 const F& f) {
  if constexpr (kShift < 8) {
    if constexpr (std::is_invocable_v<const F&, loops_hn::Vec512<double>>) {
      if (ka == kShift) return ShiftedBody<kShift, true, false>(a, b, dst, i, n, f);
    } else {
      if (ka == kShift && kb == kShift) return ShiftedBody<kShift, true, true>(a, b, dst, i, n, f);
      if (ka == kShift) return ShiftedBody<kShift, true, false>(a, b, dst, i, n, f);
      if (ka == 0 && kb == kShift) return ShiftedBody<kShift, false, true>(a, b, dst, i, n, f);
    }
    return ShiftedDispatch<kShift + 1>(a, b, dst, i, n, ka, kb, f);
  }
  return i;
}

// The body of a two-source reduction (ReduceStreams) with a lined up and b
// kShift doubles past the boundary: s[j] = fold(s[j], va, vb).
template <int kShift, class Fold>
HWY_INLINE size_t ShiftedReduce(const double* a, const double* b, size_t i, size_t n, loops_hn::Vec512<double>* s,
                                const Fold& fold) {
  const size_t reach = 16 - kShift;
  if (i < static_cast<size_t>(kShift) || n < reach || i > n - reach) return i;
  const loops_hn::Full512<double> d;
  TShiftedStream<kShift> sb{b + i};
  for (; i + 32 + 8 - kShift <= n; i += 32) {
    s[0] = fold(s[0], loops_hn::Load(d, a + i), sb.Next());
    s[1] = fold(s[1], loops_hn::Load(d, a + i + 8), sb.Next());
    s[2] = fold(s[2], loops_hn::Load(d, a + i + 16), sb.Next());
    s[3] = fold(s[3], loops_hn::Load(d, a + i + 24), sb.Next());
  }
  for (; i + reach <= n; i += 8) s[0] = fold(s[0], loops_hn::Load(d, a + i), sb.Next());
  return i;
}

template <int kShift, class Fold>
HWY_INLINE size_t ShiftedReduceDispatch(const double* a, const double* b, size_t i, size_t n, int kb,
                                        loops_hn::Vec512<double>* s, const Fold& fold) {
  if constexpr (kShift < 8) {
    if (kb == kShift) return ShiftedReduce<kShift>(a, b, i, n, s, fold);
    return ShiftedReduceDispatch<kShift + 1>(a, b, i, n, kb, s, fold);
  }
  return i;
}
#else
#define NX_SHIFTED_LOADS 0
#endif

// dst[i] = op(dw, a[i]) (b null) or op(dw, a[i], b[i]) over doubles, with dst
// lined up (see ForAligned) and, on the AVX-512 targets, the sources read by
// shifted loads where they sit off the boundary. Lane-wise op only: every
// element gets the same arithmetic whatever the path. dst may equal a or b.
template <class Op>
HWY_INLINE void MapStreams(const double* a, const double* b, double* dst, size_t n, const Op& op) {
  const loops_hn::ScalableTag<double> d;
  const auto plain = [&](auto dw, size_t i) {
    if constexpr (std::is_invocable_v<const Op&, decltype(dw), loops_hn::Vec<decltype(dw)>>) {
      loops_hn::StoreU(op(dw, loops_hn::LoadU(dw, a + i)), dw, dst + i);
    } else {
      loops_hn::StoreU(op(dw, loops_hn::LoadU(dw, a + i), loops_hn::LoadU(dw, b + i)), dw, dst + i);
    }
  };
  constexpr size_t kMax = loops_hn::MaxLanes(decltype(d)());
  const size_t head = AlignHead(d, dst, n);
  ForPieces<kMax / 2, 1, double>(0, head, plain);
  size_t i = head;
#if NX_SHIFTED_LOADS
  if (reinterpret_cast<uintptr_t>(dst) % sizeof(double) == 0) {
    const auto lanes = [&](const double* p) -> int {
      const uintptr_t u = reinterpret_cast<uintptr_t>(p + i);
      return u % sizeof(double) ? 0 : static_cast<int>((u / sizeof(double)) % 8);
    };
    const int ka = lanes(a), kb = b ? lanes(b) : 0;
    if ((ka != 0 || kb != 0) && n - i >= 8) {
      // The shifted reads start at the boundary before the source element:
      // one plain vector first keeps them inside the arrays.
      if (i < 8) {
        plain(d, i);
        i += 8;
      }
      const loops_hn::Full512<double> d8;
      if constexpr (std::is_invocable_v<const Op&, decltype(d8), loops_hn::Vec512<double>>) {
        i = ShiftedDispatch<1>(a, nullptr, dst, i, n, ka, 0, [&](loops_hn::Vec512<double> v) { return op(d8, v); });
      } else {
        i = ShiftedDispatch<1>(a, b, dst, i, n, ka, kb,
                               [&](loops_hn::Vec512<double> va, loops_hn::Vec512<double> vb) { return op(d8, va, vb); });
      }
    }
  }
#endif
  i += ForVectors(d, n - i, [&](size_t k) { plain(d, i + k); });
  ForPieces<kMax / 2, 1, double>(i, n - i, plain);
}

// A reduction over [0, n) with four accumulators of d: fold(s, k) returns s
// with the whole vector at k taken in, and term(k) that vector's
// contribution alone (head and tail add it with lanes outside the range
// zeroed, so term may compute anything there). The source `anchor` is read on
// vector boundaries in the body; the head and the tail are one whole vector
// each, masked, so no element takes a scalar step. Returns the sum of the
// lanes of the accumulators; *tail receives where a scalar remainder starts
// (n unless n is below one vector).
template <class D, typename T, class Term, class Fold>
HWY_INLINE loops_hn::Vec<D> ReduceAligned(D d, const T* anchor, size_t n, size_t* tail, const Term& term,
                                         const Fold& fold) {
  const size_t N = loops_hn::Lanes(d);
  auto s0 = loops_hn::Zero(d), s1 = loops_hn::Zero(d), s2 = loops_hn::Zero(d), s3 = loops_hn::Zero(d);
  if (n < N) {
    *tail = 0;
    return s0;
  }
  const size_t head = AlignHead(d, anchor, n);
  if (head) s1 = loops_hn::IfThenElseZero(loops_hn::FirstN(d, head), term(0));
  size_t i = head;
  if (n - head >= 4 * N) {
    for (; i <= n - 4 * N; i += 4 * N) {
      s0 = fold(s0, i);
      s1 = fold(s1, i + N);
      s2 = fold(s2, i + 2 * N);
      s3 = fold(s3, i + 3 * N);
    }
  }
  for (; i + N <= n; i += N) s0 = fold(s0, i);
  if (i < n) {
    // The last whole vector, lanes already taken in masked off.
    const auto fresh = loops_hn::Not(loops_hn::FirstN(d, N - (n - i)));
    s2 = loops_hn::Add(s2, loops_hn::IfThenElseZero(fresh, term(n - N)));
  }
  *tail = n;
  return loops_hn::Add(loops_hn::Add(s0, s1), loops_hn::Add(s2, s3));
}

// A reduction over two double sources: like ReduceAligned with a as the
// anchor, fold(s, va, vb) taking in the vectors of a and b at one position;
// on the AVX-512 targets b is read by shifted loads where it sits off the
// boundary while a is lined up.
template <class D, class Term, class Fold>
HWY_INLINE loops_hn::Vec<D> ReduceStreams(D d, const double* a, const double* b, size_t n, size_t* tail,
                                          const Term& term, const Fold& fold) {
  const size_t N = loops_hn::Lanes(d);
  loops_hn::Vec<D> s[4] = {loops_hn::Zero(d), loops_hn::Zero(d), loops_hn::Zero(d), loops_hn::Zero(d)};
  if (n < N) {
    *tail = 0;
    return s[0];
  }
  const size_t head = AlignHead(d, a, n);
  if (head) s[1] = loops_hn::IfThenElseZero(loops_hn::FirstN(d, head), term(0));
  size_t i = head;
#if NX_SHIFTED_LOADS
  if constexpr (std::is_same_v<loops_hn::Vec<D>, loops_hn::Vec512<double>>) {
    const uintptr_t u = reinterpret_cast<uintptr_t>(b + i);
    if (u % sizeof(double) == 0 && (u / sizeof(double)) % 8 != 0 && (reinterpret_cast<uintptr_t>(a + i) % 64) == 0 &&
        n - i >= 8) {
      if (i < 8) {  // see MapStreams
        s[0] = fold(s[0], loops_hn::LoadU(d, a + i), loops_hn::LoadU(d, b + i));
        i += 8;
      }
      i = ShiftedReduceDispatch<1>(a, b, i, n, static_cast<int>((u / sizeof(double)) % 8), s, fold);
    }
  }
#endif
  const auto plain = [&](loops_hn::Vec<D> acc, size_t k) {
    return fold(acc, loops_hn::LoadU(d, a + k), loops_hn::LoadU(d, b + k));
  };
  if (n - i >= 4 * N) {
    for (; i <= n - 4 * N; i += 4 * N) {
      s[0] = plain(s[0], i);
      s[1] = plain(s[1], i + N);
      s[2] = plain(s[2], i + 2 * N);
      s[3] = plain(s[3], i + 3 * N);
    }
  }
  for (; i + N <= n; i += N) s[0] = plain(s[0], i);
  if (i < n) {
    const auto fresh = loops_hn::Not(loops_hn::FirstN(d, N - (n - i)));
    s[2] = loops_hn::Add(s[2], loops_hn::IfThenElseZero(fresh, term(n - N)));
  }
  *tail = n;
  return loops_hn::Add(loops_hn::Add(s[0], s[1]), loops_hn::Add(s[2], s[3]));
}

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#endif  // NX_BUILTIN_LOOPS_INL_H_
