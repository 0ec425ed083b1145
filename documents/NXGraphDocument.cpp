// NXGraphDocument: saving and loading trees of components with their pin
// links as XML documents (see the header for the form).
#include "documents/NXGraphDocument.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <unordered_map>

namespace nx {

namespace {

constexpr const char* kDocumentElement = "NXGraph";
constexpr const char* kLinksElement = "Links";
constexpr const char* kLinkElement = "Link";
constexpr const char* kVersion = "1";
// The list a component keeps its children in (TComponent::ReadState).
constexpr const char* kComponentsKey = "_Components";

bool IsXmlName(std::string_view AName) noexcept {
  if (AName.empty()) return false;
  for (std::size_t i = 0; i < AName.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(AName[i]);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool more = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && (i == 0 || !more)) return false;
  }
  return true;
}

void CheckName(std::string_view AName, const char* AWhat) {
  if (!IsXmlName(AName))
    throw ESerializationError("The " + std::string(AWhat) + " '" + std::string(AName) + "' is not an XML name");
}

std::string Quoted(std::string_view AText) { return "'" + std::string(AText) + "'"; }
// Names a user may have misspelled are quoted as they would type them.
std::string DoubleQuoted(std::string_view AText) { return "\"" + std::string(AText) + "\""; }

std::vector<std::string> PropertyNames(const TClassInfo& AClass) {
  std::vector<std::string> names;
  for (const TPropInfo* p : AClass.Properties()) names.push_back(p->Name);
  return names;
}

bool IsNumericKind(TPropKind AKind) {
  return AKind == TPropKind::Int32 || AKind == TPropKind::UInt32 || AKind == TPropKind::Int64 ||
         AKind == TPropKind::Float || AKind == TPropKind::Double;
}

}  // namespace

// ---- Names and values a user gives

std::vector<std::string> NearestNames(std::string_view AName, const std::vector<std::string>& ACandidates,
                                      std::size_t AMax) {
  auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
  auto distance = [&](std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
      for (std::size_t j = 1; j <= b.size(); ++j) {
        const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
        if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    return d[a.size()][b.size()];
  };
  // A likely misspelling: about one edit in four characters, at least two.
  const std::size_t limit = std::max<std::size_t>(2, AName.size() / 4);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const std::string& c : ACandidates)
    if (const std::size_t d = distance(AName, c); d <= limit) scored.emplace_back(d, c);
  std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (auto& [d, name] : scored)
    if (out.size() < AMax && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  return out;
}

std::string DidYouMean(std::string_view AName, const std::vector<std::string>& ACandidates) {
  const std::vector<std::string> near = NearestNames(AName, ACandidates);
  if (near.empty()) return {};
  std::string text = near.size() == 1 ? " (did you mean " : " (did you mean one of ";
  for (std::size_t i = 0; i < near.size(); ++i) text += (i ? ", " : "") + DoubleQuoted(near[i]);
  return text + "?)";
}

std::string UnknownComponentClassMessage(std::string_view AName) {
  std::vector<std::string> names;
  for (const TClassInfo* c : RegisteredClasses())
    if (c->IsComponent() && c->Factory()) names.push_back(c->Name());
  return "unknown component class " + DoubleQuoted(AName) + DidYouMean(AName, names);
}

std::string OutOfRangeMessage(const TPropInfo& AProp, std::string_view AText) {
  if (!IsNumericKind(AProp.Kind) || !(AProp.HasMin || AProp.HasMax)) return {};
  const std::string text(AText);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != 0 || !std::isfinite(value)) return {};
  if (AProp.HasMin && value < AProp.Min.AsDouble())
    return "value " + text + " of " + AProp.Name + " is out of range (minimum " + AProp.ValueToText(AProp.Min) + ")";
  if (AProp.HasMax && value > AProp.Max.AsDouble())
    return "value " + text + " of " + AProp.Name + " is out of range (maximum " + AProp.ValueToText(AProp.Max) + ")";
  return {};
}

// ---- TXmlWriter

TXmlWriter::TXmlWriter(const TIntfPtr<IXmlElement>& AParent, std::string_view AClassName) {
  CheckName(AClassName, "class name");
  FRoot = AParent->AppendElement(AClassName);
  FOpen.emplace_back(TKind::Object, FRoot);
}

void TXmlWriter::Finish() {
  if (FOpen.size() != 1) throw ESerializationError("An object or list is still open");
  FOpen.clear();
}

void TXmlWriter::Attr(std::string_view AKey, const std::string& AText) {
  CheckName(AKey, "key");
  if (FOpen.empty() || FOpen.back().first == TKind::List) throw ESerializationError("No object is open");
  FOpen.back().second->SetAttr(AKey, AText);
}

