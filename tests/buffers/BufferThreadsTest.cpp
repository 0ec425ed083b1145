// Buffers on one data block used from several threads, each thread with its own buffer objects:
// no thread sees another's writes, racing writers each make their own copy, and every buffer and
// block is freed in the end (the test listener counts them). Meant to run clean under ThreadSanitizer.
#include <atomic>
#include <barrier>
#include <random>
#include <thread>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;

constexpr int kThreads = 8;
constexpr std::uint32_t kSize = 256;

TEST(BufferThreadsTest, HoldersOnOneBlockNeverSeeEachOthersWrites) {
  TBuffer source = Ramp(kSize, 0.0, 0.5), reader = CopyOf(source);
  const std::vector<double> base = Values(source);
  // Every thread gets its buffer and a pristine second holder, made here: a buffer object is handed to one thread only.
  std::vector<TBuffer> own, pristine;
  for (int t = 0; t < kThreads; ++t) {
    own.push_back(CopyOf(source));
    pristine.push_back(CopyOf(source));
  }
  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(1234u + static_cast<unsigned>(t));
      TBuffer mine = own[t];
      std::vector<double> expected = base;
      for (int iter = 0; iter < 4000; ++iter) {
        const unsigned a = rng() % 100, i = rng() % kSize;
        if (a < 40) {
          mine->SetItem(i, expected[i] = t * 1e6 + iter);
        } else if (a < 70) {
          failures += mine->GetItem(i) != expected[i];
        } else if (a < 80) {
          mine->AddValue(1.0);
          for (double& e : expected) e += 1.0;
        } else if (a < 90) {  // a copy of our own: writes to it stay in it
          TBuffer copy = CopyOf(mine);
          copy->SetItem(i, -1.0);
          failures += copy->GetItem(i) != -1.0 || Values(mine) != expected;
        } else {  // back onto the block that every thread started from
          mine->Assign(pristine[t]);
          expected = base;
        }
      }
      failures += Values(mine) != expected || Values(pristine[t]) != base;
    });
  }
  std::thread readerThread([&] {
    while (!stop.load()) failures += !std::equal(base.begin(), base.end(), reader->Read());
  });
  for (auto& th : threads) th.join();
  stop.store(true);
  readerThread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Values(source), base);
}

// Two owners writing at once each end up with their own data; a third holder keeps the original.
TEST(BufferThreadsTest, SimultaneousWritersEachGetTheirOwnData) {
  constexpr int kRounds = 500;
  std::vector<TBuffer> keep(kRounds), first(kRounds), second(kRounds);
  for (int r = 0; r < kRounds; ++r) {
    keep[r] = TNXRealBuffer::MakeValue(static_cast<double>(r), 64);
    first[r] = CopyOf(keep[r]);
    second[r] = CopyOf(keep[r]);
  }
  std::barrier sync(2);
  auto writer = [&](std::vector<TBuffer>& mine, double value) {
    for (int r = 0; r < kRounds; ++r) {
      sync.arrive_and_wait();
      mine[r]->SetItem(r % 64, value);
    }
  };
  std::thread a(writer, std::ref(first), -1.0), b(writer, std::ref(second), -2.0);
  a.join();
  b.join();
  for (int r = 0; r < kRounds; ++r) {
    const int i = r % 64;
    EXPECT_EQ(std::tuple(first[r]->GetItem(i), second[r]->GetItem(i), keep[r]->GetItem(i), first[r]->GetItem((r + 1) % 64)),
              std::tuple(-1.0, -2.0, static_cast<double>(r), static_cast<double>(r))) << r;
  }
}

// Buffers made on one thread and released on another: the counters and the block cache stay consistent.
TEST(BufferThreadsTest, BuffersReleasedOnAnotherThread) {
  constexpr int kCount = 2000;
  std::vector<TBuffer> slots(kCount);
  std::atomic<int> produced{0};
  std::atomic<int> bad{0};
  std::thread producer([&] {
    for (int i = 0; i < kCount; ++i) {
      slots[i] = TNXRealBuffer::MakeValue(static_cast<double>(i), 1024);
      produced.store(i + 1, std::memory_order_release);
    }
  });
  std::thread consumer([&] {
    for (int i = 0; i < kCount; ++i) {
      while (produced.load(std::memory_order_acquire) <= i) std::this_thread::yield();
      bad += !slots[i]->IsEqualToValue(static_cast<double>(i));
      slots[i] = nullptr;
    }
  });
  producer.join();
  consumer.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace nx
