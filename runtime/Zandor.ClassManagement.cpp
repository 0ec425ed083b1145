// Zandor.ClassManagement: the class registry.
#include "runtime/Zandor.ClassManagement.h"

#include <algorithm>
#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace nx {

namespace {

// Plain variables: constant-initialised before any code of the library runs.
constinit std::mutex gLock;
std::vector<TClassEntry>* gClasses = nullptr;

// The readable name of a C++ type for messages.
std::string TypeName(const std::type_info& AType) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status),
                                              std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(AType.name());
}

const TClassEntry* FindLocked(std::string_view AName) {
  if (!gClasses) return nullptr;
  for (const TClassEntry& e : *gClasses)
    if (e.Name == AName) return &e;
  return nullptr;
}

}  // namespace

void TClassManagement::RegisterClasses(const std::vector<TClassEntry>& AClasses) {
  std::lock_guard<std::mutex> lock(gLock);
  // Check the whole call first, so that a refused call registers nothing.
  std::vector<const TClassEntry*> added;
  for (const TClassEntry& e : AClasses) {
    if (e.Name.empty() || !e.Factory) throw EArgumentException("A class needs a name and a factory");
    const TClassEntry* known = FindLocked(e.Name);
    for (const TClassEntry* a : added)
      if (a->Name == e.Name) known = a;
    if (known) {
      if (known->Type != e.Type)
        throw EArgumentException(Format("Class name %s is already registered for another class", e.Name.c_str()));
      continue;
    }
    added.push_back(&e);
  }
  if (added.empty()) return;
  if (!gClasses) gClasses = new std::vector<TClassEntry>();
  for (const TClassEntry* e : added) gClasses->push_back(*e);
}

void TClassManagement::UnregisterClasses(const std::vector<std::string>& ANames) {
  std::lock_guard<std::mutex> lock(gLock);
  if (!gClasses) return;
  std::erase_if(*gClasses, [&](const TClassEntry& e) {
    return std::find(ANames.begin(), ANames.end(), e.Name) != ANames.end();
  });
  if (gClasses->empty()) {
    delete gClasses;
    gClasses = nullptr;
  }
}

std::optional<TClassEntry> TClassManagement::FindClass(std::string_view AName) {
  std::lock_guard<std::mutex> lock(gLock);
  const TClassEntry* e = FindLocked(AName);
  if (!e) return std::nullopt;
  return *e;
}

TIntfPtr<IInterface> TClassManagement::CreateObject(std::string_view AName) {
  TClassEntry::TFactory factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    const TClassEntry* e = FindLocked(AName);
    if (e) factory = e->Factory;
  }
  // The factory runs outside the lock: a constructor may consult the registry.
  if (!factory)
    throw EClassNotFound(Format("Class %.*s not found", static_cast<int>(AName.size()), AName.data()));
  return factory();
}

std::string TClassManagement::ClassNameOf(const IInterface& AObject) {
  const std::type_index type(typeid(AObject));
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (gClasses)
      for (const TClassEntry& e : *gClasses)
        if (e.Type == type) return e.Name;
  }
  throw EClassNotFound(Format("Class %s is not registered", TypeName(typeid(AObject)).c_str()));
}

std::vector<TClassEntry> TClassManagement::Classes() {
  std::lock_guard<std::mutex> lock(gLock);
  return gClasses ? *gClasses : std::vector<TClassEntry>{};
}

}  // namespace nx
