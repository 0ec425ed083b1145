// NXRealQueue: the input side of multi-input components. Each input pin
// queues the buffers it receives (TNXBufferQueue) and keeps the state of its
// stream: the rate it announced, whether it runs, stops or is ignored, and how
// many samples the next output buffer needs from it. StretchLoadBuffer hands
// those samples out, stretched to the output size by nearest-sample picking
// when the input's rate is not the output rate.
//
// The state is not locked: the owning component calls it under its own lock.
// The buffer queue has a lock of its own, so one input may queue while
// another is read.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "buffers/NXSimpleDataBuffer.h"
#include "streams/NXStreamTypes.h"
#include "streams/NXVariantStorages.h"

namespace nx {

// A callable that takes queued samples as (pointer, count), referred to, not
// copied: the callable must outlive the call it is passed to. Cheaper than a
// std::function on the path that takes every queued sample.
class TNXSampleConsumer {
 public:
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, TNXSampleConsumer> &&
             std::is_invocable_v<F&, const void*, std::int32_t>)
  TNXSampleConsumer(F&& AFunction) noexcept  // NOLINT: made implicitly from lambdas
      : FObject(const_cast<void*>(static_cast<const void*>(std::addressof(AFunction)))),
        FCall([](void* AObject, const void* AData, std::int32_t ACount) {
          (*static_cast<std::remove_reference_t<F>*>(AObject))(AData, ACount);
        }) {}
  void operator()(const void* AData, std::int32_t ACount) const { FCall(FObject, AData, ACount); }

 private:
  void* FObject;
  void (*FCall)(void*, const void*, std::int32_t);
};

// The queue and stream state of one input pin.
struct IFTNXQueuedPin : virtual IInterface {
  NX_INTERFACE_ID(IFTNXQueuedPin, "{AEE73535-9267-4CB2-ABF7-905245E0EB46}");
  // The stream starts at ARate: running; no longer stopping, delayed or ignored.
  virtual void StartRate(double ARate) = 0;
  // Queues ABuffer; false (nothing queued) when it is not a buffer of a kind
  // the pin takes. An empty buffer is taken (true) and not queued.
  virtual bool AddBuffer(const TIntfPtr<INXData>& ABuffer) = 0;
  virtual void ClearBuffers() = 0;
  // Delayed and ignored, not streaming, not stopping (still running).
  virtual void Stop() = 0;
  // Stop, and no longer running.
  virtual void StopFull() = 0;
  // Stopping, when running.
  virtual void PrepareStop() = 0;
  // Not stopping, delayed or ignored, and the queue emptied.
  virtual void ClearStopping() = 0;

  virtual bool IsRunning() = 0;
  virtual bool IsStopping() = 0;
  virtual bool IsDelayed() = 0;
  virtual bool IsIgnored() = 0;
  virtual bool IsEnabled() = 0;
  virtual bool IsStreaming() = 0;
  // Whether the input gave samples to the output buffer built last.
  virtual bool IsServed() = 0;
  virtual void SetIsIgnored(bool AValue) = 0;
  virtual void SetIsDelayed(bool AValue) = 0;
  virtual void SetIsEnabled(bool AValue) = 0;
  virtual void SetIsServed(bool AValue) = 0;
  virtual double GetRate() = 0;

  // True when the pin need not hold up the decision on the output rate: it
  // runs, is not connected, or is disabled; otherwise it asks its source with
  // a query-stream operation and is ready when the source answered with
  // ignore-stream.
  virtual bool IsStartReady() = 0;
  // Ignored, or connected and streaming.
  virtual bool IsActive() = 0;
  // The queue holds at least the needed samples.
  virtual bool IsReady() = 0;

  // Needed samples := round(ASize x rate / AOutputRate) (0 without a rate); returns it.
  virtual std::uint32_t CalculateSampleCount(std::int32_t ASize, double AOutputRate) = 0;
  virtual std::uint32_t GetNeededSamples() = 0;
  // The collected samples, and the first queued buffer's samples, counted at
  // the output rate: round(count x AOutputRate / rate) (0 without a rate).
  virtual std::int32_t GetSizeForRate(double AOutputRate) = 0;
  virtual std::int32_t GetFirstBufferSizeForRate(double AOutputRate) = 0;
  virtual TIntfPtr<INXDataBuffer> GetFirstBuffer() = 0;
  // The samples of the first queued buffer not taken yet.
  virtual std::int32_t GetFirstBufferSize() = 0;
  virtual std::int64_t GetCollectedSamples() = 0;

