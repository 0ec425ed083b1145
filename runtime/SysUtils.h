// SysUtils: the exception classes of the runtime and the checks that raise
// them. Range errors carry formatted messages ("Index out of range = %u"),
// failed preconditions name the source unit and line, and arithmetic faults
// (integer overflow, division by zero) and allocation failures have their own
// classes so that callers can tell them apart.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace nx {

// Formats like printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// Base of every exception the library raises; what() returns Message().
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }

 private:
  std::string FMessage;
};

// Declares an exception class deriving from Base with the given default
// message; every class also takes an explicit message.
#define NX_DECLARE_EXCEPTION(Name, Base, DefaultMessage)              \
  class Name : public Base {                                          \
   public:                                                            \
    Name() : Base(DefaultMessage) {}                                  \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  };

NX_DECLARE_EXCEPTION(EExternal, Exception, "External exception")
NX_DECLARE_EXCEPTION(EIntError, EExternal, "Integer error")
NX_DECLARE_EXCEPTION(EMathError, EExternal, "Floating point error")
NX_DECLARE_EXCEPTION(ERangeError, EIntError, "Range check error")
NX_DECLARE_EXCEPTION(EIntOverflow, EIntError, "Integer overflow")
NX_DECLARE_EXCEPTION(EDivByZero, EIntError, "Division by zero")
NX_DECLARE_EXCEPTION(EOutOfMemory, Exception, "Out of memory")
NX_DECLARE_EXCEPTION(EAssertionFailed, Exception, "Assertion failed")
NX_DECLARE_EXCEPTION(EConvertError, Exception, "Conversion error")
NX_DECLARE_EXCEPTION(EArgumentException, Exception, "Invalid argument")
NX_DECLARE_EXCEPTION(EInvalidOperation, Exception, "Invalid operation")
NX_DECLARE_EXCEPTION(EListError, Exception, "List index out of bounds")
NX_DECLARE_EXCEPTION(EStreamError, Exception, "Stream error")
NX_DECLARE_EXCEPTION(EReadError, EStreamError, "Stream read error")
NX_DECLARE_EXCEPTION(EWriteError, EStreamError, "Stream write error")
NX_DECLARE_EXCEPTION(EFOpenError, EStreamError, "Cannot open file")
NX_DECLARE_EXCEPTION(EFCreateError, EStreamError, "Cannot create file")

// Raises ERangeError with a printf-style message: RaiseRange("Index out of range = %u", i).
[[noreturn]] void RaiseRange(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Raises ERangeError "Index out of range = %u" with AIndex (a negative index
// shows as its unsigned value), the error of every indexed access.
[[noreturn]] void RaiseIndexOutOfRange(std::int32_t AIndex);

// Raises EAssertionFailed: "<message> (<unit>, line <line>)", or
// "Assertion failed (<unit>, line <line>)" for an empty message.
[[noreturn]] void RaiseAssertion(const char* message, const char* unit, int line);

// Checked 32-bit arithmetic: raise EIntOverflow / EDivByZero instead of wrapping.
std::int32_t CheckedAdd(std::int32_t a, std::int32_t b);
std::int32_t CheckedMul(std::int32_t a, std::int32_t b);
std::uint32_t CheckedAddU(std::uint32_t a, std::uint32_t b);
std::uint32_t CheckedSubU(std::uint32_t a, std::uint32_t b);
std::uint32_t CheckedMulU(std::uint32_t a, std::uint32_t b);
std::uint32_t CheckedDivU(std::uint32_t a, std::uint32_t b);
// Checked signed 64-bit arithmetic (stream sizes and positions).
std::int64_t CheckedAdd64(std::int64_t a, std::int64_t b);
std::int64_t CheckedSub64(std::int64_t a, std::int64_t b);
std::int64_t CheckedMul64(std::int64_t a, std::int64_t b);

// The system's text for an errno value ("No such file or directory");
// thread-safe.
std::string SysErrorMessage(int errorCode);

}  // namespace nx

// A precondition check that stays on in optimised builds and names the source
// file and line when it fails.
#define NX_ASSERT(cond)                                                      \
  do {                                                                       \
    if (!(cond)) ::nx::RaiseAssertion("", ::nx::detail_UnitName(__FILE__), __LINE__); \
  } while (0)
#define NX_ASSERT_MSG(cond, msg)                                                \
  do {                                                                          \
    if (!(cond)) ::nx::RaiseAssertion((msg), ::nx::detail_UnitName(__FILE__), __LINE__); \
  } while (0)

namespace nx {
// The unit name of a source path: its file name without folders.
constexpr const char* detail_UnitName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}
}  // namespace nx
