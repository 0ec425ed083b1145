// Zandor.ClassManagement: the registry of interfaced classes by name. A unit
// registers its classes from its start-up section (see NXPackage); a reader
// of serialised objects then makes an empty object of a class from the name
// stored with it, and a writer finds the name of an object's class. The
// registry knows only the interfaced-object base: a reader asks the object it
// made for the interface it needs (the buffers ask for INXData).
//
// The registry keeps the registration order (Classes() enumerates in it). It
// lives in a plain pointer made on the first registration and freed with the
// last unregistration, so that it does not depend on the order in which
// static initialisers run. Registration normally happens only at start-up;
// a mutex still guards every access, so late registrations (a component
// package loaded later, a test) are safe beside readers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Interfaces.h"

namespace nx {

// A class name that is not registered (reading), or an object whose class is
// not registered (writing).
NX_DECLARE_EXCEPTION(EClassNotFound, Exception, "Class not found")

// One registered class: its name, its C++ type and a factory of an empty object.
struct TClassEntry {
  using TFactory = TIntfPtr<IInterface> (*)();
  std::string Name;
  std::type_index Type;
  TFactory Factory;
};

// The entry of class T (default constructible, an interfaced object) under AName.
template <class T>
  requires std::is_base_of_v<TInterfacedObject, T>
TClassEntry ClassEntry(std::string_view AName) {
  return {std::string(AName), std::type_index(typeid(T)),
          []() { return TIntfPtr<IInterface>(static_cast<IInterface*>(new T())); }};
}

class TClassManagement {
 public:
  // Registers the classes in the order given. A class registered again
  // under the same name is ignored; a name already taken by another class,
  // or an empty name, raises EArgumentException (and registers nothing of
  // the call).
  static void RegisterClasses(const std::vector<TClassEntry>& AClasses);
  // Removes the classes of these names (unknown names are ignored).
  static void UnregisterClasses(const std::vector<std::string>& ANames);

  // The class registered under AName (exact, case-sensitive match: names are
  // keys of a stored form); empty when there is none.
  static std::optional<TClassEntry> FindClass(std::string_view AName);
  // A new empty object of the class registered under AName; EClassNotFound
  // "Class <name> not found" when there is none.
  static TIntfPtr<IInterface> CreateObject(std::string_view AName);
  // The registered name of the class of AObject (its most derived class);
  // EClassNotFound when that class is not registered.
  static std::string ClassNameOf(const IInterface& AObject);
  // Every registered class, in registration order.
  static std::vector<TClassEntry> Classes();
};

}  // namespace nx
