// NXBasicDispatcher: dispatch pointers of the named primitives listed in
// NXBasicDispatcher.inc. Each pointer is filled once at package start-up with
// the vendor library's routine of that name when the library supplies it, else
// with the package's own routine; callers call through the pointer.
#pragma once

#include <cstdint>
#include <span>

#include "vector/IPPPTypes.h"

namespace nx::NXBasicDispatcher {

#define NX_DISPATCH_LIST "vector/NXBasicDispatcher.inc"
#include "vector/NXDispatchDecl.inc"

// The aligned allocator of the built-in code: blocks whose address is a
// multiple of 32, the raw heap address kept in the word just below. A size
// below 1, or a failed allocation, gives null; _ippFree ignores null.
void* _ippMalloc(Ipp32s size);
void _ippFree(void* p);
// An _ippMalloc block whose address is also a multiple of 64 (a cache line),
// so that full-width AVX-512 accesses never straddle two lines: 32 bytes more
// are taken and, when the block is only 32-aligned, the result moves up by
// 32 with the heap address copied to the word below it. It is released by
// _ippFree like any other block. Null for a size below 1 or on failure.
void* NXMallocLineAligned(std::uint64_t size);

// The package's own routines, never dispatched. The 32u group ignores its
// scale factor, computes in plain unsigned 32-bit arithmetic and raises
// EIntOverflow / EDivByZero on an overflowing element or a zero divisor.
IppStatus ippsAdd_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsSub_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsMul_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsDiv_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsAddC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsSubC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsMulC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsDivC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int scaleFactor);
IppStatus ippsDivC_32u_Sfs(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len, int scaleFactor);
IppStatus ippsLShiftC_32u_I(int val, Ipp32u* pSrcDst, int len);
IppStatus ippsRShiftC_32u_I(int val, Ipp32u* pSrcDst, int len);
IppStatus ippsDotProd_32u_Sfs(const Ipp32u* pSrc1, const Ipp32u* pSrc2, int len, Ipp32u* pDp, int scaleFactor);
// Truncating signed division by a constant; no status.
void ippsDivC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor);
void ippsDivC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor);
// 64-bit integers to doubles (unsigned values from 2^63 up converted exactly); no status.
void ippsConvert_64s64f(const Ipp64s* pSrc, Ipp64f* pDst, int len);
void ippsConvert_64u64f(const Ipp64u* pSrc, Ipp64f* pDst, int len);
// Kaiser window with parameter alpha; no size check, status 0.
IppStatus ippsWinKaiser_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp32f alpha);
IppStatus ippsWinKaiser_64f_I(Ipp64f* pSrcDst, int len, Ipp32f alpha);
IppStatus ippsWinKaiser_64fc_I(Ipp64fc* pSrcDst, int len, Ipp32f alpha);

}  // namespace nx::NXBasicDispatcher

// The basic primitives are reachable as nx::ippsAdd_64f. The scope
// dispatcher's pointers (one of which, ippsConvert_64f32f, has the same name)
// stay qualified: nx::NXScopeDispatcher::ippsMove_8u.
namespace nx {
using namespace NXBasicDispatcher;
}
