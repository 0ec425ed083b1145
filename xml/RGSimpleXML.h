// RGSimpleXML: a small, self-contained XML library. A reference-counted node
// tree behind interfaces, a name table that interns element and attribute
// names (names compare by identity), a streaming text parser with its own
// character decoding, a text writer with optional indentation, and a compact
// binary form of the same tree. Values of elements, text nodes and attributes
// are variants converted to and from text by fixed rules.
//
// Strings at this interface are UTF-8. Where the formats count 16-bit code
// units (the name hash, character references, the wide binary strings) the
// code converts at that point.
//
// Threading: nothing here locks; a document and its name table are used by one
// thread at a time (reference counts of nodes are not atomic).
//
// Resources: Linux has no resource section. LoadResource and
// LoadXmlDocument(type, name) read byte arrays that the program registered
// with RegisterXmlResource (for example data it embeds with #embed or a
// generated array).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Streams.h"
#include "runtime/Zandor.Variants.h"

namespace nx {

// Every failure of this unit (parser, binary reader and writer, accessors).
NX_DECLARE_EXCEPTION(EXmlError, Exception, "XML error")

// A failure of the text parser, with where it stands in the input: the line
// and column (1-based; the column counts characters) of the character the
// parser stopped at, and its offset in bytes from the start of the input (for
// a failure at the end of the input: the position after the last character).
// After a declaration of a code page the offset counts that code page's
// characters, which is its bytes for every single-byte code page.
class EXmlParseError : public EXmlError {
 public:
  EXmlParseError(std::string message, std::uint64_t line, std::uint64_t column, std::uint64_t offset)
      : EXmlError(std::move(message)), Line(line), Column(column), Offset(offset) {}
  std::uint64_t Line;
  std::uint64_t Column;
  std::uint64_t Offset;
};

enum TXmlNodeType : std::uint8_t {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_TEXT = 2,
  NODE_CDATA_SECTION = 3,
  NODE_PROCESSING_INSTRUCTION = 4,
  NODE_COMMENT = 5,
  NODE_DOCUMENT = 6,
};

inline constexpr bool DefaultPreserveWhiteSpace = false;
inline constexpr const char* DefaultIndentText = "\t";
inline constexpr char XMLPathDelimiter = '\\';
inline constexpr char BinXmlSignature[] = "< binary-xml >";
inline constexpr int BinXmlSignatureSize = 14;
inline constexpr std::uint32_t BINXML_USE_WIDE_CHARS = 1;
inline constexpr std::uint32_t BINXML_COMPRESSED = 2;  // declared, not used
inline constexpr const char* XSTR_NULL = "{{null}}";
inline constexpr int DefaultHashSize = 1009;
inline constexpr int SourceBufferSize = 16384;

// An interned name: its identity is the name ID. Names are never removed from
// their table, so an ID stays valid as long as the table lives.
struct TXmlName {
  std::string Text;   // UTF-8
  std::uint32_t Hash; // over the UTF-16 code units, see NameHash
};
using TXmlNameID = const TXmlName*;

// The name hash: h := h + ((h shl 6) xor c) over the UTF-16 code units of the
// name, unsigned 32-bit with wrap-around.
std::uint32_t NameHash(std::string_view utf8Name);

// Code page of an encoding name (letter case ignored); 0 when not supported.
int XmlEncodingCodepage(std::string_view name);

// Path-selection types: declared for completeness, not used by SelectNodes.
enum TAxis {
  axAncestor, axAncestorOrSelf, axAttribute, axChild, axDescendant, axDescendantOrSelf,
  axFollowing, axFollowingSibling, axParent, axPreceding, axPrecedingSibling, axSelf
};
enum TNodeTest { ntComment, ntNode, ntProcessingInstruction, ntText };
struct TPredicate {
  std::string Expression;
};
struct TLocationStep {
  TAxis Axis = axChild;
  TNodeTest NodeTest = ntNode;
  std::string Name;
  std::vector<TPredicate> Predicates;
};

struct IXmlNode;
struct IXmlElement;
struct IXmlText;
struct IXmlCDATASection;
struct IXmlComment;
struct IXmlProcessingInstruction;
struct IXmlDocument;
class TXmlNode;
class TBinXmlReader;
class TBinXmlWriter;

struct IXmlBase : virtual IInterface {
  NX_INTERFACE_ID(IXmlBase, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A60}");
};

struct IXmlNameTable : IXmlBase {
  NX_INTERFACE_ID(IXmlNameTable, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A61}");
  // The ID of a name, interning it when new.
  virtual TXmlNameID GetID(std::string_view name) = 0;
  // The ID of a name already in the table, or nullptr.
  virtual TXmlNameID FindID(std::string_view name) const = 0;
  // The ID of the first name with this hash, or nullptr.
  virtual TXmlNameID FindByHash(std::uint32_t hash) const = 0;
  virtual std::string GetName(TXmlNameID id) const = 0;
  virtual int NameCount() const = 0;
  virtual TXmlNameID NameAt(int index) const = 0;
  virtual int BucketCount() const = 0;
};

struct IXmlNodeList : IXmlBase {
  NX_INTERFACE_ID(IXmlNodeList, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A62}");
  virtual int Count() const = 0;
  // Raises "Error obtaining the element the list: Index out of range".
  virtual TIntfPtr<IXmlNode> Item(int index) const = 0;
  virtual std::string XML() const = 0;
};

struct IXmlNode : IXmlBase {
  NX_INTERFACE_ID(IXmlNode, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A63}");
  // The implementation object (internal).
  virtual TXmlNode* NodeObject() noexcept = 0;

