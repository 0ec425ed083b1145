// NXRealFilter: the filter authoring base's hooks.
#include "components/NXRealFilter.h"
#include "buffers/NXSimpleDataBuffer.h"

namespace nx {

NX_PERSISTENT_IMPL(TNXRealFilter)

void TNXRealFilter::StreamStart() {
  TNXCommonRealFilter::StreamStart();
  // The output lock is the one the buffer path holds: OnStart never runs
  // beside OnProcess. A framework start without a rate (or a second start
  // of a running stream) does not start the author's stream again.
  TWriteLock guard(OutputLock());
  if (FStarted || !(FSampleRate > 0)) return;
  FStarted = true;
  OnStart(FSampleRate);
}

void TNXRealFilter::StreamStop() {
  // The base hands what the worker queued to OnProcess first.
  TNXCommonRealFilter::StreamStop();
  TWriteLock guard(OutputLock());
  if (!FStarted) return;
  FStarted = false;
  OnStop();
}

void TNXRealFilter::FilterInternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend) {
  OnProcess(AInput, AOutput);
  if (!AOutput) ASend = false;
}

void TNXRealFilter::InternalFloatOperation(double AInput, double& AOutput, bool& ASend) {
  // Called with the output lock held, like the buffer path.
  if (!ProcessesSingleValues()) return;  // AOutput holds AInput already
  // The way a buffer goes (InternalOperation, then OnProcess), so that a
  // filter that holds its output back holds single values back too.
  const TBuffer input(TNXRealBuffer::MakeValue(AInput, 1));
  TBuffer output(TNXRealBuffer::MakeValue(AInput, 1));
  InternalOperation(input, output, ASend, true);
  if (ASend && output && output->GetSize() > 0)
    AOutput = output->GetItem(0);
  else
    ASend = false;
}

}  // namespace nx
