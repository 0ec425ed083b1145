// RGGDIPlusProperties: editable, streamable descriptions of drawing objects
// (brush, pen, font, image, gradient, hatch, blend, dash style) for display
// components, each turned into a live Vantex object on demand, plus free
// drawing routines for framed, glossy and three-dimensional shapes and a few
// colour and angle helpers.
//
// Every description is a property object: it shares its owner's
// change-notify lock, streams its published properties and notifies its
// owner after every effective change. Brushes, pens and fonts keep the
// Vantex object they built and hand it out again until one of their
// properties (or of their sub-objects) changes; the change drops it under
// the same lock.
//
// Array properties (points, colours, blends, interpolation colours, float
// arrays) stream as one binary member "Data": a little-endian 32-bit count
// followed by the items, each item's fields as little-endian 32-bit values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Vantex.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Types.h"

namespace nx {

NX_ENUM_NAMES(TIGPBrushType, "btSolidColor", "btHatchFill", "btTextureFill", "btPathGradient", "btLinearGradient")
NX_ENUM_NAMES(TIGPWrapMode, "wmTile", "wmTileFlipX", "wmTileFlipY", "wmTileFlipXY", "wmClamp")
NX_ENUM_NAMES(TIGPHatchStyle, "hsHorizontal", "hsVertical", "hsForwardDiagonal", "hsBackwardDiagonal", "hsCross",
              "hsDiagonalCross", "hs05Percent", "hs10Percent", "hs20Percent", "hs25Percent", "hs30Percent",
              "hs40Percent", "hs50Percent", "hs60Percent", "hs70Percent", "hs75Percent", "hs80Percent",
              "hs90Percent", "hsLightDownwardDiagonal", "hsLightUpwardDiagonal", "hsDarkDownwardDiagonal",
              "hsDarkUpwardDiagonal", "hsWideDownwardDiagonal", "hsWideUpwardDiagonal", "hsLightVertical",
              "hsLightHorizontal", "hsNarrowVertical", "hsNarrowHorizontal", "hsDarkVertical", "hsDarkHorizontal",
              "hsDashedDownwardDiagonal", "hsDashedUpwardDiagonal", "hsDashedHorizontal", "hsDashedVertical",
              "hsSmallConfetti", "hsLargeConfetti", "hsZigZag", "hsWave", "hsDiagonalBrick", "hsHorizontalBrick",
              "hsWeave", "hsPlaid", "hsDivot", "hsDottedGrid", "hsDottedDiamond", "hsShingle", "hsTrellis",
              "hsSphere", "hsSmallGrid", "hsSmallCheckerBoard", "hsLargeCheckerBoard", "hsOutlinedDiamond",
              "hsSolidDiamond")
NX_ENUM_NAMES(TIGPDashStyle, "dsSolid", "dsDash", "dsDot", "dsDashDot", "dsDashDotDot", "dsCustom")
NX_ENUM_NAMES(TIGPPenAlignment, "paCenter", "paInset")
NX_ENUM_NAMES(TIGPLineJoin, "ljMiter", "ljBevel", "ljRound", "ljMiterClipped")

enum TRGGPBlendShapeType : std::int32_t { bstNone, bstTriangular, bstBell };
NX_ENUM_NAMES(TRGGPBlendShapeType, "bstNone", "bstTriangular", "bstBell")

enum TRGGPLinerGradientBrushMode : std::int32_t {
  lmHorizontal, lmVertical, lmForwardDiagonal, lmBackwardDiagonal, lmPoints
};
NX_ENUM_NAMES(TRGGPLinerGradientBrushMode, "lmHorizontal", "lmVertical", "lmForwardDiagonal", "lmBackwardDiagonal",
              "lmPoints")

// ---------------------------------------------------------------- arrays

struct TRGGPInterpolationColor {
  TGPColor Color = 0;
  float Position = 0;
  friend bool operator==(const TRGGPInterpolationColor&, const TRGGPInterpolationColor&) = default;
};
struct TRGGPBlendItem {
  float Position = 0;
  float Value = 0;
  friend bool operator==(const TRGGPBlendItem&, const TRGGPBlendItem&) = default;
};

// The byte form of the array items (little-endian 32-bit fields).
namespace detail {
void PutU32(std::vector<std::uint8_t>& AOut, std::uint32_t AValue);
std::uint32_t GetU32(const std::uint8_t* AIn);
void EncodeItem(std::vector<std::uint8_t>& AOut, float AValue);
void EncodeItem(std::vector<std::uint8_t>& AOut, TGPColor AValue);
void EncodeItem(std::vector<std::uint8_t>& AOut, const TIGPPointF& AValue);
void EncodeItem(std::vector<std::uint8_t>& AOut, const TRGGPInterpolationColor& AValue);
void EncodeItem(std::vector<std::uint8_t>& AOut, const TRGGPBlendItem& AValue);
void DecodeItem(const std::uint8_t* AIn, float& AValue);
void DecodeItem(const std::uint8_t* AIn, TGPColor& AValue);
void DecodeItem(const std::uint8_t* AIn, TIGPPointF& AValue);
void DecodeItem(const std::uint8_t* AIn, TRGGPInterpolationColor& AValue);
void DecodeItem(const std::uint8_t* AIn, TRGGPBlendItem& AValue);
// A malformed "Data" member: its length does not match the count it starts with.
[[noreturn]] void RaiseBadArrayData(std::string_view AClassName);
}  // namespace detail

// A lock-protected array of plain items, streamed as the binary member "Data".
template <class TItem>
class TRGGPArrayPersistent : public TLockPersistent {
 public:
  using TItemType = TItem;
  static constexpr std::size_t kItemSize = sizeof(TItem);  // every field is 32-bit
  explicit TRGGPArrayPersistent(TPersistent* AOwner) : TLockPersistent(AOwner) {}

