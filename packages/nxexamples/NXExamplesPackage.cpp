// The package's load and unload hooks.
#include "packages/nxexamples/NXExamplesPackage.h"

#include "runtime/Zandor.TypeInfo.h"

namespace nx::examples {

TClassList PackageClasses() {
  TClassList list{&TNXGroup::StaticClassInfo()};
  AddSourceClasses(list);
  AddFilterClasses(list);
  AddSpectrumClasses(list);
  AddSinkClasses(list);
  return list;
}

namespace {
__attribute__((constructor)) void LoadPackage() {
  for (const TClassInfo* c : PackageClasses()) RegisterClass(*c);
}
__attribute__((destructor)) void UnloadPackage() {
  for (const TClassInfo* c : PackageClasses()) UnregisterClass(*c);
}
}  // namespace

}  // namespace nx::examples
