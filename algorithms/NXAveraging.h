// NXAveraging: the averaging property of components. TRGAveraging turns a
// stream of values into their moving average over the last Count values;
// disabled, it passes every value through unchanged.
//
// It is a persistent property object: Enabled comes from the enable-able
// base (default true), Count is published here, both stream with the owner
// and notify it after every effective change, and the setters run under the
// owner's change-notify lock. AddElement runs on the owning component's
// processing thread without taking that lock: it reads no published value
// other than Enabled and the history that only SetCount replaces, which the
// owner serialises with its processing.
#pragma once

#include <cstdint>

#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/Zandor.Types.h"

namespace nx {

class TRGAveraging : public TEnabledPersistent {
  NX_PERSISTENT(TRGAveraging, TEnabledPersistent)

 public:
  static constexpr std::uint32_t DefaultCount = 10;
  // The checked setter's minimum: a window of at least one value.
  static constexpr std::uint32_t MinCount = 1;

  explicit TRGAveraging(TPersistent* AOwner = nullptr);

  // Published Count (default 10, at least 1: smaller values are raised to 1).
  // A new count resizes the history and keeps the most recent values in
  // their order.
  std::uint32_t GetCount() const noexcept { return FCount; }
  void SetCount(std::uint32_t AValue);
  static void DeclareProperties(TClassBuilder<TRGAveraging>& P);

  // Stores the value and returns the mean of the values stored so far (at
  // most Count); returns the value unchanged when disabled.
  double AddElement(double AValue);
  // Forgets every stored value.
  void Clear();

  // The number of values the mean currently covers.
  std::uint32_t GetFilled() const noexcept { return FFilled; }

 private:
  void Resum();
  void ResizeHistory(std::uint32_t AValue);

  std::uint32_t FCount = DefaultCount;
  TIntfPtr<INXRealBuffer> FHistory;
  std::uint32_t FWriteIndex = 0;
  std::uint32_t FFilled = 0;
  // The running sum of the history with its compensation term, so that a
  // value is added in constant time (the mean is that of the stored values,
  // as a fresh sum of the history would give it). It is summed afresh from
  // the history every time the ring wraps, which bounds the rounding the
  // compensation term can collect.
  double FSum = 0;
  double FSumError = 0;
};

}  // namespace nx
