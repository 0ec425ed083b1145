// NXGraphEdit: one designer's change at a time (see the header).
#include "documents/NXGraphEdit.h"

#include <cstdlib>
#include <vector>

#include "components/NXPinOwner.h"
#include "runtime/SysUtils.h"

namespace nx {

namespace {

std::string Quoted(std::string_view AText) { return "\"" + std::string(AText) + "\""; }

TComponent& ComponentAt(TComponent& ARoot, std::string_view APath) {
  TComponent* c = FindGraphComponent(ARoot, APath);
  if (!c) throw EGraphDocumentError("Link to a missing component " + Quoted(APath));
  return *c;
}

TFTBasicPin& PinAt(TComponent& ARoot, std::string_view APath, std::string_view APin) {
  auto* owner = dynamic_cast<INXPinOwner*>(&ComponentAt(ARoot, APath));
  TFTBasicPin* pin = owner ? owner->FindPin(APin) : nullptr;
  if (!pin) throw EGraphDocumentError("Link to a missing pin " + Quoted(std::string(APath) + "." + std::string(APin)));
  return *pin;
}

void CheckName(const TComponent* AOwner, const TComponent* AComponent, std::string_view AName) {
  if (AName.empty()) throw EGraphDocumentError("A component of a graph needs a name");
  if (!TComponent::IsValidIdent(AName))
    throw EGraphDocumentError("'" + std::string(AName) + "' is not a valid component name");
  if (!AOwner) return;
  for (std::int32_t i = 0; i < AOwner->ComponentCount(); ++i) {
    const TComponent* other = AOwner->Components(i);
    if (other != AComponent && SameNameNoCase(other->Name(), AName))
      throw EGraphDocumentError("A component named " + std::string(AName) + " already exists");
  }
}

void UnlinkTree(TComponent& AComponent) {
  if (auto* owner = dynamic_cast<INXPinOwner*>(&AComponent))
    for (TFTBasicPin* pin : owner->Pins()) TFTLinker::DisconnectAll(*pin);
  for (std::int32_t i = 0; i < AComponent.ComponentCount(); ++i) UnlinkTree(*AComponent.Components(i));
}

}  // namespace

TComponent* FindGraphComponent(TComponent& ARoot, std::string_view APath) {
  TComponent* c = &ARoot;
  if (APath.empty()) return c;
  std::size_t from = 0;
  for (;;) {
    const std::size_t dot = APath.find('.', from);
    const std::string_view part = APath.substr(from, dot == std::string_view::npos ? std::string_view::npos : dot - from);
    if (part.empty()) return nullptr;
    c = c->FindComponent(part);
    if (!c) return nullptr;
    if (dot == std::string_view::npos) return c;
    from = dot + 1;
  }
}

std::string DesignerName(const TComponent& AOwner, std::string_view AClassName) {
  std::string base(AClassName);
  if (base.size() > 1 && base[0] == 'T') base.erase(0, 1);
  for (unsigned n = 1;; ++n) {
    const std::string name = base + std::to_string(n);
    bool taken = false;
    for (std::int32_t i = 0; i < AOwner.ComponentCount() && !taken; ++i)
      taken = SameNameNoCase(AOwner.Components(i)->Name(), name);
    if (!taken) return name;
  }
}

TComponent* AddGraphComponent(TComponent& AOwner, std::string_view AClassName, std::string_view ANameOrEmpty) {
  const TClassInfo* info = FindClassInfo(AClassName);
  if (!info || !info->IsComponent() || !info->Factory()) throw EGraphDocumentError(UnknownComponentClassMessage(AClassName));
  const std::string name = ANameOrEmpty.empty() ? DesignerName(AOwner, info->Name()) : std::string(ANameOrEmpty);
  CheckName(&AOwner, nullptr, name);
  TComponent* made = nullptr;
  try {
    made = dynamic_cast<TComponent*>(info->Create(&AOwner));
    if (!made) throw EGraphDocumentError("Class " + info->Name() + " is not a component class");
    made->SetName(name);
  } catch (const EGraphDocumentError&) {
    TComponent::Free(made);
    throw;
  } catch (const std::exception& e) {
    TComponent::Free(made);
    throw EGraphDocumentError(e.what());
  }
  return made;
}

void RenameGraphComponent(TComponent& AComponent, std::string_view ANewName) {
  CheckName(AComponent.Owner(), &AComponent, ANewName);
  try {
    AComponent.SetName(ANewName);
  } catch (const std::exception& e) {
    throw EGraphDocumentError(e.what());
  }
}

void LinkGraphPins(TComponent& ARoot, const TGraphLink& ALink) {
  auto* source = dynamic_cast<TFTSourcePin*>(&PinAt(ARoot, ALink.From, ALink.FromPin));
  auto* sink = dynamic_cast<TFTSinkPin*>(&PinAt(ARoot, ALink.To, ALink.ToPin));
  if (!source || !sink) throw EGraphDocumentError("A link runs from a source pin to a sink pin");
  if (source->IsConnectedTo(sink)) return;
  // Before anything is linked: the link that closes a cycle already sends
  // the stream's state round it for ever.
  if (const std::string cycle = TNXGraphDocument::CycleWith(ARoot, ALink.From, ALink.To); !cycle.empty())
    throw EGraphDocumentError("A cycle of links: " + cycle + " (a buffer sent round it would come back without end)");
  bool linked = false;
  try {
    linked = TFTLinker::Connect(*source, *sink);
  } catch (const std::exception& e) {
    throw EGraphDocumentError(e.what());
  }
  if (!linked)
    throw EGraphDocumentError("The pins " + Quoted(source->GetName()) + " and " + Quoted(sink->GetName()) +
                              " cannot be linked");
}

void UnlinkGraphPins(TComponent& ARoot, const TGraphLink& ALink) {
  TFTBasicPin& from = PinAt(ARoot, ALink.From, ALink.FromPin);
  TFTBasicPin& to = PinAt(ARoot, ALink.To, ALink.ToPin);
  if (!from.IsConnectedTo(&to) || !TFTLinker::Disconnect(from, to))
    throw EGraphDocumentError("The pins " + Quoted(ALink.From + "." + ALink.FromPin) + " and " +
                              Quoted(ALink.To + "." + ALink.ToPin) + " are not linked");
}

void DeleteGraphComponent(TComponent& ARoot, std::string_view APath) {
  TComponent* c = FindGraphComponent(ARoot, APath);
  if (!c) throw EGraphDocumentError("No component " + Quoted(APath));
  if (c == &ARoot) throw EGraphDocumentError("The root of the graph stays");
  UnlinkTree(*c);
  TComponent::Free(c);
}

}  // namespace nx
