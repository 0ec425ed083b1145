// Fuzz target of the byte-stream accumulator: the input is read as a
// sequence of operations (arrivals, look-ahead, searches, extraction,
// skipping, copies, clearing) run side by side on the accumulator and on a
// plain byte deque. Any difference in results or contents, and any
// exception, is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "algorithms/Zandor.BufferAccumulator.h"

using namespace nx;

namespace {

// Reads the input from the front; zeros once it is used up.
struct TReader {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::int32_t Count() { return static_cast<std::int32_t>(static_cast<std::int16_t>(Byte() | (Byte() << 8))); }
};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool ModelStartsWith(const std::deque<std::uint8_t>& d, const std::vector<std::uint8_t>& pat) {
  return d.size() >= pat.size() && std::equal(pat.begin(), pat.end(), d.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TReader in{data, size};
  TIntfPtr<TBufferAccumulator> acc(new TBufferAccumulator());
  TIntfPtr<IBufferAccumulator> copy;
  std::deque<std::uint8_t> model, copyModel;
  std::vector<std::uint8_t> buf;
  while (in.n > 0) {
    const std::uint8_t op = in.Byte() % 10;
    const auto avail = static_cast<std::int64_t>(model.size());
    switch (op) {
      case 0: {  // an arrival: a length byte (scaled) and the bytes
        const std::uint8_t len = in.Byte();
        const std::size_t n = (len & 0x80) ? (len & 0x7F) * 40u + 1 : len;
        std::vector<std::uint8_t> piece(n);
        for (auto& b : piece) b = in.Byte();
        acc->AddBuffer(TIntfPtr<INXLinearDataBuffer>(TNXBlockBuffer::MakeArrayList(piece)));
        model.insert(model.end(), piece.begin(), piece.end());
        break;
      }
      case 1: {
        const std::int32_t c = in.Count();
        buf.assign(static_cast<std::size_t>(std::max(c, 0)), 0);
        const bool ok = acc->PeekBytes(c, buf.data());
        Check(ok == (c >= 0 && c <= avail));
        if (ok) Check(std::equal(buf.begin(), buf.end(), model.begin()));
        break;
      }
      case 2: {
        const std::int32_t off = in.Count(), c = in.Count();
        buf.assign(static_cast<std::size_t>(std::max(c, 0)), 0);
        const bool ok = acc->PeekBytesFrom(off, c, buf.data());
        Check(ok == (off >= 0 && c >= 0 && off + static_cast<std::int64_t>(c) <= avail));
        if (ok) Check(std::equal(buf.begin(), buf.end(), model.begin() + off));
        break;
      }
      case 3: {
        const std::int32_t c = in.Count();
        const bool ok = acc->SkipBytes(c);
        Check(ok == (c >= 0 && c <= avail));
        if (ok) model.erase(model.begin(), model.begin() + c);
        break;
      }
      case 4: {
        const std::int32_t c = in.Count();
        std::vector<std::uint8_t> out;
        const bool ok = acc->ExtractBytes(c, out);
        Check(ok == (c >= 0 && c <= avail));
        if (ok) {
          Check(std::equal(out.begin(), out.end(), model.begin()));
          model.erase(model.begin(), model.begin() + c);
        }
        break;
      }
      case 5:
      case 6: {  // searches, plain and bounded
        std::vector<std::uint8_t> pat(in.Byte() % 5);
        for (auto& b : pat) b = in.Byte();
        const std::int64_t maxCount = op == 6 ? in.Count() : avail, skip = op == 6 ? in.Count() : 0;
        std::int64_t pos = 0;
        const bool got = op == 6 ? acc->FindBytes(static_cast<std::int32_t>(pat.size()), pat.data(), pos, maxCount, skip)
                                 : acc->FindBytes(static_cast<std::int32_t>(pat.size()), pat.data(), pos);
        // The model of the restart rule.
        std::int64_t mpos = 0, left = maxCount;
        bool want = pat.empty();
        std::size_t m = 0;
        for (std::size_t i = 0; !want && i < model.size(); ++i) {
          ++mpos;
          if (static_cast<std::int64_t>(i) < skip) continue;
          if (left-- <= 0) break;
          if (model[i] == pat[m]) {
            if (++m == pat.size()) want = true;
          } else {
            m = 0;
          }
        }
        if (pat.empty()) mpos = 0;
        Check(got == want);
        if (got) Check(pos == mpos);
        break;
      }
      case 7: {
        std::vector<std::uint8_t> pat(in.Byte() % 4);
        for (auto& b : pat) b = in.Byte();
        bool skipped = false, modelSkipped = false, modelFound = false;
        while (model.size() >= pat.size()) {
          if (ModelStartsWith(model, pat)) {
            model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(pat.size()));
            modelFound = true;
            break;
          }
          model.pop_front();
          modelSkipped = true;
        }
        Check(acc->FindSkipBytes(static_cast<std::int32_t>(pat.size()), pat.data(), skipped) == modelFound);
        Check(skipped == modelSkipped);
        break;
      }
      case 8:  // a copy that shares the buffers, then diverges
        copy = TBufferAccumulator::MakeCopy(*acc);
        copyModel = model;
        copy->AddBuffer(TIntfPtr<INXLinearDataBuffer>(TNXBlockBuffer::MakeValue(3, 0x5A)));
        copyModel.insert(copyModel.end(), 3, 0x5A);
        break;
      case 9:
        if (in.Byte() < 16) {
          acc->Clear();
          model.clear();
        } else {
          Check(acc->PeekFirstByte() == (model.empty() ? 0 : model.front()));
        }
        break;
    }
    Check(acc->GetBytesAvailable() == static_cast<std::int64_t>(model.size()));
  }
  TIntfPtr<INXBlockBuffer> all = acc->GetAsBuffer();
  Check(static_cast<std::size_t>(all->GetSize()) == model.size());
  Check(std::equal(model.begin(), model.end(), all->Read()));
  if (copy) {
    TIntfPtr<INXBlockBuffer> other = copy->GetAsBuffer();
    Check(static_cast<std::size_t>(other->GetSize()) == copyModel.size());
    Check(std::equal(copyModel.begin(), copyModel.end(), other->Read()));
  }
  return 0;
}