  virtual std::string NodeName() const = 0;
  virtual TXmlNameID NodeNameID() const = 0;
  virtual TXmlNodeType NodeType() const = 0;
  // The line (1-based) of an element's start tag in the text it was parsed
  // from, for messages about the document's content; 0 for an element made in
  // code or read from the binary form (which keeps no lines), and for every
  // other node type.
  virtual std::uint32_t SourceLine() const = 0;
  virtual TIntfPtr<IXmlNode> ParentNode() const = 0;
  virtual TIntfPtr<IXmlDocument> OwnerDocument() const = 0;
  virtual TIntfPtr<IXmlNameTable> NameTable() const = 0;
  virtual TIntfPtr<IXmlNodeList> ChildNodes() = 0;
  virtual int AttrCount() const = 0;
  virtual std::string AttrName(int index) const = 0;
  virtual TXmlNameID AttrNameID(int index) const = 0;
  virtual std::string Text() const = 0;
  virtual void SetText(std::string_view text) = 0;
  virtual TVarType DataType() const = 0;
  virtual TVariant TypedValue() const = 0;
  virtual void SetTypedValue(const TVariant& value) = 0;
  // The node's text form (indented unless its document preserves white space).
  virtual std::string XML() const = 0;
  // The value of the first child element with this name (empty when none);
  // setting makes the child when it is missing.
  virtual TVariant Values(std::string_view name) const = 0;
  virtual void SetValues(std::string_view name, const TVariant& value) = 0;

  virtual TIntfPtr<IXmlNode> CloneNode(bool deep) const = 0;
  virtual TIntfPtr<IXmlNode> AppendChild(const TIntfPtr<IXmlNode>& child) = 0;
  virtual TIntfPtr<IXmlNode> InsertBefore(const TIntfPtr<IXmlNode>& child, const TIntfPtr<IXmlNode>& before) = 0;
  virtual TIntfPtr<IXmlNode> RemoveChild(const TIntfPtr<IXmlNode>& child) = 0;
  virtual TIntfPtr<IXmlNode> ReplaceChild(const TIntfPtr<IXmlNode>& newChild, const TIntfPtr<IXmlNode>& oldChild) = 0;
  virtual void RemoveAllChilds() = 0;
  virtual TIntfPtr<IXmlElement> AppendElement(std::string_view name) = 0;
  virtual TIntfPtr<IXmlElement> AppendElement(TXmlNameID nameID) = 0;
  virtual TIntfPtr<IXmlText> AppendText(const TVariant& value) = 0;
  virtual TIntfPtr<IXmlCDATASection> AppendCDATA(std::string_view data) = 0;
  virtual TIntfPtr<IXmlComment> AppendComment(std::string_view data) = 0;
  virtual TIntfPtr<IXmlProcessingInstruction> AppendProcessingInstruction(std::string_view target,
                                                                           std::string_view data) = 0;
  // The first child element named `name` whose attribute `attrName` has the
  // text `attrValue`; with an empty attrName the first child element of that name.
  virtual TIntfPtr<IXmlElement> FindElement(std::string_view name, std::string_view attrName,
                                            std::string_view attrValue) const = 0;
  // The first child node (of any type) with this name ID.
  virtual TIntfPtr<IXmlNode> FindFirstChild(TXmlNameID nameID) const = 0;
  virtual TIntfPtr<IXmlNodeList> SelectNodes(std::string_view path) const = 0;
  virtual TIntfPtr<IXmlNode> SelectSingleNode(std::string_view path) const = 0;
  // The names of the node's ancestors and its own, joined by the path delimiter.
  virtual std::string FullPath() const = 0;
  virtual std::string GetChildText(std::string_view name, std::string_view def = {}) const = 0;
  virtual void SetChildText(std::string_view name, std::string_view text) = 0;
  virtual TIntfPtr<IXmlElement> EnsureChild(std::string_view name) = 0;
  // Raises "Error: Child node "%s" not found".
  virtual TIntfPtr<IXmlElement> NeedChild(std::string_view name) const = 0;

