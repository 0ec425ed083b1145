// Zandor.Streams: the stream classes. The memory-based streams share the seek
// and read rules through the helpers below; TFileStream maps them onto a
// POSIX file descriptor.
#include "runtime/Zandor.Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "runtime/SysUtils.h"

namespace nx {

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

namespace {

// The position a seek leads to; raises EIntOverflow / EStreamError for a
// target that overflows or is negative.
std::int64_t SeekTarget(std::int64_t offset, TSeekOrigin origin, std::int64_t position,
                        std::int64_t size) {
  std::int64_t base = 0;
  switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = position; break;
    case soEnd: base = size; break;
    default: throw EArgumentException(Format("Invalid seek origin %d", static_cast<int>(origin)));
  }
  const std::int64_t target = CheckedAdd64(base, offset);
  if (target < 0)
    throw EStreamError(Format("Seek to a negative position (%lld)", static_cast<long long>(target)));
  return target;
}

void CheckNewSize(std::int64_t newSize) {
  if (newSize < 0)
    throw EStreamError(Format("Invalid stream size (%lld)", static_cast<long long>(newSize)));
}

// Bytes available for a read of `count` at `position` in a stream of `size`.
std::int64_t ReadableCount(std::int64_t count, std::int64_t position, std::int64_t size) {
  if (count <= 0 || position >= size) return 0;
  return std::min(count, size - position);
}

// Largest chunk handed to one read()/write() call (Linux moves at most about 2 GiB anyway).
constexpr std::int64_t kMaxIoChunk = std::int64_t{1} << 30;

}  // namespace

// ------------------------------------------------------------------ TStream

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count == 0) return;
  if (count < 0 || Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count == 0) return;
  if (count < 0 || Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count < 0)
    throw EArgumentException(Format("Invalid copy count (%lld)", static_cast<long long>(count)));
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr std::int64_t kChunk = 64 * 1024;
  const std::int64_t chunk = std::min(count, kChunk);
  if (chunk == 0) return 0;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[static_cast<std::size_t>(chunk)]);
  for (std::int64_t left = count; left > 0;) {
    const std::int64_t n = std::min(left, chunk);
    source.ReadBuffer(buffer.get(), n);
    WriteBuffer(buffer.get(), n);
    left -= n;
  }
  return count;
}

