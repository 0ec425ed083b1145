// Test support: property objects and components that publish every kind of property.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Types.h"

namespace nxtest {

using namespace nx;

enum TTestMode { tmFirst, tmSecond, tmThird };
NX_ENUM_NAMES(TTestMode, "tmFirst", "tmSecond", "tmThird")

class TTestQueue : public TLockPersistent {
  NX_PERSISTENT(TTestQueue, TLockPersistent)
 public:
  static constexpr std::uint32_t kMinSize = 1;
  explicit TTestQueue(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  std::uint32_t Size() const { return ReadLocked(FSize); }
  void SetSize(std::uint32_t AValue) { SetNotifyMin(FSize, AValue, kMinSize); }
  static void DeclareProperties(TClassBuilder<TTestQueue>& P) {
    P.Prop<&TTestQueue::FSize, &TTestQueue::SetSize>("Size", 15u).Min(kMinSize);
    P.Prop<&TTestQueue::FMode>("Mode", tmFirst);
  }

 private:
  std::uint32_t FSize;
  TTestMode FMode;
};

class TTestPoint : public TLockCollectionItem {
  NX_PERSISTENT(TTestPoint, TLockCollectionItem)
 public:
  explicit TTestPoint(TPersistent* ACollection) : TLockCollectionItem(ACollection) { InitProperties(this); }
  void SetX(float AValue) { SetNotify(FX, AValue); }
  static void DeclareProperties(TClassBuilder<TTestPoint>& P) {
    P.Prop<&TTestPoint::FX>("X");
    P.Prop<&TTestPoint::FY>("Y");
  }

 private:
  float FX, FY;
};

class TTestSpecialPoint : public TTestPoint {
  NX_PERSISTENT(TTestSpecialPoint, TTestPoint)
 public:
  explicit TTestSpecialPoint(TPersistent* ACollection) : TTestPoint(ACollection) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TTestSpecialPoint>& P) {
    P.Prop<&TTestSpecialPoint::FWeight>("Weight", 1.5);
  }

 private:
  double FWeight;
};

using TTestPoints = TTypedPersistentCollection<TTestPoint>;

class TTestSettings : public TEnabledPersistent {
  NX_PERSISTENT(TTestSettings, TEnabledPersistent)
 public:
  explicit TTestSettings(TPersistent* AOwner) : TEnabledPersistent(AOwner) { InitProperties(this); }
  std::int32_t Count() const { return ReadLocked(FCount); }
  void SetCount(std::int32_t AValue) { SetNotify(FCount, AValue); }
  double Scale() const { return ReadLocked(FScale); }
  void SetScale(double AValue) { SetNotify(FScale, AValue); }
  std::int32_t Twice() const { return 2 * Count(); }
  TTestQueue* Queue() const { return FQueue.get(); }
  TTestPoints* Points() const { return FPoints.get(); }
  // A per-owner default: the value is streamed only when it differs from it.
  void SetTint(std::uint32_t AValue) { SetNotify(FTint, AValue); }
  void SetTint_Default(std::uint32_t AValue) {
    FTint_Default = AValue;
    SetTint(AValue);
  }
  bool GetTint_Stored() const { return ReadLocked(FTint) != FTint_Default; }
  TEnumSet<TTestMode> Modes() const { return ReadLocked(FModes); }
  void RaiseFull() { CallEvent(FOnFull); }
  static void DeclareProperties(TClassBuilder<TTestSettings>& P) {
    P.Prop<&TTestSettings::FFlag>("Flag", true);
    P.Prop<&TTestSettings::FCount>("Count", -3).Min(-10).Category("Numbers");
    P.Prop<&TTestSettings::FColor>("Color", 0xFF0000FFu).Editor("Color");
    P.Prop<&TTestSettings::FBig>("Big", std::int64_t{1} << 40);
    P.Prop<&TTestSettings::FGain>("Gain", 0.5f);
    P.Prop<&TTestSettings::FRate>("Rate", 44100.0);
    P.Prop<&TTestSettings::FLabel>("Label", "abc");
    P.Prop<&TTestSettings::FMode>("Mode", tmSecond);
    P.Prop<&TTestSettings::Scale, &TTestSettings::SetScale>("Scale", 2.0);
    P.Prop<&TTestSettings::Twice>("Twice");
    P.Prop<&TTestSettings::FQueue>("Queue");
    P.Prop<&TTestSettings::FPoints>("Points");
    P.Prop<&TTestSettings::FTint, &TTestSettings::SetTint>("Tint").Stored<&TTestSettings::GetTint_Stored>();
    P.Prop<&TTestSettings::FModes>("Modes", TEnumSet<TTestMode>{tmSecond});
    P.Prop<&TTestSettings::FOnFull>("OnFull");
  }

