#include "base/rounding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kelvrin::base {
namespace {

struct RoundingCase {
  std::int64_t numerator;
  std::int64_t denominator;
  std::int64_t expected;
};

class RoundHalfEvenTest : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(RoundHalfEvenTest, GivesTheNearestIntegerAndTiesToEven) {
  EXPECT_EQ(roundHalfEven(GetParam().numerator, GetParam().denominator), GetParam().expected)
      << GetParam().numerator << " / " << GetParam().denominator;
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Table, RoundHalfEvenTest,
    ::testing::Values(
        // Ties go to the even neighbour, on both sides of zero.
        RoundingCase{125, 10, 12}, RoundingCase{135, 10, 14}, RoundingCase{100, 40, 2},
        RoundingCase{-125, 10, -12}, RoundingCase{-135, 10, -14}, RoundingCase{5, 10, 0},
        RoundingCase{-5, 10, 0}, RoundingCase{15, 10, 2},
        // Off a tie: the nearer integer, away from zero for negatives too.
        RoundingCase{126, 10, 13}, RoundingCase{124, 10, 12}, RoundingCase{-126, 10, -13},
        RoundingCase{-124, 10, -12}, RoundingCase{2, 3, 1}, RoundingCase{-2, 3, -1},
        RoundingCase{1, 3, 0},
        // A negative denominator is the same as negating both.
        RoundingCase{125, -10, -12}, RoundingCase{-126, -10, 13}, RoundingCase{2, -3, -1},
        // Exact quotients and zero.
        RoundingCase{0, 7, 0}, RoundingCase{700, 7, 100}, RoundingCase{-700, 7, -100},
        // Near the type's limits, where doubling the rest would overflow.
        RoundingCase{kMax - 1, kMax, 1}, RoundingCase{kMax / 2, kMax, 0},
        RoundingCase{kMax, 2, kMax / 2 + 1}, RoundingCase{-kMax, 2, -(kMax / 2 + 1)}));

}  // namespace
}  // namespace kelvrin::base
