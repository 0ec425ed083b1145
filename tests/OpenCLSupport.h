// Test support: the OpenCL context the OpenCL tests run on (the first
// platform that has a device, normally PoCL's CPU device). Without one the
// tests skip with a message, unless NX_REQUIRE_OPENCL=1 makes a missing
// platform a failure (as CI does).
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "runtime/Zandor.OpenCL.h"

namespace nxtest {

inline bool OpenCLRequired() {
  const char* v = std::getenv("NX_REQUIRE_OPENCL");
  return v && std::strcmp(v, "1") == 0;
}

// A context on every device of the first platform with devices; empty when none.
inline nx::TIntfPtr<nx::IOCLContext> FindOpenCLContext() {
  for (const auto& platform : nx::TOpenCL::GetPlatforms()) {
    auto devices = platform->GetDevices();
    if (!devices.empty()) return nx::TOCLContext::Make(devices);
  }
  return nullptr;
}

// The one context of the test program, made on first use.
inline nx::TIntfPtr<nx::IOCLContext> SharedOpenCLContext() {
  static nx::TIntfPtr<nx::IOCLContext> context = FindOpenCLContext();
  return context;
}

// Sets AContext or skips (fails with NX_REQUIRE_OPENCL=1) the calling test.
#define NX_REQUIRE_OPENCL_CONTEXT(AContext)                                                        \
  do {                                                                                             \
    AContext = ::nxtest::SharedOpenCLContext();                                                    \
    if (!AContext) {                                                                               \
      if (::nxtest::OpenCLRequired()) {                                                           \
        FAIL() << "no OpenCL platform with a device (NX_REQUIRE_OPENCL=1)";                        \
      }                                                                                            \
      GTEST_SKIP() << "no OpenCL platform with a device is present: OpenCL test skipped";         \
    }                                                                                              \
  } while (0)

// Runs the disabled test suite ASuite of this program in a child process
// whose OpenCL loader sees an empty vendor folder (no platform at all), and
// checks that its one test ran and passed. The child suite is named
// DISABLED_... so that it runs only this way; it asserts
// NX_OPENCL_EXPECT_NONE, which only this runner sets.
inline void ExpectChildPassesWithoutOpenCL(const std::string& ASuite) {
  namespace fs = std::filesystem;
  const fs::path empty = fs::temp_directory_path() / ("nx-no-icd-" + ASuite + "-" + std::to_string(::getpid()));
  fs::create_directories(empty);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string command = "OCL_ICD_VENDORS='" + empty.string() + "' NX_OPENCL_EXPECT_NONE=1 '" + self +
                              "' --gtest_also_run_disabled_tests --gtest_filter=" + ASuite + ".* 2>&1";
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
  const int status = ::pclose(pipe);
  fs::remove_all(empty);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
}

// Kernels on 64-bit floats: scale in place, and fill.
inline const char* kTestKernels = R"(
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
__kernel void scale(__global double* x, const double f) { size_t i = get_global_id(0); x[i] = x[i] * f; }
__kernel void fill(__global double* x, const double v) { x[get_global_id(0)] = v; }
)";

}  // namespace nxtest
