// Zandor.OpenCL: the interfaced wrappers of the OpenCL objects. Each wrapper
// owns one OpenCL reference of its object and releases it in its destructor;
// wrappers that need another object to stay alive (a queue its context, a
// kernel its program) hold that object's interface.
#include "runtime/Zandor.OpenCL.h"

#include <mutex>
#include <utility>

namespace nx {

// ---------------------------------------------------------------- errors

const char* OpenCLErrorName(cl_int ACode) noexcept {
  switch (ACode) {
#define NX_CL_NAME(n) \
  case n: return #n;
    NX_CL_NAME(CL_SUCCESS)
    NX_CL_NAME(CL_DEVICE_NOT_FOUND)
    NX_CL_NAME(CL_DEVICE_NOT_AVAILABLE)
    NX_CL_NAME(CL_COMPILER_NOT_AVAILABLE)
    NX_CL_NAME(CL_MEM_OBJECT_ALLOCATION_FAILURE)
    NX_CL_NAME(CL_OUT_OF_RESOURCES)
    NX_CL_NAME(CL_OUT_OF_HOST_MEMORY)
    NX_CL_NAME(CL_PROFILING_INFO_NOT_AVAILABLE)
    NX_CL_NAME(CL_MEM_COPY_OVERLAP)
    NX_CL_NAME(CL_IMAGE_FORMAT_MISMATCH)
    NX_CL_NAME(CL_IMAGE_FORMAT_NOT_SUPPORTED)
    NX_CL_NAME(CL_BUILD_PROGRAM_FAILURE)
    NX_CL_NAME(CL_MAP_FAILURE)
    NX_CL_NAME(CL_MISALIGNED_SUB_BUFFER_OFFSET)
    NX_CL_NAME(CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST)
    NX_CL_NAME(CL_COMPILE_PROGRAM_FAILURE)
    NX_CL_NAME(CL_LINKER_NOT_AVAILABLE)
    NX_CL_NAME(CL_LINK_PROGRAM_FAILURE)
    NX_CL_NAME(CL_DEVICE_PARTITION_FAILED)
    NX_CL_NAME(CL_KERNEL_ARG_INFO_NOT_AVAILABLE)
    NX_CL_NAME(CL_INVALID_VALUE)
    NX_CL_NAME(CL_INVALID_DEVICE_TYPE)
    NX_CL_NAME(CL_INVALID_PLATFORM)
    NX_CL_NAME(CL_INVALID_DEVICE)
    NX_CL_NAME(CL_INVALID_CONTEXT)
    NX_CL_NAME(CL_INVALID_QUEUE_PROPERTIES)
    NX_CL_NAME(CL_INVALID_COMMAND_QUEUE)
    NX_CL_NAME(CL_INVALID_HOST_PTR)
    NX_CL_NAME(CL_INVALID_MEM_OBJECT)
    NX_CL_NAME(CL_INVALID_IMAGE_FORMAT_DESCRIPTOR)
    NX_CL_NAME(CL_INVALID_IMAGE_SIZE)
    NX_CL_NAME(CL_INVALID_SAMPLER)
    NX_CL_NAME(CL_INVALID_BINARY)
    NX_CL_NAME(CL_INVALID_BUILD_OPTIONS)
    NX_CL_NAME(CL_INVALID_PROGRAM)
    NX_CL_NAME(CL_INVALID_PROGRAM_EXECUTABLE)
    NX_CL_NAME(CL_INVALID_KERNEL_NAME)
    NX_CL_NAME(CL_INVALID_KERNEL_DEFINITION)
    NX_CL_NAME(CL_INVALID_KERNEL)
    NX_CL_NAME(CL_INVALID_ARG_INDEX)
    NX_CL_NAME(CL_INVALID_ARG_VALUE)
    NX_CL_NAME(CL_INVALID_ARG_SIZE)
    NX_CL_NAME(CL_INVALID_KERNEL_ARGS)
    NX_CL_NAME(CL_INVALID_WORK_DIMENSION)
    NX_CL_NAME(CL_INVALID_WORK_GROUP_SIZE)
    NX_CL_NAME(CL_INVALID_WORK_ITEM_SIZE)
    NX_CL_NAME(CL_INVALID_GLOBAL_OFFSET)
    NX_CL_NAME(CL_INVALID_EVENT_WAIT_LIST)
    NX_CL_NAME(CL_INVALID_EVENT)
    NX_CL_NAME(CL_INVALID_OPERATION)
    NX_CL_NAME(CL_INVALID_GL_OBJECT)
    NX_CL_NAME(CL_INVALID_BUFFER_SIZE)
    NX_CL_NAME(CL_INVALID_MIP_LEVEL)
    NX_CL_NAME(CL_INVALID_GLOBAL_WORK_SIZE)
    NX_CL_NAME(CL_INVALID_PROPERTY)
    NX_CL_NAME(CL_INVALID_IMAGE_DESCRIPTOR)
    NX_CL_NAME(CL_INVALID_COMPILER_OPTIONS)
    NX_CL_NAME(CL_INVALID_LINKER_OPTIONS)
    NX_CL_NAME(CL_INVALID_DEVICE_PARTITION_COUNT)
#undef NX_CL_NAME
    case -1001: return "CL_PLATFORM_NOT_FOUND_KHR";
    default: return "CL_UNKNOWN_ERROR";
  }
}

EOpenCLError::EOpenCLError(cl_int ACode, std::string ACall, const std::string& ADetails)
    : Exception(ACall + ": " + OpenCLErrorName(ACode) + " (" + std::to_string(ACode) + ")" +
                (ADetails.empty() ? std::string() : "\n" + ADetails)),
      FCode(ACode),
      FCall(std::move(ACall)) {}

void OCLCheck(cl_int ACode, const char* ACall) {
  if (ACode != CL_SUCCESS) throw EOpenCLError(ACode, ACall);
}

namespace {

// ---------------------------------------------------------------- info queries

template <class F>
std::string InfoString(F AQuery, const char* ACall) {
  std::size_t size = 0;
  OCLCheck(AQuery(0, nullptr, &size), ACall);
  std::string text(size, '\0');
  if (size) OCLCheck(AQuery(size, text.data(), nullptr), ACall);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

template <class T, class F>
T InfoValue(F AQuery, const char* ACall) {
  T value{};
  OCLCheck(AQuery(sizeof(T), &value, nullptr), ACall);
  return value;
}

std::vector<cl_event> Handles(const TOCLEventList& AEvents) {
  std::vector<cl_event> handles;
  handles.reserve(AEvents.size());
  for (const auto& e : AEvents)
    if (e) handles.push_back(e->Handle());
  return handles;
}

// ---------------------------------------------------------------- device and platform

class TOCLDevice final : public TInterfacedObject, public IOCLDevice {
  NX_INTERFACES(TInterfacedObject, IOCLDevice)
 public:
  explicit TOCLDevice(cl_device_id AId) : FId(AId) {}
  cl_device_id Handle() override { return FId; }
  std::string GetName() override { return Str(CL_DEVICE_NAME); }
  std::string GetVendor() override { return Str(CL_DEVICE_VENDOR); }
  cl_device_type GetType() override { return Value<cl_device_type>(CL_DEVICE_TYPE); }
  std::string GetTypeName() override {
    const cl_device_type t = GetType();
    if (t & CL_DEVICE_TYPE_CPU) return "CPU";
    if (t & CL_DEVICE_TYPE_GPU) return "GPU";
    if (t & CL_DEVICE_TYPE_ACCELERATOR) return "Accelerator";
    if (t & CL_DEVICE_TYPE_CUSTOM) return "Custom";
    return "Default";
  }
  std::uint32_t GetComputeUnits() override { return Value<cl_uint>(CL_DEVICE_MAX_COMPUTE_UNITS); }
  std::uint64_t GetGlobalMemSize() override { return Value<cl_ulong>(CL_DEVICE_GLOBAL_MEM_SIZE); }
  std::size_t GetMaxWorkGroupSize() override { return Value<std::size_t>(CL_DEVICE_MAX_WORK_GROUP_SIZE); }

 private:
  std::string Str(cl_device_info AInfo) {
    return InfoString([&](std::size_t n, void* p, std::size_t* r) { return clGetDeviceInfo(FId, AInfo, n, p, r); },
                      "clGetDeviceInfo");
  }
  template <class T>
  T Value(cl_device_info AInfo) {
    return InfoValue<T>([&](std::size_t n, void* p, std::size_t* r) { return clGetDeviceInfo(FId, AInfo, n, p, r); },
                        "clGetDeviceInfo");
  }
  cl_device_id FId;  // a root device: not reference counted
};

class TOCLPlatform final : public TInterfacedObject, public IOCLPlatform {
  NX_INTERFACES(TInterfacedObject, IOCLPlatform)
 public:
  explicit TOCLPlatform(cl_platform_id AId) : FId(AId) {}
  cl_platform_id Handle() override { return FId; }
  std::string GetName() override { return Str(CL_PLATFORM_NAME); }
  std::string GetVendor() override { return Str(CL_PLATFORM_VENDOR); }
  std::string GetVersion() override { return Str(CL_PLATFORM_VERSION); }
  std::vector<TIntfPtr<IOCLDevice>> GetDevices() override {
    std::vector<TIntfPtr<IOCLDevice>> devices;
    cl_uint count = 0;
    const cl_int rc = clGetDeviceIDs(FId, CL_DEVICE_TYPE_ALL, 0, nullptr, &count);
    if (rc == CL_DEVICE_NOT_FOUND || count == 0) return devices;  // a platform without devices
    OCLCheck(rc, "clGetDeviceIDs");
    std::vector<cl_device_id> ids(count);
    OCLCheck(clGetDeviceIDs(FId, CL_DEVICE_TYPE_ALL, count, ids.data(), nullptr), "clGetDeviceIDs");
    for (cl_device_id id : ids) devices.push_back(TIntfPtr<IOCLDevice>(new TOCLDevice(id)));
    return devices;
  }

 private:
  std::string Str(cl_platform_info AInfo) {
    return InfoString(
        [&](std::size_t n, void* p, std::size_t* r) { return clGetPlatformInfo(FId, AInfo, n, p, r); },
        "clGetPlatformInfo");
  }
  cl_platform_id FId;
};

// ---------------------------------------------------------------- event

class TOCLEvent final : public TInterfacedObject, public IOCLEvent {
  NX_INTERFACES(TInterfacedObject, IOCLEvent)
 public:
  explicit TOCLEvent(cl_event AEvent) noexcept : FEvent(AEvent) {}
  ~TOCLEvent() override { clReleaseEvent(FEvent); }
  cl_event Handle() override { return FEvent; }
  void Wait() override {
    const cl_int rc = clWaitForEvents(1, &FEvent);
    if (rc == CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST) {
      // Name the command's own error rather than the wait's.
      const cl_int status = GetStatus();
      throw EOpenCLError(status < 0 ? status : rc, "clWaitForEvents");
    }
    OCLCheck(rc, "clWaitForEvents");
  }
  cl_int GetStatus() override {
    return InfoValue<cl_int>(
        [&](std::size_t n, void* p, std::size_t* r) {
          return clGetEventInfo(FEvent, CL_EVENT_COMMAND_EXECUTION_STATUS, n, p, r);
        },
        "clGetEventInfo");
  }

 private:
  cl_event FEvent;
};

TIntfPtr<IOCLEvent> WrapEvent(cl_event AEvent) { return TIntfPtr<IOCLEvent>(new TOCLEvent(AEvent)); }

// ---------------------------------------------------------------- buffer

class TOCLBuffer final : public TInterfacedObject, public IOCLBuffer {
  NX_INTERFACES(TInterfacedObject, IOCLBuffer)
 public:
  TOCLBuffer(TIntfPtr<IOCLContext> AContext, cl_mem AMem, std::size_t ASize, TOCLMemoryFlags AFlags) noexcept
      : FContext(std::move(AContext)), FMem(AMem), FSize(ASize), FFlags(AFlags) {}
  ~TOCLBuffer() override { clReleaseMemObject(FMem); }
  cl_mem Handle() override { return FMem; }
  std::size_t GetSize() override { return FSize; }
  TOCLMemoryFlags GetFlags() override { return FFlags; }
  TIntfPtr<IOCLEvent> Write(const TIntfPtr<IOCLCommandQueue>& AQueue, const void* AData, std::size_t ASize,
                            std::size_t AOffset, bool ABlocking, const TOCLEventList& AWaitFor) override {
    Check(AQueue, AOffset, ASize);
    const std::vector<cl_event> wait = Handles(AWaitFor);
    cl_event event = nullptr;
    OCLCheck(clEnqueueWriteBuffer(AQueue->Handle(), FMem, ABlocking ? CL_TRUE : CL_FALSE, AOffset, ASize, AData,
                                  static_cast<cl_uint>(wait.size()), wait.empty() ? nullptr : wait.data(), &event),
             "clEnqueueWriteBuffer");
    return WrapEvent(event);
  }
  TIntfPtr<IOCLEvent> Read(const TIntfPtr<IOCLCommandQueue>& AQueue, void* AData, std::size_t ASize,
                           std::size_t AOffset, bool ABlocking, const TOCLEventList& AWaitFor) override {
    Check(AQueue, AOffset, ASize);
    const std::vector<cl_event> wait = Handles(AWaitFor);
    cl_event event = nullptr;
    OCLCheck(clEnqueueReadBuffer(AQueue->Handle(), FMem, ABlocking ? CL_TRUE : CL_FALSE, AOffset, ASize, AData,
                                 static_cast<cl_uint>(wait.size()), wait.empty() ? nullptr : wait.data(), &event),
             "clEnqueueReadBuffer");
    return WrapEvent(event);
  }

 private:
  void Check(const TIntfPtr<IOCLCommandQueue>& AQueue, std::size_t AOffset, std::size_t ASize) const {
    if (!AQueue) throw EOpenCLError(CL_INVALID_COMMAND_QUEUE, "IOCLBuffer transfer", "no queue given");
    // The implementation checks the range too; a check here gives the same
    // error on every implementation.
    if (AOffset > FSize || ASize > FSize - AOffset) throw EOpenCLError(CL_INVALID_VALUE, "IOCLBuffer transfer",
                                                                     "range beyond the buffer");
  }
  TIntfPtr<IOCLContext> FContext;
  cl_mem FMem;
  std::size_t FSize;
  TOCLMemoryFlags FFlags;
};

// ---------------------------------------------------------------- kernel and program

class TOCLKernel final : public TInterfacedObject, public IOCLKernel {
  NX_INTERFACES(TInterfacedObject, IOCLKernel)
 public:
  TOCLKernel(TIntfPtr<IOCLProgram> AProgram, cl_kernel AKernel, std::string AName) noexcept
      : FProgram(std::move(AProgram)), FKernel(AKernel), FName(std::move(AName)) {}
  ~TOCLKernel() override { clReleaseKernel(FKernel); }
  cl_kernel Handle() override { return FKernel; }
  std::string GetName() override { return FName; }
  std::uint32_t GetArgCount() override {
    return InfoValue<cl_uint>(
        [&](std::size_t n, void* p, std::size_t* r) { return clGetKernelInfo(FKernel, CL_KERNEL_NUM_ARGS, n, p, r); },
        "clGetKernelInfo");
  }
  void SetArg(std::uint32_t AIndex, const TIntfPtr<IOCLBuffer>& ABuffer) override {
    cl_mem mem = ABuffer ? ABuffer->Handle() : nullptr;
    OCLCheck(clSetKernelArg(FKernel, AIndex, sizeof(cl_mem), &mem), "clSetKernelArg");
  }
  void SetArg(std::uint32_t AIndex, std::size_t ASize, const void* AValue) override {
    OCLCheck(clSetKernelArg(FKernel, AIndex, ASize, AValue), "clSetKernelArg");
  }

 private:
  TIntfPtr<IOCLProgram> FProgram;
  cl_kernel FKernel;
  std::string FName;
};

class TOCLProgram final : public TInterfacedObject, public IOCLProgram {
  NX_INTERFACES(TInterfacedObject, IOCLProgram)
 public:
  TOCLProgram(TIntfPtr<IOCLContext> AContext, cl_program AProgram) noexcept
      : FContext(std::move(AContext)), FProgram(AProgram) {}
  ~TOCLProgram() override { clReleaseProgram(FProgram); }
  cl_program Handle() override { return FProgram; }
  void Build(const std::string& AOptions) override {
    const cl_int rc = clBuildProgram(FProgram, 0, nullptr, AOptions.c_str(), nullptr, nullptr);
    if (rc == CL_SUCCESS) return;
    // The logs of the devices whose build failed, each headed by the device name.
    std::string details;
    if (rc == CL_BUILD_PROGRAM_FAILURE) {
      for (const auto& device : FContext->GetDevices()) {
        cl_build_status status = CL_BUILD_NONE;
        clGetProgramBuildInfo(FProgram, device->Handle(), CL_PROGRAM_BUILD_STATUS, sizeof status, &status, nullptr);
        if (status != CL_BUILD_ERROR) continue;
        if (!details.empty()) details += "\n";
        details += "Build log (" + device->GetName() + "):\n" + GetBuildLog(device);
      }
    }
    throw EOpenCLError(rc, "clBuildProgram", details);
  }
  std::string GetBuildLog(const TIntfPtr<IOCLDevice>& ADevice) override {
    cl_device_id id = ADevice->Handle();
    return InfoString(
        [&](std::size_t n, void* p, std::size_t* r) {
          return clGetProgramBuildInfo(FProgram, id, CL_PROGRAM_BUILD_LOG, n, p, r);
        },
        "clGetProgramBuildInfo");
  }
  TIntfPtr<IOCLKernel> CreateKernel(const std::string& AName) override {
    cl_int rc = CL_SUCCESS;
    cl_kernel kernel = clCreateKernel(FProgram, AName.c_str(), &rc);
    if (rc != CL_SUCCESS) throw EOpenCLError(rc, "clCreateKernel", "kernel \"" + AName + "\"");
    return TIntfPtr<IOCLKernel>(new TOCLKernel(TIntfPtr<IOCLProgram>(this), kernel, AName));
  }

 private:
  TIntfPtr<IOCLContext> FContext;
  cl_program FProgram;
};

// ---------------------------------------------------------------- queue

class TOCLCommandQueue final : public TInterfacedObject, public IOCLCommandQueue {
  NX_INTERFACES(TInterfacedObject, IOCLCommandQueue)
 public:
  TOCLCommandQueue(TIntfPtr<IOCLContext> AContext, TIntfPtr<IOCLDevice> ADevice, cl_command_queue AQueue) noexcept
      : FContext(std::move(AContext)), FDevice(std::move(ADevice)), FQueue(AQueue) {}
  ~TOCLCommandQueue() override {
    clFinish(FQueue);  // commands still queued may use objects released after us
    clReleaseCommandQueue(FQueue);
  }
  cl_command_queue Handle() override { return FQueue; }
  TIntfPtr<IOCLDevice> GetDevice() override { return FDevice; }
  TIntfPtr<IOCLEvent> EnqueueNDRange(const TIntfPtr<IOCLKernel>& AKernel, const std::vector<std::size_t>& AGlobal,
                                     const std::vector<std::size_t>& ALocal, const std::vector<std::size_t>& AOffset,
                                     const TOCLEventList& AWaitFor) override {
    if (!AKernel) throw EOpenCLError(CL_INVALID_KERNEL, "clEnqueueNDRangeKernel", "no kernel given");
    const std::size_t dims = AGlobal.size();
    if (dims < 1 || dims > 3 || (!ALocal.empty() && ALocal.size() != dims) ||
        (!AOffset.empty() && AOffset.size() != dims))
      throw EOpenCLError(CL_INVALID_WORK_DIMENSION, "clEnqueueNDRangeKernel");
    const std::vector<cl_event> wait = Handles(AWaitFor);
    cl_event event = nullptr;
    OCLCheck(clEnqueueNDRangeKernel(FQueue, AKernel->Handle(), static_cast<cl_uint>(dims),
                                    AOffset.empty() ? nullptr : AOffset.data(), AGlobal.data(),
                                    ALocal.empty() ? nullptr : ALocal.data(), static_cast<cl_uint>(wait.size()),
                                    wait.empty() ? nullptr : wait.data(), &event),
             "clEnqueueNDRangeKernel");
    return WrapEvent(event);
  }
  void Flush() override { OCLCheck(clFlush(FQueue), "clFlush"); }
  void Finish() override { OCLCheck(clFinish(FQueue), "clFinish"); }

 private:
  TIntfPtr<IOCLContext> FContext;
  TIntfPtr<IOCLDevice> FDevice;
  cl_command_queue FQueue;
};

// ---------------------------------------------------------------- context

class TOCLContextObject final : public TInterfacedObject, public IOCLContext {
  NX_INTERFACES(TInterfacedObject, IOCLContext)
 public:
  TOCLContextObject(std::vector<TIntfPtr<IOCLDevice>> ADevices, TOCLContextNotify ANotify)
      : FDevices(std::move(ADevices)), FNotify(std::move(ANotify)) {}
  ~TOCLContextObject() override {
    FDefaultQueue = nullptr;  // finishes its commands while the context is still ours
    if (FContext) clReleaseContext(FContext);
  }
  // Separate from the constructor: the notification callback gets `this`.
  void Open(const cl_context_properties* AProperties) {
    std::vector<cl_device_id> ids;
    for (const auto& d : FDevices) ids.push_back(d->Handle());
    cl_int rc = CL_SUCCESS;
    FContext = clCreateContext(AProperties, static_cast<cl_uint>(ids.size()), ids.data(),
                               FNotify ? &TOCLContextObject::Notify : nullptr, FNotify ? this : nullptr, &rc);
    OCLCheck(rc, "clCreateContext");
  }

  cl_context Handle() override { return FContext; }
  std::vector<TIntfPtr<IOCLDevice>> GetDevices() override { return FDevices; }
  TIntfPtr<IOCLBuffer> CreateBuffer(TOCLMemoryFlags AFlags, std::size_t ASize, void* AHostData) override {
    cl_int rc = CL_SUCCESS;
    cl_mem mem = clCreateBuffer(FContext, AFlags.ToCL(), ASize, AHostData, &rc);
    OCLCheck(rc, "clCreateBuffer");
    return TIntfPtr<IOCLBuffer>(new TOCLBuffer(TIntfPtr<IOCLContext>(this), mem, ASize, AFlags));
  }
  TIntfPtr<IOCLProgram> CreateProgram(const std::string& ASource) override {
    const char* text = ASource.c_str();
    const std::size_t length = ASource.size();
    cl_int rc = CL_SUCCESS;
    cl_program program = clCreateProgramWithSource(FContext, 1, &text, &length, &rc);
    OCLCheck(rc, "clCreateProgramWithSource");
    return TIntfPtr<IOCLProgram>(new TOCLProgram(TIntfPtr<IOCLContext>(this), program));
  }
  TIntfPtr<IOCLCommandQueue> CreateQueue(const TIntfPtr<IOCLDevice>& ADevice) override {
    TIntfPtr<IOCLDevice> device = ADevice ? ADevice : FDevices.front();
    cl_int rc = CL_SUCCESS;
    cl_command_queue queue = clCreateCommandQueue(FContext, device->Handle(), 0, &rc);
    OCLCheck(rc, "clCreateCommandQueue");
    return TIntfPtr<IOCLCommandQueue>(new TOCLCommandQueue(TIntfPtr<IOCLContext>(this), device, queue));
  }
  TIntfPtr<IOCLCommandQueue> GetDefaultQueue() override {
    std::lock_guard<std::mutex> guard(FQueueLock);
    if (!FDefaultQueue) FDefaultQueue = MakeWeakQueue();
    return FDefaultQueue;
  }

 private:
  // The default queue lives as long as the context, so it must not hold the
  // context (a cycle): it is a queue whose context reference is left empty.
  TIntfPtr<IOCLCommandQueue> MakeWeakQueue() {
    cl_int rc = CL_SUCCESS;
    cl_command_queue queue = clCreateCommandQueue(FContext, FDevices.front()->Handle(), 0, &rc);
    OCLCheck(rc, "clCreateCommandQueue");
    return TIntfPtr<IOCLCommandQueue>(new TOCLCommandQueue(nullptr, FDevices.front(), queue));
  }
  static void CL_CALLBACK Notify(const char* AErrorInfo, const void*, std::size_t, void* AUser) {
    auto* self = static_cast<TOCLContextObject*>(AUser);
    try {
      self->FNotify(AErrorInfo ? AErrorInfo : "");
    } catch (...) {
      // A callback of the OpenCL implementation cannot carry an exception.
    }
  }

  std::vector<TIntfPtr<IOCLDevice>> FDevices;
  TOCLContextNotify FNotify;
  cl_context FContext = nullptr;
  std::mutex FQueueLock;
  TIntfPtr<IOCLCommandQueue> FDefaultQueue;
};

}  // namespace

// ---------------------------------------------------------------- entry points

std::vector<TIntfPtr<IOCLPlatform>> TOpenCL::GetPlatforms() {
  std::vector<TIntfPtr<IOCLPlatform>> platforms;
  cl_uint count = 0;
  const cl_int rc = clGetPlatformIDs(0, nullptr, &count);
  // No platform at all is an answer, not a failure: the ICD loader reports
  // it as CL_PLATFORM_NOT_FOUND_KHR (some loaders as success with 0).
  if (rc == -1001 || (rc == CL_SUCCESS && count == 0)) return platforms;
  OCLCheck(rc, "clGetPlatformIDs");
  std::vector<cl_platform_id> ids(count);
  OCLCheck(clGetPlatformIDs(count, ids.data(), nullptr), "clGetPlatformIDs");
  for (cl_platform_id id : ids) platforms.push_back(TIntfPtr<IOCLPlatform>(new TOCLPlatform(id)));
  return platforms;
}

TIntfPtr<IOCLContext> TOCLContext::Make(const std::vector<TIntfPtr<IOCLDevice>>& ADevices,
                                        const cl_context_properties* AProperties, TOCLContextNotify ANotify) {
  if (ADevices.empty()) throw EOpenCLError(CL_INVALID_VALUE, "clCreateContext", "no devices given");
  auto* context = new TOCLContextObject(ADevices, std::move(ANotify));
  TIntfPtr<IOCLContext> result(context);  // frees the object if Open raises
  context->Open(AProperties);
  return result;
}

}  // namespace nx
