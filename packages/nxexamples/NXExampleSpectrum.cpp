// (being written)
#include "packages/nxexamples/NXExamplesPackage.h"

namespace nx::examples {
void AddSpectrumClasses(TClassList&) {}
}  // namespace nx::examples
