// The package's declaration: its name, version and classes.
#include "packages/nxexamples/NXExamplesPackage.h"

#include "components/NXComponentPackage.h"
#include "components/NXComponentPalette.h"
#include "packages/nxexamples/NXExampleFilters.h"
#include "packages/nxexamples/NXExampleSinks.h"
#include "packages/nxexamples/NXExampleSources.h"
#include "packages/nxexamples/NXExampleSpectrum.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::examples {

void AddPackageClasses(TClassList& AList) {
  AList.push_back(&TNXGroup::StaticClassInfo());
  AddSourceClasses(AList);
  AddFilterClasses(AList);
  AddSpectrumClasses(AList);
  AddSinkClasses(AList);
}

TClassList PackageClasses() {
  TClassList list;
  AddPackageClasses(list);
  return list;
}

}  // namespace nx::examples

NX_PACKAGE_LIST("nxexamples", "1.0", nx::examples::AddPackageClasses)

// Where the designer's palette shows each class.
using namespace nx::examples;
NX_PACKAGE_PALETTE(
    NX_PALETTE_ENTRY(TNXGroup, "Containers", "A plain container of components: the root of a graph"),
    NX_PALETTE_ENTRY(TNXSineGenerator, "Generators", "A sine of Frequency Hz, Amplitude and Phase (degrees)"),
    NX_PALETTE_ENTRY(TNXNoiseGenerator, "Generators", "Seeded uniform or Gaussian noise"),
    NX_PALETTE_ENTRY(TNXWavePlayer, "Generators", "Plays one channel of a sound file"),
    NX_PALETTE_ENTRY(TNXGain, "Filters", "Multiplies the stream by Gain"),
    NX_PALETTE_ENTRY(TNXFirFilter, "Filters", "Windowed-sinc FIR: low-, high-, band-pass or band-stop"),
    NX_PALETTE_ENTRY(TNXIirFilter, "Filters", "IIR biquad cascade from a Bessel, Butterworth or Chebyshev design"),
    NX_PALETTE_ENTRY(TNXMixer, "Math", "The sample-wise sum of InputCount inputs, times Gain"),
    NX_PALETTE_ENTRY(TNXLevelDetector, "Analysis", "One RMS value per buffer; peak and RMS of the whole run"),
    NX_PALETTE_ENTRY(TNXSpectrum, "Analysis", "The windowed FFT power spectrum of the stream"),
    NX_PALETTE_ENTRY(TNXScopeView, "Displays", "The last Samples samples as a picture and a table"),
    NX_PALETTE_ENTRY(TNXSpectrumView, "Displays", "The last spectrum received as a picture and a table"),
    NX_PALETTE_ENTRY(TNXCsvWriter, "Writers", "Every sample as index,value in a CSV file"),
    NX_PALETTE_ENTRY(TNXWaveWriter, "Writers", "A mono WAV file at the stream's rate"))
