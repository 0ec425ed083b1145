// NXGraphDocument: saving and loading trees of components with their pin
// links as XML documents (see the header for the form).
#include "documents/NXGraphDocument.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
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

}  // namespace

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

TXmlReader::TXmlReader(const TIntfPtr<IXmlElement>& ARootElement) {
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
  for (const TMember& m : s.Members)
    if (!m.Read)
      Fail("Unknown property " + Quoted(m.Key) + " of class " + s.Label.substr(0, s.Label.find('[')), m.Line);
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
  AClassName = FScopes.back().Label.substr(0, FScopes.back().Label.find('['));
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
  Enter(TKind::Item, item);
  AClassName = FScopes.back().Label.substr(0, FScopes.back().Label.find('['));
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

[[noreturn]] void FailLoad(const std::string& AWhere, std::uint32_t ALine, const char* ANoLine,
                           const std::string& AMessage) {
  throw EGraphDocumentError(AMessage + " (at " + AWhere + ", " +
                            (ALine ? "line " + std::to_string(ALine) : std::string(ANoLine)) + ")");
}

TComponent* LoadDocument(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner, const char* ANoLine);

}  // namespace

TIntfPtr<IXmlDocument> TNXGraphDocument::ToXml(const TComponent& ARoot) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument(kDocumentElement);
  TIntfPtr<IXmlElement> top = doc->DocumentElement();
  top->SetAttr("Version", kVersion);
  TXmlWriter writer(top, ARoot.ClassName());
  WriteComponent(writer, ARoot);
  writer.Finish();

  std::vector<std::pair<TComponent*, std::string>> tree;
  CollectTree(const_cast<TComponent&>(ARoot), std::string(), tree);
  std::unordered_map<const TFTBasicPin*, std::pair<const std::string*, const INXPinOwner*>> places;
  for (auto& [c, path] : tree)
    if (auto* owner = dynamic_cast<const INXPinOwner*>(c))
      for (std::int32_t i = 0; i < owner->GetPinCount(); ++i)
        if (const TFTBasicPin* pin = owner->GetPin(i)) places[pin] = {&path, owner};
  TIntfPtr<IXmlElement> links;
  for (auto& [c, path] : tree) {
    auto* owner = dynamic_cast<const INXPinOwner*>(c);
    if (!owner) continue;
    for (std::int32_t i = 0; i < owner->GetPinCount(); ++i) {
      const TFTBasicPin* pin = owner->GetPin(i);
      if (!pin || !pin->IsSourcePin()) continue;
      for (TFTBasicPin* peer : pin->GetConnectedPins()) {
        auto at = places.find(peer);
        if (at == places.end()) continue;  // outside the tree, or a converter
        if (!links) links = top->AppendElement(kLinksElement);
        TIntfPtr<IXmlElement> link = links->AppendElement(kLinkElement);
        link->SetAttr("From", path);
        link->SetAttr("FromPin", pin->GetName());
        link->SetAttr("To", *at->second.first);
        link->SetAttr("ToPin", peer->GetName());
      }
    }
  }
  return doc;
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

TComponent* TNXGraphDocument::LoadFromString(std::string_view AData, TComponent* AOwner) {
  const bool binary = XmlIsInBinaryFormat(AData);
  TIntfPtr<IXmlDocument> doc;
  try {
    doc = binary ? LoadXmlDocumentFromBinaryXML(AData) : LoadXmlDocumentFromXML(AData);
  } catch (const EXmlParseError& e) {
    throw EGraphDocumentError("Line " + std::to_string(e.Line) + ", column " + std::to_string(e.Column) + ": " +
                              e.what());
  } catch (const EGraphDocumentError&) {
    throw;
  } catch (const std::exception& e) {
    throw EGraphDocumentError(std::string("Invalid XML: ") + e.what());
  }
  return LoadDocument(doc, AOwner, binary ? kNoLineBinary : kNoLineBuilt);
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
  std::ifstream in(AFileName, std::ios::binary);
  if (!in) throw EGraphDocumentError("Cannot open the graph document " + AFileName);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return LoadFromString(data, AOwner);
}

