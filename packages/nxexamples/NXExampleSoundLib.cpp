// NXExampleSoundLib: loading libsndfile on first use.
#include "packages/nxexamples/NXExampleSoundLib.h"

#include <dlfcn.h>

namespace nx::examples {

namespace {

// The name of the library the package was built against (its soname).
constexpr const char* kLibrary = "libsndfile.so.1";

struct TLoaded {
  TSoundLib Lib{};
  bool Ok = false;
  std::string Why;
};

template <typename F>
bool Bind(void* AHandle, const char* AName, F& AFunction, std::string& AWhy) {
  AFunction = reinterpret_cast<F>(dlsym(AHandle, AName));
  if (!AFunction && AWhy.empty()) AWhy = std::string(kLibrary) + " has no " + AName;
  return AFunction != nullptr;
}

TLoaded Load() {
  TLoaded r;
  // Kept for the life of the process: open files point into it.
  void* handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    r.Why = why ? why : std::string(kLibrary) + " cannot be loaded";
    return r;
  }
  TSoundLib& l = r.Lib;
  r.Ok = Bind(handle, "sf_open", l.sf_open, r.Why) & Bind(handle, "sf_close", l.sf_close, r.Why) &
         Bind(handle, "sf_seek", l.sf_seek, r.Why) & Bind(handle, "sf_readf_double", l.sf_readf_double, r.Why) &
         Bind(handle, "sf_write_double", l.sf_write_double, r.Why) & Bind(handle, "sf_command", l.sf_command, r.Why) &
         Bind(handle, "sf_error", l.sf_error, r.Why) & Bind(handle, "sf_strerror", l.sf_strerror, r.Why) &
         Bind(handle, "sf_error_number", l.sf_error_number, r.Why);
  return r;
}

}  // namespace

const TSoundLib* SoundLib(std::string* AWhy) {
  static const TLoaded loaded = Load();
  if (!loaded.Ok && AWhy) *AWhy = loaded.Why;
  return loaded.Ok ? &loaded.Lib : nullptr;
}

}  // namespace nx::examples
