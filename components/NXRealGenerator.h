// NXRealGenerator: the short way to write a generator of real buffers: OnStart
// with the rate, OnProcess fills each buffer the clock asks for, OnStop
// (NXComponentKit.h tells the rules all authoring bases share).
#pragma once

#include "components/NXCommonGen.h"
#include "components/NXComponentPackage.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

// A generator of real buffers. OnProcess fills AOutput, a buffer of
// BufferSize samples at SampleRate; leave it empty (nullptr) to send
// nothing, or call StopAfterThis() to end the stream after it.
class TNXRealGenerator : public TNXCommonRealGen {
  NX_PERSISTENT_DECL(TNXRealGenerator, TNXCommonRealGen)
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

}  // namespace nx
