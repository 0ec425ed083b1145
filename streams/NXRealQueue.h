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
#include <functional>
#include <type_traits>

#include "buffers/NXSimpleDataBuffer.h"
#include "streams/NXStreamTypes.h"
#include "streams/NXVariantStorages.h"

namespace nx {

// The queue and stream state of one input pin.
struct IFTNXQueuedPin : virtual IInterface {
  NX_INTERFACE_ID(IFTNXQueuedPin, "{AEE73535-9267-4CB2-ABF7-905245E0EB46}");
  // The stream starts at ARate: running; no longer stopping, delayed or ignored.
  virtual void StartRate(double ARate) = 0;
  // Queues ABuffer; false (nothing queued) when it is not a buffer of a kind the pin takes.
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
  virtual std::int64_t TakeSamples(std::int64_t ACount,
                                   const std::function<void(const void* AData, std::int32_t ACount)>& AConsume) = 0;
  virtual TFTBasicPin* GetPin() = 0;
};

// The element kinds a queued pin converts between.
enum TNXQueuedKind : std::uint8_t { qkNone, qkReal, qkComplex, qkInteger, qkUnsigned, qkBoolean };
TNXQueuedKind NXQueuedKindOf(const TIntfPtr<INXDataBuffer>& ABuffer) noexcept;

// The state shared by every queued pin; TBufferIntf is the buffer interface
// the pin queues (INXDataBuffer for pins that take several kinds).
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
  void SetIsIgnored(bool AValue) final { FIgnored = AValue; }
  void SetIsDelayed(bool AValue) final { FDelayed = AValue; }
  void SetIsEnabled(bool AValue) final { FEnabled = AValue; }
  void SetIsServed(bool AValue) final { FServed = AValue; }
  double GetRate() final { return FRate; }

  bool IsStartReady() override;
  bool IsActive() override;
  bool IsReady() override { return GetCollectedSamples() >= static_cast<std::int64_t>(FNeddedSamples); }

  std::uint32_t CalculateSampleCount(std::int32_t ASize, double AOutputRate) override;
  std::uint32_t GetNeededSamples() final { return FNeddedSamples; }
  std::int32_t GetSizeForRate(double AOutputRate) override;
  std::int32_t GetFirstBufferSizeForRate(double AOutputRate) override;
  void StretchLoadBufferSize(const TIntfPtr<INXDataBuffer>& AOutput) override;
  TFTBasicPin* GetPin() final { return FPin; }

 protected:
  // Copies up to ACount queued samples into ATarget (kind ATargetKind) from
  // element AOffset on, converting when the kinds differ; returns the count.
  virtual std::int64_t TakeInto(const TIntfPtr<INXDataBuffer>& ATarget, TNXQueuedKind ATargetKind,
                                std::int32_t AOffset, std::int32_t ACount) = 0;
  std::int32_t ToOutputRate(std::int64_t ACount, double AOutputRate) const;

  TFTBasicPin* FPin;
  std::uint32_t FNeddedSamples = 0;
  bool FRunning = false;
  bool FDelayed = false;
  bool FIgnored = false;
  bool FStreaming = false;
  bool FEnabled = true;
  bool FStopping = false;
  bool FServed = false;
  double FRate = 0;
};

// The queued-pin state over buffers of interface TBufferIntf.
template <class TBufferIntf>
class TNXFTQueuedPinImpl final : public TNXFTQueuedPinState {
 public:
  using TBuffer = TIntfPtr<TBufferIntf>;
  using TNXFTQueuedPinState::TNXFTQueuedPinState;

  bool AddBuffer(const TIntfPtr<INXData>& ABuffer) override {
    TBuffer typed;
    if (!Supports(ABuffer, typed)) return false;
    if constexpr (std::is_same_v<TBufferIntf, INXDataBuffer>)
      if (NXQueuedKindOf(typed) == qkNone) return false;
    FBufferQueue.Push(std::move(typed));
    FStreaming = true;
    return true;
  }
  void ClearBuffers() override { FBufferQueue.Clear(); }
  TIntfPtr<INXDataBuffer> GetFirstBuffer() override { return FBufferQueue.GetFirstBuffer(); }
  std::int32_t GetFirstBufferSize() override { return FBufferQueue.GetFirstBufferSize(); }
  std::int64_t GetCollectedSamples() override { return FBufferQueue.GetCount(); }
  std::int64_t TakeSamples(std::int64_t ACount,
                           const std::function<void(const void*, std::int32_t)>& AConsume) override {
    return FBufferQueue.Take(ACount, [&](const TBuffer& b, std::int32_t off, std::int32_t n) {
      const std::int32_t size = b->GetSize();
      AConsume(b->ByteRead() + static_cast<std::size_t>(off) * (b->GetByteSize() / size), n);
    });
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
  return FBufferQueue.Take(ACount, [&](const TBuffer& b, std::int32_t off, std::int32_t n) {
    const TNXQueuedKind kind = NXQueuedKindOf(b);
    if (kind == qkBoolean) NXQueuedConvert(kind, b->ByteRead(), off, ATargetKind, target, at, n);
    else {
      const std::size_t es = b->GetByteSize() / static_cast<std::uint32_t>(b->GetSize());
      NXQueuedConvert(kind, b->ByteRead() + off * es, 0, ATargetKind, target, at, n);
    }
    at += n;
  });
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
