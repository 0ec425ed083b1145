// SysUtils: formatting helpers and the raising side of the runtime's checks.
#include "runtime/SysUtils.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace nx {

std::string FormatV(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = FormatV(fmt, args);
  va_end(args);
  return out;
}

void RaiseIndexOutOfRange(std::int32_t AIndex) {
  RaiseRange("Index out of range = %u", static_cast<unsigned>(AIndex));
}

void RaiseRange(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string message = FormatV(fmt, args);
  va_end(args);
  throw ERangeError(std::move(message));
}

void RaiseAssertion(const char* message, const char* unit, int line) {
  const std::string text = (message && *message) ? message : "Assertion failed";
  throw EAssertionFailed(Format("%s (%s, line %d)", text.c_str(), unit, line));
}

std::int32_t CheckedAdd(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::int32_t CheckedMul(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::uint32_t CheckedAddU(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::uint32_t CheckedSubU(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::uint32_t CheckedMulU(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::uint32_t CheckedDivU(std::uint32_t a, std::uint32_t b) {
  if (b == 0) throw EDivByZero();
  return a / b;
}

std::int64_t CheckedAdd64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::int64_t CheckedSub64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
std::int64_t CheckedMul64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

std::string SysErrorMessage(int errorCode) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in `buffer`.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return std::string(strerror_r(errorCode, buffer, sizeof buffer));
#else
  if (strerror_r(errorCode, buffer, sizeof buffer) != 0) return Format("System error %d", errorCode);
  return std::string(buffer);
#endif
}

}  // namespace nx
