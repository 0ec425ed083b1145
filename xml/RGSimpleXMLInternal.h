// RGSimpleXMLInternal: the parts of the XML unit that its sources share (not
// part of the interface: include RGSimpleXML.h). The messages, the character
// and encoding helpers, the name table, the arena the nodes live in, the node
// cores and the node classes. RGSimpleXML.cpp holds the document model and the
// node operations, RGSimpleXMLParse.cpp the text parser, RGSimpleXMLWrite.cpp
// the text writer, RGSimpleXMLBinary.cpp the binary form.
#pragma once

#include "xml/RGSimpleXML.h"

#include <iconv.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <locale.h>
#include <sys/mman.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

// The unit's own helpers and classes are hidden from the library's exported
// symbols: calls between its sources bind directly (no PLT, no interposition)
// and the compiler may inline them, as it could when they were file-local.
#define NX_XML_LOCAL [[gnu::visibility("hidden")]]

namespace nx {

// ===================================================================== messages

namespace NX_XML_LOCAL xmldetail {

[[noreturn]] inline void Fail(std::string message) { throw EXmlError(std::move(message)); }
[[noreturn]] inline void Fail1(const char* fmt, std::string_view arg) { Fail(Format(fmt, std::string(arg).c_str())); }

inline constexpr const char* kMsgCharExpected = "Character \"%s\" expected";
inline constexpr const char* kMsgTextExpected = "Text \"%s\" expected";
inline constexpr const char* kMsgLtInAttr = "Character \"<\" cannot be used in the values of attributes";
inline constexpr const char* kMsgExpected = "\"%s\" expected";
inline constexpr const char* kMsgAttrValueExpected = "The value of the attribute is expected";
inline constexpr const char* kMsgLineConstExpected = "Line constant expected";
inline constexpr const char* kMsgReadData = "Error reading data";
inline constexpr const char* kMsgReadType = "Error reading value: incorrect type";
inline constexpr const char* kMsgUnknownVarType = "Unknown data type in variant";
inline constexpr const char* kMsgEncoding = "Encoding \"%s\" is not supported by SimpleXML";
inline constexpr const char* kMsgIndex = "Error obtaining the element the list: Index out of range";
inline constexpr const char* kMsgElemNotCompleted = "The determination of the element is not completed";
inline constexpr const char* kMsgInvalidNameSymbol = "Invalid symbol in the name of the element";
inline constexpr const char* kMsgReadNodeType = "Error of reading binary XML: incorrect node-type";
inline constexpr const char* kMsgWriteNodeType = "Error of the record of binary XML: incorrect node-type";
inline constexpr const char* kMsgAttrNotFound = "Attribute \"%s\" not found";
inline constexpr const char* kMsgAttrNotAssigned = "Attribute \"%s\" not assigned";
inline constexpr const char* kMsgNotSupported = "This feature is not supported by SimpleXML";
inline constexpr const char* kMsgChildNotFound = "Error: Child node \"%s\" not found";
inline constexpr const char* kMsgNameStart = "Name must start with letter or \" _\"";
inline constexpr const char* kMsgNumber = "Number expected";
inline constexpr const char* kMsgHexNumber = "Hexadecimal number expected";
inline constexpr const char* kMsgEntityStart = "\"#\" or XML entity symbol name expected";
inline constexpr const char* kMsgUnknownEntity = "Unknown XML entity symbol name \"%s\" found";

// ===================================================================== characters

// Appends code point c as UTF-8 (lone surrogates take the three-byte form so
// that they survive a round trip).
inline void AppendUtf8(std::string& s, std::uint32_t c) {
  if (c < 0x80) {
    s.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    const char b[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    s.append(b, 2);
  } else if (c < 0x10000) {
    const char b[3] = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (c & 0x3F))};
    s.append(b, 3);
  } else {
    const char b[4] = {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                       static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    s.append(b, 4);
  }
}

// Decodes one code point of an API (UTF-8) string at s[i], advancing i. Bytes
// that start no valid sequence decode as themselves (one character each), so
// no input is lost.
inline std::uint32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<std::uint8_t>(s[i + k]) & 0xC0) == 0x80; };
  auto bits = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[i + k]) & 0x3F); };
  if ((b0 & 0xE0) == 0xC0 && cont(1)) {
    const std::uint32_t c = ((b0 & 0x1Fu) << 6) | bits(1);
    i += 2;
    return c;
  }
  if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
    const std::uint32_t c = ((b0 & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
    i += 3;
    return c;
  }
  if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
    const std::uint32_t c = ((b0 & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      i += 4;
      return c;
    }
  }
  ++i;
  return b0;
}

// `s` as well-formed UTF-8: a byte that starts no sequence becomes the
// character of that code (as DecodeUtf8 reads it), so that every string the
// unit holds has a UTF-16 form.
inline std::string ValidUtf8(std::string s) {
  std::size_t k = 0;
  while (k < s.size() && static_cast<std::uint8_t>(s[k]) < 0x80) ++k;
  if (k == s.size()) return s;
  std::string out(s, 0, k);
  for (std::size_t i = k; i < s.size();) AppendUtf8(out, DecodeUtf8(s, i));
  return out;
}

// The UTF-16 code units of an API string.
inline std::u16string ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::uint32_t c = DecodeUtf8(s, i);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

inline std::string FromUtf16(const char16_t* units, std::size_t count) {
  std::string out;
  out.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    std::uint32_t c = units[k];
    if (c >= 0xD800 && c < 0xDC00 && k + 1 < count && units[k + 1] >= 0xDC00 && units[k + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[k + 1] - 0xDC00);
      ++k;
    }
    AppendUtf8(out, c);
  }
  return out;
}

inline std::uint32_t HashStep(std::uint32_t h, std::uint32_t unit) { return h + ((h << 6) ^ unit); }

// Letters and digits as the system's Unicode classification sees them
// (C.UTF-8 locale object, independent of the process locale).
inline locale_t UnicodeLocale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

