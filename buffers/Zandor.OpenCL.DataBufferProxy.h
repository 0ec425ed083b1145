// Zandor.OpenCL.DataBufferProxy: the OpenCL device copy of a data block.
//
// TNXOpenCLSmartBufferProxy is the block's proxy for one (context, memory
// flags) pair: an OpenCL buffer of the block's memory size in that context.
// TNXOpenCLBufferProxy is the handle a component keeps for a buffer:
//
//   TIntfPtr<INXOpenCLBufferProxy> p(new TNXOpenCLBufferProxy(buffer, context, {TOCLMemoryFlag::mfReadWrite}));
//   p->Lock({TBufferAccessMode::Read, TBufferAccessMode::Write});  // device copy up to date
//   kernel->SetArg(0, p->GetBuffer());
//   context->GetDefaultQueue()->EnqueueNDRange(kernel, {n});
//   p->Unlock();                                                    // the results back in the block
//
// Keeping the two copies in step:
// - the device copy is current when it was made from the block's samples at
//   the block's present host-write count (every write access of a buffer that
//   owns the block alone counts one; a block made by copy on write has its own
//   proxies, so a stale copy is never seen through it);
// - Lock with Read uploads the samples when the device copy is not current
//   (first use, a host write since, or Invalidate); Lock with Write alone
//   does not (the kernel is to overwrite the buffer, as a host Write access
//   leaves a new block's contents undefined);
// - when the last lock goes and a Write lock was among them, Syncronize
//   downloads the device copy into the block (blocking), counts that as a
//   host write for the block's other proxies, and the copy stays current.
//   A download writes the block that every buffer on it shares: a component
//   whose kernel writes should own the block alone (take write access first),
//   as for any write.
// Transfers run blocking on the context's default queue, so commands that a
// caller enqueues on that queue are ordered with them; work on another queue
// must be complete before Unlock.
// With mfUseHostPtr the device buffer uses the block's memory itself, and a
// transfer is a map and unmap (the implementation's coherence points).
// When the block goes, the proxy releases its device buffer; GetBuffer then
// returns null and Lock raises EInvalidOperation.
#pragma once

#include "buffers/NXSmartBufferProxy.h"
#include "runtime/Zandor.OpenCL.h"

namespace nx {

struct INXOpenCLSmartBufferProxy : virtual INXSmartBufferProxy {
  NX_INTERFACE_ID(INXOpenCLSmartBufferProxy, "{8C2E4B10-5F3A-4D7E-B1C9-2A6D0E9F3B02}");
  // The device buffer (no transfer; null after the block went).
  virtual TIntfPtr<IOCLBuffer> GetBuffer() = 0;
  virtual TIntfPtr<IOCLContext> GetContext() = 0;
  virtual TOCLMemoryFlags GetFlags() = 0;
  // True when the device copy matches the block's samples.
  virtual bool IsCurrent() = 0;
  // Uploads the samples when the device copy is not current.
  virtual void UpdateDevice() = 0;
  // Downloads the device copy into the block.
  virtual void UpdateHost() = 0;
};

class TNXOpenCLSmartBufferProxy : public TNXSmartBufferProxy, public virtual INXOpenCLSmartBufferProxy {
  NX_INTERFACES(TNXSmartBufferProxy, INXSmartBufferProxy, INXOpenCLSmartBufferProxy)

 public:
  // AParameters: [0] the IOCLContext (an interface variant), [1] the memory
  // flags (an integer variant: TOCLMemoryFlags::AsInteger). Fewer than two
  // parameters: EAssertionFailed "Assertion failure".
  TNXOpenCLSmartBufferProxy(TNXSmartBuffer* ABlock, const TNXProxyParameters& AParameters);
  ~TNXOpenCLSmartBufferProxy() override;

  // The parameter list for a context and a flag set.
  static TNXProxyParameters Parameters(const TIntfPtr<IOCLContext>& AContext, TOCLMemoryFlags AFlags);

  bool MatchesParameters(const TNXProxyParameters& AParameters) override;
  void Lock(const void* AOwner, TBufferAccessModes AModes) override;
  void Syncronize(TBufferAccessModes AModes) override;
  // Marks the device copy stale: the next Lock with Read uploads.
  void Invalidate() override;

  TIntfPtr<IOCLBuffer> GetBuffer() override;
  TIntfPtr<IOCLContext> GetContext() override { return FContext; }
  TOCLMemoryFlags GetFlags() override { return FFlags; }
  bool IsCurrent() override;
  void UpdateDevice() override;
  void UpdateHost() override;

  // Live proxies of this class (for tests of their release).
  static std::int32_t LiveCount() noexcept;

 protected:
  void BlockGone() noexcept override;

 private:
  bool IntIsCurrent() const noexcept;
  void CheckBlock() const;
  // Map and unmap of a buffer on the block's own memory (mfUseHostPtr).
  void SyncHostPtr(cl_map_flags AMapFlags);

  TIntfPtr<IOCLContext> FContext;
  TIntfPtr<IOCLBuffer> FBuffer;
  TOCLMemoryFlags FFlags;
  bool FInvalid = true;          // the device copy holds nothing valid
  std::uint64_t FDeviceWrites = 0;  // the block's host-write count the copy matches
};

struct INXOpenCLBufferProxy : virtual IInterface {
  NX_INTERFACE_ID(INXOpenCLBufferProxy, "{8C2E4B10-5F3A-4D7E-B1C9-2A6D0E9F3B03}");
  virtual TIntfPtr<INXOpenCLSmartBufferProxy> GetProxy() = 0;
  virtual TIntfPtr<IOCLBuffer> GetBuffer() = 0;
  // Lock and Unlock of the proxy with this handle as the owner.
  virtual void Lock(TBufferAccessModes AModes) = 0;
  virtual void Unlock() = 0;
};

class TNXOpenCLBufferProxy : public TInterfacedObject, public INXOpenCLBufferProxy {
  NX_INTERFACES(TInterfacedObject, INXOpenCLBufferProxy)

 public:
  // Asks ABuffer for the proxy of its block in AContext with AFlags.
  TNXOpenCLBufferProxy(const TIntfPtr<INXGenericBuffer>& ABuffer, const TIntfPtr<IOCLContext>& AContext,
                       TOCLMemoryFlags AFlags);
  // A handle still holding a lock gives it back (no exception escapes).
  ~TNXOpenCLBufferProxy() override;

  TIntfPtr<INXOpenCLSmartBufferProxy> GetProxy() override { return FProxy; }
  TIntfPtr<IOCLBuffer> GetBuffer() override { return FProxy->GetBuffer(); }
  void Lock(TBufferAccessModes AModes) override;
  void Unlock() override;

 private:
  TIntfPtr<INXOpenCLSmartBufferProxy> FProxy;
  bool FLocked = false;
};

}  // namespace nx
