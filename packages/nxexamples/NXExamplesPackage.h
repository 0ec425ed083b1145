// The example component package: sources, filters, analysis and sinks that
// the bundled graphs are built from. Loaded by the nxflow host (or any
// program) with LoadComponentPackage, which registers its classes. Each unit of the package adds its classes
// to the list through its Add...Classes function.
#pragma once

#include <vector>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::examples {

using TClassList = std::vector<const TClassInfo*>;

void AddSourceClasses(TClassList& AList);    // NXExampleSources: sine, noise, WAV player
void AddFilterClasses(TClassList& AList);    // NXExampleFilters: gain, FIR, IIR, mixer, level
void AddSpectrumClasses(TClassList& AList);  // NXExampleSpectrum: windowed FFT spectrum
void AddSinkClasses(TClassList& AList);      // NXExampleSinks: scope, spectrum view, CSV, WAV writer

// The root of a graph document: a plain container of the graph's components.
class TNXGroup : public TComponent {
  NX_PERSISTENT(TNXGroup, TComponent)
 public:
  explicit TNXGroup(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TNXGroup>&) {}
};

// Every class of the package, in registration order.
void AddPackageClasses(TClassList& AList);
TClassList PackageClasses();

}  // namespace nx::examples
