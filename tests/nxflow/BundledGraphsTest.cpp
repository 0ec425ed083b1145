// The bundled graphs of examples/graphs run through `nxflow run` with the
// example package, and what they write is checked for content: the filter
// demo's spectra against the FIR design report, the mixer's output against
// the sum of its inputs, the WAV round trip sample for sample, and two runs of
// each graph byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "nxflow/NXFlowHost.h"

namespace {
using namespace nx;
using namespace nx::flow;
namespace fs = std::filesystem;

const fs::path kGraphs = NX_FLOW_GRAPHS;

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
  while (std::getline(in, line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    rows.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
  }
  return rows;
}

class BundledGraphsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") /
           ("bundled-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(FDir);
  }
  // Runs nxflow with the example package; the report, or a failure.
  std::string Run(std::vector<std::string> AArgs) {
    AArgs.insert(AArgs.begin(), {"--packages", NX_FLOW_PACKAGES, "run"});
    std::ostringstream out, err;
    const int status = RunCommandLine(AArgs, out, err);
    EXPECT_EQ(status, 0) << err.str();
    return out.str();
  }
  fs::path FDir;
};

TEST_F(BundledGraphsTest, FilterDemoRemovesWhatItsDesignPromises) {
  const fs::path out = FDir / "filter";
  const std::string report = Run({(kGraphs / "filter-demo.xml").string(), "--seconds", "10", "--out", out.string()});
  for (const char* name : {"mix", "lowpass", "bandpass"})
    for (const char* kind : {"-scope.png", "-scope.csv", "-spectrum.png", "-spectrum.csv"}) {
      const fs::path file = out / (std::string(name) + kind);
      EXPECT_TRUE(fs::exists(file)) << file;
      EXPECT_NE(report.find(file.string()), std::string::npos) << report;
    }

  // The FIR low-pass as the graph designs it, measured over a stop band
  // that starts past its transition.
  const double rate = 48000, stopEdge = 5000;
  const TIntfPtr<TNXFilterInfo> fir =
      NXFilterCalc(ftFIR, fdftLowPass, 128, 2000, 0, rate, wtBlackman, iirButterworth, 0);
  const TNXBand pass{0, 1000 / rate}, stop{stopEdge / rate, 0.5};
  const double promised = fir->DesignReport({&pass, 1}, {&stop, 1}).StopbandAttenuationDb;
  ASSERT_GT(promised, 60);

  const auto mix = ReadCsv(out / "mix-spectrum.csv");
  const auto low = ReadCsv(out / "lowpass-spectrum.csv");
  const auto band = ReadCsv(out / "bandpass-spectrum.csv");
  ASSERT_EQ(mix.size(), 2049u);
  ASSERT_EQ(low.size(), mix.size());
  ASSERT_EQ(band.size(), mix.size());
  double worst = -1e9;
  for (std::size_t k = 0; k < mix.size(); ++k) {
    ASSERT_NEAR(low[k].first, k * rate / 4096, 1e-6);
    if (mix[k].first >= stopEdge) worst = std::max(worst, low[k].second - mix[k].second);
  }
  // The noise fills every bin: the filtered spectrum lies below the mix by
  // at least the promised attenuation (3 dB for the estimate's scatter).
  EXPECT_LE(worst, -promised + 3) << "promised " << promised << " dB";

  // The band-pass keeps the 7 kHz tone and removes the 440 Hz one.
  auto at = [&](const std::vector<std::pair<double, double>>& ASpectrum, double AHz) {
    return ASpectrum[static_cast<std::size_t>(std::lround(AHz * 4096 / rate))].second;
  };
  EXPECT_NEAR(at(band, 7000), at(mix, 7000), 1.0);
  EXPECT_LT(at(band, 440) - at(mix, 440), -40);
  EXPECT_NEAR(at(low, 440), at(mix, 440), 0.5);
}

