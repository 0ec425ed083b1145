// RGSimpleXML: the XML document model: nodes, their children and attributes,
// paths, copies, value texts and the free functions (see RGSimpleXML.h for the
// interface). The text parser, the writer and the binary form have their own
// sources beside it (RGSimpleXMLParse/Write/Binary.cpp).
//
// Layout of the tree. Every node lives in an arena (TXmlArena) of 64 KiB
// chunks aligned to their size; the first word of a chunk points to its
// arena, so a node finds its arena (and through it the name table) from its
// own address and carries no pointer for it. A node has one vtable pointer
// (IInterface is a nearly empty virtual base and shares it), a non-atomic
// reference count, its type and its parent. Elements, processing
// instructions and the document hold their attributes and children in flat
// arrays; text, CDATA and comment nodes hold only their value. Strings of up
// to 8 bytes are held in their variant; longer ones are shared blocks
// (TVarBlock) placed in the same arena. The arena lives while
// any of its nodes or strings does; a freed node's memory goes to a free list
// of its size and is reused by the next node of that size.
//
// The parser works on a window of input bytes. Before a code page is known
// each byte is one character; with UTF-8 the window is the input itself and
// multi-byte sequences are decoded by this unit's own rules (a lead byte
// takes its continuation bytes whatever they are); other code pages are
// converted by iconv to UTF-8 block by block first. A text, attribute value
// or name that is plain ASCII up to its end is found with a bulk scan (SSE2,
// sixteen bytes at a time) and used where it stands in the window; a start
// tag that is plain ASCII as a whole is read from the bytes in one loop.
// Names are looked up without a copy in the parser's cache, by their first
// eight bytes and length, and hashed only when new. Everything else
// (entities, other characters, a run that reaches the end of the window)
// goes through Next(), one character at a time, with the same results.
//
// The writer builds a text in memory in place: a small one in a scratch
// buffer of the thread, a larger one counted first and then written into a
// string of its exact size.
//
// The unit's internal names are hidden from the library's exports and the
// parser's and writer's classes are local to their files, so that calls
// between them bind directly and inline as within one source.
//
// Every walk over a tree (writing, copying, reading the binary form,
// freeing) keeps its own stack, so the depth of a tree is bounded by memory,
// not by the thread's stack.
#include "xml/RGSimpleXMLInternal.h"