void TXmlWriter::Push(TKind AKind, TIntfPtr<IXmlElement> AElement) { FOpen.emplace_back(AKind, std::move(AElement)); }

void TXmlWriter::Pop(TKind AKind) {
  if (FOpen.size() < 2 || FOpen.back().first != AKind) throw ESerializationError("Unbalanced end of an object or list");
  FOpen.pop_back();
}

void TXmlWriter::WriteBoolean(std::string_view AKey, bool AValue) { Attr(AKey, AValue ? "true" : "false"); }
void TXmlWriter::WriteInt32(std::string_view AKey, std::int32_t AValue) { Attr(AKey, std::to_string(AValue)); }
void TXmlWriter::WriteUInt32(std::string_view AKey, std::uint32_t AValue) { Attr(AKey, std::to_string(AValue)); }
void TXmlWriter::WriteInt64(std::string_view AKey, std::int64_t AValue) { Attr(AKey, std::to_string(AValue)); }
void TXmlWriter::WriteUInt64(std::string_view AKey, std::uint64_t AValue) { Attr(AKey, std::to_string(AValue)); }

void TXmlWriter::WriteDouble(std::string_view AKey, double AValue) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", AValue);
  Attr(AKey, text);
}

void TXmlWriter::WriteString(std::string_view AKey, std::string_view AValue) { Attr(AKey, std::string(AValue)); }

void TXmlWriter::WriteBytes(std::string_view AKey, const void* AData, std::uint64_t ACount) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(static_cast<std::size_t>(ACount) * 2);
  const auto* p = static_cast<const std::uint8_t*>(AData);
  for (std::uint64_t i = 0; i < ACount; ++i) {
    text.push_back(kHex[p[i] >> 4]);
    text.push_back(kHex[p[i] & 15]);
  }
  Attr(AKey, text);
}

void TXmlWriter::BeginObject(std::string_view AKey, std::string_view AClassName) {
  CheckName(AKey, "key");
  CheckName(AClassName, "class name");
  if (FOpen.empty() || FOpen.back().first == TKind::List) throw ESerializationError("No object is open");
  TIntfPtr<IXmlElement> holder = FOpen.back().second->AppendElement(AKey);
  Push(TKind::Object, holder->AppendElement(AClassName));
}

void TXmlWriter::EndObject() { Pop(TKind::Object); }

void TXmlWriter::BeginList(std::string_view AKey) {
  CheckName(AKey, "key");
  if (FOpen.empty() || FOpen.back().first == TKind::List) throw ESerializationError("No object is open");
  Push(TKind::List, FOpen.back().second->AppendElement(AKey));
}

void TXmlWriter::BeginItem(std::string_view AClassName) {
  CheckName(AClassName, "class name");
  if (FOpen.empty() || FOpen.back().first != TKind::List) throw ESerializationError("No list is open");
  Push(TKind::Item, FOpen.back().second->AppendElement(AClassName));
}

void TXmlWriter::EndItem() { Pop(TKind::Item); }
void TXmlWriter::EndList() { Pop(TKind::List); }

// ---- TXmlReader

TXmlReader::TXmlReader(const TIntfPtr<IXmlElement>& ARootElement, TClassNotFoundHook AOnClassNotFound)
    : FOnClassNotFound(std::move(AOnClassNotFound)) {
  TIntfPtr<IXmlNode> node(ARootElement);
  FRootClass = node->NodeName();
  Enter(TKind::Object, node);
}

void TXmlReader::Fail(const std::string& AMessage, std::uint32_t ALine) {
  FFailLine = ALine;
  throw ESerializationError(AMessage);
}

std::uint32_t TXmlReader::CurrentLine() const {
  if (FFailLine) return FFailLine;
  return FScopes.empty() ? 0 : FScopes.back().Line;
}

TXmlReader::TScope& TXmlReader::Current() {
  if (FScopes.empty()) Fail("The reader stands outside the document");
  return FScopes.back();
}

