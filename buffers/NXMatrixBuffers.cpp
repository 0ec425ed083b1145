// NXMatrixBuffers: two-dimensional real data: the matrix buffer (rows in one
// block), the buffer list (independent rows), the matrix object that forwards
// to either, and the real buffer made from the rows of an array.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "buffers/NXBufferOperations.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "vector/NXBasicDispatcher.h"
#include "runtime/Zandor.ClassManagement.h"
#include "runtime/Zandor.Serialization.h"

namespace nx {

using namespace bufferops;

// ---------------------------------------------------------------- real matrix buffer, buffer list, matrix

namespace {

[[noreturn]] void RaiseColumnIndex(std::int32_t ACol) {
  RaiseRange("Column out of range = %u", static_cast<unsigned>(ACol));
}
[[noreturn]] void RaiseRowIndex(std::int32_t ARow) { RaiseRange("Row out of range = %u", static_cast<unsigned>(ARow)); }

// The rows of a buffer array as spans of elements. A matrix buffer (also one
// behind matrix objects) is read in place from its block; any other array
// hands out its row buffers, and the reader holds the last one it was given.
// A span stays valid until the next Row call or a write to the array.
class TRowReader {
 public:
  explicit TRowReader(const TIntfPtr<INXRealBufferArray>& AArray) {
    if (!AArray) throw EArgumentException("A buffer array is required, not nil");
    INXRealBufferArray* array = AArray.Get();
    // Matrix objects only forward; their arrays are held as long as they are.
    while (auto* wrapper = dynamic_cast<TNXRealMatrix*>(array->GetInstance())) array = wrapper->GetArray().Get();
    FArray = array;
    FMatrix = dynamic_cast<TNXRealMatrixBuffer*>(array->GetInstance());
  }

  // The matrix buffer read in place, or null.
  TNXRealMatrixBuffer* Matrix() const noexcept { return FMatrix; }
  std::int32_t Count() { return FArray->GetCount(); }

  std::span<const double> Row(std::int32_t ARow) {
    if (FMatrix) {
      const std::int32_t cols = FMatrix->GetCols();
      if (cols <= 0) return {};
      return {FMatrix->Read() + static_cast<std::size_t>(ARow) * static_cast<std::size_t>(cols),
              static_cast<std::size_t>(cols)};
    }
    FRow = FArray->GetItem(ARow);
    const std::int32_t n = FRow ? FRow->GetSize() : 0;
    if (n <= 0) return {};
    return {FRow->Read(), static_cast<std::size_t>(n)};
  }

