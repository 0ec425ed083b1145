// The matrix buffer (one row-major block), the buffer list (shared rows), the matrix object.
#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;
using TMatrix = TIntfPtr<INXRealMatrixBuffer>;
using TArray = TIntfPtr<INXRealBufferArray>;
using TList = TIntfPtr<INXRealBufferDynamicArray>;
using TVec = std::vector<double>;
using TRows = std::vector<TVec>;

TVec Flat(const TMatrix& m) { return TVec(m->Read(), m->Read() + m->GetRows() * m->GetCols()); }
TRows RowsOf(const TArray& a) {
  TRows rows(a->GetCount());
  for (std::int32_t r = 0; r < a->GetCount(); ++r) rows[r] = Values(a->GetItem(r));
  return rows;
}
TMatrix Matrix(std::int32_t rows, std::int32_t cols, const TVec& v) { return TNXRealMatrixBuffer::MakeData(v.data(), rows, cols); }
TList List(const TRows& rows) {
  TList list = TNXRealBufferList::Make();
  for (const auto& row : rows) list->Append(TNXRealBuffer::MakeArrayList(row));
  return list;
}
std::tuple<std::int32_t, std::int32_t> Shape(const TMatrix& m) { return {m->GetRows(), m->GetCols()}; }

TEST(MatrixBufferTest, ConstructionAndElementAccess) {
  TMatrix m = TNXRealMatrixBuffer::MakeValue(1.5, 2, 3);
  EXPECT_EQ(std::tuple(Flat(m), reinterpret_cast<std::uintptr_t>(m->Read()) % 32), std::tuple(TVec(6, 1.5), 0u));
  EXPECT_EQ(Supports<INXDataBuffer>(TNXRealMatrixBuffer::MakeSize(4, 5))->GetSize(), 20);
  EXPECT_EQ(RangeMessage([] { TNXRealMatrixBuffer::MakeSize(2, -1); }), "Column out of range = 4294967295");
  EXPECT_EQ(RangeMessage([] { TNXRealMatrixBuffer::MakeSize(-3, 2); }), "Row out of range = 4294967293");
  // 2^29 elements are 2^32 bytes; large factors must not wrap around.
  EXPECT_THROW(TNXRealMatrixBuffer::MakeSize(1 << 15, 1 << 14), EIntOverflow);
  EXPECT_THROW(TNXRealMatrixBuffer::MakeSize(0x7FFFFFFF, 0x7FFFFFFF), EIntOverflow);

  // Row-major: element (r, c) is element r x columns + c; the column is checked first.
  TMatrix d = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(std::tuple(d->GetItem(1, 2), d->GetCell(1, 0)), std::tuple(6.0, 4.0));
  for (const auto& [row, col, message] : {std::tuple{2, 3, "Column out of range = 3"}, std::tuple{2, 0, "Row out of range = 2"},
                                          std::tuple{-1, 0, "Row out of range = 4294967295"}}) {
    EXPECT_EQ(RangeMessage([&] { d->GetItem(row, col); }), message);
    EXPECT_EQ(RangeMessage([&] { d->GetCell(row, col); }), message);
    EXPECT_EQ(RangeMessage([&] { d->SetItem(row, col, 0.0); }), message);
  }
  EXPECT_EQ(RangeMessage([&] { d->GetRow(2); }), "Row out of range = 2");
  EXPECT_EQ(RangeMessage([&] { d->SetRow(-1, TNXRealBuffer::MakeSize(3)); }), "Row out of range = 4294967295");
  // Writes copy a shared block first; a bad index copies nothing.
  TMatrix other = TNXRealMatrixBuffer::MakeCopy(d);
  const int stores = Stores();
  EXPECT_THROW(d->SetItem(0, 3, 9.0), ERangeError);
  EXPECT_EQ(Stores(), stores);
  d->SetCell(1, 2, -6.0);
  EXPECT_EQ(std::tuple(Flat(d), other->GetItem(1, 2)), std::tuple(TVec{1, 2, 3, 4, 5, -6}, 6.0));
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
  for (const TMatrix& s : shares)
    EXPECT_EQ(std::tuple(s->Read(), Shape(s), s->GetCustomCount()), std::tuple(m->Read(), Shape(m), 1));
  // Another array is copied into a GetCount x GetMaxSize matrix, short rows padded with zeros.
  TList list = List({{1, 2}, {}, {3, 4, 5}});
  list->AddCustom(TNXRealBuffer::MakeSize(1));
  TMatrix u = TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(list));
  EXPECT_EQ(std::tuple(Shape(u), u->GetCustomCount(), Flat(u)),
            std::tuple(std::tuple(3, 3), 1, TVec{1, 2, 0, 0, 0, 0, 3, 4, 5}));
  // A matrix object is an array like any other: copied, not shared.
  TMatrix fromWrapper = TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(TNXRealMatrix::MakeCopy(m)));
  EXPECT_EQ(std::tuple(fromWrapper->Read() != m->Read(), Flat(fromWrapper)), std::tuple(true, Flat(m)));
  EXPECT_THROW(TNXRealMatrixBuffer::MakeUniversal(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(2))), EArgumentException);
  EXPECT_THROW(TNXRealMatrixBuffer::MakeUniversal(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealMatrixBuffer::MakeCopy(nullptr), EArgumentException);
  m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  TBuffer row = m->GetRow(1);
  row->SetItem(0, 40.0);
  EXPECT_EQ(std::tuple(Values(row), m->GetItem(1, 0), Values(m->GetItem(0))), std::tuple(TVec{40, 5, 6}, 4.0, TVec{1, 2, 3}));
  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  m->SetRow(0, TNXRealBuffer::MakeArray({7, 8}));  // shorter: the rest of the row stays
  m->SetItem(1, TNXRealBuffer::MakeArray({9, 10, 11, 12}));  // longer: cut to the columns
  EXPECT_EQ(std::tuple(Flat(m), Flat(other)), std::tuple(TVec{7, 8, 3, 9, 10, 11}, TVec{1, 2, 3, 4, 5, 6}));
  EXPECT_THROW(m->SetRow(0, nullptr), EArgumentException);
}

