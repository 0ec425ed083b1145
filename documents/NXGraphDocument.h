// NXGraphDocument: graph documents. A tree of components (a root and the
// components it owns, and theirs) is saved with its pin links as XML, in text
// or binary form, and loaded again: the components are made by class name,
// their published properties set, their links re-made, Loaded called.
//
// Document form:
//
//   <NXGraph Version="1">
//     <TRootClass Name="Root" Tag="3">          the root component
//       <_Components>                           a list member: one element per item,
//         <TNodeClass Name="A" Gain="0.25"/>      named by the item's class
//       </_Components>
//       <Font><TFontClass Size="9"/></Font>     a nested object member: one element
//     </TRootClass>                             of its class inside an element named by the key
//     <Links>
//       <Link From="A" FromPin="Out" To="B" ToPin="In"/>
//     </Links>
//   </NXGraph>
//
// Scalar members are attributes named by their key. Values are text:
// Booleans "true"/"false", integers in decimal, doubles with 17 significant
// digits (they read back to the same bits), strings as they are, byte blocks
// as lowercase hexadecimal. A member is read as the kind the reader asks for,
// so a value that does not parse as that kind is an error. Keys and class
// names must be XML names (letters, digits, '_', '-', '.'; not starting with a
// digit, '-' or '.'). Components in links are dotted paths from the root
// ("Group.Filter1"); the root itself is the empty path.
//
// Links are written for every source pin of a pin owner (INXPinOwner) in the
// tree whose peer is a pin of a pin owner in the same tree, in tree order;
// links to pins outside the tree (or to a format converter's pin) are not
// saved. On loading they are made once the whole tree is read and Loaded has
// run on every component: a link's connect hooks then see finished components.
//
// Any failure while loading (malformed XML, an unknown class, a member no
// published property reads, a value of the wrong kind, a duplicate name, a
// link naming a missing component or pin, or one the pins refuse) ends in one
// EGraphDocumentError, and every component made so far is freed again. A
// malformed text names the XML line and column; any other failure names the
// element (its path) and the line of its start tag:
//   "Class TFoo not found (at /NXGraph/TRoot[@Name='R']/_Components/TFoo, line 4)"
// A binary document keeps no lines: its messages say "binary document, no
// line" in place of the line (a document built in code: "no source line").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/NXPinOwner.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Streams.h"
#include "streams/FTPins.h"
#include "xml/RGSimpleXML.h"

namespace nx {

NX_DECLARE_EXCEPTION(EGraphDocumentError, Exception, "Graph document error")

// IWriter over an XML element: appends the element of the root object (named
// by its class) to AParent; members follow.
class TXmlWriter final : public IWriter {
 public:
  TXmlWriter(const TIntfPtr<IXmlElement>& AParent, std::string_view AClassName);
  // Everything opened must be closed.
  void Finish();
  const TIntfPtr<IXmlElement>& RootElement() const noexcept { return FRoot; }

  void WriteBoolean(std::string_view AKey, bool AValue) override;
  void WriteInt32(std::string_view AKey, std::int32_t AValue) override;
  void WriteUInt32(std::string_view AKey, std::uint32_t AValue) override;
  void WriteInt64(std::string_view AKey, std::int64_t AValue) override;
  void WriteUInt64(std::string_view AKey, std::uint64_t AValue) override;
  void WriteDouble(std::string_view AKey, double AValue) override;
  void WriteString(std::string_view AKey, std::string_view AValue) override;
  void WriteBytes(std::string_view AKey, const void* AData, std::uint64_t ACount) override;
  void BeginObject(std::string_view AKey, std::string_view AClassName) override;
  void EndObject() override;
  void BeginList(std::string_view AKey) override;
  void BeginItem(std::string_view AClassName) override;
  void EndItem() override;
  void EndList() override;

 private:
  enum class TKind : std::uint8_t { Object, List, Item };
  void Attr(std::string_view AKey, const std::string& AText);
  void Push(TKind AKind, TIntfPtr<IXmlElement> AElement);
  void Pop(TKind AKind);

