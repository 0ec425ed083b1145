// Zandor.BasicDataTypes: the base of every data object passed between
// components. A data object can make a copy of itself that shares its data
// (GetDataCopy) and carries an ordered list of attached custom data items
// (metadata that travels with the data). A data object of a registered class
// (Zandor.ClassManagement) can be serialised member-wise with its custom list
// (Zandor.Serialization) and read back by its class name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Zandor.Interfaces.h"

namespace nx {

class TNXData;
struct INXDataBuffer;
class IWriter;
class IReader;
class TStream;

struct INXData : virtual IInterface {
  NX_INTERFACE_ID(INXData, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F01}");
  // The implementing object.
  virtual TNXData* GetInstance() noexcept = 0;
  // A new data object of the same class that shares the data (no copy of
  // the samples of a buffer).
  virtual TIntfPtr<INXData> GetDataCopy() = 0;
  virtual void AddCustom(const TIntfPtr<INXData>& AData) = 0;
  virtual std::int32_t GetCustomCount() noexcept = 0;
  // Raises ERangeError "Index out of range = %u" outside 0 .. count - 1.
  virtual TIntfPtr<INXData> GetCustom(std::int32_t AIndex) = 0;
};

class TNXData : public TInterfacedObject, public virtual INXData {
  NX_INTERFACES(TInterfacedObject, INXData)

 public:
  TNXData() = default;

  TNXData* GetInstance() noexcept final { return this; }
  TIntfPtr<INXData> GetDataCopy() override = 0;
  void AddCustom(const TIntfPtr<INXData>& AData) override;
  std::int32_t GetCustomCount() noexcept final { return static_cast<std::int32_t>(FCustom.size()); }
  TIntfPtr<INXData> GetCustom(std::int32_t AIndex) override;

  // A copy as an interface; the base gives GetDataCopy.
  virtual TIntfPtr<INXData> MakeIntfCopy() { return GetDataCopy(); }
  // The object as a data buffer, without taking a reference; null when it
  // is none (or not one of this library's buffers: callers then ask with a
  // query). The data path asks this for every buffer it sends, where a
  // query would cost a reference taken and given back.
  virtual INXDataBuffer* PeekDataBuffer() noexcept { return nullptr; }
  // Member-wise serialisation: the custom list under "Custom" (each item an
  // object of its own class, by name) and the class's own members through
  // InternalSerializationWrite / InternalSerializationRead. Reading replaces
  // the custom list only when the form has one.
  virtual void SerializationRead(IReader& AReader);
  virtual void SerializationWrite(IWriter& AWriter);

  // Replaces the custom list by copies (GetDataCopy) of the source's items.
  void AssignData(INXData* ASource);
  void ClearCustom() noexcept { FCustom.clear(); }

 protected:
  // The members of a class of its own (nothing here).
  virtual void InternalSerializationRead(IReader& AReader) {}
  virtual void InternalSerializationWrite(IWriter& AWriter) {}
  void ReadCustom(IReader& AReader);
  void WriteCustom(IWriter& AWriter);

  // The custom list; empty for almost every object, so it costs nothing to
  // copy when a buffer is passed on.
  std::vector<TIntfPtr<INXData>> FCustom;
};

// Writes AData (null allowed) under AKey as an object carrying its class
// name; the class must be registered (else EClassNotFound).
void NXWriteDataObject(IWriter& AWriter, std::string_view AKey, INXData* AData);
// Reads the object under AKey back as a new object of the class named with
// it (EClassNotFound for an unknown name). Empty when the key is absent or
// a null object was written. A failed read leaves nothing behind.
TIntfPtr<INXData> NXReadDataObject(IReader& AReader, std::string_view AKey);

// A whole serialised document holding one data object (null allowed), at the
// stream's position; the stream then stands after it.
void NXSaveDataObject(TStream& AStream, INXData* AData);
TIntfPtr<INXData> NXLoadDataObject(TStream& AStream);
// The same as a byte string.
std::string NXDataObjectToBytes(INXData* AData);
TIntfPtr<INXData> NXDataObjectFromBytes(std::string_view ABytes);

// ---------------------------------------------------------------- bit sets

// A small growable set of bits passed between components as a data value
// (digital words, flags). Unlike the buffers it owns its bytes: copies are
// real copies. Bit i is bit (i mod 8) of byte (i div 8), least significant
// first; bits of the last byte beyond the count carry no meaning. The
// modifying methods return the set itself, so calls can be chained.
struct IRGBits : virtual INXData {
  NX_INTERFACE_ID(IRGBits, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F30}");
  using TBits = TIntfPtr<IRGBits>;

