// NXRealGenerator: the generator authoring base's hooks.
#include "components/NXRealGenerator.h"

namespace nx {

NX_PERSISTENT_IMPL(TNXRealGenerator)

void TNXRealGenerator::StartStream() {
  // Runs under the component's lock, before the rate is announced.
  FStopAfter = false;
  if (FStarted) return;
  FStarted = true;
  OnStart(GetSampleRate());
}

void TNXRealGenerator::StreamStop() {
  TNXCommonRealGen::StreamStop();  // the clock has ended: no OnProcess runs any more
  TWriteLock guard(GetLock());
  if (!FStarted) return;
  FStarted = false;
  OnStop();
}

void TNXRealGenerator::IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) {
  TBuffer output(RealOf(ABuffer));
  OnProcess(output);
  if (!output) ASendFlag = false;
  else if (static_cast<INXDataBuffer*>(output.Get()) != ABuffer.Get()) ABuffer = TIntfPtr<INXDataBuffer>(output);
  if (FStopAfter) {
    FStopAfter = false;
    AStopFlag = true;
  }
}

}  // namespace nx
