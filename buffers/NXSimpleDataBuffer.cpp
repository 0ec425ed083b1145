// NXSimpleDataBuffer: the buffer classes, copy on write, resizing, item
// access and the operations of the real buffer. Every element-wise operation
// is one call of a vector primitive through its dispatch pointer; only the
// conversions to 16-bit integers, the comparisons with a value, the
// restricted extremes and the repair after a division by zero loop here.
#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/NXPackage.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "runtime/Zandor.ClassManagement.h"
#include "runtime/Zandor.Serialization.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

// ---------------------------------------------------------------- notification list

void TNXNotifyList::Remove(THandle AHandle) noexcept {
  auto it = std::find_if(FItems.begin(), FItems.end(), [&](const auto& item) { return item.first == AHandle; });
  if (it != FItems.end()) FItems.erase(it);
}

void TNXNotifyList::Fire() const {
  // Copied first: a callback may subscribe or unsubscribe.
  if (FItems.empty()) return;
  const auto items = FItems;
  for (const auto& item : items)
    if (item.second) item.second();
}

// ---------------------------------------------------------------- sequence stamp

bool TNXSequenceStamp::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (!obj) return false;
  *obj = nullptr;
  if (iid == INXSequenceStamp::IID || iid == IInterface::IID) {
    *obj = static_cast<void*>(static_cast<INXSequenceStamp*>(this));
    _AddRef();
    return true;
  }
  return false;
}
std::int32_t TNXSequenceStamp::_AddRef() noexcept { return static_cast<INXData*>(FOwner)->_AddRef(); }
std::int32_t TNXSequenceStamp::_Release() noexcept { return static_cast<INXData*>(FOwner)->_Release(); }
bool TNXSequenceStamp::GetAvailable() { return FOwner->GetBufferNumberAvailable(); }
void TNXSequenceStamp::SetAvailable(bool AValue) { FOwner->SetBufferNumberAvailable(AValue); }
std::uint64_t TNXSequenceStamp::GetBufferNumber() { return FOwner->GetBufferNumber(); }
void TNXSequenceStamp::SetBufferNumber(std::uint64_t AValue) { FOwner->SetBufferNumber(AValue); }

// ---------------------------------------------------------------- TNXGenericBuffer

TNXGenericBuffer::TNXGenericBuffer(INXData* AParent, std::uint32_t AByteSize, TNXSmartBuffer* ABlock) {
  if (AParent) AssignData(AParent);
  FByteSize = AByteSize;
  FDataContainer = ABlock;
  FOwnsData = true;
  ABlock->AddReff(true);
  FData = static_cast<std::uint8_t*>(ABlock->GetData());
  _NXCountPasBuffers.Increment();
}

TNXGenericBuffer::TNXGenericBuffer(TNXGenericBuffer* ASource) {
  if (!ASource->FCustom.empty()) AssignData(ASource);
  FByteSize = ASource->FByteSize;
  FData = ASource->FData;
  FDataContainer = ASource->FDataContainer;
  FOwnsData = true;
  FDataContainer->AddReff(true);
  _NXCountPasBuffers.Increment();
}

TNXGenericBuffer::~TNXGenericBuffer() {
  if (FDataContainer) FDataContainer->RemoveReff(FOwnsData);
  FDataContainer = nullptr;
  _NXCountPasBuffers.Decrement();
}

TNXGenericBuffer* TNXGenericBuffer::BufferOf(INXData* ASource) {
  if (!ASource) throw EArgumentException("A buffer is required, not nil");
  auto* buffer = dynamic_cast<TNXGenericBuffer*>(ASource->GetInstance());
  if (!buffer) throw EArgumentException("The data object is not a buffer");
  return buffer;
}

std::uint32_t TNXGenericBuffer::ByteSizeOf(std::uint64_t ACount, std::uint32_t AItemSize) {
  const std::uint64_t bytes = ACount * AItemSize;  // both below 2^32: no wrap in 64 bits
  if (bytes > 0xFFFFFFFFu) throw EIntOverflow();
  return static_cast<std::uint32_t>(bytes);
}

TIntfPtr<INXData> TNXGenericBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXGenericBuffer(this));
}

void TNXGenericBuffer::Assign(const TIntfPtr<INXDataBuffer>& ASource) {
  TNXGenericBuffer* source = BufferOf(ASource);
  if (source == this) return;
  AssignData(source);
  if (source->FDataContainer != FDataContainer) {
    // The new reference first: the old block may be the last thing keeping
    // something alive that the source depends on.
    TNXSmartBuffer* old = FDataContainer;
    source->FDataContainer->AddReff(FOwnsData);
    SetDataContainer(source->FDataContainer);
    if (old) old->RemoveReff(FOwnsData);
    PopulateCahces();
  }
  FByteSize = source->FByteSize;
  FData = source->FData;
  SyncView();
}

bool TNXGenericBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  if (!AOther) return false;
  const std::uint32_t n = AOther->GetByteSize();
  if (n != FByteSize) return false;
  return n == 0 || std::memcmp(FData, AOther->ByteRead(), n) == 0;
}

TIntfPtr<INXDataBufferAccess> TNXGenericBuffer::ByteData(TBufferAccessModes AModes) {
  return TIntfPtr<INXDataBufferAccess>(new TNXDataBufferAccess(this, AModes));
}

TIntfPtr<INXSequenceStamp> TNXGenericBuffer::GetSequenceStamp() {
  return TIntfPtr<INXSequenceStamp>(&FSequenceStamp);
}

void TNXGenericBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                              std::int32_t ATargetOffset, std::int32_t ACount) {
  if (!ATargetBuffer) throw EArgumentException("A target buffer is required");
  // The target first: if it shares this buffer's block, its write access
  // moves it away and our bytes stay where they are.
  std::uint8_t* target = ATargetBuffer->ByteModify();
  ippsCopy_8u(ByteRead() + ASourceOffset, target + ATargetOffset, ACount);
}

void TNXGenericBuffer::RemoveOwnerShip() noexcept {
  if (!FOwnsData) return;
  FDataContainer->RemoveOwnerShip();
  FOwnsData = false;
}

void TNXGenericBuffer::PopulateCahces() {
  IntPopulateCahces();
  FNotify.Fire();
}

void TNXGenericBuffer::IntPopulateCahces() noexcept {
  FData = static_cast<std::uint8_t*>(FDataContainer->GetData());
  SyncView();
}

bool TNXGenericBuffer::IntMakeUnique(bool APreserve) {
  // The owner test ran without a lock: two owners writing at once may both
  // get here, and each then makes its own copy. The block they shared loses
  // both of them as owners (and is freed if nobody else references it).
  TNXSmartBuffer* old = FDataContainer;
  TNXSmartBuffer* block = old->Clone(APreserve);
  block->AddReff(FOwnsData);
  SetDataContainer(block);
  old->RemoveReff(FOwnsData);
  PopulateCahces();
  return true;
}

// ---------------------------------------------------------------- TNXMemoryBuffer

namespace {
// A new block for ACount items; the block is handed to a buffer constructor
// that takes its first reference.
TNXSmartBuffer* NewBlock(std::uint32_t ABytes) { return new TNXSmartMemoryBuffer(ABytes); }
}  // namespace

TNXMemoryBuffer::TNXMemoryBuffer(std::uint32_t ACount, std::uint32_t AItemSize)
    : TNXGenericBuffer(nullptr, ByteSizeOf(ACount, AItemSize), NewBlock(ByteSizeOf(ACount, AItemSize))) {}

TIntfPtr<INXData> TNXMemoryBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXMemoryBuffer(static_cast<TNXGenericBuffer*>(this)));
}

TNXSmartBuffer* TNXMemoryBuffer::MakeCopySize(std::uint32_t ASize) {
  return new TNXSmartMemoryBuffer(ByteSizeOf(ASize, ItemSize()));
}

// ---------------------------------------------------------------- TNXLinearMemoryBuffer

TIntfPtr<INXData> TNXLinearMemoryBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXLinearMemoryBuffer(static_cast<TNXGenericBuffer*>(this)));
}

bool TNXLinearMemoryBuffer::Resize(std::uint32_t ASize, bool APreserveData) {
  const std::uint32_t item = ItemSize();
  const std::uint32_t bytes = ByteSizeOf(ASize, item);
  if (ASize == 0) {
    FByteSize = 0;
    PopulateCahces();
    return true;
  }
  const std::uint32_t current = FByteSize / item;
  if (ASize == current) return false;
  // Shrinking with preservation keeps the block, even a shared one: the
  // other holders see their own byte sizes.
  if (APreserveData && current > ASize) {
    FByteSize = bytes;
    PopulateCahces();
    return true;
  }
  // Growth within the memory that an earlier shrink left (sole owner only).
  if (APreserveData && FDataContainer->SingleOwner() && FDataContainer->GetSize() / item >= ASize) {
    FByteSize = bytes;
    PopulateCahces();
    return true;
  }
  TNXSmartBuffer* old = FDataContainer;
  TNXSmartBuffer* block = MakeCopySize(ASize);
  if (APreserveData) {
    const std::uint32_t n = std::min(old->GetSize(), block->GetSize());
    if (n > 0)
      ippsCopy_8u(static_cast<const Ipp8u*>(old->GetData()), static_cast<Ipp8u*>(block->GetData()),
                  static_cast<int>(n));
  }
  block->AddReff(FOwnsData);
  SetDataContainer(block);
  old->RemoveReff(FOwnsData);
  FByteSize = bytes;
  PopulateCahces();
  return true;
}

// ---------------------------------------------------------------- access handles

TNXDataBufferAccess::TNXDataBufferAccess(TNXGenericBuffer* ABuffer, TBufferAccessModes AModes)
    : FBuffer(ABuffer), FObject(ABuffer) {
  switch (AccessKindOf(AModes)) {
    case TBufferAccessKind::Modify:
      FByteAccessor = [b = ABuffer] { return b->ByteModify(); };
      break;
    case TBufferAccessKind::Write:
      FByteAccessor = [b = ABuffer] { return b->ByteWrite(); };
      break;
    case TBufferAccessKind::Read:
      // The handle interface hands out one pointer type for every mode; a
      // handle made for reading only is for reading through (Read is const).
      FByteAccessor = [b = ABuffer] { return const_cast<std::uint8_t*>(b->ByteRead()); };
      break;
  }
}

// ---------------------------------------------------------------- TNXRealBuffer: construction

TNXRealBuffer::TNXRealBuffer() : TNXLinearMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(double))) {}

TNXRealBuffer::TNXRealBuffer(std::uint32_t ASize) : TNXLinearMemoryBuffer(ASize, static_cast<std::uint32_t>(sizeof(double))) {}

TNXRealBuffer::TNXRealBuffer(const double* AData, std::uint32_t ASize) : TNXRealBuffer(ASize) {
  if (AData && ASize > 0) ippsCopy_64f(AData, Items<double>(), static_cast<int>(ASize));
}

TNXRealBuffer::TNXRealBuffer(TValueInit, double AValue, std::uint32_t ASize) : TNXRealBuffer(ASize) {
  if (ASize > 0) ippsSet_64f(AValue, Items<double>(), static_cast<int>(ASize));
}

template <class T>
void TNXRealBuffer::FillFromIntegers(const T* AData, std::uint32_t ASize, double ADivisor) {
  if (!AData) return;
  double* d = Items<double>();
  if (ADivisor == 1.0) {
    for (std::uint32_t i = 0; i < ASize; ++i) d[i] = static_cast<double>(AData[i]);
  } else {
    for (std::uint32_t i = 0; i < ASize; ++i) d[i] = static_cast<double>(AData[i]) / ADivisor;
  }
}

#define NX_REAL_INT_CTOR(T)                                                                 \
  TNXRealBuffer::TNXRealBuffer(const T* AData, std::uint32_t ASize, double ADivisor) : TNXRealBuffer(ASize) { \
    FillFromIntegers(AData, ASize, ADivisor);                                               \
  }
NX_REAL_INT_CTOR(std::uint8_t)
NX_REAL_INT_CTOR(std::uint16_t)
NX_REAL_INT_CTOR(std::int16_t)
NX_REAL_INT_CTOR(std::uint32_t)
NX_REAL_INT_CTOR(std::int32_t)
NX_REAL_INT_CTOR(std::int64_t)
NX_REAL_INT_CTOR(std::uint64_t)
#undef NX_REAL_INT_CTOR

TNXRealBuffer::TNXRealBuffer(const float* AData, std::uint32_t ASize) : TNXRealBuffer(ASize) {
  if (AData && ASize > 0) ippsConvert_32f64f(AData, Items<double>(), static_cast<int>(ASize));
}

namespace {
std::uint32_t CountOf(std::size_t n) {
  if (n > 0xFFFFFFFFu) throw EIntOverflow();
  return static_cast<std::uint32_t>(n);
}
}  // namespace

TNXRealBuffer::TNXRealBuffer(std::span<const double> AArray) : TNXRealBuffer(AArray.data(), CountOf(AArray.size())) {}

TNXRealBuffer::TNXRealBuffer(const std::vector<double>& AList) : TNXRealBuffer(AList.data(), CountOf(AList.size())) {}

namespace {
// The source object of a sharing constructor (no type query: the hot path of
// GetDataCopy runs through here).
TNXGenericBuffer* NotNil(TNXGenericBuffer* ASource) {
  if (!ASource) throw EArgumentException("A buffer is required, not nil");
  return ASource;
}
}  // namespace

TNXRealBuffer::TNXRealBuffer(TNXRealBuffer* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}

