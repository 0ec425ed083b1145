// Zandor.OpenCL: a thin, reference-counted layer over the OpenCL C API (through
// the ICD loader): platforms and their devices, contexts, command queues,
// memory buffers, programs built from source, kernels and events. Every
// object is an interface (IOCL...) that releases its OpenCL object with its
// last reference; every failed call raises EOpenCLError, which names the call
// and the error ("clCreateBuffer: CL_INVALID_BUFFER_SIZE (-61)").
//
// A machine without any OpenCL platform is a normal case: TOpenCL::GetPlatforms
// then returns an empty list and nothing raises. Only the loader library is a
// link dependency.
//
//   auto platforms = TOpenCL::GetPlatforms();          // may be empty
//   auto context = TOCLContext::Make(platforms[0]->GetDevices());
//   auto program = context->CreateProgram(source);
//   program->Build();                                  // the build log is in the error
//   auto kernel = program->CreateKernel("scale");
//   auto buffer = context->CreateBuffer({TOCLMemoryFlag::mfReadWrite}, bytes);
//   auto queue = context->GetDefaultQueue();
//   buffer->Write(queue, host, bytes);                 // blocking unless told otherwise
//   kernel->SetArg(0, buffer);
//   queue->EnqueueNDRange(kernel, {n})->Wait();
//   buffer->Read(queue, host, bytes);
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#include <CL/cl.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Interfaces.h"

namespace nx {

// The name of an OpenCL error code ("CL_INVALID_VALUE"); "CL_UNKNOWN_ERROR"
// for a code it does not know.
const char* OpenCLErrorName(cl_int ACode) noexcept;

// A failed OpenCL call: the message is "<call>: <error name> (<code>)",
// followed by a line break and the details when there are any (a program's
// build log).
class EOpenCLError : public Exception {
 public:
  EOpenCLError(cl_int ACode, std::string ACall, const std::string& ADetails = {});
  cl_int Code() const noexcept { return FCode; }
  const char* ErrorName() const noexcept { return OpenCLErrorName(FCode); }
  const std::string& Call() const noexcept { return FCall; }

 private:
  cl_int FCode;
  std::string FCall;
};

// Raises EOpenCLError when ACode is not CL_SUCCESS.
void OCLCheck(cl_int ACode, const char* ACall);

// ---------------------------------------------------------------- memory flags

// The flags of a memory object, in the bit order of cl_mem_flags (so a set's
// bits are its cl_mem_flags value).
enum class TOCLMemoryFlag : std::uint8_t {
  mfReadWrite = 0,     // CL_MEM_READ_WRITE
  mfWriteOnly = 1,     // CL_MEM_WRITE_ONLY (kernels only write)
  mfReadOnly = 2,      // CL_MEM_READ_ONLY (kernels only read)
  mfUseHostPtr = 3,    // CL_MEM_USE_HOST_PTR
  mfAllocHostPtr = 4,  // CL_MEM_ALLOC_HOST_PTR
  mfCopyHostPtr = 5,   // CL_MEM_COPY_HOST_PTR
  mfHostWriteOnly = 7,
  mfHostReadOnly = 8,
  mfHostNoAccess = 9,
};

// A set of memory flags; its integer form (AsInteger) is the cl_mem_flags value.
class TOCLMemoryFlags {
 public:
  constexpr TOCLMemoryFlags() noexcept = default;
  constexpr TOCLMemoryFlags(TOCLMemoryFlag AFlag) noexcept : FBits(Bit(AFlag)) {}
  constexpr TOCLMemoryFlags(std::initializer_list<TOCLMemoryFlag> AFlags) noexcept {
    for (TOCLMemoryFlag f : AFlags) FBits |= Bit(f);
  }
  static constexpr TOCLMemoryFlags FromInteger(std::uint32_t ABits) noexcept {
    TOCLMemoryFlags f;
    f.FBits = ABits & kAll;
    return f;
  }
  constexpr std::uint32_t AsInteger() const noexcept { return FBits; }
  constexpr cl_mem_flags ToCL() const noexcept { return FBits; }
  constexpr bool Contains(TOCLMemoryFlag AFlag) const noexcept { return (FBits & Bit(AFlag)) != 0; }
  constexpr bool Empty() const noexcept { return FBits == 0; }
  constexpr TOCLMemoryFlags Without(TOCLMemoryFlags AOther) const noexcept {
    return FromInteger(FBits & ~AOther.FBits);
  }
  friend constexpr bool operator==(TOCLMemoryFlags, TOCLMemoryFlags) = default;