void TXmlReader::Enter(TKind AKind, const TIntfPtr<IXmlNode>& AElement) {
  if (FScopes.size() >= static_cast<std::size_t>(kMaxSerializationDepth) * 2)
    Fail("Objects nested too deeply");
  FFailLine = 0;
  TScope scope;
  scope.Kind = AKind;
  scope.Label = AElement->NodeName();
  scope.Line = AElement->SourceLine();
  if (AKind != TKind::List) {
    scope.Class = scope.Label;
    scope.Info = FindClassInfo(scope.Class);
  }
  TIntfPtr<IXmlNodeList> children = AElement->ChildNodes();
  const int count = children ? children->Count() : 0;
  if (AKind == TKind::List) {
    for (int i = 0; i < count; ++i) {
      TIntfPtr<IXmlNode> child = children->Item(i);
      if (child->NodeType() == NODE_ELEMENT) scope.Items.push_back(child);
    }
  } else {
    const int attrs = AElement->AttrCount();
    scope.Members.reserve(static_cast<std::size_t>(attrs + count));
    for (int i = 0; i < attrs; ++i) {
      TMember m;
      m.Key = AElement->AttrName(i);
      m.Text = AElement->GetAttr(m.Key);
      m.Line = scope.Line;
      if (m.Key == "Name") scope.Label += "[@Name=" + Quoted(m.Text) + "]";
      scope.Members.push_back(std::move(m));
    }
    for (int i = 0; i < count; ++i) {
      TIntfPtr<IXmlNode> child = children->Item(i);
      if (child->NodeType() != NODE_ELEMENT) continue;  // white space, comments
      TMember m;
      m.Key = child->NodeName();
      m.Element = child;
      m.Line = child->SourceLine();
      scope.Members.push_back(std::move(m));
    }
  }
  FScopes.push_back(std::move(scope));
}

std::string TXmlReader::CurrentPath() const {
  std::string path;
  for (const TScope& s : FScopes) path += "/" + s.Label;
  return path;
}

TXmlReader::TMember* TXmlReader::Find(std::string_view AKey) {
  TScope& s = Current();
  if (s.Kind == TKind::List) Fail("A list has no members");
  for (TMember& m : s.Members)
    if (!m.Read && m.Key == AKey) return &m;
  for (TMember& m : s.Members)
    if (m.Key == AKey) return &m;
  return nullptr;
}

void TXmlReader::CheckAllRead() {
  TScope& s = Current();
  for (const TMember& m : s.Members) {
    if (m.Read) continue;
    // Keys match exactly; a property whose name differs only in case is a
    // misspelling, suggested below.
    const TPropInfo* p = s.Info ? s.Info->FindProperty(m.Key) : nullptr;
    if (p && p->Name == m.Key)
      Fail("property " + DoubleQuoted(m.Key) + " of class " + s.Class + " is not read from documents", m.Line);
    Fail("class " + s.Class + " has no property " + DoubleQuoted(m.Key) +
             (s.Info ? DidYouMean(m.Key, PropertyNames(*s.Info)) : std::string()),
         m.Line);
  }
}

void TXmlReader::CheckComponentClass() {
  TScope& s = Current();
  if (!s.Info && FOnClassNotFound && FOnClassNotFound(s.Class)) s.Info = FindClassInfo(s.Class);
  if (!s.Info || !s.Info->IsComponent()) Fail(UnknownComponentClassMessage(s.Class));
}

void TXmlReader::CheckRange(std::string_view AKey, const std::string& AText) {
  const TScope& s = Current();
  const TPropInfo* p = s.Info ? s.Info->FindProperty(AKey) : nullptr;
  if (!p || p->Name != AKey) return;  // a member of the class's own (DefineProperties)
  if (const std::string message = OutOfRangeMessage(*p, AText); !message.empty()) Fail(message, FValueLine);
}

const std::string* TXmlReader::Text(std::string_view AKey, const char* AKindName) {
  TMember* m = Find(AKey);
  if (!m) return nullptr;
  m->Read = true;
  FValueLine = m->Line;  // a value that does not parse is reported at its member
  if (m->Element) Fail("Member " + Quoted(AKey) + " is not a " + AKindName + " value", m->Line);
  return &m->Text;
}

bool TXmlReader::HasKey(std::string_view AKey) { return Find(AKey) != nullptr; }

bool TXmlReader::ReadBoolean(std::string_view AKey, bool& AValue) {
  const std::string* t = Text(AKey, "Boolean");
  if (!t) return false;
  if (*t == "true") AValue = true;
  else if (*t == "false") AValue = false;
  else Fail("Value " + Quoted(*t) + " of " + Quoted(AKey) + " is not a Boolean", FValueLine);
  return true;
}

template <class T>
bool TXmlReader::ReadInteger(std::string_view AKey, T& AValue, const char* AKindName) {
  const std::string* t = Text(AKey, AKindName);
  if (!t) return false;
  T v{};
  const char* end = t->data() + t->size();
  const auto r = std::from_chars(t->data(), end, v);
  if (t->empty() || r.ec != std::errc() || r.ptr != end)
    Fail("Value " + Quoted(*t) + " of " + Quoted(AKey) + " is not a valid " + AKindName, FValueLine);
  CheckRange(AKey, *t);
  AValue = v;
  return true;
}

bool TXmlReader::ReadInt32(std::string_view AKey, std::int32_t& AValue) { return ReadInteger(AKey, AValue, "Int32"); }
bool TXmlReader::ReadUInt32(std::string_view AKey, std::uint32_t& AValue) {
  return ReadInteger(AKey, AValue, "UInt32");
}
bool TXmlReader::ReadInt64(std::string_view AKey, std::int64_t& AValue) { return ReadInteger(AKey, AValue, "Int64"); }
bool TXmlReader::ReadUInt64(std::string_view AKey, std::uint64_t& AValue) {
  return ReadInteger(AKey, AValue, "UInt64");
}

