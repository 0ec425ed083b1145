// A small component package for the nxflow tests: loaded by the host from a
// folder on its search path, it registers its classes when loaded and
// removes them when unloaded.
#include "infrastructure/NXGraphDocument.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.TypeInfo.h"
#include "streams/NXStreamTypes.h"

namespace flowtest {
using namespace nx;

enum TFlowShape : std::int32_t { fsFlat, fsRamp, fsSine };
NX_ENUM_NAMES(TFlowShape, "fsFlat", "fsRamp", "fsSine")

// A node with a real sink and source pin and three kinds of property.
class TFlowNode : public TComponent, public INXPinOwner {
  NX_PERSISTENT(TFlowNode, TComponent)
 public:
  explicit TFlowNode(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TFlowNode>& P) {
    P.Prop<&TFlowNode::FGain>("Gain", 1.0);
    P.Prop<&TFlowNode::FOrder, &TFlowNode::SetOrder>("Order", std::int32_t(4)).Min(std::int32_t(1));
    P.Prop<&TFlowNode::FShape>("Shape", fsFlat);
  }
  void SetOrder(std::int32_t AValue) { SetNotifyMin(FOrder, AValue, std::int32_t(1)); }
  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    return AIndex == 0 ? static_cast<TFTBasicPin*>(&FIn) : static_cast<TFTBasicPin*>(&FOut);
  }

 private:
  double FGain = 1.0;
  std::int32_t FOrder = 4;
  TFlowShape FShape = fsFlat;
  mutable TNXFTRealSinkPin FIn{"In"};
  mutable TNXFTRealSourcePin FOut{"Out"};
};

// A container for the nodes of a graph.
class TFlowGroup : public TComponent {
  NX_PERSISTENT(TFlowGroup, TComponent)
 public:
  explicit TFlowGroup(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TFlowGroup>&) {}
};

__attribute__((constructor)) void RegisterFlowTestPackage() {
  RegisterClasses({&TFlowNode::StaticClassInfo(), &TFlowGroup::StaticClassInfo()});
}
__attribute__((destructor)) void UnregisterFlowTestPackage() {
  UnregisterClass(TFlowNode::StaticClassInfo());
  UnregisterClass(TFlowGroup::StaticClassInfo());
}

}  // namespace flowtest
