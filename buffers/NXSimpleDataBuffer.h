// NXSimpleDataBuffer: the buffers that carry samples between components.
//
// A buffer is a small reference-counted object that is a view on a shared
// data block (NXInternalStore). Passing a buffer on (GetDataCopy, a sharing
// constructor, Assign) makes a new buffer object on the same block and never
// copies samples; a buffer copies the block only when it is about to write
// and another buffer also owns the block (copy on write). A buffer object is
// used by one thread at a time; threads that share samples each hold their
// own buffer object on the block.
//
// Class tree: TNXData -> TNXGenericBuffer (bytes) -> TNXMemoryBuffer (items
// of ItemSize bytes) -> TNXLinearMemoryBuffer (resizable) -> TNXRealBuffer
// (64-bit floats, with its vector operations). The other element types
// derive from TNXLinearMemoryBuffer in the same way.
//
// Raw pointers from Read / Write / Modify / ByteRead ... stay valid while the
// caller holds the buffer and does nothing that replaces its block (a later
// write access on a shared block, Resize, Assign).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "buffers/NXBufferInterfaces.h"
#include "runtime/Zandor.Function.h"

namespace nx {

// ---------------------------------------------------------------- classes

class TNXGenericBuffer;

// The stamp object of a buffer. It lives inside its buffer and shares the
// buffer's reference count: making a buffer costs no second allocation, and a
// stamp handed out keeps its buffer (and so the block it reads) alive.
class TNXSequenceStamp final : public INXSequenceStamp {
 public:
  explicit TNXSequenceStamp(TNXGenericBuffer* AOwner) noexcept : FOwner(AOwner) {}
  bool QueryInterface(const TGUID& iid, void** obj) noexcept override;
  std::int32_t _AddRef() noexcept override;
  std::int32_t _Release() noexcept override;
  bool GetAvailable() override;
  void SetAvailable(bool AValue) override;
  std::uint64_t GetBufferNumber() override;
  void SetBufferNumber(std::uint64_t AValue) override;

 private:
  TNXGenericBuffer* FOwner;
};

// A buffer of bytes on a data block.
class TNXGenericBuffer : public TNXData, public virtual INXGenericBuffer {
  NX_INTERFACES(TNXData, INXDataBuffer, INXGenericBuffer)

 public:
  // A buffer showing AByteSize bytes of ABlock; copies the parent's custom
  // items (AParent may be null) and takes an owning reference on the block.
  TNXGenericBuffer(INXData* AParent, std::uint32_t AByteSize, TNXSmartBuffer* ABlock);
  // The sharing constructor: same block, byte size and custom items as the
  // source (not null), counted as one more owner.
  explicit TNXGenericBuffer(TNXGenericBuffer* ASource);
  ~TNXGenericBuffer() override;

  // The buffer object behind a data interface; raises EArgumentException
  // when ASource is null or not a buffer of this library.
  static TNXGenericBuffer* BufferOf(INXData* ASource);
  template <class I>
  static TNXGenericBuffer* BufferOf(const TIntfPtr<I>& ASource) {
    return BufferOf(static_cast<INXData*>(ASource.Get()));
  }
  INXDataBuffer* PeekDataBuffer() noexcept final { return this; }

  // INXData
  TIntfPtr<INXData> GetDataCopy() override;

  // INXDataBuffer
  void Assign(const TIntfPtr<INXDataBuffer>& ASource) override;
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  // Forwards to the block (defined in buffers/NXSmartBufferProxy.cpp).
  TIntfPtr<INXSmartBufferProxy> GetProxy(const TNXSmartBufferProxyClass& AProxyClass,
                                         const TNXProxyParameters& AParameters) override;
  TIntfPtr<INXDataBufferAccess> ByteData(TBufferAccessModes AModes) override;
  const std::uint8_t* ByteRead() const noexcept final { return FData; }
  std::uint8_t* ByteWrite() final {
    Unique(false);
    return FData;
  }
  std::uint8_t* ByteModify() final {
    Unique(true);
    return FData;
  }
  std::uint32_t GetByteSize() const noexcept final { return FByteSize; }
  std::int32_t GetSize() const noexcept override { return static_cast<std::int32_t>(FByteSize); }
  TIntfPtr<INXSequenceStamp> GetSequenceStamp() override;
  void CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer, std::int32_t ATargetOffset,
              std::int32_t ACount) override;
  std::vector<std::uint8_t> AsBytes() const override;
  void SaveToFile(const std::string& AFileName) override;
  void LoadFromFile(const std::string& AFileName, bool AResize) override;
  void SaveToStream(TStream& AStream) override;
  void LoadFromStream(TStream& AStream, bool AResize) override;
  void Unique(bool APreserve) final { MakeUnique(APreserve); }
  // The single-owner test is one acquire load; only a shared block takes the
  // out-of-line copy path.
  bool MakeUnique(bool APreserve) final {
    if (FDataContainer->SingleOwner()) {
      FDataContainer->NoteHostWrite();  // device copies of the block go stale
      return false;
    }
    return IntMakeUnique(APreserve);  // the new block has no proxies
  }

  // Stops counting this buffer as an owner of its block (it still references
  // it): other holders may then write to the block in place.
  virtual void RemoveOwnerShip() noexcept;
  bool OwnsData() const noexcept { return FOwnsData; }

  // The sequence stamp values of the block.
  bool GetBufferNumberAvailable() const noexcept { return FDataContainer->GetBufferNumberAvailable(); }
  void SetBufferNumberAvailable(bool AValue) noexcept { FDataContainer->SetBufferNumberAvailable(AValue); }
  std::uint64_t GetBufferNumber() const noexcept { return FDataContainer->GetBufferNumber(); }
  void SetBufferNumber(std::uint64_t AValue) noexcept { FDataContainer->SetBufferNumber(AValue); }

  TNXSmartBuffer* DataContainer() const noexcept { return FDataContainer; }
  // Callbacks fired after every refresh of the caches (a new block).
  TNXNotifyList& Notifications() noexcept { return FNotify; }

  // Refreshes the caches (IntPopulateCahces) and fires the notification list.
  void PopulateCahces();

  // Serialisation: "Custom", the class's own members, "SequenceStamp" (an
  // object with "Available", always written true, and "BufferNumber") and
  // the bytes under "Data". Reading copies min(stored, byte size) bytes of
  // "Data" without resizing (a resizable buffer sizes itself from its own
  // member first), then sets the stamp and the custom list.
  void SerializationRead(IReader& AReader) override;
  void SerializationWrite(IWriter& AWriter) override;

 protected:
  // Sets the data pointer cache from the block (and the interface view).
  virtual void IntPopulateCahces() noexcept;
  // Copies FData and FByteSize to the interface view, if there is one. Every
  // later change of either ends here (the resize and copy-on-write paths
  // through PopulateCahces, Assign directly); the typed buffer's own
  // constructor makes the first copy, once the base has set both.
  void SyncView() noexcept {
    if (FViewMirror) {
      FViewMirror->Data = FData;
      FViewMirror->ByteSize = FByteSize;
    }
  }
  // Stores the block; classes with caches of their own extend it. (The
  // constructors refresh the caches themselves: a virtual call made from a
  // base-class constructor would not reach the derived class.)
  virtual void SetDataContainer(TNXSmartBuffer* ABlock) noexcept { FDataContainer = ABlock; }
  // The copy of a shared block (out of line, off the hot path).
  bool IntMakeUnique(bool APreserve);
  // The samples as T for the buffer's own writing paths, after Unique: Read
  // hands out only const pointers.
  template <class T>
  T* Items() const noexcept {
    return reinterpret_cast<T*>(FData);
  }
  // Checked item count x item size in bytes: EIntOverflow beyond 32 bits.
  static std::uint32_t ByteSizeOf(std::uint64_t ACount, std::uint32_t AItemSize);

  TNXSequenceStamp FSequenceStamp{this};
  std::uint8_t* FData = nullptr;  // data pointer cache: first byte of the block
  std::uint32_t FByteSize = 0;
  TNXNotifyList FNotify;
  TNXSmartBuffer* FDataContainer = nullptr;
  TNXDataView* FViewMirror = nullptr;  // set by a typed buffer whose interface reads it
  bool FOwnsData = true;

  friend class TNXSequenceStamp;
};

