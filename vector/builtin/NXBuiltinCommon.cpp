// Shared pieces of the built-in routines: the choice of SIMD target for the
// run-time dispatch and its report.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinCommon.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {

const char* TargetNameKernel() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "vector/builtin/NXBuiltins.h"

#if HWY_ARCH_X86
#include <cpuid.h>
#endif

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// The dispatch's choice of target. Highway's headers dispatch through two
// functions, hwy::SupportedTargets and hwy::GetChosenTarget, and report a
// failed check through hwy::Abort, which its shared library would provide;
// the library defines them here instead and does not load that library at
// all: its start-up calibrates a timer for its benchmarking tools, about 4 ms
// of every process that loads it. They are hidden, so a program that also
// loads Highway's library keeps its own.
namespace {

#if HWY_ARCH_X86
// The targets this processor and its operating system run, by the features
// each target's code is compiled with (Highway's target attribute strings):
// SSE4 needs SSSE3, SSE4.1/4.2, CLMUL and AES; AVX2 adds AVX, AVX2, BMI1/2,
// FMA and F16C, with the YMM state saved by the kernel; AVX3 adds AVX-512
// F/VL/DQ/BW, with the opmask and ZMM states saved too.
std::int64_t DetectTargets() {
  std::int64_t targets = 0;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return targets;
  const unsigned c1 = c, d1 = d;
  unsigned b7 = 0;
  if (__get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    b7 = b;
  }
  auto all = [](unsigned reg, unsigned bits) { return (reg & bits) == bits; };
  if (!(all(d1, bit_SSE2) && all(c1, bit_SSSE3 | bit_SSE4_1 | bit_SSE4_2 | bit_PCLMUL | bit_AES))) return targets;
  targets |= HWY_SSSE3 | HWY_SSE4;
  std::uint64_t xcr0 = 0;
  if (all(c1, bit_OSXSAVE)) {
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (std::uint64_t(hi) << 32) | lo;
  }
  constexpr std::uint64_t kYmmState = 0x6, kZmmState = 0xE0;  // XMM|YMM; opmask|ZMM_Hi256|Hi16_ZMM
  if (!(all(c1, bit_AVX | bit_FMA | bit_F16C) && all(b7, bit_AVX2 | bit_BMI | bit_BMI2) &&
        (xcr0 & kYmmState) == kYmmState))
    return targets;
  targets |= HWY_AVX2;
  if (all(b7, bit_AVX512F | bit_AVX512VL | bit_AVX512DQ | bit_AVX512BW) &&
      (xcr0 & (kYmmState | kZmmState)) == (kYmmState | kZmmState))
    targets |= HWY_AVX3;
  return targets;
}
#else
// Elsewhere the kernels run on the target the library was compiled for.
std::int64_t DetectTargets() { return 0; }
#endif

// What the processor runs, the portable fallbacks always among it.
std::int64_t Detected() {
  static const std::int64_t targets = DetectTargets() | HWY_EMU128 | HWY_SCALAR | HWY_STATIC_TARGET;
  return targets;
}

constinit std::atomic<std::int64_t> gTargetsForTest{0};
constinit hwy::ChosenTarget gChosen;

}  // namespace

namespace hwy {

__attribute__((visibility("hidden"))) std::int64_t SupportedTargets() {
  const std::int64_t forced = gTargetsForTest.load();
  return forced != 0 ? forced : Detected();
}

__attribute__((visibility("hidden"))) ChosenTarget& GetChosenTarget() { return gChosen; }

// Where a Highway check fails (only builds that keep its debug checks reach
// it): the message, then the process ends as any failed assertion does.
__attribute__((visibility("hidden"))) void Abort(const char* file, int line, const char* format, ...) {
  std::fprintf(stderr, "SIMD kernel check failed at %s:%d: ", file, line);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

}  // namespace hwy

namespace nx::builtin {

HWY_EXPORT(TargetNameKernel);

const char* SimdTargetName() { return HWY_DYNAMIC_DISPATCH(TargetNameKernel)(); }

std::vector<std::int64_t> SimdTargets() {
  std::vector<std::int64_t> list;
  // Lowest bit first: Highway numbers its better targets lower.
  for (std::int64_t t = hwy::SupportedTargets() & HWY_TARGETS; t != 0; t &= t - 1) list.push_back(t & -t);
  return list;
}

void SetSimdTargetsForTest(std::int64_t ATargets) {
  gTargetsForTest.store(ATargets);
  // Every dispatch table reads the choice at its next call.
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace nx::builtin
#endif  // HWY_ONCE
