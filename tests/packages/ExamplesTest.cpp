// The example package against exact references: sources, filters, a saved graph run on virtual
// time, the spectrum, and the sinks' files and pictures (the same bytes on every run).
#include <gtest/gtest.h>

#include <cairo.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../components/ComponentTestSupport.h"
#include "ExceptionMessage.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "components/NXClockGen.h"
#include "components/NXCommonGen.h"
#include "components/NXComponentPalette.h"
#include "documents/NXGraphDocument.h"
#include "packages/nxexamples/NXExampleFilters.h"
#include "packages/nxexamples/NXExamplesPackage.h"
#include "packages/nxexamples/NXExampleSinks.h"
#include "packages/nxexamples/NXExampleSources.h"
#include "packages/nxexamples/NXExampleSpectrum.h"
#include "streams/NXMouseOperations.h"

// Fontconfig keeps its configuration for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// The package's palette table (NX_PACKAGE_PALETTE).
extern "C" const nx::TNXPackagePalette* nx_package_palette();

namespace nxtest {
namespace {
using namespace nx;
using namespace nx::examples;
namespace fs = std::filesystem;

template <class T>
using TOwned = nx::test::TComponentPtr<T>;

template <class T>
TOwned<T> Make() { return TOwned<T>(new T(nullptr)); }

// Records what arrives (deliveries may come from clock threads).
using TRecorder = nx::test::TRecordingSink<TNXFTRealSinkPin>;

// Feeds a stream into a pin from the test's thread.
class TFeeder {
 public:
  ~TFeeder() { FPin.DisconnectAll(); }
  TNXFTRealSourcePin& Pin() { return FPin; }
  void Start(double ARate) { FPin.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  void Stop() { FPin.Stop(); }
  // Sends ASamples in buffers of the given sizes in turn (the last size repeats).
  void Send(const std::vector<double>& ASamples, const std::vector<std::int32_t>& ASizes) {
    std::size_t at = 0, k = 0;
    while (at < ASamples.size()) {
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(ASizes[std::min(k, ASizes.size() - 1)]),
                                                  ASamples.size() - at);
      FPin.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeData(ASamples.data() + at, std::uint32_t(n))));
      at += n;
      ++k;
    }
  }

 private:
  TNXFTRealSourcePin FPin{"Feeder"};
};

// A reproducible uniform sequence in [-1, 1).
std::vector<double> Noise(std::size_t ACount, std::uint64_t ASeed) {
  std::vector<double> out(ACount);
  std::uint64_t s = ASeed * 6364136223846793005ull + 1442695040888963407ull;
  for (double& v : out) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    v = double(s >> 11) / double(1ull << 52) - 1;
  }
  return out;
}

// A fresh folder under the test output folder.
std::string OutputFolder(const std::string& AName) {
  const char* base = std::getenv("NX_TEST_OUTPUT_DIR");
  const std::filesystem::path dir = std::filesystem::path(base ? base : "/tmp") / "packages" / AName;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::string ReadFileBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs AGen for ABuffers external clock ticks (or until it stops) into ARecorder.
template <class TGen>
TRecorder& RunClocked(TGen& AGen, TRecorder& ARecorder, std::int32_t ABuffers) {
  TFTClockSourcePin clock("Clock");
  AGen.SetClockSource(csExternal);
  EXPECT_TRUE(clock.Connect(&AGen.ClockInputPin()));
  EXPECT_TRUE(AGen.OutputPin().Connect(&ARecorder.Pin));
  AGen.Start();
  for (std::int32_t i = 0; i < ABuffers && ARecorder.CountOf("TFTStopOperation") == 0; ++i) clock.Clock(1);
  AGen.Stop();
  clock.DisconnectAll();
  AGen.OutputPin().DisconnectAll();
  return ARecorder;
}

double SineAt(double AFreq, double ARate, double AAmp, double APhase, std::int64_t AIndex) {
  const long double cycles = static_cast<long double>(AFreq) * AIndex / ARate + APhase / 360.0L;
  return AAmp * static_cast<double>(std::sin(2 * std::numbers::pi_v<long double> * (cycles - std::floor(cycles))));
}

// A class without an entry would stand under "Other" on the designer's palette.
TEST(ExamplePalette, EveryClassHasACategoryAndALineAboutIt) {
  const TNXPackagePalette* palette = nx_package_palette();
  ASSERT_NE(palette, nullptr);
  for (const TClassInfo* c : PackageClasses()) {
    const auto* end = palette->Entries + palette->Count;
    const auto* entry = std::find_if(palette->Entries, end, [&](const TNXPaletteEntry& e) { return &e.Class() == c; });
    ASSERT_NE(entry, end) << c->Name();
    EXPECT_TRUE(*entry->Category && *entry->Description && !std::strchr(entry->Description, '\n')) << c->Name();
  }
  EXPECT_EQ(palette->Count, PackageClasses().size());
}

TEST(SineGenerator, MatchesTheExactSineOverEveryBuffer) {
  struct TRow { double Rate, Frequency, Amplitude, Phase; std::int32_t BufferSize, Buffers; };
  const TRow rows[] = {
      {48000, 997.3, 0.5, 90, 1000, 50},  // buffers that cut cycles anywhere
      {8000, 0.1, 1, 45, 1, 500},         // one sample per buffer
      {1000, -250, 1, 0, 257, 20},        // a negative frequency runs backwards
      {44100, 3000, 0.7, 0, 13, 300},     // buffers that end inside a run of the tables
      // a long run: 60 s at 48 kHz in 4,096-sample buffers, no drift
      {48000, 1234.5678, 1, 10, 4096, 704}
  };
  for (const TRow& row : rows) {
    auto gen = Make<TNXSineGenerator>();
    gen->SetSampleRate(row.Rate);
    gen->SetBufferSize(row.BufferSize);
    gen->SetFrequency(row.Frequency);
    gen->SetAmplitude(row.Amplitude);
    gen->SetPhase(row.Phase);
    TRecorder rec;
    const std::vector<double> got = RunClocked(*gen, rec, row.Buffers).AllSamples();
    ASSERT_EQ(got.size(), static_cast<std::size_t>(row.BufferSize) * row.Buffers);
    EXPECT_EQ(rec.Rates(), std::vector<double>{row.Rate});
    double worst = 0;
    for (std::size_t n = 0; n < got.size(); ++n)
      worst = std::max(worst, std::abs(got[n] - SineAt(row.Frequency, row.Rate, row.Amplitude, row.Phase, n)));
    EXPECT_LT(worst, 1e-12 * std::max(1.0, row.Amplitude));
  }
}

TEST(NoiseGenerator, SeededSequenceWithTheRightStatistics) {
  // Mean and Deviation: the expected statistics.
  struct TRow { TNXNoiseDistribution Distribution; double Amplitude; std::uint32_t Seed; double Mean, Deviation; };
  const TRow rows[] = {
      {ndGaussian, 0.25, 77, 0, 0.25},
      {ndUniform, 3.0, 0, 0, 3 / std::sqrt(3.0)}
  };
  for (const TRow& row : rows) {
    auto gen = Make<TNXNoiseGenerator>();
    gen->SetDistribution(row.Distribution);
    gen->SetAmplitude(row.Amplitude);
    gen->SetSeed(row.Seed);
    gen->SetBufferSize(1000);
    TRecorder first, second;
    const std::vector<double> a = RunClocked(*gen, first, 200).AllSamples();
    // A new stream restarts the sequence whatever the buffer sizes (odd ones split Gaussian pairs).
    gen->SetBufferSize(7);
    const std::vector<double> b = RunClocked(*gen, second, 1000).AllSamples();
    ASSERT_EQ(a.size(), 200000u);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), a.begin()));
    const double mean = std::accumulate(a.begin(), a.end(), 0.0) / a.size();
    const double squares = std::inner_product(a.begin(), a.end(), a.begin(), 0.0);
    const double deviation = std::sqrt(squares / a.size() - mean * mean);
    double peak = 0;
    for (double v : a) peak = std::max(peak, std::abs(v));
    EXPECT_NEAR(mean, row.Mean, 0.01 * row.Amplitude);
    EXPECT_NEAR(deviation, row.Deviation, 0.01 * row.Deviation);
    if (row.Distribution == ndUniform) EXPECT_LE(peak, row.Amplitude);
    else EXPECT_GT(peak, 3.5 * row.Amplitude);  // Gaussian tails reach past 3.5 sigma in 200,000 samples
  }
}

// A stereo file of 2,500 frames at 22,050 Hz: left = frame / 4096, right = -left / 2.
const std::string& StereoFile() {
  static const std::string name = [] {
    const std::string file = OutputFolder("sources") + "/example_sources_stereo.wav";
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
    SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<double> frames(5000);
    for (int i = 0; i < 5000; ++i) frames[i] = i % 2 ? -(i / 2) / 8192.0 : (i / 2) / 4096.0;
    sf_writef_double(f, frames.data(), 2500);
    sf_close(f);
    return file;
  }();
  return name;
}