  // Copies count and bytes when the source is a bit set; anything else is ignored.
  virtual TBits Assign(const TIntfPtr<INXData>& ASource) = 0;
  virtual TBits OrBy(bool AValue) = 0;
  // With another set: an other whose byte array is longer grows this set
  // (zero bytes, the larger count; a larger count in the same number of bytes
  // does not); then each of the other's bytes is combined into the same byte.
  virtual TBits OrBy(const TBits& AOther) = 0;
  virtual TBits AndBy(bool AValue) = 0;
  virtual TBits AndBy(const TBits& AOther) = 0;
  virtual TBits XorBy(bool AValue) = 0;
  virtual TBits XorBy(const TBits& AOther) = 0;
  virtual TBits Invert() = 0;
  virtual TBits InvertBit(std::int32_t AIndex) = 0;
  // False for no other set or another count; else true when every bit agrees.
  virtual bool EqualsBits(const TBits& AOther) = 0;
  // Negative counts become 0; at least one byte is kept.
  virtual TBits Resize(std::int32_t ACount) = 0;
  // The bits as an unsigned little-endian number; EIntOverflow beyond the result's range.
  virtual std::int32_t ToInteger() = 0;
  virtual std::uint64_t ToUInt64() = 0;
  virtual TBits FromInteger(std::int32_t AValue, bool AResize) = 0;
  virtual TBits FromUInt64(std::uint64_t AValue, bool AResize) = 0;
  virtual TBits GetCopy() = 0;
  virtual TBits GetCopySize(std::int32_t ACount) = 0;
  virtual std::int32_t GetCount() noexcept = 0;
  // Both raise ERangeError "Index out of range = %u" outside 0 .. count - 1.
  virtual bool GetBit(std::int32_t AIndex) = 0;
  virtual TBits SetBit(std::int32_t AIndex, bool AValue) = 0;
  // "Count must be bigger than zero" for ACount < 1; "Index out of range = %u"
  // (with AIndex) when the range leaves the set.
  virtual TBits GetBits(std::int32_t AIndex, std::int32_t ACount) = 0;
  virtual TBits SetBits(std::int32_t AIndex, const TBits& ABits) = 0;
  virtual TBits SetValue(bool AValue) = 0;
  // The byte array; valid until the set next changes.
  virtual const std::vector<std::uint8_t>& GetArray() noexcept = 0;
  // Adopts the array, cut or zero-extended to (count + 7) div 8 bytes.
  virtual TBits SetByteData(std::vector<std::uint8_t> ABytes, std::int32_t ACount) = 0;
  // Copies (count + 7) div 8 bytes from AData.
  virtual TBits SetByteData(const void* AData, std::int32_t ACount) = 0;
};

class TRGBits : public TNXData, public virtual IRGBits {
  NX_INTERFACES(TNXData, IRGBits)

 public:
  using TBits = IRGBits::TBits;
  struct TByteArrayInit {};

  // ACount bits (negative: 0), all set when AValue is true.
  explicit TRGBits(std::int32_t ACount = 0, bool AValue = false);
  TRGBits(TByteArrayInit, std::vector<std::uint8_t> ABytes, std::int32_t ACount);
  TRGBits(const void* AData, std::int32_t ACount);
  // A copy of AOther's count and bytes (an empty set for null).
  explicit TRGBits(IRGBits* AOther);

