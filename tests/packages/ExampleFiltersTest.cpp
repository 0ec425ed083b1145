// The example package's filters: the gain, the FIR filter against a direct
// convolution and the IIR cascade against one long run of the primitive
// (both over buffers of every size, before and after a redesign), the FIR
// design report per window, the mixer's sum and pins, the level detector's
// values and report, and a graph of them saved to a document, loaded again
// and run on its own clock on virtual time. The spectrum: levels of sines on
// their bins for every window, the power scaling against the signal's mean
// square, frames cut the same whatever the buffer sizes, the running mean
// over the last Count frames, and a change of Order while the stream runs.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include "PackageTestSupport.h"
#include "components/NXClockGen.h"
#include "infrastructure/NXGraphDocument.h"
#include "packages/nxexamples/NXExampleFilters.h"
#include "packages/nxexamples/NXExampleSources.h"
#include "packages/nxexamples/NXExampleSpectrum.h"

namespace nxtest {
namespace {
using namespace nx::examples;

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

// Feeds ASignal through AFilter at ARate in buffers of ASizes and returns
// what came out.
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

// Buffers shorter and longer than the taps, and long enough for the
// transform path of the primitive.
const std::vector<std::int32_t> kMixedSizes{1, 17, 64, 1000, 3, 513, 2048, 100};

// ---------------------------------------------------------------- gain

struct TGainRow {
  double Gain;
  std::vector<std::int32_t> Sizes;
};

class Gain : public testing::TestWithParam<TGainRow> {};

TEST_P(Gain, MultipliesEverySample) {
  const TGainRow& row = GetParam();
  auto gain = Make<TNXGain>();
  gain->SetGain(row.Gain);
  const std::vector<double> x = Noise(3000, 5);
  const std::vector<double> y = Filtered(*gain, x, row.Sizes);
  ASSERT_EQ(y.size(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y[i], x[i] * row.Gain) << i;
}

INSTANTIATE_TEST_SUITE_P(Rows, Gain,
                         testing::Values(TGainRow{1.0, {1024}}, TGainRow{0.5, {1024}}, TGainRow{-2.0, {1, 7, 333}},
                                         TGainRow{0.0, {3000}}));

// ---------------------------------------------------------------- FIR

struct TFirRow {
  TNXDesignFilterType Type;
  std::int32_t Order;
  double Low, High;
  TNXWindowType Window;
  std::size_t Taps;
  double MinStopbandDb;  // what the window's design achieves
};

class FirFilter : public testing::TestWithParam<TFirRow> {};

TEST_P(FirFilter, EqualsOneLongConvolutionAcrossBuffers) {
  const TFirRow& row = GetParam();
  auto fir = Make<TNXFirFilter>();
  fir->SetFilterType(row.Type);
  fir->SetOrder(row.Order);
  fir->SetLowFrequency(row.Low);
  fir->SetHighFrequency(row.High);
  fir->SetWindow(row.Window);
  const std::vector<double> x = Noise(6000, 5);
  const std::vector<double> y = Filtered(*fir, x, kMixedSizes);
  const std::vector<double> taps = fir->Taps();
  ASSERT_EQ(taps.size(), row.Taps);
  EXPECT_EQ(taps, fir->Design(48000)->GetTaps());
  EXPECT_LT(WorstDifference(y, Convolve(taps, x)), 1e-12);

  const TNXFilterReport report = fir->DesignReport(48000);
  EXPECT_GE(report.StopbandAttenuationDb, row.MinStopbandDb);
  EXPECT_NEAR(report.PassbandPeak, 1.0, 0.1);  // the rectangular window overshoots by 9 %
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FirFilter,
    testing::Values(TFirRow{fdftLowPass, 64, 4000, 1000, wtHamming, 65, 45},  // the high corner is not used
                    TFirRow{fdftLowPass, 254, 2000, 4000, wtBlackman, 255, 70},
                    TFirRow{fdftHighPass, 100, 6000, 0, wtHanning, 101, 40},
                    TFirRow{fdftBandPass, 128, 1000, 4000, wtHamming, 129, 45},
                    TFirRow{fdftBandStop, 63, 3000, 9000, wtKaiser, 63, 50},  // odd orders keep an odd tap count
                    TFirRow{fdftLowPass, 30, 5000, 0, wtRect, 31, 18},
                    // corners past half the rate are kept inside it, in order
                    TFirRow{fdftBandPass, 80, 30000, 2000, wtHamming, 81, 45}));

TEST(FirFilterChange, ARedesignWhileRunningContinuesFromTheRealInputs) {
  auto fir = Make<TNXFirFilter>();
  TPiped<TNXFirFilter> pipe(*fir);
  const std::vector<double> x = Noise(4000, 5);
  pipe.Feed.Start(48000);
  const std::vector<double> first(x.begin(), x.begin() + 2000), second(x.begin() + 2000, x.end());
  pipe.Feed.Send(first, {500});
  const std::vector<double> oldTaps = fir->Taps();
  fir->SetLowFrequency(3000);  // the same tap count, new taps
  const std::vector<double> newTaps = fir->Taps();
  ASSERT_EQ(newTaps.size(), oldTaps.size());
  ASSERT_NE(newTaps, oldTaps);
  pipe.Feed.Send(second, {500});
  const std::vector<double> y = pipe.Sink.AllSamples();
  const std::vector<double> before = Convolve(oldTaps, x), after = Convolve(newTaps, x);
  ASSERT_EQ(y.size(), x.size());
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(y[n], n < 2000 ? before[n] : after[n], 1e-12) << n;
}

// ---------------------------------------------------------------- IIR

struct TIirRow {
  TNXDesignFilterType Type;
  TNXIIRFilterType Prototype;
  std::int32_t Order;
  double Low, High;
  double Probe, ProbeGainDb;  // a frequency and its gain (+-0.6 dB; below -20 dB: at most)
};

class IirFilter : public testing::TestWithParam<TIirRow> {};

TEST_P(IirFilter, EqualsOneLongRunOfTheCascade) {
  const TIirRow& row = GetParam();
  auto iir = Make<TNXIirFilter>();
  iir->SetFilterType(row.Type);
  iir->SetPrototype(row.Prototype);
  iir->SetOrder(row.Order);
  iir->SetLowFrequency(row.Low);
  iir->SetHighFrequency(row.High);
  const std::vector<double> x = Noise(6000, 5);
  const std::vector<double> y = Filtered(*iir, x, kMixedSizes);
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

INSTANTIATE_TEST_SUITE_P(
    Rows, IirFilter,
    testing::Values(TIirRow{fdftBandPass, iirButterworth, 4, 1000, 4000, 2000, 0},
                    TIirRow{fdftBandPass, iirButterworth, 8, 1000, 4000, 1000, -3},  // the corner
                    TIirRow{fdftLowPass, iirChebyshev, 5, 2000, 0, 20000, -100},
                    TIirRow{fdftHighPass, iirBessel, 2, 5000, 0, 20000, 0},
                    TIirRow{fdftBandStop, iirButterworth, 6, 2000, 6000, 3500, -80}));

TEST(IirFilterChange, ARedesignWhileRunningTakesEffectAtOnce) {
  auto iir = Make<TNXIirFilter>();
  TPiped<TNXIirFilter> pipe(*iir);
  pipe.Feed.Start(48000);
  const std::vector<double> x = Noise(1000, 5);
  pipe.Feed.Send(x, {1000});
  const std::size_t sections = iir->Taps().size() / 6;
  iir->SetOrder(8);
  ASSERT_EQ(iir->Taps().size() / 6, 2 * sections);
  pipe.Feed.Send(x, {250});
  // After the change the cascade runs from rest: the second half equals a
  // fresh filter's output.
  auto fresh = Make<TNXIirFilter>();
  fresh->SetOrder(8);
  const std::vector<double> want = Filtered(*fresh, x, {1000});
  const std::vector<double> y = pipe.Sink.AllSamples();
  ASSERT_EQ(y.size(), 2000u);
  EXPECT_EQ(std::vector<double>(y.begin() + 1000, y.end()), want);
}

// ---------------------------------------------------------------- mixer

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
}

struct TMixerPinsRow {
  std::vector<std::int32_t> Counts;  // set in turn
  std::vector<std::string> Pins;     // then
};

class MixerPins : public testing::TestWithParam<TMixerPinsRow> {};

TEST_P(MixerPins, AreNamedByPosition) {
  auto mixer = Make<TNXMixer>();
  for (std::int32_t c : GetParam().Counts) mixer->SetInputCountProp(c);
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < mixer->GetPinCount(); ++i) names.push_back(mixer->GetPin(i)->GetName());
  EXPECT_EQ(names, GetParam().Pins);
}

INSTANTIATE_TEST_SUITE_P(Rows, MixerPins,
                         testing::Values(TMixerPinsRow{{}, {"InputPin1", "InputPin2", "OutputPin"}},
                                         TMixerPinsRow{{3, 1, 2}, {"InputPin1", "InputPin2", "OutputPin"}},
                                         TMixerPinsRow{{0}, {"InputPin1", "OutputPin"}}));

// ---------------------------------------------------------------- level detector

struct TLevelRow {
  std::string Signal;  // "sine" (full scale), "half" (a square of 0.5), "silence"
  bool Linked;
  std::string Summary;
};

class LevelDetector : public testing::TestWithParam<TLevelRow> {};

TEST_P(LevelDetector, SendsEachBuffersRmsAndReportsTheRun) {
  const TLevelRow& row = GetParam();
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
  EXPECT_EQ(report.Buffers, 10);
  EXPECT_EQ(report.Samples, 4800);
  EXPECT_EQ(report.SampleRate, 48000);
  EXPECT_FALSE(report.IsSink);
}

INSTANTIATE_TEST_SUITE_P(Rows, LevelDetector,
                         testing::Values(TLevelRow{"sine", true, "peak 0.00 dBFS, rms -3.01 dBFS"},
                                         TLevelRow{"half", false, "peak -6.02 dBFS, rms -6.02 dBFS"},
                                         TLevelRow{"silence", true, "peak -inf dBFS, rms -inf dBFS"}));

// ---------------------------------------------------------------- graph documents

// The root of a graph in the tests.
class TExampleGroup : public TComponent {
  NX_PERSISTENT(TExampleGroup, TComponent)
 public:
  explicit TExampleGroup(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
};

template <class T>
T* Child(TComponent& ARoot, const char* AName) {
  auto* c = dynamic_cast<T*>(ARoot.FindComponent(AName));
  EXPECT_NE(c, nullptr) << AName;
  return c;
}

// sine, noise -> mixer (3 inputs, the middle one free) -> fir -> iir -> gain -> level.
TComponent* MakeGraph() {
  auto* root = new TExampleGroup(nullptr);
  root->SetName("Graph");
  auto add = [&](auto* c, const char* AName) {
    static_cast<TComponent*>(c)->SetName(AName);
    return c;
  };
  auto* sine = add(new TNXSineGenerator(root), "Sine");
  sine->SetFrequency(440.5);
  sine->SetSampleRate(48000);
  sine->SetEnabled(false);  // started by the test once the graph is linked
  auto* noise = add(new TNXNoiseGenerator(root), "Noise");
  noise->SetSeed(9);
  noise->SetDistribution(ndUniform);
  noise->SetSampleRate(48000);
  noise->SetEnabled(false);
  auto* mixer = add(new TNXMixer(root), "Mixer");
  mixer->SetInputCountProp(3);
  mixer->SetGain(0.25);
  auto* fir = add(new TNXFirFilter(root), "Fir");
  fir->SetOrder(100);
  fir->SetFilterType(fdftBandPass);
  fir->SetWindow(wtBlackman);
  auto* iir = add(new TNXIirFilter(root), "Iir");
  iir->SetPrototype(iirChebyshev);
  iir->SetOrder(6);
  auto* gain = add(new TNXGain(root), "Gain");
  gain->SetGain(2);
  auto* level = add(new TNXLevelDetector(root), "Level");
  EXPECT_TRUE(sine->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer->GetInputPin(0))));
  EXPECT_TRUE(noise->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer->GetInputPin(2))));
  EXPECT_TRUE(mixer->OutputPin().Connect(fir->InputPin()));
  EXPECT_TRUE(fir->OutputPin()->Connect(iir->InputPin()));
  EXPECT_TRUE(iir->OutputPin()->Connect(gain->InputPin()));
  EXPECT_TRUE(gain->OutputPin()->Connect(level->InputPin()));
  return root;
}

