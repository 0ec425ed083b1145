// RGDrawLayers: the draw layer, the layer list with its drawing pass and
// mouse routing, the layer-reference collection and the image-caching
// composite layer.
#include "drawing/RGDrawLayers.h"

#include <algorithm>
#include <cmath>

#include "runtime/NXPackage.h"

namespace nx {

// ---------------------------------------------------------------- TRGDrawLayers

IRGDrawItem* TRGDrawLayers::Layer(std::int32_t AIndex) const {
  return Supports<IRGDrawItem>(Items(AIndex)->GetComponentInstance()).Get();
}

void TRGDrawLayers::Draw(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                         float AYCoeff, bool AContoursOnly) {
  std::vector<IRGDrawItem*> layers;
  ForEach([&](INXComponentItem* item) {
    if (IRGDrawItem* layer = Supports<IRGDrawItem>(item->GetComponentInstance()).Get()) layers.push_back(layer);
  });
  for (IRGDrawItem* layer : layers) layer->DoLayerBegin(ACanvas, AWidth, AHeight, AXCoeff, AYCoeff);
  for (IRGDrawItem* layer : layers) {
    // A layer that a composite draws from its image is not drawn twice.
    if (TRGDrawLayer* own = layer->GetDrawLayer(); own && own->DrawnByComposite()) continue;
    layer->DoLayerDraw(ACanvas, AWidth, AHeight, AXCoeff, AYCoeff, AContoursOnly);
  }
  for (IRGDrawItem* layer : layers) layer->DoLayerEnd(ACanvas, AWidth, AHeight, AXCoeff, AYCoeff);
}

std::vector<IRGDrawItem*> TRGDrawLayers::VisibleTopFirst() const {
  std::vector<IRGDrawItem*> layers;
  ForEachReverse([&](INXComponentItem* item) {
    IRGDrawItem* layer = Supports<IRGDrawItem>(item->GetComponentInstance()).Get();
    if (layer && layer->GetOperations().Contains(dlmDraw)) layers.push_back(layer);
  });
  return layers;
}

IRGDrawItem* TRGDrawLayers::MouseCapture() const {
  TReadLock guard(GetLock());
  // A layer that left the list (or was freed) no longer holds the mouse.
  if (!FCapture || GetIndexOf(FCapture) < 0) return nullptr;
  return Supports<IRGDrawItem>(FCapture).Get();
}

template <class F>
bool TRGDrawLayers::RouteTopFirst(F&& AHandler) {
  for (IRGDrawItem* layer : VisibleTopFirst())
    if (AHandler(layer)) return true;
  return false;
}

bool TRGDrawLayers::MouseMove(TShiftState AShift, float X, float Y) {
  if (IRGDrawItem* captured = MouseCapture()) return captured->DoLayerMouseMove(AShift, X, Y);
  return RouteTopFirst([&](IRGDrawItem* l) { return l->DoLayerMouseMove(AShift, X, Y); });
}

bool TRGDrawLayers::MouseDown(TMouseButton AButton, TShiftState AShift, float X, float Y) {
  if (IRGDrawItem* captured = MouseCapture()) return captured->DoLayerMouseDown(AButton, AShift, X, Y);
  return RouteTopFirst([&](IRGDrawItem* l) {
    if (!l->DoLayerMouseDown(AButton, AShift, X, Y)) return false;
    TWriteLock guard(GetLock());
    FCapture = l->GetDrawLayer();
    return true;
  });
}

// A release goes to the layer that holds the mouse, which then lets it go.
bool TRGDrawLayers::MouseUp(TMouseButton AButton, TShiftState AShift, float X, float Y) {
  if (IRGDrawItem* captured = MouseCapture()) {
    {
      TWriteLock guard(GetLock());
      FCapture = nullptr;
    }
    return captured->DoLayerMouseUp(AButton, AShift, X, Y);
  }
  return RouteTopFirst([&](IRGDrawItem* l) { return l->DoLayerMouseUp(AButton, AShift, X, Y); });
}

bool TRGDrawLayers::MouseWheelDown(TShiftState AShift, float X, float Y) {
  return RouteTopFirst([&](IRGDrawItem* l) { return l->DoLayerMouseWheelDown(AShift, X, Y); });
}

bool TRGDrawLayers::MouseWheelUp(TShiftState AShift, float X, float Y) {
  return RouteTopFirst([&](IRGDrawItem* l) { return l->DoLayerMouseWheelUp(AShift, X, Y); });
}

void TRGDrawLayers::MouseEnter() {
  for (IRGDrawItem* layer : VisibleTopFirst()) layer->DoLayerMouseEnter();
}

void TRGDrawLayers::MouseLeave() {
  for (IRGDrawItem* layer : VisibleTopFirst()) layer->DoLayerMouseLeave();
}

// ---------------------------------------------------------------- TRGDrawLayer

TRGDrawLayer::TRGDrawLayer(TComponent* AOwner) : TNXComponentItem(AOwner) { InitProperties(this); }

TRGDrawLayer::~TRGDrawLayer() { UnlinkAll(); }

void TRGDrawLayer::DeclareProperties(TClassBuilder<TRGDrawLayer>& P) {
  P.Prop<&TRGDrawLayer::FVisible>("Visible", true);
}

TRGDrawLayerOperations TRGDrawLayer::GetOperations() {
  return Visible() ? TRGDrawLayerOperations{dlmDraw} : TRGDrawLayerOperations{};
}

void TRGDrawLayer::DoLayerDraw(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                               float AYCoeff, bool AContoursOnly) {
  TWriteLock guard(GetLock());
  if (!FVisible) return;
  FContoursOnly = AContoursOnly;
  DrawLayer(ACanvas, AWidth, AHeight, AXCoeff, AYCoeff);
  FContoursOnly = false;
}

void TRGDrawLayer::DrawLayer(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                             float AYCoeff) {
  TIntfPtr<IGPGraphics> graphics = ACanvas.GetGraphics();
  if (!graphics) return;
  // Restored afterwards, so that one layer's factors do not pile onto the next one's.
  const std::uint32_t state = graphics->Save();
  graphics->ScaleTransform(AXCoeff, AYCoeff);
  try {
    IntDraw(*graphics, AWidth, AHeight);
  } catch (...) {
    graphics->Restore(state);
    throw;
  }
  graphics->Restore(state);
}

TIntfPtr<IInterface> TRGDrawLayer::GetCachedData(const TPersistent* ALink) const {
  TReadLock guard(GetLock());
  const auto it = std::find(FCachedLayersList.begin(), FCachedLayersList.end(), ALink);
  return it == FCachedLayersList.end() ? TIntfPtr<IInterface>() : FCachedList[it - FCachedLayersList.begin()];
}

void TRGDrawLayer::SetCachedData(const TPersistent* ALink, const TIntfPtr<IInterface>& AData) {
  TWriteLock guard(GetLock());
  const auto it = std::find(FCachedLayersList.begin(), FCachedLayersList.end(), ALink);
  if (it != FCachedLayersList.end()) {
    const auto at = it - FCachedLayersList.begin();
    if (AData) {
      FCachedList[at] = AData;
    } else {
      FCachedLayersList.erase(it);
      FCachedList.erase(FCachedList.begin() + at);
    }
  } else if (AData) {
    FCachedLayersList.push_back(ALink);
    FCachedList.push_back(AData);
  }
}

void TRGDrawLayer::ClearCachedData() {
  TWriteLock guard(GetLock());
  FCachedLayersList.clear();
  FCachedList.clear();
}

void TRGDrawLayer::OwnedChanged(TPersistent* ASource) {
  Invalidate();
  TNXComponentItem::OwnedChanged(ASource);
}

TRGDrawLayer* TRGDrawLayer::DrawnByComposite() const {
  for (TRGLayerCollectionItem* link : LinkList()) {
    auto* composite = dynamic_cast<TRGCompositeLayer*>(link->DrawLayer());
    if (composite && composite->Visible() && composite->GetList() == GetList()) return composite;
  }
  return nullptr;
}

void TRGDrawLayer::AddLayerLink(TRGLayerCollectionItem* ALink) {
  TWriteLock guard(GetLock());
  if (std::find(FLinkList.begin(), FLinkList.end(), ALink) == FLinkList.end()) FLinkList.push_back(ALink);
}

void TRGDrawLayer::RemoveLayerLink(TRGLayerCollectionItem* ALink) {
  TWriteLock guard(GetLock());
  FLinkList.erase(std::remove(FLinkList.begin(), FLinkList.end(), ALink), FLinkList.end());
}

// Every item that points here is unlinked, so that none keeps a reference
// to a destroyed layer.
void TRGDrawLayer::UnlinkAll() {
  for (TRGLayerCollectionItem* link : LinkList()) link->SetLayer(nullptr);
  TWriteLock guard(GetLock());
  FLinkList.clear();
}

void TRGDrawLayer::BeforeDestruction() {
  UnlinkAll();
  TNXComponentItem::BeforeDestruction();
}

void TRGDrawLayer::Loaded() {
  TNXComponentItem::Loaded();
  for (TRGLayerCollection* collection : ReadLocked(FCollections))
    for (std::int32_t i = 0; i < collection->Count(); ++i) collection->Items(i)->ResolveLayerIndex();
}

// ---------------------------------------------------------------- layer collection

TRGLayerCollection::TRGLayerCollection(TPersistent* AOwner)
    : TTypedPersistentCollection(AOwner), FDrawLayer(dynamic_cast<TRGDrawLayer*>(AOwner)) {
  if (FDrawLayer) {
    TWriteLock guard(FDrawLayer->GetLock());
    FDrawLayer->FCollections.push_back(this);
  }
}

TRGLayerCollection::~TRGLayerCollection() {
  // The items go first (they unlink themselves), then the layer forgets the collection.
  Clear();
  if (FDrawLayer) {
    TWriteLock guard(FDrawLayer->GetLock());
    auto& list = FDrawLayer->FCollections;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TRGLayerCollectionItem::DeclareProperties(TClassBuilder<TRGLayerCollectionItem>& P) {
  P.Prop<&TRGLayerCollectionItem::FLayer, &TRGLayerCollectionItem::SetLayer>("Layer");
}

TRGLayerCollectionItem::~TRGLayerCollectionItem() {
  if (TRGDrawLayer* layer = LinkedLayer()) layer->RemoveLayerLink(this);
}

TRGDrawLayer* TRGLayerCollectionItem::LinkedLayer() const {
  TComponent* layer = Layer();
  return layer ? dynamic_cast<TRGDrawLayer*>(layer) : nullptr;
}

TRGDrawLayer* TRGLayerCollectionItem::DrawLayer() const {
  auto* collection = dynamic_cast<TRGLayerCollection*>(Collection());
  return collection ? collection->DrawLayer() : nullptr;
}

void TRGLayerCollectionItem::SetLayer(TComponent* AValue) {
  TWriteLock guard(GetLock());
  if (AValue == FLayer) return;
  TRGDrawLayer* layer = nullptr;
  if (AValue) {
    IRGDrawItem* item = Supports<IRGDrawItem>(AValue).Get();
    layer = item ? item->GetDrawLayer() : nullptr;
    if (!layer) return;
    TRGDrawLayer* own = DrawLayer();
    if (layer == own) return;
    if (own && own->GetList() != layer->GetList()) return;
  }
  if (TRGDrawLayer* old = LinkedLayer()) old->RemoveLayerLink(this);
  FLayer = layer;
  if (layer) layer->AddLayerLink(this);
  Changed();
}

void TRGLayerCollectionItem::ResolveLayerIndex() {
  const std::int32_t index = LayerIndex();
  TRGDrawLayer* own = DrawLayer();
  TNXComponentItems* list = own ? own->GetList() : nullptr;
  if (index < 0 || !list || index >= list->Count()) return;
  SetLayer(list->GetObjectAtIndex(index));
}

std::string TRGLayerCollectionItem::GetDisplayName() const {
  if (TComponent* layer = Layer())
    if (!layer->Name().empty()) return layer->Name();
  return TLockCollectionItem::GetDisplayName();
}

// "LayerIndex" is only read (older forms linked layers by position); while
// the owning layer loads, its Loaded resolves the index.
void TRGLayerCollectionItem::DefineProperties(TFiler& AFiler) {
  TLockCollectionItem::DefineProperties(AFiler);
  AFiler.DefineProperty(
      *this, "LayerIndex",
      [](TPersistent& o, IReader& r, std::string_view key) {
        auto& self = static_cast<TRGLayerCollectionItem&>(o);
        std::int32_t index = -1;
        if (!r.ReadInt32(key, index)) return;
        {
          TWriteLock guard(self.GetLock());
          self.FLayerIndex = index;
        }
        TRGDrawLayer* own = self.DrawLayer();
        if (!own || !own->HasState(csLoading)) self.ResolveLayerIndex();
      },
      nullptr, false);
}

// ---------------------------------------------------------------- composite layer

namespace {
// A linked layer's image and what it was drawn with.
class TRGLayerImage : public TInterfacedObject {
 public:
  TIntfPtr<IGPImage> Image;
  const TRGDrawLayer* Layer = nullptr;
  std::uint64_t Version = 0;
  TIGPMatrix Transform;
  std::int32_t Width = 0, Height = 0;
  float XCoeff = 0, YCoeff = 0;
  bool ContoursOnly = false;
};
}  // namespace

TRGCompositeLayer::TRGCompositeLayer(TComponent* AOwner)
    : TRGDrawLayer(AOwner), FLayers(new TRGLayerCollection(this)) {
  InitProperties(this);
}

void TRGCompositeLayer::DeclareProperties(TClassBuilder<TRGCompositeLayer>& P) {
  P.Prop<&TRGCompositeLayer::FLayers>("Layers");
}

TRGLayerCollectionItem* TRGCompositeLayer::AddLayer(TRGDrawLayer* ALayer) {
  TRGLayerCollectionItem* item = FLayers->Add();
  item->SetLayer(ALayer);
  return item;
}

void TRGCompositeLayer::OwnedChanged(TPersistent* ASource) {
  // Links added, removed or pointed elsewhere: no image may outlive its link.
  ClearCachedData();
  TRGDrawLayer::OwnedChanged(ASource);
}

void TRGCompositeLayer::DrawLayer(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                                  float AYCoeff) {
  TIntfPtr<IGPGraphics> target = ACanvas.GetGraphics();
  if (!target) return;
  // The images cover the surface in device pixels (an image surface's size;
  // for another surface, the drawing area scaled by the factors).
  std::int32_t width = 0, height = 0;
  if (cairo_surface_t* surface = ACanvas.Canvas(); surface && cairo_surface_get_type(surface) == CAIRO_SURFACE_TYPE_IMAGE) {
    width = cairo_image_surface_get_width(surface);
    height = cairo_image_surface_get_height(surface);
  } else {
    width = std::int32_t(std::ceil(AWidth * AXCoeff));
    height = std::int32_t(std::ceil(AHeight * AYCoeff));
  }
  if (width < 1 || height < 1) return;
  const TIGPMatrix transform = target->GetTransform();
  for (std::int32_t i = 0; i < FLayers->Count(); ++i) {
    TRGLayerCollectionItem* link = FLayers->Items(i);
    TRGDrawLayer* layer = link->LinkedLayer();
    if (!layer || !layer->Visible()) {
      SetCachedData(link, nullptr);
      continue;
    }
    TIntfPtr<IInterface> data = GetCachedData(link);
    auto* cached = dynamic_cast<TRGLayerImage*>(data.Get());
    // The version is read before drawing: a change made meanwhile draws again next time.
    const std::uint64_t version = layer->ContentVersion();
    const bool current = cached && cached->Layer == layer && cached->Version == version &&
                         cached->Transform == transform && cached->Width == width && cached->Height == height &&
                         cached->XCoeff == AXCoeff && cached->YCoeff == AYCoeff &&
                         cached->ContoursOnly == ContoursOnly();
    if (!current) {
      if (!cached) {
        cached = new TRGLayerImage;
        data = TIntfPtr<IInterface>(static_cast<IInterface*>(cached));
      }
      if (!cached->Image || cached->Width != width || cached->Height != height)
        cached->Image = TIntfPtr<IGPImage>(new TIGPBitmap(width, height));
      TRGCairoCanvas canvas(cached->Image);
      canvas.GetGraphics()->Clear(0);
      canvas.GetGraphics()->SetTransform(transform);
      layer->DoLayerDraw(canvas, AWidth, AHeight, AXCoeff, AYCoeff, ContoursOnly());
      canvas.GetGraphics()->Flush();
      cached->Layer = layer;
      cached->Version = version;
      cached->Transform = transform;
      cached->Width = width;
      cached->Height = height;
      cached->XCoeff = AXCoeff;
      cached->YCoeff = AYCoeff;
      cached->ContoursOnly = ContoursOnly();
      SetCachedData(link, data);
      FImagesDrawn.fetch_add(1, std::memory_order_relaxed);
    }
    // One to one onto the surface's pixels.
    const std::uint32_t state = target->Save();
    target->ResetTransform();
    target->DrawImage(cached->Image, 0, 0);
    target->Restore(state);
  }
}

void RGRegisterLayerComponents(std::initializer_list<const TClassInfo*> AClasses) {
  for (const TClassInfo* c : AClasses) {
    RegisterClass(*c);
    NXRegisterComponentForCollection(*c, TRGDrawLayers::StaticClassInfo());
  }
}

}  // namespace nx

namespace nx::RGDrawLayers {
namespace {
std::span<const TClassInfo* const> Classes() {
  static const TClassInfo* const classes[] = {&TRGDrawLayers::StaticClassInfo(), &TRGDrawLayer::StaticClassInfo(),
                                              &TRGLayerCollection::StaticClassInfo(),
                                              &TRGLayerCollectionItem::StaticClassInfo()};
  return classes;
}
}  // namespace
void UnitInitialize() {
  RegisterClasses(Classes());
  NXRegisterComponentCollection(TRGDrawLayers::StaticClassInfo());
  RGRegisterLayerComponents({&TRGCompositeLayer::StaticClassInfo()});
}
void UnitFinalize() {
  UnregisterClass(TRGCompositeLayer::StaticClassInfo());
  UnregisterClasses(Classes());
}
}  // namespace nx::RGDrawLayers

NX_PACKAGE_UNIT(RGDrawLayers, &nx::RGDrawLayers::UnitInitialize, &nx::RGDrawLayers::UnitFinalize)
