// RGSimpleXMLBinary: the binary form of the XML unit: nodes and documents
// written and read through the binary readers and writers, and those readers
// and writers over strings and streams.
#include "xml/RGSimpleXMLInternal.h"

namespace nx {

namespace NX_XML_LOCAL xmldetail {

// ===================================================================== binary form of nodes

// The attributes and the child count of a container.
void SaveContainerHead(const TXmlContainer* c, TBinXmlWriter& w) {
  const std::uint32_t attrs = c->NumAttrs();
  w.WriteCompact(static_cast<std::int32_t>(attrs));
  for (std::uint32_t k = 0; k < attrs; ++k) {
    w.WriteNameID(c->FAttrs[k].NameID);
    w.WriteVariant(c->FAttrs[k].Value);
  }
  w.WriteCompact(static_cast<std::int32_t>(c->FChildCount));
}

// The attributes and children of `n`, depth first with a stack of its own
// (no recursion: the depth of a tree is bounded by memory, not by the stack).
void SaveNodeBin(const TXmlNode* n, TBinXmlWriter& w) {
  if (!n->IsContainer()) {
    w.WriteCompact(0);
    w.WriteCompact(0);
    return;
  }
  struct TFrame {
    const TXmlContainer* Node;
    std::uint32_t Next;
  };
  std::vector<TFrame> stack;
  SaveContainerHead(Cont(n), w);
  stack.push_back({Cont(n), 0});
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.Next == f.Node->FChildCount) {
      stack.pop_back();
      continue;
    }
    const TXmlNode* ch = f.Node->Kids()[f.Next++];
    switch (ch->FNodeType) {
      case NODE_ELEMENT: {
        auto* e = static_cast<const TXmlElementCore*>(ch);
        w.WriteByte(NODE_ELEMENT);
        w.WriteNameID(e->FNameID);
        w.WriteVariant(e->FChildCount ? kEmptyVariant : e->Data());
        SaveContainerHead(e, w);
        stack.push_back({e, 0});  // f is not used after this
        break;
      }
      case NODE_TEXT:
        w.WriteByte(NODE_TEXT);
        w.WriteVariant(static_cast<const TXmlValueCore*>(ch)->FData);
        break;
      case NODE_CDATA_SECTION:
      case NODE_COMMENT:
        w.WriteByte(ch->FNodeType);
        w.WriteXmlString(static_cast<const TXmlValueCore*>(ch)->FData.StrView());
        break;
      case NODE_PROCESSING_INSTRUCTION: {
        auto* pi = static_cast<const TXmlPICore*>(ch);
        w.WriteByte(NODE_PROCESSING_INSTRUCTION);
        w.WriteNameID(pi->FTargetNameID);
        w.WriteXmlString(pi->FData.StrView());
        SaveContainerHead(pi, w);
        stack.push_back({pi, 0});
        break;
      }
      default: Fail(kMsgWriteNodeType);
    }
  }
}

std::int32_t ReadCount(TBinXmlReader& r) {
  const std::int32_t n = r.ReadCompact();
  if (n < 0 || static_cast<std::uint64_t>(n) > r.Remaining()) Fail(kMsgReadData);
  return n;
}

// Reads the attributes and child count of container `n`; returns the count.
std::int32_t LoadContainerHead(TXmlNode* n, TBinXmlReader& r) {
  const std::int32_t attrs = ReadCount(r);
  for (std::int32_t k = 0; k < attrs; ++k) {
    const TXmlNameID id = r.ReadNameID();
    TVariant v = r.ReadVariant();
    SetAttrValueID(n, id, std::move(v));
  }
  return ReadCount(r);
}