struct TAsciiClasses {
  bool Alpha[128] = {};
  bool NameChar[256] = {};  // false for every byte >= 0x80
  bool TextPlain[256] = {};   // copied as is inside text: ASCII but "<" and "&"
  bool AttrPlainQ[256] = {};  // inside a "..." value: ASCII but '"', "<", "&"
  bool AttrPlainA[256] = {};  // inside a '...' value
  constexpr TAsciiClasses() {
    for (int c = 0; c < 128; ++c) {
      Alpha[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      NameChar[c] = Alpha[c] || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':' || c == '_';
      TextPlain[c] = c != '<' && c != '&';
      AttrPlainQ[c] = TextPlain[c] && c != '"';
      AttrPlainA[c] = TextPlain[c] && c != '\'';
    }
  }
};
inline constexpr TAsciiClasses kAscii;

inline bool IsAlphaChar(std::uint32_t c) {
  if (c < 0x80) return kAscii.Alpha[c];
  const locale_t l = UnicodeLocale();
  return l && iswalpha_l(static_cast<wint_t>(c), l);
}
inline bool IsNameStart(std::uint32_t c) { return c == '_' || IsAlphaChar(c); }
inline bool IsNameChar(std::uint32_t c) {
  if (c < 0x80) return kAscii.NameChar[c];
  const locale_t l = UnicodeLocale();
  return l && iswalnum_l(static_cast<wint_t>(c), l);
}

inline bool IsValidName(std::string_view s) {
  if (s.empty()) return false;
  std::size_t i = 0;
  if (!IsNameStart(DecodeUtf8(s, i))) return false;
  while (i < s.size())
    if (!IsNameChar(DecodeUtf8(s, i))) return false;
  return true;
}

// ===================================================================== encodings

struct TEncodingRow {
  const char* Name;
  int Codepage;
};
inline constexpr TEncodingRow XMLEncodingData[20] = {
    {"UTF-8", 65001},        {"WINDOWS-1250", 1250}, {"WINDOWS-1251", 1251}, {"WINDOWS-1252", 1252},
    {"WINDOWS-1253", 1253},  {"WINDOWS-1254", 1254}, {"WINDOWS-1255", 1255}, {"WINDOWS-1256", 1256},
    {"WINDOWS-1257", 1257},  {"WINDOWS-1258", 1258}, {"ISO-8859-1", 28591},  {"ISO-8859-2", 28592},
    {"ISO-8859-3", 28593},   {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},  {"ISO-8859-6", 28596},
    {"ISO-8859-7", 28597},   {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599},  {"ISO-2022-JP", 50220},
};

inline std::string IconvName(int cp) {
  if (cp >= 1250 && cp <= 1258) return "CP" + std::to_string(cp);
  if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
  if (cp == 50220) return "ISO-2022-JP";
  return "UTF-8";
}

// An iconv conversion descriptor.
class TIconv {
 public:
  TIconv() = default;
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  ~TIconv() { Close(); }
  void Open(const std::string& to, const std::string& from) {
    Close();
    FHandle = iconv_open(to.c_str(), from.c_str());
    if (FHandle == reinterpret_cast<iconv_t>(-1)) Fail1(kMsgEncoding, from == "UTF-8" ? to : from);
  }
  void Close() {
    if (FHandle != reinterpret_cast<iconv_t>(-1)) iconv_close(FHandle);
    FHandle = reinterpret_cast<iconv_t>(-1);
  }
  bool IsOpen() const { return FHandle != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of [in, in+size) as forms whole characters, appending to
  // `out`; returns the bytes consumed. An invalid input byte becomes
  // `replacement` and is skipped (skipUtf8: a whole UTF-8 sequence is).
  std::size_t Convert(const char* in, std::size_t size, std::string& out, std::string_view replacement,
                      bool skipUtf8) {
    std::size_t done = 0;
    char buf[4096];
    while (done < size) {
      char* src = const_cast<char*>(in + done);
      std::size_t left = size - done;
      char* dst = buf;
      std::size_t room = sizeof(buf);
      const std::size_t r = iconv(FHandle, &src, &left, &dst, &room);
      out.append(buf, static_cast<std::size_t>(dst - buf));
      done = size - left;
      if (r != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno == EINVAL) break;  // incomplete sequence at the end: keep it for later
      out.append(replacement);     // EILSEQ
      std::size_t skip = 1;
      if (skipUtf8) {
        std::size_t k = done;
        DecodeUtf8(std::string_view(in, size), k);
        skip = k - done;
      }
      done += skip;
    }
    return done;
  }
  // Flushes a stateful encoder's shift sequence.
  void Finish(std::string& out) {
    char buf[64];
    char* dst = buf;
    std::size_t room = sizeof(buf);
    iconv(FHandle, nullptr, nullptr, &dst, &room);
    out.append(buf, static_cast<std::size_t>(dst - buf));
  }

 private:
  iconv_t FHandle = reinterpret_cast<iconv_t>(-1);
};

}  // namespace xmldetail

using namespace xmldetail;

// ===================================================================== name table

namespace NX_XML_LOCAL xmldetail {

// The names of a table, where they never move (their addresses are the
// IDs): in chunks of 16, 16, 32, 64, ... names, so that the few dozen names
// of a small document take one or two allocations and little room unused.
class TNameStore {
 public:
  TNameStore() = default;
  TNameStore(const TNameStore&) = delete;
  TNameStore& operator=(const TNameStore&) = delete;
  std::size_t size() const noexcept { return FSize; }
  TXmlName& operator[](std::size_t i) noexcept {
    if (i < kFirst) return FChunks[0][i];
    const std::size_t k = static_cast<std::size_t>(std::bit_width(i / kFirst));  // chunk k >= 1 starts at kFirst << (k - 1)
    return FChunks[k][i - (kFirst << (k - 1))];
  }
  const TXmlName& operator[](std::size_t i) const noexcept { return const_cast<TNameStore*>(this)->operator[](i); }
  TXmlName& push_back(TXmlName name) {
    if (FSize == FCapacity) {
      const std::size_t n = FChunks.empty() ? kFirst : FCapacity;  // the total doubles
      FChunks.reserve(FChunks.size() + 1);
      FChunks.emplace_back(new TXmlName[n]);
      FCapacity += n;
    }
    TXmlName& slot = (*this)[FSize];
    slot = std::move(name);
    ++FSize;
    return slot;
  }

 private:
  static constexpr std::size_t kFirst = 16;
  std::vector<std::unique_ptr<TXmlName[]>> FChunks;
  std::size_t FSize = 0, FCapacity = 0;
};

class TXmlNameTable final : public IXmlNameTable {
 public:
  explicit TXmlNameTable(int hashTableSize) : FBucketCount(std::max(hashTableSize, 1)), FSlots(kInitialSlots) {
    FXmlTextNameID = GetID("#text");
    FXmlCDATASectionNameID = GetID("#cdata-section");
    FXmlCommentNameID = GetID("#comment");
    FXmlDocumentNameID = GetID("#document");
    FXmlNameID = GetID("xml");
    FEncodingNameId = GetID("encoding");
  }

  bool QueryInterface(const TGUID& iid, void** obj) noexcept override {
    if (!obj) return false;
    *obj = nullptr;
    return QueryInterfaces<IXmlNameTable, IXmlBase, IInterface>(this, iid, obj);
  }
  // Atomic: the last reference may go with an arena released on another thread.
  std::int32_t _AddRef() noexcept override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::int32_t _Release() noexcept override {
    const std::int32_t c = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (c == 0) delete this;
    return c;
  }

  TXmlNameID GetID(std::string_view name) override { return Intern(name, NameHash(name)); }
  TXmlNameID FindID(std::string_view name) const override { return Find(name, NameHash(name)); }
  TXmlNameID FindByHash(std::uint32_t hash) const override {
    for (std::size_t i = Home(hash);; i = (i + 1) & (FSlots.size() - 1)) {
      const TXmlName* n = FSlots[i];
      if (!n || n->Hash == hash) return n;
    }
  }
  std::string GetName(TXmlNameID id) const override { return id ? id->Text : std::string(); }
  int NameCount() const override { return static_cast<int>(FNames.size()); }
  TXmlNameID NameAt(int index) const override {
    if (index < 0 || static_cast<std::size_t>(index) >= FNames.size()) Fail(kMsgIndex);
    return &FNames[static_cast<std::size_t>(index)];
  }
  int BucketCount() const override { return FBucketCount; }