TEST(WavePlayer, PlaysTheChannelAtTheFilesRate) {
  // Sizes: the buffers expected; Scale: that of the left channel.
  struct TRow { std::int32_t Channel; bool Loop;
                std::int32_t BufferSize, Ticks; std::vector<std::size_t> Sizes; double Scale; };
  const TRow rows[] = {
      {0, false, 1000, 10, {1000, 1000, 500}, 1.0},   // stops by itself, last buffer short
      {1, false, 2500, 10, {2500}, -0.5},              // the end of the file in one buffer
      {-1, false, 1024, 10, {1024, 1024, 452}, 0.25},  // the mean of both channels
      {0, true, 1000, 6, {1000, 1000, 1000, 1000, 1000, 1000}, 1.0}  // wraps around
  };
  for (const TRow& row : rows) {
    auto gen = Make<TNXWavePlayer>();
    gen->SetFileName(StereoFile());
    gen->SetChannel(row.Channel);
    gen->SetLoop(row.Loop);
    gen->SetBufferSize(row.BufferSize);
    TRecorder rec;
    RunClocked(*gen, rec, row.Ticks);
    EXPECT_EQ(rec.Rates(), std::vector<double>{22050});
    std::vector<std::size_t> sizes;
    for (const auto& b : rec.Samples()) sizes.push_back(b.size());
    EXPECT_EQ(sizes, row.Sizes);
    const std::vector<double> got = rec.AllSamples();
    for (std::size_t n = 0; n < got.size(); ++n) ASSERT_EQ(got[n], row.Scale * (n % 2500) / 4096.0) << n;
    EXPECT_GT(rec.CountOf("TFTStopOperation"), 0);
  }
}

TEST(WavePlayerErrors, NameTheFile) {
  for (const auto& [file, channel, expected] : std::vector<std::tuple<std::string, int, std::string>>{
           {"no_such_file.wav", 0, "no_such_file.wav"},
           {StereoFile(), 2, "example_sources_stereo.wav\" has 2 channel(s)"}}) {
    auto gen = Make<TNXWavePlayer>();
    gen->SetFileName(file);
    gen->SetChannel(channel);
    TRecorder rec;
    ASSERT_TRUE(gen->OutputPin().Connect(&rec.Pin));
    const std::string message = MessageOf<EFOpenError>([&] { gen->Start(); });
    EXPECT_NE(message.find(expected), std::string::npos) << message;
    EXPECT_FALSE(gen->IsRunning());
  }
}

TEST(WavePlayerPrepare, FindsTheFileBesideTheDocumentAndPlaysIt) {
  auto gen = Make<TNXWavePlayer>();
  gen->SetFileName(std::filesystem::path(StereoFile()).filename().string());
  nx::flow::TFlowRunContext context;
  context.DocumentDir = std::filesystem::path(StereoFile()).parent_path().string();
  gen->FlowPrepare(context);
  EXPECT_TRUE(gen->IsOpen());
  EXPECT_EQ(gen->GetSampleRateValue(), 22050);
  EXPECT_EQ(gen->FileFrames(), 2500);
  context.DocumentDir = "/nonexistent-dir";
  const std::string message = MessageOf<EFOpenError>([&] { gen->FlowPrepare(context); });
  EXPECT_NE(message.find("/nonexistent-dir/example_sources_stereo.wav"), std::string::npos) << message;
}

// A feeder -> a filter -> a recorder (the output linked unless ALinked is false).
template <class TFilter>
struct TPiped {
  TFeeder Feed;
  TRecorder Sink;
  TFilter& Filter;
  explicit TPiped(TFilter& AFilter, bool ALinked = true) : Filter(AFilter) {
    EXPECT_TRUE(Feed.Pin().Connect(Filter.InputPin()));
    if (ALinked) {
      EXPECT_TRUE(Filter.OutputPin()->Connect(&Sink.Pin));
    }
  }
  ~TPiped() { Filter.OutputPin()->DisconnectAll(); }
};

// Feeds ASignal through AFilter at ARate in buffers of ASizes; what came out.
template <class TFilter>
std::vector<double> Filtered(TFilter& AFilter, const std::vector<double>& ASignal,
                             const std::vector<std::int32_t>& ASizes, double ARate = 48000) {
  TPiped<TFilter> pipe(AFilter);
  pipe.Feed.Start(ARate);
  pipe.Feed.Send(ASignal, ASizes);
  return pipe.Sink.AllSamples();
}

// y[n] = sum h[k] x[n - k], the inputs before the first taken as 0.
std::vector<double> Convolve(const std::vector<double>& AH, const std::vector<double>& AX) {
  std::vector<double> y(AX.size(), 0.0);
  for (std::size_t n = 0; n < AX.size(); ++n)
    for (std::size_t k = 0; k < AH.size() && k <= n; ++k) y[n] += AH[k] * AX[n - k];
  return y;
}

double WorstDifference(const std::vector<double>& A, const std::vector<double>& B) {
  EXPECT_EQ(A.size(), B.size());
  double worst = 0;
  for (std::size_t i = 0; i < std::min(A.size(), B.size()); ++i) worst = std::max(worst, std::abs(A[i] - B[i]));
  return worst;
}

// Buffers shorter and longer than the taps, and long enough for the primitive's transform path.
const std::vector<std::int32_t> kMixedSizes{1, 17, 64, 1000, 3, 513, 2048, 100};

TEST(Gain, MultipliesEverySample) {
  const std::vector<double> x = Noise(3000, 5);
  for (const auto& [g, sizes] : std::vector<std::pair<double, std::vector<std::int32_t>>>{
           {1.0, {1024}}, {-2.0, {1, 7, 333}}}) {
    auto gain = Make<TNXGain>();
    gain->SetGain(g);
    const std::vector<double> y = Filtered(*gain, x, sizes);
    ASSERT_EQ(y.size(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y[i], x[i] * g) << i;
  }
  // With a second receiver of each buffer, and on a worker thread, the gain
  // writes a block of its own: the other receiver keeps the input samples.
  for (const bool threaded : {false, true}) {
    auto gain = Make<TNXGain>();
    gain->SetGain(3.0);
    gain->Threading()->SetEnabled(threaded);
    TPiped<TNXGain> pipe(*gain);
    TRecorder other;
    ASSERT_TRUE(pipe.Feed.Pin().Connect(&other.Pin));
    pipe.Feed.Start(48000);
    pipe.Feed.Send(x, {1000, 7});
    ASSERT_TRUE(pipe.Sink.WaitBuffers(1 + (x.size() - 1000 + 6) / 7)) << threaded;  // 1,000 then sevens
    pipe.Feed.Stop();
    const std::vector<double> y = pipe.Sink.AllSamples();
    ASSERT_EQ(y.size(), x.size()) << threaded;
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y[i], x[i] * 3.0) << i << " threaded " << threaded;
    EXPECT_EQ(other.AllSamples(), x) << threaded;
  }
}

// Sets the design settings the FIR and IIR filters share, then sends noise through: the input and what came out.
std::pair<std::vector<double>, std::vector<double>> DesignAndFilter(TNXDesignedFilterBase& AFilter,
                                                                    TNXDesignFilterType AType, std::int32_t AOrder,
                                                                    double ALow, double AHigh) {
  AFilter.SetFilterType(AType);
  AFilter.SetOrder(AOrder);
  AFilter.SetLowFrequency(ALow);
  AFilter.SetHighFrequency(AHigh);
  std::vector<double> x = Noise(6000, 5);
  std::vector<double> y = Filtered(AFilter, x, kMixedSizes);
  return {std::move(x), std::move(y)};
}

TEST(FirFilterChange, ARedesignWhileRunningContinuesFromTheRealInputs) {
  auto fir = Make<TNXFirFilter>();
  TPiped<TNXFirFilter> pipe(*fir);
  const std::vector<double> x = Noise(4000, 5);
  pipe.Feed.Start(48000);
  pipe.Feed.Send(std::vector<double>(x.begin(), x.begin() + 2000), {500});
  const std::vector<double> oldTaps = fir->Taps();
  fir->SetLowFrequency(3000);  // the same tap count, new taps
  const std::vector<double> newTaps = fir->Taps();
  ASSERT_EQ(newTaps.size(), oldTaps.size());
  pipe.Feed.Send(std::vector<double>(x.begin() + 2000, x.end()), {500});
  const std::vector<double> y = pipe.Sink.AllSamples(), before = Convolve(oldTaps, x), after = Convolve(newTaps, x);
  ASSERT_EQ(y.size(), x.size());
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(y[n], n < 2000 ? before[n] : after[n], 1e-12) << n;
}

