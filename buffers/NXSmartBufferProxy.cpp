// NXSmartBufferProxy: the proxy base and the block's weak proxy list.
#include "buffers/NXSmartBufferProxy.h"

#include <typeinfo>
#include <vector>

namespace nx {

namespace {
TBufferAccessModes Union(TBufferAccessModes A, TBufferAccessModes B) noexcept {
  const bool r = A.Contains(TBufferAccessMode::Read) || B.Contains(TBufferAccessMode::Read);
  const bool w = A.Contains(TBufferAccessMode::Write) || B.Contains(TBufferAccessMode::Write);
  if (r && w) return {TBufferAccessMode::Read, TBufferAccessMode::Write};
  if (r) return TBufferAccessMode::Read;
  if (w) return TBufferAccessMode::Write;
  return {};
}
}  // namespace

// The weak references to a block's proxies. GetProxy runs without the
// block's lock, from whichever thread holds a buffer on the block, and two
// threads holding buffers on one block may ask at once: this small mutex
// makes the search and the insertion one step, so they get one proxy, not
// two. It is held only while the list is searched or changed (and while a
// missing proxy is made).
class TNXProxyList {
 public:
  std::mutex Mutex;
  std::vector<TWeakIntfPtr<INXSmartBufferProxy>> Items;
};

// ---------------------------------------------------------------- block side

TNXProxyList* TNXSmartBuffer::ProxyList() {
  TNXProxyList* list = FProxies.load(std::memory_order_acquire);
  if (list) return list;
  auto* fresh = new TNXProxyList;
  if (FProxies.compare_exchange_strong(list, fresh, std::memory_order_acq_rel, std::memory_order_acquire))
    return fresh;
  delete fresh;  // another thread made it first
  return list;
}

TIntfPtr<INXSmartBufferProxy> TNXSmartBuffer::GetProxy(const TNXSmartBufferProxyClass& AProxyClass,
                                                       const TNXProxyParameters& AParameters) {
  TNXProxyList* list = ProxyList();
  std::lock_guard<std::mutex> guard(list->Mutex);
  std::size_t kept = 0;
  TIntfPtr<INXSmartBufferProxy> found;
  for (std::size_t i = 0; i < list->Items.size(); ++i) {
    TIntfPtr<INXSmartBufferProxy> proxy = list->Items[i].Lock();
    if (!proxy) continue;  // ended: dropped from the list
    if (kept != i) list->Items[kept] = std::move(list->Items[i]);
    ++kept;
    if (found) continue;
    const auto& instance = *proxy->GetInstance();
    if (typeid(instance) == *AProxyClass.Type && proxy->MatchesParameters(AParameters))
      found = std::move(proxy);
  }
  list->Items.resize(kept);
  if (found) return found;
  TIntfPtr<INXSmartBufferProxy> made(static_cast<INXSmartBufferProxy*>(AProxyClass.Create(this, AParameters)));
  list->Items.emplace_back(made);
  return made;
}

void TNXSmartBuffer::IntReleaseProxies() noexcept {
  TNXProxyList* list = FProxies.exchange(nullptr, std::memory_order_acq_rel);
  if (!list) return;
  std::vector<TIntfPtr<INXSmartBufferProxy>> live;
  {
    std::lock_guard<std::mutex> guard(list->Mutex);
    for (const auto& weak : list->Items)
      if (TIntfPtr<INXSmartBufferProxy> proxy = weak.Lock()) live.push_back(std::move(proxy));
  }
  delete list;
  // Outside the list's mutex: a proxy released here may end at once.
  for (const auto& proxy : live) proxy->GetInstance()->BlockGone();
}

// ---------------------------------------------------------------- buffer side

TIntfPtr<INXSmartBufferProxy> TNXGenericBuffer::GetProxy(const TNXSmartBufferProxyClass& AProxyClass,
                                                         const TNXProxyParameters& AParameters) {
  return FDataContainer->GetProxy(AProxyClass, AParameters);
}

// ---------------------------------------------------------------- proxy base

TNXSmartBufferProxy::TNXSmartBufferProxy(TNXSmartBuffer* ABlock, const TNXProxyParameters&) : FBlock(ABlock) {}

bool TNXSmartBufferProxy::MatchesParameters(const TNXProxyParameters&) { return true; }

void TNXSmartBufferProxy::Syncronize(TBufferAccessModes) {}

void TNXSmartBufferProxy::Lock(const void* AOwner, TBufferAccessModes AModes) {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  FLocks[reinterpret_cast<std::uintptr_t>(AOwner)] = AModes;
  FModes = Union(FModes, AModes);
}

void TNXSmartBufferProxy::Unlock(const void* AOwner) {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  if (FLocks.erase(reinterpret_cast<std::uintptr_t>(AOwner)) == 0) return;
  if (!FLocks.empty()) return;
  const TBufferAccessModes modes = FModes;
  FModes = TBufferAccessModes();
  Syncronize(modes);
}

void TNXSmartBufferProxy::Invalidate() {}

void TNXSmartBufferProxy::BlockGone() noexcept {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  FBlock = nullptr;
}

}  // namespace nx
