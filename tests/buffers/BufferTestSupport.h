// Helpers shared by the buffer test programs (which rely on its includes): the live-block counter,
// a buffer's values, the block a buffer holds, making and sharing real buffers, tolerant comparison.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nxtest {

using TRealBuf = nx::TIntfPtr<nx::INXRealBuffer>;

inline int Stores() { return nx::_NXCountStores.load(); }

// The elements of any typed buffer (anything with Read and GetSize).
template <class B>
auto Values(const B& ABuffer) {
  using T = std::remove_cv_t<std::remove_pointer_t<decltype(ABuffer->Read())>>;
  return std::vector<T>(ABuffer->Read(), ABuffer->Read() + ABuffer->GetSize());
}

// The data block a buffer holds now.
template <class B>
nx::TNXSmartBuffer* BlockOf(const B& ABuffer) {
  return static_cast<nx::TNXGenericBuffer*>(ABuffer->GetInstance())->DataContainer();
}

// A second holder of a real buffer's block.
inline TRealBuf CopyOf(const TRealBuf& ABuffer) { return nx::Supports<nx::INXRealBuffer>(ABuffer->GetDataCopy()); }

// AStart, AStart + AStep, ...
inline TRealBuf Ramp(std::uint32_t ACount, double AStart = 0.0, double AStep = 1.0) {
  TRealBuf b = nx::TNXRealBuffer::MakeSize(ACount);
  double* p = b->Write();
  for (std::uint32_t i = 0; i < ACount; ++i) p[i] = AStart + AStep * i;
  return b;
}

// Relative distance (complex: of the worse part).
inline double Dist(double A, double AExpected) { return std::fabs(A - AExpected) / std::max(1.0, std::fabs(AExpected)); }
inline double Dist(nx::TComplex A, nx::TComplex E) { return std::max(Dist(A.Re, E.Re), Dist(A.Im, E.Im)); }

template <class T>
void ExpectNear(const std::vector<T>& AActual, const std::vector<T>& AExpected, double ATol = 1e-12) {
  ASSERT_EQ(AActual.size(), AExpected.size());
  for (std::size_t i = 0; i < AActual.size(); ++i) EXPECT_LE(Dist(AActual[i], AExpected[i]), ATol) << "at " << i;
}

template <class F>
std::string RangeMessage(F&& AFunc) {
  return MessageOf<nx::ERangeError>(AFunc);
}

}  // namespace nxtest