bool TXmlReader::ReadDouble(std::string_view AKey, double& AValue) {
  const std::string* t = Text(AKey, "Double");
  if (!t) return false;
  double v = 0;
  const char* end = t->data() + t->size();
  const auto r = std::from_chars(t->data(), end, v);
  if (t->empty() || r.ec != std::errc() || r.ptr != end)
    Fail("Value " + Quoted(*t) + " of " + Quoted(AKey) + " is not a valid Double", FValueLine);
  CheckRange(AKey, *t);
  AValue = v;
  return true;
}

bool TXmlReader::ReadString(std::string_view AKey, std::string& AValue) {
  const std::string* t = Text(AKey, "String");
  if (!t) return false;
  AValue = *t;
  return true;
}

bool TXmlReader::ReadBytes(std::string_view AKey, std::vector<std::uint8_t>& AValue) {
  const std::string* t = Text(AKey, "Bytes");
  if (!t) return false;
  if (t->size() % 2) Fail("Value of " + Quoted(AKey) + " is not a valid byte block", FValueLine);
  std::vector<std::uint8_t> bytes(t->size() / 2);
  auto nibble = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    Fail("Value of " + Quoted(AKey) + " is not a valid byte block", FValueLine);
  };
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(nibble((*t)[2 * i]) * 16 + nibble((*t)[2 * i + 1]));
  AValue = std::move(bytes);
  return true;
}

bool TXmlReader::BytesLength(std::string_view AKey, std::uint64_t& ALength) {
  TMember* m = Find(AKey);
  if (!m) return false;
  if (m->Element) Fail("Member " + Quoted(AKey) + " is not a Bytes value", m->Line);
  ALength = m->Text.size() / 2;
  return true;
}

bool TXmlReader::ReadBytesInto(std::string_view AKey, void* ADest, std::uint64_t ACapacity, std::uint64_t& ACopied) {
  std::vector<std::uint8_t> bytes;
  if (!ReadBytes(AKey, bytes)) return false;
  ACopied = std::min<std::uint64_t>(bytes.size(), ACapacity);
  if (ACopied) std::memcpy(ADest, bytes.data(), static_cast<std::size_t>(ACopied));
  return true;
}

bool TXmlReader::BeginObject(std::string_view AKey, std::string& AClassName) {
  TMember* m = Find(AKey);
  if (!m) return false;
  m->Read = true;
  if (!m->Element) Fail("Member " + Quoted(AKey) + " is not an object", m->Line);
  TIntfPtr<IXmlNode> holder = m->Element;
  TIntfPtr<IXmlNode> object;
  TIntfPtr<IXmlNodeList> children = holder->ChildNodes();
  const int count = children ? children->Count() : 0;
  for (int i = 0; i < count; ++i) {
    TIntfPtr<IXmlNode> child = children->Item(i);
    if (child->NodeType() != NODE_ELEMENT) continue;
    if (object) Fail("Member " + Quoted(AKey) + " holds more than one object", m->Line);
    object = child;
  }
  if (!object) Fail("Member " + Quoted(AKey) + " holds no object", m->Line);
  Enter(TKind::Object, object);
  AClassName = FScopes.back().Class;
  return true;
}

void TXmlReader::EndObject() {
  if (Current().Kind != TKind::Object || FScopes.size() < 2) Fail("Unbalanced end of an object");
  CheckAllRead();
  FScopes.pop_back();
}

bool TXmlReader::BeginList(std::string_view AKey, std::uint32_t& ACount) {
  TMember* m = Find(AKey);
  if (!m) return false;
  m->Read = true;
  if (!m->Element) Fail("Member " + Quoted(AKey) + " is not a list", m->Line);
  Enter(TKind::List, m->Element);
  ACount = static_cast<std::uint32_t>(FScopes.back().Items.size());
  return true;
}

void TXmlReader::BeginItem(std::string& AClassName) {
  TScope& s = Current();
  if (s.Kind != TKind::List) Fail("No list is open");
  if (s.Next >= s.Items.size()) Fail("No more items in the list");
  TIntfPtr<IXmlNode> item = s.Items[s.Next++];
  const bool component = s.Label == kComponentsKey;
  Enter(TKind::Item, item);
  if (component) CheckComponentClass();
  AClassName = FScopes.back().Class;
}

void TXmlReader::EndItem() {
  if (Current().Kind != TKind::Item) Fail("Unbalanced end of an item");
  CheckAllRead();
  FScopes.pop_back();
}

