// NXCommonFilter: the skeleton of every one-input, one-output signal filter.
// A filter receives operations on its input pin, keeps the stream's sample
// rate, processes each supplied buffer (on the sending thread, or on a worker
// thread of its own behind a bounded queue), sends the result (or, disabled,
// the input unchanged) from its output pin and forwards everything else. A
// concrete filter overrides only its processing hook, FilterInternalOperation.
//
// Class tree:
//   TNXThreadingQueue, TNXThreading        the published threading settings
//   INXFilterThread                        the worker, as the filter sees it (NXFilterThread.h)
//   TNXBasicTypedThreadedFilter<I>         threading, the worker, the buffer path hooks
//     TNXBasicTypedThreadedEnableFilter<I> published Enabled
//       TNXBasicCommonFilter               the buffer path (BufferOperation)
//         TNXCommonFilter                  the input dispatch and the sample rate
//           TNXCommonRealFilter            real pins and typed processing
//             TNXCommonTapsFilter          taps and their frequency response
//           TNXCommonIntegerFilter, TNXCommonComplexFilter, TNXCommonBinaryFilter
//   TNXBasicEnableFilter                   Enabled on a component without threading
//
// Locks. The component's lock pairs an input and an output lock. A sender
// runs the buffer path under the input lock (which guards the worker
// reference); processing and sending run under the output lock, so along a
// chain without workers the output locks are taken in stream order. A sender
// waits for queue space with the component's lock released, so that the
// worker, which takes the output lock, can go on. A worker is joined only
// with the component's lock released (it may be waiting for that lock), and
// a stop waits for the worker's queue to drain the same way.
//
// Buffers. The path never copies samples: input and output are sharing
// copies of the received buffer, and the output copies its block only when a
// hook writes it while another owner holds it. A filter that can work in
// place (CanInline) writes into the received block when it is the only
// receiver of an operation (nsExclusive), on the sender's thread or on its
// worker (the queue keeps, per operation, whether it was handed over; the
// operation that brought the buffer is sent on). Elsewhere (with other
// receivers) the output is a second buffer on the input's block:
// a hook that computes every output sample from the input should then read
// the input and Write the output, which takes a fresh block without copying
// the samples it is about to replace; Modify would copy them first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "buffers/NXBufferInterfaces.h"
#include "components/NXPinOwner.h"
#include "infrastructure/RGComponent.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Mutex.h"
#include "runtime/Zandor.Sync.h"
#include "runtime/Zandor.TypeInfo.h"
#include "runtime/Zandor.Types.h"
#include "components/NXGenericFilterTypes.h"
#include "streams/NXStreamTypes.h"
#include "streams/NXVariantStorages.h"

namespace nx {

// What a sender does when the worker's queue is full.
enum TNXQueueFullMode : std::uint8_t {
  fmBlock,     // the sender waits for room
  fmDropData,  // the operation is discarded
};
NX_ENUM_NAMES(TNXQueueFullMode, "fmBlock", "fmDropData")

// The worker's queue settings: published Size (default 15, at least 1) and
// FullMode (default fmBlock). The data path reads both without the lock, from
// copies that every change updates.
class TNXThreadingQueue : public TLockPersistent {
  NX_PERSISTENT_DECL(TNXThreadingQueue, TLockPersistent)
 public:
  static constexpr std::uint32_t kMinSize = 1;
  static constexpr std::uint32_t kDefaultSize = 15;
  explicit TNXThreadingQueue(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }

  std::uint32_t Size() const noexcept { return FSizeNow.load(std::memory_order_relaxed); }
  void SetSize(std::uint32_t AValue);
  TNXQueueFullMode FullMode() const noexcept { return FFullModeNow.load(std::memory_order_relaxed); }
  void SetFullMode(TNXQueueFullMode AValue);
  static void DeclareProperties(TClassBuilder<TNXThreadingQueue>& P);

