// NXRealQueue: the queued-pin state and the conversions of stretch loading.
#include "streams/NXRealQueue.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/NXPackage.h"

namespace nx {

TNXQueuedKind NXQueuedKindOf(const TIntfPtr<INXDataBuffer>& ABuffer) noexcept {
  if (!ABuffer) return qkNone;
  if (Supports(ABuffer, INXRealBuffer::IID)) return qkReal;
  if (Supports(ABuffer, INXComplexBuffer::IID)) return qkComplex;
  if (Supports(ABuffer, INXIntegerBuffer::IID)) return qkInteger;
  if (Supports(ABuffer, INXUnsignedBuffer::IID)) return qkUnsigned;
  if (Supports(ABuffer, INXBooleanBuffer::IID)) return qkBoolean;
  return qkNone;
}

namespace {

std::size_t ElementSize(TNXQueuedKind AKind) {
  switch (AKind) {
    case qkReal: return sizeof(double);
    case qkComplex: return sizeof(TComplex);
    case qkInteger: return sizeof(std::int32_t);
    case qkUnsigned: return sizeof(std::uint32_t);
    default: throw EConvertError("A queued input cannot load a buffer of this kind");
  }
}

TComplex ReadElement(TNXQueuedKind AKind, const std::uint8_t* AData, std::int32_t AIndex) {
  switch (AKind) {
    case qkReal: {
      double v;
      std::memcpy(&v, AData + AIndex * sizeof(double), sizeof v);
      return {v, 0};
    }
    case qkComplex: {
      TComplex v;
      std::memcpy(&v, AData + AIndex * sizeof(TComplex), sizeof v);
      return v;
    }
    case qkInteger: {
      std::int32_t v;
      std::memcpy(&v, AData + AIndex * sizeof v, sizeof v);
      return {static_cast<double>(v), 0};
    }
    case qkUnsigned: {
      std::uint32_t v;
      std::memcpy(&v, AData + AIndex * sizeof v, sizeof v);
      return {static_cast<double>(v), 0};
    }
    case qkBoolean: return {static_cast<double>((AData[AIndex >> 3] >> (AIndex & 7)) & 1), 0};
    default: return {};
  }
}

template <class T>
T Saturated(double AValue) {
  const double r = std::nearbyint(AValue);
  if (!(r == r)) return 0;
  if (r <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (r >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(r);
}

void WriteElement(TNXQueuedKind AKind, std::uint8_t* AData, std::int32_t AIndex, const TComplex& AValue) {
  switch (AKind) {
    case qkReal: std::memcpy(AData + AIndex * sizeof(double), &AValue.Re, sizeof(double)); break;
    case qkComplex: std::memcpy(AData + AIndex * sizeof(TComplex), &AValue, sizeof(TComplex)); break;
    case qkInteger: {
      const std::int32_t v = Saturated<std::int32_t>(AValue.Re);
      std::memcpy(AData + AIndex * sizeof v, &v, sizeof v);
      break;
    }
    case qkUnsigned: {
      const std::uint32_t v = Saturated<std::uint32_t>(AValue.Re);
      std::memcpy(AData + AIndex * sizeof v, &v, sizeof v);
      break;
    }
    default: throw EConvertError("A queued input cannot load a buffer of this kind");
  }
}

// Nearest-sample stretching of ASourceCount elements to ATargetCount: the
// position grows by (source - 1) / target per output sample and rounds
// halves to even (the current rounding mode of nearbyint).
template <class T>
void Stretch(const T* ASource, std::int32_t ASourceCount, T* ATarget, std::int32_t ATargetCount) {
  const double step = static_cast<double>(ASourceCount - 1) / ATargetCount;
  const auto last = static_cast<std::int64_t>(ASourceCount - 1);
  double position = 0;
  for (std::int32_t i = 0; i < ATargetCount; ++i) {
    ATarget[i] = ASource[std::min(static_cast<std::int64_t>(std::nearbyint(position)), last)];
    position += step;
  }
}

}  // namespace

void NXQueuedConvert(TNXQueuedKind ASourceKind, const std::uint8_t* ASource, std::int32_t ASourceBit,
                     TNXQueuedKind ATargetKind, std::uint8_t* ATarget, std::int32_t ATargetIndex,
                     std::int32_t ACount) {
  if (ACount <= 0) return;
  if (ASourceKind == ATargetKind) {
    const std::size_t es = ElementSize(ATargetKind);
    std::memcpy(ATarget + ATargetIndex * es, ASource, ACount * es);
    return;
  }
  for (std::int32_t i = 0; i < ACount; ++i)
    WriteElement(ATargetKind, ATarget, ATargetIndex + i, ReadElement(ASourceKind, ASource, ASourceBit + i));
}

// ---------------------------------------------------------------- TNXFTQueuedPinState

void TNXFTQueuedPinState::StartRate(double ARate) {
  FRate = ARate;
  FRunning = true;
  FStopping = FDelayed = FIgnored = false;
  UpdateWaiting();
}

void TNXFTQueuedPinState::Stop() {
  FDelayed = FIgnored = true;
  FStreaming = FStopping = false;
  UpdateWaiting();
}

void TNXFTQueuedPinState::StopFull() {
  Stop();
  FRunning = false;
  UpdateWaiting();
}

void TNXFTQueuedPinState::PrepareStop() {
  if (FRunning) FStopping = true;
}

void TNXFTQueuedPinState::ClearStopping() {
  FStopping = FDelayed = FIgnored = false;
  ClearBuffers();
}

bool TNXFTQueuedPinState::IsStartReady() {
  if (FRunning || !FEnabled || !FPin->IsConnected()) return true;
  // The source answers with ignore-stream (on this thread, before Notify
  // returns) when it has no stream to send; the component's dispatch then
  // sets the flag.
  FIgnored = false;
  UpdateWaiting();
  FPin->Notify(TFTQueryStreamOperation::Make());
  return FIgnored;
}

bool TNXFTQueuedPinState::IsActive() { return FIgnored || (FPin->IsConnected() && FStreaming); }

std::uint32_t TNXFTQueuedPinState::CalculateSampleCount(std::int32_t ASize, double AOutputRate) {
  if (ASize == FNeededSize && AOutputRate == FNeededOutputRate && FRate == FNeededRate) return FNeddedSamples;
  FNeededSize = ASize;
  FNeededOutputRate = AOutputRate;
  FNeededRate = FRate;
  FNeddedSamples = 0;
  if (ASize > 0 && AOutputRate > 0 && FRate > 0)
    FNeddedSamples = static_cast<std::uint32_t>(std::llround(static_cast<double>(ASize) * FRate / AOutputRate));
  UpdateWaiting();
  return FNeddedSamples;
}

void TNXFTQueuedPinState::AttachWaitCount(std::int32_t* ACount, bool AWaitForNeeded) noexcept {
  DetachWaitCount();
  FWaitCount = ACount;
  FWaitForNeeded = AWaitForNeeded;
  UpdateWaiting();
}

void TNXFTQueuedPinState::DetachWaitCount() noexcept {
  if (FWaitCount && FWaiting) --*FWaitCount;
  FWaitCount = nullptr;
  FWaiting = false;
}

std::int32_t TNXFTQueuedPinState::ToOutputRate(std::int64_t ACount, double AOutputRate) const {
  if (ACount <= 0 || AOutputRate <= 0 || FRate <= 0) return 0;
  const double n = std::round(static_cast<double>(ACount) * AOutputRate / FRate);
  return n >= std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                      : static_cast<std::int32_t>(n);
}

std::int32_t TNXFTQueuedPinState::GetSizeForRate(double AOutputRate) {
  return ToOutputRate(GetCollectedSamples(), AOutputRate);
}

std::int32_t TNXFTQueuedPinState::GetFirstBufferSizeForRate(double AOutputRate) {
  return ToOutputRate(GetFirstBufferSize(), AOutputRate);
}

void TNXFTQueuedPinState::StretchLoadBufferSize(const TIntfPtr<INXDataBuffer>& AOutput) {
  NX_ASSERT_MSG(AOutput, "an output buffer is required");
  const std::int32_t size = AOutput->GetSize();
  const auto needed = static_cast<std::int32_t>(FNeddedSamples);
  if (needed == 0) {
    TIntfPtr<INXLinearDataBuffer> linear;
    if (Supports(AOutput, linear)) linear->Resize(0, false);
    return;
  }
  const TNXQueuedKind kind = NXQueuedKindOf(AOutput);
  const std::size_t es = ElementSize(kind);
  FServed = true;
  if (size == needed) {
    const std::int64_t got = TakeInto(AOutput, kind, 0, needed);
    if (got < needed) std::memset(AOutput->ByteModify() + got * es, 0, (needed - got) * es);
    return;
  }
  // The needed samples into a buffer of the output's kind, then stretched.
  TIntfPtr<INXDataBuffer> samples;
  switch (kind) {
    case qkReal: samples = TNXRealBuffer::MakeValue(0, needed); break;
    case qkComplex: samples = TNXComplexBuffer::MakeSize(needed); break;
    case qkInteger: samples = TNXIntegerBuffer::MakeSize(needed); break;
    default: samples = TNXUnsignedBuffer::MakeSize(needed); break;
  }
  const std::int64_t got = TakeInto(samples, kind, 0, needed);
  if (got < needed) std::memset(samples->ByteModify() + got * es, 0, (needed - got) * es);
  if (size <= 0) return;
  const std::uint8_t* src = samples->ByteRead();
  std::uint8_t* dst = AOutput->ByteWrite();
  switch (es) {
    case 4:
      Stretch(reinterpret_cast<const std::uint32_t*>(src), needed, reinterpret_cast<std::uint32_t*>(dst), size);
      break;
    case 8: Stretch(reinterpret_cast<const double*>(src), needed, reinterpret_cast<double*>(dst), size); break;
    default: Stretch(reinterpret_cast<const TComplex*>(src), needed, reinterpret_cast<TComplex*>(dst), size); break;
  }
}

IFTNXQueuedPin* NXFTGetQueuedPin(TFTBasicPin* APin) noexcept {
  auto* holder = dynamic_cast<TNXFTQueuedPinHolder*>(APin);
  return holder ? holder->GetQueuedPin() : nullptr;
}

TNXFTQueuedPinState* NXFTGetQueuedState(TFTBasicPin* APin) noexcept {
  auto* holder = dynamic_cast<TNXFTQueuedPinHolder*>(APin);
  return holder ? holder->GetQueuedState() : nullptr;
}

namespace NXRealQueue {
namespace {
// Built on first use: the start-up runs before this unit's static initialisers.
std::vector<const TFTPinClass*> Classes() {
  return {&TNXFTQueuedRealSinkPin::ClassInfo(),
          &TNXFTQueuedComplexSinkPin::ClassInfo(),
          &TNXFTQueuedIntegerSinkPin::ClassInfo(),
          &TNXFTQueuedIntegerRealSinkPin::ClassInfo(),
          &TNXFTQueuedIntegerRealComplexSinkPin::ClassInfo(),
          &TNXFTComboRealIntComplexBoolPairedQueuedSinkPin::ClassInfo()};
}
}  // namespace
void UnitInitialize() {
  for (const TFTPinClass* c : Classes()) NXFTRegisterClassDefaults(*c);
}
void UnitFinalize() {
  for (const TFTPinClass* c : Classes()) NXFTUnregisterClassDefaults(*c);
}
}  // namespace NXRealQueue

}  // namespace nx

NX_PACKAGE_UNIT(NXRealQueue, &nx::NXRealQueue::UnitInitialize, &nx::NXRealQueue::UnitFinalize)
