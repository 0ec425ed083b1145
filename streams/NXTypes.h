// NXTypes: small value types shared by the signal components and their
// pins: where a generator takes its clock from.
#pragma once

#include <cstdint>

#include "runtime/Zandor.TypeInfo.h"

namespace nx {

// Where a generator takes its clock from: csAuto uses the clock input when
// it is connected and the generator's own clock otherwise; csInternal always
// its own clock; csExternal always the clock input.
enum TNXClockSource : std::uint8_t { csAuto, csInternal, csExternal };
NX_ENUM_NAMES(TNXClockSource, "csAuto", "csInternal", "csExternal")

}  // namespace nx
