// Tests of the XML unit: every failure with its message, the parser's
// character handling, the writer's exact forms, round trips through text and
// the binary form, the value conversions, and a corpus compared element by
// element with libxml2.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <iconv.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "ExceptionMessage.h"
#include "nxruntime.h"

using namespace nx;

namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(static_cast<char>(x));
  return s;
}

// The message of the exception `f` raises ("" when none).
std::string MessageOf(const std::function<void()>& f) { return nxtest::MessageOf<EXmlError>(f); }

TIntfPtr<IXmlDocument> Parse(std::string_view xml, bool preserve = false) {
  TIntfPtr<IXmlDocument> d = CreateXmlDocument();
  d->SetPreserveWhiteSpace(preserve);
  d->LoadXML(xml);
  return d;
}

// A binary document by hand: signature, options 0, the given names, then `body`.
std::string BinDoc(const std::vector<std::string>& names, const std::string& body) {
  std::string s(BinXmlSignature, 14);
  s += Bytes({0, 0, 0, 0});
  s.push_back(static_cast<char>(names.size()));
  for (const std::string& n : names) {
    s.push_back(static_cast<char>(n.size()));
    s += n;
  }
  return s + body;
}
std::string CompactHash(std::string_view name) {
  TStrXmlWriter w;
  w.WriteCompact(static_cast<std::int32_t>(NameHash(name)));
  return w.Data();
}

// ---------------------------------------------------------------- failures

struct TFailureRow {
  const char* Situation;
  std::function<void()> Provoke;
  std::string Message;
};

TEST(SimpleXMLFailures, EveryRowRaisesItsExactMessage) {
  const std::string q = "\"";
  const std::vector<TFailureRow> rows = {
      {"expected character", [] { Parse("<a x 1/>"); }, "Character \"=\" expected"},
      {"expected text (end tag)", [] { Parse("<abc></abd>"); }, "Text \"c\" expected"},
      {"expected text (CDATA)", [] { Parse("<a><![CDAT x]]></a>"); }, "Text \"A[\" expected"},
      {"< in attribute", [] { Parse("<a x=\"1<2\"/>"); }, "Character \"<\" cannot be used in the values of attributes"},
      {"closing quote missing", [] { Parse("<a x=\"abc"); }, "\"\"\" expected"},
      {"closing apostrophe missing", [] { Parse("<a x='abc"); }, "\"'\" expected"},
      {"comment terminator missing", [] { Parse("<a><!-- abc --</a>"); }, "\"-->\" expected"},
      {"= then end", [] { Parse("<a x = "); }, "The value of the attribute is expected"},
      {"unquoted value", [] { Parse("<a x=1/>"); }, "Line constant expected"},
      {"binary truncated",
       [] {
         std::string b = CreateXmlDocument("root")->BinaryXML();
         LoadXmlDocumentFromBinaryXML(b.substr(0, b.size() - 3));
       },
       "Error reading data"},
      {"binary unknown variant type",
       [] { LoadXmlDocumentFromBinaryXML(BinDoc({"a"}, Bytes({0, 1, 1}) + CompactHash("a") + Bytes({9}))); },
       "Error reading value: incorrect type"},
      {"variant without binary form",
       [] {
         auto d = CreateXmlDocument("root");
         d->DocumentElement()->SetTypedValue(TVariant(static_cast<unsigned long long>(5)));
         (void)d->BinaryXML();
       },
       "Unknown data type in variant"},
      {"unsupported encoding (parse)", [] { Parse("<?xml version=\"1.0\" encoding=\"KOI8-R\"?><a/>"); },
       "Encoding \"KOI8-R\" is not supported by SimpleXML"},
      {"unsupported encoding (save)", [] { (void)CreateXmlDocument("r", "1.0", "EBCDIC")->SaveXML(); },
       "Encoding \"EBCDIC\" is not supported by SimpleXML"},
      {"list index", [] { (void)CreateXmlDocument("r")->ChildNodes()->Item(2); },
       "Error obtaining the element the list: Index out of range"},
      {"end right after element name", [] { Parse("<a"); }, "The determination of the element is not completed"},
      {"bad character after element name", [] { Parse("<a?/>"); }, "Invalid symbol in the name of the element"},
      {"binary unknown node type", [] { LoadXmlDocumentFromBinaryXML(BinDoc({}, Bytes({0, 1, 7}))); },
       "Error of reading binary XML: incorrect node-type"},
      {"enumerated attribute",
       [] {
         auto e = CreateXmlElement("item");
         e->SetAttr("mode", "fast");
         e->GetEnumAttr("mode", {"slow", "medium"}, 0);
       },
       "Incorrect value of the attribute \"mode\" at element \"item\".\r\nAllowed values are: \r\nslow\r\nmedium"},
      {"required attribute missing", [] { CreateXmlElement("e")->NeedAttr("id"); }, "Attribute \"id\" not found"},
      {"required attribute empty",
       [] {
         auto e = CreateXmlElement("e");
         e->SetAttr("id", "");
         e->NeedAttr("id");
       },
       "Attribute \"id\" not assigned"},
      {"path neither name nor delimited", [] { CreateXmlElement("e")->SelectNodes("a/b"); },
       "This feature is not supported by SimpleXML"},
      {"required child missing", [] { CreateXmlElement("e")->NeedChild("kid"); }, "Error: Child node \"kid\" not found"},
      {"name start", [] { Parse("<1a/>"); }, "Name must start with letter or \" _\""},
      {"no decimal digits", [] { Parse("<a>&#X41;</a>"); }, "Number expected"},
      {"end after &#", [] { Parse("<a>&#"); }, "Number expected"},
      {"no hex digits", [] { Parse("<a>&#xg;</a>"); }, "Hexadecimal number expected"},
      {"& then end", [] { Parse("<a>&"); }, "\"#\" or XML entity symbol name expected"},
      {"unknown entity", [] { Parse("<a>&nbsp;</a>"); }, "Unknown XML entity symbol name \"nbsp\" found"},
      {"end tag missing at end of input", [] { Parse("<a><b/>"); }, "Character \"/\" expected"},
  };
  for (const TFailureRow& r : rows) EXPECT_EQ(MessageOf(r.Provoke), r.Message) << r.Situation;
}

TEST(SimpleXMLFailures, PartlyBuiltTreeStaysInPlace) {
  auto d = CreateXmlDocument();
  EXPECT_EQ(MessageOf([&] { d->LoadXML("<root><a x=\"1\"/><b y=\"2\">text<c"); }),
            "The determination of the element is not completed");
  auto root = d->DocumentElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->ChildNodes()->Count(), 2);
  auto b = root->SelectSingleNode("b");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->GetAttr("y"), "2");
  // The text only: the unfinished c is never appended.
  EXPECT_EQ(b->ChildNodes()->Count(), 1);
  EXPECT_EQ(b->ChildNodes()->Item(0)->Text(), "text");
}

// A parse failure keeps its message and says where it happened, the same
// way whether the document comes from memory or from a stream read in blocks.
TEST(SimpleXMLFailures, ParseErrorsCarryLineColumnAndOffset) {
  const std::string longHead = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<r>\n" +
                               [] {
                                 std::string s;
                                 for (int k = 0; k < 2000; ++k) s += "  <i>\xCF\xF0\xE8</i>\n";
                                 return s;
                               }();
  const struct {
    std::string Xml;
    const char* Message;
    std::uint64_t Line, Column, Offset;
  } rows[] = {
      {"<a x 1/>", "Character \"=\" expected", 1, 6, 5},
      {"<r>\n  <a>\n    <1/>", "Name must start with letter or \" _\"", 3, 6, 15},
      {"<r>\r\n<a x=\"1<2\"/></r>", "Character \"<\" cannot be used in the values of attributes", 2, 8, 12},
      {"<r>\n<a>&nbsp;</a>", "Unknown XML entity symbol name \"nbsp\" found", 2, 10, 13},  // after the name
      {"<r>\n<a>", "Character \"/\" expected", 2, 4, 7},  // at the end of the input
      {"<r>\n<a>\n\n  ", "Character \"/\" expected", 4, 3, 11},  // lines after the last element
      {"<r><a>", "Character \"/\" expected", 1, 7, 6},           // no line feed at all
      {"<?xml version=\"1.0\"?>\n<r>\n<\xC3\xA9>\xC3\xA9", "Character \"/\" expected", 3, 5, 32},
      // Non-ASCII characters count once in the column and by their bytes in the offset.
      {"<?xml version=\"1.0\"?>\n<\xC3\xA9 a=\"\xC3\xA9\xC3\xA9\" ?/>", "Character \">\" expected", 2, 11, 35},
      // After a single-byte code page one character is one byte.
      {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<r>\xCF\xF0\xE8\n\xCF<?/>", "Name must start with letter or \" _\"", 3, 4, 56},
      // Far beyond the first read block, after a code page switch.
      {longHead + "  <i>\xCF</j>", "Text \"i\" expected", 2003, 9, longHead.size() + 8},
  };
  for (const auto& r : rows) {
    for (const bool viaStream : {false, true}) {
      const char* how = viaStream ? "stream" : "memory";
      try {
        if (viaStream) {
          TStringStream s(r.Xml);
          LoadXmlDocument(s);
        } else {
          Parse(r.Xml);
        }
        ADD_FAILURE() << "no failure: " << r.Message << " (" << how << ")";
      } catch (const EXmlParseError& e) {
        EXPECT_EQ(std::string(e.what()), r.Message) << how;
        EXPECT_EQ(e.Line, r.Line) << r.Message << " (" << how << ")";
        EXPECT_EQ(e.Column, r.Column) << r.Message << " (" << how << ")";
        EXPECT_EQ(e.Offset, r.Offset) << r.Message << " (" << how << ")";
      }
    }
  }
}