TEST(FirFilter, EqualsOneLongConvolutionAcrossBuffers) {
  // MinStopbandDb: what the window's design achieves.
  struct TRow { TNXDesignFilterType Type; std::int32_t Order; double Low, High;
                TNXWindowType Window; std::size_t Taps; double MinStopbandDb; };
  const TRow rows[] = {
      {fdftLowPass, 64, 4000, 1000, wtHamming, 65, 45},  // the high corner is not used
      {fdftHighPass, 100, 6000, 0, wtHanning, 101, 40},
      {fdftBandPass, 128, 1000, 4000, wtHamming, 129, 45},
      {fdftBandStop, 63, 3000, 9000, wtKaiser, 63, 50}  // odd orders keep an odd tap count
  };
  for (const TRow& row : rows) {
    auto fir = Make<TNXFirFilter>();
    fir->SetWindow(row.Window);
    const auto [x, y] = DesignAndFilter(*fir, row.Type, row.Order, row.Low, row.High);
    const std::vector<double> taps = fir->Taps();
    ASSERT_EQ(taps.size(), row.Taps);
    EXPECT_EQ(taps, fir->Design(48000)->GetTaps());
    EXPECT_LT(WorstDifference(y, Convolve(taps, x)), 1e-12);
    const TNXFilterReport report = fir->DesignReport(48000);
    EXPECT_GE(report.StopbandAttenuationDb, row.MinStopbandDb);
    EXPECT_NEAR(report.PassbandPeak, 1.0, 0.1);
  }
}

TEST(IirFilter, EqualsOneLongRunOfTheCascade) {
  // Probe and ProbeGainDb: a frequency and its gain (+-0.6 dB; below -20 dB: at most).
  struct TRow { TNXDesignFilterType Type; TNXIIRFilterType Prototype;
                std::int32_t Order; double Low, High; double Probe, ProbeGainDb; };
  const TRow rows[] = {
      {fdftBandPass, iirButterworth, 4, 1000, 4000, 2000, 0},
      {fdftBandPass, iirButterworth, 8, 1000, 4000, 1000, -3},  // the corner
      {fdftLowPass, iirChebyshev, 5, 2000, 0, 20000, -100},
      {fdftHighPass, iirBessel, 2, 5000, 0, 20000, 0},
      {fdftBandStop, iirButterworth, 6, 2000, 6000, 3500, -80}
  };
  for (const TRow& row : rows) {
    auto iir = Make<TNXIirFilter>();
    iir->SetPrototype(row.Prototype);
    const auto [x, y] = DesignAndFilter(*iir, row.Type, row.Order, row.Low, row.High);
    const std::vector<double> taps = iir->Taps();
    ASSERT_FALSE(taps.empty());
    ASSERT_EQ(taps.size() % 6, 0u);
    IppsIIRState_64f* state = nullptr;
    ASSERT_EQ(ippsIIRInitAlloc_BiQuad_64f(&state, taps.data(), static_cast<int>(taps.size() / 6), nullptr), ippStsNoErr);
    std::vector<double> want(x.size());
    ippsIIR_64f(x.data(), want.data(), static_cast<int>(x.size()), state);
    ippsIIRFree_64f(state);
    EXPECT_LT(WorstDifference(y, want), 1e-12);
    const TIntfPtr<TNXFilterInfo> design = iir->Design(48000);
    EXPECT_TRUE(design->PolesInsideUnitCircle());
    const double gain = 20 * std::log10(std::abs(design->Evaluate(row.Probe / 48000)));
    if (row.ProbeGainDb < -20)
      EXPECT_LT(gain, row.ProbeGainDb);
    else
      EXPECT_NEAR(gain, row.ProbeGainDb, 0.6);
  }
}

// An FIR or an IIR filter, named "F".
TOwned<TNXDesignedFilterBase> MakeDesigned(bool AIir, TNXDesignFilterType AType, double ALow, double AHigh) {
  TOwned<TNXDesignedFilterBase> filter(AIir ? static_cast<TNXDesignedFilterBase*>(new TNXIirFilter(nullptr))
                                            : new TNXFirFilter(nullptr));
  filter->SetName("F");
  filter->SetFilterType(AType);
  filter->SetLowFrequency(ALow);
  filter->SetHighFrequency(AHigh);
  return filter;
}

// A corner the stream's rate cannot carry is refused when the rate arrives:
// the fault names the filter, the corner and the rate, nothing is sent, and
// the next stream at a rate that carries the corners clears it.
TEST(DesignedFilterFault, ACornerAtOrAboveHalfTheRateStopsTheFilterUntilARateThatCarriesIt) {
  struct TRow { bool Iir; TNXDesignFilterType Type; double Low, High, Rate; std::string Fault; };
  const TRow rows[] = {
      {false, fdftLowPass, 30000, 1000, 48000, "F: corner 30000 Hz is at or above half the sample rate (48000 Hz)"},
      {false, fdftHighPass, 24000, 0, 48000, "F: corner 24000 Hz is at or above half the sample rate (48000 Hz)"},
      {false, fdftBandPass, 5000, 30000, 48000,
       "F: high corner 30000 Hz is at or above half the sample rate (48000 Hz)"},
      {true, fdftLowPass, 30000, 0, 48000, "F: corner 30000 Hz is at or above half the sample rate (48000 Hz)"},
      {true, fdftBandStop, 2000, 22050, 44100,
       "F: high corner 22050 Hz is at or above half the sample rate (44100 Hz)"},
      // the rate carries these: a corner just below half of it, a high corner a low-pass does not use
      {false, fdftLowPass, 23900, 30000, 48000, ""},
      {true, fdftHighPass, 23000, 0, 48000, ""},
  };
  const std::vector<double> x = Noise(3000, 9);
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Fault);
    auto filter = MakeDesigned(row.Iir, row.Type, row.Low, row.High);
    TPiped<TNXDesignedFilterBase> pipe(*filter);
    pipe.Feed.Start(row.Rate);
    pipe.Feed.Send(x, {1000});
    pipe.Feed.Stop();
    EXPECT_EQ(filter->FlowFault(), row.Fault);
    const std::vector<double> y = pipe.Sink.AllSamples();
    if (row.Fault.empty()) {
      ASSERT_EQ(y.size(), x.size());
      EXPECT_TRUE(std::ranges::all_of(y, [](double v) { return std::isfinite(v); }));
      continue;
    }
    EXPECT_EQ(pipe.Sink.Buffers().size(), 0u);
    flow::TFlowNodeReport report;
    filter->FlowFinish({}, report);
    EXPECT_EQ(report.Summary, row.Fault);
    pipe.Feed.Start(192000);
    pipe.Feed.Send(x, {1000});
    EXPECT_EQ(filter->FlowFault(), "");
    EXPECT_EQ(pipe.Sink.AllSamples().size(), x.size());
  }
}

// Settings wrong at every rate are refused when the run is prepared (the host
// names the component there), and at a stream start.
TEST(DesignedFilterFault, SettingsWrongAtEveryRateAreRefusedWhenTheRunIsPrepared) {
  struct TRow { bool Iir; TNXDesignFilterType Type; std::int32_t Order; double Low, High; std::string Fault;
                TNXIIRFilterType Prototype = iirButterworth; };
  const TRow rows[] = {
      {false, fdftBandPass, 64, 9000, 5000, "low corner 9000 Hz is not below the high corner 5000 Hz"},
      {true, fdftBandStop, 4, 3000, 3000, "low corner 3000 Hz is not below the high corner 3000 Hz"},
      {false, fdftLowPass, 64, -100, 0, "corner -100 Hz is not above 0 Hz"},
      {true, fdftBandPass, 4, 0, 4000, "low corner 0 Hz is not above 0 Hz"},
      {false, fdftHighPass, 64, std::nan(""), 0, "corner nan Hz is not above 0 Hz"},
      {true, fdftLowPass, 11, 1000, 0, "order 11 is above 10, the highest Bessel order", iirBessel},
      {false, fdftLowPass, 64, 4000, 1000, ""},  // a low-pass does not use the high corner
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Fault);
    auto filter = MakeDesigned(row.Iir, row.Type, row.Low, row.High);
    filter->SetOrder(row.Order);
    if (auto* iir = dynamic_cast<TNXIirFilter*>(filter.get())) iir->SetPrototype(row.Prototype);
    EXPECT_EQ(MessageOf<nx::Exception>([&] { filter->FlowPrepare({}); }), row.Fault);
    TPiped<TNXDesignedFilterBase> pipe(*filter);
    pipe.Feed.Start(48000);
    pipe.Feed.Send(Noise(500, 3), {500});
    EXPECT_EQ(filter->FlowFault(), row.Fault.empty() ? "" : "F: " + row.Fault);
    EXPECT_EQ(pipe.Sink.Buffers().size(), row.Fault.empty() ? 1u : 0u);
  }
}

