// Data block proxies: finding and sharing proxies through the block, weak references, copy on
// write, the Lock/Unlock rule, and the OpenCL proxy keeping a device copy in step with the block.
#include <atomic>
#include <thread>

#include "BufferTestSupport.h"
#include "OpenCLSupport.h"
#include "buffers/NXSmartBufferProxy.h"
#include "buffers/Zandor.OpenCL.DataBufferProxy.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;
constexpr TBufferAccessMode R = TBufferAccessMode::Read, W = TBufferAccessMode::Write;

// A proxy that records its synchronisations; parameter 0 (an integer) must match.
class TTestProxy : public TNXSmartBufferProxy {
 public:
  TTestProxy(TNXSmartBuffer* ABlock, const TNXProxyParameters& AParameters)
      : TNXSmartBufferProxy(ABlock, AParameters), FKey(AParameters.empty() ? 0 : AParameters[0].AsInt64()) {}
  bool MatchesParameters(const TNXProxyParameters& AParameters) override {
    return (AParameters.empty() ? 0 : AParameters[0].AsInt64()) == FKey;
  }
  void Syncronize(TBufferAccessModes AModes) override { Syncs.push_back(AModes); }
  std::vector<TBufferAccessModes> Syncs;

 private:
  std::int64_t FKey;
};
struct TOtherProxy : TTestProxy {
  using TTestProxy::TTestProxy;
};

const TNXSmartBufferProxyClass& TestClass() { return TNXSmartBufferProxyClass::Of<TTestProxy>(); }

TEST(ProxyLocks, SynchroniseWhenTheLastLockGoesWithTheModesSinceTheLastTime) {
  int a, b, c;  // owners
  struct TStep {  // a lock with Modes, or (no modes) an unlock
    const void* Owner;
    TBufferAccessModes Modes;
  };
  const std::tuple<const char*, std::vector<TStep>, std::vector<TBufferAccessModes>> cases[] = {
      {"two owners", {{&a, R}, {&b, W}, {&a, {}}}, {}},
      {"two owners, both gone", {{&a, R}, {&b, W}, {&a, {}}, {&b, {}}}, {{R, W}}},
      {"relock replaces the entry, modes add up", {{&a, R}, {&a, W}, {&a, {}}}, {{R, W}}},
      {"modes start again after a synchronisation", {{&a, R}, {&a, {}}, {&b, W}, {&b, {}}}, {R, W}},
      {"unlock of an owner without a lock", {{&a, R}, {&c, {}}}, {}},
      {"unlock twice", {{&a, W}, {&a, {}}, {&a, {}}}, {W}},
  };
  for (const auto& [name, steps, syncs] : cases) {
    TBuffer buffer = Ramp(4);
    TIntfPtr<INXSmartBufferProxy> proxy = buffer->GetProxy(TestClass(), {});
    for (const TStep& s : steps) s.Modes == TBufferAccessModes{} ? proxy->Unlock(s.Owner) : proxy->Lock(s.Owner, s.Modes);
    EXPECT_EQ(static_cast<TTestProxy*>(proxy->GetInstance())->Syncs, syncs) << name;
  }
}

TEST(ProxyLookup, BuffersOnOneBlockShareItsProxiesWhichFollowTheBlock) {
  TBuffer a = Ramp(8), b = CopyOf(a), other = Ramp(8);
  const TNXProxyParameters one{TVariant(std::int32_t{1})}, two{TVariant(std::int32_t{2})};
  auto p1 = a->GetProxy(TestClass(), one);
  const std::tuple<const char*, TIntfPtr<INXSmartBufferProxy>, bool> cases[] = {
      {"second buffer, same parameters", b->GetProxy(TestClass(), one), true},
      {"same buffer again", a->GetProxy(TestClass(), one), true},
      {"other parameters", b->GetProxy(TestClass(), two), false},
      {"other class", b->GetProxy(TNXSmartBufferProxyClass::Of<TOtherProxy>(), one), false},
      {"other block", other->GetProxy(TestClass(), one), false},
  };
  for (const auto& [name, found, same] : cases) EXPECT_EQ(found.Get() == p1.Get(), same) << name;
  EXPECT_EQ(p1->GetInstance()->Block(), BlockOf(a));
  // The block holds its proxies weakly; a writer's new block has none; a proxy outliving its block forgets it.
  TIntfPtr<INXSmartBufferProxy> first = a->GetProxy(TestClass(), {});
  TWeakIntfPtr<INXSmartBufferProxy> watch(first);
  first = nullptr;
  EXPECT_FALSE(watch.Lock()) << "the block kept its proxy alive";
  auto shared = a->GetProxy(TestClass(), {});
  EXPECT_TRUE(static_cast<TTestProxy*>(shared->GetInstance())->Syncs.empty());
  a->SetItem(0, -1.0);  // a now has a block of its own
  auto mine = a->GetProxy(TestClass(), {});
  EXPECT_NE(mine.Get(), shared.Get());
  EXPECT_EQ(mine->GetInstance()->Block(), BlockOf(a));
  EXPECT_EQ(b->GetProxy(TestClass(), {}).Get(), shared.Get());
  a = nullptr;
  EXPECT_EQ(mine->GetInstance()->Block(), nullptr);
}

