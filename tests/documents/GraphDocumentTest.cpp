// Graph documents: save, load, save gives the same bytes; a broken document ends in one error naming where.
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
  struct TCase {
    const char* Name;
    std::string Document;
    std::string Message;  // the whole message must contain this
    std::string At;       // the message names the line of this text ("" when it names none)
  };
  const TCase cases[] = {
      {"malformed XML", good.substr(0, good.size() / 2), "Line ", ""},
      {"unknown class", edit("<TGraphNode Name=\"C\"", "<TNoSuchNode Name=\"C\""),
       "Class TNoSuchNode not found (at /NXGraph/TGraphNode[@Name='Graph']/_Components/TNoSuchNode[@Name='C']", "<TNoSuchNode"},
      {"unknown property", edit("Name=\"C\"", "Name=\"C\" Volume=\"3\""),
       "Unknown property 'Volume' of class TGraphNode (at /NXGraph/TGraphNode[@Name='Graph']/_Components/"
       "TGraphNode[@Name='C']",
       "Volume="},
      {"unknown root property", edit("Name=\"Graph\"", "Name=\"Graph\" Volume=\"3\""),
       "Unknown property 'Volume'", "Volume="},
      {"unknown member element", strayElement, "Unknown property 'Extra' of class TGraphNode", "<Extra>"},
      {"wrong type", edit("Name=\"C\"", "Name=\"C\" Gain=\"loud\""),
       "Value 'loud' of 'Gain' is not a valid Double (at /NXGraph/TGraphNode[@Name='Graph']/_Components/"
       "TGraphNode[@Name='C']",
       "Gain=\"loud\""},
      {"wrong integer", edit("Tag=\"-7\"", "Tag=\"7x\""), "'7x' of 'Tag' is not a valid Int64", "Tag=\"7x\""},
      {"not a finite number", edit("Name=\"C\"", "Name=\"C\" Gain=\"nan\""), "Property Gain: nan is not a finite number",
       "Gain=\"nan\""},
      {"above the maximum", edit("Name=\"C\"", "Name=\"C\" Gain=\"2e6\""), "Property Gain: 2e+06 is above the maximum 1e+06",
       "Gain=\"2e6\""},
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
      {"wrong document", "\n\n<Other/>", "The document element is not <NXGraph>", "<Other/>"},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    TGraphNode owner(nullptr);
    const int live = TGraphNode::Live();
    // (document, where the message says the fault is); the binary form has the same error and no lines.
    std::vector<std::pair<std::string, std::string>> forms = {{tc.Document, ""}};
    if (!tc.At.empty()) {
      forms[0].second = ", line " + std::to_string(lineOf(tc.Document, tc.At)) + ")";
      forms.emplace_back(LoadXmlDocumentFromXML(tc.Document)->BinaryXML(), ", binary document, no line)");
    }
    for (const auto& [document, where] : forms) {
      const std::string message =
          MessageOf<EGraphDocumentError>([&] { (void)TNXGraphDocument::LoadFromString(document, &owner); });
      EXPECT_NE(message.find(tc.Message), std::string::npos) << message;
      EXPECT_NE(message.find(where), std::string::npos) << message << " lacks " << where;
      EXPECT_EQ(owner.ComponentCount(), 0);
      EXPECT_EQ(TGraphNode::Live(), live);
    }
  }
}

}  // namespace
}  // namespace nxtest
