// NXComponentPackage: opening component packages, checking their ABI and
// registering their classes (see the header).
#include "components/NXComponentPackage.h"

#include "components/NXComponentPalette.h"

#include <dlfcn.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <mutex>

namespace nx {

namespace {

struct TPackages {
  std::mutex Lock;  // also serialises dlerror, which is process-wide state
  std::deque<TNXLoadedPackage> Loaded;  // a deque: records handed out stay where they are
};

TPackages& Packages() {
  static auto* packages = new TPackages;  // never destroyed: packages stay loaded
  return *packages;
}

std::string LoaderError() {
  const char* why = dlerror();
  return why ? why : "unknown error";
}

}  // namespace

void NXAppendPackageClasses(std::vector<const TClassInfo*>& AList, const TClassInfo& (*const* AClasses)(),
                            std::size_t ACount) {
  AList.reserve(AList.size() + ACount);
  for (std::size_t i = 0; i < ACount; ++i) AList.push_back(&AClasses[i]());
}

const TNXLoadedPackage& LoadComponentPackage(const std::string& AFile) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(AFile, ec);
  const std::string file = ec ? AFile : canonical.string();
  TPackages& p = Packages();
  std::lock_guard guard(p.Lock);
  for (const TNXLoadedPackage& loaded : p.Loaded)
    if (loaded.File == file) return loaded;

  dlerror();
  // RTLD_GLOBAL: packages may use each other's classes.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!handle) throw EPackageError("Cannot load package " + file + ": " + LoaderError());
  auto refuse = [&](const std::string& AWhy) {
    dlclose(handle);
    throw EPackageError("Package " + file + " " + AWhy);
  };
  // dlsym on the handle searches the package before its dependencies, so
  // every package finds its own record although all use one symbol name.
  using TInfoFunction = const TNXPackageInfo* (*)();
  auto function = reinterpret_cast<TInfoFunction>(dlsym(handle, kNXPackageInfoSymbol));
  const TNXPackageInfo* info = function ? function() : nullptr;
  if (!info) refuse("declares no component package (no NX_PACKAGE line)");
  const std::string label = std::string(info->Name ? info->Name : "?") + " " + (info->Version ? info->Version : "?");
  if (info->AbiVersion != NX_RUNTIME_ABI_VERSION)
    refuse("(" + label + ") was built for runtime ABI " + std::to_string(info->AbiVersion) +
           "; this runtime has ABI " + std::to_string(NX_RUNTIME_ABI_VERSION));

  TNXLoadedPackage record{file, info->Name ? info->Name : "", info->Version ? info->Version : "", {}};
  if (info->AddClasses) info->AddClasses(record.Classes);
  // All or nothing: a clash leaves none of the package's classes behind.
  std::vector<const TClassInfo*> registered;
  try {
    for (const TClassInfo* c : record.Classes) {
      const bool known = FindClassInfo(c->Name()) == c;
      RegisterClass(*c);
      if (!known) registered.push_back(c);
    }
  } catch (const Exception& e) {
    for (auto it = registered.rbegin(); it != registered.rend(); ++it) UnregisterClass(**it);
    refuse("(" + label + ") cannot register its classes: " + e.Message());
  }
  // The palette table, when the package has one: only entries for its own
  // classes count (dlsym on the handle may find a dependency's table).
  using TPaletteFunction = const TNXPackagePalette* (*)();
  auto paletteFunction = reinterpret_cast<TPaletteFunction>(dlsym(handle, kNXPackagePaletteSymbol));
  if (const TNXPackagePalette* palette = paletteFunction ? paletteFunction() : nullptr)
    for (std::size_t i = 0; i < palette->Count; ++i) {
      const TNXPaletteEntry& entry = palette->Entries[i];
      const TClassInfo* c = entry.Class ? &entry.Class() : nullptr;
      if (!c || !entry.Category || !*entry.Category ||
          std::find(record.Classes.begin(), record.Classes.end(), c) == record.Classes.end())
        continue;
      RegisterPaletteClass(*c, entry.Category, entry.Description ? entry.Description : "");
    }
  p.Loaded.push_back(std::move(record));
  return p.Loaded.back();
}

}  // namespace nx