// An odd order is designed as asked: far into a stop band the gain falls by
// 6 dB an octave for each order, and the closing line gives the order.
TEST(IirFilterOrder, OddOrdersAreDesignedAsAsked) {
  // The slope is measured between Near and Far (an octave apart, far from the corners).
  struct TRow { TNXDesignFilterType Type; TNXIIRFilterType Prototype; std::int32_t Order;
                double Low, High, Near, Far; std::size_t Sections; };
  const TRow rows[] = {
      {fdftLowPass, iirButterworth, 3, 100, 0, 1600, 3200, 2},
      {fdftHighPass, iirButterworth, 3, 8000, 0, 500, 250, 2},
      {fdftLowPass, iirChebyshev, 3, 100, 0, 1600, 3200, 2},
      {fdftHighPass, iirChebyshev, 3, 8000, 0, 500, 250, 2},
      {fdftLowPass, iirBessel, 5, 100, 0, 1600, 3200, 3},
      {fdftHighPass, iirButterworth, 1, 8000, 0, 500, 250, 1},
      {fdftBandPass, iirButterworth, 3, 2000, 4000, 125, 62.5, 3},  // twice the poles
      {fdftLowPass, iirButterworth, 4, 100, 0, 1600, 3200, 2},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << "type " << row.Type << " prototype " << row.Prototype << " order "
                                      << row.Order);
    auto iir = Make<TNXIirFilter>();
    iir->SetPrototype(row.Prototype);
    DesignAndFilter(*iir, row.Type, row.Order, row.Low, row.High);
    EXPECT_EQ(iir->Taps().size(), 6 * row.Sections);
    const TIntfPtr<TNXFilterInfo> design = iir->Design(48000);
    EXPECT_TRUE(design->PolesInsideUnitCircle());
    const double slope = 20 * std::log10(std::abs(design->Evaluate(row.Near / 48000)) /
                                         std::abs(design->Evaluate(row.Far / 48000)));
    EXPECT_NEAR(slope, 6.02 * row.Order, 1.0);
    flow::TFlowNodeReport report;
    iir->FlowFinish({}, report);
    const std::string order = "order " + std::to_string(row.Order) + ", ";
    EXPECT_EQ(report.Summary.rfind(order, 0), 0u) << report.Summary;
  }
}

TEST(Mixer, SumsItsInputsTimesGain) {
  auto mixer = Make<TNXMixer>();
  SetPropText(*mixer, "InputCount", "3");
  mixer->SetGain(0.5);
  TRecorder rec;
  ASSERT_TRUE(mixer->OutputPin().Connect(&rec.Pin));
  TFeeder feeders[3];
  std::vector<std::vector<double>> inputs;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(feeders[i].Pin().Connect(static_cast<TFTSinkPin*>(mixer->GetInputPin(i))));
    inputs.push_back(Noise(2048, 10 + i));
  }
  for (auto& f : feeders) f.Start(48000);
  for (int k = 0; k < 8; ++k)
    for (int i = 0; i < 3; ++i)
      feeders[i].Send(std::vector<double>(inputs[i].begin() + k * 256, inputs[i].begin() + (k + 1) * 256), {256});
  for (auto& f : feeders) f.Stop();
  mixer->OutputPin().DisconnectAll();
  const std::vector<double> y = rec.AllSamples();
  ASSERT_EQ(y.size(), 2048u);
  for (std::size_t n = 0; n < y.size(); ++n) ASSERT_EQ(y[n], (inputs[0][n] + inputs[1][n] + inputs[2][n]) * 0.5) << n;
  EXPECT_EQ(rec.Rates(), std::vector<double>{48000});
  // Pins are named by position; an input count under one keeps one input.
  auto fresh = Make<TNXMixer>();
  for (const auto& [count, pins] : std::vector<std::pair<std::int32_t, std::vector<std::string>>>{
           {3, {"InputPin1", "InputPin2", "InputPin3", "OutputPin"}}, {0, {"InputPin1", "OutputPin"}}}) {
    fresh->SetInputCountProp(count);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < fresh->GetPinCount(); ++i) names.push_back(fresh->GetPin(i)->GetName());
    EXPECT_EQ(names, pins);
  }
}

TEST(LevelDetector, SendsEachBuffersRmsAndReportsTheRun) {
  // Signal: "sine" (full scale), "half" (a square of 0.5), "silence".
  struct TRow { std::string Signal; bool Linked; std::string Summary; };
  const TRow rows[] = {
      {"sine", true, "peak 0.00 dBFS, rms -3.01 dBFS"},
      {"half", false, "peak -6.02 dBFS, rms -6.02 dBFS"},
      {"silence", true, "peak -inf dBFS, rms -inf dBFS"}
  };
  for (const TRow& row : rows) {
    std::vector<double> x(4800);
    for (std::size_t n = 0; n < x.size(); ++n)
      x[n] = row.Signal == "sine"   ? std::sin(2 * std::numbers::pi * 1000 * n / 48000.0)
             : row.Signal == "half" ? (n % 2 ? 0.5 : -0.5)
                                    : 0.0;
    auto level = Make<TNXLevelDetector>();
    TPiped<TNXLevelDetector> pipe(*level, row.Linked);
    pipe.Feed.Start(48000);
    pipe.Feed.Send(x, {480});
    pipe.Feed.Stop();
    if (row.Linked) {
      const auto buffers = pipe.Sink.Samples();
      ASSERT_EQ(buffers.size(), 10u);
      for (std::size_t k = 0; k < buffers.size(); ++k) {
        ASSERT_EQ(buffers[k].size(), 1u);
        double sum = 0;
        for (std::size_t i = 0; i < 480; ++i) sum += x[k * 480 + i] * x[k * 480 + i];
        EXPECT_NEAR(buffers[k][0], std::sqrt(sum / 480), 1e-12);
      }
    }
    nx::flow::TFlowNodeReport report;
    level->FlowFinish({}, report);
    EXPECT_EQ(report.Summary, row.Summary);
    EXPECT_EQ(report.Samples, 4800);
  }
}

// The root of a graph in the tests.
class TExampleGroup : public TComponent {
  NX_PERSISTENT(TExampleGroup, TComponent)
 public:
  explicit TExampleGroup(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
};

// sine, noise -> mixer (middle input free) -> fir -> iir -> gain -> level; started by the test.
struct TGraphSetting { const char *Component, *Property, *Value; };
const TGraphSetting kGraphSettings[] = {
    {"Sine", "Frequency", "440.5"}, {"Sine", "SampleRate", "48000"},  {"Sine", "Enabled", "False"},
    {"Noise", "Seed", "9"},         {"Noise", "Distribution", "ndUniform"}, {"Noise", "SampleRate", "48000"},
    {"Noise", "Enabled", "False"},  {"Mixer", "InputCount", "3"},     {"Mixer", "Gain", "0.25"},
    {"Fir", "Order", "100"},        {"Fir", "FilterType", "fdftBandPass"},  {"Fir", "Window", "wtBlackman"},
    {"Iir", "Prototype", "iirChebyshev"}, {"Iir", "Order", "6"},      {"Gain", "Gain", "2"},
};

template <class T>
T* Find(TComponent* ARoot, const char* AName) {
  return dynamic_cast<T*>(ARoot->FindComponent(AName));
}

TComponent* MakeGraph() {
  auto* root = new TExampleGroup(nullptr);
  root->SetName("Graph");
  for (const auto& [name, cls] : {std::pair{"Sine", "TNXSineGenerator"}, {"Noise", "TNXNoiseGenerator"},
                                  {"Mixer", "TNXMixer"}, {"Fir", "TNXFirFilter"}, {"Iir", "TNXIirFilter"},
                                  {"Gain", "TNXGain"}, {"Level", "TNXLevelDetector"}})
    dynamic_cast<TComponent*>(CreateObject(cls, root))->SetName(name);
  for (const TGraphSetting& s : kGraphSettings) SetPropText(*root->FindComponent(s.Component), s.Property, s.Value);
  auto* mixer = Find<TNXMixer>(root, "Mixer");
  EXPECT_TRUE(Find<TNXSineGenerator>(root, "Sine")->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer->GetInputPin(0))));
  EXPECT_TRUE(Find<TNXNoiseGenerator>(root, "Noise")->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer->GetInputPin(2))));
  EXPECT_TRUE(mixer->OutputPin().Connect(Find<TNXFirFilter>(root, "Fir")->InputPin()));
  EXPECT_TRUE(Find<TNXFirFilter>(root, "Fir")->OutputPin()->Connect(Find<TNXIirFilter>(root, "Iir")->InputPin()));
  EXPECT_TRUE(Find<TNXIirFilter>(root, "Iir")->OutputPin()->Connect(Find<TNXGain>(root, "Gain")->InputPin()));
  EXPECT_TRUE(Find<TNXGain>(root, "Gain")->OutputPin()->Connect(Find<TNXLevelDetector>(root, "Level")->InputPin()));
  return root;
}

