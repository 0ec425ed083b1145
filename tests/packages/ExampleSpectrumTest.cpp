// The spectrum component: levels of sines on their bins for every window,
// the power scaling against the signal's mean square, frames cut the same
// whatever the buffer sizes, the running mean over the last Count frames,
// and a change of Order while the stream runs.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "PackageTestSupport.h"
#include "packages/nxexamples/NXExampleSpectrum.h"

namespace nxtest {
namespace {
using namespace nx::examples;

// A source pin -> spectrum -> recording sink pin.
struct TChain {
  TFeeder Feed;
  TRecorder Sink;
  TOwned<TNXSpectrum> Spectrum{new TNXSpectrum()};
  TChain() {
    Feed.Pin().Connect(Spectrum->InputPin());
    Spectrum->OutputPin()->Connect(&Sink.Pin());
  }
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

  ASSERT_EQ(chain.Sink.Buffers().size(), 3u);
  ASSERT_EQ(chain.Sink.Rates(), std::vector<double>{rate});
  EXPECT_TRUE(chain.Sink.SpectrumStart());
  for (const std::vector<double>& s : chain.Sink.Buffers()) {
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
    ASSERT_EQ(chain.Sink.Buffers().size(), 1u);

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
    const std::vector<double> bins = chain.Sink.Buffers()[0];
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
    ASSERT_EQ(chain.Sink.Buffers().size(), 5u);
    if (reference.empty()) reference = chain.Sink.Buffers();
    EXPECT_EQ(chain.Sink.Buffers(), reference);
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
  ASSERT_EQ(chain.Sink.Buffers().size(), std::size_t(frames));
  for (int j = 0; j < frames; ++j) {
    double sum = 0;
    int count = 0;
    for (int i = std::max(0, j - c.Window + 1); i <= j; ++i, ++count) sum += (i + 1) / 10.0 * (i + 1) / 10.0;
    EXPECT_NEAR(chain.Sink.Buffers()[j][0], sum / count, 1e-12) << "frame " << j;
    // Nothing but DC in a constant frame.
    EXPECT_NEAR(chain.Sink.Buffers()[j][1], 0, 1e-20);
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
  ASSERT_EQ(chain.Sink.Buffers().size(), 4u);
  EXPECT_EQ(chain.Sink.Buffers()[0].size(), 33u);
  EXPECT_EQ(chain.Sink.Buffers()[1].size(), 17u);
  EXPECT_EQ(chain.Sink.Buffers()[2].size(), 17u);
  // The 1.0 frame is not in the new average; neither is the old stream.
  EXPECT_NEAR(chain.Sink.Buffers()[1][0], 0.25, 1e-12);
  EXPECT_NEAR(chain.Sink.Buffers()[2][0], 0.25, 1e-12);
  EXPECT_NEAR(chain.Sink.Buffers()[3][0], 0.0625, 1e-12);
  // Order stays inside its range.
  chain.Spectrum->SetOrder(2);
  EXPECT_EQ(chain.Spectrum->Order(), TNXSpectrum::kMinOrder);
}

}  // namespace
}  // namespace nxtest