  TIntfPtr<IXmlElement> FRoot;
  std::vector<std::pair<TKind, TIntfPtr<IXmlElement>>> FOpen;
};

// IReader over the element of a root object written by TXmlWriter. Besides
// the interface's checks it remembers which members were asked for: a member
// nobody read (no property of that name) is an error when its object ends
// (CheckAllRead for the root).
class TXmlReader final : public IReader {
 public:
  explicit TXmlReader(const TIntfPtr<IXmlElement>& ARootElement);
  const std::string& RootClassName() const noexcept { return FRootClass; }
  // ESerializationError for a member of the current object nobody read.
  void CheckAllRead();
  // Where the reader stands: "/TRoot[@Name='R']/_Components/TNode[@Name='A']".
  std::string CurrentPath() const;
  // The source line of what the last failure was about (a member element, or
  // the element the reader stands in); 0 when the elements carry no lines.
  std::uint32_t CurrentLine() const;

  bool HasKey(std::string_view AKey) override;
  bool ReadBoolean(std::string_view AKey, bool& AValue) override;
  bool ReadInt32(std::string_view AKey, std::int32_t& AValue) override;
  bool ReadUInt32(std::string_view AKey, std::uint32_t& AValue) override;
  bool ReadInt64(std::string_view AKey, std::int64_t& AValue) override;
  bool ReadUInt64(std::string_view AKey, std::uint64_t& AValue) override;
  bool ReadDouble(std::string_view AKey, double& AValue) override;
  bool ReadString(std::string_view AKey, std::string& AValue) override;
  bool ReadBytes(std::string_view AKey, std::vector<std::uint8_t>& AValue) override;
  bool BytesLength(std::string_view AKey, std::uint64_t& ALength) override;
  bool ReadBytesInto(std::string_view AKey, void* ADest, std::uint64_t ACapacity, std::uint64_t& ACopied) override;
  bool BeginObject(std::string_view AKey, std::string& AClassName) override;
  void EndObject() override;
  bool BeginList(std::string_view AKey, std::uint32_t& ACount) override;
  void BeginItem(std::string& AClassName) override;
  void EndItem() override;
  void EndList() override;

 private:
  enum class TKind : std::uint8_t { Object, List, Item };
  struct TMember {
    std::string Key;
    std::string Text;                // attributes
    TIntfPtr<IXmlNode> Element;      // child elements (objects and lists)
    std::uint32_t Line = 0;          // an element's own; an attribute's element's
    bool Read = false;
  };
  struct TScope {
    TKind Kind;
    std::string Label;                        // for CurrentPath
    std::vector<TMember> Members;             // objects and items
    std::vector<TIntfPtr<IXmlNode>> Items;    // lists
    std::size_t Next = 0;                     // lists: the next item
    std::uint32_t Line = 0;
  };
  // ESerializationError; ALine (when not 0) is what CurrentLine reports.
  [[noreturn]] void Fail(const std::string& AMessage, std::uint32_t ALine = 0);
  void Enter(TKind AKind, const TIntfPtr<IXmlNode>& AElement);
  TScope& Current();
  TMember* Find(std::string_view AKey);
  // The text of an attribute member (null when absent); ESerializationError
  // when the key names an element member.
  const std::string* Text(std::string_view AKey, const char* AKindName);
  template <class T>
  bool ReadInteger(std::string_view AKey, T& AValue, const char* AKindName);

  std::vector<TScope> FScopes;
  std::string FRootClass;
  std::uint32_t FFailLine = 0;
  std::uint32_t FValueLine = 0;  // of the member whose text was read last
};

enum class TGraphDocumentFormat : std::uint8_t { Text, Binary };

class TNXGraphDocument {
 public:
  // The document of ARoot and its tree, with its links.
  static TIntfPtr<IXmlDocument> ToXml(const TComponent& ARoot);
  static std::string SaveToString(const TComponent& ARoot, TGraphDocumentFormat AFormat = TGraphDocumentFormat::Text);
  static void SaveToStream(const TComponent& ARoot, TStream& AStream,
                           TGraphDocumentFormat AFormat = TGraphDocumentFormat::Text);
  static void SaveToFile(const TComponent& ARoot, const std::string& AFileName,
                         TGraphDocumentFormat AFormat = TGraphDocumentFormat::Text);

  // Loads a document (text or binary, told apart by its first bytes) and
  // returns the new root component, owned by AOwner (null: the caller frees
  // it). EGraphDocumentError on any failure, with nothing left behind.
  static TComponent* LoadFromString(std::string_view AData, TComponent* AOwner);
  static TComponent* LoadFromStream(TStream& AStream, TComponent* AOwner);
  static TComponent* LoadFromFile(const std::string& AFileName, TComponent* AOwner);
  static TComponent* FromXml(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner);
};

}  // namespace nx
