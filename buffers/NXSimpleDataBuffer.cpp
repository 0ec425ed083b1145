// NXSimpleDataBuffer: the core of the buffer unit: the byte buffer on a
// shared block with its copy on write, the item and resizable buffers, the
// access handles, raw storage and serialisation, the notification list and
// the registration of the buffer classes. Each family of typed buffers has a
// source of its own (NXRealBuffer, NXIntegerBuffers, NXComplexBuffer,
// NXBooleanBlockBuffers, NXMatrixBuffers), all behind the one public header.
#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/NXPackage.h"

#include <algorithm>
#include <cstring>

#include "buffers/NXBufferOperations.h"
#include "runtime/Zandor.ClassManagement.h"
#include "runtime/Zandor.Serialization.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

using namespace bufferops;

// ---------------------------------------------------------------- notification list

void TNXNotifyList::Remove(THandle AHandle) noexcept {
  auto it = std::find_if(FItems.begin(), FItems.end(), [&](const auto& item) { return item.first == AHandle; });
  if (it != FItems.end()) FItems.erase(it);
}

void TNXNotifyList::Fire() const {
  // Copied first: a callback may subscribe or unsubscribe.
  if (FItems.empty()) return;
  const auto items = FItems;
  for (const auto& item : items)
    if (item.second) item.second();
}

// ---------------------------------------------------------------- sequence stamp

bool TNXSequenceStamp::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (!obj) return false;
  *obj = nullptr;
  if (iid == INXSequenceStamp::IID || iid == IInterface::IID) {
    *obj = static_cast<void*>(static_cast<INXSequenceStamp*>(this));
    _AddRef();
    return true;
  }
  return false;
}
std::int32_t TNXSequenceStamp::_AddRef() noexcept { return static_cast<INXData*>(FOwner)->_AddRef(); }
std::int32_t TNXSequenceStamp::_Release() noexcept { return static_cast<INXData*>(FOwner)->_Release(); }
bool TNXSequenceStamp::GetAvailable() { return FOwner->GetBufferNumberAvailable(); }
void TNXSequenceStamp::SetAvailable(bool AValue) { FOwner->SetBufferNumberAvailable(AValue); }
std::uint64_t TNXSequenceStamp::GetBufferNumber() { return FOwner->GetBufferNumber(); }
void TNXSequenceStamp::SetBufferNumber(std::uint64_t AValue) { FOwner->SetBufferNumber(AValue); }

// ---------------------------------------------------------------- TNXGenericBuffer

TNXGenericBuffer::TNXGenericBuffer(INXData* AParent, std::uint32_t AByteSize, TNXSmartBuffer* ABlock) {
  if (AParent) AssignData(AParent);
  FByteSize = AByteSize;
  FDataContainer = ABlock;
  FOwnsData = true;
  ABlock->AddReff(true);
  FData = static_cast<std::uint8_t*>(ABlock->GetData());
  _NXCountPasBuffers.Increment();
}

TNXGenericBuffer* TNXGenericBuffer::BufferOf(INXData* ASource) {
  if (!ASource) throw EArgumentException("A buffer is required, not nil");
  auto* buffer = dynamic_cast<TNXGenericBuffer*>(ASource->GetInstance());
  if (!buffer) throw EArgumentException("The data object is not a buffer");
  return buffer;
}

std::uint32_t TNXGenericBuffer::ByteSizeOf(std::uint64_t ACount, std::uint32_t AItemSize) {
  const std::uint64_t bytes = ACount * AItemSize;  // both below 2^32: no wrap in 64 bits
  if (bytes > 0xFFFFFFFFu) throw EIntOverflow();
  return static_cast<std::uint32_t>(bytes);
}

TIntfPtr<INXData> TNXGenericBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXGenericBuffer(this));
}

