// RGDrawLayers: user-ordered stacks of draw layers on display components.
//
// A display publishes a TRGDrawLayers list; each item is a TRGDrawLayer
// component that paints on top of the display through the abstract canvas
// (Zandor.CanvasIntf) and may react to the mouse. The display calls
// DoLayerBegin on every layer, DoLayerDraw on each in list order (the last
// one paints on top), then DoLayerEnd; TRGDrawLayers::Draw does exactly that.
// Mouse events go the other way: TRGDrawLayers offers them to the topmost
// visible layer first, down the list, until one handles them; the layer
// that handles a button press receives the moves and the release that
// follow (it holds the mouse) until the release.
//
// One layer can refer to others of the same list through a layer collection
// (TRGLayerCollection) and keep drawing resources per linked layer in its
// cache (GetCachedData / SetCachedData). Every layer knows the collection
// items that point to it, and unlinks them when it is destroyed.
//
// TRGCompositeLayer uses that cache to keep an image of each layer it links:
// a display whose lower layers (bezel, grid, traces) rarely change and whose
// top layer (a cursor, markers) changes often repaints the lower ones by
// copying their images. Every layer counts its changes (ContentVersion); an
// image is drawn again only when its layer's count, the surface size, the
// transform or the scale factors differ from those it was drawn with.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "drawing/Vantex.h"
#include "drawing/Zandor.CanvasIntf.h"
#include "infrastructure/NXComponentCollection.h"
#include "runtime/Zandor.MouseState.h"

namespace nx {

class TRGDrawLayer;
class TRGLayerCollection;
class TRGLayerCollectionItem;

enum TRGDrawLayerOperation : std::uint8_t { dlmDraw, dlmInvertAlpha, dlmFilter };

// A set of TRGDrawLayerOperation values.
class TRGDrawLayerOperations {
 public:
  constexpr TRGDrawLayerOperations() noexcept = default;
  constexpr TRGDrawLayerOperations(std::initializer_list<TRGDrawLayerOperation> AOps) noexcept {
    for (TRGDrawLayerOperation op : AOps) FBits = static_cast<std::uint8_t>(FBits | (1u << op));
  }
  constexpr bool Contains(TRGDrawLayerOperation AOp) const noexcept { return (FBits >> AOp) & 1u; }
  constexpr bool Empty() const noexcept { return FBits == 0; }
  friend constexpr bool operator==(TRGDrawLayerOperations, TRGDrawLayerOperations) = default;

 private:
  std::uint8_t FBits = 0;
};

// What a display needs of a draw layer; a component without it cannot be linked as a layer.
struct IRGDrawItem : virtual IInterface {
  NX_INTERFACE_ID(IRGDrawItem, "{6C1D8A52-3F0E-4B7D-9E21-5A8C4F3B7D90}");
  virtual TRGDrawLayerOperations GetOperations() = 0;
  virtual void DoLayerBegin(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                            float AYCoeff) = 0;
  virtual void DoLayerEnd(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                          float AYCoeff) = 0;
  virtual void DoLayerDraw(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                           float AYCoeff, bool AContoursOnly) = 0;
  // The mouse, in display coordinates; each returns whether the layer handled it.
  virtual bool DoLayerMouseMove(TShiftState AShift, float X, float Y) = 0;
  virtual bool DoLayerMouseDown(TMouseButton AButton, TShiftState AShift, float X, float Y) = 0;
  virtual bool DoLayerMouseUp(TMouseButton AButton, TShiftState AShift, float X, float Y) = 0;
  virtual bool DoLayerMouseWheelDown(TShiftState AShift, float X, float Y) = 0;
  virtual bool DoLayerMouseWheelUp(TShiftState AShift, float X, float Y) = 0;
  virtual void DoLayerMouseEnter() = 0;
  virtual void DoLayerMouseLeave() = 0;
  virtual std::string GetName() const = 0;
  virtual TRGDrawLayer* GetDrawLayer() = 0;
};

// The list of draw layers a display publishes.
class TRGDrawLayers : public TNXComponentItems {
  NX_PERSISTENT(TRGDrawLayers, TNXComponentItems)
 public:
  explicit TRGDrawLayers(TPersistent* AOwner = nullptr) : TNXComponentItems(AOwner) {}
  // The draw item at AIndex (ERangeError outside the list); null for an item without one.
  IRGDrawItem* Layer(std::int32_t AIndex) const;

  // One drawing pass: DoLayerBegin on every layer, DoLayerDraw on each in
  // list order, DoLayerEnd on every layer.
  void Draw(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff = 1.0f,
            float AYCoeff = 1.0f, bool AContoursOnly = false);