void TXmlReader::EndList() {
  if (Current().Kind != TKind::List) Fail("Unbalanced end of a list");
  FScopes.pop_back();
}

// ---- TNXGraphDocument

namespace {

struct TPinPlace {
  std::string Component;  // dotted path from the root
  const TFTBasicPin* Pin;
};

// Every component of the tree below ARoot with its dotted path, tree order.
void CollectTree(TComponent& AComponent, const std::string& APath,
                 std::vector<std::pair<TComponent*, std::string>>& AOut) {
  AOut.emplace_back(&AComponent, APath);
  for (std::int32_t i = 0; i < AComponent.ComponentCount(); ++i) {
    TComponent* c = AComponent.Components(i);
    CollectTree(*c, APath.empty() ? c->Name() : APath + "." + c->Name(), AOut);
  }
}

// What a message says in place of the line when the elements carry none.
constexpr const char* kNoLineBinary = "binary document, no line";
constexpr const char* kNoLineBuilt = "no source line";

// The one form of every message about a place in a document (see the
// header): with a file name "FILE:LINE[:COLUMN]: AMessage (at APath)",
// without one "AMessage (at APath, line LINE)"; "FILE: AMessage (at APath,
// ANoLine)" where the element has no line. Malformed text has a column and
// no path: "Line L, column C: AMessage" without a file name.
std::string PlaceMessage(const std::string& AFileName, std::uint32_t ALine, std::uint32_t AColumn, const char* ANoLine,
                         std::string_view AMessage, std::string_view APath) {
  if (AFileName.empty()) {
    const std::string line = std::to_string(ALine);
    if (APath.empty())
      return ALine ? "Line " + line + ", column " + std::to_string(AColumn) + ": " + std::string(AMessage)
                   : std::string(AMessage);
    return std::string(AMessage) + " (at " + std::string(APath) + ", " + (ALine ? "line " + line : ANoLine) + ")";
  }
  std::string text = AFileName;
  if (ALine) text += ":" + std::to_string(ALine) + (AColumn ? ":" + std::to_string(AColumn) : std::string());
  text += ": " + std::string(AMessage);
  if (!APath.empty()) text += " (at " + std::string(APath) + (ALine ? std::string() : ", " + std::string(ANoLine)) + ")";
  return text;
}

// The path of an element from the document's top: "/NXGraph/TRoot[@Name='R']".
std::string ElementPath(const TIntfPtr<IXmlNode>& ANode) {
  std::string path;
  for (TIntfPtr<IXmlNode> n = ANode; n && n->NodeType() == NODE_ELEMENT; n = n->ParentNode()) {
    std::string label = n->NodeName();
    if (n->AttrExists("Name")) label += "[@Name=" + Quoted(n->GetAttr("Name")) + "]";
    path = "/" + label + path;
  }
  return path;
}

// Where the failures of one load are reported.
struct TPlace {
  const std::string& FileName;
  const char* NoLine;
  [[noreturn]] void Fail(const std::string& APath, std::uint32_t ALine, const std::string& AMessage) const {
    throw EGraphDocumentError(PlaceMessage(FileName, ALine, 0, NoLine, AMessage, APath));
  }
};

TComponent* LoadDocument(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner, const TPlace& APlace,
                         const TClassNotFoundHook& AOnClassNotFound);

}  // namespace

TIntfPtr<IXmlDocument> TNXGraphDocument::ToXml(const TComponent& ARoot) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument(kDocumentElement);
  TIntfPtr<IXmlElement> top = doc->DocumentElement();
  top->SetAttr("Version", kVersion);
  TXmlWriter writer(top, ARoot.ClassName());
  WriteComponent(writer, ARoot);
  writer.Finish();

  TIntfPtr<IXmlElement> links;
  for (const TGraphLink& l : Links(ARoot)) {
    if (!links) links = top->AppendElement(kLinksElement);
    TIntfPtr<IXmlElement> link = links->AppendElement(kLinkElement);
    link->SetAttr("From", l.From);
    link->SetAttr("FromPin", l.FromPin);
    link->SetAttr("To", l.To);
    link->SetAttr("ToPin", l.ToPin);
  }
  return doc;
}