TNXRealBuffer::TNXRealBuffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

TNXRealBuffer::TNXRealBuffer(const TIntfPtr<INXData>& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

TIntfPtr<INXData> TNXRealBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXRealBuffer(this));
}

bool TNXRealBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  if (!AOther || !dynamic_cast<TNXRealBuffer*>(AOther->GetInstance())) return false;
  return TNXLinearMemoryBuffer::IsEqual(AOther);
}

void TNXRealBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                           std::int32_t ATargetOffset, std::int32_t ACount) {
  auto* target = ATargetBuffer ? dynamic_cast<TNXRealBuffer*>(ATargetBuffer->GetInstance()) : nullptr;
  if (!target) {
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
    return;
  }
  double* dst = target->Modify();
  ippsCopy_64f(Read() + ASourceOffset, dst + ATargetOffset, ACount);
}

TIntfPtr<INXRealBufferAccess> TNXRealBuffer::Data(TBufferAccessModes AModes) {
  TNXRealBufferAccess::TDataLambda accessor;
  switch (AccessKindOf(AModes)) {
    case TBufferAccessKind::Modify:
      accessor = [this] { return Modify(); };
      break;
    case TBufferAccessKind::Write:
      accessor = [this] { return Write(); };
      break;
    case TBufferAccessKind::Read:
      accessor = [this] { return const_cast<double*>(Read()); };  // see TNXDataBufferAccess
      break;
  }
  return TIntfPtr<INXRealBufferAccess>(new TNXRealBufferAccess(this, AModes, std::move(accessor)));
}

// ---------------------------------------------------------------- TNXRealBuffer: operations
//
// Source pointers are taken before Self's write access: when a source shares
// Self's block (or is Self), the write access moves Self to a new block and
// the source pointer still shows the old samples, which the other holder
// keeps alive.

namespace {
inline int Len(std::int32_t n) { return static_cast<int>(n); }
inline std::int32_t SizeOf(const TNXRealBuffer::TBuffer& b) { return b ? b->GetSize() : 0; }
inline const double* ReadOf(const TNXRealBuffer::TBuffer& b) {
  if (!b) throw EArgumentException("A source buffer is required");
  return b->Read();
}
// The sources of ThresholdFrom, Norm and AutoCorr are read for Self's whole
// size: a shorter source is refused rather than read beyond its end.
inline void RequireSize(const TNXRealBuffer::TBuffer& b, std::int32_t size) {
  if (!b) throw EArgumentException("A source buffer is required");
  if (b->GetSize() < size)
    RaiseRange("Source buffer too short = %u", static_cast<unsigned>(b->GetSize()));
}
}  // namespace

void TNXRealBuffer::VectorJaehne(double AMagnitude) { ippsVectorJaehne_64f(Write(), Len(GetSize()), AMagnitude); }

void TNXRealBuffer::Subtract(const TBuffer& AOther) {
  const double* src = ReadOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  ippsSub_64f_I(src, Modify(), Len(n));
}

void TNXRealBuffer::Multiply(const TBuffer& AOther) {
  const double* src = ReadOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  ippsMul_64f_I(src, Modify(), Len(n));
}

void TNXRealBuffer::Divide(const TBuffer& AOther) {
  const double* src = ReadOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  double* dst = Modify();
  if (src == dst) {
    // Dividing a buffer by itself: the divisors are overwritten as the
    // quotients are written, so the zero test is made element by element.
    for (std::int32_t i = 0; i < n; ++i) dst[i] = dst[i] == 0.0 ? -100000000000000.0 : dst[i] / dst[i];
    return;
  }
  if (ippsDiv_64f_I(src, dst, Len(n)) != ippStsDivByZero) return;
  // A zero divisor leaves ±Inf or NaN; those become large finite values that
  // later stages can still compute with. The negative constant is smaller in
  // magnitude on purpose (downstream code relies on the pair as it is).
  for (std::int32_t i = 0; i < n; ++i)
    if (src[i] == 0.0) dst[i] = dst[i] > 0.0 ? 1000000000000000.0 : -100000000000000.0;
}

void TNXRealBuffer::SetValue(double AValue) { ippsSet_64f(AValue, Write(), Len(GetSize())); }
void TNXRealBuffer::AddValue(double AValue) { ippsAddC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealBuffer::SubtractValue(double AValue) { ippsSubC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealBuffer::MultiplyValue(double AValue) { ippsMulC_64f_I(AValue, Modify(), Len(GetSize())); }

void TNXRealBuffer::DivideValue(double AValue) {
  if (AValue == 0.0 || AValue == 1.0) return;  // no access at all: a shared block stays shared
  ippsDivC_64f_I(AValue, Modify(), Len(GetSize()));
}

void TNXRealBuffer::Zero() { ippsZero_64f(Write(), Len(GetSize())); }

void TNXRealBuffer::ToInt(std::int32_t* AOutBuffer, bool ARound) {
  ippsConvert_64f32s_Sfs(Read(), AOutBuffer, Len(GetSize()), ARound ? ippRndNear : ippRndZero, 0);
}

void TNXRealBuffer::ToShort(std::int16_t* AOutBuffer, bool ARound) {
  const double* src = Read();
  const std::int32_t n = GetSize();
  for (std::int32_t i = 0; i < n; ++i) {
    // nearbyint rounds in the current (default: to nearest, ties to even) mode.
    const double r = ARound ? std::nearbyint(src[i]) : std::trunc(src[i]);
    if (!(r >= -32768.0 && r <= 32767.0)) RaiseRange("Value out of range = %g", src[i]);
    AOutBuffer[i] = static_cast<std::int16_t>(r);
  }
}

void TNXRealBuffer::ToSingle(float* AOutBuffer) { ippsConvert_64f32f(Read(), AOutBuffer, Len(GetSize())); }
void TNXRealBuffer::FromInt(const std::int32_t* AInBuffer) { ippsConvert_32s64f(AInBuffer, Write(), Len(GetSize())); }
void TNXRealBuffer::FromShort(const std::int16_t* AInBuffer) {
  ippsConvert_16s64f_Sfs(AInBuffer, Write(), Len(GetSize()), 0);
}
void TNXRealBuffer::FromSingle(const float* AInBuffer) { ippsConvert_32f64f(AInBuffer, Write(), Len(GetSize())); }

void TNXRealBuffer::NormalizeFrom(const TBuffer& ASource, double AOffset, double AFactor) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsNormalize_64f(src, Write(), Len(n), AOffset, AFactor);
}

void TNXRealBuffer::Normalize(double AOffset, double AFactor) {
  // Through a sharing copy: the write access gives Self a new block and the
  // copy keeps the old samples to read from.
  const TBuffer copy(new TNXRealBuffer(this));
  NormalizeFrom(copy, AOffset, AFactor);
}

double TNXRealBuffer::Dot(const TBuffer& AOther) const {
  const double* src = ReadOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  double result = 0.0;
  ippsDotProd_64f(Read(), src, Len(n), &result);
  return result;
}

namespace {
inline IppCmpOp CmpOf(TNXThresholdType t) { return t == ttGreaterThan ? ippCmpGreater : ippCmpLess; }
}  // namespace

void TNXRealBuffer::Threshold(double AThreshold, TNXThresholdType AType) {
  ippsThreshold_64f_I(Modify(), Len(GetSize()), AThreshold, CmpOf(AType));
}

void TNXRealBuffer::ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) {
  RequireSize(ASource, GetSize());
  const double* src = ASource->Read();
  ippsThreshold_64f(src, Write(), Len(GetSize()), AThreshold, CmpOf(AType));
}

void TNXRealBuffer::Sqr() { ippsSqr_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::SqrFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsSqr_64f(src, Write(), Len(n));
}
void TNXRealBuffer::Sqrt() { ippsSqrt_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::SqrtFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsSqrt_64f(src, Write(), Len(n));
}

void TNXRealBuffer::AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) {
  const std::int32_t size = GetSize();
  RequireSize(ASource, size);
  const double* src = ASource->Read();
  const std::int32_t n = std::min(size, ASource->GetSize());
  double* dst = Write();
  switch (AType) {
    case actBiased:
      ippsAutoCorr_NormA_64f(src, Len(size), dst, Len(n));
      break;
    case actUnbiased:
      ippsAutoCorr_NormB_64f(src, Len(size), dst, Len(n));
      break;
    default:
      ippsAutoCorr_64f(src, Len(size), dst, Len(n));
      break;
  }
}

void TNXRealBuffer::CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) {
  const double* s1 = ReadOf(ASource1);
  const double* s2 = ReadOf(ASource2);
  ippsCrossCorr_64f(s1, Len(ASource1->GetSize()), s2, Len(ASource2->GetSize()), Write(), Len(GetSize()), ALoLag);
}

void TNXRealBuffer::Abs() { ippsAbs_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::AbsFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsAbs_64f(src, Write(), Len(n));
}
void TNXRealBuffer::Exp() { ippsExp_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::ExpFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsExp_64f(src, Write(), Len(n));
}
void TNXRealBuffer::Ln() { ippsLn_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::LnFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsLn_64f(src, Write(), Len(n));
}

// Statistics of an empty buffer (or range) are 0: the primitive refuses
// length 0 and leaves the initial value.
double TNXRealBuffer::StdDev() const {
  double r = 0.0;
  ippsStdDev_64f(Read(), Len(GetSize()), &r);
  return r;
}

void TNXRealBuffer::Convolve(const TBuffer& ASource1, const TBuffer& ASource2) {
  if (!ASource1 || !ASource2) throw EArgumentException("A source buffer is required");
  const std::int64_t n1 = ASource1->GetSize(), n2 = ASource2->GetSize();
  const std::int64_t len = n1 + n2 - 1;
  if (len < 0) throw EIntOverflow();
  // Hold the sources' samples across the resize: a source that is Self (or
  // shares its block) would otherwise lose them when Resize replaces the block.
  const TBuffer keep1(new TNXRealBuffer(ASource1)), keep2(new TNXRealBuffer(ASource2));
  Resize(static_cast<std::uint32_t>(len), false);
  const double* s1 = keep1->Read();
  const double* s2 = keep2->Read();
  ippsConv_64f(s1, Len(static_cast<std::int32_t>(n1)), s2, Len(static_cast<std::int32_t>(n2)), Write());
}

double TNXRealBuffer::Norm(const TBuffer& AOther, TNXNormType ANormType) const {
  const std::int32_t size = GetSize();
  RequireSize(AOther, size);
  const double* other = AOther->Read();
  double r = 0.0;
  switch (ANormType) {
    case ntL1Norm:
      ippsNormDiff_L1_64f(Read(), other, Len(size), &r);
      break;
    case ntL2Norm:
      ippsNormDiff_L2_64f(Read(), other, Len(size), &r);
      break;
    default:
      ippsNormDiff_Inf_64f(Read(), other, Len(size), &r);
      break;
  }
  return r;
}

double TNXRealBuffer::GetMinValue() const {
  double r = 0.0;
  ippsMin_64f(Read(), Len(GetSize()), &r);
  return r;
}

double TNXRealBuffer::GetMaxValue() const {
  double r = 0.0;
  ippsMax_64f(Read(), Len(GetSize()), &r);
  return r;
}

double TNXRealBuffer::GetMinIndex(std::int32_t& AIndex) const { return GetMinIndexFrom(0, AIndex); }
double TNXRealBuffer::GetMaxIndex(std::int32_t& AIndex) const { return GetMaxIndexFrom(0, AIndex); }

double TNXRealBuffer::GetMinIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const {
  const std::int32_t begin = std::max(AIndexBegin, 0);
  AIndex = begin;
  const std::int32_t size = GetSize();
  if (begin >= size) return 0.0;
  double r = 0.0;
  int idx = 0;
  ippsMinIndx_64f(Read() + begin, Len(size - begin), &r, &idx);
  AIndex = begin + idx;
  return r;
}

double TNXRealBuffer::GetMaxIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const {
  const std::int32_t begin = std::max(AIndexBegin, 0);
  AIndex = begin;
  const std::int32_t size = GetSize();
  if (begin >= size) return 0.0;
  double r = 0.0;
  int idx = 0;
  ippsMaxIndx_64f(Read() + begin, Len(size - begin), &r, &idx);
  AIndex = begin + idx;
  return r;
}

namespace {
// The range of GetMin / GetMax: negative bounds become 0, the end is capped
// at the size and a begin past the end of the buffer moves to its last
// element. False for an empty buffer or range.
bool ClampRange(std::int32_t size, std::int32_t& begin, std::int32_t& end) {
  if (size <= 0) return false;
  begin = std::max(begin, 0);
  end = std::clamp(end, 0, size);
  if (begin >= size) begin = size - 1;
  return end > begin;
}
// The inclusive range of the restricted extremes: bounds within 0 .. size - 1.
bool ClampInclusive(std::int32_t size, std::int32_t& begin, std::int32_t& end) {
  if (size <= 0) return false;
  begin = std::clamp(begin, 0, size - 1);
  end = std::clamp(end, 0, size - 1);
  return begin <= end;
}
// Finite and not at the extreme of the double range.
inline bool InLimits(double v) { return v > -DBL_MAX && v < DBL_MAX; }
}  // namespace