 private:
  INXRealBufferArray* FArray;  // held by the caller's reference
  TNXRealMatrixBuffer* FMatrix = nullptr;
  TIntfPtr<INXRealBuffer> FRow;
};

// Lays the source's rows out one after the other in ADest, ACols elements
// each: a longer row is cut, a shorter one padded with zeros.
void CopyRows(TRowReader& ASource, double* ADest, std::int32_t ARows, std::int32_t ACols) {
  if (ACols <= 0) return;
  for (std::int32_t r = 0; r < ARows; ++r) {
    const std::span<const double> row = ASource.Row(r);
    double* dst = ADest + static_cast<std::size_t>(r) * static_cast<std::size_t>(ACols);
    const std::int32_t n = std::min(ACols, static_cast<std::int32_t>(row.size()));
    if (n > 0) ippsCopy_64f(row.data(), dst, Len(n));
    if (n < ACols) ippsZero_64f(dst + n, Len(ACols - n));
  }
}

// Same row count, and every pair of rows of the same length with the same bytes.
bool ArraysEqual(const TIntfPtr<INXRealBufferArray>& A, const TIntfPtr<INXRealBufferArray>& B) {
  if (!A || !B) return false;
  TRowReader a(A), b(B);
  const std::int32_t rows = a.Count();
  if (rows != b.Count()) return false;
  for (std::int32_t r = 0; r < rows; ++r) {
    const std::span<const double> x = a.Row(r), y = b.Row(r);
    if (x.size() != y.size()) return false;
    if (!x.empty() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) != 0) return false;
  }
  return true;
}

// After a division that met a zero divisor: every quotient whose divisor is
// exactly 0 becomes 1e15 when it is above 0 and -1e14 otherwise (a zero
// dividend, a NaN), as the real buffer's Divide does.
void RepairDivision(const double* ADivisor, double* AQuotient, std::int32_t ACount) noexcept {
  for (std::int32_t i = 0; i < ACount; ++i)
    if (ADivisor[i] == 0.0) AQuotient[i] = AQuotient[i] > 0.0 ? 1000000000000000.0 : -100000000000000.0;
}

// Divides ADest by ASource in place and repairs the zero divisors. The
// divisors are read again after the division, so a row divided by itself is
// divided by a copy.
void DivideRow(const double* ASource, double* ADest, std::int32_t ACount) {
  std::vector<double> copy;
  if (ASource == ADest) {
    copy.assign(ASource, ASource + ACount);
    ASource = copy.data();
  }
  if (ippsDiv_64f_I(ASource, ADest, Len(ACount)) == ippStsDivByZero) RepairDivision(ASource, ADest, ACount);
}

TIntfPtr<INXRealBufferArray> ArrayOf(INXRealBufferArray* AArray) { return TIntfPtr<INXRealBufferArray>(AArray); }
// The same from a const getter: holding a reference does not change the array.
TIntfPtr<INXRealBufferArray> ArrayOf(const INXRealBufferArray* AArray) {
  return TIntfPtr<INXRealBufferArray>(const_cast<INXRealBufferArray*>(AArray));
}

}  // namespace

// ---------------------------------------------------------------- TNXRealBuffer from a buffer array

namespace {
std::uint32_t ArrayElementCount(const TIntfPtr<INXRealBufferArray>& ASource) {
  if (!ASource) throw EArgumentException("A buffer array is required, not nil");
  return TNXRealMatrixBuffer::MatrixByteSize(ASource->GetCount(), ASource->GetMaxSize()) / sizeof(double);
}
}  // namespace

// The rows are copied in: a buffer of undefined values the size of the array
// would be of no use to anyone, and the copy costs one pass.
TNXRealBuffer::TNXRealBuffer(TArrayInit, const TIntfPtr<INXRealBufferArray>& ASource)
    : TNXRealBuffer(ArrayElementCount(ASource)) {
  TRowReader rows(ASource);
  const std::int32_t count = rows.Count(), cols = ASource->GetMaxSize();
  if (static_cast<std::int64_t>(count) * cols == GetSize()) CopyRows(rows, Items<double>(), count, cols);
}

// ---------------------------------------------------------------- TNXRealMatrixBuffer

std::int32_t TNXRealMatrixBufferAccess::GetCols() const { return static_cast<TNXRealMatrixBuffer*>(FObject)->GetCols(); }
std::int32_t TNXRealMatrixBufferAccess::GetRows() const { return static_cast<TNXRealMatrixBuffer*>(FObject)->GetRows(); }

std::uint32_t TNXRealMatrixBuffer::MatrixByteSize(std::int32_t ARows, std::int32_t ACols) {
  if (ACols < 0) RaiseColumnIndex(ACols);
  if (ARows < 0) RaiseRowIndex(ARows);
  const std::uint64_t count = static_cast<std::uint64_t>(ARows) * static_cast<std::uint64_t>(ACols);  // < 2^62
  if (count > 0xFFFFFFFFu / sizeof(double)) throw EIntOverflow();
  return static_cast<std::uint32_t>(count * sizeof(double));
}

void TNXRealMatrixBuffer::RaiseColumn(std::int32_t ACol) { RaiseColumnIndex(ACol); }
void TNXRealMatrixBuffer::RaiseRow(std::int32_t ARow) { RaiseRowIndex(ARow); }

