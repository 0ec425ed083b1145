// RGComponent: small property objects that many components publish (points,
// optional on/off settings, a login pair, master pumping settings, named
// collection items), a component with separate input and output locks, a
// persistent byte array edited as bit sets, a locale holder, and a few free
// routines (rectangle rounding, system colours, clamping).
//
// Every property object here belongs to an owner, shares the owner's
// change-notify lock and declares its published properties once in its
// DeclareProperties table: the table gives the initial values, the streaming
// and the by-name access. Every setter takes the lock, compares, and stores
// and notifies the owner only when the value changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffers/Zandor.BasicDataTypes.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Types.h"
#include "vector/PMImageDefs.h"

namespace nx {

// A point of 32-bit floats.
struct TPointF {
  float X = 0;
  float Y = 0;
  friend constexpr bool operator==(const TPointF&, const TPointF&) = default;
};

// ---- Free routines

// The integer rectangle of four float edges, each rounded to the nearest
// integer with ties to even. ERangeError for a value outside the signed
// 32-bit range (NaN included).
TRect RGMakeRect(float ALeft, float ATop, float ARight, float ABottom);
// A non-negative colour unchanged; a negative one is a system colour whose
// index is its low byte, answered from the classic default colour table
// (0x00BBGGRR; 0 for an index the table does not have).
std::int32_t RGColorToRGB(std::int32_t Color);
// AValue clamped to AMin .. AMax when ACondition holds (the lower bound is
// tested first); a NaN bound clamps nothing, since every comparison with a
// NaN is false.
double LimitMinMax(double AValue, double AMin, double AMax, bool ACondition);

// ---- Property objects

class TRGLogin : public TLockPersistent {
  NX_PERSISTENT_DECL(TRGLogin, TLockPersistent)
 public:
  explicit TRGLogin(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  // Stored and streamed as they are: this unit neither hides nor checks them.
  std::string UserName() const { return ReadLocked(FUserName); }
  void SetUserName(const std::string& AValue) { SetNotify(FUserName, AValue); }
  std::string Password() const { return ReadLocked(FPassword); }
  void SetPassword(const std::string& AValue) { SetNotify(FPassword, AValue); }
  static void DeclareProperties(TClassBuilder<TRGLogin>& P);

 private:
  std::string FUserName;
  std::string FPassword;
};

class TRGOptionalSettingProperty : public TLockPersistent {
  NX_PERSISTENT_DECL(TRGOptionalSettingProperty, TLockPersistent)
 public:
  explicit TRGOptionalSettingProperty(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  bool UseCurrent() const { return ReadLocked(FUseCurrent); }
  void SetUseCurrent(bool AValue) { SetNotify(FUseCurrent, AValue); }
  static void DeclareProperties(TClassBuilder<TRGOptionalSettingProperty>& P);

 private:
  bool FUseCurrent;
};

class TRGOptionalVisibilityProperty : public TLockPersistent {
  NX_PERSISTENT_DECL(TRGOptionalVisibilityProperty, TLockPersistent)
 public:
  explicit TRGOptionalVisibilityProperty(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  bool Visible() const { return ReadLocked(FVisible); }
  void SetVisible(bool AValue) { SetNotify(FVisible, AValue); }
  static void DeclareProperties(TClassBuilder<TRGOptionalVisibilityProperty>& P);

 private:
  bool FVisible;
};

class TRGIntegerPointProperty : public TLockPersistent {
  NX_PERSISTENT_DECL(TRGIntegerPointProperty, TLockPersistent)
 public:
  explicit TRGIntegerPointProperty(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  std::int32_t X() const { return ReadLocked(FX); }
  void SetX(std::int32_t AValue) { SetNotify(FX, AValue); }
  std::int32_t Y() const { return ReadLocked(FY); }
  void SetY(std::int32_t AValue) { SetNotify(FY, AValue); }
  TPoint GetPoint() const;
  static void DeclareProperties(TClassBuilder<TRGIntegerPointProperty>& P);

 private:
  std::int32_t FX;
  std::int32_t FY;
};

class TRGFloatPointProperty : public TLockPersistent {
  NX_PERSISTENT_DECL(TRGFloatPointProperty, TLockPersistent)
 public:
  explicit TRGFloatPointProperty(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  float X() const { return ReadLocked(FX); }
  void SetX(float AValue) { SetNotify(FX, AValue); }
  float Y() const { return ReadLocked(FY); }
  void SetY(float AValue) { SetNotify(FY, AValue); }
  TPointF GetPoint() const;
  static void DeclareProperties(TClassBuilder<TRGFloatPointProperty>& P);

 private:
  float FX;
  float FY;
};

class TRGCollectionPoint : public TLockCollectionItem {
  NX_PERSISTENT_DECL(TRGCollectionPoint, TLockCollectionItem)
 public:
  explicit TRGCollectionPoint(TPersistent* ACollection) : TLockCollectionItem(ACollection) { InitProperties(this); }
  float X() const { return ReadLocked(FX); }
  void SetX(float AValue) { SetNotify(FX, AValue); }
  float Y() const { return ReadLocked(FY); }
  void SetY(float AValue) { SetNotify(FY, AValue); }
  TPointF GetPoint() const;
  // "(X,Y)", each in the shortest text that reads back as the same float.
  std::string GetDisplayName() const override;
  static void DeclareProperties(TClassBuilder<TRGCollectionPoint>& P);