namespace nx {

std::uint32_t NameHash(std::string_view utf8Name) {
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < utf8Name.size();) {
    if (const auto b = static_cast<std::uint8_t>(utf8Name[i]); b < 0x80) {  // the usual name: one unit a byte
      h = HashStep(h, b);
      ++i;
      continue;
    }
    const std::uint32_t c = DecodeUtf8(utf8Name, i);
    if (c >= 0x10000) {
      h = HashStep(h, 0xD800 + ((c - 0x10000) >> 10));
      h = HashStep(h, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      h = HashStep(h, c);
    }
  }
  return h;
}

int XmlEncodingCodepage(std::string_view name) {
  for (const TEncodingRow& row : XMLEncodingData) {
    const std::string_view n(row.Name);
    if (n.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < n.size() && same; ++k) {
      char c = name[k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      same = c == n[k];
    }
    if (same) return row.Codepage;
  }
  return 0;
}

namespace NX_XML_LOCAL xmldetail {


// Each concrete class's size decides its arena free list.
IXmlNode* Intf(TXmlNode* n) noexcept {
  switch (n->FNodeType) {
    case NODE_ELEMENT: return static_cast<TXmlElement*>(n);
    case NODE_TEXT: return static_cast<TXmlText*>(n);
    case NODE_CDATA_SECTION: return static_cast<TXmlCDATASection*>(n);
    case NODE_COMMENT: return static_cast<TXmlComment*>(n);
    case NODE_PROCESSING_INSTRUCTION: return static_cast<TXmlProcessingInstruction*>(n);
    default: return static_cast<TXmlDocument*>(n);
  }
}

template <class I, class Core>
TIntfPtr<IXmlDocument> TXmlNodeT<I, Core>::OwnerDocument() const {
  for (const TXmlNode* n = Self(); n; n = n->FParentNode)
    if (n->FNodeType == NODE_DOCUMENT)
      return TIntfPtr<IXmlDocument>(static_cast<TXmlDocument*>(const_cast<TXmlNode*>(n)));
  return nullptr;
}

// A child on DestroyNode's stack whose parent's reference is still to be
// dropped: tagged in the pointer's low bit (nodes are 8-byte aligned).
static_assert(alignof(TXmlNode) >= 2, "the tag needs a free low bit");
inline TXmlNode* ToRelease(TXmlNode* n) noexcept {
  return reinterpret_cast<TXmlNode*>(reinterpret_cast<std::uintptr_t>(n) | 1);
}

// Frees the attribute and child arrays of a container. Its children go on
// the stack unread, each with the reference to drop: a child is then read
// once, when it is taken off, rather than here and again then (on a large
// tree the two reads are far apart, and each one misses the cache). They go
// last first, so that they are taken in document order, which is the order
// of their memory in the arena (the walk streams forward through it).
void FreeArrays(TXmlContainer* c, std::vector<TXmlNode*>& dead) noexcept {
  if (c->HasLazyText()) {
    c->DropLazyText();
    c->FChildCount = 0;
  }
  TXmlNode* const* kids = c->Kids();
  for (std::uint32_t k = c->FChildCount; k-- > 0;) dead.push_back(ToRelease(kids[k]));
  for (std::uint32_t k = 0, n = c->NumAttrs(); k < n; ++k) c->FAttrs[k].~TXmlAttrData();
  c->DropKidArray();
  if (c->FAttrs && !(c->FFlags & kAttrsInArena)) std::free(c->FAttrs);
  c->FAttrs = nullptr;
  c->FChildCount = 0;
  c->SetNumAttrs(0);
}

template <class T>
void DestroyAs(TXmlNode* n) noexcept {
  T* obj = static_cast<T*>(n);
  TXmlArena* arena = n->Arena();
  obj->~T();
  arena->FreeNode(obj, sizeof(T));
}

void TXmlContainer::MakeTextKid() {
  // When there is no memory for the node or its string the text stays held.
  TXmlArena* arena = Arena();
  TXmlText* text = NewNode<TXmlText>(arena, arena->NewString(LazyText()));
  FFlags &= ~kLazyText;
  text->FParentNode = this;
  text->FRefCount = 1;  // the reference of the child list
  FKid = text;
}

// Destroys a node whose count reached 0 and, without recursion, every
// descendant that only it held (deep trees must not exhaust the stack).
void DestroyNode(TXmlNode* n) noexcept {
  static thread_local std::vector<TXmlNode*>* tlDead = nullptr;
  if (tlDead) {
    tlDead->push_back(n);
    return;
  }
  std::vector<TXmlNode*> dead{n};
  tlDead = &dead;
  TXmlArena::TBatch batch(n->Arena());
  while (!dead.empty()) {
    TXmlNode* x = dead.back();
    dead.pop_back();
    if (const auto bits = reinterpret_cast<std::uintptr_t>(x); bits & 1) {
      x = reinterpret_cast<TXmlNode*>(bits & ~std::uintptr_t{1});
      if (--x->FRefCount != 0) {
        x->FParentNode = nullptr;  // held elsewhere: it outlives its parent
        continue;
      }
    }
    if (x->IsContainer()) FreeArrays(Cont(x), dead);
    switch (x->FNodeType) {
      case NODE_ELEMENT: DestroyAs<TXmlElement>(x); break;
      case NODE_TEXT: DestroyAs<TXmlText>(x); break;
      case NODE_CDATA_SECTION: DestroyAs<TXmlCDATASection>(x); break;
      case NODE_COMMENT: DestroyAs<TXmlComment>(x); break;
      case NODE_PROCESSING_INSTRUCTION: DestroyAs<TXmlProcessingInstruction>(x); break;
      default: DestroyAs<TXmlDocument>(x); break;
    }
  }
  tlDead = nullptr;
}

// ---- children and attributes

void RequireContainer(const TXmlNode* n) {
  if (!n->IsContainer()) Fail(kMsgNotSupported);
}

std::uint32_t ChildIndex(const TXmlNode* parent, const TXmlNode* child) {
  if (!child || child->FParentNode != parent || !parent->IsContainer()) return UINT32_MAX;
  const TXmlContainer* c = Cont(parent);
  for (std::uint32_t k = 0; k < c->FChildCount; ++k)
    if (c->Kids()[k] == child) return k;
  return UINT32_MAX;
}

void RemoveChildAt(TXmlNode* parent, std::uint32_t index) {
  TXmlContainer* c = Cont(parent);
  if (index >= c->FChildCount) Fail(kMsgIndex);
  TXmlNode* child = c->Kids()[index];
  if (c->FChildCount == 1) {
    c->FKid = nullptr;
  } else if (c->FChildCount == 2) {
    TXmlNode* rest = c->FKidArray[1 - index];  // the one left is held in the node
    c->DropKidArray();
    c->FKid = rest;
  } else {
    std::memmove(c->FKidArray + index, c->FKidArray + index + 1, (c->FChildCount - index - 1) * sizeof(TXmlNode*));
  }
  --c->FChildCount;
  child->FParentNode = nullptr;
  ReleaseNode(child);
}

// Inserts `child` at `index` of `parent`'s children, taking it away from its
// former parent. A node of another name table (another document's) is
// copied into this document instead, so that every node of a tree refers to
// names of the tree's own table; the original only leaves its parent.
// Returns the node that was inserted.
void CheckInsertable(const TXmlNode* parent, const TXmlNode* child) {
  RequireContainer(parent);
  if (!child) Fail(kMsgIndex);
  // A document cannot be a child, nor can a node become its own descendant.
  if (child->FNodeType == NODE_DOCUMENT || child == parent) Fail(kMsgNotSupported);
  // Only a node with children can be an ancestor of `parent`: appending a
  // new node at the bottom of a deep tree costs no walk up the tree.
  if (child->IsContainer() && Cont(child)->FChildCount)
    for (const TXmlNode* a = parent; a; a = a->FParentNode)
      if (a == child) Fail(kMsgNotSupported);
}

// Puts `child` at `index` (at most the count) of the children, the array
// made or grown as needed (an array leaves the arena when it grows). Nothing
// changes when there is no memory for it.
void PlaceChild(TXmlContainer* c, TXmlNode* child, std::uint32_t index) {
  const std::uint32_t count = c->FChildCount, need = count + 1;
  if (count == 0) {
    c->FKid = child;
  } else if (count == 1 || (c->FFlags & kChildsInArena) || need > Capacity(count)) {
    TXmlNode* const* kids = c->Kids();  // (a held text becomes its node first)
    auto* arr = static_cast<TXmlNode**>(std::malloc(Capacity(need) * sizeof(TXmlNode*)));
    if (!arr) throw std::bad_alloc();
    std::memcpy(arr, kids, index * sizeof(TXmlNode*));
    arr[index] = child;
    std::memcpy(arr + index + 1, kids + index, (count - index) * sizeof(TXmlNode*));
    c->DropKidArray();
    c->FKidArray = arr;
  } else {
    std::memmove(c->FKidArray + index + 1, c->FKidArray + index, (count - index) * sizeof(TXmlNode*));
    c->FKidArray[index] = child;
  }
  c->FChildCount = need;
}

TXmlNode* InsertChild(TXmlNode* parent, TXmlNode* child, std::uint32_t index) {
  CheckInsertable(parent, child);
  if (child->Names() != parent->Names()) {
    TXmlNode* copy = CloneNodeObj(child, true, parent->Arena());
    TIntfPtr<IXmlNode> keepCopy = Ptr(copy);
    if (TXmlNode* old = child->FParentNode) RemoveChildAt(old, ChildIndex(old, child));
    return InsertChild(parent, copy, index);
  }
  TXmlContainer* c = Cont(parent);
  AddRefNode(child);  // held while it moves
  if (TXmlNode* old = child->FParentNode) {
    const std::uint32_t oldIndex = ChildIndex(old, child);
    if (old == parent && oldIndex < index) --index;
    RemoveChildAt(old, oldIndex);
  }
  if (index > c->FChildCount) {
    ReleaseNode(child);
    Fail(kMsgIndex);
  }
  try {
    PlaceChild(c, child, index);  // the reference taken above now belongs to the list
  } catch (...) {
    ReleaseNode(child);
    throw;
  }
  child->FParentNode = parent;
  return child;
}

// Appends a node that has no parent yet and is of this tree's table; the
// list takes a reference (a node nobody held is freed if this fails).
void AppendNewChild(TXmlNode* parent, TXmlNode* child) {
  TXmlContainer* c = Cont(parent);
  AddRefNode(child);
  try {
    PlaceChild(c, child, c->FChildCount);
  } catch (...) {
    ReleaseNode(child);
    throw;
  }
  child->FParentNode = parent;
}

void ClearChilds(TXmlNode* parent) {
  if (!parent->IsContainer()) return;
  TXmlContainer* c = Cont(parent);
  while (c->FChildCount) RemoveChildAt(parent, c->FChildCount - 1);
}

void ClearAttrs(TXmlNode* n) {
  if (!n->IsContainer()) return;
  TXmlContainer* c = Cont(n);
  for (std::uint32_t k = 0, n = c->NumAttrs(); k < n; ++k) c->FAttrs[k].~TXmlAttrData();
  c->SetNumAttrs(0);
}

TXmlAttrData* FindAttr(const TXmlNode* n, TXmlNameID id) {
  if (!id || !n->IsContainer()) return nullptr;
  const TXmlContainer* c = Cont(n);
  for (std::uint32_t k = 0, n = c->NumAttrs(); k < n; ++k)
    if (c->FAttrs[k].NameID == id) return &c->FAttrs[k];
  return nullptr;
}
TXmlAttrData* FindAttr(const TXmlNode* n, std::string_view name) {
  if (!n->IsContainer()) return nullptr;
  return FindAttr(n, n->Names()->FindID(name));
}

void AppendAttr(TXmlContainer* c, TXmlNameID id, TVariant value) {
  const std::uint32_t count = c->NumAttrs(), need = count + 1;
  if (c->FFlags & kAttrsInArena) {
    auto* arr = static_cast<TXmlAttrData*>(std::malloc(Capacity(need) * sizeof(TXmlAttrData)));
    if (!arr) throw std::bad_alloc();
    std::memcpy(static_cast<void*>(arr), static_cast<const void*>(c->FAttrs), count * sizeof(TXmlAttrData));
    c->FAttrs = arr;
    c->FFlags &= ~kAttrsInArena;
  } else if (need > Capacity(count)) {
    auto* arr = static_cast<TXmlAttrData*>(std::realloc(static_cast<void*>(c->FAttrs), Capacity(need) * sizeof(TXmlAttrData)));
    if (!arr) throw std::bad_alloc();
    c->FAttrs = arr;
  }
  c->SetNumAttrs(need);  // first: a failure leaves the attributes as they were
  new (&c->FAttrs[count]) TXmlAttrData{id, std::move(value)};
}

void SetAttrValueID(TXmlNode* n, TXmlNameID id, TVariant value) {
  RequireContainer(n);
  if (TXmlAttrData* a = FindAttr(n, id)) {
    a->Value = std::move(value);
    return;
  }
  AppendAttr(Cont(n), id, std::move(value));
}
void SetAttrValue(TXmlNode* n, std::string_view name, TVariant value) {
  RequireContainer(n);
  SetAttrValueID(n, n->Names()->GetID(name), std::move(value));
}

TXmlNode* FindChildElement(const TXmlNode* n, TXmlNameID id) {
  if (!n->IsContainer() || Cont(n)->HasLazyText()) return nullptr;  // (a held text is no element)
  const TXmlContainer* c = Cont(n);
  for (std::uint32_t k = 0; k < c->FChildCount; ++k) {
    TXmlNode* ch = c->Kids()[k];
    if (ch->FNodeType == NODE_ELEMENT && static_cast<TXmlElementCore*>(ch)->FNameID == id) return ch;
  }
  return nullptr;
}

// ---- names, texts, values

TXmlNameID NodeNameID(const TXmlNode* n) {
  TXmlNameTable* names = n->Names();
  switch (n->FNodeType) {
    case NODE_ELEMENT: return static_cast<const TXmlElementCore*>(n)->FNameID;
    case NODE_PROCESSING_INSTRUCTION: return static_cast<const TXmlPICore*>(n)->FTargetNameID;
    case NODE_TEXT: return names->FXmlTextNameID;
    case NODE_CDATA_SECTION: return names->FXmlCDATASectionNameID;
    case NODE_COMMENT: return names->FXmlCommentNameID;
    default: return names->FXmlDocumentNameID;
  }
}
std::string NodeName(const TXmlNode* n) { return NodeNameID(n)->Text; }

// The text of the text and CDATA children that are not empty, joined by one blank.
std::string JoinedChildTexts(const TXmlContainer* c) {
  if (c->HasLazyText()) return std::string(c->LazyText());
  std::string out;
  for (std::uint32_t k = 0; k < c->FChildCount; ++k) {
    const TXmlNode* ch = c->Kids()[k];
    if (ch->FNodeType != NODE_TEXT && ch->FNodeType != NODE_CDATA_SECTION) continue;
    const std::string t = NodeText(ch);
    if (t.empty()) continue;
    if (!out.empty()) out.push_back(' ');
    out += t;
  }
  return out;
}

std::string NodeText(const TXmlNode* n) {
  switch (n->FNodeType) {
    case NODE_ELEMENT: {
      auto* e = static_cast<const TXmlElementCore*>(n);
      return e->FChildCount ? JoinedChildTexts(e) : VarToXSTR(e->Data());
    }
    case NODE_PROCESSING_INSTRUCTION: return std::string(static_cast<const TXmlPICore*>(n)->FData.StrView());
    case NODE_DOCUMENT: return JoinedChildTexts(Cont(n));
    default: return VarToXSTR(static_cast<const TXmlValueCore*>(n)->FData);
  }
}

TVariant NodeTypedValue(const TXmlNode* n) {
  switch (n->FNodeType) {
    case NODE_ELEMENT: {
      auto* e = static_cast<const TXmlElementCore*>(n);
      return e->FChildCount ? TVariant(JoinedChildTexts(e)) : e->Data();
    }
    case NODE_TEXT:
    case NODE_CDATA_SECTION:
    case NODE_COMMENT: return static_cast<const TXmlValueCore*>(n)->FData;
    default: return TVariant(NodeText(n));
  }
}

void SetNodeTypedValue(TXmlNode* n, const TVariant& v) {
  switch (n->FNodeType) {
    case NODE_ELEMENT: {
      // An element holds its value itself; text children it had give way to it.
      auto* e = static_cast<TXmlElement*>(n);
      e->RemoveTextNodes();
      if (e->FChildCount)
        e->AppendText(v);
      else
        e->SetData(v);
      break;
    }
    case NODE_TEXT: static_cast<TXmlValueCore*>(n)->FData = v; break;
    case NODE_CDATA_SECTION:
    case NODE_COMMENT: static_cast<TXmlValueCore*>(n)->FData = n->Arena()->NewString(VarToXSTR(v)); break;
    case NODE_PROCESSING_INSTRUCTION:
      static_cast<TXmlPICore*>(n)->FData = n->Arena()->NewString(VarToXSTR(v));
      break;
    default: {
      auto* d = static_cast<TXmlDocument*>(n);
      d->Clear();
      InsertChild(d, NewNode<TXmlText>(d->Arena(), v), 0);
      break;
    }
  }
}

void SetNodeText(TXmlNode* n, std::string_view text) { SetNodeTypedValue(n, n->Arena()->NewString(text)); }

// ---- node construction through a parent

template <class I, class Core>
TIntfPtr<IXmlElement> TXmlNodeT<I, Core>::AppendElement(TXmlNameID nameID) {
  RequireContainer(Self());
  auto* e = NewNode<TXmlElement>(Self()->Arena(), nameID);
  TIntfPtr<IXmlElement> keep(e);
  InsertChild(Self(), e, Cont(Self())->FChildCount);
  return keep;
}
template <class I, class Core>
TIntfPtr<IXmlText> TXmlNodeT<I, Core>::AppendText(const TVariant& value) {
  RequireContainer(Self());
  auto* t = NewNode<TXmlText>(Self()->Arena(), value);
  TIntfPtr<IXmlText> keep(t);
  InsertChild(Self(), t, Cont(Self())->FChildCount);
  return keep;
}
template <class I, class Core>
TIntfPtr<IXmlCDATASection> TXmlNodeT<I, Core>::AppendCDATA(std::string_view data) {
  RequireContainer(Self());
  auto* t = NewNode<TXmlCDATASection>(Self()->Arena(), Self()->Arena()->NewString(data));
  TIntfPtr<IXmlCDATASection> keep(t);
  InsertChild(Self(), t, Cont(Self())->FChildCount);
  return keep;
}
template <class I, class Core>
TIntfPtr<IXmlComment> TXmlNodeT<I, Core>::AppendComment(std::string_view data) {
  RequireContainer(Self());
  auto* t = NewNode<TXmlComment>(Self()->Arena(), Self()->Arena()->NewString(data));
  TIntfPtr<IXmlComment> keep(t);
  InsertChild(Self(), t, Cont(Self())->FChildCount);
  return keep;
}
template <class I, class Core>
TIntfPtr<IXmlProcessingInstruction> TXmlNodeT<I, Core>::AppendProcessingInstruction(std::string_view target,
                                                                                   std::string_view data) {
  RequireContainer(Self());
  TXmlArena* arena = Self()->Arena();
  auto* t = NewNode<TXmlProcessingInstruction>(arena, Self()->Names()->GetID(target), arena->NewString(data));
  TIntfPtr<IXmlProcessingInstruction> keep(t);
  InsertChild(Self(), t, Cont(Self())->FChildCount);
  return keep;
}
template <class I, class Core>
TIntfPtr<IXmlElement> TXmlNodeT<I, Core>::FindElement(std::string_view name, std::string_view attrName,
                                                      std::string_view attrValue) const {
  if (!Self()->IsContainer()) return nullptr;
  TXmlNameTable* names = Self()->Names();
  const TXmlNameID id = names->FindID(name);
  if (!id) return nullptr;
  const TXmlNameID attrID = attrName.empty() ? nullptr : names->FindID(attrName);
  if (!attrName.empty() && !attrID) return nullptr;
  const TXmlContainer* c = Cont(Self());
  for (std::uint32_t k = 0; k < c->FChildCount; ++k) {
    TXmlNode* ch = c->Kids()[k];
    if (ch->FNodeType != NODE_ELEMENT || static_cast<TXmlElementCore*>(ch)->FNameID != id) continue;
    if (attrID) {
      const TXmlAttrData* a = FindAttr(ch, attrID);
      if (!a || VarToXSTR(a->Value) != attrValue) continue;
    }
    return TIntfPtr<IXmlElement>(static_cast<TXmlElement*>(ch));
  }
  return nullptr;
}

bool ParseIntText(std::string_view s, std::int64_t& out, int base) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  bool neg = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  if (base == 16) {
    if (!s.empty() && s.front() == '$') s.remove_prefix(1);
    else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  }
  std::uint64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  out = neg ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
  return true;
}

// Integer accessors: an integer value as it is, a text in decimal; a text
// that is no number gives the default.
template <class I, class Core>
std::int32_t TXmlNodeT<I, Core>::GetIntAttr(std::string_view name, std::int32_t def) const {
  const TXmlAttrData* a = FindAttr(Self(), name);
  if (!a) return def;
  if (a->Value.IsInteger() || a->Value.VType() == varBoolean) return static_cast<std::int32_t>(a->Value.AsInt64());
  std::int64_t v;
  return ParseIntText(VarToXSTR(a->Value), v, 10) ? static_cast<std::int32_t>(v) : def;
}
template <class I, class Core>
std::uint32_t TXmlNodeT<I, Core>::GetHexAttr(std::string_view name, std::uint32_t def) const {
  const TXmlAttrData* a = FindAttr(Self(), name);
  if (!a) return def;
  if (a->Value.IsInteger()) return static_cast<std::uint32_t>(a->Value.AsInt64());
  std::int64_t v;
  return ParseIntText(VarToXSTR(a->Value), v, 16) ? static_cast<std::uint32_t>(v) : def;
}
// Booleans: a Boolean or number as it is; the texts "1"/"true"/"yes" and
// "0"/"false"/"no" (any case); anything else gives the default.
template <class I, class Core>
bool TXmlNodeT<I, Core>::GetBoolAttr(std::string_view name, bool def) const {
  const TXmlAttrData* a = FindAttr(Self(), name);
  if (!a) return def;
  if (a->Value.VType() == varBoolean) return a->Value.AsBool();
  if (a->Value.IsInteger()) return a->Value.AsInt64() != 0;
  std::string s = VarToXSTR(a->Value);
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (s == "1" || s == "true" || s == "yes") return true;
  if (s == "0" || s == "false" || s == "no") return false;
  std::int64_t v;
  return ParseIntText(s, v, 10) ? v != 0 : def;
}

// ---- paths

// "name" or "first\rest".
void SplitPath(std::string_view path, std::string_view& head, std::string_view& rest, bool& isName) {
  isName = IsValidName(path);
  if (isName) {
    head = path;
    rest = {};
    return;
  }
  const std::size_t k = path.find(XMLPathDelimiter);
  if (k == std::string_view::npos) Fail(kMsgNotSupported);
  head = path.substr(0, k);
  rest = path.substr(k + 1);
}

TXmlNode* SelectSingle(const TXmlNode* n, std::string_view path) {
  for (;;) {
    std::string_view head, rest;
    bool isName;
    SplitPath(path, head, rest, isName);
    const TXmlNameID id = n->IsContainer() ? n->Names()->FindID(head) : nullptr;
    TXmlNode* c = id ? FindChildElement(n, id) : nullptr;
    if (isName || !c) return c;
    n = c;
    path = rest;
  }
}

void SelectAll(const TXmlNode* n, std::string_view path, std::vector<TXmlNode*>& out) {
  for (;;) {
    std::string_view head, rest;
    bool isName;
    SplitPath(path, head, rest, isName);
    const TXmlNameID id = n->IsContainer() ? n->Names()->FindID(head) : nullptr;
    if (!id) return;
    if (isName) {
      const TXmlContainer* c = Cont(n);
      for (std::uint32_t k = 0; k < c->FChildCount; ++k) {
        TXmlNode* ch = c->Kids()[k];
        if (ch->FNodeType == NODE_ELEMENT && static_cast<TXmlElementCore*>(ch)->FNameID == id) out.push_back(ch);
      }
      return;
    }
    TXmlNode* c = FindChildElement(n, id);
    if (!c) return;
    n = c;
    path = rest;
  }
}

// ---- cloning

// Names are carried over by text when the copy goes to another table.
TXmlNameID MapName(TXmlNameID id, TXmlNameTable* to) {
  return id ? to->Intern(id->Text, id->Hash) : id;
}

// A copy of `n` with its attributes, without children (count 0).
TXmlNode* CloneShallow(const TXmlNode* n, TXmlArena* arena) {
  TXmlNameTable* names = arena->Names();
  TXmlNode* copy = nullptr;
  switch (n->FNodeType) {
    case NODE_ELEMENT:
    {
      auto* e = static_cast<const TXmlElementCore*>(n);
      auto* c = NewNode<TXmlElement>(arena, MapName(e->FNameID, names));
      c->FLine = e->FLine;  // a copy still comes from the same place in the text
      copy = c;
      break;
    }
    case NODE_TEXT: copy = NewNode<TXmlText>(arena, static_cast<const TXmlValueCore*>(n)->FData); break;
    case NODE_CDATA_SECTION: copy = NewNode<TXmlCDATASection>(arena, static_cast<const TXmlValueCore*>(n)->FData); break;
    case NODE_COMMENT: copy = NewNode<TXmlComment>(arena, static_cast<const TXmlValueCore*>(n)->FData); break;
    case NODE_PROCESSING_INSTRUCTION: {
      auto* p = static_cast<const TXmlPICore*>(n);
      copy = NewNode<TXmlProcessingInstruction>(arena, MapName(p->FTargetNameID, names), p->FData);
      break;
    }
    default: {
      auto* d = NewNode<TXmlDocument>(arena);
      d->FPreserveWhiteSpace = static_cast<const TXmlDocCore*>(n)->FPreserveWhiteSpace;
      copy = d;
      break;
    }
  }
  if (!n->IsContainer()) return copy;
  TIntfPtr<IXmlNode> keep = Ptr(copy);  // frees the copy if what follows fails
  if (n->FNodeType == NODE_ELEMENT && static_cast<const TXmlElementCore*>(n)->HasData())
    static_cast<TXmlElementCore*>(copy)->SetData(static_cast<const TXmlElementCore*>(n)->Data());
  const TXmlContainer* src = Cont(n);
  for (std::uint32_t k = 0, n = src->NumAttrs(); k < n; ++k)
    AppendAttr(Cont(copy), MapName(src->FAttrs[k].NameID, names), src->FAttrs[k].Value);
  ++copy->FRefCount;  // survive `keep`
  keep = nullptr;
  --copy->FRefCount;
  return copy;
}

// A copy of `n` (count 0), with copies of all its descendants when `deep`.
// The walk keeps its own stack instead of recursing (deep trees must not
// exhaust the stack); a failure frees the partial copy.
TXmlNode* CloneNodeObj(const TXmlNode* n, bool deep, TXmlArena* arena) {
  TXmlNode* copy = CloneShallow(n, arena);
  if (!deep || !n->IsContainer()) return copy;
  TIntfPtr<IXmlNode> keep = Ptr(copy);
  struct TFrame {
    const TXmlContainer* Src;
    TXmlNode* Copy;
    std::uint32_t Next;
  };
  std::vector<TFrame> stack{{Cont(n), copy, 0}};
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.Next == f.Src->FChildCount) {
      stack.pop_back();
      continue;
    }
    const TXmlNode* src = f.Src->Kids()[f.Next++];
    TXmlNode* c = CloneShallow(src, arena);
    AppendNewChild(f.Copy, c);  // a fresh node needs none of InsertChild's checks
    if (src->IsContainer() && Cont(src)->FChildCount) stack.push_back({Cont(src), c, 0});
  }
  ++copy->FRefCount;  // survive `keep`
  keep = nullptr;
  --copy->FRefCount;
  return copy;
}

}  // namespace xmldetail