TNXRealMatrixBuffer::TNXRealMatrixBuffer() : TNXMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(double))) {}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(std::int32_t ARows, std::int32_t ACols)
    : TNXMemoryBuffer(MatrixByteSize(ARows, ACols) / sizeof(double), static_cast<std::uint32_t>(sizeof(double))),
      FCols(ACols),
      FRows(ARows) {}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(const double* AData, std::int32_t ARows, std::int32_t ACols)
    : TNXRealMatrixBuffer(ARows, ACols) {
  if (AData && GetSize() > 0) ippsCopy_64f(AData, Items<double>(), Len(GetSize()));
}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(TValueInit, double AValue, std::int32_t ARows, std::int32_t ACols)
    : TNXRealMatrixBuffer(ARows, ACols) {
  if (GetSize() > 0) ippsSet_64f(AValue, Items<double>(), Len(GetSize()));
}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(TNXRealMatrixBuffer* ASource)
    : TNXMemoryBuffer(NotNil(ASource)), FCols(ASource->FCols), FRows(ASource->FRows) {}

namespace {
TNXRealMatrixBuffer* MatrixOf(const TIntfPtr<INXRealMatrixBuffer>& ASource) {
  if (!ASource) throw EArgumentException("A matrix buffer is required, not nil");
  auto* matrix = dynamic_cast<TNXRealMatrixBuffer*>(ASource->GetInstance());
  if (!matrix) throw EArgumentException("The data object is not a matrix buffer");
  return matrix;
}
}  // namespace

TNXRealMatrixBuffer::TNXRealMatrixBuffer(const TMatrix& ASource) : TNXRealMatrixBuffer(MatrixOf(ASource)) {}

// What the universal constructor builds on: a matrix buffer to share, or
// another array to copy, with the shape and byte size checked beforehand.
struct TNXRealMatrixBuffer::TUniversalSource {
  TNXRealMatrixBuffer* Matrix = nullptr;
  INXRealBufferArray* Array = nullptr;
  std::int32_t Rows = 0;
  std::int32_t Cols = 0;
  std::uint32_t Bytes = 0;
};

TNXRealMatrixBuffer::TUniversalSource TNXRealMatrixBuffer::UniversalSource(const TIntfPtr<INXData>& ASource) {
  if (!ASource) throw EArgumentException("A buffer array is required, not nil");
  TNXData* object = ASource->GetInstance();
  TUniversalSource result;
  if (auto* matrix = dynamic_cast<TNXRealMatrixBuffer*>(object)) {
    result.Matrix = matrix;
    result.Rows = matrix->FRows;
    result.Cols = matrix->FCols;
    result.Bytes = matrix->FByteSize;
    return result;
  }
  auto* array = dynamic_cast<INXRealBufferArray*>(object);
  if (!array) throw EArgumentException("The data object is not a buffer array");
  result.Array = array;
  result.Rows = array->GetCount();
  result.Cols = array->GetMaxSize();
  result.Bytes = MatrixByteSize(result.Rows, result.Cols);
  return result;
}

TNXRealMatrixBuffer::TNXRealMatrixBuffer(const TIntfPtr<INXData>& ASource)
    : TNXRealMatrixBuffer(UniversalSource(ASource)) {}

// The new block is the last thing made before the base constructor takes
// it, so nothing can fail in between and lose it.
TNXRealMatrixBuffer::TNXRealMatrixBuffer(const TUniversalSource& ASource)
    : TNXMemoryBuffer(ASource.Matrix, ASource.Bytes,
                      ASource.Matrix ? ASource.Matrix->DataContainer() : NewBlock(ASource.Bytes)),
      FCols(ASource.Cols),
      FRows(ASource.Rows) {
  if (!ASource.Array) return;
  AssignData(ASource.Array);
  TRowReader rows(ArrayOf(ASource.Array));
  CopyRows(rows, Items<double>(), FRows, FCols);
}

TIntfPtr<INXData> TNXRealMatrixBuffer::GetDataCopy() {
  return TIntfPtr<INXData>(static_cast<INXData*>(static_cast<TNXGenericBuffer*>(new TNXRealMatrixBuffer(this))));
}

