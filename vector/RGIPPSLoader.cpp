// RGIPPSLoader: dlopen/dlsym stand in for the system's library loading.
#include "vector/RGIPPSLoader.h"
#include "runtime/NXPackage.h"

#include <dlfcn.h>

namespace nx::RGIPPSLoader {
namespace {
void* gSignal = nullptr;
void* gCore = nullptr;

void* Load(const char* file) {
  void* h = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!h) ::dlerror();  // a missing library is not an error: clear and go on
  return h;
}
void Release(void*& h) {
  if (h) ::dlclose(h);
  h = nullptr;
}
}  // namespace

void* GetIPPSProcAddress(const char* name) {
  if (!gSignal || !name) return nullptr;
  return ::dlsym(gSignal, name);
}

bool CheckIPPSDLLs() { return gSignal != nullptr; }
void* SignalLibrary() { return gSignal; }
void* CoreLibrary() { return gCore; }

void UnitInitialize() {
  gSignal = Load(kSignalLibraryName);
  gCore = Load(kCoreLibraryName);
}

void UnitFinalize() {
  Release(gCore);
  Release(gSignal);
}

}  // namespace nx::RGIPPSLoader

NX_PACKAGE_UNIT(RGIPPSLoader, &nx::RGIPPSLoader::UnitInitialize, &nx::RGIPPSLoader::UnitFinalize)
