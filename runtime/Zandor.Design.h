// Zandor.Design: design-time registration as plain queryable registries. A
// component package registers its component classes under categories (the
// palette pages of a designer); categories may nest. A host or a GUI reads
// which categories exist, which classes each holds and which categories a
// class is in. Which item classes a collection may hold is registered with
// RegisterCollectionItemClasses (Zandor.TypeInfo).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Zandor.TypeInfo.h"

namespace nx {

// Declares a category (again: ignored), optionally below a parent category
// (declared with it when new). EArgumentException for an empty name or a
// different parent than before.
void RegisterCategory(std::string_view AName, std::string_view AParent = {});
// Registers the classes (with the class registry too) under ACategory,
// declaring it when new. A class may be in several categories.
void RegisterComponents(std::string_view ACategory, std::initializer_list<const TClassInfo*> AClasses);
// Removes a class from every category.
void UnregisterComponent(const TClassInfo& AClass);

// Every category in declaration order.
std::vector<std::string> Categories();
// The parent of a category (empty for a top-level one or an unknown name).
std::string ParentCategory(std::string_view ACategory);
// The categories directly below ACategory (the top-level ones for an empty name).
std::vector<std::string> SubCategories(std::string_view ACategory);
// The classes of a category, in registration order.
std::vector<const TClassInfo*> ClassesInCategory(std::string_view ACategory);
// The categories a class was registered under.
std::vector<std::string> CategoriesOf(const TClassInfo& AClass);

}  // namespace nx
