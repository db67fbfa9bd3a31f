#include "base/ascii_text.h"

#include <gtest/gtest.h>

#include <string_view>

namespace kelvrin::base {
namespace {

int sign(int value) {
  return (value > 0) - (value < 0);
}

struct OrderCase {
  std::string_view a;
  std::string_view b;
  int order;  // -1, 0 or 1
};

class FoldingAsciiTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(FoldingAsciiTest, OrdersByFoldedBytesAndAgreesWithEquality) {
  const OrderCase& c = GetParam();
  EXPECT_EQ(sign(compareFoldingAscii(c.a, c.b)), c.order);
  EXPECT_EQ(sign(compareFoldingAscii(c.b, c.a)), -c.order);
  EXPECT_EQ(equalFoldingAscii(c.a, c.b), c.order == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FoldingAsciiTest,
    ::testing::Values(OrderCase{"ABC", "abc", 0}, OrderCase{"KVmain", "kvMAIN", 0},
                      OrderCase{"", "", 0}, OrderCase{"abc", "abd", -1}, OrderCase{"ab", "abc", -1},
                      OrderCase{"", "a", -1},
                      // Letters fold to lower case, so "[" and "_" (between the
                      // upper and the lower letters) sort before every letter.
                      OrderCase{"[", "A", -1}, OrderCase{"Z", "_", 1},
                      // Bytes above 127 are unsigned, after ASCII, and never folded.
                      OrderCase{"\xe9", "z", 1}, OrderCase{"\xc9", "\xe9", -1},
                      OrderCase{std::string_view("a\0b", 3), std::string_view("A\0B", 3), 0}));

}  // namespace
}  // namespace kelvrin::base
