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
// published property reads, a value of the wrong kind or outside a
// property's range, a duplicate name, a link naming a missing component or
// pin, or one the pins refuse) ends in one EGraphDocumentError, and every
// component made so far is freed again. The message says where: the file
// and line of the element's start tag, then what is wrong, then the element
// (its path); an unknown class or property comes with the registered names
// nearest to it:
//   graph.xml:4: unknown component class "TFoo" (did you mean "TFool"?) (at /NXGraph/TRoot[@Name='R']/_Components/TFoo)
//   graph.xml:7: value 0 of Order is out of range (minimum 1) (at /NXGraph/TRoot[@Name='R']/_Components/TNode[@Name='A'])
//   graph.xml:3:12: <text of the XML parser>              (malformed text: line and column)
// A document without a name (LoadFromString, LoadFromStream, FromXml) keeps
// the line in the parenthesis ("unknown component class "TFoo" (at
// /NXGraph/..., line 4)"), and malformed text reads "Line 3, column 12: ...".
// A binary document keeps no lines: its messages say "binary document, no
// line" in place of the line ("graph.bin: ... (at PATH, binary document, no
// line)"); a document built in code says "no source line".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/NXPinOwner.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Streams.h"
#include "runtime/Zandor.TypeInfo.h"
#include "streams/FTPins.h"
#include "xml/RGSimpleXML.h"

namespace nx {

NX_DECLARE_EXCEPTION(EGraphDocumentError, Exception, "Graph document error")

// The names of ACandidates nearest to AName (edit distance, adjacent
// transpositions counting one, ASCII case ignored), nearest first, at most
// AMax, and only those close enough to be a likely misspelling.
std::vector<std::string> NearestNames(std::string_view AName, const std::vector<std::string>& ACandidates,
                                      std::size_t AMax = 3);
// What a message adds for a misspelled name: ' (did you mean "A"?)',
// ' (did you mean one of "A", "B"?)', or "" when no candidate is near.
std::string DidYouMean(std::string_view AName, const std::vector<std::string>& ACandidates);
// 'unknown component class "TFoo"' with the nearest registered component
// classes (those that can be made) suggested.
std::string UnknownComponentClassMessage(std::string_view AName);
// 'value 0 of Order is out of range (minimum 1)' when AText is a finite
// number outside the declared range of a numeric property; "" for anything
// else (text that is not a number is left to the property's conversion).
std::string OutOfRangeMessage(const TPropInfo& AProp, std::string_view AText);

// Asked when a document names a component class that no class is registered
// under: returns true when classes may have been registered since (a package
// was loaded), and the name is looked up once more. What it throws ends the
// load like any other failure, placed at the element that named the class.
using TClassNotFoundHook = std::function<bool(std::string_view AClassName)>;

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
// (CheckAllRead for the root), with the class's nearest property names
// suggested. A number read for a published property of the object's class
// must lie within the property's declared range. The items of a component's
// list of children ("_Components") must name registered component classes;
// AOnClassNotFound, when given, is asked before one is refused.
class TXmlReader final : public IReader {
 public:
  explicit TXmlReader(const TIntfPtr<IXmlElement>& ARootElement, TClassNotFoundHook AOnClassNotFound = {});
  const std::string& RootClassName() const noexcept { return FRootClass; }
  // ESerializationError for a member of the current object nobody read.
  void CheckAllRead();
  // ESerializationError unless the object the reader stands in is of a
  // registered component class (the hook asked first).
  void CheckComponentClass();
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
    std::string Class;                        // objects and items: the element's name
    const TClassInfo* Info = nullptr;         // the class registered under it
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
  // Fails for the text of a number outside the declared range of the
  // current object's property AKey.
  void CheckRange(std::string_view AKey, const std::string& AText);

  std::vector<TScope> FScopes;
  std::string FRootClass;
  TClassNotFoundHook FOnClassNotFound;
  std::uint32_t FFailLine = 0;
  std::uint32_t FValueLine = 0;  // of the member whose text was read last
};

enum class TGraphDocumentFormat : std::uint8_t { Text, Binary };

// A document's bytes parsed but not yet loaded.
struct TGraphSource {
  std::string FileName;         // names the document in messages; "" for none
  TIntfPtr<IXmlDocument> Xml;
  bool Binary = false;          // read from the binary form, which keeps no lines
};

// A link between two pins of a tree, components by their dotted paths from
// the root ("" for the root itself).
struct TGraphLink {
  std::string From, FromPin, To, ToPin;
};

class TNXGraphDocument {
 public:
  // The document of ARoot and its tree, with its links.
  static TIntfPtr<IXmlDocument> ToXml(const TComponent& ARoot);
  static std::string SaveToString(const TComponent& ARoot, TGraphDocumentFormat AFormat = TGraphDocumentFormat::Text);
  static void SaveToStream(const TComponent& ARoot, TStream& AStream,
                           TGraphDocumentFormat AFormat = TGraphDocumentFormat::Text);
  static void SaveToFile(const TComponent& ARoot, const std::string& AFileName,
                         TGraphDocumentFormat AFormat = TGraphDocumentFormat::Text);
  // The links a document of ARoot holds: from every source pin of a pin
  // owner in the tree to each peer pin of a pin owner in the tree, in tree
  // order.
  static std::vector<TGraphLink> Links(const TComponent& ARoot);
  // The cycle that a new link from component AFrom to ATo (paths as Links
  // names them) would close with the links below ARoot, as "A -> B -> A"
  // from AFrom; "" when it would close none. Documents are refused with
  // such a cycle: a stream sent round it never ends.
  static std::string CycleWith(const TComponent& ARoot, const std::string& AFrom, const std::string& ATo);

  // Parses a document (text or binary, told apart by its first bytes)
  // without loading it; EGraphDocumentError for bytes that are not XML.
  // AFileName only names the document in messages.
  static TGraphSource ReadSource(std::string_view AData, std::string AFileName = {});
  // The same for a file; messages name it.
  static TGraphSource ReadSourceFile(const std::string& AFileName);
  // Makes the components and links of a parsed document and returns the new
  // root component, owned by AOwner (null: the caller frees it); an owner in
  // the designing state keeps generators from starting. EGraphDocumentError
  // on any failure, with nothing left behind.
  static TComponent* Load(const TGraphSource& ASource, TComponent* AOwner,
                          const TClassNotFoundHook& AOnClassNotFound = {});
  static TComponent* LoadFromString(std::string_view AData, TComponent* AOwner);
  static TComponent* LoadFromStream(TStream& AStream, TComponent* AOwner);
  // Messages name the file.
  static TComponent* LoadFromFile(const std::string& AFileName, TComponent* AOwner);
  // A document built in code (or parsed elsewhere): no name, and text form.
  static TComponent* FromXml(const TIntfPtr<IXmlDocument>& ADocument, TComponent* AOwner);

  // A message about the element ANode of a parsed document in the loader's
  // form ("graph.xml:1: AMessage (at /NXGraph)"), for a program that reads
  // attributes of its own from the document.
  static std::string MessageAt(const TGraphSource& ASource, const TIntfPtr<IXmlNode>& ANode,
                               std::string_view AMessage);
};

}  // namespace nx
