// Benchmarks of the OpenCL data block proxy: the upload and the download of a
// 1,000,000-sample real buffer through its proxy against a plain
// clEnqueueWriteBuffer / clEnqueueReadBuffer of the same bytes on the same
// device and queue, in the same run (goal: within 1.5x, a ratio of at least
// 0.67). Without an OpenCL platform the program says so and measures nothing.
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include "BenchSupport.h"
#include "nxruntime.h"

namespace {

using namespace nx;
using TBuffer = TIntfPtr<INXRealBuffer>;

constexpr std::uint32_t kCount = 1000000;
constexpr std::int64_t kBytes = std::int64_t{kCount} * 8;
constexpr TBufferAccessMode R = TBufferAccessMode::Read, W = TBufferAccessMode::Write;

TIntfPtr<IOCLContext> gContext;

TBuffer Sample() {
  TBuffer b = TNXRealBuffer::MakeSize(kCount);
  double* p = b->Write();
  for (std::uint32_t i = 0; i < kCount; ++i) p[i] = i * 0.5;
  return b;
}

// The proxy's transfers: an upload is host write access (the device copy goes
// stale) then a Read lock, which uploads; a download is a Write lock (no
// upload) given back, which downloads.
void ProxyTransfer(benchmark::State& state, bool AUpload) {
  TBuffer b = Sample();
  TIntfPtr<INXOpenCLBufferProxy> handle(new TNXOpenCLBufferProxy(b, gContext, TOCLMemoryFlag::mfReadWrite));
  for (auto _ : state) {
    if (AUpload) benchmark::DoNotOptimize(b->Write());
    handle->Lock(AUpload ? R : W);
    handle->Unlock();
  }
  benchmark::DoNotOptimize(b->Read());
  state.SetBytesProcessed(state.iterations() * kBytes);
}

// A plain blocking transfer of the same bytes, straight through the OpenCL calls.
void PlainTransfer(benchmark::State& state, bool AUpload) {
  std::vector<double> host(kCount, 0.5);
  cl_command_queue queue = gContext->GetDefaultQueue()->Handle();
  cl_int rc = CL_SUCCESS;
  cl_mem mem = clCreateBuffer(gContext->Handle(), CL_MEM_READ_WRITE, kBytes, nullptr, &rc);
  for (auto _ : state)
    rc |= AUpload ? clEnqueueWriteBuffer(queue, mem, CL_TRUE, 0, kBytes, host.data(), 0, nullptr, nullptr)
                  : clEnqueueReadBuffer(queue, mem, CL_TRUE, 0, kBytes, host.data(), 0, nullptr, nullptr);
  clReleaseMemObject(mem);
  if (rc != CL_SUCCESS) state.SkipWithError("OpenCL call failed");
  benchmark::DoNotOptimize(host.data());
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_ProxyUpload(benchmark::State& state) { ProxyTransfer(state, true); }
void BM_ProxyDownload(benchmark::State& state) { ProxyTransfer(state, false); }
void BM_PlainWrite(benchmark::State& state) { PlainTransfer(state, true); }
void BM_PlainRead(benchmark::State& state) { PlainTransfer(state, false); }
BENCHMARK(BM_ProxyUpload)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProxyDownload)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainWrite)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainRead)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The four cases run interleaved, nine times each, and their medians are
  // compared (unless the command line says otherwise): the transfers run on
  // the implementation's threads, and single runs on a shared machine swing
  // by a factor of two.
  std::vector<char*> args(argv, argv + argc);
  bool repetitionsGiven = false;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) repetitionsGiven = true;
  static char kRepetitions[] = "--benchmark_repetitions=9", kInterleave[] = "--benchmark_enable_random_interleaving=true",
              kAggregates[] = "--benchmark_report_aggregates_only=true";
  if (!repetitionsGiven) args.insert(args.begin() + 1, {kRepetitions, kInterleave, kAggregates});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  for (const auto& platform : TOpenCL::GetPlatforms()) {
    auto devices = platform->GetDevices();
    if (devices.empty()) continue;
    gContext = TOCLContext::Make(devices);
    std::printf("OpenCL: %s, %s (%s)\n", platform->GetName().c_str(), devices[0]->GetName().c_str(),
                devices[0]->GetTypeName().c_str());
    break;
  }
  if (!gContext) {
    std::printf("No OpenCL platform with a device is present: nothing measured.\n");
    return 0;
  }
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  // Medians where there are repetitions; real time, since the transfers run
  // on the implementation's threads.
  auto pick = [&](const char* AName) {
    const std::string median = std::string(AName) + "/real_time_median";
    return rep.Time(median) > 0 ? median : std::string(AName);
  };
  nxbench::PrintRatios(rep, "1,000,000 doubles through the OpenCL proxy against plain transfers (real time)",
                       {{"upload (Read lock after a host write)", pick("BM_ProxyUpload"), pick("BM_PlainWrite"), 0.67},
                        {"download (Write lock given back)", pick("BM_ProxyDownload"), pick("BM_PlainRead"), 0.67}},
                       "plain/ours");
  gContext = nullptr;
  benchmark::Shutdown();
  return 0;
}