void TNXRealMatrixBuffer::Assign(const TIntfPtr<INXDataBuffer>& ASource) {
  TNXGenericBuffer* source = BufferOf(ASource);
  std::int32_t rows = 0, cols = 0;
  if (auto* matrix = dynamic_cast<TNXRealMatrixBuffer*>(source)) {
    rows = matrix->FRows;
    cols = matrix->FCols;
  } else {
    // Checked before anything changes: bytes that are not whole elements
    // cannot be a row.
    const std::uint32_t bytes = source->GetByteSize();
    if (bytes % sizeof(double) != 0) throw EArgumentException("The buffer does not hold whole 64-bit floats");
    cols = static_cast<std::int32_t>(bytes / sizeof(double));
    rows = cols > 0 ? 1 : 0;
  }
  TNXMemoryBuffer::Assign(ASource);
  FRows = rows;
  FCols = cols;
}

bool TNXRealMatrixBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  if (!AOther || !dynamic_cast<TNXRealMatrixBuffer*>(AOther->GetInstance())) return false;
  return TNXMemoryBuffer::IsEqual(AOther);
}

bool TNXRealMatrixBuffer::IsEqualArray(const TArray& AOther) const { return ArraysEqual(ArrayOf(this), AOther); }

TIntfPtr<INXRealMatrixBufferAccess> TNXRealMatrixBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXRealMatrixBufferAccess, INXRealMatrixBufferAccess>(this, AModes);
}

TIntfPtr<INXRealBuffer> TNXRealMatrixBuffer::GetRow(std::int32_t ARow) const {
  if (static_cast<std::uint32_t>(ARow) >= static_cast<std::uint32_t>(FRows)) RaiseRow(ARow);
  if (FCols == 0) return TNXRealBuffer::Make();
  return TNXRealBuffer::MakeData(Read() + Offset(ARow, 0), static_cast<std::uint32_t>(FCols));
}

void TNXRealMatrixBuffer::SetRow(std::int32_t ARow, const TBuffer& ABuffer) {
  if (static_cast<std::uint32_t>(ARow) >= static_cast<std::uint32_t>(FRows)) RaiseRow(ARow);
  if (!ABuffer) throw EArgumentException("A source buffer is required");
  const double* src = ABuffer->Read();
  const std::int32_t n = std::min(FCols, ABuffer->GetSize());
  Unique(true);
  if (n > 0) ippsCopy_64f(src, Items<double>() + Offset(ARow, 0), Len(n));
}

template <class TOp>
void TNXRealMatrixBuffer::RowOperation(const TArray& AOther, TOp AOp) {
  TRowReader other(AOther);
  double* self = Modify();
  const std::int32_t rows = std::min(FRows, other.Count());
  for (std::int32_t r = 0; r < rows; ++r) {
    // Read after Self's copy on write: a source on Self's old block still
    // holds that block, and Self itself shows its new one.
    const std::span<const double> src = other.Row(r);
    const std::int32_t n = std::min(FCols, static_cast<std::int32_t>(src.size()));
    if (n > 0) AOp(src.data(), self + Offset(r, 0), n);
  }
}

void TNXRealMatrixBuffer::Add(const TArray& AOther) {
  RowOperation(AOther, [](const double* s, double* d, std::int32_t n) { ippsAdd_64f_I(s, d, Len(n)); });
}
void TNXRealMatrixBuffer::Subtract(const TArray& AOther) {
  RowOperation(AOther, [](const double* s, double* d, std::int32_t n) { ippsSub_64f_I(s, d, Len(n)); });
}
void TNXRealMatrixBuffer::Multiply(const TArray& AOther) {
  RowOperation(AOther, [](const double* s, double* d, std::int32_t n) { ippsMul_64f_I(s, d, Len(n)); });
}
void TNXRealMatrixBuffer::Divide(const TArray& AOther) { RowOperation(AOther, DivideRow); }

