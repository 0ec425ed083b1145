// NXComponentKit: the short way to write a component. Each base below meets
// its author at the same three moments, under the same names:
//
//   OnStart(ASampleRate)   a stream starts (the rate it runs at);
//   OnProcess(...)         one buffer's worth of work;
//   OnStop()               the stream stopped (after the last OnProcess).
//
// and under one rule: the three never run at the same time as each other,
// they run on the stream's thread (a sender, a worker, a clock), and they
// read published properties with ReadLocked. Everything else is the
// library's: the pins register themselves (documents and nxflow find them by
// name), worker and clock threads stop before the derived part of the
// object goes (deleting a component stops them first), and a package
// declares its classes with NX_PACKAGE. The end of a graph (a sink that
// writes files in a flow run) is TNXRealSink (NXRealSink.h). A whole
// component:
//
//   class TClipper : public TNXRealFilter {
//     NX_COMPONENT(TClipper, TNXRealFilter)
//     static void DeclareProperties(TClassBuilder<TClipper>& P) { P.Prop<&TClipper::FLevel>("Level", 0.5); }
//    protected:
//     void OnProcess(const TBuffer&, TBuffer& AOutput) override { ... }
//     double FLevel = 0.5;
//   };
//   NX_PACKAGE("clipper", "1.0", TClipper)
//
// The header pulls in no graphics and no OpenCL: a package of signal
// components compiles against the signal layers alone.
#pragma once

#include <cstdint>
#include <span>

#include "components/NXCommonFilter.h"
#include "components/NXCommonGen.h"
#include "components/NXComponentPackage.h"
#include "components/NXFlowNode.h"
#include "components/NXPinOwner.h"
#include "components/NXRealSink.h"
#include "streams/NXMultiInput.h"
#include "vector/NXBasicDispatcher.h"

// The persistence of a component class and the usual constructor (an owner;
// the published properties take their defaults). A class with a constructor
// of its own uses NX_PERSISTENT and calls InitProperties(this) there.
#define NX_COMPONENT(Self, Base) \
  NX_PERSISTENT(Self, Base)      \
 public:                         \
  explicit Self(::nx::TComponent* AOwner) : Base(AOwner) { InitProperties(this); }

namespace nx {

// A filter of real buffers. OnProcess gets the input and an output that
// starts as a sharing copy of it: write the output through Modify() (the
// samples are copied first only when someone else still holds them) or
// replace it with a buffer of another size; leave it empty (nullptr) to
// send nothing. With CanInline() true the filter writes straight into the
// block it received when it is that block's only receiver; the input then
// is the same buffer as the output.
//
// Single values (a stream of one value at a time) reach OnProcess as
// one-sample buffers; a filter whose ProcessesSingleValues() is false lets
// them pass unchanged.
class TNXRealFilter : public TNXCommonRealFilter {
  NX_PERSISTENT(TNXRealFilter, TNXCommonRealFilter)
 public:
  explicit TNXRealFilter(TComponent* AOwner) : TNXCommonRealFilter(AOwner) {}

 protected:
  virtual void OnStart(double ASampleRate) { (void)ASampleRate; }
  virtual void OnProcess(const TBuffer& AInput, TBuffer& AOutput) = 0;
  virtual void OnStop() {}
  virtual bool ProcessesSingleValues() const { return true; }

  void StreamStart() override;
  void StreamStop() override;
  void FilterInternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend) override;
  void InternalFloatOperation(double AInput, double& AOutput, bool& ASend) override;

 private:
  bool FStarted = false;  // under the output lock: OnStart ran, OnStop is due
};

// A generator of real buffers. OnProcess fills AOutput, a buffer of
// BufferSize samples at SampleRate; leave it empty (nullptr) to send
// nothing, or call StopAfterThis() to end the stream after it.
class TNXRealGenerator : public TNXCommonRealGen {
  NX_PERSISTENT(TNXRealGenerator, TNXCommonRealGen)
 public:
  explicit TNXRealGenerator(TComponent* AOwner) : TNXCommonRealGen(AOwner) {}

 protected:
  using TBuffer = TIntfPtr<INXRealBuffer>;
  virtual void OnStart(double ASampleRate) { (void)ASampleRate; }
  virtual void OnProcess(TBuffer& AOutput) = 0;
  virtual void OnStop() {}
  // From OnProcess: the stream ends once this buffer is sent.
  void StopAfterThis() noexcept { FStopAfter = true; }

  void StartStream() override;
  void StreamStop() override;
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) override;

 private:
  bool FStarted = false;  // under the component's lock
  bool FStopAfter = false;
};

// A component of several real inputs and one real output ("InputPin1" ..,
// "OutputPin"). The inputs are queued and brought to one rate (the highest);
// OnProcess runs when every running input holds enough samples for one
// output buffer, with AOutput already of that size: take each input's share
// with LoadInput (or all of them summed with SumInputs). Leave AOutput empty
// to send nothing. Published InputCount sets the number of inputs.
class TNXRealMultiInputFilter : public TNXRealMultiInput, public INXPinOwner {
  NX_PERSISTENT(TNXRealMultiInputFilter, TNXRealMultiInput)
 public:
  explicit TNXRealMultiInputFilter(TComponent* AOwner);
  static void DeclareProperties(TClassBuilder<TNXRealMultiInputFilter>& P);

  // At least 1; pins are added or the last removed, and named by position.
  void SetInputCountProp(std::int32_t AValue);
  std::int32_t GetInputCountProp() const { return GetInputCount(); }

  // The inputs, then the output.
  std::int32_t GetPinCount() const override;
  TFTBasicPin* GetPin(std::int32_t AIndex) const override;

 protected:
  using TBuffer = TIntfPtr<INXRealBuffer>;
  virtual void OnStart(double ASampleRate) { (void)ASampleRate; }
  virtual void OnProcess(TBuffer& AOutput) = 0;
  virtual void OnStop() {}

  void CalculateRate() override;
  void Stop() override;
  bool CalculateSendOutput(std::int32_t ASize) override;

 private:
  bool FStarted = false;  // under the component's lock
};

}  // namespace nx