// ---------------------------------------------------------------- parser

// Every element of these documents says in its attribute l which line its
// start tag is on; the parser must record the same.
void ExpectMarkedLines(const TIntfPtr<IXmlNode>& ANode, int& AChecked) {
  TIntfPtr<IXmlNodeList> kids = ANode->ChildNodes();
  for (int i = 0; i < kids->Count(); ++i) {
    TIntfPtr<IXmlNode> n = kids->Item(i);
    if (n->NodeType() != NODE_ELEMENT) {
      EXPECT_EQ(n->SourceLine(), 0u) << n->NodeType();
      continue;
    }
    EXPECT_EQ(n->SourceLine(), static_cast<std::uint32_t>(n->GetIntAttr("l", -1))) << n->NodeName();
    ++AChecked;
    ExpectMarkedLines(n, AChecked);
  }
}

TEST(SimpleXMLParser, ElementsRecordTheLineOfTheirStartTag) {
  std::string longLines = "<?xml version=\"1.0\"?>\n<r l=\"2\">\n";
  for (int k = 3; k < 3000; ++k) longLines += "  <i l=\"" + std::to_string(k) + "\">\xD0\xAF text</i>\n";
  longLines += "</r>";
  std::string cp1251 = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<r l=\"2\">";
  for (int k = 2; k < 1500; ++k) cp1251 += "<i l=\"" + std::to_string(k) + "\">\xCF\xF0\xE8</i>\n";
  cp1251 += "</r>";
  const struct {
    const char* Situation;
    std::string Xml;
  } rows[] = {
      {"one line", "<a l=\"1\"><b l=\"1\"/></a>"},
      {"line feeds", "\n<a l=\"2\">\n\n<b l=\"4\">x</b><c l=\"4\"/>\n</a>"},
      {"CR LF", "<a l=\"1\">\r\n<b l=\"2\"/>\r\n\r\n<c l=\"4\"/></a>"},
      {"line feeds in comments, CDATA, instructions and values",
       "<a l=\"1\"><!-- \n\n --><b l=\"3\"><![CDATA[\n]]></b>\n<?pi \n?><c l=\"6\" v=\"\n\"/>"
       "<d l=\"7\"\n/>&#10;<e l=\"8\">&amp;\n</e><f l=\"9\"/></a>"},
      {"attributes on later lines", "<a\n l=\"1\"\n m=\"x\"><b\n\n l=\"3\"/></a>"},
      {"multi-byte characters", "<?xml version=\"1.0\"?><a l=\"1\">\xE2\x82\xAC\n\xC3\xA9<b l=\"2\"/></a>"},
      {"many lines", longLines},
      {"converted code page", cp1251},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.Situation);
    int fromMemory = 0, fromStream = 0;
    ExpectMarkedLines(Parse(r.Xml, true), fromMemory);
    // A stream is read in blocks: the count must carry across them.
    TStringStream s(r.Xml);
    ExpectMarkedLines(LoadXmlDocument(s), fromStream);
    EXPECT_GT(fromMemory, 0);
    EXPECT_EQ(fromStream, fromMemory);
  }
  // A copy keeps the lines; the binary form and elements made in code have none.
  auto d = Parse("<a>\n<b/></a>");
  auto b = d->DocumentElement()->SelectSingleNode("b");
  EXPECT_EQ(b->CloneNode(true)->SourceLine(), 2u);
  EXPECT_EQ(LoadXmlDocumentFromBinaryXML(d->BinaryXML())->DocumentElement()->SelectSingleNode("b")->SourceLine(), 0u);
  EXPECT_EQ(d->DocumentElement()->AppendElement("c")->SourceLine(), 0u);
}

TEST(SimpleXMLParser, EntitiesAndCharacterReferences) {
  EXPECT_EQ(Parse("<a>a &lt; b &amp;&#65;&#x42;</a>")->DocumentElement()->Text(), "a < b &AB");
  EXPECT_EQ(Parse("<a v=\"&quot;&apos;&gt;\"/>")->DocumentElement()->GetAttr("v"), "\"'>");
  // A value above 65535 keeps its low 16 bits; 0x10041 -> U+0041.
  EXPECT_EQ(Parse("<a>&#x10041;&#233;</a>")->DocumentElement()->Text(), "A\xC3\xA9");
  // Entities are not expanded inside comments and CDATA.
  auto d = Parse("<a><!--&amp;--><![CDATA[&lt;]]></a>");
  auto kids = d->DocumentElement()->ChildNodes();
  EXPECT_EQ(kids->Item(0)->Text(), "&amp;");
  EXPECT_EQ(kids->Item(1)->Text(), "&lt;");
}

TEST(SimpleXMLParser, WhiteSpaceRule) {
  const char* xml = "<r>\r\n  <a>  x  </a>\n\t<b/>  </r>";
  auto trimmed = Parse(xml);
  auto r = trimmed->DocumentElement();
  EXPECT_EQ(r->ChildNodes()->Count(), 2);
  EXPECT_EQ(r->SelectSingleNode("a")->Text(), "x");
  auto kept = Parse(xml, true);
  r = kept->DocumentElement();
  EXPECT_EQ(r->ChildNodes()->Count(), 5);
  EXPECT_EQ(r->ChildNodes()->Item(0)->Text(), "\r\n  ");
  EXPECT_EQ(r->SelectSingleNode("a")->Text(), "  x  ");
}

TEST(SimpleXMLParser, CodePages) {
  // Without a declaration every byte is one character: UTF-8 é becomes two.
  EXPECT_EQ(Parse("<a>\xC3\xA9</a>")->DocumentElement()->Text(), "\xC3\x83\xC2\xA9");
  // A declaration without encoding switches the rest to UTF-8.
  EXPECT_EQ(Parse("<?xml version=\"1.0\"?><a>\xC3\xA9\xE2\x82\xAC</a>")->DocumentElement()->Text(),
            "\xC3\xA9\xE2\x82\xAC");
  // WINDOWS-1251: 0xCF 0xF0 0xE8 = "При".
  auto d = Parse("<?xml version=\"1.0\" encoding=\"windows-1251\"?><a t=\"\xCF\">\xCF\xF0\xE8</a>");
  EXPECT_EQ(d->DocumentElement()->Text(), "\xD0\x9F\xD1\x80\xD0\xB8");
  EXPECT_EQ(d->DocumentElement()->GetAttr("t"), "\xD0\x9F");
  // Saved again in its own code page.
  EXPECT_NE(d->SaveXML().find("<a t=\"\xCF\">\xCF\xF0\xE8</a>"), std::string::npos);
  // A converter that holds a letter back for a possible combining mark gives
  // it up at the end of the input: WINDOWS-1255 0xF9 is U+05E9.
  auto heb = Parse("<?xml version=\"1.0\" encoding=\"windows-1255\"?><a/>\xF9", true);
  EXPECT_EQ(heb->ChildNodes()->Item(2)->Text(), "\xD7\xA9");
  // The decoder's own rules: a lead byte takes its continuation byte whatever
  // it is, so C0 BC is "<" (overlong) and starts a tag.
  auto o = Parse("<?xml version=\"1.0\"?><a>x\xC0\xBC/a>");
  EXPECT_EQ(o->DocumentElement()->Text(), "x");
}

