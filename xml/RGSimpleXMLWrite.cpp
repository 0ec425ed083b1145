// RGSimpleXMLWrite: the text writer of the XML unit: output in the
// document's code page, indentation, and the XML text of nodes and documents.
#include "xml/RGSimpleXMLInternal.h"

namespace nx {

namespace NX_XML_LOCAL xmldetail {

// ===================================================================== writer

// The saver and the writer are this file's own: the compiler sees every
// call of their members and inlines and specialises freely.
namespace {

// Text output: UTF-8 pieces go into a buffer, converted to the saver's code
// page on the way in (iconv; a character the code page lacks becomes "?").
// With a stream the buffer is written out whenever it holds FBufferSize bytes.
class TXmlSaver {
 public:
  TXmlSaver(int codepage, TStream* stream, std::size_t bufferSize = 4096)
      : FCodepage(codepage), FStream(stream), FBufferSize(bufferSize) {
    if (FCodepage != 65001) FIconv.Open(IconvName(FCodepage), "UTF-8");
    if (FStream) FBuffer.reserve(FBufferSize + 64);
  }
  TXmlSaver(const TXmlSaver&) = delete;
  TXmlSaver& operator=(const TXmlSaver&) = delete;
  ~TXmlSaver() {
    try {
      Finish();
    } catch (...) {
    }
  }

  void Write(std::string_view s) {
    if (FCodepage == 65001) {
      if (FStream && FBuffer.size() + s.size() > FBufferSize) {
        Flush();
        if (s.size() > FBufferSize) {
          FStream->WriteBuffer(s.data(), static_cast<std::int64_t>(s.size()));
          return;
        }
      }
      FBuffer.append(s);
      return;
    }
    // Long strings are converted in pieces of a third of the buffer.
    const std::size_t piece = std::max<std::size_t>(FBufferSize / 3, 64);
    while (!s.empty()) {
      std::size_t n = std::min(piece, s.size());
      while (n < s.size() && (static_cast<std::uint8_t>(s[n]) & 0xC0) == 0x80) ++n;  // whole characters
      FIconv.Convert(s.data(), n, FBuffer, "?", true);
      s.remove_prefix(n);
      if (FStream && FBuffer.size() >= FBufferSize) Flush();
    }
  }
  void Write(char c) {
    if (FCodepage == 65001 && (!FStream || FBuffer.size() < FBufferSize)) FBuffer.push_back(c);
    else Write(std::string_view(&c, 1));
  }
  void Finish() {
    if (FFinished) return;
    FFinished = true;
    if (FIconv.IsOpen()) FIconv.Finish(FBuffer);
    Flush();
  }
  void Flush() {
    if (FStream && !FBuffer.empty()) {
      FStream->WriteBuffer(FBuffer.data(), static_cast<std::int64_t>(FBuffer.size()));
      FBuffer.clear();
    }
  }
  bool Full() const noexcept { return false; }
  std::string Take() {
    Finish();
    return std::move(FBuffer);
  }

 private:
  int FCodepage;
  TStream* FStream;
  std::size_t FBufferSize;
  std::string FBuffer;
  TIconv FIconv;
  bool FFinished = false;
};

// Output in UTF-8 to memory, in two passes over the tree: the first counts
// the bytes, the second writes them into exactly that room. The text is
// built once, in place, with no buffer that grows and moves.
struct TCountOut {
  std::size_t Size = 0;
  void Write(std::string_view s) noexcept { Size += s.size(); }
  void Write(char) noexcept { ++Size; }
  bool Full() const noexcept { return false; }
};
struct TRawOut {
  char* P;
  char* End;  // the room there is; never written past
  bool Overrun = false;
  void Write(std::string_view s) noexcept {
    const std::size_t n = s.size();
    if (static_cast<std::size_t>(End - P) < n) [[unlikely]] {
      Overrun = true;
      P = End;  // nothing more fits
      return;
    }
    // Names, quotes and short values: fixed-size moves instead of a call.
    const char* from = s.data();
    if (n >= 8 && n <= 16) {
      std::memcpy(P, from, 8);
      std::memcpy(P + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(P, from, 4);
      std::memcpy(P + n - 4, from + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t k = 0; k < n; ++k) P[k] = from[k];
    } else {
      std::memcpy(P, from, n);
    }
    P += n;
  }
  void Write(char c) noexcept {
    if (P < End) {
      *P++ = c;
    } else {
      Overrun = true;
    }
  }
  bool Full() const noexcept { return Overrun; }
};

// Out: TXmlSaver, TCountOut or TRawOut.
template <class Out>
class TXmlWriter {
 public:
  TXmlWriter(Out& out, bool preserveWhiteSpace) : O(out), FPreserve(preserveWhiteSpace) {}

