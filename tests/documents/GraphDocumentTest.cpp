// Graph documents: save, load, save gives the same bytes; a broken document ends in one error naming where,
// with the nearest names suggested for a misspelled class or property.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../runtime/PropsTestClasses.h"
#include "ExceptionMessage.h"
#include "documents/NXGraphDocument.h"
#include "streams/NXStreamTypes.h"

namespace nxtest {
namespace {

// A component with a published double and a real source and sink pin.
class TGraphNode : public TTestComponent, public INXPinOwner {
  NX_PERSISTENT(TGraphNode, TTestComponent)
 public:
  explicit TGraphNode(TComponent* AOwner) : TTestComponent(AOwner) {
    InitProperties(this);
    ++Live();
  }
  ~TGraphNode() override { --Live(); }
  static int& Live() {
    static int live = 0;
    return live;
  }
  static void DeclareProperties(TClassBuilder<TGraphNode>& P) { P.Prop<&TGraphNode::FGain>("Gain", 1.0).Max(1e6); }
  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    return AIndex == 0 ? static_cast<TFTBasicPin*>(&FOut) : static_cast<TFTBasicPin*>(&FIn);
  }
  TNXFTRealSourcePin& Out() { return FOut; }
  TNXFTRealSinkPin& In() { return FIn; }
  double Gain() const { return FGain; }
  void SetGain(double AValue) { FGain = AValue; }

 private:
  double FGain = 1.0;
  mutable TNXFTRealSourcePin FOut{"Out"};
  mutable TNXFTRealSinkPin FIn{"In"};
};

class GraphDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    RegisterClass(TGraphNode::StaticClassInfo());
    FLive = TGraphNode::Live();
  }
  void TearDown() override { EXPECT_EQ(TGraphNode::Live(), FLive); }
  // Root "Graph" with A, B, C and B's child D; A.Out -> B.In, A.Out -> C.In, D.Out -> A.In.
  static TGraphNode* MakeGraph() {
    auto* root = new TGraphNode(nullptr);
    root->SetName("Graph");
    auto* a = new TGraphNode(root);
    a->SetName("A");
    a->SetGain(0.1);  // needs all 17 digits
    a->SetTag(-7);
    a->Data = {0x00, 0xAB, 0xFF};
    SetPropText(*a->Settings(), "Label", "x < y & \"z\"");
    SetPropText(*a->Settings(), "Flag", "False");
    auto* b = new TGraphNode(root);
    b->SetName("B");
    b->SetGain(-1e300);
    SetPropText(*b->Settings(), "Big", "-9223372036854775808");
    b->SetTarget(a);
    auto* c = new TGraphNode(root);
    c->SetName("C");
    auto* d = new TGraphNode(b);
    d->SetName("D");
    EXPECT_TRUE(a->Out().Connect(&b->In()));
    EXPECT_TRUE(a->Out().Connect(&c->In()));
    EXPECT_TRUE(d->Out().Connect(&a->In()));
    return root;
  }
  int FLive = 0;
};

// A node class that only a "package" the hook loads registers.
class TLateNode : public TGraphNode {
  NX_PERSISTENT(TLateNode, TGraphNode)
 public:
  explicit TLateNode(TComponent* AOwner) : TGraphNode(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TLateNode>&) {}
};