  // Mouse routing (see the top of the unit); each returns whether a layer handled the event.
  bool MouseMove(TShiftState AShift, float X, float Y);
  bool MouseDown(TMouseButton AButton, TShiftState AShift, float X, float Y);
  bool MouseUp(TMouseButton AButton, TShiftState AShift, float X, float Y);
  bool MouseWheelDown(TShiftState AShift, float X, float Y);
  bool MouseWheelUp(TShiftState AShift, float X, float Y);
  // Enter and leave go to every visible layer.
  void MouseEnter();
  void MouseLeave();
  // The layer that holds the mouse between a handled press and its release (null: none).
  IRGDrawItem* MouseCapture() const;

 private:
  // The visible layers, topmost first.
  std::vector<IRGDrawItem*> VisibleTopFirst() const;
  template <class F>
  bool RouteTopFirst(F&& AHandler);
  TComponent* FCapture = nullptr;
};

class TRGDrawLayer : public TNXComponentItem, public IRGDrawItem, public IEnable {
  NX_PERSISTENT(TRGDrawLayer, TNXComponentItem)
  NX_INTERFACES(TNXComponentItem, IRGDrawItem, IEnable)
 public:
  explicit TRGDrawLayer(TComponent* AOwner = nullptr);
  ~TRGDrawLayer() override;

  bool Visible() const { return ReadLocked(FVisible); }
  void SetVisible(bool AValue) { SetNotify(FVisible, AValue); }
  static void DeclareProperties(TClassBuilder<TRGDrawLayer>& P);

  // Layers join draw-layer lists.
  const TClassInfo& GetCollectionClass() const override { return TRGDrawLayers::StaticClassInfo(); }

  bool GetHasEnable() override { return true; }
  bool GetCanDisable() override { return true; }
  bool GetIsEnabled() override { return Visible(); }
  void SetIsEnabled(bool AValue) override { SetVisible(AValue); }

  // Empty here.
  void DoLayerBegin(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                    float AYCoeff) override {}
  void DoLayerEnd(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                  float AYCoeff) override {}
  // Under the layer's lock: DrawLayer when visible, nothing otherwise.
  void DoLayerDraw(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff, float AYCoeff,
                   bool AContoursOnly) override;
  bool DoLayerMouseMove(TShiftState AShift, float X, float Y) override { return false; }
  bool DoLayerMouseDown(TMouseButton AButton, TShiftState AShift, float X, float Y) override { return false; }
  bool DoLayerMouseUp(TMouseButton AButton, TShiftState AShift, float X, float Y) override { return false; }
  bool DoLayerMouseWheelDown(TShiftState AShift, float X, float Y) override { return false; }
  bool DoLayerMouseWheelUp(TShiftState AShift, float X, float Y) override { return false; }
  void DoLayerMouseEnter() override {}
  void DoLayerMouseLeave() override {}
  // {dlmDraw} while visible, else the empty set.
  TRGDrawLayerOperations GetOperations() override;
  std::string GetName() const override { return Name(); }
  TRGDrawLayer* GetDrawLayer() override { return this; }

  // A per-link object cache (see the unit's top): null AData removes the entry.
  virtual TIntfPtr<IInterface> GetCachedData(const TPersistent* ALink) const;
  virtual void SetCachedData(const TPersistent* ALink, const TIntfPtr<IInterface>& AData);
  virtual void ClearCachedData();

  // How often the layer's content changed: every change of one of its
  // properties (or of their sub-objects) and every Invalidate counts.
  std::uint64_t ContentVersion() const noexcept { return FContentVersion.load(std::memory_order_acquire); }
  // Marks the drawn content as changed (a layer whose data changed outside
  // its properties, such as a trace with new samples, calls it).
  void Invalidate() noexcept { FContentVersion.fetch_add(1, std::memory_order_acq_rel); }
  void OwnedChanged(TPersistent* ASource) override;
  // The visible image cache of the same list that draws this layer (null: none).
  TRGDrawLayer* DrawnByComposite() const;

  // Maintained by the layer-collection items that point to this layer.
  void AddLayerLink(TRGLayerCollectionItem* ALink);
  void RemoveLayerLink(TRGLayerCollectionItem* ALink);
  std::vector<TRGLayerCollectionItem*> LinkList() const { return ReadLocked(FLinkList); }

  void BeforeDestruction() override;
  // Resolves the legacy layer indices its collections read while loading.
  void Loaded() override;