void TNXGenericBuffer::Assign(const TIntfPtr<INXDataBuffer>& ASource) {
  TNXGenericBuffer* source = BufferOf(ASource);
  if (source == this) return;
  AssignData(source);
  if (source->FDataContainer != FDataContainer) {
    // The new reference first: the old block may be the last thing keeping
    // something alive that the source depends on.
    TNXSmartBuffer* old = FDataContainer;
    source->FDataContainer->AddReff(FOwnsData);
    SetDataContainer(source->FDataContainer);
    if (old) old->RemoveReff(FOwnsData);
    PopulateCahces();
  }
  FByteSize = source->FByteSize;
  FData = source->FData;
  SyncView();
}

bool TNXGenericBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  if (!AOther) return false;
  const std::uint32_t n = AOther->GetByteSize();
  if (n != FByteSize) return false;
  return n == 0 || std::memcmp(FData, AOther->ByteRead(), n) == 0;
}

TIntfPtr<INXDataBufferAccess> TNXGenericBuffer::ByteData(TBufferAccessModes AModes) {
  return TIntfPtr<INXDataBufferAccess>(new TNXDataBufferAccess(this, AModes));
}

TIntfPtr<INXSequenceStamp> TNXGenericBuffer::GetSequenceStamp() {
  return TIntfPtr<INXSequenceStamp>(&FSequenceStamp);
}

void TNXGenericBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                              std::int32_t ATargetOffset, std::int32_t ACount) {
  if (!ATargetBuffer) throw EArgumentException("A target buffer is required");
  // The target first: if it shares this buffer's block, its write access
  // moves it away and our bytes stay where they are.
  std::uint8_t* target = ATargetBuffer->ByteModify();
  ippsCopy_8u(ByteRead() + ASourceOffset, target + ATargetOffset, ACount);
}

void TNXGenericBuffer::RemoveOwnerShip() noexcept {
  if (!FOwnsData) return;
  FDataContainer->RemoveOwnerShip();
  FOwnsData = false;
}

void TNXGenericBuffer::PopulateCahces() {
  IntPopulateCahces();
  FNotify.Fire();
}

void TNXGenericBuffer::IntPopulateCahces() noexcept {
  FData = static_cast<std::uint8_t*>(FDataContainer->GetData());
  SyncView();
}

bool TNXGenericBuffer::IntMakeUnique(bool APreserve) {
  // The owner test ran without a lock: two owners writing at once may both
  // get here, and each then makes its own copy. The block they shared loses
  // both of them as owners (and is freed if nobody else references it).
  TNXSmartBuffer* old = FDataContainer;
  TNXSmartBuffer* block = old->Clone(APreserve);
  block->AddReff(FOwnsData);
  SetDataContainer(block);
  old->RemoveReff(FOwnsData);
  PopulateCahces();
  return true;
}

// ---------------------------------------------------------------- TNXMemoryBuffer

TNXMemoryBuffer::TNXMemoryBuffer(std::uint32_t ACount, std::uint32_t AItemSize)
    : TNXGenericBuffer(nullptr, ByteSizeOf(ACount, AItemSize), NewBlock(ByteSizeOf(ACount, AItemSize))) {}

TIntfPtr<INXData> TNXMemoryBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXMemoryBuffer(static_cast<TNXGenericBuffer*>(this)));
}

TNXSmartBuffer* TNXMemoryBuffer::MakeCopySize(std::uint32_t ASize) {
  return new TNXSmartMemoryBuffer(ByteSizeOf(ASize, ItemSize()));
}

// ---------------------------------------------------------------- TNXLinearMemoryBuffer

TIntfPtr<INXData> TNXLinearMemoryBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXLinearMemoryBuffer(static_cast<TNXGenericBuffer*>(this)));
}