double TNXRealBuffer::GetMin(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampRange(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  double r = 0.0;
  ippsMin_64f(Read() + AIndexBegin, Len(AIndexEnd - AIndexBegin), &r);
  return r;
}

double TNXRealBuffer::GetMax(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampRange(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  double r = 0.0;
  ippsMax_64f(Read() + AIndexBegin, Len(AIndexEnd - AIndexBegin), &r);
  return r;
}

double TNXRealBuffer::GetMinRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampInclusive(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  const double* p = Read();
  double r = InLimits(p[AIndexBegin]) ? p[AIndexBegin] : 0.0;
  for (std::int32_t i = AIndexBegin + 1; i <= AIndexEnd; ++i)
    if (InLimits(p[i]) && p[i] < r) r = p[i];
  return r;
}

double TNXRealBuffer::GetMaxRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampInclusive(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  const double* p = Read();
  double r = InLimits(p[AIndexBegin]) ? p[AIndexBegin] : 0.0;
  for (std::int32_t i = AIndexBegin + 1; i <= AIndexEnd; ++i)
    if (InLimits(p[i]) && p[i] > r) r = p[i];
  return r;
}

bool TNXRealBuffer::IsEqualToValue(double AValue) const {
  const double* p = Read();
  const std::int32_t n = GetSize();
  for (std::int32_t i = 0; i < n; ++i)
    if (p[i] != AValue) return false;
  return true;
}

// ---------------------------------------------------------------- integer, unsigned, complex, Boolean and block buffers

// The complex buffer hands its TComplex arrays to the complex primitives.
static_assert(sizeof(TComplex) == sizeof(Ipp64fc) && offsetof(TComplex, Re) == offsetof(Ipp64fc, re) &&
                  offsetof(TComplex, Im) == offsetof(Ipp64fc, im),
              "TComplex must have the layout of Ipp64fc");

namespace {

inline Ipp64fc* Cplx(TComplex* p) noexcept { return reinterpret_cast<Ipp64fc*>(p); }
inline const Ipp64fc* Cplx(const TComplex* p) noexcept { return reinterpret_cast<const Ipp64fc*>(p); }
inline Ipp64fc ToIpp(const TComplex& c) noexcept { return Ipp64fc{c.Re, c.Im}; }
// The elements of a 32-bit buffer as unsigned words (for the bitwise routines).
template <class T>
inline Ipp32u* Words(T* p) noexcept {
  return reinterpret_cast<Ipp32u*>(p);
}
template <class T>
inline const Ipp32u* Words(const T* p) noexcept {
  return reinterpret_cast<const Ipp32u*>(p);
}

// The element pointer of a source buffer (raises for a null interface).
template <class I>
inline auto SourceOf(const TIntfPtr<I>& b) {
  if (!b) throw EArgumentException("A source buffer is required");
  return static_cast<const std::remove_pointer_t<decltype(b->Read())>*>(b->Read());
}

// Sources read for Self's whole size must be at least that long.
template <class I>
inline void RequireSourceSize(const TIntfPtr<I>& b, std::int32_t size) {
  if (!b) throw EArgumentException("A source buffer is required");
  if (b->GetSize() < size) RaiseRange("Source buffer too short = %u", static_cast<unsigned>(b->GetSize()));
}

// An in-place operation with a second buffer over n elements: the source
// pointer first, then Self's modify access (which moves Self off a block it
// shares with the source and leaves the source pointer on the old samples).
template <class TSelf, class I, class F>
inline void WithOther(TSelf* self, const TIntfPtr<I>& AOther, F op) {
  const auto* src = SourceOf(AOther);
  const std::int32_t n = std::min(self->GetSize(), AOther->GetSize());
  op(src, self->Modify(), Len(n));
}

// The same for a ...From operation, which overwrites Self (write access).
template <class TSelf, class I, class F>
inline void FromOther(TSelf* self, const TIntfPtr<I>& ASource, F op) {
  const auto* src = SourceOf(ASource);
  const std::int32_t n = std::min(self->GetSize(), ASource->GetSize());
  op(src, self->Write(), Len(n));
}

// The access handle of a typed buffer.
template <class TAccess, class IAccess, class TSelf>
TIntfPtr<IAccess> MakeAccess(TSelf* self, TBufferAccessModes AModes) {
  typename TAccess::TDataLambda accessor;
  switch (AccessKindOf(AModes)) {
    case TBufferAccessKind::Modify:
      accessor = [self] { return self->Modify(); };
      break;
    case TBufferAccessKind::Write:
      accessor = [self] { return self->Write(); };
      break;
    case TBufferAccessKind::Read:
      accessor = [self] { return const_cast<std::remove_const_t<std::remove_pointer_t<decltype(self->Read())>>*>(self->Read()); };
      break;
  }
  return TIntfPtr<IAccess>(new TAccess(self, AModes, std::move(accessor)));
}

// IsEqual of a typed buffer: the other object must be of the same class.
template <class C>
inline bool SameClass(const TIntfPtr<INXDataBuffer>& AOther) {
  return AOther && dynamic_cast<C*>(AOther->GetInstance()) != nullptr;
}

// CopyTo between two buffers of class C counts offsets and count in
// elements; false when the target is of another class (the byte form then).
template <class C>
bool CopyElements(C* self, std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                  std::int32_t ATargetOffset, std::int32_t ACount) {
  auto* target = ATargetBuffer ? dynamic_cast<C*>(ATargetBuffer->GetInstance()) : nullptr;
  if (!target) return false;
  const std::int64_t item = self->ItemSize();
  const std::int64_t bytes = std::int64_t{ACount} * item;
  if (bytes > 0x7FFFFFFF) throw EIntOverflow();
  std::uint8_t* dst = target->ByteModify();  // the target first, as in the byte form
  ippsCopy_8u(self->ByteRead() + ASourceOffset * item, dst + ATargetOffset * item, static_cast<int>(bytes));
  return true;
}

// The own loops of the 32-bit integer buffers.
inline std::int32_t Remainder(std::int32_t a, std::int32_t b) {
  // -2147483648 % -1 traps on the processor; its remainder is 0.
  return b == -1 ? 0 : a % b;
}
inline std::uint32_t Remainder(std::uint32_t a, std::uint32_t b) { return a % b; }

template <class T>
void ModLoop(const T* src, T* dst, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    if (src[i] == 0) throw EDivByZero();
    dst[i] = Remainder(dst[i], src[i]);
  }
}

template <class T>
void ModValueLoop(T value, T* dst, std::int32_t n) {
  if (n > 0 && value == 0) throw EDivByZero();
  for (std::int32_t i = 0; i < n; ++i) dst[i] = Remainder(dst[i], value);
}

// Shifts by the other buffer's elements modulo 32, always shifting in zero
// bits (a logical right shift also for signed elements).
template <class T>
void ShiftLoop(const T* src, T* dst, std::int32_t n, bool ALeft) {
  for (std::int32_t i = 0; i < n; ++i) {
    const std::uint32_t v = static_cast<std::uint32_t>(dst[i]);
    const std::uint32_t s = static_cast<std::uint32_t>(src[i]) & 31u;
    dst[i] = static_cast<T>(ALeft ? v << s : v >> s);
  }
}

template <class T>
bool AllEqual(const T* p, std::int32_t n, const T& value) {
  for (std::int32_t i = 0; i < n; ++i)
    if (!(p[i] == value)) return false;
  return true;
}

template <class T>
T MinOf(const T* p, std::int32_t n) {
  if (n <= 0) return 0;
  T r = p[0];
  for (std::int32_t i = 1; i < n; ++i) r = p[i] < r ? p[i] : r;
  return r;
}

template <class T>
T MaxOf(const T* p, std::int32_t n) {
  if (n <= 0) return 0;
  T r = p[0];
  for (std::int32_t i = 1; i < n; ++i) r = p[i] > r ? p[i] : r;
  return r;
}

template <class T>
std::uint32_t ElementCount(std::span<const T> a) {
  return CountOf(a.size());
}

}  // namespace

// ---------------------------------------------------------------- TNXIntegerBuffer, TNXUnsignedBuffer

namespace {

// What differs between the signed and the unsigned 32-bit buffer: the
// arithmetic routines (the unsigned ones, with 32u in their names, are the
// package's own and raise EIntOverflow / EDivByZero before they write
// anything), the shifts by a constant (arithmetic right shift for the signed
// buffer), the dot product, and the one signed quotient that does not fit.
template <class T>
struct TInteger32Ops;

template <>
struct TInteger32Ops<std::int32_t> {
  using T = std::int32_t;
  static void Add(const T* s, T* d, int n) { ippsAdd_32s_ISfs(s, d, n, 0); }
  static void Sub(const T* s, T* d, int n) { ippsSub_32s_ISfs(s, d, n, 0); }
  static void Mul(const T* s, T* d, int n) { ippsMul_32s_ISfs(s, d, n, 0); }
  // A zero divisor gives the primitive's saturated quotient (no error).
  static void Div(const T* s, T* d, int n) { ippsDiv_32s_ISfs(s, d, n, 0); }
  static void AddC(T v, T* d, int n) { ippsAddC_32s_ISfs(v, d, n, 0); }
  static void SubC(T v, T* d, int n) { ippsSubC_32s_ISfs(v, d, n, 0); }
  static void MulC(T v, T* d, int n) { ippsMulC_32s_ISfs(v, d, n, 0); }
  static void DivC(T v, T* d, int n) { ippsDivC_32s_ISfs(v, d, n, 0); }
  static void DivCOut(const T* s, T v, T* d, int n) { ippsDivC_32s_Sfs(s, v, d, n, 0); }
  // The quotient INT32_MIN / -1 does not fit: it is refused before the
  // buffer lets go of its samples (the routine would raise only after the
  // write access).
  static void CheckQuotients(const T* s, T v, std::int32_t n) {
    if (v == -1)
      for (std::int32_t i = 0; i < n; ++i)
        if (s[i] == INT32_MIN) throw EIntOverflow();
  }
  static void LShiftC(std::int32_t v, T* d, int n) { ippsLShiftC_32s_I(v, d, n); }
  static void RShiftC(std::int32_t v, T* d, int n) { ippsRShiftC_32s_I(v, d, n); }
  static T Dot(const T* a, const T* b, int n) {
    Ipp32s r = 0;
    ippsDotProd_32s_Sfs(a, b, n, &r, 0);
    return r;
  }
};

template <>
struct TInteger32Ops<std::uint32_t> {
  using T = std::uint32_t;
  static void Add(const T* s, T* d, int n) { ippsAdd_32u_ISfs(s, d, n, 0); }
  static void Sub(const T* s, T* d, int n) { ippsSub_32u_ISfs(s, d, n, 0); }
  static void Mul(const T* s, T* d, int n) { ippsMul_32u_ISfs(s, d, n, 0); }
  static void Div(const T* s, T* d, int n) { ippsDiv_32u_ISfs(s, d, n, 0); }
  static void AddC(T v, T* d, int n) { ippsAddC_32u_ISfs(v, d, n, 0); }
  static void SubC(T v, T* d, int n) { ippsSubC_32u_ISfs(v, d, n, 0); }
  static void MulC(T v, T* d, int n) { ippsMulC_32u_ISfs(v, d, n, 0); }
  static void DivC(T v, T* d, int n) { ippsDivC_32u_ISfs(v, d, n, 0); }
  static void DivCOut(const T* s, T v, T* d, int n) { ippsDivC_32u_Sfs(s, v, d, n, 0); }
  // Every unsigned quotient by a divisor other than 0 fits.
  static void CheckQuotients(const T*, T, std::int32_t) {}
  static void LShiftC(std::int32_t v, T* d, int n) { ippsLShiftC_32u_I(v, d, n); }
  static void RShiftC(std::int32_t v, T* d, int n) { ippsRShiftC_32u_I(v, d, n); }
  static T Dot(const T* a, const T* b, int n) {
    Ipp32u r = 0;
    ippsDotProd_32u_Sfs(a, b, n, &r, 0);
    return r;
  }
};

}  // namespace

#define NX_INT32_BUFFER template <class TSelf, class T, class IBuffer, class IAccess>
#define NX_INT32_CLASS TNXInteger32Buffer<TSelf, T, IBuffer, IAccess>

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer() : TNXLinearMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(T))) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(std::uint32_t ASize)
    : TNXLinearMemoryBuffer(ASize, static_cast<std::uint32_t>(sizeof(T))) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const T* AData, std::uint32_t ASize) : TNXInteger32Buffer(ASize) {
  if (AData && FByteSize > 0) ippsCopy_8u(reinterpret_cast<const Ipp8u*>(AData), FData, static_cast<int>(FByteSize));
}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(TValueInit, T AValue, std::uint32_t ASize) : TNXInteger32Buffer(ASize) {
  if (ASize > 0) ippsSet_32s(static_cast<Ipp32s>(AValue), reinterpret_cast<Ipp32s*>(Items<T>()), static_cast<int>(ASize));
}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(std::span<const T> AArray) : TNXInteger32Buffer(AArray.data(), ElementCount(AArray)) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const std::vector<T>& AList) : TNXInteger32Buffer(std::span<const T>(AList)) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(TSelf* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}
NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}
NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const TIntfPtr<INXData>& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

NX_INT32_BUFFER
TIntfPtr<INXData> NX_INT32_CLASS::GetDataCopy() {
  return AdoptNew<INXData>(new TSelf(static_cast<TSelf*>(this)));
}

NX_INT32_BUFFER
bool NX_INT32_CLASS::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  return SameClass<TSelf>(AOther) && TNXLinearMemoryBuffer::IsEqual(AOther);
}

NX_INT32_BUFFER
void NX_INT32_CLASS::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                            std::int32_t ATargetOffset, std::int32_t ACount) {
  if (!CopyElements(static_cast<TSelf*>(this), ASourceOffset, ATargetBuffer, ATargetOffset, ACount))
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
}