// Passing a buffer on makes and releases one of these per receiver: the
// sharing constructor and the destructor are inline, so that every typed
// buffer's source inlines them into its own.
inline TNXGenericBuffer::TNXGenericBuffer(TNXGenericBuffer* ASource) {
  if (!ASource->FCustom.empty()) AssignData(ASource);
  FByteSize = ASource->FByteSize;
  FData = ASource->FData;
  FDataContainer = ASource->FDataContainer;
  FOwnsData = true;
  FDataContainer->AddReff(true);
  _NXCountPasBuffers.Increment();
}

inline TNXGenericBuffer::~TNXGenericBuffer() {
  if (FDataContainer) FDataContainer->RemoveReff(FOwnsData);
  FDataContainer = nullptr;
  _NXCountPasBuffers.Decrement();
}

// A buffer of items of ItemSize bytes.
class TNXMemoryBuffer : public TNXGenericBuffer {
 public:
  using TNXGenericBuffer::TNXGenericBuffer;
  // ACount items of AItemSize bytes on a new block, contents not initialised.
  // (The item size is passed in: a constructor cannot ask the derived class.)
  TNXMemoryBuffer(std::uint32_t ACount, std::uint32_t AItemSize);

  TIntfPtr<INXData> GetDataCopy() override;
  // A new block of exactly ItemSize x ASize bytes.
  virtual TNXSmartBuffer* MakeCopySize(std::uint32_t ASize);
  virtual std::uint32_t ItemSize() const noexcept { return 1; }
  std::uint32_t GetCharSize() const noexcept { return FByteSize; }
};

// A resizable buffer.
class TNXLinearMemoryBuffer : public TNXMemoryBuffer, public virtual INXLinearDataBuffer {
  NX_INTERFACES(TNXMemoryBuffer, INXLinearDataBuffer)

 public:
  using TNXMemoryBuffer::TNXMemoryBuffer;

  TIntfPtr<INXData> GetDataCopy() override;
  bool Resize(std::uint32_t ASize, bool APreserveData) override;
  void LoadFromStream(TStream& AStream, bool AResize) override;

 protected:
  // The element count under "Size" (see the source).
  void InternalSerializationRead(IReader& AReader) override;
  void InternalSerializationWrite(IWriter& AWriter) override;
};

// Access handle of bytes. A handle opened for reading holds no writing
// accessor: it reads through the buffer's const ByteRead.
class TNXDataBufferAccess : public TInterfacedObject, public virtual INXDataBufferAccess {
  NX_INTERFACES(TInterfacedObject, INXBasicBufferAccess, INXDataBufferAccess)

 public:
  using TByteDataLambda = std::function<std::uint8_t*()>;

  TNXDataBufferAccess(TNXGenericBuffer* ABuffer, TBufferAccessModes AModes);
  const std::uint8_t* ByteData() override { return FByteAccessor ? FByteAccessor() : FObject->ByteRead(); }
  std::uint8_t* WritableByteData() override {
    if (!FByteAccessor) RaiseReadOnlyAccess();
    return FByteAccessor();
  }
  bool IsWritable() const override { return static_cast<bool>(FByteAccessor); }
  std::uint32_t GetByteSize() const override { return FObject->GetByteSize(); }
  std::int32_t GetSize() const override { return FObject->GetSize(); }

 protected:
  // EInvalidOperation: a writable pointer asked of a handle opened for reading.
  [[noreturn]] static void RaiseReadOnlyAccess();

  TIntfPtr<INXGenericBuffer> FBuffer;  // the counted reference
  TNXGenericBuffer* FObject;
  TByteDataLambda FByteAccessor;  // empty for a handle opened for reading
};

// Access handle of typed elements: IAccess declares `const T* Data()` and
// `T* WritableData()`. Exactly one of the two accessors is set: the writing
// one (modify or write) for a handle opened with Write, else the reading one.
template <class T, class IAccess>
class TNXTypedBufferAccess : public TNXDataBufferAccess, public virtual IAccess {
  NX_INTERFACES(TNXDataBufferAccess, IAccess)

 public:
  using TDataLambda = std::function<T*()>;
  using TReadLambda = std::function<const T*()>;
  TNXTypedBufferAccess(TNXGenericBuffer* ABuffer, TBufferAccessModes AModes, TDataLambda AAccessor,
                       TReadLambda AReader)
      : TNXDataBufferAccess(ABuffer, AModes), FAccessor(std::move(AAccessor)), FReader(std::move(AReader)) {}
  const T* Data() override { return FAccessor ? FAccessor() : FReader(); }
  T* WritableData() override {
    if (!FAccessor) RaiseReadOnlyAccess();
    return FAccessor();
  }

 private:
  TDataLambda FAccessor;
  TReadLambda FReader;
};

using TNXRealBufferAccess = TNXTypedBufferAccess<double, INXRealBufferAccess>;

// The buffer of 64-bit floats.
class TNXRealBuffer : public TNXLinearMemoryBuffer, public virtual INXRealBuffer {
  NX_INTERFACES(TNXLinearMemoryBuffer, INXRealBuffer)

 public:
  using TBuffer = TIntfPtr<INXRealBuffer>;
  struct TValueInit {};  // picks the value constructor

  // Constructors (each has its Make.../Create... factory below).
  TNXRealBuffer();                                      // empty
  explicit TNXRealBuffer(std::uint32_t ASize);          // ASize elements, not initialised
  TNXRealBuffer(const double* AData, std::uint32_t ASize);  // copy (none for a null pointer)
  TNXRealBuffer(TValueInit, double AValue, std::uint32_t ASize);
  // Integer sources: each element converted, then divided by ADivisor unless it is exactly 1.
  TNXRealBuffer(const std::uint8_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const std::uint16_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const std::int16_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const std::uint32_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const std::int32_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const std::int64_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const std::uint64_t* AData, std::uint32_t ASize, double ADivisor);
  TNXRealBuffer(const float* AData, std::uint32_t ASize);
  explicit TNXRealBuffer(std::span<const double> AArray);
  explicit TNXRealBuffer(const std::vector<double>& AList);
  // Sharing constructors (same block, no copy).
  explicit TNXRealBuffer(TNXRealBuffer* ASource);
  explicit TNXRealBuffer(const TBuffer& ASource);
  explicit TNXRealBuffer(const TIntfPtr<INXData>& ASource);  // any buffer

  static TBuffer Make() { return TBuffer(new TNXRealBuffer()); }
  static TBuffer Create() { return Make(); }
  static TBuffer MakeSize(std::uint32_t ASize) { return TBuffer(new TNXRealBuffer(ASize)); }
  static TBuffer CreateSize(std::uint32_t ASize) { return MakeSize(ASize); }
  static TBuffer MakeData(const double* AData, std::uint32_t ASize) { return TBuffer(new TNXRealBuffer(AData, ASize)); }
  static TBuffer CreateData(const double* AData, std::uint32_t ASize) { return MakeData(AData, ASize); }
  static TBuffer MakeValue(double AValue, std::uint32_t ASize) {
    return TBuffer(new TNXRealBuffer(TValueInit{}, AValue, ASize));
  }
  static TBuffer CreateValue(double AValue, std::uint32_t ASize) { return MakeValue(AValue, ASize); }
#define NX_REAL_FROM_INT(Name, T)                                                       \
  static TBuffer Make##Name(const T* AData, std::uint32_t ASize, double ADivisor = 1.0) { \
    return TBuffer(new TNXRealBuffer(AData, ASize, ADivisor));                          \
  }                                                                                     \
  static TBuffer Create##Name(const T* AData, std::uint32_t ASize, double ADivisor = 1.0) { \
    return Make##Name(AData, ASize, ADivisor);                                          \
  }
  NX_REAL_FROM_INT(ByteData, std::uint8_t)
  NX_REAL_FROM_INT(WordData, std::uint16_t)
  NX_REAL_FROM_INT(SmallIntData, std::int16_t)
  NX_REAL_FROM_INT(CardinalData, std::uint32_t)
  NX_REAL_FROM_INT(IntegerData, std::int32_t)
  NX_REAL_FROM_INT(Int64Data, std::int64_t)
  NX_REAL_FROM_INT(UInt64Data, std::uint64_t)