TEST_F(GraphDocumentTest, SaveLoadSaveGivesTheSameBytesInBothForms) {
  for (TGraphDocumentFormat format : {TGraphDocumentFormat::Text, TGraphDocumentFormat::Binary}) {
    SCOPED_TRACE(static_cast<int>(format));
    TGraphNode* root = MakeGraph();
    const std::string first = TNXGraphDocument::SaveToString(*root, format);
    TComponent::Free(root);
    TComponent* loaded = TNXGraphDocument::LoadFromString(first, nullptr);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(TNXGraphDocument::SaveToString(*loaded, format), first);
    // The links and values are really there, not just written back.
    auto* a = static_cast<TGraphNode*>(loaded->FindComponent("A"));
    auto* b = static_cast<TGraphNode*>(loaded->FindComponent("B"));
    auto* c = static_cast<TGraphNode*>(loaded->FindComponent("C"));
    auto* d = b ? static_cast<TGraphNode*>(b->FindComponent("D")) : nullptr;
    ASSERT_TRUE(a && b && c && d);
    EXPECT_TRUE(a->Out().IsConnectedTo(&b->In()));
    EXPECT_TRUE(a->Out().IsConnectedTo(&c->In()));
    EXPECT_TRUE(d->Out().IsConnectedTo(&a->In()));
    EXPECT_FALSE(b->Out().IsConnected());
    EXPECT_EQ(a->Gain(), 0.1);
    EXPECT_EQ(a->Data, (std::vector<std::uint8_t>{0x00, 0xAB, 0xFF}));
    EXPECT_EQ(GetPropText(*a->Settings(), "Label"), "x < y & \"z\"");
    EXPECT_EQ(b->Target(), a);
    EXPECT_EQ(d->LoadedCalls, 1);
    // Through a stream in binary form and a file in text form.
    TStringStream stream;
    TNXGraphDocument::SaveToStream(*loaded, stream, TGraphDocumentFormat::Binary);
    const std::string path = ::testing::TempDir() + "graph_document_test.xml";
    TNXGraphDocument::SaveToFile(*loaded, path);
    TComponent::Free(loaded);
    stream.SetPosition(0);
    for (TComponent* again : {TNXGraphDocument::LoadFromStream(stream, nullptr),
                              TNXGraphDocument::LoadFromFile(path, nullptr)}) {
      EXPECT_EQ(TNXGraphDocument::SaveToString(*again, format), first);
      TComponent::Free(again);
    }
    std::remove(path.c_str());
  }
}

