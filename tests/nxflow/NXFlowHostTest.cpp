// The nxflow host's commands with a test package (one message per user error, no half-written file),
// and the bundled graphs run with the example package.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "documents/NXGraphDocument.h"
#include "nxflow/NXFlowHost.h"
#include "components/NXComponentPalette.h"
#include "components/NXFlowNode.h"
#include "runtime/Zandor.Design.h"

namespace {
using namespace nx;
using namespace nx::flow;
namespace fs = std::filesystem;

const fs::path kGraphs = NX_FLOW_GRAPHS;

struct TResult { int Status; std::string Out, Err; };

std::string ReadAll(const fs::path& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The two columns of a CSV file after its header line.
std::vector<std::pair<double, double>> ReadCsv(const fs::path& AFile) {
  std::ifstream in(AFile);
  std::vector<std::pair<double, double>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line))
    if (const std::size_t comma = line.find(','); comma != std::string::npos)
      rows.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
  return rows;
}

std::vector<std::string> Entries(const fs::path& ADir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(ADir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class NXFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") /
           ("nxflow-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  static TResult Flow(std::vector<std::string> AArgs, const char* APackages = NX_FLOW_TEST_PACKAGES) {
    AArgs.insert(AArgs.begin(), {"--packages", APackages});
    std::ostringstream out, err;
    const int status = RunCommandLine(AArgs, out, err);
    return {status, out.str(), err.str()};
  }
  // Runs the bundled graphs with the example package into FDir / AOut; the report.
  std::string RunGraphs(const std::vector<std::string>& AGraphs, const std::string& AOut,
                        const std::vector<std::string>& AOptions = {}) {
    std::vector<std::string> args = {"run"};
    for (const std::string& g : AGraphs) args.push_back((kGraphs / g).string());
    args.insert(args.end(), {"--out", (FDir / AOut).string()});
    args.insert(args.end(), AOptions.begin(), AOptions.end());
    const TResult r = Flow(args, NX_FLOW_PACKAGES);
    EXPECT_EQ(r.Status, 0) << r.Err;
    return r.Out;
  }
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
  for (const char* part : {"TFlowNode\n  pins: In (sink TNXFTRealSinkPin), Out (source TNXFTRealSourcePin)",
                           "Gain=1 Order=4 Shape=fsFlat"})
    EXPECT_NE(list.Out.find(part), std::string::npos) << part << "\n" << list.Out;
  const TResult describe = Flow({"describe", "TFlowNode"});
  ASSERT_EQ(describe.Status, 0) << describe.Err;
  for (const char* part : {"TFlowNode : TComponent", "(minimum 1)", "values: fsFlat fsRamp fsSine", "Out"})
    EXPECT_NE(describe.Out.find(part), std::string::npos) << part << "\n" << describe.Out;
}

// A package's palette table places its own classes, and only those.
TEST_F(NXFlowTest, APackagesPaletteTablePlacesOnlyItsOwnClasses) {
  ASSERT_EQ(Flow({"list"}).Status, 0);  // loads the test package
  const struct {
    const char* Class;
    std::vector<std::string> Categories;
    const char* Description;
  } cases[] = {
      {"TFlowNode", {"Test nodes"}, "A node with pins and no stream"},
      {"TFlowRecorder", {"Test nodes"}, "Records what arrives"},
      {"TFlowGroup", {}, ""},                         // no entry: in no category
      {"TRGProcessingManager", {"Processing"}, ""},  // the test package's entry for it is not its own
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Class);
    const TClassInfo* info = FindClassInfo(c.Class);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(CategoriesOf(*info), c.Categories);
    EXPECT_EQ(PaletteDescription(*info), c.Description);
  }
}