NX_INT32_BUFFER
TIntfPtr<IAccess> NX_INT32_CLASS::Data(TBufferAccessModes AModes) {
  return MakeAccess<TAccess, IAccess>(this, AModes);
}

NX_INT32_BUFFER
void NX_INT32_CLASS::Add(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Add); }
NX_INT32_BUFFER
void NX_INT32_CLASS::Subtract(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Sub); }
NX_INT32_BUFFER
void NX_INT32_CLASS::Multiply(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Mul); }
NX_INT32_BUFFER
void NX_INT32_CLASS::Divide(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Div); }
NX_INT32_BUFFER
void NX_INT32_CLASS::ModBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ModLoop(s, d, n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::AndBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ippsAnd_32u_I(Words(s), Words(d), n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::OrBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ippsOr_32u_I(Words(s), Words(d), n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::XorBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ippsXor_32u_I(Words(s), Words(d), n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::LShift(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ShiftLoop(s, d, n, true); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::RShift(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ShiftLoop(s, d, n, false); });
}

NX_INT32_BUFFER
void NX_INT32_CLASS::SetValue(T AValue) {
  ippsSet_32s(static_cast<Ipp32s>(AValue), reinterpret_cast<Ipp32s*>(Write()), Len(GetSize()));
}
NX_INT32_BUFFER
void NX_INT32_CLASS::AddValue(T AValue) { TInteger32Ops<T>::AddC(AValue, Modify(), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::SubtractValue(T AValue) { TInteger32Ops<T>::SubC(AValue, Modify(), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::MultiplyValue(T AValue) { TInteger32Ops<T>::MulC(AValue, Modify(), Len(GetSize())); }

NX_INT32_BUFFER
void NX_INT32_CLASS::DivideValue(T AValue) {
  if (AValue == 0 || AValue == 1) return;  // no access at all: a shared block stays shared
  const std::int32_t n = GetSize();
  if (FDataContainer->SingleOwner()) {
    TInteger32Ops<T>::DivC(AValue, Modify(), Len(n));
    return;
  }
  // Shared: read the old samples through a sharing copy and write the
  // quotients into a fresh block, instead of copying the block first.
  const TBuffer copy(new TSelf(static_cast<TSelf*>(this)));
  const T* src = copy->Read();
  TInteger32Ops<T>::CheckQuotients(src, AValue, n);
  TInteger32Ops<T>::DivCOut(src, AValue, Write(), Len(n));
}

NX_INT32_BUFFER
void NX_INT32_CLASS::ModValue(T AValue) { ModValueLoop(AValue, Modify(), GetSize()); }
NX_INT32_BUFFER
void NX_INT32_CLASS::AndValue(T AValue) { ippsAndC_32u_I(static_cast<Ipp32u>(AValue), Words(Modify()), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::OrValue(T AValue) { ippsOrC_32u_I(static_cast<Ipp32u>(AValue), Words(Modify()), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::XorValue(T AValue) { ippsXorC_32u_I(static_cast<Ipp32u>(AValue), Words(Modify()), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::LShiftValue(std::int32_t AValue) { TInteger32Ops<T>::LShiftC(AValue, Modify(), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::RShiftValue(std::int32_t AValue) { TInteger32Ops<T>::RShiftC(AValue, Modify(), Len(GetSize())); }

// All bytes as 16-bit words: 2 x Size of them.
NX_INT32_BUFFER
void NX_INT32_CLASS::Zero() { ippsZero_16s(reinterpret_cast<Ipp16s*>(Write()), Len(2 * GetSize())); }

NX_INT32_BUFFER
T NX_INT32_CLASS::Dot(const TBuffer& AOther) const {
  const T* src = SourceOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  return TInteger32Ops<T>::Dot(Read(), src, Len(n));
}

NX_INT32_BUFFER
bool NX_INT32_CLASS::IsEqualToValue(T AValue) const { return AllEqual(Read(), GetSize(), AValue); }
NX_INT32_BUFFER
T NX_INT32_CLASS::GetMinValue() const { return MinOf(Read(), GetSize()); }
NX_INT32_BUFFER
T NX_INT32_CLASS::GetMaxValue() const { return MaxOf(Read(), GetSize()); }

#undef NX_INT32_CLASS
#undef NX_INT32_BUFFER

template class TNXInteger32Buffer<TNXIntegerBuffer, std::int32_t, INXIntegerBuffer, INXIntegerBufferAccess>;
template class TNXInteger32Buffer<TNXUnsignedBuffer, std::uint32_t, INXUnsignedBuffer, INXUnsignedBufferAccess>;

// ---------------------------------------------------------------- TNXComplexBuffer

TNXComplexBuffer::TNXComplexBuffer() : TNXLinearMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(TComplex))) {}

TNXComplexBuffer::TNXComplexBuffer(std::uint32_t ASize)
    : TNXLinearMemoryBuffer(ASize, static_cast<std::uint32_t>(sizeof(TComplex))) {}

TNXComplexBuffer::TNXComplexBuffer(const TComplex* AData, std::uint32_t ASize) : TNXComplexBuffer(ASize) {
  // 2 x Size doubles (the element count is below 2^28, so this fits an int).
  if (AData && ASize > 0)
    ippsCopy_64f(reinterpret_cast<const double*>(AData), Items<double>(), static_cast<int>(2 * ASize));
}

TNXComplexBuffer::TNXComplexBuffer(TValueInit, double ARe, double AIm, std::uint32_t ASize)
    : TNXComplexBuffer(TValueInit{}, TComplex{ARe, AIm}, ASize) {}

TNXComplexBuffer::TNXComplexBuffer(TValueInit, const TComplex& AValue, std::uint32_t ASize) : TNXComplexBuffer(ASize) {
  if (ASize > 0) ippsSet_64fc(ToIpp(AValue), Cplx(Items<TComplex>()), static_cast<int>(ASize));
}

TNXComplexBuffer::TNXComplexBuffer(std::span<const TComplex> AArray)
    : TNXComplexBuffer(AArray.data(), ElementCount(AArray)) {}

TNXComplexBuffer::TNXComplexBuffer(const std::vector<TComplex>& AList)
    : TNXComplexBuffer(std::span<const TComplex>(AList)) {}

TNXComplexBuffer::TNXComplexBuffer(TNXComplexBuffer* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}
TNXComplexBuffer::TNXComplexBuffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}
TNXComplexBuffer::TNXComplexBuffer(const TIntfPtr<INXData>& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

namespace {
std::uint32_t LargerSize(INXRealBuffer* ARe, INXRealBuffer* AIm) {
  if (!ARe || !AIm) throw EArgumentException("A source buffer is required");
  return static_cast<std::uint32_t>(std::max(ARe->GetSize(), AIm->GetSize()));
}
}  // namespace

TNXComplexBuffer::TNXComplexBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm)
    : TNXComplexBuffer(LargerSize(ARe.Get(), AIm.Get())) {
  FillFromParts(ARe->Read(), static_cast<std::uint32_t>(ARe->GetSize()), AIm->Read(),
                static_cast<std::uint32_t>(AIm->GetSize()));
}

TNXComplexBuffer::TNXComplexBuffer(TNXRealBuffer* ARe, TNXRealBuffer* AIm) : TNXComplexBuffer(LargerSize(ARe, AIm)) {
  FillFromParts(ARe->Read(), static_cast<std::uint32_t>(ARe->GetSize()), AIm->Read(),
                static_cast<std::uint32_t>(AIm->GetSize()));
}

void TNXComplexBuffer::FillFromParts(const double* ARe, std::uint32_t AReSize, const double* AIm,
                                     std::uint32_t AImSize) {
  TComplex* d = Items<TComplex>();
  const std::uint32_t both = std::min(AReSize, AImSize), size = std::max(AReSize, AImSize);
  if (both > 0) ippsRealToCplx_64f(ARe, AIm, Cplx(d), static_cast<int>(both));
  for (std::uint32_t i = both; i < size; ++i) d[i] = TComplex{i < AReSize ? ARe[i] : 0.0, i < AImSize ? AIm[i] : 0.0};
}

TIntfPtr<INXData> TNXComplexBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXComplexBuffer(this));
}

bool TNXComplexBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  return SameClass<TNXComplexBuffer>(AOther) && TNXLinearMemoryBuffer::IsEqual(AOther);
}

void TNXComplexBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                              std::int32_t ATargetOffset, std::int32_t ACount) {
  if (!CopyElements(this, ASourceOffset, ATargetBuffer, ATargetOffset, ACount))
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
}

TIntfPtr<INXComplexBufferAccess> TNXComplexBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXComplexBufferAccess, INXComplexBufferAccess>(this, AModes);
}

namespace {
// A new real buffer of Size elements filled by a complex-to-real primitive.
template <class F>
TIntfPtr<INXRealBuffer> RealResult(const TComplex* ASource, std::int32_t ASize, F op) {
  TIntfPtr<INXRealBuffer> out = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize));
  op(Cplx(ASource), out->Write(), Len(ASize));
  return out;
}
}  // namespace

TNXComplexBuffer::TRealBuffer TNXComplexBuffer::GetReal() const { return RealResult(Read(), GetSize(), ippsReal_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::GetImaginary() const { return RealResult(Read(), GetSize(), ippsImag_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::Phase() const { return RealResult(Read(), GetSize(), ippsPhase_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::Magnitude() const { return RealResult(Read(), GetSize(), ippsMagnitude_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::PowerSpectrum() const {
  return RealResult(Read(), GetSize(), ippsPowerSpectr_64fc);
}

void TNXComplexBuffer::Add(const TBuffer& AOther) {
  WithOther(this, AOther, [](const TComplex* s, TComplex* d, int n) { ippsAdd_64fc_I(Cplx(s), Cplx(d), n); });
}
void TNXComplexBuffer::Subtract(const TBuffer& AOther) {
  WithOther(this, AOther, [](const TComplex* s, TComplex* d, int n) { ippsSub_64fc_I(Cplx(s), Cplx(d), n); });
}
void TNXComplexBuffer::Multiply(const TBuffer& AOther) {
  WithOther(this, AOther, [](const TComplex* s, TComplex* d, int n) { ippsMul_64fc_I(Cplx(s), Cplx(d), n); });
}
void TNXComplexBuffer::Divide(const TBuffer& AOther) {
  WithOther(this, AOther, [](const TComplex* s, TComplex* d, int n) { ippsDiv_64fc_I(Cplx(s), Cplx(d), n); });
}

void TNXComplexBuffer::AddValue(double ARe, double AIm) {
  ippsAddC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}
void TNXComplexBuffer::SubtractValue(double ARe, double AIm) {
  ippsSubC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}
void TNXComplexBuffer::MultiplyValue(double ARe, double AIm) {
  ippsMulC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}
// A zero divisor is refused by the primitive: the elements stay as they were.
void TNXComplexBuffer::DivideValue(double ARe, double AIm) {
  ippsDivC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}

void TNXComplexBuffer::SetBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm) {
  const double* re = SourceOf(ARe);
  const double* im = SourceOf(AIm);
  const std::int32_t n = std::min({GetSize(), ARe->GetSize(), AIm->GetSize()});
  ippsRealToCplx_64f(re, im, Cplx(Write()), Len(n));
}

void TNXComplexBuffer::SetValue(double ARe, double AIm) { SetValue(TComplex{ARe, AIm}); }
void TNXComplexBuffer::SetValue(const TComplex& AValue) { ippsSet_64fc(ToIpp(AValue), Cplx(Write()), Len(GetSize())); }
void TNXComplexBuffer::Zero() { ippsZero_64fc(Cplx(Write()), Len(GetSize())); }

void TNXComplexBuffer::NormalizeFrom(const TBuffer& ASource, const TComplex& AOffset, double AFactor) {
  FromOther(this, ASource, [&](const TComplex* s, TComplex* d, int n) {
    ippsNormalize_64fc(Cplx(s), Cplx(d), n, ToIpp(AOffset), AFactor);
  });
}

void TNXComplexBuffer::Normalize(const TComplex& AOffset, double AFactor) {
  // Through a sharing copy, as the real buffer does: Self writes into a new
  // block and the copy keeps the samples it reads.
  const TBuffer copy(new TNXComplexBuffer(this));
  NormalizeFrom(copy, AOffset, AFactor);
}

TComplex TNXComplexBuffer::Dot(const TBuffer& AOther) const {
  const TComplex* src = SourceOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  Ipp64fc r{0.0, 0.0};
  ippsDotProd_64fc(Cplx(Read()), Cplx(src), Len(n), &r);
  return TComplex{r.re, r.im};
}

void TNXComplexBuffer::Threshold(double AThreshold, TNXThresholdType AType) {
  ippsThreshold_64fc_I(Cplx(Modify()), Len(GetSize()), AThreshold, CmpOf(AType));
}

void TNXComplexBuffer::ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) {
  RequireSourceSize(ASource, GetSize());
  const TComplex* src = ASource->Read();
  ippsThreshold_64fc(Cplx(src), Cplx(Write()), Len(GetSize()), AThreshold, CmpOf(AType));
}

void TNXComplexBuffer::Sqr() { ippsSqr_64fc_I(Cplx(Modify()), Len(GetSize())); }
void TNXComplexBuffer::SqrFrom(const TBuffer& ASource) {
  FromOther(this, ASource, [](const TComplex* s, TComplex* d, int n) { ippsSqr_64fc(Cplx(s), Cplx(d), n); });
}
void TNXComplexBuffer::Sqrt() { ippsSqrt_64fc_I(Cplx(Modify()), Len(GetSize())); }
void TNXComplexBuffer::SqrtFrom(const TBuffer& ASource) {
  FromOther(this, ASource, [](const TComplex* s, TComplex* d, int n) { ippsSqrt_64fc(Cplx(s), Cplx(d), n); });
}

// The mean of an empty buffer is (0, 0) rather than the 0 / 0 of the
// formula: callers use the result as a level, and NaN would spread.
TComplex TNXComplexBuffer::Mean() const {
  const TComplex* p = Read();
  const std::int32_t n = GetSize();
  if (n <= 0) return TComplex{};
  double re = 0.0, im = 0.0;
  for (std::int32_t i = 0; i < n; ++i) {
    re += std::fabs(p[i].Re);
    im += std::fabs(p[i].Im);
  }
  return TComplex{re / n, im / n};
}

void TNXComplexBuffer::AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) {
  const std::int32_t size = GetSize();
  RequireSourceSize(ASource, size);
  const Ipp64fc* src = Cplx(ASource->Read());
  const std::int32_t n = std::min(size, ASource->GetSize());
  Ipp64fc* dst = Cplx(Write());
  switch (AType) {
    case actBiased:
      ippsAutoCorr_NormA_64fc(src, Len(size), dst, Len(n));
      break;
    case actUnbiased:
      ippsAutoCorr_NormB_64fc(src, Len(size), dst, Len(n));
      break;
    default:
      ippsAutoCorr_64fc(src, Len(size), dst, Len(n));
      break;
  }
}

void TNXComplexBuffer::CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) {
  const TComplex* s1 = SourceOf(ASource1);
  const TComplex* s2 = SourceOf(ASource2);
  ippsCrossCorr_64fc(Cplx(s1), Len(ASource1->GetSize()), Cplx(s2), Len(ASource2->GetSize()), Cplx(Write()),
                     Len(GetSize()), ALoLag);
}

bool TNXComplexBuffer::IsEqualToValue(const TComplex& AValue) const { return AllEqual(Read(), GetSize(), AValue); }

// ---------------------------------------------------------------- Boolean and block buffers: universal sources

namespace {
// The largest byte size whose bits GetSize can still count.
constexpr std::uint32_t kMaxBooleanBytes = 0x7FFFFFFFu / 8;
constexpr std::uint32_t kMaxBits = 0x7FFFFFFFu;

std::uint32_t BytesOfBits(std::uint64_t ABits) {
  if (ABits > kMaxBits) throw EIntOverflow();
  return static_cast<std::uint32_t>((ABits + 7) / 8);
}

// Shares the block of a buffer of class C, or makes a new block for a copy
// of the bytes of any other buffer (the bytes are copied by the constructor).
// The new block is the last thing made: nothing can raise between its
// allocation and the constructor's first reference to it.
template <class C>
TNXUniversalSource UniversalSourceOf(const TIntfPtr<INXData>& ASource, std::uint32_t AMaxBytes) {
  if (!ASource) throw EArgumentException("A buffer is required, not nil");
  TNXUniversalSource s;
  s.Parent = ASource.Get();
  if (auto* same = dynamic_cast<C*>(ASource->GetInstance())) {
    s.Same = same;
    s.Block = same->DataContainer();
    s.ByteSize = same->GetByteSize();
    return s;
  }
  const TIntfPtr<INXDataBuffer> bytes = Supports<INXDataBuffer>(ASource);
  if (!bytes) throw EArgumentException("The data object is not a buffer");
  s.ByteSize = bytes->GetByteSize();
  if (s.ByteSize > AMaxBytes) throw EIntOverflow();
  s.CopyFrom = bytes->ByteRead();  // kept alive by ASource
  s.Block = new TNXSmartMemoryBuffer(s.ByteSize);
  return s;
}

// A byte-wise operation over n bytes: whole 32-bit words through the
// vector primitive, the bytes before the first 64-byte boundary of the
// destination and the last 0 .. 3 bytes here. Blocks are only 32-byte
// aligned, and wide vectors that straddle cache lines cost about half as
// much again as aligned ones; starting the words on a line boundary of the
// destination (and so of a source with the same alignment) avoids that.
template <class FWords, class FByte>
void BytewiseOp(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t n, FWords words, FByte byte) {
  const auto misalign = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dst) & 63u);
  const std::uint32_t head = std::min(n, (64u - misalign) & 63u);
  std::uint32_t i = 0;
  for (; i < head; ++i) dst[i] = static_cast<std::uint8_t>(byte(src[i], dst[i]));
  const std::uint32_t w = (n - head) / 4;
  if (w > 0)
    words(reinterpret_cast<const Ipp32u*>(src + head), reinterpret_cast<Ipp32u*>(dst + head), static_cast<int>(w));
  for (i = head + w * 4; i < n; ++i) dst[i] = static_cast<std::uint8_t>(byte(src[i], dst[i]));
}

// True when the first ABits bits of p all equal AValue (full bytes eight at
// a time, then the used bits of a partial last byte).
bool BitsAllEqual(const std::uint8_t* p, std::uint32_t ABits, bool AValue) {
  const std::uint8_t pattern = AValue ? 0xFF : 0x00;
  const std::uint32_t full = ABits / 8;
  const std::uint64_t word = AValue ? ~std::uint64_t{0} : 0;
  std::uint32_t i = 0;
  for (; i + 8 <= full; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w != word) return false;
  }
  for (; i < full; ++i)
    if (p[i] != pattern) return false;
  const std::uint32_t rest = ABits % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>((1u << rest) - 1);
  return (p[full] & mask) == (pattern & mask);
}

inline bool BitAt(const std::uint8_t* p, std::uint64_t i) { return ((p[i >> 3] >> (i & 7)) & 1u) != 0; }
inline void PutBit(std::uint8_t* p, std::uint64_t i, bool v) {
  const auto mask = static_cast<std::uint8_t>(1u << (i & 7));
  p[i >> 3] = static_cast<std::uint8_t>(v ? p[i >> 3] | mask : p[i >> 3] & ~mask);
}
}  // namespace

// ---------------------------------------------------------------- TNXBooleanBuffer

TNXBooleanBuffer::TNXBooleanBuffer() : TNXLinearMemoryBuffer(0u, 1u) {}

TNXBooleanBuffer::TNXBooleanBuffer(std::uint32_t ASize) : TNXLinearMemoryBuffer(BytesOfBits(ASize), 1u), FBitCount(ASize) {}

TNXBooleanBuffer::TNXBooleanBuffer(const std::uint8_t* AData, std::uint32_t ASize) : TNXBooleanBuffer(ASize) {
  if (AData && FByteSize > 0) ippsCopy_8u(AData, FData, static_cast<int>(FByteSize));
}

// (Not through SetValue: it hands out the buffer as an interface, which a
// constructor must not do while nobody holds a reference yet.)
TNXBooleanBuffer::TNXBooleanBuffer(TValueInit, std::uint32_t ASize, bool AValue) : TNXBooleanBuffer(ASize) {
  if (FByteSize > 0) ippsSet_8u(AValue ? 0xFF : 0x00, FData, static_cast<int>(FByteSize));
}

TNXBooleanBuffer::TNXBooleanBuffer(std::span<const bool> AArray) : TNXBooleanBuffer(CountOf(AArray.size())) {
  if (FByteSize > 0) ippsZero_8u(FData, static_cast<int>(FByteSize));
  for (std::uint32_t i = 0; i < FBitCount; ++i)
    if (AArray[i]) FData[i >> 3] = static_cast<std::uint8_t>(FData[i >> 3] | (1u << (i & 7)));
}

TNXBooleanBuffer::TNXBooleanBuffer(const std::vector<bool>& AList) : TNXBooleanBuffer(CountOf(AList.size())) {
  if (FByteSize > 0) ippsZero_8u(FData, static_cast<int>(FByteSize));
  for (std::uint32_t i = 0; i < FBitCount; ++i)
    if (AList[i]) FData[i >> 3] = static_cast<std::uint8_t>(FData[i >> 3] | (1u << (i & 7)));
}

TNXBooleanBuffer::TNXBooleanBuffer(TNXBooleanBuffer* ASource)
    : TNXLinearMemoryBuffer(NotNil(ASource)), FBitCount(ASource->FBitCount) {}

TNXBooleanBuffer::TNXBooleanBuffer(const TBuffer& ASource)
    : TNXLinearMemoryBuffer(BufferOf(ASource)), FBitCount(static_cast<std::uint32_t>(ASource->GetSize())) {}

TNXBooleanBuffer::TNXBooleanBuffer(const TIntfPtr<INXData>& ASource)
    : TNXBooleanBuffer(UniversalSourceOf<TNXBooleanBuffer>(ASource, kMaxBooleanBytes)) {}

TNXBooleanBuffer::TNXBooleanBuffer(const TNXUniversalSource& ASource)
    : TNXLinearMemoryBuffer(nullptr, ASource.ByteSize, ASource.Block),
      FBitCount(ASource.Same ? static_cast<TNXBooleanBuffer*>(ASource.Same)->FBitCount : ASource.ByteSize * 8) {
  if (ASource.CopyFrom && FByteSize > 0) ippsCopy_8u(ASource.CopyFrom, FData, static_cast<int>(FByteSize));
  if (ASource.Parent->GetCustomCount() > 0) AssignData(ASource.Parent);
}

TIntfPtr<INXData> TNXBooleanBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXBooleanBuffer(this));
}

void TNXBooleanBuffer::Assign(const TIntfPtr<INXDataBuffer>& ASource) {
  TNXGenericBuffer* source = BufferOf(ASource);
  auto* same = dynamic_cast<TNXBooleanBuffer*>(source);
  if (!same && source->GetByteSize() > kMaxBooleanBytes) throw EIntOverflow();
  TNXLinearMemoryBuffer::Assign(ASource);
  FBitCount = same ? same->FBitCount : FByteSize * 8;
}

bool TNXBooleanBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  auto* other = AOther ? dynamic_cast<TNXBooleanBuffer*>(AOther->GetInstance()) : nullptr;
  if (!other || other->FBitCount != FBitCount) return false;
  const std::uint32_t full = FBitCount / 8, rest = FBitCount % 8;
  if (full > 0 && std::memcmp(FData, other->FData, full) != 0) return false;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>((1u << rest) - 1);
  return (FData[full] & mask) == (other->FData[full] & mask);
}

void TNXBooleanBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                              std::int32_t ATargetOffset, std::int32_t ACount) {
  auto* target = ATargetBuffer ? dynamic_cast<TNXBooleanBuffer*>(ATargetBuffer->GetInstance()) : nullptr;
  if (!target) {
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
    return;
  }
  // Value by value (values need not start on a byte boundary). The target
  // first; when it is Self the two ranges may overlap, and a copy to a later
  // position then runs backwards.
  std::uint8_t* dst = target->Modify();
  const std::uint8_t* src = Read();
  if (ACount <= 0) return;
  const std::uint64_t so = static_cast<std::uint64_t>(ASourceOffset), to = static_cast<std::uint64_t>(ATargetOffset);
  if (dst == src && to > so) {
    for (std::int64_t i = ACount - 1; i >= 0; --i) PutBit(dst, to + i, BitAt(src, so + i));
  } else {
    for (std::int64_t i = 0; i < ACount; ++i) PutBit(dst, to + i, BitAt(src, so + i));
  }
}

bool TNXBooleanBuffer::Resize(std::uint32_t ASize, bool APreserveData) {
  const std::uint32_t bytes = BytesOfBits(ASize);
  if (ASize == 0) {
    TNXLinearMemoryBuffer::Resize(0, APreserveData);
    FBitCount = 0;
    return true;
  }
  if (ASize == FBitCount) return false;
  // The byte level follows the steps of every buffer; a change within the
  // last byte changes only the bit count.
  TNXLinearMemoryBuffer::Resize(bytes, APreserveData);
  FBitCount = ASize;
  return true;
}

TIntfPtr<INXBooleanBufferAccess> TNXBooleanBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXBooleanBufferAccess, INXBooleanBufferAccess>(this, AModes);
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::AndBuffer(const TBuffer& AOther) {
  const std::uint8_t* src = SourceOf(AOther);
  const std::uint32_t n = std::min(FByteSize, AOther->GetByteSize());
  BytewiseOp(src, Modify(), n, ippsAnd_32u_I, [](std::uint8_t s, std::uint8_t d) { return s & d; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::OrBuffer(const TBuffer& AOther) {
  const std::uint8_t* src = SourceOf(AOther);
  const std::uint32_t n = std::min(FByteSize, AOther->GetByteSize());
  BytewiseOp(src, Modify(), n, ippsOr_32u_I, [](std::uint8_t s, std::uint8_t d) { return s | d; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::XorBuffer(const TBuffer& AOther) {
  const std::uint8_t* src = SourceOf(AOther);
  const std::uint32_t n = std::min(FByteSize, AOther->GetByteSize());
  BytewiseOp(src, Modify(), n, ippsXor_32u_I, [](std::uint8_t s, std::uint8_t d) { return s ^ d; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::AndValue(bool AValue) {
  if (!AValue) Zero();
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::OrValue(bool AValue) {
  if (AValue) SetValue(true);
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::XorValue(bool AValue) {
  if (AValue) Invert();
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::SetValue(bool AValue) {
  ippsSet_8u(AValue ? 0xFF : 0x00, Write(), static_cast<int>(FByteSize));
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::Zero() {
  ippsZero_8u(Write(), static_cast<int>(FByteSize));
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::Invert() {
  std::uint8_t* d = Modify();
  BytewiseOp(
      d, d, FByteSize, [](const Ipp32u*, Ipp32u* w, int n) { ippsXorC_32u_I(0xFFFFFFFFu, w, n); },
      [](std::uint8_t, std::uint8_t b) { return ~b; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::InvertBit(std::int32_t AIndex) {
  SetItem(AIndex, !GetItem(AIndex));
  return Self();
}

bool TNXBooleanBuffer::IsEqualToValue(bool AValue) const { return BitsAllEqual(Read(), FBitCount, AValue); }

// ---------------------------------------------------------------- TNXBlockBuffer

TNXBlockBuffer::TNXBlockBuffer() : TNXLinearMemoryBuffer(0u, 1u) {}

TNXBlockBuffer::TNXBlockBuffer(std::uint32_t ASize) : TNXLinearMemoryBuffer(ASize, 1u) {}

TNXBlockBuffer::TNXBlockBuffer(const std::uint8_t* ADataBuffer, std::uint32_t ASize, bool) : TNXBlockBuffer(ASize) {
  if (ADataBuffer && ASize > 0) ippsCopy_8u(ADataBuffer, FData, static_cast<int>(ASize));
}

TNXBlockBuffer::TNXBlockBuffer(TValueInit, std::uint32_t ASize, std::uint8_t AValue) : TNXBlockBuffer(ASize) {
  if (ASize > 0) ippsSet_8u(AValue, FData, static_cast<int>(ASize));
}

TNXBlockBuffer::TNXBlockBuffer(std::span<const std::uint8_t> ABytes)
    : TNXBlockBuffer(ABytes.data(), CountOf(ABytes.size()), false) {}

TNXBlockBuffer::TNXBlockBuffer(const std::vector<std::uint8_t>& AList)
    : TNXBlockBuffer(AList.data(), CountOf(AList.size()), false) {}

TNXBlockBuffer::TNXBlockBuffer(TNXBlockBuffer* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}
TNXBlockBuffer::TNXBlockBuffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

TNXBlockBuffer::TNXBlockBuffer(const TIntfPtr<INXData>& ASource)
    : TNXBlockBuffer(UniversalSourceOf<TNXBlockBuffer>(ASource, 0xFFFFFFFFu)) {}

TNXBlockBuffer::TNXBlockBuffer(const TNXUniversalSource& ASource)
    : TNXLinearMemoryBuffer(nullptr, ASource.ByteSize, ASource.Block) {
  if (ASource.CopyFrom && FByteSize > 0) ippsCopy_8u(ASource.CopyFrom, FData, static_cast<int>(FByteSize));
  if (ASource.Parent->GetCustomCount() > 0) AssignData(ASource.Parent);
}

TIntfPtr<INXData> TNXBlockBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXBlockBuffer(this));
}

bool TNXBlockBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  return SameClass<TNXBlockBuffer>(AOther) && TNXLinearMemoryBuffer::IsEqual(AOther);
}

TIntfPtr<INXBlockBufferAccess> TNXBlockBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXBlockBufferAccess, INXBlockBufferAccess>(this, AModes);
}

void TNXBlockBuffer::Add(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) { ippsAdd_8u_ISfs(s, d, n, 0); });
}
void TNXBlockBuffer::Subtract(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) { ippsSub_8u_ISfs(s, d, n, 0); });
}
void TNXBlockBuffer::Multiply(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) { ippsMul_8u_ISfs(s, d, n, 0); });
}
void TNXBlockBuffer::Divide(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) {
    for (int i = 0; i < n; ++i) {
      if (s[i] == 0) throw EDivByZero();
      d[i] = static_cast<std::uint8_t>(d[i] / s[i]);
    }
  });
}

void TNXBlockBuffer::SetValue(std::uint8_t AValue) { ippsSet_8u(AValue, Write(), Len(GetSize())); }
void TNXBlockBuffer::Zero() { ippsZero_8u(Write(), Len(GetSize())); }

void TNXBlockBuffer::Append(const TIntfPtr<INXDataBuffer>& AOther) {
  if (!AOther) throw EArgumentException("A source buffer is required");
  const std::uint32_t old = FByteSize, add = AOther->GetByteSize();
  if (add == 0) return;
  Resize(CheckedAddU(old, add), true);
  // Read after the resize: when AOther is Self its bytes are now the first
  // `old` bytes of the grown block. Growth leaves Self the only owner of its
  // block, so the write access copies nothing.
  const std::uint8_t* src = AOther->ByteRead();
  ippsCopy_8u(src, Write() + old, static_cast<int>(add));
}

void TNXBlockBuffer::Remove(std::int32_t AIndex, std::int32_t ACount) {
  const std::int32_t size = GetSize();
  if (AIndex < 0) RaiseAssertion("Assertion failure", "NXSimpleDataBuffer", __LINE__);
  if (AIndex > size) RaiseAssertion("Assertion failure", "NXSimpleDataBuffer", __LINE__);
  // A negative count is refused too, rather than read as a growth.
  if (ACount < 0) RaiseAssertion("Assertion failure", "NXSimpleDataBuffer", __LINE__);
  if (std::int64_t{AIndex} + ACount > size) ACount = size - AIndex;
  if (ACount == 0) return;
  // Read the kept bytes from a sharing copy into a fresh block of the new size.
  const TBuffer copy(new TNXBlockBuffer(this));
  const std::uint8_t* src = copy->Read();
  Resize(static_cast<std::uint32_t>(size - ACount), false);
  if (size - ACount == 0) return;
  std::uint8_t* dst = Write();
  if (AIndex > 0) ippsCopy_8u(src, dst, AIndex);
  const std::int32_t tail = size - AIndex - ACount;
  if (tail > 0) ippsCopy_8u(src + AIndex + ACount, dst + AIndex, tail);
}

bool TNXBlockBuffer::IsEqualToValue(std::uint8_t AValue) const { return AllEqual(Read(), GetSize(), AValue); }

// ---------------------------------------------------------------- real matrix buffer, buffer list, matrix

namespace {

[[noreturn]] void RaiseColumnIndex(std::int32_t ACol) {
  RaiseRange("Column out of range = %u", static_cast<unsigned>(ACol));
}
[[noreturn]] void RaiseRowIndex(std::int32_t ARow) { RaiseRange("Row out of range = %u", static_cast<unsigned>(ARow)); }

// The rows of a buffer array as spans of elements. A matrix buffer (also one
// behind matrix objects) is read in place from its block; any other array
// hands out its row buffers, and the reader holds the last one it was given.
// A span stays valid until the next Row call or a write to the array.
class TRowReader {
 public:
  explicit TRowReader(const TIntfPtr<INXRealBufferArray>& AArray) {
    if (!AArray) throw EArgumentException("A buffer array is required, not nil");
    INXRealBufferArray* array = AArray.Get();
    // Matrix objects only forward; their arrays are held as long as they are.
    while (auto* wrapper = dynamic_cast<TNXRealMatrix*>(array->GetInstance())) array = wrapper->GetArray().Get();
    FArray = array;
    FMatrix = dynamic_cast<TNXRealMatrixBuffer*>(array->GetInstance());
  }

  // The matrix buffer read in place, or null.
  TNXRealMatrixBuffer* Matrix() const noexcept { return FMatrix; }
  std::int32_t Count() { return FArray->GetCount(); }

  std::span<const double> Row(std::int32_t ARow) {
    if (FMatrix) {
      const std::int32_t cols = FMatrix->GetCols();
      if (cols <= 0) return {};
      return {FMatrix->Read() + static_cast<std::size_t>(ARow) * static_cast<std::size_t>(cols),
              static_cast<std::size_t>(cols)};
    }
    FRow = FArray->GetItem(ARow);
    const std::int32_t n = FRow ? FRow->GetSize() : 0;
    if (n <= 0) return {};
    return {FRow->Read(), static_cast<std::size_t>(n)};
  }

 private:
  INXRealBufferArray* FArray;  // held by the caller's reference
  TNXRealMatrixBuffer* FMatrix = nullptr;
  TIntfPtr<INXRealBuffer> FRow;
};

// Lays the source's rows out one after the other in ADest, ACols elements
// each: a longer row is cut, a shorter one padded with zeros.
void CopyRows(TRowReader& ASource, double* ADest, std::int32_t ARows, std::int32_t ACols) {
  if (ACols <= 0) return;
  for (std::int32_t r = 0; r < ARows; ++r) {
    const std::span<const double> row = ASource.Row(r);
    double* dst = ADest + static_cast<std::size_t>(r) * static_cast<std::size_t>(ACols);
    const std::int32_t n = std::min(ACols, static_cast<std::int32_t>(row.size()));
    if (n > 0) ippsCopy_64f(row.data(), dst, Len(n));
    if (n < ACols) ippsZero_64f(dst + n, Len(ACols - n));
  }
}

// Same row count, and every pair of rows of the same length with the same bytes.
bool ArraysEqual(const TIntfPtr<INXRealBufferArray>& A, const TIntfPtr<INXRealBufferArray>& B) {
  if (!A || !B) return false;
  TRowReader a(A), b(B);
  const std::int32_t rows = a.Count();
  if (rows != b.Count()) return false;
  for (std::int32_t r = 0; r < rows; ++r) {
    const std::span<const double> x = a.Row(r), y = b.Row(r);
    if (x.size() != y.size()) return false;
    if (!x.empty() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) != 0) return false;
  }
  return true;
}

// After a division that met a zero divisor: every quotient whose divisor is
// exactly 0 becomes 1e15 when it is above 0 and -1e14 otherwise (a zero
// dividend, a NaN), as the real buffer's Divide does.
void RepairDivision(const double* ADivisor, double* AQuotient, std::int32_t ACount) noexcept {
  for (std::int32_t i = 0; i < ACount; ++i)
    if (ADivisor[i] == 0.0) AQuotient[i] = AQuotient[i] > 0.0 ? 1000000000000000.0 : -100000000000000.0;
}

// Divides ADest by ASource in place and repairs the zero divisors. The
// divisors are read again after the division, so a row divided by itself is
// divided by a copy.
void DivideRow(const double* ASource, double* ADest, std::int32_t ACount) {
  std::vector<double> copy;
  if (ASource == ADest) {
    copy.assign(ASource, ASource + ACount);
    ASource = copy.data();
  }
  if (ippsDiv_64f_I(ASource, ADest, Len(ACount)) == ippStsDivByZero) RepairDivision(ASource, ADest, ACount);
}

TIntfPtr<INXRealBufferArray> ArrayOf(INXRealBufferArray* AArray) { return TIntfPtr<INXRealBufferArray>(AArray); }
// The same from a const getter: holding a reference does not change the array.
TIntfPtr<INXRealBufferArray> ArrayOf(const INXRealBufferArray* AArray) {
  return TIntfPtr<INXRealBufferArray>(const_cast<INXRealBufferArray*>(AArray));
}

}  // namespace

// ---------------------------------------------------------------- TNXRealBuffer from a buffer array

namespace {
std::uint32_t ArrayElementCount(const TIntfPtr<INXRealBufferArray>& ASource) {
  if (!ASource) throw EArgumentException("A buffer array is required, not nil");
  return TNXRealMatrixBuffer::MatrixByteSize(ASource->GetCount(), ASource->GetMaxSize()) / sizeof(double);
}
}  // namespace

// The rows are copied in: a buffer of undefined values the size of the array
// would be of no use to anyone, and the copy costs one pass.
TNXRealBuffer::TNXRealBuffer(TArrayInit, const TIntfPtr<INXRealBufferArray>& ASource)
    : TNXRealBuffer(ArrayElementCount(ASource)) {
  TRowReader rows(ASource);
  const std::int32_t count = rows.Count(), cols = ASource->GetMaxSize();
  if (static_cast<std::int64_t>(count) * cols == GetSize()) CopyRows(rows, Items<double>(), count, cols);
}

// ---------------------------------------------------------------- TNXRealMatrixBuffer

std::int32_t TNXRealMatrixBufferAccess::GetCols() const { return static_cast<TNXRealMatrixBuffer*>(FObject)->GetCols(); }
std::int32_t TNXRealMatrixBufferAccess::GetRows() const { return static_cast<TNXRealMatrixBuffer*>(FObject)->GetRows(); }

std::uint32_t TNXRealMatrixBuffer::MatrixByteSize(std::int32_t ARows, std::int32_t ACols) {
  if (ACols < 0) RaiseColumnIndex(ACols);
  if (ARows < 0) RaiseRowIndex(ARows);
  const std::uint64_t count = static_cast<std::uint64_t>(ARows) * static_cast<std::uint64_t>(ACols);  // < 2^62
  if (count > 0xFFFFFFFFu / sizeof(double)) throw EIntOverflow();
  return static_cast<std::uint32_t>(count * sizeof(double));
}

void TNXRealMatrixBuffer::RaiseColumn(std::int32_t ACol) { RaiseColumnIndex(ACol); }
void TNXRealMatrixBuffer::RaiseRow(std::int32_t ARow) { RaiseRowIndex(ARow); }

TNXRealMatrixBuffer::TNXRealMatrixBuffer() : TNXMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(double))) {}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(std::int32_t ARows, std::int32_t ACols)
    : TNXMemoryBuffer(MatrixByteSize(ARows, ACols) / sizeof(double), static_cast<std::uint32_t>(sizeof(double))),
      FCols(ACols),
      FRows(ARows) {}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(const double* AData, std::int32_t ARows, std::int32_t ACols)
    : TNXRealMatrixBuffer(ARows, ACols) {
  if (AData && GetSize() > 0) ippsCopy_64f(AData, Items<double>(), Len(GetSize()));
}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(TValueInit, double AValue, std::int32_t ARows, std::int32_t ACols)
    : TNXRealMatrixBuffer(ARows, ACols) {
  if (GetSize() > 0) ippsSet_64f(AValue, Items<double>(), Len(GetSize()));
}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(TNXRealMatrixBuffer* ASource)
    : TNXMemoryBuffer(NotNil(ASource)), FCols(ASource->FCols), FRows(ASource->FRows) {}

namespace {
TNXRealMatrixBuffer* MatrixOf(const TIntfPtr<INXRealMatrixBuffer>& ASource) {
  if (!ASource) throw EArgumentException("A matrix buffer is required, not nil");
  auto* matrix = dynamic_cast<TNXRealMatrixBuffer*>(ASource->GetInstance());
  if (!matrix) throw EArgumentException("The data object is not a matrix buffer");
  return matrix;
}
}  // namespace

TNXRealMatrixBuffer::TNXRealMatrixBuffer(const TMatrix& ASource) : TNXRealMatrixBuffer(MatrixOf(ASource)) {}

// What the universal constructor builds on: a matrix buffer to share, or
// another array to copy, with the shape and byte size checked beforehand.
struct TNXRealMatrixBuffer::TUniversalSource {
  TNXRealMatrixBuffer* Matrix = nullptr;
  INXRealBufferArray* Array = nullptr;
  std::int32_t Rows = 0;
  std::int32_t Cols = 0;
  std::uint32_t Bytes = 0;
};

TNXRealMatrixBuffer::TUniversalSource TNXRealMatrixBuffer::UniversalSource(const TIntfPtr<INXData>& ASource) {
  if (!ASource) throw EArgumentException("A buffer array is required, not nil");
  TNXData* object = ASource->GetInstance();
  TUniversalSource result;
  if (auto* matrix = dynamic_cast<TNXRealMatrixBuffer*>(object)) {
    result.Matrix = matrix;
    result.Rows = matrix->FRows;
    result.Cols = matrix->FCols;
    result.Bytes = matrix->FByteSize;
    return result;
  }
  auto* array = dynamic_cast<INXRealBufferArray*>(object);
  if (!array) throw EArgumentException("The data object is not a buffer array");
  result.Array = array;
  result.Rows = array->GetCount();
  result.Cols = array->GetMaxSize();
  result.Bytes = MatrixByteSize(result.Rows, result.Cols);
  return result;
}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(const TIntfPtr<INXData>& ASource)
    : TNXRealMatrixBuffer(UniversalSource(ASource)) {}

// The new block is the last thing made before the base constructor takes
// it, so nothing can fail in between and lose it.
TNXRealMatrixBuffer::TNXRealMatrixBuffer(const TUniversalSource& ASource)
    : TNXMemoryBuffer(ASource.Matrix, ASource.Bytes,
                      ASource.Matrix ? ASource.Matrix->DataContainer() : NewBlock(ASource.Bytes)),
      FCols(ASource.Cols),
      FRows(ASource.Rows) {
  if (!ASource.Array) return;
  AssignData(ASource.Array);
  TRowReader rows(ArrayOf(ASource.Array));
  CopyRows(rows, Items<double>(), FRows, FCols);
}

TIntfPtr<INXData> TNXRealMatrixBuffer::GetDataCopy() {
  return TIntfPtr<INXData>(static_cast<INXData*>(static_cast<TNXGenericBuffer*>(new TNXRealMatrixBuffer(this))));
}

void TNXRealMatrixBuffer::Assign(const TIntfPtr<INXDataBuffer>& ASource) {
  TNXGenericBuffer* source = BufferOf(ASource);
  std::int32_t rows = 0, cols = 0;
  if (auto* matrix = dynamic_cast<TNXRealMatrixBuffer*>(source)) {
    rows = matrix->FRows;
    cols = matrix->FCols;
  } else {
    // Checked before anything changes: bytes that are not whole elements
    // cannot be a row.
    const std::uint32_t bytes = source->GetByteSize();
    if (bytes % sizeof(double) != 0) throw EArgumentException("The buffer does not hold whole 64-bit floats");
    cols = static_cast<std::int32_t>(bytes / sizeof(double));
    rows = cols > 0 ? 1 : 0;
  }
  TNXMemoryBuffer::Assign(ASource);
  FRows = rows;
  FCols = cols;
}

bool TNXRealMatrixBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  if (!AOther || !dynamic_cast<TNXRealMatrixBuffer*>(AOther->GetInstance())) return false;
  return TNXMemoryBuffer::IsEqual(AOther);
}

bool TNXRealMatrixBuffer::IsEqualArray(const TArray& AOther) const { return ArraysEqual(ArrayOf(this), AOther); }

TIntfPtr<INXRealMatrixBufferAccess> TNXRealMatrixBuffer::Data(TBufferAccessModes AModes) {
  TNXRealMatrixBufferAccess::TDataLambda accessor;
  switch (AccessKindOf(AModes)) {
    case TBufferAccessKind::Modify:
      accessor = [this] { return Modify(); };
      break;
    case TBufferAccessKind::Write:
      accessor = [this] { return Write(); };
      break;
    case TBufferAccessKind::Read:
      accessor = [this] { return const_cast<double*>(Read()); };  // see TNXDataBufferAccess
      break;
  }
  return TIntfPtr<INXRealMatrixBufferAccess>(new TNXRealMatrixBufferAccess(this, AModes, std::move(accessor)));
}

TIntfPtr<INXRealBuffer> TNXRealMatrixBuffer::GetRow(std::int32_t ARow) const {
  if (static_cast<std::uint32_t>(ARow) >= static_cast<std::uint32_t>(FRows)) RaiseRow(ARow);
  if (FCols == 0) return TNXRealBuffer::Make();
  return TNXRealBuffer::MakeData(Read() + Offset(ARow, 0), static_cast<std::uint32_t>(FCols));
}

void TNXRealMatrixBuffer::SetRow(std::int32_t ARow, const TBuffer& ABuffer) {
  if (static_cast<std::uint32_t>(ARow) >= static_cast<std::uint32_t>(FRows)) RaiseRow(ARow);
  if (!ABuffer) throw EArgumentException("A source buffer is required");
  const double* src = ABuffer->Read();
  const std::int32_t n = std::min(FCols, ABuffer->GetSize());
  Unique(true);
  if (n > 0) ippsCopy_64f(src, Items<double>() + Offset(ARow, 0), Len(n));
}

template <class TOp>
void TNXRealMatrixBuffer::RowOperation(const TArray& AOther, TOp AOp) {
  TRowReader other(AOther);
  double* self = Modify();
  const std::int32_t rows = std::min(FRows, other.Count());
  for (std::int32_t r = 0; r < rows; ++r) {
    // Read after Self's copy on write: a source on Self's old block still
    // holds that block, and Self itself shows its new one.
    const std::span<const double> src = other.Row(r);
    const std::int32_t n = std::min(FCols, static_cast<std::int32_t>(src.size()));
    if (n > 0) AOp(src.data(), self + Offset(r, 0), n);
  }
}

void TNXRealMatrixBuffer::Add(const TArray& AOther) {
  RowOperation(AOther, [](const double* s, double* d, std::int32_t n) { ippsAdd_64f_I(s, d, Len(n)); });
}
void TNXRealMatrixBuffer::Subtract(const TArray& AOther) {
  RowOperation(AOther, [](const double* s, double* d, std::int32_t n) { ippsSub_64f_I(s, d, Len(n)); });
}
void TNXRealMatrixBuffer::Multiply(const TArray& AOther) {
  RowOperation(AOther, [](const double* s, double* d, std::int32_t n) { ippsMul_64f_I(s, d, Len(n)); });
}
void TNXRealMatrixBuffer::Divide(const TArray& AOther) { RowOperation(AOther, DivideRow); }

void TNXRealMatrixBuffer::SetValue(double AValue) { ippsSet_64f(AValue, Write(), Len(GetSize())); }
void TNXRealMatrixBuffer::AddValue(double AValue) { ippsAddC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealMatrixBuffer::SubtractValue(double AValue) { ippsSubC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealMatrixBuffer::MultiplyValue(double AValue) { ippsMulC_64f_I(AValue, Modify(), Len(GetSize())); }

// As the real buffer: 0 and 1 leave the matrix (and a shared block) untouched.
void TNXRealMatrixBuffer::DivideValue(double AValue) {
  if (AValue == 0.0 || AValue == 1.0) return;
  ippsDivC_64f_I(AValue, Modify(), Len(GetSize()));
}

void TNXRealMatrixBuffer::Zero() { ippsZero_64f(Write(), Len(GetSize())); }

bool TNXRealMatrixBuffer::Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) {
  const std::uint32_t bytes = MatrixByteSize(ARows, ACols);
  if (ARows == 0 || ACols == 0) {
    FByteSize = 0;
    FCols = ACols;
    FRows = ARows;
    PopulateCahces();
    return true;
  }
  if (ARows == FRows && ACols == FCols) return false;
  // Fewer elements with preservation: the block stays (even a shared one)
  // and the kept elements are the first ones in flat order.
  // More elements within the memory an earlier shrink left: only a sole owner.
  if (APreserve &&
      (FByteSize > bytes || (FDataContainer->SingleOwner() && FDataContainer->GetSize() >= bytes))) {
    FByteSize = bytes;
    FCols = ACols;
    FRows = ARows;
    PopulateCahces();
    return true;
  }
  // A new block of exactly the size asked for. The old bytes are kept as a
  // flat sequence: with another column count they land in other rows and
  // columns. The shape changes only once the block is there.
  TNXSmartBuffer* old = FDataContainer;
  TNXSmartBuffer* block = MakeCopySize(bytes / sizeof(double));
  if (APreserve) {
    const std::uint32_t n = std::min(old->GetSize(), block->GetSize());
    if (n > 0)
      ippsCopy_8u(static_cast<const Ipp8u*>(old->GetData()), static_cast<Ipp8u*>(block->GetData()),
                  static_cast<int>(n));
  }
  block->AddReff(FOwnsData);
  SetDataContainer(block);
  old->RemoveReff(FOwnsData);
  FByteSize = bytes;
  FCols = ACols;
  FRows = ARows;
  PopulateCahces();
  return true;
}

void TNXRealMatrixBuffer::AssignMatrix(const TArray& ASource) {
  TRowReader rows(ASource);
  AssignData(ASource.Get());
  if (rows.Matrix() == this) return;  // itself (perhaps behind matrix objects): the rows are there
  const std::int32_t count = rows.Count(), cols = ASource->GetMaxSize();
  Resize(count, cols, false);
  // Every element is written (shorter rows are padded with zeros), so a
  // shared block is left without copying its contents.
  if (GetSize() > 0) CopyRows(rows, Write(), FRows, FCols);
}

// ---------------------------------------------------------------- TNXRealBufferList

namespace {
TIntfPtr<INXRealBuffer> SharingCopy(const TIntfPtr<INXRealBuffer>& ABuffer) {
  if (!ABuffer) throw EArgumentException("A buffer is required, not nil");
  return TIntfPtr<INXRealBuffer>(new TNXRealBuffer(ABuffer));
}
}  // namespace

TNXRealBufferList::TNXRealBufferList(const TArray& ASource) { Assign(ASource); }

TNXRealBufferList::TNXRealBufferList(std::span<const TBuffer> ABuffers) {
  FRows.reserve(ABuffers.size());
  for (const TBuffer& buffer : ABuffers) FRows.push_back(SharingCopy(buffer));
}

TIntfPtr<INXData> TNXRealBufferList::GetDataCopy() {
  return TIntfPtr<INXData>(static_cast<INXData*>(new TNXRealBufferList(ArrayOf(this))));
}

const TIntfPtr<INXRealBuffer>& TNXRealBufferList::Row(std::int32_t AIndex) const {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FRows.size())
    throw EListError(Format("List index out of bounds (%d)", AIndex));
  return FRows[static_cast<std::size_t>(AIndex)];
}

void TNXRealBufferList::Assign(const TArray& ASource) {
  if (!ASource) throw EArgumentException("A buffer array is required, not nil");
  // Built aside and swapped in: assigning the list to itself keeps its rows,
  // and a failure leaves the list as it was.
  std::vector<TBuffer> rows;
  const std::int32_t count = ASource->GetCount();
  rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (std::int32_t r = 0; r < count; ++r) rows.push_back(SharingCopy(ASource->GetItem(r)));
  AssignData(ASource.Get());
  FRows.swap(rows);
}

bool TNXRealBufferList::IsEqualArray(const TArray& AOther) const { return ArraysEqual(ArrayOf(this), AOther); }

std::int32_t TNXRealBufferList::GetMaxSize() const {
  std::int32_t result = 0;
  for (const TBuffer& row : FRows) result = std::max(result, row->GetSize());
  return result;
}

void TNXRealBufferList::SetItem(std::int32_t AIndex, const TBuffer& ABuffer) {
  Row(AIndex);
  if (!ABuffer) throw EArgumentException("A buffer is required, not nil");
  FRows[static_cast<std::size_t>(AIndex)] = ABuffer;
}

void TNXRealBufferList::Append(const TBuffer& ABuffer) {
  if (!ABuffer) throw EArgumentException("A buffer is required, not nil");
  FRows.push_back(ABuffer);
}

void TNXRealBufferList::Delete(std::int32_t AIndex) {
  Row(AIndex);
  FRows.erase(FRows.begin() + AIndex);
}

template <class TOp>
void TNXRealBufferList::RowOperation(const TArray& AOther, TOp AOp) {
  if (!AOther) throw EArgumentException("A buffer array is required, not nil");
  const std::int32_t rows = std::min(GetCount(), AOther->GetCount());
  for (std::int32_t r = 0; r < rows; ++r) AOp(FRows[static_cast<std::size_t>(r)], AOther->GetItem(r));
}

void TNXRealBufferList::Add(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Add(other); });
}
void TNXRealBufferList::Subtract(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Subtract(other); });
}
void TNXRealBufferList::Multiply(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Multiply(other); });
}
void TNXRealBufferList::Divide(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Divide(other); });
}

