// Fuzz target of graph documents: arbitrary bytes loaded as a document (text
// or binary XML) under an owner. Anything but EGraphDocumentError escaping
// counts as a finding; a failed load must leave the owner empty, and a
// document that does load must save and load again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "documents/NXGraphDocument.h"
#include "streams/NXStreamTypes.h"

using namespace nx;

namespace {

class TFuzzNode : public TComponent, public INXPinOwner {
  NX_PERSISTENT(TFuzzNode, TComponent)
 public:
  explicit TFuzzNode(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TFuzzNode>& P) {
    P.Prop<&TFuzzNode::FGain>("Gain", 1.0);
    P.Prop<&TFuzzNode::FCount>("Count", std::int32_t{0});
    P.Prop<&TFuzzNode::FOn>("On", false);
    P.Prop<&TFuzzNode::FLabel>("Label", "");
  }
  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    return AIndex == 0 ? static_cast<TFTBasicPin*>(&FOut) : static_cast<TFTBasicPin*>(&FIn);
  }

 private:
  double FGain = 1.0;
  std::int32_t FCount = 0;
  bool FOn = false;
  std::string FLabel;
  mutable TNXFTRealSourcePin FOut{"Out"};
  mutable TNXFTRealSinkPin FIn{"In"};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = [] {
    RegisterClasses({&TComponent::StaticClassInfo(), &TFuzzNode::StaticClassInfo()});
    return true;
  }();
  (void)registered;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TComponent owner(nullptr);
  TComponent* root = nullptr;
  try {
    root = TNXGraphDocument::LoadFromString(bytes, &owner);
  } catch (const EGraphDocumentError&) {
    if (owner.ComponentCount() != 0) std::abort();  // a half-built tree was left behind
    return 0;
  }
  const std::string saved = TNXGraphDocument::SaveToString(*root);
  TComponent::Free(root);
  TComponent* again = TNXGraphDocument::LoadFromString(saved, nullptr);
  TComponent::Free(again);
  return 0;
}
