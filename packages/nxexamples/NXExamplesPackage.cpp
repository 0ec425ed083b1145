// The package's declaration: its name, version and classes.
#include "packages/nxexamples/NXExamplesPackage.h"

#include "components/NXComponentPackage.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::examples {

void AddPackageClasses(TClassList& AList) {
  AList.push_back(&TNXGroup::StaticClassInfo());
  AddSourceClasses(AList);
  AddFilterClasses(AList);
  AddSpectrumClasses(AList);
  AddSinkClasses(AList);
}

TClassList PackageClasses() {
  TClassList list;
  AddPackageClasses(list);
  return list;
}

}  // namespace nx::examples

NX_PACKAGE_LIST("nxexamples", "1.0", nx::examples::AddPackageClasses)