std::vector<TGraphLink> TNXGraphDocument::Links(const TComponent& ARoot) {
  std::vector<std::pair<TComponent*, std::string>> tree;
  CollectTree(const_cast<TComponent&>(ARoot), std::string(), tree);
  std::unordered_map<const TFTBasicPin*, const std::string*> places;
  for (auto& [c, path] : tree)
    if (auto* owner = dynamic_cast<const INXPinOwner*>(c))
      for (std::int32_t i = 0; i < owner->GetPinCount(); ++i)
        if (const TFTBasicPin* pin = owner->GetPin(i)) places[pin] = &path;
  std::vector<TGraphLink> links;
  for (auto& [c, path] : tree) {
    auto* owner = dynamic_cast<const INXPinOwner*>(c);
    if (!owner) continue;
    for (std::int32_t i = 0; i < owner->GetPinCount(); ++i) {
      const TFTBasicPin* pin = owner->GetPin(i);
      if (!pin || !pin->IsSourcePin()) continue;
      for (TFTBasicPin* peer : pin->GetConnectedPins()) {
        auto at = places.find(peer);
        if (at == places.end()) continue;  // outside the tree, or a converter
        links.push_back({path, pin->GetName(), *at->second, peer->GetName()});
      }
    }
  }
  return links;
}

std::string TNXGraphDocument::SaveToString(const TComponent& ARoot, TGraphDocumentFormat AFormat) {
  TIntfPtr<IXmlDocument> doc = ToXml(ARoot);
  return AFormat == TGraphDocumentFormat::Binary ? doc->BinaryXML() : doc->SaveXML();
}

void TNXGraphDocument::SaveToStream(const TComponent& ARoot, TStream& AStream, TGraphDocumentFormat AFormat) {
  const std::string data = SaveToString(ARoot, AFormat);
  AStream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
}