TEST(ExampleGraphDocument, SavedGraphLoadsWithItsSettingsAndLinksAndRuns) {
  RegisterClass(TExampleGroup::StaticClassInfo());
  TComponent* made = MakeGraph();
  const std::string text = TNXGraphDocument::SaveToString(*made);
  TComponent::Free(made);
  EXPECT_NE(text.find("Window=\"wtBlackman\""), std::string::npos);
  EXPECT_NE(text.find("Distribution=\"ndUniform\""), std::string::npos);

  TExampleGroup designer(nullptr);
  designer.SetDesigning(true);  // nothing starts while the graph is read
  TComponent* root = TNXGraphDocument::LoadFromString(text, &designer);
  ASSERT_NE(root, nullptr);
  // Saved again, the loaded graph gives the same text: the document is
  // written from the live settings and pins, so every link (and the free
  // middle input) came back; the settings are read back as well.
  EXPECT_EQ(TNXGraphDocument::SaveToString(*root), text);
  auto* sine = Child<TNXSineGenerator>(*root, "Sine");
  auto* noise = Child<TNXNoiseGenerator>(*root, "Noise");
  auto* mixer = Child<TNXMixer>(*root, "Mixer");
  auto* fir = Child<TNXFirFilter>(*root, "Fir");
  auto* iir = Child<TNXIirFilter>(*root, "Iir");
  auto* level = Child<TNXLevelDetector>(*root, "Level");
  ASSERT_TRUE(sine && noise && mixer && fir && iir && level);
  EXPECT_EQ(sine->GetFrequency(), 440.5);
  EXPECT_EQ(noise->GetSeed(), 9u);
  EXPECT_EQ(mixer->GetInputCount(), 3);
  EXPECT_EQ(mixer->GetGain(), 0.25);
  EXPECT_EQ(fir->GetFilterType(), fdftBandPass);
  EXPECT_EQ(iir->GetPrototype(), iirChebyshev);

  // Run it on virtual time, each generator on its own clock, started from
  // two threads at once (no lock-order cycle through the mixer).
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
  EXPECT_LT(level->Peak(), 2.0);
  nx::flow::TFlowNodeReport report;
  fir->FlowFinish({}, report);
  EXPECT_EQ(report.Summary.rfind("101 taps, stopband ", 0), 0u) << report.Summary;
  TComponent::Free(root);
  UnregisterClass(TExampleGroup::StaticClassInfo());
}

