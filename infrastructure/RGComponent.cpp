// RGComponent: property declarations, the paired-lock component, the byte
// array with its bit-set view, the locale holder and the free routines.
#include "infrastructure/RGComponent.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "runtime/NXPackage.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Serialization.h"

namespace nx {

NX_PERSISTENT_IMPL(TRGLogin)
NX_PERSISTENT_IMPL(TRGOptionalSettingProperty)
NX_PERSISTENT_IMPL(TRGOptionalVisibilityProperty)
NX_PERSISTENT_IMPL(TRGIntegerPointProperty)
NX_PERSISTENT_IMPL(TRGFloatPointProperty)
NX_PERSISTENT_IMPL(TRGCollectionPoint)
NX_PERSISTENT_IMPL(TRGCollectionPoints)
NX_PERSISTENT_IMPL(TRGMasterPumping)
NX_PERSISTENT_IMPL(TRGDefaultEnabledMasterPumping)
NX_PERSISTENT_IMPL(TRGNamedCollectionItem)
NX_PERSISTENT_IMPL(TRGOptionalNamedCollectionItem)
NX_PERSISTENT_IMPL(TBinaryPersistent)

NX_PERSISTENT_IMPL(TRGInputOutputLockComponent)

// ---- Free routines

namespace {

std::int32_t RoundToInt32(float AValue) {
  // nearbyint rounds in the current mode, ties to even by default; the
  // range test is written so that a NaN fails it too.
  const double r = std::nearbyint(static_cast<double>(AValue));
  if (!(r >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
        r <= static_cast<double>(std::numeric_limits<std::int32_t>::max())))
    throw ERangeError();
  return static_cast<std::int32_t>(r);
}

constexpr std::int32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<std::int32_t>(r | (g << 8) | (b << 16));
}

// The classic default system colours by index (scroll bar .. menu bar).
constexpr std::int32_t kSysColors[] = {
    Rgb(212, 208, 200),  //  0 scroll bar
    Rgb(58, 110, 165),   //  1 desktop background
    Rgb(10, 36, 106),    //  2 active caption
    Rgb(128, 128, 128),  //  3 inactive caption
    Rgb(212, 208, 200),  //  4 menu
    Rgb(255, 255, 255),  //  5 window
    Rgb(0, 0, 0),        //  6 window frame
    Rgb(0, 0, 0),        //  7 menu text
    Rgb(0, 0, 0),        //  8 window text
    Rgb(255, 255, 255),  //  9 caption text
    Rgb(212, 208, 200),  // 10 active border
    Rgb(212, 208, 200),  // 11 inactive border
    Rgb(128, 128, 128),  // 12 application workspace
    Rgb(10, 36, 106),    // 13 highlight
    Rgb(255, 255, 255),  // 14 highlight text
    Rgb(212, 208, 200),  // 15 button face
    Rgb(128, 128, 128),  // 16 button shadow
    Rgb(128, 128, 128),  // 17 grey text
    Rgb(0, 0, 0),        // 18 button text
    Rgb(212, 208, 200),  // 19 inactive caption text
    Rgb(255, 255, 255),  // 20 button highlight
    Rgb(64, 64, 64),     // 21 3D dark shadow
    Rgb(212, 208, 200),  // 22 3D light
    Rgb(0, 0, 0),        // 23 tooltip text
    Rgb(255, 255, 225),  // 24 tooltip background
    Rgb(181, 181, 181),  // 25 alternate button face
    Rgb(0, 0, 128),      // 26 hot-tracked item
    Rgb(166, 202, 240),  // 27 active caption gradient
    Rgb(192, 192, 192),  // 28 inactive caption gradient
    Rgb(10, 36, 106),    // 29 menu highlight
    Rgb(212, 208, 200),  // 30 menu bar
};

}  // namespace

TRect RGMakeRect(float ALeft, float ATop, float ARight, float ABottom) {
  return TRect{RoundToInt32(ALeft), RoundToInt32(ATop), RoundToInt32(ARight), RoundToInt32(ABottom)};
}

std::int32_t RGColorToRGB(std::int32_t Color) {
  if (Color >= 0) return Color;
  const std::uint32_t index = static_cast<std::uint32_t>(Color) & 0xFFu;
  return index < std::size(kSysColors) ? kSysColors[index] : 0;
}

double LimitMinMax(double AValue, double AMin, double AMax, bool ACondition) {
  if (!ACondition) return AValue;
  if (AMin > AValue) return AMin;
  if (AValue > AMax) return AMax;
  return AValue;
}

// ---- Property declarations

void TRGLogin::DeclareProperties(TClassBuilder<TRGLogin>& P) {
  P.Prop<&TRGLogin::FUserName, &TRGLogin::SetUserName>("UserName");
  P.Prop<&TRGLogin::FPassword, &TRGLogin::SetPassword>("Password");
}

