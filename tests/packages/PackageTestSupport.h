// What the example package's tests share: the components' recording sink
// pin, a source pin that feeds a component from the test's thread,
// owning pointers that free components the way their owners would, a seeded
// noise sequence and the test output folder.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "../components/ComponentTestSupport.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/Zandor.Components.h"
#include "streams/NXStreamTypes.h"

namespace nxtest {
using namespace nx;

template <class T>
using TOwned = nx::test::TComponentPtr<T>;

template <class T>
TOwned<T> Make() {
  return TOwned<T>(new T(nullptr));
}

// Records what arrives (deliveries may come from clock threads).
using TRecorder = nx::test::TRecordingSink<TNXFTRealSinkPin>;

// Feeds a stream into a pin from the test's thread.
class TFeeder {
 public:
  ~TFeeder() { FPin.DisconnectAll(); }
  TNXFTRealSourcePin& Pin() { return FPin; }
  void Start(double ARate) { FPin.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  void Stop() { FPin.Stop(); }
  // Sends ASamples cut into buffers of the given sizes, in turn (the last
  // size repeats).
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
  void Send(const std::vector<double>& ASamples, std::size_t ABufferSize) {
    Send(ASamples, std::vector<std::int32_t>{static_cast<std::int32_t>(ABufferSize)});
  }

 private:
  TNXFTRealSourcePin FPin{"Feeder"};
};

// A reproducible uniform sequence in [-1, 1).
inline std::vector<double> Noise(std::size_t ACount, std::uint64_t ASeed) {
  std::vector<double> out(ACount);
  std::uint64_t s = ASeed * 6364136223846793005ull + 1442695040888963407ull;
  for (double& v : out) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    v = double(s >> 11) / double(1ull << 52) - 1;
  }
  return out;
}

// A fresh folder under the test output folder.
inline std::string OutputFolder(const std::string& AName) {
  const char* base = std::getenv("NX_TEST_OUTPUT_DIR");
  const std::filesystem::path dir = std::filesystem::path(base ? base : "/tmp") / "packages" / AName;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

inline std::string ReadFileBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace nxtest
