// The example package's sources: the sine against a long-double reference
// over many buffers (and across a frequency change), the noise's sequence
// (seeded, independent of buffer sizes, with the right statistics), and the
// sound-file player (channels, short last buffer, loop, errors naming the
// file). Generators are paced by an external clock from the test's thread,
// so every run is exact and repeatable (the filters' test runs them on their
// own clocks).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>

#include "ExceptionMessage.h"
#include "PackageTestSupport.h"
#include "packages/nxexamples/NXExampleSources.h"

namespace nxtest {
namespace {
using namespace nx::examples;

// Runs AGen for ABuffers clock ticks into a recorder and stops it; ABeforeTick
// (if any) runs before each tick with its number.
template <class TGen>
TRecorder& RunClocked(TGen& AGen, TRecorder& ARecorder, std::int32_t ABuffers,
                      const std::function<void(std::int32_t)>& ABeforeTick = {}) {
  TFTClockSourcePin clock("Clock");
  AGen.SetClockSource(csExternal);
  EXPECT_TRUE(clock.Connect(&AGen.ClockInputPin()));
  EXPECT_TRUE(AGen.OutputPin().Connect(&ARecorder.Pin));
  AGen.Start();
  for (std::int32_t i = 0; i < ABuffers && ARecorder.CountOf("TFTStopOperation") == 0; ++i) {
    if (ABeforeTick) ABeforeTick(i);
    clock.Clock(1);
  }
  AGen.Stop();
  clock.DisconnectAll();
  AGen.OutputPin().DisconnectAll();
  return ARecorder;
}

double SineAt(double AFreq, double ARate, double AAmp, double APhase, std::int64_t AIndex) {
  const long double cycles = static_cast<long double>(AFreq) * AIndex / ARate + APhase / 360.0L;
  return AAmp * static_cast<double>(std::sin(2 * std::numbers::pi_v<long double> * (cycles - std::floor(cycles))));
}

// ---------------------------------------------------------------- sine

struct TSineRow {
  double Rate, Frequency, Amplitude, Phase;
  std::int32_t BufferSize, Buffers;
};

class SineGenerator : public testing::TestWithParam<TSineRow> {};

TEST_P(SineGenerator, MatchesTheExactSineOverEveryBuffer) {
  const TSineRow& row = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    Rows, SineGenerator,
    testing::Values(TSineRow{48000, 1000, 1, 0, 1024, 40},     // whole cycles per buffer are not needed
                    TSineRow{48000, 997.3, 0.5, 90, 1000, 50},  // buffers that cut cycles anywhere
                    TSineRow{44100, 22000, 2, -30, 333, 30},    // near half the rate, odd buffer size
                    TSineRow{8000, 0.1, 1, 45, 1, 500},         // one sample per buffer
                    TSineRow{1000, -250, 1, 0, 257, 20},        // a negative frequency runs backwards
                    // a long run: 60 s at 48 kHz in 4,096-sample buffers, no drift
                    TSineRow{48000, 1234.5678, 1, 10, 4096, 704}));

TEST(SineGeneratorChange, AFrequencyChangeKeepsTheWaveformContinuous) {
  auto gen = Make<TNXSineGenerator>();
  gen->SetSampleRate(1000);
  gen->SetBufferSize(100);
  gen->SetFrequency(30);
  TRecorder rec;
  const std::vector<double> got = RunClocked(*gen, rec, 5, [&](std::int32_t ATick) {
                                    if (ATick == 3) gen->SetFrequency(70);
                                  }).AllSamples();
  ASSERT_EQ(got.size(), 500u);
  // 300 samples at 30 Hz are 9 whole cycles: the new tone starts at phase 0.
  for (std::size_t n = 300; n < 500; ++n) EXPECT_NEAR(got[n], SineAt(70, 1000, 1, 0, n - 300), 1e-12) << n;
}

// ---------------------------------------------------------------- noise

struct TNoiseRow {
  TNXNoiseDistribution Distribution;
  double Amplitude;
  std::uint32_t Seed;
  double Mean, Deviation;  // expected
};

class NoiseGenerator : public testing::TestWithParam<TNoiseRow> {};

TEST_P(NoiseGenerator, SeededSequenceWithTheRightStatistics) {
  const TNoiseRow& row = GetParam();
  auto gen = Make<TNXNoiseGenerator>();
  gen->SetDistribution(row.Distribution);
  gen->SetAmplitude(row.Amplitude);
  gen->SetSeed(row.Seed);
  gen->SetBufferSize(1000);
  TRecorder first, second, third;
  const std::vector<double> a = RunClocked(*gen, first, 200).AllSamples();
  // A new stream starts the sequence again, whatever the buffer sizes (odd
  // sizes split the Gaussian pairs across buffers).
  gen->SetBufferSize(7);
  const std::vector<double> b = RunClocked(*gen, second, 1000).AllSamples();
  ASSERT_EQ(a.size(), 200000u);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), a.begin()));
  gen->SetSeed(row.Seed + 1);
  const std::vector<double> c = RunClocked(*gen, third, 1).AllSamples();
  EXPECT_FALSE(std::equal(c.begin(), c.end(), a.begin()));

  double sum = 0, squares = 0, peak = 0;
  for (double v : a) {
    sum += v;
    squares += v * v;
    peak = std::max(peak, std::abs(v));
  }
  const double mean = sum / a.size();
  const double deviation = std::sqrt(squares / a.size() - mean * mean);
  EXPECT_NEAR(mean, row.Mean, 0.01 * row.Amplitude);
  EXPECT_NEAR(deviation, row.Deviation, 0.01 * row.Deviation);
  if (row.Distribution == ndUniform) EXPECT_LE(peak, row.Amplitude);
  else EXPECT_GT(peak, 3.5 * row.Amplitude);  // Gaussian tails reach past 3.5 sigma in 200,000 samples
}

