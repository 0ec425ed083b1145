// Shared pieces of the built-in routines: the SIMD target report.
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

namespace nx::builtin {

HWY_EXPORT(TargetNameKernel);

const char* SimdTargetName() { return HWY_DYNAMIC_DISPATCH(TargetNameKernel)(); }

}  // namespace nx::builtin
#endif  // HWY_ONCE
