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

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#endif  // NX_BUILTIN_LOOPS_INL_H_