// The attributes and children of `n` in the binary form, depth first with a
// stack of its own: nesting is bounded by the input's size, not by the
// thread's stack. Every node read joins the tree at once, so a failure leaves
// the part read so far in place.
void LoadNodeBin(TXmlNode* n, TBinXmlReader& r) {
  struct TFrame {
    TXmlNode* Node;
    std::int32_t Left;  // children still to read
  };
  std::vector<TFrame> stack{{n, LoadContainerHead(n, r)}};
  if (stack.back().Left) RequireContainer(n);
  TXmlArena* arena = n->Arena();
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.Left == 0) {
      stack.pop_back();
      continue;
    }
    --f.Left;
    TXmlNode* parent = f.Node;
    const std::uint8_t type = r.ReadByte();
    TXmlNode* child;
    switch (type) {
      case NODE_ELEMENT: {
        const TXmlNameID id = r.ReadNameID();
        TVariant v = r.ReadVariant();
        auto* e = NewNode<TXmlElement>(arena, id);
        AppendNewChild(parent, e);
        if (!v.IsEmpty()) e->SetData(std::move(v));
        child = e;
        break;
      }
      case NODE_TEXT: child = NewNode<TXmlText>(arena, r.ReadVariant()); break;
      case NODE_CDATA_SECTION: child = NewNode<TXmlCDATASection>(arena, arena->NewString(r.ReadXmlString())); break;
      case NODE_COMMENT: child = NewNode<TXmlComment>(arena, arena->NewString(r.ReadXmlString())); break;
      case NODE_PROCESSING_INSTRUCTION: {
        const TXmlNameID id = r.ReadNameID();
        TVariant data = arena->NewString(r.ReadXmlString());
        child = NewNode<TXmlProcessingInstruction>(arena, id, std::move(data));
        AppendNewChild(parent, child);
        break;
      }
      default: Fail(kMsgReadNodeType);
    }
    if (!child->IsContainer()) {
      AppendNewChild(parent, child);
      continue;
    }
    const std::int32_t childs = LoadContainerHead(child, r);
    if (childs) stack.push_back({child, childs});  // f is not used after this
  }
}

// ---- document loading and saving

void TXmlDocument::SaveDocBin(TBinXmlWriter& w) const {
  w.Write(BinXmlSignature, BinXmlSignatureSize);
  w.WriteLongint(static_cast<std::int32_t>(w.Options()));
  w.WriteNameTable(*Names());
  SaveNodeBin(this, w);
}

void TXmlDocument::LoadDocBin(TBinXmlReader& r) {
  char sig[BinXmlSignatureSize];
  r.Read(sig, sizeof sig);
  if (std::memcmp(sig, BinXmlSignature, BinXmlSignatureSize) != 0) Fail(kMsgReadData);
  r.SetOptions(static_cast<std::uint32_t>(r.ReadLongint()));
  r.ReadNameTable(*Names());
  LoadNodeBin(this, r);
}

}  // namespace xmldetail

// ===================================================================== binary readers and writers