bool TNXLinearMemoryBuffer::Resize(std::uint32_t ASize, bool APreserveData) {
  const std::uint32_t item = ItemSize();
  const std::uint32_t bytes = ByteSizeOf(ASize, item);
  if (ASize == 0) {
    FByteSize = 0;
    PopulateCahces();
    return true;
  }
  const std::uint32_t current = FByteSize / item;
  if (ASize == current) return false;
  // Shrinking with preservation keeps the block, even a shared one: the
  // other holders see their own byte sizes.
  if (APreserveData && current > ASize) {
    FByteSize = bytes;
    PopulateCahces();
    return true;
  }
  // Growth within the memory that an earlier shrink left (sole owner only).
  if (APreserveData && FDataContainer->SingleOwner() && FDataContainer->GetSize() / item >= ASize) {
    FByteSize = bytes;
    PopulateCahces();
    return true;
  }
  TNXSmartBuffer* old = FDataContainer;
  TNXSmartBuffer* block = MakeCopySize(ASize);
  if (APreserveData) {
    const std::uint32_t n = std::min(old->GetSize(), block->GetSize());
    if (n > 0)
      ippsCopy_8u(static_cast<const Ipp8u*>(old->GetData()), static_cast<Ipp8u*>(block->GetData()),
                  static_cast<int>(n));
  }
  block->AddReff(FOwnsData);
  SetDataContainer(block);
  old->RemoveReff(FOwnsData);
  FByteSize = bytes;
  PopulateCahces();
  return true;
}

// ---------------------------------------------------------------- access handles

TNXDataBufferAccess::TNXDataBufferAccess(TNXGenericBuffer* ABuffer, TBufferAccessModes AModes)
    : FBuffer(ABuffer), FObject(ABuffer) {
  switch (AccessKindOf(AModes)) {
    case TBufferAccessKind::Modify:
      FByteAccessor = [b = ABuffer] { return b->ByteModify(); };
      break;
    case TBufferAccessKind::Write:
      FByteAccessor = [b = ABuffer] { return b->ByteWrite(); };
      break;
    case TBufferAccessKind::Read:
      break;  // ByteData reads through ByteRead; nothing writable is handed out
  }
}

void TNXDataBufferAccess::RaiseReadOnlyAccess() {
  throw EInvalidOperation("The buffer access handle was opened for reading: it hands out no writable data");
}

// ---------------------------------------------------------------- storage, serialisation, subscriptions

std::vector<std::uint8_t> TNXGenericBuffer::AsBytes() const {
  const std::uint8_t* p = ByteRead();
  return std::vector<std::uint8_t>(p, p + FByteSize);
}

void TNXGenericBuffer::SaveToStream(TStream& AStream) {
  if (FByteSize > 0) AStream.WriteBuffer(ByteRead(), FByteSize);
}

void TNXGenericBuffer::LoadFromStream(TStream& AStream, bool AResize) {
  // Write access (no copy of a shared block's contents: every byte is
  // overwritten). ReadBuffer raises EReadError on a short stream after
  // storing what it got.
  if (FByteSize > 0) AStream.ReadBuffer(ByteWrite(), FByteSize);
}

void TNXGenericBuffer::SaveToFile(const std::string& AFileName) {
  TFileStream file(AFileName, fmCreate);
  SaveToStream(file);
}

void TNXGenericBuffer::LoadFromFile(const std::string& AFileName, bool AResize) {
  TFileStream file(AFileName, fmOpenRead);
  LoadFromStream(file, AResize);
}

void TNXLinearMemoryBuffer::LoadFromStream(TStream& AStream, bool AResize) {
  if (AResize) {
    const std::int64_t left = AStream.Size() - AStream.Position();
    const std::uint64_t count = left > 0 ? static_cast<std::uint64_t>(left) / ItemSize() : 0;
    if (count > 0xFFFFFFFFu) throw EIntOverflow();
    Resize(static_cast<std::uint32_t>(count), false);
  }
  TNXMemoryBuffer::LoadFromStream(AStream, false);
}

void TNXGenericBuffer::SerializationWrite(IWriter& AWriter) {
  TNXData::SerializationWrite(AWriter);  // "Custom" and the class's own members
  AWriter.BeginObject("SequenceStamp", "TNXSequenceStamp");
  // Written as available whatever the block says: a buffer read back
  // carries the number as a valid stamp.
  AWriter.WriteBoolean("Available", true);
  AWriter.WriteUInt64("BufferNumber", GetBufferNumber());
  AWriter.EndObject();
  AWriter.WriteBytes("Data", ByteRead(), FByteSize);
}