TEST(MatrixBufferTest, ArithmeticWithAnotherArrayRowByRow) {
  TMatrix m = Matrix(3, 2, {1, 2, 3, 4, 5, 6}), keep = TNXRealMatrixBuffer::MakeCopy(m);
  m->Add(Matrix(2, 2, {10, 20, 30, 40}));
  EXPECT_EQ(std::tuple(Flat(m), Flat(keep)), std::tuple(TVec{11, 22, 33, 44, 5, 6}, TVec{1, 2, 3, 4, 5, 6}));
  // Ragged rows: each row over the shorter of the two; rows Self lacks are ignored.
  m->Subtract(List({{1}, {1, 1, 1}, {}, {7, 7}}));
  m->Multiply(TNXRealMatrix::MakeAsArrayData(TVec{2, 2, 2, 2, 2, 2}.data(), 3, 2));
  EXPECT_EQ(Flat(m), (TVec{20, 44, 64, 86, 10, 12}));
  // With itself: a shared block is copied first and the other holder keeps its values.
  TMatrix twice = TNXRealMatrixBuffer::MakeCopy(keep);
  twice->Add(twice);
  EXPECT_EQ(std::tuple(Flat(twice), Flat(keep)), std::tuple(TVec{2, 4, 6, 8, 10, 12}, TVec{1, 2, 3, 4, 5, 6}));
  EXPECT_THROW(m->Add(nullptr), EArgumentException);
  // Divide repairs division by zero per row; divided by itself, the zero divisors are those from before.
  m = Matrix(2, 3, {2, -2, 0, 6, 1, -1});
  m->Divide(Matrix(2, 3, {0, 0, 0, 3, 0, 0}));
  EXPECT_EQ(Flat(m), (TVec{1e15, -1e14, -1e14, 2, 1e15, -1e14}));
  TMatrix self = Matrix(1, 3, {0, 4, -2});
  self->Divide(self);
  EXPECT_EQ(Flat(self), (TVec{-1e14, 1, 1}));
  TMatrix l = Matrix(2, 2, {6, 5, 8, 9});
  l->Divide(List({{3, 0}, {8}}));
  EXPECT_EQ(Flat(l), (TVec{2, 1e15, 1, 9}));
  m = Matrix(2, 2, {1, 2, 3, 4});
  m->AddValue(1);
  m->MultiplyValue(2);
  m->SubtractValue(4);
  m->DivideValue(2);
  EXPECT_EQ(Flat(m), (TVec{0, 1, 2, 3}));
  TMatrix shared = TNXRealMatrixBuffer::MakeCopy(m);
  m->DivideValue(0.0);
  m->DivideValue(1.0);
  EXPECT_EQ(m->Read(), shared->Read()) << "dividing by 0 or 1 must not copy a shared block";
  m->SetValue(7);
  EXPECT_EQ(std::tuple(Flat(m), Flat(shared)), std::tuple(TVec(4, 7.0), TVec{0, 1, 2, 3}));
  m->Zero();
  EXPECT_EQ(Flat(m), TVec(4, 0.0));
}

