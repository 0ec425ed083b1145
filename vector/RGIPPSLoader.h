// RGIPPSLoader: loads the vendor's signal-processing libraries when they are
// installed, and looks primitive names up in them. A missing library leaves
// its handle null and prints nothing; every primitive then comes from the
// package's own routines.
#pragma once

namespace nx::RGIPPSLoader {

inline constexpr const char* kSignalLibraryName = "libipps.so";
inline constexpr const char* kCoreLibraryName = "libippcore.so";

// The address of the signal library's export `name`, or null when the library
// is not loaded or does not export it. Only the signal library is searched;
// the core library is loaded and held but never searched.
void* GetIPPSProcAddress(const char* name);

// True when the signal library is loaded.
bool CheckIPPSDLLs();

// Module handles (null when not loaded); written only at start-up.
void* SignalLibrary();
void* CoreLibrary();

void UnitInitialize();  // loads the signal, then the core library
void UnitFinalize();    // releases the core, then the signal library

}  // namespace nx::RGIPPSLoader
