// Test support: the message of the exception of class E that a call raises.
#pragma once

#include <string>

namespace nxtest {

// The message of the E that AFunc raises; empty when it returns. Any other
// exception propagates and fails the test.
template <class E, class F>
std::string MessageOf(F&& AFunc) {
  try {
    AFunc();
  } catch (const E& e) {
    return e.what();
  }
  return std::string();
}

}  // namespace nxtest