  std::int32_t Count() const {
    TReadLock guard(GetLock());
    return static_cast<std::int32_t>(FItems.size());
  }
  bool IsEmpty() const { return Count() == 0; }
  // ERangeError "Index out of range = %u" outside 0..Count-1.
  TItem GetItem(std::int32_t AIndex) const {
    TReadLock guard(GetLock());
    CheckIndex(AIndex);
    return FItems[static_cast<std::size_t>(AIndex)];
  }
  void SetItem(std::int32_t AIndex, const TItem& AValue) {
    TWriteLock guard(GetLock());
    CheckIndex(AIndex);
    SetNotify(FItems[static_cast<std::size_t>(AIndex)], AValue);
  }
  void AddItem(const TItem& AValue) {
    TWriteLock guard(GetLock());
    FItems.push_back(AValue);
    Changed();
  }
  void Delete(std::int32_t AIndex) {
    TWriteLock guard(GetLock());
    CheckIndex(AIndex);
    FItems.erase(FItems.begin() + AIndex);
    Changed();
  }
  void Clear() { SetValues({}); }
  std::vector<TItem> Values() const { return ReadLocked(FItems); }
  void SetValues(const std::vector<TItem>& AValues) { SetNotify(FItems, AValues); }

  void Assign(const TPersistent& ASource) override {
    if (auto* src = dynamic_cast<const TRGGPArrayPersistent*>(&ASource)) SetValues(src->Values());
    else TLockPersistent::Assign(ASource);
  }

  // The binary form: count, then the items.
  std::vector<std::uint8_t> SaveData() const {
    TReadLock guard(GetLock());
    std::vector<std::uint8_t> out;
    out.reserve(4 + FItems.size() * kItemSize);
    detail::PutU32(out, static_cast<std::uint32_t>(FItems.size()));
    for (const TItem& item : FItems) detail::EncodeItem(out, item);
    return out;
  }
  // Replaces the items by those of a binary form; a form whose length does
  // not match its count raises EReadError and changes nothing.
  void LoadData(const std::vector<std::uint8_t>& AData) {
    if (AData.size() < 4) detail::RaiseBadArrayData(ClassName());
    const std::uint64_t count = detail::GetU32(AData.data());
    if ((AData.size() - 4) != count * kItemSize) detail::RaiseBadArrayData(ClassName());
    std::vector<TItem> items(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < items.size(); ++i) detail::DecodeItem(AData.data() + 4 + i * kItemSize, items[i]);
    SetValues(items);
  }
  void DefineProperties(TFiler& AFiler) override {
    TLockPersistent::DefineProperties(AFiler);
    AFiler.DefineProperty(
        *this, "Data",
        [](TPersistent& o, IReader& r, std::string_view key) {
          std::vector<std::uint8_t> data;
          if (r.ReadBytes(key, data)) static_cast<TRGGPArrayPersistent&>(o).LoadData(data);
        },
        [](const TPersistent& o, IWriter& w, std::string_view key) {
          const auto data = static_cast<const TRGGPArrayPersistent&>(o).SaveData();
          w.WriteBytes(key, data.data(), data.size());
        },
        AFiler.Reading() || !FItems.empty());
  }

 protected:
  void CheckIndex(std::int32_t AIndex) const {
    if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FItems.size())
      throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(AIndex)));
  }
  std::vector<TItem> FItems;
};

class TRGGPPoints : public TRGGPArrayPersistent<TIGPPointF> {
  NX_PERSISTENT(TRGGPPoints, TRGGPArrayPersistent<TIGPPointF>)
 public:
  explicit TRGGPPoints(TPersistent* AOwner = nullptr) : TRGGPArrayPersistent(AOwner) {}
  void Add(float AX, float AY) { AddItem({AX, AY}); }
};

class TRGGPColors : public TRGGPArrayPersistent<TGPColor> {
  NX_PERSISTENT(TRGGPColors, TRGGPArrayPersistent<TGPColor>)
 public:
  explicit TRGGPColors(TPersistent* AOwner = nullptr) : TRGGPArrayPersistent(AOwner) {}
  void Add(TGPColor AColor) { AddItem(AColor); }
};