// Every supported encoding read from a stream, from a file and from memory,
// in a document shorter than one read block and one spanning several, with
// a line break or a tag right after the declaration. The sample text is the
// encoding's upper half (bytes it leaves undefined are left out); iconv
// gives its UTF-8 form independently of the parser's windowing.
std::string IconvToUtf8(const std::string& from, const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size(), outLeft = out.size();
  char* dst = out.data();
  const std::size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv(cd, nullptr, nullptr, &dst, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return std::string();
  out.resize(out.size() - outLeft);
  return out;
}

TEST(SimpleXMLParser, EveryEncodingLoadsAlikeFromStreamFileAndMemory) {
  const struct {
    const char* Name;   // as declared
    const char* Iconv;  // for the expected text
  } encodings[] = {
      {"UTF-8", "UTF-8"},           {"windows-1250", "CP1250"}, {"windows-1251", "CP1251"},
      {"windows-1252", "CP1252"},   {"windows-1253", "CP1253"}, {"windows-1254", "CP1254"},
      {"windows-1255", "CP1255"},   {"windows-1256", "CP1256"}, {"windows-1257", "CP1257"},
      {"windows-1258", "CP1258"},   {"ISO-8859-1", "ISO-8859-1"}, {"iso-8859-2", "ISO-8859-2"},
      {"ISO-8859-3", "ISO-8859-3"}, {"ISO-8859-4", "ISO-8859-4"}, {"ISO-8859-5", "ISO-8859-5"},
      {"ISO-8859-6", "ISO-8859-6"}, {"ISO-8859-7", "ISO-8859-7"}, {"ISO-8859-8", "ISO-8859-8"},
      {"ISO-8859-9", "ISO-8859-9"}, {"ISO-2022-JP", "ISO-2022-JP"},
  };
  const char* dir = std::getenv("NX_TEST_OUTPUT_DIR");
  const std::string file = std::string(dir ? dir : "/tmp") + "/simplexml_encoding_test.xml";
  for (const auto& enc : encodings) {
    std::string sample;
    if (std::string(enc.Iconv) == "UTF-8") {
      sample = "\xD0\x9F\xD1\x80\xD0\xB8 \xE2\x82\xAC \xC3\xA9";
    } else if (std::string(enc.Iconv) == "ISO-2022-JP") {
      sample = "\x1B$B0!4A\x1B(B x";  // two kanji, then ASCII
    } else {
      for (int b = 0xC0; b <= 0xFE; ++b)
        if (!IconvToUtf8(enc.Iconv, std::string(1, static_cast<char>(b))).empty()) sample.push_back(static_cast<char>(b));
    }
    const std::string expected = IconvToUtf8(enc.Iconv, sample);
    ASSERT_FALSE(expected.empty()) << enc.Name;
    for (const char* afterDecl : {"\n", "", "\r\n  "}) {
      for (const int records : {1, 3000}) {
        std::string xml = std::string("<?xml version=\"1.0\" encoding=\"") + enc.Name + "\"?>" + afterDecl + "<r>";
        for (int k = 0; k < records; ++k) xml += "<t a=\"" + sample + "\">" + sample + "</t>\n";
        xml += "</r>";
        const std::string where = std::string(enc.Name) + ", " + std::to_string(records) + " records, " +
                                  std::to_string(std::string_view(afterDecl).size()) + " bytes after the declaration";
        auto Check = [&](const TIntfPtr<IXmlDocument>& d, const char* how) {
          auto root = d->DocumentElement();
          ASSERT_TRUE(root) << how << ": " << where;
          ASSERT_EQ(root->ChildNodes()->Count(), records) << how << ": " << where;
          auto last = root->ChildNodes()->Item(records - 1);
          EXPECT_EQ(last->Text(), expected) << how << ": " << where;
          EXPECT_EQ(last->GetAttr("a"), expected) << how << ": " << where;
        };
        Check(Parse(xml), "memory");
        TStringStream stream(xml);
        Check(LoadXmlDocument(stream), "stream");
        {
          FILE* f = std::fopen(file.c_str(), "wb");
          ASSERT_TRUE(f);
          std::fwrite(xml.data(), 1, xml.size(), f);
          std::fclose(f);
        }
        Check(LoadXmlDocument(file), "file");
        auto viaMember = CreateXmlDocument();
        viaMember->Load(file);
        Check(viaMember, "file (member)");
      }
    }
  }
  std::remove(file.c_str());
}

// Plain ASCII runs are taken where they stand in the input; a run that meets
// an entity, a non-ASCII byte or the end of a stream block is finished one
// character at a time. Both ways must give the same tree: every offset of
// the 16384-byte block boundary within names, values, entities and end tags
// is tried, and each document is compared with its memory parse.
TEST(SimpleXMLParser, InPlaceRunsAndBlockBoundariesAgree) {
  const std::string record =
      "<item_name id=\"000123\" k='a&amp;b' long=\"abcdefghijklmnopq\">Item &lt;7&gt; &#65;x</item_name>"
      "<v u=\"mV\">1.5</v><e\xC3\xA9 a\xC3\xA9=\"\xC3\xA9\"/>"
      "<d x=\"1\" y='2' x='3'/><s a = \"1\"\tb\n=\n'2' \x01/><n a=\"1\"b=\"x>y\"></n><m\n c=\"\"\n>t</m>";
  const std::string head = "<?xml version=\"1.0\"?><r>";
  for (std::size_t pad = 0; pad < record.size(); ++pad) {
    std::string xml = head + std::string(16384 - head.size() - record.size() + pad, ' ') + record + record + "</r>";
    auto mem = Parse(xml, true);
    TStringStream stream(xml);
    auto stm = CreateXmlDocument();
    stm->SetPreserveWhiteSpace(true);
    stm->Load(stream);
    ASSERT_EQ(stm->SaveXML(), mem->SaveXML()) << "pad " << pad;
    auto a = mem->DocumentElement()->ChildNodes(), b = stm->DocumentElement()->ChildNodes();
    ASSERT_EQ(a->Count(), b->Count());
    for (int k = 0; k < a->Count(); ++k) ASSERT_EQ(a->Item(k)->SourceLine(), b->Item(k)->SourceLine()) << pad;
  }
  auto d = Parse(head + record + "</r>");
  auto item = d->DocumentElement()->SelectSingleNode("item_name");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->GetAttr("id"), "000123");
  EXPECT_EQ(item->GetAttr("k"), "a&b");
  EXPECT_EQ(item->GetAttr("long"), "abcdefghijklmnopq");
  EXPECT_EQ(item->Text(), "Item <7> Ax");
  auto e = d->DocumentElement()->SelectSingleNode("e\xC3\xA9");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->GetAttr("a\xC3\xA9"), "\xC3\xA9");
  // Texts and values that end with the input, and near misses of entities.
  const struct {
    const char* Xml;
    const char* Text;  // of the last top-level node; nullptr: parsing fails with Message
    const char* Message;
  } rows[] = {
      {"<a/>tail", "tail", nullptr},
      {"<a/>&amp;", "&", nullptr},
      {"<a/>&lt", nullptr, "Character \";\" expected"},
      {"<a/>&ampx;", nullptr, "Unknown XML entity symbol name \"ampx\" found"},
      {"<a/>&am;", nullptr, "Unknown XML entity symbol name \"am\" found"},
      {"<a></a", nullptr, "Character \">\" expected"},
      {"<ab></a>", nullptr, "Text \"b\" expected"},
      {"<a></ab>", nullptr, "Character \">\" expected"},
      {"<a b", nullptr, "Character \"=\" expected"},
      {"<a b=\"1\" c>", nullptr, "Character \"=\" expected"},
      {"<a b=\"1\"/ >", nullptr, "Character \">\" expected"},
      {"<a b=\"x<y\"/>", nullptr, "Character \"<\" cannot be used in the values of attributes"},
      {"<a b=1/>", nullptr, "Line constant expected"},
      {"<a b=\"1\"", nullptr, "Character \">\" expected"},
      {"<a# b=\"1\"/>", nullptr, "Invalid symbol in the name of the element"},
  };
  for (const auto& r : rows) {
    if (r.Text) {
      auto doc = Parse(r.Xml);
      EXPECT_EQ(doc->ChildNodes()->Item(doc->ChildNodes()->Count() - 1)->Text(), r.Text) << r.Xml;
    } else {
      EXPECT_EQ(MessageOf([&] { Parse(r.Xml); }), r.Message) << r.Xml;
    }
  }
}

// Strings and byte arrays of up to 8 bytes live in the variant itself,
// longer ones in shared blocks: both behave alike through copies, moves,
// swaps and comparisons, and an element's own value survives copying.
TEST(SimpleXMLModel, ShortAndLongValuesBehaveAlike) {
  for (const std::string text : {"", "a", "12345678", "123456789", "a longer text than eight bytes"}) {
    TVariant v(text);
    TVariant copy = v;
    EXPECT_EQ(copy.StrView(), text);
    EXPECT_TRUE(copy == v);
    TVariant moved = std::move(copy);
    EXPECT_EQ(moved.StrView(), text);
    EXPECT_TRUE(copy.IsEmpty());
    TVariant other(std::int32_t{7});
    other.Swap(moved);
    EXPECT_EQ(other.StrView(), text);
    EXPECT_EQ(moved.AsInt64(), 7);
    EXPECT_FALSE(TVariant(text + "x") == v);
    const TVariant bytes = TVariant::Bytes(text.data(), text.size());
    EXPECT_EQ(std::string(bytes.StrView()), text);
    EXPECT_FALSE(bytes == v);  // another type
    // Through a tree: the attribute value, the element's own value and the
    // binary form keep the text.
    auto d = CreateXmlDocument("r");
    auto r = d->DocumentElement();
    r->SetVarAttr("a", v);
    r->SetTypedValue(v);
    auto back = LoadXmlDocumentFromBinaryXML(d->BinaryXML())->DocumentElement();
    EXPECT_EQ(back->GetAttr("a"), text);
    EXPECT_EQ(back->Text(), text);
    auto clone = r->CloneNode(true);
    EXPECT_TRUE(clone->TypedValue() == v);
    r->SetTypedValue(TVariant());
    EXPECT_TRUE(r->TypedValue().IsEmpty());
    EXPECT_TRUE(clone->TypedValue() == v);
  }
}

TEST(SimpleXMLParser, StructureDoctypeAndDuplicates) {
  auto d = Parse("<!DOCTYPE html><?pi  some data?><a x='1' x='2'><!---x---><b/></a>");
  EXPECT_EQ(d->ChildNodes()->Count(), 2);  // no node for the DOCTYPE
  auto pi = d->ChildNodes()->Item(0)->AsProcessingInstruction();
  ASSERT_TRUE(pi);
  EXPECT_EQ(pi->Target(), "pi");
  EXPECT_EQ(pi->Text(), "some data");
  auto a = d->DocumentElement();
  EXPECT_EQ(a->AttrCount(), 1);
  EXPECT_EQ(a->GetAttr("x"), "2");
  EXPECT_EQ(a->ChildNodes()->Item(0)->Text(), "-x-");  // "--->" ends a comment ending in a dash
  EXPECT_EQ(a->ChildNodes()->Item(0)->NodeType(), NODE_COMMENT);
}

// ---------------------------------------------------------------- writer