void TRGOptionalSettingProperty::DeclareProperties(TClassBuilder<TRGOptionalSettingProperty>& P) {
  P.Prop<&TRGOptionalSettingProperty::FUseCurrent, &TRGOptionalSettingProperty::SetUseCurrent>("UseCurrent", true);
}

void TRGOptionalVisibilityProperty::DeclareProperties(TClassBuilder<TRGOptionalVisibilityProperty>& P) {
  P.Prop<&TRGOptionalVisibilityProperty::FVisible, &TRGOptionalVisibilityProperty::SetVisible>("Visible", true);
}

void TRGIntegerPointProperty::DeclareProperties(TClassBuilder<TRGIntegerPointProperty>& P) {
  P.Prop<&TRGIntegerPointProperty::FX, &TRGIntegerPointProperty::SetX>("X", 0);
  P.Prop<&TRGIntegerPointProperty::FY, &TRGIntegerPointProperty::SetY>("Y", 0);
}

TPoint TRGIntegerPointProperty::GetPoint() const {
  TReadLock guard(GetLock());
  return TPoint{FX, FY};
}

void TRGFloatPointProperty::DeclareProperties(TClassBuilder<TRGFloatPointProperty>& P) {
  P.Prop<&TRGFloatPointProperty::FX, &TRGFloatPointProperty::SetX>("X", 0.0f);
  P.Prop<&TRGFloatPointProperty::FY, &TRGFloatPointProperty::SetY>("Y", 0.0f);
}

TPointF TRGFloatPointProperty::GetPoint() const {
  TReadLock guard(GetLock());
  return TPointF{FX, FY};
}

void TRGCollectionPoint::DeclareProperties(TClassBuilder<TRGCollectionPoint>& P) {
  P.Prop<&TRGCollectionPoint::FX, &TRGCollectionPoint::SetX>("X", 0.0f);
  P.Prop<&TRGCollectionPoint::FY, &TRGCollectionPoint::SetY>("Y", 0.0f);
}

TPointF TRGCollectionPoint::GetPoint() const {
  TReadLock guard(GetLock());
  return TPointF{FX, FY};
}

std::string TRGCollectionPoint::GetDisplayName() const {
  const TPointF p = GetPoint();
  auto text = [](float v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, ec == std::errc() ? end : buf);
  };
  return "(" + text(p.X) + "," + text(p.Y) + ")";
}

void TRGMasterPumping::DeclareProperties(TClassBuilder<TRGMasterPumping>& P) {
  P.Prop<&TRGMasterPumping::FEnabled, &TRGMasterPumping::SetEnabled>("Enabled", false);
  P.Prop<&TRGMasterPumping::FPriority, &TRGMasterPumping::SetPriority>("Priority", 0u);
}

void TRGDefaultEnabledMasterPumping::DeclareProperties(TClassBuilder<TRGDefaultEnabledMasterPumping>& P) {
  P.Republish("Enabled", true);
  P.Republish("Priority", 10u);
}

void TRGNamedCollectionItem::DeclareProperties(TClassBuilder<TRGNamedCollectionItem>& P) {
  P.Prop<&TRGNamedCollectionItem::FName, &TRGNamedCollectionItem::SetName>("Name");
}

void TRGNamedCollectionItem::SetName(const std::string& AValue) {
  SetNotify(FName, AValue, [this] { InvalidateItem(); });
}

std::string TRGNamedCollectionItem::GetDisplayName() const {
  std::string name = Name();
  return name.empty() ? TLockCollectionItem::GetDisplayName() : name;
}

void TRGOptionalNamedCollectionItem::DeclareProperties(TClassBuilder<TRGOptionalNamedCollectionItem>& P) {
  P.Prop<&TRGOptionalNamedCollectionItem::FEnabled, &TRGOptionalNamedCollectionItem::SetEnabled>("Enabled", true);
}

// ---- The input/output lock component

TRGInputOutputLockComponent::TRGInputOutputLockComponent(TComponent* AOwner)
    : TLockComponent(AOwner), FInputLock(Lock()), FOutputLock(TChangeNotifyLock::Make()) {
  ReplaceLock(TPairedLock::Make(FInputLock, FOutputLock));
}

// ---- TBinaryPersistent

void TBinaryPersistent::CheckIndex(std::int32_t AIndex) const {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FBytes.size()) RaiseIndexOutOfRange(AIndex);
}

std::int32_t TBinaryPersistent::Count() const {
  TReadLock guard(GetLock());
  return static_cast<std::int32_t>(FBytes.size());
}

std::uint8_t TBinaryPersistent::Items(std::int32_t AIndex) const {
  TReadLock guard(GetLock());
  CheckIndex(AIndex);
  return FBytes[static_cast<std::size_t>(AIndex)];
}