void TNXGenericBuffer::SerializationRead(IReader& AReader) {
  TIntfPtr<INXDataBufferAccess> access = ByteData(TBufferAccessMode::Write);
  InternalSerializationRead(AReader);
  // The stored bytes go straight from the stream into the buffer (one copy);
  // what does not fit is skipped, a shorter block leaves the rest as it was.
  // The write access runs only when there is something to copy, so that an
  // empty "Data" does not detach a shared block.
  std::uint64_t stored = 0;
  if (AReader.BytesLength("Data", stored) && stored > 0 && FByteSize > 0) {
    std::uint64_t copied = 0;
    AReader.ReadBytesInto("Data", access->WritableByteData(), FByteSize, copied);
  }
  // The stamp after the data: a write access that copies a shared block
  // gives the buffer a block whose stamp is unset.
  std::string stampClass;
  if (AReader.BeginObject("SequenceStamp", stampClass)) {
    bool available = false;
    std::uint64_t number = 0;
    if (AReader.ReadBoolean("Available", available)) SetBufferNumberAvailable(available);
    if (AReader.ReadUInt64("BufferNumber", number)) SetBufferNumber(number);
    AReader.EndObject();
  }
  ReadCustom(AReader);
}

// Left to us: the element count of a resizable buffer is written under a
// key of its own, "Size", and reading resizes to it before "Data" is copied,
// so that a buffer made empty by its class name comes back with its size.
// The count is believed only as far as the stored "Data" backs it: a count
// beyond the stored bytes is a corrupted form (it would otherwise let a few
// bytes of input allocate gigabytes).
void TNXLinearMemoryBuffer::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.WriteUInt32("Size", FByteSize / ItemSize());
}

void TNXLinearMemoryBuffer::InternalSerializationRead(IReader& AReader) {
  std::uint32_t count = 0;
  if (!AReader.ReadUInt32("Size", count)) return;
  std::uint64_t stored = 0;
  AReader.BytesLength("Data", stored);
  if (static_cast<std::uint64_t>(count) * ItemSize() > stored)
    throw ESerializationError(Format("Size %u is larger than the stored data (%llu bytes)", count,
                                     static_cast<unsigned long long>(stored)));
  Resize(count, false);
}

void RGSubscribeBufferNodify(const TIntfPtr<INXGenericBuffer>& ABuffer, void* AObject,
                             TNXBufferNotifyCallback ACallback, TNXNotifyList::THandle& AProc) {
  if (!ACallback) throw EArgumentException("A callback is required");
  AProc = TNXGenericBuffer::BufferOf(ABuffer)->Notifications().Add([AObject, ACallback] { ACallback(AObject); });
}

void RGUnSubscribeBufferNodify(const TIntfPtr<INXGenericBuffer>& ABuffer, TNXNotifyList::THandle AProc) {
  TNXGenericBuffer::BufferOf(ABuffer)->Notifications().Remove(AProc);
}

namespace NXSimpleDataBuffer {

namespace {
// The registered buffer classes, in registration order (the unsigned
// buffer is not among them).
std::vector<TClassEntry> BufferClasses() {
  return {
      ClassEntry<TNXBlockBuffer>("TNXBlockBuffer"),
      ClassEntry<TNXBooleanBuffer>("TNXBooleanBuffer"),
      ClassEntry<TNXRealBuffer>("TNXRealBuffer"),
      ClassEntry<TNXComplexBuffer>("TNXComplexBuffer"),
      ClassEntry<TNXIntegerBuffer>("TNXIntegerBuffer"),
      ClassEntry<TNXRealMatrixBuffer>("TNXRealMatrixBuffer"),
      ClassEntry<TNXRealBufferList>("TNXRealBufferList"),
  };
}
}  // namespace

void UnitInitialize() { TClassManagement::RegisterClasses(BufferClasses()); }

void UnitFinalize() {
  std::vector<std::string> names;
  for (const TClassEntry& e : BufferClasses()) names.push_back(e.Name);
  TClassManagement::UnregisterClasses(names);
}

}  // namespace NXSimpleDataBuffer

}  // namespace nx

NX_PACKAGE_UNIT(NXSimpleDataBuffer, &nx::NXSimpleDataBuffer::UnitInitialize, &nx::NXSimpleDataBuffer::UnitFinalize)
