// The buffer objects of the Python extension (see NXPyBuffers.cpp).
#pragma once

#include "NXPyCommon.h"
#include "buffers/NXSimpleDataBuffer.h"

namespace nx::py {

enum class TBufKind { Real, Complex, Integer, Unsigned, Block, Boolean, Matrix };

// A Python buffer: the library's buffer and its class.
struct TPyBuffer {
  explicit TPyBuffer(TIntfPtr<INXData> AObj);
  TIntfPtr<INXData> Obj;
  TNXGenericBuffer* B = nullptr;
  TBufKind Kind = TBufKind::Block;
};

// A Python object of the buffer's own class (RealBuffer ...).
pyb::object WrapBuffer(TIntfPtr<INXData> AObj);
// A read-only view of the buffer's block, owning the block while it lives.
pyb::array ReadView(const TPyBuffer& b);

}  // namespace nx::py
