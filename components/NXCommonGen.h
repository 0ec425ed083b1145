// NXCommonGen: the base classes of every signal source (sine, noise, file
// players ...): start and stop, pacing and pump negotiation. A generator
// produces one buffer of BufferSize samples per pump and sends it from its
// output pin. What paces it:
//   - its own clock thread (TNXClockGen) when it is the pump: each tick of an
//     interval of a whole number of buffers, at least 1 ms, produces that
//     many buffers;
//   - an external clock linked to ClockInputPin: one buffer per clock
//     operation (ClockSource csExternal, or csAuto with the input linked);
//   - a downstream component that answered the pump request by naming
//     itself master: one buffer per distinct master-pump operation it sends
//     upstream.
//
// Starting. Enabled defaults to true, but a generator made in code starts
// only when asked: CreateStart (after its pins are linked), Start or
// SetEnabled(true). One read from a document starts in Loaded.
//
// Locks. Every state change and every pump runs under the component's lock,
// and buffers are sent with it held. A stop releases the lock while it waits
// for the clock thread to end, so a tick that waits for the lock cannot
// hold the stop up; the stale tick then finds its clock gone and does nothing.
//
// Freeing. Free a generator with Free() (or TComponent::Free): its
// BeforeDestruction stops the stream while the whole object exists. The
// destructors end the clock thread too, as a safety net for `delete`.
//
// A concrete generator overrides IntGenerate (real generators: fill the
// real buffer they are handed; integer, complex and block generators:
// supply the buffer), and may override StartStream, GetCanStart and the rest.
#pragma once

#include <atomic>
#include <cstdint>

#include "components/NXClockGen.h"
#include "components/NXGenericFilterTypes.h"
#include "runtime/Zandor.Components.h"
#include "components/NXPinOwner.h"
#include "runtime/Zandor.Function.h"
#include "streams/NXStreamTypes.h"
#include "streams/NXTypes.h"

namespace nx {

class TNXBasicCommonGen : public TLockComponent {
  NX_PERSISTENT_DECL(TNXBasicCommonGen, TLockComponent)

 public:
  explicit TNXBasicCommonGen(TComponent* AOwner);
  ~TNXBasicCommonGen() override;
  static void DeclareProperties(TClassBuilder<TNXBasicCommonGen>& P);

  // Enabled := true / false.
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }
  // Starts a generator made in code (Enabled true) once its pins are linked.
  void CreateStart();
  // Tell everything downstream that the stream pauses or goes on: the
  // stream's pause and resume operations through every output pin, from a
  // running generator (a stopped one sends nothing). Pacing stays the
  // host's: it holds the master clock first (NXSetClockStepLimit), so that
  // no buffer of this generator's own clock passes the announcement.
  void NotifyPause();
  void NotifyResume();

  bool GetEnabled() const { return ReadLocked(FEnabled); }
  // Stores the flag; then, unless designing, starts when enabled (also when
  // it was enabled before) and stops when disabled.
  void SetEnabled(bool AValue);
  TNXClockSource GetClockSource() const { return ReadLocked(FClockSource); }
  // A change while running stops an internal clock and negotiates the pump
  // again.
  void SetClockSource(TNXClockSource AValue);
  std::uint32_t GetPumpPriority() const { return ReadLocked(FPumpPriority); }
  void SetPumpPriority(std::uint32_t AValue) { SetNotify(FPumpPriority, AValue); }

  // Fired at the end of every stop (under the lock).
  void SetOnStop(TNXNotifyEvent AEvent);

  TFTClockMultiSinkPin& ClockInputPin() noexcept { return *FClockInputPin; }
  // True for csExternal, and for csAuto while the clock input is linked.
  bool ClockIsExternal() const;

  // State (snapshots).
  bool IsRunning() const { return ReadLocked(FIsRunning); }
  bool IsPump() const { return ReadLocked(FIsPump); }
  // The component that paces this generator, when it is not its own pump.
  void* GetMasterPump() const { return ReadLocked(FMasterPump); }
  double GetPumpRate() const { return ReadLocked(FPumpRate); }
  // The clock thread while this generator paces itself (else empty).
  TIntfPtr<TNXClockGen> GetClockGen() const;

  // A master-pump operation from AMaster with identifier AOperationID: one
  // buffer unless this identifier was seen last (several paths deliver one
  // operation several times).
  void MasterPump(void* AMaster, std::uint32_t AOperationID);
  // The handler of operations arriving on the output pin from downstream.
  virtual bool DispatchOperation(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                 const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);

  // The identity this generator names in pump requests.
  void* PumpIdentity() noexcept { return static_cast<void*>(this); }