  // `depth`: the number of ancestor elements (the indent of an element).
  // The walk keeps its own stack of open containers instead of recursing, so
  // that the depth of a tree is bounded by memory, not by the thread's stack.
  void Node(const TXmlNode* n, int depth) {
    FStack.clear();
    Open(n, depth);
    while (!FStack.empty() && !O.Full()) {
      TFrame& f = FStack.back();
      if (f.Next < f.Node->FChildCount) {
        const TXmlNode* child = f.Node->Kids()[f.Next++];
        Open(child, f.Node->FNodeType == NODE_ELEMENT ? f.Depth + 1 : f.Depth);  // may grow FStack
        continue;
      }
      if (f.Node->FNodeType == NODE_ELEMENT) Close(static_cast<const TXmlElementCore*>(f.Node), f.Depth);
      FStack.pop_back();
    }
  }

 private:
  // The characters that are written as entities, in texts and attribute values alike.
  static std::string_view EntityOf(char c) noexcept {
    switch (c) {
      case '"': return "&quot;";
      case '&': return "&amp;";
      case '<': return "&lt;";
      case '>': return "&gt;";
      default: return {};
    }
  }
  // The first character at or after `k` that is written as an entity, or s.size().
  static std::size_t NextSpecial(std::string_view s, std::size_t k) noexcept {
#ifdef __SSE2__
    const __m128i q = _mm_set1_epi8('"'), a = _mm_set1_epi8('&'), l = _mm_set1_epi8('<'), g = _mm_set1_epi8('>');
    for (; s.size() - k >= 16; k += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + k));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, q), _mm_cmpeq_epi8(v, a)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, l), _mm_cmpeq_epi8(v, g)));
      if (const int m = _mm_movemask_epi8(hit)) return k + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(m)));
    }
#endif
    for (; k < s.size(); ++k)
      if (!EntityOf(s[k]).empty()) return k;
    return k;
  }
  void Escaped(std::string_view s) {
    std::size_t start = 0;
    for (std::size_t k = NextSpecial(s, 0); k < s.size(); k = NextSpecial(s, k + 1)) {
      if (k > start) O.Write(s.substr(start, k - start));
      O.Write(EntityOf(s[k]));
      start = k + 1;
    }
    O.Write(s.substr(start));
  }
  void Escaped(const TVariant& v) {
    if (v.IsString()) Escaped(v.StrView());
    else Escaped(std::string_view(VarToXSTR(v)));
  }
  void Attrs(const TXmlContainer* c) {
    for (std::uint32_t k = 0, n = c->NumAttrs(); k < n; ++k) {
      O.Write(' ');
      O.Write(c->FAttrs[k].NameID->Text);
      O.Write("=\"");
      Escaped(c->FAttrs[k].Value);
      O.Write('"');
    }
  }
  // CR LF and `depth` tabs, in one piece for the usual depths.
  void LineBreak(int depth) {
    static constexpr std::string_view kBreak = "\r\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    static_assert(DefaultIndentText[0] == '\t' && DefaultIndentText[1] == 0);
    const std::size_t first = std::min<std::size_t>(static_cast<std::size_t>(depth), kBreak.size() - 2);
    O.Write(kBreak.substr(0, 2 + first));
    for (std::size_t left = static_cast<std::size_t>(depth) - first; left;) {
      const std::size_t n = std::min(left, kBreak.size() - 2);
      O.Write(kBreak.substr(2, n));
      left -= n;
    }
  }
  // Writes a node whole, or the start of a container with children and
  // pushes it: its children and end follow from the loop in Node.
  void Open(const TXmlNode* n, int depth) {
    switch (n->FNodeType) {
      case NODE_ELEMENT: {
        auto* e = static_cast<const TXmlElementCore*>(n);
        if (!FPreserve) LineBreak(depth);
        O.Write('<');
        O.Write(e->FNameID->Text);
        Attrs(e);
        if (e->HasLazyText() || (e->FChildCount == 1 && e->FKid->FNodeType == NODE_TEXT)) {
          // The usual lone text (its end tag on the same line): no frame.
          O.Write('>');
          if (e->HasLazyText()) Escaped(e->LazyText());
          else Escaped(static_cast<const TXmlValueCore*>(e->FKid)->FData);
          EndTag(e);
          return;
        }
        if (e->FChildCount) {
          O.Write('>');
          FStack.push_back({e, 0, depth});
          return;
        }
        const TVariant& v = e->Data();
        const bool empty = v.IsString() ? v.StrView().empty() : VarToXSTR(v).empty();
        if (empty) {
          O.Write("/>");
          return;
        }
        O.Write('>');
        Escaped(v);
        EndTag(e);
        return;
      }
      case NODE_TEXT: Escaped(static_cast<const TXmlValueCore*>(n)->FData); return;
      case NODE_CDATA_SECTION:
        O.Write("<![CDATA[");
        O.Write(static_cast<const TXmlValueCore*>(n)->FData.StrView());
        O.Write("]]>");
        return;
      case NODE_COMMENT:
        O.Write("<!--");
        O.Write(static_cast<const TXmlValueCore*>(n)->FData.StrView());
        O.Write("-->");
        return;
      case NODE_PROCESSING_INSTRUCTION: {
        auto* pi = static_cast<const TXmlPICore*>(n);
        O.Write("<?");
        O.Write(pi->FTargetNameID->Text);
        const std::string_view data = pi->FData.StrView();
        if (!data.empty()) {
          O.Write(' ');
          O.Write(data);
        } else {
          Attrs(pi);
        }
        O.Write("?>");
        return;
      }
      default: FStack.push_back({Cont(n), 0, depth}); return;  // the document: its children only
    }
  }
  // After the children: the end tag stays on the line of a lone non-element child.
  void Close(const TXmlElementCore* e, int depth) {
    if (!FPreserve && !(e->FChildCount == 1 && e->Kids()[0]->FNodeType != NODE_ELEMENT)) LineBreak(depth);
    EndTag(e);
  }
  void EndTag(const TXmlElementCore* e) {
    O.Write("</");
    O.Write(e->FNameID->Text);
    O.Write('>');
  }

  struct TFrame {
    const TXmlContainer* Node;
    std::uint32_t Next;  // the next child to write
    int Depth;           // the container's own indent depth
  };
  std::vector<TFrame> FStack;
  Out& O;
  bool FPreserve;
};

