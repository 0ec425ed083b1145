// NXPackage: the ordered table of unit start-up and finalization sections.
#include "runtime/NXPackage.h"

#include <atomic>
#include <mutex>

#include "buffers/NXInternalStore.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "streams/NXStreamTypes.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/NXNormDispatcher.h"
#include "vector/NXResizeDispatcher.h"
#include "vector/NXScopeDispatcher.h"
#include "vector/RGIPPILoader.h"
#include "vector/RGIPPSLoader.h"

namespace nx {
namespace {

struct TUnitSections {
  const char* Name;
  void (*Initialize)();  // null: the unit has no start-up section
  void (*Finalize)();    // null: the unit has no finalization section
};

// The start-up order of the package's units. Units without sections are
// listed too, so that the table reads as the whole order.
constexpr TUnitSections kUnits[] = {
    {"PMImageDefs", nullptr, nullptr},
    {"IPPPTypes", nullptr, nullptr},
    {"RGMalloc", nullptr, nullptr},
    {"LibCDispatcher", nullptr, nullptr},
    {"RGIPPSLoader", &RGIPPSLoader::UnitInitialize, &RGIPPSLoader::UnitFinalize},
    {"RGIPPILoader", &RGIPPILoader::UnitInitialize, &RGIPPILoader::UnitFinalize},
    {"NXResizeDispatcher", &NXResizeDispatcher::UnitInitialize, &NXResizeDispatcher::UnitFinalize},
    {"NXScopeDispatcher", &NXScopeDispatcher::UnitInitialize, &NXScopeDispatcher::UnitFinalize},
    {"NXBasicDispatcher", &NXBasicDispatcher::UnitInitialize, &NXBasicDispatcher::UnitFinalize},
    {"Zandor.BasicDataTypes", nullptr, nullptr},
    {"NXVariantStorages", nullptr, nullptr},
    {"NXStreamTypes", &NXStreamTypes::UnitInitialize, &NXStreamTypes::UnitFinalize},
    {"NXNormDispatcher", &NXNormDispatcher::UnitInitialize, &NXNormDispatcher::UnitFinalize},
    {"NXInternalStore", &NXInternalStore::UnitInitialize, &NXInternalStore::UnitFinalize},
    {"NXSimpleDataBuffer", &NXSimpleDataBuffer::UnitInitialize, &NXSimpleDataBuffer::UnitFinalize},
};

// Plain variables only: these are read before any dynamic initialiser of the
// library may have run. The log is allocated on first use and kept until
// process exit.
std::atomic<int> gState{0};  // 0 not started, 1 initialized, 2 finalized
std::vector<std::string>* gLog = nullptr;

void Log(const char* what, const char* unit) {
  if (!gLog) gLog = new std::vector<std::string>();
  gLog->push_back(std::string(what) + ":" + unit);
}

}  // namespace

void PackageInitialize() {
  int expected = 0;
  if (!gState.compare_exchange_strong(expected, 1)) return;
  for (const auto& u : kUnits) {
    if (u.Initialize) u.Initialize();
    Log("init", u.Name);
  }
}

void PackageFinalize() {
  int expected = 1;
  if (!gState.compare_exchange_strong(expected, 2)) return;
  for (auto it = std::rbegin(kUnits); it != std::rend(kUnits); ++it) {
    if (it->Finalize) it->Finalize();
    Log("final", it->Name);
  }
}

bool PackageInitialized() { return gState.load() == 1; }

std::vector<std::string> PackageUnits() {
  std::vector<std::string> names;
  for (const auto& u : kUnits) names.emplace_back(u.Name);
  return names;
}

std::vector<std::string> PackageSectionLog() { return gLog ? *gLog : std::vector<std::string>{}; }

namespace {
// The library's load and unload hooks. Priority 101 runs the start-up before
// the library's own C++ static initialisers, which therefore may use the
// primitives; the units themselves depend on no static initialiser.
__attribute__((constructor(101))) void NXPackageLoad() { PackageInitialize(); }
__attribute__((destructor(101))) void NXPackageUnload() { PackageFinalize(); }
}  // namespace

}  // namespace nx