void TBinaryPersistent::SetItems(std::int32_t AIndex, std::uint8_t AValue) {
  TWriteLock guard(GetLock());
  CheckIndex(AIndex);
  SetNotify(FBytes[static_cast<std::size_t>(AIndex)], AValue);
}

void TBinaryPersistent::SetBytes(std::vector<std::uint8_t> AValue) { SetNotify(FBytes, std::move(AValue)); }

TBinaryPersistent::TBits TBinaryPersistent::GetBitsItem(std::int32_t AIndex) const {
  const std::uint8_t b = Items(AIndex);
  return TRGBits::MakeData(&b, 8);
}

void TBinaryPersistent::SetBitsItem(std::int32_t AIndex, const TBits& ABits) {
  if (!ABits || ABits->GetCount() == 0) return;
  SetItems(AIndex, ABits->GetArray()[0]);
}

std::vector<TBinaryPersistent::TBits> TBinaryPersistent::GetDataBits() const {
  const std::vector<std::uint8_t> bytes = GetBytes();
  std::vector<TBits> result;
  result.reserve(bytes.size());
  for (std::uint8_t b : bytes) result.push_back(TRGBits::MakeData(&b, 8));
  return result;
}

namespace {
// The first byte of a bit set's data; 0 for a missing or empty set.
std::uint8_t FirstByte(const IRGBits::TBits& ABits) {
  if (!ABits || ABits->GetCount() == 0) return 0;
  return ABits->GetArray()[0];
}
}  // namespace

bool TBinaryPersistent::SetDataBits(const std::vector<TBits>& AValue, const std::function<void()>& AOnBeginModify) {
  TWriteLock guard(GetLock());
  bool same = AValue.size() == FBytes.size();
  for (std::size_t i = 0; same && i < AValue.size(); ++i) same = FirstByte(AValue[i]) == FBytes[i];
  if (same) return false;
  if (AOnBeginModify) AOnBeginModify();
  std::vector<std::uint8_t> bytes(AValue.size());
  for (std::size_t i = 0; i < AValue.size(); ++i) bytes[i] = FirstByte(AValue[i]);
  FBytes = std::move(bytes);
  Changed();
  return true;
}

void TBinaryPersistent::ForEach(const std::function<void(std::uint8_t)>& AProc) const {
  for (std::uint8_t b : GetBytes()) AProc(b);
}

void TBinaryPersistent::ForEachIndexed(const std::function<void(std::int32_t, std::uint8_t)>& AProc) const {
  const std::vector<std::uint8_t> bytes = GetBytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) AProc(static_cast<std::int32_t>(i), bytes[i]);
}

void TBinaryPersistent::ForEachReverse(const std::function<void(std::uint8_t)>& AProc) const {
  const std::vector<std::uint8_t> bytes = GetBytes();
  for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) AProc(*it);
}

void TBinaryPersistent::ForEachIndexedReverse(const std::function<void(std::int32_t, std::uint8_t)>& AProc) const {
  const std::vector<std::uint8_t> bytes = GetBytes();
  for (std::size_t i = bytes.size(); i-- > 0;) AProc(static_cast<std::int32_t>(i), bytes[i]);
}

std::vector<std::uint8_t> TBinaryPersistent::Query(const std::function<bool(std::uint8_t)>& APredicate) const {
  std::vector<std::uint8_t> result;
  for (std::uint8_t b : GetBytes())
    if (APredicate(b)) result.push_back(b);
  return result;
}

void TBinaryPersistent::DefineProperties(TFiler& AFiler) {
  if (AFiler.Reading()) SetBytes({});
  const bool hasData = !AFiler.Reading() && Count() > 0;
  AFiler.DefineProperty(
      *this, "_Data",
      [](TPersistent& o, IReader& r, std::string_view key) {
        std::vector<std::uint8_t> bytes;
        r.ReadBytes(key, bytes);
        static_cast<TBinaryPersistent&>(o).SetBytes(std::move(bytes));
      },
      [](const TPersistent& o, IWriter& w, std::string_view key) {
        const std::vector<std::uint8_t> bytes = static_cast<const TBinaryPersistent&>(o).GetBytes();
        w.WriteBytes(key, bytes.data(), bytes.size());
      },
      hasData);
}

void TBinaryPersistent::Assign(const TPersistent& ASource) {
  if (const auto* src = dynamic_cast<const TBinaryPersistent*>(&ASource)) {
    SetBytes(src->GetBytes());
    return;
  }
  TLockPersistent::Assign(ASource);
}

// ---- TRGLanguage

