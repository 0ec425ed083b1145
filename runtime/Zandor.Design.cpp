// Zandor.Design: the category registry.
#include "runtime/Zandor.Design.h"

#include <algorithm>
#include <mutex>

#include "runtime/SysUtils.h"

namespace nx {

namespace {

struct TCategory {
  std::string Name;
  std::string Parent;
  std::vector<const TClassInfo*> Classes;
};
struct TDesignRegistry {
  std::mutex Lock;
  std::vector<TCategory> Categories;
  TCategory* Find(std::string_view AName) {
    for (TCategory& c : Categories)
      if (c.Name == AName) return &c;
    return nullptr;
  }
  TCategory& Declare(std::string_view AName, std::string_view AParent) {
    if (AName.empty()) throw EArgumentException("A category needs a name");
    if (TCategory* c = Find(AName)) {
      if (!AParent.empty() && c->Parent != AParent)
        throw EArgumentException(Format("Category %.*s is already below %s", static_cast<int>(AName.size()),
                                        AName.data(), c->Parent.empty() ? "no category" : c->Parent.c_str()));
      return *c;
    }
    if (!AParent.empty() && !Find(AParent)) Categories.push_back({std::string(AParent), {}, {}});
    Categories.push_back({std::string(AName), std::string(AParent), {}});
    return Categories.back();
  }
};
TDesignRegistry& Design() {
  static auto* r = new TDesignRegistry();  // never freed: see the class registry
  return *r;
}

}  // namespace

void RegisterCategory(std::string_view AName, std::string_view AParent) {
  std::lock_guard<std::mutex> lock(Design().Lock);
  Design().Declare(AName, AParent);
}

void RegisterComponents(std::string_view ACategory, std::initializer_list<const TClassInfo*> AClasses) {
  for (const TClassInfo* c : AClasses) RegisterClass(*c);
  std::lock_guard<std::mutex> lock(Design().Lock);
  TCategory& cat = Design().Declare(ACategory, {});
  for (const TClassInfo* c : AClasses)
    if (std::find(cat.Classes.begin(), cat.Classes.end(), c) == cat.Classes.end()) cat.Classes.push_back(c);
}

void UnregisterComponent(const TClassInfo& AClass) {
  std::lock_guard<std::mutex> lock(Design().Lock);
  for (TCategory& c : Design().Categories) std::erase(c.Classes, &AClass);
}

std::vector<std::string> Categories() {
  std::lock_guard<std::mutex> lock(Design().Lock);
  std::vector<std::string> out;
  for (const TCategory& c : Design().Categories) out.push_back(c.Name);
  return out;
}

std::string ParentCategory(std::string_view ACategory) {
  std::lock_guard<std::mutex> lock(Design().Lock);
  const TCategory* c = Design().Find(ACategory);
  return c ? c->Parent : std::string();
}

std::vector<std::string> SubCategories(std::string_view ACategory) {
  std::lock_guard<std::mutex> lock(Design().Lock);
  std::vector<std::string> out;
  for (const TCategory& c : Design().Categories)
    if (c.Parent == ACategory) out.push_back(c.Name);
  return out;
}

std::vector<const TClassInfo*> ClassesInCategory(std::string_view ACategory) {
  std::lock_guard<std::mutex> lock(Design().Lock);
  const TCategory* c = Design().Find(ACategory);
  return c ? c->Classes : std::vector<const TClassInfo*>{};
}

std::vector<std::string> CategoriesOf(const TClassInfo& AClass) {
  std::lock_guard<std::mutex> lock(Design().Lock);
  std::vector<std::string> out;
  for (const TCategory& c : Design().Categories)
    if (std::find(c.Classes.begin(), c.Classes.end(), &AClass) != c.Classes.end()) out.push_back(c.Name);
  return out;
}

}  // namespace nx