// Saved again, the loaded graph gives the same text; it runs with both generators started at once.
TEST(ExampleGraphDocument, SavedGraphLoadsWithItsSettingsAndLinksAndRuns) {
  // Linked in, not loaded as a package: its classes are registered here.
  RegisterClasses(PackageClasses());
  RegisterClass(TExampleGroup::StaticClassInfo());
  TComponent* made = MakeGraph();
  const std::string text = TNXGraphDocument::SaveToString(*made);
  TComponent::Free(made);
  TExampleGroup designer(nullptr);
  designer.SetDesigning(true);  // nothing starts while the graph is read
  TComponent* root = TNXGraphDocument::LoadFromString(text, &designer);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(TNXGraphDocument::SaveToString(*root), text);
  for (const TGraphSetting& s : kGraphSettings)
    EXPECT_EQ(GetPropText(*root->FindComponent(s.Component), s.Property), s.Value) << s.Component;
  auto* sine = Find<TNXSineGenerator>(root, "Sine");
  auto* noise = Find<TNXNoiseGenerator>(root, "Noise");
  auto* fir = Find<TNXFirFilter>(root, "Fir");
  auto* level = Find<TNXLevelDetector>(root, "Level");
  {
    TNXVirtualClockGuard virtualTime;
    root->SetDesigning(false);
    std::thread other([&] { noise->Start(); });
    sine->Start();
    other.join();
    for (int i = 0; i < 6000 && level->Buffers() < 50; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sine->Stop();
    noise->Stop();
  }
  EXPECT_GE(level->Buffers(), 50);
  EXPECT_EQ(fir->Taps().size(), 101u);
  EXPECT_GT(level->Peak(), 0.01);
  nx::flow::TFlowNodeReport report;
  fir->FlowFinish({}, report);
  EXPECT_EQ(report.Summary.rfind("101 taps, stopband ", 0), 0u) << report.Summary;
  {
    // With the host's writers the line is measured beside the caller and there once they are waited for.
    nx::flow::TFlowNodeReport later;
    TNXOutputWriters writers;
    fir->FlowFinish({}, later);
    EXPECT_TRUE(writers.Wait().empty());
    EXPECT_EQ(later.Summary, report.Summary);
  }
  TComponent::Free(root);
  UnregisterClass(TExampleGroup::StaticClassInfo());
}

// A feeder -> a spectrum of its own -> a recorder.
struct TChain {
  TOwned<TNXSpectrum> Spectrum{new TNXSpectrum()};
  TPiped<TNXSpectrum> Pipe{*Spectrum};
  TFeeder& Feed = Pipe.Feed;
  TRecorder& Sink = Pipe.Sink;
  explicit TChain(std::int32_t AOrder, TNXWindowType AWindow = wtHanning, bool ADecibels = true) {
    Spectrum->SetOrder(AOrder);
    Spectrum->SetWindow(AWindow);
    Spectrum->SetDecibels(ADecibels);
  }
};

std::vector<double> Sine(std::size_t ACount, double ACyclesPerSample, double AAmplitude) {
  std::vector<double> x(ACount);
  for (std::size_t i = 0; i < ACount; ++i)
    x[i] = AAmplitude * std::sin(2 * std::numbers::pi * ACyclesPerSample * double(i) + 0.3);
  return x;
}

// With fnNormalize a sine of amplitude A reads 20 log10 A at its bin whatever the window.
TEST(SpectrumSine, ReadsItsAmplitudeAtItsBin) {
  // PeakBin and PeakDb: where the strongest bin must be, and its level.
  struct TRow { const char* Name; std::int32_t Order; TNXWindowType Window; std::int32_t Bin;
                double Amplitude; std::int32_t BufferSize; std::int32_t PeakBin; double PeakDb; };
  const TRow rows[] = {
      {"HannFullScale", 10, wtHanning, 64, 1.0, 1000, 64, 0.0},
      {"RectHalfScaleBigBuffers", 8, wtRect, 10, 0.5, 4096, 10, -6.0206},
      {"BlackmanSmallFrames", 6, wtBlackman, 9, 1.0, 7, 9, 0.0},
      {"BartlettOneSampleBuffers", 7, wtBartlett, 20, 0.25, 1, 20, -12.0412},
      {"Silence", 8, wtHanning, 10, 0.0, 100, 0, -300.0}
  };
  for (const TRow& c : rows) {
    SCOPED_TRACE(c.Name);
    TChain chain(c.Order, c.Window);
    const std::size_t n = std::size_t(1) << c.Order;
    const double rate = 48000;
    chain.Spectrum->FlowPrepare({});
    chain.Feed.Start(rate);
    chain.Feed.Send(Sine(3 * n + n / 3, double(c.Bin) / double(n), c.Amplitude), {c.BufferSize});
    chain.Feed.Stop();
    ASSERT_EQ(chain.Sink.Count(), 3u);
    ASSERT_EQ(chain.Sink.Rates(), std::vector<double>{rate});
    EXPECT_EQ(chain.Sink.CountOf("TFTStartSpectrumOperation"), 1);
    for (const std::vector<double>& s : chain.Sink.Samples()) {
      ASSERT_EQ(s.size(), n / 2 + 1);
      const auto peak = std::max_element(s.begin(), s.end());
      EXPECT_EQ(peak - s.begin(), c.PeakBin);
      EXPECT_NEAR(*peak, c.PeakDb, 0.02);
    }
    flow::TFlowNodeReport report;
    chain.Spectrum->FlowFinish({}, report);
    EXPECT_EQ(report.Samples, std::int64_t(3 * n + n / 3));
    EXPECT_EQ(chain.Spectrum->Frames(), 3);
    EXPECT_NE(report.Summary.find(Format("at %.6g Hz", rate * c.PeakBin / double(n))), std::string::npos)
        << report.Summary;
  }
}

// With fnNormalizeSqrt the bins sum to sum (x w)^2 / sum w^2; the spectrum and its view answer their pins.
TEST(SpectrumPower, BinsSumToTheWindowedMeanSquare) {
  const std::int32_t order = 9;
  const std::size_t n = std::size_t(1) << order;
  TChain chain(order, wtHanning, false);
  SetPropText(*chain.Spectrum, "Normalization", "fnNormalizeSqrt");
  chain.Spectrum->Averaging()->SetEnabled(false);
  const std::vector<double> x = Noise(n, 7);
  chain.Feed.Start(1000);
  chain.Feed.Send(x, {100});
  ASSERT_EQ(chain.Sink.Count(), 1u);
  std::vector<double> w;
  double gain = 0, powerGain = 0, weighted = 0, weights = 0;
  std::vector<TComplex> kernel;
  NXWindowCalculator::CalculateOldWindow(w, wtHanning, order, NXDefaultWindowParam(wtHanning, std::int32_t(n)), gain,
                                         powerGain, kernel);
  for (std::size_t i = 0; i < n; ++i) weighted += x[i] * w[i] * x[i] * w[i], weights += w[i] * w[i];
  const std::vector<double> bins = chain.Sink.Samples()[0];
  EXPECT_NEAR(std::accumulate(bins.begin(), bins.end(), 0.0), weighted / weights, 1e-12 * weighted / weights);
  TOwned<TNXSpectrumView> view(new TNXSpectrumView());
  SetPropText(*view, "MinDecibels", "-90");
  for (INXPinOwner* owner : {static_cast<INXPinOwner*>(chain.Spectrum.get()), static_cast<INXPinOwner*>(view.get())})
    for (std::int32_t i = 0; i <= owner->GetPinCount(); ++i) EXPECT_EQ(owner->GetPin(i) != nullptr, i < owner->GetPinCount());
}

// Constant frames of (i + 1) / 10 read ((i + 1) / 10)^2 at bin 0: each output is their running mean.
TEST(SpectrumAveraging, MeanOfTheLastCountFrames) {
  struct TCase { std::uint32_t Count; bool Enabled; int Window; };  // Window: the frames the mean covers
  const TCase cases[] = {{1, true, 1}, {3, true, 3}, {50, true, 50}, {10, false, 1}};
  const int frames = 12;
  std::vector<double> x;
  for (int i = 0; i < frames; ++i) x.insert(x.end(), 16, (i + 1) / 10.0);
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Count << (c.Enabled ? "" : " disabled"));
    TChain chain(4, wtRect, false);
    chain.Spectrum->Averaging()->SetCount(c.Count);
    chain.Spectrum->Averaging()->SetEnabled(c.Enabled);
    chain.Feed.Start(16);
    chain.Feed.Send(x, {5});
    const auto spectra = chain.Sink.Samples();
    ASSERT_EQ(spectra.size(), std::size_t(frames));
    for (int j = 0; j < frames; ++j) {
      double sum = 0;
      int count = 0;
      for (int i = std::max(0, j - c.Window + 1); i <= j; ++i, ++count) sum += (i + 1) / 10.0 * (i + 1) / 10.0;
      EXPECT_NEAR(spectra[j][0], sum / count, 1e-12) << "frame " << j;
      EXPECT_NEAR(spectra[j][1], 0, 1e-20);
    }
  }
}