void TNXRealBufferList::SetValue(double AValue) {
  for (const TBuffer& row : FRows) row->SetValue(AValue);
}
void TNXRealBufferList::AddValue(double AValue) {
  for (const TBuffer& row : FRows) row->AddValue(AValue);
}
void TNXRealBufferList::SubtractValue(double AValue) {
  for (const TBuffer& row : FRows) row->SubtractValue(AValue);
}
void TNXRealBufferList::MultiplyValue(double AValue) {
  for (const TBuffer& row : FRows) row->MultiplyValue(AValue);
}
void TNXRealBufferList::DivideValue(double AValue) {
  for (const TBuffer& row : FRows) row->DivideValue(AValue);
}
void TNXRealBufferList::Zero() {
  for (const TBuffer& row : FRows) row->Zero();
}

bool TNXRealBufferList::Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) {
  // Checked before anything changes. Rows are separate blocks, so only one
  // row's byte count has to fit in 32 bits.
  if (ACols < 0) RaiseColumnIndex(ACols);
  if (ARows < 0) RaiseRowIndex(ARows);
  if (static_cast<std::uint64_t>(ACols) * sizeof(double) > 0xFFFFFFFFu) throw EIntOverflow();
  const auto count = static_cast<std::size_t>(ARows);
  bool changed = false;
  if (FRows.size() > count) {
    FRows.resize(count);
    changed = true;
  }
  for (const TBuffer& row : FRows)
    if (row->Resize(static_cast<std::uint32_t>(ACols), APreserve)) changed = true;
  if (FRows.size() < count) {
    FRows.reserve(count);
    while (FRows.size() < count) FRows.push_back(TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ACols)));
    changed = true;
  }
  return changed;
}