class TRGGPInterpolationColors : public TRGGPArrayPersistent<TRGGPInterpolationColor> {
  NX_PERSISTENT(TRGGPInterpolationColors, TRGGPArrayPersistent<TRGGPInterpolationColor>)
 public:
  explicit TRGGPInterpolationColors(TPersistent* AOwner = nullptr) : TRGGPArrayPersistent(AOwner) {}
  void Add(TGPColor AColor, float APosition) { AddItem({AColor, APosition}); }
};

class TRGGPBlends : public TRGGPArrayPersistent<TRGGPBlendItem> {
  NX_PERSISTENT(TRGGPBlends, TRGGPArrayPersistent<TRGGPBlendItem>)
 public:
  explicit TRGGPBlends(TPersistent* AOwner = nullptr) : TRGGPArrayPersistent(AOwner) {}
  void Add(float APosition, float AValue) { AddItem({APosition, AValue}); }
};

class TRGGPSingleArray : public TRGGPArrayPersistent<float> {
  NX_PERSISTENT(TRGGPSingleArray, TRGGPArrayPersistent<float>)
 public:
  explicit TRGGPSingleArray(TPersistent* AOwner = nullptr) : TRGGPArrayPersistent(AOwner) {}
  void Add(float AValue) { AddItem(AValue); }
};

class TRGGPCustomDash : public TRGGPSingleArray {
  NX_PERSISTENT(TRGGPCustomDash, TRGGPSingleArray)
 public:
  explicit TRGGPCustomDash(TPersistent* AOwner = nullptr) : TRGGPSingleArray(AOwner) {}
};

class TRGGPPenCompound : public TRGGPSingleArray {
  NX_PERSISTENT(TRGGPPenCompound, TRGGPSingleArray)
 public:
  explicit TRGGPPenCompound(TPersistent* AOwner = nullptr) : TRGGPSingleArray(AOwner) {}
};

// ---------------------------------------------------------------- simple descriptions

class TRGGPPoint : public TLockPersistent {
  NX_PERSISTENT(TRGGPPoint, TLockPersistent)
 public:
  explicit TRGGPPoint(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  float X() const { return ReadLocked(FX); }
  float Y() const { return ReadLocked(FY); }
  void SetX(float AValue) { SetNotify(FX, AValue); }
  void SetY(float AValue) { SetNotify(FY, AValue); }
  TIGPPointF AsPoint() const { return {X(), Y()}; }
  static void DeclareProperties(TClassBuilder<TRGGPPoint>& P);

 private:
  float FX, FY;
};

class TRGGPSize : public TLockPersistent {
  NX_PERSISTENT(TRGGPSize, TLockPersistent)
 public:
  explicit TRGGPSize(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  float Width() const { return ReadLocked(FWidth); }
  float Height() const { return ReadLocked(FHeight); }
  void SetWidth(float AValue) { SetNotify(FWidth, AValue); }
  void SetHeight(float AValue) { SetNotify(FHeight, AValue); }
  static void DeclareProperties(TClassBuilder<TRGGPSize>& P);

 private:
  float FWidth, FHeight;
};

class TRGGPCenterPoint : public TRGGPPoint {
  NX_PERSISTENT(TRGGPCenterPoint, TRGGPPoint)
 public:
  explicit TRGGPCenterPoint(TPersistent* AOwner = nullptr) : TRGGPPoint(AOwner) { InitProperties(this); }
  bool AutoCenter() const { return ReadLocked(FAutoCenter); }
  void SetAutoCenter(bool AValue) { SetNotify(FAutoCenter, AValue); }
  static void DeclareProperties(TClassBuilder<TRGGPCenterPoint>& P);