 private:
  std::uint32_t FSize;
  TNXQueueFullMode FFullMode;
  std::atomic<std::uint32_t> FSizeNow{kDefaultSize};
  std::atomic<TNXQueueFullMode> FFullModeNow{fmBlock};
};

// The threading settings of a filter: published Enabled (default false),
// Priority (default tpNormal) and Queue; the OnQueueFull event. The owner
// installs procedures that run after a change of Priority or Enabled (under
// the owner's lock).
class TNXThreading : public TLockPersistent {
  NX_PERSISTENT_DECL(TNXThreading, TLockPersistent)
 public:
  explicit TNXThreading(TPersistent* AOwner = nullptr);

  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue);
  TThreadPriority Priority() const { return ReadLocked(FPriority); }
  void SetPriority(TThreadPriority AValue);
  TNXThreadingQueue* Queue() const noexcept { return FQueue.get(); }
  // The event has a small lock of its own: a sender reads it while the
  // worker holds the component's output lock, and must not wait for that.
  TNXNotifyEvent OnQueueFull() const;
  void SetOnQueueFull(TNXNotifyEvent AEvent);
  // The owner's procedures (set once, before the owner is used).
  void SetPriorityNotify(std::function<void()> AProc) { FPriorityNotify = std::move(AProc); }
  void SetEnableNotify(std::function<void()> AProc) { FEnableNotify = std::move(AProc); }
  TPersistent* OwnerComponent() const noexcept { return GetOwner(); }
  static void DeclareProperties(TClassBuilder<TNXThreading>& P);

 private:
  bool FEnabled;
  TThreadPriority FPriority;
  std::function<void()> FPriorityNotify;
  std::function<void()> FEnableNotify;
  std::unique_ptr<TNXThreadingQueue> FQueue;
  mutable std::mutex FEventLock;
  TNXNotifyEvent FOnQueueFull;
};

// The worker thread of a filter, seen from its owner.
struct INXFilterThread : virtual IInterface {
  NX_INTERFACE_ID(INXFilterThread, "{7C3F5A2E-1B84-4D6A-9E07-3A5C8D2F6B41}");
  // Appends AOperation to the queue (on the sender's thread). When the queue
  // is full it blocks or drops by the owner's settings; a terminated thread
  // takes nothing.
  virtual void PushOperation(const TIntfPtr<IFTNotifyOperation>& AOperation) = 0;
  // Empties the queue (the operation in progress finishes).
  virtual void FlushQueue() = 0;
  // Signalled while the queue is drained and nothing is in progress.
  virtual TEvent& GetQueueEvent() = 0;
  // Waits up to ATimeoutMs for the queue event: true when every operation
  // queued before the call has been handled. On the worker itself false at
  // once (its queue cannot drain while it waits).
  virtual bool WaitForQueue(std::uint32_t ATimeoutMs) = 0;
  // True on the worker's own thread.
  virtual bool IsWorkerThread() const = 0;
  // Ends the thread and waits for it (unless called on it).
  virtual void Terminate() = 0;
  virtual void SetPriority(TThreadPriority APriority) = 0;
  virtual TThreadPriority GetPriority() const = 0;
  // The operations waiting in the queue (a snapshot).
  virtual std::int32_t QueuedCount() = 0;
  // PushOperation for an operation whose sender handed its data over
  // (delivered to this filter alone): the worker may then write that data in
  // place, as a filter without a worker does. (Last, so that the earlier
  // entries keep their places.)
  virtual void PushHandedOver(const TIntfPtr<IFTNotifyOperation>& AOperation) = 0;
};

// The procedure a worker hands each operation to.
using TNXFilterPumpProc = std::function<void(const TIntfPtr<IFTNotifyOperation>& AOperation)>;

// The threaded filter, generic over the worker's interface (used with
// INXFilterThread). Virtual hooks, in their order: IsEnabled, FilterPump,
// IntSingleOperation, IntSingleBufferOperation, BufferOperation,
// EnabledChanged, StreamStop, StreamStart, CreateProcessingThread,
// SinkDispatch, OutputPinsNotify, GetOutputPin, SetEnabled,
// IntBufferOperation, CanInline, SetSampleRate.
// It owns its pins (INXPinOwner): the typed filters register "InputPin"
// and "OutputPin", and a derived filter declares any further pin as a
// TNXOwnedPin member.
template <class TThreadIntf>
class TNXBasicTypedThreadedFilter : public TRGInputOutputLockComponent, public INXPinOwner {
  NX_PERSISTENT_DECL(TNXBasicTypedThreadedFilter, TRGInputOutputLockComponent)
 public:
  explicit TNXBasicTypedThreadedFilter(TComponent* AOwner);
  ~TNXBasicTypedThreadedFilter() override;

  TNXThreading* Threading() const noexcept { return FThreading.get(); }
  bool Running() const { return ReadLocked(FRunning); }
  // The worker, or empty when none runs.
  TIntfPtr<TThreadIntf> GetFilterThread() const;
  // How long a stop waits for the worker's queue to drain. Far longer than a
  // full queue of a working filter takes (15 buffers of a slow hook), short
  // enough that a hook that blocks does not hang the host's stop for good.
  static constexpr std::uint32_t kStopDrainTimeoutMs = 3000;
  // Empties the worker's queue (under the component's lock).
  void FlushQueue();
  // Terminates a running worker before the component goes.
  void BeforeDestruction() override;
  static void DeclareProperties(TClassBuilder<TNXBasicTypedThreadedFilter>& P);

