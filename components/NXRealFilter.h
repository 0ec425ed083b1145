// NXRealFilter: the short way to write a filter of real buffers: OnStart
// with the stream's rate, OnProcess per buffer, OnStop (NXComponentKit.h
// tells the rules all authoring bases share).
#pragma once

#include "components/NXCommonFilter.h"
#include "components/NXComponentPackage.h"
#include "vector/NXBasicDispatcher.h"

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
  NX_PERSISTENT_DECL(TNXRealFilter, TNXCommonRealFilter)
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

}  // namespace nx