// ---------------------------------------------------------------- spectrum

// A feeder -> a spectrum of its own -> a recorder.
struct TChain {
  TOwned<TNXSpectrum> Spectrum{new TNXSpectrum()};
  TPiped<TNXSpectrum> Pipe{*Spectrum};
  TFeeder& Feed = Pipe.Feed;
  TRecorder& Sink = Pipe.Sink;
};

std::vector<double> Sine(std::size_t ACount, double ACyclesPerSample, double AAmplitude) {
  std::vector<double> x(ACount);
  for (std::size_t i = 0; i < ACount; ++i)
    x[i] = AAmplitude * std::sin(2 * std::numbers::pi * ACyclesPerSample * double(i) + 0.3);
  return x;
}

struct TSineCase {
  const char* Name;
  std::int32_t Order;
  TNXWindowType Window;
  std::int32_t Bin;
  double Amplitude;
  std::size_t BufferSize;
  std::int32_t PeakBin;  // where the strongest bin must be
  double PeakDb;         // and its level
};

class SpectrumSine : public ::testing::TestWithParam<TSineCase> {};

// With fnNormalize a sine of amplitude A on bin k reads 20 log10 A at bin k,
// whatever the window (its coherent gain is corrected); silence reads the
// floor of -300 dB.
TEST_P(SpectrumSine, ReadsItsAmplitudeAtItsBin) {
  const TSineCase& c = GetParam();
  TChain chain;
  chain.Spectrum->SetOrder(c.Order);
  chain.Spectrum->SetWindow(c.Window);
  const std::size_t n = std::size_t(1) << c.Order;
  const double rate = 48000;
  chain.Spectrum->FlowPrepare({});
  chain.Feed.Start(rate);
  chain.Feed.Send(Sine(3 * n + n / 3, double(c.Bin) / double(n), c.Amplitude), c.BufferSize);
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
  EXPECT_FALSE(report.IsSink);
  EXPECT_EQ(report.Samples, std::int64_t(3 * n + n / 3));
  EXPECT_EQ(report.SampleRate, rate);
  EXPECT_NE(report.Summary.find(Format("at %.6g Hz", rate * c.PeakBin / double(n))), std::string::npos)
      << report.Summary;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, SpectrumSine,
    ::testing::Values(TSineCase{"HannFullScale", 10, wtHanning, 64, 1.0, 1000, 64, 0.0},
                      TSineCase{"RectHalfScaleBigBuffers", 8, wtRect, 10, 0.5, 4096, 10, -6.0206},
                      TSineCase{"HammingTenth", 12, wtHamming, 300, 0.1, 480, 300, -20.0},
                      TSineCase{"BlackmanSmallFrames", 6, wtBlackman, 9, 1.0, 7, 9, 0.0},
                      TSineCase{"BartlettOneSampleBuffers", 7, wtBartlett, 20, 0.25, 1, 20, -12.0412},
                      TSineCase{"Kaiser", 11, wtKaiser, 500, 2.0, 333, 500, 6.0206},
                      TSineCase{"Silence", 8, wtHanning, 10, 0.0, 100, 0, -300.0}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// With fnNormalizeSqrt (linear, one frame, no averaging) the bins sum to the
// windowed frame's mean square corrected by the window's power: exactly
// sum (x w)^2 / sum w^2, the mean square itself for the rectangle.
TEST(SpectrumPower, BinsSumToTheWindowedMeanSquare) {
  for (TNXWindowType window : {wtRect, wtHanning, wtHamming, wtBlackman, wtKaiser}) {
    SCOPED_TRACE(window);
    TChain chain;
    const std::int32_t order = 9;
    const std::size_t n = std::size_t(1) << order;
    chain.Spectrum->SetOrder(order);
    chain.Spectrum->SetWindow(window);
    chain.Spectrum->SetNormalization(fnNormalizeSqrt);
    chain.Spectrum->SetDecibels(false);
    chain.Spectrum->Averaging()->SetEnabled(false);
    const std::vector<double> x = Noise(n, 7);
    chain.Feed.Start(1000);
    chain.Feed.Send(x, 100);
    ASSERT_EQ(chain.Sink.Count(), 1u);

    std::vector<double> w;
    double gain = 0, powerGain = 0;
    std::vector<TComplex> kernel;
    NXWindowCalculator::CalculateOldWindow(w, window, order, NXDefaultWindowParam(window, std::int32_t(n)), gain,
                                           powerGain, kernel);
    double weighted = 0, weights = 0;
    for (std::size_t i = 0; i < n; ++i) {
      weighted += x[i] * w[i] * x[i] * w[i];
      weights += w[i] * w[i];
    }
    double sum = 0;
    const std::vector<double> bins = chain.Sink.Samples()[0];
    for (double v : bins) sum += v;
    EXPECT_NEAR(sum, weighted / weights, 1e-12 * weighted / weights);
  }
}

// Frames are cut from the stream, not from the buffers: any buffer size
// gives the same spectra, bit for bit, and a partial frame sends nothing.
TEST(SpectrumFrames, AnyBufferSizeGivesTheSameSpectra) {
  const std::int32_t order = 8;
  const std::size_t n = std::size_t(1) << order;
  const std::vector<double> x = Noise(5 * n + n / 2, 3);
  std::vector<std::vector<double>> reference;
  for (std::size_t size : {n, std::size_t(1), std::size_t(7), std::size_t(255), std::size_t(257), 3 * n, 10 * n}) {
    SCOPED_TRACE(size);
    TChain chain;
    chain.Spectrum->SetOrder(order);
    chain.Feed.Start(8000);
    chain.Feed.Send(x, size);
    ASSERT_EQ(chain.Sink.Count(), 5u);
    if (reference.empty()) reference = chain.Sink.Samples();
    EXPECT_EQ(chain.Sink.Samples(), reference);
    EXPECT_EQ(chain.Spectrum->Frames(), 5);
  }
}

struct TAverageCase {
  const char* Name;
  std::uint32_t Count;
  bool Enabled;
  std::int32_t Window;  // frames the mean covers
};

class SpectrumAveraging : public ::testing::TestWithParam<TAverageCase> {};

// Frame i holds the constant (i + 1) / 10, which reads ((i + 1) / 10)^2 at
// bin 0 with the rectangle: output j must be the mean of that over the last
// Count frames (fewer at the start), or frame j alone when disabled.
TEST_P(SpectrumAveraging, MeanOfTheLastCountFrames) {
  const TAverageCase& c = GetParam();
  TChain chain;
  const std::size_t n = 16;
  chain.Spectrum->SetOrder(4);
  chain.Spectrum->SetWindow(wtRect);
  chain.Spectrum->SetDecibels(false);
  chain.Spectrum->Averaging()->SetCount(c.Count);
  chain.Spectrum->Averaging()->SetEnabled(c.Enabled);
  const int frames = 12;
  std::vector<double> x;
  for (int i = 0; i < frames; ++i) x.insert(x.end(), n, (i + 1) / 10.0);
  chain.Feed.Start(16);
  chain.Feed.Send(x, 5);
  ASSERT_EQ(chain.Sink.Count(), std::size_t(frames));
  for (int j = 0; j < frames; ++j) {
    double sum = 0;
    int count = 0;
    for (int i = std::max(0, j - c.Window + 1); i <= j; ++i, ++count) sum += (i + 1) / 10.0 * (i + 1) / 10.0;
    EXPECT_NEAR(chain.Sink.Samples()[j][0], sum / count, 1e-12) << "frame " << j;
    // Nothing but DC in a constant frame.
    EXPECT_NEAR(chain.Sink.Samples()[j][1], 0, 1e-20);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, SpectrumAveraging,
                         ::testing::Values(TAverageCase{"One", 1, true, 1}, TAverageCase{"Three", 3, true, 3},
                                           TAverageCase{"DefaultTen", 10, true, 10},
                                           TAverageCase{"MoreThanFrames", 50, true, 50},
                                           TAverageCase{"Disabled", 10, false, 1}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// A new Order while the stream runs: the partial frame and the average are
// dropped and the next frames have the new size. A new stream starts with
// an empty average too.
TEST(SpectrumSettings, ChangesWhileRunningStartFramesAgain) {
  TChain chain;
  chain.Spectrum->SetOrder(6);
  chain.Spectrum->SetWindow(wtRect);
  chain.Spectrum->SetDecibels(false);
  chain.Feed.Start(64);
  chain.Feed.Send(std::vector<double>(96, 1.0), 96);  // one frame and a half
  chain.Spectrum->SetOrder(5);
  chain.Feed.Send(std::vector<double>(64, 0.5), 10);
  chain.Feed.Stop();
  chain.Feed.Start(64);
  chain.Feed.Send(std::vector<double>(32, 0.25), 32);
  ASSERT_EQ(chain.Sink.Count(), 4u);
  EXPECT_EQ(chain.Sink.Samples()[0].size(), 33u);
  EXPECT_EQ(chain.Sink.Samples()[1].size(), 17u);
  EXPECT_EQ(chain.Sink.Samples()[2].size(), 17u);
  // The 1.0 frame is not in the new average; neither is the old stream.
  EXPECT_NEAR(chain.Sink.Samples()[1][0], 0.25, 1e-12);
  EXPECT_NEAR(chain.Sink.Samples()[2][0], 0.25, 1e-12);
  EXPECT_NEAR(chain.Sink.Samples()[3][0], 0.0625, 1e-12);
  // Order stays inside its range.
  chain.Spectrum->SetOrder(2);
  EXPECT_EQ(chain.Spectrum->Order(), TNXSpectrum::kMinOrder);
}

}  // namespace
}  // namespace nxtest