 private:
  bool FAutoCenter;
};

class TRGGPCenterColor : public TLockPersistent {
  NX_PERSISTENT(TRGGPCenterColor, TLockPersistent)
 public:
  explicit TRGGPCenterColor(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  TGPColor Color() const { return ReadLocked(FColor); }
  void SetColor(TGPColor AValue) { SetNotify(FColor, AValue); }
  TRGGPCenterPoint* Point() const { return FPoint.get(); }
  static void DeclareProperties(TClassBuilder<TRGGPCenterColor>& P);

 private:
  TGPColor FColor;
  std::unique_ptr<TRGGPCenterPoint> FPoint;
};

class TRGGPHatch : public TLockPersistent {
  NX_PERSISTENT(TRGGPHatch, TLockPersistent)
 public:
  explicit TRGGPHatch(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  TGPColor ForegroundColor() const { return ReadLocked(FForegroundColor); }
  TGPColor BackgroundColor() const { return ReadLocked(FBackgroundColor); }
  TIGPHatchStyle Style() const { return ReadLocked(FStyle); }
  void SetForegroundColor(TGPColor AValue) { SetNotify(FForegroundColor, AValue); }
  void SetBackgroundColor(TGPColor AValue) { SetNotify(FBackgroundColor, AValue); }
  void SetStyle(TIGPHatchStyle AValue) { SetNotify(FStyle, AValue); }
  static void DeclareProperties(TClassBuilder<TRGGPHatch>& P);

 private:
  TGPColor FForegroundColor, FBackgroundColor;
  TIGPHatchStyle FStyle;
};

class TRGGPBlendShape : public TLockPersistent {
  NX_PERSISTENT(TRGGPBlendShape, TLockPersistent)
 public:
  explicit TRGGPBlendShape(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  TRGGPBlendShapeType ShapeType() const { return ReadLocked(FShapeType); }
  float Focus() const { return ReadLocked(FFocus); }
  float Scale() const { return ReadLocked(FScale); }
  void SetShapeType(TRGGPBlendShapeType AValue) { SetNotify(FShapeType, AValue); }
  void SetFocus(float AValue) { SetNotify(FFocus, AValue); }
  void SetScale(float AValue) { SetNotify(FScale, AValue); }
  static void DeclareProperties(TClassBuilder<TRGGPBlendShape>& P);

 private:
  TRGGPBlendShapeType FShapeType;
  float FFocus, FScale;
};

class TRGGPBlend : public TLockPersistent {
  NX_PERSISTENT(TRGGPBlend, TLockPersistent)
 public:
  explicit TRGGPBlend(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  TRGGPBlends* Blends() const { return FBlends.get(); }
  TRGGPBlendShape* Shape() const { return FShape.get(); }
  // Applies the blend to a gradient brush (nothing while disabled).
  void ApplyTo(TIGPGradientBrush& ABrush) const;
  static void DeclareProperties(TClassBuilder<TRGGPBlend>& P);

 private:
  bool FEnabled;
  std::unique_ptr<TRGGPBlends> FBlends;
  std::unique_ptr<TRGGPBlendShape> FShape;
};

class TRGGPGradient : public TLockPersistent {
  NX_PERSISTENT(TRGGPGradient, TLockPersistent)
 public:
  explicit TRGGPGradient(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  TRGGPPoints* Path() const { return FPath.get(); }
  TRGGPColors* Colors() const { return FColors.get(); }
  TRGGPCenterColor* CenterColor() const { return FCenterColor.get(); }
  bool GammaCorrection() const { return ReadLocked(FGammaCorrection); }
  void SetGammaCorrection(bool AValue) { SetNotify(FGammaCorrection, AValue); }
  static void DeclareProperties(TClassBuilder<TRGGPGradient>& P);

 private:
  std::unique_ptr<TRGGPPoints> FPath;
  std::unique_ptr<TRGGPColors> FColors;
  std::unique_ptr<TRGGPCenterColor> FCenterColor;
  bool FGammaCorrection;
};

// ---------------------------------------------------------------- image

// An image held by a property. It publishes nothing; the image streams
// itself as the binary member "Data" (PNG bytes), read back by content.
class TRGGPImage : public TLockPersistent {
  NX_PERSISTENT(TRGGPImage, TLockPersistent)
 public:
  explicit TRGGPImage(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) {}

  // EVantexError when the file cannot be opened or decoded (the image stays as it was).
  void LoadFromFile(const std::string& AFileName);
  void LoadFromStream(TStream& AStream);
  // Write nothing for an empty image. AFormat is one of GetFormats().
  void SaveToStream(TStream& AStream, std::string_view AFormat = "png") const;
  void SaveToFile(const std::string& AFileName, std::string_view AFormat = "png") const;
  // The formats an image can be saved in ("png", "jpeg", "bmp").
  static std::vector<std::string> GetFormats();
  bool IsEmpty() const;
  void Clear() { SetGPImage(nullptr); }
  void Assign(const TPersistent& ASource) override;
  TIntfPtr<IGPImage> GPImage() const { return ReadLocked(FImage); }
  void SetGPImage(const TIntfPtr<IGPImage>& AImage);
  std::int32_t Width() const;
  std::int32_t Height() const;

  void DefineProperties(TFiler& AFiler) override;
  // The member "Data" in the member-wise form (PNG bytes; absent when empty).
  void SerializationWrite(IWriter& AWriter) const;
  void SerializationRead(IReader& AReader);

 private:
  TIntfPtr<IGPImage> FImage;
};

// ---------------------------------------------------------------- brush

class TRGGPBrush : public TLockPersistent {
  NX_PERSISTENT(TRGGPBrush, TLockPersistent)
 public:
  static constexpr TGPColor kDefaultColor = 0xFFFFFFFFu;
  explicit TRGGPBrush(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);

