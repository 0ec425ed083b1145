// Raw bytes in streams and files, serialisation by class name, damaged forms (no buffer may leak).
#include <unistd.h>
#include <cstdlib>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;
using TVec = std::vector<double>;

std::string TempName() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/nxstorage-" + std::to_string(::getpid()) + ".bin";
}

// A real buffer with a stamp and custom items (another buffer, itself with a custom item).
TBuffer Decorated() {
  TBuffer b = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0, -4.0, 1e300});
  b->GetSequenceStamp()->SetAvailable(true);
  b->GetSequenceStamp()->SetBufferNumber(0x123456789ull);
  TBuffer note = TNXRealBuffer::MakeArray({42.0});
  note->AddCustom(TNXRealBuffer::MakeValue(7.0, 2));
  b->AddCustom(note);
  b->AddCustom(TNXRealBuffer::Make());
  return b;
}

// Reads a serialised buffer into an existing buffer (no class-name step).
void ReadInto(const TBuffer& ATarget, const std::string& ABytes) {
  TStringStream s(ABytes);
  TBinaryReader r(s);
  ATarget->GetInstance()->SerializationRead(r);
}

TEST(StorageTest, StreamsHoldTheRawBytes) {
  TBuffer b = TNXRealBuffer::MakeArray({1.0, -2.5, 3.0});
  TBytesStream s;
  b->SaveToStream(s);
  ASSERT_EQ(s.Size(), 24);
  EXPECT_EQ(b->AsBytes(), s.Bytes());
  // Without resizing exactly byte-size bytes are read, from the position.
  TBuffer two = TNXRealBuffer::MakeSize(2);
  s.SetPosition(8);
  two->LoadFromStream(s, false);
  EXPECT_EQ(std::tuple(Values(two), s.Position()), std::tuple(TVec{-2.5, 3.0}, 24));
  // Resizing takes the whole elements left: of 20 bytes, two elements; then nothing.
  std::vector<std::uint8_t> bytes(20);
  std::memcpy(bytes.data(), Values(two).data(), 16);
  TBytesStream twenty(bytes);
  b->LoadFromStream(twenty, true);
  EXPECT_EQ(std::tuple(Values(b), twenty.Position()), std::tuple(TVec{-2.5, 3.0}, 16));
  b->LoadFromStream(twenty, true);
  EXPECT_EQ(b->GetSize(), 0);
  twenty.SetPosition(100);  // a position beyond the end counts as nothing left
  two->LoadFromStream(twenty, true);
  EXPECT_EQ(two->GetSize(), 0);
  // A short stream is a read error and keeps what arrived; the other holder of the block keeps its values.
  TBuffer d = TNXRealBuffer::MakeValue(1.0, 3), other = TNXRealBuffer::MakeCopy(d);
  TBytesStream one(std::vector<std::uint8_t>(bytes.begin() + 8, bytes.begin() + 16));
  EXPECT_THROW(d->LoadFromStream(one, false), EReadError);
  EXPECT_EQ(std::tuple(d->GetItem(0), d->GetSize(), Values(other)), std::tuple(3.0, 3, TVec(3, 1.0)));
  // Two bytes left give a Boolean buffer 16 values.
  TBytesStream bits(std::vector<std::uint8_t>{0xFF, 0x01, 0x80});
  bits.SetPosition(1);
  TIntfPtr<INXBooleanBuffer> flags = TNXBooleanBuffer::Make();
  flags->LoadFromStream(bits, true);
  EXPECT_EQ(std::tuple(flags->GetSize(), flags->GetItem(0), flags->GetItem(1), flags->GetItem(15)),
            std::tuple(16, true, false, true));
}

