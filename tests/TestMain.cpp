// The shared main of the test programs. A listener checks that every test
// leaves as many live buffers and data blocks as it found: a test that leaks
// a buffer or a block fails itself.
#include <gtest/gtest.h>

#include "buffers/NXInternalStore.h"

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

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new TBufferLeakListener);
  return RUN_ALL_TESTS();
}
