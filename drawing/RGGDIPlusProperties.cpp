// RGGDIPlusProperties: the property classes, their defaults, the array
// streaming and the building of brushes, pens and fonts. The free drawing
// routines live in RGGDIPlusDrawing.cpp.
#include "drawing/RGGDIPlusProperties.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "runtime/NXPackage.h"

namespace nx {

// ---------------------------------------------------------------- array items

namespace detail {
void PutU32(std::vector<std::uint8_t>& AOut, std::uint32_t AValue) {
  for (int i = 0; i < 4; ++i) AOut.push_back(static_cast<std::uint8_t>(AValue >> (8 * i)));
}
std::uint32_t GetU32(const std::uint8_t* AIn) {
  return std::uint32_t{AIn[0]} | (std::uint32_t{AIn[1]} << 8) | (std::uint32_t{AIn[2]} << 16) |
         (std::uint32_t{AIn[3]} << 24);
}
namespace {
void PutF32(std::vector<std::uint8_t>& AOut, float AValue) {
  std::uint32_t bits;
  std::memcpy(&bits, &AValue, 4);
  PutU32(AOut, bits);
}
float GetF32(const std::uint8_t* AIn) {
  const std::uint32_t bits = GetU32(AIn);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}
}  // namespace
void EncodeItem(std::vector<std::uint8_t>& AOut, float AValue) { PutF32(AOut, AValue); }
void EncodeItem(std::vector<std::uint8_t>& AOut, TGPColor AValue) { PutU32(AOut, AValue); }
void EncodeItem(std::vector<std::uint8_t>& AOut, const TIGPPointF& AValue) {
  PutF32(AOut, AValue.X);
  PutF32(AOut, AValue.Y);
}
void EncodeItem(std::vector<std::uint8_t>& AOut, const TRGGPInterpolationColor& AValue) {
  PutU32(AOut, AValue.Color);
  PutF32(AOut, AValue.Position);
}
void EncodeItem(std::vector<std::uint8_t>& AOut, const TRGGPBlendItem& AValue) {
  PutF32(AOut, AValue.Position);
  PutF32(AOut, AValue.Value);
}
void DecodeItem(const std::uint8_t* AIn, float& AValue) { AValue = GetF32(AIn); }
void DecodeItem(const std::uint8_t* AIn, TGPColor& AValue) { AValue = GetU32(AIn); }
void DecodeItem(const std::uint8_t* AIn, TIGPPointF& AValue) { AValue = {GetF32(AIn), GetF32(AIn + 4)}; }
void DecodeItem(const std::uint8_t* AIn, TRGGPInterpolationColor& AValue) {
  AValue = {GetU32(AIn), GetF32(AIn + 4)};
}
void DecodeItem(const std::uint8_t* AIn, TRGGPBlendItem& AValue) { AValue = {GetF32(AIn), GetF32(AIn + 4)}; }
void RaiseBadArrayData(std::string_view AClassName) {
  throw EReadError(Format("Invalid data of %.*s: the length does not match the item count",
                          static_cast<int>(AClassName.size()), AClassName.data()));
}
}  // namespace detail

// ---------------------------------------------------------------- declarations

void TRGGPPoint::DeclareProperties(TClassBuilder<TRGGPPoint>& P) {
  P.Prop<&TRGGPPoint::FX>("X", 0.0f);
  P.Prop<&TRGGPPoint::FY>("Y", 0.0f);
}
void TRGGPSize::DeclareProperties(TClassBuilder<TRGGPSize>& P) {
  P.Prop<&TRGGPSize::FWidth>("Width", 0.0f);
  P.Prop<&TRGGPSize::FHeight>("Height", 0.0f);
}
void TRGGPCenterPoint::DeclareProperties(TClassBuilder<TRGGPCenterPoint>& P) {
  P.Prop<&TRGGPCenterPoint::FAutoCenter>("AutoCenter", true);
}
void TRGGPCenterColor::DeclareProperties(TClassBuilder<TRGGPCenterColor>& P) {
  P.Prop<&TRGGPCenterColor::FColor>("Color", 0xFFFFFFFFu);
  P.Prop<&TRGGPCenterColor::FPoint>("Point");
}
void TRGGPHatch::DeclareProperties(TClassBuilder<TRGGPHatch>& P) {
  P.Prop<&TRGGPHatch::FForegroundColor>("ForegroundColor", 0xFFFFFFFFu);
  P.Prop<&TRGGPHatch::FBackgroundColor>("BackgroundColor", 0x00000000u);
  P.Prop<&TRGGPHatch::FStyle>("Style", hsHorizontal);
}
void TRGGPBlendShape::DeclareProperties(TClassBuilder<TRGGPBlendShape>& P) {
  P.Prop<&TRGGPBlendShape::FShapeType>("ShapeType", bstNone);
  P.Prop<&TRGGPBlendShape::FFocus>("Focus", 0.5f);
  P.Prop<&TRGGPBlendShape::FScale>("Scale", 1.0f);
}
void TRGGPBlend::DeclareProperties(TClassBuilder<TRGGPBlend>& P) {
  P.Prop<&TRGGPBlend::FEnabled>("Enabled", false);
  P.Prop<&TRGGPBlend::FBlends>("Blends");
  P.Prop<&TRGGPBlend::FShape>("Shape");
}
void TRGGPGradient::DeclareProperties(TClassBuilder<TRGGPGradient>& P) {
  P.Prop<&TRGGPGradient::FPath>("Path");
  P.Prop<&TRGGPGradient::FColors>("Colors");
  P.Prop<&TRGGPGradient::FCenterColor>("CenterColor");
  P.Prop<&TRGGPGradient::FGammaCorrection>("GammaCorrection", false);
}
void TRGGPBrush::DeclareProperties(TClassBuilder<TRGGPBrush>& P) {
  P.Prop<&TRGGPBrush::FBrushType>("BrushType", btSolidColor);
  P.Prop<&TRGGPBrush::FColor>("Color", kDefaultColor).Stored<&TRGGPBrush::GetColor_Stored>();
  P.Prop<&TRGGPBrush::FTexture>("Texture");
  P.Prop<&TRGGPBrush::FGradient>("Gradient");
  P.Prop<&TRGGPBrush::FHatch>("Hatch");
  P.Prop<&TRGGPBrush::FBlend>("Blend");
  P.Prop<&TRGGPBrush::FInterpolationColors>("InterpolationColors");
  P.Prop<&TRGGPBrush::FWrapMode>("WrapMode", wmClamp);
  P.Prop<&TRGGPBrush::FLinearGradientMode>("LinearGradientMode", lmHorizontal);
}
void TRGGPDashStyle::DeclareProperties(TClassBuilder<TRGGPDashStyle>& P) {
  P.Prop<&TRGGPDashStyle::FStyle>("Style", dsSolid);
  P.Prop<&TRGGPDashStyle::FOffset>("Offset", 0.0f);
  P.Prop<&TRGGPDashStyle::FCustomDash>("CustomDash");
}
void TRGGPPen::DeclareProperties(TClassBuilder<TRGGPPen>& P) {
  P.Prop<&TRGGPPen::FBrush>("Brush");
  P.Prop<&TRGGPPen::FWidth>("Width", 1.0f);
  P.Prop<&TRGGPPen::FAlignment>("Alignment", paCenter);
  P.Prop<&TRGGPPen::FMiterLimit>("MiterLimit", 0.0f);
  P.Prop<&TRGGPPen::FDashStyle>("DashStyle");
  P.Prop<&TRGGPPen::FLineJoin>("LineJoin", ljMiter);
  P.Prop<&TRGGPPen::FCompound>("Compound");
}
void TRGGPOptionalPen::DeclareProperties(TClassBuilder<TRGGPOptionalPen>& P) {
  P.Prop<&TRGGPOptionalPen::FEnabled>("Enabled", true).Stored<&TRGGPOptionalPen::GetEnabled_Stored>();
}
void TRGGPOptionalMultiPen::DeclareProperties(TClassBuilder<TRGGPOptionalMultiPen>& P) {
  P.Prop<&TRGGPOptionalMultiPen::FAdditionalPens>("AdditionalPens")
      .Stored<&TRGGPOptionalMultiPen::GetAdditionalPens_Stored>();
}
void TRGGPPenCollectionItem::DeclareProperties(TClassBuilder<TRGGPPenCollectionItem>& P) {
  P.Prop<&TRGGPPenCollectionItem::FPen>("Pen");
}
void TRGGPBasicFont::DeclareProperties(TClassBuilder<TRGGPBasicFont>& P) {
  P.Prop<&TRGGPBasicFont::FName>("Name", std::string(kDefaultName));
  P.Prop<&TRGGPBasicFont::FStyle>("Style", 0u).Stored<&TRGGPBasicFont::GetStyle_Stored>();
}
void TRGGPSimpleBrushFont::DeclareProperties(TClassBuilder<TRGGPSimpleBrushFont>& P) {
  P.Prop<&TRGGPSimpleBrushFont::FBrush>("Brush");
}
void TRGGPSimpleFont::DeclareProperties(TClassBuilder<TRGGPSimpleFont>& P) {
  P.Prop<&TRGGPSimpleFont::FPen>("Pen");
}
void TRGGPBrushFont::DeclareProperties(TClassBuilder<TRGGPBrushFont>& P) {
  P.Prop<&TRGGPBrushFont::FSize>("Size", 10);
}
void TRGGPFont::DeclareProperties(TClassBuilder<TRGGPFont>& P) { P.Prop<&TRGGPFont::FSize>("Size", 10); }
void TRGGPOptionalText::DeclareProperties(TClassBuilder<TRGGPOptionalText>& P) {
  P.Prop<&TRGGPOptionalText::FFont>("Font");
  P.Prop<&TRGGPOptionalText::FEnabled>("Enabled", true);
}
void TRGGPColorItem::DeclareProperties(TClassBuilder<TRGGPColorItem>& P) {
  P.Prop<&TRGGPColorItem::FColor>("Color", 0xFF000000u).Stored<&TRGGPColorItem::GetColor_Stored>();
}

// ---------------------------------------------------------------- per-owner defaults

void TRGGPBrush::SetColor_Default(TGPColor AValue) {
  TWriteLock guard(GetLock());
  FColor_Default = AValue;
  SetColor(AValue);
}
void TRGGPBrush::InitColor_Default(TGPColor AValue) {
  TWriteLock guard(GetLock());
  FColor_Default = FColor = AValue;
  FBrush = nullptr;
}
void TRGGPOptionalPen::InitEnabled_Default(bool AValue) {
  TWriteLock guard(GetLock());
  FEnabled_Default = FEnabled = AValue;
}
void TRGGPOptionalPen::SetEnabled_Default(bool AValue) {
  TWriteLock guard(GetLock());
  FEnabled_Default = AValue;
  SetEnabled(AValue);
}
void TRGGPBasicFont::SetStyle_Default(std::uint32_t AValue) {
  TWriteLock guard(GetLock());
  FStyle_Default = AValue;
  SetStyle(AValue);
}
void TRGGPColorItem::SetColor_Default(TGPColor AValue) {
  TWriteLock guard(GetLock());
  FColor_Default = AValue;
  SetColor(AValue);
}

// ---------------------------------------------------------------- blend

void TRGGPBlend::ApplyTo(TIGPGradientBrush& ABrush) const {
  TReadLock guard(GetLock());
  if (!FEnabled) return;
  const float focus = FShape->Focus();
  const float scale = FShape->Scale();
  switch (FShape->ShapeType()) {
    case bstTriangular: ABrush.SetBlendTriangularShape(focus, scale); return;
    case bstBell: ABrush.SetBlendBellShape(focus, scale); return;
    case bstNone: break;
  }
  const auto items = FBlends->Values();
  if (items.size() < 2) return;
  std::vector<TIGPBlendPoint> blend;
  blend.reserve(items.size());
  for (const auto& b : items) blend.push_back({b.Position, b.Value});
  ABrush.SetBlend(blend);
}

// ---------------------------------------------------------------- image

void TRGGPImage::LoadFromFile(const std::string& AFileName) {
  SetGPImage(TIntfPtr<IGPImage>(TIGPBitmap::FromFile(AFileName)));
}
void TRGGPImage::LoadFromStream(TStream& AStream) {
  SetGPImage(TIntfPtr<IGPImage>(TIGPBitmap::FromStream(AStream)));
}
void TRGGPImage::SaveToStream(TStream& AStream, std::string_view AFormat) const {
  const TIntfPtr<IGPImage> image = GPImage();
  if (image) image->SaveToStream(AStream, AFormat);
}
void TRGGPImage::SaveToFile(const std::string& AFileName, std::string_view AFormat) const {
  const TIntfPtr<IGPImage> image = GPImage();
  if (image) image->SaveToFile(AFileName, AFormat);
}
std::vector<std::string> TRGGPImage::GetFormats() {
  std::vector<std::string> formats;
  for (const std::string& mime : TIGPBitmap::GetEncoders())
    if (mime.rfind("image/", 0) == 0) formats.push_back(mime.substr(6));
  return formats;
}
bool TRGGPImage::IsEmpty() const { return !GPImage(); }
std::int32_t TRGGPImage::Width() const {
  const TIntfPtr<IGPImage> image = GPImage();
  return image ? image->GetWidth() : 0;
}
std::int32_t TRGGPImage::Height() const {
  const TIntfPtr<IGPImage> image = GPImage();
  return image ? image->GetHeight() : 0;
}
void TRGGPImage::SetGPImage(const TIntfPtr<IGPImage>& AImage) {
  TWriteLock guard(GetLock());
  if (FImage.Get() == AImage.Get()) return;
  FImage = AImage;
  Changed();
}
void TRGGPImage::Assign(const TPersistent& ASource) {
  if (auto* src = dynamic_cast<const TRGGPImage*>(&ASource)) {
    const TIntfPtr<IGPImage> image = src->GPImage();
    SetGPImage(image ? image->Clone() : TIntfPtr<IGPImage>());
  } else {
    TLockPersistent::Assign(ASource);
  }
}
void TRGGPImage::SerializationWrite(IWriter& AWriter) const {
  const TIntfPtr<IGPImage> image = GPImage();
  if (!image) return;
  TMemoryStream stream;
  image->SaveToStream(stream, "png");
  AWriter.WriteBytes("Data", stream.Memory(), static_cast<std::uint64_t>(stream.Size()));
}
void TRGGPImage::SerializationRead(IReader& AReader) {
  std::vector<std::uint8_t> data;
  if (!AReader.ReadBytes("Data", data)) return;
  if (data.empty()) SetGPImage(nullptr);
  else SetGPImage(TIntfPtr<IGPImage>(TIGPBitmap::FromMemory(data.data(), data.size())));
}
void TRGGPImage::DefineProperties(TFiler& AFiler) {
  TLockPersistent::DefineProperties(AFiler);
  AFiler.DefineProperty(
      *this, "Data", [](TPersistent& o, IReader& r, std::string_view) { static_cast<TRGGPImage&>(o).SerializationRead(r); },
      [](const TPersistent& o, IWriter& w, std::string_view) { static_cast<const TRGGPImage&>(o).SerializationWrite(w); },
      AFiler.Reading() || FImage);
}

// ---------------------------------------------------------------- brush

TRGGPBrush::TRGGPBrush(TPersistent* AOwner, float AScaleX, float AScaleY)
    : TLockPersistent(AOwner), FScaleX(AScaleX), FScaleY(AScaleY) {
  FTexture.reset(new TRGGPImage(this));
  InitProperties(this);
}

void TRGGPBrush::Changed() {
  {
    TWriteLock guard(GetLock());
    FBrush = nullptr;
  }
  TLockPersistent::Changed();
}

TIntfPtr<IGPBrush> TRGGPBrush::GetGPBrush(const TIGPRectF& ARect) {
  TWriteLock guard(GetLock());
  if (!FBrush || !(FBrushRect == ARect)) {
    FBrush = BuildBrush(ARect);
    FBrushRect = ARect;
  }
  return FBrush;
}

TIntfPtr<IGPBrush> TRGGPBrush::BuildBrush(const TIGPRectF& ARect) const {
  switch (FBrushType) {
    case btHatchFill:
      return TIntfPtr<IGPBrush>(
          new TIGPHatchBrush(FHatch->Style(), FHatch->ForegroundColor(), FHatch->BackgroundColor()));
    case btTextureFill:
      if (TIntfPtr<IGPImage> image = FTexture->GPImage())
        return TIntfPtr<IGPBrush>(new TIGPTextureBrush(image, FWrapMode));
      break;
    case btPathGradient:
      if (TIntfPtr<IGPBrush> b = BuildPathGradient(ARect)) return b;
      break;
    case btLinearGradient:
      if (TIntfPtr<IGPBrush> b = BuildLinearGradient(ARect)) return b;
      break;
    case btSolidColor: break;
  }
  return TIntfPtr<IGPBrush>(new TIGPSolidBrush(FColor));
}

void TRGGPBrush::ApplyGradientOptions(TIGPGradientBrush& ABrush) const {
  ABrush.SetGammaCorrection(FGradient->GammaCorrection());
  FBlend->ApplyTo(ABrush);
  // Interpolation colours need positions from 0 to 1 in order; others are ignored.
  auto stops = FInterpolationColors->Values();
  if (stops.size() >= 2) {
    std::stable_sort(stops.begin(), stops.end(), [](const auto& a, const auto& b) { return a.Position < b.Position; });
    if (stops.front().Position == 0.0f && stops.back().Position == 1.0f) {
      std::vector<TIGPColorStop> colors;
      for (const auto& s : stops) colors.push_back({s.Color, s.Position});
      ABrush.SetInterpolationColors(colors);
    }
  }
}

// No colours: nothing to shade with, the caller falls back to a solid brush.
// No path: the corners of the rectangle drawn into.
TIntfPtr<IGPBrush> TRGGPBrush::BuildPathGradient(const TIGPRectF& ARect) const {
  const std::vector<TGPColor> colors = FGradient->Colors()->Values();
  if (colors.empty()) return nullptr;
  std::vector<TIGPPointF> points = FGradient->Path()->Values();
  if (points.size() < 3)
    points = {{ARect.Left(), ARect.Top()}, {ARect.Right(), ARect.Top()}, {ARect.Right(), ARect.Bottom()},
              {ARect.Left(), ARect.Bottom()}};
  auto* brush = new TIGPPathGradientBrush(points);
  TIntfPtr<IGPBrush> result(brush);
  brush->SetWrapMode(FWrapMode);
  brush->SetSurroundColors(colors);
  const TRGGPCenterColor& center = *FGradient->CenterColor();
  brush->SetCenterColor(center.Color());
  if (!center.Point()->AutoCenter()) brush->SetCenterPoint(center.Point()->AsPoint());
  ApplyGradientOptions(*brush);
  return result;
}

// From the first colour to the last (a single colour fades to the centre colour).
TIntfPtr<IGPBrush> TRGGPBrush::BuildLinearGradient(const TIGPRectF& ARect) const {
  const std::vector<TGPColor> colors = FGradient->Colors()->Values();
  if (colors.empty()) return nullptr;
  const TGPColor c1 = colors.front();
  const TGPColor c2 = colors.size() > 1 ? colors.back() : FGradient->CenterColor()->Color();
  const std::vector<TIGPPointF> points = FGradient->Path()->Values();
  TIGPLinearGradientBrush* brush = nullptr;
  if (FLinearGradientMode == lmPoints && points.size() >= 2) {
    brush = new TIGPLinearGradientBrush(points[0], points[1], c1, c2);
  } else {
    if (ARect.IsEmptyArea()) return nullptr;
    TIGPLinearGradientMode mode = lgmHorizontal;
    switch (FLinearGradientMode) {
      case lmVertical: mode = lgmVertical; break;
      case lmForwardDiagonal: mode = lgmForwardDiagonal; break;
      case lmBackwardDiagonal: mode = lgmBackwardDiagonal; break;
      default: break;
    }
    brush = new TIGPLinearGradientBrush(ARect, c1, c2, mode);
  }
  TIntfPtr<IGPBrush> result(brush);
  brush->SetWrapMode(FWrapMode);
  ApplyGradientOptions(*brush);
  return result;
}

// ---------------------------------------------------------------- pens

TRGGPPen::TRGGPPen(TPersistent* AOwner, float AScaleX, float AScaleY)
    : TLockPersistent(AOwner), FScaleX(AScaleX), FScaleY(AScaleY) {
  FBrush.reset(new TRGGPBrush(this, AScaleX, AScaleY));
  InitProperties(this);
  FBrush->InitColor_Default(kDefaultColor);
}

void TRGGPPen::SetScale(float AScaleX, float AScaleY) {
  TWriteLock guard(GetLock());
  if (FScaleX == AScaleX && FScaleY == AScaleY) return;
  FScaleX = AScaleX;
  FScaleY = AScaleY;
  Changed();
}

void TRGGPPen::Changed() {
  {
    TWriteLock guard(GetLock());
    FPen = nullptr;
  }
  TLockPersistent::Changed();
}

TIntfPtr<TIGPPen> TRGGPPen::GetGPPenInt(const TIGPRectF& ARect, float AValue) {
  TWriteLock guard(GetLock());
  if (FPen && FPenRect == ARect && FPenValue == AValue) return FPen;
  const float width = FWidth * AValue * (FScaleX + FScaleY) * 0.5f;
  TIntfPtr<TIGPPen> pen(new TIGPPen(FBrush->GetGPBrush(ARect), width));
  const TIGPDashStyle style = FDashStyle->Style();
  const std::vector<float> dash = FDashStyle->CustomDash()->Values();
  if (style == dsCustom && !dash.empty()) pen->SetDashPattern(dash);
  else if (style != dsCustom) pen->SetDashStyle(style);
  pen->SetDashOffset(FDashStyle->Offset());
  // A compound array must hold ascending pairs within 0..1; another is ignored.
  const std::vector<float> compound = FCompound->Values();
  if (!compound.empty() && compound.size() % 2 == 0 && std::is_sorted(compound.begin(), compound.end()) &&
      compound.front() >= 0.0f && compound.back() <= 1.0f)
    pen->SetCompoundArray(compound);
  pen->SetAlignment(FAlignment);
  pen->SetMiterLimit(FMiterLimit);
  pen->SetLineJoin(FLineJoin);
  FPen = pen;
  FPenRect = ARect;
  FPenValue = AValue;
  return FPen;
}

TRGGPPenCollectionItem::TRGGPPenCollectionItem(TPersistent* ACollection) : TLockCollectionItem(ACollection) {
  FPen.reset(new TRGGPPen(this));
  InitProperties(this);
}

void TRGGPPenCollection::NewItemCreated(TLockCollectionItem* AItem) {
  if (auto* item = dynamic_cast<TRGGPPenCollectionItem*>(AItem)) item->Pen()->SetScale(FScaleX, FScaleY);
}

TRGGPOptionalMultiPen::TRGGPOptionalMultiPen(TPersistent* AOwner, float AScaleX, float AScaleY)
    : TRGGPOptionalPen(AOwner, AScaleX, AScaleY) {
  FAdditionalPens.reset(new TRGGPPenCollection(this, AScaleX, AScaleY));
  InitProperties(this);
}

// ---------------------------------------------------------------- fonts

TRGGPBasicFont::TRGGPBasicFont(TPersistent* AOwner, float AScaleX, float AScaleY)
    : TLockPersistent(AOwner), FScaleX(AScaleX), FScaleY(AScaleY) {
  InitProperties(this);
}

void TRGGPBasicFont::Changed() {
  {
    TWriteLock guard(GetLock());
    FFont = nullptr;
  }
  TLockPersistent::Changed();
}

TIntfPtr<TIGPFont> TRGGPBasicFont::BuildFont(float ASize) {
  TWriteLock guard(GetLock());
  if (!FFont || FFont->GetSize() != ASize)
    FFont = TIntfPtr<TIGPFont>(new TIGPFont(FName, ASize, static_cast<TIGPFontStyle>(FStyle & 0x0F)));
  return FFont;
}

namespace {
std::mutex GPreloadLock;
std::vector<std::string> GPreloadWanted;  // GPreloadLock: families not yet opened
std::set<std::string> GPreloadSeen;       // GPreloadLock: families ever noted
}  // namespace

void TRGGPBasicFont::WantPreload() const {
  std::string name = Name();
  std::lock_guard guard(GPreloadLock);
  if (GPreloadSeen.insert(name).second) GPreloadWanted.push_back(std::move(name));
}

void TRGGPBasicFont::PreloadWanted() {
  std::vector<std::string> names;
  {
    std::lock_guard guard(GPreloadLock);
    names.swap(GPreloadWanted);
  }
  if (names.empty()) return;
  // A glyph drawn on a scratch surface: making a face alone does not open
  // its file; the first scaled font and glyph do.
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_A8, 16, 16);
  cairo_t* cr = cairo_create(scratch);
  for (const std::string& name : names) {
    const TIntfPtr<TIGPFontFamily> family(new TIGPFontFamily(name));
    for (const TIGPFontStyle style : {TIGPFontStyle(0), TIGPFontStyle(fsBold)}) {
      TIntfPtr<TIGPFont>(new TIGPFont(family, 10, style))->Select(cr);
      cairo_move_to(cr, 0, 12);
      cairo_show_text(cr, "0");
    }
  }
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
}

