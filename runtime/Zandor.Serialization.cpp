// Zandor.Serialization: the binary writer and reader (form described in the header).
#include "runtime/Zandor.Serialization.h"

#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>

namespace nx {

namespace {

constexpr char kSignature[4] = {'N', 'X', 'S', 'F'};
constexpr std::uint8_t kVersion = 1;

enum : std::uint8_t {
  tgFalse = 1,
  tgTrue = 2,
  tgInt32 = 3,
  tgUInt32 = 4,
  tgInt64 = 5,
  tgUInt64 = 6,
  tgDouble = 7,
  tgString = 8,
  tgBytes = 9,
  tgObject = 10,
  tgList = 11,
};

static_assert(std::endian::native == std::endian::little, "the form is written in the machine's byte order");

const char* KindName(std::uint8_t ATag) {
  switch (ATag) {
    case tgFalse:
    case tgTrue:
      return "a Boolean";
    case tgInt32:
    case tgUInt32:
    case tgInt64:
    case tgUInt64:
      return "an integer";
    case tgDouble:
      return "a double";
    case tgString:
      return "a string";
    case tgBytes:
      return "a byte block";
    case tgObject:
      return "an object";
    case tgList:
      return "a list";
    default:
      return "an unknown kind";
  }
}

}  // namespace

// ---------------------------------------------------------------- writer

TBinaryWriter::TBinaryWriter(TStream& AStream, std::string_view AClassName) : FStream(AStream) {
  FStream.WriteBuffer(kSignature, sizeof(kSignature));
  FStream.WriteValue(kVersion);
  OpenBody(TKind::Object, AClassName);
}

void TBinaryWriter::VarUInt(std::uint64_t AValue) {
  std::uint8_t bytes[10];
  int k = 0;
  do {
    std::uint8_t b = static_cast<std::uint8_t>(AValue & 0x7F);
    AValue >>= 7;
    if (AValue) b |= 0x80;
    bytes[k++] = b;
  } while (AValue);
  FStream.WriteBuffer(bytes, k);
}

void TBinaryWriter::Str(std::string_view AText) {
  VarUInt(AText.size());
  if (!AText.empty()) FStream.WriteBuffer(AText.data(), static_cast<std::int64_t>(AText.size()));
}

void TBinaryWriter::Key(std::uint8_t ATag, std::string_view AKey) {
  NX_ASSERT_MSG(!FFinished && !FOpen.empty() && FOpen.back().Kind != TKind::List,
          "A member is written outside an object");
  FStream.WriteValue(ATag);
  Str(AKey);
}

void TBinaryWriter::OpenBody(TKind AKind, std::string_view AClassName) {
  int depth = 0;
  for (const TOpen& o : FOpen)
    if (o.Kind != TKind::List) ++depth;
  if (AKind != TKind::List && depth >= kMaxSerializationDepth)
    throw ESerializationError(Format("Objects nested deeper than %d levels", kMaxSerializationDepth));
  const std::int64_t at = FStream.Position();
  FStream.WriteValue(std::uint64_t{0});  // patched when the container closes
  if (AKind == TKind::List)
    FStream.WriteValue(std::uint32_t{0});
  else
    Str(AClassName);
  FOpen.push_back({AKind, at, 0});
}

void TBinaryWriter::Close(TKind AKind) {
  NX_ASSERT_MSG(!FOpen.empty() && FOpen.back().Kind == AKind, "Unbalanced containers in a serialised object");
  const TOpen open = FOpen.back();
  FOpen.pop_back();
  const std::int64_t end = FStream.Position();
  FStream.Seek(open.LengthAt, soBeginning);
  FStream.WriteValue(static_cast<std::uint64_t>(end - open.LengthAt - 8));
  if (AKind == TKind::List) FStream.WriteValue(open.Count);
  FStream.Seek(end, soBeginning);
}

void TBinaryWriter::Finish() {
  NX_ASSERT_MSG(FOpen.size() == 1, "Containers left open in a serialised object");
  Close(TKind::Object);
  FFinished = true;
}

void TBinaryWriter::WriteBoolean(std::string_view AKey, bool AValue) { Key(AValue ? tgTrue : tgFalse, AKey); }
void TBinaryWriter::WriteInt32(std::string_view AKey, std::int32_t AValue) {
  Key(tgInt32, AKey);
  FStream.WriteValue(AValue);
}
void TBinaryWriter::WriteUInt32(std::string_view AKey, std::uint32_t AValue) {
  Key(tgUInt32, AKey);
  FStream.WriteValue(AValue);
}
void TBinaryWriter::WriteInt64(std::string_view AKey, std::int64_t AValue) {
  Key(tgInt64, AKey);
  FStream.WriteValue(AValue);
}
void TBinaryWriter::WriteUInt64(std::string_view AKey, std::uint64_t AValue) {
  Key(tgUInt64, AKey);
  FStream.WriteValue(AValue);
}
void TBinaryWriter::WriteDouble(std::string_view AKey, double AValue) {
  Key(tgDouble, AKey);
  FStream.WriteValue(AValue);
}
void TBinaryWriter::WriteString(std::string_view AKey, std::string_view AValue) {
  Key(tgString, AKey);
  Str(AValue);
}
void TBinaryWriter::WriteBytes(std::string_view AKey, const void* AData, std::uint64_t ACount) {
  NX_ASSERT_MSG(AData || ACount == 0, "Byte block without data");
  NX_ASSERT_MSG(ACount <= static_cast<std::uint64_t>(INT64_MAX), "Byte block too long");
  Key(tgBytes, AKey);
  VarUInt(ACount);
  if (ACount) FStream.WriteBuffer(AData, static_cast<std::int64_t>(ACount));
}
void TBinaryWriter::BeginObject(std::string_view AKey, std::string_view AClassName) {
  Key(tgObject, AKey);
  OpenBody(TKind::Object, AClassName);
}
void TBinaryWriter::EndObject() {
  NX_ASSERT_MSG(FOpen.size() > 1, "EndObject of the root object");
  Close(TKind::Object);
}
void TBinaryWriter::BeginList(std::string_view AKey) {
  Key(tgList, AKey);
  OpenBody(TKind::List, {});
}
void TBinaryWriter::BeginItem(std::string_view AClassName) {
  NX_ASSERT_MSG(!FOpen.empty() && FOpen.back().Kind == TKind::List, "BeginItem outside a list");
  NX_ASSERT_MSG(FOpen.back().Count < 0xFFFFFFFFu, "Too many list items");
  ++FOpen.back().Count;
  OpenBody(TKind::Item, AClassName);
}
void TBinaryWriter::EndItem() { Close(TKind::Item); }
void TBinaryWriter::EndList() { Close(TKind::List); }

// ---------------------------------------------------------------- reader

TBinaryReader::TBinaryReader(TStream& AStream) : FStream(AStream) {
  char signature[sizeof(kSignature)];
  FStream.ReadBuffer(signature, sizeof(signature));
  if (std::memcmp(signature, kSignature, sizeof(kSignature)) != 0) Fail("Not a serialised object (bad signature)");
  const std::uint8_t version = FStream.ReadValue<std::uint8_t>();
  if (version != kVersion) Fail(Format("Unsupported serialisation version %u", static_cast<unsigned>(version)));
  EnterObject(TKind::Object, FStream.Position(), FStream.Size(), FRootClass);
  FDocumentEnd = FScopes.back().End;
}

void TBinaryReader::Fail(const std::string& AMessage) const { throw ESerializationError(AMessage); }

TBinaryReader::TScope& TBinaryReader::Current() {
  NX_ASSERT_MSG(!FScopes.empty(), "No open object to read from");
  return FScopes.back();
}

std::uint64_t TBinaryReader::VarInt(std::int64_t& APos, std::int64_t AEnd) {
  std::uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    if (APos >= AEnd) Fail("Truncated length field");
    const std::uint8_t b = FStream.ReadValue<std::uint8_t>();
    ++APos;
    if (shift == 63 && b > 1) Fail("Length field overflows 64 bits");
    value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return value;
  }
}

