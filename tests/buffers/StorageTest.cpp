// Buffer storage: raw bytes in streams and files (with and without
// resizing), AsBytes, serialisation with the custom list and the sequence
// stamp read back by class name, damaged serialised buffers, and the
// subscriptions to a buffer's cache refreshes. The test listener checks that
// no buffer or block outlives a test, failed reads included.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;

std::string TempName() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/nxstorage-" + std::to_string(::getpid()) + ".bin";
}

TEST(StorageTest, StreamsHoldTheRawBytes) {
  TBuffer b = TNXRealBuffer::MakeArray({1.0, -2.5, 3.0});
  TBytesStream s;
  b->SaveToStream(s);
  ASSERT_EQ(s.Size(), 24);
  EXPECT_EQ(std::memcmp(s.Bytes().data(), b->Read(), 24), 0);
  EXPECT_EQ(b->AsBytes(), s.Bytes());

  // Without resizing exactly byte-size bytes are read, from the position.
  TBuffer two = TNXRealBuffer::MakeSize(2);
  s.SetPosition(8);
  two->LoadFromStream(s, false);
  EXPECT_EQ(Values(two), (std::vector<double>{-2.5, 3.0}));
  EXPECT_EQ(s.Position(), 24);

  // An empty buffer writes and reads nothing.
  TBuffer e = TNXRealBuffer::Make();
  TBytesStream empty;
  e->SaveToStream(empty);
  e->LoadFromStream(empty, false);
  EXPECT_EQ(std::tuple(empty.Size(), e->AsBytes().empty()), std::tuple(0, true));
}

TEST(StorageTest, ResizingTakesTheWholeElementsLeft) {
  // 20 bytes: two whole elements, 16 bytes read, 4 left in the stream.
  std::vector<std::uint8_t> bytes(20);
  const double v[2] = {4.0, 5.0};
  std::memcpy(bytes.data(), v, 16);
  TBytesStream s(bytes);
  TBuffer b = TNXRealBuffer::MakeValue(9.0, 7);
  b->LoadFromStream(s, true);
  EXPECT_EQ(Values(b), (std::vector<double>{4.0, 5.0}));
  EXPECT_EQ(s.Position(), 16);
  // Nothing whole left: resized to empty.
  b->LoadFromStream(s, true);
  EXPECT_EQ(b->GetSize(), 0);
  // A position beyond the end counts as nothing left.
  s.SetPosition(100);
  TBuffer c = TNXRealBuffer::MakeSize(3);
  c->LoadFromStream(s, true);
  EXPECT_EQ(c->GetSize(), 0);

  // A short stream is a read error and keeps what arrived; loading into a
  // shared block leaves the other holder alone.
  TBuffer d = TNXRealBuffer::MakeValue(1.0, 3);
  TBuffer other = TNXRealBuffer::MakeCopy(d);
  TBytesStream one(std::vector<std::uint8_t>(bytes.begin() + 8, bytes.begin() + 16));
  EXPECT_THROW(d->LoadFromStream(one, false), EReadError);
  EXPECT_EQ(std::tuple(d->GetItem(0), d->GetSize()), std::tuple(5.0, 3));
  EXPECT_EQ(Values(other), (std::vector<double>{1.0, 1.0, 1.0}));
}

TEST(StorageTest, FilesRoundTripWithResizing) {
  const std::string name = TempName();
  TBuffer b = TNXRealBuffer::MakeArray({0.5, 1.5, 2.5, 3.5});
  b->SaveToFile(name);
  TBuffer two = TNXRealBuffer::MakeSize(2);
  two->LoadFromFile(name, false);
  EXPECT_EQ(Values(two), (std::vector<double>{0.5, 1.5}));
  // Saving again truncates the file.
  TNXRealBuffer::MakeArray({6.0})->SaveToFile(name);
  TBuffer small = TNXRealBuffer::MakeSize(1);
  small->LoadFromFile(name, true);
  EXPECT_EQ(Values(small), (std::vector<double>{6.0}));
  ::unlink(name.c_str());
  EXPECT_THROW(small->LoadFromFile(name, true), EFOpenError);
}