  virtual std::string GetAttr(std::string_view name, std::string_view def = {}) const = 0;
  virtual void SetAttr(std::string_view name, std::string_view value) = 0;
  virtual TVariant GetVarAttr(std::string_view name, const TVariant& def = TVariant()) const = 0;
  virtual void SetVarAttr(std::string_view name, const TVariant& value) = 0;
  virtual std::int32_t GetIntAttr(std::string_view name, std::int32_t def = 0) const = 0;
  virtual void SetIntAttr(std::string_view name, std::int32_t value) = 0;
  virtual std::uint32_t GetHexAttr(std::string_view name, std::uint32_t def = 0) const = 0;
  virtual void SetHexAttr(std::string_view name, std::uint32_t value, int digits = 8) = 0;
  virtual bool GetBoolAttr(std::string_view name, bool def = false) const = 0;
  virtual void SetBoolAttr(std::string_view name, bool value) = 0;
  virtual double GetFloatAttr(std::string_view name, double def = 0) const = 0;
  virtual void SetFloatAttr(std::string_view name, double value) = 0;
  virtual double GetDateTimeAttr(std::string_view name, double def = 0) const = 0;
  virtual void SetDateTimeAttr(std::string_view name, double value) = 0;
  // The index of the attribute's text in `values`; `def` when the attribute is
  // missing; a text outside the list raises "Incorrect value of the attribute...".
  virtual int GetEnumAttr(std::string_view name, const std::vector<std::string>& values, int def = 0) const = 0;
  virtual int NeedEnumAttr(std::string_view name, const std::vector<std::string>& values) const = 0;
  // Raises "Attribute "%s" not found" / "Attribute "%s" not assigned".
  virtual std::string NeedAttr(std::string_view name) const = 0;
  virtual bool AttrExists(std::string_view name) const = 0;
  virtual TVarType GetAttrType(std::string_view name) const = 0;
  virtual void RemoveAttr(std::string_view name) = 0;
  virtual void RemoveAllAttrs() = 0;

  virtual TIntfPtr<IXmlElement> AsElement() = 0;
  virtual TIntfPtr<IXmlText> AsText() = 0;
  virtual TIntfPtr<IXmlCDATASection> AsCDATASection() = 0;
  virtual TIntfPtr<IXmlComment> AsComment() = 0;
  virtual TIntfPtr<IXmlProcessingInstruction> AsProcessingInstruction() = 0;

