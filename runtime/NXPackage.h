// NXPackage: the package start-up. When the library is loaded, the start-up
// sections of its units run once, in a fixed order; when it is unloaded their
// finalization sections run in the reverse order. The order is written down
// here, in one table, so that no unit depends on the order in which the
// compiler runs static initialisers: units keep their state in plain
// (constant-initialised) variables and build everything else in their
// start-up section.
#pragma once

#include <string>
#include <vector>

namespace nx {

// Runs the start-up sections (once; later calls do nothing). Called
// automatically when the shared library is loaded.
void PackageInitialize();
// Runs the finalization sections in reverse order (once). Called
// automatically when the shared library is unloaded.
void PackageFinalize();
// True between PackageInitialize and PackageFinalize.
bool PackageInitialized();

// The units in start-up order, and the log of sections that ran so far
// ("init:RGIPPSLoader", ..., "final:RGIPPSLoader").
std::vector<std::string> PackageUnits();
std::vector<std::string> PackageSectionLog();

}  // namespace nx
