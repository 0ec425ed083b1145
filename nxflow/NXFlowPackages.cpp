// NXFlowPackages: finding and loading component packages (see the header).
#include "nxflow/NXFlowPackages.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace nx::flow {

namespace fs = std::filesystem;

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
  for (const std::string& dir : FSearchPath)
    for (const std::string& file : {"lib" + AName + ".so", AName + ".so"}) {
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

std::string TPackageLoader::Load(const std::string& ANameOrPath) {
  const std::string path = Resolve(ANameOrPath);
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
