// A component package with one component: a clipper that limits every
// sample to -Level .. +Level. Built as a shared library in a folder where
// nxflow looks for packages; a graph names it with Packages="clipper".
#include <nxruntime.h>

using namespace nx;

class TClipper : public TNXCommonRealFilter, public INXPinOwner {
  NX_PERSISTENT(TClipper, TNXCommonRealFilter)

 public:
  explicit TClipper(TComponent* AOwner) : TNXCommonRealFilter(AOwner) { InitProperties(this); }
  ~TClipper() override { ShutdownThread(); }

  // Published properties: saved in graph documents, listed by nxflow,
  // set by name ("Clip.Level=0.25").
  static void DeclareProperties(TClassBuilder<TClipper>& P) {
    P.Prop<&TClipper::FLevel, &TClipper::SetLevel>("Level", 0.5).Min(0.0);
  }
  void SetLevel(double AValue) { SetNotify(FLevel, AValue); }

  // The pins by name, so that documents can link them.
  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    if (AIndex == 0) return InputPin();
    return OutputPin();
  }

  // In place: as the only receiver of a buffer the filter writes into the
  // sender's block; otherwise the base hands it a copy.
  bool CanInline() const override { return true; }
  void FilterInternalOperation(const TBuffer&, TBuffer& AOutput, bool&) override {
    const double level = ReadLocked(FLevel);
    double* samples = AOutput->Modify();
    ippsThreshold_64f_I(samples, AOutput->GetSize(), level, ippCmpGreater);
    ippsThreshold_64f_I(samples, AOutput->GetSize(), -level, ippCmpLess);
  }

 private:
  double FLevel = 0.5;
};

// The package registers its class when it is loaded and removes it when
// it is unloaded.
__attribute__((constructor)) static void LoadClipperPackage() { RegisterClass(TClipper::StaticClassInfo()); }
__attribute__((destructor)) static void UnloadClipperPackage() { UnregisterClass(TClipper::StaticClassInfo()); }