  TIGPBrushType BrushType() const { return ReadLocked(FBrushType); }
  void SetBrushType(TIGPBrushType AValue) { SetNotify(FBrushType, AValue); }
  TGPColor Color() const { return ReadLocked(FColor); }
  void SetColor(TGPColor AValue) { SetNotify(FColor, AValue); }
  // Sets the colour and the default it is compared with for streaming.
  void SetColor_Default(TGPColor AValue);
  void SetColor_And_Default(TGPColor AValue) { SetColor_Default(AValue); }
  // The same without a notification, for an owner's constructor.
  void InitColor_Default(TGPColor AValue);
  TGPColor Color_Default() const { return ReadLocked(FColor_Default); }
  bool GetColor_Stored() const { return ReadLocked(FColor) != ReadLocked(FColor_Default); }
  TIGPWrapMode WrapMode() const { return ReadLocked(FWrapMode); }
  void SetWrapMode(TIGPWrapMode AValue) { SetNotify(FWrapMode, AValue); }
  TRGGPLinerGradientBrushMode LinearGradientMode() const { return ReadLocked(FLinearGradientMode); }
  void SetLinearGradientMode(TRGGPLinerGradientBrushMode AValue) { SetNotify(FLinearGradientMode, AValue); }
  TRGGPImage* Texture() const { return FTexture.get(); }
  TRGGPGradient* Gradient() const { return FGradient.get(); }
  TRGGPHatch* Hatch() const { return FHatch.get(); }
  TRGGPBlend* Blend() const { return FBlend.get(); }
  TRGGPInterpolationColors* InterpolationColors() const { return FInterpolationColors.get(); }
  float ScaleX() const { return FScaleX; }
  float ScaleY() const { return FScaleY; }

  // The brush for drawing into ARect: built on the first call, then handed
  // out again (for the same rectangle) until a property changes.
  TIntfPtr<IGPBrush> GetGPBrush(const TIGPRectF& ARect);
  // Drops the cached brush and tells the owner.
  void Changed() override;
  void NotifyProp() { Changed(); }
  static void DeclareProperties(TClassBuilder<TRGGPBrush>& P);

 private:
  TIntfPtr<IGPBrush> BuildBrush(const TIGPRectF& ARect) const;
  TIntfPtr<IGPBrush> BuildPathGradient(const TIGPRectF& ARect) const;
  TIntfPtr<IGPBrush> BuildLinearGradient(const TIGPRectF& ARect) const;
  void ApplyGradientOptions(TIGPGradientBrush& ABrush) const;

  TIGPBrushType FBrushType;
  TGPColor FColor;
  TGPColor FColor_Default = kDefaultColor;
  TIGPWrapMode FWrapMode;
  std::unique_ptr<TRGGPImage> FTexture;
  std::unique_ptr<TRGGPGradient> FGradient;
  std::unique_ptr<TRGGPHatch> FHatch;
  std::unique_ptr<TRGGPBlend> FBlend;
  std::unique_ptr<TRGGPInterpolationColors> FInterpolationColors;
  TRGGPLinerGradientBrushMode FLinearGradientMode;
  float FScaleX, FScaleY;
  TIntfPtr<IGPBrush> FBrush;
  TIGPRectF FBrushRect;
};

// ---------------------------------------------------------------- pens

class TRGGPDashStyle : public TLockPersistent {
  NX_PERSISTENT(TRGGPDashStyle, TLockPersistent)
 public:
  explicit TRGGPDashStyle(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  TIGPDashStyle Style() const { return ReadLocked(FStyle); }
  void SetStyle(TIGPDashStyle AValue) { SetNotify(FStyle, AValue); }
  float Offset() const { return ReadLocked(FOffset); }
  void SetOffset(float AValue) { SetNotify(FOffset, AValue); }
  TRGGPCustomDash* CustomDash() const { return FCustomDash.get(); }
  static void DeclareProperties(TClassBuilder<TRGGPDashStyle>& P);

 private:
  TIGPDashStyle FStyle;
  float FOffset;
  std::unique_ptr<TRGGPCustomDash> FCustomDash;
};

class TRGGPPen : public TLockPersistent {
  NX_PERSISTENT(TRGGPPen, TLockPersistent)
 public:
  static constexpr TGPColor kDefaultColor = 0xFFFF0000u;
  explicit TRGGPPen(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);

  TRGGPBrush* Brush() const { return FBrush.get(); }
  float Width() const { return ReadLocked(FWidth); }
  void SetWidth(float AValue) { SetNotify(FWidth, AValue); }
  TIGPPenAlignment Alignment() const { return ReadLocked(FAlignment); }
  void SetAlignment(TIGPPenAlignment AValue) { SetNotify(FAlignment, AValue); }
  float MiterLimit() const { return ReadLocked(FMiterLimit); }
  void SetMiterLimit(float AValue) { SetNotify(FMiterLimit, AValue); }
  TRGGPDashStyle* DashStyle() const { return FDashStyle.get(); }
  TIGPLineJoin LineJoin() const { return ReadLocked(FLineJoin); }
  void SetLineJoin(TIGPLineJoin AValue) { SetNotify(FLineJoin, AValue); }
  TRGGPPenCompound* Compound() const { return FCompound.get(); }
  // The colour of the pen's brush (a shortcut for Brush()->SetColor).
  TGPColor Color() const { return FBrush->Color(); }
  void SetColor(TGPColor AValue) { FBrush->SetColor(AValue); }
  // New scale factors (a pen made by a collection gets the collection's).
  void SetScale(float AScaleX, float AScaleY);
  float ScaleX() const { return ReadLocked(FScaleX); }
  float ScaleY() const { return ReadLocked(FScaleY); }