  virtual bool IsEnabled() const { return true; }
  // Processes one operation taken from the worker's queue (on the worker).
  // A buffer that came with PushHandedOver is the filter's alone, as on the
  // exclusive path without a worker (TNXFilterThread::PumpsHandedOver).
  virtual void FilterPump(const TIntfPtr<IFTNotifyOperation>& AOperation);
  // The buffer of a supplied operation, as a new sharing reference (empty
  // for anything else).
  virtual TIntfPtr<INXData> IntSingleOperation(const TIntfPtr<IFTNotifyOperation>& AOperation);
  // Makes the output copy of AInput and processes both.
  virtual bool IntSingleBufferOperation(const TIntfPtr<INXData>& AInput);
  virtual bool BufferOperation(const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) = 0;
  virtual void EnabledChanged() {}
  // Ends the stream. A worker is taken out of the filter (buffers that come
  // now are processed on their sender), handles what was queued before the
  // stop, and ends: the stop goes on after their results (FlushQueue first
  // drops them instead). The wait lasts at most kStopDrainTimeoutMs; a worker
  // that has not drained by then (a hook that blocks) is ended as at
  // destruction: what is still queued is dropped, and the stop goes on once
  // the operation in progress returns. (That operation holds the output lock
  // the stop is sent under, so a hook that never returns still holds the
  // stop.) A stop that the worker itself handles (an operation it took from
  // its queue) waits for nothing, as what came before it is handled already;
  // that worker ends when the operation returns and is joined when the filter
  // goes (or at the next such stop).
  virtual void StreamStop();
  virtual void StreamStart();
  virtual TIntfPtr<TThreadIntf> CreateProcessingThread() = 0;
  virtual bool SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                            const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) = 0;
  // Sends AOperation from the output pin; false when there is none.
  virtual bool OutputPinsNotify(const TIntfPtr<IFTNotifyOperation>& AOperation);
  virtual TNXFTSourcePin* GetOutputPin() const { return nullptr; }
  virtual void SetEnabled(bool AValue) {}
  // Processes AInput into AOutput and sends the result; returns the send's result.
  virtual bool IntBufferOperation(const TIntfPtr<INXData>& AInput, TIntfPtr<INXData>& AOutput) { return false; }
  // True when the filter may write the received block in place.
  virtual bool CanInline() const { return false; }
  virtual void SetSampleRate(double AValue) {}

 protected:
  // Ends the worker (joined with the component's lock released). Every
  // concrete class whose members the worker uses calls it first in its
  // destructor, before those members go.
  void ShutdownThread();
  // The worker under the input lock: a sender's view.
  TIntfPtr<TThreadIntf> FFilterThread;
  bool FRunning = false;

 private:
  void PriorityChanged();
  std::unique_ptr<TNXThreading> FThreading;
  // A worker that ended itself (a stop it handled), joined when the filter goes.
  TIntfPtr<TThreadIntf> FEndedThread;
};

// The same with a published Enabled (default true).
template <class TThreadIntf>
class TNXBasicTypedThreadedEnableFilter : public TNXBasicTypedThreadedFilter<TThreadIntf> {
  NX_PERSISTENT_DECL(TNXBasicTypedThreadedEnableFilter, TNXBasicTypedThreadedFilter<TThreadIntf>)
 public:
  explicit TNXBasicTypedThreadedEnableFilter(TComponent* AOwner);
  bool Enabled() const { return this->ReadLocked(FEnabled); }
  bool IsEnabled() const override { return FEnabled; }
  void SetEnabled(bool AValue) override;
  static void DeclareProperties(TClassBuilder<TNXBasicTypedThreadedEnableFilter>& P);

 protected:
  bool FEnabled;
};

using TNXBasicThreadedFilter = TNXBasicTypedThreadedFilter<INXFilterThread>;
using TNXBasicThreadedEnableFilter = TNXBasicTypedThreadedEnableFilter<INXFilterThread>;

extern template class TNXBasicTypedThreadedFilter<INXFilterThread>;
extern template class TNXBasicTypedThreadedEnableFilter<INXFilterThread>;

