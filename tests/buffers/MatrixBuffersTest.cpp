// Two-dimensional real data: the matrix buffer (one row-major block with copy
// on write), the buffer list (shared row objects), the matrix object that
// forwards to an array, and the real buffer made from an array.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;
using TMatrix = TIntfPtr<INXRealMatrixBuffer>;
using TArray = TIntfPtr<INXRealBufferArray>;
using TList = TIntfPtr<INXRealBufferDynamicArray>;
using TRows = std::vector<std::vector<double>>;

std::vector<double> Flat(const TMatrix& m) { return std::vector<double>(m->Read(), m->Read() + m->GetRows() * m->GetCols()); }
// The rows as the array hands them out.
TRows RowsOf(const TArray& a) {
  TRows rows;
  for (std::int32_t r = 0; r < a->GetCount(); ++r) rows.push_back(Values(a->GetItem(r)));
  return rows;
}
TMatrix Matrix(std::int32_t rows, std::int32_t cols, const std::vector<double>& values) {
  return TNXRealMatrixBuffer::MakeData(values.data(), rows, cols);
}
TList List(const TRows& rows) {
  TList list = TNXRealBufferList::Make();
  for (const auto& row : rows) list->Append(TNXRealBuffer::MakeArrayList(row));
  return list;
}
std::tuple<std::int32_t, std::int32_t> Shape(const TMatrix& m) { return {m->GetRows(), m->GetCols()}; }

TEST(MatrixBufferTest, ConstructionAndSizes) {
  TMatrix m = TNXRealMatrixBuffer::MakeValue(1.5, 2, 3);
  EXPECT_EQ(Flat(m), std::vector<double>(6, 1.5));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(m->Read()) % 32, 0u);
  // Row-major: element (r, c) is element r x columns + c.
  const double data[6] = {1, 2, 3, 4, 5, 6};
  TMatrix d = TNXRealMatrixBuffer::MakeData(data, 3, 2);
  EXPECT_EQ(std::tuple(d->GetItem(2, 1), d->GetItem(1, 0)), std::tuple(6.0, 3.0));
  EXPECT_EQ(Supports<INXDataBuffer>(TNXRealMatrixBuffer::MakeSize(4, 5))->GetSize(), 20);

  EXPECT_EQ(RangeMessage([] { TNXRealMatrixBuffer::MakeSize(2, -1); }), "Column out of range = 4294967295");
  EXPECT_EQ(RangeMessage([] { TNXRealMatrixBuffer::MakeSize(-3, 2); }), "Row out of range = 4294967293");
  // 2^29 elements are 2^32 bytes; large factors must not wrap around.
  EXPECT_THROW(TNXRealMatrixBuffer::MakeSize(1 << 15, 1 << 14), EIntOverflow);
  EXPECT_THROW(TNXRealMatrixBuffer::MakeSize(0x7FFFFFFF, 0x7FFFFFFF), EIntOverflow);
}

