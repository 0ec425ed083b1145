// Zandor.Streams: byte streams. TStream is the abstract sequential/seekable
// stream that buffers are saved to and loaded from; TMemoryStream,
// TBytesStream and TStringStream keep the bytes in memory and TFileStream
// reads and writes a file.
//
// Common rules of every stream here:
// - sizes, positions and counts are signed 64-bit; arithmetic on them that
//   would overflow raises EIntOverflow instead of wrapping;
// - Read and Write move as many bytes as they can and return that number (a
//   count <= 0 moves nothing); ReadBuffer and WriteBuffer insist on the whole
//   count and raise EReadError / EWriteError otherwise;
// - the position may be set beyond the end: reading there returns 0 bytes and
//   writing there first fills the gap with zero bytes; a seek to a negative
//   position raises EStreamError and leaves the position alone;
// - SetSize keeps the position, except that a position beyond the new end
//   moves to the new end; growing fills the new bytes with zeros.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace nx {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

// Open modes of TFileStream. fmCreate creates the file, or truncates an
// existing one, and opens it for reading and writing.
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmCreate = 0xFF00;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Read up to `count` bytes at the position into `buffer`; returns the number read.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to `count` bytes at the position; returns the number written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position to `offset` from the origin; returns the new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  // The size in bytes. The base class finds it by seeking to the end and back.
  virtual std::int64_t Size();
  // Sets the size. The base class raises EStreamError: a stream that can
  // change its size overrides it.
  virtual void SetSize(std::int64_t newSize);

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }

  // Read or write exactly `count` bytes, else EReadError "Stream read error"
  // / EWriteError "Stream write error" (a negative count fails too). The
  // position then stands after whatever bytes did move.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);

  // Copies `count` bytes from `source` at its position to this stream at its
  // position. A count of 0 copies the whole source from its position 0; a
  // negative count raises EArgumentException. A source with fewer bytes
  // raises EReadError. Returns the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // Binary values in the machine's byte order.
  template <class T>
  void ReadValue(T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "ReadValue needs a trivially copyable type");
    ReadBuffer(&value, sizeof(T));
  }
  template <class T>
  T ReadValue() {
    static_assert(std::is_default_constructible_v<T>, "use ReadValue(T&) for this type");
    T value{};
    ReadValue(value);
    return value;
  }
  template <class T>
  void WriteValue(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "WriteValue needs a trivially copyable type");
    WriteBuffer(&value, sizeof(T));
  }
};

// A stream over a growable block of memory. The capacity grows
// geometrically, so writing byte by byte costs amortised constant time.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return FSize; }
  void SetSize(std::int64_t newSize) override;

  // The first byte (nullptr while nothing was ever allocated). Valid until the
  // next call that changes the size or capacity.
  void* Memory() const { return FMemory; }
  std::int64_t Capacity() const { return FCapacity; }
  // Reserves at least `capacity` bytes (never shrinks below the size).
  void SetCapacity(std::int64_t capacity);
  // Frees the memory: size, capacity and position 0.
  void Clear();

  // Replaces the contents with the whole of `source` (from its position 0);
  // the position is 0 afterwards.
  void LoadFromStream(TStream& source);
  // Writes the whole contents (regardless of the position) to `dest`.
  void SaveToStream(TStream& dest);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 private:
  void Reallocate(std::int64_t capacity);

  std::uint8_t* FMemory = nullptr;
  std::int64_t FSize = 0;
  std::int64_t FCapacity = 0;
  std::int64_t FPosition = 0;
};

namespace detail {
// A stream over a std::vector<uint8_t> or std::string whose length is
// always the stream size.
template <class TContainer>
class TContainerStream : public TStream {
 public:
  TContainerStream() = default;
  explicit TContainerStream(TContainer data) : FData(std::move(data)) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t newSize) override;

 protected:
  TContainer FData;
  std::int64_t FPosition = 0;
};
extern template class TContainerStream<std::vector<std::uint8_t>>;
extern template class TContainerStream<std::string>;
}  // namespace detail

// A stream over a byte vector; Bytes() has exactly Size() bytes.
class TBytesStream : public detail::TContainerStream<std::vector<std::uint8_t>> {
 public:
  TBytesStream() = default;
  // Starts with these bytes, position 0.
  explicit TBytesStream(std::vector<std::uint8_t> bytes) : TContainerStream(std::move(bytes)) {}
  const std::vector<std::uint8_t>& Bytes() const { return FData; }
  void* Memory() { return FData.data(); }
};

// A stream over a string of bytes; DataString() has exactly Size() bytes.
class TStringStream : public detail::TContainerStream<std::string> {
 public:
  TStringStream() = default;
  // Starts with these bytes, position 0.
  explicit TStringStream(std::string data) : TContainerStream(std::move(data)) {}
  const std::string& DataString() const { return FData; }
  // Reads up to `count` bytes at the position (fewer at the end).
  std::string ReadString(std::int64_t count);
  // Writes the bytes of `text` at the position.
  void WriteString(std::string_view text) { WriteBuffer(text.data(), static_cast<std::int64_t>(text.size())); }
};

// A stream over a file, through a POSIX file descriptor (64-bit offsets).
// Opening fails with EFOpenError "Cannot open file \"<name>\". <reason>";
// fmCreate fails with EFCreateError "Cannot create file \"<name>\". <reason>".
// Read and Write raise EReadError / EWriteError with the reason when the
// system reports an error (as opposed to the end of the file).
class TFileStream : public TStream {
 public:
  // `rights` are the permission bits of a file that fmCreate makes (before the umask).
  TFileStream(const std::string& fileName, std::uint16_t mode, std::uint32_t rights = 0666);
  ~TFileStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t newSize) override;

  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

 private:
  std::string FFileName;
  int FHandle = -1;
};

}  // namespace nx
