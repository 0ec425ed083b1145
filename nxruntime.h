// nxruntime: one include for the whole public interface of the library.
#pragma once

#include "runtime/NXPackage.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Streams.h"
#include "runtime/Zandor.Threading.h"
#include "vector/IPPPTypes.h"
#include "vector/LibCDispatcher.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/NXNormDispatcher.h"
#include "vector/NXResizeDispatcher.h"
#include "vector/NXScopeDispatcher.h"
#include "vector/PMImageDefs.h"
#include "vector/RGIPPILoader.h"
#include "vector/RGIPPSLoader.h"
#include "vector/RGMalloc.h"