// ===================================================================== node list

TXmlNodeList::TXmlNodeList(TXmlNode* owner) : FOwnerNode(owner) {
  if (FOwnerNode) AddRefNode(FOwnerNode);
}
TXmlNodeList::~TXmlNodeList() {
  for (TXmlNode* n : FItems) ReleaseNode(n);
  if (FOwnerNode) ReleaseNode(FOwnerNode);
}
bool TXmlNodeList::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (!obj) return false;
  *obj = nullptr;
  return QueryInterfaces<IXmlNodeList, IXmlBase, IInterface>(this, iid, obj);
}
std::int32_t TXmlNodeList::_Release() noexcept {
  const std::int32_t c = --FRefCount;
  if (c == 0) delete this;
  return c;
}
int TXmlNodeList::Count() const {
  if (FOwnerNode) return FOwnerNode->IsContainer() ? static_cast<int>(Cont(FOwnerNode)->FChildCount) : 0;
  return static_cast<int>(FItems.size());
}
TIntfPtr<IXmlNode> TXmlNodeList::Item(int index) const {
  if (index < 0 || index >= Count()) Fail(kMsgIndex);
  return Ptr(FOwnerNode ? Cont(FOwnerNode)->Kids()[index] : FItems[static_cast<std::size_t>(index)]);
}
std::string TXmlNodeList::XML() const {
  std::string out;
  for (int k = 0; k < Count(); ++k) out += NodeXML(Item(k)->NodeObject());
  return out;
}
int TXmlNodeList::IndexOf(const TIntfPtr<IXmlNode>& node) const {
  TXmlNode* n = Obj(node);
  for (int k = 0; k < Count(); ++k)
    if ((FOwnerNode ? Cont(FOwnerNode)->Kids()[k] : FItems[static_cast<std::size_t>(k)]) == n) return k;
  return -1;
}
int TXmlNodeList::Insert(const TIntfPtr<IXmlNode>& node, int index) {
  if (index < 0) index = Count();
  if (index > Count()) Fail(kMsgIndex);
  TXmlNode* n = Obj(node);
  if (!n) Fail(kMsgIndex);
  if (FOwnerNode) {
    InsertChild(FOwnerNode, n, static_cast<std::uint32_t>(index));
    return static_cast<int>(ChildIndex(FOwnerNode, n));
  }
  AddRefNode(n);
  FItems.insert(FItems.begin() + index, n);
  return index;
}
int TXmlNodeList::Remove(const TIntfPtr<IXmlNode>& node) {
  const int index = IndexOf(node);
  if (index >= 0) Delete(index);
  return index;
}
void TXmlNodeList::Delete(int index) {
  if (index < 0 || index >= Count()) Fail(kMsgIndex);
  if (FOwnerNode) {
    RemoveChildAt(FOwnerNode, static_cast<std::uint32_t>(index));
    return;
  }
  TXmlNode* n = FItems[static_cast<std::size_t>(index)];
  FItems.erase(FItems.begin() + index);
  ReleaseNode(n);
}
void TXmlNodeList::Replace(int index, const TIntfPtr<IXmlNode>& node) {
  if (index < 0 || index >= Count()) Fail(kMsgIndex);
  if (FOwnerNode) {
    Intf(FOwnerNode)->ReplaceChild(node, Item(index));
    return;
  }
  TXmlNode* n = Obj(node);
  if (!n) Fail(kMsgIndex);
  AddRefNode(n);
  ReleaseNode(FItems[static_cast<std::size_t>(index)]);
  FItems[static_cast<std::size_t>(index)] = n;
}
void TXmlNodeList::Exchange(int index1, int index2) {
  if (index1 < 0 || index1 >= Count() || index2 < 0 || index2 >= Count()) Fail(kMsgIndex);
  if (FOwnerNode) {
    TXmlContainer* c = Cont(FOwnerNode);
    std::swap(c->Kids()[index1], c->Kids()[index2]);
    return;
  }
  std::swap(FItems[static_cast<std::size_t>(index1)], FItems[static_cast<std::size_t>(index2)]);
}
void TXmlNodeList::Clear() {
  if (FOwnerNode) {
    ClearChilds(FOwnerNode);
    return;
  }
  for (TXmlNode* n : FItems) ReleaseNode(n);
  FItems.clear();
}