  // The node's attributes and children in the binary form.
  virtual void LoadBinXml(TBinXmlReader& reader) = 0;
  virtual void SaveBinXml(TBinXmlWriter& writer) const = 0;
};

struct IXmlElement : IXmlNode {
  NX_INTERFACE_ID(IXmlElement, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A64}");
  virtual void RemoveTextNodes() = 0;
  virtual void ReplaceTextByCDATASection(std::string_view text) = 0;
  virtual void ReplaceTextByBinaryData(const void* data, std::size_t size, int maxLineLength) = 0;
  virtual std::vector<std::uint8_t> GetTextAsBinaryData() const = 0;
};

struct IXmlCharacterData : IXmlNode {
  NX_INTERFACE_ID(IXmlCharacterData, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A65}");
};
struct IXmlText : IXmlNode {
  NX_INTERFACE_ID(IXmlText, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A66}");
};
struct IXmlCDATASection : IXmlCharacterData {
  NX_INTERFACE_ID(IXmlCDATASection, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A67}");
};
struct IXmlComment : IXmlCharacterData {
  NX_INTERFACE_ID(IXmlComment, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A68}");
};
struct IXmlProcessingInstruction : IXmlNode {
  NX_INTERFACE_ID(IXmlProcessingInstruction, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A69}");
  virtual std::string Target() const = 0;
};

struct IXmlDocument : IXmlNode {
  NX_INTERFACE_ID(IXmlDocument, "{5B2E3C41-7A10-4C3B-9E0A-3F1D2C4B5A6A}");
  virtual bool PreserveWhiteSpace() const = 0;
  virtual void SetPreserveWhiteSpace(bool value) = 0;
  virtual TIntfPtr<IXmlElement> DocumentElement() const = 0;
  // The binary form with options 0.
  virtual std::string BinaryXML() const = 0;
  virtual TIntfPtr<IXmlElement> NewDocument(std::string_view version, std::string_view encoding,
                                            std::string_view rootName) = 0;
  virtual TIntfPtr<IXmlElement> CreateElement(std::string_view name) = 0;
  virtual TIntfPtr<IXmlText> CreateText(const TVariant& value) = 0;
  virtual TIntfPtr<IXmlComment> CreateComment(std::string_view data) = 0;
  virtual TIntfPtr<IXmlCDATASection> CreateCDATASection(std::string_view data) = 0;
  virtual TIntfPtr<IXmlProcessingInstruction> CreateProcessingInstruction(std::string_view target,
                                                                          std::string_view data) = 0;
  virtual void Load(TStream& stream) = 0;
  virtual void Load(const std::string& fileName) = 0;
  virtual void LoadXML(std::string_view xml) = 0;
  virtual void LoadBinaryXML(std::string_view data) = 0;
  virtual void LoadResource(std::string_view type, std::string_view name) = 0;
  virtual void Save(TStream& stream) const = 0;
  virtual void Save(const std::string& fileName) const = 0;
  virtual std::string SaveXML() const = 0;
  virtual void SaveBinary(TStream& stream, std::uint32_t options = 0) const = 0;
};

// ---- node lists

class TXmlNodeList final : public IXmlNodeList {
 public:
  // A list of its own (owner null) or the child list of `owner`.
  explicit TXmlNodeList(TXmlNode* owner = nullptr);
  ~TXmlNodeList() override;

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  std::int32_t _AddRef() noexcept override { return ++FRefCount; }
  std::int32_t _Release() noexcept override;

  int Count() const override;
  TIntfPtr<IXmlNode> Item(int index) const override;
  std::string XML() const override;

  int IndexOf(const TIntfPtr<IXmlNode>& node) const;
  // Inserts at `index`; -1 appends. Returns the index.
  int Insert(const TIntfPtr<IXmlNode>& node, int index = -1);
  int Remove(const TIntfPtr<IXmlNode>& node);
  void Delete(int index);
  void Replace(int index, const TIntfPtr<IXmlNode>& node);
  void Exchange(int index1, int index2);
  void Clear();

 private:
  TXmlNode* FOwnerNode;  // holds a reference while set
  std::vector<TXmlNode*> FItems;  // own items (each with a reference) when there is no owner
  std::int32_t FRefCount = 0;
};

// ---- binary readers and writers

class TBinXmlReader {
 public:
  TBinXmlReader() = default;
  TBinXmlReader(const TBinXmlReader&) = delete;
  TBinXmlReader& operator=(const TBinXmlReader&) = delete;
  virtual ~TBinXmlReader() = default;

  std::uint32_t Options() const { return FOptions; }
  void SetOptions(std::uint32_t options) { FOptions = options; }

  // Exactly `count` bytes, else "Error reading data".
  void Read(void* dest, std::size_t count);
  std::uint8_t ReadByte();
  std::int32_t ReadLongint();
  std::int32_t ReadCompact();
  std::string ReadAnsiString();   // narrow form
  std::string ReadWideString();   // wide form, returned as UTF-8
  std::string ReadXmlString();    // per the options
  TVariant ReadVariant();
  // Reads a name table (count, then the names) into `names`, remembering each
  // name's ID by its hash for ReadNameID (the first name of a hash wins).
  void ReadNameTable(IXmlNameTable& names);
  // A name referred to by its hash; an unknown hash raises "Error reading data".
  TXmlNameID ReadNameID();
  // How many more bytes there are at most (for sanity checks of counts).
  virtual std::uint64_t Remaining() const = 0;

 protected:
  // Reads up to `count` bytes; returns how many.
  virtual std::size_t ReadRaw(void* dest, std::size_t count) = 0;
  std::uint32_t FOptions = 0;
  std::unordered_map<std::uint32_t, TXmlNameID> FNameMap;
};

class TBinXmlWriter {
 public:
  TBinXmlWriter() = default;
  TBinXmlWriter(const TBinXmlWriter&) = delete;
  TBinXmlWriter& operator=(const TBinXmlWriter&) = delete;
  virtual ~TBinXmlWriter() = default;

  std::uint32_t Options() const { return FOptions; }
  void SetOptions(std::uint32_t options) { FOptions = options; }