TEST_F(GraphDocumentTest, EveryBrokenDocumentEndsInOneErrorAndLeavesNothing) {
  TGraphNode* graph = MakeGraph();
  const std::string good = TNXGraphDocument::SaveToString(*graph);
  TComponent::Free(graph);
  auto edit = [&](const std::string& AFrom, const std::string& ATo) {
    std::string s = good;
    const std::size_t at = s.find(AFrom);
    EXPECT_NE(at, std::string::npos) << AFrom;
    if (at != std::string::npos) s.replace(at, AFrom.size(), ATo);
    return s;
  };
  // The line of the first occurrence of ANeedle in ADocument.
  auto lineOf = [](const std::string& ADocument, const std::string& ANeedle) {
    const std::size_t at = ADocument.find(ANeedle);
    EXPECT_NE(at, std::string::npos) << ANeedle;
    return 1 + std::count(ADocument.begin(), ADocument.begin() + static_cast<std::ptrdiff_t>(at), '\n');
  };
  // A member element the class does not know, on a line of its own.
  const std::string strayElement = edit("</_Components>", "</_Components>\n\t\t<Extra>\n\t\t\t<TGraphNode/>\n\t\t</Extra>");
  std::string unknownRoot = edit("<TGraphNode Name=\"Graph\"", "<TGraphNod Name=\"Graph\"");
  unknownRoot.replace(unknownRoot.rfind("</TGraphNode>"), 13, "</TGraphNod>");
  struct TCase {
    const char* Name;
    std::string Document;
    std::string Message;  // the whole message must contain this
    std::string At;       // the message names the line of this text ("" when it names none)
  };
  const TCase cases[] = {
      {"malformed XML", good.substr(0, good.size() / 2), "", ""},
      {"unknown class", edit("<TGraphNode Name=\"C\"", "<TGraphNod Name=\"C\""),
       "unknown component class \"TGraphNod\" (did you mean \"TGraphNode\"?) (at /NXGraph/TGraphNode[@Name='Graph']/"
       "_Components/TGraphNod[@Name='C']",
       "<TGraphNod Name=\"C\""},
      {"unknown root class", unknownRoot, "unknown component class \"TGraphNod\" (did you mean \"TGraphNode\"?)",
       "<TGraphNod"},
      {"unknown property", edit("Name=\"C\"", "Name=\"C\" Gian=\"3\""),
       "class TGraphNode has no property \"Gian\" (did you mean \"Gain\"?) (at /NXGraph/TGraphNode[@Name='Graph']/"
       "_Components/TGraphNode[@Name='C']",
       "Gian="},
      {"unknown root property, nothing near", edit("Name=\"Graph\"", "Name=\"Graph\" Volume=\"3\""),
       "class TGraphNode has no property \"Volume\" (at", "Volume="},
      {"unknown member element", strayElement, "class TGraphNode has no property \"Extra\"", "<Extra>"},
      {"wrong type", edit("Name=\"C\"", "Name=\"C\" Gain=\"loud\""),
       "Value 'loud' of 'Gain' is not a valid Double (at /NXGraph/TGraphNode[@Name='Graph']/_Components/"
       "TGraphNode[@Name='C']",
       "Gain=\"loud\""},
      {"wrong integer", edit("Tag=\"-7\"", "Tag=\"7x\""), "'7x' of 'Tag' is not a valid Int64", "Tag=\"7x\""},
      {"not a finite number", edit("Name=\"C\"", "Name=\"C\" Gain=\"nan\""), "Property Gain: nan is not a finite number",
       "Gain=\"nan\""},
      {"above the maximum", edit("Name=\"C\"", "Name=\"C\" Gain=\"2e6\""),
       "value 2e6 of Gain is out of range (maximum 1e+06)", "Gain=\"2e6\""},
      {"below the minimum in a sub-object", edit("Flag=\"false\"", "Flag=\"false\" Count=\"-11\""),
       "value -11 of Count is out of range (minimum -10)", "Count="},
      {"a cycle of links", edit("<Links>", "<Links>\n<Link From=\"B\" FromPin=\"Out\" To=\"B.D\" ToPin=\"In\"/>"),
       "A cycle of links: B -> B.D -> A -> B (a buffer", "To=\"B\" "},
      {"attribute where an object belongs", edit("Name=\"C\"", "Name=\"C\" _Components=\"x\""),
       "Member '_Components' is not a list", "_Components=\"x\""},
      {"duplicate name", edit("Name=\"C\"", "Name=\"B\""), "A component named B already exists",
       "<TGraphNode Name=\"B\"/>"},
      {"missing component", edit("To=\"C\"", "To=\"Q\""),
       "Link to a missing component 'Q' (at /NXGraph/Links/Link[2]", "To=\"Q\""},
      {"missing pin", edit("ToPin=\"In\"", "ToPin=\"Inn\""),
       "Link to a missing pin 'B.Inn' (at /NXGraph/Links/Link[1]", "ToPin=\"Inn\""},
      {"link between two sinks", edit("FromPin=\"Out\"", "FromPin=\"In\""),
       "A link runs from a source pin to a sink pin", "FromPin=\"In\""},
      {"stray element in the document", edit("<Links>", "<Other/>\n<Links>"), "Unexpected element <Other>",
       "<Other/>"},
      {"wrong version", edit("Version=\"1\"", "Version=\"2\""), "Unsupported version '2'", "Version="},
      {"wrong document", "\n\n<Other/>", "not a graph document (its document element is not <NXGraph>)", "<Other/>"},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    TGraphNode owner(nullptr);
    const int live = TGraphNode::Live();
    // Each document with and without a file name: how the message starts and where it says the fault is; the
    // binary form has the same error and no lines.
    struct TForm { std::string Document, FileName, Starts, Where; };
    const std::string line = tc.At.empty() ? "" : std::to_string(lineOf(tc.Document, tc.At));
    // Malformed text names a line and a column instead.
    std::vector<TForm> forms = {{tc.Document, "", tc.At.empty() ? "Line " : "", tc.At.empty() ? "" : ", line " + line + ")"},
                                {tc.Document, "graph.xml", "graph.xml:" + line + (tc.At.empty() ? "" : ": "), ""}};
    if (!tc.At.empty()) {
      const std::string binary = LoadXmlDocumentFromXML(tc.Document)->BinaryXML();
      forms.push_back({binary, "", "", ", binary document, no line)"});
      forms.push_back({binary, "graph.bin", "graph.bin: ", ", binary document, no line)"});
    }
    for (const TForm& f : forms) {
      SCOPED_TRACE(f.FileName);
      const std::string message = MessageOf<EGraphDocumentError>([&] {
        (void)(f.FileName.empty() ? TNXGraphDocument::LoadFromString(f.Document, &owner)
                                  : TNXGraphDocument::Load(TNXGraphDocument::ReadSource(f.Document, f.FileName), &owner));
      });
      EXPECT_TRUE(message.starts_with(f.Starts)) << message << " does not start with " << f.Starts;
      EXPECT_NE(message.find(tc.Message), std::string::npos) << message;
      EXPECT_NE(message.find(f.Where), std::string::npos) << message << " lacks " << f.Where;
      if (!f.FileName.empty()) EXPECT_EQ(message.find(", line "), std::string::npos) << message;
      EXPECT_EQ(owner.ComponentCount(), 0);
      EXPECT_EQ(TGraphNode::Live(), live);
    }
  }
}