  // Fills AOutput (its size is the output size; a real, complex, integer or
  // unsigned buffer) with the next needed samples, stretched to its size and
  // converted to its kind. No needed samples empties it. A queue that holds
  // fewer samples than needed (a stream that ended) gives zeros for the rest.
  virtual void StretchLoadBufferSize(const TIntfPtr<INXDataBuffer>& AOutput) = 0;
  // Hands up to ACount queued samples, in order, to AConsume as pieces of
  // raw elements of the queued kind (pointer, count), removing them; returns
  // how many were taken. AConsume must not use the pin.
  virtual std::int64_t TakeSamples(std::int64_t ACount, TNXSampleConsumer AConsume) = 0;
  virtual TFTBasicPin* GetPin() = 0;
};

// The element kinds a queued pin converts between.
enum TNXQueuedKind : std::uint8_t { qkNone, qkReal, qkComplex, qkInteger, qkUnsigned, qkBoolean };
TNXQueuedKind NXQueuedKindOf(const TIntfPtr<INXDataBuffer>& ABuffer) noexcept;

// The state shared by every queued pin; TBufferIntf is the buffer interface
// the pin queues (INXDataBuffer for pins that take several kinds).
//
// A component may attach a count of the inputs that hold it up (AttachWaitCount):
// the state then keeps that count in step with every change of its own, so
// that the component learns whether all inputs have samples without looking
// at each of them for every buffer that arrives. An input holds the component
// up ("waits") while it is enabled, runs, is not ignored and has fewer queued
// samples than one (or, with AWaitForNeeded, its needed samples, at least one).
class TNXFTQueuedPinState : public TInterfacedObject, public virtual IFTNXQueuedPin {
  NX_INTERFACES(TInterfacedObject, IFTNXQueuedPin)

 public:
  explicit TNXFTQueuedPinState(TFTBasicPin* APin) : FPin(APin) {}

  void StartRate(double ARate) override;
  void Stop() override;
  void StopFull() override;
  void PrepareStop() override;
  void ClearStopping() override;

  bool IsRunning() final { return FRunning; }
  bool IsStopping() final { return FStopping; }
  bool IsDelayed() final { return FDelayed; }
  bool IsIgnored() final { return FIgnored; }
  bool IsEnabled() final { return FEnabled; }
  bool IsStreaming() final { return FStreaming; }
  bool IsServed() final { return FServed; }
  void SetIsIgnored(bool AValue) final {
    FIgnored = AValue;
    UpdateWaiting();
  }
  void SetIsDelayed(bool AValue) final { FDelayed = AValue; }
  void SetIsEnabled(bool AValue) final {
    FEnabled = AValue;
    UpdateWaiting();
  }
  void SetIsServed(bool AValue) final { FServed = AValue; }
  double GetRate() final { return FRate; }

  bool IsStartReady() override;
  bool IsActive() override;
  bool IsReady() final { return GetCollectedSamples() >= static_cast<std::int64_t>(FNeddedSamples); }

  std::uint32_t CalculateSampleCount(std::int32_t ASize, double AOutputRate) final;
  std::uint32_t GetNeededSamples() final { return FNeddedSamples; }
  std::int32_t GetSizeForRate(double AOutputRate) override;
  std::int32_t GetFirstBufferSizeForRate(double AOutputRate) override;
  std::int64_t GetCollectedSamples() final { return FCollected->load(std::memory_order_acquire); }
  void StretchLoadBufferSize(const TIntfPtr<INXDataBuffer>& AOutput) override;
  TFTBasicPin* GetPin() final { return FPin; }

  // ---- for the owning component, under its lock
  // Adds this input to *ACount while it waits, from now on, until
  // DetachWaitCount; AWaitForNeeded as above.
  void AttachWaitCount(std::int32_t* ACount, bool AWaitForNeeded) noexcept;
  void DetachWaitCount() noexcept;
  void SetWaitForNeeded(bool AValue) noexcept {
    FWaitForNeeded = AValue;
    UpdateWaiting();
  }
  bool IsWaiting() const noexcept { return FWaiting; }

 protected:
  // Copies up to ACount queued samples into ATarget (kind ATargetKind) from
  // element AOffset on, converting when the kinds differ; returns the count.
  virtual std::int64_t TakeInto(const TIntfPtr<INXDataBuffer>& ATarget, TNXQueuedKind ATargetKind,
                                std::int32_t AOffset, std::int32_t ACount) = 0;
  std::int32_t ToOutputRate(std::int64_t ACount, double AOutputRate) const;
  // Brings the attached count in step after a change of the state or the queue.
  void UpdateWaiting() noexcept {
    const std::int64_t least = FWaitForNeeded && FNeddedSamples > 1 ? FNeddedSamples : 1;
    const bool waiting = FEnabled && FRunning && !FIgnored && GetCollectedSamples() < least;
    if (waiting == FWaiting) return;
    FWaiting = waiting;
    if (FWaitCount) *FWaitCount += waiting ? 1 : -1;
  }