#undef NX_REAL_FROM_INT
  static TBuffer MakeSingleData(const float* AData, std::uint32_t ASize) { return TBuffer(new TNXRealBuffer(AData, ASize)); }
  static TBuffer CreateSingleData(const float* AData, std::uint32_t ASize) { return MakeSingleData(AData, ASize); }
  static TBuffer MakeArray(std::span<const double> AArray) { return TBuffer(new TNXRealBuffer(AArray)); }
  static TBuffer MakeArray(std::initializer_list<double> AArray) {
    return MakeArray(std::span<const double>(AArray.begin(), AArray.size()));
  }
  static TBuffer CreateArray(std::span<const double> AArray) { return MakeArray(AArray); }
  static TBuffer CreateArray(std::initializer_list<double> AArray) { return MakeArray(AArray); }
  static TBuffer MakeArrayList(const std::vector<double>& AList) { return TBuffer(new TNXRealBuffer(AList)); }
  static TBuffer CreateArrayList(const std::vector<double>& AList) { return MakeArrayList(AList); }
  static TBuffer MakeEx(TNXRealBuffer* ASource) { return TBuffer(new TNXRealBuffer(ASource)); }
  static TBuffer CreateEx(TNXRealBuffer* ASource) { return MakeEx(ASource); }
  static TBuffer MakeCopy(const TBuffer& ASource) { return TBuffer(new TNXRealBuffer(ASource)); }
  static TBuffer CreateCopy(const TBuffer& ASource) { return MakeCopy(ASource); }
  static TBuffer MakeUniversal(const TIntfPtr<INXData>& ASource) { return TBuffer(new TNXRealBuffer(ASource)); }
  static TBuffer CreateUniversal(const TIntfPtr<INXData>& ASource) { return MakeUniversal(ASource); }
  // The rows of a buffer array one after the other (GetCount x GetMaxSize
  // elements, shorter rows padded with zeros).
  struct TArrayInit {};  // picks the buffer array constructor
  TNXRealBuffer(TArrayInit, const TIntfPtr<INXRealBufferArray>& ASource);
  static TBuffer MakeBufferArray(const TIntfPtr<INXRealBufferArray>& ASource) {
    return TBuffer(new TNXRealBuffer(TArrayInit{}, ASource));
  }
  static TBuffer CreateBufferArray(const TIntfPtr<INXRealBufferArray>& ASource) { return MakeBufferArray(ASource); }

  // INXData / INXDataBuffer
  TIntfPtr<INXData> GetDataCopy() override;
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  void CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer, std::int32_t ATargetOffset,
              std::int32_t ACount) override;
  std::int32_t GetSize() const noexcept final { return static_cast<std::int32_t>(FByteSize >> 3); }
  std::uint32_t ItemSize() const noexcept final { return sizeof(double); }

  // INXRealBuffer: element access (inline: the hot paths of item access).
  TIntfPtr<INXRealBufferAccess> Data(TBufferAccessModes AModes) override;
  const double* Read() const noexcept final { return reinterpret_cast<double*>(FData); }
  double* Write() final {
    Unique(false);
    return Items<double>();
  }
  double* Modify() final {
    Unique(true);
    return Items<double>();
  }
  double GetItem(std::int32_t AIndex) const {
    if (static_cast<std::uint32_t>(AIndex) >= (FByteSize >> 3)) RaiseIndexOutOfRange(AIndex);
    return Read()[AIndex];
  }
  // The index is checked before anything else: a bad index copies nothing.
  void SetItem(std::int32_t AIndex, double AValue) {
    if (static_cast<std::uint32_t>(AIndex) >= (FByteSize >> 3)) RaiseIndexOutOfRange(AIndex);
    Modify()[AIndex] = AValue;
  }

  // Operations
  void VectorJaehne(double AMagnitude) override;
  void Add(const TBuffer& AOther) { INXRealBuffer::Add(AOther); }
  void Subtract(const TBuffer& AOther) override;
  void Multiply(const TBuffer& AOther) override;
  void Divide(const TBuffer& AOther) override;
  void SetValue(double AValue) override;
  void AddValue(double AValue) override;
  void SubtractValue(double AValue) override;
  void MultiplyValue(double AValue) override;
  void DivideValue(double AValue) override;
  void Zero() override;
  void ToInt(std::int32_t* AOutBuffer, bool ARound) override;
  void ToShort(std::int16_t* AOutBuffer, bool ARound) override;
  void ToSingle(float* AOutBuffer) override;
  void FromInt(const std::int32_t* AInBuffer) override;
  void FromShort(const std::int16_t* AInBuffer) override;
  void FromSingle(const float* AInBuffer) override;
  void NormalizeFrom(const TBuffer& ASource, double AOffset, double AFactor) override;
  void Normalize(double AOffset, double AFactor) override;
  double Dot(const TBuffer& AOther) const override;
  void Threshold(double AThreshold, TNXThresholdType AType) override;
  void ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) override;
  void Sqr() override;
  void SqrFrom(const TBuffer& ASource) override;
  void Sqrt() override;
  void SqrtFrom(const TBuffer& ASource) override;
  void AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) override;
  void CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) override;
  void Abs() override;
  void AbsFrom(const TBuffer& ASource) override;
  void Exp() override;
  void ExpFrom(const TBuffer& ASource) override;
  void Ln() override;
  void LnFrom(const TBuffer& ASource) override;
  double Mean() const { return INXRealBuffer::Mean(); }
  double StdDev() const override;
  void Convolve(const TBuffer& ASource1, const TBuffer& ASource2) override;
  double Norm(const TBuffer& AOther, TNXNormType ANormType) const override;
  double GetMinValue() const override;
  double GetMaxValue() const override;
  double GetMinIndex(std::int32_t& AIndex) const override;
  double GetMaxIndex(std::int32_t& AIndex) const override;
  double GetMinIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const override;
  double GetMaxIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const override;
  double GetMin(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const override;
  double GetMax(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const override;
  double GetMinRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const override;
  double GetMaxRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const override;
  bool IsEqualToValue(double AValue) const override;

  TBufferEnumerator<double> GetEnumerator() const override { return TBufferEnumerator<double>(Read(), GetSize()); }

 private:
  template <class T>
  void FillFromIntegers(const T* AData, std::uint32_t ASize, double ADivisor);

  // Points the interface's inline operations at this object and its data,
  // for every constructor (members are initialised after all bases, so the
  // data pointer and size are final here).
  struct TItemOwnerInit {
    explicit TItemOwnerInit(TNXRealBuffer* ABuffer) noexcept {
      INXRealBuffer* intf = ABuffer;
      intf->FItemOwner = ABuffer;
      ABuffer->FViewMirror = &intf->FView;
      ABuffer->SyncView();
    }
  };
  [[no_unique_address]] TItemOwnerInit FItemOwnerInit{this};
};

inline double INXRealBuffer::GetItem(std::int32_t AIndex) const {
  if (static_cast<std::uint32_t>(AIndex) >= (FView.ByteSize >> 3)) RaiseIndexOutOfRange(AIndex);
  return reinterpret_cast<const double*>(FView.Data)[AIndex];
}

inline double INXRealBuffer::Mean() const {
  double r = 0.0;
  ippsMean_64f(reinterpret_cast<const double*>(FView.Data), static_cast<int>(FView.ByteSize >> 3), &r);
  return r;
}

inline void INXRealBuffer::Add(const TBuffer& AOther) {
  if (!AOther) throw EArgumentException("A source buffer is required");
  // The source is read before Self is made unique: adding a buffer to
  // itself, the copy then adds the old block's values.
  const TNXDataView o = AOther->FView;
  const std::uint32_t n = std::min(FView.ByteSize, o.ByteSize) >> 3;
  FItemOwner->Unique(true);
  ippsAdd_64f_I(reinterpret_cast<const double*>(o.Data), reinterpret_cast<double*>(FView.Data), static_cast<int>(n));
}

inline void INXRealBuffer::SetItem(std::int32_t AIndex, double AValue) {
  if (static_cast<std::uint32_t>(AIndex) >= (FView.ByteSize >> 3)) RaiseIndexOutOfRange(AIndex);
  FItemOwner->Unique(true);
  reinterpret_cast<double*>(FView.Data)[AIndex] = AValue;
}

// ---------------------------------------------------------------- integer, unsigned, complex, Boolean and block buffers

using TNXIntegerBufferAccess = TNXTypedBufferAccess<std::int32_t, INXIntegerBufferAccess>;
using TNXUnsignedBufferAccess = TNXTypedBufferAccess<std::uint32_t, INXUnsignedBufferAccess>;
using TNXComplexBufferAccess = TNXTypedBufferAccess<TComplex, INXComplexBufferAccess>;
using TNXBooleanBufferAccess = TNXTypedBufferAccess<std::uint8_t, INXBooleanBufferAccess>;
using TNXBlockBufferAccess = TNXTypedBufferAccess<std::uint8_t, INXBlockBufferAccess>;

// The factory pairs of the constructors every typed buffer class has: Make /
// Create, MakeSize, MakeData, MakeArray, MakeArrayList, MakeEx, MakeCopy and
// MakeUniversal, each with its Create... twin (Class, its interface pointer
// TBuffer and its element type T are in scope).
#define NX_TYPED_BUFFER_FACTORIES(Class, T)                                                                  \
  static TBuffer Make() { return TBuffer(new Class()); }                                                     \
  static TBuffer Create() { return Make(); }                                                                 \
  static TBuffer MakeSize(std::uint32_t ASize) { return TBuffer(new Class(ASize)); }                         \
  static TBuffer CreateSize(std::uint32_t ASize) { return MakeSize(ASize); }                                 \
  static TBuffer MakeArray(std::span<const T> AArray) { return TBuffer(new Class(AArray)); }                 \
  static TBuffer MakeArray(std::initializer_list<T> AArray) {                                                \
    return MakeArray(std::span<const T>(AArray.begin(), AArray.size()));                                     \
  }                                                                                                          \
  static TBuffer CreateArray(std::span<const T> AArray) { return MakeArray(AArray); }                        \
  static TBuffer CreateArray(std::initializer_list<T> AArray) { return MakeArray(AArray); }                  \
  static TBuffer MakeArrayList(const std::vector<T>& AList) { return TBuffer(new Class(AList)); }            \
  static TBuffer CreateArrayList(const std::vector<T>& AList) { return MakeArrayList(AList); }               \
  static TBuffer MakeEx(Class* ASource) { return TBuffer(new Class(ASource)); }                              \
  static TBuffer CreateEx(Class* ASource) { return MakeEx(ASource); }                                        \
  static TBuffer MakeCopy(const TBuffer& ASource) { return TBuffer(new Class(ASource)); }                    \
  static TBuffer CreateCopy(const TBuffer& ASource) { return MakeCopy(ASource); }                            \
  static TBuffer MakeUniversal(const TIntfPtr<INXData>& ASource) { return TBuffer(new Class(ASource)); }     \
  static TBuffer CreateUniversal(const TIntfPtr<INXData>& ASource) { return MakeUniversal(ASource); }

// The 32-bit integer buffers (signed: TNXIntegerBuffer, unsigned:
// TNXUnsignedBuffer) share one implementation over the element type T, the
// buffer interface IBuffer and its access interface IAccess; TSelf is the
// class built on it (the class of the copies it makes). The operations that
// differ by element type (the arithmetic routines, the division check, the
// shift routines, the dot product) are picked per T in the source, where the
// members are defined and the two classes instantiated.
template <class TSelf, class T, class IBuffer, class IAccess>
class TNXInteger32Buffer : public TNXLinearMemoryBuffer, public virtual IBuffer {
  NX_INTERFACES(TNXLinearMemoryBuffer, IBuffer)

 public:
  using TBuffer = TIntfPtr<IBuffer>;
  using TValueInit = TNXRealBuffer::TValueInit;
  using TAccess = TNXTypedBufferAccess<T, IAccess>;

  TNXInteger32Buffer();                               // empty
  explicit TNXInteger32Buffer(std::uint32_t ASize);   // not initialised
  TNXInteger32Buffer(const T* AData, std::uint32_t ASize);  // copy (none for a null pointer)
  TNXInteger32Buffer(TValueInit, T AValue, std::uint32_t ASize);
  explicit TNXInteger32Buffer(std::span<const T> AArray);
  explicit TNXInteger32Buffer(const std::vector<T>& AList);
  // Sharing constructors; the universal one shares the block of any buffer.
  explicit TNXInteger32Buffer(TSelf* ASource);
  explicit TNXInteger32Buffer(const TBuffer& ASource);
  explicit TNXInteger32Buffer(const TIntfPtr<INXData>& ASource);

  // The factories make objects of TSelf (complete where they are called).
  NX_TYPED_BUFFER_FACTORIES(TSelf, T)
  static TBuffer MakeData(const T* AData, std::uint32_t ASize) { return TBuffer(new TSelf(AData, ASize)); }
  static TBuffer CreateData(const T* AData, std::uint32_t ASize) { return MakeData(AData, ASize); }
  static TBuffer MakeValue(T AValue, std::uint32_t ASize) { return TBuffer(new TSelf(TValueInit{}, AValue, ASize)); }
  static TBuffer CreateValue(T AValue, std::uint32_t ASize) { return MakeValue(AValue, ASize); }

  TIntfPtr<INXData> GetDataCopy() override;
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  void CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer, std::int32_t ATargetOffset,
              std::int32_t ACount) override;
  std::int32_t GetSize() const noexcept final { return static_cast<std::int32_t>(FByteSize >> 2); }
  std::uint32_t ItemSize() const noexcept final { return sizeof(T); }

  TIntfPtr<IAccess> Data(TBufferAccessModes AModes) override;
  const T* Read() const noexcept final { return reinterpret_cast<T*>(FData); }
  T* Write() final {
    Unique(false);
    return Items<T>();
  }
  T* Modify() final {
    Unique(true);
    return Items<T>();
  }
  T GetItem(std::int32_t AIndex) const noexcept final { return Read()[AIndex]; }
  void SetItem(std::int32_t AIndex, T AValue) final {
    Modify()[AIndex] = AValue;
  }

  void Add(const TBuffer& AOther) override;
  void Subtract(const TBuffer& AOther) override;
  void Multiply(const TBuffer& AOther) override;
  void Divide(const TBuffer& AOther) override;
  void ModBuffer(const TBuffer& AOther) override;
  void AndBuffer(const TBuffer& AOther) override;
  void OrBuffer(const TBuffer& AOther) override;
  void XorBuffer(const TBuffer& AOther) override;
  void LShift(const TBuffer& AOther) override;
  void RShift(const TBuffer& AOther) override;
  void SetValue(T AValue) override;
  void AddValue(T AValue) override;
  void SubtractValue(T AValue) override;
  void MultiplyValue(T AValue) override;
  void DivideValue(T AValue) override;
  void ModValue(T AValue) override;
  void AndValue(T AValue) override;
  void OrValue(T AValue) override;
  void XorValue(T AValue) override;
  void LShiftValue(std::int32_t AValue) override;
  void RShiftValue(std::int32_t AValue) override;
  void Zero() override;
  T Dot(const TBuffer& AOther) const override;
  bool IsEqualToValue(T AValue) const override;
  T GetMinValue() const override;
  T GetMaxValue() const override;

  TBufferEnumerator<T> GetEnumerator() const override { return TBufferEnumerator<T>(Read(), GetSize()); }
};

