// RGSimpleXML: the XML document model, the text parser and writer and the
// binary form (see RGSimpleXML.h for the interface).
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
// sixteen bytes at a time) and used where it stands in the window: names are
// hashed during the scan and looked up without a copy. Everything else
// (entities, other characters, a run that reaches the end of the window)
// goes through Next(), one character at a time, with the same results.
//
// Every walk over a tree (writing, copying, reading the binary form,
// freeing) keeps its own stack, so the depth of a tree is bounded by memory,
// not by the thread's stack.
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
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace nx {

// ===================================================================== messages

namespace {

[[noreturn]] void Fail(std::string message) { throw EXmlError(std::move(message)); }
[[noreturn]] void Fail1(const char* fmt, std::string_view arg) { Fail(Format(fmt, std::string(arg).c_str())); }

const char* const kMsgCharExpected = "Character \"%s\" expected";
const char* const kMsgTextExpected = "Text \"%s\" expected";
const char* const kMsgLtInAttr = "Character \"<\" cannot be used in the values of attributes";
const char* const kMsgExpected = "\"%s\" expected";
const char* const kMsgAttrValueExpected = "The value of the attribute is expected";
const char* const kMsgLineConstExpected = "Line constant expected";
const char* const kMsgReadData = "Error reading data";
const char* const kMsgReadType = "Error reading value: incorrect type";
const char* const kMsgUnknownVarType = "Unknown data type in variant";
const char* const kMsgEncoding = "Encoding \"%s\" is not supported by SimpleXML";
const char* const kMsgIndex = "Error obtaining the element the list: Index out of range";
const char* const kMsgElemNotCompleted = "The determination of the element is not completed";
const char* const kMsgInvalidNameSymbol = "Invalid symbol in the name of the element";
const char* const kMsgReadNodeType = "Error of reading binary XML: incorrect node-type";
const char* const kMsgWriteNodeType = "Error of the record of binary XML: incorrect node-type";
const char* const kMsgAttrNotFound = "Attribute \"%s\" not found";
const char* const kMsgAttrNotAssigned = "Attribute \"%s\" not assigned";
const char* const kMsgNotSupported = "This feature is not supported by SimpleXML";
const char* const kMsgChildNotFound = "Error: Child node \"%s\" not found";
const char* const kMsgNameStart = "Name must start with letter or \" _\"";
const char* const kMsgNumber = "Number expected";
const char* const kMsgHexNumber = "Hexadecimal number expected";
const char* const kMsgEntityStart = "\"#\" or XML entity symbol name expected";
const char* const kMsgUnknownEntity = "Unknown XML entity symbol name \"%s\" found";

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
std::string ValidUtf8(std::string s) {
  std::size_t k = 0;
  while (k < s.size() && static_cast<std::uint8_t>(s[k]) < 0x80) ++k;
  if (k == s.size()) return s;
  std::string out(s, 0, k);
  for (std::size_t i = k; i < s.size();) AppendUtf8(out, DecodeUtf8(s, i));
  return out;
}

// The UTF-16 code units of an API string.
std::u16string ToUtf16(std::string_view s) {
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

std::string FromUtf16(const char16_t* units, std::size_t count) {
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
locale_t UnicodeLocale() {
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
constexpr TAsciiClasses kAscii;

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

bool IsValidName(std::string_view s) {
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
constexpr TEncodingRow XMLEncodingData[20] = {
    {"UTF-8", 65001},        {"WINDOWS-1250", 1250}, {"WINDOWS-1251", 1251}, {"WINDOWS-1252", 1252},
    {"WINDOWS-1253", 1253},  {"WINDOWS-1254", 1254}, {"WINDOWS-1255", 1255}, {"WINDOWS-1256", 1256},
    {"WINDOWS-1257", 1257},  {"WINDOWS-1258", 1258}, {"ISO-8859-1", 28591},  {"ISO-8859-2", 28592},
    {"ISO-8859-3", 28593},   {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},  {"ISO-8859-6", 28596},
    {"ISO-8859-7", 28597},   {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599},  {"ISO-2022-JP", 50220},
};

std::string IconvName(int cp) {
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

}  // namespace

std::uint32_t NameHash(std::string_view utf8Name) {
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < utf8Name.size();) {
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

// ===================================================================== name table

namespace {

class TXmlNameTable final : public IXmlNameTable {
 public:
  explicit TXmlNameTable(int hashTableSize) : FHashTable(static_cast<std::size_t>(std::max(hashTableSize, 1))) {
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
    const TBucket& b = FHashTable[hash % FHashTable.size()];
    for (std::size_t k = 0; k < b.Hashes.size(); ++k)
      if (b.Hashes[k] == hash) return b.Names[k];
    return nullptr;
  }
  std::string GetName(TXmlNameID id) const override { return id ? id->Text : std::string(); }
  int NameCount() const override { return static_cast<int>(FNames.size()); }
  TXmlNameID NameAt(int index) const override {
    if (index < 0 || static_cast<std::size_t>(index) >= FNames.size()) Fail(kMsgIndex);
    return &FNames[static_cast<std::size_t>(index)];
  }
  int BucketCount() const override { return static_cast<int>(FHashTable.size()); }

  TXmlNameID Find(std::string_view name, std::uint32_t hash) const {
    const TBucket& b = FHashTable[hash % FHashTable.size()];
    for (std::size_t k = 0; k < b.Hashes.size(); ++k)
      if (b.Hashes[k] == hash && b.Names[k]->Text == name) return b.Names[k];
    return nullptr;
  }
  // The ID of `name` whose hash the caller computed.
  TXmlNameID Intern(std::string_view name, std::uint32_t hash) {
    TBucket& b = FHashTable[hash % FHashTable.size()];
    for (std::size_t k = 0; k < b.Hashes.size(); ++k)
      if (b.Hashes[k] == hash && SameText(b.Names[k]->Text, name)) return b.Names[k];
    FNames.push_back(TXmlName{std::string(name), hash});
    b.Names.push_back(&FNames.back());
    b.Hashes.push_back(hash);
    return &FNames.back();
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
  struct TBucket {
    std::vector<TXmlName*> Names;
    std::vector<std::uint32_t> Hashes;
  };
  std::deque<TXmlName> FNames;  // stable addresses: the IDs
  std::vector<TBucket> FHashTable;
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
TSlabCache& SlabCache() {
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
  const TVariant& FindData(const void* element) const noexcept { return FElementData.find(element)->second; }
  void StoreData(const void* element, TVariant v) { FElementData[element] = std::move(v); }
  void EraseData(const void* element) noexcept { FElementData.erase(element); }
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
  std::array<void*, 33> FFree{};
  std::unordered_map<const void*, TVariant> FElementData;
};

TXmlNameTable* AsNameTable(const TIntfPtr<IXmlNameTable>& names) {
  // Tables of this unit are the only implementation of IXmlNameTable.
  return names ? static_cast<TXmlNameTable*>(names.Get()) : new TXmlNameTable(DefaultHashSize);
}

}  // namespace

// ===================================================================== node cores

struct TXmlAttrData {
  TXmlNameID NameID;
  TVariant Value;
};

enum : std::uint8_t { kAttrsInArena = 1, kChildsInArena = 2, kHasData = 4 };

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
  TXmlNode* FParentNode = nullptr;
};

namespace {

class TXmlContainer : public TXmlNode {
 public:
  using TXmlNode::TXmlNode;
  TXmlAttrData* FAttrs = nullptr;
  TXmlNode** FChilds = nullptr;
  std::uint32_t FAttrCount = 0;
  std::uint32_t FChildCount = 0;
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
  // The line of the start tag in the text the element was read from; 0 when
  // it was not read from text (made in code, read from the binary form).
  std::uint32_t FLine = 0;
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

const TVariant kEmptyVariant;

TXmlElementCore::~TXmlElementCore() {
  if (HasData()) Arena()->EraseData(this);
}
const TVariant& TXmlElementCore::Data() const noexcept { return HasData() ? Arena()->FindData(this) : kEmptyVariant; }
void TXmlElementCore::SetData(TVariant v) {
  if (v.IsEmpty()) {
    if (HasData()) Arena()->EraseData(this);
    FFlags &= ~kHasData;
    return;
  }
  Arena()->StoreData(this, std::move(v));
  FFlags |= kHasData;
}

inline TXmlContainer* Cont(TXmlNode* n) { return static_cast<TXmlContainer*>(n); }
inline const TXmlContainer* Cont(const TXmlNode* n) { return static_cast<const TXmlContainer*>(n); }

// ---- node operations shared by all node classes (defined further down)
IXmlNode* Intf(TXmlNode* n) noexcept;
inline TIntfPtr<IXmlNode> Ptr(const TXmlNode* n) { return TIntfPtr<IXmlNode>(n ? Intf(const_cast<TXmlNode*>(n)) : nullptr); }
TXmlNode* Obj(const TIntfPtr<IXmlNode>& p) { return p ? p->NodeObject() : nullptr; }
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
void SaveNodeBin(const TXmlNode* n, TBinXmlWriter& w);
void LoadNodeBin(TXmlNode* n, TBinXmlReader& r);
TXmlNode* FindChildElement(const TXmlNode* n, TXmlNameID id);
TXmlNode* SelectSingle(const TXmlNode* n, std::string_view path);
void SelectAll(const TXmlNode* n, std::string_view path, std::vector<TXmlNode*>& out);

template <class T, class... A>
T* NewNode(TXmlArena* arena, A&&... args) {
  static_assert(sizeof(T) <= 256);
  void* m = arena->AllocNode(sizeof(T));
  return new (m) T(std::forward<A>(args)...);
}

}  // namespace

// ===================================================================== node classes

namespace {

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
  int AttrCount() const override { return Self()->IsContainer() ? static_cast<int>(Cont(Self())->FAttrCount) : 0; }
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
      if (nx::NodeNameID(c->FChilds[k]) == nameID) return Ptr(c->FChilds[k]);
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
                 (c->FAttrCount - index - 1) * sizeof(TXmlAttrData));
    --c->FAttrCount;
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
      const TXmlNodeType t = c->FChilds[k]->FNodeType;
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
    for (std::uint32_t k = 0; k < FChildCount; ++k)
      if (FChilds[k]->FNodeType == NODE_ELEMENT) return TIntfPtr<IXmlElement>(static_cast<TXmlElement*>(FChilds[k]));
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

// Frees the attribute and child arrays of a container (children released).
// Children go on the stack last first, so that they are freed in document
// order, which is the order of their memory in the arena (the walk streams
// forward through it).
void FreeArrays(TXmlContainer* c, std::vector<TXmlNode*>& dead) noexcept {
  for (std::uint32_t k = c->FChildCount; k-- > 0;) {
    TXmlNode* ch = c->FChilds[k];
    ch->FParentNode = nullptr;
    if (--ch->FRefCount == 0) dead.push_back(ch);
  }
  for (std::uint32_t k = 0; k < c->FAttrCount; ++k) c->FAttrs[k].~TXmlAttrData();
  if (c->FChilds && !(c->FFlags & kChildsInArena)) std::free(c->FChilds);
  if (c->FAttrs && !(c->FFlags & kAttrsInArena)) std::free(c->FAttrs);
  c->FChilds = nullptr;
  c->FAttrs = nullptr;
  c->FChildCount = c->FAttrCount = 0;
}

template <class T>
void DestroyAs(TXmlNode* n) noexcept {
  T* obj = static_cast<T*>(n);
  TXmlArena* arena = n->Arena();
  obj->~T();
  arena->FreeNode(obj, sizeof(T));
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

inline std::size_t Capacity(std::uint32_t count) { return count ? std::bit_ceil(count) : 0; }

void RequireContainer(const TXmlNode* n) {
  if (!n->IsContainer()) Fail(kMsgNotSupported);
}

std::uint32_t ChildIndex(const TXmlNode* parent, const TXmlNode* child) {
  if (!child || child->FParentNode != parent || !parent->IsContainer()) return UINT32_MAX;
  const TXmlContainer* c = Cont(parent);
  for (std::uint32_t k = 0; k < c->FChildCount; ++k)
    if (c->FChilds[k] == child) return k;
  return UINT32_MAX;
}

void RemoveChildAt(TXmlNode* parent, std::uint32_t index) {
  TXmlContainer* c = Cont(parent);
  if (index >= c->FChildCount) Fail(kMsgIndex);
  TXmlNode* child = c->FChilds[index];
  std::memmove(c->FChilds + index, c->FChilds + index + 1, (c->FChildCount - index - 1) * sizeof(TXmlNode*));
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

// Room for one more child (the array leaves the arena when it grows).
void GrowChilds(TXmlContainer* c) {
  const std::uint32_t need = c->FChildCount + 1;
  if (c->FFlags & kChildsInArena) {
    auto* arr = static_cast<TXmlNode**>(std::malloc(Capacity(need) * sizeof(TXmlNode*)));
    if (!arr) throw std::bad_alloc();
    std::memcpy(arr, c->FChilds, c->FChildCount * sizeof(TXmlNode*));
    c->FChilds = arr;
    c->FFlags &= ~kChildsInArena;
  } else if (need > Capacity(c->FChildCount)) {
    auto* arr = static_cast<TXmlNode**>(std::realloc(c->FChilds, Capacity(need) * sizeof(TXmlNode*)));
    if (!arr) throw std::bad_alloc();
    c->FChilds = arr;
  }
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
  GrowChilds(c);
  std::memmove(c->FChilds + index + 1, c->FChilds + index, (c->FChildCount - index) * sizeof(TXmlNode*));
  c->FChilds[index] = child;  // the reference taken above now belongs to the list
  ++c->FChildCount;
  child->FParentNode = parent;
  return child;
}

// Appends a node that has no parent yet and is of this tree's table; the
// list takes a reference (a node nobody held is freed if this fails).
void AppendNewChild(TXmlNode* parent, TXmlNode* child) {
  TXmlContainer* c = Cont(parent);
  AddRefNode(child);
  try {
    GrowChilds(c);
  } catch (...) {
    ReleaseNode(child);
    throw;
  }
  c->FChilds[c->FChildCount++] = child;
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
  for (std::uint32_t k = 0; k < c->FAttrCount; ++k) c->FAttrs[k].~TXmlAttrData();
  c->FAttrCount = 0;
}

TXmlAttrData* FindAttr(const TXmlNode* n, TXmlNameID id) {
  if (!id || !n->IsContainer()) return nullptr;
  const TXmlContainer* c = Cont(n);
  for (std::uint32_t k = 0; k < c->FAttrCount; ++k)
    if (c->FAttrs[k].NameID == id) return &c->FAttrs[k];
  return nullptr;
}
TXmlAttrData* FindAttr(const TXmlNode* n, std::string_view name) {
  if (!n->IsContainer()) return nullptr;
  return FindAttr(n, n->Names()->FindID(name));
}

void AppendAttr(TXmlContainer* c, TXmlNameID id, TVariant value) {
  const std::uint32_t need = c->FAttrCount + 1;
  if (c->FFlags & kAttrsInArena) {
    auto* arr = static_cast<TXmlAttrData*>(std::malloc(Capacity(need) * sizeof(TXmlAttrData)));
    if (!arr) throw std::bad_alloc();
    std::memcpy(static_cast<void*>(arr), static_cast<const void*>(c->FAttrs), c->FAttrCount * sizeof(TXmlAttrData));
    c->FAttrs = arr;
    c->FFlags &= ~kAttrsInArena;
  } else if (need > Capacity(c->FAttrCount)) {
    auto* arr = static_cast<TXmlAttrData*>(std::realloc(static_cast<void*>(c->FAttrs), Capacity(need) * sizeof(TXmlAttrData)));
    if (!arr) throw std::bad_alloc();
    c->FAttrs = arr;
  }
  new (&c->FAttrs[c->FAttrCount]) TXmlAttrData{id, std::move(value)};
  ++c->FAttrCount;
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
  if (!n->IsContainer()) return nullptr;
  const TXmlContainer* c = Cont(n);
  for (std::uint32_t k = 0; k < c->FChildCount; ++k) {
    TXmlNode* ch = c->FChilds[k];
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
  std::string out;
  for (std::uint32_t k = 0; k < c->FChildCount; ++k) {
    const TXmlNode* ch = c->FChilds[k];
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
    TXmlNode* ch = c->FChilds[k];
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
        TXmlNode* ch = c->FChilds[k];
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
  for (std::uint32_t k = 0; k < src->FAttrCount; ++k)
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
    const TXmlNode* src = f.Src->FChilds[f.Next++];
    TXmlNode* c = CloneShallow(src, arena);
    AppendNewChild(f.Copy, c);  // a fresh node needs none of InsertChild's checks
    if (src->IsContainer() && Cont(src)->FChildCount) stack.push_back({Cont(src), c, 0});
  }
  ++copy->FRefCount;  // survive `keep`
  keep = nullptr;
  --copy->FRefCount;
  return copy;
}

}  // namespace

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
  return Ptr(FOwnerNode ? Cont(FOwnerNode)->FChilds[index] : FItems[static_cast<std::size_t>(index)]);
}
std::string TXmlNodeList::XML() const {
  std::string out;
  for (int k = 0; k < Count(); ++k) out += NodeXML(Item(k)->NodeObject());
  return out;
}
int TXmlNodeList::IndexOf(const TIntfPtr<IXmlNode>& node) const {
  TXmlNode* n = Obj(node);
  for (int k = 0; k < Count(); ++k)
    if ((FOwnerNode ? Cont(FOwnerNode)->FChilds[k] : FItems[static_cast<std::size_t>(k)]) == n) return k;
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
    std::swap(c->FChilds[index1], c->FChilds[index2]);
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

namespace {
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
}  // namespace

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

namespace {
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

// ===================================================================== character source

namespace {

class TXmlSource {
 public:
  // On bytes in memory (read in place: they must outlive the source).
  explicit TXmlSource(std::string_view data) : FMem(data) { Next(); }
  // On a stream, from its position, in blocks of SourceBufferSize bytes.
  explicit TXmlSource(TStream& stream) : FStream(&stream), FRawBuf(SourceBufferSize) { Next(); }

  std::uint32_t CurChar = 0;
  bool AutoCodepage = true;
  const std::uint8_t* p = nullptr;  // the window of bytes after the current character
  const std::uint8_t* end = nullptr;

  bool Eof() const noexcept { return FEof; }
  int Codepage() const noexcept { return FCodepage; }

  [[gnu::always_inline]] bool Next() {
    if (p < end) {
      const std::uint8_t b = *p;
      if (b < 0x80 || FMode == kByte) {
        CurChar = b;
        ++p;
        return true;
      }
    }
    return NextSlow();
  }

  // Where the current character stands in the window: valid right after
  // Next() for a one-byte (ASCII) character, which is then the byte before
  // `p`; nullptr otherwise (a decoded character, or no window).
  const std::uint8_t* CurPos() const noexcept {
    return CurChar < 0x80 && p && p[-1] == CurChar ? p - 1 : nullptr;
  }
  // Re-reads from window position `at` (in [p - 1, end]): the current
  // character becomes the one there.
  void Seek(const std::uint8_t* at) {
    p = at;
    Next();
  }

  // The first byte at or after `q` that is a stop byte or not ASCII (or end).
  // `plain` must be false for the stop bytes and for every byte >= 0x80.
  const std::uint8_t* Scan(const std::uint8_t* q, const bool* plain, std::uint8_t stop1, std::uint8_t stop2,
                           std::uint8_t stop3) const noexcept {
#ifdef __SSE2__
    // Sixteen bytes at a time while none is a stop byte or non-ASCII.
    const __m128i s1 = _mm_set1_epi8(static_cast<char>(stop1)), s2 = _mm_set1_epi8(static_cast<char>(stop2)),
                  s3 = _mm_set1_epi8(static_cast<char>(stop3));
    while (end - q >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, s1), _mm_cmpeq_epi8(v, s2)), _mm_cmpeq_epi8(v, s3));
      const int m = _mm_movemask_epi8(_mm_or_si128(hit, v));
      if (m) return q + __builtin_ctz(static_cast<unsigned>(m));
      q += 16;
    }
#endif
    while (q < end && plain[*q]) ++q;
    return q;
  }

  // Appends the run of plain ASCII bytes after the current character (those
  // with plain[b] set) to `tok` and skips it; the current character is left alone.
  void FastRun(std::string& tok, const bool* plain, std::uint8_t stop1, std::uint8_t stop2, std::uint8_t stop3) {
    const std::uint8_t* q = Scan(p, plain, stop1, stop2, stop3);
    if (q != p) {
      tok.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(q - p));
      p = q;
    }
  }
  void FastRunUntil(std::string& tok, std::uint8_t stop) {
    const std::uint8_t* q = p;
    while (q < end && *q < 0x80 && *q != stop) ++q;
    if (q != p) {
      tok.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(q - p));
      p = q;
    }
  }

  struct TPosition {
    std::uint64_t Line, Column, Offset;
  };
  // Where the current character starts (after the end: where the input
  // ends). Counted only here, from the windows read so far, so that reading
  // pays nothing for it but one count per block.
  TPosition Position() const {
    TPosition at{FLine, FColumn, FOffset};
    if (!FWinStart || !p) return {at.Line, at.Column + 1, at.Offset};
    const std::uint8_t* cs = p - 1;
    if (CurChar >= 0x80 && FMode != kByte && FCharStart >= FWinStart && FCharStart < p) cs = FCharStart;
    Account(FWinStart, cs < FWinStart ? FWinStart : cs, at.Line, at.Column, at.Offset);
    ++at.Column;
    return at;
  }

  // The line of the current character (1-based; saturates at 2^32 - 1). The
  // line feeds are counted from where the last call stood, so calling it
  // once per element costs one pass over the input in all.
  std::uint32_t CurrentLine() {
    std::uint64_t line = FLine;
    if (FWinStart && p && p > FWinStart) {
      const std::uint8_t* cs = p - 1;
      if (!FLineMark || FLineMark < FWinStart || FLineMark > cs) {
        FLineMark = FWinStart;
        FLineAtMark = FLine;
      }
      FLineAtMark += CountBytes(FLineMark, cs, true);
      FLineMark = cs;
      line = FLineAtMark;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(line, UINT32_MAX));
  }

  // The rest of the input is read in this code page; a declaration read in
  // byte mode thus switches everything after it.
  void SetCodepage(int cp) {
    if (cp == FCodepage) return;
    FCodepage = cp;
    if (cp == 65001) {
      FIconv.Close();
      if (FMode != kConv) FMode = kUtf8;
      else FBackToRaw = true;  // the converted window runs out first
      return;
    }
    FIconv.Open("UTF-8", IconvName(cp));
    if (FMode != kConv) {
      if (FWinStart && p) Account(FWinStart, p, FLine, FColumn, FOffset);
      FWinStart = nullptr;
      // The rest of the raw window goes through the converter: in memory the
      // input is read again from there, else the window's bytes are kept.
      const auto* at = reinterpret_cast<const char*>(p);
      if (!FStream && p && at >= FMem.data() && at <= FMem.data() + FMem.size())
        FMemPos = static_cast<std::size_t>(at - FMem.data());
      else if (p)
        FPending.assign(at, static_cast<std::size_t>(end - p));
      p = end = nullptr;
      FMode = kConv;
    }
    FBackToRaw = false;
  }

 private:
  enum TMode { kByte, kUtf8, kConv };

  bool NextSlow() {
    if (p >= end && !Refill()) return AtEnd();
    const std::uint8_t b = *p++;
    if (b < 0x80 || FMode == kByte) {
      CurChar = b;
      return true;
    }
    FCharStart = p - 1;
    // The own UTF-8 decoder: a lead byte takes its continuation bytes,
    // whatever they are; bytes that lead no two- or three-byte sequence are
    // one character each, which the decoder leaves undefined (U+FFFD here).
    int need;
    std::uint32_t c;
    if ((b & 0xE0) == 0xC0) {
      need = 1;
      c = b & 0x1Fu;
    } else if ((b & 0xF0) == 0xE0) {
      need = 2;
      c = b & 0x0Fu;
    } else {
      CurChar = 0xFFFD;
      return true;
    }
    for (int k = 0; k < need; ++k) {
      if (p >= end && !Refill()) return AtEnd();  // an unfinished sequence at the end is dropped
      c = (c << 6) | (*p++ & 0x3Fu);
    }
    CurChar = c;
    return true;
  }
  bool AtEnd() {
    CurChar = 0;
    FEof = true;
    p = end = nullptr;
    return false;
  }
  // Reads the next raw block (at most SourceBufferSize bytes) into `chunk`.
  bool RawBlock(std::string_view& chunk, bool whole) {
    if (FStream) {
      const std::int64_t n = FStream->Read(FRawBuf.data(), SourceBufferSize);
      if (n <= 0) return false;
      chunk = std::string_view(FRawBuf.data(), static_cast<std::size_t>(n));
      return true;
    }
    if (FMemPos >= FMem.size()) return false;
    const std::size_t n = whole ? FMem.size() - FMemPos : std::min<std::size_t>(SourceBufferSize, FMem.size() - FMemPos);
    chunk = FMem.substr(FMemPos, n);
    FMemPos += n;
    return true;
  }
  // Adds the lines, columns and offset of window bytes [a, b) to the counts.
  // It runs once per window (per block of a stream), sixteen bytes a step.
  void Account(const std::uint8_t* a, const std::uint8_t* b, std::uint64_t& line, std::uint64_t& column,
               std::uint64_t& offset) const {
    const bool bytesAreChars = FMode == kByte;
    const auto* last = b > a ? static_cast<const std::uint8_t*>(memrchr(a, '\n', static_cast<std::size_t>(b - a)))
                             : nullptr;  // the last line feed
    if (last) {
      line += CountBytes(a, last + 1, true);
      column = CharsIn(last + 1, b, bytesAreChars);
    } else {
      column += CharsIn(a, b, bytesAreChars);
    }
    offset += FWinRaw ? static_cast<std::uint64_t>(b - a) : CharsIn(a, b, bytesAreChars);
  }
  // Line feeds in [a, b) (lineFeeds), or bytes that start a UTF-8 character.
  static std::uint64_t CountBytes(const std::uint8_t* a, const std::uint8_t* b, bool lineFeeds) noexcept {
    std::uint64_t n = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n'), top2 = _mm_set1_epi8(static_cast<char>(0xC0)),
                  cont = _mm_set1_epi8(static_cast<char>(0x80));
    for (; b - a >= 16; a += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
      const __m128i hit = lineFeeds ? _mm_cmpeq_epi8(v, lf) : _mm_cmpeq_epi8(_mm_and_si128(v, top2), cont);
      const int m = _mm_movemask_epi8(hit);
      n += static_cast<std::uint64_t>(lineFeeds ? __builtin_popcount(m) : 16 - __builtin_popcount(m));
    }
#endif
    for (; a < b; ++a) n += lineFeeds ? *a == '\n' : (*a & 0xC0) != 0x80;
    return n;
  }
  static std::uint64_t CharsIn(const std::uint8_t* a, const std::uint8_t* b, bool bytesAreChars) noexcept {
    return bytesAreChars ? static_cast<std::uint64_t>(b - a) : CountBytes(a, b, false);
  }
  // A new window: the one read so far goes into the counts.
  void StartWindow(bool raw) {
    FWinStart = p;
    FWinRaw = raw;
    FLineMark = nullptr;
  }
  void EndWindow() {
    if (FWinStart && end) Account(FWinStart, end, FLine, FColumn, FOffset);
    FWinStart = nullptr;
  }

  bool Refill() {
    if (FEof) return false;
    EndWindow();
    if (FBackToRaw && FMode == kConv) {
      FMode = kUtf8;
      FBackToRaw = false;
      if (!FPending.empty()) {  // bytes the converter held back
        FConv.swap(FPending);
        FPending.clear();
        p = reinterpret_cast<const std::uint8_t*>(FConv.data());
        end = p + FConv.size();
        StartWindow(true);
        return true;
      }
    }
    std::string_view chunk;
    if (FMode != kConv) {
      // In memory the whole rest is one window: no block boundaries to stitch.
      if (!RawBlock(chunk, true)) return false;
      p = reinterpret_cast<const std::uint8_t*>(chunk.data());
      end = p + chunk.size();
      StartWindow(true);
      return true;
    }
    for (;;) {
      if (!RawBlock(chunk, false)) {
        // The end: a converter may still hold a character back (one that a
        // combining mark could have followed); an unconvertible tail is dropped.
        // Bytes still waiting are converted first: after a declaration they
        // hold the rest of the first block, all of a short document.
        if (FFlushed) return false;
        FFlushed = true;
        FConv.clear();
        if (!FPending.empty()) {
          FIconv.Convert(FPending.data(), FPending.size(), FConv, "\xEF\xBF\xBD", false);
          FPending.clear();
        }
        FIconv.Finish(FConv);
        if (FConv.empty()) return false;
        p = reinterpret_cast<const std::uint8_t*>(FConv.data());
        end = p + FConv.size();
        StartWindow(false);
        return true;
      }
      FPending.append(chunk);
      FConv.clear();
      const std::size_t used = FIconv.Convert(FPending.data(), FPending.size(), FConv, "\xEF\xBF\xBD", false);
      FPending.erase(0, used);
      if (!FConv.empty()) {
        p = reinterpret_cast<const std::uint8_t*>(FConv.data());
        end = p + FConv.size();
        StartWindow(false);
        return true;
      }
    }
  }

  std::string_view FMem;
  std::size_t FMemPos = 0;
  TStream* FStream = nullptr;
  std::vector<char> FRawBuf;
  std::string FConv, FPending;
  TIconv FIconv;
  int FCodepage = 0;
  TMode FMode = kByte;
  bool FEof = false;
  bool FBackToRaw = false;
  bool FFlushed = false;
  // Position counts of the windows before the current one (see Position).
  const std::uint8_t* FWinStart = nullptr;
  const std::uint8_t* FCharStart = nullptr;  // of the last character NextSlow decoded
  bool FWinRaw = true;                       // the window holds input bytes, not converted text
  std::uint64_t FLine = 1, FColumn = 0, FOffset = 0;
  // CurrentLine's count: the line at FLineMark, a position in the window.
  const std::uint8_t* FLineMark = nullptr;
  std::uint64_t FLineAtMark = 1;
};

// ===================================================================== parser

class TXmlParser {
 public:
  TXmlParser(TXmlSource& source, TXmlArena* arena, bool preserveWhiteSpace)
      : S(source), FArena(arena), FNames(arena->Names()), FPreserve(preserveWhiteSpace) {}

  // Parses the whole input into the children of `root`. On a failure the
  // nodes read so far stay in the tree.
  void Parse(TXmlContainer* root) {
    FFrames.push_back({root, FKids.size()});
    try {
      Run();
    } catch (const EXmlError& e) {
      while (!FFrames.empty()) FinishFrame();
      // The same message, with where the parser stood.
      const TXmlSource::TPosition at = S.Position();
      throw EXmlParseError(e.what(), at.Line, at.Column, at.Offset);
    } catch (...) {
      while (!FFrames.empty()) FinishFrame();
      throw;
    }
    while (!FFrames.empty()) FinishFrame();
  }

 private:
  struct TFrame {
    TXmlContainer* Node;
    std::size_t Base;  // its first pending child in FKids
  };

  void Run() {
    for (;;) {
      if (!S.Eof() && S.CurChar != '<') Text();
      if (S.Eof()) {
        if (FFrames.size() == 1) return;
        ExpectChar('/');  // an open element still needs its end tag
      }
      S.Next();  // past "<"
      const bool eof = S.Eof();
      const std::uint32_t c = S.CurChar;
      if (!eof && c == '/') {
        if (FFrames.size() == 1) return;  // an end tag at the top ends the list
        S.Next();
        ExpectText(static_cast<TXmlElementCore*>(FFrames.back().Node)->FNameID->Text);
        SkipBlanks();
        ExpectChar('>');
        FinishFrame();
      } else if (!eof && c == '?') {
        S.Next();
        ProcessingInstruction();
      } else if (!eof && c == '!') {
        S.Next();
        if (!S.Eof() && S.CurChar == '-') {
          ExpectText("--");
          ParseTo("-->");
          AddKid(NewNode<TXmlComment>(FArena, FArena->NewString(FTok)));
        } else if (!S.Eof() && S.CurChar == '[') {
          ExpectText("[CDATA[");
          ParseTo("]]>");
          AddKid(NewNode<TXmlCDATASection>(FArena, FArena->NewString(FTok)));
        } else {
          // A document type declaration is skipped up to its first ">".
          ExpectText("DOCTYPE");
          ParseTo(">");
        }
      } else {
        Element();
      }
    }
  }

  void Text() {
    FTok.clear();
    // The usual text is plain ASCII up to the next "<": it is taken from the
    // window as it stands, without copying it character by character.
    if (const std::uint8_t* start = S.CurPos()) {
      const std::uint8_t* q = S.Scan(start, kAscii.TextPlain, '<', '&', '&');
      if (q < S.end && *q == '<') {
        AddText(std::string_view(reinterpret_cast<const char*>(start), static_cast<std::size_t>(q - start)));
        S.Seek(q);
        return;
      }
      FTok.append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(q - start));
      S.Seek(q);
    }
    for (;;) {
      if (S.Eof()) break;
      const std::uint32_t c = S.CurChar;
      if (c == '<') break;
      if (c == '&') {
        Entity(FTok);
        continue;
      }
      AppendUtf8(FTok, c);
      S.FastRun(FTok, kAscii.TextPlain, '<', '&', '&');
      S.Next();
    }
    AddText(FTok);
  }
  // A text node of `t` (trimmed without preserve-white-space), none when empty.
  void AddText(std::string_view t) {
    if (!FPreserve) {
      std::size_t a = 0, b = t.size();
      while (a < b && static_cast<std::uint8_t>(t[a]) <= 32) ++a;
      while (b > a && static_cast<std::uint8_t>(t[b - 1]) <= 32) --b;
      t = t.substr(a, b - a);
    }
    if (!t.empty()) AddKid(NewNode<TXmlText>(FArena, FArena->NewString(t)));
  }

  void Element() {
    const TXmlNameID id = ExpectXmlName();
    if (S.Eof()) Fail(kMsgElemNotCompleted);
    if (S.CurChar > 32 && S.CurChar != '/' && S.CurChar != '>') Fail(kMsgInvalidNameSymbol);
    auto* el = NewNode<TXmlElement>(FArena, id);
    el->FLine = S.CurrentLine();
    AddKid(el);
    ParseAttributes(el);
    if (!S.Eof() && S.CurChar == '/') {
      S.Next();
      ExpectChar('>');
      return;
    }
    ExpectChar('>');
    FFrames.push_back({el, FKids.size()});
  }

  void ProcessingInstruction() {
    const TXmlNameID target = ExpectXmlName();
    if (target != FNames->FXmlNameID) {
      // The blanks between target and data separate them; the writer puts one back.
      SkipBlanks();
      ParseTo("?>");
      AddKid(NewNode<TXmlProcessingInstruction>(FArena, target, FArena->NewString(FTok)));
      return;
    }
    auto* pi = NewNode<TXmlProcessingInstruction>(FArena, target, TVariant());
    AddKid(pi);
    ParseAttributes(pi);
    ExpectChar('?');
    ExpectChar('>');
    if (S.AutoCodepage) {
      const TXmlAttrData* a = FindAttr(pi, FNames->FEncodingNameId);
      const std::string enc = a ? VarToXSTR(a->Value) : std::string();
      const int cp = enc.empty() ? 65001 : XmlEncodingCodepage(enc);
      if (!cp) Fail1(kMsgEncoding, enc);
      S.SetCodepage(cp);
    }
  }

  void ParseAttributes(TXmlContainer* node) {
    FAttrs.clear();
    try {
      SkipBlanks();
      while (!S.Eof() && IsNameStart(S.CurChar)) {
        const TXmlNameID id = ExpectXmlName();
        SkipBlanks();
        ExpectChar('=');
        SkipBlanks();
        if (S.Eof()) Fail(kMsgAttrValueExpected);
        const std::uint32_t q = S.CurChar;
        if (q != '"' && q != '\'') Fail(kMsgLineConstExpected);
        S.Next();
        FTok.clear();
        const bool* plain = q == '"' ? kAscii.AttrPlainQ : kAscii.AttrPlainA;
        // A plain ASCII value is taken from the window as it stands.
        std::string_view value;
        bool whole = false;
        if (const std::uint8_t* start = S.CurPos()) {
          const std::uint8_t* e = S.Scan(start, plain, static_cast<std::uint8_t>(q), '<', '&');
          if (e < S.end && *e == q) {
            value = std::string_view(reinterpret_cast<const char*>(start), static_cast<std::size_t>(e - start));
            whole = true;
            S.Seek(e);
          } else {
            FTok.append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(e - start));
            S.Seek(e);
          }
        }
        for (; !whole;) {
          if (S.Eof()) Fail1(kMsgExpected, q == '"' ? "\"" : "'");
          const std::uint32_t c = S.CurChar;
          if (c == q) break;
          if (c == '<') Fail(kMsgLtInAttr);
          if (c == '&') {
            Entity(FTok);
            continue;
          }
          AppendUtf8(FTok, c);
          S.FastRun(FTok, plain, static_cast<std::uint8_t>(q), '<', '&');
          S.Next();
        }
        S.Next();
        TVariant v = FArena->NewString(whole ? value : std::string_view(FTok));
        bool replaced = false;
        for (TXmlAttrData& a : FAttrs)
          if (a.NameID == id) {
            a.Value = std::move(v);  // a repeated name replaces the earlier value
            replaced = true;
            break;
          }
        if (!replaced) FAttrs.push_back(TXmlAttrData{id, std::move(v)});
        SkipBlanks();
      }
    } catch (...) {
      AttachAttrs(node);
      throw;
    }
    AttachAttrs(node);
  }

  // Moves the collected attributes into an exact array of the node.
  void AttachAttrs(TXmlContainer* node) {
    if (FAttrs.empty()) return;
    for (TXmlAttrData& a : FAttrs) {
      if (node->FAttrCount == 0 && node->FAttrs == nullptr) {
        const std::size_t bytes = FAttrs.size() * sizeof(TXmlAttrData);
        if (bytes <= TXmlArena::kMaxSmall) {
          node->FAttrs = static_cast<TXmlAttrData*>(FArena->AllocBytes(bytes));
          node->FFlags |= kAttrsInArena;
          // Variants relocate bitwise: the node takes the bytes, and the
          // staging entries are made empty without being destroyed.
          std::memcpy(static_cast<void*>(node->FAttrs), static_cast<const void*>(FAttrs.data()), bytes);
          for (TXmlAttrData& s : FAttrs) new (&s.Value) TVariant();
          node->FAttrCount = static_cast<std::uint32_t>(FAttrs.size());
          break;
        }
      }
      SetAttrValueID(node, a.NameID, std::move(a.Value));
    }
    FAttrs.clear();
  }

  void AddKid(TXmlNode* n) {
    n->FParentNode = FFrames.back().Node;
    n->FRefCount = 1;  // the reference of the child list
    FKids.push_back(n);
  }

  // Hands the pending children of the innermost open node to it.
  void FinishFrame() {
    const TFrame f = FFrames.back();
    FFrames.pop_back();
    const std::size_t count = FKids.size() - f.Base;
    if (count == 0) return;
    TXmlContainer* c = f.Node;
    const std::size_t bytes = count * sizeof(TXmlNode*);
    if (c->FChildCount == 0 && bytes <= TXmlArena::kMaxSmall) {
      if (c->FChilds && !(c->FFlags & kChildsInArena)) std::free(c->FChilds);
      c->FChilds = static_cast<TXmlNode**>(FArena->AllocBytes(bytes));
      c->FFlags |= kChildsInArena;
    } else {
      auto* arr = static_cast<TXmlNode**>(std::malloc(Capacity(static_cast<std::uint32_t>(c->FChildCount + count)) * sizeof(TXmlNode*)));
      if (!arr) throw std::bad_alloc();
      if (c->FChildCount) std::memcpy(arr, c->FChilds, c->FChildCount * sizeof(TXmlNode*));
      if (!(c->FFlags & kChildsInArena)) std::free(c->FChilds);
      c->FChilds = arr;
      c->FFlags &= ~kChildsInArena;
    }
    TXmlNode** to = c->FChilds + c->FChildCount;
    const TXmlNode* const* from = FKids.data() + f.Base;
    if (count <= 4)
      for (std::size_t k = 0; k < count; ++k) to[k] = const_cast<TXmlNode*>(from[k]);  // the usual few: no call
    else
      std::memcpy(to, from, bytes);
    c->FChildCount += static_cast<std::uint32_t>(count);
    FKids.resize(f.Base);
  }

  // ---- tokens

  [[gnu::always_inline]] void SkipBlanks() {
    while (S.CurChar <= 32 && !S.Eof()) S.Next();
  }
  [[gnu::always_inline]] void ExpectChar(std::uint32_t ch) {
    if (S.Eof() || S.CurChar != ch) [[unlikely]] {
      std::string t;
      AppendUtf8(t, ch);
      Fail1(kMsgCharExpected, t);
    }
    S.Next();
  }
  // Raises with the part of `text` from the first character that does not match.
  void ExpectText(std::string_view text) {
    // Plain ASCII text that the window holds as it stands (an end tag's name)
    // is compared in one go.
    if (const std::uint8_t* start = S.CurPos()) {
      std::size_t k = 0;
      const std::size_t avail = static_cast<std::size_t>(S.end - start);
      while (k < text.size() && k < avail && static_cast<std::uint8_t>(text[k]) < 0x80 &&
             start[k] == static_cast<std::uint8_t>(text[k]))
        ++k;
      if (k == text.size()) {
        S.Seek(start + k);
        return;
      }
    }
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t at = i;
      const std::uint32_t c = DecodeUtf8(text, i);
      if (S.Eof() || S.CurChar != c) Fail1(kMsgTextExpected, text.substr(at));
      S.Next();
    }
  }
  void ReadName(std::string& out, std::uint32_t& hash) {
    if (S.Eof() || !IsNameStart(S.CurChar)) Fail(kMsgNameStart);
    out.clear();
    std::uint32_t h = 0;
    std::uint32_t c = S.CurChar;
    for (;;) {
      h = HashStep(h, c);
      AppendUtf8(out, c);
      const std::uint8_t* q = S.p;
      while (q < S.end && *q < 0x80 && kAscii.NameChar[*q]) h = HashStep(h, *q++);
      if (q != S.p) {
        out.append(reinterpret_cast<const char*>(S.p), static_cast<std::size_t>(q - S.p));
        S.p = q;
      }
      if (!S.Next()) break;
      c = S.CurChar;
      if (!IsNameChar(c)) break;
    }
    hash = h;
  }
  TXmlNameID ExpectXmlName() {
    std::uint32_t h = 0;
    std::string_view name;
    // A plain ASCII name followed by an ASCII byte in the window is hashed
    // and looked up where it stands; any other takes the general way.
    const std::uint8_t* start = S.CurPos();
    if (start && (kAscii.Alpha[*start] || *start == '_')) {
      const std::uint8_t* q = start;
      while (q < S.end && kAscii.NameChar[*q]) h = HashStep(h, *q++);
      if (q < S.end && *q < 0x80) {
        name = std::string_view(reinterpret_cast<const char*>(start), static_cast<std::size_t>(q - start));
        S.Seek(q);
        return LookUpName(name, h);
      }
    }
    ReadName(FName, h);
    return LookUpName(FName, h);
  }
  TXmlNameID LookUpName(std::string_view name, std::uint32_t h) {
    // A document uses few names over and over: a small cache by hash saves
    // the table's bucket division and search.
    TXmlNameID& slot = FNameCache[h & (kNameCacheSize - 1)];
    if (slot && slot->Hash == h && TXmlNameTable::SameText(slot->Text, name)) return slot;
    slot = FNames->Intern(name, h);
    return slot;
  }
  static constexpr std::size_t kNameCacheSize = 64;
  TXmlNameID FNameCache[kNameCacheSize] = {};
  // Collects characters up to and including `term`; FTok gets them without it.
  void ParseTo(std::string_view term) {
    FTok.clear();
    const std::uint8_t last = static_cast<std::uint8_t>(term.back());
    for (;;) {
      if (S.Eof()) Fail1(kMsgExpected, term);
      const std::uint32_t c = S.CurChar;
      AppendUtf8(FTok, c);
      if (c == last && FTok.size() >= term.size() &&
          FTok.compare(FTok.size() - term.size(), term.size(), term) == 0) {
        FTok.resize(FTok.size() - term.size());
        S.Next();
        return;
      }
      S.FastRunUntil(FTok, last);
      S.Next();
    }
  }
  // At "&": appends the character of the reference and leaves the source after ";".
  void Entity(std::string& tok) {
    // The five named entities, spelled out in the window, in one step.
    if (S.p && S.end - S.p >= 5) {
      static constexpr struct {
        char Text[6];
        std::uint8_t Size;
        char Char;
      } kNamed[] = {{"amp;", 4, '&'}, {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"quot;", 5, '"'}, {"apos;", 5, '\''}};
      for (const auto& e : kNamed)
        if (std::memcmp(S.p, e.Text, e.Size) == 0) {
          tok.push_back(e.Char);
          S.Seek(S.p + e.Size);
          return;
        }
    }
    if (!S.Next()) Fail(kMsgEntityStart);
    if (S.CurChar != '#') {
      std::uint32_t h;
      ReadName(FName, h);
      ExpectChar(';');
      if (FName == "amp") tok.push_back('&');
      else if (FName == "quot") tok.push_back('"');
      else if (FName == "lt") tok.push_back('<');
      else if (FName == "gt") tok.push_back('>');
      else if (FName == "apos") tok.push_back('\'');
      else Fail1(kMsgUnknownEntity, FName);
      return;
    }
    if (!S.Next()) Fail(kMsgNumber);
    std::uint32_t v = 0;
    bool any = false;
    if (S.CurChar == 'x') {
      S.Next();
      for (; !S.Eof(); S.Next()) {
        const std::uint32_t c = S.CurChar;
        int d;
        if (c >= '0' && c <= '9') d = static_cast<int>(c - '0');
        else if (c >= 'A' && c <= 'F') d = static_cast<int>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') d = static_cast<int>(c - 'a' + 10);
        else break;
        v = v * 16 + static_cast<std::uint32_t>(d);
        any = true;
      }
      if (!any) Fail(kMsgHexNumber);
    } else {
      for (; !S.Eof() && S.CurChar >= '0' && S.CurChar <= '9'; S.Next()) {
        v = v * 10 + (S.CurChar - '0');
        any = true;
      }
      if (!any) Fail(kMsgNumber);
    }
    ExpectChar(';');
    AppendUtf8(tok, v & 0xFFFF);  // one 16-bit character
  }

  TXmlSource& S;
  TXmlArena* FArena;
  TXmlNameTable* FNames;
  bool FPreserve;
  std::string FTok, FName;
  std::vector<TXmlNode*> FKids;
  std::vector<TXmlAttrData> FAttrs;
  std::vector<TFrame> FFrames;
};

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

// ===================================================================== binary form of nodes

// The attributes and the child count of a container.
void SaveContainerHead(const TXmlContainer* c, TBinXmlWriter& w) {
  w.WriteCompact(static_cast<std::int32_t>(c->FAttrCount));
  for (std::uint32_t k = 0; k < c->FAttrCount; ++k) {
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
    const TXmlNode* ch = f.Node->FChilds[f.Next++];
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

void TXmlDocument::Load(TStream& stream) {
  Clear();
  const std::int64_t start = stream.Position();
  if (stream.Size() - start > BinXmlSignatureSize) {
    char sig[BinXmlSignatureSize];
    stream.ReadBuffer(sig, BinXmlSignatureSize);
    stream.SetPosition(start);
    if (std::memcmp(sig, BinXmlSignature, BinXmlSignatureSize) == 0) {
      TStmXmlReader r(stream);
      LoadDocBin(r);
      return;
    }
  }
  TXmlSource source(stream);
  TXmlParser(source, Arena(), FPreserveWhiteSpace).Parse(this);
}

void TXmlDocument::LoadXML(std::string_view xml) {
  Clear();
  if (xml.size() > static_cast<std::size_t>(BinXmlSignatureSize) &&
      xml.substr(0, BinXmlSignatureSize) == std::string_view(BinXmlSignature, BinXmlSignatureSize)) {
    TStrXmlReader r(xml);
    LoadDocBin(r);
    return;
  }
  TXmlSource source(xml);
  TXmlParser(source, Arena(), FPreserveWhiteSpace).Parse(this);
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

}  // namespace

void RegisterXmlResource(std::string_view resType, std::string_view resName, std::string_view data) {
  TResourceRegistry& r = Resources();
  std::lock_guard<std::mutex> g(r.Lock);
  r.Items[{std::string(resType), std::string(resName)}] = std::string(data);
}

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

}  // namespace nx