// ------------------------------------------------------------ TMemoryStream

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::Reallocate(std::int64_t capacity) {
  if (capacity == FCapacity) return;
  if (capacity == 0) {
    std::free(FMemory);
    FMemory = nullptr;
    FCapacity = 0;
    return;
  }
  if (static_cast<std::uint64_t>(capacity) > static_cast<std::uint64_t>(PTRDIFF_MAX))
    throw EOutOfMemory();
  void* memory = std::realloc(FMemory, static_cast<std::size_t>(capacity));
  if (!memory) throw EOutOfMemory();
  FMemory = static_cast<std::uint8_t*>(memory);
  FCapacity = capacity;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t n = ReadableCount(count, FPosition, FSize);
  if (n == 0) return 0;
  std::memcpy(buffer, FMemory + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t end = CheckedAdd64(FPosition, count);
  if (end > FSize) {
    if (end > FCapacity) {
      // Geometric growth keeps repeated small writes amortised O(1).
      std::int64_t grown = FCapacity <= INT64_MAX / 2 ? FCapacity * 2 : INT64_MAX;
      Reallocate(std::max({end, grown, std::int64_t{256}}));
    }
    if (FPosition > FSize)
      std::memset(FMemory + FSize, 0, static_cast<std::size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(FMemory + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition, FSize);
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
  CheckNewSize(newSize);
  if (newSize > FCapacity) Reallocate(newSize);
  if (newSize > FSize) std::memset(FMemory + FSize, 0, static_cast<std::size_t>(newSize - FSize));
  FSize = newSize;
  if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::SetCapacity(std::int64_t capacity) {
  Reallocate(std::max(capacity, FSize));
}

void TMemoryStream::Clear() {
  Reallocate(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t size = source.Size();
  SetSize(size);
  FPosition = 0;
  if (size > 0) source.ReadBuffer(FMemory, size);
}

void TMemoryStream::SaveToStream(TStream& dest) {
  if (FSize > 0) dest.WriteBuffer(FMemory, FSize);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

// ------------------------------------------------ TBytesStream, TStringStream

namespace detail {

template <class TContainer>
std::int64_t TContainerStream<TContainer>::Read(void* buffer, std::int64_t count) {
  const std::int64_t n = ReadableCount(count, FPosition, Size());
  if (n == 0) return 0;
  std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

template <class TContainer>
std::int64_t TContainerStream<TContainer>::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t end = CheckedAdd64(FPosition, count);
  if (end > Size()) SetSize(end);  // zero-fills a gap before the position
  std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition = end;
  return count;
}

template <class TContainer>
std::int64_t TContainerStream<TContainer>::Seek(std::int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition, Size());
  return FPosition;
}

template <class TContainer>
void TContainerStream<TContainer>::SetSize(std::int64_t newSize) {
  CheckNewSize(newSize);
  try {
    // The containers grow their capacity geometrically on their own.
    FData.resize(static_cast<typename TContainer::size_type>(newSize));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
  if (FPosition > newSize) FPosition = newSize;
}

template class TContainerStream<std::vector<std::uint8_t>>;
template class TContainerStream<std::string>;

}  // namespace detail

std::string TStringStream::ReadString(std::int64_t count) {
  std::string text(static_cast<std::size_t>(ReadableCount(count, FPosition, Size())), '\0');
  Read(text.data(), static_cast<std::int64_t>(text.size()));
  return text;
}

// -------------------------------------------------------------- TFileStream

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode, std::uint32_t rights)
    : FFileName(fileName) {
  if ((mode & fmCreate) == fmCreate) {
    FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(rights));
    if (FHandle < 0)
      throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(),
                                 SysErrorMessage(errno).c_str()));
    return;
  }
  int flags;
  switch (mode & 0x3) {
    case fmOpenRead: flags = O_RDONLY; break;
    case fmOpenWrite: flags = O_WRONLY; break;
    case fmOpenReadWrite: flags = O_RDWR; break;
    default:
      throw EFOpenError(Format("Cannot open file \"%s\". Invalid open mode 0x%04X", fileName.c_str(),
                               static_cast<unsigned>(mode)));
  }
  FHandle = ::open(fileName.c_str(), flags | O_CLOEXEC);
  if (FHandle < 0)
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(),
                             SysErrorMessage(errno).c_str()));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t total = 0;
  while (total < count) {
    const ssize_t n = ::read(FHandle, out + total, static_cast<std::size_t>(std::min(count - total, kMaxIoChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError(Format("Stream read error. %s", SysErrorMessage(errno).c_str()));
    }
    if (n == 0) break;  // end of file
    total += n;
  }
  return total;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::int64_t total = 0;
  while (total < count) {
    const ssize_t n = ::write(FHandle, in + total, static_cast<std::size_t>(std::min(count - total, kMaxIoChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWriteError(Format("Stream write error. %s", SysErrorMessage(errno).c_str()));
    }
    if (n == 0) break;
    total += n;
  }
  return total;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const auto seek = [this](off_t target, int whence) -> std::int64_t {
    const off_t position = ::lseek(FHandle, target, whence);
    if (position < 0)
      throw EStreamError(Format("Cannot seek in file \"%s\". %s", FFileName.c_str(),
                                SysErrorMessage(errno).c_str()));
    return position;
  };
  if (origin == soCurrent && offset == 0) return seek(0, SEEK_CUR);  // Position()
  // The target is computed here so that overflow and negative targets fail
  // the same way as in the other streams, before the file position moves.
  const std::int64_t current = origin == soCurrent ? seek(0, SEEK_CUR) : 0;
  const std::int64_t size = origin == soEnd ? Size() : 0;
  return seek(static_cast<off_t>(SeekTarget(offset, origin, current, size)), SEEK_SET);
}

std::int64_t TFileStream::Size() {
  struct stat info;
  if (::fstat(FHandle, &info) != 0)
    throw EStreamError(Format("Cannot get the size of file \"%s\". %s", FFileName.c_str(),
                              SysErrorMessage(errno).c_str()));
  return info.st_size;
}

void TFileStream::SetSize(std::int64_t newSize) {
  CheckNewSize(newSize);
  const std::int64_t position = Position();
  int rc;
  do {
    rc = ::ftruncate(FHandle, static_cast<off_t>(newSize));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0)
    throw EStreamError(Format("Cannot set the size of file \"%s\". %s", FFileName.c_str(),
                              SysErrorMessage(errno).c_str()));
  if (position > newSize) Seek(newSize, soBeginning);
}

}  // namespace nx