// ===================================================================== value texts

std::string FloatToXSTR(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  // The exponent is written without "+" and without leading zeros ("1E20", "1.5E-5").
  std::string s(buf);
  const std::size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    bool neg = false;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
      neg = exp[0] == '-';
      exp.erase(0, 1);
    }
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  std::size_t k = 0;
  while (k < s.size() && s[k] == ' ') ++k;
  if (k < s.size() && s[k] == '+') ++k;
  return s.substr(k);
}

double XSTRToFloat(std::string_view text) {
  std::string up(text);
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (up == "INF" || up == "+INF") return HUGE_VAL;
  if (up == "-INF") return -HUGE_VAL;
  if (up == "NAN") return std::nan("");
  std::string_view s = text;
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (s.empty() || r.ec == std::errc::invalid_argument || r.ptr != s.data() + s.size())
    throw EConvertError(Format("'%s' is not a valid floating point value", std::string(text).c_str()));
  return v;
}

namespace NX_XML_LOCAL xmldetail {
// Days since 1970-01-01 of a civil date and back (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}
constexpr std::int64_t kUnixEpochDays = 25569;  // 1970-01-01 counted from 1899-12-30
}  // namespace xmldetail

std::string DateTimeToXSTR(double dateTime) {
  if (!std::isfinite(dateTime) || std::fabs(dateTime) > 3e6) return FloatToXSTR(dateTime);
  std::int64_t days = static_cast<std::int64_t>(std::floor(dateTime));
  std::int64_t ms = std::llround((dateTime - static_cast<double>(days)) * 86400000.0);
  if (ms >= 86400000) {
    ++days;
    ms -= 86400000;
  }
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days - kUnixEpochDays, y, m, d);
  const std::int64_t secs = ms / 1000;
  return Format("%.4d-%.2d-%.2dT%.2d-%.2d-%.2d", static_cast<int>(y), static_cast<int>(m), static_cast<int>(d),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
}