 private:
  bool FFlag;
  std::int32_t FCount;
  std::uint32_t FColor;
  std::int64_t FBig;
  float FGain;
  double FRate;
  std::string FLabel;
  TTestMode FMode;
  double FScale = 0;
  std::unique_ptr<TTestQueue> FQueue;
  std::unique_ptr<TTestPoints> FPoints;
  std::uint32_t FTint;
  std::uint32_t FTint_Default = 0;
  TEnumSet<TTestMode> FModes;
  TNotifyEvent FOnFull;
};

class TTestPumping : public TLockPersistent {
  NX_PERSISTENT(TTestPumping, TLockPersistent)
 public:
  explicit TTestPumping(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TTestPumping>& P) {
    P.Prop<&TTestPumping::FEnabled>("Enabled", false);
    P.Prop<&TTestPumping::FPriority>("Priority", 0u);
  }

 private:
  bool FEnabled;
  std::uint32_t FPriority;
};

class TTestDefaultPumping : public TTestPumping {
  NX_PERSISTENT(TTestDefaultPumping, TTestPumping)
 public:
  explicit TTestDefaultPumping(TPersistent* AOwner) : TTestPumping(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TTestDefaultPumping>& P) {
    P.Republish("Enabled", true);
    P.Republish("Priority", 10u);
  }
};

// Counts notifications, holds a reference and a byte block member, logs Loaded and destruction.
class TTestComponent : public TLockComponent {
  NX_PERSISTENT(TTestComponent, TLockComponent)
 public:
  explicit TTestComponent(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  ~TTestComponent() override { Log().push_back("destroy " + Name()); }
  static std::vector<std::string>& Log() {
    static std::vector<std::string> log;
    return log;
  }
  TTestSettings* Settings() const { return FSettings.get(); }
  TTestDefaultPumping* Pumping() const { return FPumping.get(); }
  TComponent* Target() const { return FTarget; }
  void SetTarget(TComponent* AValue) { SetReference(FTarget, AValue); }
  std::vector<std::uint8_t> Data;
  int Notifications = 0;
  int LoadedCalls = 0;
  std::vector<std::string> Heard;
  void OwnedChanged(TPersistent* ASource) override {
    if (!Initializing()) ++Notifications;
    TLockComponent::OwnedChanged(ASource);
  }
  void Loaded() override {
    ++LoadedCalls;
    Log().push_back("loaded " + Name());
    TLockComponent::Loaded();
  }
  void BeforeDestruction() override { Log().push_back("before " + Name()); }
  void Notification(TComponent* AComponent, TOperation AOperation) override {
    Heard.push_back((AOperation == opInsert ? "insert " : "remove ") + AComponent->Name());
    TLockComponent::Notification(AComponent, AOperation);
  }
  void DefineProperties(TFiler& AFiler) override {
    AFiler.DefineProperty(
        *this, "_Data",
        [](TPersistent& o, IReader& r, std::string_view key) { r.ReadBytes(key, static_cast<TTestComponent&>(o).Data); },
        [](const TPersistent& o, IWriter& w, std::string_view key) {
          const auto& d = static_cast<const TTestComponent&>(o).Data;
          w.WriteBytes(key, d.data(), d.size());
        },
        !Data.empty());
  }
  static void DeclareProperties(TClassBuilder<TTestComponent>& P) {
    P.Prop<&TTestComponent::FSettings>("Settings");
    P.Prop<&TTestComponent::FPumping>("Pumping");
    P.Prop<&TTestComponent::FTarget, &TTestComponent::SetTarget>("Target");
  }

 private:
  std::unique_ptr<TTestSettings> FSettings;
  std::unique_ptr<TTestDefaultPumping> FPumping;
  TComponent* FTarget = nullptr;
};

inline void RegisterTestClasses() {
  static const bool done = [] {
    RegisterClasses({&TTestQueue::StaticClassInfo(), &TTestSettings::StaticClassInfo(), &TTestPumping::StaticClassInfo(),
                     &TTestDefaultPumping::StaticClassInfo(), &TTestComponent::StaticClassInfo(),
                     &TComponent::StaticClassInfo()});
    RegisterCollectionItemClasses(TTestPoint::StaticClassInfo(),
                                  {&TTestPoint::StaticClassInfo(), &TTestSpecialPoint::StaticClassInfo()});
    return true;
  }();
  (void)done;
}

}  // namespace nxtest
