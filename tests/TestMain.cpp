// The shared main of the test programs. A listener checks that every test
// leaves as many live buffers and data blocks as it found: a test that leaks
// a buffer or a block fails itself.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "buffers/NXInternalStore.h"
#include "vector/builtin/NXBuiltins.h"

namespace {

class TBufferLeakListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    FBuffers = nx::_NXCountPasBuffers.load();
    FStores = nx::_NXCountStores.load();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    const int buffers = nx::_NXCountPasBuffers.load(), stores = nx::_NXCountStores.load();
    if (buffers != FBuffers || stores != FStores)
      ADD_FAILURE() << "live buffers " << FBuffers << " -> " << buffers << ", live data blocks " << FStores << " -> "
                    << stores << " over this test";
  }

 private:
  int FBuffers = 0;
  int FStores = 0;
};

// The exit status that ctest counts as a skipped test.
constexpr int kSkipped = 77;

// NX_TEST_SIMD_TARGET=AVX2 (SSE4, SCALAR ...) runs the program on that SIMD
// target instead of the best one this processor has, so that the kernels of
// every target compiled into the library are tested on one machine. Returns
// false when the target is not available here.
bool ForceSimdTarget(const char* AName) {
  for (std::int64_t target : nx::builtin::SimdTargets()) {
    if (std::strcmp(hwy::TargetName(target), AName) != 0) continue;
    nx::builtin::SetSimdTargetsForTest(target);
    return std::strcmp(nx::builtin::SimdTargetName(), AName) == 0;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (const char* target = std::getenv("NX_TEST_SIMD_TARGET"); target != nullptr && *target != 0) {
    if (!ForceSimdTarget(target)) {
      std::printf("SIMD target %s is not available on this machine: skipped\n", target);
      return kSkipped;
    }
    std::printf("Running on the SIMD target %s\n", target);
  }
  ::testing::UnitTest::GetInstance()->listeners().Append(new TBufferLeakListener);
  return RUN_ALL_TESTS();
}