namespace {
struct TLocaleRow {
  std::uint32_t ID;
  const char* Name;
};
// Locale identifiers (language in the low 10 bits, sublanguage above) and
// the system locale each stands for.
constexpr TLocaleRow kLocales[] = {
    {0x0401, "ar_SA"}, {0x0402, "bg_BG"}, {0x0403, "ca_ES"}, {0x0404, "zh_TW"}, {0x0405, "cs_CZ"},
    {0x0406, "da_DK"}, {0x0407, "de_DE"}, {0x0408, "el_GR"}, {0x0409, "en_US"}, {0x040A, "es_ES"},
    {0x040B, "fi_FI"}, {0x040C, "fr_FR"}, {0x040D, "he_IL"}, {0x040E, "hu_HU"}, {0x040F, "is_IS"},
    {0x0410, "it_IT"}, {0x0411, "ja_JP"}, {0x0412, "ko_KR"}, {0x0413, "nl_NL"}, {0x0414, "nb_NO"},
    {0x0415, "pl_PL"}, {0x0416, "pt_BR"}, {0x0418, "ro_RO"}, {0x0419, "ru_RU"}, {0x041A, "hr_HR"},
    {0x041B, "sk_SK"}, {0x041D, "sv_SE"}, {0x041E, "th_TH"}, {0x041F, "tr_TR"}, {0x0422, "uk_UA"},
    {0x0424, "sl_SI"}, {0x0425, "et_EE"}, {0x0426, "lv_LV"}, {0x0427, "lt_LT"}, {0x042A, "vi_VN"},
    {0x0804, "zh_CN"}, {0x0807, "de_CH"}, {0x0809, "en_GB"}, {0x080A, "es_MX"}, {0x080C, "fr_BE"},
    {0x0810, "it_CH"}, {0x0813, "nl_BE"}, {0x0816, "pt_PT"}, {0x0C07, "de_AT"}, {0x0C09, "en_AU"},
    {0x0C0A, "es_ES"}, {0x0C0C, "fr_CA"}, {0x1009, "en_CA"}, {0x100C, "fr_CH"}, {0x1409, "en_NZ"},
    {0x1809, "en_IE"},
};
}  // namespace

TRGLanguage::TRGLanguage(TIDGetter AIDGetter) : FIDGetter(std::move(AIDGetter)) {}

TRGLanguage::TRGLanguage(std::uint32_t AID) : FID(AID) {
  FIDGetter = [this] { return GetIntID(); };
}

std::string TRGLanguage::LocaleNameOf(std::uint32_t AID) {
  for (const TLocaleRow& row : kLocales)
    if (row.ID == AID) return row.Name;
  return {};
}

std::string TRGLanguage::GetLocalizedName() const {
  const std::string name = LocaleNameOf(GetID());
  if (name.empty()) return {};
  // The system's locale data names the language and territory in English;
  // the UTF-8 variant is tried first, then the plain name.
  locale_t loc = newlocale(LC_ALL_MASK, (name + ".UTF-8").c_str(), static_cast<locale_t>(nullptr));
  if (!loc) loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  if (!loc) return {};
  std::string language = nl_langinfo_l(_NL_IDENTIFICATION_LANGUAGE, loc);
  const std::string territory = nl_langinfo_l(_NL_IDENTIFICATION_TERRITORY, loc);
  freelocale(loc);
  if (!language.empty() && !territory.empty()) language += " (" + territory + ")";
  return language;
}

// ---- Start-up: the classes are made by name when documents are read.

namespace RGComponent {
namespace {
// Never freed: the finalization reads it after the static destructors ran.
const std::vector<const TClassInfo*>& Classes() {
  static const std::vector<const TClassInfo*>& classes = *new std::vector<const TClassInfo*>{
      &TRGLogin::StaticClassInfo(),
      &TRGOptionalSettingProperty::StaticClassInfo(),
      &TRGOptionalVisibilityProperty::StaticClassInfo(),
      &TRGIntegerPointProperty::StaticClassInfo(),
      &TRGFloatPointProperty::StaticClassInfo(),
      &TRGCollectionPoint::StaticClassInfo(),
      &TRGCollectionPoints::StaticClassInfo(),
      &TRGMasterPumping::StaticClassInfo(),
      &TRGDefaultEnabledMasterPumping::StaticClassInfo(),
      &TRGNamedCollectionItem::StaticClassInfo(),
      &TRGOptionalNamedCollectionItem::StaticClassInfo(),
      &TRGInputOutputLockComponent::StaticClassInfo(),
      &TBinaryPersistent::StaticClassInfo(),
  };
  return classes;
}
}  // namespace

void UnitInitialize() { RegisterClasses(Classes()); }
void UnitFinalize() { UnregisterClasses(Classes()); }
}  // namespace RGComponent

}  // namespace nx

NX_PACKAGE_UNIT(RGComponent, &nx::RGComponent::UnitInitialize, &nx::RGComponent::UnitFinalize)
