// Flowtie.TypeConverters: the converter registry and the basic converter.
#include "streams/Flowtie.TypeConverters.h"

#include <algorithm>
#include <mutex>

namespace nx {
namespace {

struct TConverterEntry {
  TFTFormatConverterClass Class;
  std::vector<TGUID> InputIDs;   // what its sink pin accepts
  std::vector<TGUID> OutputIDs;  // what its source pin sends
};

struct TConverterRegistry {
  std::mutex Lock;
  std::vector<TConverterEntry> Items;
};
// Made on first use and never freed (start-up and finalization sections of
// other units use it in an order static destructors do not know).
TConverterRegistry& Registry() {
  static TConverterRegistry* registry = new TConverterRegistry;
  return *registry;
}

bool Intersects(const std::vector<TGUID>& A, const std::vector<TGUID>& B) {
  for (const TGUID& id : A)
    if (std::find(B.begin(), B.end(), id) != B.end()) return true;
  return false;
}

// The first registered class that bridges the two type lists.
const TFTFormatConverterClass* FindClass(const std::vector<TGUID>& ASourceTypes, const std::vector<TGUID>& ASinkTypes,
                                         TFTFormatConverterClass& AOut) {
  TConverterRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  for (const TConverterEntry& e : r.Items)
    if (Intersects(e.InputIDs, ASourceTypes) && Intersects(e.OutputIDs, ASinkTypes)) {
      AOut = e.Class;
      return &AOut;
    }
  return nullptr;
}

}  // namespace

namespace {
constexpr TFTConverterLookup kLookup{&FTHasTypeConverter, &FTCreateTypeConverter};
}  // namespace

void FTRegisterTypeConverters(std::span<const TFTFormatConverterClass> AClasses) {
  FTSetConverterLookup(&kLookup);
  for (const TFTFormatConverterClass& c : AClasses) {
    NX_ASSERT_MSG(c.Create, "a converter class needs a factory");
    // The prototype is made outside the registry lock: its pins take the
    // link section, which is held around registry look-ups while linking.
    TConverterEntry entry{c, {}, {}};
    {
      const TIntfPtr<TFTFormatConverter> prototype = c.Create();
      NX_ASSERT_MSG(prototype, "a converter factory returned nothing");
      entry.InputIDs = prototype->GetSinkPin().GetTypes();
      entry.OutputIDs = prototype->GetSourcePin().GetTypes();
    }
    TConverterRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    if (std::none_of(r.Items.begin(), r.Items.end(), [&](const TConverterEntry& e) { return e.Class.Create == c.Create; }))
      r.Items.push_back(std::move(entry));
  }
}

void FTUnregisterTypeConverters(std::span<const TFTFormatConverterClass> AClasses) {
  TConverterRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  for (const TFTFormatConverterClass& c : AClasses)
    std::erase_if(r.Items, [&](const TConverterEntry& e) { return e.Class.Create == c.Create; });
}

std::vector<std::string> FTRegisteredTypeConverters() {
  TConverterRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  std::vector<std::string> names;
  for (const TConverterEntry& e : r.Items) names.emplace_back(e.Class.Name ? e.Class.Name : "");
  return names;
}

bool FTHasTypeConverter(const std::vector<TGUID>& ASourceTypes, const std::vector<TGUID>& ASinkTypes) {
  TFTFormatConverterClass c{};
  return FindClass(ASourceTypes, ASinkTypes, c) != nullptr;
}

TIntfPtr<TFTFormatConverter> FTCreateTypeConverter(const std::vector<TGUID>& ASourceTypes,
                                                   const std::vector<TGUID>& ASinkTypes) {
  TFTFormatConverterClass c{};
  if (!FindClass(ASourceTypes, ASinkTypes, c)) return {};
  return c.Create();  // outside the registry lock
}

// ---------------------------------------------------------------- basic converter

TFTBasicFormatConverter::TFTBasicFormatConverter(std::initializer_list<TGUID> AInputIDs,
                                                 std::initializer_list<TGUID> AOutputIDs) {
  NX_ASSERT_MSG(AInputIDs.size() > 0 && AOutputIDs.size() > 0, "a converter needs input and output kinds");
  for (const TGUID& id : AInputIDs) FSinkPin.AddType(id, FTMethod(this, &TFTBasicFormatConverter::SinkNotify));
  for (const TGUID& id : AOutputIDs) FSourcePin.AddType(id, FTMethod(this, &TFTBasicFormatConverter::SourceNotify));
}

bool TFTBasicFormatConverter::SinkNotify(TFTBasicPin*, IFTStream*, const TGUID& AStreamID,
                                         const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (AState.Contains(nsUpstream)) return false;
  const TFTLinkSnapshot out = FSourcePin.GetLinks();
  if (!out) return false;
  const TIntfPtr<IFTNotifyOperation> converted = ConvertOperation(AStreamID, out->front().ID, AOperation);
  if (!converted) return false;
  if (converted != AOperation) return FSourcePin.Notify(converted);
  // Unchanged: exclusive only if it arrived exclusive.
  return FSourcePin.NotifyLinks(*out, converted, AState);
}

bool TFTBasicFormatConverter::SourceNotify(TFTBasicPin*, IFTStream*, const TGUID&,
                                           const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (!AState.Contains(nsUpstream)) return false;
  return FSinkPin.Notify(AOperation);
}

}  // namespace nx