TComponent* TNXGraphDocument::FromXml(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner) {
  return LoadDocument(ADocument, AOwner, kNoLineBuilt);
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

// "A -> B -> A" for the cycle that AClosing (To -> ... -> From -> To) closes.
std::string CyclePath(const std::vector<TLinkEdge>& AEdges, std::size_t AClosing, const std::string& ARootName) {
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
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : " -> ") + n;
  return text;
}

TComponent* LoadDocument(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner, const char* ANoLine) {
  TIntfPtr<IXmlElement> top = ADocument ? ADocument->DocumentElement() : TIntfPtr<IXmlElement>();
  if (!top) throw EGraphDocumentError(std::string("The document element is not <") + kDocumentElement + ">");
  if (top->NodeName() != kDocumentElement)
    FailLoad("/" + top->NodeName(), top->SourceLine(), ANoLine,
             std::string("The document element is not <") + kDocumentElement + ">");
  if (top->GetAttr("Version") != kVersion)
    FailLoad(std::string("/") + kDocumentElement, top->SourceLine(), ANoLine,
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
    else FailLoad(where, child->SourceLine(), ANoLine, "Unexpected element <" + child->NodeName() + ">");
  }
  if (!rootElement)
    FailLoad(std::string("/") + kDocumentElement, top->SourceLine(), ANoLine, "The document holds no component");

  TXmlReader reader(rootElement);
  TComponent* root = nullptr;
  try {
    root = ReadComponent(reader, reader.RootClassName(), AOwner);
    reader.CheckAllRead();
  } catch (const std::exception& e) {
    TComponent::Free(root);
    FailLoad("/" + std::string(kDocumentElement) + reader.CurrentPath(), reader.CurrentLine(), ANoLine, e.what());
  }

  // Links, once the whole tree stands.
  try {
    std::vector<std::pair<TComponent*, std::string>> tree;
    CollectTree(*root, std::string(), tree);
    std::unordered_map<std::string, TComponent*> byPath;
    byPath.reserve(tree.size());
    for (auto& [c, path] : tree) byPath.emplace(path, c);
    std::vector<TLinkEdge> edges;
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
        FailLoad(where, line, ANoLine, "Unexpected element <" + link->NodeName() + ">");
      auto pinOf = [&](const char* AComponentAttr, const char* APinAttr) -> TFTBasicPin* {
        const std::string path = link->GetAttr(AComponentAttr);
        const std::string name = link->GetAttr(APinAttr);
        auto at = byPath.find(path);
        if (at == byPath.end()) FailLoad(where, line, ANoLine, "Link to a missing component " + Quoted(path));
        auto* owner = dynamic_cast<INXPinOwner*>(at->second);
        TFTBasicPin* pin = owner ? owner->FindPin(name) : nullptr;
        if (!pin) FailLoad(where, line, ANoLine, "Link to a missing pin " + Quoted(path + "." + name));
        return pin;
      };
      TFTBasicPin* from = pinOf("From", "FromPin");
      TFTBasicPin* to = pinOf("To", "ToPin");
      auto* source = dynamic_cast<TFTSourcePin*>(from);
      auto* sink = dynamic_cast<TFTSinkPin*>(to);
      if (!source || !sink) FailLoad(where, line, ANoLine, "A link runs from a source pin to a sink pin");
      if (!TFTLinker::Connect(*source, *sink))
        FailLoad(where, line, ANoLine, "The pins " + Quoted(source->GetName()) + " and " + Quoted(sink->GetName()) +
                            " cannot be linked");
      edges.push_back({link->GetAttr("From"), link->GetAttr("To"), where, line});
    }
    if (const std::optional<std::size_t> closing = FindCycle(edges, byPath.size())) {
      const TLinkEdge& edge = edges[*closing];
      FailLoad(edge.Where, edge.Line, ANoLine, "A cycle of links: " + CyclePath(edges, *closing, root->Name()) +
                                                   " (a buffer sent round it would come back without end)");
    }
  } catch (const EGraphDocumentError&) {
    TComponent::Free(root);
    throw;
  } catch (const std::exception& e) {
    TComponent::Free(root);
    FailLoad(std::string("/") + kDocumentElement + "/" + kLinksElement, links ? links->SourceLine() : 0, ANoLine,
             e.what());
  }
  return root;
}

}  // namespace

}  // namespace nx
