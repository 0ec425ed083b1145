// NXComponentKit: the three hooks of the authoring bases (see the header).
#include "components/NXComponentKit.h"

#include <algorithm>
#include <string>

namespace nx {

// ---------------------------------------------------------------- filter

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

// ---------------------------------------------------------------- generator

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

// ---------------------------------------------------------------- multi-input

TNXRealMultiInputFilter::TNXRealMultiInputFilter(TComponent* AOwner) : TNXRealMultiInput(AOwner) {
  InitProperties(this);
}

void TNXRealMultiInputFilter::DeclareProperties(TClassBuilder<TNXRealMultiInputFilter>& P) {
  P.Prop<&TNXRealMultiInputFilter::GetInputCountProp, &TNXRealMultiInputFilter::SetInputCountProp>("InputCount",
                                                                                                  std::int32_t(2))
      .Min(std::int32_t(1))
      .Max(std::int32_t(256));
}

void TNXRealMultiInputFilter::SetInputCountProp(std::int32_t AValue) {
  AValue = std::max(AValue, std::int32_t(1));
  if (AValue == GetInputCount()) return;
  SetInputCount(AValue);
  // Pins are named by position: the base numbers them as they are made, so
  // that a count lowered and raised again would skip numbers.
  TWriteLock guard(GetLock());
  for (std::int32_t i = 0; i < GetInputCount(); ++i) GetInputPin(i)->SetName("InputPin" + std::to_string(i + 1));
  Changed();
}

// The inputs come and go with InputCount: they are listed from the base's
// own list rather than registered one by one.
std::int32_t TNXRealMultiInputFilter::GetPinCount() const { return GetInputCount() + 1; }

TFTBasicPin* TNXRealMultiInputFilter::GetPin(std::int32_t AIndex) const {
  if (AIndex >= 0 && AIndex < GetInputCount()) return GetInputPin(AIndex);
  if (AIndex == GetInputCount()) return &const_cast<TNXRealMultiInputFilter*>(this)->OutputPin();
  return nullptr;
}

void TNXRealMultiInputFilter::CalculateRate() {
  TWriteLock guard(GetLock());
  TNXRealMultiInput::CalculateRate();
  if (FStarted || !IsRunning()) return;
  FStarted = true;
  OnStart(GetCalculatedRate());
}

void TNXRealMultiInputFilter::Stop() {
  TWriteLock guard(GetLock());
  TNXRealMultiInput::Stop();
  if (!FStarted) return;
  FStarted = false;
  OnStop();
}

bool TNXRealMultiInputFilter::CalculateSendOutput(std::int32_t ASize) {
  TBuffer output(TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize)));
  OnProcess(output);
  if (output) OutputPin().SubmitBuffer(TIntfPtr<INXData>(output));
  return true;  // the inputs gave their samples, linked or not
}

}  // namespace nx