// A new Order or a new stream drops the partial frame and the average.
TEST(SpectrumSettings, ChangesWhileRunningStartFramesAgain) {
  TChain chain(6, wtRect, false);
  chain.Feed.Start(64);
  chain.Feed.Send(std::vector<double>(96, 1.0), {96});  // one frame and a half
  chain.Spectrum->SetOrder(5);
  chain.Feed.Send(std::vector<double>(64, 0.5), {10});
  chain.Feed.Stop();
  chain.Feed.Start(64);
  chain.Feed.Send(std::vector<double>(32, 0.25), {32});
  // The 1.0 frame is not in the new average; neither is the old stream.
  const auto spectra = chain.Sink.Samples();
  ASSERT_EQ(spectra.size(), 4u);
  const double dc[] = {1, 0.25, 0.25, 0.0625};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(spectra[i].size(), i == 0 ? 33u : 17u);
    EXPECT_NEAR(spectra[i][0], dc[i], 1e-12) << i;
  }
  // Order stays inside its range.
  chain.Spectrum->SetOrder(2);
  EXPECT_EQ(chain.Spectrum->Order(), TNXSpectrum::kMinOrder);
}

// The plan that a flow run's preparation makes is for the settings of that
// moment: a change after it (here before the stream) still takes effect.
TEST(SpectrumSettings, APlanMadeAtPrepareGivesWayToLaterSettings) {
  struct TCase { const char* Name; std::function<void(TNXSpectrum&)> Change; double Second; };
  const TCase cases[] = {
      {"unchanged", [](TNXSpectrum&) {}, (1 + 0.25) / 2},  // averaged (the default)
      {"order", [](TNXSpectrum& s) { s.SetOrder(5); }, (1 + 0.25) / 2},
      {"averaging off", [](TNXSpectrum& s) { s.Averaging()->SetEnabled(false); }, 0.25},
      {"decibels", [](TNXSpectrum& s) { s.SetDecibels(true); }, 10 * std::log10((1 + 0.25) / 2)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TChain chain(6, wtRect, false);
    chain.Spectrum->FlowPrepare({});
    c.Change(*chain.Spectrum);
    const std::size_t n = std::size_t(1) << chain.Spectrum->Order();
    std::vector<double> x(n, 1.0);
    x.insert(x.end(), n, 0.5);
    chain.Feed.Start(48000);
    chain.Feed.Send(x, {7});
    const auto spectra = chain.Sink.Samples();
    ASSERT_EQ(spectra.size(), 2u);
    EXPECT_EQ(spectra[1].size(), n / 2 + 1);
    EXPECT_NEAR(spectra[1][0], c.Second, 1e-12);
  }
}

// Runs ASink through a flow run in ADir: prepare, one stream of AData, finish.
flow::TFlowNodeReport RunSink(TNXRealSink& ASink, const std::string& ADir, const std::vector<double>& AData,
                              std::int32_t ABufferSize, double ARate = 48000) {
  flow::TFlowRunContext context;
  context.OutputDir = ADir;
  ASink.FlowPrepare(context);
  TFeeder feed;
  feed.Pin().Connect(ASink.InputPin());
  feed.Start(ARate);
  feed.Send(AData, {ABufferSize});
  feed.Stop();
  flow::TFlowNodeReport report;
  ASink.FlowFinish(context, report);
  return report;
}

// The lines of a text file, split at commas.
std::vector<std::vector<std::string>> ReadCsv(const std::string& APath) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(ReadFileBytes(APath));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

// Lines read back as index and exact value; the limit still counts all.
TEST(CsvWriter, WritesIndexAndExactValue) {
  struct TRow { const char* Name; std::size_t BufferSize, Total; std::int64_t MaxSamples; };
  const TRow rows[] = {
      {"All", 100, 1000, 0}, {"Limited", 64, 1000, 250},
      {"LimitAboveTotal", 1000, 300, 5000},
      {"ManyBlocks", 4096, 20000, 0},
      {"NothingReceived", 10, 0, 0}
  };
  for (const TRow& c : rows) {
    SCOPED_TRACE(c.Name);
    std::vector<double> x = Noise(c.Total, 11);
    for (std::size_t i = 0; i < x.size(); i += 7) x[i] *= 1e-300;  // tiny values keep their digits too
    const std::string dir = OutputFolder(std::string("csv-") + c.Name);
    TOwned<TNXCsvWriter> writer(new TNXCsvWriter());
    writer->SetFileName("s.csv");
    writer->SetMaxSamples(c.MaxSamples);
    const flow::TFlowNodeReport report = RunSink(*writer, dir, x, c.BufferSize);
    EXPECT_TRUE(report.IsSink);
    EXPECT_EQ(report.Samples, std::int64_t(c.Total));
    EXPECT_EQ(report.Buffers, std::int64_t((c.Total + c.BufferSize - 1) / c.BufferSize));
    EXPECT_EQ(report.Files, std::vector<std::string>{"s.csv"});
    const auto rows = ReadCsv(dir + "/s.csv");
    const std::size_t expected =
        c.MaxSamples == 0 ? c.Total : std::min<std::size_t>(c.Total, std::size_t(c.MaxSamples));
    ASSERT_EQ(rows.size(), expected + 1);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"index", "value"}));
    for (std::size_t i = 0; i < expected; ++i) {
      ASSERT_EQ(rows[i + 1].size(), 2u);
      EXPECT_EQ(rows[i + 1][0], std::to_string(i));
      EXPECT_EQ(std::strtod(rows[i + 1][1].c_str(), nullptr), x[i]) << "line " << i + 2;
    }
    const std::string bytes = ReadFileBytes(dir + "/s.csv");
    // A second finish leaves the file as it is.
    flow::TFlowNodeReport again;
    writer->FlowFinish({}, again);
    EXPECT_EQ(ReadFileBytes(dir + "/s.csv"), bytes);
  }
}

TEST(WaveWriter, ReadsBackWhatWasSent) {
  // Tolerance: of a sample in -1 .. 1 read back; Clips: full scale is the most an integer format keeps.
  struct TRow { TNXWaveFormat Format; int Subtype; double Tolerance; bool Clips; };
  const TRow rows[] = {
      {wfPcm16, SF_FORMAT_PCM_16, 1.0 / 32768 + 1e-12, true},
      {wfPcm24, SF_FORMAT_PCM_24, 1.0 / (1 << 23) + 1e-12, true},
      {wfFloat32, SF_FORMAT_FLOAT, 1e-7, false},
      {wfFloat64, SF_FORMAT_DOUBLE, 0, false}
  };
  for (const TRow& c : rows) {
    std::vector<double> x = Noise(10000, 5);
    for (double& v : x) v *= 0.9;
    x[100] = 1.5;
    x[101] = -1.5;
    const std::string dir = OutputFolder("wav-" + std::to_string(c.Format));
    TOwned<TNXWaveWriter> writer(new TNXWaveWriter());
    writer->SetWaveFormat(c.Format);
    const flow::TFlowNodeReport report = RunSink(*writer, dir, x, 999, 44100);
    EXPECT_EQ(report.Files, std::vector<std::string>{"out.wav"});
    SF_INFO info{};
    SNDFILE* f = sf_open((dir + "/out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(std::tuple(info.samplerate, info.channels, info.format),
              std::tuple(44100, 1, SF_FORMAT_WAV | c.Subtype));
    ASSERT_EQ(info.frames, sf_count_t(x.size()));
    std::vector<double> y(x.size());  // full scale reads 1
    EXPECT_EQ(sf_read_double(f, y.data(), sf_count_t(y.size())), sf_count_t(y.size()));
    sf_close(f);
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double expected = c.Clips ? std::clamp(x[i], -1.0, 1.0) : x[i];
      if (c.Tolerance == 0) ASSERT_EQ(y[i], expected) << i;
      else ASSERT_NEAR(y[i], expected, c.Tolerance) << i;
    }
  }
}

