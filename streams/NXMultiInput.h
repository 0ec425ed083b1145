// NXMultiInput: the base of components with a variable number of inputs
// whose streams are combined into one output (mixers, multiplexers). Each
// input pin queues what it receives; the component agrees on one output
// sample rate (the highest rate of its running inputs), waits until every
// active input holds enough samples for one output buffer, and then builds
// and sends that buffer (CalculateSendOutput, a hook of the derived
// component, which takes each input's samples with StretchLoadBuffer).
//
// Inputs that answer a query with ignore-stream, that are disabled, that
// start after the rate was decided (delayed) or that stopped never hold up
// the others; an input that stops while others run still gives what it
// queued to the next outputs. The component stops when no enabled input runs
// any more (GetStopOnNoStreams): it first sends what the inputs still hold
// (FlushQueued), then a stop. Every operation of the inputs runs under the
// component's lock, so inputs may be fed from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Types.h"
#include "streams/NXRealQueue.h"

namespace nx {

// The size of the output buffers: Size samples, or, with AutoSize, the
// smallest first queued buffer of the running inputs counted at the output
// rate (so that inputs that send equal spans of time give outputs of that
// span, whatever their buffer sizes).
class TNXOutputBufferSize : public TLockPersistent {
  NX_PERSISTENT(TNXOutputBufferSize, TLockPersistent)

 public:
  static constexpr std::int32_t DefaultSize = 1024;
  explicit TNXOutputBufferSize(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  std::int32_t GetSize() const { return ReadLocked(FSize); }
  // At least 1.
  void SetSize(std::int32_t AValue) { SetNotifyMin(FSize, AValue, 1); }
  bool GetAutoSize() const { return ReadLocked(FAutoSize); }
  void SetAutoSize(bool AValue) { SetNotify(FAutoSize, AValue); }
  // The same for the owning component, which holds the lock they share.
  std::int32_t HeldSize() const noexcept { return FSize; }
  bool HeldAutoSize() const noexcept { return FAutoSize; }
  static void DeclareProperties(TClassBuilder<TNXOutputBufferSize>& P);

 private:
  std::int32_t FSize;
  bool FAutoSize;
};

class TNXMultiInput : public TLockComponent {
  NX_PERSISTENT_DECL(TNXMultiInput, TLockComponent)

 public:
  explicit TNXMultiInput(TComponent* AOwner);
  ~TNXMultiInput() override;
  static void DeclareProperties(TClassBuilder<TNXMultiInput>& P);

  // ---- inputs
  // Adds an input pin made by QueuedPinCreateFunction (named "InputPin<n>")
  // and returns it; the component owns it.
  TFTBasicPin* AddInputPin();
  // Removes and frees an input pin (false when it is not one of ours).
  bool RemoveInputPin(TFTBasicPin* APin);
  // Adds or removes input pins (the last first) until there are ACount.
  void SetInputCount(std::int32_t ACount);
  std::int32_t GetInputCount() const;
  // ERangeError "Index out of range = %u" outside 0 .. GetInputCount - 1.
  TFTBasicPin* GetInputPin(std::int32_t AIndex) const;
  // The input pins, in order (under the lock: hooks run under it).
  const TFTPinList& GetInputPins() const noexcept { return FAllInputPins; }
  IFTNXQueuedPin* GetQueuedInput(std::int32_t AIndex) const;
  // Switches an input on or off; a disabled input takes no part in the
  // output and drops what it receives.
  void SetInputEnabled(std::int32_t AIndex, bool AEnabled);

  // ---- state
  double GetCalculatedRate() const { return ReadLocked(FCalculatedRate); }
  bool IsRunning() const { return ReadLocked(FRunning); }
  bool IsRateCalculated() const { return ReadLocked(FRateCalculated); }
  // The size of the output buffer being built (or built last).
  std::int32_t GetOutputSize() const { return ReadLocked(FOutputSize); }
  TNXOutputBufferSize& GetOutputBuffer() const { return *FOutputBuffer; }

  // Unlinks every pin and waits for the deliveries inside them. A derived
  // component whose hooks use members of its own calls it in its destructor.
  void ClosePins();
  void BeforeDestruction() override;
  // The stored property "BufferSize" of older documents is read as OutputBuffer.Size.
  void DefineProperties(TFiler& AFiler) override;