// Signed 32-bit integers.
class TNXIntegerBuffer
    : public TNXInteger32Buffer<TNXIntegerBuffer, std::int32_t, INXIntegerBuffer, INXIntegerBufferAccess> {
 public:
  using TNXInteger32Buffer::TNXInteger32Buffer;
};

// Unsigned 32-bit integers.
class TNXUnsignedBuffer
    : public TNXInteger32Buffer<TNXUnsignedBuffer, std::uint32_t, INXUnsignedBuffer, INXUnsignedBufferAccess> {
 public:
  using TNXInteger32Buffer::TNXInteger32Buffer;
};

// Complex numbers.
class TNXComplexBuffer : public TNXLinearMemoryBuffer, public virtual INXComplexBuffer {
  NX_INTERFACES(TNXLinearMemoryBuffer, INXComplexBuffer)

 public:
  using TBuffer = TIntfPtr<INXComplexBuffer>;
  using TRealBuffer = TIntfPtr<INXRealBuffer>;
  using TValueInit = TNXRealBuffer::TValueInit;

  TNXComplexBuffer();
  explicit TNXComplexBuffer(std::uint32_t ASize);
  TNXComplexBuffer(const TComplex* AData, std::uint32_t ASize);
  TNXComplexBuffer(TValueInit, double ARe, double AIm, std::uint32_t ASize);
  TNXComplexBuffer(TValueInit, const TComplex& AValue, std::uint32_t ASize);
  explicit TNXComplexBuffer(std::span<const TComplex> AArray);
  explicit TNXComplexBuffer(const std::vector<TComplex>& AList);
  explicit TNXComplexBuffer(TNXComplexBuffer* ASource);
  explicit TNXComplexBuffer(const TBuffer& ASource);
  explicit TNXComplexBuffer(const TIntfPtr<INXData>& ASource);
  // From real and imaginary parts: the larger of the two sizes, the missing
  // part beyond the shorter buffer 0.
  TNXComplexBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm);
  TNXComplexBuffer(TNXRealBuffer* ARe, TNXRealBuffer* AIm);

  NX_TYPED_BUFFER_FACTORIES(TNXComplexBuffer, TComplex)
  static TBuffer MakeData(const TComplex* AData, std::uint32_t ASize) {
    return TBuffer(new TNXComplexBuffer(AData, ASize));
  }
  static TBuffer CreateData(const TComplex* AData, std::uint32_t ASize) { return MakeData(AData, ASize); }
  static TBuffer MakeValue(double ARe, double AIm, std::uint32_t ASize) {
    return TBuffer(new TNXComplexBuffer(TValueInit{}, ARe, AIm, ASize));
  }
  static TBuffer CreateValue(double ARe, double AIm, std::uint32_t ASize) { return MakeValue(ARe, AIm, ASize); }
  static TBuffer MakeValue(const TComplex& AValue, std::uint32_t ASize) {
    return TBuffer(new TNXComplexBuffer(TValueInit{}, AValue, ASize));
  }
  static TBuffer CreateValue(const TComplex& AValue, std::uint32_t ASize) { return MakeValue(AValue, ASize); }
  static TBuffer MakeBuffers(const TRealBuffer& ARe, const TRealBuffer& AIm) {
    return TBuffer(new TNXComplexBuffer(ARe, AIm));
  }
  static TBuffer CreateBuffers(const TRealBuffer& ARe, const TRealBuffer& AIm) { return MakeBuffers(ARe, AIm); }
  static TBuffer MakeBufferObjects(TNXRealBuffer* ARe, TNXRealBuffer* AIm) {
    return TBuffer(new TNXComplexBuffer(ARe, AIm));
  }
  static TBuffer CreateBufferObjects(TNXRealBuffer* ARe, TNXRealBuffer* AIm) { return MakeBufferObjects(ARe, AIm); }

  TIntfPtr<INXData> GetDataCopy() override;
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  void CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer, std::int32_t ATargetOffset,
              std::int32_t ACount) override;
  std::int32_t GetSize() const noexcept final { return static_cast<std::int32_t>(FByteSize >> 4); }
  std::uint32_t ItemSize() const noexcept final { return sizeof(TComplex); }

  TIntfPtr<INXComplexBufferAccess> Data(TBufferAccessModes AModes) override;
  const TComplex* Read() const noexcept final { return reinterpret_cast<TComplex*>(FData); }
  TComplex* Write() final {
    Unique(false);
    return Items<TComplex>();
  }
  TComplex* Modify() final {
    Unique(true);
    return Items<TComplex>();
  }
  TComplex GetItem(std::int32_t AIndex) const noexcept final { return Read()[AIndex]; }
  void SetItem(std::int32_t AIndex, const TComplex& AValue) final {
    Modify()[AIndex] = AValue;
  }
  void GetItemProc(std::int32_t AIndex, TComplex& AValue) const noexcept final { AValue = Read()[AIndex]; }

  TRealBuffer GetReal() const override;
  TRealBuffer GetImaginary() const override;
  void Add(const TBuffer& AOther) override;
  void Subtract(const TBuffer& AOther) override;
  void Multiply(const TBuffer& AOther) override;
  void Divide(const TBuffer& AOther) override;
  void AddValue(double ARe, double AIm) override;
  void SubtractValue(double ARe, double AIm) override;
  void MultiplyValue(double ARe, double AIm) override;
  void DivideValue(double ARe, double AIm) override;
  void SetBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm) override;
  void SetValue(double ARe, double AIm) override;
  void SetValue(const TComplex& AValue) override;
  void Zero() override;
  void NormalizeFrom(const TBuffer& ASource, const TComplex& AOffset, double AFactor) override;
  void Normalize(const TComplex& AOffset, double AFactor) override;
  TComplex Dot(const TBuffer& AOther) const override;
  void Threshold(double AThreshold, TNXThresholdType AType) override;
  void ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) override;
  void Sqr() override;
  void SqrFrom(const TBuffer& ASource) override;
  void Sqrt() override;
  void SqrtFrom(const TBuffer& ASource) override;
  TComplex Mean() const override;
  void AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) override;
  void CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) override;
  TRealBuffer Phase() const override;
  TRealBuffer Magnitude() const override;
  TRealBuffer PowerSpectrum() const override;
  bool IsEqualToValue(const TComplex& AValue) const override;

  TBufferEnumerator<TComplex> GetEnumerator() const override { return TBufferEnumerator<TComplex>(Read(), GetSize()); }

 private:
  void FillFromParts(const double* ARe, std::uint32_t AReSize, const double* AIm, std::uint32_t AImSize);
};

