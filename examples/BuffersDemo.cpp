// Buffers demo: sharing without copies, copy on write, Boolean and matrix
// buffers, and a serialised buffer read back by its class name. The lines
// between the markers are the README's example.
#include <cstdio>
#include <string>

#include <nxruntime.h>

int main() {
  using namespace nx;
  // README example: start
  TIntfPtr<INXRealBuffer> a = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
  TIntfPtr<INXRealBuffer> b = TNXRealBuffer::MakeCopy(a);  // shares a's block: no copy
  b->MultiplyValue(2.0);          // b now writes: it copies the block first, a keeps 1, 2, 3
  double m = b->Mean();           // 4.0
  b->SetItem(0, -1.0);            // item access checks the index ("Index out of range = %u")

  TIntfPtr<INXBooleanBuffer> bits = TNXBooleanBuffer::MakeValue(10, true);
  bits->InvertBit(3)->AndBuffer(TNXBooleanBuffer::MakeValue(10, true));  // chained, whole bytes at a time

  TIntfPtr<INXRealMatrixBuffer> m2 = TNXRealMatrixBuffer::MakeValue(0.5, 2, 3);  // 2 rows, 3 columns
  m2->SetItem(1, 2, 7.0);         // row 1, column 2 (the column is checked first)

  std::string bytes = NXDataObjectToBytes(b.Get());  // serialised with its class name
  TIntfPtr<INXRealBuffer> back = Supports<INXRealBuffer>(NXDataObjectFromBytes(bytes));
  // README example: end

  std::printf("a = %g %g %g (unchanged)\n", a->GetItem(0), a->GetItem(1), a->GetItem(2));
  std::printf("b = %g %g %g, mean before SetItem %g\n", b->GetItem(0), b->GetItem(1), b->GetItem(2), m);
  std::printf("bit 3 after InvertBit and AndBuffer: %d, all true: %d\n", bits->GetItem(3), bits->IsEqualToValue(true));
  std::printf("matrix (1, 2) = %g, (0, 0) = %g\n", m2->GetItem(1, 2), m2->GetItem(0, 0));
  std::printf("read back by class name: %s with %d elements, equal: %d\n",
              TClassManagement::ClassNameOf(*back->GetInstance()).c_str(), back->GetSize(), back->IsEqual(b));
  try {
    a->GetItem(3);
  } catch (const ERangeError& e) {
    std::printf("a->GetItem(3): %s\n", e.what());
  }
  return back->IsEqual(b) ? 0 : 1;
}
