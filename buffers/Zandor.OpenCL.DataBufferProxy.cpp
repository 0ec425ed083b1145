// Zandor.OpenCL.DataBufferProxy: the OpenCL proxy of a data block and the
// handle that components keep.
#include "buffers/Zandor.OpenCL.DataBufferProxy.h"

#include <algorithm>
#include <atomic>

#include "runtime/SysUtils.h"

namespace nx {

namespace {
constexpr const char* kUnit = "Zandor.OpenCL.DataBufferProxy";
std::atomic<std::int32_t> gLiveProxies{0};

TOCLMemoryFlags FlagsOf(const TVariant& AValue) noexcept {
  return TOCLMemoryFlags::FromInteger(static_cast<std::uint32_t>(AValue.AsInt64()));
}
}  // namespace

// ---------------------------------------------------------------- TNXOpenCLSmartBufferProxy

TNXOpenCLSmartBufferProxy::TNXOpenCLSmartBufferProxy(TNXSmartBuffer* ABlock, const TNXProxyParameters& AParameters)
    : TNXSmartBufferProxy(ABlock, AParameters) {
  if (AParameters.size() < 2) RaiseAssertion("Assertion failure", kUnit, __LINE__);
  FContext = AParameters[0].AsIntf<IOCLContext>();
  if (!FContext) throw EArgumentException("The first proxy parameter is not an OpenCL context");
  FFlags = FlagsOf(AParameters[1]);

  const std::size_t size = ABlock->GetSize();
  TOCLMemoryFlags flags = FFlags;
  const TOCLMemoryFlags hostFlags{TOCLMemoryFlag::mfUseHostPtr, TOCLMemoryFlag::mfCopyHostPtr};
  void* host = nullptr;
  if (size == 0)
    flags = flags.Without(hostFlags);  // OpenCL has no empty buffers: one byte stands in, never transferred
  else if (flags.Contains(TOCLMemoryFlag::mfUseHostPtr) || flags.Contains(TOCLMemoryFlag::mfCopyHostPtr))
    host = ABlock->GetData();
  FBuffer = FContext->CreateBuffer(flags, std::max<std::size_t>(size, 1), host);
  if (host) {  // made from the samples: current at once
    FInvalid = false;
    FDeviceWrites = ABlock->HostWrites();
  }
  gLiveProxies.fetch_add(1, std::memory_order_relaxed);
}

TNXOpenCLSmartBufferProxy::~TNXOpenCLSmartBufferProxy() { gLiveProxies.fetch_sub(1, std::memory_order_relaxed); }

std::int32_t TNXOpenCLSmartBufferProxy::LiveCount() noexcept { return gLiveProxies.load(std::memory_order_relaxed); }

TNXProxyParameters TNXOpenCLSmartBufferProxy::Parameters(const TIntfPtr<IOCLContext>& AContext,
                                                         TOCLMemoryFlags AFlags) {
  return {TVariant::Interface(AContext), TVariant(static_cast<std::int32_t>(AFlags.AsInteger()))};
}

bool TNXOpenCLSmartBufferProxy::MatchesParameters(const TNXProxyParameters& AParameters) {
  if (AParameters.size() < 2) return false;
  return SameObject(AParameters[0].AsInterface(), static_cast<IInterface*>(FContext.Get())) &&
         FlagsOf(AParameters[1]) == FFlags;
}

void TNXOpenCLSmartBufferProxy::CheckBlock() const {
  if (!FBlock) throw EInvalidOperation("The data block of this OpenCL proxy has been released");
}

bool TNXOpenCLSmartBufferProxy::IntIsCurrent() const noexcept {
  return FBlock && !FInvalid && FDeviceWrites == FBlock->HostWrites();
}

bool TNXOpenCLSmartBufferProxy::IsCurrent() {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  return IntIsCurrent();
}

void TNXOpenCLSmartBufferProxy::Lock(const void* AOwner, TBufferAccessModes AModes) {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  CheckBlock();
  if (AModes.Contains(TBufferAccessMode::Read)) UpdateDevice();
  TNXSmartBufferProxy::Lock(AOwner, AModes);
}

void TNXOpenCLSmartBufferProxy::Syncronize(TBufferAccessModes AModes) {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  if (FBlock && AModes.Contains(TBufferAccessMode::Write)) UpdateHost();
}

void TNXOpenCLSmartBufferProxy::Invalidate() {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  FInvalid = true;
}

TIntfPtr<IOCLBuffer> TNXOpenCLSmartBufferProxy::GetBuffer() {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  return FBuffer;
}

void TNXOpenCLSmartBufferProxy::SyncHostPtr(cl_map_flags AMapFlags) {
  const TIntfPtr<IOCLCommandQueue> queue = FContext->GetDefaultQueue();
  const std::size_t size = FBlock->GetSize();
  cl_int rc = CL_SUCCESS;
  void* mapped = clEnqueueMapBuffer(queue->Handle(), FBuffer->Handle(), CL_TRUE, AMapFlags, 0, size, 0, nullptr,
                                    nullptr, &rc);
  OCLCheck(rc, "clEnqueueMapBuffer");
  cl_event event = nullptr;
  OCLCheck(clEnqueueUnmapMemObject(queue->Handle(), FBuffer->Handle(), mapped, 0, nullptr, &event),
           "clEnqueueUnmapMemObject");
  rc = clWaitForEvents(1, &event);
  clReleaseEvent(event);
  OCLCheck(rc, "clWaitForEvents");
}

void TNXOpenCLSmartBufferProxy::UpdateDevice() {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  CheckBlock();
  if (IntIsCurrent()) return;
  // The count is read before the copy: a host write racing with the upload
  // moves it on, and the next check uploads again.
  const std::uint64_t writes = FBlock->HostWrites();
  if (const std::size_t size = FBlock->GetSize()) {
    if (FFlags.Contains(TOCLMemoryFlag::mfUseHostPtr))
      SyncHostPtr(CL_MAP_WRITE_INVALIDATE_REGION);  // no device-to-host copy at the map: the host's bytes win
    else
      FBuffer->Write(FContext->GetDefaultQueue(), FBlock->GetData(), size);
  }
  FInvalid = false;
  FDeviceWrites = writes;
}

void TNXOpenCLSmartBufferProxy::UpdateHost() {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  CheckBlock();
  if (const std::size_t size = FBlock->GetSize()) {
    if (FFlags.Contains(TOCLMemoryFlag::mfUseHostPtr))
      SyncHostPtr(CL_MAP_READ);
    else
      FBuffer->Read(FContext->GetDefaultQueue(), FBlock->GetData(), size);
  }
  // The samples changed under every other proxy of the block; this one matches.
  FDeviceWrites = FBlock->NoteProxyWrite();
  FInvalid = false;
}

void TNXOpenCLSmartBufferProxy::BlockGone() noexcept {
  std::lock_guard<std::recursive_mutex> guard(FMutex);
  FBuffer = nullptr;  // a buffer on the block's memory must not outlive it
  FInvalid = true;
  TNXSmartBufferProxy::BlockGone();
}

// ---------------------------------------------------------------- TNXOpenCLBufferProxy

TNXOpenCLBufferProxy::TNXOpenCLBufferProxy(const TIntfPtr<INXGenericBuffer>& ABuffer,
                                           const TIntfPtr<IOCLContext>& AContext, TOCLMemoryFlags AFlags) {
  if (!ABuffer) throw EArgumentException("TNXOpenCLBufferProxy needs a buffer");
  FProxy = Supports<INXOpenCLSmartBufferProxy>(ABuffer->GetProxy(
      TNXSmartBufferProxyClass::Of<TNXOpenCLSmartBufferProxy>(), TNXOpenCLSmartBufferProxy::Parameters(AContext, AFlags)));
}

TNXOpenCLBufferProxy::~TNXOpenCLBufferProxy() {
  try {
    Unlock();
  } catch (...) {
    // A destructor cannot report a failed download.
  }
}

void TNXOpenCLBufferProxy::Lock(TBufferAccessModes AModes) {
  FProxy->Lock(this, AModes);
  FLocked = true;
}

void TNXOpenCLBufferProxy::Unlock() {
  if (!FLocked) return;
  FLocked = false;
  FProxy->Unlock(this);
}

}  // namespace nx