// ---------------------------------------------------------------- TNXRealMatrix

namespace {
const TIntfPtr<INXRealBufferArray>& NotNilArray(const TIntfPtr<INXRealBufferArray>& AArray) {
  if (!AArray) throw EArgumentException("A buffer array is required, not nil");
  return AArray;
}
TNXRealMatrix* NotNilMatrix(TNXRealMatrix* AMatrix) {
  if (!AMatrix) throw EArgumentException("A matrix is required, not nil");
  return AMatrix;
}
}  // namespace

TNXRealMatrix::TNXRealMatrix(const TArray& AArray) : FArray(NotNilArray(AArray)) {}

TNXRealMatrix::TNXRealMatrix(std::int32_t ARows, std::int32_t ACols)
    : FArray(TNXRealMatrixBuffer::MakeSize(ARows, ACols)) {}

TNXRealMatrix::TNXRealMatrix(const double* AData, std::int32_t ARows, std::int32_t ACols)
    : FArray(TNXRealMatrixBuffer::MakeData(AData, ARows, ACols)) {}

TNXRealMatrix::TNXRealMatrix(TNXRealMatrix* ASource) : FArray(NotNilMatrix(ASource)->FArray) { AssignData(ASource); }

TIntfPtr<INXData> TNXRealMatrix::GetDataCopy() {
  return TIntfPtr<INXData>(static_cast<INXData*>(new TNXRealMatrix(this)));
}

