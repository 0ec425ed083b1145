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

}  // namespace nx