TEST_F(BundledGraphsTest, MixerOutputIsTheSumOfItsInputs) {
  const fs::path out = FDir / "mixer";
  Run({(kGraphs / "mixer-demo.xml").string(), "--out", out.string()});
  const auto slow = ReadCsv(out / "slow.csv");
  const auto fast = ReadCsv(out / "fast.csv");
  const auto mix = ReadCsv(out / "mix.csv");
  ASSERT_GE(slow.size(), 15000u);
  ASSERT_GE(mix.size(), 30000u);
  ASSERT_LE(mix.size(), fast.size());
  // The slow input's 512 samples of each output buffer are stretched to
  // 1,024 by nearest sample (position step 511/1024, halves to even).
  for (std::size_t n = 0; n < mix.size(); ++n) {
    const std::size_t k = n / 1024, i = n % 1024;
    const auto j = std::min<std::int64_t>(static_cast<std::int64_t>(std::nearbyint(i * 511.0 / 1024)), 511);
    ASSERT_EQ(mix[n].second, slow[k * 512 + static_cast<std::size_t>(j)].second + fast[n].second) << "sample " << n;
  }
}

TEST_F(BundledGraphsTest, WavRoundTripGivesBackEverySample) {
  const fs::path out = FDir / "wav";
  const std::string report =
      Run({(kGraphs / "wav-write.xml").string(), (kGraphs / "wav-read.xml").string(), "--out", out.string()});
  const std::string generated = ReadAll(out / "generated.csv");
  EXPECT_EQ(std::count(generated.begin(), generated.end(), '\n'), 88201);  // header + 2 s at 44.1 kHz
  EXPECT_EQ(ReadAll(out / "played.csv"), generated);
  const auto levels = ReadCsv(out / "levels.csv");
  ASSERT_EQ(levels.size(), 200u);  // one per buffer of 441
  for (const auto& [index, rms] : levels) EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 1e-3);
  EXPECT_NE(report.find("peak -6.02 dBFS"), std::string::npos) << report;
}

TEST_F(BundledGraphsTest, VirtualTimeRunsWriteTheSameBytesEveryTime) {
  struct TCase {
    std::vector<std::string> Graphs;
    std::vector<std::string> Files;
  };
  const std::vector<TCase> cases = {
      {{"filter-demo.xml"}, {"mix-scope.csv", "lowpass-spectrum.csv", "bandpass-spectrum.csv", "mix-spectrum.png"}},
      {{"mixer-demo.xml"}, {"mix.csv", "mix-scope.png"}},
      {{"wav-write.xml", "wav-read.xml"}, {"tone.wav", "played.csv", "levels.csv"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Graphs[0]);
    std::map<std::string, std::string> first;
    for (int round = 0; round < 2; ++round) {
      const fs::path out = FDir / (c.Graphs[0] + std::to_string(round));
      std::vector<std::string> args;
      for (const std::string& g : c.Graphs) args.push_back((kGraphs / g).string());
      args.insert(args.end(), {"--seconds", "1.5", "--out", out.string()});
      Run(args);
      for (const std::string& f : c.Files) {
        const std::string bytes = ReadAll(out / f);
        EXPECT_FALSE(bytes.empty()) << f;
        if (round == 0) first[f] = bytes;
        else EXPECT_TRUE(bytes == first[f]) << f << " differs between two runs";
      }
    }
  }
}

TEST_F(BundledGraphsTest, TheReadmesOwnPackageClipsAtItsLevel) {
  const fs::path out = FDir / "clipper";
  Run({(kGraphs / "clipper-demo.xml").string(), "--set", "Clip.Level=0.25", "--out", out.string()});
  const auto clipped = ReadCsv(out / "clipped-samples.csv");
  ASSERT_EQ(clipped.size(), 48000u);
  double low = 0, high = 0;
  for (const auto& [n, value] : clipped) {
    const double tone = std::sin(2 * M_PI * 200 * n / 48000);
    EXPECT_NEAR(value, std::clamp(tone, -0.25, 0.25), 1e-9) << "sample " << n;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  EXPECT_EQ(low, -0.25);
  EXPECT_EQ(high, 0.25);

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
