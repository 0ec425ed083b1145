// Zandor.Serialization: member-wise writing and reading of objects by key.
//
// A writer stores an object as a set of keyed members: Booleans, signed and
// unsigned 32/64-bit integers, doubles, strings, byte blocks, nested objects
// (each with its class name) and lists of objects. A reader finds members by
// key, in any order; members it is not asked for are skipped, so a form
// written by a newer version (with more keys) still reads.
//
// Binary form (all integers little-endian):
//
//   document := "NXSF" version:u8(=1) object
//   object   := length:u64 name:str member*      length = bytes after the length field
//   member   := tag:u8 key:str value
//   str      := n:varint byte[n]                  varint = LEB128, at most 10 bytes
//   value by tag:
//     1 false, 2 true                             (no bytes)
//     3 int32:i32   4 uint32:u32   5 int64:i64   6 uint64:u64   7 double:f64
//     8 string:str  9 bytes:str
//     10 object                                   (class name and members, as above)
//     11 list := length:u64 count:u32 object*     length = bytes after the length field
//
// Objects and lists carry their length, so a reader skips an unknown member
// of any kind with one seek, and every length is checked against the object
// that holds it before anything is read or allocated: a truncated or corrupted
// form ends in ESerializationError (or the stream's EReadError), never in an
// allocation sized by a bogus length. Nesting is limited to
// kMaxSerializationDepth objects.
//
// The writer patches the lengths of objects and lists when they end, so it
// needs a seekable stream (every stream of Zandor.Streams is).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Streams.h"

namespace nx {

// A malformed serialised form, or a request the form cannot answer (a member
// of another type than asked for). The message says what and where (key).
NX_DECLARE_EXCEPTION(ESerializationError, Exception, "Serialization error")

// Objects nested deeper than this (the root is level 1) are refused on both
// sides.
inline constexpr int kMaxSerializationDepth = 64;

// The writer of the member-wise form. Containers are opened and closed in
// pairs (BeginObject / EndObject, BeginList / BeginItem ... EndItem / EndList).
class IWriter {
 public:
  virtual ~IWriter() = default;
  virtual void WriteBoolean(std::string_view AKey, bool AValue) = 0;
  virtual void WriteInt32(std::string_view AKey, std::int32_t AValue) = 0;
  virtual void WriteUInt32(std::string_view AKey, std::uint32_t AValue) = 0;
  virtual void WriteInt64(std::string_view AKey, std::int64_t AValue) = 0;
  virtual void WriteUInt64(std::string_view AKey, std::uint64_t AValue) = 0;
  virtual void WriteDouble(std::string_view AKey, double AValue) = 0;
  virtual void WriteString(std::string_view AKey, std::string_view AValue) = 0;
  virtual void WriteBytes(std::string_view AKey, const void* AData, std::uint64_t ACount) = 0;
  // A nested object of class AClassName; its members follow until EndObject.
  virtual void BeginObject(std::string_view AKey, std::string_view AClassName) = 0;
  virtual void EndObject() = 0;
  // A list of objects: BeginItem (class name) ... EndItem for each.
  virtual void BeginList(std::string_view AKey) = 0;
  virtual void BeginItem(std::string_view AClassName) = 0;
  virtual void EndItem() = 0;
  virtual void EndList() = 0;
};

// The reader of the member-wise form. Each Read... looks its key up in the
// current object and returns false when the object has no such member (the
// value is then left alone); a member of another kind raises
// ESerializationError. Integer reads accept any stored integer kind whose
// value fits the type asked for.
class IReader {
 public:
  virtual ~IReader() = default;
  virtual bool HasKey(std::string_view AKey) = 0;
  virtual bool ReadBoolean(std::string_view AKey, bool& AValue) = 0;
  virtual bool ReadInt32(std::string_view AKey, std::int32_t& AValue) = 0;
  virtual bool ReadUInt32(std::string_view AKey, std::uint32_t& AValue) = 0;
  virtual bool ReadInt64(std::string_view AKey, std::int64_t& AValue) = 0;
  virtual bool ReadUInt64(std::string_view AKey, std::uint64_t& AValue) = 0;
  virtual bool ReadDouble(std::string_view AKey, double& AValue) = 0;
  virtual bool ReadString(std::string_view AKey, std::string& AValue) = 0;
  virtual bool ReadBytes(std::string_view AKey, std::vector<std::uint8_t>& AValue) = 0;
  // The stored length of a byte block (false when absent).
  virtual bool BytesLength(std::string_view AKey, std::uint64_t& ALength) = 0;
  // Copies min(stored length, ACapacity) bytes of a byte block to ADest and
  // returns that count in ACopied; the rest of the block is skipped.
  virtual bool ReadBytesInto(std::string_view AKey, void* ADest, std::uint64_t ACapacity, std::uint64_t& ACopied) = 0;
  // Enters a nested object (its members become the current ones) and gives
  // its class name; EndObject returns to the enclosing object.
  virtual bool BeginObject(std::string_view AKey, std::string& AClassName) = 0;
  virtual void EndObject() = 0;
  // Enters a list and gives its item count; each BeginItem enters the next
  // item (class name given), EndItem leaves it, EndList leaves the list.
  virtual bool BeginList(std::string_view AKey, std::uint32_t& ACount) = 0;
  virtual void BeginItem(std::string& AClassName) = 0;
  virtual void EndItem() = 0;
  virtual void EndList() = 0;
};

// Writes the binary form to a stream, from its position.
class TBinaryWriter final : public IWriter {
 public:
  // Writes the signature and opens the root object of class AClassName.
  TBinaryWriter(TStream& AStream, std::string_view AClassName);
  // Closes the root object; the stream then stands after the document.
  // Everything opened must be closed first.
  void Finish();

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
  struct TOpen {
    TKind Kind;
    std::int64_t LengthAt;  // position of the u64 length field
    std::uint32_t Count;    // items written (lists)
  };
  void Key(std::uint8_t ATag, std::string_view AKey);
  void VarUInt(std::uint64_t AValue);
  void Str(std::string_view AText);
  void OpenBody(TKind AKind, std::string_view AClassName);
  void Close(TKind AKind);

