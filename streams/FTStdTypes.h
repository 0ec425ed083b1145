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
#include <vector>

#include "runtime/Zandor.Complex.h"

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


// Further single-value kinds: 64-bit integers, a complex value, a byte, a
// character, colours (32-bit, alpha in the top byte for the alpha colour),
// date-time values (days since 1899-12-30, the fraction the time of day),
// and lists of reals or integers.
struct IFTInt64Stream : virtual IFTStream {
  NX_INTERFACE_ID(IFTInt64Stream, "{9DD4A80A-A38E-4909-9C0B-68290EBC5723}");
};
struct IFTUInt64Stream : virtual IFTStream {
  NX_INTERFACE_ID(IFTUInt64Stream, "{60C5FC60-4CF9-4C68-91A1-4A1D9AAC0A6D}");
};
struct IFTRealComplexStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTRealComplexStream, "{9BE4A81F-6F03-44F5-9AED-FBB637A95182}");
};
struct IFTByteStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTByteStream, "{47393BF7-210E-4863-9482-B72375667E86}");
};
struct IFTCharStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTCharStream, "{831A1631-E38F-4826-A997-5CF03EB953BB}");
};
struct IFTColorStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTColorStream, "{ED2A93F6-845D-48CC-B422-8615A39596EC}");
};
struct IFTAlphaColorStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTAlphaColorStream, "{310A725B-C0C6-41C2-9BD7-BA5D6A06E747}");
};
struct IFTDateTimeStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTDateTimeStream, "{739664AC-FB81-4D95-8CF5-C4135154B9AA}");
};
struct IFTDateStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTDateStream, "{BDEC3943-F0F0-4021-88D1-0BFC61251134}");
};
struct IFTTimeStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTTimeStream, "{D75000B2-7311-4873-8E5B-98B87B05AD6B}");
};
struct IFTRealListStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTRealListStream, "{EE949CA6-29E7-4F1B-8F9D-E9EADD011279}");
};
struct IFTIntegerListStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTIntegerListStream, "{D4A32B4E-24B4-411F-A178-9016655C4E23}");
};

// Value types of the kinds above that would otherwise share a C++ type (and
// so an operation class) with another kind.
struct TFTColor {
  std::uint32_t Value;
};
struct TFTAlphaColor {
  std::uint32_t Value;
};
struct TFTDateTime {
  double Value;
};
struct TFTDate {
  double Value;
};
struct TFTTime {
  double Value;
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
using TFTSuppliedInt64Operation = TFTTypedSuppliedOperation<std::int64_t>;
using TFTSuppliedUInt64Operation = TFTTypedSuppliedOperation<std::uint64_t>;
using TFTSuppliedRealComplexOperation = TFTTypedSuppliedOperation<TComplex>;
using TFTSuppliedByteOperation = TFTTypedSuppliedOperation<std::uint8_t>;
using TFTSuppliedCharOperation = TFTTypedSuppliedOperation<char16_t>;
using TFTSuppliedColorOperation = TFTTypedSuppliedOperation<TFTColor>;
using TFTSuppliedAlphaColorOperation = TFTTypedSuppliedOperation<TFTAlphaColor>;
using TFTSuppliedDateTimeOperation = TFTTypedSuppliedOperation<TFTDateTime>;
using TFTSuppliedDateOperation = TFTTypedSuppliedOperation<TFTDate>;
using TFTSuppliedTimeOperation = TFTTypedSuppliedOperation<TFTTime>;
using TFTSuppliedRealListOperation = TFTTypedSuppliedOperation<std::vector<double>>;
using TFTSuppliedIntegerListOperation = TFTTypedSuppliedOperation<std::vector<std::int32_t>>;

}  // namespace nx