TEST(MatrixBufferTest, ElementAccessChecksTheColumnFirst) {
  TMatrix m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  struct TCase {
    std::int32_t Row, Col;
    const char* Message;
  };
  for (const TCase& c : {TCase{1, 3, "Column out of range = 3"}, TCase{2, 0, "Row out of range = 2"},
                         TCase{2, 3, "Column out of range = 3"}, TCase{-1, 0, "Row out of range = 4294967295"},
                         TCase{0, -1, "Column out of range = 4294967295"}}) {
    SCOPED_TRACE(c.Message);
    EXPECT_EQ(RangeMessage([&] { m->GetItem(c.Row, c.Col); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { m->GetCell(c.Row, c.Col); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { m->SetItem(c.Row, c.Col, 0.0); }), c.Message);
  }
  EXPECT_EQ(RangeMessage([&] { m->GetRow(2); }), "Row out of range = 2");
  EXPECT_EQ(RangeMessage([&] { m->SetRow(-1, TNXRealBuffer::MakeSize(3)); }), "Row out of range = 4294967295");

  // Writes copy a shared block first; a bad index copies nothing.
  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  const int stores = Stores();
  EXPECT_THROW(m->SetItem(0, 3, 9.0), ERangeError);
  EXPECT_EQ(Stores(), stores);
  m->SetCell(1, 2, -6.0);
  EXPECT_EQ(Stores(), stores + 1);
  EXPECT_EQ(Flat(m), (std::vector<double>{1, 2, 3, 4, 5, -6}));
  EXPECT_EQ(other->GetItem(1, 2), 6.0);
}

TEST(MatrixBufferTest, SharingConstructorsAndUniversalCopyOfOtherArrays) {
  TMatrix m = Matrix(2, 2, {1, 2, 3, 4});
  m->AddCustom(TNXRealBuffer::MakeSize(1));
  auto* obj = dynamic_cast<TNXRealMatrixBuffer*>(m->GetInstance());
  const int stores = Stores();
  const TMatrix shares[] = {TNXRealMatrixBuffer::MakeEx(obj), TNXRealMatrixBuffer::CreateCopy(m),
                            TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(m)),
                            Supports<INXRealMatrixBuffer>(m->GetDataCopy())};
  EXPECT_EQ(Stores(), stores);
  for (const TMatrix& s : shares) {
    ASSERT_TRUE(s);
    EXPECT_EQ(std::tuple(s->Read(), Shape(s), s->GetCustomCount()), std::tuple(m->Read(), Shape(m), 1));
  }

  // Another array is copied into a GetCount x GetMaxSize matrix, short rows padded with zeros.
  TList list = List({{1, 2}, {}, {3, 4, 5}});
  list->AddCustom(TNXRealBuffer::MakeSize(1));
  TMatrix u = TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(list));
  EXPECT_EQ(std::tuple(Shape(u), u->GetCustomCount()), std::tuple(std::tuple(3, 3), 1));
  EXPECT_EQ(Flat(u), (std::vector<double>{1, 2, 0, 0, 0, 0, 3, 4, 5}));
  // A matrix object is an array like any other: copied, not shared.
  TArray wrapper = TNXRealMatrix::MakeCopy(m);
  TMatrix fromWrapper = TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(wrapper));
  EXPECT_NE(fromWrapper->Read(), m->Read());
  EXPECT_EQ(Flat(fromWrapper), Flat(m));

  EXPECT_THROW(TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(2))), EArgumentException);
  EXPECT_THROW(TNXRealMatrixBuffer::MakeUniversal(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealMatrixBuffer::MakeCopy(nullptr), EArgumentException);
}

