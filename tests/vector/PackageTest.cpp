// Package start-up, dispatch tables and the aligned allocator.
#include "vector/KernelTables.h"

namespace nx {
namespace {

TEST(Package, StartupRanOnceInUnitOrderAndPointersHoldTheBuiltIns) {
  ASSERT_TRUE(PackageInitialized());
  const auto units = PackageUnits();
  const auto log = PackageSectionLog();
  ASSERT_GE(log.size(), units.size());
  for (std::size_t i = 0; i < units.size(); ++i) EXPECT_EQ(log[i], "init:" + units[i]);
  // A second start-up call runs nothing again.
  PackageInitialize();
  EXPECT_EQ(PackageSectionLog().size(), log.size());
  // Without the vendor library every pointer holds the built-in (the missing SVD's null included).
  for (auto table : {NXBasicDispatcher::DispatchTable(), NXScopeDispatcher::DispatchTable(),
                     NXResizeDispatcher::DispatchTable(), NXNormDispatcher::DispatchTable()})
    for (const auto& e : table) EXPECT_EQ(e.Address, e.BuiltIn) << e.Name;
}

TEST(Allocator, AlignedBlocksRejectedSizesAndLibC) {
  EXPECT_EQ(_ippMalloc(0), nullptr);
  EXPECT_EQ(_ippMalloc(-5), nullptr);
  _ippFree(nullptr);  // ignored
  for (int size : {1, 2, 31, 32, 33, 1000, 1 << 20}) {
    void* p = _ippMalloc(size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u) << size;
    // The whole block is usable (ASan checks the bounds).
    static_cast<unsigned char*>(p)[0] = 1;
    static_cast<unsigned char*>(p)[size - 1] = 2;
    _ippFree(p);
  }
  // The C library stand-ins.
  EXPECT_EQ(_floor(-0.5), -1.0);
  EXPECT_EQ(_ceil(-0.5), 0.0);
  EXPECT_EQ(_floor(1e12), 1e12);
  EXPECT_EQ(_atan2(1.0, -1.0), std::atan2(1.0, -1.0));
  char buf[8] = "abcdefg";
  EXPECT_EQ(_memmove(buf + 1, buf, 3), buf + 1);
  EXPECT_STREQ(buf, "aabcefg");
  __chkstk(64 * 1024);  // commits 16 pages without faulting
}

TEST(PackageDispatch, EveryPrimitiveHasATest) { nxtest::CheckPrimitiveGroups("Package"); }

}  // namespace
}  // namespace nx
