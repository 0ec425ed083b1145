// A component package with one component: a clipper that limits every
// sample to -Level .. +Level. Built as a shared library in a folder where
// nxflow looks for packages; a graph names it with Packages="clipper".
#include <components/NXComponentPackage.h>
#include <components/NXComponentPalette.h>
#include <components/NXRealFilter.h>

using namespace nx;

class TClipper : public TNXRealFilter {
  NX_COMPONENT(TClipper, TNXRealFilter)
  // Published: saved in documents, listed by nxflow, set as "Clip.Level=0.25".
  static void DeclareProperties(TClassBuilder<TClipper>& P) { P.Prop<&TClipper::FLevel>("Level", 0.5).Min(0.0); }
  bool CanInline() const override { return true; }  // write into the block received

 protected:
  void OnProcess(const TBuffer&, TBuffer& AOutput) override {
    const double level = ReadLocked(FLevel);
    double* samples = AOutput->Modify();
    ippsThreshold_64f_I(samples, AOutput->GetSize(), level, ippCmpGreater);
    ippsThreshold_64f_I(samples, AOutput->GetSize(), -level, ippCmpLess);
  }
  double FLevel = 0.5;
};

NX_PACKAGE("clipper", "1.0", TClipper)
// Where a designer's palette shows it, with one line about it.
NX_PACKAGE_PALETTE(NX_PALETTE_ENTRY(TClipper, "Filters", "Clips the stream at +-Level"))