TRGGPSimpleBrushFont::TRGGPSimpleBrushFont(TPersistent* AOwner, float AScaleX, float AScaleY)
    : TRGGPBasicFont(AOwner, AScaleX, AScaleY) {
  FBrush.reset(new TRGGPBrush(this, AScaleX, AScaleY));
  InitProperties(this);
  FBrush->InitColor_Default(kDefaultColor);
}

TRGGPSimpleFont::TRGGPSimpleFont(TPersistent* AOwner, float AScaleX, float AScaleY)
    : TRGGPSimpleBrushFont(AOwner, AScaleX, AScaleY) {
  FPen.reset(new TRGGPOptionalMultiPen(this, AScaleX, AScaleY));
  InitProperties(this);
  // A font's outline is an addition the user switches on.
  FPen->InitEnabled_Default(false);
}

void TRGGPSimpleFont::DrawOnGraphics(IGPGraphics& AGraphics, const TIntfPtr<TIGPGraphicsPath>& APath, float AValue) {
  if (!APath) return;
  TWriteLock guard(GetLock());
  const TIGPRectF bounds = APath->GetBounds();
  AGraphics.FillPath(Brush()->GetGPBrush(bounds), APath);
  if (!FPen->Enabled()) return;
  AGraphics.DrawPath(FPen->GetGPPenInt(bounds, AValue), APath);
  TRGGPPenCollection& extra = *FPen->AdditionalPens();
  for (std::int32_t i = 0; i < extra.Count(); ++i)
    AGraphics.DrawPath(extra[i]->Pen()->GetGPPenInt(bounds, AValue), APath);
}