INSTANTIATE_TEST_SUITE_P(Rows, NoiseGenerator,
                         testing::Values(TNoiseRow{ndGaussian, 1.0, 1, 0, 1.0}, TNoiseRow{ndGaussian, 0.25, 77, 0, 0.25},
                                         TNoiseRow{ndUniform, 1.0, 1, 0, 1 / std::sqrt(3.0)},
                                         TNoiseRow{ndUniform, 3.0, 0, 0, 3 / std::sqrt(3.0)}));

// ---------------------------------------------------------------- sound-file player

std::string TestFile(const std::string& AName) {
  const char* dir = std::getenv("NX_TEST_OUTPUT_DIR");
  return (std::filesystem::path(dir ? dir : std::filesystem::temp_directory_path().string()) / AName).string();
}

// A stereo file of 2,500 frames at 22,050 Hz: left = frame / 4096, right = -left / 2.
const std::string& StereoFile() {
  static const std::string name = [] {
    const std::string file = TestFile("example_sources_stereo.wav");
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
    SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<double> frames;
    for (int i = 0; i < 2500; ++i) {
      frames.push_back(i / 4096.0);
      frames.push_back(-i / 8192.0);
    }
    sf_writef_double(f, frames.data(), 2500);
    sf_close(f);
    return file;
  }();
  return name;
}

double Left(std::int64_t AFrame) { return AFrame / 4096.0; }

struct TPlayerRow {
  std::int32_t Channel;
  bool Loop;
  std::int32_t BufferSize, Ticks;
  std::vector<std::size_t> Sizes;  // the buffers expected
  double Scale;                    // of the left channel
};

class WavePlayer : public testing::TestWithParam<TPlayerRow> {};

TEST_P(WavePlayer, PlaysTheChannelAtTheFilesRate) {
  const TPlayerRow& row = GetParam();
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
  for (std::size_t n = 0; n < got.size(); ++n) ASSERT_EQ(got[n], row.Scale * Left(n % 2500)) << n;
  EXPECT_GT(rec.CountOf("TFTStopOperation"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WavePlayer,
    testing::Values(TPlayerRow{0, false, 1000, 10, {1000, 1000, 500}, 1.0},   // stops by itself, last buffer short
                    TPlayerRow{1, false, 2500, 10, {2500}, -0.5},              // the end of the file in one buffer
                    TPlayerRow{-1, false, 1024, 10, {1024, 1024, 452}, 0.25},  // the mean of both channels
                    TPlayerRow{0, true, 1000, 6, {1000, 1000, 1000, 1000, 1000, 1000}, 1.0}));  // wraps around

struct TPlayerErrorRow {
  std::string File;  // "" for the test file
  std::int32_t Channel;
  std::string Expected;
};

class WavePlayerErrors : public testing::TestWithParam<TPlayerErrorRow> {};

TEST_P(WavePlayerErrors, NameTheFile) {
  const TPlayerErrorRow& row = GetParam();
  auto gen = Make<TNXWavePlayer>();
  gen->SetFileName(row.File.empty() ? StereoFile() : TestFile(row.File));
  gen->SetChannel(row.Channel);
  TRecorder rec;
  ASSERT_TRUE(gen->OutputPin().Connect(&rec.Pin));
  const std::string message = MessageOf<EFOpenError>([&] { gen->Start(); });
  EXPECT_NE(message.find(row.Expected), std::string::npos) << message;
  EXPECT_FALSE(gen->IsRunning());
}

INSTANTIATE_TEST_SUITE_P(Rows, WavePlayerErrors,
                         testing::Values(TPlayerErrorRow{"no_such_file.wav", 0, "no_such_file.wav"},
                                         TPlayerErrorRow{"", 2, "example_sources_stereo.wav\" has 2 channel(s)"}));

TEST(WavePlayerPrepare, FindsTheFileBesideTheDocumentAndPlaysIt) {
  auto gen = Make<TNXWavePlayer>();
  gen->SetFileName(std::filesystem::path(StereoFile()).filename().string());
  nx::flow::TFlowRunContext context;
  context.DocumentDir = std::filesystem::path(StereoFile()).parent_path().string();
  gen->FlowPrepare(context);
  EXPECT_TRUE(gen->IsOpen());
  EXPECT_EQ(gen->GetSampleRateValue(), 22050);
  EXPECT_EQ(gen->FileFrames(), 2500);
  TRecorder rec;
  EXPECT_EQ(RunClocked(*gen, rec, 5).AllSamples().size(), 2500u);  // plays the prepared file
  context.DocumentDir = "/nonexistent-dir";
  const std::string message = MessageOf<EFOpenError>([&] { gen->FlowPrepare(context); });
  EXPECT_NE(message.find("/nonexistent-dir/example_sources_stereo.wav"), std::string::npos) << message;
}

}  // namespace
}  // namespace nxtest