  TXmlNameID Find(std::string_view name, std::uint32_t hash) const {
    for (std::size_t i = Home(hash);; i = (i + 1) & (FSlots.size() - 1)) {
      const TXmlName* n = FSlots[i];
      if (!n || (n->Hash == hash && SameText(n->Text, name))) return n;
    }
  }
  // The ID of `name` whose hash the caller computed.
  TXmlNameID Intern(std::string_view name, std::uint32_t hash) {
    std::size_t i = Home(hash);
    for (; FSlots[i]; i = (i + 1) & (FSlots.size() - 1))
      if (FSlots[i]->Hash == hash && SameText(FSlots[i]->Text, name)) return FSlots[i];
    TXmlName* n = &FNames.push_back(TXmlName{std::string(name), hash});
    if (2 * FNames.size() > FSlots.size()) Grow();
    else FSlots[i] = n;
    return n;
  }

  // Names are short: a plain loop beats a call to memcmp.
  static bool SameText(const std::string& a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < b.size(); ++k)
      if (a[k] != b[k]) return false;
    return true;
  }

  TXmlNameID FXmlTextNameID, FXmlCDATASectionNameID, FXmlCommentNameID, FXmlDocumentNameID, FXmlNameID,
      FEncodingNameId;

 private:
  // The index is open-addressed (linear probing, at most half full) and
  // grows with the names, so that a table costs a document little to set up
  // however many buckets it was asked for. Names enter it in the order they
  // were added, so among names of one hash the first added is found first.
  static constexpr std::size_t kInitialSlots = 32;
  std::size_t Home(std::uint32_t hash) const noexcept {
    // Fibonacci hashing spreads the hash's bits over the index.
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32) & (FSlots.size() - 1);
  }
  void Grow() {
    FSlots.assign(FSlots.size() * 2, nullptr);
    for (std::size_t k = 0; k < FNames.size(); ++k) {
      TXmlName& n = FNames[k];
      std::size_t i = Home(n.Hash);
      while (FSlots[i]) i = (i + 1) & (FSlots.size() - 1);
      FSlots[i] = &n;
    }
  }
  int FBucketCount;  // the size asked for (reported, not used)
  TNameStore FNames;
  std::vector<TXmlName*> FSlots;
  std::atomic<std::int32_t> FRefCount{0};
};

// ===================================================================== arena

// Slabs of freed arenas are kept for the next documents (up to kMaxCached
// bytes, beyond that they go back to the system): memory that was written
// once costs no page faults the next time, as with a general-purpose heap.
class TSlabCache {
 public:
  static constexpr std::size_t kMaxCached = std::size_t{256} << 20;
  char* Take(std::size_t size) {
    std::lock_guard<std::mutex> g(FLock);
    for (std::size_t k = FSlabs.size(); k-- > 0;)
      if (FSlabs[k].second == size) {
        char* p = FSlabs[k].first;
        FSlabs[k] = FSlabs.back();
        FSlabs.pop_back();
        FBytes -= size;
        return p;
      }
    return nullptr;
  }
  void Give(char* base, std::size_t size) noexcept {
    {
      std::lock_guard<std::mutex> g(FLock);
      if (FBytes + size <= kMaxCached) {
        try {
          FSlabs.emplace_back(base, size);
          FBytes += size;
          return;
        } catch (...) {
        }
      }
    }
    munmap(base, size);
  }

 private:
  std::mutex FLock;
  std::vector<std::pair<char*, std::size_t>> FSlabs;
  std::size_t FBytes = 0;
};
inline TSlabCache& SlabCache() {
  static TSlabCache* cache = new TSlabCache;  // never destroyed: arenas may die during exit
  return *cache;
}

// The arena of one document: slabs of memory mapped from the system, each a
// run of 64 KiB chunks whose first word points back to the arena (so nodes
// and pooled strings find it from their address). Slabs double in size up to
// 4 MiB; the larger ones are pre-faulted in one call, which costs far less
// than a page fault per page.
//
// Lifetime: FLive counts live nodes + live pooled strings + the unused part
// of a batch of counts taken in advance (FCredit), so that creating a node or
// a string needs no atomic operation. Nodes are made and freed on the
// document's thread only; strings may be released on any thread (a value
// copied out of the tree). When the last node goes the unused counts are
// handed back, and whoever brings FLive to zero frees the arena.
class TXmlArena final : public TVarBlockOwner {
 public:
  static constexpr std::size_t kChunkSize = kVarPoolChunkSize;
  static constexpr std::size_t kHeader = 16;
  static constexpr std::size_t kMaxSmall = 4096;  // larger blocks come from the heap
  static constexpr std::size_t kMaxSlab = std::size_t{4} << 20;
  static constexpr std::int64_t kCreditBatch = 4096;
  static constexpr std::size_t kMaxNode = 96;  // the largest node class

  explicit TXmlArena(TXmlNameTable* names) : FNames(names) { FNames->_AddRef(); }
  TXmlArena(const TXmlArena&) = delete;
  TXmlArena& operator=(const TXmlArena&) = delete;

  static TXmlArena* Of(const void* p) noexcept {
    return static_cast<TXmlArena*>(
        *reinterpret_cast<TVarBlockOwner* const*>(reinterpret_cast<std::uintptr_t>(p) & ~(kChunkSize - 1)));
  }
  TXmlNameTable* Names() const noexcept { return FNames; }

  void* AllocNode(std::size_t size) {
    size = (size + 7) & ~std::size_t{7};
    void*& head = FFree[size / 8];
    void* p = head;
    if (p)
      head = *static_cast<void**>(p);
    else
      p = AllocBytes(size);
    TakeCount();
    ++FNodes;
    return p;
  }
  void FreeNode(void* p, std::size_t size) noexcept {
    size = (size + 7) & ~std::size_t{7};
    *static_cast<void**>(p) = FFree[size / 8];
    FFree[size / 8] = p;
    ++FCredit;
    if (--FNodes == 0) {
      const std::int64_t c = FCredit;
      FCredit = 0;
      if (FLive.fetch_sub(c, std::memory_order_acq_rel) == c) delete this;
    }
  }
  // The values of elements that have one (see TXmlElementCore).
  const TVariant& FindData(const void* element) const noexcept { return FSide->Data.find(element)->second; }
  void StoreData(const void* element, TVariant v) { Side().Data[element] = std::move(v); }
  void EraseData(const void* element) noexcept {
    if (FSide) FSide->Data.erase(element);
  }
  // Attribute counts of 65535 and more (see TXmlContainer::NumAttrs).
  std::uint32_t BigAttrCount(const void* node) const noexcept { return FSide->BigAttrCounts.find(node)->second; }
  void StoreBigAttrCount(const void* node, std::uint32_t count) { Side().BigAttrCounts[node] = count; }
  void EraseBigAttrCount(const void* node) noexcept {
    if (FSide) FSide->BigAttrCounts.erase(node);
  }
  // Memory that lives as long as the arena (size <= kMaxSmall).
  void* AllocBytes(std::size_t size) {
    size = (size + 7) & ~std::size_t{7};
    if (static_cast<std::size_t>(FSubEnd - FCur) < size) NextChunk();
    void* p = FCur;
    FCur += size;
    return p;
  }
  // A shared string block holding `bytes` (reference count 1).
  TVarBlock* NewBlock(std::string_view bytes) {
    const std::size_t size = TVarBlock::SizeFor(bytes.size());
    if (size > kMaxSmall) return TVarBlock::New(bytes);
    TVarBlock* b = TVarBlock::Place(AllocBytes(size), bytes);
    TakeCount();
    return b;
  }
  // A string value: short ones are held in the variant itself.
  TVariant NewString(std::string_view bytes, TVarType type = varUString) {
    if (bytes.size() <= 8) return TVariant::String(type, bytes);
    return TVariant::FromBlock(type, NewBlock(bytes));
  }