bool TNXRealMatrix::IsEqualMatrix(TNXRealMatrix* AOther) { return AOther && ArraysEqual(FArray, AOther->FArray); }

// ---------------------------------------------------------------- storage, serialisation, subscriptions

std::vector<std::uint8_t> TNXGenericBuffer::AsBytes() const {
  const std::uint8_t* p = ByteRead();
  return std::vector<std::uint8_t>(p, p + FByteSize);
}

void TNXGenericBuffer::SaveToStream(TStream& AStream) {
  if (FByteSize > 0) AStream.WriteBuffer(ByteRead(), FByteSize);
}

void TNXGenericBuffer::LoadFromStream(TStream& AStream, bool AResize) {
  // Write access (no copy of a shared block's contents: every byte is
  // overwritten). ReadBuffer raises EReadError on a short stream after
  // storing what it got.
  if (FByteSize > 0) AStream.ReadBuffer(ByteWrite(), FByteSize);
}

void TNXGenericBuffer::SaveToFile(const std::string& AFileName) {
  TFileStream file(AFileName, fmCreate);
  SaveToStream(file);
}

void TNXGenericBuffer::LoadFromFile(const std::string& AFileName, bool AResize) {
  TFileStream file(AFileName, fmOpenRead);
  LoadFromStream(file, AResize);
}