TEST(ProxyLookup, TwoThreadsAskingAtOnceGetOneProxy) {
  for (int round = 0; round < 200; ++round) {
    TBuffer a = Ramp(4), b = CopyOf(a);
    TIntfPtr<INXSmartBufferProxy> got[2];
    std::atomic<int> ready{0};  // both ask the block for its first proxy at the same moment
    const auto ask = [&](const TBuffer& x, int i) {
      for (++ready; ready.load() < 2;) std::this_thread::yield();
      got[i] = x->GetProxy(TestClass(), {});
    };
    std::thread t1(ask, std::cref(a), 0), t2(ask, std::cref(b), 1);
    t1.join();
    t2.join();
    ASSERT_EQ(got[0].Get(), got[1].Get()) << "round " << round;
  }
}

TEST(OpenCLProxy, FewerThanTwoParametersIsAnAssertion) {
  TBuffer a = Ramp(4);
  const std::string message = nxtest::MessageOf<EAssertionFailed>(
      [&] { a->GetProxy(TNXSmartBufferProxyClass::Of<TNXOpenCLSmartBufferProxy>(), {TVariant(1)}); });
  EXPECT_EQ(message.rfind("Assertion failure (Zandor.OpenCL.DataBufferProxy, line ", 0), 0u) << message;
}

class OpenCLProxyDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    NX_REQUIRE_OPENCL_CONTEXT(FContext);
    FLiveProxies = TNXOpenCLSmartBufferProxy::LiveCount();
    static TIntfPtr<IOCLProgram> program = [&] {
      auto p = FContext->CreateProgram(nxtest::kTestKernels);
      p->Build();
      return p;
    }();
    FProgram = program;
  }
  void TearDown() override {
    if (FContext) {
      EXPECT_EQ(TNXOpenCLSmartBufferProxy::LiveCount(), FLiveProxies) << "a device proxy was not released";
    }
  }
  TIntfPtr<INXOpenCLBufferProxy> Handle(const TBuffer& ABuffer, TOCLMemoryFlags AFlags = TOCLMemoryFlag::mfReadWrite,
                                        TIntfPtr<IOCLContext> AContext = nullptr) {
    return TIntfPtr<INXOpenCLBufferProxy>(new TNXOpenCLBufferProxy(ABuffer, AContext ? AContext : FContext, AFlags));
  }
  // Runs kernel AName (x, v) over ACount items on the default queue.
  void Run(const char* AName, const TIntfPtr<IOCLBuffer>& ABuffer, std::size_t ACount, double AValue) {
    auto kernel = FProgram->CreateKernel(AName);
    kernel->SetArg(0, ABuffer);
    kernel->SetValue(1, AValue);
    FContext->GetDefaultQueue()->EnqueueNDRange(kernel, {ACount});
  }
  // What the device buffer holds now.
  std::vector<double> Device(const TIntfPtr<IOCLBuffer>& ABuffer, std::size_t ACount) {
    std::vector<double> v(ACount);
    ABuffer->Read(FContext->GetDefaultQueue(), v.data(), ACount * sizeof(double));
    return v;
  }
  TIntfPtr<IOCLContext> FContext;
  TIntfPtr<IOCLProgram> FProgram;
  std::int32_t FLiveProxies = 0;
};

TEST_F(OpenCLProxyDevice, HostToDeviceKernelAndBackForEveryFlagSet) {
  using F = TOCLMemoryFlag;
  const TOCLMemoryFlags kFlags[] = {F::mfReadWrite,
                                    {F::mfReadWrite, F::mfCopyHostPtr},
                                    {F::mfReadWrite, F::mfUseHostPtr},
                                    {F::mfReadWrite, F::mfAllocHostPtr}};
  for (TOCLMemoryFlags flags : kFlags) {
    TBuffer buffer = Ramp(1000, -3.0);
    auto handle = Handle(buffer, flags);
    handle->Lock({R, W});
    EXPECT_EQ(std::tuple(handle->GetProxy()->IsCurrent(), Device(handle->GetBuffer(), 1000)),
              std::tuple(true, Values(Ramp(1000, -3.0)))) << flags.AsInteger();
    Run("scale", handle->GetBuffer(), 1000, 3.0);
    handle->Unlock();
    EXPECT_EQ(std::tuple(handle->GetProxy()->IsCurrent(), Values(buffer)), std::tuple(true, Values(Ramp(1000, -9.0, 3.0))))
        << flags.AsInteger();
  }
}