// Every element type: saved to a file, loaded with resizing into an empty
// buffer of its class, and read back serialised into an existing buffer.
TEST(StorageTest, EveryElementTypeRoundTripsThroughFilesAndSerialisation) {
  const std::string name = TempName();
  const std::vector<TIntfPtr<INXDataBuffer>> buffers = {
      TNXBlockBuffer::MakeArray({1, 2, 3}),
      TNXBooleanBuffer::MakeValue(16, true),
      TNXRealBuffer::MakeArray({0.25, -8.0}),
      TNXComplexBuffer::MakeValue(1.0, -1.0, 2),
      TNXIntegerBuffer::MakeArray({-5, 5, 7}),
      TNXUnsignedBuffer::MakeArray({0u, 4000000000u}),
  };
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    SCOPED_TRACE(i);
    const TIntfPtr<INXDataBuffer>& original = buffers[i];
    original->SaveToFile(name);
    TIntfPtr<INXDataBuffer> empty = Supports<INXDataBuffer>(original->GetInstance()->MakeIntfCopy());
    Supports<INXLinearDataBuffer>(empty.Get())->Resize(0, false);
    empty->LoadFromFile(name, true);
    EXPECT_TRUE(empty->IsEqual(original));
    EXPECT_EQ(empty->GetSize(), original->GetSize());

    Supports<INXLinearDataBuffer>(empty.Get())->Resize(0, false);
    // (Written member-wise: the unsigned buffer has no registered class name.)
    TBytesStream s;
    TBinaryWriter w(s, "buffer");
    original->GetInstance()->SerializationWrite(w);
    w.Finish();
    s.SetPosition(0);
    TBinaryReader r(s);
    empty->GetInstance()->SerializationRead(r);
    EXPECT_TRUE(empty->IsEqual(original));
  }
  ::unlink(name.c_str());
}

// A real buffer with a stamp and custom items (another buffer, itself with
// a custom item).
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

