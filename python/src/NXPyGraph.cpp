#include "NXPyCommon.h"
namespace nx::py {
void RegisterGraphs(pyb::module_&) {}
}
