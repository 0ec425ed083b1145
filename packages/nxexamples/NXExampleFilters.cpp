// (being written)
#include "packages/nxexamples/NXExamplesPackage.h"

namespace nx::examples {
void AddFilterClasses(TClassList&) {}
}  // namespace nx::examples
