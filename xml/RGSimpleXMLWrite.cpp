// RGSimpleXMLWrite: the text writer of the XML unit: output in the
// document's code page, indentation, and the XML text of nodes and documents.
#include "xml/RGSimpleXMLInternal.h"

namespace nx {

namespace NX_XML_LOCAL xmldetail {

// ===================================================================== writer

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

class TXmlWriter {
 public:
  TXmlWriter(TXmlSaver& saver, bool preserveWhiteSpace) : O(saver), FPreserve(preserveWhiteSpace) {}

  // `depth`: the number of ancestor elements (the indent of an element).
  // The walk keeps its own stack of open containers instead of recursing, so
  // that the depth of a tree is bounded by memory, not by the thread's stack.
  void Node(const TXmlNode* n, int depth) {
    FStack.clear();
    Open(n, depth);
    while (!FStack.empty()) {
      TFrame& f = FStack.back();
      if (f.Next < f.Node->FChildCount) {
        const TXmlNode* child = f.Node->FChilds[f.Next++];
        Open(child, f.Node->FNodeType == NODE_ELEMENT ? f.Depth + 1 : f.Depth);  // may grow FStack
        continue;
      }
      if (f.Node->FNodeType == NODE_ELEMENT) Close(static_cast<const TXmlElementCore*>(f.Node), f.Depth);
      FStack.pop_back();
    }
  }

 private:
  void Escaped(std::string_view s) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < s.size(); ++k) {
      const char c = s[k];
      const char* rep;
      switch (c) {
        case '"': rep = "&quot;"; break;
        case '&': rep = "&amp;"; break;
        case '<': rep = "&lt;"; break;
        case '>': rep = "&gt;"; break;
        default: continue;
      }
      O.Write(s.substr(start, k - start));
      O.Write(rep);
      start = k + 1;
    }
    O.Write(s.substr(start));
  }
  void Escaped(const TVariant& v) {
    if (v.IsString()) Escaped(v.StrView());
    else Escaped(std::string_view(VarToXSTR(v)));
  }
  void Attrs(const TXmlContainer* c) {
    for (std::uint32_t k = 0; k < c->FAttrCount; ++k) {
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
    if (!FPreserve && !(e->FChildCount == 1 && e->FChilds[0]->FNodeType != NODE_ELEMENT)) LineBreak(depth);
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
  TXmlSaver& O;
  bool FPreserve;
};

bool PreserveOf(const TXmlNode* n) {
  for (; n; n = n->FParentNode)
    if (n->FNodeType == NODE_DOCUMENT) return static_cast<const TXmlDocCore*>(n)->FPreserveWhiteSpace;
  return DefaultPreserveWhiteSpace;
}

std::string NodeXML(const TXmlNode* n) {
  TXmlSaver saver(65001, nullptr);
  TXmlWriter(saver, PreserveOf(n)).Node(n, 0);
  return saver.Take();
}


int TXmlDocument::SaveCodepage() const {
  for (std::uint32_t k = 0; k < FChildCount; ++k) {
    const TXmlNode* n = FChilds[k];
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
  TXmlWriter(saver, FPreserveWhiteSpace).Node(this, 0);
  saver.Finish();
}

std::string TXmlDocument::SaveXML() const {
  TXmlSaver saver(SaveCodepage(), nullptr);
  TXmlWriter(saver, FPreserveWhiteSpace).Node(this, 0);
  return saver.Take();
}

}  // namespace xmldetail

}  // namespace nx