// The universal constructors of the Boolean and block buffers: the block of a
// buffer of the same class is shared, the bytes of any other buffer copied.
struct TNXUniversalSource {
  INXData* Parent = nullptr;      // whose custom items travel along
  TNXSmartBuffer* Block = nullptr;  // the shared block, or a new one to copy into
  std::uint32_t ByteSize = 0;
  const std::uint8_t* CopyFrom = nullptr;  // the bytes to copy (null when shared)
  TNXGenericBuffer* Same = nullptr;        // the source when it is of the same class
};

// Booleans packed into bits. The bit count is Size; the byte size is
// (bit count + 7) div 8 and the bits of the last byte beyond the bit count
// carry no meaning (no operation reads them as values).
class TNXBooleanBuffer : public TNXLinearMemoryBuffer, public virtual INXBooleanBuffer {
  NX_INTERFACES(TNXLinearMemoryBuffer, INXBooleanBuffer)

 public:
  using TBuffer = TIntfPtr<INXBooleanBuffer>;
  using TValueInit = TNXRealBuffer::TValueInit;

  // Bit counts above 0x7FFFFFFF (beyond what GetSize can report) raise EIntOverflow.
  TNXBooleanBuffer();
  explicit TNXBooleanBuffer(std::uint32_t ASize);
  // Copies (ASize + 7) div 8 packed bytes (none for a null pointer).
  TNXBooleanBuffer(const std::uint8_t* AData, std::uint32_t ASize);
  TNXBooleanBuffer(TValueInit, std::uint32_t ASize, bool AValue);
  explicit TNXBooleanBuffer(std::span<const bool> AArray);
  explicit TNXBooleanBuffer(const std::vector<bool>& AList);
  explicit TNXBooleanBuffer(TNXBooleanBuffer* ASource);
  explicit TNXBooleanBuffer(const TBuffer& ASource);
  // Shares a Boolean buffer's block; copies the bytes of any other buffer
  // (8 values per byte).
  explicit TNXBooleanBuffer(const TIntfPtr<INXData>& ASource);

  static TBuffer Make() { return TBuffer(new TNXBooleanBuffer()); }
  static TBuffer Create() { return Make(); }
  static TBuffer MakeSize(std::uint32_t ASize) { return TBuffer(new TNXBooleanBuffer(ASize)); }
  static TBuffer CreateSize(std::uint32_t ASize) { return MakeSize(ASize); }
  static TBuffer MakeData(const std::uint8_t* AData, std::uint32_t ASize) {
    return TBuffer(new TNXBooleanBuffer(AData, ASize));
  }
  static TBuffer CreateData(const std::uint8_t* AData, std::uint32_t ASize) { return MakeData(AData, ASize); }
  static TBuffer MakeValue(std::uint32_t ASize, bool AValue) {
    return TBuffer(new TNXBooleanBuffer(TValueInit{}, ASize, AValue));
  }
  static TBuffer CreateValue(std::uint32_t ASize, bool AValue) { return MakeValue(ASize, AValue); }
  static TBuffer MakeArray(std::span<const bool> AArray) { return TBuffer(new TNXBooleanBuffer(AArray)); }
  static TBuffer MakeArray(std::initializer_list<bool> AArray) {
    return MakeArray(std::span<const bool>(AArray.begin(), AArray.size()));
  }
  static TBuffer CreateArray(std::span<const bool> AArray) { return MakeArray(AArray); }
  static TBuffer CreateArray(std::initializer_list<bool> AArray) { return MakeArray(AArray); }
  static TBuffer MakeArrayList(const std::vector<bool>& AList) { return TBuffer(new TNXBooleanBuffer(AList)); }
  static TBuffer CreateArrayList(const std::vector<bool>& AList) { return MakeArrayList(AList); }
  static TBuffer MakeEx(TNXBooleanBuffer* ASource) { return TBuffer(new TNXBooleanBuffer(ASource)); }
  static TBuffer CreateEx(TNXBooleanBuffer* ASource) { return MakeEx(ASource); }
  static TBuffer MakeCopy(const TBuffer& ASource) { return TBuffer(new TNXBooleanBuffer(ASource)); }
  static TBuffer CreateCopy(const TBuffer& ASource) { return MakeCopy(ASource); }
  static TBuffer MakeUniversal(const TIntfPtr<INXData>& ASource) { return TBuffer(new TNXBooleanBuffer(ASource)); }
  static TBuffer CreateUniversal(const TIntfPtr<INXData>& ASource) { return MakeUniversal(ASource); }

