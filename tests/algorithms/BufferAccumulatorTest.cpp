// TBufferAccumulator: worked finds, refusals, sharing, and random operations against a byte model.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "algorithms/Zandor.BufferAccumulator.h"
#include "nxruntime.h"

namespace nx {
namespace {

TIntfPtr<INXLinearDataBuffer> Bytes(std::string_view s) {
  return TIntfPtr<INXLinearDataBuffer>(
      TNXBlockBuffer::MakeData(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::uint32_t>(s.size())));
}

TIntfPtr<TBufferAccumulator> Acc(const std::vector<std::string_view>& pieces) {
  TIntfPtr<TBufferAccumulator> a(new TBufferAccumulator());
  for (auto p : pieces) a->AddBuffer(Bytes(p));
  return a;
}

std::string Rest(TBufferAccumulator& a) {
  std::string s(static_cast<std::size_t>(a.GetBytesAvailable()), '\0');
  EXPECT_TRUE(a.PeekBytes(static_cast<std::int32_t>(s.size()), s.data()));
  return s;
}

TEST(BufferAccumulator, CoalescesRefusesDecodesUtf8AndSharesSafely) {
  auto a = Acc({});
  std::string expected;
  for (int i = 0; i < 10; ++i) a->AddBuffer(Bytes("abcde")), expected += "abcde";
  EXPECT_EQ(a->GetBufferCount(), 1u);
  a->AddBuffer(Bytes(std::string(100, 'x')));
  a->AddBuffer(Bytes("z"));  // a small piece onto a small tail
  EXPECT_EQ(a->GetBufferCount(), 2u);
  a->AddBuffer(Bytes(std::string(10000, 'y')));
  a->AddBuffer(Bytes("q"));  // the tail is too big to take it
  a->AddBuffer(Bytes(""));
  a->AddBuffer(nullptr);
  EXPECT_EQ(a->GetBufferCount(), 4u);
  EXPECT_EQ(Rest(*a), expected + std::string(100, 'x') + "z" + std::string(10000, 'y') + "q");
  a = Acc({"hello", " world"});  // refusals change nothing
  char buf[32];
  std::int64_t pos;
  bool skipped;
  // (Other counts past the end and bounded finds: the random run below.)
  const std::function<bool()> refused[] = {
      [&] { return a->ExtractBytes(12, buf); },
      [&] { return !a->ExtractString(40).empty(); },
      [&] { return a->FindBytes(-1, "h", pos); },
      [&] { return a->FindSkipBytes(20, "hello world and more", skipped); },
  };
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    EXPECT_FALSE(refused[i]()) << i;
    EXPECT_EQ(Rest(*a), "hello world") << i;
  }
  EXPECT_EQ(a->ExtractString(5), "hello");
  ASSERT_TRUE(a->FindString("rld", pos));
  EXPECT_EQ(pos, 6);
  EXPECT_FALSE(a->FindString("lo", pos));  // a mismatch restarts after the byte, not inside the partial match
  a = Acc({"gr\xC3\xBC\xC3", "\x9F", "e\xFF\xC0\xAF!"});  // UTF-8, invalid bytes replaced
  EXPECT_EQ(a->ExtractString(6), "gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(a->ExtractString(5), "e\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!");
  // The caller's buffer, a copy and the accumulator never see each other's later changes.
  TIntfPtr<INXBlockBuffer> mine = TNXBlockBuffer::MakeData(reinterpret_cast<const std::uint8_t*>("abc"), 3);
  a = Acc({});
  a->AddBuffer(TIntfPtr<INXLinearDataBuffer>(mine));
  mine->SetItem(0, 'X');
  mine->Resize(1, true);
  EXPECT_EQ(Rest(*a), "abc");
  a->AddBuffer(Bytes("de"));
  TIntfPtr<IBufferAccumulator> copy = TBufferAccumulator::MakeCopy(*a);
  a->AddBuffer(Bytes("fg"));
  copy->AddBuffer(Bytes("hi"));
  EXPECT_EQ(Rest(*a), "abcdefg");
  EXPECT_EQ(copy->GetBytesAvailable(), 7);
  TIntfPtr<INXBlockBuffer> all = copy->GetAsBuffer();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(all->Read()), 7), "abcdehi");
  EXPECT_EQ(copy->GetBytesAvailable(), 7);
  EXPECT_THROW(TBufferAccumulator::MakeCopy(TIntfPtr<IBufferAccumulator>()), EArgumentException);
}

// The restart rule written out plainly over a byte model.
bool ModelFind(const std::deque<std::uint8_t>& d, const std::vector<std::uint8_t>& pat, std::int64_t& pos,
               std::int64_t maxCount, std::int64_t skip) {
  pos = 0;
  if (pat.empty()) return true;
  std::size_t m = 0;
  for (std::size_t i = 0; i < d.size(); ++i) {
    ++pos;
    if (static_cast<std::int64_t>(i) < skip) {
      m = 0;
      continue;
    }
    if (maxCount-- <= 0) return false;
    if (d[i] == pat[m]) {
      if (++m == pat.size()) return true;
    } else {
      m = 0;
    }
  }
  return false;
}

