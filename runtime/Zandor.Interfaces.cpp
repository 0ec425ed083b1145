// Zandor.Interfaces: the out-of-line parts of the interface support: GUID
// formatting, the error raised for malformed GUID text and the weak-reference
// control blocks.
#include "runtime/Zandor.Interfaces.h"

#include <cstdio>
#include <ostream>

#include "runtime/SysUtils.h"

namespace nx {

namespace detail {
void RaiseInvalidGUID(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid GUID value");
}
}  // namespace detail

std::string TGUID::ToString() const {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(D1), static_cast<unsigned>(D2), static_cast<unsigned>(D3),
                D4[0], D4[1], D4[2], D4[3], D4[4], D4[5], D4[6], D4[7]);
  return std::string(text, 38);
}

std::ostream& operator<<(std::ostream& os, const TGUID& g) { return os << g.ToString(); }

namespace detail {
bool TWeakControl::TryLock() noexcept {
  Enter();
  const bool ok = FObject && FObject->TryAddRef();
  Leave();
  return ok;
}

void TWeakControl::ObjectGone() noexcept {
  Enter();
  FObject = nullptr;
  Leave();
}

TWeakControl* AcquireWeakControl(IInterface* AIntf) {
  auto* obj = dynamic_cast<TInterfacedObject*>(AIntf);
  if (!obj) throw EArgumentException("A weak reference needs an interfaced object");
  TWeakControl* c = obj->WeakControl();
  c->AddRef();
  return c;
}
}  // namespace detail

detail::TWeakControl* TInterfacedObject::WeakControl() {
  detail::TWeakControl* c = FWeakControl.load(std::memory_order_acquire);
  if (c) return c;
  auto* fresh = new detail::TWeakControl(this);
  if (FWeakControl.compare_exchange_strong(c, fresh, std::memory_order_acq_rel, std::memory_order_acquire))
    return fresh;
  delete fresh;  // another thread made one first
  return c;
}

bool SameObject(IInterface* a, IInterface* b) noexcept {
  // IInterface is a single virtual base of every object, so its address is
  // the object's identity.
  return a == b;
}

}  // namespace nx