  void ReleaseBlock() noexcept override {
    if (tlBatch == this) {
      ++FBatched;  // counted off in one go when the batch ends
      return;
    }
    if (FLive.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // While a tree of this arena is freed on its thread, the strings it
  // releases are counted without atomic operations (TBatch).
  class TBatch {
   public:
    explicit TBatch(TXmlArena* arena) noexcept : FArena(tlBatch ? nullptr : arena) {
      if (FArena) {
        tlBatch = FArena;
        FArena->FLive.fetch_add(1, std::memory_order_relaxed);  // keeps it alive until the batch ends
      }
    }
    ~TBatch() {
      if (!FArena) return;
      tlBatch = nullptr;
      const std::int64_t n = FArena->FBatched + 1;
      FArena->FBatched = 0;
      if (FArena->FLive.fetch_sub(n, std::memory_order_acq_rel) == n) delete FArena;
    }
    TBatch(const TBatch&) = delete;
    TBatch& operator=(const TBatch&) = delete;

   private:
    TXmlArena* FArena;
  };

 private:
  ~TXmlArena() {
    for (const auto& [base, size] : FSlabs) SlabCache().Give(base, size);
    FNames->_Release();
  }
  void TakeCount() {
    if (FCredit == 0) {
      FLive.fetch_add(kCreditBatch, std::memory_order_relaxed);
      FCredit = kCreditBatch;
    }
    --FCredit;
  }
  void NextChunk() {
    if (FSubEnd != FSlabEnd) {
      Populate(FSubEnd);
      *reinterpret_cast<TVarBlockOwner**>(FSubEnd) = this;
      FCur = FSubEnd + kHeader;
      FSubEnd += kChunkSize;
      return;
    }
    const std::size_t size = FNextSlab;
    FNextSlab = std::min(FNextSlab * 2, kMaxSlab);
    bool reused = false;
    char* base = SlabCache().Take(size);
    if (base) {
      reused = true;
    } else {
      void* raw = mmap(nullptr, size + kChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (raw == MAP_FAILED) throw std::bad_alloc();
      const auto r = reinterpret_cast<std::uintptr_t>(raw);
      const std::uintptr_t a = (r + kChunkSize - 1) & ~(kChunkSize - 1);
      if (a != r) munmap(raw, a - r);
      if (a + size != r + size + kChunkSize) munmap(reinterpret_cast<void*>(a + size), r + kChunkSize - a);
      base = reinterpret_cast<char*>(a);
    }
    FSlabs.emplace_back(base, size);
    FCur = base + kHeader;
    FSubEnd = base + kChunkSize;
    FSlabEnd = base + size;
    FPopulated = reused ? FSlabEnd : base;  // a reused slab is resident already
    Populate(base);
    *reinterpret_cast<TVarBlockOwner**>(base) = this;
  }

  // Pre-faults the next 256 KiB of a large slab once the bump pointer reaches
  // `at`: one call instead of 64 page faults, and at most that much touched
  // ahead of use.
  void Populate(char* at) {
    static constexpr std::size_t kAhead = std::size_t{256} << 10;
    if (at < FPopulated || FSlabEnd - FPopulated < static_cast<std::ptrdiff_t>(kAhead)) return;
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
    madvise(FPopulated, kAhead, MADV_POPULATE_WRITE);  // a hint: failure is fine
    FPopulated += kAhead;
  }

  static inline thread_local TXmlArena* tlBatch = nullptr;
  std::int64_t FBatched = 0;
  TXmlNameTable* FNames;
  char* FPopulated = nullptr;
  std::atomic<std::int64_t> FLive{0};
  std::int64_t FCredit = 0;
  std::int64_t FNodes = 0;
  char* FCur = nullptr;
  char* FSubEnd = nullptr;
  char* FSlabEnd = nullptr;
  std::size_t FNextSlab = kChunkSize;
  std::vector<std::pair<char*, std::size_t>> FSlabs;
  std::array<void*, kMaxNode / 8 + 1> FFree{};  // freed nodes by size in words
  // The rare per-node data (element values, attribute counts of 65535 and
  // more), made when first needed: most documents have none, and a
  // document's fixed cost counts where many small ones are held.
  struct TSide {
    std::unordered_map<const void*, TVariant> Data;
    std::unordered_map<const void*, std::uint32_t> BigAttrCounts;
  };
  TSide& Side() {
    if (!FSide) FSide = std::make_unique<TSide>();
    return *FSide;
  }
  std::unique_ptr<TSide> FSide;
};

inline TXmlNameTable* AsNameTable(const TIntfPtr<IXmlNameTable>& names) {
  // Tables of this unit are the only implementation of IXmlNameTable.
  return names ? static_cast<TXmlNameTable*>(names.Get()) : new TXmlNameTable(DefaultHashSize);
}

}  // namespace xmldetail

// ===================================================================== node cores

struct TXmlAttrData {
  TXmlNameID NameID;
  TVariant Value;
};

enum : std::uint8_t {
  kAttrsInArena = 1,
  kChildsInArena = 2,
  kHasData = 4,
  kLazyShort = 8,  // the lone text child is held in FTextChars (see TXmlContainer)
  kLazyRaw = 16,   // ... at FTextRaw
  kLazyText = kLazyShort | kLazyRaw
};

// The data every node has. The concrete classes put their interface (and
// with it the one vtable pointer) in front of it.
class TXmlNode {
 public:
  explicit TXmlNode(TXmlNodeType type) noexcept : FNodeType(type) {}
  bool IsContainer() const noexcept {
    return FNodeType == NODE_ELEMENT || FNodeType == NODE_PROCESSING_INSTRUCTION || FNodeType == NODE_DOCUMENT;
  }
  TXmlArena* Arena() const noexcept { return TXmlArena::Of(this); }
  TXmlNameTable* Names() const noexcept { return Arena()->Names(); }

  std::int32_t FRefCount = 0;
  TXmlNodeType FNodeType;
  std::uint8_t FFlags = 0;
  // A container's attribute count, kept here in what would be padding (see
  // TXmlContainer::NumAttrs).
  std::uint16_t FAttrCount16 = 0;
  TXmlNode* FParentNode = nullptr;
};

namespace NX_XML_LOCAL xmldetail {

// The children: none, one held in the node itself (most elements have a
// single text or element child, which then costs no array), or an array of
// two or more (in the arena when kChildsInArena says so, else on the heap
// with room for Capacity(FChildCount)).
//
// A parsed element whose only child is a text keeps just the text: up to 8
// bytes in the node itself (zeros pad it; a text with a zero byte, which a
// character reference can make, is not held), longer ones in the arena as a
// 32-bit length and the bytes. The text node is made the first time anything
// asks for the children (Kids), and is then an ordinary child. Most such
// elements are only read for their text or written back, and a text node
// with its string block would cost 40 bytes and more of the 100 or so that a
// short element's line takes. Readers that want only the text (the writer,
// Text) use LazyText.
class TXmlContainer : public TXmlNode {
 public:
  using TXmlNode::TXmlNode;
  TXmlNode* const* Kids() const { return const_cast<TXmlContainer*>(this)->Kids(); }
  TXmlNode** Kids() {
    if (FFlags & kLazyText) [[unlikely]]
      MakeTextKid();
    return FChildCount == 1 ? &FKid : FKidArray;
  }
  bool HasLazyText() const noexcept { return (FFlags & kLazyText) != 0; }
  std::string_view LazyText() const noexcept {
    if (FFlags & kLazyRaw) return RawView(FTextRaw);
    return {FTextChars, FTextChars[sizeof FTextChars - 1] ? sizeof FTextChars : std::strlen(FTextChars)};
  }
  // The held forms of a text: short (HoldShortText), or raw, a copy in
  // `arena` as a 32-bit length and the bytes (nullptr when the text is not
  // held: it has a zero byte, or is too long for one arena block).
  static bool FitsShort(std::string_view text) noexcept {
    return text.size() <= sizeof FTextChars && std::memchr(text.data(), 0, text.size()) == nullptr;
  }
  static const char* NewRawText(TXmlArena* arena, std::string_view text) {
    const auto n = static_cast<std::uint32_t>(text.size());
    if (text.size() + sizeof n > TXmlArena::kMaxSmall) return nullptr;
    auto* raw = static_cast<char*>(arena->AllocBytes(sizeof n + text.size()));
    std::memcpy(raw, &n, sizeof n);
    std::memcpy(raw + sizeof n, text.data(), text.size());
    return raw;
  }
  static std::string_view RawView(const char* raw) noexcept {
    std::uint32_t n;
    std::memcpy(&n, raw, sizeof n);
    return {raw + sizeof n, n};
  }
  // Holds a text as the only child of an element that has none.
  void HoldShortText(std::string_view text) noexcept {
    std::memset(FTextChars, 0, sizeof FTextChars);
    std::memcpy(FTextChars, text.data(), text.size());
    FFlags |= kLazyShort;
    FChildCount = 1;
  }
  void HoldRawText(const char* raw) noexcept {
    FTextRaw = raw;
    FFlags |= kLazyRaw;
    FChildCount = 1;
  }
  // Makes the held text an ordinary child node.
  void MakeTextKid();
  // Gives up the held text (its bytes stay in the arena until it goes).
  void DropLazyText() noexcept {
    FFlags &= ~kLazyText;
    FKid = nullptr;
  }
  // Gives up the child array (two or more children) without touching the children.
  void DropKidArray() noexcept {
    if (FChildCount >= 2 && !(FFlags & kChildsInArena)) std::free(FKidArray);
    FFlags &= ~kChildsInArena;
    FKidArray = nullptr;
  }

  // The attribute count: up to 65534 in the node (which keeps an element at
  // 56 bytes), larger counts in a side table of the arena.
  static constexpr std::uint16_t kBigAttrCount = 0xFFFF;
  std::uint32_t NumAttrs() const noexcept {
    return FAttrCount16 != kBigAttrCount ? FAttrCount16 : Arena()->BigAttrCount(this);
  }
  void SetNumAttrs(std::uint32_t n) {
    if (n >= kBigAttrCount) {
      Arena()->StoreBigAttrCount(this, n);
      FAttrCount16 = kBigAttrCount;
      return;
    }
    if (FAttrCount16 == kBigAttrCount) Arena()->EraseBigAttrCount(this);
    FAttrCount16 = static_cast<std::uint16_t>(n);
  }

  TXmlAttrData* FAttrs = nullptr;
  union {
    TXmlNode** FKidArray = nullptr;  // FChildCount >= 2
    TXmlNode* FKid;                  // FChildCount == 1
    char FTextChars[8];              // kLazyShort
    const char* FTextRaw;            // kLazyRaw
  };
  std::uint32_t FChildCount = 0;
  // The line of an element's start tag in the text it was read from; 0 when
  // it was not read from text (made in code, read from the binary form).
  // Here rather than in TXmlElementCore, where it would take a word of its own.
  std::uint32_t FLine = 0;
};

// An element's own value (FData) is rare next to its children, so it lives
// in a side table of the arena, keyed by the element; the flag kHasData says
// whether there is an entry (elements without a value never look).
class TXmlElementCore : public TXmlContainer {
 public:
  explicit TXmlElementCore(TXmlNameID name) noexcept : TXmlContainer(NODE_ELEMENT), FNameID(name) {}
  ~TXmlElementCore();
  const TVariant& Data() const noexcept;
  void SetData(TVariant v);
  bool HasData() const noexcept { return (FFlags & kHasData) != 0; }
  TXmlNameID FNameID;
};

class TXmlPICore : public TXmlContainer {
 public:
  TXmlPICore(TXmlNameID target, TVariant data) noexcept
      : TXmlContainer(NODE_PROCESSING_INSTRUCTION), FTargetNameID(target), FData(std::move(data)) {}
  TXmlNameID FTargetNameID;
  TVariant FData;  // a string
};

class TXmlDocCore : public TXmlContainer {
 public:
  TXmlDocCore() noexcept : TXmlContainer(NODE_DOCUMENT) {}
  bool FPreserveWhiteSpace = DefaultPreserveWhiteSpace;
};

class TXmlValueCore : public TXmlNode {
 public:
  TXmlValueCore(TXmlNodeType type, TVariant data) noexcept : TXmlNode(type), FData(std::move(data)) {}
  TVariant FData;  // text: any value; CDATA and comment: a string
};

inline const TVariant kEmptyVariant;

inline TXmlElementCore::~TXmlElementCore() {
  if (HasData()) Arena()->EraseData(this);
}
inline const TVariant& TXmlElementCore::Data() const noexcept { return HasData() ? Arena()->FindData(this) : kEmptyVariant; }
inline void TXmlElementCore::SetData(TVariant v) {
  if (v.IsEmpty()) {
    if (HasData()) Arena()->EraseData(this);
    FFlags &= ~kHasData;
    return;
  }
  Arena()->StoreData(this, std::move(v));
  FFlags |= kHasData;
}

// The room an attribute or child array has for `count` entries (arrays grow in powers of two).
inline std::size_t Capacity(std::uint32_t count) { return count ? std::bit_ceil(count) : 0; }
inline TXmlContainer* Cont(TXmlNode* n) { return static_cast<TXmlContainer*>(n); }
inline const TXmlContainer* Cont(const TXmlNode* n) { return static_cast<const TXmlContainer*>(n); }

// ---- node operations shared by all node classes (defined in RGSimpleXML.cpp and its siblings)
IXmlNode* Intf(TXmlNode* n) noexcept;
inline TIntfPtr<IXmlNode> Ptr(const TXmlNode* n) { return TIntfPtr<IXmlNode>(n ? Intf(const_cast<TXmlNode*>(n)) : nullptr); }
inline TXmlNode* Obj(const TIntfPtr<IXmlNode>& p) { return p ? p->NodeObject() : nullptr; }
void DestroyNode(TXmlNode* n) noexcept;
inline void AddRefNode(TXmlNode* n) noexcept { ++n->FRefCount; }
inline void ReleaseNode(TXmlNode* n) noexcept {
  if (--n->FRefCount == 0) DestroyNode(n);
}

std::string NodeName(const TXmlNode* n);
TXmlNameID NodeNameID(const TXmlNode* n);
std::string NodeText(const TXmlNode* n);
void SetNodeText(TXmlNode* n, std::string_view text);
TVariant NodeTypedValue(const TXmlNode* n);
void SetNodeTypedValue(TXmlNode* n, const TVariant& v);
std::string NodeXML(const TXmlNode* n);
TXmlNode* CloneNodeObj(const TXmlNode* n, bool deep, TXmlArena* arena);
TXmlNode* InsertChild(TXmlNode* parent, TXmlNode* child, std::uint32_t index);
void AppendNewChild(TXmlNode* parent, TXmlNode* child);
void AppendAttr(TXmlContainer* c, TXmlNameID id, TVariant value);
void CheckInsertable(const TXmlNode* parent, const TXmlNode* child);
void RequireContainer(const TXmlNode* n);
void RemoveChildAt(TXmlNode* parent, std::uint32_t index);
void ClearChilds(TXmlNode* parent);
void ClearAttrs(TXmlNode* n);
std::uint32_t ChildIndex(const TXmlNode* parent, const TXmlNode* child);
TXmlAttrData* FindAttr(const TXmlNode* n, TXmlNameID id);
TXmlAttrData* FindAttr(const TXmlNode* n, std::string_view name);
void SetAttrValue(TXmlNode* n, std::string_view name, TVariant value);
void SetAttrValueID(TXmlNode* n, TXmlNameID id, TVariant value);
void SaveNodeBin(const TXmlNode* n, TBinXmlWriter& w);
void LoadNodeBin(TXmlNode* n, TBinXmlReader& r);
TXmlNode* FindChildElement(const TXmlNode* n, TXmlNameID id);
TXmlNode* SelectSingle(const TXmlNode* n, std::string_view path);
void SelectAll(const TXmlNode* n, std::string_view path, std::vector<TXmlNode*>& out);

template <class T, class... A>
T* NewNode(TXmlArena* arena, A&&... args) {
  static_assert(sizeof(T) <= TXmlArena::kMaxNode);
  void* m = arena->AllocNode(sizeof(T));
  return new (m) T(std::forward<A>(args)...);
}

}  // namespace xmldetail

// ===================================================================== node classes

namespace NX_XML_LOCAL xmldetail {

// All of IXmlNode for one interface I over one core: one-line forwarders.
template <class I, class Core>
class TXmlNodeT : public I, public Core {
 public:
  using Core::Core;

  std::int32_t _AddRef() noexcept override { return ++this->FRefCount; }
  std::int32_t _Release() noexcept override {
    const std::int32_t c = --this->FRefCount;
    if (c == 0) DestroyNode(this);
    return c;
  }
  TXmlNode* NodeObject() noexcept override { return this; }
  TXmlNode* Self() const noexcept { return const_cast<TXmlNode*>(static_cast<const TXmlNode*>(this)); }

  std::string NodeName() const override { return nx::NodeName(Self()); }
  TXmlNameID NodeNameID() const override { return nx::NodeNameID(Self()); }
  TXmlNodeType NodeType() const override { return this->FNodeType; }
  std::uint32_t SourceLine() const override {
    return this->FNodeType == NODE_ELEMENT ? static_cast<const TXmlElementCore*>(Self())->FLine : 0;
  }
  TIntfPtr<IXmlNode> ParentNode() const override { return Ptr(this->FParentNode); }
  TIntfPtr<IXmlDocument> OwnerDocument() const override;
  TIntfPtr<IXmlNameTable> NameTable() const override { return TIntfPtr<IXmlNameTable>(Self()->Names()); }
  TIntfPtr<IXmlNodeList> ChildNodes() override { return TIntfPtr<IXmlNodeList>(new TXmlNodeList(Self())); }
  int AttrCount() const override { return Self()->IsContainer() ? static_cast<int>(Cont(Self())->NumAttrs()) : 0; }
  TXmlNameID AttrNameID(int index) const override {
    if (index < 0 || index >= AttrCount()) Fail(kMsgIndex);
    return Cont(Self())->FAttrs[index].NameID;
  }
  std::string AttrName(int index) const override { return AttrNameID(index)->Text; }
  std::string Text() const override { return NodeText(Self()); }
  void SetText(std::string_view text) override { SetNodeText(Self(), text); }
  TVarType DataType() const override { return NodeTypedValue(Self()).VType(); }
  TVariant TypedValue() const override { return NodeTypedValue(Self()); }
  void SetTypedValue(const TVariant& value) override { SetNodeTypedValue(Self(), value); }
  std::string XML() const override { return NodeXML(Self()); }
  TVariant Values(std::string_view name) const override {
    const TXmlNameID id = Self()->Names()->FindID(name);
    TXmlNode* c = id ? FindChildElement(Self(), id) : nullptr;
    return c ? NodeTypedValue(c) : TVariant();
  }
  void SetValues(std::string_view name, const TVariant& value) override {
    SetNodeTypedValue(EnsureChild(name)->NodeObject(), value);
  }

  TIntfPtr<IXmlNode> CloneNode(bool deep) const override {
    return Ptr(CloneNodeObj(Self(), deep, Self()->Arena()));
  }
  TIntfPtr<IXmlNode> AppendChild(const TIntfPtr<IXmlNode>& child) override {
    return Ptr(InsertChild(Self(), Obj(child), Self()->IsContainer() ? Cont(Self())->FChildCount : 0));
  }
  TIntfPtr<IXmlNode> InsertBefore(const TIntfPtr<IXmlNode>& child, const TIntfPtr<IXmlNode>& before) override {
    std::uint32_t index = Self()->IsContainer() ? Cont(Self())->FChildCount : 0;
    if (before) {
      index = ChildIndex(Self(), Obj(before));
      if (index == UINT32_MAX) Fail(kMsgIndex);
    }
    return Ptr(InsertChild(Self(), Obj(child), index));
  }
  TIntfPtr<IXmlNode> RemoveChild(const TIntfPtr<IXmlNode>& child) override {
    const std::uint32_t index = ChildIndex(Self(), Obj(child));
    if (index == UINT32_MAX) Fail(kMsgIndex);
    TIntfPtr<IXmlNode> keep = child;
    RemoveChildAt(Self(), index);
    return keep;
  }
  TIntfPtr<IXmlNode> ReplaceChild(const TIntfPtr<IXmlNode>& newChild, const TIntfPtr<IXmlNode>& oldChild) override {
    std::uint32_t index = ChildIndex(Self(), Obj(oldChild));
    if (index == UINT32_MAX) Fail(kMsgIndex);
    TIntfPtr<IXmlNode> keep = oldChild;
    if (Obj(newChild) == Obj(oldChild)) return keep;
    CheckInsertable(Self(), Obj(newChild));  // before the old child goes
    RemoveChildAt(Self(), index);
    // The new child may have come from this very list before the old one.
    TXmlNode* nc = Obj(newChild);
    if (nc && nc->FParentNode == Self() && ChildIndex(Self(), nc) < index) --index;
    InsertChild(Self(), nc, index);
    return keep;
  }
  void RemoveAllChilds() override { ClearChilds(Self()); }
  TIntfPtr<IXmlElement> AppendElement(std::string_view name) override {
    return AppendElement(Self()->Names()->GetID(name));
  }
  TIntfPtr<IXmlElement> AppendElement(TXmlNameID nameID) override;
  TIntfPtr<IXmlText> AppendText(const TVariant& value) override;
  TIntfPtr<IXmlCDATASection> AppendCDATA(std::string_view data) override;
  TIntfPtr<IXmlComment> AppendComment(std::string_view data) override;
  TIntfPtr<IXmlProcessingInstruction> AppendProcessingInstruction(std::string_view target,
                                                                   std::string_view data) override;
  TIntfPtr<IXmlElement> FindElement(std::string_view name, std::string_view attrName,
                                    std::string_view attrValue) const override;
  TIntfPtr<IXmlNode> FindFirstChild(TXmlNameID nameID) const override {
    if (!Self()->IsContainer()) return nullptr;
    const TXmlContainer* c = Cont(Self());
    for (std::uint32_t k = 0; k < c->FChildCount; ++k)
      if (nx::NodeNameID(c->Kids()[k]) == nameID) return Ptr(c->Kids()[k]);
    return nullptr;
  }
  TIntfPtr<IXmlNodeList> SelectNodes(std::string_view path) const override {
    std::vector<TXmlNode*> found;
    SelectAll(Self(), path, found);
    TIntfPtr<TXmlNodeList> list(new TXmlNodeList(nullptr));
    for (TXmlNode* n : found) list->Insert(Ptr(n), -1);
    return list;
  }
  TIntfPtr<IXmlNode> SelectSingleNode(std::string_view path) const override { return Ptr(SelectSingle(Self(), path)); }
  std::string FullPath() const override {
    std::vector<const TXmlNode*> chain;
    for (const TXmlNode* n = Self(); n && n->FNodeType != NODE_DOCUMENT; n = n->FParentNode) chain.push_back(n);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!out.empty()) out.push_back(XMLPathDelimiter);
      out += nx::NodeName(*it);
    }
    return out;
  }
  std::string GetChildText(std::string_view name, std::string_view def) const override {
    const TXmlNameID id = Self()->Names()->FindID(name);
    TXmlNode* c = id ? FindChildElement(Self(), id) : nullptr;
    return c ? NodeText(c) : std::string(def);
  }
  void SetChildText(std::string_view name, std::string_view text) override { EnsureChild(name)->SetText(text); }
  TIntfPtr<IXmlElement> EnsureChild(std::string_view name) override {
    TXmlNode* c = FindChildElement(Self(), Self()->Names()->GetID(name));
    return c ? Supports<IXmlElement>(Ptr(c)) : AppendElement(name);
  }
  TIntfPtr<IXmlElement> NeedChild(std::string_view name) const override {
    const TXmlNameID id = Self()->Names()->FindID(name);
    TXmlNode* c = id ? FindChildElement(Self(), id) : nullptr;
    if (!c) Fail1(kMsgChildNotFound, name);
    return Supports<IXmlElement>(Ptr(c));
  }

  std::string GetAttr(std::string_view name, std::string_view def) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    return a ? VarToXSTR(a->Value) : std::string(def);
  }
  void SetAttr(std::string_view name, std::string_view value) override {
    SetAttrValue(Self(), name, Self()->Arena()->NewString(value));
  }
  TVariant GetVarAttr(std::string_view name, const TVariant& def) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    return a ? a->Value : def;
  }
  void SetVarAttr(std::string_view name, const TVariant& value) override { SetAttrValue(Self(), name, value); }
  std::int32_t GetIntAttr(std::string_view name, std::int32_t def) const override;
  void SetIntAttr(std::string_view name, std::int32_t value) override { SetAttrValue(Self(), name, TVariant(value)); }
  std::uint32_t GetHexAttr(std::string_view name, std::uint32_t def) const override;
  void SetHexAttr(std::string_view name, std::uint32_t value, int digits) override {
    SetAttr(name, Format("%.*X", std::clamp(digits, 1, 8), value));
  }
  bool GetBoolAttr(std::string_view name, bool def) const override;
  void SetBoolAttr(std::string_view name, bool value) override { SetAttrValue(Self(), name, TVariant(value)); }
  double GetFloatAttr(std::string_view name, double def) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    if (!a) return def;
    if (a->Value.IsFloat() || a->Value.IsInteger() || a->Value.VType() == varCurrency) return a->Value.AsDouble();
    return XSTRToFloat(VarToXSTR(a->Value));
  }
  void SetFloatAttr(std::string_view name, double value) override { SetAttrValue(Self(), name, TVariant(value)); }
  double GetDateTimeAttr(std::string_view name, double def) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    if (!a) return def;
    if (a->Value.VType() == varDate || a->Value.VType() == varDouble) return a->Value.AsDouble();
    return XSTRToDateTime(VarToXSTR(a->Value));
  }
  void SetDateTimeAttr(std::string_view name, double value) override {
    SetAttrValue(Self(), name, TVariant::Date(value));
  }
  int GetEnumAttr(std::string_view name, const std::vector<std::string>& values, int def) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    return a ? EnumIndex(name, VarToXSTR(a->Value), values) : def;
  }
  int NeedEnumAttr(std::string_view name, const std::vector<std::string>& values) const override {
    return EnumIndex(name, NeedAttr(name), values);
  }
  std::string NeedAttr(std::string_view name) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    if (!a) Fail1(kMsgAttrNotFound, name);
    std::string s = VarToXSTR(a->Value);
    if (s.empty()) Fail1(kMsgAttrNotAssigned, name);
    return s;
  }
  bool AttrExists(std::string_view name) const override { return FindAttr(Self(), name) != nullptr; }
  TVarType GetAttrType(std::string_view name) const override {
    const TXmlAttrData* a = FindAttr(Self(), name);
    return a ? a->Value.VType() : varEmpty;
  }
  void RemoveAttr(std::string_view name) override {
    TXmlAttrData* a = FindAttr(Self(), name);
    if (!a) return;
    TXmlContainer* c = Cont(Self());
    const std::uint32_t index = static_cast<std::uint32_t>(a - c->FAttrs);
    a->Value.Clear();
    // TVariant relocates bitwise: close the gap with memmove and forget the last slot.
    std::memmove(static_cast<void*>(c->FAttrs + index), static_cast<const void*>(c->FAttrs + index + 1),
                 (c->NumAttrs() - index - 1) * sizeof(TXmlAttrData));
    c->SetNumAttrs(c->NumAttrs() - 1);
  }
  void RemoveAllAttrs() override { ClearAttrs(Self()); }

  TIntfPtr<IXmlElement> AsElement() override { return Supports<IXmlElement>(static_cast<IInterface*>(this)); }
  TIntfPtr<IXmlText> AsText() override { return Supports<IXmlText>(static_cast<IInterface*>(this)); }
  TIntfPtr<IXmlCDATASection> AsCDATASection() override {
    return Supports<IXmlCDATASection>(static_cast<IInterface*>(this));
  }
  TIntfPtr<IXmlComment> AsComment() override { return Supports<IXmlComment>(static_cast<IInterface*>(this)); }
  TIntfPtr<IXmlProcessingInstruction> AsProcessingInstruction() override {
    return Supports<IXmlProcessingInstruction>(static_cast<IInterface*>(this));
  }

  void LoadBinXml(TBinXmlReader& reader) override { LoadNodeBin(Self(), reader); }
  void SaveBinXml(TBinXmlWriter& writer) const override { SaveNodeBin(Self(), writer); }

 private:
  int EnumIndex(std::string_view name, const std::string& text, const std::vector<std::string>& values) const {
    for (std::size_t k = 0; k < values.size(); ++k)
      if (values[k] == text) return static_cast<int>(k);
    std::string allowed;
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (k) allowed += "\r\n";
      allowed += values[k];
    }
    Fail("Incorrect value of the attribute \"" + std::string(name) + "\" at element \"" + nx::NodeName(Self()) +
         "\".\r\nAllowed values are: \r\n" + allowed);
  }
};