TEST(StorageTest, SerialisedBufferComesBackByClassName) {
  TBuffer b = Decorated();
  TMemoryStream s;
  NXSaveDataObject(s, b.Get());
  s.SetPosition(0);
  TBuffer back = Supports<INXRealBuffer>(NXLoadDataObject(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_TRUE(back->IsEqual(b));
  EXPECT_NE(back->Read(), b->Read());  // its own block
  EXPECT_EQ(std::tuple(back->GetSequenceStamp()->GetAvailable(), back->GetSequenceStamp()->GetBufferNumber()),
            std::tuple(true, std::uint64_t{0x123456789ull}));
  ASSERT_EQ(back->GetCustomCount(), 2);
  TBuffer note = Supports<INXRealBuffer>(back->GetCustom(0));
  ASSERT_TRUE(note);
  EXPECT_EQ(Values(note), (std::vector<double>{42.0}));
  ASSERT_EQ(note->GetCustomCount(), 1);
  EXPECT_EQ(Values(Supports<INXRealBuffer>(note->GetCustom(0))), (std::vector<double>{7.0, 7.0}));
  EXPECT_EQ(Supports<INXRealBuffer>(back->GetCustom(1))->GetSize(), 0);

  // An unavailable stamp is still written as available.
  TBuffer plain = TNXRealBuffer::MakeSize(1);
  plain->SetItem(0, 1.0);
  ASSERT_FALSE(plain->GetSequenceStamp()->GetAvailable());
  TBuffer again = Supports<INXRealBuffer>(NXDataObjectFromBytes(NXDataObjectToBytes(plain.Get())));
  EXPECT_EQ(std::tuple(again->GetSequenceStamp()->GetAvailable(), again->GetSequenceStamp()->GetBufferNumber()),
            std::tuple(true, std::uint64_t{0}));
}

// Reads a serialised buffer into an existing buffer (no class-name step).
void ReadInto(const TBuffer& ATarget, const std::string& ABytes) {
  TStringStream s(ABytes);
  TBinaryReader r(s);
  ATarget->GetInstance()->SerializationRead(r);
}

// A serialised byte form without the element count, as a plain generic
// buffer writes it: "Data" then copies into the buffer as it is.
std::string WithoutSize(const TBuffer& ABuffer) {
  TStringStream s;
  TBinaryWriter w(s, "TNXRealBuffer");
  w.WriteBytes("Data", ABuffer->Read(), ABuffer->GetByteSize());
  w.Finish();
  return s.DataString();
}

TEST(StorageTest, DataCopiesWhatFitsWithoutResizing) {
  const std::string three = WithoutSize(TNXRealBuffer::MakeArray({1.0, 2.0, 3.0}));
  TBuffer two = TNXRealBuffer::MakeValue(0.0, 2);
  ReadInto(two, three);
  EXPECT_EQ(Values(two), (std::vector<double>{1.0, 2.0}));
  TBuffer four = TNXRealBuffer::MakeValue(9.0, 4);
  ReadInto(four, three);
  EXPECT_EQ(Values(four), (std::vector<double>{1.0, 2.0, 3.0, 9.0}));
  TBuffer empty = TNXRealBuffer::Make();
  ReadInto(empty, three);
  EXPECT_EQ(empty->GetSize(), 0);

  // Into a shared buffer: the other holder keeps its samples; the stamp is
  // set on the reader's new block.
  TBuffer a = TNXRealBuffer::MakeValue(5.0, 2);
  TBuffer shared = TNXRealBuffer::MakeCopy(a);
  ReadInto(shared, NXDataObjectToBytes(TNXRealBuffer::MakeArray({1.0, 2.0}).Get()));
  EXPECT_EQ(Values(shared), (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(Values(a), (std::vector<double>{5.0, 5.0}));
  EXPECT_EQ(std::tuple(shared->GetSequenceStamp()->GetAvailable(), a->GetSequenceStamp()->GetAvailable()),
            std::tuple(true, false));
}

TEST(StorageTest, DamagedSerialisedBuffersFailWithoutLeaks) {
  const std::string good = NXDataObjectToBytes(Decorated().Get());
  // Every truncation fails with the reader's error or the read error; the
  // half-read buffer and its custom items are gone (the listener counts).
  for (std::size_t n = 0; n < good.size(); n += (n < 200 ? 1 : 7)) {
    try {
      NXDataObjectFromBytes(good.substr(0, n));
      ADD_FAILURE() << "a buffer cut to " << n << " bytes was read";
    } catch (const ESerializationError&) {
    } catch (const EReadError&) {
    }
  }
  // Changed bytes: read or refused, never anything else.
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
}

TEST(StorageTest, AnElementCountBeyondTheStoredDataIsRefused) {
  TStringStream s;
  TBinaryWriter w(s, "TNXRealBuffer");
  w.WriteUInt32("Size", 0x1FFFFFFFu);  // would be a 4 GiB buffer
  w.WriteBytes("Data", "12345678", 8);
  w.Finish();
  EXPECT_THROW(NXDataObjectFromBytes(s.DataString()), ESerializationError);
}

// Every registered data class, decorated with a custom item and (buffers) a
// stamp, comes back by its class name equal to the original.
TEST(StorageTest, EveryBufferClassRoundTripsByClassName) {
  const double v[6] = {1, 2, 3, 4, 5, 6};
  TIntfPtr<INXBooleanBuffer> bits = TNXBooleanBuffer::MakeSize(13);
  bits->Zero()->InvertBit(0)->InvertBit(12);
  const std::pair<const char*, TIntfPtr<INXData>> cases[] = {
      {"TNXBlockBuffer", TNXBlockBuffer::MakeArray({1, 2, 250, 0, 7})},
      {"TNXBooleanBuffer", bits},
      {"TNXRealBuffer", TNXRealBuffer::MakeArray({1.5, -2.0, 3.25})},
      {"TNXComplexBuffer", TNXComplexBuffer::MakeValue(1.5, -2.5, 3)},
      {"TNXIntegerBuffer", TNXIntegerBuffer::MakeArray({-7, 0, 2147483647})},
      {"TNXRealMatrixBuffer", TNXRealMatrixBuffer::MakeData(v, 2, 3)},
      {"TNXRealBufferList", TNXRealBufferList::MakeData({TNXRealBuffer::MakeArray({1.0, 2.0}), TNXRealBuffer::Make(),
                                                         TNXRealBuffer::MakeArray({9.0})})},
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
      EXPECT_TRUE(buffer->IsEqual(b));
      EXPECT_EQ(std::tuple(b->GetSize(), b->GetSequenceStamp()->GetBufferNumber()),
                std::tuple(buffer->GetSize(), buffer->GetSequenceStamp()->GetBufferNumber()));
    }
    if (auto array = Supports<INXRealBufferArray>(original.Get())) {  // the matrix and the list: shape and rows
      auto b = Supports<INXRealBufferArray>(back.Get());
      EXPECT_EQ(std::tuple(b->GetCount(), b->GetMaxSize()), std::tuple(array->GetCount(), array->GetMaxSize()));
      EXPECT_TRUE(array->IsEqualArray(b));
    }
    ASSERT_EQ(back->GetCustomCount(), 1);
    EXPECT_EQ(Supports<INXRealBuffer>(back->GetCustom(0))->GetItem(0), 5.0);
    // Every truncation of the form fails cleanly (the listener checks for leaks).
    for (std::size_t n = 0; n < bytes.size(); n += 7)
      EXPECT_ANY_THROW(NXDataObjectFromBytes(std::string_view(bytes).substr(0, n))) << "at " << n;
  }
}

TEST(StorageTest, BooleanBuffersCountBitsWhenLoadingAndReading) {
  TBytesStream s;
  const std::uint8_t bytes[3] = {0xFF, 0x01, 0x80};
  s.WriteBuffer(bytes, 3);
  s.SetPosition(1);
  TIntfPtr<INXBooleanBuffer> b = TNXBooleanBuffer::Make();
  b->LoadFromStream(s, true);  // two bytes left: 16 values
  ASSERT_EQ(b->GetSize(), 16);
  EXPECT_TRUE(b->GetItem(0));
  EXPECT_FALSE(b->GetItem(1));
  EXPECT_TRUE(b->GetItem(15));

  // A bit count that is not a whole number of bytes comes back exactly.
  TIntfPtr<INXBooleanBuffer> nine = TNXBooleanBuffer::MakeValue(9, true);
  std::string form = NXDataObjectToBytes(nine.Get());
  TIntfPtr<INXBooleanBuffer> back = Supports<INXBooleanBuffer>(NXDataObjectFromBytes(form));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetSize(), 9);
  EXPECT_TRUE(back->IsEqualToValue(true));
}

TEST(StorageTest, BitSetsSerialiseOnceRegistered) {
  TClassManagement::RegisterClasses({ClassEntry<TRGBits>("TRGBits")});
  IRGBits::TBits bits = TRGBits::MakeSize(13);
  bits->SetBit(0, true)->SetBit(12, true);
  TIntfPtr<INXData> back = NXDataObjectFromBytes(NXDataObjectToBytes(bits.Get()));
  TClassManagement::UnregisterClasses({"TRGBits"});
  IRGBits::TBits backBits = Supports<IRGBits>(back.Get());
  ASSERT_TRUE(backBits);
  EXPECT_TRUE(backBits->EqualsBits(bits));
}

}  // namespace
}  // namespace nx