 private:
  static constexpr std::uint32_t kAll = 0x3BF;
  static constexpr std::uint32_t Bit(TOCLMemoryFlag f) noexcept { return 1u << static_cast<unsigned>(f); }
  std::uint32_t FBits = 0;
};

// ---------------------------------------------------------------- interfaces

struct IOCLContext;
struct IOCLCommandQueue;

struct IOCLDevice : virtual IInterface {
  NX_INTERFACE_ID(IOCLDevice, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A01}");
  virtual cl_device_id Handle() = 0;
  virtual std::string GetName() = 0;
  virtual std::string GetVendor() = 0;
  // CL_DEVICE_TYPE_CPU, _GPU, _ACCELERATOR ... (bits).
  virtual cl_device_type GetType() = 0;
  // "CPU", "GPU", "Accelerator", "Custom" or "Default" (the first bit that is set).
  virtual std::string GetTypeName() = 0;
  virtual std::uint32_t GetComputeUnits() = 0;
  virtual std::uint64_t GetGlobalMemSize() = 0;
  virtual std::size_t GetMaxWorkGroupSize() = 0;
};

struct IOCLPlatform : virtual IInterface {
  NX_INTERFACE_ID(IOCLPlatform, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A02}");
  virtual cl_platform_id Handle() = 0;
  virtual std::string GetName() = 0;
  virtual std::string GetVendor() = 0;
  virtual std::string GetVersion() = 0;
  // Every device of the platform (all types), in the platform's order.
  virtual std::vector<TIntfPtr<IOCLDevice>> GetDevices() = 0;
};

// An enqueued command. GetStatus: CL_QUEUED, CL_SUBMITTED, CL_RUNNING,
// CL_COMPLETE (0), or the negative error code of a failed command.
struct IOCLEvent : virtual IInterface {
  NX_INTERFACE_ID(IOCLEvent, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A03}");
  virtual cl_event Handle() = 0;
  // Blocks until the command completed; EOpenCLError when it failed.
  virtual void Wait() = 0;
  virtual cl_int GetStatus() = 0;
  bool IsComplete() { return GetStatus() == CL_COMPLETE; }
};
using TOCLEventList = std::vector<TIntfPtr<IOCLEvent>>;

// A memory object. Write and Read copy between host memory and the buffer
// through a queue; a non-blocking call returns at once and the host memory
// must stay valid (and, for Write, unchanged) until its event completed.
// AOffset + ASize must lie within the buffer.
struct IOCLBuffer : virtual IInterface {
  NX_INTERFACE_ID(IOCLBuffer, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A04}");
  virtual cl_mem Handle() = 0;
  virtual std::size_t GetSize() = 0;
  virtual TOCLMemoryFlags GetFlags() = 0;
  virtual TIntfPtr<IOCLEvent> Write(const TIntfPtr<IOCLCommandQueue>& AQueue, const void* AData, std::size_t ASize,
                                    std::size_t AOffset = 0, bool ABlocking = true,
                                    const TOCLEventList& AWaitFor = {}) = 0;
  virtual TIntfPtr<IOCLEvent> Read(const TIntfPtr<IOCLCommandQueue>& AQueue, void* AData, std::size_t ASize,
                                   std::size_t AOffset = 0, bool ABlocking = true,
                                   const TOCLEventList& AWaitFor = {}) = 0;
};

struct IOCLKernel : virtual IInterface {
  NX_INTERFACE_ID(IOCLKernel, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A05}");
  virtual cl_kernel Handle() = 0;
  virtual std::string GetName() = 0;
  virtual std::uint32_t GetArgCount() = 0;
  // A memory object argument.
  virtual void SetArg(std::uint32_t AIndex, const TIntfPtr<IOCLBuffer>& ABuffer) = 0;
  // A value argument of ASize bytes (a null AValue reserves local memory).
  virtual void SetArg(std::uint32_t AIndex, std::size_t ASize, const void* AValue) = 0;
  template <class T>
    requires std::is_trivially_copyable_v<T>
  void SetValue(std::uint32_t AIndex, const T& AValue) {
    SetArg(AIndex, sizeof(T), &AValue);
  }
};

struct IOCLProgram : virtual IInterface {
  NX_INTERFACE_ID(IOCLProgram, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A06}");
  virtual cl_program Handle() = 0;
  // Builds for every device of the context. A failed build raises
  // EOpenCLError whose message carries the build log of each device that failed.
  virtual void Build(const std::string& AOptions = {}) = 0;
  virtual std::string GetBuildLog(const TIntfPtr<IOCLDevice>& ADevice) = 0;
  virtual TIntfPtr<IOCLKernel> CreateKernel(const std::string& AName) = 0;
};

// An in-order command queue on one device of a context.
struct IOCLCommandQueue : virtual IInterface {
  NX_INTERFACE_ID(IOCLCommandQueue, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A07}");
  virtual cl_command_queue Handle() = 0;
  virtual TIntfPtr<IOCLDevice> GetDevice() = 0;
  // Runs AKernel over a range of AGlobal work items (1 to 3 dimensions);
  // ALocal (the work-group size) and AOffset may be empty.
  virtual TIntfPtr<IOCLEvent> EnqueueNDRange(const TIntfPtr<IOCLKernel>& AKernel,
                                             const std::vector<std::size_t>& AGlobal,
                                             const std::vector<std::size_t>& ALocal = {},
                                             const std::vector<std::size_t>& AOffset = {},
                                             const TOCLEventList& AWaitFor = {}) = 0;
  virtual void Flush() = 0;
  // Blocks until every command of the queue completed.
  virtual void Finish() = 0;
};

// A context on one or more devices of one platform.
struct IOCLContext : virtual IInterface {
  NX_INTERFACE_ID(IOCLContext, "{4F1C7A20-6D2B-4E61-9A0C-3B8D5E7F1A08}");
  virtual cl_context Handle() = 0;
  virtual std::vector<TIntfPtr<IOCLDevice>> GetDevices() = 0;
  // A buffer of ASize bytes (above 0). AHostData is required with
  // mfUseHostPtr or mfCopyHostPtr and must be null otherwise.
  virtual TIntfPtr<IOCLBuffer> CreateBuffer(TOCLMemoryFlags AFlags, std::size_t ASize,
                                            void* AHostData = nullptr) = 0;
  // A program from OpenCL C source, not yet built.
  virtual TIntfPtr<IOCLProgram> CreateProgram(const std::string& ASource) = 0;
  // A new in-order queue on ADevice (a device of this context; null: the first one).
  virtual TIntfPtr<IOCLCommandQueue> CreateQueue(const TIntfPtr<IOCLDevice>& ADevice = nullptr) = 0;
  // One in-order queue on the first device, made on first use and shared by
  // every caller (the data block proxies transfer through it, so work that
  // a caller enqueues on it is ordered with their transfers).
  virtual TIntfPtr<IOCLCommandQueue> GetDefaultQueue() = 0;
};

// ---------------------------------------------------------------- entry points

class TOpenCL {
 public:
  // The platforms in the order the loader enumerates them; empty (without
  // raising) when there is none or no loader configuration at all.
  static std::vector<TIntfPtr<IOCLPlatform>> GetPlatforms();
};

// Called by the OpenCL implementation (on a thread of its own) with an error
// report about the context.
using TOCLContextNotify = std::function<void(const std::string& AErrorInfo)>;

class TOCLContext {
 public:
  // A context on ADevices (not empty; all of one platform). AProperties is a
  // zero-terminated cl_context_properties list or null; ANotify may be empty.
  static TIntfPtr<IOCLContext> Make(const std::vector<TIntfPtr<IOCLDevice>>& ADevices,
                                    const cl_context_properties* AProperties = nullptr,
                                    TOCLContextNotify ANotify = nullptr);
};

}  // namespace nx
