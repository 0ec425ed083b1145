// Zandor.BasicDataTypes: the data base class and its custom list.
#include "buffers/Zandor.BasicDataTypes.h"

#include "runtime/SysUtils.h"

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

}  // namespace nx