TEST(SimpleXMLWriter, ExactForms) {
  auto one = CreateXmlElement("root");
  one->AppendText("text");
  EXPECT_EQ(one->XML(), "\r\n<root>text</root>");
  auto nested = CreateXmlElement("root");
  nested->AppendElement("child");
  EXPECT_EQ(nested->XML(), "\r\n<root>\r\n\t<child/>\r\n</root>");
  auto deep = CreateXmlElement("a");
  deep->AppendElement("b")->AppendElement("c")->SetText("v");
  EXPECT_EQ(deep->XML(), "\r\n<a>\r\n\t<b>\r\n\t\t<c>v</c>\r\n\t</b>\r\n</a>");

  auto d = CreateXmlDocument("r");
  d->SetPreserveWhiteSpace(true);
  auto r = d->DocumentElement();
  r->SetAttr("q", "it's \"x\" & <y>");
  r->SetBoolAttr("b", true);
  r->SetVarAttr("n", TVariant::Null());
  r->AppendComment("c");
  r->AppendCDATA("<raw>&");
  r->AppendProcessingInstruction("pi", "data");
  r->AppendText("a'b\"c");
  EXPECT_EQ(d->SaveXML(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r q=\"it's &quot;x&quot; &amp; &lt;y&gt;\" b=\"1\" "
            "n=\"{{null}}\"><!--c--><![CDATA[<raw>&]]><?pi data?>a'b&quot;c</r>");
  EXPECT_EQ(TextToXML("plain"), "plain");
  EXPECT_EQ(TextToXML("a'\"&<>"), "a'&quot;&amp;&lt;&gt;");
}

// Parse, then write: entities wherever they fall in a text or value
// (sixteen-byte steps of the scan included), values longer and shorter than
// a variant holds in itself, nesting deeper than one piece of indentation.
// The written text, the text written to a stream and a node's own text agree.
TEST(SimpleXMLWriter, TrickyTextsComeBackExactly) {
  const std::string a15(15, 'a'), b16(16, 'b'), c17(17, 'c');
  std::string deepIn, deepOut = "<?xml version=\"1.0\"?>";
  for (int k = 0; k < 40; ++k) {
    deepIn += "<e>";
    deepOut += "\r\n" + std::string(static_cast<std::size_t>(k), '\t') + "<e>";
  }
  deepIn += "x";
  deepOut += "x</e>";
  for (int k = 39; k-- > 0;) {
    deepIn += "</e>";
    deepOut += "\r\n" + std::string(static_cast<std::size_t>(k), '\t') + "</e>";
  }
  deepIn += "</e>";
  const struct {
    std::string In, Out;
  } rows[] = {
      {"<r>" + a15 + "&amp;" + b16 + "&lt;&gt;" + c17 + "&quot;</r>",
       "\r\n<r>" + a15 + "&amp;" + b16 + "&lt;&gt;" + c17 + "&quot;</r>"},
      {"<r a=\"&amp;" + b16 + "&gt;\" b='&quot;&apos;' c=\"" + c17 + "\"/>",
       "\r\n<r a=\"&amp;" + b16 + "&gt;\" b=\"&quot;'\" c=\"" + c17 + "\"/>"},
      {"<r>&lt;</r>", "\r\n<r>&lt;</r>"},
      {"<r>" + b16 + "</r>", "\r\n<r>" + b16 + "</r>"},
      {"<?xml version=\"1.0\"?><r>\xC3\xA9t\xC3\xA9 &#233; &#x4E2D;</r>",
       "<?xml version=\"1.0\"?>\r\n<r>\xC3\xA9t\xC3\xA9 \xC3\xA9 \xE4\xB8\xAD</r>"},
      {"<r><![CDATA[<&>]]><!--" + c17 + "--><?p " + a15 + "?></r>",
       "\r\n<r><![CDATA[<&>]]><!--" + c17 + "--><?p " + a15 + "?>\r\n</r>"},
      {"<r><a/><b x=\"1\">t</b></r>", "\r\n<r>\r\n\t<a/>\r\n\t<b x=\"1\">t</b>\r\n</r>"},
      {"<?xml version=\"1.0\"?>" + deepIn, deepOut},
  };
  for (const auto& row : rows) {
    auto d = Parse(row.In);
    EXPECT_EQ(d->SaveXML(), row.Out) << row.In;
    TStringStream s;
    d->Save(s);
    EXPECT_EQ(s.DataString(), row.Out) << row.In;
    auto root = d->DocumentElement();
    const std::string rootText = root->XML();
    EXPECT_NE(row.Out.find(rootText), std::string::npos) << row.In;
    EXPECT_EQ(Parse(row.Out)->SaveXML(), row.Out) << row.In;
  }
  // Written texts of 64 KiB less one, exactly and plus one (the size up to
  // which a text is written in one go), and one far beyond, counted first.
  for (const std::size_t size : {std::size_t{65536 - 10}, std::size_t{65536 - 9}, std::size_t{65536 - 8},
                                 std::size_t{300000}}) {
    std::string text(size, 'x');
    if (size > 100000)
      for (std::size_t k = 7; k < size; k += 4099) text[k] = '&';
    std::string escaped;
    for (const char c : text) escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
    const std::string expected = "\r\n<r>" + escaped + "</r>";
    auto d = Parse("<r>" + escaped + "</r>");
    EXPECT_EQ(d->SaveXML(), expected) << size;
    EXPECT_EQ(d->DocumentElement()->XML(), expected) << size;
    TStringStream s;
    d->Save(s);
    EXPECT_EQ(s.DataString(), expected) << size;
  }
  // Values that are not strings are written by their text form, in both passes alike.
  auto d = CreateXmlDocument("r", "", "");
  auto r = d->DocumentElement();
  r->SetFloatAttr("f", 2.5);
  r->SetIntAttr("i", -7);
  r->AppendElement("v")->SetTypedValue(TVariant(1.25));
  r->AppendElement("e")->SetTypedValue(TVariant(std::string()));
  const std::string text = d->SaveXML();
  EXPECT_EQ(text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r f=\"2.5\" i=\"-7\">\r\n\t<v>1.25</v>\r\n\t<e/>\r\n</r>");
  TStringStream s;
  d->Save(s);
  EXPECT_EQ(s.DataString(), text);
}

TEST(SimpleXMLWriter, FileAndStreamSavesGiveTheSameBytes) {
  auto d = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a=\"\xE9\">x</r>");
  for (int k = 0; k < 3000; ++k) d->DocumentElement()->AppendElement("item")->SetIntAttr("k", k);
  const std::string text = d->SaveXML();
  TStringStream s;
  d->Save(s);
  EXPECT_EQ(s.DataString(), text);
  EXPECT_NE(text.find("a=\"\xE9\""), std::string::npos);
  const char* dir = std::getenv("NX_TEST_OUTPUT_DIR");
  const std::string file = std::string(dir ? dir : "/tmp") + "/simplexml_save_test.xml";
  std::remove(file.c_str());
  d->Save(file);
  auto back = LoadXmlDocument(file);
  EXPECT_EQ(back->SaveXML(), text);
  std::remove(file.c_str());
}

// ---------------------------------------------------------------- round trips

const char* const kSettings =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<settings version=\"3\">\n"
    "  <window left=\"10\" top=\"20\" width=\"640\" height=\"480\" maximized=\"0\"/>\n"
    "  <recent>\n    <file path=\"/home/u/a&amp;b.xml\">A &lt;first&gt; file</file>\n"
    "    <file path='/tmp/x \"q\".xml'>Second</file>\n  </recent>\n"
    "  <filters><filter name=\"lowpass\" order=\"4\" cutoff=\"1000.5\"/></filters>\n"
    "</settings>\n";

const char* const kSvg =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
    "<!DOCTYPE svg>\n"
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"120\" height=\"80\" viewBox=\"0 0 120 80\">\n"
    "  <g id=\"layer1\" transform=\"translate(10,10)\">\n"
    "    <rect x=\"0\" y=\"0\" width=\"50\" height=\"30\" style=\"fill:#ff0000;stroke:none\"/>\n"
    "    <circle cx=\"80\" cy=\"30\" r=\"20\" fill=\"blue\"/>\n"
    "    <text x=\"5\" y=\"60\" font-family=\"Sans\">Caf\xC3\xA9 &amp; \xE2\x82\xAC 5</text>\n"
    "    <path d=\"M 0 0 L 10 10 Z\"/>\n"
    "  </g>\n</svg>\n";

const char* const kMixed =
    "<?xml version=\"1.0\"?>\n"
    "<?xml-stylesheet type=\"text/xsl\" href=\"style.xsl\"?>\n"
    "<!-- top comment -->\n"
    "<doc>\n"
    "  <!-- inner comment -->\n"
    "  <code><![CDATA[if (a < b && c > d) { return \"x\"; }]]></code>\n"
    "  <?processor instruction data?>\n"
    "  <p>Text <b>bold</b> tail &#169; &#x263A;</p>\n"
    "  <empty></empty>\n"
    "</doc>\n";

std::string Cp1251Doc() {
  return "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\n<list title=\"\xD1\xEF\xE8\xF1\xEE\xEA\">\n"
         "  <item n=\"1\">\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0</item>\n  <item n=\"2\">\xC0\xC1\xC2</item>\n</list>\n";
}

// Same element names, attributes and texts, line by line.
void DumpOurs(const TIntfPtr<IXmlNode>& parent, std::string& out, int depth);
void ExpectSameTreeText(const TIntfPtr<IXmlNode>& a, const TIntfPtr<IXmlNode>& b) {
  std::string ta, tb;
  DumpOurs(a, ta, 0);
  DumpOurs(b, tb, 0);
  EXPECT_EQ(ta, tb);
  EXPECT_GT(ta.size(), 20u);
}