 protected:
  // Applies the scale factors to the canvas's graphics and calls IntDraw;
  // the graphics' state is restored afterwards.
  virtual void DrawLayer(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                         float AYCoeff);
  // Where a concrete layer draws; empty here.
  virtual void IntDraw(IGPGraphics& AGraphics, std::int32_t AWidth, std::int32_t AHeight) {}
  // Whether the current pass asked for contours only (valid during IntDraw).
  bool ContoursOnly() const { return FContoursOnly; }

 private:
  friend class TRGLayerCollection;
  void UnlinkAll();
  bool FVisible = true;
  std::vector<TRGLayerCollectionItem*> FLinkList;
  std::vector<const TPersistent*> FCachedLayersList;
  std::vector<TIntfPtr<IInterface>> FCachedList;
  std::vector<TRGLayerCollection*> FCollections;
  bool FContoursOnly = false;
  std::atomic<std::uint64_t> FContentVersion{0};
};

class TRGLayerCollectionItem : public TLockCollectionItem {
  NX_PERSISTENT(TRGLayerCollectionItem, TLockCollectionItem)
 public:
  explicit TRGLayerCollectionItem(TPersistent* ACollection = nullptr) : TLockCollectionItem(ACollection) {
    InitProperties(this);
  }
  // Leaves the linked layer's link list.
  ~TRGLayerCollectionItem() override;

  TComponent* Layer() const { return ReadLocked(FLayer); }
  TRGDrawLayer* LinkedLayer() const;
  // Links a layer; refused (the link stays) for a component without
  // IRGDrawItem, for the collection's own layer and for a layer of another
  // list than the own layer's. Null unlinks.
  void SetLayer(TComponent* AValue);
  // The legacy index read from a stream (-1: none).
  std::int32_t LayerIndex() const { return ReadLocked(FLayerIndex); }
  // Links the layer at the read index of the own layer's list.
  void ResolveLayerIndex();
  // The draw layer that owns the collection (null: none).
  TRGDrawLayer* DrawLayer() const;
  std::string GetDisplayName() const override;
  void DefineProperties(TFiler& AFiler) override;
  static void DeclareProperties(TClassBuilder<TRGLayerCollectionItem>& P);

 private:
  friend class TRGDrawLayer;
  TComponent* FLayer = nullptr;
  std::int32_t FLayerIndex = -1;
};

class TRGLayerCollection : public TTypedPersistentCollection<TRGLayerCollectionItem> {
  NX_PERSISTENT(TRGLayerCollection, TTypedPersistentCollection<TRGLayerCollectionItem>)
 public:
  explicit TRGLayerCollection(TPersistent* AOwner = nullptr);
  ~TRGLayerCollection() override;
  TRGDrawLayer* DrawLayer() const { return FDrawLayer; }

 private:
  TRGDrawLayer* FDrawLayer;
};

// Draws the layers it links (Layers, in collection order, at its own place
// in the list) from images kept in its per-link cache; the list no longer
// draws those layers itself while the composite is visible. A linked layer
// is drawn into its image again only when it changed (see the top of the
// unit); an invisible linked layer is left out and its image dropped.
// The images have the size of the canvas's surface and are copied onto it
// one to one, so the canvas's transform at drawing time is baked into them.
class TRGCompositeLayer : public TRGDrawLayer {
  NX_PERSISTENT(TRGCompositeLayer, TRGDrawLayer)
 public:
  explicit TRGCompositeLayer(TComponent* AOwner = nullptr);
  TRGLayerCollection* Layers() const { return FLayers.get(); }
  // A linked layer by its link (the linked layers are usually made with it).
  TRGLayerCollectionItem* AddLayer(TRGDrawLayer* ALayer);
  // How many linked layers were drawn into their images since the composite was made.
  std::uint64_t ImagesDrawn() const noexcept { return FImagesDrawn.load(std::memory_order_relaxed); }
  // A change of the links (or of the composite) drops every image.
  void OwnedChanged(TPersistent* ASource) override;
  static void DeclareProperties(TClassBuilder<TRGCompositeLayer>& P);

 protected:
  void DrawLayer(TRGCanvas& ACanvas, std::int32_t AWidth, std::int32_t AHeight, float AXCoeff,
                 float AYCoeff) override;

 private:
  std::unique_ptr<TRGLayerCollection> FLayers;
  std::atomic<std::uint64_t> FImagesDrawn{0};
};

// Registers layer classes for streaming and as items of draw-layer lists.
void RGRegisterLayerComponents(std::initializer_list<const TClassInfo*> AClasses);

}  // namespace nx
