// Prints where each dispatch pointer came from and calls a few primitives (run with stand-in vendor libraries).
#include <cstdio>
#include <cstdlib>

#include "nxruntime.h"

int main() {
  using namespace nx;
  std::printf("signal %d image %d\n", RGIPPSLoader::CheckIPPSDLLs() ? 1 : 0,
              RGIPPILoader::CheckIPPSDLLs() ? 1 : 0);
  for (auto table : {NXBasicDispatcher::DispatchTable(), NXScopeDispatcher::DispatchTable(),
                     NXResizeDispatcher::DispatchTable(), NXNormDispatcher::DispatchTable()})
    for (const auto& e : table)
      std::printf("entry %s %s %s\n", e.Unit, e.Name,
                  e.Address == nullptr ? "null" : (e.FromVendor ? "vendor" : "builtin"));
  double a[2] = {1, 2}, b[2] = {3, 4}, d[2] = {0, 0}, s = 0;
  IppStatus st = ippsAdd_64f(a, b, d, 2);
  std::printf("add %d %g %g\n", st, d[0], d[1]);
  st = ippsSum_64f(a, 2, &s);
  std::printf("sum %d %g\n", st, s);
  Ipp8u img[2 * 8] = {};
  st = ippiCopy_8u_C4R(img, 8, img + 8, 8, IppiSize{1, 1});
  std::printf("copy %d %u\n", st, static_cast<unsigned>(img[8]));
  std::printf("kmp %s\n", std::getenv("KMP_AFFINITY"));
  return 0;
}
