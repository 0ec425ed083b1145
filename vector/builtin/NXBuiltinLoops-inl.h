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
#include <utility>

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
// the aligned case whatever the two sources' offsets, where unaligned loads,
// narrower vectors or a variable two-source permute (vpermt2pd) run at
// 0.6-0.75 of it. The shift is an immediate, so the loops exist once per
// pair of shifts (0-7 doubles each, 0 meaning lined up) and are picked from
// a table.
#undef NX_SHIFTED_LOADS
#if HWY_ARCH_X86 && (HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL)
#define NX_SHIFTED_LOADS 1

// Consecutive vectors of a source lying kShift lanes past a vector boundary
// (kShift 0: lined up). Next4 loads four boundary vectors before it joins
// them, so that each is loaded once and joined from registers (written as a
// stream that loads one vector per step, the compiler reloaded them).
template <int kShift>
struct TShiftedStream {
  using V = loops_hn::Vec512<double>;
  const double* base;  // vector boundary at or before the current position
  __m512i prev;
  HWY_INLINE explicit TShiftedStream(const double* p) : base(p - kShift) {
    prev = kShift ? _mm512_load_si512(base) : _mm512_setzero_si512();
  }
  static HWY_INLINE V Join(__m512i hi, __m512i lo) {
    V v;
    v.raw = _mm512_castsi512_pd(_mm512_alignr_epi64(hi, lo, kShift));
    return v;
  }
  HWY_INLINE void Next4(V* v) {
    const loops_hn::Full512<double> d;
    if constexpr (kShift == 0) {
      v[0] = loops_hn::Load(d, base);
      v[1] = loops_hn::Load(d, base + 8);
      v[2] = loops_hn::Load(d, base + 16);
      v[3] = loops_hn::Load(d, base + 24);
    } else {
      __m512i n0 = _mm512_load_si512(base + 8), n1 = _mm512_load_si512(base + 16);
      __m512i n2 = _mm512_load_si512(base + 24), n3 = _mm512_load_si512(base + 32);
      // Pinned to registers: otherwise the compiler folds each load into both
      // of its shifts as a memory operand and loads every vector twice.
      asm("" : "+v"(n0), "+v"(n1), "+v"(n2), "+v"(n3));
      v[0] = Join(n0, prev);
      v[1] = Join(n1, n0);
      v[2] = Join(n2, n1);
      v[3] = Join(n3, n2);
      prev = n3;
    }
    base += 32;
  }
  HWY_INLINE V Next() {
    V v;
    if constexpr (kShift == 0) {
      v = loops_hn::Load(loops_hn::Full512<double>(), base);
    } else {
      __m512i next = _mm512_load_si512(base + 8);
      asm("" : "+v"(next));
      v = Join(next, prev);
      prev = next;
    }
    base += 8;
    return v;
  }
};

// Whole vectors from i (dst + i lined up, and the boundary vector at or
// before each source's element inside its array) while the read-ahead stays
// inside the arrays; returns where it stopped. f(va[, vb]) gives the vector
// to store; b is null for a one-source f.
template <int kA, int kB, class F>
size_t ShiftedBody(const double* a, const double* b, double* dst, size_t i, size_t n, const F& f) {
  using V = loops_hn::Vec512<double>;
  constexpr bool kUnary = std::is_invocable_v<const F&, V>;
  // A shifted stream reads the boundary vector after the current one, up to
  // 8 elements past the current vector's end: nothing is read unless a whole
  // step fits.
  if (i + 16 > n) return i;
  const loops_hn::Full512<double> d;
  TShiftedStream<kA> sa(a + i);
  if constexpr (kUnary) {
    (void)b;
    for (; i + 40 <= n; i += 32) {
      V va[4];
      sa.Next4(va);
      loops_hn::Store(f(va[0]), d, dst + i);
      loops_hn::Store(f(va[1]), d, dst + i + 8);
      loops_hn::Store(f(va[2]), d, dst + i + 16);
      loops_hn::Store(f(va[3]), d, dst + i + 24);
    }
    for (; i + 16 <= n; i += 8) loops_hn::Store(f(sa.Next()), d, dst + i);
  } else {
    TShiftedStream<kB> sb(b + i);
    for (; i + 40 <= n; i += 32) {
      V va[4], vb[4];
      sa.Next4(va);
      sb.Next4(vb);
      loops_hn::Store(f(va[0], vb[0]), d, dst + i);
      loops_hn::Store(f(va[1], vb[1]), d, dst + i + 8);
      loops_hn::Store(f(va[2], vb[2]), d, dst + i + 16);
      loops_hn::Store(f(va[3], vb[3]), d, dst + i + 24);
    }
    for (; i + 16 <= n; i += 8) {
      const V va = sa.Next();
      loops_hn::Store(f(va, sb.Next()), d, dst + i);
    }
  }
  return i;
}