void TBinXmlReader::Read(void* dest, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const std::size_t n = ReadRaw(static_cast<char*>(dest) + got, count - got);
    if (n == 0) Fail(kMsgReadData);
    got += n;
  }
}
std::uint8_t TBinXmlReader::ReadByte() {
  std::uint8_t b;
  Read(&b, 1);
  return b;
}
std::int32_t TBinXmlReader::ReadLongint() {
  std::uint8_t b[4];
  Read(b, 4);
  return static_cast<std::int32_t>(std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
                                   (std::uint32_t{b[3]} << 24));
}
std::int32_t TBinXmlReader::ReadCompact() {
  const std::uint8_t b = ReadByte();
  if (b < 0x80) return b;
  if (b == 0xFF) return ReadLongint();
  return static_cast<std::int32_t>(((b & 0x7Fu) << 8) | ReadByte());
}
std::string TBinXmlReader::ReadAnsiString() {
  const std::int32_t n = ReadCompact();
  if (n < 0 || static_cast<std::uint64_t>(n) > Remaining()) Fail(kMsgReadData);
  std::string s(static_cast<std::size_t>(n), '\0');
  Read(s.data(), s.size());
  return ValidUtf8(std::move(s));
}
std::string TBinXmlReader::ReadWideString() {
  const std::int32_t n = ReadCompact();
  if (n < 0 || static_cast<std::uint64_t>(n) * 2 > Remaining()) Fail(kMsgReadData);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n) * 2);
  Read(bytes.data(), bytes.size());
  std::u16string units(static_cast<std::size_t>(n), u'\0');
  for (std::size_t k = 0; k < units.size(); ++k)
    units[k] = static_cast<char16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
  return FromUtf16(units.data(), units.size());
}
std::string TBinXmlReader::ReadXmlString() {
  return (FOptions & BINXML_USE_WIDE_CHARS) ? ReadWideString() : ReadAnsiString();
}
TVariant TBinXmlReader::ReadVariant() {
  const std::int32_t type = ReadCompact();
  auto raw = [&](std::size_t n) {
    std::uint8_t b[8] = {};
    Read(b, n);
    std::uint64_t v = 0;
    for (std::size_t k = n; k-- > 0;) v = (v << 8) | b[k];
    return v;
  };
  switch (type) {
    case varEmpty: return TVariant();
    case varNull: return TVariant::Null();
    case varSmallint: case varBoolean: case varWord: return TVariant::FromRaw(static_cast<TVarType>(type), raw(2));
    case varInteger: case varSingle: case varLongWord: return TVariant::FromRaw(static_cast<TVarType>(type), raw(4));
    case varDouble: case varCurrency: case varDate: case varInt64:
      return TVariant::FromRaw(static_cast<TVarType>(type), raw(8));
    case varShortInt: case varByte: return TVariant::FromRaw(static_cast<TVarType>(type), raw(1));
    case varOleStr: return TVariant::String(varOleStr, ReadWideString());
    case varString: case varUString: return TVariant::String(static_cast<TVarType>(type), ReadAnsiString());
    case varByteArray: {
      const std::int32_t n = ReadCount(*this);
      std::string bytes(static_cast<std::size_t>(n), '\0');
      Read(bytes.data(), bytes.size());
      return TVariant::Bytes(bytes.data(), bytes.size());
    }
    default: Fail(kMsgReadType);
  }
}
void TBinXmlReader::ReadNameTable(IXmlNameTable& names) {
  const std::int32_t count = ReadCount(*this);
  for (std::int32_t k = 0; k < count; ++k) {
    const TXmlNameID id = names.GetID(ReadXmlString());
    FNameMap.emplace(id->Hash, id);
  }
}
TXmlNameID TBinXmlReader::ReadNameID() {
  const auto hash = static_cast<std::uint32_t>(ReadCompact());
  auto it = FNameMap.find(hash);
  if (it == FNameMap.end()) Fail(kMsgReadData);
  return it->second;
}

