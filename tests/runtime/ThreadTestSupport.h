// Test support for threaded tests: a joined group of threads; whether another thread could take a lock.
#pragma once

#include <thread>
#include <vector>

#include "runtime/Zandor.Threading.h"
#include "runtime/Zandor.Types.h"

namespace nxtest {

// ACount threads running AFunc(index); joined by Join or when the group goes.
class TThreadGroup {
 public:
  template <class F>
  TThreadGroup(int ACount, F AFunc) {
    for (int i = 0; i < ACount; ++i) FThreads.emplace_back(AFunc, i);
  }
  ~TThreadGroup() { Join(); }
  void Join() {
    for (auto& t : FThreads)
      if (t.joinable()) t.join();
  }

 private:
  std::vector<std::thread> FThreads;
};

// Runs AFunc on a new thread and returns its result.
template <class F>
auto OnOtherThread(F AFunc) {
  decltype(AFunc()) result{};
  std::thread([&] { result = AFunc(); }).join();
  return result;
}

// Whether another thread could take the lock now (it leaves it free again).
inline bool FreeForOthers(nx::TCriticalSection& ALock) {
  return OnOtherThread([&] { return ALock.TryEnter() && (ALock.Leave(), true); });
}
inline bool FreeForOthers(nx::IChangeNotifyLock* ALock) {
  return OnOtherThread([&] { return ALock->TryBeginWrite() && (ALock->EndWrite(), true); });
}

}  // namespace nxtest
