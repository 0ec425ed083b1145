// Test helpers for the example package: a source pin that sends a stream in
// buffers of a chosen size, a sink pin that keeps what arrives, a seeded
// noise sequence and the test output folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "buffers/NXSimpleDataBuffer.h"
#include "streams/NXStreamTypes.h"

namespace nx::examples::testing {

// Sends a stream: its start with a rate, samples in buffers, its stop.
struct TFeed {
  TNXFTRealSourcePin Out{"Out"};
  void Start(double ARate) { Out.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  // AData in buffers of ABufferSize samples (the last one shorter).
  void Send(const std::vector<double>& AData, std::size_t ABufferSize) {
    for (std::size_t at = 0; at < AData.size(); at += ABufferSize) {
      const std::size_t n = std::min(ABufferSize, AData.size() - at);
      Out.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeData(AData.data() + at, std::uint32_t(n))));
    }
  }
  void Stop() { Out.Stop(); }
};

// Keeps the buffers and starts that arrive.
struct TCollector {
  TNXFTRealSinkPin In{"In"};
  std::mutex Lock;
  std::vector<std::vector<double>> Buffers;
  std::vector<double> Rates;
  bool SpectrumStart = false;
  bool Stopped = false;
  std::condition_variable StopArrived;

  // Waits (at most a minute) for a stop operation.
  bool WaitStop() {
    std::unique_lock lk(Lock);
    return StopArrived.wait_for(lk, std::chrono::seconds(60), [&] { return Stopped; });
  }

  TCollector() {
    In.SetGenericDispatch([this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op, TFTNotifyState) {
      std::lock_guard g(Lock);
      if (const auto* start = op->As<TFTStartSampleRateOperation>()) {
        Rates.push_back(start->GetSampleRate());
        SpectrumStart = op->IsType<TFTStartSpectrumOperation>();
      }
      if (op->IsType<TFTStopOperation>()) {
        Stopped = true;
        StopArrived.notify_all();
      }
      if (const auto* supplied = op->As<TFTTypedSuppliedDataOperation>()) {
        const auto buffer = TNXRealBuffer::MakeUniversal(supplied->GetValue());
        Buffers.emplace_back(buffer->Read(), buffer->Read() + buffer->GetSize());
      }
      return true;
    });
  }
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

}  // namespace nx::examples::testing
