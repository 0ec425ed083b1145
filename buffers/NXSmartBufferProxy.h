// NXSmartBufferProxy: the base of data block proxies, companion objects that
// mirror a data block somewhere else (the memory of an OpenCL device). A proxy
// is found or made through the block (GetProxy of any buffer on it), so every
// buffer sharing a block shares its proxies. The block keeps only weak
// references: a proxy lives while a holder keeps its interface, and the block
// never keeps one alive. A block made by copy on write starts with no proxies.
//
// Holders that use the mirror take Lock (owner, modes) and give it back with
// Unlock (owner); when the last lock goes the proxy synchronises with the
// union of the modes taken since the previous synchronisation.
//
// The block side of the list (GetProxy, the weak list) belongs to the unit
// NXInternalStore; it is defined here beside the proxy class it works with.
#pragma once

#include <cstdint>
#include <mutex>
#include <typeinfo>
#include <unordered_map>

#include "buffers/NXInternalStore.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Variants.h"

namespace nx {

class TNXSmartBufferProxy;

struct INXSmartBufferProxy : virtual IInterface {
  NX_INTERFACE_ID(INXSmartBufferProxy, "{8C2E4B10-5F3A-4D7E-B1C9-2A6D0E9F3B01}");
  virtual TNXSmartBufferProxy* GetInstance() = 0;
  virtual bool MatchesParameters(const TNXProxyParameters& AParameters) = 0;
  virtual void Syncronize(TBufferAccessModes AModes) = 0;
  // AOwner identifies the holder (any object address); one entry per owner.
  virtual void Lock(const void* AOwner, TBufferAccessModes AModes) = 0;
  virtual void Unlock(const void* AOwner) = 0;
  virtual void Invalidate() = 0;
};

// A proxy class: what GetProxy compares ("exactly this class") and makes.
struct TNXSmartBufferProxyClass {
  using TFactory = TNXSmartBufferProxy* (*)(TNXSmartBuffer* ABlock, const TNXProxyParameters& AParameters);
  const std::type_info* Type;
  TFactory Create;

  // The class object of proxy class T (constructible from (block, parameters)).
  template <class T>
  static const TNXSmartBufferProxyClass& Of() {
    static const TNXSmartBufferProxyClass kClass{
        &typeid(T), [](TNXSmartBuffer* b, const TNXProxyParameters& p) -> TNXSmartBufferProxy* { return new T(b, p); }};
    return kClass;
  }
};

class TNXSmartBufferProxy : public TInterfacedObject, public virtual INXSmartBufferProxy {
  NX_INTERFACES(TInterfacedObject, INXSmartBufferProxy)

 public:
  TNXSmartBufferProxy(TNXSmartBuffer* ABlock, const TNXProxyParameters& AParameters);
  ~TNXSmartBufferProxy() override = default;

  TNXSmartBufferProxy* GetInstance() override { return this; }
  // Base: true (one proxy of the class per block).
  bool MatchesParameters(const TNXProxyParameters& AParameters) override;
  // Base: nothing.
  void Syncronize(TBufferAccessModes AModes) override;
  // Records AModes for AOwner (replacing its earlier entry) and adds them to Modes.
  void Lock(const void* AOwner, TBufferAccessModes AModes) override;
  // Removes AOwner's entry; when no lock remains, Syncronize (Modes) runs and
  // Modes starts again empty. An owner without a lock is ignored.
  void Unlock(const void* AOwner) override;
  // Base: nothing.
  void Invalidate() override;

  // The block, or null once the block has gone.
  TNXSmartBuffer* Block() const noexcept { return FBlock; }
  TBufferAccessModes Modes() const noexcept { return FModes; }
  std::size_t LockCount() const noexcept { return FLocks.size(); }

 protected:
  // Called by the dying block (before its samples go); the base forgets the
  // block. Overrides release what mirrors it and call the base.
  virtual void BlockGone() noexcept;

  // Guards the block pointer, the locks and what derived classes keep in
  // step with the block: holders on several threads may lock one proxy, and
  // the block may die on another thread. Recursive so that an override of
  // Syncronize, which runs inside Unlock, may call the other operations.
  std::recursive_mutex FMutex;
  TNXSmartBuffer* FBlock;  // not counted

 private:
  friend class TNXSmartBuffer;
  // The key is the owner's address: 64 bits wide here, so no two live
  // owners share a key.
  std::unordered_map<std::uintptr_t, TBufferAccessModes> FLocks;
  TBufferAccessModes FModes;
};

}  // namespace nx