  TIntfPtr<TIGPPen> GetGPPen(const TIGPRectF& ARect) { return GetGPPenInt(ARect, 1.0f); }
  // The pen for drawing into ARect with its width multiplied by AValue and
  // by the mean of the scale factors (a display's zoom); cached like the brush.
  TIntfPtr<TIGPPen> GetGPPenInt(const TIGPRectF& ARect, float AValue);
  void Changed() override;
  void NotifyProp() { Changed(); }
  static void DeclareProperties(TClassBuilder<TRGGPPen>& P);

 private:
  std::unique_ptr<TRGGPBrush> FBrush;
  float FWidth;
  TIGPPenAlignment FAlignment;
  float FMiterLimit;
  std::unique_ptr<TRGGPDashStyle> FDashStyle;
  TIGPLineJoin FLineJoin;
  std::unique_ptr<TRGGPPenCompound> FCompound;
  float FScaleX, FScaleY;
  TIntfPtr<TIGPPen> FPen;
  TIGPRectF FPenRect;
  float FPenValue = 0;
};

class TRGGPOptionalPen : public TRGGPPen {
  NX_PERSISTENT(TRGGPOptionalPen, TRGGPPen)
 public:
  explicit TRGGPOptionalPen(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f)
      : TRGGPPen(AOwner, AScaleX, AScaleY) {
    InitProperties(this);
  }
  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  void SetEnabled_Default(bool AValue);
  // The same without a notification, for an owner's constructor.
  void InitEnabled_Default(bool AValue);
  bool GetEnabled_Stored() const { return ReadLocked(FEnabled) != ReadLocked(FEnabled_Default); }
  static void DeclareProperties(TClassBuilder<TRGGPOptionalPen>& P);

 private:
  bool FEnabled;
  bool FEnabled_Default = true;
};

class TRGGPPenCollectionItem : public TLockCollectionItem {
  NX_PERSISTENT(TRGGPPenCollectionItem, TLockCollectionItem)
 public:
  explicit TRGGPPenCollectionItem(TPersistent* ACollection = nullptr);
  TRGGPPen* Pen() const { return FPen.get(); }
  static void DeclareProperties(TClassBuilder<TRGGPPenCollectionItem>& P);

 private:
  std::unique_ptr<TRGGPPen> FPen;
};

class TRGGPPenCollection : public TTypedPersistentCollection<TRGGPPenCollectionItem> {
  NX_PERSISTENT(TRGGPPenCollection, TTypedPersistentCollection<TRGGPPenCollectionItem>)
 public:
  explicit TRGGPPenCollection(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f)
      : TTypedPersistentCollection(AOwner), FScaleX(AScaleX), FScaleY(AScaleY) {}

 protected:
  void NewItemCreated(TLockCollectionItem* AItem) override;

 private:
  float FScaleX, FScaleY;
};

class TRGGPOptionalMultiPen : public TRGGPOptionalPen {
  NX_PERSISTENT(TRGGPOptionalMultiPen, TRGGPOptionalPen)
 public:
  explicit TRGGPOptionalMultiPen(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);
  TRGGPPenCollection* AdditionalPens() const { return FAdditionalPens.get(); }
  bool GetAdditionalPens_Stored() const { return FAdditionalPens->Count() > 0; }
  static void DeclareProperties(TClassBuilder<TRGGPOptionalMultiPen>& P);

 private:
  std::unique_ptr<TRGGPPenCollection> FAdditionalPens;
};

// ---------------------------------------------------------------- fonts

class TRGGPBasicFont : public TLockPersistent {
  NX_PERSISTENT(TRGGPBasicFont, TLockPersistent)
 public:
  static constexpr std::string_view kDefaultName = "Microsoft Sans Serif";
  explicit TRGGPBasicFont(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);
  std::string Name() const { return ReadLocked(FName); }
  void SetName(const std::string& AValue) { SetNotify(FName, AValue); }
  // A set of TIGPFontStyleFlag values.
  std::uint32_t Style() const { return ReadLocked(FStyle); }
  void SetStyle(std::uint32_t AValue) { SetNotify(FStyle, AValue); }
  void SetStyle_Default(std::uint32_t AValue);
  bool GetStyle_Stored() const { return ReadLocked(FStyle) != ReadLocked(FStyle_Default); }
  float ScaleX() const { return FScaleX; }
  float ScaleY() const { return FScaleY; }
  void Changed() override;
  void NotifyProp() { Changed(); }
  static void DeclareProperties(TClassBuilder<TRGGPBasicFont>& P);

