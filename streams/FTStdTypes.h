// FTStdTypes: the framework's standard stream kinds and supplied operations.
// The single-value streams carry one value per operation (a double, a
// single, an integer, a cardinal, a Boolean, a string); a supplied operation
// carries a value downstream and counts as clock ticks, so that a value
// arriving on a clock input also paces it. The typed supplied operation is
// generic over the value type; the signal layer instantiates it for its data
// objects and buffer pairs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "streams/FTPins.h"

namespace nx {

// ---------------------------------------------------------------- single-value streams

struct IFTRealStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTRealStream, "{208F9564-3C20-4C97-BB77-2FC5AE6E4194}");
};
struct IFTFloatStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTFloatStream, "{67F6997B-7EB4-4E2F-8320-4A512B5F2BC7}");
};
struct IFTIntegerStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTIntegerStream, "{92F6B47E-B46E-49BB-9A8E-676D3C2F2E66}");
};
struct IFTCardinalStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTCardinalStream, "{B9867263-626B-47A4-AC8D-F3B6C68392B9}");
};
struct IFTBoolStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTBoolStream, "{7AA677AE-F983-4714-8E64-EC6F3D17695B}");
};
struct IFTStringStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTStringStream, "{25C048B4-89D4-4277-AA98-A835EB29F5C1}");
};

// ---------------------------------------------------------------- supplied operations

// The base of operations that carry data downstream; counts ClockCount ticks.
class TFTSuppliedOperation : public TFTClockOperation {
  NX_FT_OPERATION(TFTSuppliedOperation, TFTClockOperation)

 public:
  explicit TFTSuppliedOperation(std::uint32_t AClockCount = 1) noexcept : TFTClockOperation(AClockCount) {}
  static TIntfPtr<IFTNotifyOperation> Make() { return FTMakeOperation<TFTSuppliedOperation>(1u); }
};

// One value of type T. Each instantiation is a class of its own for IsType.
template <class T>
class TFTTypedSuppliedOperation : public TFTSuppliedOperation {
  NX_FT_OPERATION_NAMED(TFTTypedSuppliedOperation, TFTSuppliedOperation, "TFTTypedSuppliedOperation")

 public:
  TFTTypedSuppliedOperation(T AValue, std::uint32_t AClockCount)
      : TFTSuppliedOperation(AClockCount), FValue(std::move(AValue)) {}
  // Clock count 1.
  static TIntfPtr<IFTNotifyOperation> Make(T AValue) {
    return FTMakeOperation<TFTTypedSuppliedOperation>(std::move(AValue), 1u);
  }
  static TIntfPtr<IFTNotifyOperation> MakeEx(T AValue, std::uint32_t AClockCount) {
    return FTMakeOperation<TFTTypedSuppliedOperation>(std::move(AValue), AClockCount);
  }
  const T& GetValue() const noexcept { return FValue; }

 private:
  const T FValue;
};

// A range of two values of type T (low, high), clock count 1.
template <class T>
class TFTTypedSuppliedRangeOperation : public TFTSuppliedOperation {
  NX_FT_OPERATION_NAMED(TFTTypedSuppliedRangeOperation, TFTSuppliedOperation, "TFTTypedSuppliedRangeOperation")

 public:
  TFTTypedSuppliedRangeOperation(T ALow, T AHigh) : TFTSuppliedOperation(1), FLow(std::move(ALow)), FHigh(std::move(AHigh)) {}
  static TIntfPtr<IFTNotifyOperation> Make(T ALow, T AHigh) {
    return FTMakeOperation<TFTTypedSuppliedRangeOperation>(std::move(ALow), std::move(AHigh));
  }
  const T& GetLow() const noexcept { return FLow; }
  const T& GetHigh() const noexcept { return FHigh; }

 private:
  const T FLow;
  const T FHigh;
};

using TFTSuppliedRealOperation = TFTTypedSuppliedOperation<double>;
using TFTSuppliedFloatOperation = TFTTypedSuppliedOperation<float>;
using TFTSuppliedIntegerOperation = TFTTypedSuppliedOperation<std::int32_t>;
using TFTSuppliedCardinalOperation = TFTTypedSuppliedOperation<std::uint32_t>;
using TFTSuppliedBoolOperation = TFTTypedSuppliedOperation<bool>;
using TFTSuppliedStringOperation = TFTTypedSuppliedOperation<std::string>;
using TFTSuppliedRealRangeOperation = TFTTypedSuppliedRangeOperation<double>;

}  // namespace nx
