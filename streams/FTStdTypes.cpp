// FTStdTypes: the standard stream kinds and supplied operations are declared
// in the header (interfaces and templates); this unit has no code of its own
// beyond the explicit instantiations that other units link against.
#include "streams/FTStdTypes.h"

namespace nx {

template class TFTTypedSuppliedOperation<double>;
template class TFTTypedSuppliedOperation<float>;
template class TFTTypedSuppliedOperation<std::int32_t>;
template class TFTTypedSuppliedOperation<std::uint32_t>;
template class TFTTypedSuppliedOperation<bool>;
template class TFTTypedSuppliedOperation<std::string>;
template class TFTTypedSuppliedRangeOperation<double>;

}  // namespace nx