void TNXLinearMemoryBuffer::LoadFromStream(TStream& AStream, bool AResize) {
  if (AResize) {
    const std::int64_t left = AStream.Size() - AStream.Position();
    const std::uint64_t count = left > 0 ? static_cast<std::uint64_t>(left) / ItemSize() : 0;
    if (count > 0xFFFFFFFFu) throw EIntOverflow();
    Resize(static_cast<std::uint32_t>(count), false);
  }
  TNXMemoryBuffer::LoadFromStream(AStream, false);
}

void TNXGenericBuffer::SerializationWrite(IWriter& AWriter) {
  TNXData::SerializationWrite(AWriter);  // "Custom" and the class's own members
  AWriter.BeginObject("SequenceStamp", "TNXSequenceStamp");
  // Written as available whatever the block says: a buffer read back
  // carries the number as a valid stamp.
  AWriter.WriteBoolean("Available", true);
  AWriter.WriteUInt64("BufferNumber", GetBufferNumber());
  AWriter.EndObject();
  AWriter.WriteBytes("Data", ByteRead(), FByteSize);
}

void TNXGenericBuffer::SerializationRead(IReader& AReader) {
  TIntfPtr<INXDataBufferAccess> access = ByteData(TBufferAccessMode::Write);
  InternalSerializationRead(AReader);
  // The stored bytes go straight from the stream into the buffer (one copy);
  // what does not fit is skipped, a shorter block leaves the rest as it was.
  // The write access runs only when there is something to copy, so that an
  // empty "Data" does not detach a shared block.
  std::uint64_t stored = 0;
  if (AReader.BytesLength("Data", stored) && stored > 0 && FByteSize > 0) {
    std::uint64_t copied = 0;
    AReader.ReadBytesInto("Data", access->ByteData(), FByteSize, copied);
  }
  // The stamp after the data: a write access that copies a shared block
  // gives the buffer a block whose stamp is unset.
  std::string stampClass;
  if (AReader.BeginObject("SequenceStamp", stampClass)) {
    bool available = false;
    std::uint64_t number = 0;
    if (AReader.ReadBoolean("Available", available)) SetBufferNumberAvailable(available);
    if (AReader.ReadUInt64("BufferNumber", number)) SetBufferNumber(number);
    AReader.EndObject();
  }
  ReadCustom(AReader);
}

// Left to us: the element count of a resizable buffer is written under a
// key of its own, "Size", and reading resizes to it before "Data" is copied,
// so that a buffer made empty by its class name comes back with its size.
// The count is believed only as far as the stored "Data" backs it: a count
// beyond the stored bytes is a corrupted form (it would otherwise let a few
// bytes of input allocate gigabytes).
void TNXLinearMemoryBuffer::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.WriteUInt32("Size", FByteSize / ItemSize());
}

void TNXLinearMemoryBuffer::InternalSerializationRead(IReader& AReader) {
  std::uint32_t count = 0;
  if (!AReader.ReadUInt32("Size", count)) return;
  std::uint64_t stored = 0;
  AReader.BytesLength("Data", stored);
  if (static_cast<std::uint64_t>(count) * ItemSize() > stored)
    throw ESerializationError(Format("Size %u is larger than the stored data (%llu bytes)", count,
                                     static_cast<unsigned long long>(stored)));
  Resize(count, false);
}

// The shape is believed only as far as the stored "Data" backs it, as the
// element count of a resizable buffer is.
void TNXRealMatrixBuffer::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.WriteInt32("Rows", FRows);
  AWriter.WriteInt32("Columns", FCols);
}

void TNXRealMatrixBuffer::InternalSerializationRead(IReader& AReader) {
  std::int32_t rows = 0, cols = 0;
  const bool hasRows = AReader.ReadInt32("Rows", rows), hasCols = AReader.ReadInt32("Columns", cols);
  if (!hasRows && !hasCols) return;
  if (rows < 0 || cols < 0) throw ESerializationError(Format("Negative matrix shape %d x %d", rows, cols));
  std::uint64_t stored = 0;
  AReader.BytesLength("Data", stored);
  if (static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols) * sizeof(double) > stored)
    throw ESerializationError(Format("Matrix %d x %d is larger than the stored data (%llu bytes)", rows, cols,
                                     static_cast<unsigned long long>(stored)));
  Resize(rows, cols, false);
}

void TNXRealBufferList::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.BeginList("Rows");
  for (const TBuffer& row : FRows) {
    TNXData* obj = row->GetInstance();
    AWriter.BeginItem(TClassManagement::ClassNameOf(*obj));
    obj->SerializationWrite(AWriter);
    AWriter.EndItem();
  }
  AWriter.EndList();
}

// Rows are read into a list of our own and swapped in at the end: a failure
// halfway leaves the list as it was and releases the rows read so far.
void TNXRealBufferList::InternalSerializationRead(IReader& AReader) {
  std::uint32_t count = 0;
  if (!AReader.BeginList("Rows", count)) return;
  std::vector<TBuffer> rows;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    AReader.BeginItem(name);
    TBuffer row = Supports<INXRealBuffer>(TClassManagement::CreateObject(name).Get());
    if (!row) throw ESerializationError(Format("A row of class %s is not a real buffer", name.c_str()));
    row->GetInstance()->SerializationRead(AReader);
    rows.push_back(std::move(row));
    AReader.EndItem();
  }
  AReader.EndList();
  FRows.swap(rows);
}

void TNXBooleanBuffer::LoadFromStream(TStream& AStream, bool AResize) {
  if (AResize) {
    const std::int64_t left = AStream.Size() - AStream.Position();
    const std::uint64_t bits = left > 0 ? static_cast<std::uint64_t>(left) * 8u : 0;
    if (bits > 0x7FFFFFFFu) throw EIntOverflow();
    Resize(static_cast<std::uint32_t>(bits), false);
  }
  TNXMemoryBuffer::LoadFromStream(AStream, false);
}

void TNXBooleanBuffer::InternalSerializationWrite(IWriter& AWriter) { AWriter.WriteUInt32("Size", FBitCount); }

void TNXBooleanBuffer::InternalSerializationRead(IReader& AReader) {
  std::uint32_t bits = 0;
  if (!AReader.ReadUInt32("Size", bits)) return;
  std::uint64_t stored = 0;
  AReader.BytesLength("Data", stored);
  if ((static_cast<std::uint64_t>(bits) + 7) / 8 > stored)
    throw ESerializationError(Format("Size %u bits is larger than the stored data (%llu bytes)", bits,
                                     static_cast<unsigned long long>(stored)));
  Resize(bits, false);
}

void RGSubscribeBufferNodify(const TIntfPtr<INXGenericBuffer>& ABuffer, void* AObject,
                             TNXBufferNotifyCallback ACallback, TNXNotifyList::THandle& AProc) {
  if (!ACallback) throw EArgumentException("A callback is required");
  AProc = TNXGenericBuffer::BufferOf(ABuffer)->Notifications().Add([AObject, ACallback] { ACallback(AObject); });
}

void RGUnSubscribeBufferNodify(const TIntfPtr<INXGenericBuffer>& ABuffer, TNXNotifyList::THandle AProc) {
  TNXGenericBuffer::BufferOf(ABuffer)->Notifications().Remove(AProc);
}

namespace NXSimpleDataBuffer {

namespace {
// The registered buffer classes, in registration order (the unsigned
// buffer is not among them).
std::vector<TClassEntry> BufferClasses() {
  return {
      ClassEntry<TNXBlockBuffer>("TNXBlockBuffer"),
      ClassEntry<TNXBooleanBuffer>("TNXBooleanBuffer"),
      ClassEntry<TNXRealBuffer>("TNXRealBuffer"),
      ClassEntry<TNXComplexBuffer>("TNXComplexBuffer"),
      ClassEntry<TNXIntegerBuffer>("TNXIntegerBuffer"),
      ClassEntry<TNXRealMatrixBuffer>("TNXRealMatrixBuffer"),
      ClassEntry<TNXRealBufferList>("TNXRealBufferList"),
  };
}
}  // namespace

void UnitInitialize() { TClassManagement::RegisterClasses(BufferClasses()); }

void UnitFinalize() {
  std::vector<std::string> names;
  for (const TClassEntry& e : BufferClasses()) names.push_back(e.Name);
  TClassManagement::UnregisterClasses(names);
}

}  // namespace NXSimpleDataBuffer

}  // namespace nx

NX_PACKAGE_UNIT(NXSimpleDataBuffer, &nx::NXSimpleDataBuffer::UnitInitialize, &nx::NXSimpleDataBuffer::UnitFinalize)