TEST(SimpleXMLRoundTrip, TextTreeTextIsStableAfterOnePass) {
  for (const std::string& xml : {std::string(kSettings), std::string(kSvg), std::string(kMixed), Cp1251Doc()}) {
    for (bool preserve : {false, true}) {
      auto d1 = Parse(xml, preserve);
      const std::string t1 = d1->SaveXML();
      auto d2 = Parse(t1, preserve);
      const std::string t2 = d2->SaveXML();
      EXPECT_EQ(t2, t1) << "preserve " << preserve;
      // From the first written text on, the trees are the same too (the
      // first pass may merge texts around a skipped DOCTYPE).
      ExpectSameTreeText(d2, Parse(t2, preserve));
    }
  }
}

// Equality of two trees: types, names, values (with their types) and attributes.
void ExpectSameTree(const TIntfPtr<IXmlNode>& a, const TIntfPtr<IXmlNode>& b, const std::string& path = "") {
  ASSERT_EQ(a->NodeType(), b->NodeType()) << path;
  ASSERT_EQ(a->NodeName(), b->NodeName()) << path;
  const std::string here = path + "/" + a->NodeName();
  if (a->NodeType() != NODE_DOCUMENT) {
    EXPECT_TRUE(a->TypedValue() == b->TypedValue()) << here;
  }
  ASSERT_EQ(a->AttrCount(), b->AttrCount()) << here;
  for (int k = 0; k < a->AttrCount(); ++k) {
    EXPECT_EQ(a->AttrName(k), b->AttrName(k)) << here;
    EXPECT_TRUE(a->GetVarAttr(a->AttrName(k)) == b->GetVarAttr(b->AttrName(k))) << here << " @" << a->AttrName(k);
  }
  auto ka = a->ChildNodes(), kb = b->ChildNodes();
  ASSERT_EQ(ka->Count(), kb->Count()) << here;
  for (int k = 0; k < ka->Count(); ++k) ExpectSameTree(ka->Item(k), kb->Item(k), here);
}

TEST(SimpleXMLRoundTrip, TreeBinaryTreeWithBothStringWidths) {
  auto d = Parse(kSvg);
  auto r = d->DocumentElement();
  auto v = r->AppendElement("values");
  v->SetVarAttr("i16", TVariant(static_cast<std::int16_t>(-7)));
  v->SetVarAttr("i32", TVariant(-123456));
  v->SetVarAttr("u8", TVariant(static_cast<std::uint8_t>(200)));
  v->SetVarAttr("i8", TVariant(static_cast<std::int8_t>(-3)));
  v->SetVarAttr("u16", TVariant(static_cast<std::uint16_t>(65000)));
  v->SetVarAttr("u32", TVariant(4000000000u));
  v->SetVarAttr("i64", TVariant(static_cast<long long>(-1) << 40));
  v->SetVarAttr("f32", TVariant(1.5f));
  v->SetVarAttr("f64", TVariant(-2.25e-300));
  v->SetVarAttr("cur", TVariant::Currency(12345678));
  v->SetVarAttr("date", TVariant::Date(45000.5));
  v->SetVarAttr("bool", TVariant(true));
  v->SetVarAttr("null", TVariant::Null());
  v->SetVarAttr("wide", TVariant::String(varOleStr, "w\xF0\x9F\x98\x80!"));  // a surrogate pair
  v->SetVarAttr("ansi", TVariant::String(varString, "a"));
  v->SetVarAttr("bytes", TVariant::Bytes(std::vector<std::uint8_t>{0, 1, 255}));
  v->AppendElement("valueHolder")->SetTypedValue(TVariant(3.75));
  // A long name has a hash of 2^31 or more: it takes the five-byte form.
  ASSERT_GE(NameHash("measurement"), 0x80000000u);
  v->AppendElement("measurement")->SetText("\xD0\x9F");
  for (std::uint32_t options : {0u, BINXML_USE_WIDE_CHARS}) {
    TStringStream s;
    d->SaveBinary(s, options);
    EXPECT_TRUE(XmlIsInBinaryFormat(s.DataString()));
    EXPECT_TRUE(IsXmlDataString(s.DataString()));
    auto back = LoadXmlDocumentFromBinaryXML(s.DataString());
    ExpectSameTree(d, back);
    s.SetPosition(0);
    auto viaStream = LoadXmlDocument(s);
    ExpectSameTree(d, viaStream);
  }
  ExpectSameTree(d, LoadXmlDocumentFromBinaryXML(d->BinaryXML()));
  EXPECT_EQ(d->BinaryXML().substr(14, 4), Bytes({0, 0, 0, 0}));
}

TEST(SimpleXMLBinary, CompactIntegersAndStrings) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {0, Bytes({0})},
      {127, Bytes({0x7F})},
      {128, Bytes({0x80, 0x80})},
      {300, Bytes({0x81, 0x2C})},
      {32511, Bytes({0xFE, 0xFF})},
      {32512, Bytes({0xFF, 0x00, 0x7F, 0x00, 0x00})},
      {-1, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& [value, bytes] : cases) {
    TStrXmlWriter w;
    w.WriteCompact(value);
    EXPECT_EQ(w.Data(), bytes) << value;
    TStrXmlReader r(bytes);
    EXPECT_EQ(r.ReadCompact(), value);
  }
  TStrXmlWriter w;
  w.WriteAnsiString("\xC3\xA9");
  w.WriteWideString("\xC3\xA9");
  w.WriteVariant(TVariant(true));
  w.WriteVariant(TVariant(static_cast<std::int16_t>(-2)));
  EXPECT_EQ(w.Data(), Bytes({2, 0xC3, 0xA9, 1, 0xE9, 0x00, 11, 0xFF, 0xFF, 2, 0xFE, 0xFF}));
  TStrXmlReader r(w.Data());
  EXPECT_EQ(r.ReadAnsiString(), "\xC3\xA9");
  EXPECT_EQ(r.ReadWideString(), "\xC3\xA9");
  EXPECT_TRUE(r.ReadVariant() == TVariant(true));
  EXPECT_TRUE(r.ReadVariant() == TVariant(static_cast<std::int16_t>(-2)));
  EXPECT_EQ(MessageOf([&] { r.ReadByte(); }), "Error reading data");
}

// ---------------------------------------------------------------- model

TEST(SimpleXMLModel, NamesAreInternedAndHashed) {
  auto t = CreateNameTable();
  EXPECT_EQ(t->BucketCount(), 1009);
  EXPECT_EQ(t->NameCount(), 6);
  EXPECT_EQ(t->NameAt(0)->Text, "#text");
  EXPECT_EQ(t->NameAt(5)->Text, "encoding");
  EXPECT_EQ(t->GetID("abc"), t->GetID(std::string("ab") + "c"));
  EXPECT_NE(t->GetID("abc"), t->GetID("ABC"));
  // h := h + ((h shl 6) xor c): "ab" = (0 + 97) then 97 + ((97 << 6) ^ 98).
  EXPECT_EQ(NameHash("ab"), 97u + ((97u << 6) ^ 98u));
  EXPECT_EQ(NameHash("\xC3\xA9"), 0xE9u);  // one UTF-16 unit
  auto d1 = CreateXmlDocument("a", "1.0", "UTF-8", t);
  auto d2 = CreateXmlDocument("a", "1.0", "UTF-8", t);
  EXPECT_EQ(d1->DocumentElement()->NodeNameID(), d2->DocumentElement()->NodeNameID());
}

// Many names (the index grows several times) and names of equal hash: every
// ID stays where it was, each name is found by its text, and a hash finds
// the first name of that hash that was added.
TEST(SimpleXMLModel, NameTableKeepsIdsAcrossGrowthAndTellsCollisionsApart) {
  // Two pairs of two-character names with equal hashes ("0q" and "10" are one).
  const std::string chars = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::vector<std::pair<std::string, std::string>> same;
  std::map<std::uint32_t, std::string> seen;
  for (const char a : chars)
    for (const char b : chars) {
      const std::string n{a, b};
      const auto [it, fresh] = seen.emplace(NameHash(n), n);
      if (!fresh && same.size() < 2) same.emplace_back(it->second, n);
    }
  ASSERT_EQ(same.size(), 2u);
  for (const int buckets : {1, 7, 1009}) {
    auto t = CreateNameTable(buckets);
    EXPECT_EQ(t->BucketCount(), buckets);
    // The second of a pair goes in first for one of them: the hash finds whichever came first.
    const TXmlNameID first0 = t->GetID(same[0].first), second0 = t->GetID(same[0].second);
    const TXmlNameID second1 = t->GetID(same[1].second), first1 = t->GetID(same[1].first);
    std::vector<std::pair<std::string, TXmlNameID>> ids;
    for (int k = 0; k < 3000; ++k) {
      const std::string n = "n" + std::to_string(k * 7919);
      ids.emplace_back(n, t->GetID(n));
    }
    EXPECT_NE(first0, second0);
    EXPECT_EQ(first0->Hash, second0->Hash);
    EXPECT_EQ(t->FindByHash(first0->Hash), first0);
    EXPECT_EQ(t->FindByHash(first1->Hash), second1);
    EXPECT_EQ(t->FindID(same[0].second), second0);
    EXPECT_EQ(t->FindID(same[1].first), first1);
    for (const auto& [n, id] : ids) {
      ASSERT_EQ(t->GetID(n), id) << n;
      ASSERT_EQ(t->FindID(n), id) << n;
      ASSERT_EQ(id->Text, n);
    }
    EXPECT_EQ(t->NameCount(), 6 + 4 + 3000);
    EXPECT_EQ(t->NameAt(6), first0);
    EXPECT_EQ(t->NameAt(8), second1);
    EXPECT_EQ(t->NameAt(10), ids[0].second);
    EXPECT_EQ(t->FindID("absent"), nullptr);
    EXPECT_EQ(t->FindByHash(NameHash("absent")), nullptr);
  }
}