TEST(MatrixBufferTest, ResizeCases) {
  const std::tuple<const char*, std::int32_t, std::int32_t, bool, bool, bool, std::int32_t> cases[] = {
      // name, rows, cols, preserve, changed, same block, elements
      {"to 0 rows keeps the columns", 0, 5, true, true, true, 0},
      {"same shape", 2, 3, false, false, true, 6},
      {"3 x 2, preserving", 3, 2, true, true, true, 6},
      {"fewer elements, preserving", 1, 2, true, true, true, 2},
      {"fewer elements, not preserving", 1, 2, false, true, false, 2},
      {"more elements", 3, 3, true, true, false, 9},
  };
  for (const auto& [name, rows, cols, preserve, changed, sameBlock, size] : cases) {
    SCOPED_TRACE(name);
    TMatrix m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
    TNXSmartBuffer* block = BlockOf(m);
    EXPECT_EQ(m->Resize(rows, cols, preserve), changed);
    EXPECT_EQ(std::tuple(m->GetRows(), m->GetCols(), m->GetCount(), Supports<INXDataBuffer>(m)->GetSize(), BlockOf(m) == block),
              std::tuple(rows, cols, rows, size, sameBlock));
    // The kept values stay in flat order, whatever the new column count.
    for (std::int32_t i = 0; preserve && i < std::min(size, 6); ++i) EXPECT_EQ(m->Read()[i], i + 1.0);
  }
  // Growing back within the block a shrink left: kept for a sole owner, reallocated for a shared block.
  TMatrix m = Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  const double* p = m->Read();
  EXPECT_TRUE(m->Resize(1, 3, true));
  EXPECT_TRUE(m->Resize(2, 2, true));
  EXPECT_EQ(m->Read(), p);
  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  EXPECT_TRUE(m->Resize(1, 5, true));
  EXPECT_EQ(std::tuple(m->Read() != p, Flat(m), Flat(other)), std::tuple(true, TVec{1, 2, 3, 4, 5}, TVec{1, 2, 3, 4}));
  EXPECT_THROW(m->Resize(-1, 2, false), ERangeError);
  EXPECT_THROW(m->Resize(1 << 15, 1 << 14, false), EIntOverflow);
  EXPECT_EQ(Shape(m), std::tuple(1, 5));
}