  // The first text a process draws pays for reading the font configuration
  // and opening the face: tens of milliseconds. WantPreload notes this
  // font's family (a component that will draw text calls it when its run is
  // prepared); PreloadWanted opens every family noted so far, regular and
  // bold, and draws a glyph of each, on the calling thread: a host calls it
  // from a thread that would otherwise wait while the streams run. Both are
  // thread-safe; a family is opened once per process.
  void WantPreload() const;
  static void PreloadWanted();

 protected:
  // The font of this name and style at ASize points (cached until a change).
  TIntfPtr<TIGPFont> BuildFont(float ASize);

 private:
  std::string FName;
  std::uint32_t FStyle;
  std::uint32_t FStyle_Default = 0;
  float FScaleX, FScaleY;
  TIntfPtr<TIGPFont> FFont;
};

class TRGGPSimpleBrushFont : public TRGGPBasicFont {
  NX_PERSISTENT(TRGGPSimpleBrushFont, TRGGPBasicFont)
 public:
  static constexpr TGPColor kDefaultColor = 0xFF000000u;
  explicit TRGGPSimpleBrushFont(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);
  TRGGPBrush* Brush() const { return FBrush.get(); }
  static void DeclareProperties(TClassBuilder<TRGGPSimpleBrushFont>& P);

 private:
  std::unique_ptr<TRGGPBrush> FBrush;
};

class TRGGPSimpleFont : public TRGGPSimpleBrushFont {
  NX_PERSISTENT(TRGGPSimpleFont, TRGGPSimpleBrushFont)
 public:
  explicit TRGGPSimpleFont(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);
  TRGGPOptionalMultiPen* Pen() const { return FPen.get(); }
  // Fills the text path with the font's brush, then outlines it with the
  // pen (when enabled) and each additional pen, widths times AValue.
  void DrawOnGraphics(IGPGraphics& AGraphics, const TIntfPtr<TIGPGraphicsPath>& APath, float AValue = 1.0f);
  static void DeclareProperties(TClassBuilder<TRGGPSimpleFont>& P);

 private:
  std::unique_ptr<TRGGPOptionalMultiPen> FPen;
};

class TRGGPBrushFont : public TRGGPSimpleBrushFont {
  NX_PERSISTENT(TRGGPBrushFont, TRGGPSimpleBrushFont)
 public:
  explicit TRGGPBrushFont(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f)
      : TRGGPSimpleBrushFont(AOwner, AScaleX, AScaleY) {
    InitProperties(this);
  }
  std::int32_t Size() const { return ReadLocked(FSize); }
  void SetSize(std::int32_t AValue) { SetNotify(FSize, AValue); }
  TIntfPtr<TIGPFont> GetGPFont() { return BuildFont(static_cast<float>(Size())); }
  static void DeclareProperties(TClassBuilder<TRGGPBrushFont>& P);

 private:
  std::int32_t FSize;
};

class TRGGPFont : public TRGGPSimpleFont {
  NX_PERSISTENT(TRGGPFont, TRGGPSimpleFont)
 public:
  explicit TRGGPFont(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f)
      : TRGGPSimpleFont(AOwner, AScaleX, AScaleY) {
    InitProperties(this);
  }
  std::int32_t Size() const { return ReadLocked(FSize); }
  void SetSize(std::int32_t AValue) { SetNotify(FSize, AValue); }
  TIntfPtr<TIGPFont> GetGPFont() { return BuildFont(static_cast<float>(Size())); }
  static void DeclareProperties(TClassBuilder<TRGGPFont>& P);

 private:
  std::int32_t FSize;
};

class TRGGPOptionalText : public TLockPersistent {
  NX_PERSISTENT(TRGGPOptionalText, TLockPersistent)
 public:
  explicit TRGGPOptionalText(TPersistent* AOwner = nullptr, float AScaleX = 1.0f, float AScaleY = 1.0f);
  TRGGPFont* Font() const { return FFont.get(); }
  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  static void DeclareProperties(TClassBuilder<TRGGPOptionalText>& P);

 private:
  std::unique_ptr<TRGGPFont> FFont;
  bool FEnabled;
};

// ---------------------------------------------------------------- colour items

class TRGGPColorItem : public TLockCollectionItem {
  NX_PERSISTENT(TRGGPColorItem, TLockCollectionItem)
 public:
  explicit TRGGPColorItem(TPersistent* ACollection = nullptr) : TLockCollectionItem(ACollection) {
    InitProperties(this);
  }
  TGPColor Color() const { return ReadLocked(FColor); }
  void SetColor(TGPColor AValue) { SetNotify(FColor, AValue); }
  void SetColor_Default(TGPColor AValue);
  bool GetColor_Stored() const { return ReadLocked(FColor) != ReadLocked(FColor_Default); }
  static void DeclareProperties(TClassBuilder<TRGGPColorItem>& P);

