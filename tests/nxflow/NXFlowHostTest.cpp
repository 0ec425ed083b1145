// Tests of the nxflow host's commands: listing and describing the classes of
// a package found on the search path, checking documents (every kind of user
// error gives one message with file and line and a non-zero status), and
// editing documents in place without ever leaving half a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "infrastructure/NXGraphDocument.h"
#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowNode.h"
#include "runtime/Zandor.TypeInfo.h"

namespace {
using namespace nx;
using namespace nx::flow;
namespace fs = std::filesystem;

struct TResult {
  int Status;
  std::string Out, Err;
};

TResult Flow(std::vector<std::string> AArgs) {
  AArgs.insert(AArgs.begin(), {"--packages", NX_FLOW_TEST_PACKAGES});
  std::ostringstream out, err;
  const int status = RunCommandLine(AArgs, out, err);
  return {status, out.str(), err.str()};
}

std::string ReadAll(const std::string& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class NXFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") /
           ("nxflow-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }
  std::string Write(const std::string& AName, const std::string& AText) {
    const std::string path = (FDir / AName).string();
    std::ofstream(path, std::ios::binary) << AText;
    return path;
  }
  fs::path FDir;
};

// Root group G with nodes A and B, A.Out -> B.In; line 3 is A, line 4 is B.
const char* const kGood =
    "<NXGraph Version=\"1\" Packages=\"flowtestpkg\">\n"
    "  <TFlowGroup Name=\"G\"><_Components>\n"
    "    <TFlowNode Name=\"A\" Gain=\"0.5\"/>\n"
    "    <TFlowNode Name=\"B\" Shape=\"fsRamp\"/>\n"
    "  </_Components></TFlowGroup>\n"
    "  <Links><Link From=\"A\" FromPin=\"Out\" To=\"B\" ToPin=\"In\"/></Links>\n"
    "</NXGraph>\n";

std::string WithLine(int ALine, const std::string& AReplacement) {
  std::istringstream in(kGood);
  std::string line, out;
  for (int n = 1; std::getline(in, line); ++n) out += (n == ALine ? AReplacement : line) + "\n";
  return out;
}

TEST_F(NXFlowTest, ListsAndDescribesThePackagesClasses) {
  const TResult list = Flow({"list"});
  ASSERT_EQ(list.Status, 0) << list.Err;
  EXPECT_NE(list.Out.find("TFlowNode\n  pins: In (sink TNXFTRealSinkPin), Out (source TNXFTRealSourcePin)"),
            std::string::npos)
      << list.Out;
  EXPECT_NE(list.Out.find("Gain=1 Order=4 Shape=fsFlat"), std::string::npos) << list.Out;

  const TResult describe = Flow({"describe", "TFlowNode"});
  ASSERT_EQ(describe.Status, 0) << describe.Err;
  for (const char* part : {"TFlowNode : TComponent", "(minimum 1)", "values: fsFlat fsRamp fsSine", "Out"})
    EXPECT_NE(describe.Out.find(part), std::string::npos) << part << "\n" << describe.Out;

  const TResult typo = Flow({"describe", "TFlowNdoe"});
  EXPECT_EQ(typo.Status, 1);
  EXPECT_NE(typo.Err.find("did you mean \"TFlowNode\""), std::string::npos) << typo.Err;
}

TEST_F(NXFlowTest, EveryBrokenDocumentGivesOneMessageWithFileAndLine) {
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<const char*> Expected;  // fragments of the one error message
  };
  const std::vector<TCase> cases = {
      {"malformed", WithLine(4, "    <TFlowNode Name=\"B\">"), {"malformed.xml:"}},
      {"unknown class", WithLine(3, "    <TFlowNod Name=\"A\"/>"),
       {"unknown.xml:3: unknown component class \"TFlowNod\"", "did you mean \"TFlowNode\""}},
      {"unknown property", WithLine(4, "    <TFlowNode Name=\"B\" Gian=\"2\"/>"),
       {"unknown.xml:4: class TFlowNode has no property \"Gian\"", "did you mean \"Gain\""}},
      {"out of range", WithLine(4, "    <TFlowNode Name=\"B\" Order=\"0\"/>"),
       {"unknown.xml:4: value 0 of Order is out of range (minimum 1)"}},
      {"wrong value", WithLine(3, "    <TFlowNode Name=\"A\" Gain=\"loud\"/>"), {"unknown.xml:3: Value 'loud' of 'Gain'"}},
      {"duplicate name", WithLine(4, "    <TFlowNode Name=\"A\"/>"), {"unknown.xml:4: A component named A"}},
      {"missing pin", WithLine(6, "  <Links><Link From=\"A\" FromPin=\"Output\" To=\"B\" ToPin=\"In\"/></Links>"),
       {"unknown.xml:6: Link to a missing pin 'A.Output'"}},
      {"missing package", WithLine(1, "<NXGraph Version=\"1\" Packages=\"nopkg\">"),
       {"unknown.xml: Package \"nopkg\" not found"}},
      {"not a graph", "<Other/>", {"unknown.xml: not a graph document"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file = Write(std::string(c.Name) == "malformed" ? "malformed.xml" : "unknown.xml", c.Text);
    const TResult r = Flow({"check", file});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Out.empty()) << r.Out;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    for (const char* part : c.Expected) EXPECT_NE(r.Err.find(part), std::string::npos) << part << "\n" << r.Err;
  }
}

TEST_F(NXFlowTest, SetEditsTheDocumentInItsOwnFormOrLeavesItAlone) {
  const std::string text = Write("graph.xml", kGood);
  TResult r = Flow({"set", text, "A.Gain=0.25", "G.B.Shape=fsSine", "B.Order=7"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string saved = ReadAll(text);
  for (const char* part : {"Packages=\"flowtestpkg\"", "Gain=\"0.25\"", "Shape=\"fsSine\"", "Order=\"7\"", "<Link "})
    EXPECT_NE(saved.find(part), std::string::npos) << part << "\n" << saved;
  const TResult checked = Flow({"check", text});
  EXPECT_EQ(checked.Status, 0) << checked.Err;
  EXPECT_NE(checked.Out.find("ok (3 components, 1 links)"), std::string::npos) << checked.Out;

  // A binary document stays binary.
  TGraphFile parsed = ReadGraphFile(text);
  const std::string binary = Write("graph.bin", parsed.Xml->BinaryXML());
  ASSERT_EQ(Flow({"set", binary, "A.Gain=2"}).Status, 0);
  const TGraphFile reread = ReadGraphFile(binary);
  EXPECT_TRUE(reread.Binary);
  EXPECT_NE(reread.Xml->SaveXML().find("Name=\"A\" Gain=\"2\""), std::string::npos);

  struct TBad {
    const char* Setting;
    const char* Expected;
  };
  for (const TBad& bad : {TBad{"A.Gian=2", "did you mean \"Gain\""}, TBad{"Q.Gain=2", "\"Q\""},
                          TBad{"A.Order=0", "out of range (minimum 1)"}, TBad{"A.Gain=loud", "Gain"},
                          TBad{"A.Shape=fsSquare", "fsSquare"}, TBad{"A.Gain", "Component.Property=value"}}) {
    SCOPED_TRACE(bad.Setting);
    const std::string before = ReadAll(text);
    r = Flow({"set", text, "A.Gain=3", bad.Setting});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(bad.Expected), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(text), before);  // nothing written, not even the good setting
  }
  EXPECT_FALSE(fs::exists(text + ".nxflow-tmp"));
}

TEST_F(NXFlowTest, CommandLineMistakes) {
  EXPECT_EQ(Flow({}).Status, 2);
  EXPECT_EQ(Flow({"check"}).Status, 2);
  const TResult r = Flow({"lsit"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("did you mean one of \"list\""), std::string::npos) << r.Err;
  EXPECT_EQ(Flow({"check", (FDir / "absent.xml").string()}).Status, 1);
}

// A ramp generator (the running sample index) into a recorder that writes
// one sample per line when the run ends.
const char* const kRun =
    "<NXGraph Version=\"1\" Packages=\"flowtestpkg\" Seconds=\"0.5\">\n"
    "  <TFlowGroup Name=\"G\"><_Components>\n"
    "    <TFlowRamp Name=\"Ramp\" SampleRate=\"8000\" BufferSize=\"100\"/>\n"
    "    <TFlowRecorder Name=\"Rec\"/>\n"
    "  </_Components></TFlowGroup>\n"
    "  <Links><Link From=\"Ramp\" FromPin=\"OutputPin\" To=\"Rec\" ToPin=\"In\"/></Links>\n"
    "</NXGraph>\n";

std::vector<std::string> Entries(const fs::path& ADir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(ADir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(NXFlowTest, RunsAGraphForTheAskedStreamTimeTheSameEveryTime) {
  const std::string graph = Write("run.xml", kRun);
  struct TCase {
    std::vector<std::string> Options;
    std::size_t Samples;
  };
  for (const TCase& c : {TCase{{}, 4000}, TCase{{"--seconds", "1"}, 8000}, TCase{{"--buffers", "7"}, 700},
                         TCase{{"--seconds", "0.0125"}, 100}, TCase{{"--realtime", "--seconds", "0.05"}, 400}}) {
    SCOPED_TRACE(::testing::PrintToString(c.Options));
    std::string first;
    for (int round = 0; round < 2; ++round) {
      const fs::path out = FDir / ("out" + std::to_string(round));
      std::vector<std::string> args = {"run", graph, "--out", out.string()};
      args.insert(args.end(), c.Options.begin(), c.Options.end());
      const TResult r = Flow(args);
      ASSERT_EQ(r.Status, 0) << r.Err;
      const std::string data = ReadAll((out / "recorded.txt").string());
      std::istringstream lines(data);
      std::size_t n = 0;
      for (std::string line; std::getline(lines, line); ++n) ASSERT_EQ(line, std::to_string(n));
      EXPECT_EQ(n, c.Samples);
      EXPECT_NE(r.Out.find("Rec   TFlowRecorder"), std::string::npos) << r.Out;
      EXPECT_NE(r.Out.find((out / "recorded.txt").string()), std::string::npos) << r.Out;
      if (round == 0) first = data;
      else EXPECT_EQ(data, first);
    }
  }
}

TEST_F(NXFlowTest, AFailedRunLeavesTheOutputFolderAsItWas) {
  const fs::path out = FDir / "out";
  fs::create_directories(out);
  std::ofstream(out / "keep.txt") << "kept";
  struct TCase {
    const char* Name;
    std::string Graph;
    std::vector<std::string> Options;
    int Status;
    const char* Expected;
  };
  std::string linkToSource = kRun;
  linkToSource.replace(linkToSource.find("ToPin=\"In\""), 10, "ToPin=\"OutputPin\"");
  linkToSource.replace(linkToSource.find("To=\"Rec\""), 8, "To=\"Ramp\"");
  std::string twoWriters = kRun;
  twoWriters.replace(twoWriters.find("    <TFlowRecorder"), 0, "    <TFlowRecorder Name=\"Rec2\"/>\n");
  twoWriters.replace(twoWriters.find("</Links>"), 0, "<Link From=\"Ramp\" FromPin=\"OutputPin\" To=\"Rec2\" ToPin=\"In\"/>");
  const std::vector<TCase> cases = {
      {"two sinks write one file", twoWriters, {}, 1, "Rec2 and Rec both write recorded.txt"},
      {"prepare fails", kRun, {"--set", "Rec.FailPrepare=true"}, 1, "run.xml: Rec: cannot prepare (asked to fail)"},
      {"writing fails", kRun, {"--set", "Rec.FailFinish=true"}, 1, "run.xml: Rec: cannot write (asked to fail)"},
      {"bad setting", kRun, {"--set", "Rec.FileNmae=x"}, 1, "did you mean \"FileName\""},
      {"unknown class", WithLine(3, "    <TFlowRmap Name=\"Ramp\"/>"), {}, 1, "run.xml:3: unknown component class"},
      {"incompatible link", linkToSource, {}, 1, "A link runs from a source pin to a sink pin"},
      {"bad duration", kRun, {"--seconds", "-1"}, 2, "--seconds needs a positive number"},
      {"both durations", kRun, {"--seconds", "1", "--buffers", "2"}, 2, "exclude each other"},
      {"unknown option", kRun, {"--fast"}, 2, "unknown option \"--fast\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> args = {"run", Write("run.xml", c.Graph), "--out", out.string()};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    const TResult r = Flow(args);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
    EXPECT_EQ(Entries(out), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(Entries(FDir), (std::vector<std::string>{"out", "run.xml"}));  // no staging folder left
  }
}

TEST(FlowRunContextTest, RelativeInputsAreLookedUpInTheResultsFirst) {
  const fs::path base = fs::temp_directory_path() / "nxflow-resolve";
  fs::remove_all(base);
  fs::create_directories(base / "results");
  fs::create_directories(base / "doc");
  std::ofstream(base / "results" / "made.wav") << "x";
  TFlowRunContext context;
  context.DocumentDir = (base / "doc").string();
  context.ResultDir = (base / "results").string();
  EXPECT_EQ(context.ResolveInput("made.wav"), (base / "results" / "made.wav").string());
  EXPECT_EQ(context.ResolveInput("other.wav"), (base / "doc" / "other.wav").string());
  EXPECT_EQ(context.ResolveInput("/abs/x.wav"), "/abs/x.wav");
  fs::remove_all(base);
}

TEST(NearestNamesTest, SuggestsLikelyMisspellingsNearestFirst) {
  const std::vector<std::string> names = {"Gain", "Order", "Shape", "SampleRate", "BufferSize"};
  EXPECT_EQ(NearestNames("gian", names), std::vector<std::string>{"Gain"});
  EXPECT_EQ(NearestNames("Sahpe", names), std::vector<std::string>{"Shape"});
  EXPECT_EQ(NearestNames("SampelRate", names), std::vector<std::string>{"SampleRate"});
  EXPECT_TRUE(NearestNames("Volume", names).empty());
  EXPECT_EQ(NearestNames("Ordr", {"Order", "Orders", "Odr"}, 2), (std::vector<std::string>{"Order", "Odr"}));
}

}  // namespace