double XSTRToDateTime(std::string_view text) {
  int parts[6] = {};
  std::size_t i = 0;
  for (int k = 0; k < 6; ++k) {
    const std::size_t start = i;
    std::int64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 9) v = v * 10 + (text[i++] - '0');
    if (i == start) throw EConvertError(Format("'%s' is not a valid date and time", std::string(text).c_str()));
    parts[k] = static_cast<int>(v);
    if (i < text.size()) ++i;  // the separator
  }
  const int y = parts[0], m = parts[1], d = parts[2];
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && leap) || parts[3] > 23 ||
      parts[4] > 59 || parts[5] > 59)
    throw EConvertError(Format("'%s' is not a valid date and time", std::string(text).c_str()));
  const double date = static_cast<double>(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kUnixEpochDays);
  const double time = (parts[3] * 3600.0 + parts[4] * 60.0 + parts[5]) / 86400.0;
  return date < 0 ? date - time : date + time;
}

std::string VarToXSTR(const TVariant& value) {
  switch (value.VType()) {
    case varEmpty: return {};
    case varNull: return XSTR_NULL;
    case varBoolean: return value.AsBool() ? "1" : "0";
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return std::to_string(value.AsInt64());
    case varUInt64: return std::to_string(value.AsUInt64());
    case varSingle: case varDouble: case varCurrency: return FloatToXSTR(value.AsDouble());
    case varDate: return DateTimeToXSTR(value.AsDouble());
    case varOleStr: case varString: case varUString: return std::string(value.StrView());
    case varByteArray: return BinToBase64(value.StrView().data(), value.StrView().size(), 0);
    default: return {};
  }
}