TEST_F(NXFlowTest, CommandLineMistakesGiveAStatusAndAHint) {
  struct TCase { std::vector<std::string> Args; int Status; const char* Expected; };
  const TCase cases[] = {
      {{}, 2, "usage: nxflow"},
      {{"check"}, 2, ""},
      {{"lsit"}, 2, "did you mean one of \"list\""},
      {{"check", (FDir / "absent.xml").string()}, 1, "absent.xml"},
      {{"describe", "TFlowNdoe"}, 1, "did you mean \"TFlowNode\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const TResult r = Flow(c.Args);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
  }
}

TEST_F(NXFlowTest, EveryBrokenDocumentGivesOneMessageWithFileAndLine) {
  struct TCase { const char* Name; std::string Text; std::vector<const char*> Expected; };  // parts of the message
  const std::string unknownClass = WithLine(3, "    <TFlowNod Name=\"A\"/>");
  const std::vector<TCase> cases = {
      {"malformed", WithLine(4, "    <TFlowNode Name=\"B\">"), {"malformed.xml:"}},
      {"unknown class", unknownClass,
       {"unknown.xml:3: unknown component class \"TFlowNod\"", "did you mean \"TFlowNode\""}},
      // The binary form keeps no lines.
      {"unknown class, binary", LoadXmlDocumentFromXML(unknownClass)->BinaryXML(),
       {"unknown.xml: unknown component class \"TFlowNod\" (did you mean \"TFlowNode\"?) (at /NXGraph/"
        "TFlowGroup[@Name='G']/_Components/TFlowNod[@Name='A'], binary document, no line)\n"}},
      {"unknown property", WithLine(4, "    <TFlowNode Name=\"B\" Gian=\"2\"/>"),
       {"unknown.xml:4: class TFlowNode has no property \"Gian\"", "did you mean \"Gain\""}},
      {"out of range", WithLine(4, "    <TFlowNode Name=\"B\" Order=\"0\"/>"), {"unknown.xml:4: value 0 of Order is out of range"}},
      {"duplicate name", WithLine(4, "    <TFlowNode Name=\"A\"/>"), {"unknown.xml:4: A component named A"}},
      {"missing pin", WithLine(6, "  <Links><Link From=\"A\" FromPin=\"Output\" To=\"B\" ToPin=\"In\"/></Links>"),
       {"unknown.xml:6: Link to a missing pin 'A.Output'"}},
      {"missing package", WithLine(1, "<NXGraph Version=\"1\" Packages=\"nopkg\">"),
       {"unknown.xml: Package \"nopkg\" not found"}},
      {"not a graph", "<Other/>", {"unknown.xml:1: not a graph document"}},
      {"not finite", WithLine(4, "    <TFlowNode Name=\"B\" Gain=\"nan\"/>"), {"unknown.xml:4: Property Gain: nan is not a finite number"}},
      {"above maximum", WithLine(4, "    <TFlowNode Name=\"B\" Order=\"65\"/>"),
       {"unknown.xml:4: value 65 of Order is out of range (maximum 64)"}},
      {"cycle", WithLine(6, "  <Links><Link From=\"A\" FromPin=\"Out\" To=\"B\" ToPin=\"In\"/>"
                            "<Link From=\"B\" FromPin=\"Out\" To=\"A\" ToPin=\"In\"/></Links>"),
       {"unknown.xml:6: A cycle of links: A -> B -> A"}},
      // Closed through a filter with a worker: making the closing link would
      // already send the stream's state round it without end.
      {"cycle through a worker",
       "<NXGraph Version=\"1\" Packages=\"nxexamples\">\n<TNXGroup Name=\"T\"><_Components>\n"
       "<TNXSineGenerator Name=\"Tone\"/>\n"
       "<TNXGain Name=\"Gain\"><Threading><TNXThreading Enabled=\"true\"/></Threading></TNXGain>\n"
       "<TNXLevelDetector Name=\"Level\"/>\n</_Components></TNXGroup>\n<Links>\n"
       "<Link From=\"Tone\" FromPin=\"OutputPin\" To=\"Gain\" ToPin=\"InputPin\"/>\n"
       "<Link From=\"Level\" FromPin=\"OutputPin\" To=\"Gain\" ToPin=\"InputPin\"/>\n"
       "<Link From=\"Gain\" FromPin=\"OutputPin\" To=\"Level\" ToPin=\"InputPin\"/>\n</Links></NXGraph>\n",
       {"unknown.xml:9: A cycle of links: Gain -> Level -> Gain"}},
      // Refused before anything is loaded, even where the file exists.
      {"package by path", WithLine(1, "<NXGraph Version=\"1\" Packages=\"flowtestpkg, " NX_FLOW_TEST_PACKAGES "/libflowtestpkg.so\">"),
       {"unknown.xml:1: package \"" NX_FLOW_TEST_PACKAGES "/libflowtestpkg.so\" is not a bare package name"}},
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
  ASSERT_EQ(Flow({"set", text, "A.Gain=0.25", "G.B.Shape=fsSine", "B.Order=7"}).Status, 0);
  const std::string saved = ReadAll(text);
  for (const char* part : {"Packages=\"flowtestpkg\"", "Gain=\"0.25\"", "Shape=\"fsSine\"", "Order=\"7\"", "<Link "})
    EXPECT_NE(saved.find(part), std::string::npos) << part << "\n" << saved;
  const TResult checked = Flow({"check", text});
  EXPECT_EQ(checked.Status, 0) << checked.Err;
  EXPECT_NE(checked.Out.find("ok (3 components, 1 links)"), std::string::npos) << checked.Out;
  // A binary document stays binary.
  const std::string binary = Write("graph.bin", ReadGraphFile(text).Xml->BinaryXML());
  ASSERT_EQ(Flow({"set", binary, "A.Gain=2"}).Status, 0);
  const TGraphFile reread = ReadGraphFile(binary);
  EXPECT_TRUE(reread.Binary);
  EXPECT_NE(reread.Xml->SaveXML().find("Name=\"A\" Gain=\"2\""), std::string::npos);
  for (const auto& [setting, expected] : std::vector<std::pair<const char*, const char*>>{
           {"A.Gian=2", "did you mean \"Gain\""}, {"Q.Gain=2", "\"Q\""}, {"A.Shape=fsSquare", "fsSquare"},
           {"A.Gain", "Component.Property=value"}}) {
    SCOPED_TRACE(setting);
    const std::string before = ReadAll(text);
    const TResult r = Flow({"set", text, "A.Gain=3", setting});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(expected), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(text), before);  // nothing written, not even the good setting
  }
  EXPECT_FALSE(fs::exists(text + ".nxflow-tmp"));
}

// A ramp (the running sample index) into a recorder writing one sample per line at the end.
const char* const kRun =
    "<NXGraph Version=\"1\" Packages=\"flowtestpkg\" Seconds=\"0.5\">\n"
    "  <TFlowGroup Name=\"G\"><_Components>\n"
    "    <TFlowRamp Name=\"Ramp\" SampleRate=\"8000\" BufferSize=\"100\"/>\n"
    "    <TFlowRecorder Name=\"Rec\"/>\n"
    "  </_Components></TFlowGroup>\n"
    "  <Links><Link From=\"Ramp\" FromPin=\"OutputPin\" To=\"Rec\" ToPin=\"In\"/></Links>\n"
    "</NXGraph>\n";

TEST_F(NXFlowTest, RunsAGraphForTheAskedStreamTimeTheSameEveryTime) {
  const std::string graph = Write("run.xml", kRun);
  for (const auto& [options, samples] : std::vector<std::pair<std::vector<std::string>, std::size_t>>{
           {{}, 4000}, {{"--seconds", "1"}, 8000}, {{"--buffers", "7"}, 700}, {{"--realtime", "--seconds", "0.05"}, 400}}) {
    SCOPED_TRACE(::testing::PrintToString(options));
    std::string first;
    for (int round = 0; round < 2; ++round) {
      const fs::path out = FDir / ("out" + std::to_string(round));
      std::vector<std::string> args = {"run", graph, "--out", out.string()};
      args.insert(args.end(), options.begin(), options.end());
      const TResult r = Flow(args);
      ASSERT_EQ(r.Status, 0) << r.Err;
      const std::string data = ReadAll(out / "recorded.txt");
      std::istringstream lines(data);
      std::size_t n = 0;
      for (std::string line; std::getline(lines, line); ++n) ASSERT_EQ(line, std::to_string(n));
      EXPECT_EQ(n, samples);
      for (const std::string& part : {std::string("Rec   TFlowRecorder"), (out / "recorded.txt").string()})
        EXPECT_NE(r.Out.find(part), std::string::npos) << r.Out;
      if (round == 0) first = data;
      EXPECT_EQ(data, first);
    }
  }
}

// kRun with more attributes on the ramp.
std::string WithRamp(const std::string& AAttributes) {
  std::string graph = kRun;
  graph.insert(graph.find("BufferSize=\"100\"") + 16, " " + AAttributes);
  return graph;
}

TEST_F(NXFlowTest, AFailedRunLeavesTheOutputFolderAsItWas) {
  const fs::path out = FDir / "out";
  fs::create_directories(out);
  std::ofstream(out / "keep.txt") << "kept";
  struct TCase { const char* Name; std::string Graph; std::vector<std::string> Options; int Status; const char* Expected; };
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
      {"setting not finite", kRun, {"--set", "Rec.MaxRate=inf"}, 1, "Invalid value \"inf\" (not a finite number) for property MaxRate"},
      {"zero rate", WithRamp("SampleRate=\"0\""), {}, 1, "run.xml:3: value 0 of SampleRate is out of range (minimum 1)"},
      {"nothing paces", WithRamp("ClockSource=\"csExternal\""), {}, 1, "run.xml: no generator paces the stream"},
      {"fault at stream start", kRun, {"--set", "Rec.MaxRate=4000"}, 1, "run.xml: Rec: rate 8000"},
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

// The nxflow program in a child process with the packages of APackages, its output in ADir / "stdout.txt" and
// "stderr.txt"; with AFileLimit, files it writes may not grow past that many bytes (SIGXFSZ ignored, so a write
// past it fails with EFBIG).
pid_t Spawn(const fs::path& ADir, std::vector<std::string> AArgs, const char* APackages = NX_FLOW_TEST_PACKAGES,
            rlim_t AFileLimit = RLIM_INFINITY) {
  AArgs.insert(AArgs.begin(), {NX_FLOW_PROGRAM, "--packages", APackages});
  fs::create_directories(ADir);
  const std::string out = (ADir / "stdout.txt").string(), err = (ADir / "stderr.txt").string();
  std::vector<char*> argv;
  for (std::string& a : AArgs) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Under the leak checker the child would add its table of used suppressions to stderr.
  const char* lsan = std::getenv("LSAN_OPTIONS");
  ::setenv("LSAN_OPTIONS", (std::string(lsan ? lsan : "") + ":print_suppressions=0").c_str(), 1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only calls that are safe after forking a threaded process, up to exec.
    if (AFileLimit != RLIM_INFINITY) {
      const rlimit limit{AFileLimit, AFileLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::signal(SIGXFSZ, SIG_IGN);
    }
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status of APid (128 + the signal when one ended it); -1 after 60 s, the child then killed.
int WaitExit(pid_t APid) {
  for (int i = 0; i < 6000; ++i) {
    int status = 0;
    if (::waitpid(APid, &status, WNOHANG) == APid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(APid, SIGKILL);
  ::waitpid(APid, nullptr, 0);
  return -1;
}

// Files that cannot be written whole: pictures and tables written at the end, a WAV file and a CSV file
// streamed during the run. Each run fails with one line naming the file where the user would look for it
// and the system's reason, and leaves the output folder as it was.
TEST_F(NXFlowTest, AFileThatCannotBeWrittenFailsTheRunAndLeavesTheOutputAlone) {
  const fs::path out = FDir / "out";
  fs::create_directories(out);
  std::ofstream(out / "keep.txt") << "kept";
  for (const auto& [graph, file] : std::vector<std::pair<const char*, const char*>>{
           {"filter-demo.xml", "mix-scope.png"}, {"wav-write.xml", "tone.wav"}}) {
    SCOPED_TRACE(graph);
    const pid_t pid = Spawn(FDir / "log", {"run", (kGraphs / graph).string(), "--out", out.string(), "--seconds", "0.5"},
                            NX_FLOW_PACKAGES, 4096);
    EXPECT_EQ(WaitExit(pid), 1);
    const std::string err = ReadAll(FDir / "log" / "stderr.txt");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("cannot write " + (out / file).string() + ": File too large\n"), std::string::npos) << err;
    EXPECT_EQ(Entries(out), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(Entries(FDir), (std::vector<std::string>{"log", "out"}));  // no staging folder left
  }
}

// The example package loads the sound-file library when it first opens a
// sound file: a run that opens none never loads it (the loader's own log
// tells, in a fresh process).
TEST_F(NXFlowTest, TheSoundFileLibraryLoadsOnlyWithASoundFile) {
  const auto run = [&](const char* AGraph, const char* ADir) {
    ::setenv("LD_DEBUG", "files", 1);
    const pid_t pid = Spawn(FDir / ADir, {"run", (kGraphs / AGraph).string(), "--out", (FDir / ADir / "out").string(),
                                          "--seconds", "0.1"},
                            NX_FLOW_PACKAGES);
    ::unsetenv("LD_DEBUG");
    EXPECT_EQ(WaitExit(pid), 0) << ReadAll(FDir / ADir / "stderr.txt");
    return ReadAll(FDir / ADir / "stderr.txt");
  };
  const std::string plain = run("filter-demo.xml", "plain"), sound = run("wav-write.xml", "sound");
  ASSERT_NE(plain.find("libnxexamples.so"), std::string::npos) << "the loader's log is missing";
  EXPECT_EQ(plain.find("file=libsndfile"), std::string::npos);
  EXPECT_NE(sound.find("file=libsndfile"), std::string::npos);
  EXPECT_TRUE(fs::exists(FDir / "sound" / "out" / "tone.wav"));
}

// A document that names no package, in a fresh process: the loader meets a class it does not know, the host
// loads the packages on the search path and the load goes on.
TEST_F(NXFlowTest, ClassesNoPackageNamesAreFoundOnTheSearchPath) {
  std::string graph = kGood;
  graph.erase(graph.find(" Packages=\"flowtestpkg\""), 23);
  EXPECT_EQ(WaitExit(Spawn(FDir / "log", {"check", Write("graph.xml", graph)})), 0)
      << ReadAll(FDir / "log" / "stderr.txt");
  EXPECT_NE(ReadAll(FDir / "log" / "stdout.txt").find("ok (3 components, 1 links)"), std::string::npos);
}

std::vector<std::string> StagingFolders(const fs::path& ADir) {
  std::vector<std::string> found;
  for (const std::string& name : Entries(ADir))
    if (name.starts_with(".out.nxflow-")) found.push_back(name);
  return found;
}

// The first signal stops the graph where it is and keeps what was gathered; a second ends at once and
// keeps nothing; a staging folder that a dead process left is removed by the next run.
TEST_F(NXFlowTest, StopSignalsEndARunCleanlyOrAtOnce) {
  const std::string graph = Write("run.xml", kRun);
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  fs::create_directories(FDir / (".out.nxflow-" + std::to_string(dead)));
  std::ofstream(FDir / (".out.nxflow-" + std::to_string(dead)) / "half.txt") << "half";
  struct TCase { std::vector<int> Signals; std::vector<std::string> Options; int Status; };
  const TCase cases[] = {{{SIGINT}, {}, 130}, {{SIGTERM, SIGTERM}, {"--set", "Rec.FinishDelay=5000"}, 143}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Status);
    fs::remove_all(FDir / "out");
    std::vector<std::string> args = {"run", graph, "--realtime", "--seconds", "60", "--out", (FDir / "out").string()};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    const pid_t pid = Spawn(FDir, args);
    const std::string mine = ".out.nxflow-" + std::to_string(pid);
    for (int i = 0; i < 2000 && !fs::exists(FDir / mine); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // some stream time
    for (int signal : c.Signals) {
      ::kill(pid, signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_EQ(WaitExit(pid), c.Status) << ReadAll(FDir / "stderr.txt");
    EXPECT_TRUE(StagingFolders(FDir).empty()) << ::testing::PrintToString(StagingFolders(FDir));
    if (c.Signals.size() == 1) {
      EXPECT_NE(ReadAll(FDir / "stdout.txt").find("interrupted by SIGINT"), std::string::npos) << ReadAll(FDir / "stdout.txt");
      std::istringstream lines(ReadAll(FDir / "out" / "recorded.txt"));
      std::size_t n = 0;
      for (std::string line; std::getline(lines, line); ++n) ASSERT_EQ(line, std::to_string(n));
      EXPECT_GT(n, 0u);
      EXPECT_LT(n, 60u * 8000);
    } else {
      EXPECT_FALSE(fs::exists(FDir / "out"));
    }
  }
}

TEST_F(NXFlowTest, RelativeInputsAreLookedUpInTheResultsFirst) {
  fs::create_directories(FDir / "results");
  std::ofstream(FDir / "results" / "made.wav") << "x";
  TFlowRunContext context;
  context.DocumentDir = (FDir / "doc").string();
  context.ResultDir = (FDir / "results").string();
  EXPECT_EQ(context.ResolveInput("made.wav"), (FDir / "results" / "made.wav").string());
  EXPECT_EQ(context.ResolveInput("other.wav"), (FDir / "doc" / "other.wav").string());
  EXPECT_EQ(context.ResolveInput("/abs/x.wav"), "/abs/x.wav");
}

// The slow input's 512 samples per buffer are stretched to 1,024 by nearest sample (halves to even);
// two generators on their clock threads give the same bytes on every run.
TEST_F(NXFlowTest, MixerDemoOutputIsTheSumOfItsInputs) {
  RunGraphs({"mixer-demo.xml"}, "mixer");
  RunGraphs({"mixer-demo.xml"}, "again");
  for (const char* f : {"mix.csv", "mix-scope.png"})
    EXPECT_TRUE(ReadAll(FDir / "mixer" / f) == ReadAll(FDir / "again" / f)) << f << " differs between two runs";
  const auto slow = ReadCsv(FDir / "mixer/slow.csv");
  const auto fast = ReadCsv(FDir / "mixer/fast.csv");
  const auto mix = ReadCsv(FDir / "mixer/mix.csv");
  ASSERT_GE(slow.size(), 15000u);
  ASSERT_GE(mix.size(), 30000u);
  ASSERT_LE(mix.size(), fast.size());
  for (std::size_t n = 0; n < mix.size(); ++n) {
    const std::size_t k = n / 1024, i = n % 1024;
    const auto j = std::min<std::int64_t>(static_cast<std::int64_t>(std::nearbyint(i * 511.0 / 1024)), 511);
    ASSERT_EQ(mix[n].second, slow[k * 512 + static_cast<std::size_t>(j)].second + fast[n].second) << "sample " << n;
  }
}

// The filter demo's last samples and its spectrum, 60 s into the stream, against the files kept from an earlier
// run: how the clocks are stepped must not change a sample, and arithmetic that does (a generator's recurrence)
// stays within 1e-12 of them (1e-9 dB on the spectrum).
TEST_F(NXFlowTest, FilterDemoMatchesItsKeptFiles) {
  RunGraphs({"filter-demo.xml"}, "demo");
  const fs::path kept = fs::path(NX_SOURCE_DIR) / "tests/nxflow/golden/filter-demo";
  for (const auto& [file, tolerance] : std::vector<std::pair<const char*, double>>{
           {"mix-scope.csv", 1e-12}, {"lowpass-scope.csv", 1e-12}, {"bandpass-scope.csv", 1e-12},
           {"mix-spectrum.csv", 1e-9}}) {
    SCOPED_TRACE(file);
    const auto want = ReadCsv(kept / file), got = ReadCsv(FDir / "demo" / file);
    ASSERT_GT(want.size(), 400u);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(got[i].first, want[i].first) << "row " << i;
      ASSERT_NEAR(got[i].second, want[i].second, tolerance) << "row " << i;
    }
  }
}

TEST_F(NXFlowTest, StatsNameEveryLinkAndTheTimelineHasATrackPerThread) {
  const std::string trace = (FDir / "run.json").string();
  const std::string report = RunGraphs({"filter-demo.xml"}, "stats",
                                       {"--seconds", "1", "--stats", "--trace", trace, "--set",
                                        "LowPass.Threading.Enabled=True"});
  // The row of a link: its buffers, samples and whether its latency was measured.
  struct TRow {
    std::uint64_t Buffers = 0, Samples = 0;
    bool Timed = false;
  };
  const auto row = [&](const std::string& AFrom, const std::string& ATo) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string from, arrow, to, rate, p50;
      TRow r;
      if (words >> from >> arrow >> to >> r.Buffers >> r.Samples >> rate >> p50 && from == AFrom && to == ATo) {
        r.Timed = p50 != "-";
        return r;
      }
    }
    ADD_FAILURE() << "no row " << AFrom << " -> " << ATo << "\n" << report;
    return TRow{};
  };
  // 1 s of 1024-sample buffers at 48 kHz from each generator; the mixer and
  // the filters pass on every buffer they get; every delivery has a tick.
  const TRow noise = row("Noise.OutputPin", "Mix.InputPin1");
  EXPECT_GE(noise.Buffers, 46u);
  EXPECT_LE(noise.Buffers, 47u);
  EXPECT_EQ(noise.Samples, noise.Buffers * 1024);
  const TRow toLowPass = row("Mix.OutputPin", "LowPass.InputPin");
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"Low.OutputPin", "Mix.InputPin2"}, {"Mix.OutputPin", "BandPass.InputPin"},
           {"LowPass.OutputPin", "LowPassScope.InputPin"}, {"BandPass.OutputPin", "BandPassSpectrum.InputPin"}}) {
    const TRow r = row(from, to);
    EXPECT_EQ(r.Samples, toLowPass.Samples) << from << " -> " << to;
    EXPECT_TRUE(r.Timed) << from << " -> " << to;
  }
  EXPECT_GT(toLowPass.Samples, 0u);
  // The low-pass filter's worker: its queue took every buffer, and dropped none.
  const std::size_t queue = report.find("\nLowPass ");
  ASSERT_NE(queue, std::string::npos) << report;
  std::istringstream q(report.substr(queue));
  std::string name;
  std::uint64_t size = 0, most = 0, queued = 0, dropped = 1;
  q >> name >> size >> most >> queued >> dropped;
  EXPECT_EQ(size, 15u);
  EXPECT_GE(queued, toLowPass.Buffers);
  EXPECT_GE(most, 1u);
  EXPECT_EQ(dropped, 0u);
  // The timeline: the generators' ticks, the worker's work, each on a track.
  const std::string json = ReadAll(trace);
  EXPECT_NE(report.find("timeline: "), std::string::npos);
  for (const char* part : {"\"traceEvents\": [", "\"thread_name\"", "\"cat\": \"tick\", \"name\": \"Noise\"",
                           "\"cat\": \"work\", \"name\": \"LowPass\"", "\"cat\": \"send\""})
    EXPECT_NE(json.find(part), std::string::npos) << part;
  EXPECT_EQ(json.substr(json.size() - 3), "}}\n");
  EXPECT_FALSE(fs::exists(trace + ".part"));
}

// A component's own readings close the figures, as it counted them.
TEST_F(NXFlowTest, StatsEndWithTheComponentsOwnReadings) {
  const std::string graph = Write("run.xml", kRun);
  const TResult r = Flow({"run", graph, "--out", (FDir / "out").string(), "--stats"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const auto reading = [&](const std::string& AName) {
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string component, name;
      std::int64_t value = -1;
      if (words >> component >> name >> value && component == "Rec" && name == AName) return value;
    }
    ADD_FAILURE() << "no reading " << AName << "\n" << r.Out;
    return std::int64_t{-1};
  };
  EXPECT_EQ(reading("Buffers"), 40);  // 0.5 s of 100-sample buffers at 8 kHz
  EXPECT_EQ(reading("Samples"), 4000);
}

TEST_F(NXFlowTest, WavRoundTripGivesBackEverySample) {
  const std::string report = RunGraphs({"wav-write.xml", "wav-read.xml"}, "wav");
  const std::string generated = ReadAll(FDir / "wav/generated.csv");
  EXPECT_EQ(std::count(generated.begin(), generated.end(), '\n'), 88201);  // header + 2 s at 44.1 kHz
  EXPECT_EQ(ReadAll(FDir / "wav/played.csv"), generated);
  EXPECT_NE(report.find("peak -6.02 dBFS"), std::string::npos) << report;
}

TEST_F(NXFlowTest, TheReadmesOwnPackageClipsAtItsLevel) {
  RunGraphs({"clipper-demo.xml"}, "clipper", {"--set", "Clip.Level=0.25"});
  const auto clipped = ReadCsv(FDir / "clipper/clipped-samples.csv");
  ASSERT_EQ(clipped.size(), 48000u);
  for (const auto& [n, value] : clipped)
    ASSERT_NEAR(value, std::clamp(std::sin(2 * M_PI * 200 * n / 48000), -0.25, 0.25), 1e-9) << "sample " << n;
  // The README shows the package's source as it is built.
  const std::string readme = ReadAll(fs::path(NX_SOURCE_DIR) / "README.md");
  const std::string marker = "<!-- examples/package/ClipperPackage.cpp -->\n```cpp\n";
  const std::size_t begin = readme.find(marker);
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = readme.find("```\n", begin + marker.size());
  EXPECT_EQ(readme.substr(begin + marker.size(), end - begin - marker.size()),
            ReadAll(fs::path(NX_SOURCE_DIR) / "examples/package/ClipperPackage.cpp"));
}

}  // namespace