template <class... I, class Self>
bool NodeQuery(Self* self, const TGUID& iid, void** obj) noexcept {
  if (!obj) return false;
  *obj = nullptr;
  return QueryInterfaces<I..., IXmlNode, IXmlBase, IInterface>(self, iid, obj);
}

class TXmlElement final : public TXmlNodeT<IXmlElement, TXmlElementCore> {
 public:
  using TXmlNodeT::TXmlNodeT;
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override { return NodeQuery<IXmlElement>(this, iid, obj); }
  void RemoveTextNodes() override {
    TXmlContainer* c = this;
    for (std::uint32_t k = c->FChildCount; k-- > 0;) {
      const TXmlNodeType t = c->Kids()[k]->FNodeType;
      if (t == NODE_TEXT || t == NODE_CDATA_SECTION) RemoveChildAt(this, k);
    }
  }
  void ReplaceTextByCDATASection(std::string_view text) override {
    RemoveTextNodes();
    SetData(TVariant());
    AppendCDATA(text);
  }
  void ReplaceTextByBinaryData(const void* data, std::size_t size, int maxLineLength) override {
    RemoveTextNodes();
    SetData(TVariant());
    AppendText(TVariant(BinToBase64(data, size, maxLineLength)));
  }
  std::vector<std::uint8_t> GetTextAsBinaryData() const override { return Base64ToBin(NodeText(Self())); }
};

