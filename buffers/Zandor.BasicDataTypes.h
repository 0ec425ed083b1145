// Zandor.BasicDataTypes: the base of every data object passed between
// components. A data object can make a copy of itself that shares its data
// (GetDataCopy) and carries an ordered list of attached custom data items
// (metadata that travels with the data).
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/Zandor.Interfaces.h"

namespace nx {

class TNXData;

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
  // (SerializationRead / SerializationWrite of the storage layer go here.)

  // Replaces the custom list by copies (GetDataCopy) of the source's items.
  void AssignData(INXData* ASource);
  void ClearCustom() noexcept { FCustom.clear(); }

 protected:
  // The custom list; empty for almost every object, so it costs nothing to
  // copy when a buffer is passed on.
  std::vector<TIntfPtr<INXData>> FCustom;
};

}  // namespace nx