  TFTBasicPin* FPin;
  const std::atomic<std::int64_t>* FCollected = nullptr;  // the queue's published sample count
  std::uint32_t FNeddedSamples = 0;
  bool FRunning = false;
  bool FDelayed = false;
  bool FIgnored = false;
  bool FStreaming = false;
  bool FEnabled = true;
  bool FStopping = false;
  bool FServed = false;
  double FRate = 0;

 private:
  // The arguments FNeddedSamples was worked out from (CalculateSampleCount
  // runs for every input before each output buffer; the result rarely changes).
  std::int32_t FNeededSize = 0;
  double FNeededOutputRate = 0;
  double FNeededRate = 0;
  std::int32_t* FWaitCount = nullptr;
  bool FWaitForNeeded = false;
  bool FWaiting = false;
};

// The element size of the buffers of interface I, where every buffer of it has
// the same one (0: ask each buffer).
template <class I>
inline constexpr std::size_t NXQueuedElementSize = 0;
template <>
inline constexpr std::size_t NXQueuedElementSize<INXRealBuffer> = sizeof(double);
template <>
inline constexpr std::size_t NXQueuedElementSize<INXComplexBuffer> = sizeof(TComplex);
template <>
inline constexpr std::size_t NXQueuedElementSize<INXIntegerBuffer> = sizeof(std::int32_t);

// The queued-pin state over buffers of interface TBufferIntf.
template <class TBufferIntf>
class TNXFTQueuedPinImpl final : public TNXFTQueuedPinState {
 public:
  using TBuffer = TIntfPtr<TBufferIntf>;
  explicit TNXFTQueuedPinImpl(TFTBasicPin* APin) : TNXFTQueuedPinState(APin) { FCollected = &FBufferQueue.CountRef(); }

  bool AddBuffer(const TIntfPtr<INXData>& ABuffer) override {
    TBuffer typed;
    if (!Supports(ABuffer, typed)) return false;
    if constexpr (std::is_same_v<TBufferIntf, INXDataBuffer>)
      if (NXQueuedKindOf(typed) == qkNone) return false;
    // An empty buffer is taken but not queued: it has no samples to give,
    // and at the head of the queue it would size every automatic output
    // buffer at 0, which holds the component up for good.
    if (typed->GetSize() > 0) FBufferQueue.Push(std::move(typed));
    FStreaming = true;
    UpdateWaiting();
    return true;
  }
  void ClearBuffers() override {
    FBufferQueue.Clear();
    UpdateWaiting();
  }
  TIntfPtr<INXDataBuffer> GetFirstBuffer() override { return FBufferQueue.GetFirstBuffer(); }
  std::int32_t GetFirstBufferSize() override { return FBufferQueue.GetFirstBufferSize(); }
  std::int64_t TakeSamples(std::int64_t ACount, TNXSampleConsumer AConsume) override {
    const std::int64_t taken = FBufferQueue.Take(ACount, [&](const TBuffer& b, std::int32_t off, std::int32_t n) {
      std::size_t es = NXQueuedElementSize<TBufferIntf>;
      if constexpr (NXQueuedElementSize<TBufferIntf> == 0)
        es = b->GetByteSize() / static_cast<std::uint32_t>(b->GetSize());
      AConsume(b->ByteRead() + static_cast<std::size_t>(off) * es, n);
    });
    UpdateWaiting();
    return taken;
  }
  // The typed form of StretchLoadBufferSize (real, complex and integer pins).
  void StretchLoadBuffer(const TBuffer& AOutput) { StretchLoadBufferSize(AOutput); }

 protected:
  std::int64_t TakeInto(const TIntfPtr<INXDataBuffer>& ATarget, TNXQueuedKind ATargetKind, std::int32_t AOffset,
                        std::int32_t ACount) override;

 private:
  TNXBufferQueue<TBuffer> FBufferQueue;
};

// Copies ACount elements of kind ASourceKind at ASource into ATarget (kind
// ATargetKind) from element ATargetIndex on, converting between the kinds:
// complex to real or integer takes the real part, real to integer rounds
// (halves to even) and saturates, a Boolean source counts bits from
// ASourceBit on.
void NXQueuedConvert(TNXQueuedKind ASourceKind, const std::uint8_t* ASource, std::int32_t ASourceBit,
                     TNXQueuedKind ATargetKind, std::uint8_t* ATarget, std::int32_t ATargetIndex,
                     std::int32_t ACount);