  void Loaded() override;
  void BeforeDestruction() override;

 protected:
  // Sends AOperation through every output pin (none here).
  virtual bool NotifyOutputPins(const TIntfPtr<IFTNotifyOperation>& AOperation) { return false; }
  // Settles who paces the stream (see the unit's comment).
  virtual void RequestPump();
  // StartStream, SetRate and the start-sample-rate announcement.
  virtual void IntStartStream();
  virtual void IntStart();
  // Stops the clock, sends a stop, clears Enabled and fires OnStop.
  virtual void StreamStop();
  // Starts pacing when this generator is the pump (nothing here).
  virtual void StartPump() {}
  virtual void TryStart();
  virtual std::int32_t GetBufferSize() const { return 1; }
  virtual double GetSampleRate() const { return 0; }
  virtual bool GetCanStart() { return true; }
  // Produces and sends one buffer.
  virtual void IntPump() {}
  // The rate announced by a stream start (from this generator or from
  // downstream).
  virtual void SetRate(double ARate) {}
  // Answers a query for the stream while disabled.
  virtual void NotifyIgnoreOutputPin();
  // A hook run as the stream starts.
  virtual void StartStream() {}

  // Ends the clock thread (if any), waiting for it with the lock released
  // unless it is the calling thread.
  void StopPump();
  // Stops from inside a pump (the generator's stop flag).
  void PostStop();
  // One external clock tick.
  void Pump();
  // Whether a pump may produce a buffer now (under the lock).
  bool CanPump() const;
  // The handler of the clock input.
  bool ClockDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                     const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  // Ends the clock threads for good (destructors of concrete generators,
  // before their pins go).
  void ShutDownClock();

  TFTPinPtr<TFTClockMultiSinkPin> FClockInputPin;
  bool FIsRunning = false;
  std::uint32_t FLastOperationID = 0;
  bool FFirstRequest = true;
  bool FIsPump = false;
  void* FMasterPump = nullptr;
  bool FInStopping = false;
  double FPumpRate = 0;
  bool FEnabled = true;
  // Enabled as the stream query reads it, without the lock (written with it).
  std::atomic<bool> FEnabledNow{true};
  TNXClockSource FClockSource = csAuto;
  std::uint32_t FPumpPriority = 0;
  TNXNotifyEvent FOnStop;
  TIntfPtr<TNXClockGen> FClockGen;
  // A clock thread that ended itself from its own tick: waited for before
  // the next clock starts and before the generator goes.
  TIntfPtr<TNXClockGen> FRetiredClock;
  bool FInStreamStop = false;
};

class TNXCommonGen : public TNXBasicCommonGen {
  NX_PERSISTENT_DECL(TNXCommonGen, TNXBasicCommonGen)

 public:
  static constexpr double DefaultSampleRate = 1000.0;
  explicit TNXCommonGen(TComponent* AOwner);
  static void DeclareProperties(TClassBuilder<TNXCommonGen>& P);

  double GetSampleRateValue() const { return ReadLocked(FSampleRate); }
  // 0 is stored as 0.000001, negative values as 0.
  void SetSampleRate(double AValue);
  // Buffers produced per clock tick.
  std::int32_t GetBuffersPerGen() const { return ReadLocked(FBuffersPerGen); }

  // The internal clock for a buffer of ABufferSize samples at ASampleRate:
  // the smallest whole number of buffers per tick whose interval (100 ns
  // units) is at least 1 ms. False when the rate rounds to less than 1 (such
  // a generator cannot pace itself).
  static bool ClockIntervalFor(double ASampleRate, std::int32_t ABufferSize, std::int64_t& AInterval,
                               std::int32_t& ABuffersPerGen);

 protected:
  double GetSampleRate() const override { return FSampleRate; }
  void SetRate(double ARate) override { FSampleRate = ARate; }
  void StartPump() override;
  // One tick of the clock thread AThread: BuffersPerGen pumps.
  void Clock(IThread* AThread);

  double FSampleRate = DefaultSampleRate;
  std::int32_t FBuffersPerGen = 1;
};

class TNXCommonBufferGen : public TNXCommonGen {
  NX_PERSISTENT_DECL(TNXCommonBufferGen, TNXCommonGen)

 public:
  static constexpr std::int32_t DefaultBufferSize = 1024;
  explicit TNXCommonBufferGen(TComponent* AOwner);
  static void DeclareProperties(TClassBuilder<TNXCommonBufferGen>& P);

  std::int32_t GetBufferSizeValue() const { return ReadLocked(FBufferSize); }
  // Values below 1 are raised to 1.
  void SetBufferSize(std::int32_t AValue) { SetNotify(FBufferSize, AValue < 1 ? 1 : AValue); }
  void SetOnStart(TNXStartNotify AEvent);