// The body for the sources' distances from the boundary (in doubles, 0-7)
// when dst + i is lined up: a table of 8 bodies for one source, 64 for two.
template <class F, size_t... I>
HWY_INLINE size_t ShiftedDispatch(const double* a, const double* b, double* dst, size_t i, size_t n, int ka, int kb,
                                  const F& f, std::index_sequence<I...>) {
  constexpr bool kPairs = sizeof...(I) == 64;
  static_assert(kPairs || sizeof...(I) == 8);
  using Body = size_t (*)(const double*, const double*, double*, size_t, size_t, const F&);
  static constexpr Body kBodies[] = {
      &ShiftedBody<static_cast<int>(kPairs ? I / 8 : I), static_cast<int>(kPairs ? I % 8 : 0), F>...};
  return kBodies[kPairs ? ka * 8 + kb : ka](a, b, dst, i, n, f);
}

// The body of a two-source reduction (ReduceStreams) with a lined up and b
// kShift doubles past the boundary: s[j] = fold(s[j], va, vb).
template <int kShift, class Fold>
size_t ShiftedReduce(const double* a, const double* b, size_t i, size_t n, loops_hn::Vec512<double>* s,
                     const Fold& fold) {
  using V = loops_hn::Vec512<double>;
  if (i + 16 > n) return i;  // see ShiftedBody
  const loops_hn::Full512<double> d;
  TShiftedStream<kShift> sb(b + i);
  V s0 = s[0], s1 = s[1], s2 = s[2], s3 = s[3];
  for (; i + 40 <= n; i += 32) {
    V vb[4];
    sb.Next4(vb);
    s0 = fold(s0, loops_hn::Load(d, a + i), vb[0]);
    s1 = fold(s1, loops_hn::Load(d, a + i + 8), vb[1]);
    s2 = fold(s2, loops_hn::Load(d, a + i + 16), vb[2]);
    s3 = fold(s3, loops_hn::Load(d, a + i + 24), vb[3]);
  }
  for (; i + 16 <= n; i += 8) s0 = fold(s0, loops_hn::Load(d, a + i), sb.Next());
  s[0] = s0;
  s[1] = s1;
  s[2] = s2;
  s[3] = s3;
  return i;
}

template <class Fold, size_t... I>
HWY_INLINE size_t ShiftedReduceDispatch(const double* a, const double* b, size_t i, size_t n, int kb,
                                        loops_hn::Vec512<double>* s, const Fold& fold, std::index_sequence<I...>) {
  using Body = size_t (*)(const double*, const double*, size_t, size_t, loops_hn::Vec512<double>*, const Fold&);
  static constexpr Body kBodies[] = {&ShiftedReduce<static_cast<int>(I), Fold>...};
  return kBodies[kb](a, b, i, n, s, fold);
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
    // Doubles past the boundary, -1 for a source off the double grid (it
    // stays on the plain loop below).
    const auto lanes = [&](const double* p) -> int {
      const uintptr_t u = reinterpret_cast<uintptr_t>(p + i);
      return u % sizeof(double) ? -1 : static_cast<int>((u / sizeof(double)) % 8);
    };
    const int ka = lanes(a), kb = b ? lanes(b) : 0;
    if (ka >= 0 && kb >= 0 && (ka != 0 || kb != 0) && n - i >= 8) {
      // The shifted reads start at the boundary before the source element:
      // a plain vector first where that lies before the array.
      if (i < static_cast<size_t>(ka > kb ? ka : kb)) {
        plain(d, i);
        i += 8;
      }
      const loops_hn::Full512<double> d8;
      if constexpr (std::is_invocable_v<const Op&, decltype(d8), loops_hn::Vec512<double>>) {
        i = ShiftedDispatch(a, nullptr, dst, i, n, ka, 0, [&](loops_hn::Vec512<double> v) { return op(d8, v); },
                            std::make_index_sequence<8>());
      } else {
        i = ShiftedDispatch(
            a, b, dst, i, n, ka, kb,
            [&](loops_hn::Vec512<double> va, loops_hn::Vec512<double> vb) { return op(d8, va, vb); },
            std::make_index_sequence<64>());
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
      const int kb = static_cast<int>((u / sizeof(double)) % 8);
      if (i < static_cast<size_t>(kb)) {  // see MapStreams
        s[0] = fold(s[0], loops_hn::LoadU(d, a + i), loops_hn::LoadU(d, b + i));
        i += 8;
      }
      i = ShiftedReduceDispatch(a, b, i, n, kb, s, fold, std::make_index_sequence<8>());
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