// The scope keeps the last Samples samples in order; its table gives their stream times.
TEST(ScopeRing, KeepsTheLastSamples) {
  struct TRow { const char* Name; std::int32_t Shown; std::size_t BufferSize, Total; };
  const TRow rows[] = {
      {"NotFilled", 100, 30, 70}, {"Exactly", 64, 16, 64},
      {"Wrapped", 100, 30, 1000},
      {"BufferLongerThanRing", 50, 333, 1000},
      {"OneSampleBuffers", 10, 1, 25},
      {"Nothing", 10, 1, 0}
  };
  for (const TRow& c : rows) {
    SCOPED_TRACE(c.Name);
    const std::vector<double> x = Noise(c.Total, 2);
    TOwned<TNXScopeView> scope(new TNXScopeView());
    scope->SetSamplesShown(c.Shown);
    scope->SetWidth(300);
    scope->SetHeight(200);
    const std::string dir = OutputFolder(std::string("scope-") + c.Name);
    const flow::TFlowNodeReport report = RunSink(*scope, dir, x, c.BufferSize, 1000);
    const std::size_t kept = std::min<std::size_t>(c.Total, std::size_t(c.Shown));
    std::int64_t firstIndex = -1;
    const std::vector<double> values = scope->Kept(&firstIndex);
    EXPECT_EQ(values, std::vector<double>(x.end() - std::ptrdiff_t(kept), x.end()));
    EXPECT_EQ(firstIndex, std::int64_t(c.Total - kept));
    EXPECT_EQ(report.Files, (std::vector<std::string>{"scope.png", "scope.csv"}));
    const auto rows = ReadCsv(dir + "/scope.csv");
    ASSERT_EQ(rows.size(), kept + 1);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "value"}));
    for (std::size_t i = 0; i < kept; ++i) {
      EXPECT_EQ(std::strtod(rows[i + 1][0].c_str(), nullptr), double(firstIndex + std::int64_t(i)) / 1000);
      EXPECT_EQ(std::strtod(rows[i + 1][1].c_str(), nullptr), values[i]);
    }
  }
}

// A new Samples while the stream runs keeps the most recent samples.
TEST(ScopeResize, KeepsTheMostRecentSamples) {
  const std::vector<double> x = Noise(500, 4);
  TOwned<TNXScopeView> scope(new TNXScopeView());
  scope->SetSamplesShown(100);
  TFeeder feed;
  feed.Pin().Connect(scope->InputPin());
  feed.Start(100);
  feed.Send(std::vector<double>(x.begin(), x.begin() + 250), {40});
  scope->SetSamplesShown(30);
  feed.Send(std::vector<double>(x.begin() + 250, x.begin() + 260), {10});
  EXPECT_EQ(scope->Kept(), std::vector<double>(x.begin() + 230, x.begin() + 260));
  scope->SetSamplesShown(200);
  feed.Send(std::vector<double>(x.begin() + 260, x.end()), {64});
  EXPECT_EQ(scope->Kept(), std::vector<double>(x.end() - 200, x.end()));
}

struct TPicture { int Width = 0, Height = 0, TracePixels = 0; };  // trace pixels: clearly blue, the default trace colour
TPicture ReadPicture(const std::string& APath) {
  TPicture p;
  cairo_surface_t* s = cairo_image_surface_create_from_png(APath.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    p.Width = cairo_image_surface_get_width(s);
    p.Height = cairo_image_surface_get_height(s);
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < p.Height; ++y)
      for (int x = 0; x < p.Width; ++x) {
        const std::uint32_t px = *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
        const int r = (px >> 16) & 0xFF, b = px & 0xFF;
        p.TracePixels += b - r > 80;
      }
  }
  cairo_surface_destroy(s);
  return p;
}

// Pictures decode at their size, with a trace only when there was data, the same bytes each time.
TEST(Pictures, DecodeAtTheirSizeWithATrace) {
  // Total: samples sent (0: none); Poisoned: a NaN and infinities among them.
  struct TRow { const char* Name; bool Spectrum; bool Log;
                std::int32_t Width, Height; std::size_t Total; bool Poisoned = false; };
  const TRow rows[] = {
      {"Scope", false, false, 800, 400, 5000},
      {"ScopeEmpty", false, false, 640, 360, 0},
      {"ScopePoisoned", false, false, 640, 360, 400, true},
      {"SpectrumPoisoned", true, true, 640, 360, 513, true},
      {"Spectrum", true, false, 800, 400, 513},
      {"SpectrumLog", true, true, 900, 450, 513},
      {"SpectrumEmpty", true, false, 500, 300, 0}
  };
  for (const TRow& c : rows) {
    SCOPED_TRACE(c.Name);
    std::string first;
    for (int run = 0; run < 2; ++run) {
      const std::string dir = OutputFolder(std::string("picture-") + c.Name + std::to_string(run));
      TOwned<TNXPlotSink> sink(c.Spectrum ? static_cast<TNXPlotSink*>(new TNXSpectrumView())
                                        : static_cast<TNXPlotSink*>(new TNXScopeView()));
      sink->SetWidth(c.Width);
      sink->SetHeight(c.Height);
      sink->SetTitle(c.Name);
      if (c.Spectrum) static_cast<TNXSpectrumView*>(sink.get())->SetLogFrequency(c.Log);
      std::vector<double> x(c.Total);
      for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = c.Spectrum ? -60 + 50 * std::exp(-std::pow((double(i) - 100) / 4, 2)) - 0.01 * double(i)
                          : 0.8 * std::sin(2 * std::numbers::pi * double(i) / 200);
      if (c.Poisoned) x[10] = NAN, x[20] = INFINITY, x[30] = -INFINITY;
      // A spectrum arrives as one buffer of bins.
      const flow::TFlowNodeReport report = RunSink(*sink, dir, x, c.Spectrum ? x.size() + 1 : 256, 48000);
      const TPicture p = ReadPicture(dir + "/" + sink->FileName());
      EXPECT_EQ(p.Width, c.Width);
      EXPECT_EQ(p.Height, c.Height);
      if (c.Total > 0) EXPECT_GT(p.TracePixels, c.Width / 3);
      else EXPECT_EQ(p.TracePixels, 0);
      const std::string bytes = ReadFileBytes(dir + "/" + sink->FileName());
      if (run == 0) first = bytes;
      else EXPECT_EQ(bytes, first);
      if (c.Spectrum && c.Total > 0 && !c.Poisoned) {
        // Bin k of 513 at 48 kHz is at k * 48000 / 1024 Hz; the peak is bin 100.
        const auto lines = ReadCsv(dir + "/spectrum.csv");
        ASSERT_EQ(lines.size(), c.Total + 1);
        EXPECT_EQ(lines[0], (std::vector<std::string>{"frequency", "dB"}));
        for (std::size_t k = 0; k < c.Total; ++k) {
          EXPECT_EQ(std::strtod(lines[k + 1][0].c_str(), nullptr), double(k) * 48000 / 1024);
          EXPECT_EQ(std::strtod(lines[k + 1][1].c_str(), nullptr), x[k]);
        }
        EXPECT_NE(report.Summary.find("at 4687.5 Hz"), std::string::npos) << report.Summary;
      }
    }
  }
}

// ---- live displays

// Pictures of 400 x 200 asked no wider than 1,000: drawn at their own size.
constexpr std::int32_t kLiveWidth = 1000;
struct TReadout { bool Found = false; double X = 0, Y = 0; };
TReadout ParseReadout(const std::string& AText) {
  TReadout r;
  char unit[16] = {};
  r.Found = std::sscanf(AText.c_str(), "%lf %15[a-zA-Z]: %lf", &r.X, unit, &r.Y) == 3;
  return r;
}
std::string Mouse(flow::INXFlowDisplay& ADisplay, const TIntfPtr<IFTNotifyOperation>& AOperation) {
  return ADisplay.DisplayMouse(*AOperation, kLiveWidth);
}
TReadout MoveTo(flow::INXFlowDisplay& ADisplay, int X, int Y) {
  return ParseReadout(Mouse(ADisplay, TFTNXSuppliedMouseMoveOperation::Make({}, X, Y)));
}