TEST(MatrixBufferTest, AssignAndEquality) {
  TMatrix m = TNXRealMatrixBuffer::MakeSize(1, 1);
  TList list = List({{1, 2}, {3, 4, 5}});
  list->AddCustom(TNXRealBuffer::MakeSize(1));
  m->Assign(list);
  m->Assign(m);
  EXPECT_EQ(std::tuple(Shape(m), m->GetCustomCount(), Flat(m)), std::tuple(std::tuple(2, 3), 1, TVec{1, 2, 0, 3, 4, 5}));
  EXPECT_FALSE(m->IsEqualArray(list)) << "the padded row is longer than the list's";
  TMatrix n = Matrix(2, 3, {1, 2, 0, 3, 4, 5});
  EXPECT_EQ(std::tuple(m->IsEqualArray(n), m->IsEqualArray(List({{1, 2, 0}, {3, 4, 5}})),
                       List({{1, 2, 0}, {3, 4, 5}})->IsEqualArray(m), m->IsEqualArray(Matrix(3, 2, {1, 2, 0, 3, 4, 5})),
                       m->IsEqualArray(Matrix(2, 3, {1, 2, 0, 3, 4, 6})), m->IsEqualArray(nullptr)),
            std::tuple(true, true, true, false, false, false));
  // The buffer comparison wants a matrix buffer and then compares bytes.
  auto bufferOf = [](const TMatrix& x) { return Supports<INXDataBuffer>(x); };
  EXPECT_EQ(std::tuple(bufferOf(m)->IsEqual(bufferOf(n)), bufferOf(m)->IsEqual(TNXRealBuffer::MakeArray({1, 2, 0, 3, 4, 5}))),
            std::tuple(true, false));
  // Assigning a buffer shares its block: a matrix keeps its shape, a real buffer is one row.
  bufferOf(m)->Assign(bufferOf(Matrix(3, 1, {7, 8, 9})));
  EXPECT_EQ(Shape(m), std::tuple(3, 1));
  TBuffer real = TNXRealBuffer::MakeArray({1, 2});
  bufferOf(m)->Assign(real);
  EXPECT_EQ(std::tuple(m->Read(), Shape(m)), std::tuple(real->Read(), std::tuple(1, 2)));
  TIntfPtr<INXLinearDataBuffer> odd(new TNXLinearMemoryBuffer(5u, 1u));
  EXPECT_THROW(bufferOf(m)->Assign(odd), EArgumentException);
  EXPECT_EQ(m->Read(), real->Read());
  m = Matrix(2, 2, {1, 2, 3, 4});
  TNXRealBufferArrayEnumerator e = m->GetEnumerator();
  e.Reset();
  TRows rows;
  while (e.MoveNext()) rows.push_back(Values(e.GetCurrent()));
  EXPECT_EQ(rows, (TRows{{1, 2}, {3, 4}}));
  EXPECT_FALSE(TNXRealMatrixBuffer::Make()->GetEnumerator().MoveNext());
  TMatrix other = TNXRealMatrixBuffer::MakeCopy(m);
  TIntfPtr<INXRealMatrixBufferAccess> read = m->Data(TBufferAccessMode::Read);
  EXPECT_EQ(std::tuple(read->GetRows(), read->GetCols(), read->GetSize(), read->Data()), std::tuple(2, 2, 4, other->Read()));
  TIntfPtr<INXRealMatrixBufferAccess> modify = m->Data({TBufferAccessMode::Read, TBufferAccessMode::Write});
  EXPECT_EQ(std::tuple(modify->Data() != other->Read(), Flat(m), bool(Supports<INXRealBufferAccess>(modify))),
            std::tuple(true, Flat(other), true));
}