void TNXRealMatrixBuffer::SetValue(double AValue) { ippsSet_64f(AValue, Write(), Len(GetSize())); }
void TNXRealMatrixBuffer::AddValue(double AValue) { ippsAddC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealMatrixBuffer::SubtractValue(double AValue) { ippsSubC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealMatrixBuffer::MultiplyValue(double AValue) { ippsMulC_64f_I(AValue, Modify(), Len(GetSize())); }

// As the real buffer: 0 and 1 leave the matrix (and a shared block) untouched.
void TNXRealMatrixBuffer::DivideValue(double AValue) {
  if (AValue == 0.0 || AValue == 1.0) return;
  ippsDivC_64f_I(AValue, Modify(), Len(GetSize()));
}

void TNXRealMatrixBuffer::Zero() { ippsZero_64f(Write(), Len(GetSize())); }

bool TNXRealMatrixBuffer::Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) {
  const std::uint32_t bytes = MatrixByteSize(ARows, ACols);
  if (ARows == 0 || ACols == 0) {
    FByteSize = 0;
    FCols = ACols;
    FRows = ARows;
    PopulateCahces();
    return true;
  }
  if (ARows == FRows && ACols == FCols) return false;
  // Fewer elements with preservation: the block stays (even a shared one)
  // and the kept elements are the first ones in flat order.
  // More elements within the memory an earlier shrink left: only a sole owner.
  if (APreserve &&
      (FByteSize > bytes || (FDataContainer->SingleOwner() && FDataContainer->GetSize() >= bytes))) {
    FByteSize = bytes;
    FCols = ACols;
    FRows = ARows;
    PopulateCahces();
    return true;
  }
  // A new block of exactly the size asked for. The old bytes are kept as a
  // flat sequence: with another column count they land in other rows and
  // columns. The shape changes only once the block is there.
  TNXSmartBuffer* old = FDataContainer;
  TNXSmartBuffer* block = MakeCopySize(bytes / sizeof(double));
  if (APreserve) {
    const std::uint32_t n = std::min(old->GetSize(), block->GetSize());
    if (n > 0)
      ippsCopy_8u(static_cast<const Ipp8u*>(old->GetData()), static_cast<Ipp8u*>(block->GetData()),
                  static_cast<int>(n));
  }
  block->AddReff(FOwnsData);
  SetDataContainer(block);
  old->RemoveReff(FOwnsData);
  FByteSize = bytes;
  FCols = ACols;
  FRows = ARows;
  PopulateCahces();
  return true;
}

void TNXRealMatrixBuffer::AssignMatrix(const TArray& ASource) {
  TRowReader rows(ASource);
  AssignData(ASource.Get());
  if (rows.Matrix() == this) return;  // itself (perhaps behind matrix objects): the rows are there
  const std::int32_t count = rows.Count(), cols = ASource->GetMaxSize();
  Resize(count, cols, false);
  // Every element is written (shorter rows are padded with zeros), so a
  // shared block is left without copying its contents.
  if (GetSize() > 0) CopyRows(rows, Write(), FRows, FCols);
}

// ---------------------------------------------------------------- TNXRealBufferList

namespace {
TIntfPtr<INXRealBuffer> SharingCopy(const TIntfPtr<INXRealBuffer>& ABuffer) {
  if (!ABuffer) throw EArgumentException("A buffer is required, not nil");
  return TIntfPtr<INXRealBuffer>(new TNXRealBuffer(ABuffer));
}
}  // namespace

TNXRealBufferList::TNXRealBufferList(const TArray& ASource) { Assign(ASource); }

TNXRealBufferList::TNXRealBufferList(std::span<const TBuffer> ABuffers) {
  FRows.reserve(ABuffers.size());
  for (const TBuffer& buffer : ABuffers) FRows.push_back(SharingCopy(buffer));
}

TIntfPtr<INXData> TNXRealBufferList::GetDataCopy() {
  return TIntfPtr<INXData>(static_cast<INXData*>(new TNXRealBufferList(ArrayOf(this))));
}

const TIntfPtr<INXRealBuffer>& TNXRealBufferList::Row(std::int32_t AIndex) const {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FRows.size())
    throw EListError(Format("List index out of bounds (%d)", AIndex));
  return FRows[static_cast<std::size_t>(AIndex)];
}

