// RGSimpleXMLParse: the text parser of the XML unit: the character source
// (windows of input bytes, decoding, code-page conversion, line counts) and
// the parser that builds the node tree; documents load their text here.
#include "xml/RGSimpleXMLInternal.h"

namespace nx {

// ===================================================================== character source

namespace NX_XML_LOCAL xmldetail {

// The source and the parser are this file's own: the compiler sees every
// call of their members and inlines and specialises freely.
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
  [[gnu::always_inline]] void Seek(const std::uint8_t* at) {
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
        FNextLineFeed = nullptr;
      }
      // The line feeds are found one at a time and the next one is kept:
      // while the parser has not passed it, a call costs one comparison.
      const std::uint8_t* lf = FNextLineFeed ? FNextLineFeed : LineFeedFrom(FLineMark);
      while (lf < cs) {
        ++FLineAtMark;
        lf = LineFeedFrom(lf + 1);
      }
      FNextLineFeed = lf;
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
    // Per-byte counters (a hit is -1, subtracted), summed every 255 steps:
    // no population count, which the baseline instruction set lacks.
    const __m128i lf = _mm_set1_epi8('\n'), top2 = _mm_set1_epi8(static_cast<char>(0xC0)),
                  cont = _mm_set1_epi8(static_cast<char>(0x80)), zero = _mm_setzero_si128();
    while (b - a >= 16) {
      __m128i acc = zero;
      std::uint64_t blocks = 0;
      for (; b - a >= 16 && blocks < 255; a += 16, ++blocks) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        acc = _mm_sub_epi8(acc, lineFeeds ? _mm_cmpeq_epi8(v, lf) : _mm_cmpeq_epi8(_mm_and_si128(v, top2), cont));
      }
      const __m128i sum = _mm_sad_epu8(acc, zero);
      const auto hits = static_cast<std::uint64_t>(_mm_cvtsi128_si32(sum)) +
                        static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sum, sum)));
      n += lineFeeds ? hits : 16 * blocks - hits;
    }
#endif
    for (; a < b; ++a) n += lineFeeds ? *a == '\n' : (*a & 0xC0) != 0x80;
    return n;
  }
  // The first line feed at or after `q` in the window, else the window's end.
  const std::uint8_t* LineFeedFrom(const std::uint8_t* q) const noexcept {
    if (q >= end) return end;
    const void* f = std::memchr(q, '\n', static_cast<std::size_t>(end - q));
    return f ? static_cast<const std::uint8_t*>(f) : end;
  }
  static std::uint64_t CharsIn(const std::uint8_t* a, const std::uint8_t* b, bool bytesAreChars) noexcept {
    return bytesAreChars ? static_cast<std::uint64_t>(b - a) : CountBytes(a, b, false);
  }
  // A new window: the one read so far goes into the counts.
  void StartWindow(bool raw) {
    FWinStart = p;
    FWinRaw = raw;
    FLineMark = nullptr;
    FNextLineFeed = nullptr;
  }
  void EndWindow() {
    if (FWinStart && end) {
      if (FWinRaw && FLineMark && FLineMark >= FWinStart && FLineMark <= end) {
        // CurrentLine has counted the lines up to its mark already: only the
        // rest of the window is read again (in memory the window is the
        // whole document, and this saves a pass over all of it). The counts
        // start from the mark: its line, its column, the bytes before it.
        const bool bytesAreChars = FMode == kByte;
        const std::uint8_t* const a = FLineMark;
        const auto* prev =
            a > FWinStart ? static_cast<const std::uint8_t*>(memrchr(FWinStart, '\n', static_cast<std::size_t>(a - FWinStart)))
                          : nullptr;
        FColumn = prev ? CharsIn(prev + 1, a, bytesAreChars) : FColumn + CharsIn(FWinStart, a, bytesAreChars);
        FLine = FLineAtMark;
        FOffset += static_cast<std::uint64_t>(a - FWinStart);
        Account(a, end, FLine, FColumn, FOffset);
      } else {
        Account(FWinStart, end, FLine, FColumn, FOffset);
      }
    }
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
  // CurrentLine's count: the line at FLineMark, a position in the window,
  // and the first line feed at or after it (the window's end when none).
  const std::uint8_t* FLineMark = nullptr;
  const std::uint8_t* FNextLineFeed = nullptr;
  std::uint64_t FLineAtMark = 1;
};