std::string TBinaryReader::Text(std::int64_t& APos, std::int64_t AEnd, const char* AWhat) {
  const std::uint64_t n = VarInt(APos, AEnd);
  if (n > static_cast<std::uint64_t>(AEnd - APos)) Fail(Format("%s extends beyond its object", AWhat));
  std::string s(static_cast<std::size_t>(n), '\0');
  if (n) FStream.ReadBuffer(s.data(), static_cast<std::int64_t>(n));
  APos += static_cast<std::int64_t>(n);
  return s;
}

void TBinaryReader::EnterObject(TKind AKind, std::int64_t APos, std::int64_t AEnd, std::string& AClassName) {
  int depth = 0;
  for (const TScope& s : FScopes)
    if (s.Kind != TKind::List) ++depth;
  if (depth >= kMaxSerializationDepth)
    Fail(Format("Objects nested deeper than %d levels", kMaxSerializationDepth));

  std::int64_t pos = APos;
  if (AEnd - pos < 8) Fail("Truncated object");
  const std::uint64_t length = FStream.ReadValue<std::uint64_t>();
  pos += 8;
  if (length > static_cast<std::uint64_t>(AEnd - pos)) Fail("Object extends beyond its container");
  TScope scope{AKind, pos + static_cast<std::int64_t>(length), {}, 0, 0};
  std::string name = Text(pos, scope.End, "Class name");

  // Index the members: key, kind and where the value lies. Nested objects
  // and lists are skipped by their length and read only when entered.
  while (pos < scope.End) {
    TMember m;
    m.Tag = FStream.ReadValue<std::uint8_t>();
    ++pos;
    if (m.Tag < tgFalse || m.Tag > tgList) Fail(Format("Unknown member kind %u", static_cast<unsigned>(m.Tag)));
    m.Key = Text(pos, scope.End, "Member key");
    m.Length = 0;
    std::uint64_t size = 0;
    switch (m.Tag) {
      case tgInt32:
      case tgUInt32:
        size = 4;
        break;
      case tgInt64:
      case tgUInt64:
      case tgDouble:
        size = 8;
        break;
      case tgString:
      case tgBytes:
        m.Length = VarInt(pos, scope.End);
        size = m.Length;
        break;
      case tgObject:
      case tgList:
        if (scope.End - pos < 8) Fail(Format("Truncated member \"%s\"", m.Key.c_str()));
        m.Length = FStream.ReadValue<std::uint64_t>();
        size = m.Length;
        if (size > static_cast<std::uint64_t>(scope.End - pos - 8))
          Fail(Format("Member \"%s\" extends beyond its object", m.Key.c_str()));
        size += 8;
        break;
      default:  // Booleans: the tag is the value
        break;
    }
    if (size > static_cast<std::uint64_t>(scope.End - pos))
      Fail(Format("Member \"%s\" extends beyond its object", m.Key.c_str()));
    m.Value = pos;
    pos += static_cast<std::int64_t>(size);
    scope.Members.push_back(std::move(m));
    if (size) FStream.Seek(pos, soBeginning);
  }
  FScopes.push_back(std::move(scope));
  AClassName = std::move(name);
}

