// Streams: the shared rules once per stream class, then each class's own behaviour and the base class.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nx {
namespace {

using nxtest::MessageOf;

// A unique temporary file, removed when the test ends.
struct TTempFile {
  std::string Name = [] {
    std::string pattern = ::testing::TempDir() + "nxstream-XXXXXX";
    ::close(::mkstemp(pattern.data()));
    return pattern;
  }();
  ~TTempFile() { ::unlink(Name.c_str()); }
};

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 131u + seed * 7u) ^ (i >> 8));
  return v;
}

std::vector<std::uint8_t> ReadAll(TStream& s) {
  s.SetPosition(0);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(s.Size()));
  s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}

struct StreamKind {
  const char* name;
  std::function<std::unique_ptr<TStream>(const std::string& tempFile)> make;
};

class StreamRulesTest : public ::testing::TestWithParam<StreamKind> {
 protected:
  void SetUp() override { FStream = GetParam().make(FFile.Name); }
  TStream& S() { return *FStream; }
  TTempFile FFile;
  std::unique_ptr<TStream> FStream;
};

TEST_P(StreamRulesTest, WriteReadAndSeek) {
  EXPECT_EQ(S().Write("hello", 5), 5);
  EXPECT_EQ(S().Write(" world", 6), 6);
  char buf[32] = {};
  EXPECT_EQ(S().Seek(0, soBeginning), 0);
  EXPECT_EQ(S().Read(buf, 32), 11);  // short read at the end
  EXPECT_EQ(std::string(buf, 11), "hello world");
  EXPECT_EQ(S().Read(buf, 4), 0);  // at the end
  EXPECT_EQ(S().Seek(-5, soEnd), 6);
  EXPECT_EQ(S().Read(buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(S().Seek(-6, soCurrent), 5);
  // Overwrite in the middle keeps the size.
  S().SetPosition(0);
  EXPECT_EQ(S().Write("J", 1), 1);
  // Zero and negative counts move nothing.
  EXPECT_EQ(S().Read(buf, -3), 0);
  EXPECT_EQ(S().Write(buf, -3), 0);
  EXPECT_EQ(S().Position(), 1);
  const auto all = ReadAll(S());
  EXPECT_EQ(std::string(all.begin(), all.end()), "Jello world");
  // Seek errors leave the position alone.
  S().SetPosition(3);
  EXPECT_THROW(S().Seek(-1, soBeginning), EStreamError);
  EXPECT_THROW(S().Seek(-12, soEnd), EStreamError);
  EXPECT_THROW(S().Seek(INT64_MAX, soCurrent), EIntOverflow);
  EXPECT_EQ(S().Position(), 3);
}

TEST_P(StreamRulesTest, GapsAndSetSizeFillWithZerosAndClampThePosition) {
  S().WriteBuffer("ab", 2);
  EXPECT_EQ(S().Seek(10, soBeginning), 10);  // beyond the end is allowed
  EXPECT_EQ(S().Size(), 2);
  char c;
  EXPECT_EQ(S().Read(&c, 1), 0);
  S().WriteBuffer("z", 1);
  EXPECT_EQ(ReadAll(S()), (std::vector<std::uint8_t>{'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 'z'}));
  const auto data = Pattern(100);
  S().SetPosition(0);
  S().WriteBuffer(data.data(), 100);
  S().SetPosition(40);
  S().SetSize(60);  // position inside: kept
  EXPECT_EQ(S().Position(), 40);
  S().SetSize(30);  // position beyond: moved to the new end
  EXPECT_EQ(S().Position(), 30);
  S().SetSize(50);  // growth: zeros
  std::vector<std::uint8_t> expected(data.begin(), data.begin() + 30);
  expected.resize(50, 0);
  EXPECT_EQ(ReadAll(S()), expected);
  EXPECT_THROW(S().SetSize(-1), EStreamError);
  EXPECT_EQ(S().Size(), 50);
}

TEST_P(StreamRulesTest, ShortReadBufferRaisesReadError) {
  S().WriteBuffer("1234", 4);
  S().SetPosition(0);
  char buf[8];
  S().ReadBuffer(buf, 4);  // exact: fine
  S().SetPosition(1);
  EXPECT_EQ(MessageOf<EReadError>([&] { S().ReadBuffer(buf, 4); }), "Stream read error");
  S().SetPosition(0);
  EXPECT_THROW(S().ReadBuffer(buf, -1), EReadError);
  EXPECT_THROW(S().WriteBuffer(buf, -1), EWriteError);
}

TEST_P(StreamRulesTest, CopyFromWholeSourceOrCountedPart) {
  const auto data = Pattern(200000, 3);  // several copy chunks
  TMemoryStream source;
  source.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  // Count 0: the whole source from position 0, wherever its position stands.
  source.SetPosition(12345);
  EXPECT_EQ(S().CopyFrom(source, 0), 200000);
  EXPECT_EQ(source.Position(), 200000);
  EXPECT_EQ(ReadAll(S()), data);
  // A counted copy starts at the source's position and appends at ours.
  S().SetSize(0);
  S().WriteBuffer("x", 1);
  source.SetPosition(100);
  EXPECT_EQ(S().CopyFrom(source, 70000), 70000);
  EXPECT_EQ(source.Position(), 70100);
  auto expected = std::vector<std::uint8_t>{'x'};
  expected.insert(expected.end(), data.begin() + 100, data.begin() + 70100);
  EXPECT_EQ(ReadAll(S()), expected);
  // More than the source holds.
  source.SetPosition(199990);
  EXPECT_THROW(S().CopyFrom(source, 11), EReadError);
  EXPECT_THROW(S().CopyFrom(source, -1), EArgumentException);
}

std::vector<StreamKind> AllKinds() {
  return {
      {"Memory", [](const std::string&) { return std::make_unique<TMemoryStream>(); }},
      {"Bytes", [](const std::string&) { return std::make_unique<TBytesStream>(); }},
      {"String", [](const std::string&) { return std::make_unique<TStringStream>(); }},
      {"File", [](const std::string& f) { return std::make_unique<TFileStream>(f, fmCreate); }},
  };
}

INSTANTIATE_TEST_SUITE_P(AllStreams, StreamRulesTest, ::testing::ValuesIn(AllKinds()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryStreamTest, GrowsGeometricallyAndKeepsItsCapacityAboveTheSize) {
  TMemoryStream s;
  int reallocations = 0;
  std::int64_t lastCapacity = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::uint8_t b = static_cast<std::uint8_t>(i);
    s.WriteBuffer(&b, 1);
    if (s.Capacity() != lastCapacity) {
      ++reallocations;
      EXPECT_GE(s.Capacity(), s.Size());
      lastCapacity = s.Capacity();
    }
  }
  EXPECT_LT(reallocations, 20);  // doubling from 256 needs about 9
  s.Clear();
  EXPECT_EQ(s.Memory(), nullptr);
  s.Seek(INT64_MAX - 2, soBeginning);
  EXPECT_THROW(s.Write("abcd", 4), EIntOverflow);  // the end would wrap
  EXPECT_EQ(s.Size(), 0);
  // The capacity never drops below the size.
  s.SetPosition(0);
  s.SetCapacity(1000);
  const auto data = Pattern(600);
  s.WriteBuffer(data.data(), 600);
  EXPECT_EQ(s.Capacity(), 1000);  // no reallocation within the reserve
  s.SetCapacity(10);
  EXPECT_EQ(s.Capacity(), 600);
  EXPECT_EQ(ReadAll(s), data);
  // Shrinking then regrowing the size exposes zeros, not the old bytes.
  s.SetSize(10);
  s.SetSize(20);
  const auto back = ReadAll(s);
  EXPECT_EQ(std::vector<std::uint8_t>(back.begin() + 10, back.end()), std::vector<std::uint8_t>(10, 0));
}

TEST(MemoryStreamTest, LoadAndSaveThroughStreamsAndFiles) {
  const auto data = Pattern(5000, 9);
  TBytesStream source(data);
  source.SetPosition(4000);
  TMemoryStream m;
  m.WriteBuffer("old contents that must go", 25);
  m.LoadFromStream(source);  // from the source's start
  EXPECT_EQ(m.Position(), 0);
  EXPECT_EQ(std::memcmp(m.Memory(), data.data(), data.size()), 0);
  m.SetPosition(123);  // SaveToStream writes everything regardless
  TStringStream dest;
  m.SaveToStream(dest);
  EXPECT_EQ(dest.DataString(), std::string(data.begin(), data.end()));
  TTempFile file;
  m.SaveToFile(file.Name);
  TMemoryStream loaded;
  loaded.LoadFromFile(file.Name);
  EXPECT_EQ(ReadAll(loaded), data);
  m.SetSize(2);  // saving fewer bytes replaces the file, not just its beginning
  m.SaveToFile(file.Name);
  loaded.LoadFromFile(file.Name);
  EXPECT_EQ(loaded.Size(), 2);
}

TEST(BytesAndStringStreamTest, ContainersHoldExactlyTheStreamBytes) {
  TBytesStream b(std::vector<std::uint8_t>{1, 2, 3});
  b.Seek(0, soEnd);
  b.WriteBuffer("\x04\x05", 2);
  EXPECT_EQ(b.Bytes(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  b.SetSize(2);
  EXPECT_EQ(b.Bytes(), (std::vector<std::uint8_t>{1, 2}));
  TStringStream s(std::string("abc\0def", 7));
  EXPECT_EQ(s.ReadString(2), "ab");
  EXPECT_EQ(s.ReadString(100), std::string("c\0def", 5));  // embedded zero kept
  EXPECT_EQ(s.ReadString(1), "");
  s.SetPosition(1);
  s.WriteString("XY");
  EXPECT_EQ(s.DataString(), std::string("aXY\0def", 7));
}

TEST(FileStreamTest, OpenModesControlAccess) {
  TTempFile file;
  {
    TFileStream w(file.Name, fmCreate);
    w.WriteBuffer("0123456789", 10);
  }
  {
    TFileStream r(file.Name, fmOpenRead);
    char buf[4];
    r.Seek(6, soBeginning);
    r.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_THROW(r.WriteBuffer("x", 1), EWriteError);
  }
  {
    TFileStream w(file.Name, fmOpenWrite);  // no truncation
    w.Seek(2, soBeginning);
    w.WriteBuffer("ab", 2);
    char c;
    EXPECT_THROW(w.Read(&c, 1), EReadError);
  }
  {
    TFileStream rw(file.Name, fmOpenReadWrite);
    rw.Seek(0, soEnd);
    rw.WriteBuffer("!", 1);
    EXPECT_EQ(ReadAll(rw), (std::vector<std::uint8_t>{'0', '1', 'a', 'b', '4', '5', '6', '7', '8', '9', '!'}));
  }
}

TEST(FileStreamTest, FailedOpensNameTheFileAndTheReason) {
  TTempFile file;
  const std::string missing = file.Name + "-missing";
  EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(missing, fmOpenRead); }),
            "Cannot open file \"" + missing + "\". " + SysErrorMessage(ENOENT));
  const std::string inMissingDir = file.Name + "-dir/file";
  EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream s(inMissingDir, fmCreate); }),
            "Cannot create file \"" + inMissingDir + "\". " + SysErrorMessage(ENOENT));
  EXPECT_THROW(TFileStream(file.Name, 0x0003), EFOpenError);
  EXPECT_NE(SysErrorMessage(ENOENT), SysErrorMessage(EACCES));  // the system's text for each code
}

TEST(FileStreamTest, SizesAndPositionsBeyond4GiB) {
  TTempFile file;
  TFileStream s(file.Name, fmCreate);
  const std::int64_t big = (std::int64_t{5} << 30) + 7;  // sparse: no real disk use
  s.SetSize(big);
  EXPECT_EQ(s.Seek(-3, soEnd), big - 3);
  s.WriteBuffer("end", 3);
  EXPECT_EQ(s.Seek(big - 4, soBeginning), big - 4);
  char buf[4];
  s.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), std::string("\0end", 4));
  s.SetSize(1);
  EXPECT_EQ(s.Position(), 1);
}