 private:
  float FX;
  float FY;
};

class TRGCollectionPoints : public TTypedPersistentCollection<TRGCollectionPoint> {
  NX_PERSISTENT_DECL(TRGCollectionPoints, TTypedPersistentCollection<TRGCollectionPoint>)
 public:
  explicit TRGCollectionPoints(TPersistent* AOwner) : TTypedPersistentCollection<TRGCollectionPoint>(AOwner) {}
};

// What a component pumps and at which priority is the component's choice;
// this is only the pair of settings.
class TRGMasterPumping : public TLockPersistent {
  NX_PERSISTENT_DECL(TRGMasterPumping, TLockPersistent)
 public:
  explicit TRGMasterPumping(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  std::uint32_t Priority() const { return ReadLocked(FPriority); }
  void SetPriority(std::uint32_t AValue) { SetNotify(FPriority, AValue); }
  static void DeclareProperties(TClassBuilder<TRGMasterPumping>& P);

 private:
  bool FEnabled;
  std::uint32_t FPriority;
};

class TRGDefaultEnabledMasterPumping : public TRGMasterPumping {
  NX_PERSISTENT_DECL(TRGDefaultEnabledMasterPumping, TRGMasterPumping)
 public:
  explicit TRGDefaultEnabledMasterPumping(TPersistent* AOwner) : TRGMasterPumping(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TRGDefaultEnabledMasterPumping>& P);
};

class TRGNamedCollectionItem : public TLockCollectionItem {
  NX_PERSISTENT_DECL(TRGNamedCollectionItem, TLockCollectionItem)
 public:
  explicit TRGNamedCollectionItem(TPersistent* ACollection) : TLockCollectionItem(ACollection) {
    InitProperties(this);
  }
  std::string Name() const { return ReadLocked(FName); }
  // Runs InvalidateItem after an effective change, before the notification.
  void SetName(const std::string& AValue);
  // Name, or the inherited display name while Name is empty.
  std::string GetDisplayName() const override;
  // A hook for descendants that cache what the name decides; empty here.
  virtual void InvalidateItem() {}
  static void DeclareProperties(TClassBuilder<TRGNamedCollectionItem>& P);

 private:
  std::string FName;
};

class TRGOptionalNamedCollectionItem : public TRGNamedCollectionItem {
  NX_PERSISTENT_DECL(TRGOptionalNamedCollectionItem, TRGNamedCollectionItem)
 public:
  explicit TRGOptionalNamedCollectionItem(TPersistent* ACollection) : TRGNamedCollectionItem(ACollection) {
    InitProperties(this);
  }
  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  static void DeclareProperties(TClassBuilder<TRGOptionalNamedCollectionItem>& P);

 private:
  bool FEnabled;
};

// A component whose lock is a pair: the input side (the lock the component
// was made with) and an output side of its own. Taking the component's lock
// takes both; input-side and output-side code take their side alone, so
// one thread can receive while another sends.
class TRGInputOutputLockComponent : public TLockComponent {
  NX_PERSISTENT_DECL(TRGInputOutputLockComponent, TLockComponent)
 public:
  explicit TRGInputOutputLockComponent(TComponent* AOwner);
  IChangeNotifyLock* InputLock() const noexcept { return FInputLock.Get(); }
  IChangeNotifyLock* OutputLock() const noexcept { return FOutputLock.Get(); }
  void BeginInput() const { FInputLock->BeginWrite(); }
  void EndInput() const { FInputLock->EndWrite(); }
  void BeginOutput() const { FOutputLock->BeginWrite(); }
  void EndOutput() const { FOutputLock->EndWrite(); }