const TBinaryReader::TMember* TBinaryReader::Find(std::string_view AKey) {
  TScope& scope = Current();
  NX_ASSERT_MSG(scope.Kind != TKind::List, "Members are read from an object, not a list");
  // Objects hold a handful of members: a linear search beats any index. The
  // first member with the key answers.
  for (const TMember& m : scope.Members)
    if (m.Key == AKey) return &m;
  return nullptr;
}

const TBinaryReader::TMember* TBinaryReader::FindAs(std::string_view AKey, std::uint8_t ATag, const char* AKindName) {
  const TMember* m = Find(AKey);
  if (m && m->Tag != ATag)
    Fail(Format("Member \"%.*s\" is %s, not %s", static_cast<int>(AKey.size()), AKey.data(), KindName(m->Tag),
                AKindName));
  return m;
}

bool TBinaryReader::HasKey(std::string_view AKey) { return Find(AKey) != nullptr; }

bool TBinaryReader::ReadBoolean(std::string_view AKey, bool& AValue) {
  const TMember* m = Find(AKey);
  if (!m) return false;
  if (m->Tag != tgFalse && m->Tag != tgTrue)
    Fail(Format("Member \"%.*s\" is %s, not a Boolean", static_cast<int>(AKey.size()), AKey.data(),
                KindName(m->Tag)));
  AValue = m->Tag == tgTrue;
  return true;
}