TEST(MatrixBufferTest, RowsAreCopiesInBothDirections) {
  TMatrix m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  TBuffer row = m->GetRow(1);
  EXPECT_EQ(Values(row), (std::vector<double>{4, 5, 6}));
  row->SetItem(0, 40.0);
  EXPECT_EQ(m->GetItem(1, 0), 4.0);
  EXPECT_EQ(Values(m->GetItem(0)), (std::vector<double>{1, 2, 3}));

  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  m->SetRow(0, TNXRealBuffer::MakeArray({7, 8}));  // shorter: the rest of the row stays
  m->SetItem(1, TNXRealBuffer::MakeArray({9, 10, 11, 12}));  // longer: cut to the columns
  EXPECT_EQ(Flat(m), (std::vector<double>{7, 8, 3, 9, 10, 11}));
  EXPECT_EQ(Flat(other), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_THROW(m->SetRow(0, nullptr), EArgumentException);
}

TEST(MatrixBufferTest, ArithmeticWithAnotherArrayRowByRow) {
  TMatrix m = Matrix(3, 2, {1, 2, 3, 4, 5, 6});
  TMatrix keep = TNXRealMatrixBuffer::MakeCopy(m);
  m->Add(Matrix(2, 2, {10, 20, 30, 40}));
  EXPECT_EQ(Flat(m), (std::vector<double>{11, 22, 33, 44, 5, 6}));
  EXPECT_EQ(Flat(keep), (std::vector<double>{1, 2, 3, 4, 5, 6}));

  // Ragged rows: each row over the shorter of the two; rows Self lacks are ignored.
  m->Subtract(List({{1}, {1, 1, 1}, {}, {7, 7}}));
  EXPECT_EQ(Flat(m), (std::vector<double>{10, 22, 32, 43, 5, 6}));
  m->Multiply(TNXRealMatrix::MakeAsArrayData(std::vector<double>{2, 2, 2, 2, 2, 2}.data(), 3, 2));
  EXPECT_EQ(Flat(m), (std::vector<double>{20, 44, 64, 86, 10, 12}));

  // With itself: a shared block is copied first and the other holder keeps its values.
  TMatrix twice = TNXRealMatrixBuffer::MakeCopy(keep);
  twice->Add(twice);
  EXPECT_EQ(Flat(twice), (std::vector<double>{2, 4, 6, 8, 10, 12}));
  EXPECT_EQ(Flat(keep), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_THROW(m->Add(nullptr), EArgumentException);
}

TEST(MatrixBufferTest, DivideRepairsDivisionByZeroPerRow) {
  TMatrix m = Matrix(2, 3, {2, -2, 0, 6, 1, -1});
  m->Divide(Matrix(2, 3, {0, 0, 0, 3, 0, 0}));
  EXPECT_EQ(Flat(m), (std::vector<double>{1e15, -1e14, -1e14, 2, 1e15, -1e14}));

  // Divided by itself: the zero divisors are those from before the division.
  TMatrix self = Matrix(1, 3, {0, 4, -2});
  self->Divide(self);
  EXPECT_EQ(Flat(self), (std::vector<double>{-1e14, 1, 1}));

  TList list = List({{3, 0}, {8}});
  TMatrix l = Matrix(2, 2, {6, 5, 8, 9});
  l->Divide(list);
  EXPECT_EQ(Flat(l), (std::vector<double>{2, 1e15, 1, 9}));
}

TEST(MatrixBufferTest, ValueOperations) {
  TMatrix m = Matrix(2, 2, {1, 2, 3, 4});
  m->AddValue(1);
  m->MultiplyValue(2);
  m->SubtractValue(4);
  m->DivideValue(2);
  EXPECT_EQ(Flat(m), (std::vector<double>{0, 1, 2, 3}));

  TMatrix shared = TNXRealMatrixBuffer::MakeCopy(m);
  const int stores = Stores();
  m->DivideValue(0.0);
  m->DivideValue(1.0);
  EXPECT_EQ(Stores(), stores) << "dividing by 0 or 1 must not copy a shared block";
  EXPECT_EQ(m->Read(), shared->Read());

  m->SetValue(7);
  EXPECT_EQ(Flat(m), std::vector<double>(4, 7.0));
  EXPECT_EQ(Flat(shared), (std::vector<double>{0, 1, 2, 3}));
  m->Zero();
  EXPECT_EQ(Flat(m), std::vector<double>(4, 0.0));
}

TEST(MatrixBufferTest, ResizeCases) {
  struct TCase {
    const char* Name;
    std::int32_t Rows, Cols;
    bool Preserve, Changed, SameBlock;
    std::int32_t Size;
  };
  const TCase cases[] = {
      {"to 0 rows keeps the columns", 0, 5, true, true, true, 0},
      {"to 0 columns", 4, 0, false, true, true, 0},
      {"same shape", 2, 3, false, false, true, 6},
      {"3 x 2, preserving", 3, 2, true, true, true, 6},
      {"fewer elements, preserving", 1, 2, true, true, true, 2},
      {"fewer elements, not preserving", 1, 2, false, true, false, 2},
      {"more elements", 3, 3, true, true, false, 9},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMatrix m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
    TNXSmartBuffer* block = BlockOf(m);
    EXPECT_EQ(m->Resize(c.Rows, c.Cols, c.Preserve), c.Changed);
    EXPECT_EQ(std::tuple(m->GetRows(), m->GetCols(), m->GetCount(), Supports<INXDataBuffer>(m)->GetSize()),
              std::tuple(c.Rows, c.Cols, c.Rows, c.Size));
    EXPECT_EQ(BlockOf(m) == block, c.SameBlock);
    // The kept values stay in flat order, whatever the new column count.
    for (std::int32_t i = 0; c.Preserve && i < std::min(c.Size, 6); ++i) EXPECT_EQ(m->Read()[i], i + 1.0);
  }

  // Growing back within the block that a shrink left: kept for a sole owner,
  // reallocated (with a copy) for a shared block.
  TMatrix m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  const double* p = m->Read();
  EXPECT_TRUE(m->Resize(1, 3, true));
  EXPECT_TRUE(m->Resize(2, 2, true));
  EXPECT_EQ(m->Read(), p);
  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  EXPECT_TRUE(m->Resize(1, 5, true));
  EXPECT_NE(m->Read(), p);
  EXPECT_EQ(Flat(m), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Flat(other), (std::vector<double>{1, 2, 3, 4}));

  EXPECT_THROW(m->Resize(-1, 2, false), ERangeError);
  EXPECT_THROW(m->Resize(1 << 15, 1 << 14, false), EIntOverflow);
  EXPECT_EQ(Shape(m), std::tuple(1, 5));
}

TEST(MatrixBufferTest, AssignAndEquality) {
  TMatrix m = TNXRealMatrixBuffer::MakeSize(1, 1);
  TList list = List({{1, 2}, {3, 4, 5}});
  list->AddCustom(TNXRealBuffer::MakeSize(1));
  m->Assign(list);
  EXPECT_EQ(std::tuple(Shape(m), m->GetCustomCount()), std::tuple(std::tuple(2, 3), 1));
  EXPECT_EQ(Flat(m), (std::vector<double>{1, 2, 0, 3, 4, 5}));
  EXPECT_FALSE(m->IsEqualArray(list)) << "the padded row is longer than the list's";
  m->Assign(m);
  EXPECT_EQ(Flat(m), (std::vector<double>{1, 2, 0, 3, 4, 5}));

  TMatrix n = Matrix(2, 3, {1, 2, 0, 3, 4, 5});
  EXPECT_TRUE(m->IsEqualArray(n));
  EXPECT_TRUE(m->IsEqualArray(List({{1, 2, 0}, {3, 4, 5}})));
  EXPECT_TRUE(List({{1, 2, 0}, {3, 4, 5}})->IsEqualArray(m));
  EXPECT_FALSE(m->IsEqualArray(Matrix(3, 2, {1, 2, 0, 3, 4, 5})));
  EXPECT_FALSE(m->IsEqualArray(Matrix(2, 3, {1, 2, 0, 3, 4, 6})));
  EXPECT_FALSE(m->IsEqualArray(nullptr));

  // The buffer comparison wants a matrix buffer and then compares bytes.
  auto bufferOf = [](const TMatrix& x) { return Supports<INXDataBuffer>(x); };
  EXPECT_TRUE(bufferOf(m)->IsEqual(bufferOf(n)));
  EXPECT_FALSE(bufferOf(m)->IsEqual(TNXRealBuffer::MakeArray({1, 2, 0, 3, 4, 5})));

  // Assigning a buffer shares its block: a matrix keeps its shape, a real buffer is one row.
  bufferOf(m)->Assign(bufferOf(Matrix(3, 1, {7, 8, 9})));
  EXPECT_EQ(Shape(m), std::tuple(3, 1));
  TBuffer real = TNXRealBuffer::MakeArray({1, 2});
  bufferOf(m)->Assign(real);
  EXPECT_EQ(std::tuple(m->Read(), Shape(m)), std::tuple(real->Read(), std::tuple(1, 2)));
  TIntfPtr<INXLinearDataBuffer> odd(new TNXLinearMemoryBuffer(5u, 1u));
  EXPECT_THROW(bufferOf(m)->Assign(odd), EArgumentException);
  EXPECT_EQ(m->Read(), real->Read());
}

TEST(MatrixBufferTest, EnumeratorAndAccessHandle) {
  TMatrix m = Matrix(2, 2, {1, 2, 3, 4});
  TNXRealBufferArrayEnumerator e = m->GetEnumerator();
  e.Reset();
  TRows rows;
  while (e.MoveNext()) rows.push_back(Values(e.GetCurrent()));
  EXPECT_EQ(rows, (TRows{{1, 2}, {3, 4}}));
  TNXRealBufferArrayEnumerator empty = TNXRealMatrixBuffer::Make()->GetEnumerator();
  EXPECT_FALSE(empty.MoveNext());

  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  TIntfPtr<INXRealMatrixBufferAccess> read = m->Data(TBufferAccessMode::Read);
  EXPECT_EQ(std::tuple(read->GetRows(), read->GetCols(), read->GetSize(), read->Data()),
            std::tuple(2, 2, 4, other->Read()));
  TIntfPtr<INXRealMatrixBufferAccess> modify = m->Data({TBufferAccessMode::Read, TBufferAccessMode::Write});
  EXPECT_NE(modify->Data(), other->Read());
  EXPECT_EQ(Flat(m), Flat(other));
  EXPECT_TRUE(Supports<INXRealBufferAccess>(modify));
}

TEST(RealBufferListTest, RowsAreSharedObjects) {
  TBuffer a = TNXRealBuffer::MakeArray({1, 2, 3});
  TList list = TNXRealBufferList::Make();
  list->Append(a);
  list->Append(TNXRealBuffer::MakeArray({4}));
  EXPECT_TRUE(SameObject(list->GetItem(0), a));
  EXPECT_EQ(std::tuple(list->GetCount(), list->GetMaxSize(), list->GetColCount(1)), std::tuple(2, 3, 1));
  EXPECT_EQ(TNXRealBufferList::Make()->GetMaxSize(), 0);

  list->SetCell(0, 1, 20.0);
  EXPECT_EQ(a->GetItem(1), 20.0);
  list->GetItem(1)->SetItem(0, 40.0);
  EXPECT_EQ(list->GetCell(1, 0), 40.0);
  EXPECT_THROW(list->GetCell(1, 1), ERangeError);
  EXPECT_THROW(list->GetItem(2), EListError);
  EXPECT_THROW(list->GetCell(-1, 0), EListError);
  EXPECT_THROW(list->Append(nullptr), EArgumentException);

  list->SetItem(1, TNXRealBuffer::MakeArray({5, 6}));
  EXPECT_EQ(RowsOf(list), (TRows{{1, 20, 3}, {5, 6}}));
  auto* obj = dynamic_cast<TNXRealBufferList*>(list->GetInstance());
  obj->Delete(0);
  EXPECT_EQ(RowsOf(list), (TRows{{5, 6}}));
  EXPECT_THROW(obj->Delete(1), EListError);
}

TEST(RealBufferListTest, CopiesShareTheRowBlocks) {
  TList source = List({{1, 2}, {3}});
  source->AddCustom(TNXRealBuffer::MakeSize(1));
  const int stores = Stores();
  const TList copies[] = {TNXRealBufferList::MakeCopy(source), TNXRealBufferList::CreateData({source->GetItem(0), source->GetItem(1)}),
                          Supports<INXRealBufferDynamicArray>(source->GetDataCopy())};
  EXPECT_EQ(Stores(), stores);
  for (const TList& c : copies) {
    ASSERT_TRUE(c);
    EXPECT_FALSE(SameObject(c->GetItem(0), source->GetItem(0)));
    EXPECT_EQ(c->GetItem(0)->Read(), source->GetItem(0)->Read());
    EXPECT_TRUE(c->IsEqualArray(source));
  }
  EXPECT_EQ(copies[0]->GetCustomCount(), 1);
  EXPECT_EQ(copies[1]->GetCustomCount(), 0);

  // Writing to a copy's row copies that row's block only.
  copies[0]->SetCell(0, 0, -1.0);
  EXPECT_EQ(source->GetCell(0, 0), 1.0);
  EXPECT_EQ(Stores(), stores + 1);

  // Assign replaces the rows; assigning the list to itself keeps them.
  TList target = List({{9}, {9}, {9}});
  target->Assign(TIntfPtr<INXRealBufferArray>(Matrix(1, 2, {7, 8})));
  EXPECT_EQ(RowsOf(target), (TRows{{7, 8}}));
  target->Assign(target);
  EXPECT_EQ(RowsOf(target), (TRows{{7, 8}}));
  EXPECT_THROW(TNXRealBufferList::MakeData({TBuffer()}), EArgumentException);
}

TEST(RealBufferListTest, OperationsAndResize) {
  TList list = List({{1, 2, 3}, {4}, {5, 6}});
  list->Add(List({{10, 10}, {10, 10}}));
  EXPECT_EQ(RowsOf(list), (TRows{{11, 12, 3}, {14}, {5, 6}}));
  list->Divide(Matrix(1, 3, {0, 2, 1}));
  EXPECT_EQ(RowsOf(list), (TRows{{1e15, 6, 3}, {14}, {5, 6}}));
  list->MultiplyValue(2);
  list->SubtractValue(1);
  EXPECT_EQ(RowsOf(list), (TRows{{2e15 - 1, 11, 5}, {27}, {9, 11}}));
  list->Zero();
  EXPECT_EQ(RowsOf(list), (TRows{{0, 0, 0}, {0}, {0, 0}}));

  TList r = List({{1, 2}, {3}, {4}});
  EXPECT_TRUE(r->Resize(1, 4, true));
  EXPECT_EQ(std::tuple(r->GetCount(), r->GetColCount(0), r->GetCell(0, 0), r->GetCell(0, 1)), std::tuple(1, 4, 1.0, 2.0));
  EXPECT_TRUE(r->Resize(3, 4, true));
  EXPECT_EQ(std::tuple(r->GetCount(), r->GetColCount(2)), std::tuple(3, 4));
  EXPECT_FALSE(r->Resize(3, 4, true));
  EXPECT_THROW(r->Resize(2, -1, true), ERangeError);
  EXPECT_THROW(r->Resize(2, 0x20000000, true), EIntOverflow);
  EXPECT_EQ(r->GetCount(), 3);
}

TEST(RealMatrixTest, ForwardsToTheHeldArray) {
  TArray m = TNXRealMatrix::MakeAsArraySize(2, 2);
  m->SetValue(1.0);
  m->SetCell(1, 1, 5.0);
  EXPECT_EQ(RowsOf(m), (TRows{{1, 1}, {1, 5}}));
  EXPECT_EQ(m->GetMaxSize(), 2);
  EXPECT_TRUE(m->Resize(3, 2, true));
  EXPECT_EQ(m->GetCount(), 3);
  EXPECT_THROW(m->GetCell(0, 2), ERangeError);

  auto* obj = dynamic_cast<TNXRealMatrix*>(m->GetInstance());
  ASSERT_NE(obj, nullptr);
  EXPECT_TRUE(Supports<INXRealMatrixBuffer>(obj->GetArray()));
  // Copies hold the same array object: a write through one is seen through the other.
  TArray copy = Supports<INXRealBufferArray>(m->GetDataCopy());
  TArray ex = TNXRealMatrix::CreateEx(obj);
  copy->SetCell(0, 0, -3.0);
  EXPECT_EQ(std::tuple(m->GetCell(0, 0), ex->GetCell(0, 0)), std::tuple(-3.0, -3.0));
  EXPECT_TRUE(obj->IsEqualMatrix(dynamic_cast<TNXRealMatrix*>(ex->GetInstance())));

  const double data[4] = {1, 2, 3, 4};
  TArray d = TNXRealMatrix::CreateAsArrayData(data, 2, 2);
  auto* dobj = dynamic_cast<TNXRealMatrix*>(d->GetInstance());
  EXPECT_FALSE(obj->IsEqualMatrix(dobj));
  EXPECT_FALSE(obj->IsEqualMatrix(nullptr));
  TArray overList = TNXRealMatrix::MakeCopy(List({{1, 2}, {3, 4}}));
  EXPECT_TRUE(dobj->IsEqualMatrix(dynamic_cast<TNXRealMatrix*>(overList->GetInstance())));
  EXPECT_TRUE(d->IsEqualArray(overList));
  EXPECT_THROW(TNXRealMatrix::MakeCopy(nullptr), EArgumentException);

  // Assigning a matrix object to itself changes nothing.
  d->Assign(d);
  EXPECT_EQ(RowsOf(d), (TRows{{1, 2}, {3, 4}}));
}

TEST(RealBufferFromArrayTest, RowsOneAfterTheOther) {
  TBuffer b = TNXRealBuffer::MakeBufferArray(List({{1}, {2, 3}}));
  EXPECT_EQ(Values(b), (std::vector<double>{1, 0, 2, 3}));
  EXPECT_EQ(Values(TNXRealBuffer::CreateBufferArray(Matrix(2, 2, {4, 5, 6, 7}))), (std::vector<double>{4, 5, 6, 7}));
  EXPECT_EQ(TNXRealBuffer::MakeBufferArray(TNXRealBufferList::Make())->GetSize(), 0);
  EXPECT_THROW(TNXRealBuffer::MakeBufferArray(nullptr), EArgumentException);
}

}  // namespace
}  // namespace nx
