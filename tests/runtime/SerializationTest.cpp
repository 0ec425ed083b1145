// The member-wise binary writer and reader (round trips, mismatches, damaged input) and the class registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nx {
namespace {

// A document with one member of every kind, nested objects and a list.
std::string SampleDocument() {
  TStringStream s;
  TBinaryWriter w(s, "TRoot");
  w.WriteBoolean("yes", true);
  w.WriteBoolean("no", false);
  w.WriteInt32("i32", -123456);
  w.WriteUInt32("u32", 0xFFFFFFF0u);
  w.WriteInt64("i64", std::numeric_limits<std::int64_t>::min());
  w.WriteUInt64("u64", 0xFEDCBA9876543210ull);
  w.WriteDouble("pi", 3.141592653589793);
  w.WriteString("text", std::string("h\0llo \xC3\xA4", 9));
  const std::uint8_t bytes[5] = {0, 1, 2, 254, 255};
  w.WriteBytes("bytes", bytes, sizeof(bytes));
  w.WriteBytes("empty", nullptr, 0);
  w.BeginObject("child", "TChild");
  w.WriteInt32("depth", 2);
  w.BeginObject("grandchild", "TGrandChild");
  w.WriteString("name", "g");
  w.EndObject();
  w.EndObject();
  w.BeginList("items");
  for (int i = 0; i < 3; ++i) {
    w.BeginItem("TItem" + std::to_string(i));
    w.WriteInt32("index", i);
    w.EndItem();
  }
  w.EndList();
  w.BeginList("none");
  w.EndList();
  w.Finish();
  return s.DataString();
}

// The value of member AKey, read with AMethod (which must find it).
template <class T>
T Got(IReader& AReader, bool (IReader::*AMethod)(std::string_view, T&), std::string_view AKey) {
  T value{};
  EXPECT_TRUE((AReader.*AMethod)(AKey, value)) << AKey;
  return value;
}

TEST(SerializationTest, EveryKindRoundTripsAndIsFoundByKey) {
  TStringStream s(SampleDocument() + "tail");
  TBinaryReader r(s);
  EXPECT_EQ(r.RootClassName(), "TRoot");
  // Asked in another order than written.
  EXPECT_EQ(Got(r, &IReader::ReadString, "text"), std::string("h\0llo \xC3\xA4", 9));
  EXPECT_EQ(Got(r, &IReader::ReadDouble, "pi"), 3.141592653589793);
  EXPECT_FALSE(Got(r, &IReader::ReadBoolean, "no"));
  EXPECT_EQ(Got(r, &IReader::ReadUInt64, "u64"), 0xFEDCBA9876543210ull);
  EXPECT_EQ(Got(r, &IReader::ReadInt64, "i64"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Got(r, &IReader::ReadUInt32, "u32"), 0xFFFFFFF0u);
  EXPECT_EQ(Got(r, &IReader::ReadInt32, "i32"), -123456);
  EXPECT_EQ(Got(r, &IReader::ReadBytes, "bytes"), (std::vector<std::uint8_t>{0, 1, 2, 254, 255}));
  std::uint64_t length = 99;
  ASSERT_TRUE(r.BytesLength("empty", length));
  EXPECT_EQ(length, 0u);
  // Copies only what fits; the rest of the block is skipped.
  std::uint8_t two[3] = {7, 7, 7};
  std::uint64_t copied = 0;
  ASSERT_TRUE(r.ReadBytesInto("bytes", two, 2, copied));
  EXPECT_EQ(copied, 2u);
  EXPECT_EQ(std::vector<std::uint8_t>(two, two + 3), (std::vector<std::uint8_t>{0, 1, 7}));
  // The list first, then the object that was written before it.
  std::uint32_t count = 0;
  ASSERT_TRUE(r.BeginList("items", count));
  ASSERT_EQ(count, 3u);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string cls;
    r.BeginItem(cls);
    EXPECT_EQ(cls, "TItem" + std::to_string(i));
    EXPECT_EQ(Got(r, &IReader::ReadInt32, "index"), static_cast<std::int32_t>(i));
    r.EndItem();
  }
  std::string noMore;
  EXPECT_THROW(r.BeginItem(noMore), ESerializationError);
  r.EndList();
  ASSERT_TRUE(r.BeginList("none", count));
  EXPECT_EQ(count, 0u);
  r.EndList();
  std::string cls;
  ASSERT_TRUE(r.BeginObject("child", cls));
  EXPECT_FALSE(r.HasKey("pi"));  // members of the child only
  ASSERT_TRUE(r.BeginObject("grandchild", cls));
  EXPECT_EQ(cls, "TGrandChild");
  EXPECT_EQ(Got(r, &IReader::ReadString, "name"), "g");
  r.EndObject();
  EXPECT_EQ(Got(r, &IReader::ReadInt32, "depth"), 2);
  r.EndObject();
  // Back in the root; absent keys leave the value alone.
  EXPECT_TRUE(r.HasKey("pi"));
  std::int32_t untouched = 42;
  EXPECT_FALSE(r.ReadInt32("absent", untouched));
  EXPECT_EQ(untouched, 42);
  EXPECT_FALSE(r.BeginObject("absent", cls));
  EXPECT_FALSE(r.BeginList("absent", count));
  // The stream ends up right after the document.
  r.Finish();
  EXPECT_EQ(s.ReadString(10), "tail");
}

TEST(SerializationTest, IntegersConvertWhenTheValueFitsAndKindsMustMatch) {
  TStringStream s;
  TBinaryWriter w(s, "T");
  w.WriteInt64("small", -5);
  w.WriteUInt64("big", 0x100000000ull);
  w.WriteUInt32("u", 7);
  w.WriteString("s", "x");
  w.WriteBoolean("b", true);
  w.Finish();
  s.SetPosition(0);
  TBinaryReader r(s);
  EXPECT_EQ(Got(r, &IReader::ReadInt32, "small"), -5);
  EXPECT_EQ(Got(r, &IReader::ReadInt64, "u"), 7);
  EXPECT_EQ(Got(r, &IReader::ReadUInt64, "big"), 0x100000000ull);
  EXPECT_THROW(Got(r, &IReader::ReadUInt32, "small"), ESerializationError);  // negative
  EXPECT_THROW(Got(r, &IReader::ReadUInt32, "big"), ESerializationError);    // beyond 32 bits
  EXPECT_THROW(Got(r, &IReader::ReadInt32, "big"), ESerializationError);
  EXPECT_THROW(Got(r, &IReader::ReadDouble, "u"), ESerializationError);
  EXPECT_THROW(Got(r, &IReader::ReadBytes, "s"), ESerializationError);
  EXPECT_THROW(Got(r, &IReader::ReadString, "b"), ESerializationError);
  EXPECT_THROW(Got(r, &IReader::ReadInt32, "s"), ESerializationError);
  EXPECT_THROW(Got(r, &IReader::ReadBoolean, "u"), ESerializationError);
  std::string cls;
  EXPECT_EQ(nxtest::MessageOf<ESerializationError>([&] { r.BeginObject("s", cls); }),
            "Member \"s\" is a string, not an object");
}

TEST(SerializationTest, WriterMisuseIsAnAssertion) {
  TStringStream s;
  TBinaryWriter w(s, "T");
  EXPECT_THROW(w.EndObject(), EAssertionFailed);  // the root closes with Finish
  EXPECT_THROW(w.BeginItem("X"), EAssertionFailed);
  w.BeginList("l");
  EXPECT_THROW(w.WriteInt32("k", 1), EAssertionFailed);  // members go into items
  EXPECT_THROW(w.Finish(), EAssertionFailed);            // the list is still open
  EXPECT_THROW(w.WriteBytes("k", nullptr, 3), EAssertionFailed);
}

TEST(SerializationTest, NestingIsLimitedOnBothSides) {
  TStringStream deep;
  TBinaryWriter w(deep, "T");
  for (int i = 1; i < kMaxSerializationDepth; ++i) w.BeginObject("o", "T");
  EXPECT_THROW(w.BeginObject("o", "T"), ESerializationError);
  w.BeginList("l");
  EXPECT_THROW(w.BeginItem("T"), ESerializationError);
  // A form one level deeper than allowed, by hand: each level is the next object's header and length.
  const int levels = kMaxSerializationDepth + 1;
  std::string doc("NXSF\x01", 5);
  std::vector<std::size_t> lengthAt;
  for (int i = 0; i < levels; ++i) {
    if (i > 0) doc += std::string("\x0A\x01o", 3);
    lengthAt.push_back(doc.size());
    doc += std::string(8, '\0');
    doc += std::string("\x01T", 2);
  }
  for (std::size_t k = 0; k < lengthAt.size(); ++k) {
    const std::uint64_t len = doc.size() - lengthAt[k] - 8;
    std::memcpy(&doc[lengthAt[k]], &len, 8);
  }
  TStringStream s(doc);
  TBinaryReader r(s);
  std::string cls;
  int entered = 1;
  try {
    while (r.BeginObject("o", cls)) ++entered;
    FAIL() << "the innermost object was entered";
  } catch (const ESerializationError&) {
    EXPECT_EQ(entered, kMaxSerializationDepth);
  }
}

// Reads every member of the sample document the way a consumer would.
void ReadAll(TStream& AStream) {
  TBinaryReader r(AStream);
  std::string text, cls;
  std::vector<std::uint8_t> bytes;
  double d;
  std::int64_t i;
  std::uint64_t u;
  bool b;
  r.ReadString("text", text);
  r.ReadBytes("bytes", bytes);
  r.ReadDouble("pi", d);
  r.ReadInt64("i32", i);
  r.ReadUInt64("u64", u);
  r.ReadBoolean("yes", b);
  if (r.BeginObject("child", cls)) {
    if (r.BeginObject("grandchild", cls)) r.EndObject();
    r.EndObject();
  }
  std::uint32_t count = 0;
  if (r.BeginList("items", count)) {
    for (std::uint32_t k = 0; k < count; ++k) {
      r.BeginItem(cls);
      r.ReadInt64("index", i);
      r.EndItem();
    }
    r.EndList();
  }
  r.Finish();
}

// Whether reading ADoc ends in one of the two errors (any other exception escapes).
bool Refused(const std::string& ADoc) {
  TStringStream s(ADoc);
  try {
    ReadAll(s);
  } catch (const ESerializationError&) {
    return true;
  } catch (const EReadError&) {
    return true;
  }
  return false;
}

// Every cut is refused; every byte replaced by 0, 0xFF or with a bit flipped reads or is refused.
TEST(SerializationTest, TruncatedOrChangedDocumentsFailCleanly) {
  const std::string doc = SampleDocument();
  int refused = 0;
  for (std::size_t k = 0; k < doc.size(); ++k) {
    EXPECT_TRUE(Refused(doc.substr(0, k))) << "cut to " << k << " of " << doc.size() << " bytes";
    for (std::uint8_t v : {std::uint8_t{0}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(doc[k] ^ 0x40)}) {
      std::string bad = doc;
      bad[k] = static_cast<char>(v);
      refused += Refused(bad);
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(SerializationTest, HugeLengthsAreRefusedBeforeAnyAllocation) {
  auto root = [](const std::string& body) {
    std::string doc("NXSF\x01", 5);
    const std::uint64_t len = body.size();
    doc.append(reinterpret_cast<const char*>(&len), 8);
    return doc + body;
  };
  const std::string maxVarint("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 9);
  const std::string hugeU64("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8);
  const struct { const char* Name; std::string Doc; } cases[] = {
      {"class name", root("\x80\x80\x80\x80\x10" + std::string("x"))},
      {"key", root(std::string("\x01T\x01", 3) + maxVarint)},
      {"string", root(std::string("\x01T\x08\x01s", 5) + maxVarint)},
      {"byte block", root(std::string("\x01T\x09\x01" "b", 5) + maxVarint + "abc")},
      {"object", root(std::string("\x01T\x0A\x01o", 5) + hugeU64)},
      {"list", root(std::string("\x01T\x0B\x01l", 5) + hugeU64)},
      {"varint beyond 64 bits", root(std::string("\x01T\x08\x01s", 5) + std::string(10, '\xFF') + "\x01")},
      {"root", std::string("NXSF\x01", 5) + hugeU64 + "\x01T"},
      {"unknown kind", root(std::string("\x01T\x0C\x01k", 5))},
      {"signature", std::string("NXSG\x01", 5) + std::string(8, '\0')},
      {"version", std::string("NXSF\x02", 5) + std::string(8, '\0')},
  };
  for (const auto& c : cases) {
    TStringStream s(c.Doc);
    EXPECT_THROW(ReadAll(s), ESerializationError) << c.Name;
  }
  // A list claiming more items than its bytes hold.
  TStringStream s;
  TBinaryWriter w(s, "T");
  w.BeginList("items");
  w.EndList();
  w.Finish();
  std::string doc = s.DataString();
  const std::uint32_t many = 0xFFFFFFFFu;
  std::memcpy(&doc[doc.size() - 4], &many, 4);
  TStringStream bad(doc);
  TBinaryReader r(bad);
  std::uint32_t count = 0;
  EXPECT_THROW(r.BeginList("items", count), ESerializationError);
}

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
  const std::vector<std::string> buffers = {"TNXBlockBuffer",   "TNXBooleanBuffer", "TNXRealBuffer",      "TNXComplexBuffer",
                                            "TNXIntegerBuffer", "TNXRealMatrixBuffer", "TNXRealBufferList"};
  ASSERT_GE(names.size(), buffers.size() + 2);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 7), buffers);
  EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()),
            (std::vector<std::string>{"TTestNote", "TTestOther"}));
  EXPECT_EQ(std::count(names.begin(), names.end(), "TNXUnsignedBuffer"), 0);  // deliberately left out
  EXPECT_TRUE(Supports<INXRealBuffer>(TClassManagement::CreateObject("TNXRealBuffer")));
}

TEST_F(ClassManagementTest, LookUpsByNameAndByObject) {
  EXPECT_EQ(TClassManagement::FindClass("TTestNote")->Type, std::type_index(typeid(TTestNote)));
  EXPECT_FALSE(TClassManagement::FindClass("ttestnote").has_value());  // names match exactly
  TIntfPtr<INXData> obj = Supports<INXData>(TClassManagement::CreateObject("TTestOther"));
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
  // A name taken by another class refuses the whole call, including the entry before it.
  EXPECT_THROW(TClassManagement::RegisterClasses(
                   {ClassEntry<TTestNote>("TTestSpare"), ClassEntry<TTestNote>("TTestOther")}),
               EArgumentException);
  EXPECT_THROW(TClassManagement::RegisterClasses({ClassEntry<TTestNote>("TTestSpare"), ClassEntry<TTestOther>("TTestSpare")}),
               EArgumentException);
  EXPECT_THROW(TClassManagement::RegisterClasses({ClassEntry<TTestNote>("")}), EArgumentException);
  EXPECT_EQ(Names().size(), before);
  // Unregistering unknown names does nothing.
  TClassManagement::UnregisterClasses({"TNoSuchClass"});
  EXPECT_EQ(Names().size(), before);
}

// By class name with the custom lists; an unregistered class fails; a self-containing list stops.
TEST_F(ClassManagementTest, DataObjectsRoundTripByClassNameWithTheirCustomLists) {
  TIntfPtr<INXData> note(static_cast<INXData*>(new TTestNote("outer")));
  note->AddCustom(TIntfPtr<INXData>(static_cast<INXData*>(new TTestNote("first"))));
  note->AddCustom(nullptr);  // a nil item survives as nil
  TIntfPtr<INXData> inner(static_cast<INXData*>(new TTestNote("second")));
  inner->AddCustom(TIntfPtr<INXData>(static_cast<INXData*>(new TTestOther())));
  note->AddCustom(inner);
  TIntfPtr<INXData> back = NXDataObjectFromBytes(NXDataObjectToBytes(note.Get()));
  EXPECT_EQ(dynamic_cast<TTestNote&>(*back->GetInstance()).Text(), "outer");
  ASSERT_EQ(back->GetCustomCount(), 3);
  EXPECT_EQ(dynamic_cast<TTestNote*>(back->GetCustom(0)->GetInstance())->Text(), "first");
  EXPECT_FALSE(back->GetCustom(1));
  TIntfPtr<INXData> second = back->GetCustom(2);
  EXPECT_EQ(dynamic_cast<TTestNote*>(second->GetInstance())->Text(), "second");
  ASSERT_EQ(second->GetCustomCount(), 1);
  EXPECT_NE(dynamic_cast<TTestOther*>(second->GetCustom(0)->GetInstance()), nullptr);
  EXPECT_FALSE(NXDataObjectFromBytes(NXDataObjectToBytes(nullptr)));  // nil as nil
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