void TNXGraphDocument::SaveToFile(const TComponent& ARoot, const std::string& AFileName,
                                  TGraphDocumentFormat AFormat) {
  const std::string data = SaveToString(ARoot, AFormat);
  std::ofstream out(AFileName, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw EGraphDocumentError("Cannot write the graph document " + AFileName);
}

TGraphSource TNXGraphDocument::ReadSource(std::string_view AData, std::string AFileName) {
  TGraphSource source;
  source.FileName = std::move(AFileName);
  source.Binary = XmlIsInBinaryFormat(AData);
  try {
    source.Xml = source.Binary ? LoadXmlDocumentFromBinaryXML(AData) : LoadXmlDocumentFromXML(AData);
  } catch (const EXmlParseError& e) {
    throw EGraphDocumentError(PlaceMessage(source.FileName, static_cast<std::uint32_t>(e.Line),
                                           static_cast<std::uint32_t>(e.Column), "", e.what(), ""));
  } catch (const std::exception& e) {
    throw EGraphDocumentError(PlaceMessage(source.FileName, 0, 0, "", std::string("Invalid XML: ") + e.what(), ""));
  }
  return source;
}

TGraphSource TNXGraphDocument::ReadSourceFile(const std::string& AFileName) {
  std::ifstream in(AFileName, std::ios::binary);
  if (!in) throw EGraphDocumentError(AFileName + ": Cannot open the graph document");
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ReadSource(data, AFileName);
}

TComponent* TNXGraphDocument::Load(const TGraphSource& ASource, TComponent* AOwner,
                                   const TClassNotFoundHook& AOnClassNotFound) {
  return LoadDocument(ASource.Xml, AOwner, TPlace{ASource.FileName, ASource.Binary ? kNoLineBinary : kNoLineBuilt},
                      AOnClassNotFound);
}

TComponent* TNXGraphDocument::LoadFromString(std::string_view AData, TComponent* AOwner) {
  return Load(ReadSource(AData), AOwner);
}

TComponent* TNXGraphDocument::LoadFromStream(TStream& AStream, TComponent* AOwner) {
  std::string data;
  char chunk[65536];
  for (;;) {
    const std::int64_t n = AStream.Read(chunk, sizeof chunk);
    if (n <= 0) break;
    data.append(chunk, static_cast<std::size_t>(n));
  }
  return LoadFromString(data, AOwner);
}

TComponent* TNXGraphDocument::LoadFromFile(const std::string& AFileName, TComponent* AOwner) {
  return Load(ReadSourceFile(AFileName), AOwner);
}

TComponent* TNXGraphDocument::FromXml(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner) {
  return Load(TGraphSource{{}, ADocument, false}, AOwner);
}

std::string TNXGraphDocument::MessageAt(const TGraphSource& ASource, const TIntfPtr<IXmlNode>& ANode,
                                        std::string_view AMessage) {
  return PlaceMessage(ASource.FileName, ANode ? ANode->SourceLine() : 0, 0,
                      ASource.Binary ? kNoLineBinary : kNoLineBuilt, AMessage, ElementPath(ANode));
}

namespace {

// A link between two components of a document, by their paths.
struct TLinkEdge {
  std::string From, To, Where;
  std::uint32_t Line = 0;
};

// Graphs are refused when their links close a cycle, whatever the pins or
// threads on it: a synchronous cycle recurses until the stack is gone, and
// one through a worker's queue either deadlocks (the worker waits for room
// in its own queue) or circulates each buffer for ever. A feedback path is
// built inside one component, where its delay is explicit.
//
// The index of a link that closes a cycle (the back edge a depth-first walk
// meets first, in link order), or none. Iterative: a document may hold
// chains far longer than the stack allows recursion.
std::optional<std::size_t> FindCycle(const std::vector<TLinkEdge>& AEdges, std::size_t AComponents) {
  std::unordered_map<std::string, std::vector<std::size_t>> out;
  out.reserve(AComponents);
  for (std::size_t i = 0; i < AEdges.size(); ++i) out[AEdges[i].From].push_back(i);
  enum : std::uint8_t { kNew, kOnPath, kDone };
  std::unordered_map<std::string, std::uint8_t> state;
  for (const TLinkEdge& start : AEdges) {
    if (state[start.From] != kNew) continue;
    // (component, index of its next outgoing link)
    std::vector<std::pair<const std::string*, std::size_t>> path{{&start.From, 0}};
    state[start.From] = kOnPath;
    while (!path.empty()) {
      auto& [node, next] = path.back();
      const std::vector<std::size_t>& links = out[*node];
      if (next == links.size()) {
        state[*node] = kDone;
        path.pop_back();
        continue;
      }
      const std::size_t edge = links[next++];
      const std::string& to = AEdges[edge].To;
      const std::uint8_t seen = state[to];
      if (seen == kOnPath) return edge;
      if (seen == kNew) {
        state[to] = kOnPath;
        path.emplace_back(&to, 0);
      }
    }
  }
  return std::nullopt;
}

// The components round the cycle that AClosing closes, from its target
// back to it: To -> ... -> From -> To.
std::vector<std::string> CycleNames(const std::vector<TLinkEdge>& AEdges, std::size_t AClosing,
                                    const std::string& ARootName) {
  auto name = [&](const std::string& APath) { return APath.empty() ? ARootName : APath; };
  // Breadth-first from the closing link's target back to its source gives
  // the shortest way round.
  const std::string& start = AEdges[AClosing].To;
  const std::string& goal = AEdges[AClosing].From;
  std::unordered_map<std::string, std::string> cameFrom{{start, start}};
  std::vector<std::string> queue{start};
  for (std::size_t q = 0; q < queue.size() && !cameFrom.count(goal); ++q)
    for (const TLinkEdge& e : AEdges)
      if (e.From == queue[q] && cameFrom.emplace(e.To, e.From).second) queue.push_back(e.To);
  std::vector<std::string> names{name(start)};
  for (std::string at = goal; at != start; at = cameFrom[at]) names.insert(names.begin() + 1, name(at));
  names.push_back(name(start));
  return names;
}

std::string JoinedPath(const std::vector<std::string>& ANames) {
  std::string text;
  for (const std::string& n : ANames) text += (text.empty() ? "" : " -> ") + n;
  return text;
}

// "A -> B -> A" for the cycle that AClosing (To -> ... -> From -> To) closes.
std::string CyclePath(const std::vector<TLinkEdge>& AEdges, std::size_t AClosing, const std::string& ARootName) {
  return JoinedPath(CycleNames(AEdges, AClosing, ARootName));
}

TComponent* LoadDocument(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner, const TPlace& APlace,
                         const TClassNotFoundHook& AOnClassNotFound) {
  TIntfPtr<IXmlElement> top = ADocument ? ADocument->DocumentElement() : TIntfPtr<IXmlElement>();
  const std::string notAGraph =
      std::string("not a graph document (its document element is not <") + kDocumentElement + ">)";
  if (!top) throw EGraphDocumentError(PlaceMessage(APlace.FileName, 0, 0, APlace.NoLine, notAGraph, {}));
  if (top->NodeName() != kDocumentElement) APlace.Fail("/" + top->NodeName(), top->SourceLine(), notAGraph);
  if (top->GetAttr("Version") != kVersion)
    APlace.Fail(std::string("/") + kDocumentElement, top->SourceLine(),
                "Unsupported version " + Quoted(top->GetAttr("Version")));
  // The root component's element and the links element.
  TIntfPtr<IXmlElement> rootElement, links;
  TIntfPtr<IXmlNodeList> children = top->ChildNodes();
  for (int i = 0; children && i < children->Count(); ++i) {
    TIntfPtr<IXmlNode> child = children->Item(i);
    if (child->NodeType() != NODE_ELEMENT) continue;
    const std::string where = std::string("/") + kDocumentElement + "/" + child->NodeName();
    if (child->NodeName() == kLinksElement && !links) links = child->AsElement();
    else if (!rootElement) rootElement = child->AsElement();
    else APlace.Fail(where, child->SourceLine(), "Unexpected element <" + child->NodeName() + ">");
  }
  if (!rootElement) APlace.Fail(std::string("/") + kDocumentElement, top->SourceLine(), "The document holds no component");

  TXmlReader reader(rootElement, AOnClassNotFound);
  TComponent* root = nullptr;
  try {
    reader.CheckComponentClass();
    root = ReadComponent(reader, reader.RootClassName(), AOwner);
    reader.CheckAllRead();
  } catch (const std::exception& e) {
    TComponent::Free(root);
    APlace.Fail("/" + std::string(kDocumentElement) + reader.CurrentPath(), reader.CurrentLine(), e.what());
  }

  // Links, once the whole tree stands.
  try {
    std::vector<std::pair<TComponent*, std::string>> tree;
    CollectTree(*root, std::string(), tree);
    std::unordered_map<std::string, TComponent*> byPath;
    byPath.reserve(tree.size());
    for (auto& [c, path] : tree) byPath.emplace(path, c);
    std::vector<TLinkEdge> edges;
    std::vector<std::pair<TFTSourcePin*, TFTSinkPin*>> pins;  // of each edge
    TIntfPtr<IXmlNodeList> items = links ? links->ChildNodes() : TIntfPtr<IXmlNodeList>();
    int index = 0;
    for (int i = 0; items && i < items->Count(); ++i) {
      TIntfPtr<IXmlNode> link = items->Item(i);
      if (link->NodeType() != NODE_ELEMENT) continue;
      ++index;
      const std::string where = std::string("/") + kDocumentElement + "/" + kLinksElement + "/" + kLinkElement + "[" +
                                std::to_string(index) + "]";
      const std::uint32_t line = link->SourceLine();
      if (link->NodeName() != kLinkElement)
        APlace.Fail(where, line, "Unexpected element <" + link->NodeName() + ">");
      auto pinOf = [&](const char* AComponentAttr, const char* APinAttr) -> TFTBasicPin* {
        const std::string path = link->GetAttr(AComponentAttr);
        const std::string name = link->GetAttr(APinAttr);
        auto at = byPath.find(path);
        if (at == byPath.end()) APlace.Fail(where, line, "Link to a missing component " + Quoted(path));
        auto* owner = dynamic_cast<INXPinOwner*>(at->second);
        TFTBasicPin* pin = owner ? owner->FindPin(name) : nullptr;
        if (!pin) APlace.Fail(where, line, "Link to a missing pin " + Quoted(path + "." + name));
        return pin;
      };
      TFTBasicPin* from = pinOf("From", "FromPin");
      TFTBasicPin* to = pinOf("To", "ToPin");
      auto* source = dynamic_cast<TFTSourcePin*>(from);
      auto* sink = dynamic_cast<TFTSinkPin*>(to);
      if (!source || !sink) APlace.Fail(where, line, "A link runs from a source pin to a sink pin");
      edges.push_back({link->GetAttr("From"), link->GetAttr("To"), where, line});
      pins.emplace_back(source, sink);
    }
    // The cycle is looked for before anything is linked: making the link
    // that closes one already sends the stream's state round it for ever.
    if (const std::optional<std::size_t> closing = FindCycle(edges, byPath.size())) {
      const TLinkEdge& edge = edges[*closing];
      APlace.Fail(edge.Where, edge.Line, "A cycle of links: " + CyclePath(edges, *closing, root->Name()) +
                                                   " (a buffer sent round it would come back without end)");
    }
    for (std::size_t i = 0; i < pins.size(); ++i) {
      auto [source, sink] = pins[i];
      if (!TFTLinker::Connect(*source, *sink))
        APlace.Fail(edges[i].Where, edges[i].Line, "The pins " + Quoted(source->GetName()) + " and " +
                                                      Quoted(sink->GetName()) + " cannot be linked");
    }
  } catch (const EGraphDocumentError&) {
    TComponent::Free(root);
    throw;
  } catch (const std::exception& e) {
    TComponent::Free(root);
    APlace.Fail(std::string("/") + kDocumentElement + "/" + kLinksElement, links ? links->SourceLine() : 0, e.what());
  }
  return root;
}

}  // namespace

std::string TNXGraphDocument::CycleWith(const TComponent& ARoot, const std::string& AFrom, const std::string& ATo) {
  std::vector<TLinkEdge> edges;
  for (const TGraphLink& link : Links(ARoot)) edges.push_back({link.From, link.To, {}, 0});
  edges.push_back({AFrom, ATo, {}, 0});
  if (!FindCycle(edges, edges.size() + 1)) return {};
  // The graph had no cycle: the new link is on the one found. Told from
  // the link's source: From -> To -> ... -> From.
  std::vector<std::string> names = CycleNames(edges, edges.size() - 1, ARoot.Name());
  names.pop_back();
  names.insert(names.begin(), AFrom.empty() ? ARoot.Name() : AFrom);
  return JoinedPath(names);
}

}  // namespace nx
