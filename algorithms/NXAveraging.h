// NXAveraging: the averaging property of components. TRGAveraging turns a
// stream of values into their moving average over the last Count values;
// disabled, it passes every value through unchanged.
//
// The class keeps the behaviour of the persistent property object (its
// published properties Enabled and Count, setters that compare and store,
// the history and the AddElement rules) on a plain base. Every effective
// property change ends in the protected Changed() hook: that is where the
// owner's change notification goes once the class stands on the runtime's
// persistent property base, whose change-notify lock then also serialises
// the setters with the owner.
#pragma once

#include <cstdint>

#include "buffers/NXSimpleDataBuffer.h"

namespace nx {

class TRGAveraging {
 public:
  static constexpr std::uint32_t DefaultCount = 10;
  // The checked setter's minimum: a window of at least one value.
  static constexpr std::uint32_t MinCount = 1;

  TRGAveraging();
  virtual ~TRGAveraging() = default;
  TRGAveraging(const TRGAveraging&) = delete;
  TRGAveraging& operator=(const TRGAveraging&) = delete;

  // Published Enabled (default false).
  bool GetEnabled() const noexcept { return FEnabled; }
  void SetEnabled(bool AValue);
  // Published Count (default 10, at least 1: smaller values are raised to 1).
  // A new count resizes the history and keeps the most recent values in
  // their order.
  std::uint32_t GetCount() const noexcept { return FCount; }
  void SetCount(std::uint32_t AValue);

  // Stores the value and returns the mean of the values stored so far (at
  // most Count); returns the value unchanged when disabled.
  double AddElement(double AValue);
  // Forgets every stored value.
  void Clear();

  // The number of values the mean currently covers.
  std::uint32_t GetFilled() const noexcept { return FFilled; }

 protected:
  // Called after every effective change of a published property.
  virtual void Changed() {}

 private:
  void Resum();

  bool FEnabled = false;
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