TEST_F(OpenCLProxyDevice, HandlesShareAProxyPerContextAndFlags) {
  TBuffer a = Ramp(16), b = CopyOf(a);
  auto ha = Handle(a), hb = Handle(b), hFlags = Handle(b, {TOCLMemoryFlag::mfReadOnly});
  auto hContext = Handle(a, TOCLMemoryFlag::mfReadWrite, nxtest::FindOpenCLContext());
  EXPECT_EQ(std::tuple(ha->GetProxy().Get() == hb->GetProxy().Get(), ha->GetBuffer().Get() == hb->GetBuffer().Get(),
                       ha->GetProxy().Get() == hFlags->GetProxy().Get(), ha->GetProxy().Get() == hContext->GetProxy().Get()),
            std::tuple(true, true, false, false));
  EXPECT_EQ(hFlags->GetProxy()->GetFlags(), TOCLMemoryFlags{TOCLMemoryFlag::mfReadOnly});
}

TEST_F(OpenCLProxyDevice, HostWritesMakeTheDeviceCopyStale) {
  for (bool shared : {false, true}) {  // shared: another buffer holds the block, the write copies it
    SCOPED_TRACE(shared);
    TBuffer a = Ramp(64), other = shared ? CopyOf(a) : TBuffer();
    auto handle = Handle(shared ? other : a);
    handle->Lock(R);
    handle->Unlock();
    a->SetItem(5, 500.0);
    auto fresh = Handle(a);  // the proxy of a's block now
    EXPECT_EQ(fresh->GetProxy().Get() == handle->GetProxy().Get(), !shared);
    EXPECT_FALSE(fresh->GetProxy()->IsCurrent());
    fresh->Lock(R);
    EXPECT_EQ(Device(fresh->GetBuffer(), 64), Values(a)) << "stale device copy";
    fresh->Unlock();
    if (shared) {  // the old block and its proxy are untouched
      EXPECT_EQ(std::tuple(handle->GetProxy()->IsCurrent(), Device(handle->GetBuffer(), 64), other->GetItem(5)),
                std::tuple(true, Values(Ramp(64)), 5.0));
    }
  }
}

TEST_F(OpenCLProxyDevice, LockAndUnlockDecideTheTransfers) {
  TBuffer a = Ramp(32);
  auto h1 = Handle(a), h2 = Handle(a);  // two holders of one proxy
  auto proxy = h1->GetProxy();
  // Write alone: no upload, the kernel fills everything; the download waits for the last holder.
  h1->Lock(W);
  EXPECT_FALSE(proxy->IsCurrent());
  h2->Lock(R);
  Run("fill", proxy->GetBuffer(), 32, 7.0);
  h2->Unlock();
  EXPECT_EQ(a->GetItem(0), 0.0) << "downloaded while a lock was still held";
  h1->Unlock();
  EXPECT_EQ(Values(a), std::vector<double>(32, 7.0));
  // Read only: the device result is not brought back.
  h1->Lock(R);
  Run("fill", proxy->GetBuffer(), 32, 1.0);
  h1->Unlock();
  EXPECT_EQ(a->GetItem(3), 7.0);
  // Invalidate makes the next Read lock upload again.
  proxy->Invalidate();
  EXPECT_FALSE(proxy->IsCurrent());
  h1->Lock(R);
  EXPECT_EQ(Device(proxy->GetBuffer(), 32), std::vector<double>(32, 7.0));
  h1->Unlock();
}

TEST_F(OpenCLProxyDevice, ADownloadIsAHostChangeForTheBlocksOtherProxies) {
  TBuffer a = Ramp(8);
  auto writer = Handle(a), reader = Handle(a, {TOCLMemoryFlag::mfReadOnly});
  reader->Lock(R);
  reader->Unlock();
  EXPECT_TRUE(reader->GetProxy()->IsCurrent());
  writer->Lock({R, W});
  Run("scale", writer->GetBuffer(), 8, -1.0);
  writer->Unlock();
  EXPECT_FALSE(reader->GetProxy()->IsCurrent());
  reader->Lock(R);
  EXPECT_EQ(Device(reader->GetBuffer(), 8), Values(Ramp(8, 0.0, -1.0)));
  reader->Unlock();
}

TEST_F(OpenCLProxyDevice, AHandleOutlivingTheBlockHasNoDeviceCopy) {
  TIntfPtr<INXOpenCLBufferProxy> handle;
  {
    TBuffer a = Ramp(8);
    handle = Handle(a, {TOCLMemoryFlag::mfReadWrite, TOCLMemoryFlag::mfUseHostPtr});
    handle->Lock(R);
    handle->Unlock();
  }
  EXPECT_FALSE(handle->GetBuffer());
  EXPECT_FALSE(nxtest::MessageOf<EInvalidOperation>([&] { handle->Lock(R); }).empty());
}

}  // namespace
}  // namespace nx