  // ---- virtual operations
  // The handler of every input pin (AInput) for operations from upstream.
  virtual bool SinkDispatch(TFTBasicPin* AInput, TFTBasicPin* AOtherPin, const TIntfPtr<IFTNotifyOperation>& AOperation,
                            TFTNotifyState AState);
  // The handler of the output pin for operations from downstream.
  virtual bool SourceDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                              const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  // Whether the component stops when no input streams any more (true).
  virtual bool GetStopOnNoStreams() { return true; }
  // Stops every input, empties the queues, forgets the rate and, when it
  // was running, sends a stop from the output pin.
  virtual void Stop();
  // Sends as many output buffers as the queued samples allow; true when one was sent.
  virtual bool TrySend();
  // Decides the output rate when every input is start-ready and announces it.
  virtual void CalculateRate();
  // Builds the output buffer of ASize samples from the inputs' samples and
  // sends it; true when sent. Empty (false) here.
  virtual bool CalculateSendOutput(std::int32_t ASize) { return false; }
  // May change the output size chosen for the next buffer. Empty here.
  virtual void AdjustBufferSiize(std::int32_t& ASize) {}
  virtual TNXFTSourcePin* GetOutputPin() = 0;
  // Makes an input pin of the component's kind whose handler is AHandler.
  virtual TFTBasicPin* QueuedPinCreateFunction(std::string AName, TFTBasicPinNotificationEvent AHandler) = 0;
  virtual void QueuedPinDestroyFunction(TFTBasicPin* APin);

 protected:
  // Stops the component when GetStopOnNoStreams and no enabled input runs,
  // after sending what the inputs still hold (FlushQueued).
  void AttemptStop();
  // Sends output buffers until no enabled input holds a sample: of the
  // fixed size, an input that runs short giving zeros for the rest (so the
  // last buffer is padded); with AutoSize, sized by the smallest first
  // buffer still queued, as while streaming. Stop itself discards the queues.
  void FlushQueued();
  // The samples the enabled inputs hold.
  std::int64_t QueuedSamples() const;
  // Tells the inputs about the output rate: inputs not running are delayed
  // (they join when they start), running ones get their needed samples for
  // a fixed output size.
  void SetSampleRates();
  void CalculateRateInt();
  // The queued state of every input pin, in pin order.
  const std::vector<TNXFTQueuedPinState*>& Queues() const noexcept { return FQueues; }
  // The output pin's handler; installed by the derived constructor.
  void InstallSourceDispatch();
  void CloseInputPins();

 private:
  TFTPinList FAllInputPins;
  std::vector<TFTPinPtr<TFTBasicPin>> FOwnedPins;  // the same pins, owned
  std::vector<TNXFTQueuedPinState*> FQueues;        // their queued states
  // The inputs that hold the output up: enabled, streaming, and short of
  // samples (of any sample with AutoSize, else of their needed samples). The
  // queued states keep it in step (AttachWaitCount), so an arriving buffer
  // finds out whether an output may be due without looking at every input.
  std::int32_t FWaitingInputs = 0;
  bool FWaitForNeeded = false;  // the mode the states count in: not AutoSize
  std::int32_t FNextPinNumber = 1;
  double FCalculatedRate = 0;
  std::unique_ptr<TNXOutputBufferSize> FOutputBuffer;
  std::int32_t FOutputSize = 0;
  bool FRunning = false;
  bool FPumpStarted = false;
  bool FInCalculateRate = false;
  bool FRateCalculated = false;
};

// Real inputs (TNXFTQueuedRealSinkPin) into one real output pin.
class TNXRealMultiInput : public TNXMultiInput {
  NX_PERSISTENT_DECL(TNXRealMultiInput, TNXMultiInput)

 public:
  explicit TNXRealMultiInput(TComponent* AOwner);
  ~TNXRealMultiInput() override;
  TNXFTSourcePin* GetOutputPin() override { return &FOutputPin; }
  TNXFTRealSourcePin& OutputPin() noexcept { return FOutputPin; }
  TFTBasicPin* QueuedPinCreateFunction(std::string AName, TFTBasicPinNotificationEvent AHandler) override;

 protected:
  // For CalculateSendOutput: puts the next output span of input AIndex into
  // AOutput (ASize samples: its needed samples, stretched to ASize), added
  // to what AOutput holds, or copied over it when AFirst. False, leaving
  // AOutput alone, when the input has nothing to give (disabled, or stopped
  // with an empty queue). An input at the output rate is taken straight from
  // its queued buffers.
  bool LoadInput(std::int32_t AIndex, double* AOutput, std::int32_t ASize, bool AFirst);
  // The sum of every input's next output span (LoadInput) into AOutput;
  // zeros when no input gives anything.
  void SumInputs(double* AOutput, std::int32_t ASize);

 private:
  TNXFTRealSourcePin FOutputPin;
};

// Complex inputs (TNXFTQueuedComplexSinkPin) into one complex output pin.
class TNXComplexMultiInput : public TNXMultiInput {
  NX_PERSISTENT(TNXComplexMultiInput, TNXMultiInput)

 public:
  explicit TNXComplexMultiInput(TComponent* AOwner);
  ~TNXComplexMultiInput() override;
  TNXFTSourcePin* GetOutputPin() override { return &FOutputPin; }
  TNXFTComplexSourcePin& OutputPin() noexcept { return FOutputPin; }
  TFTBasicPin* QueuedPinCreateFunction(std::string AName, TFTBasicPinNotificationEvent AHandler) override;

 private:
  TNXFTComplexSourcePin FOutputPin;
};

namespace NXMultiInput {
// Start-up: registers the property classes.
void UnitInitialize();
void UnitFinalize();
}  // namespace NXMultiInput

}  // namespace nx