void TNXRealBufferList::Assign(const TArray& ASource) {
  if (!ASource) throw EArgumentException("A buffer array is required, not nil");
  // Built aside and swapped in: assigning the list to itself keeps its rows,
  // and a failure leaves the list as it was.
  std::vector<TBuffer> rows;
  const std::int32_t count = ASource->GetCount();
  rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (std::int32_t r = 0; r < count; ++r) rows.push_back(SharingCopy(ASource->GetItem(r)));
  AssignData(ASource.Get());
  FRows.swap(rows);
}

bool TNXRealBufferList::IsEqualArray(const TArray& AOther) const { return ArraysEqual(ArrayOf(this), AOther); }

std::int32_t TNXRealBufferList::GetMaxSize() const {
  std::int32_t result = 0;
  for (const TBuffer& row : FRows) result = std::max(result, row->GetSize());
  return result;
}

void TNXRealBufferList::SetItem(std::int32_t AIndex, const TBuffer& ABuffer) {
  Row(AIndex);
  if (!ABuffer) throw EArgumentException("A buffer is required, not nil");
  FRows[static_cast<std::size_t>(AIndex)] = ABuffer;
}

void TNXRealBufferList::Append(const TBuffer& ABuffer) {
  if (!ABuffer) throw EArgumentException("A buffer is required, not nil");
  FRows.push_back(ABuffer);
}

void TNXRealBufferList::Delete(std::int32_t AIndex) {
  Row(AIndex);
  FRows.erase(FRows.begin() + AIndex);
}

template <class TOp>
void TNXRealBufferList::RowOperation(const TArray& AOther, TOp AOp) {
  if (!AOther) throw EArgumentException("A buffer array is required, not nil");
  const std::int32_t rows = std::min(GetCount(), AOther->GetCount());
  for (std::int32_t r = 0; r < rows; ++r) AOp(FRows[static_cast<std::size_t>(r)], AOther->GetItem(r));
}

void TNXRealBufferList::Add(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Add(other); });
}
void TNXRealBufferList::Subtract(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Subtract(other); });
}
void TNXRealBufferList::Multiply(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Multiply(other); });
}
void TNXRealBufferList::Divide(const TArray& AOther) {
  RowOperation(AOther, [](const TBuffer& row, const TBuffer& other) { row->Divide(other); });
}

void TNXRealBufferList::SetValue(double AValue) {
  for (const TBuffer& row : FRows) row->SetValue(AValue);
}
void TNXRealBufferList::AddValue(double AValue) {
  for (const TBuffer& row : FRows) row->AddValue(AValue);
}
void TNXRealBufferList::SubtractValue(double AValue) {
  for (const TBuffer& row : FRows) row->SubtractValue(AValue);
}
void TNXRealBufferList::MultiplyValue(double AValue) {
  for (const TBuffer& row : FRows) row->MultiplyValue(AValue);
}
void TNXRealBufferList::DivideValue(double AValue) {
  for (const TBuffer& row : FRows) row->DivideValue(AValue);
}
void TNXRealBufferList::Zero() {
  for (const TBuffer& row : FRows) row->Zero();
}

bool TNXRealBufferList::Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) {
  // Checked before anything changes. Rows are separate blocks, so only one
  // row's byte count has to fit in 32 bits.
  if (ACols < 0) RaiseColumnIndex(ACols);
  if (ARows < 0) RaiseRowIndex(ARows);
  if (static_cast<std::uint64_t>(ACols) * sizeof(double) > 0xFFFFFFFFu) throw EIntOverflow();
  const auto count = static_cast<std::size_t>(ARows);
  bool changed = false;
  if (FRows.size() > count) {
    FRows.resize(count);
    changed = true;
  }
  for (const TBuffer& row : FRows)
    if (row->Resize(static_cast<std::uint32_t>(ACols), APreserve)) changed = true;
  if (FRows.size() < count) {
    FRows.reserve(count);
    while (FRows.size() < count) FRows.push_back(TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ACols)));
    changed = true;
  }
  return changed;
}

