// The nxaudio package (sound devices through JACK), end to end: each test
// starts a JACK server of its own on the dummy driver (no sound card;
// `jackd --no-realtime -n NAME -d dummy`), runs the nxflow program on a graph
// that names that server, and talks to the graph through JACK clients of its
// own. Every wait has a time limit, and the server and the program are
// killed when a test ends, whatever happened.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "packages/nxaudio/NXJackDevice.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 48000;

std::string ReadText(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

#ifdef NX_JACK_TSAN_SUPPRESSIONS
// Under ThreadSanitizer the nxflow processes take the JACK ring's
// suppressions; set once, before any thread, for every child to inherit.
const bool GJackSuppressions = [] {
  const char* options = std::getenv("TSAN_OPTIONS");
  std::string all = options ? options : "";
  all += std::string(all.empty() ? "" : ":") + "suppressions=" NX_JACK_TSAN_SUPPRESSIONS;
  return ::setenv("TSAN_OPTIONS", all.c_str(), 1) == 0;
}();
#endif

// The number after the first ANAME in a run's output (-1: none there).
long CountIn(const std::string& AOut, const std::string& AName) {
  const std::size_t at = AOut.find(AName);
  return at == std::string::npos ? -1 : std::stol(AOut.substr(at + AName.size()));
}

// Starts a child process (stdout and stderr to files); kills it at the end.
class TChild {
 public:
  TChild(const std::vector<std::string>& AArgs, const fs::path& AOut, const fs::path& AErr) {
    FPid = ::fork();
    if (FPid == 0) {
      std::freopen(AOut.c_str(), "w", stdout);
      std::freopen(AErr.c_str(), "w", stderr);
      std::vector<char*> argv;
      for (const std::string& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      std::_Exit(127);
    }
  }
  ~TChild() { Kill(); }
  // The exit status once it ended within ATimeout; -1 when it did not (it
  // is then killed).
  int Wait(std::chrono::milliseconds ATimeout) {
    const auto until = std::chrono::steady_clock::now() + ATimeout;
    while (FPid > 0) {
      int status = 0;
      const pid_t r = ::waitpid(FPid, &status, WNOHANG);
      if (r == FPid) {
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() > until) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  void Signal(int ASignal) {
    if (FPid > 0) ::kill(FPid, ASignal);
  }
  void Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

 private:
  pid_t FPid = -1;
};

// A JACK server on the dummy driver, named after the test that runs it. The
// name is the same from run to run on purpose: the server registry of JACK
// has a few slots, and a slot that a server which died left behind is only
// taken back by a server of the same name.
class TJackServer {
 public:
  explicit TJackServer(const fs::path& ADir, std::uint32_t APeriod = 256)
      : FName("nxtest-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).substr(0, 24)),
        FProcess({"jackd", "--no-realtime", "-n", FName, "-d", "dummy", "-r", std::to_string(kRate), "-p",
                  std::to_string(APeriod)},
                 ADir / (FName + ".out"), ADir / (FName + ".err")) {
    // Up when a client can join (ten seconds at most).
    for (int i = 0; i < 200 && !FUp; ++i) {
      jack_status_t status{};
      if (jack_client_t* c = jack_client_open("nxtest-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                              &status, FName.c_str())) {
        jack_client_close(c);
        FUp = true;
      } else {
        std::this_thread::sleep_for(50ms);
      }
    }
  }
  ~TJackServer() { Stop(); }
  bool Up() const noexcept { return FUp; }
  const std::string& Name() const noexcept { return FName; }
  // Stops the server as a user would (SIGTERM), within five seconds.
  void Stop() {
    FProcess.Signal(SIGTERM);
    FProcess.Wait(5s);
  }

 private:
  std::string FName;
  TChild FProcess;
  bool FUp = false;
};

// A client of the test: input ports that record (capture) or output ports
// that play a signal (feed), from its own process callback.
class TTestClient {
 public:
  TTestClient(const std::string& AServer, const std::string& AName, bool ARecord, int APorts)
      : FRecord(ARecord), FSamples(static_cast<std::size_t>(kRate) * 20, 0.0f) {
    jack_status_t status{};
    FClient = jack_client_open(AName.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                               AServer.c_str());
    if (!FClient) return;
    for (int p = 0; p < APorts; ++p) {
      const std::string port = (ARecord ? "in_" : "out_") + std::to_string(p + 1);
      FPorts.push_back(jack_port_register(FClient, port.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                          ARecord ? JackPortIsInput : JackPortIsOutput, 0));
    }
    jack_set_process_callback(FClient, &TTestClient::Process, this);
    jack_activate(FClient);
  }
  ~TTestClient() { Close(); }
  bool Open() const noexcept { return FClient != nullptr; }
  void Close() {
    if (!FClient) return;
    jack_deactivate(FClient);
    jack_client_close(FClient);
    FClient = nullptr;
  }
  // What the first port recorded.
  std::vector<float> Recorded() const {
    return {FSamples.begin(), FSamples.begin() + static_cast<std::ptrdiff_t>(FCount.load())};
  }
  // The fed signal: a saw-tooth of 4800 samples whose value tells where in
  // its cycle a sample stands.
  static float Saw(std::int64_t AIndex) { return static_cast<float>((AIndex % 4800 - 2400) / 4800.0); }

 private:
  static int Process(jack_nframes_t AFrames, void* AArg) {
    auto& self = *static_cast<TTestClient*>(AArg);
    if (self.FRecord) {
      const auto* in = static_cast<const float*>(jack_port_get_buffer(self.FPorts[0], AFrames));
      const std::size_t at = self.FCount.load();
      const std::size_t n = std::min<std::size_t>(AFrames, self.FSamples.size() - at);
      std::copy(in, in + n, self.FSamples.begin() + static_cast<std::ptrdiff_t>(at));
      self.FCount.store(at + n);
    } else {
      for (jack_port_t* port : self.FPorts) {
        auto* out = static_cast<float*>(jack_port_get_buffer(port, AFrames));
        for (jack_nframes_t i = 0; i < AFrames; ++i) out[i] = Saw(self.FFed + i);
      }
      self.FFed += AFrames;
    }
    return 0;
  }
  const bool FRecord;
  jack_client_t* FClient = nullptr;
  std::vector<jack_port_t*> FPorts;
  std::vector<float> FSamples;
  std::atomic<std::size_t> FCount{0};
  std::int64_t FFed = 0;
};

class Audio : public ::testing::Test {
 protected:
  void SetUp() override {
    // libjack's own messages (a probe that finds no server yet) stay out of the log.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    FDir = fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") /
           ("nxaudio-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  fs::path Write(const std::string& AName, const std::string& AText) {
    std::ofstream(FDir / AName, std::ios::binary) << AText;
    return FDir / AName;
  }
  struct TRun {
    int Status;
    std::string Out, Err;
  };
  // nxflow run GRAPH --out DIR, a minute at most.
  TRun RunFlow(const fs::path& AGraph, const std::vector<std::string>& AMore = {}) {
    std::vector<std::string> args = {NX_FLOW_PROGRAM, "run", AGraph.string(), "--out", (FDir / "out").string()};
    args.insert(args.end(), AMore.begin(), AMore.end());
    TChild flow(args, FDir / "flow.out", FDir / "flow.err");
    const int status = flow.Wait(60s);
    return {status, ReadText(FDir / "flow.out"), ReadText(FDir / "flow.err")};
  }
  void ServerStoppedUnderARunningGraph() {
    TJackServer server(FDir);
    ASSERT_TRUE(server.Up()) << ReadText(FDir / (server.Name() + ".err"));
    const fs::path graph = Write("loop.xml", R"(<NXGraph Version="1" Packages="nxexamples, nxaudio" Seconds="60">
    <TNXGroup Name="G"><_Components>
      <TNXJackInput Name="In" ServerName=")" + server.Name() + R"(" ClientName="nxin"/>
      <TNXGain Name="Gain" Gain="0.5"/>
      <TNXJackOutput Name="Out" ServerName=")" + server.Name() + R"(" ClientName="nxout"/>
    </_Components></TNXGroup>
    <Links>
      <Link From="In" FromPin="OutputPin" To="Gain" ToPin="InputPin"/>
      <Link From="Gain" FromPin="OutputPin" To="Out" ToPin="InputPin"/>
    </Links>
  </NXGraph>
  )");
    TChild flow({NX_FLOW_PROGRAM, "run", graph.string(), "--out", (FDir / "out").string()}, FDir / "flow.out",
                FDir / "flow.err");
    // Running: both clients have joined the server (ten seconds at most).
    bool joined = false;
    {
      jack_status_t status{};
      jack_client_t* probe = jack_client_open("nxtest-watch", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                              &status, server.Name().c_str());
      ASSERT_NE(probe, nullptr);
      for (int i = 0; i < 200 && !joined; ++i) {
        joined = jack_port_by_name(probe, "nxout:out_1") && jack_port_by_name(probe, "nxin:in_1");
        if (!joined) std::this_thread::sleep_for(50ms);
      }
      jack_client_close(probe);
    }
    ASSERT_TRUE(joined) << ReadText(FDir / "flow.err");
    std::this_thread::sleep_for(500ms);
    server.Stop();
    const int status = flow.Wait(20s);
    const std::string err = ReadText(FDir / "flow.err");
    ASSERT_EQ(status, 1) << "nxflow did not end by itself (killed after 20 s)\n" << err << ReadText(FDir / "flow.out");
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("the JACK server \"" + server.Name() + "\" shut down under the running graph"), std::string::npos)
        << err;
    EXPECT_EQ(err.rfind("nxflow: ", 0), 0u) << err;
  }

  fs::path FDir;
};

// The sample ring between the device callback and the graph: filled to the
// brim and past it, drained, and run round many times in uneven steps, it
// hands out exactly the samples it took, in order, and takes only whole
// ones (a ring full of samples still has three bytes of room).
TEST(AudioRing, TakesAndGivesWholeSamplesInOrder) {
  for (const std::size_t capacity : {std::size_t{1}, std::size_t{255}, std::size_t{256}, std::size_t{1000}}) {
    nx::audio::TJackRing ring(capacity);
    float next = 0, expect = 0;
    std::vector<float> in(3000), out(3000);
    auto write = [&](std::size_t n) {
      for (std::size_t i = 0; i < n; ++i) in[i] = next + static_cast<float>(i);
      const std::size_t took = ring.Write(in.data(), n);
      next += static_cast<float>(took);
      return took;
    };
    auto read = [&](std::size_t n) {
      const std::size_t got = ring.Read(out.data(), n);
      for (std::size_t i = 0; i < got; ++i, ++expect) EXPECT_EQ(out[i], expect) << capacity << " at " << expect;
      return got;
    };
    // Full: nothing more goes in, in any count.
    while (write(7) > 0) {
    }
    const std::size_t full = ring.ReadSpace();
    EXPECT_GE(full, capacity);
    for (std::size_t n = 1; n <= 5; ++n) EXPECT_EQ(write(n), 0u) << capacity;
    EXPECT_EQ(ring.ReadSpace(), full);
    EXPECT_EQ(ring.WriteSpace(), 0u);
    EXPECT_EQ(read(full + 3), full);
    // Round and round, never more read than written.
    std::uint32_t seed = 7;
    for (int step = 0; step < 2000; ++step) {
      seed = seed * 1664525u + 1013904223u;
      write((seed >> 8) % (capacity + 3));
      seed = seed * 1664525u + 1013904223u;
      read((seed >> 8) % (capacity + 3));
    }
    read(out.size());
    EXPECT_EQ(expect, next) << capacity;
  }
}

// Two channels through their rings while the reader falls behind and takes each ring in turn (the writer's period
// may come between the two): frames that find either ring full are dropped from both, so both read the same.
TEST(AudioRing, ChannelsStayAlignedWhenFramesAreDropped) {
  std::vector<std::unique_ptr<nx::audio::TJackRing>> rings;
  for (int c = 0; c < 2; ++c) rings.push_back(std::make_unique<nx::audio::TJackRing>(100));
  std::vector<float> period(48), a(256), b(256);
  float next = 0;
  std::size_t dropped = 0, compared = 0;
  auto write = [&] {
    for (std::size_t i = 0; i < period.size(); ++i) period[i] = next + static_cast<float>(i);
    next += static_cast<float>(period.size());
    const float* channels[2] = {period.data(), period.data()};
    dropped += period.size() - nx::audio::WriteFrames(rings, channels, period.size());
  };
  std::uint32_t seed = 11;
  for (int step = 0; step < 3000; ++step) {
    seed = seed * 1664525u + 1013904223u;
    const std::size_t want = (seed >> 8) % 40;
    const std::size_t n = std::min({want, rings[0]->ReadSpace(), rings[1]->ReadSpace()});
    ASSERT_EQ(rings[0]->Read(a.data(), n), n);
    if (seed & 1) write();
    ASSERT_EQ(rings[1]->Read(b.data(), n), n);
    for (std::size_t i = 0; i < n; ++i, ++compared) ASSERT_EQ(a[i], b[i]) << "step " << step;
    if (seed & 2) write();
  }
  EXPECT_GT(dropped, 1000u);  // the reader fell behind
  EXPECT_GT(compared, 10000u);
}

// A sine through a gain to the output for 2 s of stream: a client of the
// test records what the output port plays, and it is the sine, times the
// gain, sample for sample, for at least the 2 s asked for. The output paces
// the graph: the report line has its counts.
TEST_F(Audio, ToneThroughGainToOutputIsWhatTheServerPlays) {
  TJackServer server(FDir);
  ASSERT_TRUE(server.Up()) << ReadText(FDir / (server.Name() + ".err"));
  TTestClient capture(server.Name(), "nxcapture", true, 1);
  ASSERT_TRUE(capture.Open());
  constexpr double kFrequency = 997, kAmplitude = 0.8, kGain = 0.5, kPhase = 30;
  const fs::path graph = Write("tone.xml", R"(<NXGraph Version="1" Packages="nxexamples, nxaudio" Seconds="2">
  <TNXGroup Name="G"><_Components>
    <TNXSineGenerator Name="Tone" SampleRate="48000" BufferSize="256" Frequency="997" Amplitude="0.8" Phase="30"/>
    <TNXGain Name="Gain" Gain="0.5"/>
    <TNXJackOutput Name="Out" ServerName=")" + server.Name() + R"(" ClientName="nxout" Ports="nxcapture:in_1" BufferPeriods="8"/>
  </_Components></TNXGroup>
  <Links>
    <Link From="Tone" FromPin="OutputPin" To="Gain" ToPin="InputPin"/>
    <Link From="Gain" FromPin="OutputPin" To="Out" ToPin="InputPin"/>
  </Links>
</NXGraph>
)");
  const TRun run = RunFlow(graph, {"--stats"});
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("2.00 s of stream time"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("paced by its device"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("underruns "), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("server xruns "), std::string::npos) << run.Out;
  // The figures end with the output's readings: the report line's counts,
  // and periods for at least the 2 s played.
  const auto reading = [&](const std::string& AName) {
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string component, name;
      long value = -1;
      if (words >> component >> name >> value && component == "Out" && name == AName) return value;
    }
    return -1L;
  };
  EXPECT_EQ(reading("Underruns"), CountIn(run.Out, "underruns ")) << run.Out;
  EXPECT_EQ(reading("Xruns"), CountIn(run.Out, "server xruns ")) << run.Out;
  EXPECT_GE(reading("Periods") * CountIn(run.Out, "JACK \"" + server.Name() + "\": "), 2L * kRate) << run.Out;
  std::this_thread::sleep_for(100ms);
  capture.Close();
  // The silence before the first buffer (and any an underrun put in) is
  // left out; the sine's samples are never exactly 0 at this phase.
  std::vector<float> played;
  for (float v : capture.Recorded())
    if (v != 0.0f) played.push_back(v);
  // The server's xruns (a client, this test's own included, late in a cycle
  // of a server without real-time priority) may repeat or skip a period of
  // what a port carries, and an underrun the output counted (a graph slower
  // than the device, as under a thread checker) puts a period of silence in;
  // nothing else may. So the samples are the sine, sample for sample, cut at
  // most twice per xrun or underrun, each piece going on at some place of
  // the sine.
  const long xruns = CountIn(run.Out, "server xruns ") + CountIn(run.Out, "underruns ");
  ASSERT_GE(xruns, 0) << run.Out;
  // 2 s at least, less a period for each (a cycle the recording client did
  // not finish is lost to it).
  ASSERT_GE(played.size() + static_cast<std::size_t>(xruns) * 256, 2u * kRate) << run.Out;
  auto sine = [&](std::int64_t AIndex) {
    return kGain * kAmplitude *
           std::sin(2 * std::numbers::pi * (kFrequency * static_cast<double>(AIndex) / kRate + kPhase / 360));
  };
  auto matches = [&](std::size_t AAt, std::int64_t AIndex) {
    for (std::size_t k = 0; k < 16 && AAt + k < played.size(); ++k)
      if (std::abs(played[AAt + k] - sine(AIndex + static_cast<std::int64_t>(k))) > 1e-5) return false;
    return true;
  };
  std::int64_t expected = 0;
  long cuts = 0;
  for (std::size_t i = 0; i < played.size(); ++i, ++expected) {
    if (std::abs(played[i] - sine(expected)) <= 1e-5) continue;
    ++cuts;
    ASSERT_LE(cuts, 2 * xruns) << "sample " << i << " of " << played.size() << " (first zero-free at "
                               << (capture.Recorded().size() - played.size()) << ") is " << played[i] << ", not "
                               << sine(expected) << "\n" << run.Out;
    std::int64_t found = -1;
    for (std::int64_t d = 0; d <= 8192 && found < 0; ++d)
      for (std::int64_t e : {expected + d, expected - d})
        if (found < 0 && e >= 0 && matches(i, e)) found = e;
    ASSERT_GE(found, 0) << "sample " << i << " is no sample of the sine near where it stands\n" << run.Out;
    expected = found;
  }
}

// Input -> FIR -> file: a client of the test plays a saw-tooth into both
// captured channels; the second channel is written as it came, the first
// through a 64th-order FIR low-pass. The raw file is the saw-tooth without a
// gap, and the filtered file is the FIR of it, sample for sample.
TEST_F(Audio, InputThroughFirToFileIsWhatTheClientFed) {
  TJackServer server(FDir);
  ASSERT_TRUE(server.Up()) << ReadText(FDir / (server.Name() + ".err"));
  TTestClient feed(server.Name(), "nxfeed", false, 2);
  ASSERT_TRUE(feed.Open());
  const fs::path graph = Write("input.xml", R"(<NXGraph Version="1" Packages="nxexamples, nxaudio" Seconds="2">
  <TNXGroup Name="G"><_Components>
    <TNXJackInput Name="In" ServerName=")" + server.Name() + R"(" ClientName="nxin" Ports="nxfeed:out_1, nxfeed:out_2" Channels="2" BufferSize="256"/>
    <TNXFirFilter Name="Fir" FilterType="fdftLowPass" Order="64" LowFrequency="2000" Window="wtHamming"/>
    <TNXCsvWriter Name="Filtered" FileName="filtered.csv"/>
    <TNXCsvWriter Name="Raw" FileName="raw.csv"/>
  </_Components></TNXGroup>
  <Links>
    <Link From="In" FromPin="OutputPin" To="Fir" ToPin="InputPin"/>
    <Link From="Fir" FromPin="OutputPin" To="Filtered" ToPin="InputPin"/>
    <Link From="In" FromPin="OutputPin2" To="Raw" ToPin="InputPin"/>
  </Links>
</NXGraph>
)");
  const TRun run = RunFlow(graph);
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("In: JACK \"" + server.Name() + "\""), std::string::npos) << run.Out;
  auto readCsv = [&](const std::string& AName) {
    std::vector<double> values;
    std::istringstream in(ReadText(FDir / "out" / AName));
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) values.push_back(std::stod(line.substr(line.find(',') + 1)));
    return values;
  };
  const std::vector<double> raw = readCsv("raw.csv"), filtered = readCsv("filtered.csv");
  ASSERT_GE(raw.size(), 2u * kRate) << run.Out;
  ASSERT_EQ(filtered.size(), raw.size());
  // The saw-tooth from wherever the capture began (after what silence came
  // before the feed's port was connected), without a sample lost.
  std::size_t first = 0;
  while (first < raw.size() && raw[first] == 0) ++first;
  ASSERT_LT(first, 4096u) << "the capture stayed silent";
  // Cut only where the server had an xrun (see the output's test) or the
  // ring overran (a graph slower than the device drops what finds the ring
  // full, counted in samples: each cut of that kind drops one at least): a
  // piece goes on at the place of the saw-tooth its first sample tells.
  const long xruns = CountIn(run.Out, "server xruns ");
  const long overruns = CountIn(run.Out, "overruns ");
  ASSERT_GE(xruns, 0) << run.Out;
  ASSERT_GE(overruns, 0) << run.Out;
  std::int64_t expected = std::llround(raw[first] * 4800 + 2400);
  long cuts = 0;
  for (std::size_t i = first; i < raw.size(); ++i, ++expected) {
    if (raw[i] == TTestClient::Saw(expected)) continue;
    ++cuts;
    ASSERT_LE(cuts, 2 * xruns + overruns) << "sample " << i << " is " << raw[i] << ", not "
                                          << TTestClient::Saw(expected) << "\n" << run.Out;
    expected = std::llround(raw[i] * 4800 + 2400);
  }
  // The filter's output, from the same design.
  const std::vector<double> taps = nx::NXFilterCalc(nx::ftFIR, nx::fdftLowPass, 64, 2000, 4000, kRate, nx::wtHamming,
                                                    nx::iirButterworth, 0, std::numeric_limits<double>::quiet_NaN())
                                       ->GetTaps();
  ASSERT_EQ(taps.size(), 65u);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    double y = 0;
    for (std::size_t k = 0; k < taps.size() && k <= i; ++k) y += taps[k] * raw[i - k];
    ASSERT_NEAR(filtered[i], y, 1e-9) << "sample " << i << " raw " << raw[i] << " before " << (i ? raw[i - 1] : 0.0)
                                      << "\n" << run.Out;
  }
}

// The server stops under a running graph (input -> gain -> output, each
// device on the server's physical ports): the run ends at once with one line
// that says so, exit status 1, and no process is left hanging.
// Twice: once as it usually goes, once with the close told not to wait for
// the library's notification thread, so that the client is left open with
// its callbacks still live (the sanitizers then see any session freed under
// them).
TEST_F(Audio, ServerStoppedUnderARunningGraphEndsTheRunInOneLine) {
  for (const char* wait : {"2000", "0"}) {
    SCOPED_TRACE(std::string("notifier wait ") + wait + " ms");
    ::setenv("NXAUDIO_NOTIFIER_WAIT_MS", wait, 1);
    ServerStoppedUnderARunningGraph();
    ::unsetenv("NXAUDIO_NOTIFIER_WAIT_MS");
    if (HasFatalFailure()) return;
  }
}

// No server of that name: the run does not start, and says why in one line.
TEST_F(Audio, MissingServerIsOneLineBeforeTheRun) {
  const std::string name = "nxtest-none-" + std::to_string(::getpid());
  const fs::path graph = Write("none.xml", R"(<NXGraph Version="1" Packages="nxexamples, nxaudio" Seconds="2">
  <TNXGroup Name="G"><_Components>
    <TNXSineGenerator Name="Tone" SampleRate="48000" BufferSize="256"/>
    <TNXJackOutput Name="Out" ServerName=")" + name + R"("/>
  </_Components></TNXGroup>
  <Links><Link From="Tone" FromPin="OutputPin" To="Out" ToPin="InputPin"/></Links>
</NXGraph>
)");
  const TRun run = RunFlow(graph);
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
  EXPECT_NE(run.Err.find("Out: cannot reach the JACK server \"" + name + "\""), std::string::npos) << run.Err;
}

// A stream whose rate the server does not run at is refused before a sample
// is made.
TEST_F(Audio, RateOtherThanTheServersIsRefused) {
  TJackServer server(FDir);
  ASSERT_TRUE(server.Up());
  const fs::path graph = Write("rate.xml", R"(<NXGraph Version="1" Packages="nxexamples, nxaudio" Seconds="2">
  <TNXGroup Name="G"><_Components>
    <TNXSineGenerator Name="Tone" SampleRate="44100" BufferSize="256"/>
    <TNXJackOutput Name="Out" ServerName=")" + server.Name() + R"(" Ports="none:such"/>
  </_Components></TNXGroup>
  <Links><Link From="Tone" FromPin="OutputPin" To="Out" ToPin="InputPin"/></Links>
</NXGraph>
)");
  const TRun run = RunFlow(graph);
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("the stream runs at 44100 Hz, the JACK server \"" + server.Name() + "\" at 48000 Hz"),
            std::string::npos)
      << run.Err;
}

}  // namespace