template <class TBufferIntf>
std::int64_t TNXFTQueuedPinImpl<TBufferIntf>::TakeInto(const TIntfPtr<INXDataBuffer>& ATarget,
                                                       TNXQueuedKind ATargetKind, std::int32_t AOffset,
                                                       std::int32_t ACount) {
  std::uint8_t* target = ATarget->ByteModify();
  std::int32_t at = AOffset;
  const std::int64_t taken = FBufferQueue.Take(ACount, [&](const TBuffer& b, std::int32_t off, std::int32_t n) {
    const TNXQueuedKind kind = NXQueuedKindOf(b);
    if (kind == qkBoolean) NXQueuedConvert(kind, b->ByteRead(), off, ATargetKind, target, at, n);
    else {
      const std::size_t es = b->GetByteSize() / static_cast<std::uint32_t>(b->GetSize());
      NXQueuedConvert(kind, b->ByteRead() + off * es, 0, ATargetKind, target, at, n);
    }
    at += n;
  });
  UpdateWaiting();
  return taken;
}

// ---------------------------------------------------------------- queued sink pins

// What a component reads of every queued pin, whatever its base class.
class TNXFTQueuedPinHolder {
 public:
  virtual ~TNXFTQueuedPinHolder() = default;
  IFTNXQueuedPin* GetQueuedPin() const noexcept { return FQueueIntf.Get(); }
  TNXFTQueuedPinState* GetQueuedState() const noexcept { return FState; }

 protected:
  TIntfPtr<IFTNXQueuedPin> FQueueIntf;
  TNXFTQueuedPinState* FState = nullptr;  // the object behind FQueueIntf
};
// The queued-pin state of APin; null when APin is not a queued pin.
IFTNXQueuedPin* NXFTGetQueuedPin(TFTBasicPin* APin) noexcept;
TNXFTQueuedPinState* NXFTGetQueuedState(TFTBasicPin* APin) noexcept;

// A queued pin over the sink pin TBase, queuing buffers of TBufferIntf. The
// handler given at construction receives every operation (the component's
// input dispatch); it adds the buffers to the queue itself.
template <class TBase, class TBufferIntf>
class TNXFTQueuedSinkPin : public TBase, public TNXFTQueuedPinHolder {
 public:
  using TQueue = TNXFTQueuedPinImpl<TBufferIntf>;
  explicit TNXFTQueuedSinkPin(std::string AName = {}, TFTPinEvent AOnConnect = {}, TCriticalSection* ALock = nullptr,
                              TFTBasicPinNotificationEvent AHandler = {})
      : TBase(std::move(AName), std::move(AOnConnect), ALock, std::move(AHandler)), FQueue(new TQueue(this)) {
    FQueueIntf = TIntfPtr<IFTNXQueuedPin>(FQueue);
    FState = FQueue;
  }
  ~TNXFTQueuedSinkPin() override { this->Close(); }
  TQueue& GetQueue() const noexcept { return *FQueue; }

 private:
  TQueue* FQueue;  // owned through FQueueIntf
};

#define NX_FT_QUEUED_PIN(Self, Base, BufferIntf)                  \
  class Self : public TNXFTQueuedSinkPin<Base, BufferIntf> {      \
    NX_FT_PIN_CLASS(Self, Base)                                   \
   public:                                                        \
    using TNXFTQueuedSinkPin::TNXFTQueuedSinkPin;                 \
  };
NX_FT_QUEUED_PIN(TNXFTQueuedRealSinkPin, TNXFTRealSinkPin, INXRealBuffer)
NX_FT_QUEUED_PIN(TNXFTQueuedComplexSinkPin, TNXFTComplexSinkPin, INXComplexBuffer)
NX_FT_QUEUED_PIN(TNXFTQueuedIntegerSinkPin, TNXFTIntegerSinkPin, INXIntegerBuffer)
NX_FT_QUEUED_PIN(TNXFTQueuedIntegerRealSinkPin, TNXFTComboRealIntSinkPin, INXDataBuffer)
NX_FT_QUEUED_PIN(TNXFTQueuedIntegerRealComplexSinkPin, TNXFTIntegerRealComplexSinkPin, INXDataBuffer)
NX_FT_QUEUED_PIN(TNXFTComboRealIntComplexBoolPairedQueuedSinkPin, TNXFTComboRealIntComplexBoolPairedSinkPin,
                 INXDataBuffer)
#undef NX_FT_QUEUED_PIN

namespace NXRealQueue {
// Start-up: the class defaults of the queued pin classes.
void UnitInitialize();
void UnitFinalize();
}  // namespace NXRealQueue

}  // namespace nx