 private:
  TGPColor FColor;
  TGPColor FColor_Default = 0xFF000000u;
};

// Colour items whose new items take their colour (and its default) from a palette.
class TRGGPColorItems : public TTypedPersistentCollection<TRGGPColorItem> {
  NX_PERSISTENT(TRGGPColorItems, TTypedPersistentCollection<TRGGPColorItem>)
 public:
  explicit TRGGPColorItems(TPersistent* AOwner = nullptr);
  // The palette new items draw from (a default of distinct trace colours).
  const std::vector<TGPColor>& Palette() const { return FPalette; }
  void SetPalette(std::vector<TGPColor> APalette);
  // The colour for a new item: the palette entry the fewest existing items
  // use (the first such); while the owning component loads, the entry at
  // (Count - 1) modulo the palette size.
  TGPColor GetNewColor() const;

 protected:
  void NewItemCreated(TLockCollectionItem* AItem) override;

 private:
  bool OwnerLoading() const;
  std::vector<TGPColor> FPalette;
};

// ---------------------------------------------------------------- free routines

// Colour and angle helpers.
// Red, green and blue times AFactor, rounded and limited to 0..255; alpha stays.
TGPColor RGDimColor(TGPColor AColor, float AFactor);
// Every channel (alpha too) from AColor1 (fraction 0) to AColor2 (fraction 1),
// rounded; the fraction is limited to 0..1.
TGPColor RGInterpolateColorF(TGPColor AColor1, TGPColor AColor2, float AFraction);
// RGInterpolateColorF by sin(pi/4 + AAngle) / 2 + 0.5 (AAngle in radians).
TGPColor RGColorFromAngle(TGPColor AColor1, TGPColor AColor2, float AAngle);
double RGSec(double AValue);
double RGCsc(double AValue);

// Three-dimensional outlines: the upper-left half of the outline in
// AColor1, the lower-right half in AColor2 (light from the upper left), the
// stroke kept inside ARect.
void RGDrawEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                      float ALineWidth);
// An ellipse rim shaded from AColor1 (upper left) to AColor2 (lower right) with no sharp split.
void RGDrawGlobeEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                           float ALineWidth);
void RGDrawFrame3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                    float ALineWidth);
void RGDrawDiamondFrame3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                           float ALineWidth);
// ACornerSize: the width and height of the rounding of each corner.
void RGDrawRoundRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                             const TIGPSizeF& ACornerSize, float ALineWidth);
void RGDrawRoundDiamondFrame3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                                const TIGPSizeF& ACornerSize, float ALineWidth);
// An etched line from (AX1, AY1) to (AX2, AY2): a line of AWidth in AColor1
// and beside it, one width further right (below for a horizontal line), one
// in AColor2; AReversed swaps the sides (raised instead of sunken).
void RGDrawLine3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, float AX1, float AY1, float AX2,
                   float AY2, float AWidth, bool AReversed);
// A lit bulb: the colour brightened towards the upper left, darkened at the rim.
void RGFillBulb3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect);
// Gloss shapes: filled from AColor1 (top) to AColor2 (bottom), with a white
// sheen over the upper half. The one-colour forms shade AColor to a dimmer tone.
void RGGlossRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect);
void RGGlossRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect);
void RGGlossEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect);
void RGGlossEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect);
void RGGlossRoundRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect,
                              const TIGPSizeF& ACornerSize);
void RGGlossRoundRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                              const TIGPSizeF& ACornerSize);
void RGGlossDiamond3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect);
void RGGlossRoundDiamond3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                            const TIGPSizeF& ACornerSize);
// Round diamonds: the diamond through the midpoints of ARect's sides with
// its left and right corners rounded over ACornerSize.Width (horizontally)
// and its top and bottom corners over ACornerSize.Height (vertically).
TIntfPtr<TIGPGraphicsPath> RGCreateRoundDiamondPathF(const TIGPRectF& ARect, const TIGPSizeF& ACornerSize);
void RGDrawRoundDiamondF(IGPGraphics& AGraphics, const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect,
                         const TIGPSizeF& ACornerSize);
void RGDrawRoundDiamondF(IGPGraphics& AGraphics, const TIntfPtr<TIGPPen>& APen, const TIntfPtr<IGPBrush>& ABrush,
                         const TIGPRectF& ARect, const TIGPSizeF& ACornerSize);
void RGFillRoundDiamondF(IGPGraphics& AGraphics, const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect,
                         const TIGPSizeF& ACornerSize);
// A rectangle with corners rounded by ellipses of ACornerSize.
TIntfPtr<TIGPGraphicsPath> RGCreateRoundRectanglePathF(const TIGPRectF& ARect, const TIGPSizeF& ACornerSize);

}  // namespace nx