// A component class nobody registered: the hook is asked before the load gives up, and may register it (as a
// package would); what it throws ends the load at that element.
TEST_F(GraphDocumentTest, AnUnknownClassAsksTheHookFirst) {
  TGraphNode* graph = MakeGraph();
  std::string late = TNXGraphDocument::SaveToString(*graph);
  TComponent::Free(graph);
  late.replace(late.find("<TGraphNode Name=\"C\""), 11, "<TLateNode");
  enum class THook { None, Registers, Declines, Throws };
  struct TCase { THook Hook; std::string Message; };  // the message of the error; "" when it loads
  const TCase cases[] = {
      {THook::None, "unknown component class \"TLateNode\" (at /NXGraph/TGraphNode[@Name='Graph']/_Components/"
                    "TLateNode[@Name='C'], line "},
      {THook::Declines, "unknown component class \"TLateNode\" (at"},
      {THook::Throws, "no package has TLateNode (at /NXGraph/TGraphNode[@Name='Graph']/_Components/TLateNode"},
      {THook::Registers, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Hook));
    std::vector<std::string> asked;
    TClassNotFoundHook hook;
    if (c.Hook != THook::None)
      hook = [&](std::string_view AName) {
        asked.emplace_back(AName);
        if (c.Hook == THook::Throws) throw Exception("no package has " + std::string(AName));
        if (c.Hook == THook::Registers) RegisterClass(TLateNode::StaticClassInfo());
        return c.Hook == THook::Registers;
      };
    TComponent* root = nullptr;
    const std::string message = MessageOf<EGraphDocumentError>(
        [&] { root = TNXGraphDocument::Load(TNXGraphDocument::ReadSource(late), nullptr, hook); });
    EXPECT_NE(message.find(c.Message), std::string::npos) << message;
    EXPECT_EQ(message.empty(), c.Message.empty()) << message;
    EXPECT_EQ(asked, c.Hook == THook::None ? std::vector<std::string>{} : std::vector<std::string>{"TLateNode"});
    if (root) EXPECT_EQ(std::string(root->FindComponent("C")->ClassName()), "TLateNode");
    TComponent::Free(root);
  }
  UnregisterClass(TLateNode::StaticClassInfo());
}

// The messages above show single suggestions; here the limit, the order and no suggestion at all.
TEST(NearestNamesTest, SuggestsLikelyMisspellingsNearestFirst) {
  EXPECT_TRUE(NearestNames("Volume", {"Gain", "Order"}).empty());
  EXPECT_EQ(NearestNames("Ordr", {"Order", "Orders", "Odr"}, 2), (std::vector<std::string>{"Order", "Odr"}));
  EXPECT_EQ(DidYouMean("Ordr", {"Order", "Orders"}), " (did you mean one of \"Order\", \"Orders\"?)");
}

}  // namespace
}  // namespace nxtest
