// NXComponentPalette: where a package's component classes stand on a
// designer's palette. Beside its NX_PACKAGE line a package may give each
// class a palette category and a one-line description:
//
//   NX_PACKAGE_PALETTE(
//       NX_PALETTE_ENTRY(TClipper, "Filters", "Clips the stream at +-Level"),
//       NX_PALETTE_ENTRY(TNoiseGate, "Filters", "Silences the stream below Threshold"))
//
// LoadComponentPackage reads the table once it has registered the package's
// classes: each class goes into its category of the design registry
// (Zandor.Design: RegisterComponents, CategoriesOf) and its description is
// kept for PaletteDescription. Entries for classes the package does not
// declare are ignored. A package without the line loads as before; its
// classes stand in no category.
#pragma once

#include <cstddef>
#include <string>

#include "runtime/Zandor.TypeInfo.h"

namespace nx {

struct TNXPaletteEntry {
  const TClassInfo& (*Class)();
  const char* Category;
  const char* Description;
};

struct TNXPackagePalette {
  std::size_t Count;
  const TNXPaletteEntry* Entries;
};

// The symbol a package with a palette table exports.
inline constexpr const char* kNXPackagePaletteSymbol = "nx_package_palette";

// Puts AClass on the palette: into ACategory of the design registry, with a
// one-line description (what a package's table does for each entry; the
// library's own classes and programs use it directly).
void RegisterPaletteClass(const TClassInfo& AClass, const std::string& ACategory, const std::string& ADescription);
// The description a palette entry gave AClass; "" when none did.
std::string PaletteDescription(const TClassInfo& AClass);

}  // namespace nx

#define NX_PALETTE_ENTRY(AClass, ACategory, ADescription) \
  ::nx::TNXPaletteEntry { &AClass::StaticClassInfo, ACategory, ADescription }

#define NX_PACKAGE_PALETTE(...)                                                                                   \
  extern "C" __attribute__((visibility("default"))) const ::nx::TNXPackagePalette* nx_package_palette() {       \
    static const ::nx::TNXPaletteEntry entries[] = {__VA_ARGS__};                                               \
    static const ::nx::TNXPackagePalette palette{sizeof entries / sizeof entries[0], entries};                  \
    return &palette;                                                                                            \
  }