namespace NX_XML_LOCAL xmldetail {
constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string BinToBase64(const void* data, std::size_t size, int maxLineLength) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  std::string enc;
  enc.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::uint32_t v = (std::uint32_t{b[i]} << 16) | (i + 1 < size ? std::uint32_t{b[i + 1]} << 8 : 0) |
                            (i + 2 < size ? std::uint32_t{b[i + 2]} : 0);
    enc.push_back(kB64[v >> 18]);
    enc.push_back(kB64[(v >> 12) & 63]);
    enc.push_back(i + 1 < size ? kB64[(v >> 6) & 63] : '=');
    enc.push_back(i + 2 < size ? kB64[v & 63] : '=');
  }
  if (maxLineLength < 1) return enc;
  // CR LF goes in at the 1-based positions n, 2n+2, 3n+4, ... of the growing
  // text while a character stands there.
  std::string out;
  out.reserve(enc.size() + enc.size() / static_cast<std::size_t>(maxLineLength) * 2 + 2);
  std::size_t next = static_cast<std::size_t>(maxLineLength) - 1;
  for (char c : enc) {
    if (out.size() == next) {
      out += "\r\n";
      next += static_cast<std::size_t>(maxLineLength) + 2;
    }
    out.push_back(c);
  }
  return out;
}