TEST(BufferAccumulator, RandomOperationsAgainstAByteModel) {
  std::mt19937 g(20261206);
  auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); };
  // A small alphabet, so that patterns match often and partial matches break.
  auto bytes = [&](int n) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (auto& b : v) b = static_cast<std::uint8_t>("abcab\0\xff"[rnd(0, 6)]);
    return v;
  };
  TIntfPtr<TBufferAccumulator> acc(new TBufferAccumulator());
  std::deque<std::uint8_t> model;
  std::vector<std::uint8_t> buf;
  for (int step = 0; step < 100000; ++step) {
    const int op = rnd(0, 11);
    const auto avail = static_cast<int>(model.size());
    // Counts run past what is available a good part of the time.
    const int count = rnd(-2, avail + 8 < 6000 ? avail + 8 : 6000);
    const bool fits = count >= 0 && count <= avail;
    if (op <= 2) {
      const auto piece = bytes(rnd(0, 9) < 5 ? rnd(1, 99) : rnd(1, 4096));
      acc->AddBuffer(TIntfPtr<INXLinearDataBuffer>(TNXBlockBuffer::MakeArrayList(piece)));
      model.insert(model.end(), piece.begin(), piece.end());
    } else if (op == 3) {
      buf.assign(static_cast<std::size_t>(std::max(count, 0)) + 1, 0xEE);
      ASSERT_EQ(acc->PeekBytes(count, buf.data()), fits) << step;
      ASSERT_TRUE(!fits || std::equal(buf.begin(), buf.begin() + count, model.begin())) << step;
    } else if (op == 4) {
      const int off = rnd(-1, avail + 1), n = rnd(0, 64);
      buf.assign(65, 0);
      const bool ok = acc->PeekBytesFrom(off, n, buf.data());
      ASSERT_EQ(ok, off >= 0 && off + n <= avail) << step;
      ASSERT_TRUE(!ok || std::equal(buf.begin(), buf.begin() + n, model.begin() + off)) << step;
    } else if (op <= 6) {
      const std::vector<std::uint8_t> kept{1, 2};  // a refused extraction leaves it as it was
      std::vector<std::uint8_t> out = kept;
      ASSERT_EQ(op == 5 ? acc->SkipBytes(count) : acc->ExtractBytes(count, out), fits) << step;
      ASSERT_TRUE(op == 5 || out == (fits ? std::vector<std::uint8_t>(model.begin(), model.begin() + count) : kept)) << step;
      if (fits) model.erase(model.begin(), model.begin() + count);
    } else if (op <= 8) {
      const auto pat = bytes(rnd(0, 4));
      const bool bounded = op == 8;
      const std::int64_t maxCount = bounded ? rnd(-1, avail + 2) : avail, skip = bounded ? rnd(-1, avail + 2) : 0;
      std::int64_t pos = -1, want = -1;
      const bool expect = ModelFind(model, pat, want, maxCount, std::max<std::int64_t>(skip, 0));
      const auto n = static_cast<std::int32_t>(pat.size());
      const bool got = bounded ? acc->FindBytes(n, pat.data(), pos, maxCount, skip) : acc->FindBytes(n, pat.data(), pos);
      ASSERT_EQ(got, expect) << step;
      ASSERT_TRUE(!got || pos == want) << step;
    } else if (op == 9) {
      // The model: discard one byte at a time while a full pattern fits.
      const auto pat = bytes(rnd(0, 3));
      bool modelSkipped = false, modelFound = false;
      while (model.size() >= pat.size() && !modelFound) {
        modelFound = std::equal(pat.begin(), pat.end(), model.begin());
        model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(modelFound ? pat.size() : 1));
        modelSkipped = modelSkipped || !modelFound;
      }
      bool skipped = false;
      ASSERT_EQ(acc->FindSkipBytes(static_cast<std::int32_t>(pat.size()), pat.data(), skipped), modelFound) << step;
      ASSERT_EQ(skipped, modelSkipped) << step;
    } else if (op == 10) {
      ASSERT_EQ(acc->PeekFirstByte(), model.empty() ? 0 : model.front()) << step;
      if (rnd(0, 200) == 0) {
        TIntfPtr<INXBlockBuffer> all = acc->GetAsBuffer();
        ASSERT_EQ(all->GetSize(), avail);
        ASSERT_TRUE(std::equal(model.begin(), model.end(), all->Read())) << step;
      }
    } else if (rnd(0, 500) == 0) {
      acc->Clear();
      model.clear();
    }
    ASSERT_EQ(acc->GetBytesAvailable(), static_cast<std::int64_t>(model.size())) << step;
    ASSERT_EQ(acc->IsEmpty(), model.empty());
    ASSERT_TRUE(!model.empty() || (acc->GetBufferCount() == 0u && acc->GetReadOffset() == 0)) << step;
  }
  EXPECT_EQ(Rest(*acc), std::string(model.begin(), model.end()));
}

}  // namespace
}  // namespace nx
