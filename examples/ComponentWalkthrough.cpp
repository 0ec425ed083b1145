// ComponentWalkthrough: the README's "Writing a component" walk-through as a
// program. A property object with published settings, a component that owns
// one and has an input and an output pin, its class registered, and a graph
// of three such components saved as a graph document and loaded again.
#include <cstdio>
#include <memory>
#include <string>

#include "nxruntime.h"

using namespace nx;

// 1. A property object: settings published once, in DeclareProperties.
enum TGainMode { gmLinear, gmDecibel };
NX_ENUM_NAMES(TGainMode, "gmLinear", "gmDecibel")
enum TGainOption { goClip, goInvert, goMute };
NX_ENUM_NAMES(TGainOption, "goClip", "goInvert", "goMute")
using TGainOptions = TEnumSet<TGainOption>;

class TGainSettings : public TLockPersistent {
  NX_PERSISTENT(TGainSettings, TLockPersistent)
 public:
  explicit TGainSettings(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  double Gain() const { return ReadLocked(FGain); }
  void SetGain(double AValue) { SetNotify(FGain, AValue); }  // locks, compares, notifies the owner
  TGainOptions Options() const { return ReadLocked(FOptions); }
  void Overloaded() { CallEvent(FOnOverload); }  // calls the handler a host assigned, if any

  static void DeclareProperties(TClassBuilder<TGainSettings>& P) {
    P.Prop<&TGainSettings::FGain, &TGainSettings::SetGain>("Gain", 1.0).Category("Level");
    P.Prop<&TGainSettings::FMode>("Mode", gmLinear);
    P.Prop<&TGainSettings::FSteps>("Steps", 16).Min(1);
    P.Prop<&TGainSettings::FOptions>("Options", TGainOptions{goClip});  // streamed as "[goClip]"
    P.Prop<&TGainSettings::FOnOverload>("OnOverload");                   // an event: never streamed
  }

 private:
  double FGain;
  TGainMode FMode;
  std::int32_t FSteps;
  TGainOptions FOptions;
  TNotifyEvent FOnOverload;
};

// 2. A component: it owns its settings and two pins, and names them to graph
// documents through INXPinOwner so that its links are saved.
class TGainStage : public TLockComponent, public INXPinOwner {
  NX_PERSISTENT(TGainStage, TLockComponent)
 public:
  explicit TGainStage(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  TGainSettings* Settings() const { return FSettings.get(); }
  TNXFTRealSinkPin& In() { return FIn; }
  TNXFTRealSourcePin& Out() { return FOut; }

  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    return AIndex == 0 ? static_cast<TFTBasicPin*>(&FIn) : static_cast<TFTBasicPin*>(&FOut);
  }

  static void DeclareProperties(TClassBuilder<TGainStage>& P) {
    P.Prop<&TGainStage::FSettings>("Settings");  // an owned sub-object, made by InitProperties
  }

 private:
  std::unique_ptr<TGainSettings> FSettings;
  mutable TNXFTRealSinkPin FIn{"In"};
  mutable TNXFTRealSourcePin FOut{"Out"};
};

int main() {
  // 3. Register the class: documents make components by class name.
  RegisterClass(TGainStage::StaticClassInfo());

  // 4. Build a graph: a root owning two stages, A's output linked to B's input.
  auto* root = new TGainStage(nullptr);
  root->SetName("Chain");
  auto* a = new TGainStage(root);
  a->SetName("A");
  auto* b = new TGainStage(root);
  b->SetName("B");
  a->Settings()->SetGain(0.5);
  SetPropText(*b->Settings(), "Mode", "gmDecibel");      // by name, as text
  SetPropText(*b->Settings(), "Options", "[goClip,goMute]");
  SetEventProp(*b->Settings(), "OnOverload", [](TPersistent*) { std::puts("B overloaded"); });
  a->Out().Connect(&b->In());

  // 5. Save it as a graph document (text; TGraphDocumentFormat::Binary for
  // the compact form), free it, and load it again.
  const std::string text = TNXGraphDocument::SaveToString(*root);
  std::printf("%s\n", text.c_str());
  TComponent::Free(root);

  TComponent* loaded = TNXGraphDocument::LoadFromString(text, nullptr);  // EGraphDocumentError if broken
  auto* la = static_cast<TGainStage*>(loaded->FindComponent("A"));
  auto* lb = static_cast<TGainStage*>(loaded->FindComponent("B"));
  const bool ok = la && lb && la->Out().IsConnectedTo(&lb->In()) && la->Settings()->Gain() == 0.5 &&
                  GetPropText(*lb->Settings(), "Options") == "[goClip,goMute]" &&
                  GetPropText(*lb->Settings(), "OnOverload").empty();  // handlers are wired again by the host
  std::printf("loaded back: %s\n", ok ? "the same graph" : "DIFFERENT");
  TComponent::Free(loaded);
  return ok ? 0 : 1;
}