class TXmlText final : public TXmlNodeT<IXmlText, TXmlValueCore> {
 public:
  explicit TXmlText(TVariant v) noexcept : TXmlNodeT(NODE_TEXT, std::move(v)) {}
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override { return NodeQuery<IXmlText>(this, iid, obj); }
};

class TXmlCDATASection final : public TXmlNodeT<IXmlCDATASection, TXmlValueCore> {
 public:
  explicit TXmlCDATASection(TVariant v) noexcept : TXmlNodeT(NODE_CDATA_SECTION, std::move(v)) {}
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override {
    return NodeQuery<IXmlCDATASection, IXmlCharacterData>(this, iid, obj);
  }
};

class TXmlComment final : public TXmlNodeT<IXmlComment, TXmlValueCore> {
 public:
  explicit TXmlComment(TVariant v) noexcept : TXmlNodeT(NODE_COMMENT, std::move(v)) {}
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override {
    return NodeQuery<IXmlComment, IXmlCharacterData>(this, iid, obj);
  }
};

class TXmlProcessingInstruction final : public TXmlNodeT<IXmlProcessingInstruction, TXmlPICore> {
 public:
  using TXmlNodeT::TXmlNodeT;
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override {
    return NodeQuery<IXmlProcessingInstruction>(this, iid, obj);
  }
  std::string Target() const override { return FTargetNameID->Text; }
};

