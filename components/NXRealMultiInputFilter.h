// NXRealMultiInputFilter: the short way to write a component of several real
// inputs and one output (a mixer): OnStart, OnProcess per output buffer,
// OnStop (NXComponentKit.h tells the rules all authoring bases share).
#pragma once

#include <cstdint>

#include "components/NXComponentPackage.h"
#include "components/NXPinOwner.h"
#include "streams/NXMultiInput.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

// A component of several real inputs and one real output ("InputPin1" ..,
// "OutputPin"). The inputs are queued and brought to one rate (the highest);
// OnProcess runs when every running input holds enough samples for one
// output buffer, with AOutput already of that size: take each input's share
// with LoadInput (or all of them summed with SumInputs). Leave AOutput empty
// to send nothing. Published InputCount sets the number of inputs.
class TNXRealMultiInputFilter : public TNXRealMultiInput, public INXPinOwner {
  NX_PERSISTENT_DECL(TNXRealMultiInputFilter, TNXRealMultiInput)
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