  TStream& FStream;
  std::vector<TOpen> FOpen;
  bool FFinished = false;
};

// Reads the binary form from a stream, from its position.
class TBinaryReader final : public IReader {
 public:
  // Checks the signature and enters the root object.
  explicit TBinaryReader(TStream& AStream);
  const std::string& RootClassName() const noexcept { return FRootClass; }
  // Moves the stream to the end of the document (after the root object).
  void Finish();

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
  struct TMember {
    std::string Key;
    std::uint8_t Tag;
    std::int64_t Value;   // position of the value (after any length field of a string or byte block)
    std::uint64_t Length; // bytes of a string or byte block; body bytes of an object or list
  };
  enum class TKind : std::uint8_t { Object, List, Item };
  struct TScope {
    TKind Kind;
    std::int64_t End;                // first position after the container
    std::vector<TMember> Members;    // objects and items
    std::uint32_t Remaining = 0;     // lists: items not yet entered
    std::int64_t Next = 0;           // lists: position of the next item
  };

  [[noreturn]] void Fail(const std::string& AMessage) const;
  // A varint / a length-prefixed text at APos (the stream's position),
  // which must end before AEnd; APos moves past it.
  std::uint64_t VarInt(std::int64_t& APos, std::int64_t AEnd);
  std::string Text(std::int64_t& APos, std::int64_t AEnd, const char* AWhat);
  // Enters an object body whose length field is at APos (the stream's
  // position); AEnd bounds it.
  void EnterObject(TKind AKind, std::int64_t APos, std::int64_t AEnd, std::string& AClassName);
  const TMember* Find(std::string_view AKey);
  const TMember* FindAs(std::string_view AKey, std::uint8_t ATag, const char* AKindName);
  bool ReadInteger(std::string_view AKey, std::int64_t& ASigned, std::uint64_t& AUnsigned, bool& AIsSigned);
  TScope& Current();

  TStream& FStream;
  std::vector<TScope> FScopes;
  std::string FRootClass;
  std::int64_t FDocumentEnd = 0;
};

}  // namespace nx