// ---------------------------------------------------------------- TNXRealMatrix

namespace {
const TIntfPtr<INXRealBufferArray>& NotNilArray(const TIntfPtr<INXRealBufferArray>& AArray) {
  if (!AArray) throw EArgumentException("A buffer array is required, not nil");
  return AArray;
}
TNXRealMatrix* NotNilMatrix(TNXRealMatrix* AMatrix) {
  if (!AMatrix) throw EArgumentException("A matrix is required, not nil");
  return AMatrix;
}
}  // namespace

TNXRealMatrix::TNXRealMatrix(const TArray& AArray) : FArray(NotNilArray(AArray)) {}

TNXRealMatrix::TNXRealMatrix(std::int32_t ARows, std::int32_t ACols)
    : FArray(TNXRealMatrixBuffer::MakeSize(ARows, ACols)) {}

TNXRealMatrix::TNXRealMatrix(const double* AData, std::int32_t ARows, std::int32_t ACols)
    : FArray(TNXRealMatrixBuffer::MakeData(AData, ARows, ACols)) {}

TNXRealMatrix::TNXRealMatrix(TNXRealMatrix* ASource) : FArray(NotNilMatrix(ASource)->FArray) { AssignData(ASource); }

TIntfPtr<INXData> TNXRealMatrix::GetDataCopy() {
  return TIntfPtr<INXData>(static_cast<INXData*>(new TNXRealMatrix(this)));
}

bool TNXRealMatrix::IsEqualMatrix(TNXRealMatrix* AOther) { return AOther && ArraysEqual(FArray, AOther->FArray); }

// The shape is believed only as far as the stored "Data" backs it, as the
// element count of a resizable buffer is.
void TNXRealMatrixBuffer::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.WriteInt32("Rows", FRows);
  AWriter.WriteInt32("Columns", FCols);
}

void TNXRealMatrixBuffer::InternalSerializationRead(IReader& AReader) {
  std::int32_t rows = 0, cols = 0;
  const bool hasRows = AReader.ReadInt32("Rows", rows), hasCols = AReader.ReadInt32("Columns", cols);
  if (!hasRows && !hasCols) return;
  if (rows < 0 || cols < 0) throw ESerializationError(Format("Negative matrix shape %d x %d", rows, cols));
  std::uint64_t stored = 0;
  AReader.BytesLength("Data", stored);
  if (static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols) * sizeof(double) > stored)
    throw ESerializationError(Format("Matrix %d x %d is larger than the stored data (%llu bytes)", rows, cols,
                                     static_cast<unsigned long long>(stored)));
  Resize(rows, cols, false);
}

void TNXRealBufferList::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.BeginList("Rows");
  for (const TBuffer& row : FRows) {
    TNXData* obj = row->GetInstance();
    AWriter.BeginItem(TClassManagement::ClassNameOf(*obj));
    obj->SerializationWrite(AWriter);
    AWriter.EndItem();
  }
  AWriter.EndList();
}

// Rows are read into a list of our own and swapped in at the end: a failure
// halfway leaves the list as it was and releases the rows read so far.
void TNXRealBufferList::InternalSerializationRead(IReader& AReader) {
  std::uint32_t count = 0;
  if (!AReader.BeginList("Rows", count)) return;
  std::vector<TBuffer> rows;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    AReader.BeginItem(name);
    TBuffer row = Supports<INXRealBuffer>(TClassManagement::CreateObject(name).Get());
    if (!row) throw ESerializationError(Format("A row of class %s is not a real buffer", name.c_str()));
    row->GetInstance()->SerializationRead(AReader);
    rows.push_back(std::move(row));
    AReader.EndItem();
  }
  AReader.EndList();
  FRows.swap(rows);
}

}  // namespace nx