  TIntfPtr<INXData> GetDataCopy() override;
  // Takes the source's bit count too (8 per byte from a buffer of another class).
  void Assign(const TIntfPtr<INXDataBuffer>& ASource) override;
  // Another Boolean buffer with the same bit count and the same values; the
  // meaningless bits of the last byte are not compared.
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  // Between two Boolean buffers the offsets and the count are values (bits).
  void CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer, std::int32_t ATargetOffset,
              std::int32_t ACount) override;
  std::int32_t GetSize() const noexcept final { return static_cast<std::int32_t>(FBitCount); }
  std::uint32_t BitCount() const noexcept { return FBitCount; }
  // ASize in bits.
  bool Resize(std::uint32_t ASize, bool APreserveData) override;

  TIntfPtr<INXBooleanBufferAccess> Data(TBufferAccessModes AModes) override;
  const std::uint8_t* Read() const noexcept final { return FData; }
  std::uint8_t* Write() final { return ByteWrite(); }
  std::uint8_t* Modify() final { return ByteModify(); }

  TBuffer AndBuffer(const TBuffer& AOther) override;
  TBuffer OrBuffer(const TBuffer& AOther) override;
  TBuffer XorBuffer(const TBuffer& AOther) override;
  TBuffer AndValue(bool AValue) override;
  TBuffer OrValue(bool AValue) override;
  TBuffer XorValue(bool AValue) override;
  TBuffer SetValue(bool AValue) override;
  TBuffer Zero() override;
  TBuffer Invert() override;
  TBuffer InvertBit(std::int32_t AIndex) override;
  bool IsEqualToValue(bool AValue) const override;
  bool GetItem(std::int32_t AIndex) const final {
    if (static_cast<std::uint32_t>(AIndex) >= FBitCount) RaiseIndexOutOfRange(AIndex);
    return ((FData[AIndex >> 3] >> (AIndex & 7)) & 1u) != 0;
  }
  void SetItem(std::int32_t AIndex, bool AValue) final {
    if (static_cast<std::uint32_t>(AIndex) >= FBitCount) RaiseIndexOutOfRange(AIndex);
    Unique(true);
    const auto mask = static_cast<std::uint8_t>(1u << (AIndex & 7));
    if (AValue)
      FData[AIndex >> 3] |= mask;
    else
      FData[AIndex >> 3] &= static_cast<std::uint8_t>(~mask);
  }

  TBooleanBufferEnumerator GetEnumerator() const override { return TBooleanBufferEnumerator(Read(), GetSize()); }

  // With AResize the buffer takes every bit of the bytes left in the stream
  // (8 per byte): its elements are bits, although its item size is a byte.
  void LoadFromStream(TStream& AStream, bool AResize) override;

 protected:
  // "Size" holds the bit count.
  void InternalSerializationWrite(IWriter& AWriter) override;
  void InternalSerializationRead(IReader& AReader) override;

 private:
  explicit TNXBooleanBuffer(const TNXUniversalSource& ASource);
  TBuffer Self() { return TBuffer(this); }

  std::uint32_t FBitCount = 0;
};

// Raw bytes.
class TNXBlockBuffer : public TNXLinearMemoryBuffer, public virtual INXBlockBuffer {
  NX_INTERFACES(TNXLinearMemoryBuffer, INXBlockBuffer)

 public:
  using TBuffer = TIntfPtr<INXBlockBuffer>;
  using TValueInit = TNXRealBuffer::TValueInit;

  TNXBlockBuffer();
  explicit TNXBlockBuffer(std::uint32_t ASize);
  // Copies ASize bytes (none for a null pointer); ADummy is not used.
  TNXBlockBuffer(const std::uint8_t* ADataBuffer, std::uint32_t ASize, bool ADummy);
  TNXBlockBuffer(TValueInit, std::uint32_t ASize, std::uint8_t AValue);
  explicit TNXBlockBuffer(std::span<const std::uint8_t> ABytes);
  explicit TNXBlockBuffer(const std::vector<std::uint8_t>& AList);
  explicit TNXBlockBuffer(TNXBlockBuffer* ASource);
  explicit TNXBlockBuffer(const TBuffer& ASource);
  // Shares a block buffer's block; copies the bytes of any other buffer.
  explicit TNXBlockBuffer(const TIntfPtr<INXData>& ASource);

  NX_TYPED_BUFFER_FACTORIES(TNXBlockBuffer, std::uint8_t)
  static TBuffer MakeData(const std::uint8_t* ADataBuffer, std::uint32_t ASize, bool ADummy = false) {
    return TBuffer(new TNXBlockBuffer(ADataBuffer, ASize, ADummy));
  }
  static TBuffer CreateData(const std::uint8_t* ADataBuffer, std::uint32_t ASize, bool ADummy = false) {
    return MakeData(ADataBuffer, ASize, ADummy);
  }
  static TBuffer MakeValue(std::uint32_t ASize, std::uint8_t AValue) {
    return TBuffer(new TNXBlockBuffer(TValueInit{}, ASize, AValue));
  }
  static TBuffer CreateValue(std::uint32_t ASize, std::uint8_t AValue) { return MakeValue(ASize, AValue); }

  TIntfPtr<INXData> GetDataCopy() override;
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  std::uint32_t ItemSize() const noexcept final { return 1; }

  TIntfPtr<INXBlockBufferAccess> Data(TBufferAccessModes AModes) override;
  const std::uint8_t* Read() const noexcept final { return FData; }
  std::uint8_t* Write() final { return ByteWrite(); }
  std::uint8_t* Modify() final { return ByteModify(); }

  void Add(const TBuffer& AOther) override;
  void Subtract(const TBuffer& AOther) override;
  void Multiply(const TBuffer& AOther) override;
  void Divide(const TBuffer& AOther) override;
  void SetValue(std::uint8_t AValue) override;
  void Zero() override;
  void Append(const TIntfPtr<INXDataBuffer>& AOther) override;
  void Remove(std::int32_t AIndex, std::int32_t ACount) override;
  bool IsEqualToValue(std::uint8_t AValue) const override;
  std::uint8_t GetItem(std::int32_t AIndex) const final {
    if (static_cast<std::uint32_t>(AIndex) >= FByteSize) RaiseIndexOutOfRange(AIndex);
    return FData[AIndex];
  }
  void SetItem(std::int32_t AIndex, std::uint8_t AValue) final {
    if (static_cast<std::uint32_t>(AIndex) >= FByteSize) RaiseIndexOutOfRange(AIndex);
    Unique(true);
    FData[AIndex] = AValue;
  }

  TBufferEnumerator<std::uint8_t> GetEnumerator() const override {
    return TBufferEnumerator<std::uint8_t>(Read(), GetSize());
  }

 private:
  explicit TNXBlockBuffer(const TNXUniversalSource& ASource);
};

#undef NX_TYPED_BUFFER_FACTORIES

// ---------------------------------------------------------------- real matrix buffer, buffer list, matrix

// Access handle of a matrix buffer: the element pointer and the shape.
using TNXRealMatrixBufferAccessBase = TNXTypedBufferAccess<double, INXRealMatrixBufferAccess>;
class TNXRealMatrixBufferAccess final : public TNXRealMatrixBufferAccessBase {
  NX_INTERFACES(TNXRealMatrixBufferAccessBase, INXRealBufferAccess)

 public:
  using TNXRealMatrixBufferAccessBase::TNXRealMatrixBufferAccessBase;
  std::int32_t GetCols() const override;
  std::int32_t GetRows() const override;
};

// The real matrix buffer: rows x columns 64-bit floats, row-major, in one
// shared block with the copy on write of every buffer. The byte size is
// always 8 x rows x columns. Rows handed out (GetItem, GetRow) are copies.
class TNXRealMatrixBuffer : public TNXMemoryBuffer, public virtual INXRealMatrixBuffer {
  NX_INTERFACES(TNXMemoryBuffer, INXRealBufferArray, INXRealMatrixBuffer)

 public:
  using TMatrix = TIntfPtr<INXRealMatrixBuffer>;
  using TArray = TIntfPtr<INXRealBufferArray>;
  using TBuffer = TIntfPtr<INXRealBuffer>;
  struct TValueInit {};  // picks the value constructor