 private:
  TIntfPtr<IChangeNotifyLock> FInputLock;
  TIntfPtr<IChangeNotifyLock> FOutputLock;
};

// A byte array streamed as the member "_Data", edited as bit sets of eight
// bits per byte.
class TBinaryPersistent : public TLockPersistent {
  NX_PERSISTENT_DECL(TBinaryPersistent, TLockPersistent)
 public:
  using TBits = IRGBits::TBits;
  static constexpr std::int32_t kMaxSize = 65536;

  explicit TBinaryPersistent(TPersistent* AOwner) : TLockPersistent(AOwner) {}

  std::int32_t Count() const;
  // ERangeError "Index out of range = %u" outside 0 .. Count - 1.
  std::uint8_t Items(std::int32_t AIndex) const;
  void SetItems(std::int32_t AIndex, std::uint8_t AValue);
  // A copy of the bytes, and all of them replaced (one notification).
  std::vector<std::uint8_t> GetBytes() const { return ReadLocked(FBytes); }
  void SetBytes(std::vector<std::uint8_t> AValue);

  // The bit-set view of the design-time editor.
  std::int32_t GetBitsItemCount() const { return Count(); }
  std::int32_t GetBitsPerItem() const { return 8; }
  TBits GetBitsItem(std::int32_t AIndex) const;
  // Stores the first byte of ABits into byte AIndex; an empty set changes nothing.
  void SetBitsItem(std::int32_t AIndex, const TBits& ABits);
  std::int32_t GetMaxSize() const { return kMaxSize; }
  std::vector<TBits> GetDataBits() const;
  // False (and AOnBeginModify not called) when AValue equals the bytes: the
  // same count and each set's first byte equal to the stored byte (an empty
  // set counts as 0). Else calls AOnBeginModify, takes the list's bytes and
  // returns true.
  bool SetDataBits(const std::vector<TBits>& AValue, const std::function<void()>& AOnBeginModify = {});

  // Walking the bytes: over a copy taken under the lock, so a walk never
  // sees a change half made. The indexed forms give the index first.
  void ForEach(const std::function<void(std::uint8_t)>& AProc) const;
  void ForEachIndexed(const std::function<void(std::int32_t, std::uint8_t)>& AProc) const;
  void ForEachReverse(const std::function<void(std::uint8_t)>& AProc) const;
  void ForEachIndexedReverse(const std::function<void(std::int32_t, std::uint8_t)>& AProc) const;
  // The bytes that satisfy APredicate, in order.
  std::vector<std::uint8_t> Query(const std::function<bool(std::uint8_t)>& APredicate) const;

  // Writes "_Data" when there are bytes; reading clears the bytes first, so
  // an object stored without "_Data" reads back empty.
  void DefineProperties(TFiler& AFiler) override;
  void Assign(const TPersistent& ASource) override;

 private:
  void CheckIndex(std::int32_t AIndex) const;
  std::vector<std::uint8_t> FBytes;
};

// ---- Locale holder

// A locale identifier (the numeric form: 0x0409 English (United States),
// 0x0407 German (Germany) ...) asked for through a getter each time.
class TRGLanguage : public TInterfacedObject {
 public:
  using TIDGetter = std::function<std::uint32_t()>;
  explicit TRGLanguage(TIDGetter AIDGetter);
  explicit TRGLanguage(std::uint32_t AID);
  std::uint32_t GetID() const { return FIDGetter(); }
  // The language name of the locale from the system's locale data (its
  // language and territory, "English (United States)"); empty when the
  // identifier is unknown or the system lacks that locale.
  std::string GetLocalizedName() const;
  std::string LocalizedName() const { return GetLocalizedName(); }
  // The system locale name of an identifier ("en_US"); empty when unknown.
  static std::string LocaleNameOf(std::uint32_t AID);

 protected:
  // The getter the fixed-identifier constructor installs answers through this.
  virtual std::uint32_t GetIntID() const { return FID; }

 private:
  TIDGetter FIDGetter;
  std::uint32_t FID = 0;
};

}  // namespace nx