bool TBinaryReader::ReadInteger(std::string_view AKey, std::int64_t& ASigned, std::uint64_t& AUnsigned,
                                bool& AIsSigned) {
  const TMember* m = Find(AKey);
  if (!m) return false;
  FStream.Seek(m->Value, soBeginning);
  switch (m->Tag) {
    case tgInt32:
      ASigned = FStream.ReadValue<std::int32_t>();
      AIsSigned = true;
      break;
    case tgInt64:
      ASigned = FStream.ReadValue<std::int64_t>();
      AIsSigned = true;
      break;
    case tgUInt32:
      AUnsigned = FStream.ReadValue<std::uint32_t>();
      AIsSigned = false;
      break;
    case tgUInt64:
      AUnsigned = FStream.ReadValue<std::uint64_t>();
      AIsSigned = false;
      break;
    default:
      Fail(Format("Member \"%.*s\" is %s, not an integer", static_cast<int>(AKey.size()), AKey.data(),
                  KindName(m->Tag)));
  }
  return true;
}

namespace {
// The stored integer as T, or false when it does not fit.
template <class T>
bool FitInteger(bool AIsSigned, std::int64_t ASigned, std::uint64_t AUnsigned, T& AOut) {
  if (AIsSigned) {
    if constexpr (std::is_signed_v<T>) {
      if (ASigned < std::numeric_limits<T>::min() || ASigned > std::numeric_limits<T>::max()) return false;
    } else {
      if (ASigned < 0 || static_cast<std::uint64_t>(ASigned) > std::numeric_limits<T>::max()) return false;
    }
    AOut = static_cast<T>(ASigned);
  } else {
    if (AUnsigned > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return false;
    AOut = static_cast<T>(AUnsigned);
  }
  return true;
}
}  // namespace

#define NX_READ_INTEGER(Name, T)                                                                          \
  bool TBinaryReader::Name(std::string_view AKey, T& AValue) {                                            \
    std::int64_t s = 0;                                                                                   \
    std::uint64_t u = 0;                                                                                  \
    bool isSigned = false;                                                                                \
    if (!ReadInteger(AKey, s, u, isSigned)) return false;                                                 \
    if (!FitInteger(isSigned, s, u, AValue))                                                              \
      Fail(Format("Member \"%.*s\" is out of range", static_cast<int>(AKey.size()), AKey.data()));        \
    return true;                                                                                          \
  }
NX_READ_INTEGER(ReadInt32, std::int32_t)
NX_READ_INTEGER(ReadUInt32, std::uint32_t)
NX_READ_INTEGER(ReadInt64, std::int64_t)
NX_READ_INTEGER(ReadUInt64, std::uint64_t)
#undef NX_READ_INTEGER

bool TBinaryReader::ReadDouble(std::string_view AKey, double& AValue) {
  const TMember* m = FindAs(AKey, tgDouble, "a double");
  if (!m) return false;
  FStream.Seek(m->Value, soBeginning);
  AValue = FStream.ReadValue<double>();
  return true;
}

bool TBinaryReader::ReadString(std::string_view AKey, std::string& AValue) {
  const TMember* m = FindAs(AKey, tgString, "a string");
  if (!m) return false;
  // The length was checked against the object when it was indexed.
  std::string s(static_cast<std::size_t>(m->Length), '\0');
  FStream.Seek(m->Value, soBeginning);
  if (m->Length) FStream.ReadBuffer(s.data(), static_cast<std::int64_t>(m->Length));
  AValue = std::move(s);
  return true;
}

bool TBinaryReader::ReadBytes(std::string_view AKey, std::vector<std::uint8_t>& AValue) {
  const TMember* m = FindAs(AKey, tgBytes, "a byte block");
  if (!m) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(m->Length));
  FStream.Seek(m->Value, soBeginning);
  if (m->Length) FStream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(m->Length));
  AValue = std::move(bytes);
  return true;
}

