// Flowtie.TypeConverters: link format converters and their registry. When a
// source and a sink share no stream identifier, linking them looks here for
// a converter class whose sink side accepts a kind the source sends and
// whose source side sends a kind the sink accepts; one converter object is
// made for that link and sits between the two pins (see FTPins.h).
//
// Converter classes are registered at start-up with FTRegisterTypeConverters
// (registration order is the order of preference). Registering makes one
// object of the class to read the stream types of its two pins, so a
// converter class declares its kinds in one place: its pins.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "streams/FTPins.h"

namespace nx {

// A converter class: its name and its factory.
struct TFTFormatConverterClass {
  const char* Name;
  TIntfPtr<TFTFormatConverter> (*Create)();
};

// The class entry of converter type T (default-constructible).
template <class T>
TFTFormatConverterClass FTConverterClass(const char* AName) {
  return {AName, []() -> TIntfPtr<TFTFormatConverter> { return TIntfPtr<TFTFormatConverter>(new T()); }};
}

// Registers converter classes after those registered before; a class
// already registered (same factory) is skipped.
void FTRegisterTypeConverters(std::span<const TFTFormatConverterClass> AClasses);
inline void FTRegisterTypeConverters(std::initializer_list<TFTFormatConverterClass> AClasses) {
  FTRegisterTypeConverters(std::span<const TFTFormatConverterClass>(AClasses.begin(), AClasses.size()));
}
// Removes converter classes (by factory). Links made earlier keep their converters.
void FTUnregisterTypeConverters(std::span<const TFTFormatConverterClass> AClasses);
inline void FTUnregisterTypeConverters(std::initializer_list<TFTFormatConverterClass> AClasses) {
  FTUnregisterTypeConverters(std::span<const TFTFormatConverterClass>(AClasses.begin(), AClasses.size()));
}
// The names of the registered classes, in order.
std::vector<std::string> FTRegisteredTypeConverters();

// Whether a registered converter bridges a source accepting ASourceTypes and
// a sink accepting ASinkTypes; FTCreateTypeConverter makes the first that does
// (empty when none).
bool FTHasTypeConverter(const std::vector<TGUID>& ASourceTypes, const std::vector<TGUID>& ASinkTypes);
TIntfPtr<TFTFormatConverter> FTCreateTypeConverter(const std::vector<TGUID>& ASourceTypes,
                                                   const std::vector<TGUID>& ASinkTypes);

// A converter with a dispatch sink pin for the input kinds and a dispatch
// source pin for the output kinds. Operations arriving downstream go through
// ConvertOperation and are sent on; operations coming back upstream from the
// sink are passed on to the source unchanged.
class TFTBasicFormatConverter : public TFTFormatConverter {
 public:
  TFTBasicFormatConverter(std::initializer_list<TGUID> AInputIDs, std::initializer_list<TGUID> AOutputIDs);

  TFTSinkPin& GetSinkPin() noexcept override { return FSinkPin; }
  TFTSourcePin& GetSourcePin() noexcept override { return FSourcePin; }

 protected:
  // The operation to send for AOperation, which arrived as AInputID and
  // leaves as AOutputID. The base sends it unchanged; an empty result sends
  // nothing (the sender gets false). A converted operation is new data and
  // goes out exclusive to a single sink; an unchanged one keeps the state it
  // arrived with.
  virtual TIntfPtr<IFTNotifyOperation> ConvertOperation(const TGUID& AInputID, const TGUID& AOutputID,
                                                        const TIntfPtr<IFTNotifyOperation>& AOperation) {
    return AOperation;
  }

 private:
  bool SinkNotify(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                  const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  bool SourceNotify(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                    const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);

  TFTDispatchSinkPin FSinkPin{"ConverterInput"};
  TFTDispatchSourcePin FSourcePin{"ConverterOutput"};
};

}  // namespace nx
