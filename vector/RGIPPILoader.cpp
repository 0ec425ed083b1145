// RGIPPILoader: dlopen/dlsym stand in for the system's library loading.
#include "vector/RGIPPILoader.h"
#include "runtime/NXPackage.h"

#include <dlfcn.h>

namespace nx::RGIPPILoader {
namespace {
void* gImage = nullptr;
void* gColor = nullptr;
void* gVision = nullptr;

void* Load(const char* file) {
  void* h = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!h) ::dlerror();
  return h;
}
void Release(void*& h) {
  if (h) ::dlclose(h);
  h = nullptr;
}
}  // namespace

void* GetIPPIProcAddress(const char* name) {
  if (!name) return nullptr;
  void* p = nullptr;
  if (gImage) p = ::dlsym(gImage, name);
  if (!p && gColor) p = ::dlsym(gColor, name);
  if (!p && gVision) p = ::dlsym(gVision, name);
  return p;
}

bool CheckIPPSDLLs() { return gImage != nullptr && gColor != nullptr; }
void* ImageLibrary() { return gImage; }
void* ColorLibrary() { return gColor; }
void* VisionLibrary() { return gVision; }

void UnitInitialize() {
  gImage = Load(kImageLibraryName);
  gColor = Load(kColorLibraryName);
  gVision = Load(kVisionLibraryName);
}

void UnitFinalize() {
  Release(gVision);
  Release(gColor);
  Release(gImage);
}

}  // namespace nx::RGIPPILoader

NX_PACKAGE_UNIT(RGIPPILoader, &nx::RGIPPILoader::UnitInitialize, &nx::RGIPPILoader::UnitFinalize)