// ===================================================================== parser

// A stack of trivially copyable entries whose push is inlined into the
// parser's loop (a vector's is too large to be, there), growing by doubling.
// The first N entries are held in the stack itself: a small document, of
// which a corpus may hold thousands, parses without allocating any.
template <class T, std::size_t N>
class TPodStack {
 public:
  TPodStack() = default;
  TPodStack(const TPodStack&) = delete;
  TPodStack& operator=(const TPodStack&) = delete;
  ~TPodStack() {
    if (FData != FInline) std::free(FData);
  }
  [[gnu::always_inline]] void push_back(const T& v) {
    if (FSize == FCap) [[unlikely]] Grow();
    FData[FSize++] = v;
  }
  T& back() noexcept { return FData[FSize - 1]; }
  void pop_back() noexcept { --FSize; }
  bool empty() const noexcept { return FSize == 0; }
  std::size_t size() const noexcept { return FSize; }
  const T* data() const noexcept { return FData; }
  T* begin() noexcept { return FData; }
  T* end() noexcept { return FData + FSize; }
  void resize(std::size_t n) noexcept { FSize = n; }  // shrinks only
  void clear() noexcept { FSize = 0; }

 private:
  [[gnu::noinline]] void Grow() {
    const std::size_t cap = 2 * FCap;
    void* p = FData == FInline ? std::malloc(cap * sizeof(T)) : std::realloc(FData, cap * sizeof(T));
    if (!p) throw std::bad_alloc();
    if (FData == FInline) std::memcpy(p, FInline, FSize * sizeof(T));
    FData = static_cast<T*>(p);
    FCap = cap;
  }
  static_assert(std::is_trivially_copyable_v<T> && N > 0);
  T FInline[N];
  T* FData = FInline;
  std::size_t FSize = 0, FCap = N;
};

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
    if (t.empty()) return;
    // The first child of an element that has none may well be its only one:
    // the text is kept aside (in the form the element holds it in, see
    // TXmlContainer), and becomes a node only when another child follows.
    const TFrame& f = FFrames.back();
    if (FHeld == kHeldNone && f.Node->FNodeType == NODE_ELEMENT && FKids.size() == f.Base &&
        f.Node->FChildCount == 0) {
      if (TXmlContainer::FitsShort(t)) {
        std::memcpy(FHeldChars, t.data(), t.size());
        FHeldSize = static_cast<std::uint8_t>(t.size());
        FHeld = kHeldShort;
        return;
      }
      if (t.size() > sizeof FHeldChars && (FHeldRaw = TXmlContainer::NewRawText(FArena, t))) {
        FHeld = kHeldRaw;
        return;
      }
    }
    AddKid(NewNode<TXmlText>(FArena, FArena->NewString(t)));
  }
  std::string_view HeldText() const noexcept {
    return FHeld == kHeldShort ? std::string_view(FHeldChars, FHeldSize) : TXmlContainer::RawView(FHeldRaw);
  }
  // Another child follows the text kept aside: the text becomes a node
  // before `next` (which is freed when that fails).
  [[gnu::noinline]] void AddHeldText(TXmlNode* next) {
    try {
      const std::string_view t = HeldText();
      FHeld = kHeldNone;
      AddKid(NewNode<TXmlText>(FArena, FArena->NewString(t)));
    } catch (...) {
      if (next) DestroyNode(next);  // not in the tree yet
      throw;
    }
  }

  void Element() {
    if (PlainStartTag()) return;
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

  // The usual start tag, all plain ASCII in the window: its name and
  // attributes are read straight from the bytes, with the same results as
  // Element's general way. Anything else (other characters, an entity in a
  // value, the window's end, a malformed tag) leaves the source where it was
  // and returns false before any node is made; the general way then reads
  // the tag from its start (names met on the way are interned alike).
  bool PlainStartTag() {
    const std::uint8_t* const start = S.CurPos();
    if (!start || !(kAscii.Alpha[*start] || *start == '_')) return false;
    const std::uint8_t* const end = S.end;
    const std::uint8_t* q = start + 1;
    while (q < end && kAscii.NameChar[*q]) ++q;
    if (q >= end || !(*q <= 32 || *q == '/' || *q == '>')) return false;
    const std::uint8_t* const afterName = q;
    const TXmlNameID id = LookUpName(AsView(start, afterName), nullptr, end - start >= 8);
    FPlain.clear();
    for (;;) {
      while (q < end && *q <= 32) ++q;
      if (q >= end) return false;
      if (*q >= 0x80 || !(kAscii.Alpha[*q] || *q == '_')) break;
      const std::uint8_t* const n = q;
      while (q < end && kAscii.NameChar[*q]) ++q;
      if (q >= end || *q >= 0x80) return false;
      const std::uint8_t* const nameEnd = q;
      while (q < end && *q <= 32) ++q;
      if (q >= end || *q != '=') return false;
      ++q;
      while (q < end && *q <= 32) ++q;
      if (q >= end || (*q != '"' && *q != '\'')) return false;
      const std::uint8_t quote = *q++;
      const std::uint8_t* const v = q;
      q = S.Scan(q, quote == '"' ? kAscii.AttrPlainQ : kAscii.AttrPlainA, quote, '<', '&');
      if (q >= end || *q != quote) return false;
      const TXmlNameID attr = LookUpName(AsView(n, nameEnd), nullptr, end - n >= 8);
      const std::string_view value = AsView(v, q);
      ++q;
      bool replaced = false;
      for (TPlainAttr& a : FPlain)
        if (a.NameID == attr) {
          a.Value = value;  // a repeated name replaces the earlier value
          replaced = true;
          break;
        }
      if (!replaced) FPlain.push_back({attr, value});
    }
    bool empty = false;
    if (*q == '/') {
      if (q + 1 >= end || q[1] != '>') return false;
      empty = true;
      ++q;
    } else if (*q != '>') {
      return false;
    }
    // The tag is whole: the element, its line (counted where the general
    // way counts it, after the name) and its attributes.
    auto* el = NewNode<TXmlElement>(FArena, id);
    S.Seek(afterName);
    el->FLine = S.CurrentLine();
    AddKid(el);
    if (const std::size_t bytes = FPlain.size() * sizeof(TXmlAttrData); bytes && bytes <= TXmlArena::kMaxSmall) {
      // The count is known: the values are made in their final array, where
      // they stay (no staging copy, no move of a value just written).
      el->FAttrs = static_cast<TXmlAttrData*>(FArena->AllocBytes(bytes));
      el->FFlags |= kAttrsInArena;
      // (the count stays below 65535: kMaxSmall bytes hold far fewer)
      for (const TPlainAttr& a : FPlain) {
        new (&el->FAttrs[el->FAttrCount16]) TXmlAttrData{a.NameID, FArena->NewString(a.Value)};
        ++el->FAttrCount16;
      }
    } else if (bytes) {
      FAttrs.clear();
      try {
        for (const TPlainAttr& a : FPlain) FAttrs.push_back(TXmlAttrData{a.NameID, FArena->NewString(a.Value)});
      } catch (...) {
        AttachAttrs(el);
        throw;
      }
      AttachAttrs(el);
    }
    S.Seek(q + 1);
    if (!empty) FFrames.push_back({el, FKids.size()});
    return true;
  }
  static std::string_view AsView(const std::uint8_t* a, const std::uint8_t* b) noexcept {
    return {reinterpret_cast<const char*>(a), static_cast<std::size_t>(b - a)};
  }
  struct TPlainAttr {
    TXmlNameID NameID;
    std::string_view Value;
  };
  TPodStack<TPlainAttr, 16> FPlain;

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

  // Moves the collected attributes (their names told apart already) into an
  // array of the node: exact in the arena, or on the heap with the room
  // AppendAttr expects when they are many.
  void AttachAttrs(TXmlContainer* node) {
    if (FAttrs.empty()) return;
    if (node->FAttrCount16 == 0 && node->FAttrs == nullptr) {
      const std::size_t count = FAttrs.size(), bytes = count * sizeof(TXmlAttrData);
      if (bytes <= TXmlArena::kMaxSmall) {
        node->FAttrs = static_cast<TXmlAttrData*>(FArena->AllocBytes(bytes));
        node->FFlags |= kAttrsInArena;
      } else {
        void* arr = std::malloc(Capacity(static_cast<std::uint32_t>(count)) * sizeof(TXmlAttrData));
        if (!arr) throw std::bad_alloc();
        node->FAttrs = static_cast<TXmlAttrData*>(arr);
        node->FFlags &= ~kAttrsInArena;
        try {
          node->SetNumAttrs(static_cast<std::uint32_t>(count));
        } catch (...) {
          std::free(arr);
          node->FAttrs = nullptr;
          throw;
        }
      }
      // Variants relocate bitwise: the node takes the bytes, and the staging
      // entries are made empty without being destroyed.
      std::memcpy(static_cast<void*>(node->FAttrs), static_cast<const void*>(FAttrs.data()), bytes);
      for (TXmlAttrData& a : FAttrs) new (&a.Value) TVariant();
      if (bytes <= TXmlArena::kMaxSmall) node->FAttrCount16 = static_cast<std::uint16_t>(count);  // fewer than 65535
    } else {
      for (TXmlAttrData& a : FAttrs) SetAttrValueID(node, a.NameID, std::move(a.Value));
    }
    FAttrs.clear();
  }

  [[gnu::always_inline]] void AddKid(TXmlNode* n) {
    if (FHeld != kHeldNone) [[unlikely]]
      AddHeldText(n);
    n->FParentNode = FFrames.back().Node;
    n->FRefCount = 1;  // the reference of the child list
    FKids.push_back(n);
  }

  // Hands the pending children of the innermost open node to it.
  [[gnu::always_inline]] void FinishFrame() {
    if (FHeld != kHeldNone) {
      // A text kept aside is the only child of the innermost element.
      TXmlContainer* c = FFrames.back().Node;
      if (FHeld == kHeldShort) c->HoldShortText(HeldText());
      else c->HoldRawText(FHeldRaw);
      FHeld = kHeldNone;
    }
    const TFrame f = FFrames.back();
    FFrames.pop_back();
    const std::size_t count = FKids.size() - f.Base;
    if (count == 0) return;
    TXmlContainer* c = f.Node;
    const TXmlNode* const* from = FKids.data() + f.Base;
    const std::uint32_t had = c->FChildCount;
    if (had == 0 && count == 1) {
      c->FKid = const_cast<TXmlNode*>(from[0]);  // a single child needs no array
      c->FChildCount = 1;
      FKids.resize(f.Base);
      return;
    }
    const std::size_t bytes = count * sizeof(TXmlNode*);
    TXmlNode** arr;
    if (had == 0 && bytes <= TXmlArena::kMaxSmall) {
      arr = static_cast<TXmlNode**>(FArena->AllocBytes(bytes));
      c->FKidArray = arr;
      c->FFlags |= kChildsInArena;
    } else {
      arr = static_cast<TXmlNode**>(std::malloc(Capacity(static_cast<std::uint32_t>(had + count)) * sizeof(TXmlNode*)));
      if (!arr) throw std::bad_alloc();
      if (had) std::memcpy(arr, c->Kids(), had * sizeof(TXmlNode*));
      c->DropKidArray();
      c->FKidArray = arr;
    }
    TXmlNode** to = arr + had;
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
  // Plain ASCII text that the window holds as it stands (an end tag's name)
  // is compared in one go, here; anything else one character at a time.
  [[gnu::always_inline]] void ExpectText(std::string_view text) {
    if (const std::uint8_t* start = S.CurPos();
        start && static_cast<std::size_t>(S.end - start) >= text.size()) {
      // Eight bytes at a time: equal, and no byte of `text` beyond ASCII.
      const std::size_t n = text.size();
      std::uint64_t diff = 0, high = 0;
      std::size_t k = 0;
      for (; k + 8 <= n; k += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, start + k, 8);
        std::memcpy(&b, text.data() + k, 8);
        diff |= a ^ b;
        high |= b;
      }
      for (; k < n; ++k) {
        diff |= start[k] ^ static_cast<std::uint8_t>(text[k]);
        high |= static_cast<std::uint8_t>(text[k]);
      }
      if (diff == 0 && (high & 0x8080808080808080ull) == 0) {
        S.Seek(start + n);
        return;
      }
    }
    ExpectTextByCharacter(text);
  }
  [[gnu::noinline]] void ExpectTextByCharacter(std::string_view text) {
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
    // A plain ASCII name followed by an ASCII byte in the window is looked
    // up where it stands, and hashed only when the cache does not know it.
    const std::uint8_t* start = S.CurPos();
    if (start && (kAscii.Alpha[*start] || *start == '_')) {
      const std::uint8_t* q = start + 1;
      while (q < S.end && kAscii.NameChar[*q]) ++q;
      if (q < S.end && *q < 0x80) {
        const std::string_view name(reinterpret_cast<const char*>(start), static_cast<std::size_t>(q - start));
        const bool wide = S.end - start >= 8;
        S.Seek(q);
        return LookUpName(name, nullptr, wide);
      }
    }
    std::uint32_t h = 0;
    ReadName(FName, h);
    return LookUpName(FName, &h, false);
  }
  struct TNameSlot {
    std::uint64_t Key;
    std::size_t Size;
    TXmlNameID Id;
  };  // A document uses few names over and over: a small cache keyed by the
  // name's first eight bytes and its length finds them with one or two
  // comparisons, without the name's hash or the table's search. `hash` is
  // the name's hash where the caller has it; else it is worked out here
  // (from the bytes: the name is ASCII then). With `wide` eight bytes may be
  // read from where the name starts.
  [[gnu::always_inline]] TXmlNameID LookUpName(std::string_view name, const std::uint32_t* hash, bool wide) {
    std::uint64_t key = 0;
    if (wide && std::endian::native == std::endian::little) {
      std::memcpy(&key, name.data(), 8);
      if (name.size() < 8) key &= (std::uint64_t{1} << (8 * name.size())) - 1;  // little-endian: the first bytes
    } else {
      std::memcpy(&key, name.data(), std::min<std::size_t>(name.size(), 8));
    }
    // Two ways per set: names that meet in a set do not evict each other.
    TNameSlot* set = &FNameCache[2 * (((key ^ name.size()) * 0x9E3779B97F4A7C15ull) >> (64 - kNameCacheBits))];
    for (int way = 0; way < 2; ++way) {
      const TNameSlot& slot = set[way];
      if (slot.Id && slot.Key == key && slot.Size == name.size() &&
          (name.size() <= 8 || std::memcmp(name.data() + 8, slot.Id->Text.data() + 8, name.size() - 8) == 0))
        return slot.Id;
    }
    return CacheMiss(name, hash, set, key);
  }
  // A name the cache does not hold: interned (hashed first where needed)
  // and kept in the first way of its set, the other way keeping the last.
  [[gnu::noinline]] TXmlNameID CacheMiss(std::string_view name, const std::uint32_t* hash, TNameSlot* set,
                                         std::uint64_t key) {
    std::uint32_t h = 0;
    if (hash) h = *hash;
    else
      for (const char c : name) h = HashStep(h, static_cast<std::uint8_t>(c));
    set[1] = set[0];
    set[0] = {key, name.size(), FNames->Intern(name, h)};
    return set[0].Id;
  }

  static constexpr int kNameCacheBits = 6;
  TNameSlot FNameCache[std::size_t{2} << kNameCacheBits] = {};
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
  TPodStack<TXmlNode*, 64> FKids;
  // A text waiting to be the only child of the innermost element (AddText).
  enum : std::uint8_t { kHeldNone, kHeldShort, kHeldRaw } FHeld = kHeldNone;
  std::uint8_t FHeldSize = 0;
  char FHeldChars[8];
  const char* FHeldRaw = nullptr;
  std::vector<TXmlAttrData> FAttrs;
  TPodStack<TFrame, 32> FFrames;
};

}  // namespace

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

}  // namespace xmldetail

}  // namespace nx