  void Write(const void* data, std::size_t count) { FBuf.append(static_cast<const char*>(data), count); Spill(); }
  void WriteByte(std::uint8_t b) { FBuf.push_back(static_cast<char>(b)); Spill(); }
  void WriteLongint(std::int32_t value);
  void WriteCompact(std::int32_t value);
  void WriteAnsiString(std::string_view utf8);
  void WriteWideString(std::string_view utf8);
  void WriteXmlString(std::string_view utf8);
  void WriteVariant(const TVariant& value);
  void WriteNameTable(const IXmlNameTable& names);
  // A name by its hash (all 32 bits: a hash of 2^31 or more takes the
  // five-byte form and reads back unchanged).
  void WriteNameID(TXmlNameID id) { WriteCompact(static_cast<std::int32_t>(id->Hash)); }
  // Hands the buffered bytes on.
  virtual void Flush() {}

 protected:
  virtual void Spill() {}
  std::string FBuf;
  std::uint32_t FOptions = 0;
};

// On a stream, buffered 65536 bytes; reading starts at the stream's position.
class TStmXmlReader final : public TBinXmlReader {
 public:
  TStmXmlReader(TStream& stream, std::uint32_t options = 0);
  std::uint64_t Remaining() const override;

 protected:
  std::size_t ReadRaw(void* dest, std::size_t count) override;

 private:
  TStream& FStream;
  std::vector<char> FBuffer;
  std::size_t FPos = 0, FEnd = 0;
  std::uint64_t FStreamLeft;
};

class TStmXmlWriter final : public TBinXmlWriter {
 public:
  TStmXmlWriter(TStream& stream, std::uint32_t options = 0);
  ~TStmXmlWriter() override;  // flushes
  void Flush() override;

 protected:
  void Spill() override {
    if (FBuf.size() >= 65536) Flush();
  }

 private:
  TStream& FStream;
};

// On a byte string (read in place; the string must outlive the reader).
class TStrXmlReader final : public TBinXmlReader {
 public:
  explicit TStrXmlReader(std::string_view data, std::uint32_t options = 0);
  std::uint64_t Remaining() const override { return FData.size() - FPos; }

 protected:
  std::size_t ReadRaw(void* dest, std::size_t count) override;

 private:
  std::string_view FData;
  std::size_t FPos = 0;
};

// Into a byte string.
class TStrXmlWriter final : public TBinXmlWriter {
 public:
  explicit TStrXmlWriter(std::uint32_t options = 0) { FOptions = options; }
  const std::string& Data() const { return FBuf; }
  std::string TakeData() { return std::move(FBuf); }
};

// ---- free functions

TIntfPtr<IXmlNameTable> CreateNameTable(int hashTableSize = DefaultHashSize);
TIntfPtr<IXmlElement> CreateXmlElement(std::string_view name, const TIntfPtr<IXmlNameTable>& names = nullptr);
TIntfPtr<IXmlDocument> CreateXmlDocument(std::string_view rootName = {}, std::string_view version = "1.0",
                                         std::string_view encoding = "UTF-8",
                                         const TIntfPtr<IXmlNameTable>& names = nullptr);
TIntfPtr<IXmlDocument> LoadXmlDocumentFromXML(std::string_view xml);
TIntfPtr<IXmlDocument> LoadXmlDocumentFromBinaryXML(std::string_view data);
TIntfPtr<IXmlDocument> LoadXmlDocument(TStream& stream);
TIntfPtr<IXmlDocument> LoadXmlDocument(const std::string& fileName);
TIntfPtr<IXmlDocument> LoadXmlDocument(std::string_view resType, std::string_view resName);

// Registers the bytes of a resource for LoadResource (replaces an earlier one).
void RegisterXmlResource(std::string_view resType, std::string_view resName, std::string_view data);

std::string TextToXML(std::string_view text);
double XSTRToFloat(std::string_view text);
std::string FloatToXSTR(double value);
std::string DateTimeToXSTR(double dateTime);
double XSTRToDateTime(std::string_view text);
std::string VarToXSTR(const TVariant& value);
std::string BinToBase64(const void* data, std::size_t size, int maxLineLength);
std::vector<std::uint8_t> Base64ToBin(std::string_view text);
bool IsXmlDataString(std::string_view data);
bool XmlIsInBinaryFormat(std::string_view data);
// With a name, appends a child element of that name and returns it; without,
// returns the element itself.
TIntfPtr<IXmlElement> PrepareToSaveXml(const TIntfPtr<IXmlElement>& element, std::string_view name);
// With a name, the child element selected by that path (null when missing);
// without, the element itself.
TIntfPtr<IXmlElement> PrepareToLoadXml(const TIntfPtr<IXmlElement>& element, std::string_view name);

}  // namespace nx
