// The OpenCL layer: platforms, a kernel run, errors naming the call, a process without any platform.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "OpenCLSupport.h"
#include "runtime/Zandor.OpenCL.h"

namespace nx {
namespace {

TEST(OpenCLErrorNames, CodesMapToTheirNames) {
  const struct { cl_int Code; const char* Name; } kCases[] = {
      {CL_SUCCESS, "CL_SUCCESS"}, {CL_INVALID_DEVICE_PARTITION_COUNT, "CL_INVALID_DEVICE_PARTITION_COUNT"},
      {-1001, "CL_PLATFORM_NOT_FOUND_KHR"}, {-9999, "CL_UNKNOWN_ERROR"}};
  for (const auto& c : kCases) EXPECT_STREQ(OpenCLErrorName(c.Code), c.Name) << c.Code;
  const EOpenCLError e(CL_INVALID_VALUE, "clFoo", "details");
  EXPECT_EQ(std::string(e.what()), "clFoo: CL_INVALID_VALUE (-30)\ndetails");
  EXPECT_STREQ(e.ErrorName(), "CL_INVALID_VALUE");
}

TEST(OpenCLMemoryFlags, SetIsTheClFlagWord) {
  const struct { TOCLMemoryFlags Flags; cl_mem_flags Expected; } kCases[] = {
      {{}, 0}, {TOCLMemoryFlag::mfReadWrite, CL_MEM_READ_WRITE},
      {{TOCLMemoryFlag::mfReadOnly, TOCLMemoryFlag::mfCopyHostPtr}, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR},
      {{TOCLMemoryFlag::mfWriteOnly, TOCLMemoryFlag::mfUseHostPtr}, CL_MEM_WRITE_ONLY | CL_MEM_USE_HOST_PTR},
      {{TOCLMemoryFlag::mfAllocHostPtr, TOCLMemoryFlag::mfHostNoAccess}, CL_MEM_ALLOC_HOST_PTR | CL_MEM_HOST_NO_ACCESS},
      {TOCLMemoryFlag::mfHostReadOnly, CL_MEM_HOST_READ_ONLY}, {TOCLMemoryFlag::mfHostWriteOnly, CL_MEM_HOST_WRITE_ONLY}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.Flags.ToCL(), c.Expected);
    EXPECT_EQ(TOCLMemoryFlags::FromInteger(c.Flags.AsInteger()), c.Flags);
  }
}

TEST(OpenCLPlatforms, ListNamesVendorsAndDevices) {
  TIntfPtr<IOCLContext> context;
  NX_REQUIRE_OPENCL_CONTEXT(context);
  const auto platforms = TOpenCL::GetPlatforms();
  ASSERT_FALSE(platforms.empty());
  for (const auto& p : platforms) {
    EXPECT_EQ(p->GetVersion().rfind("OpenCL ", 0), 0u) << p->GetVersion();
    EXPECT_FALSE(p->GetName().empty() || p->GetVendor().empty());
    for (const auto& d : p->GetDevices()) {
      EXPECT_GE(d->GetComputeUnits(), 1u);
      EXPECT_GT(d->GetGlobalMemSize() * d->GetMaxWorkGroupSize(), 0u);
      const std::string type = d->GetTypeName();
      EXPECT_TRUE(type == "CPU" || type == "GPU" || type == "Accelerator" || type == "Custom" || type == "Default");
    }
  }
}

TEST(OpenCLKernels, ScaleABufferOnTheDevice) {
  TIntfPtr<IOCLContext> context;
  NX_REQUIRE_OPENCL_CONTEXT(context);
  auto program = context->CreateProgram(nxtest::kTestKernels);
  program->Build();
  auto kernel = program->CreateKernel("scale");
  EXPECT_EQ(kernel->GetName() + "/" + std::to_string(kernel->GetArgCount()), "scale/2");
  auto queue = context->CreateQueue();
  const struct { std::size_t Count; double Factor; bool Blocking; } kCases[] = {{1, -0.5, true}, {1000, 3.0, false}};
  for (const auto& c : kCases) {
    std::vector<double> host(c.Count);
    for (std::size_t i = 0; i < c.Count; ++i) host[i] = static_cast<double>(i) - 7.0;
    const std::size_t bytes = c.Count * sizeof(double);
    auto buffer = context->CreateBuffer(TOCLMemoryFlag::mfReadWrite, bytes);
    EXPECT_EQ(buffer->GetSize(), bytes);
    auto written = buffer->Write(queue, host.data(), bytes, 0, c.Blocking);
    kernel->SetArg(0, buffer);
    kernel->SetValue(1, c.Factor);
    auto ran = queue->EnqueueNDRange(kernel, {c.Count}, {}, {}, {written});
    std::vector<double> back(c.Count, 99.0);
    auto read = buffer->Read(queue, back.data(), bytes, 0, c.Blocking, {ran});
    read->Wait();
    EXPECT_TRUE(ran->IsComplete());
    for (std::size_t i = 0; i < c.Count; ++i) ASSERT_EQ(back[i], host[i] * c.Factor) << c.Count << " at " << i;
  }
  // The shared default queue is one object.
  EXPECT_EQ(context->GetDefaultQueue(), context->GetDefaultQueue());
}

TEST(OpenCLErrors, CarryTheCallTheErrorNameAndTheBuildLog) {
  TIntfPtr<IOCLContext> context;
  NX_REQUIRE_OPENCL_CONTEXT(context);
  auto good = context->CreateProgram(nxtest::kTestKernels);
  good->Build();
  auto queue = context->GetDefaultQueue();
  auto small = context->CreateBuffer(TOCLMemoryFlag::mfReadWrite, 16);
  double sink[4] = {};
  // AlsoIn: text the message must carry besides its prefix.
  const struct { const char* Name; std::function<void()> Call; cl_int Code; const char* Prefix, *AlsoIn; } kCases[] = {
      {"bad source", [&] { context->CreateProgram("__kernel void k(__global int* p) { p[0] = no_such_name; }")->Build(); },
       CL_BUILD_PROGRAM_FAILURE, "clBuildProgram: CL_BUILD_PROGRAM_FAILURE (-11)", "no_such_name"},
      {"missing kernel", [&] { good->CreateKernel("nope"); }, CL_INVALID_KERNEL_NAME,
       "clCreateKernel: CL_INVALID_KERNEL_NAME", "nope"},
      {"empty buffer", [&] { context->CreateBuffer(TOCLMemoryFlag::mfReadWrite, 0); }, CL_INVALID_BUFFER_SIZE,
       "clCreateBuffer: CL_INVALID_BUFFER_SIZE", ""},
      {"read past the end", [&] { small->Read(queue, sink, 32); }, CL_INVALID_VALUE,
       "IOCLBuffer transfer: CL_INVALID_VALUE", "beyond"},
      {"bad argument index", [&] { good->CreateKernel("scale")->SetValue(7, 1.0); }, CL_INVALID_ARG_INDEX,
       "clSetKernelArg: CL_INVALID_ARG_INDEX", ""},
      {"four dimensions", [&] { queue->EnqueueNDRange(good->CreateKernel("scale"), {1, 1, 1, 1}); },
       CL_INVALID_WORK_DIMENSION, "clEnqueueNDRangeKernel: CL_INVALID_WORK_DIMENSION", ""},
  };
  for (const auto& c : kCases) {
    try {
      c.Call();
      ADD_FAILURE() << c.Name << ": nothing raised";
    } catch (const EOpenCLError& e) {
      EXPECT_EQ(e.Code(), c.Code) << c.Name;
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(c.Prefix, 0), 0u) << c.Name << ": " << message;
      EXPECT_NE(message.find(c.AlsoIn), std::string::npos) << c.Name << ": " << message;
    }
  }
}

// Run as a child process with OCL_ICD_VENDORS on an empty folder (see below).
TEST(DISABLED_OpenCLNoPlatformChild, ListsNothingAndRaisesNothing) {
  ASSERT_TRUE(std::getenv("NX_OPENCL_EXPECT_NONE")) << "run by NoPlatformAtAll in a child process";
  std::vector<TIntfPtr<IOCLPlatform>> platforms;
  EXPECT_NO_THROW(platforms = TOpenCL::GetPlatforms());
  EXPECT_TRUE(platforms.empty());
  EXPECT_NO_THROW(EXPECT_FALSE(nxtest::FindOpenCLContext()));
}

TEST(OpenCLNoPlatform, NoPlatformAtAll) { nxtest::ExpectChildPassesWithoutOpenCL("DISABLED_OpenCLNoPlatformChild"); }

}  // namespace
}  // namespace nx