std::vector<std::uint8_t> Base64ToBin(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) > 32) s.push_back(c);
  auto val = [&](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    throw EConvertError("Invalid base64 text");
  };
  std::vector<std::uint8_t> out;
  out.reserve(s.size() / 4 * 3);
  for (std::size_t i = 0; i < s.size(); i += 4) {
    if (i + 4 > s.size()) throw EConvertError("Invalid base64 text");
    int pad = 0;
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s[i + static_cast<std::size_t>(k)];
      if (c == '=' && k >= 2 && i + 4 == s.size()) {
        ++pad;
        v <<= 6;
      } else {
        if (pad) throw EConvertError("Invalid base64 text");
        v = (v << 6) | static_cast<std::uint32_t>(val(c));
      }
    }
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    if (pad < 2) out.push_back(static_cast<std::uint8_t>(v >> 8));
    if (pad < 1) out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

std::string TextToXML(std::string_view text) {
  std::size_t k = 0;
  while (k < text.size() && text[k] != '"' && text[k] != '&' && text[k] != '<' && text[k] != '>') ++k;
  if (k == text.size()) return std::string(text);
  std::string out(text.substr(0, k));
  for (; k < text.size(); ++k) {
    switch (text[k]) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(text[k]);
    }
  }
  return out;
}

bool XmlIsInBinaryFormat(std::string_view data) {
  return data.size() >= 15 && data.substr(0, BinXmlSignatureSize) == std::string_view(BinXmlSignature, 14);
}