TRGGPOptionalText::TRGGPOptionalText(TPersistent* AOwner, float AScaleX, float AScaleY) : TLockPersistent(AOwner) {
  FFont.reset(new TRGGPFont(this, AScaleX, AScaleY));
  InitProperties(this);
}

// ---------------------------------------------------------------- colour items

namespace {
// Distinct trace colours: the usual first choices of a plotting display.
const std::vector<TGPColor>& DefaultPalette() {
  static const std::vector<TGPColor> palette{0xFFFF0000u, 0xFF00C000u, 0xFF0000FFu, 0xFFFFC000u, 0xFFFF00FFu,
                                             0xFF00C0C0u, 0xFF808080u, 0xFF800000u, 0xFF008000u, 0xFF000080u};
  return palette;
}
}  // namespace

TRGGPColorItems::TRGGPColorItems(TPersistent* AOwner)
    : TTypedPersistentCollection(AOwner), FPalette(DefaultPalette()) {}

void TRGGPColorItems::SetPalette(std::vector<TGPColor> APalette) {
  TWriteLock guard(GetLock());
  FPalette = APalette.empty() ? DefaultPalette() : std::move(APalette);
}

bool TRGGPColorItems::OwnerLoading() const {
  for (TPersistent* o = GetOwner(); o; o = o->GetOwner())
    if (auto* c = dynamic_cast<TComponent*>(o)) return c->HasState(csLoading);
  return false;
}