// Takes at most `limit` bytes and has only the three primitives: the base class does the rest.
class TLimitedStream : public TStream {
 public:
  explicit TLimitedStream(std::int64_t limit) : FLimit(limit) {}
  std::int64_t Read(void* buffer, std::int64_t count) override { return FData.Read(buffer, count); }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t room = std::max<std::int64_t>(0, FLimit - FData.Position());
    return FData.Write(buffer, std::min(count, room));
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return FData.Seek(offset, origin); }

 private:
  TMemoryStream FData;
  std::int64_t FLimit;
};

TEST(StreamBaseTest, ShortWriteRaisesWriteErrorAndBaseSizeSeeks) {
  TLimitedStream s(4);
  s.WriteBuffer("abc", 3);
  EXPECT_EQ(MessageOf<EWriteError>([&] { s.WriteBuffer("defg", 4); }), "Stream write error");
  s.SetPosition(1);
  EXPECT_EQ(s.Size(), 4);  // seeks to the end and back
  EXPECT_EQ(s.Position(), 1);
  EXPECT_THROW(s.SetSize(2), EStreamError);
  // CopyFrom into a stream that fills up stops with a write error.
  TStringStream source(std::string(10, 'q'));
  s.SetPosition(0);
  EXPECT_THROW(s.CopyFrom(source, 0), EWriteError);
}

}  // namespace
}  // namespace nx