// Every element type through a file, resizing an empty buffer.
TEST(StorageTest, EveryElementTypeRoundTripsThroughFiles) {
  const std::string name = TempName();
  const std::vector<TIntfPtr<INXDataBuffer>> buffers = {
      TNXBlockBuffer::MakeArray({1, 2, 3}), TNXBooleanBuffer::MakeValue(16, true),
      TNXComplexBuffer::MakeValue(1.0, -1.0, 2), TNXUnsignedBuffer::MakeArray({0u, 4000000000u}),
      TNXRealBuffer::MakeArray({0.25, -8.0, 3.0, 4.0}),
  };
  for (const TIntfPtr<INXDataBuffer>& original : buffers) {
    original->SaveToFile(name);
    TIntfPtr<INXDataBuffer> empty = Supports<INXDataBuffer>(original->GetInstance()->MakeIntfCopy());
    Supports<INXLinearDataBuffer>(empty.Get())->Resize(0, false);
    empty->LoadFromFile(name, true);
    EXPECT_TRUE(empty->IsEqual(original));
  }
  TBuffer two = TNXRealBuffer::MakeSize(2);
  two->LoadFromFile(name, false);
  EXPECT_EQ(Values(two), (TVec{0.25, -8.0}));
  ::unlink(name.c_str());
  EXPECT_THROW(two->LoadFromFile(name, true), EFOpenError);
  TBuffer b = Decorated();
  TMemoryStream s;
  NXSaveDataObject(s, b.Get());
  s.SetPosition(0);
  TBuffer back = Supports<INXRealBuffer>(NXLoadDataObject(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(std::tuple(s.Position(), back->IsEqual(b), back->Read() != b->Read()), std::tuple(s.Size(), true, true));
  EXPECT_EQ(std::tuple(back->GetSequenceStamp()->GetAvailable(), back->GetSequenceStamp()->GetBufferNumber()),
            std::tuple(true, std::uint64_t{0x123456789ull}));
  ASSERT_EQ(back->GetCustomCount(), 2);
  TBuffer note = Supports<INXRealBuffer>(back->GetCustom(0));
  ASSERT_TRUE(note && note->GetCustomCount() == 1);
  EXPECT_EQ(std::tuple(Values(note), Values(Supports<INXRealBuffer>(note->GetCustom(0))),
                       Supports<INXRealBuffer>(back->GetCustom(1))->GetSize()),
            std::tuple(TVec{42.0}, TVec{7.0, 7.0}, 0));
  // An unavailable stamp is still written as available.
  TBuffer again = Supports<INXRealBuffer>(NXDataObjectFromBytes(NXDataObjectToBytes(TNXRealBuffer::MakeSize(1).Get())));
  EXPECT_EQ(std::tuple(again->GetSequenceStamp()->GetAvailable(), again->GetSequenceStamp()->GetBufferNumber()),
            std::tuple(true, std::uint64_t{0}));
}

// Without the element count (as a plain generic buffer writes it), "Data" copies into the buffer as it is.
TEST(StorageTest, DataCopiesWhatFitsAndDamagedFormsFailWithoutLeaks) {
  TStringStream form;
  TBinaryWriter w(form, "TNXRealBuffer");
  const double three[3] = {1.0, 2.0, 3.0};
  w.WriteBytes("Data", three, sizeof three);
  w.Finish();
  TBuffer two = TNXRealBuffer::MakeValue(0.0, 2), four = TNXRealBuffer::MakeValue(9.0, 4), empty = TNXRealBuffer::Make();
  for (const TBuffer& b : {two, four, empty}) ReadInto(b, form.DataString());
  EXPECT_EQ(std::tuple(Values(two), Values(four), empty->GetSize()), std::tuple(TVec{1, 2}, TVec{1, 2, 3, 9}, 0));
  // Into a shared buffer: the other holder keeps its samples; the stamp is set on the reader's new block.
  TBuffer a = TNXRealBuffer::MakeValue(5.0, 2), shared = TNXRealBuffer::MakeCopy(a);
  ReadInto(shared, NXDataObjectToBytes(TNXRealBuffer::MakeArray({1.0, 2.0}).Get()));
  EXPECT_EQ(std::tuple(Values(shared), Values(a), shared->GetSequenceStamp()->GetAvailable(),
                       a->GetSequenceStamp()->GetAvailable()),
            std::tuple(TVec{1, 2}, TVec{5, 5}, true, false));
  // Changed bytes: read or refused, never anything else (truncations: see the class table below).
  const std::string good = NXDataObjectToBytes(Decorated().Get());
  for (std::size_t k = 0; k < good.size(); ++k) {
    std::string bad = good;
    bad[k] = static_cast<char>(bad[k] ^ 0x21);
    try {
      (void)NXDataObjectFromBytes(bad);
    } catch (const ESerializationError&) {
    } catch (const EReadError&) {
    } catch (const EClassNotFound&) {
    }
  }
  TStringStream huge;  // an element count beyond the stored data would be a 4 GiB buffer
  TBinaryWriter hw(huge, "TNXRealBuffer");
  hw.WriteUInt32("Size", 0x1FFFFFFFu);
  hw.WriteBytes("Data", "12345678", 8);
  hw.Finish();
  EXPECT_THROW(NXDataObjectFromBytes(huge.DataString()), ESerializationError);
  // Every data class (with a custom item and a stamp) comes back by class name; truncations fail cleanly.
  TClassManagement::RegisterClasses({ClassEntry<TRGBits>("TRGBits")});
  const double v[6] = {1, 2, 3, 4, 5, 6};
  IRGBits::TBits bitSet = TRGBits::MakeSize(13);
  bitSet->SetBit(0, true)->SetBit(12, true);
  const std::pair<const char*, TIntfPtr<INXData>> cases[] = {
      {"TNXBlockBuffer", TNXBlockBuffer::MakeArray({1, 2, 250, 0, 7})},
      {"TNXBooleanBuffer", TNXBooleanBuffer::MakeValue(9, true)},  // not a whole number of bytes
      {"TNXRealBuffer", Decorated()},
      {"TNXComplexBuffer", TNXComplexBuffer::MakeValue(1.5, -2.5, 3)},
      {"TNXIntegerBuffer", TNXIntegerBuffer::MakeArray({-7, 0, 2147483647})},
      {"TNXRealMatrixBuffer", TNXRealMatrixBuffer::MakeData(v, 2, 3)},
      {"TNXRealBufferList", TNXRealBufferList::MakeData({TNXRealBuffer::MakeArray({1.0, 2.0}), TNXRealBuffer::Make(),
                                                         TNXRealBuffer::MakeArray({9.0})})},
      {"TRGBits", bitSet},
  };
  for (const auto& [name, original] : cases) {
    SCOPED_TRACE(name);
    TIntfPtr<INXDataBuffer> buffer = Supports<INXDataBuffer>(original.Get());
    if (buffer) buffer->GetSequenceStamp()->SetBufferNumber(77);
    original->AddCustom(TNXRealBuffer::MakeArray({5.0}));
    const std::string bytes = NXDataObjectToBytes(original.Get());
    TIntfPtr<INXData> back = NXDataObjectFromBytes(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(TClassManagement::ClassNameOf(*back->GetInstance()), name);
    if (buffer) {
      TIntfPtr<INXDataBuffer> b = Supports<INXDataBuffer>(back.Get());
      EXPECT_EQ(std::tuple(buffer->IsEqual(b), b->GetSize(), b->GetSequenceStamp()->GetBufferNumber()),
                std::tuple(true, buffer->GetSize(), std::uint64_t{77}));
    }
    if (auto array = Supports<INXRealBufferArray>(original.Get())) {  // the matrix and the list: shape and rows
      auto b = Supports<INXRealBufferArray>(back.Get());
      EXPECT_EQ(std::tuple(b->GetCount(), b->GetMaxSize(), array->IsEqualArray(b)),
                std::tuple(array->GetCount(), array->GetMaxSize(), true));
    }
    if (auto bits = Supports<IRGBits>(back.Get())) {
      EXPECT_TRUE(bits->EqualsBits(bitSet));
    }
    EXPECT_EQ(Supports<INXRealBuffer>(back->GetCustom(back->GetCustomCount() - 1))->GetItem(0), 5.0);
    for (std::size_t n = 0; n < bytes.size(); n += 7)
      EXPECT_ANY_THROW(NXDataObjectFromBytes(std::string_view(bytes).substr(0, n))) << "at " << n;
  }
  TClassManagement::UnregisterClasses({"TRGBits"});
}

}  // namespace
}  // namespace nx