// Names alike in their first bytes, in their length or in both, ASCII and
// not, each met again later: every element keeps the name it was written with.
TEST(SimpleXMLParser, NamesAlikeInPrefixAndLengthStayApart) {
  const std::vector<std::string> names = {"abcdefgh1", "abcdefgh2", "abcdefgh", "abcdefg", "abcdefgh1x",
                                          "abcdefgh2x", "a",        "b",        "_",       "\xC3\xA9l1",
                                          "\xC3\xA9l2", "abcdefghijklmnopq1", "abcdefghijklmnopq2"};
  std::string xml = "<?xml version=\"1.0\"?><r>";
  for (int pass = 0; pass < 3; ++pass)
    for (const std::string& n : names) xml += "<" + n + " " + n + "=\"" + n + "\"/>";
  xml += "</r>";
  auto d = Parse(xml);
  auto kids = d->DocumentElement()->ChildNodes();
  ASSERT_EQ(kids->Count(), static_cast<int>(3 * names.size()));
  for (int k = 0; k < kids->Count(); ++k) {
    const std::string& n = names[static_cast<std::size_t>(k) % names.size()];
    auto e = kids->Item(k);
    EXPECT_EQ(e->NodeName(), n);
    EXPECT_EQ(e->NodeNameID(), d->NameTable()->FindID(n));
    EXPECT_EQ(e->AttrName(0), n);
    EXPECT_EQ(e->GetAttr(n), n);
  }
}