// The buffer path: queue to the worker, or process at once on the sender.
class TNXBasicCommonFilter : public TNXBasicThreadedEnableFilter {
  NX_PERSISTENT_DECL(TNXBasicCommonFilter, TNXBasicThreadedEnableFilter)
 public:
  explicit TNXBasicCommonFilter(TComponent* AOwner) : TNXBasicThreadedEnableFilter(AOwner) {}
  bool BufferOperation(const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) override;
  // On the worker: a handed-over buffer takes the exclusive path (in place,
  // the operation sent on as it came); anything else the base's.
  void FilterPump(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
  TIntfPtr<INXFilterThread> CreateProcessingThread() override;

  // While a buffer handed to this filter alone is worked on in place (under
  // the output lock): the plain buffer operation that brought it, and its
  // clock count. When the hook leaves the output that very buffer at that
  // size, the typed filters send this operation on rather than a new one
  // that would say the same: no allocation and no reference traffic on the
  // in-place path. Null otherwise.
  struct TInPlaceCarrier {
    const TIntfPtr<IFTNotifyOperation>* Operation = nullptr;
    std::uint32_t ClockCount = 0;
  };
  const TInPlaceCarrier& InPlaceCarrier() const noexcept { return FInPlaceCarrier; }

 protected:
  // True when AData is already of the output pin's buffer kind, so that a
  // disabled filter can pass the operation that carried it on as it is.
  virtual bool SendsUnchanged(const INXData& AData) const { return false; }

 private:
  TInPlaceCarrier FInPlaceCarrier;
  // SendsUnchanged with the last class that passed remembered: a stream
  // brings buffers of one class, and the cross-cast is slow.
  bool PassesUnchanged(const INXData& AData);
  // Processes a supplied buffer on the calling thread (the sender's, or the
  // worker's for a handed-over one), under the output lock.
  bool ProcessBuffer(const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  std::atomic<const std::type_info*> FUnchangedClass{nullptr};
};

// The input dispatch and the stream's sample rate.
class TNXCommonFilter : public TNXBasicCommonFilter {
  NX_PERSISTENT_DECL(TNXCommonFilter, TNXBasicCommonFilter)
 public:
  explicit TNXCommonFilter(TComponent* AOwner) : TNXBasicCommonFilter(AOwner) {}
  double SampleRate() const { return ReadLocked(FSampleRate); }
  void SetSampleRate(double AValue) override;
  void StreamStop() override;
  bool SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                    TFTNotifyState AState) override;

 protected:
  // The operations that come back on the output pin from downstream: on up
  // through the input pin when it is linked; otherwise a stream query is
  // answered with an ignore-stream operation downstream and anything else
  // is taken as if it had arrived on the input.
  bool DispatchSource(TFTBasicPin& AInputPin, TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                      const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);

  double FSampleRate = 0;
};

// A filter of real buffers (and of single real values).
class TNXCommonRealFilter : public TNXCommonFilter {
  NX_PERSISTENT_DECL(TNXCommonRealFilter, TNXCommonFilter)
 public:
  using TBuffer = TIntfPtr<INXRealBuffer>;
  explicit TNXCommonRealFilter(TComponent* AOwner);
  ~TNXCommonRealFilter() override;

  TNXFTComboRealSourcePin* OutputPin() const noexcept { return FOutputPin.get(); }
  TNXFTComboRealSinkPin* InputPin() const noexcept { return FInputPin.get(); }
  TNXFTSourcePin* GetOutputPin() const override { return FOutputPin.get(); }
  bool SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                    TFTNotifyState AState) override;
  bool SourceDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                      TFTNotifyState AState);
  bool IntBufferOperation(const TIntfPtr<INXData>& AInput, TIntfPtr<INXData>& AOutput) override;
  bool SendsUnchanged(const INXData& AData) const override {
    return dynamic_cast<const INXRealBuffer*>(&AData) != nullptr;
  }

  // A single value: AOutput starts as AInput.
  virtual void InternalFloatOperation(double AInput, double& AOutput, bool& ASend) {}
  // Calls FilterInternalOperation when the output pin is linked.
  virtual void InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected);
  // The processing hook: AOutput starts as a sharing copy of AInput (write
  // it through its writing access); clear ASend to send nothing.
  virtual void FilterInternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend) {}

 private:
  TFTPinPtr<TNXFTComboRealSourcePin> FOutputPin;
  TFTPinPtr<TNXFTComboRealSinkPin> FInputPin;
};

