// Test support: arrays with canary bytes on both sides of the used range,
// offset so that the pointers handed to a kernel are not vector-aligned.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

namespace nxtest {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr int kPad = 8;  // canary elements on each side

// data() starts `offset` elements into the guarded area.
template <typename T>
struct Guarded {
  std::vector<T> store;
  int offset = 0;
  Guarded(int len, int off) : store(static_cast<size_t>(std::max(len, 1) + 2 * kPad + 1)), offset(off) {
    std::memset(static_cast<void*>(store.data()), 0xA5, store.size() * sizeof(T));
  }
  T* data() { return store.data() + kPad + offset; }
  // The canary bytes before data() and after data() + len.
  bool CanariesIntact(int len) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(store.data());
    const size_t lo = (kPad + offset) * sizeof(T);
    const size_t hi = (kPad + offset + std::max(len, 0)) * sizeof(T);
    for (size_t i = 0; i < store.size() * sizeof(T); ++i)
      if ((i < lo || i >= hi) && bytes[i] != 0xA5) return false;
    return true;
  }
};

}  // namespace nxtest
