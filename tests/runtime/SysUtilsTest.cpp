// The runtime's exception messages, assertions and checked arithmetic at its boundaries.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nx {
namespace {

using nxtest::MessageOf;

TEST(FormatTest, FormatsLikePrintfAndRaisesFormattedMessages) {
  EXPECT_EQ(Format("%d-%s-%.3f", -3, "x", 1.0 / 3.0), "-3-x-0.333");
  const std::string longText(5000, 'k');  // longer than any stack buffer
  EXPECT_EQ(Format("[%s]", longText.c_str()), "[" + longText + "]");
  EXPECT_EQ(MessageOf<ERangeError>([] { RaiseRange("Row out of range = %u", 12u); }), "Row out of range = 12");
  EXPECT_EQ(MessageOf<ERangeError>([] { RaiseIndexOutOfRange(-1); }), "Index out of range = 4294967295");  // unsigned
  // An assertion names its unit and line; without a text it says what failed.
  EXPECT_EQ(MessageOf<EAssertionFailed>([] { RaiseAssertion("Cloning is not implemented for TFoo", "NXInternalStore", 589); }),
            "Cloning is not implemented for TFoo (NXInternalStore, line 589)");
  EXPECT_EQ(MessageOf<EAssertionFailed>([] { RaiseAssertion(nullptr, "Unit", 2); }), "Assertion failed (Unit, line 2)");
  EXPECT_EQ(std::string(EOutOfMemory().what()), "Out of memory");  // a default message names the fault
}

TEST(AssertionTest, MacrosNameThisFileAndLine) {
  int line = 0;
  const std::string plain = MessageOf<EAssertionFailed>([&] {
    line = __LINE__ + 1;
    NX_ASSERT(1 + 1 == 3);
  });
  EXPECT_EQ(plain, "Assertion failed (SysUtilsTest.cpp, line " + std::to_string(line) + ")");
  const std::string withMessage = MessageOf<EAssertionFailed>([&] {
    line = __LINE__ + 1;
    NX_ASSERT_MSG(false, "Assertion failure");
  });
  EXPECT_EQ(withMessage, "Assertion failure (SysUtilsTest.cpp, line " + std::to_string(line) + ")");
  int evaluations = 0;  // a true condition raises nothing and evaluates once
  EXPECT_NO_THROW(NX_ASSERT(++evaluations == 1));
  EXPECT_EQ(evaluations, 1);
  static_assert(std::string_view(detail_UnitName("a/b\\c/NXClockGen.cpp")) == "NXClockGen.cpp");
}

TEST(CheckedArithmeticTest, Signed32) {
  const struct { std::int32_t a, b; bool addOverflows, mulOverflows; } cases[] = {
      {INT32_MAX, 1, true, false},  {INT32_MIN, -1, true, true},   {46341, 46341, false, true},
      {46340, 46340, false, false}, {-46341, 46341, false, true}, {INT32_MIN, 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " " << c.b);
    if (c.addOverflows) EXPECT_THROW(CheckedAdd(c.a, c.b), EIntOverflow);
    else EXPECT_EQ(CheckedAdd(c.a, c.b), static_cast<std::int64_t>(c.a) + c.b);
    if (c.mulOverflows) EXPECT_THROW(CheckedMul(c.a, c.b), EIntOverflow);
    else EXPECT_EQ(CheckedMul(c.a, c.b), static_cast<std::int64_t>(c.a) * c.b);
  }
}

TEST(CheckedArithmeticTest, Unsigned32AndSigned64) {
  EXPECT_EQ(CheckedAddU(UINT32_MAX - 1, 1), UINT32_MAX);
  EXPECT_EQ(MessageOf<EIntOverflow>([] { CheckedAddU(UINT32_MAX, 1); }), "Integer overflow");
  EXPECT_EQ(CheckedSubU(5, 5), 0u);
  EXPECT_THROW(CheckedSubU(4, 5), EIntOverflow);
  EXPECT_EQ(CheckedMulU(65535, 65537), 4294967295u);
  EXPECT_THROW(CheckedMulU(65536, 65536), EIntOverflow);
  EXPECT_EQ(CheckedDivU(7, 2), 3u);
  EXPECT_THROW(CheckedDivU(7, 0), EDivByZero);
  EXPECT_EQ(CheckedAdd64(INT64_MAX - 5, 5), INT64_MAX);
  EXPECT_THROW(CheckedAdd64(INT64_MAX - 5, 6), EIntOverflow);
  EXPECT_THROW(CheckedAdd64(INT64_MIN, -1), EIntOverflow);
  EXPECT_EQ(CheckedSub64(-1, INT64_MAX), INT64_MIN);
  EXPECT_THROW(CheckedSub64(0, INT64_MIN), EIntOverflow);
  EXPECT_EQ(CheckedMul64(std::int64_t{1} << 31, std::int64_t{1} << 31), std::int64_t{1} << 62);
  EXPECT_THROW(CheckedMul64(std::int64_t{1} << 32, std::int64_t{1} << 31), EIntOverflow);
  EXPECT_THROW(CheckedMul64(INT64_MIN, -1), EIntOverflow);
}

}  // namespace
}  // namespace nx