  // Constructors (each has its Make.../Create... factory below). Negative
  // sizes raise ERangeError, 8 x rows x columns beyond 32 bits EIntOverflow.
  TNXRealMatrixBuffer();                                                  // 0 x 0
  TNXRealMatrixBuffer(std::int32_t ARows, std::int32_t ACols);            // not initialised
  TNXRealMatrixBuffer(const double* AData, std::int32_t ARows, std::int32_t ACols);  // copy (none for null)
  TNXRealMatrixBuffer(TValueInit, double AValue, std::int32_t ARows, std::int32_t ACols);
  // Sharing constructors (same block and shape, no copy).
  explicit TNXRealMatrixBuffer(TNXRealMatrixBuffer* ASource);
  explicit TNXRealMatrixBuffer(const TMatrix& ASource);
  // A matrix buffer is shared; any other buffer array is copied into a new
  // matrix of GetCount x GetMaxSize, shorter rows padded with zeros.
  explicit TNXRealMatrixBuffer(const TIntfPtr<INXData>& ASource);

  static TMatrix Make() { return TMatrix(new TNXRealMatrixBuffer()); }
  static TMatrix Create() { return Make(); }
  static TMatrix MakeSize(std::int32_t ARows, std::int32_t ACols) { return TMatrix(new TNXRealMatrixBuffer(ARows, ACols)); }
  static TMatrix CreateSize(std::int32_t ARows, std::int32_t ACols) { return MakeSize(ARows, ACols); }
  static TMatrix MakeData(const double* AData, std::int32_t ARows, std::int32_t ACols) {
    return TMatrix(new TNXRealMatrixBuffer(AData, ARows, ACols));
  }
  static TMatrix CreateData(const double* AData, std::int32_t ARows, std::int32_t ACols) {
    return MakeData(AData, ARows, ACols);
  }
  static TMatrix MakeValue(double AValue, std::int32_t ARows, std::int32_t ACols) {
    return TMatrix(new TNXRealMatrixBuffer(TValueInit{}, AValue, ARows, ACols));
  }
  static TMatrix CreateValue(double AValue, std::int32_t ARows, std::int32_t ACols) {
    return MakeValue(AValue, ARows, ACols);
  }
  static TMatrix MakeEx(TNXRealMatrixBuffer* ASource) { return TMatrix(new TNXRealMatrixBuffer(ASource)); }
  static TMatrix CreateEx(TNXRealMatrixBuffer* ASource) { return MakeEx(ASource); }
  static TMatrix MakeCopy(const TMatrix& ASource) { return TMatrix(new TNXRealMatrixBuffer(ASource)); }
  static TMatrix CreateCopy(const TMatrix& ASource) { return MakeCopy(ASource); }
  static TMatrix MakeUniversal(const TIntfPtr<INXData>& ASource) { return TMatrix(new TNXRealMatrixBuffer(ASource)); }
  static TMatrix CreateUniversal(const TIntfPtr<INXData>& ASource) { return MakeUniversal(ASource); }

  // INXData / INXDataBuffer
  TIntfPtr<INXData> GetDataCopy() override;
  // Shares the source's block. A matrix source gives its shape; any other
  // buffer becomes one row (its byte size must be a whole number of elements).
  void Assign(const TIntfPtr<INXDataBuffer>& ASource) override;
  // Only another matrix buffer can be equal: same byte size, same bytes.
  bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const override;
  std::int32_t GetSize() const noexcept final { return static_cast<std::int32_t>(FByteSize >> 3); }
  std::uint32_t ItemSize() const noexcept final { return sizeof(double); }

  // INXRealBufferArray
  void Assign(const TArray& ASource) override { AssignMatrix(ASource); }
  bool IsEqualArray(const TArray& AOther) const override;
  std::int32_t GetMaxSize() const noexcept override { return FCols; }
  std::int32_t GetCount() const noexcept override { return FRows; }
  std::int32_t GetColCount(std::int32_t) const noexcept override { return FCols; }
  TBuffer GetItem(std::int32_t AIndex) override { return GetRow(AIndex); }
  void SetItem(std::int32_t AIndex, const TBuffer& ABuffer) override { SetRow(AIndex, ABuffer); }
  double GetCell(std::int32_t ARow, std::int32_t ACol) const override { return GetItem(ARow, ACol); }
  void SetCell(std::int32_t ARow, std::int32_t ACol, double AValue) override { SetItem(ARow, ACol, AValue); }
  void Add(const TArray& AOther) override;
  void Subtract(const TArray& AOther) override;
  void Multiply(const TArray& AOther) override;
  void Divide(const TArray& AOther) override;
  void SetValue(double AValue) override;
  void AddValue(double AValue) override;
  void SubtractValue(double AValue) override;
  void MultiplyValue(double AValue) override;
  void DivideValue(double AValue) override;
  void Zero() override;
  bool Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) override;
  TNXRealBufferArrayEnumerator GetEnumerator() override { return TNXRealBufferArrayEnumerator(this); }

  // The Assign of the array interface: copies the custom items, resizes to
  // the source's GetCount x GetMaxSize without preserving and copies the rows.
  void AssignMatrix(const TArray& ASource);

  // INXRealMatrixBuffer
  TIntfPtr<INXRealMatrixBufferAccess> Data(TBufferAccessModes AModes) override;
  const double* Read() const noexcept final { return reinterpret_cast<double*>(FData); }
  double* Write() final {
    Unique(false);
    return Items<double>();
  }
  double* Modify() final {
    Unique(true);
    return Items<double>();
  }
  std::int32_t GetCols() const noexcept final { return FCols; }
  std::int32_t GetRows() const noexcept final { return FRows; }
  double GetItem(std::int32_t ARow, std::int32_t ACol) const final {
    CheckCell(ARow, ACol);
    return Read()[Offset(ARow, ACol)];
  }
  // The indexes are checked before anything else: a bad index copies nothing.
  void SetItem(std::int32_t ARow, std::int32_t ACol, double AValue) final {
    CheckCell(ARow, ACol);
    Modify()[Offset(ARow, ACol)] = AValue;
  }
  TBuffer GetRow(std::int32_t ARow) const override;
  void SetRow(std::int32_t ARow, const TBuffer& ABuffer) override;

  // The byte count of a rows x columns matrix: ERangeError for a negative
  // size (the column first), EIntOverflow beyond 32 bits.
  static std::uint32_t MatrixByteSize(std::int32_t ARows, std::int32_t ACols);

 protected:
  // The shape, under "Rows" and "Columns"; reading resizes to it before
  // "Data" is copied.
  void InternalSerializationWrite(IWriter& AWriter) override;
  void InternalSerializationRead(IReader& AReader) override;

 private:
  struct TUniversalSource;
  explicit TNXRealMatrixBuffer(const TUniversalSource& ASource);
  static TUniversalSource UniversalSource(const TIntfPtr<INXData>& ASource);

  void CheckCell(std::int32_t ARow, std::int32_t ACol) const {
    if (static_cast<std::uint32_t>(ACol) >= static_cast<std::uint32_t>(FCols)) RaiseColumn(ACol);
    if (static_cast<std::uint32_t>(ARow) >= static_cast<std::uint32_t>(FRows)) RaiseRow(ARow);
  }
  std::size_t Offset(std::int32_t ARow, std::int32_t ACol) const noexcept {
    return static_cast<std::size_t>(ARow) * static_cast<std::size_t>(FCols) + static_cast<std::size_t>(ACol);
  }
  [[noreturn]] static void RaiseColumn(std::int32_t ACol);
  [[noreturn]] static void RaiseRow(std::int32_t ARow);
  // The element-wise operation with another array, row by row.
  template <class TOp>
  void RowOperation(const TArray& AOther, TOp AOp);

  std::int32_t FCols = 0;
  std::int32_t FRows = 0;
};

// A list of real buffers, the rows, whose lengths may differ. Rows are the
// list's own buffer objects: a row handed out and written to is seen by the
// list, and Append takes the caller's buffer object itself.
class TNXRealBufferList : public TNXData, public virtual INXRealBufferDynamicArray {
  NX_INTERFACES(TNXData, INXRealBufferArray, INXRealBufferDynamicArray)

 public:
  using TList = TIntfPtr<INXRealBufferDynamicArray>;
  using TArray = TIntfPtr<INXRealBufferArray>;
  using TBuffer = TIntfPtr<INXRealBuffer>;