// The live picture is the file's picture; the pointer reads the trace under
// it, the wheel zooms the time or frequency axis about the pointer, a drag
// pans it, the right button shows everything again.
TEST(LiveDisplay, PointerReadsZoomsAndPans) {
  struct TRow { const char* Name; bool Spectrum; bool Log; };
  for (const TRow& c : {TRow{"Scope", false, false}, TRow{"Spectrum", true, false}, TRow{"SpectrumLog", true, true}}) {
    SCOPED_TRACE(c.Name);
    TOwned<TNXPlotSink> sink(c.Spectrum ? static_cast<TNXPlotSink*>(new TNXSpectrumView())
                                        : static_cast<TNXPlotSink*>(new TNXScopeView()));
    flow::INXFlowDisplay& display = *sink;
    sink->SetWidth(400);
    sink->SetHeight(200);
    if (c.Spectrum) static_cast<TNXSpectrumView*>(sink.get())->SetLogFrequency(c.Log);
    else static_cast<TNXScopeView*>(sink.get())->SetSamplesShown(200);
    // A ramp: every sample tells where it stands. The scope keeps the last
    // 200 of 500 (values 300 .. 499); the spectrum is 513 bins at 1024 Hz.
    const std::size_t total = c.Spectrum ? 513 : 500;
    std::vector<double> x(total);
    for (std::size_t i = 0; i < total; ++i) x[i] = c.Spectrum ? -100 + 0.1 * double(i) : double(i);
    const std::uint64_t before = display.DisplayVersion();
    TFeeder feed;
    feed.Pin().Connect(sink->InputPin());
    feed.Start(1024);
    feed.Send(x, {c.Spectrum ? 513 : 100});
    EXPECT_GT(display.DisplayVersion(), before);

    // At its size, or smaller keeping its shape.
    for (auto [asked, width, height] : {std::tuple{kLiveWidth, 400, 200}, std::tuple{300, 300, 150}}) {
      const std::string path = OutputFolder(std::string("live-") + c.Name) + "/live.png";
      std::ofstream(path, std::ios::binary) << display.DisplayPicture(asked);
      const TPicture picture = ReadPicture(path);
      EXPECT_EQ(picture.Width, width);
      EXPECT_EQ(picture.Height, height);
      EXPECT_GT(picture.TracePixels, width / 4);
    }

    // The trace point under the pointer: its value is the sample at its place.
    const int middle = 100;
    auto sampleAt = [&](double AX) {
      // Scope: ms from the first sample kept (index 300); spectrum: Hz, bin k at k Hz.
      return c.Spectrum ? x[std::size_t(std::lround(AX))] : x[300 + std::size_t(std::lround(AX * 1.024))];
    };
    int left = 0;
    while (left < 400 && !MoveTo(display, left, middle).Found) ++left;
    ASSERT_LT(left, 200) << "no plot area along the middle row";
    EXPECT_EQ(Mouse(display, TFTNXSuppliedMouseMoveOperation::Make({}, 0, 0)), "");
    const TReadout centre = MoveTo(display, 250, middle);
    ASSERT_TRUE(centre.Found);
    EXPECT_NEAR(centre.Y, sampleAt(centre.X), 1e-9);
    const TReadout edge = MoveTo(display, left, middle);

    // Places along the axis as the picture spaces them.
    auto pos = [&](double AX) { return c.Log ? std::log10(AX) : AX; };
    const double span = pos(centre.X) - pos(edge.X);
    ASSERT_GT(span, 0);

    // Zoom in about the centre: the value under the pointer stays there,
    // the left edge now shows a later point.
    std::uint64_t version = display.DisplayVersion();
    for (int i = 0; i < 4; ++i) Mouse(display, TFTNXSuppliedMouseWheelUpOperation::Make({}, 250, middle));
    EXPECT_GT(display.DisplayVersion(), version);
    const TReadout zoomedCentre = MoveTo(display, 250, middle);
    EXPECT_NEAR(pos(zoomedCentre.X), pos(centre.X), span * 0.05);
    EXPECT_GT(pos(MoveTo(display, left, middle).X), pos(edge.X) + span * 0.3);
    EXPECT_NEAR(MoveTo(display, 180, middle).Y, sampleAt(MoveTo(display, 180, middle).X), 1e-9);

    // Drag the picture to the right: earlier points come under the pointer.
    Mouse(display, TFTNXSuppliedMouseButtonDownOperation::Make(mbLeft, {ssLeft}, 250, middle));
    Mouse(display, TFTNXSuppliedMouseMoveOperation::Make({ssLeft}, 300, middle));
    Mouse(display, TFTNXSuppliedMouseButtonUpOperation::Make(mbLeft, {}, 300, middle));
    EXPECT_NEAR(pos(MoveTo(display, 300, middle).X), pos(zoomedCentre.X), span * 0.05);
    EXPECT_LT(MoveTo(display, 250, middle).X, zoomedCentre.X);

    // The right button shows the whole range again; a move without a
    // button pressed pans nothing.
    version = display.DisplayVersion();
    Mouse(display, TFTNXSuppliedMouseButtonDownOperation::Make(mbRight, {}, 250, middle));
    EXPECT_GT(display.DisplayVersion(), version);
    EXPECT_EQ(MoveTo(display, left, middle).X, edge.X);
    // The wheel the other way zooms back out, no further than everything.
    for (int i = 0; i < 2; ++i) Mouse(display, TFTNXSuppliedMouseWheelUpOperation::Make({}, 250, middle));
    EXPECT_GT(MoveTo(display, left, middle).X, edge.X);
    for (int i = 0; i < 3; ++i) Mouse(display, TFTNXSuppliedMouseWheelDownOperation::Make({}, 250, middle));
    EXPECT_EQ(MoveTo(display, left, middle).X, edge.X);
    version = display.DisplayVersion();
    MoveTo(display, 100, middle);
    Mouse(display, TFTNXSuppliedMouseLeaveOperation::Make());
    EXPECT_EQ(display.DisplayVersion(), version);
    feed.Stop();
  }
}

// A flow run writes only inside its output folder; the message names the component and the name.
TEST(FileNames, StayInsideTheOutputFolder) {
  const std::string dir = OutputFolder("names");
  for (const auto& [name, accepted] : std::vector<std::pair<std::string, bool>>{
           {"plain.csv", true}, {"sub/dir/x.csv", true}, {"", false}, {"/tmp/abs.csv", false},
           {"../up.csv", false}, {"a/../../up.csv", false}, {"folder/", false}}) {
    SCOPED_TRACE(name);
    TOwned<TNXCsvWriter> writer(new TNXCsvWriter());
    writer->SetName("Writer1");
    writer->SetFileName(name);
    if (accepted) {
      EXPECT_EQ(RunSink(*writer, dir, {1, 2, 3}, 3).Files, std::vector<std::string>{name});
      EXPECT_TRUE(fs::exists(fs::path(dir) / name));
      continue;
    }
    const std::string message = MessageOf<Exception>([&] { RunSink(*writer, dir, {1, 2, 3}, 3); });
    for (const std::string& part : {std::string("Writer1"), "\"" + name + "\""})
      EXPECT_NE(message.find(part), std::string::npos) << message;
  }
}

// Sample i of the stream holds i; stops itself after Buffers buffers.
class TRampGen : public TNXCommonRealGen {
 public:
  using TNXCommonRealGen::TNXCommonRealGen;
  std::int32_t Buffers = 0, Pumps = 0;
  std::int64_t Next = 0;

 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool& AStop) override {
    INXRealBuffer* real = RealOf(ABuffer);
    double* data = real->Write();
    for (std::int32_t i = 0; i < real->GetSize(); ++i) data[i] = double(Next++);
    if (++Pumps == Buffers) AStop = true;
  }
};

// A clock thread feeds every sink at once; a spectrum worker's stop may drop queued spectra.
TEST(SinkThreads, ClockThreadFeedsEverySink) {
  for (const bool worker : {false, true}) {
    SCOPED_TRACE(worker ? "spectrum on its worker" : "spectrum on the clock thread");
    TNXVirtualClockGuard virtualTime;
    const std::string dir = OutputFolder("threads");
    flow::TFlowRunContext context;
    context.OutputDir = dir;
    TOwned<TRampGen> gen(new TRampGen(nullptr));
    gen->SetSampleRate(8000);
    gen->SetBufferSize(100);
    gen->Buffers = 200;
    TOwned<TNXScopeView> scope(new TNXScopeView());
    TOwned<TNXCsvWriter> csv(new TNXCsvWriter());
    TOwned<TNXSpectrum> spectrum(new TNXSpectrum());
    TOwned<TNXSpectrumView> view(new TNXSpectrumView());
    spectrum->Threading()->SetEnabled(worker);
    TRecorder end;
    gen->OutputPin().Connect(scope->InputPin());
    gen->OutputPin().Connect(csv->InputPin());
    gen->OutputPin().Connect(spectrum->InputPin());
    gen->OutputPin().Connect(&end.Pin);
    spectrum->OutputPin()->Connect(view->InputPin());
    const std::vector<flow::INXFlowNode*> nodes = {scope.get(), csv.get(), spectrum.get(), view.get()};
    for (flow::INXFlowNode* node : nodes) node->FlowPrepare(context);
    gen->Start();
    ASSERT_TRUE(end.WaitOp("TFTStopOperation"));
    gen->Stop();
    std::vector<flow::TFlowNodeReport> reports(4);
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i]->FlowFinish(context, reports[i]);
    for (int i : {0, 1}) EXPECT_EQ(reports[i].Samples, 20000) << i;
    for (int i : {0, 1, 2, 3}) EXPECT_EQ(reports[i].SampleRate, 8000) << i;
    EXPECT_TRUE(worker ? reports[3].Buffers <= 20000 / 1024 : reports[3].Buffers == 20000 / 1024);  // per whole frame
    const std::vector<double> kept = scope->Kept();
    ASSERT_EQ(kept.size(), 2048u);
    EXPECT_EQ(kept.front(), double(20000 - 2048));
    EXPECT_EQ(kept.back(), 19999.0);
    const auto rows = ReadCsv(dir + "/samples.csv");
    ASSERT_EQ(rows.size(), 20001u);
    EXPECT_EQ(rows.back(), (std::vector<std::string>{"19999", "19999"}));
    const std::vector<double> last = view->LastSpectrum();
    if (!last.empty() || !worker) {
      EXPECT_EQ(last.size(), 513u);
    }
  }
}

}  // namespace
}  // namespace nxtest
