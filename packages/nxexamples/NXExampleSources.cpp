// (being written)
#include "packages/nxexamples/NXExamplesPackage.h"

namespace nx::examples {
void AddSourceClasses(TClassList&) {}
}  // namespace nx::examples