TEST(SimpleXMLModel, BuildingMovingAndLifetime) {
  auto d = CreateXmlDocument("root", "", "");
  EXPECT_EQ(d->SaveXML(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root/>");
  auto r = d->DocumentElement();
  auto a = r->AppendElement("a");
  auto b = r->AppendElement("b");
  r->InsertBefore(b, a);  // moves b before a
  EXPECT_EQ(r->ChildNodes()->Item(0)->NodeName(), "b");
  a->AppendChild(b);      // moves b under a
  EXPECT_EQ(r->ChildNodes()->Count(), 1);
  EXPECT_TRUE(SameObject(b->ParentNode(), a));
  EXPECT_EQ(MessageOf([&] { b->AppendChild(r); }), "This feature is not supported by SimpleXML");
  auto c = a->CloneNode(true);
  EXPECT_EQ(c->XML(), a->XML());
  EXPECT_FALSE(c->ParentNode());
  r->ReplaceChild(c, a);
  EXPECT_FALSE(a->ParentNode());
  EXPECT_EQ(r->ChildNodes()->Count(), 1);
  EXPECT_EQ(b->FullPath(), "a\\b");
  EXPECT_EQ(r->SelectSingleNode("a\\b")->FullPath(), "root\\a\\b");
  // A node outlives its document.
  TIntfPtr<IXmlNode> kept = r->SelectSingleNode("a\\b");
  d = nullptr;
  r = nullptr;
  c = nullptr;
  EXPECT_EQ(kept->NodeName(), "b");
  EXPECT_FALSE(kept->ParentNode());
  // Deep trees are built and freed without recursion.
  std::string deep;
  for (int k = 0; k < 200000; ++k) deep += "<x>";
  auto dd = CreateXmlDocument();
  EXPECT_EQ(MessageOf([&] { dd->LoadXML(deep); }), "Character \"/\" expected");
  dd = nullptr;
}

// A child list goes through every size in both directions (none, one, two,
// more), from the parser and from code, by every operation that changes it;
// after each step its order, count and parents match a plain list kept
// alongside, and its text and binary forms read back the same.
TEST(SimpleXMLModel, ChildListsThroughEverySize) {
  struct TStep {
    const char* Op;  // a: append, i: insert before index, r: remove index, x: exchange, p: replace index
    int Index, Other;
  };
  const std::vector<std::pair<const char*, std::vector<TStep>>> cases = {
      {"<r/>", {{"a", 0, 0}, {"a", 0, 0}, {"r", 0, 0}, {"r", 0, 0}, {"a", 0, 0}}},
      {"<r><c0/></r>", {{"i", 0, 0}, {"r", 1, 0}, {"p", 0, 0}, {"a", 0, 0}, {"x", 0, 1}, {"r", 0, 0}, {"r", 0, 0}}},
      {"<r><c0/>t1</r>", {{"r", 0, 0}, {"i", 0, 0}, {"i", 1, 0}, {"r", 2, 0}, {"r", 0, 0}, {"p", 0, 0}}},
      {"<r><c0/><c1/><c2/></r>", {{"r", 1, 0}, {"r", 1, 0}, {"a", 0, 0}, {"x", 1, 0}, {"r", 0, 0}, {"r", 0, 0}}},
      {"<r>t0</r>", {{"a", 0, 0}, {"r", 1, 0}, {"r", 0, 0}, {"a", 0, 0}}},
  };
  for (const auto& [xml, steps] : cases) {
    auto d = Parse(xml);
    auto r = d->DocumentElement();
    std::vector<TIntfPtr<IXmlNode>> want;
    for (int k = 0; k < r->ChildNodes()->Count(); ++k) want.push_back(r->ChildNodes()->Item(k));
    int made = 0;
    for (const TStep& st : steps) {
      const std::string op = st.Op, name = "n" + std::to_string(made++);
      auto list = r->ChildNodes();
      if (op == "a") {
        want.push_back(r->AppendElement(name));
      } else if (op == "i") {
        TIntfPtr<IXmlNode> e = d->CreateElement(name);
        r->InsertBefore(e, want[static_cast<std::size_t>(st.Index)]);
        want.insert(want.begin() + st.Index, e);
      } else if (op == "r") {
        r->RemoveChild(want[static_cast<std::size_t>(st.Index)]);
        EXPECT_FALSE(want[static_cast<std::size_t>(st.Index)]->ParentNode()) << xml << " " << op;
        want.erase(want.begin() + st.Index);
      } else if (op == "x") {
        static_cast<TXmlNodeList*>(list.Get())->Exchange(st.Index, st.Other);
        std::swap(want[static_cast<std::size_t>(st.Index)], want[static_cast<std::size_t>(st.Other)]);
      } else {
        TIntfPtr<IXmlNode> e = d->CreateText(TVariant(name));
        r->ReplaceChild(e, want[static_cast<std::size_t>(st.Index)]);
        want[static_cast<std::size_t>(st.Index)] = e;
      }
      ASSERT_EQ(list->Count(), static_cast<int>(want.size())) << xml << " " << op;
      for (std::size_t k = 0; k < want.size(); ++k) {
        EXPECT_TRUE(SameObject(list->Item(static_cast<int>(k)), want[k])) << xml << " " << op << " " << k;
        EXPECT_TRUE(SameObject(want[k]->ParentNode(), r)) << xml << " " << op << " " << k;
      }
      auto text = Parse(d->SaveXML())->DocumentElement();
      auto bin = LoadXmlDocumentFromBinaryXML(d->BinaryXML())->DocumentElement();
      auto copy = r->CloneNode(true);
      for (const auto& other : {TIntfPtr<IXmlNode>(text), TIntfPtr<IXmlNode>(bin), copy}) {
        ASSERT_EQ(other->ChildNodes()->Count(), static_cast<int>(want.size())) << xml << " " << op;
        for (std::size_t k = 0; k < want.size(); ++k)
          EXPECT_EQ(other->ChildNodes()->Item(static_cast<int>(k))->XML(), want[k]->XML()) << xml << " " << op;
      }
    }
  }
}

// A parsed element's lone text is held without a node until something asks
// for the children: texts that fit in the element, ones that do not, one
// with a zero byte (kept as a node) and one longer than an arena block. The
// text, the written forms, copies and the binary form are the same whether
// or not the node was made, the node once made stays the same object, keeps
// its parent and value, and outlives its document; a child added after it
// comes second.
TEST(SimpleXMLModel, LoneTextsAreHeldUntilTheirNodeIsAskedFor) {
  const std::string big(5000, 'b');
  const std::vector<std::pair<std::string, std::string>> cases = {  // {markup of the text, its value}
      {"t", "t"}, {"12345678", "12345678"}, {"123456789", "123456789"}, {"a &amp; b &lt; c", "a & b < c"},
      {"x&#0;y", std::string("x\0y", 3)}, {big, big}};
  for (const auto& [markup, value] : cases) {
    const std::string xml = "<r><e k=\"1\">" + markup + "</e><f>" + markup + "</f></r>";
    auto d = Parse(xml);
    auto e = d->DocumentElement()->SelectSingleNode("e");
    const std::string form = e->XML(), whole = d->SaveXML(), bin = d->BinaryXML();
    EXPECT_EQ(e->Text(), value) << markup;
    EXPECT_EQ(d->DocumentElement()->GetChildText("f"), value) << markup;
    EXPECT_TRUE(e->CloneNode(true)->TypedValue() == TVariant(value)) << markup;
    // The node, asked for: one object, parented, the same texts after.
    auto t = e->ChildNodes()->Item(0);
    ASSERT_EQ(t->NodeType(), NODE_TEXT) << markup;
    EXPECT_TRUE(SameObject(t, e->ChildNodes()->Item(0))) << markup;
    EXPECT_TRUE(SameObject(t->ParentNode(), e)) << markup;
    EXPECT_EQ(t->Text(), value) << markup;
    EXPECT_EQ(e->XML(), form) << markup;
    EXPECT_EQ(d->SaveXML(), whole) << markup;
    EXPECT_EQ(d->BinaryXML(), bin) << markup;
    // An element appended to the other (still held) comes after the text.
    auto f = d->DocumentElement()->SelectSingleNode("f");
    f->AppendElement("g");
    ASSERT_EQ(f->ChildNodes()->Count(), 2) << markup;
    EXPECT_EQ(f->ChildNodes()->Item(0)->Text(), value) << markup;
    EXPECT_EQ(f->ChildNodes()->Item(1)->NodeName(), "g") << markup;
    // Held texts go with their document; a made node outlives it.
    auto again = Parse(xml);
    again = nullptr;
    d = nullptr;
    e = nullptr;
    f = nullptr;
    EXPECT_EQ(t->Text(), value) << markup;
    EXPECT_FALSE(t->ParentNode()) << markup;
  }
  // A text followed by another child of any kind is an ordinary first child.
  const std::vector<std::tuple<const char*, bool, const char*>> mixed = {  // {document, preserve, its children}
      {"<r>t<b/></r>", false, "#text:t b:"},
      {"<r>123456789<b>x</b>u</r>", false, "#text:123456789 b:x #text:u"},
      {"<r>t<!--c--></r>", false, "#text:t #comment:c"},
      {"<r>t<![CDATA[x]]></r>", false, "#text:t #cdata-section:x"},
      {"<r>t<?p d?></r>", false, "#text:t p:d"},
      {"<r> <b/> </r>", true, "#text:  b: #text: "}};
  for (const auto& [xml, preserve, want] : mixed) {
    auto r = Parse(xml, preserve)->DocumentElement();
    std::string got;
    for (int k = 0; k < r->ChildNodes()->Count(); ++k) {
      auto c = r->ChildNodes()->Item(k);
      got += (k ? " " : "") + c->NodeName() + ":" + c->Text();
    }
    EXPECT_EQ(got, want) << xml;
  }
}

// An element may have more attributes than a node counts in itself (65535
// and up): parsed, read through the interface, removed back below that, and
// through the text and binary forms.
TEST(SimpleXMLModel, ElementsWithVeryManyAttributes) {
  constexpr int kMany = 65536;
  std::string xml = "<r";
  for (int k = 0; k < kMany; ++k) xml += " a" + std::to_string(k) + "=\"" + std::to_string(k) + "\"";
  xml += "><c/></r>";
  auto d = Parse(xml);
  auto r = d->DocumentElement();
  ASSERT_EQ(r->AttrCount(), kMany);
  EXPECT_EQ(r->AttrName(kMany - 1), "a65535");
  EXPECT_EQ(r->GetAttr("a65534"), "65534");
  EXPECT_EQ(r->ChildNodes()->Count(), 1);
  for (int expect = kMany; expect > 65533; --expect) {
    ASSERT_EQ(r->AttrCount(), expect);
    EXPECT_EQ(r->AttrName(expect - 1), "a" + std::to_string(expect - 1));
    r->RemoveAttr("a" + std::to_string(expect - 1));
  }
  for (int k = 65533; k < kMany + 1; ++k) r->SetIntAttr("b" + std::to_string(k), k);
  EXPECT_EQ(r->AttrCount(), kMany + 1);
  EXPECT_EQ(r->GetIntAttr("b65536"), 65536);
  const std::string text = r->XML();
  EXPECT_EQ(std::count(text.begin(), text.end(), '='), kMany + 1);
  EXPECT_NE(text.find(" b65536=\"65536\">"), std::string::npos);
  auto back = LoadXmlDocumentFromBinaryXML(d->BinaryXML())->DocumentElement();
  ASSERT_EQ(back->AttrCount(), kMany + 1);
  EXPECT_EQ(back->AttrName(kMany), "b65536");
  EXPECT_EQ(back->GetAttr("a17"), "17");
  EXPECT_EQ(r->CloneNode(false)->AttrCount(), kMany + 1);
  r->RemoveAllAttrs();
  EXPECT_EQ(r->AttrCount(), 0);
}

TEST(SimpleXMLModel, PathsValuesAndAttributes) {
  auto d = Parse("<r><s n=\"1\"/><s n=\"2\"><t>v</t></s><u/></r>");
  auto r = d->DocumentElement();
  EXPECT_EQ(r->SelectNodes("s")->Count(), 2);
  EXPECT_EQ(r->SelectNodes("zz")->Count(), 0);
  EXPECT_EQ(r->SelectNodes("s\\t")->Count(), 0);  // the first s has no t
  EXPECT_FALSE(r->SelectSingleNode("q\\t"));
  EXPECT_EQ(r->FindElement("s", "n", "2")->SelectSingleNode("t")->Text(), "v");
  EXPECT_EQ(r->GetChildText("u", "def"), "");
  EXPECT_EQ(r->GetChildText("none", "def"), "def");
  r->SetChildText("w", "new");
  EXPECT_EQ(r->Values("w").StrView(), "new");
  EXPECT_EQ(d->Text(), "");
  auto e = r->EnsureChild("e");
  e->SetIntAttr("i", -5);
  e->SetHexAttr("h", 0xBEEF, 4);
  e->SetFloatAttr("f", 0.1);
  e->SetDateTimeAttr("dt", 45000.25);
  e->SetAttr("t", "yes");
  EXPECT_EQ(e->XML(), "\r\n<e i=\"-5\" h=\"BEEF\" f=\"0.1\" dt=\"2023-03-15T06-00-00\" t=\"yes\"/>");
  auto back = Parse(e->XML())->DocumentElement();
  EXPECT_EQ(back->GetIntAttr("i"), -5);
  EXPECT_EQ(back->GetHexAttr("h"), 0xBEEFu);
  EXPECT_DOUBLE_EQ(back->GetFloatAttr("f"), 0.1);
  EXPECT_DOUBLE_EQ(back->GetDateTimeAttr("dt"), 45000.25);
  EXPECT_TRUE(back->GetBoolAttr("t"));
  EXPECT_EQ(back->GetIntAttr("missing", 9), 9);
  EXPECT_EQ(back->GetAttrType("i"), varUString);
  EXPECT_EQ(e->GetAttrType("i"), varInteger);
  back->RemoveAttr("h");
  EXPECT_FALSE(back->AttrExists("h"));
  EXPECT_EQ(back->AttrCount(), 4);
  EXPECT_EQ(back->GetEnumAttr("t", {"no", "yes"}), 1);
  auto bin = CreateXmlElement("blob");
  const std::vector<std::uint8_t> data = {1, 2, 3, 250, 251, 252, 0};
  bin->ReplaceTextByBinaryData(data.data(), data.size(), 4);
  EXPECT_EQ(bin->GetTextAsBinaryData(), data);
}

// ---------------------------------------------------------------- conversions

TEST(SimpleXMLConversions, FloatsDatesBase64) {
  EXPECT_EQ(FloatToXSTR(0.1), "0.1");
  EXPECT_EQ(FloatToXSTR(-2.5), "-2.5");
  EXPECT_EQ(FloatToXSTR(1e20), "1E20");
  EXPECT_EQ(FloatToXSTR(1.5e-7), "1.5E-7");
  EXPECT_EQ(FloatToXSTR(HUGE_VAL), "INF");
  EXPECT_EQ(FloatToXSTR(-HUGE_VAL), "-INF");
  EXPECT_EQ(FloatToXSTR(std::nan("")), "NAN");
  EXPECT_EQ(FloatToXSTR(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(XSTRToFloat("+inf"), HUGE_VAL);
  EXPECT_EQ(XSTRToFloat("-INF"), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(XSTRToFloat("nan")));
  EXPECT_EQ(XSTRToFloat("1.5E-7"), 1.5e-7);
  EXPECT_THROW(XSTRToFloat("1,5"), EConvertError);
  EXPECT_EQ(VarToXSTR(TVariant::Currency(15000)), "1.5");
  EXPECT_EQ(VarToXSTR(TVariant(false)), "0");
  EXPECT_EQ(VarToXSTR(TVariant(static_cast<std::uint8_t>(255))), "255");
  EXPECT_EQ(DateTimeToXSTR(0.0), "1899-12-30T00-00-00");
  EXPECT_EQ(DateTimeToXSTR(36526.75), "2000-01-01T18-00-00");
  EXPECT_DOUBLE_EQ(XSTRToDateTime("2000-01-01T18-00-00"), 36526.75);
  EXPECT_DOUBLE_EQ(XSTRToDateTime("2000/01/01 18:00:00"), 36526.75);
  EXPECT_THROW(XSTRToDateTime("2000-13-01T00-00-00"), EConvertError);
  EXPECT_EQ(BinToBase64("Man", 3, 0), "TWFu");
  EXPECT_EQ(BinToBase64("Ma", 2, 0), "TWE=");
  EXPECT_EQ(BinToBase64("M", 1, 0), "TQ==");
  // CR LF goes in at positions 4, 10, 16, 22 (n, 2n+2, ...) of the growing
  // text while it reaches them: the first line is one shorter than the others.
  EXPECT_EQ(BinToBase64("abcdefghijkl", 12, 4), "YWJ\r\njZGV\r\nmZ2h\r\npamt\r\ns");
  EXPECT_EQ(BinToBase64("abc", 3, 4), "YWJ\r\nj");
  EXPECT_EQ(BinToBase64("a", 1, 4), "YQ=\r\n=");
  EXPECT_EQ(BinToBase64("a", 1, 5), "YQ==");
  const auto back = Base64ToBin("YWJ\r\njZGVm\r\n Z2hp amts");
  EXPECT_EQ(std::string(back.begin(), back.end()), "abcdefghijkl");
  const auto two = Base64ToBin("TWE=");
  EXPECT_EQ(std::string(two.begin(), two.end()), "Ma");
  EXPECT_TRUE(IsXmlDataString(" \r\n\t<?xml version=\"1.0\"?>"));
  EXPECT_FALSE(IsXmlDataString("<?xml?>"));
  EXPECT_FALSE(XmlIsInBinaryFormat(std::string(BinXmlSignature, 14)));
  EXPECT_EQ(XmlEncodingCodepage("windows-1251"), 1251);
  EXPECT_EQ(XmlEncodingCodepage("iso-2022-jp"), 50220);
  EXPECT_EQ(XmlEncodingCodepage("KOI8-R"), 0);
}

TEST(SimpleXMLModel, ResourcesStandInForTheResourceSection) {
  RegisterXmlResource("XML", "DEFAULTS", "<defaults><a/></defaults>");
  auto d = LoadXmlDocument(std::string_view("XML"), std::string_view("DEFAULTS"));
  EXPECT_EQ(d->DocumentElement()->NodeName(), "defaults");
  EXPECT_NE(MessageOf([&] { d->LoadResource("XML", "MISSING"); }), "");
}

// ---------------------------------------------------------------- libxml2 comparison

// One line per element, attribute, text, CDATA, comment and PI, in document
// order; texts trimmed and blank ones dropped, as this parser does.
std::string Trim(std::string s) {
  std::size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= 32) ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= 32) --b;
  return s.substr(a, b - a);
}

void DumpLibxml(xmlNode* n, std::string& out, int depth) {
  for (; n; n = n->next) {
    const std::string ind(static_cast<std::size_t>(depth), ' ');
    switch (n->type) {
      case XML_ELEMENT_NODE: {
        out += ind + "E " + reinterpret_cast<const char*>(n->name) + "\n";
        for (xmlAttr* a = n->properties; a; a = a->next) {
          xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
          out += ind + " @" + reinterpret_cast<const char*>(a->name) + "=" + (v ? reinterpret_cast<char*>(v) : "") + "\n";
          xmlFree(v);
        }
        // Namespace declarations are attributes to this parser.
        for (xmlNs* ns = n->nsDef; ns; ns = ns->next)
          out += ind + " @xmlns" + (ns->prefix ? std::string(":") + reinterpret_cast<const char*>(ns->prefix) : "") +
                 "=" + reinterpret_cast<const char*>(ns->href) + "\n";
        DumpLibxml(n->children, out, depth + 1);
        break;
      }
      case XML_TEXT_NODE: {
        const std::string t = Trim(reinterpret_cast<const char*>(n->content));
        if (!t.empty()) out += ind + "T " + t + "\n";
        break;
      }
      case XML_CDATA_SECTION_NODE: out += ind + "C " + reinterpret_cast<const char*>(n->content) + "\n"; break;
      case XML_COMMENT_NODE: out += ind + "M " + reinterpret_cast<const char*>(n->content) + "\n"; break;
      case XML_PI_NODE:
        out += ind + "P " + reinterpret_cast<const char*>(n->name) + " " +
               (n->content ? reinterpret_cast<const char*>(n->content) : "") + "\n";
        break;
      default: break;  // the DTD
    }
  }
}

void DumpOurs(const TIntfPtr<IXmlNode>& parent, std::string& out, int depth) {
  auto kids = parent->ChildNodes();
  for (int k = 0; k < kids->Count(); ++k) {
    auto n = kids->Item(k);
    const std::string ind(static_cast<std::size_t>(depth), ' ');
    switch (n->NodeType()) {
      case NODE_ELEMENT: {
        out += ind + "E " + n->NodeName() + "\n";
        // libxml2 lists namespace declarations after the other attributes.
        std::string ns;
        for (int a = 0; a < n->AttrCount(); ++a) {
          const std::string line = ind + " @" + n->AttrName(a) + "=" + n->GetAttr(n->AttrName(a)) + "\n";
          (n->AttrName(a).rfind("xmlns", 0) == 0 ? ns : out) += line;
        }
        out += ns;
        DumpOurs(n, out, depth + 1);
        break;
      }
      case NODE_TEXT: out += ind + "T " + n->Text() + "\n"; break;
      case NODE_CDATA_SECTION: out += ind + "C " + n->Text() + "\n"; break;
      case NODE_COMMENT: out += ind + "M " + n->Text() + "\n"; break;
      case NODE_PROCESSING_INSTRUCTION:
        if (depth > 0 || n->NodeName() != "xml") out += ind + "P " + n->NodeName() + " " + n->Text() + "\n";
        break;
      default: break;
    }
  }
}

TEST(SimpleXMLCorpus, SameElementsAttributesAndTextsAsLibxml2) {
  for (const std::string& xml : {std::string(kSettings), std::string(kSvg), std::string(kMixed), Cp1251Doc()}) {
    xmlDoc* ref = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "corpus.xml", nullptr, XML_PARSE_NONET);
    ASSERT_NE(ref, nullptr);
    std::string expected, actual;
    DumpLibxml(ref->children, expected, 0);
    xmlFreeDoc(ref);
    DumpOurs(Parse(xml), actual, 0);
    EXPECT_EQ(actual, expected);
    EXPECT_NE(expected.find("E "), std::string::npos);
  }
}

}  // namespace