// The UTF-8 text of a node or a document. A small text is written into a
// scratch buffer of the thread and copied out; a larger one is counted first
// and then written into a string of exactly its size, so that the text is
// built once, in place, with no buffer that grows and moves. Both passes see
// the same tree and write the same pieces; should they ever disagree, the
// text is written once more the general way.
std::string Utf8XML(const TXmlNode* n, bool preserve) {
  static constexpr std::size_t kScratchSize = 64 << 10;
  static thread_local std::unique_ptr<char[]> tlScratch;
  if (!tlScratch) tlScratch.reset(new char[kScratchSize]);
  {
    TRawOut raw{tlScratch.get(), tlScratch.get() + kScratchSize};
    TXmlWriter<TRawOut>(raw, preserve).Node(n, 0);  // stops when the buffer is full
    if (!raw.Overrun) return std::string(tlScratch.get(), static_cast<std::size_t>(raw.P - tlScratch.get()));
  }
  TCountOut count;
  TXmlWriter<TCountOut>(count, preserve).Node(n, 0);
  std::string out;
  bool exact = false;
  auto fill = [&](char* p, std::size_t size) {
    TRawOut raw{p, p + size};
    TXmlWriter<TRawOut>(raw, preserve).Node(n, 0);
    exact = !raw.Overrun && raw.P == raw.End;
    return size;
  };
#if defined(__cpp_lib_string_resize_and_overwrite)
  out.resize_and_overwrite(count.Size, fill);
#else
  out.resize(count.Size);
  fill(out.data(), out.size());
#endif
  if (exact) return out;
  TXmlSaver saver(65001, nullptr);
  TXmlWriter<TXmlSaver>(saver, preserve).Node(n, 0);
  return saver.Take();
}

}  // namespace

bool PreserveOf(const TXmlNode* n) {
  for (; n; n = n->FParentNode)
    if (n->FNodeType == NODE_DOCUMENT) return static_cast<const TXmlDocCore*>(n)->FPreserveWhiteSpace;
  return DefaultPreserveWhiteSpace;
}

std::string NodeXML(const TXmlNode* n) { return Utf8XML(n, PreserveOf(n)); }


int TXmlDocument::SaveCodepage() const {
  for (std::uint32_t k = 0; k < FChildCount; ++k) {
    const TXmlNode* n = Kids()[k];
    if (n->FNodeType != NODE_PROCESSING_INSTRUCTION || static_cast<const TXmlPICore*>(n)->FTargetNameID != Names()->FXmlNameID)
      continue;
    const TXmlAttrData* a = FindAttr(n, Names()->FEncodingNameId);
    const std::string enc = a ? VarToXSTR(a->Value) : std::string();
    if (enc.empty()) return 65001;
    const int cp = XmlEncodingCodepage(enc);
    if (!cp) Fail1(kMsgEncoding, enc);
    return cp;
  }
  return 65001;
}

void TXmlDocument::Save(TStream& stream) const {
  TXmlSaver saver(SaveCodepage(), &stream, 4096);
  TXmlWriter<TXmlSaver>(saver, FPreserveWhiteSpace).Node(this, 0);
  saver.Finish();
}

std::string TXmlDocument::SaveXML() const {
  const int codepage = SaveCodepage();
  if (codepage == 65001) return Utf8XML(this, FPreserveWhiteSpace);
  TXmlSaver saver(codepage, nullptr);
  TXmlWriter<TXmlSaver>(saver, FPreserveWhiteSpace).Node(this, 0);
  return saver.Take();
}

}  // namespace xmldetail

}  // namespace nx
