// NXPackage: the package start-up. When the library is loaded, the start-up
// sections of its units run once, in one fixed order; when it is unloaded
// their finalization sections run in the reverse order.
//
// The order is written down once, here, as ranks (TUnitRank). Each unit that
// has a section registers its row from its own source file with
// NX_PACKAGE_UNIT; the registrations only append to a fixed table, and the
// start-up sorts the rows by rank before it runs any of them. So no unit
// depends on the order in which the compiler runs static initialisers, and
// the ground floor names no unit above it: a new unit adds its rank here and
// its row in its own file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nx {

// The start-up order of the package's units, ground floor first. Gaps of ten
// leave room for units added later between two existing ones.
enum class TUnitRank : int {
  PMImageDefs = 10,
  IPPPTypes = 20,
  RGMalloc = 30,
  LibCDispatcher = 40,
  RGIPPSLoader = 50,
  RGIPPILoader = 60,
  NXResizeDispatcher = 70,
  NXScopeDispatcher = 80,
  NXBasicDispatcher = 90,
  ZandorBasicDataTypes = 100,
  NXVariantStorages = 110,
  NXStreamTypes = 120,
  NXTypes = 130,
  NXNormDispatcher = 140,
  NXFilterTypes = 150,
  NXClockGen = 160,
  NXInternalStore = 170,
  NXSimpleDataBuffer = 180,
  ZandorBufferAccumulator = 190,
  ZandorOpenCLDataBufferProxy = 200,
  PaletteCategories = 210,
  RGComponent = 220,
  ZandorProcessing = 230,
  RGProcessingManager = 240,
  NXComponentCollection = 250,
  NXGenericFilterTypes = 260,
  NXCommonGen = 270,
  NXCommonFilter = 280,
  NXMultiInput = 290,
  NXRealQueue = 300,
  NXAveraging = 310,
  NXWindowFilter = 320,
  ZandorCanvasIntf = 330,
  RGDrawLayers = 340,
  RGGDIPlusProperties = 350,
  RGSimpleXML = 360,
};

// One unit's sections. Either function may be null.
struct TUnitSections {
  const char* Name;
  TUnitRank Rank;
  void (*Initialize)();
  void (*Finalize)();
};

// Adds a unit's row. Called from load-time hooks (NX_PACKAGE_UNIT) before the
// start-up runs; a row added after the start-up (a unit of a library loaded
// later) runs its start-up section at once and is finalized with the package.
// Two rows of one rank, or more rows than the table holds, are a programming
// error: the process stops with a message, since a load-time hook cannot
// raise.
void PackageAddUnit(const TUnitSections& AUnit) noexcept;

// Runs the start-up sections (once; later calls do nothing). Called
// automatically when the shared library is loaded.
void PackageInitialize();
// Runs the finalization sections in reverse order (once). Called
// automatically when the shared library is unloaded.
void PackageFinalize();
// True between PackageInitialize and PackageFinalize.
bool PackageInitialized();

// The units with sections in start-up order, and the log of sections that
// ran so far ("init:RGIPPSLoader", ..., "final:RGIPPSLoader").
std::vector<std::string> PackageUnits();
std::vector<std::string> PackageSectionLog();

}  // namespace nx

// Registers the sections of the unit ANAME (an identifier and a rank name of
// TUnitRank) when the library is loaded. Use once per unit, at namespace
// scope, in the unit's source file.
#define NX_PACKAGE_UNIT(ANAME, AINIT, AFINAL)                                              \
  __attribute__((constructor(101))) static void NXRegisterUnit_##ANAME() {              \
    ::nx::PackageAddUnit({#ANAME, ::nx::TUnitRank::ANAME, (AINIT), (AFINAL)});           \
  }