TEST(RealBufferListTest, RowsAreSharedObjects) {
  TBuffer a = TNXRealBuffer::MakeArray({1, 2, 3});
  TList list = List({{}, {4}});
  list->SetItem(0, a);
  EXPECT_TRUE(SameObject(list->GetItem(0), a));
  EXPECT_EQ(std::tuple(list->GetCount(), list->GetMaxSize(), list->GetColCount(1), TNXRealBufferList::Make()->GetMaxSize()),
            std::tuple(2, 3, 1, 0));
  list->SetCell(0, 1, 20.0);
  list->GetItem(1)->SetItem(0, 40.0);
  EXPECT_EQ(std::tuple(a->GetItem(1), list->GetCell(1, 0)), std::tuple(20.0, 40.0));
  EXPECT_THROW(list->GetCell(1, 1), ERangeError);
  EXPECT_THROW(list->GetItem(2), EListError);
  EXPECT_THROW(list->GetCell(-1, 0), EListError);
  EXPECT_THROW(list->Append(nullptr), EArgumentException);
  auto* obj = dynamic_cast<TNXRealBufferList*>(list->GetInstance());
  obj->Delete(0);
  EXPECT_EQ(RowsOf(list), (TRows{{40}}));
  EXPECT_THROW(obj->Delete(1), EListError);
  TList source = List({{1, 2}, {3}});
  source->AddCustom(TNXRealBuffer::MakeSize(1));
  const int stores = Stores();
  const TList copies[] = {TNXRealBufferList::MakeCopy(source),
                          TNXRealBufferList::CreateData({source->GetItem(0), source->GetItem(1)}),
                          Supports<INXRealBufferDynamicArray>(source->GetDataCopy())};
  EXPECT_EQ(Stores(), stores);
  for (const TList& c : copies) {
    EXPECT_FALSE(SameObject(c->GetItem(0), source->GetItem(0)));
    EXPECT_EQ(std::tuple(c->GetItem(0)->Read(), c->IsEqualArray(source)), std::tuple(source->GetItem(0)->Read(), true));
  }
  EXPECT_EQ(std::tuple(copies[0]->GetCustomCount(), copies[1]->GetCustomCount()), std::tuple(1, 0));
  // Writing to a copy's row copies that row's block only.
  copies[0]->SetCell(0, 0, -1.0);
  EXPECT_EQ(std::tuple(source->GetCell(0, 0), Stores()), std::tuple(1.0, stores + 1));
  // Assign replaces the rows; assigning the list to itself keeps them.
  TList target = List({{9}, {9}, {9}});
  target->Assign(TIntfPtr<INXRealBufferArray>(Matrix(1, 2, {7, 8})));
  target->Assign(target);
  EXPECT_EQ(RowsOf(target), (TRows{{7, 8}}));
  EXPECT_THROW(TNXRealBufferList::MakeData({TBuffer()}), EArgumentException);
  TList ops = List({{1, 2, 3}, {4}, {5, 6}});
  ops->Add(List({{10, 10}, {10, 10}}));
  ops->Divide(Matrix(1, 3, {0, 2, 1}));
  ops->MultiplyValue(2);
  ops->SubtractValue(1);
  EXPECT_EQ(RowsOf(ops), (TRows{{2e15 - 1, 11, 5}, {27}, {9, 11}}));
  ops->Zero();
  EXPECT_EQ(RowsOf(ops), (TRows{{0, 0, 0}, {0}, {0, 0}}));
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

TEST(RealMatrixTest, ForwardsToTheHeldArrayAndRealBuffersFromArrays) {
  TArray m = TNXRealMatrix::MakeAsArraySize(2, 2);
  m->SetValue(1.0);
  m->SetCell(1, 1, 5.0);
  EXPECT_EQ(std::tuple(RowsOf(m), m->GetMaxSize()), std::tuple(TRows{{1, 1}, {1, 5}}, 2));
  EXPECT_TRUE(m->Resize(3, 2, true));
  EXPECT_THROW(m->GetCell(0, 2), ERangeError);
  auto* obj = dynamic_cast<TNXRealMatrix*>(m->GetInstance());
  EXPECT_TRUE(Supports<INXRealMatrixBuffer>(obj->GetArray()));
  // Copies hold the same array object: a write through one is seen through the other.
  TArray copy = Supports<INXRealBufferArray>(m->GetDataCopy()), ex = TNXRealMatrix::CreateEx(obj);
  copy->SetCell(0, 0, -3.0);
  EXPECT_EQ(std::tuple(m->GetCell(0, 0), ex->GetCell(0, 0)), std::tuple(-3.0, -3.0));
  EXPECT_TRUE(obj->IsEqualMatrix(dynamic_cast<TNXRealMatrix*>(ex->GetInstance())));
  const double data[4] = {1, 2, 3, 4};
  TArray d = TNXRealMatrix::CreateAsArrayData(data, 2, 2);
  auto* dobj = dynamic_cast<TNXRealMatrix*>(d->GetInstance());
  TArray overList = TNXRealMatrix::MakeCopy(List({{1, 2}, {3, 4}}));
  EXPECT_EQ(std::tuple(obj->IsEqualMatrix(dobj), obj->IsEqualMatrix(nullptr),
                       dobj->IsEqualMatrix(dynamic_cast<TNXRealMatrix*>(overList->GetInstance())), d->IsEqualArray(overList)),
            std::tuple(false, false, true, true));
  EXPECT_THROW(TNXRealMatrix::MakeCopy(nullptr), EArgumentException);
  d->Assign(d);  // assigning a matrix object to itself changes nothing
  EXPECT_EQ(RowsOf(d), (TRows{{1, 2}, {3, 4}}));
  EXPECT_EQ(Values(TNXRealBuffer::MakeBufferArray(List({{1}, {2, 3}}))), (TVec{1, 0, 2, 3}));
  EXPECT_EQ(Values(TNXRealBuffer::CreateBufferArray(Matrix(2, 2, {4, 5, 6, 7}))), (TVec{4, 5, 6, 7}));
  EXPECT_EQ(TNXRealBuffer::MakeBufferArray(TNXRealBufferList::Make())->GetSize(), 0);
  EXPECT_THROW(TNXRealBuffer::MakeBufferArray(nullptr), EArgumentException);
}

}  // namespace
}  // namespace nx
