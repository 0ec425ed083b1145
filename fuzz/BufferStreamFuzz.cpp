// Fuzz target of the buffer readers: the serialised form read back as a data
// object by its class name, and the raw-byte LoadFromStream of a real
// buffer. Damaged input must end in the reader's ESerializationError, the
// stream's EReadError or EClassNotFound (anything else escapes and counts as
// a finding); an object that does load must write the same form again after
// one pass and read back equal.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/Zandor.ClassManagement.h"
#include "runtime/Zandor.Serialization.h"

using namespace nx;

namespace {

void Serialised(const std::uint8_t* data, std::size_t size) {
  // Most inputs get the signature in front, so that the fuzzer spends its
  // time behind it; a first byte of 0xA5 passes the input as it is.
  std::string bytes;
  if (size > 0 && data[0] == 0xA5) {
    bytes.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  } else {
    bytes.assign("NXSF\x01", 5);
    bytes.append(reinterpret_cast<const char*>(data), size);
  }
  TIntfPtr<INXData> obj;
  try {
    obj = NXDataObjectFromBytes(bytes);
  } catch (const ESerializationError&) {
    return;
  } catch (const EStreamError&) {
    return;
  } catch (const EClassNotFound&) {
    return;
  }
  const std::string once = NXDataObjectToBytes(obj.Get());
  TIntfPtr<INXData> back = NXDataObjectFromBytes(once);
  if (NXDataObjectToBytes(back.Get()) != once) __builtin_trap();
  TIntfPtr<INXDataBuffer> a = Supports<INXDataBuffer>(obj), b = Supports<INXDataBuffer>(back);
  if (a && (!b || !a->IsEqual(b))) __builtin_trap();
}

void Raw(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  // The first byte picks resizing and the starting size of the buffer.
  const bool resize = data[0] & 1;
  const std::uint32_t start = data[0] >> 1;
  TIntfPtr<INXRealBuffer> buffer = TNXRealBuffer::MakeValue(-1.0, start);
  TBytesStream stream(std::vector<std::uint8_t>(data + 1, data + size));
  const std::size_t left = size - 1;
  try {
    buffer->LoadFromStream(stream, resize);
  } catch (const EReadError&) {
    // Only a stream shorter than the buffer fails, keeping what it read.
    if (resize || left >= start * sizeof(double)) __builtin_trap();
    if (left > 0 && std::memcmp(buffer->Read(), data + 1, left) != 0) __builtin_trap();
    return;
  }
  const std::size_t expected = resize ? left / sizeof(double) : start;
  if (static_cast<std::size_t>(buffer->GetSize()) != expected) __builtin_trap();
  if (expected > 0 && std::memcmp(buffer->Read(), data + 1, expected * sizeof(double)) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Serialised(data, size);
  Raw(data, size);
  return 0;
}