bool IsXmlDataString(std::string_view data) {
  if (data.substr(0, BinXmlSignatureSize) == std::string_view(BinXmlSignature, 14)) return true;
  std::size_t k = 0;
  while (k < data.size() && (data[k] == '\t' || data[k] == '\n' || data[k] == '\r' || data[k] == ' ')) ++k;
  return data.substr(k, 6) == "<?xml ";
}

namespace NX_XML_LOCAL xmldetail {

// Resources: the byte arrays registered by the program stand in for the
// resource section that Linux executables lack.
struct TResourceRegistry {
  std::mutex Lock;
  std::map<std::pair<std::string, std::string>, std::string> Items;
};
TResourceRegistry& Resources() {
  static TResourceRegistry r;
  return r;
}

void TXmlDocument::LoadResource(std::string_view type, std::string_view name) {
  std::string data;
  {
    TResourceRegistry& r = Resources();
    std::lock_guard<std::mutex> g(r.Lock);
    auto it = r.Items.find({std::string(type), std::string(name)});
    if (it == r.Items.end())
      Fail(Format("Resource \"%s\" of type \"%s\" not found", std::string(name).c_str(), std::string(type).c_str()));
    data = it->second;
  }
  TStringStream s(std::move(data));
  Load(s);
}

}  // namespace xmldetail

void RegisterXmlResource(std::string_view resType, std::string_view resName, std::string_view data) {
  TResourceRegistry& r = Resources();
  std::lock_guard<std::mutex> g(r.Lock);
  r.Items[{std::string(resType), std::string(resName)}] = std::string(data);
}

// ===================================================================== free functions

TIntfPtr<IXmlNameTable> CreateNameTable(int hashTableSize) {
  return TIntfPtr<IXmlNameTable>(new TXmlNameTable(hashTableSize));
}

TIntfPtr<IXmlElement> CreateXmlElement(std::string_view name, const TIntfPtr<IXmlNameTable>& names) {
  TXmlNameTable* table = AsNameTable(names);
  auto* arena = new TXmlArena(table);
  return TIntfPtr<IXmlElement>(NewNode<TXmlElement>(arena, table->GetID(name)));
}

TIntfPtr<IXmlDocument> CreateXmlDocument(std::string_view rootName, std::string_view version,
                                         std::string_view encoding, const TIntfPtr<IXmlNameTable>& names) {
  auto* arena = new TXmlArena(AsNameTable(names));
  TIntfPtr<IXmlDocument> doc(NewNode<TXmlDocument>(arena));
  if (!rootName.empty()) doc->NewDocument(version, encoding, rootName);
  return doc;
}

TIntfPtr<IXmlDocument> LoadXmlDocumentFromXML(std::string_view xml) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  doc->LoadXML(xml);
  return doc;
}
TIntfPtr<IXmlDocument> LoadXmlDocumentFromBinaryXML(std::string_view data) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  doc->LoadBinaryXML(data);
  return doc;
}
TIntfPtr<IXmlDocument> LoadXmlDocument(TStream& stream) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  doc->Load(stream);
  return doc;
}
TIntfPtr<IXmlDocument> LoadXmlDocument(const std::string& fileName) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  doc->Load(fileName);
  return doc;
}
TIntfPtr<IXmlDocument> LoadXmlDocument(std::string_view resType, std::string_view resName) {
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  doc->LoadResource(resType, resName);
  return doc;
}

TIntfPtr<IXmlElement> PrepareToSaveXml(const TIntfPtr<IXmlElement>& element, std::string_view name) {
  if (!element || name.empty()) return element;
  return element->AppendElement(name);
}
TIntfPtr<IXmlElement> PrepareToLoadXml(const TIntfPtr<IXmlElement>& element, std::string_view name) {
  if (!element || name.empty()) return element;
  return Supports<IXmlElement>(element->SelectSingleNode(name));
}


// The node classes (declared extern in RGSimpleXMLInternal.h).
namespace NX_XML_LOCAL xmldetail {
template class TXmlNodeT<IXmlElement, TXmlElementCore>;
template class TXmlNodeT<IXmlText, TXmlValueCore>;
template class TXmlNodeT<IXmlCDATASection, TXmlValueCore>;
template class TXmlNodeT<IXmlComment, TXmlValueCore>;
template class TXmlNodeT<IXmlProcessingInstruction, TXmlPICore>;
template class TXmlNodeT<IXmlDocument, TXmlDocCore>;

// What a tree costs per node (on LP64): the vtable pointer, the count, type,
// flags and attribute count in one word, the parent; an element adds its
// attribute and child arrays, child count and line, and its name.
static_assert(sizeof(void*) != 8 || sizeof(TXmlElement) == 56);
static_assert(sizeof(void*) != 8 || sizeof(TXmlText) == 40);
}  // namespace xmldetail

}  // namespace nx
