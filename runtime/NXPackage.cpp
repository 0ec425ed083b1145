// NXPackage: the ranked table of unit start-up and finalization sections.
#include "runtime/NXPackage.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace nx {
namespace {

// Plain, constant-initialised variables only: the rows arrive from load-time
// hooks, before any dynamic initialiser of the library may have run.
constexpr std::size_t kMaxUnits = 128;
constinit TUnitSections gUnits[kMaxUnits] = {};
constinit std::size_t gUnitCount = 0;
std::atomic<int> gState{0};  // 0 not started, 1 initialized, 2 finalized
std::vector<std::string>* gLog = nullptr;

void Log(const char* what, const char* unit) {
  if (!gLog) gLog = new std::vector<std::string>();
  gLog->push_back(std::string(what) + ":" + unit);
}

[[noreturn]] void Fatal(const char* AMessage, const char* AUnit) noexcept {
  std::fprintf(stderr, "nxruntime start-up: %s (%s)\n", AMessage, AUnit);
  std::abort();
}

}  // namespace

void PackageAddUnit(const TUnitSections& AUnit) noexcept {
  if (gUnitCount == kMaxUnits) Fatal("too many units", AUnit.Name);
  for (std::size_t i = 0; i < gUnitCount; ++i)
    if (gUnits[i].Rank == AUnit.Rank) Fatal("two units of one rank", AUnit.Name);
  gUnits[gUnitCount++] = AUnit;
  if (gState.load() == 1) {
    if (AUnit.Initialize) AUnit.Initialize();
    Log("init", AUnit.Name);
  }
}

void PackageInitialize() {
  int expected = 0;
  if (!gState.compare_exchange_strong(expected, 1)) return;
  std::sort(gUnits, gUnits + gUnitCount,
            [](const TUnitSections& a, const TUnitSections& b) { return a.Rank < b.Rank; });
  for (std::size_t i = 0; i < gUnitCount; ++i) {
    if (gUnits[i].Initialize) gUnits[i].Initialize();
    Log("init", gUnits[i].Name);
  }
}

void PackageFinalize() {
  int expected = 1;
  if (!gState.compare_exchange_strong(expected, 2)) return;
  for (std::size_t i = gUnitCount; i-- > 0;) {
    if (gUnits[i].Finalize) gUnits[i].Finalize();
    Log("final", gUnits[i].Name);
  }
}

bool PackageInitialized() { return gState.load() == 1; }

std::vector<std::string> PackageUnits() {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < gUnitCount; ++i) names.emplace_back(gUnits[i].Name);
  return names;
}

std::vector<std::string> PackageSectionLog() { return gLog ? *gLog : std::vector<std::string>{}; }

namespace {
// The library's load and unload hooks. The units' rows are added at priority
// 101; the start-up runs at 102, before the library's own C++ static
// initialisers, which therefore may use the primitives.
__attribute__((constructor(102))) void NXPackageLoad() { PackageInitialize(); }
__attribute__((destructor(102))) void NXPackageUnload() { PackageFinalize(); }
}  // namespace

}  // namespace nx