TGPColor TRGGPColorItems::GetNewColor() const {
  TReadLock guard(GetLock());
  const std::int32_t count = Count();
  if (OwnerLoading()) {
    const std::size_t at = static_cast<std::size_t>(std::max(count - 1, 0)) % FPalette.size();
    return FPalette[at];
  }
  // The newest item (the one asking) does not count as a user of a colour.
  std::vector<std::int32_t> uses(FPalette.size(), 0);
  for (std::int32_t i = 0; i + 1 < count; ++i) {
    const TGPColor c = Items(i)->Color();
    for (std::size_t k = 0; k < FPalette.size(); ++k)
      if (FPalette[k] == c) ++uses[k];
  }
  const auto best = std::min_element(uses.begin(), uses.end());
  return FPalette[static_cast<std::size_t>(best - uses.begin())];
}

void TRGGPColorItems::NewItemCreated(TLockCollectionItem* AItem) {
  if (auto* item = dynamic_cast<TRGGPColorItem*>(AItem)) item->SetColor_Default(GetNewColor());
}

}  // namespace nx

// ---------------------------------------------------------------- start-up

namespace nx::RGGDIPlusProperties {
namespace {
// Constant-initialised: the finalization runs after static destructors.
constexpr const TClassInfo& (*kClasses[])() = {
    &TRGGPPoints::StaticClassInfo,
    &TRGGPColors::StaticClassInfo,
    &TRGGPInterpolationColors::StaticClassInfo,
    &TRGGPBlends::StaticClassInfo,
    &TRGGPSingleArray::StaticClassInfo,
    &TRGGPCustomDash::StaticClassInfo,
    &TRGGPPenCompound::StaticClassInfo,
    &TRGGPPoint::StaticClassInfo,
    &TRGGPSize::StaticClassInfo,
    &TRGGPCenterPoint::StaticClassInfo,
    &TRGGPCenterColor::StaticClassInfo,
    &TRGGPHatch::StaticClassInfo,
    &TRGGPBlendShape::StaticClassInfo,
    &TRGGPBlend::StaticClassInfo,
    &TRGGPGradient::StaticClassInfo,
    &TRGGPImage::StaticClassInfo,
    &TRGGPBrush::StaticClassInfo,
    &TRGGPDashStyle::StaticClassInfo,
    &TRGGPPen::StaticClassInfo,
    &TRGGPOptionalPen::StaticClassInfo,
    &TRGGPOptionalMultiPen::StaticClassInfo,
    &TRGGPPenCollectionItem::StaticClassInfo,
    &TRGGPPenCollection::StaticClassInfo,
    &TRGGPBasicFont::StaticClassInfo,
    &TRGGPSimpleBrushFont::StaticClassInfo,
    &TRGGPSimpleFont::StaticClassInfo,
    &TRGGPBrushFont::StaticClassInfo,
    &TRGGPFont::StaticClassInfo,
    &TRGGPOptionalText::StaticClassInfo,
    &TRGGPColorItem::StaticClassInfo,
    &TRGGPColorItems::StaticClassInfo,
};
}  // namespace
void UnitInitialize() {
  for (auto c : kClasses) RegisterClass(c());
}
void UnitFinalize() {
  for (auto c : kClasses) UnregisterClass(c());
}
}  // namespace nx::RGGDIPlusProperties

NX_PACKAGE_UNIT(RGGDIPlusProperties, &nx::RGGDIPlusProperties::UnitInitialize, &nx::RGGDIPlusProperties::UnitFinalize)
