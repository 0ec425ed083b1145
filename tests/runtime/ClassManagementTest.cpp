// Tests of the class registry and of data objects serialised by class name:
// registration order, look-ups, refused registrations, the buffer classes
// registered at start-up, and a data class of its own (with its hooks and a
// custom list) written and read back by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nx {
namespace {

// A small data class with one member of its own.
class TTestNote : public TNXData {
 public:
  TTestNote() = default;
  explicit TTestNote(std::string AText) : FText(std::move(AText)) {}
  TIntfPtr<INXData> GetDataCopy() override {
    auto* copy = new TTestNote(FText);
    copy->AssignData(this);
    return TIntfPtr<INXData>(static_cast<INXData*>(copy));
  }
  const std::string& Text() const { return FText; }

 protected:
  void InternalSerializationWrite(IWriter& AWriter) override { AWriter.WriteString("Text", FText); }
  void InternalSerializationRead(IReader& AReader) override { AReader.ReadString("Text", FText); }

 private:
  std::string FText;
};

class TTestOther : public TNXData {
 public:
  TIntfPtr<INXData> GetDataCopy() override { return TIntfPtr<INXData>(static_cast<INXData*>(new TTestOther())); }
};

// Registers the test classes for one test and removes them afterwards.
class ClassManagementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TClassManagement::RegisterClasses({ClassEntry<TTestNote>("TTestNote"), ClassEntry<TTestOther>("TTestOther")});
  }
  void TearDown() override { TClassManagement::UnregisterClasses({"TTestNote", "TTestOther", "TTestSpare"}); }
};

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (const TClassEntry& e : TClassManagement::Classes()) names.push_back(e.Name);
  return names;
}

TEST_F(ClassManagementTest, BufferClassesAreRegisteredAtStartUpBeforeLaterOnes) {
  const std::vector<std::string> names = Names();
  // The start-up registrations come first; the test's own follow in their order.
  const std::vector<std::string> buffers = {"TNXBlockBuffer",   "TNXBooleanBuffer",    "TNXRealBuffer",
                                            "TNXComplexBuffer", "TNXIntegerBuffer",    "TNXRealMatrixBuffer",
                                            "TNXRealBufferList"};
  ASSERT_GE(names.size(), buffers.size() + 2);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 7), buffers);
  EXPECT_EQ(std::count(names.begin(), names.end(), "TNXRealBuffer"), 1);
  EXPECT_EQ(names[names.size() - 2], "TTestNote");
  EXPECT_EQ(names.back(), "TTestOther");
  // TNXUnsignedBuffer is deliberately left out.
  EXPECT_EQ(std::count(names.begin(), names.end(), "TNXUnsignedBuffer"), 0);

  TIntfPtr<INXRealBuffer> made = Supports<INXRealBuffer>(TClassManagement::CreateObject("TNXRealBuffer"));
  ASSERT_TRUE(made);
  EXPECT_EQ(made->GetSize(), 0);
}

TEST_F(ClassManagementTest, LookUpsByNameAndByObject) {
  auto entry = TClassManagement::FindClass("TTestNote");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->Type, std::type_index(typeid(TTestNote)));
  EXPECT_FALSE(TClassManagement::FindClass("ttestnote").has_value());  // names match exactly

  TIntfPtr<INXData> obj = Supports<INXData>(TClassManagement::CreateObject("TTestOther"));
  EXPECT_NE(dynamic_cast<TTestOther*>(obj->GetInstance()), nullptr);
  EXPECT_EQ(TClassManagement::ClassNameOf(*obj->GetInstance()), "TTestOther");
  TIntfPtr<INXData> buffer = TNXRealBuffer::MakeSize(2);
  EXPECT_EQ(TClassManagement::ClassNameOf(*buffer->GetInstance()), "TNXRealBuffer");

  EXPECT_EQ(nxtest::MessageOf<EClassNotFound>([] { TClassManagement::CreateObject("TNoSuchClass"); }),
            "Class TNoSuchClass not found");
  // A class that is not registered has no name to be written under.
  TIntfPtr<INXData> plainMemory = static_cast<TNXGenericBuffer*>(buffer->GetInstance())->TNXGenericBuffer::GetDataCopy();
  EXPECT_THROW(TClassManagement::ClassNameOf(*plainMemory->GetInstance()), EClassNotFound);
}

