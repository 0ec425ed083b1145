// Processing demo: components obtain their means of processing from engines.
//   - "FFTBank" has no engine of its own; its processing pin is linked to a
//     processing manager whose parallel engine hands it a pool of 4 threads.
//     It runs 64 real FFTs of order 16 over that pool with ParallelFor.
//   - "Scaler" has a GPU engine of its own; where an OpenCL platform exists
//     it gets a context on it and runs a small kernel there, otherwise it
//     works on its own thread.
// The program prints what ran where.
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "nxruntime.h"

using namespace nx;

namespace {

// A component with a processing property object, as a filter of the family has.
class TWorker : public TLockComponent {
 public:
  explicit TWorker(const char* AName) : TLockComponent(nullptr), Processing(this) { SetName(AName); }
  TRGProcessing Processing;
};

void RunFFTBank(TWorker& AWorker) {
  TIntfPtr<IExecutor> executor;
  std::int32_t stride = 0;
  TIntfPtr<IOCLContext> context;
  TIntfPtr<IOCLPlatform> platform;
  if (!AWorker.Processing.GetEngines(&AWorker, executor, stride, context, platform) || !executor) {
    std::printf("%s: no executor, nothing to run\n", AWorker.Name().c_str());
    return;
  }
  std::printf("%s: executor with %d threads from the manager, memory stride %d\n", AWorker.Name().c_str(),
              executor->ThreadCount(), stride);

  constexpr int kOrder = 16, kCount = 64;
  constexpr std::size_t kN = std::size_t(1) << kOrder;
  IppsFFTSpec_R_64f* spec = nullptr;
  if (ippsFFTInitAlloc_R_64f(&spec, kOrder, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone) != ippStsNoErr) return;
  // Signal k is a cosine at bin k + 1: its spectrum has one line there.
  std::vector<std::vector<double>> spectra(kCount, std::vector<double>(kN + 2));
  std::vector<int> peaks(kCount, -1);
  std::mutex tidsLock;
  std::set<std::int32_t> tids;
  ParallelFor(*executor, kCount, [&](std::int64_t first, std::int64_t last) {
    {
      std::lock_guard lk(tidsLock);
      tids.insert(CurrentThreadTid());
    }
    std::vector<double> x(kN);
    for (std::int64_t k = first; k < last; ++k) {
      for (std::size_t i = 0; i < kN; ++i) x[i] = std::cos(2 * M_PI * double(k + 1) * double(i) / double(kN));
      ippsFFTFwd_RToCCS_64f(x.data(), spectra[k].data(), spec, nullptr);
      double best = -1;
      for (std::size_t bin = 0; bin <= kN / 2; ++bin) {
        const double m = std::hypot(spectra[k][2 * bin], spectra[k][2 * bin + 1]);
        if (m > best) best = m, peaks[k] = int(bin);
      }
    }
  });
  ippsFFTFree_R_64f(spec);
  int right = 0;
  for (int k = 0; k < kCount; ++k) right += peaks[k] == k + 1;
  std::printf("%s: %d real FFTs of %zu points on %zu threads (the caller's included); %d of %d peaks in place\n",
              AWorker.Name().c_str(), kCount, kN, tids.size(), right, kCount);
}

void RunScaler(TWorker& AWorker) {
  TIntfPtr<IExecutor> executor;
  std::int32_t stride = 0;
  TIntfPtr<IOCLContext> context;
  TIntfPtr<IOCLPlatform> platform;
  std::vector<float> data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = float(i);
  if (!AWorker.Processing.GetEngines(&AWorker, executor, stride, context, platform) || !context) {
    for (float& v : data) v *= 2;
    std::printf("%s: no OpenCL platform; scaled %zu values on its own thread (last %.0f)\n", AWorker.Name().c_str(),
                data.size(), data.back());
    return;
  }
  auto devices = context->GetDevices();
  std::printf("%s: OpenCL context on platform \"%s\", %zu device(s), first \"%s\" (%s)\n", AWorker.Name().c_str(),
              platform->GetName().c_str(), devices.size(), devices[0]->GetName().c_str(),
              devices[0]->GetTypeName().c_str());
  auto program = context->CreateProgram(
      "__kernel void scale(__global float* x, const float f) { size_t i = get_global_id(0); x[i] = x[i] * f; }");
  program->Build();
  auto kernel = program->CreateKernel("scale");
  const std::size_t bytes = data.size() * sizeof(float);
  auto buffer = context->CreateBuffer({TOCLMemoryFlag::mfReadWrite}, bytes);
  auto queue = context->GetDefaultQueue();
  buffer->Write(queue, data.data(), bytes);
  kernel->SetArg(0, buffer);
  kernel->SetValue(1, 2.0f);
  queue->EnqueueNDRange(kernel, {data.size()})->Wait();
  buffer->Read(queue, data.data(), bytes);
  std::printf("%s: kernel \"scale\" ran over %zu values on the device (last %.0f)\n", AWorker.Name().c_str(),
              data.size(), data.back());
}

}  // namespace

int main() {
  auto* manager = new TRGProcessingManager(nullptr);
  manager->SetName("Manager");
  auto* parallel = static_cast<TRGParallelProcessingEngine*>(
      manager->Processing().Engines().Add(TRGParallelProcessingEngine::StaticClassInfo()));
  parallel->Pool().SetCount(4);

  auto* bank = new TWorker("FFTBank");
  bank->Processing.ProcessingPin().Connect(&manager->ProcessingPin());
  RunFFTBank(*bank);
  std::printf("Manager owns %d executor(s); FFTBank owns %d\n", manager->ComponentCount(), bank->ComponentCount());

  auto* scaler = new TWorker("Scaler");
  scaler->Processing.Engines().Add(TRGGPUProcessingEngine::StaticClassInfo());
  try {
    RunScaler(*scaler);
  } catch (const EOpenCLError& e) {
    std::printf("Scaler: OpenCL failed: %s\n", e.what());
  }

  // Freeing the manager ends the threads of the executors it handed out.
  TComponent::Free(scaler);
  TComponent::Free(bank);
  TComponent::Free(manager);
  return 0;
}
