// NXAveraging: the moving average of TRGAveraging.
#include "algorithms/NXAveraging.h"
#include "runtime/NXPackage.h"

#include <algorithm>
#include <cmath>
#include <vector>


namespace nx {

TRGAveraging::TRGAveraging(TPersistent* AOwner)
    : TEnabledPersistent(AOwner), FHistory(TNXRealBuffer::MakeValue(0.0, DefaultCount)) {
  InitProperties(this);
}

void TRGAveraging::DeclareProperties(TClassBuilder<TRGAveraging>& P) {
  P.Prop<&TRGAveraging::FCount, &TRGAveraging::SetCount>("Count", DefaultCount).Min(MinCount);
}

void TRGAveraging::SetCount(std::uint32_t AValue) {
  // The lock is recursive: held here so that the old count read for the
  // resize is the one SetNotify compares with.
  TWriteLock guard(GetLock());
  const std::uint32_t oldCount = FCount;
  SetNotify(FCount, std::max(AValue, MinCount), [&] { ResizeHistory(oldCount); });
}

// A new history of FCount slots holding the most recent min(filled, FCount)
// values of the old ring of AOldCount slots, oldest first.
void TRGAveraging::ResizeHistory(std::uint32_t AOldCount) {
  const std::uint32_t keep = std::min(FFilled, FCount);
  const double* old = FHistory->Read();
  std::vector<double> recent(keep);
  for (std::uint32_t i = 0; i < keep; ++i) {
    // FWriteIndex - keep + i, wrapped into the old ring.
    const std::uint64_t at = (static_cast<std::uint64_t>(FWriteIndex) + AOldCount - keep + i) % AOldCount;
    recent[i] = old[at];
  }
  TIntfPtr<INXRealBuffer> history = TNXRealBuffer::MakeValue(0.0, FCount);
  std::copy(recent.begin(), recent.end(), history->Write());
  FHistory = history;
  FFilled = keep;
  FWriteIndex = keep % FCount;
  Resum();
}

namespace {
// Neumaier's compensated step: ASum + AError holds the sum with the rounding
// of every addition kept in AError.
inline void AddCompensated(double& ASum, double& AError, double AValue) {
  const double t = ASum + AValue;
  AError += (std::fabs(ASum) >= std::fabs(AValue)) ? (ASum - t) + AValue : (AValue - t) + ASum;
  ASum = t;
}
}  // namespace

// A compensated sum of the history: a plain one would keep the rounding of
// a large value long after it has left the window.
void TRGAveraging::Resum() {
  const double* h = FHistory->Read();
  FSum = 0;
  FSumError = 0;
  for (std::uint32_t i = 0; i < FCount; ++i) AddCompensated(FSum, FSumError, h[i]);
}

double TRGAveraging::AddElement(double AValue) {
  if (!Enabled()) return AValue;
  double* h = FHistory->Modify();
  const double old = h[FWriteIndex];
  h[FWriteIndex] = AValue;
  if (++FWriteIndex >= FCount) FWriteIndex = 0;
  if (FFilled < FCount) ++FFilled;
  if (FWriteIndex == 0 || !std::isfinite(FSum)) {
    Resum();
  } else {
    AddCompensated(FSum, FSumError, AValue);
    AddCompensated(FSum, FSumError, -old);
  }
  return (FSum + FSumError) / FFilled;
}

void TRGAveraging::Clear() {
  std::fill_n(FHistory->Write(), FCount, 0.0);
  FFilled = 0;
  FWriteIndex = 0;
  FSum = 0;
  FSumError = 0;
}

}  // namespace nx

namespace nx::NXAveraging {
void UnitInitialize() { RegisterClass(TRGAveraging::StaticClassInfo()); }
void UnitFinalize() { UnregisterClass(TRGAveraging::StaticClassInfo()); }
}  // namespace nx::NXAveraging

NX_PACKAGE_UNIT(NXAveraging, &nx::NXAveraging::UnitInitialize, &nx::NXAveraging::UnitFinalize)
