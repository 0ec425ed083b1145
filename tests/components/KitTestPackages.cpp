// Three tiny packages for the package-loading test, one file built three
// ways: a good one, one that claims another runtime ABI, one with no
// declaration at all.
#include "components/NXComponentKit.h"

namespace kittest {
class TKitComponent : public nx::TComponent {
  NX_COMPONENT(TKitComponent, nx::TComponent)
  static void DeclareProperties(nx::TClassBuilder<TKitComponent>&) {}
};
}  // namespace kittest

#if defined(KIT_GOOD)
namespace kittest {
class TKitGood : public TKitComponent {
  NX_COMPONENT(TKitGood, TKitComponent)
  static void DeclareProperties(nx::TClassBuilder<TKitGood>&) {}
};
}  // namespace kittest
NX_PACKAGE("kitgood", "1.0", kittest::TKitGood)
#elif defined(KIT_WRONG_ABI)
namespace kittest {
class TKitWrongAbi : public TKitComponent {
  NX_COMPONENT(TKitWrongAbi, TKitComponent)
  static void DeclareProperties(nx::TClassBuilder<TKitWrongAbi>&) {}
};
void AddClasses(std::vector<const nx::TClassInfo*>& AList) { AList.push_back(&TKitWrongAbi::StaticClassInfo()); }
}  // namespace kittest
// Written out by hand: what NX_PACKAGE gives a package compiled against
// another runtime.
extern "C" __attribute__((visibility("default"))) const nx::TNXPackageInfo* nx_package_info() {
  static const nx::TNXPackageInfo info{999, "kitwrongabi", "0.1", kittest::AddClasses};
  return &info;
}
#endif
