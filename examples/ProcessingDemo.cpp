// Processing demo: components obtain their means of processing from engines.
//   - "FFTBank" has no engine of its own; its processing pin is linked to a
//     processing manager whose parallel engine hands it a pool of 4 threads.
//     It runs 64 real FFTs of order 16 over that pool with ParallelFor.
//   - "Scaler" has a GPU engine of its own; where an OpenCL platform exists
//     it gets a context on it and runs a small kernel over a real buffer
//     through the buffer's proxy, checked against the same computation on
//     the processor; without a platform the engine answers no.
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
  if (!AWorker.Processing.GetEngines(&AWorker, executor, stride, context, platform) || !context) {
    std::printf("%s: no OpenCL platform: the GPU engine answered no\n", AWorker.Name().c_str());
    return;
  }
  auto devices = context->GetDevices();
  std::printf("%s: OpenCL context on platform \"%s\", %zu device(s), first \"%s\" (%s)\n", AWorker.Name().c_str(),
              platform->GetName().c_str(), devices.size(), devices[0]->GetName().c_str(),
              devices[0]->GetTypeName().c_str());
  // The kernel works on a real buffer through the buffer's proxy: the
  // block's samples go up on Lock and the results come back on Unlock.
  auto program = context->CreateProgram(
      "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n"
      "__kernel void affine(__global double* x, const double a, const double b) {"
      "  size_t i = get_global_id(0); x[i] = a * x[i] + b; }");
  program->Build();
  auto kernel = program->CreateKernel("affine");
  constexpr std::uint32_t kN = 1024;
  const auto samples = TNXRealBuffer::MakeSize(kN);
  double* x = samples->Write();
  std::vector<double> expected(kN);
  for (std::uint32_t i = 0; i < kN; ++i) {
    x[i] = 0.5 * i;
    expected[i] = 3.0 * x[i] + 1.0;  // the same computation on the processor
  }
  TIntfPtr<INXOpenCLBufferProxy> proxy(
      new TNXOpenCLBufferProxy(TIntfPtr<INXGenericBuffer>(samples), context, {TOCLMemoryFlag::mfReadWrite}));
  proxy->Lock({TBufferAccessMode::Read, TBufferAccessMode::Write});
  kernel->SetArg(0, proxy->GetBuffer());
  kernel->SetValue(1, 3.0);
  kernel->SetValue(2, 1.0);
  context->GetDefaultQueue()->EnqueueNDRange(kernel, {kN})->Wait();
  proxy->Unlock();
  const double* y = samples->Read();
  std::uint32_t same = 0;
  for (std::uint32_t i = 0; i < kN; ++i) same += y[i] == expected[i];
  std::printf("%s: kernel \"affine\" ran over a %u-sample buffer through its proxy; %u of %u samples equal the "
              "processor's result\n",
              AWorker.Name().c_str(), kN, same, kN);
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