  static TBits MakeSize(std::int32_t ACount, bool AValue = false) { return TBits(new TRGBits(ACount, AValue)); }
  static TBits CreateSize(std::int32_t ACount, bool AValue = false) { return MakeSize(ACount, AValue); }
  static TBits Make(std::vector<std::uint8_t> ABytes, std::int32_t ACount) {
    return TBits(new TRGBits(TByteArrayInit{}, std::move(ABytes), ACount));
  }
  static TBits Create(std::vector<std::uint8_t> ABytes, std::int32_t ACount) { return Make(std::move(ABytes), ACount); }
  static TBits MakeData(const void* AData, std::int32_t ACount) { return TBits(new TRGBits(AData, ACount)); }
  static TBits CreateData(const void* AData, std::int32_t ACount) { return MakeData(AData, ACount); }
  // One bit.
  static TBits MakeBit(bool AValue) { return TBits(new TRGBits(1, AValue)); }
  static TBits CreateBit(bool AValue) { return MakeBit(AValue); }
  static TBits MakeCopy(const TBits& AOther) { return TBits(new TRGBits(AOther.Get())); }
  static TBits CreateCopy(const TBits& AOther) { return MakeCopy(AOther); }

  TIntfPtr<INXData> GetDataCopy() override;

  TBits Assign(const TIntfPtr<INXData>& ASource) override;
  TBits OrBy(bool AValue) override;
  TBits OrBy(const TBits& AOther) override;
  TBits AndBy(bool AValue) override;
  TBits AndBy(const TBits& AOther) override;
  TBits XorBy(bool AValue) override;
  TBits XorBy(const TBits& AOther) override;
  TBits Invert() override { return XorBy(true); }
  TBits InvertBit(std::int32_t AIndex) override { return SetBit(AIndex, !GetBit(AIndex)); }
  bool EqualsBits(const TBits& AOther) override;
  TBits Resize(std::int32_t ACount) override;
  std::int32_t ToInteger() override;
  std::uint64_t ToUInt64() override;
  TBits FromInteger(std::int32_t AValue, bool AResize) override;
  TBits FromUInt64(std::uint64_t AValue, bool AResize) override;
  TBits GetCopy() override;
  TBits GetCopySize(std::int32_t ACount) override;
  std::int32_t GetCount() noexcept override { return FCount; }
  bool GetBit(std::int32_t AIndex) override;
  TBits SetBit(std::int32_t AIndex, bool AValue) override;
  TBits GetBits(std::int32_t AIndex, std::int32_t ACount) override;
  TBits SetBits(std::int32_t AIndex, const TBits& ABits) override;
  TBits SetValue(bool AValue) override { return AValue ? OrBy(true) : AndBy(false); }
  const std::vector<std::uint8_t>& GetArray() noexcept override { return FBytes; }
  TBits SetByteData(std::vector<std::uint8_t> ABytes, std::int32_t ACount) override;
  TBits SetByteData(const void* AData, std::int32_t ACount) override;

 protected:
  // The count under "Count" and the bytes under "Bits".
  void InternalSerializationWrite(IWriter& AWriter) override;
  void InternalSerializationRead(IReader& AReader) override;

 private:
  TBits Self() { return TBits(static_cast<IRGBits*>(this)); }
  // The low (count mod 8) bits of the last used byte, or all 8.
  std::uint8_t LastByteMask() const noexcept;
  // The value of the first min(count, ABits) bits; EIntOverflow when a
  // meaningful bit at or above ABits is set.
  std::uint64_t ReadNumber(unsigned ABits);
  void WriteNumber(std::uint64_t AValue, unsigned ABits, bool AResize);
  template <class TOp>
  TBits Combine(const TBits& AOther, TOp AOp, std::uint8_t AFillBeyond);

  std::vector<std::uint8_t> FBytes;
  std::int32_t FCount = 0;
};

}  // namespace nx