void TBinXmlWriter::WriteLongint(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
  Write(b, 4);
}
void TBinXmlWriter::WriteCompact(std::int32_t value) {
  if (value >= 0 && value <= 127) {
    WriteByte(static_cast<std::uint8_t>(value));
  } else if (value >= 128 && value <= 32511) {
    const char b[2] = {static_cast<char>(0x80 | (value >> 8)), static_cast<char>(value & 0xFF)};
    Write(b, 2);
  } else {
    WriteByte(0xFF);
    WriteLongint(value);
  }
}
void TBinXmlWriter::WriteAnsiString(std::string_view utf8) {
  WriteCompact(static_cast<std::int32_t>(utf8.size()));
  Write(utf8.data(), utf8.size());
}
void TBinXmlWriter::WriteWideString(std::string_view utf8) {
  const std::u16string units = ToUtf16(utf8);
  WriteCompact(static_cast<std::int32_t>(units.size()));
  std::string bytes(units.size() * 2, '\0');
  for (std::size_t k = 0; k < units.size(); ++k) {
    bytes[2 * k] = static_cast<char>(units[k] & 0xFF);
    bytes[2 * k + 1] = static_cast<char>(units[k] >> 8);
  }
  Write(bytes.data(), bytes.size());
}
void TBinXmlWriter::WriteXmlString(std::string_view utf8) {
  if (FOptions & BINXML_USE_WIDE_CHARS) WriteWideString(utf8);
  else WriteAnsiString(utf8);
}
void TBinXmlWriter::WriteVariant(const TVariant& value) {
  const TVarType t = value.VType();
  auto raw = [&](std::size_t n) {
    const std::uint64_t v = value.RawBits();
    char b[8];
    for (std::size_t k = 0; k < n; ++k) b[k] = static_cast<char>(v >> (8 * k));
    Write(b, n);
  };
  switch (t) {
    case varEmpty: case varNull: WriteCompact(t); break;
    case varSmallint: case varBoolean: case varWord: WriteCompact(t); raw(2); break;
    case varInteger: case varSingle: case varLongWord: WriteCompact(t); raw(4); break;
    case varDouble: case varCurrency: case varDate: case varInt64: WriteCompact(t); raw(8); break;
    case varShortInt: case varByte: WriteCompact(t); raw(1); break;
    case varOleStr: WriteCompact(t); WriteWideString(value.StrView()); break;
    case varString: case varUString: WriteCompact(t); WriteAnsiString(value.StrView()); break;
    case varByteArray:
      WriteCompact(t);
      WriteCompact(static_cast<std::int32_t>(value.StrView().size()));
      Write(value.StrView().data(), value.StrView().size());
      break;
    default: Fail(kMsgUnknownVarType);
  }
}
void TBinXmlWriter::WriteNameTable(const IXmlNameTable& names) {
  const int count = names.NameCount();
  WriteCompact(count);
  for (int k = 0; k < count; ++k) WriteXmlString(names.NameAt(k)->Text);
}

TStmXmlReader::TStmXmlReader(TStream& stream, std::uint32_t options) : FStream(stream), FBuffer(65536) {
  FOptions = options;
  FStreamLeft = static_cast<std::uint64_t>(std::max<std::int64_t>(0, stream.Size() - stream.Position()));
}
std::uint64_t TStmXmlReader::Remaining() const { return FStreamLeft + (FEnd - FPos); }
std::size_t TStmXmlReader::ReadRaw(void* dest, std::size_t count) {
  if (FPos == FEnd) {
    const std::int64_t n = FStream.Read(FBuffer.data(), static_cast<std::int64_t>(FBuffer.size()));
    if (n <= 0) return 0;
    FStreamLeft -= std::min<std::uint64_t>(FStreamLeft, static_cast<std::uint64_t>(n));
    FPos = 0;
    FEnd = static_cast<std::size_t>(n);
  }
  const std::size_t n = std::min(count, FEnd - FPos);
  std::memcpy(dest, FBuffer.data() + FPos, n);
  FPos += n;
  return n;
}

TStmXmlWriter::TStmXmlWriter(TStream& stream, std::uint32_t options) : FStream(stream) {
  FOptions = options;
  FBuf.reserve(65536 + 64);
}
TStmXmlWriter::~TStmXmlWriter() {
  try {
    Flush();
  } catch (...) {
  }
}
void TStmXmlWriter::Flush() {
  if (FBuf.empty()) return;
  FStream.WriteBuffer(FBuf.data(), static_cast<std::int64_t>(FBuf.size()));
  FBuf.clear();
}

TStrXmlReader::TStrXmlReader(std::string_view data, std::uint32_t options) : FData(data) { FOptions = options; }
std::size_t TStrXmlReader::ReadRaw(void* dest, std::size_t count) {
  const std::size_t n = std::min(count, FData.size() - FPos);
  std::memcpy(dest, FData.data() + FPos, n);
  FPos += n;
  return n;
}


}  // namespace nx
