// NXGenericFilterTypes: event types shared by the component bases. The start
// event of a buffer generator is told the generator and the buffer size (in
// samples) with which its stream starts.
#pragma once


#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"

namespace nx {

using TNXStartNotify = std::function<void(TComponent* ASender, double ABufferSize)>;
// A notify event of the component bases: told the object that raised it (a
// generator, a filter's threading settings).
using TNXNotifyEvent = std::function<void(TPersistent* ASender)>;

}  // namespace nx