bool TBinaryReader::BytesLength(std::string_view AKey, std::uint64_t& ALength) {
  const TMember* m = FindAs(AKey, tgBytes, "a byte block");
  if (!m) return false;
  ALength = m->Length;
  return true;
}

bool TBinaryReader::ReadBytesInto(std::string_view AKey, void* ADest, std::uint64_t ACapacity,
                                  std::uint64_t& ACopied) {
  const TMember* m = FindAs(AKey, tgBytes, "a byte block");
  if (!m) return false;
  const std::uint64_t n = m->Length < ACapacity ? m->Length : ACapacity;
  NX_ASSERT_MSG(ADest || n == 0, "No destination for a byte block");
  FStream.Seek(m->Value, soBeginning);
  if (n) FStream.ReadBuffer(ADest, static_cast<std::int64_t>(n));
  ACopied = n;
  return true;
}

bool TBinaryReader::BeginObject(std::string_view AKey, std::string& AClassName) {
  const TMember* m = FindAs(AKey, tgObject, "an object");
  if (!m) return false;
  const std::int64_t end = m->Value + 8 + static_cast<std::int64_t>(m->Length);
  FStream.Seek(m->Value, soBeginning);
  EnterObject(TKind::Object, m->Value, end, AClassName);
  return true;
}

void TBinaryReader::EndObject() {
  NX_ASSERT_MSG(FScopes.size() > 1 && FScopes.back().Kind == TKind::Object, "EndObject without BeginObject");
  FScopes.pop_back();
}

bool TBinaryReader::BeginList(std::string_view AKey, std::uint32_t& ACount) {
  const TMember* m = FindAs(AKey, tgList, "a list");
  if (!m) return false;
  if (m->Length < 4) Fail(Format("Truncated list \"%.*s\"", static_cast<int>(AKey.size()), AKey.data()));
  const std::int64_t end = m->Value + 8 + static_cast<std::int64_t>(m->Length);
  FStream.Seek(m->Value + 8, soBeginning);
  const std::uint32_t count = FStream.ReadValue<std::uint32_t>();
  // Every item takes at least its length field and class name (9 bytes): a
  // count that the list's bytes cannot hold is refused here.
  if (count > static_cast<std::uint64_t>(m->Length - 4) / 9)
    Fail(Format("List \"%.*s\" holds fewer items than it claims", static_cast<int>(AKey.size()), AKey.data()));
  TScope scope{TKind::List, end, {}, count, m->Value + 12};
  FScopes.push_back(std::move(scope));
  ACount = count;
  return true;
}

void TBinaryReader::BeginItem(std::string& AClassName) {
  TScope& list = Current();
  NX_ASSERT_MSG(list.Kind == TKind::List, "BeginItem outside a list");
  if (list.Remaining == 0) Fail("No more items in the list");
  const std::int64_t listEnd = list.End;
  const std::int64_t next = list.Next;
  FStream.Seek(next, soBeginning);
  EnterObject(TKind::Item, next, listEnd, AClassName);
  // EnterObject may have moved the scopes: find the list again.
  TScope& again = FScopes[FScopes.size() - 2];
  again.Next = FScopes.back().End;
  --again.Remaining;
}

void TBinaryReader::EndItem() {
  NX_ASSERT_MSG(!FScopes.empty() && FScopes.back().Kind == TKind::Item, "EndItem without BeginItem");
  FScopes.pop_back();
}

void TBinaryReader::EndList() {
  NX_ASSERT_MSG(!FScopes.empty() && FScopes.back().Kind == TKind::List, "EndList without BeginList");
  FScopes.pop_back();
}

void TBinaryReader::Finish() { FStream.Seek(FDocumentEnd, soBeginning); }

}  // namespace nx
