// A tour of the vector primitive layer: which primitives came from the vendor
// library and which are built in, which SIMD target the built-in kernels run
// on, and a few primitives applied to a generated signal.
#include <cmath>
#include <cstdio>
#include <vector>

#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"

using namespace nx;

namespace {

void Check(IppStatus st, const char* what) {
  if (st != ippStsNoErr) std::printf("  %s returned %d (%s)\n", what, st, StatusName(st));
}

}  // namespace

int main() {
  std::printf("nxruntime primitive layer\n");
  std::printf("  vendor signal library loaded: %s\n", RGIPPSLoader::CheckIPPSDLLs() ? "yes" : "no");
  std::printf("  vendor image libraries loaded: %s\n", RGIPPILoader::CheckIPPSDLLs() ? "yes" : "no");
  std::printf("  SIMD target of the built-in kernels: %s\n", builtin::SimdTargetName());

  int vendor = 0, own = 0, missing = 0;
  for (auto table : {NXBasicDispatcher::DispatchTable(), NXScopeDispatcher::DispatchTable(),
                     NXResizeDispatcher::DispatchTable(), NXNormDispatcher::DispatchTable()}) {
    for (const auto& e : table) {
      if (!e.Address) {
        ++missing;
        std::printf("  %-28s %-20s not available\n", e.Name, e.Unit);
      } else if (e.FromVendor) {
        ++vendor;
        std::printf("  %-28s %-20s vendor library\n", e.Name, e.Unit);
      } else {
        ++own;
      }
    }
  }
  std::printf("  %d primitives from the vendor library, %d built in, %d not available\n\n", vendor,
              own, missing);

  // A 1 kHz tone with a 7 kHz interferer at 48 kHz, plus uniform noise.
  const int n = 4800;
  const double fs = 48000.0;
  std::vector<double> tone(n), noise(n), signal(n);
  for (int i = 0; i < n; ++i) {
    tone[i] = std::sin(2 * M_PI * 1000.0 * i / fs) + 0.5 * std::sin(2 * M_PI * 7000.0 * i / fs);
  }
  unsigned int seed = 12345;
  Check(ippsRandUniform_Direct_64f(noise.data(), n, -0.1, 0.1, &seed), "ippsRandUniform_Direct_64f");
  Check(ippsAdd_64f(tone.data(), noise.data(), signal.data(), n), "ippsAdd_64f");

  double mean = 0, sd = 0, mn = 0, mx = 0, energy = 0;
  Check(ippsMean_64f(signal.data(), n, &mean), "ippsMean_64f");
  Check(ippsStdDev_64f(signal.data(), n, &sd), "ippsStdDev_64f");
  Check(ippsMinMax_64f(signal.data(), n, &mn, &mx), "ippsMinMax_64f");
  Check(ippsDotProd_64f(signal.data(), signal.data(), n, &energy), "ippsDotProd_64f");
  std::printf("signal: %d samples, mean %.4f, std dev %.4f, min %.4f, max %.4f, energy %.1f\n", n,
              mean, sd, mn, mx, energy);

  // A 31-tap windowed-sinc low-pass at 3 kHz removes the 7 kHz interferer.
  const int taps = 31;
  std::vector<double> h(taps);
  for (int k = 0; k < taps; ++k) {
    const double m = k - (taps - 1) / 2.0;
    const double fc = 3000.0 / fs;
    h[k] = m == 0 ? 2 * fc : std::sin(2 * M_PI * fc * m) / (M_PI * m);
  }
  Check(ippsWinHamming_64f_I(h.data(), taps), "ippsWinHamming_64f_I");
  double gain = 0;
  Check(ippsSum_64f(h.data(), taps, &gain), "ippsSum_64f");
  Check(ippsMulC_64f_I(1.0 / gain, h.data(), taps), "ippsMulC_64f_I");
  IppsFIRState_64f* fir = nullptr;
  std::vector<double> filtered(n);
  Check(ippsFIRInitAlloc_64f(&fir, h.data(), taps, nullptr), "ippsFIRInitAlloc_64f");
  if (fir) {
    Check(ippsFIR_64f(signal.data(), filtered.data(), n, fir), "ippsFIR_64f");
    Check(ippsFIRFree_64f(fir), "ippsFIRFree_64f");
  }
  // The filter delays by (taps - 1) / 2 samples; compare past its start-up.
  const int delay = (taps - 1) / 2, skip = taps;
  std::vector<double> lowTone(n - skip);
  for (int i = 0; i < n - skip; ++i) lowTone[i] = std::sin(2 * M_PI * 1000.0 * (i + skip - delay) / fs);
  double residual = 0;
  Check(ippsNormDiff_L2_64f(filtered.data() + skip, lowTone.data(), n - skip, &residual),
        "ippsNormDiff_L2_64f");
  std::printf("low-pass FIR (%d taps): rms distance to the clean 1 kHz tone %.4f\n", taps,
              residual / std::sqrt(static_cast<double>(n - skip)));

  int maxIndex = 0;
  double peak = 0;
  Check(ippsMaxIndx_64f(filtered.data(), n, &peak, &maxIndex), "ippsMaxIndx_64f");
  std::vector<float> single(n);
  Check(ippsConvert_64f32f(filtered.data(), single.data(), n), "ippsConvert_64f32f");
  std::printf("filtered peak %.4f at sample %d (as single: %.4f)\n", peak, maxIndex,
              static_cast<double>(single[maxIndex]));
  return 0;
}
