// NXFlowPackages: finding and loading component packages (see the header).
#include "nxflow/NXFlowPackages.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace nx::flow {

namespace fs = std::filesystem;

namespace {

std::atomic<TPythonModuleImporter> GPythonImporter{nullptr};

// What the "nxpython" package exports beside its package record: imports a
// module file into the interpreter it embeds (started on first use). 0 on
// success; otherwise the message, cut to AErrorSize, is in AError.
using TEmbeddedImport = int (*)(const char* AFile, const char* AName, char* AError, std::size_t AErrorSize);
constexpr const char* kEmbeddedImportSymbol = "nx_python_import_module";

}  // namespace

void SetPythonModuleImporter(TPythonModuleImporter AImporter) { GPythonImporter.store(AImporter); }

bool IsPythonModuleName(const std::string& AName) {
  if (AName.empty() || std::isdigit(static_cast<unsigned char>(AName[0]))) return false;
  return std::all_of(AName.begin(), AName.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

std::vector<std::string> SplitList(const std::string& AText, const char* ASeparators) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= AText.size()) {
    const std::size_t end = AText.find_first_of(ASeparators, start);
    const std::string part = AText.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

TPackageLoader::TPackageLoader(std::vector<std::string> AExtraDirs, const std::string& AProgramPath)
    : FSearchPath(std::move(AExtraDirs)) {
  if (const char* env = std::getenv("NXFLOW_PACKAGE_PATH"))
    for (std::string& dir : SplitList(env, ":")) FSearchPath.push_back(std::move(dir));
  std::error_code ec;
  fs::path program = fs::canonical(AProgramPath.empty() ? "/proc/self/exe" : AProgramPath, ec);
  if (ec) program = fs::canonical("/proc/self/exe", ec);
  if (!ec) {
    const fs::path dir = program.parent_path();
    FSearchPath.push_back((dir.parent_path() / "packages").string());
    FSearchPath.push_back((dir.parent_path() / "lib" / "nxflow").string());
  }
}

std::string TPackageLoader::Resolve(const std::string& AName) const {
  if (AName.find('/') != std::string::npos) return AName;
  // A Python module only by a name that is one: "a.b" never reaches a.b.py
  // nor a/b.py.
  const bool python = IsPythonModuleName(AName);
  for (const std::string& dir : FSearchPath)
    for (const std::string& file : {"lib" + AName + ".so", AName + ".so", python ? AName + ".py" : std::string()}) {
      if (file.empty()) continue;
      const fs::path path = fs::path(dir) / file;
      std::error_code ec;
      if (fs::is_regular_file(path, ec)) return path.string();
    }
  std::string tried;
  for (const std::string& dir : FSearchPath) tried += (tried.empty() ? "" : ", ") + dir;
  throw EPackageError("Package \"" + AName + "\" not found (searched " + (tried.empty() ? "nothing" : tried) + ")");
}

bool TPackageLoader::LoadFile(const std::string& APath) {
  // The library loads a file once and names it by its canonical path.
  const std::string& file = LoadComponentPackage(APath).File;
  if (std::find(FLoaded.begin(), FLoaded.end(), file) != FLoaded.end()) return false;
  FLoaded.push_back(file);
  return true;
}

bool TPackageLoader::ImportPythonModule(const std::string& APath, const std::string& AName) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(APath, ec);
  const std::string file = ec ? APath : canonical.string();
  if (std::find(FLoaded.begin(), FLoaded.end(), file) != FLoaded.end()) return false;
  if (TPythonModuleImporter importer = GPythonImporter.load()) {
    importer(file, AName);
  } else {
    // A host without Python of its own: the interpreter comes with the
    // "nxpython" package, a library that links Python, loaded from the same
    // search path (so nxflow itself starts without Python installed).
    std::string embed;
    try {
      embed = LoadComponentPackage(Resolve("nxpython")).File;
    } catch (const EPackageError& e) {
      throw EPackageError(file + " is a Python module, which needs the package nxpython (built with the Python "
                          "bindings): " + e.Message());
    }
    void* handle = dlopen(embed.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto import = handle ? reinterpret_cast<TEmbeddedImport>(dlsym(handle, kEmbeddedImportSymbol)) : nullptr;
    if (!import) throw EPackageError("Package " + embed + " does not embed Python (no " + kEmbeddedImportSymbol + ")");
    std::string message(64 * 1024, '\0');
    if (import(file.c_str(), AName.c_str(), message.data(), message.size()) != 0)
      throw EPackageError(message.c_str());
  }
  FLoaded.push_back(file);
  return true;
}

std::string TPackageLoader::Load(const std::string& ANameOrPath) {
  const std::string path = Resolve(ANameOrPath);
  if (fs::path(path).extension() == ".py")
    ImportPythonModule(path, ANameOrPath);
  else
    LoadFile(path);
  return path;
}

int TPackageLoader::LoadAll() {
  int count = 0;
  for (const std::string& dir : FSearchPath) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.is_regular_file() && entry.path().extension() == ".so") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());  // a fixed order: registration order is listing order
    for (const std::string& file : files) count += LoadFile(file) ? 1 : 0;
  }
  return count;
}

}  // namespace nx::flow