 protected:
  std::int32_t GetBufferSize() const override { return FBufferSize; }
  // OnStart, then the common start.
  void IntStart() override;
  // The hook of concrete generators: fills (or supplies) ABuffer; may clear
  // ASendFlag to send nothing and set AStopFlag to end the stream.
  virtual void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) = 0;
  // IntGenerate and what follows it: sends through ASend when the flag
  // stays set, stops when the stop flag is set.
  void GenerateAndSend(TIntfPtr<INXDataBuffer> ABuffer, const std::function<void(const TIntfPtr<INXData>&)>& ASend);

  std::int32_t FBufferSize = DefaultBufferSize;
  TNXStartNotify FOnStart;
};

// Real generators: the base makes the buffer, IntGenerate fills it.
class TNXCommonBaseRealGen : public TNXCommonBufferGen {
  NX_PERSISTENT_DECL(TNXCommonBaseRealGen, TNXCommonBufferGen)

 public:
  using TNXCommonBufferGen::TNXCommonBufferGen;
  // Runs the generator on a one-sample buffer holding AValue; when sending is
  // allowed AValue becomes that sample and the result is true. A set stop
  // flag stops the stream.
  virtual bool GenerateFloat(double& AValue);

  // The real buffer IntGenerate is handed (null for any other kind).
  static INXRealBuffer* RealOf(const TIntfPtr<INXDataBuffer>& ABuffer) noexcept;

 protected:
  void IntPump() override;
  // Sends one real buffer.
  virtual void SubmitReal(const TIntfPtr<INXData>& ABuffer) = 0;
};

// Generators whose IntGenerate supplies the buffer; it is sent in a
// supplied-buffer operation through the output pins.
class TNXCommonPinBufferGen : public TNXCommonBufferGen {
  NX_PERSISTENT(TNXCommonPinBufferGen, TNXCommonBufferGen)

 public:
  using TNXCommonBufferGen::TNXCommonBufferGen;

 protected:
  void IntPump() override;
};

// The concrete bases with their output pins ("OutputPin"). They own their
// pins (INXPinOwner): "OutputPin" and "ClockInputPin" are registered, and a
// derived generator declares any further pin as a TNXOwnedPin member.
template <class TBase, class TPin>
class TNXGenWithOutput : public TBase, public INXPinOwner {
 public:
  explicit TNXGenWithOutput(TComponent* AOwner) : TBase(AOwner), FOutputPin(FTMakePin<TPin>()) {
    FOutputPin->SetPropertyName("OutputPin");
    this->AddPin(*FOutputPin);
    this->AddPin(this->ClockInputPin());
    FOutputPin->SetGenericDispatch([this](TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                          const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
      return this->DispatchOperation(AOtherPin, AStreamID, AOperation, AState);
    });
  }
  ~TNXGenWithOutput() override { this->ShutDownClock(); }
  TPin& OutputPin() noexcept { return *FOutputPin; }

 protected:
  bool NotifyOutputPins(const TIntfPtr<IFTNotifyOperation>& AOperation) override {
    return FOutputPin->Notify(AOperation);
  }
  TFTPinPtr<TPin> FOutputPin;
};

class TNXCommonRealGen : public TNXGenWithOutput<TNXCommonBaseRealGen, TNXFTComboRealSourcePin> {
  NX_PERSISTENT_DECL(TNXCommonRealGen, TNXCommonBaseRealGen)

 public:
  using TNXGenWithOutput::TNXGenWithOutput;

 protected:
  void SubmitReal(const TIntfPtr<INXData>& ABuffer) override { FOutputPin->SubmitBuffer(ABuffer); }
};

class TNXCommonIntGen : public TNXGenWithOutput<TNXCommonPinBufferGen, TNXFTIntegerSourcePin> {
  NX_PERSISTENT(TNXCommonIntGen, TNXCommonPinBufferGen)

 public:
  using TNXGenWithOutput::TNXGenWithOutput;
};

class TNXCommonComplexGen : public TNXGenWithOutput<TNXCommonPinBufferGen, TNXFTComplexSourcePin> {
  NX_PERSISTENT(TNXCommonComplexGen, TNXCommonPinBufferGen)

 public:
  using TNXGenWithOutput::TNXGenWithOutput;
};

class TNXCommonBlockGen : public TNXGenWithOutput<TNXCommonPinBufferGen, TNXFTBinarySourcePin> {
  NX_PERSISTENT(TNXCommonBlockGen, TNXCommonPinBufferGen)

 public:
  using TNXGenWithOutput::TNXGenWithOutput;
};

}  // namespace nx