TEST_F(ClassManagementTest, RefusedRegistrationsRegisterNothing) {
  const std::size_t before = Names().size();
  // The same class again under its name is ignored.
  TClassManagement::RegisterClasses({ClassEntry<TTestNote>("TTestNote")});
  EXPECT_EQ(Names().size(), before);
  // A name taken by another class refuses the whole call, including the
  // entry before it.
  EXPECT_THROW(TClassManagement::RegisterClasses(
                   {ClassEntry<TTestNote>("TTestSpare"), ClassEntry<TTestNote>("TTestOther")}),
               EArgumentException);
  EXPECT_THROW(TClassManagement::RegisterClasses({ClassEntry<TTestNote>("TTestSpare"), ClassEntry<TTestOther>("TTestSpare")}),
               EArgumentException);
  EXPECT_THROW(TClassManagement::RegisterClasses({ClassEntry<TTestNote>("")}), EArgumentException);
  EXPECT_EQ(Names().size(), before);
  EXPECT_FALSE(TClassManagement::FindClass("TTestSpare").has_value());
  // Unregistering unknown names does nothing.
  TClassManagement::UnregisterClasses({"TNoSuchClass"});
  EXPECT_EQ(Names().size(), before);
}

TEST_F(ClassManagementTest, DataObjectsRoundTripByClassNameWithTheirCustomLists) {
  TIntfPtr<INXData> note(static_cast<INXData*>(new TTestNote("outer")));
  note->AddCustom(TIntfPtr<INXData>(static_cast<INXData*>(new TTestNote("first"))));
  note->AddCustom(nullptr);  // a nil item survives as nil
  TIntfPtr<INXData> inner(static_cast<INXData*>(new TTestNote("second")));
  inner->AddCustom(TIntfPtr<INXData>(static_cast<INXData*>(new TTestOther())));
  note->AddCustom(inner);

  TIntfPtr<INXData> back = NXDataObjectFromBytes(NXDataObjectToBytes(note.Get()));
  auto* n = dynamic_cast<TTestNote*>(back->GetInstance());
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->Text(), "outer");
  ASSERT_EQ(back->GetCustomCount(), 3);
  EXPECT_EQ(dynamic_cast<TTestNote*>(back->GetCustom(0)->GetInstance())->Text(), "first");
  EXPECT_FALSE(back->GetCustom(1));
  TIntfPtr<INXData> second = back->GetCustom(2);
  EXPECT_EQ(dynamic_cast<TTestNote*>(second->GetInstance())->Text(), "second");
  ASSERT_EQ(second->GetCustomCount(), 1);
  EXPECT_NE(dynamic_cast<TTestOther*>(second->GetCustom(0)->GetInstance()), nullptr);

  // A nil object round trips as nil.
  EXPECT_FALSE(NXDataObjectFromBytes(NXDataObjectToBytes(nullptr)));
}

// A class that went away after writing can be neither read nor written, and
// a custom list that contains itself stops at the nesting limit.
TEST_F(ClassManagementTest, RefusedWritesAndReads) {
  TIntfPtr<INXData> note(static_cast<INXData*>(new TTestNote("x")));
  note->AddCustom(TIntfPtr<INXData>(static_cast<INXData*>(new TTestOther())));
  const std::string bytes = NXDataObjectToBytes(note.Get());
  TClassManagement::UnregisterClasses({"TTestOther"});
  EXPECT_THROW(NXDataObjectFromBytes(bytes), EClassNotFound);
  EXPECT_THROW(NXDataObjectToBytes(note.Get()), EClassNotFound);

  TIntfPtr<INXData> loop(static_cast<INXData*>(new TTestNote("loop")));
  loop->AddCustom(loop);
  EXPECT_THROW(NXDataObjectToBytes(loop.Get()), ESerializationError);
  loop->GetInstance()->ClearCustom();  // break the cycle so that the object can go
}

}  // namespace
}  // namespace nx
