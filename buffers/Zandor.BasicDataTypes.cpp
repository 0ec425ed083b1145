// Zandor.BasicDataTypes: the data base class, its custom list and its
// serialisation.
#include "buffers/Zandor.BasicDataTypes.h"

#include "runtime/SysUtils.h"
#include "runtime/Zandor.ClassManagement.h"
#include "runtime/Zandor.Serialization.h"

namespace nx {

void TNXData::AddCustom(const TIntfPtr<INXData>& AData) { FCustom.push_back(AData); }

TIntfPtr<INXData> TNXData::GetCustom(std::int32_t AIndex) {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FCustom.size())
    RaiseRange("Index out of range = %u", static_cast<unsigned>(AIndex));
  return FCustom[static_cast<std::size_t>(AIndex)];
}

void TNXData::AssignData(INXData* ASource) {
  if (ASource == static_cast<INXData*>(this)) return;
  // Copy first, then swap in: a failing copy leaves the list as it was.
  std::vector<TIntfPtr<INXData>> items;
  if (ASource) {
    const std::int32_t n = ASource->GetCustomCount();
    items.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
      TIntfPtr<INXData> item = ASource->GetCustom(i);
      items.push_back(item ? item->GetDataCopy() : TIntfPtr<INXData>());
    }
  }
  FCustom.swap(items);
}

// ---------------------------------------------------------------- serialisation

namespace {

// A null object is written with an empty class name (no class registers
// under it) and no members.
std::string NameOf(INXData* AData) {
  return AData ? TClassManagement::ClassNameOf(*AData->GetInstance()) : std::string();
}

// The object whose members are current in AReader, as a new object of
// AClassName (null for the empty name).
TIntfPtr<INXData> ReadCurrent(IReader& AReader, const std::string& AClassName) {
  if (AClassName.empty()) return nullptr;
  TIntfPtr<INXData> obj = TClassManagement::CreateObject(AClassName);
  obj->GetInstance()->SerializationRead(AReader);
  return obj;
}

}  // namespace

void TNXData::SerializationRead(IReader& AReader) {
  InternalSerializationRead(AReader);
  ReadCustom(AReader);
}

void TNXData::SerializationWrite(IWriter& AWriter) {
  WriteCustom(AWriter);
  InternalSerializationWrite(AWriter);
}

void TNXData::WriteCustom(IWriter& AWriter) {
  AWriter.BeginList("Custom");
  for (const TIntfPtr<INXData>& item : FCustom) {
    AWriter.BeginItem(NameOf(item.Get()));
    if (item) item->GetInstance()->SerializationWrite(AWriter);
    AWriter.EndItem();
  }
  AWriter.EndList();
}

void TNXData::ReadCustom(IReader& AReader) {
  std::uint32_t count = 0;
  if (!AReader.BeginList("Custom", count)) return;
  // Read into a list of our own and swap it in at the end: a failure halfway
  // leaves the custom list as it was, and the items read so far are released.
  std::vector<TIntfPtr<INXData>> items;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    AReader.BeginItem(name);
    items.push_back(ReadCurrent(AReader, name));
    AReader.EndItem();
  }
  AReader.EndList();
  FCustom.swap(items);
}

void NXWriteDataObject(IWriter& AWriter, std::string_view AKey, INXData* AData) {
  AWriter.BeginObject(AKey, NameOf(AData));
  if (AData) AData->GetInstance()->SerializationWrite(AWriter);
  AWriter.EndObject();
}

TIntfPtr<INXData> NXReadDataObject(IReader& AReader, std::string_view AKey) {
  std::string name;
  if (!AReader.BeginObject(AKey, name)) return nullptr;
  TIntfPtr<INXData> obj = ReadCurrent(AReader, name);
  AReader.EndObject();
  return obj;
}

void NXSaveDataObject(TStream& AStream, INXData* AData) {
  TBinaryWriter writer(AStream, NameOf(AData));
  if (AData) AData->GetInstance()->SerializationWrite(writer);
  writer.Finish();
}

TIntfPtr<INXData> NXLoadDataObject(TStream& AStream) {
  TBinaryReader reader(AStream);
  TIntfPtr<INXData> obj = ReadCurrent(reader, reader.RootClassName());
  reader.Finish();
  return obj;
}

std::string NXDataObjectToBytes(INXData* AData) {
  TStringStream stream;
  NXSaveDataObject(stream, AData);
  return stream.DataString();
}

TIntfPtr<INXData> NXDataObjectFromBytes(std::string_view ABytes) {
  TStringStream stream{std::string(ABytes)};
  return NXLoadDataObject(stream);
}

}  // namespace nx
