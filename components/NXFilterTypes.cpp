// NXFilterTypes: the property tables of the filter settings and their
// registration with the class registry.
#include "components/NXFilterTypes.h"

#include <vector>

#include <span>

#include "runtime/NXPackage.h"

namespace nx {

void TNXOffset::DeclareProperties(TClassBuilder<TNXOffset>& P) {
  P.Prop<&TNXOffset::FCX>("CX", 0);
  P.Prop<&TNXOffset::FCY>("CY", 0);
}

void TNXCoordinateOffset::DeclareProperties(TClassBuilder<TNXCoordinateOffset>& P) {
  P.Prop<&TNXCoordinateOffset::FCoordinateMode>("CoordinateMode", cmLeftTop);
}

void TNXDelayValue::DeclareProperties(TClassBuilder<TNXDelayValue>& P) {
  P.Prop<&TNXDelayValue::FValue>("Value", std::int64_t{100});
  P.Prop<&TNXDelayValue::FMode>("Mode", dmMilliseconds);
}

namespace NXFilterTypes {
namespace {
// A plain array: the finalization runs after the process has destroyed its
// function-local objects with destructors.
std::span<const TClassInfo* const> Classes() {
  static const TClassInfo* const classes[] = {
      &TNXOffset::StaticClassInfo(), &TNXCoordinateOffset::StaticClassInfo(), &TNXDelayValue::StaticClassInfo()};
  return classes;
}
}  // namespace

void UnitInitialize() { RegisterClasses(Classes()); }
void UnitFinalize() { UnregisterClasses(Classes()); }
}  // namespace NXFilterTypes

}  // namespace nx

NX_PACKAGE_UNIT(NXFilterTypes, &nx::NXFilterTypes::UnitInitialize, &nx::NXFilterTypes::UnitFinalize)