class TXmlDocument final : public TXmlNodeT<IXmlDocument, TXmlDocCore> {
 public:
  TXmlDocument() noexcept = default;
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override { return NodeQuery<IXmlDocument>(this, iid, obj); }
  bool PreserveWhiteSpace() const override { return FPreserveWhiteSpace; }
  void SetPreserveWhiteSpace(bool value) override { FPreserveWhiteSpace = value; }
  TIntfPtr<IXmlElement> DocumentElement() const override {
    TXmlNode* const* kids = Kids();
    for (std::uint32_t k = 0; k < FChildCount; ++k)
      if (kids[k]->FNodeType == NODE_ELEMENT) return TIntfPtr<IXmlElement>(static_cast<TXmlElement*>(kids[k]));
    return nullptr;
  }
  std::string BinaryXML() const override {
    TStrXmlWriter w(0);
    SaveDocBin(w);
    return w.TakeData();
  }
  TIntfPtr<IXmlElement> NewDocument(std::string_view version, std::string_view encoding,
                                    std::string_view rootName) override {
    Clear();
    TXmlNameTable* names = Names();
    TXmlArena* arena = Arena();
    TXmlProcessingInstruction* pi = NewNode<TXmlProcessingInstruction>(arena, names->FXmlNameID, TVariant());
    InsertChild(this, pi, 0);
    SetAttrValue(pi, "version", arena->NewString(version.empty() ? std::string_view("1.0") : version));
    SetAttrValue(pi, "encoding", arena->NewString(encoding.empty() ? std::string_view("UTF-8") : encoding));
    TXmlElement* root = NewNode<TXmlElement>(arena, names->GetID(rootName));
    InsertChild(this, root, 1);
    return TIntfPtr<IXmlElement>(root);
  }
  TIntfPtr<IXmlElement> CreateElement(std::string_view name) override {
    return TIntfPtr<IXmlElement>(NewNode<TXmlElement>(Arena(), Names()->GetID(name)));
  }
  TIntfPtr<IXmlText> CreateText(const TVariant& value) override {
    return TIntfPtr<IXmlText>(NewNode<TXmlText>(Arena(), value));
  }
  TIntfPtr<IXmlComment> CreateComment(std::string_view data) override {
    return TIntfPtr<IXmlComment>(NewNode<TXmlComment>(Arena(), Arena()->NewString(data)));
  }
  TIntfPtr<IXmlCDATASection> CreateCDATASection(std::string_view data) override {
    return TIntfPtr<IXmlCDATASection>(NewNode<TXmlCDATASection>(Arena(), Arena()->NewString(data)));
  }
  TIntfPtr<IXmlProcessingInstruction> CreateProcessingInstruction(std::string_view target,
                                                                  std::string_view data) override {
    return TIntfPtr<IXmlProcessingInstruction>(
        NewNode<TXmlProcessingInstruction>(Arena(), Names()->GetID(target), Arena()->NewString(data)));
  }
  void Load(TStream& stream) override;
  void Load(const std::string& fileName) override {
    TFileStream f(fileName, fmOpenRead);
    Load(f);
  }
  void LoadXML(std::string_view xml) override;
  void LoadBinaryXML(std::string_view data) override {
    Clear();
    TStrXmlReader r(data);
    LoadDocBin(r);
  }
  void LoadResource(std::string_view type, std::string_view name) override;
  void Save(TStream& stream) const override;
  void Save(const std::string& fileName) const override {
    TFileStream f(fileName, fmCreate);
    Save(f);
  }
  std::string SaveXML() const override;
  void SaveBinary(TStream& stream, std::uint32_t options) const override {
    TStmXmlWriter w(stream, options);
    SaveDocBin(w);
    w.Flush();
  }

  void Clear() {
    ClearChilds(this);
    ClearAttrs(this);
  }
  void SaveDocBin(TBinXmlWriter& w) const;
  void LoadDocBin(TBinXmlReader& r);
  int SaveCodepage() const;
};

}  // namespace xmldetail

// The node classes are instantiated once, in RGSimpleXML.cpp.
namespace NX_XML_LOCAL xmldetail {
extern template class TXmlNodeT<IXmlElement, TXmlElementCore>;
extern template class TXmlNodeT<IXmlText, TXmlValueCore>;
extern template class TXmlNodeT<IXmlCDATASection, TXmlValueCore>;
extern template class TXmlNodeT<IXmlComment, TXmlValueCore>;
extern template class TXmlNodeT<IXmlProcessingInstruction, TXmlPICore>;
extern template class TXmlNodeT<IXmlDocument, TXmlDocCore>;
}  // namespace xmldetail

}  // namespace nx
