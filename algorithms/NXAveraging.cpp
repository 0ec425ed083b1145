// NXAveraging: the moving average of TRGAveraging.
#include "algorithms/NXAveraging.h"

#include <algorithm>
#include <cmath>
#include <vector>


namespace nx {

TRGAveraging::TRGAveraging() : FHistory(TNXRealBuffer::MakeValue(0.0, DefaultCount)) {}

void TRGAveraging::SetEnabled(bool AValue) {
  if (AValue == FEnabled) return;
  FEnabled = AValue;
  Changed();
}

void TRGAveraging::SetCount(std::uint32_t AValue) {
  AValue = std::max(AValue, MinCount);
  if (AValue == FCount) return;
  // The most recent min(filled, new count) values, oldest first.
  const std::uint32_t keep = std::min(FFilled, AValue);
  const double* old = FHistory->Read();
  std::vector<double> recent(keep);
  for (std::uint32_t i = 0; i < keep; ++i) {
    // FWriteIndex - keep + i, wrapped into the old ring.
    const std::uint64_t at = (static_cast<std::uint64_t>(FWriteIndex) + FCount - keep + i) % FCount;
    recent[i] = old[at];
  }
  TIntfPtr<INXRealBuffer> history = TNXRealBuffer::MakeValue(0.0, AValue);
  std::copy(recent.begin(), recent.end(), history->Write());
  FHistory = history;
  FCount = AValue;
  FFilled = keep;
  FWriteIndex = keep % AValue;
  Resum();
  Changed();
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
  if (!FEnabled) return AValue;
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
