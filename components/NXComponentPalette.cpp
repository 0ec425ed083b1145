// NXComponentPalette: the descriptions of palette entries (the categories
// live in the design registry).
#include "components/NXComponentPalette.h"

#include <map>
#include <mutex>

#include "runtime/Zandor.Design.h"

namespace nx {

namespace {

struct TDescriptions {
  std::mutex Lock;
  std::map<const TClassInfo*, std::string> ByClass;
};

TDescriptions& Descriptions() {
  static auto* descriptions = new TDescriptions;  // never freed: classes stay registered
  return *descriptions;
}

}  // namespace

void RegisterPaletteClass(const TClassInfo& AClass, const std::string& ACategory, const std::string& ADescription) {
  RegisterComponents(ACategory, {&AClass});
  std::lock_guard guard(Descriptions().Lock);
  // One line: the palette shows it under the class's name.
  Descriptions().ByClass[&AClass] = ADescription.substr(0, ADescription.find('\n'));
}

std::string PaletteDescription(const TClassInfo& AClass) {
  std::lock_guard guard(Descriptions().Lock);
  const auto at = Descriptions().ByClass.find(&AClass);
  return at == Descriptions().ByClass.end() ? std::string() : at->second;
}

}  // namespace nx
