// Sinks linked, unlinked and destroyed while two threads send: a staying sink gets each operation once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "nxruntime.h"

namespace nx {
namespace {

constexpr TGUID kData = TGUID::Parse("{2A000000-0000-0000-0000-0000000000A1}");
constexpr TGUID kConverted = TGUID::Parse("{2B000000-0000-0000-0000-0000000000B2}");

class TPassConverter : public TFTBasicFormatConverter {
 public:
  TPassConverter() : TFTBasicFormatConverter({kData}, {kConverted}) {}
};

// The pin is declared last so it is closed (waiting for deliveries) before the counter goes.
struct TTransientSink {
  std::atomic<long> Count{0};
  TFTPinPtr<TFTDispatchSinkPin> Pin;
  explicit TTransientSink(const TGUID& AType) : Pin(FTMakePin<TFTDispatchSinkPin>()) {
    Pin->AddType(AType, [this](auto...) {
      Count.fetch_add(1, std::memory_order_relaxed);
      return true;
    });
  }
};

TEST(PinThreadsTest, LinkChangesWhileTwoThreadsSend) {
  const TFTFormatConverterClass converter = FTConverterClass<TPassConverter>("TPassConverter");
  FTRegisterTypeConverters({converter});
  TFTDispatchSourcePin source;
  source.AddType(kData, nullptr);
  TTransientSink stable1(kData), stable2(kConverted);  // the second sits behind a converter
  ASSERT_TRUE(source.Connect(stable1.Pin.get()));
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  auto sender = [&] {
    const auto op = TFTStopOperation::Make();
    long n = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      source.Notify(op);
      ++n;
    }
    sent.fetch_add(n);
  };
  long linked = 0;
  std::atomic<bool> stopLinker{false};
  std::thread linker([&] {
    std::vector<std::unique_ptr<TTransientSink>> live;
    for (int i = 0; !stopLinker.load(); ++i) {
      live.push_back(std::make_unique<TTransientSink>(i % 3 == 0 ? kConverted : kData));
      if (source.Connect(live.back()->Pin.get())) ++linked;
      if (live.size() > 4) {
        // Alternate: unlink and then destroy, or destroy while linked.
        if (i % 2) live.front()->Pin->DisconnectAll();
        live.erase(live.begin());
      }
    }
  });
  // The second stable sink joins between two rounds of sending, then stays.
  std::thread s1(sender), s2(sender);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop.store(true);
  s1.join();
  s2.join();
  const long before = sent.exchange(0);
  EXPECT_EQ(stable1.Count.load(), before);
  ASSERT_TRUE(source.Connect(stable2.Pin.get()));
  stable1.Count = 0;
  stop.store(false);
  std::thread s3(sender), s4(sender);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  stop.store(true);
  s3.join();
  s4.join();
  stopLinker.store(true);
  linker.join();
  EXPECT_GT(linked, 10);
  EXPECT_GT(sent.load(), 0);
  EXPECT_EQ(stable1.Count.load(), sent.load());
  EXPECT_EQ(stable2.Count.load(), sent.load());
  source.DisconnectAll();
  FTUnregisterTypeConverters({converter});
}

}  // namespace
}  // namespace nx
