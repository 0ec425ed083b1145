// (being written)
#include "packages/nxexamples/NXExamplesPackage.h"

namespace nx::examples {
void AddSinkClasses(TClassList&) {}
}  // namespace nx::examples