namespace {
TEST(SimpleXMLModel, NodesOfAnotherDocumentAreCopiedIn) {
  auto a = Parse("<a><moved k=\"v\"><deep/></moved></a>");
  auto b = CreateXmlDocument("b");
  auto moved = a->DocumentElement()->SelectSingleNode("moved");
  auto inserted = b->DocumentElement()->AppendChild(moved);
  EXPECT_EQ(a->DocumentElement()->ChildNodes()->Count(), 0);  // it left its parent
  EXPECT_TRUE(SameObject(inserted->NameTable(), b->NameTable()));
  EXPECT_EQ(inserted->XML(), moved->XML());
  // The binary form of b names every node by b's own table.
  ExpectSameTree(b, LoadXmlDocumentFromBinaryXML(b->BinaryXML()));
  a = nullptr;
  EXPECT_EQ(b->DocumentElement()->SelectSingleNode("moved\\deep")->NodeName(), "deep");
}
}  // namespace

namespace {
TEST(SimpleXMLBinary, NarrowStringsAreReadAsWellFormedUtf8) {
  // A stray byte in a narrow string becomes the character of its code, so
  // that the wide form can hold it and both forms agree afterwards.
  const std::string bytes = Bytes({3, 'a', 0xFF, 'b'});  // the reader reads it in place
  TStrXmlReader r(bytes);
  EXPECT_EQ(r.ReadAnsiString(), "a\xC3\xBF" "b");
  auto d = LoadXmlDocumentFromBinaryXML(BinDoc({"x\xFF"}, Bytes({0, 1, 1}) + CompactHash("x\xC3\xBF") + Bytes({0, 0, 0})));
  EXPECT_EQ(d->DocumentElement()->NodeName(), "x\xC3\xBF");
  TStringStream wide;
  d->SaveBinary(wide, BINXML_USE_WIDE_CHARS);
  EXPECT_EQ(LoadXmlDocumentFromBinaryXML(wide.DataString())->BinaryXML(), d->BinaryXML());
}
}  // namespace

namespace nx {
namespace {

// The number of nested first-child elements below and including `e`.
int Levels(TIntfPtr<IXmlNode> n) {
  int levels = 0;
  for (; n; n = n->ChildNodes()->Count() ? n->ChildNodes()->Item(0) : nullptr) ++levels;
  return levels;
}

// Trees far deeper than any thread stack could walk recursively: saved as
// text and in the binary form, read back from both, copied and freed. The
// documents preserve white space, so the text form is not indented (an
// indented form of such a tree would be quadratic in size).
TEST(SimpleXMLDeepTrees, SaveLoadCopyAndFreeWithoutRecursion) {
  constexpr int kDepth = 200000;
  std::string open, close;
  for (int k = 0; k < kDepth; ++k) open += "<x>";
  for (int k = 0; k < kDepth; ++k) close += "</x>";
  // The innermost element has neither children nor a value: it is written "<x/>".
  const std::string written = open.substr(3) + "<x/>" + close.substr(4);

  auto parsed = Parse(open + close, true);
  EXPECT_EQ(parsed->SaveXML(), written);
  TStringStream text;
  parsed->Save(text);
  EXPECT_EQ(text.DataString(), written);

  // Built through the interface, one level below the last.
  auto built = CreateXmlDocument();
  built->SetPreserveWhiteSpace(true);
  TIntfPtr<IXmlElement> e = built->AppendElement("x");
  for (int k = 1; k < kDepth; ++k) e = e->AppendElement("x");
  e = nullptr;
  EXPECT_EQ(built->SaveXML(), written);

  // The binary form round trip, from a byte string and from a stream.
  const std::string bin = built->BinaryXML();
  auto fromBin = LoadXmlDocumentFromBinaryXML(bin);
  EXPECT_EQ(Levels(fromBin->DocumentElement()), kDepth);
  TStringStream binStream(bin);
  auto fromStream = LoadXmlDocument(binStream);
  EXPECT_EQ(fromStream->BinaryXML(), bin);

  // A deep copy within the document and one into another document.
  auto copy = parsed->DocumentElement()->CloneNode(true);
  parsed->AppendChild(copy);
  EXPECT_EQ(parsed->SaveXML(), written + written);
  auto other = CreateXmlDocument();
  other->SetPreserveWhiteSpace(true);
  other->AppendChild(built->DocumentElement());  // another table: copied in
  EXPECT_EQ(other->SaveXML(), written);
  EXPECT_EQ(Levels(parsed->SelectSingleNode("x\\x\\x")), kDepth - 2);
}

}  // namespace
}  // namespace nx