// Filters of integer, complex and binary (byte) buffers: the same path with
// their pins and buffer interfaces.
#define NX_COMMON_TYPED_FILTER(Self, IBuffer, TSource, TSink)                                                  \
  class Self : public TNXCommonFilter {                                                                        \
    NX_PERSISTENT_DECL(Self, TNXCommonFilter)                                                                  \
   public:                                                                                                     \
    using TBuffer = TIntfPtr<IBuffer>;                                                                         \
    explicit Self(TComponent* AOwner);                                                                         \
    ~Self() override;                                                                                          \
    TSource* OutputPin() const noexcept { return FOutputPin.get(); }                                           \
    TSink* InputPin() const noexcept { return FInputPin.get(); }                                               \
    TNXFTSourcePin* GetOutputPin() const override { return FOutputPin.get(); }                                 \
    bool SourceDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,                                        \
                        const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);                \
    bool IntBufferOperation(const TIntfPtr<INXData>& AInput, TIntfPtr<INXData>& AOutput) override;             \
    bool SendsUnchanged(const INXData& AData) const override {                                                 \
      return dynamic_cast<const IBuffer*>(&AData) != nullptr;                                                  \
    }                                                                                                          \
    virtual void InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected);     \
    virtual void FilterInternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend) {}              \
                                                                                                               \
   private:                                                                                                    \
    TFTPinPtr<TSource> FOutputPin;                                                                             \
    TFTPinPtr<TSink> FInputPin;                                                                                \
  };
NX_COMMON_TYPED_FILTER(TNXCommonIntegerFilter, INXIntegerBuffer, TNXFTIntegerSourcePin, TNXFTIntegerSinkPin)
NX_COMMON_TYPED_FILTER(TNXCommonComplexFilter, INXComplexBuffer, TNXFTComplexSourcePin, TNXFTComplexSinkPin)
NX_COMMON_TYPED_FILTER(TNXCommonBinaryFilter, INXBlockBuffer, TNXFTBinarySourcePin, TNXFTBinarySinkPin)
#undef NX_COMMON_TYPED_FILTER

// The frequency response of a set of FIR taps.
class TNXFilterFrequencyResponse : public TLockPersistent {
  NX_PERSISTENT_DECL(TNXFilterFrequencyResponse, TLockPersistent)
 public:
  explicit TNXFilterFrequencyResponse(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) {}
  void SetTaps(std::vector<double> ATaps);
  std::vector<double> Taps() const { return ReadLocked(FTaps); }
  void Clear();
  // For N = the array's length, point i lies at angle w = i * pi / N (pi *
  // 1e-4 for i = 0). AMagnitudes[i] = re^2 + im^2 (the squared magnitude)
  // and APhases[i] = atan(im / (1 - re)), with re = sum taps[k] cos(k w) and
  // im = sum taps[k] sin(k w).
  void GetMagnitudes(std::vector<double>& AMagnitudes) const;
  void GetPhases(std::vector<double>& APhases) const;

 private:
  template <class F>
  void ForEachPoint(std::vector<double>& AOut, F&& AValue) const;
  std::vector<double> FTaps;
};

// A real filter defined by taps: a new sample rate designs them again (Init).
class TNXCommonTapsFilter : public TNXCommonRealFilter {
  NX_PERSISTENT_DECL(TNXCommonTapsFilter, TNXCommonRealFilter)
 public:
  explicit TNXCommonTapsFilter(TComponent* AOwner);
  TNXFilterFrequencyResponse* FrequencyResponse() const noexcept { return FFrequencyResponse.get(); }
  // Stores the rate and designs the taps again.
  void SetSampleRate(double AValue) override;
  // Designs the taps (IntInit) under the component's lock.
  virtual void Init();

 protected:
  // A concrete filter designs its taps into ATaps and then calls this, which
  // hands them to the frequency response.
  virtual void IntInit(std::vector<double>& ATaps);

 private:
  std::unique_ptr<TNXFilterFrequencyResponse> FFrequencyResponse;
};

// A filter component without threading: published Enabled (default true).
class TNXBasicEnableFilter : public TLockComponent {
  NX_PERSISTENT_DECL(TNXBasicEnableFilter, TLockComponent)
 public:
  explicit TNXBasicEnableFilter(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  bool Enabled() const { return ReadLocked(FEnabled); }
  virtual void SetEnabled(bool AValue);
  virtual void EnabledChanged() {}
  static void DeclareProperties(TClassBuilder<TNXBasicEnableFilter>& P);

 protected:
  bool FEnabled;
};

namespace NXCommonFilter {
// Start-up: registers the persistent classes of the unit; finalization removes them.
void UnitInitialize();
void UnitFinalize();
}  // namespace NXCommonFilter

}  // namespace nx