  TNXRealBufferList() = default;
  // The custom items, and rows that share the blocks of the source's rows.
  explicit TNXRealBufferList(const TArray& ASource);
  // One row per element, each a new buffer that shares that element's block.
  explicit TNXRealBufferList(std::span<const TBuffer> ABuffers);

  static TList Make() { return TList(new TNXRealBufferList()); }
  static TList Create() { return Make(); }
  static TList MakeCopy(const TArray& ASource) { return TList(new TNXRealBufferList(ASource)); }
  static TList CreateCopy(const TArray& ASource) { return MakeCopy(ASource); }
  static TList MakeData(std::span<const TBuffer> ABuffers) { return TList(new TNXRealBufferList(ABuffers)); }
  static TList MakeData(std::initializer_list<TBuffer> ABuffers) {
    return MakeData(std::span<const TBuffer>(ABuffers.begin(), ABuffers.size()));
  }
  static TList CreateData(std::span<const TBuffer> ABuffers) { return MakeData(ABuffers); }
  static TList CreateData(std::initializer_list<TBuffer> ABuffers) { return MakeData(ABuffers); }

  // INXData: a new list whose rows share the blocks of these rows.
  TIntfPtr<INXData> GetDataCopy() override;

  // INXRealBufferArray. Row indexes outside the list raise EListError.
  void Assign(const TArray& ASource) override;
  bool IsEqualArray(const TArray& AOther) const override;
  std::int32_t GetMaxSize() const override;
  std::int32_t GetCount() const noexcept override { return static_cast<std::int32_t>(FRows.size()); }
  std::int32_t GetColCount(std::int32_t ARow) const override { return Row(ARow)->GetSize(); }
  TBuffer GetItem(std::int32_t AIndex) override { return Row(AIndex); }
  void SetItem(std::int32_t AIndex, const TBuffer& ABuffer) override;
  double GetCell(std::int32_t ARow, std::int32_t ACol) const override { return Row(ARow)->GetItem(ACol); }
  void SetCell(std::int32_t ARow, std::int32_t ACol, double AValue) override { Row(ARow)->SetItem(ACol, AValue); }
  void Add(const TArray& AOther) override;
  void Subtract(const TArray& AOther) override;
  void Multiply(const TArray& AOther) override;
  void Divide(const TArray& AOther) override;
  void SetValue(double AValue) override;
  void AddValue(double AValue) override;
  void SubtractValue(double AValue) override;
  void MultiplyValue(double AValue) override;
  void DivideValue(double AValue) override;
  void Zero() override;
  // Drops rows beyond ARows, resizes the others to ACols elements and
  // appends new rows of ACols elements (contents not initialised).
  bool Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) override;
  TNXRealBufferArrayEnumerator GetEnumerator() override { return TNXRealBufferArrayEnumerator(this); }

  // INXRealBufferDynamicArray
  void Append(const TBuffer& ABuffer) override;

  // Removes the row AIndex.
  void Delete(std::int32_t AIndex);

 protected:
  // The rows, each a serialised real buffer, in the list "Rows".
  void InternalSerializationWrite(IWriter& AWriter) override;
  void InternalSerializationRead(IReader& AReader) override;

 private:
  const TBuffer& Row(std::int32_t AIndex) const;
  template <class TOp>
  void RowOperation(const TArray& AOther, TOp AOp);

  std::vector<TBuffer> FRows;
};

// A matrix object that forwards every call of the array interface to the
// buffer array it holds (a matrix buffer unless it was given another array).
// Copies of it (GetDataCopy, MakeEx) hold the same array object: writing
// through one is seen through the others.
class TNXRealMatrix : public TNXData, public virtual INXRealBufferArray {
  NX_INTERFACES(TNXData, INXRealBufferArray)

 public:
  using TArray = TIntfPtr<INXRealBufferArray>;
  using TBuffer = TIntfPtr<INXRealBuffer>;

  explicit TNXRealMatrix(const TArray& AArray);  // holds it (not null)
  TNXRealMatrix(std::int32_t ARows, std::int32_t ACols);  // a new matrix buffer, not initialised
  TNXRealMatrix(const double* AData, std::int32_t ARows, std::int32_t ACols);  // a new matrix buffer, copied
  explicit TNXRealMatrix(TNXRealMatrix* ASource);  // holds the source's array

  static TArray MakeCopy(const TArray& AArray) { return TArray(new TNXRealMatrix(AArray)); }
  static TArray CreateCopy(const TArray& AArray) { return MakeCopy(AArray); }
  static TArray MakeAsArraySize(std::int32_t ARows, std::int32_t ACols) { return TArray(new TNXRealMatrix(ARows, ACols)); }
  static TArray CreateAsArraySize(std::int32_t ARows, std::int32_t ACols) { return MakeAsArraySize(ARows, ACols); }
  static TArray MakeAsArrayData(const double* AData, std::int32_t ARows, std::int32_t ACols) {
    return TArray(new TNXRealMatrix(AData, ARows, ACols));
  }
  static TArray CreateAsArrayData(const double* AData, std::int32_t ARows, std::int32_t ACols) {
    return MakeAsArrayData(AData, ARows, ACols);
  }
  static TArray MakeEx(TNXRealMatrix* ASource) { return TArray(new TNXRealMatrix(ASource)); }
  static TArray CreateEx(TNXRealMatrix* ASource) { return MakeEx(ASource); }

  // The array this object forwards to.
  const TArray& GetArray() const noexcept { return FArray; }

  // INXData: a new matrix object holding the same array object.
  TIntfPtr<INXData> GetDataCopy() override;

  // Same row count, then every row of the same size with the same bytes.
  bool IsEqualMatrix(TNXRealMatrix* AOther);

  // INXRealBufferArray, forwarded.
  void Assign(const TArray& ASource) override { FArray->Assign(ASource); }
  bool IsEqualArray(const TArray& AOther) const override { return FArray->IsEqualArray(AOther); }
  std::int32_t GetMaxSize() const override { return FArray->GetMaxSize(); }
  std::int32_t GetCount() const override { return FArray->GetCount(); }
  std::int32_t GetColCount(std::int32_t ARow) const override { return FArray->GetColCount(ARow); }
  TBuffer GetItem(std::int32_t AIndex) override { return FArray->GetItem(AIndex); }
  void SetItem(std::int32_t AIndex, const TBuffer& ABuffer) override { FArray->SetItem(AIndex, ABuffer); }
  double GetCell(std::int32_t ARow, std::int32_t ACol) const override { return FArray->GetCell(ARow, ACol); }
  void SetCell(std::int32_t ARow, std::int32_t ACol, double AValue) override { FArray->SetCell(ARow, ACol, AValue); }
  void Add(const TArray& AOther) override { FArray->Add(AOther); }
  void Subtract(const TArray& AOther) override { FArray->Subtract(AOther); }
  void Multiply(const TArray& AOther) override { FArray->Multiply(AOther); }
  void Divide(const TArray& AOther) override { FArray->Divide(AOther); }
  void SetValue(double AValue) override { FArray->SetValue(AValue); }
  void AddValue(double AValue) override { FArray->AddValue(AValue); }
  void SubtractValue(double AValue) override { FArray->SubtractValue(AValue); }
  void MultiplyValue(double AValue) override { FArray->MultiplyValue(AValue); }
  void DivideValue(double AValue) override { FArray->DivideValue(AValue); }
  void Zero() override { FArray->Zero(); }
  bool Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) override {
    return FArray->Resize(ARows, ACols, APreserve);
  }
  TNXRealBufferArrayEnumerator GetEnumerator() override { return FArray->GetEnumerator(); }

 private:
  TArray FArray;
};

// ---------------------------------------------------------------- storage, serialisation, subscriptions

// A callback of a buffer's notification list: ACallback (AObject) runs each
// time the buffer refreshes its caches (a new block, a resize). AProc
// receives the handle that RGUnSubscribeBufferNodify takes to remove it.
using TNXBufferNotifyCallback = void (*)(void* AObject);
void RGSubscribeBufferNodify(const TIntfPtr<INXGenericBuffer>& ABuffer, void* AObject,
                             TNXBufferNotifyCallback ACallback, TNXNotifyList::THandle& AProc);
// Removes a subscription; an unknown handle is ignored.
void RGUnSubscribeBufferNodify(const TIntfPtr<INXGenericBuffer>& ABuffer, TNXNotifyList::THandle AProc);

namespace NXSimpleDataBuffer {
// Start-up: registers the buffer classes with the class registry;
// finalization unregisters them.
void UnitInitialize();
void UnitFinalize();
}  // namespace NXSimpleDataBuffer

}  // namespace nx
