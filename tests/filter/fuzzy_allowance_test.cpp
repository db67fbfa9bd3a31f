#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "filter/spam_scoring.h"

namespace kelvrin::filter {
namespace {

struct AllowanceCase {
  const char* name;
  int level;
  std::size_t length;
  int expected;
};

class FuzzyAllowanceExamples : public ::testing::TestWithParam<AllowanceCase> {};

TEST_P(FuzzyAllowanceExamples, RoundsLikeTheExtendedComputation) {
  const auto& c = GetParam();
  EXPECT_EQ(FuzzyAllowance(c.level, c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FuzzyAllowanceExamples,
                         ::testing::Values(
                             // The constant lies below 0.005: these halves round down.
                             AllowanceCase{"Level10Length30JustBelowAHalf", 10, 30, 1},
                             AllowanceCase{"Level20Length5JustBelowAHalf", 20, 5, 0},
                             AllowanceCase{"Level30Length10JustBelowAHalf", 30, 10, 1},
                             AllowanceCase{"Level60Length5JustBelowAHalf", 60, 5, 1},
                             AllowanceCase{"Level5Length20JustBelowAHalf", 5, 20, 0},
                             AllowanceCase{"Level15Length20JustBelowAHalf", 15, 20, 1},
                             // These land exactly on the half: to even.
                             AllowanceCase{"Level50Length30ExactHalfToEven", 50, 30, 8},
                             AllowanceCase{"Level50Length6", 50, 6, 2},
                             AllowanceCase{"Level50Length2ExactHalfToEven", 50, 2, 0},
                             AllowanceCase{"Level70Length10ExactHalfToEven", 70, 10, 4},
                             AllowanceCase{"Level90Length10ExactHalfToEven", 90, 10, 4},
                             AllowanceCase{"Level100Length1ExactHalfToEven", 100, 1, 0},
                             AllowanceCase{"Level100Length3ExactHalfToEven", 100, 3, 2},
                             AllowanceCase{"Level25Length4ExactHalfToEven", 25, 4, 0},
                             AllowanceCase{"Level75Length4ExactHalfToEven", 75, 4, 2},
                             // No half involved.
                             AllowanceCase{"Level0", 0, 300, 0},
                             AllowanceCase{"Level40Length30", 40, 30, 6},
                             AllowanceCase{"EmptyEntry", 50, 0, 0},
                             AllowanceCase{"LongEntry", 50, 10000, 2500}),
                         [](const auto& info) { return std::string(info.param.name); });

// Where length × level ÷ 200 is an exact half, the spin-button values split
// into three groups; this holds on every platform, long double or not.
TEST(FuzzyAllowance, HalvesRoundDownForSomeLevelsAndToEvenForOthers) {
  for (std::size_t length = 1; length <= 300; ++length) {
    for (int level : {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}) {
      const std::size_t twoHundredths = length * static_cast<std::size_t>(level);
      if (twoHundredths % 200 != 100) continue;
      const int below = static_cast<int>(twoHundredths / 200);
      const int expected = (level == 10 || level == 20 || level == 30 || level == 60)
                               ? below
                               : (below % 2 == 0 ? below : below + 1);
      ASSERT_NE(level, 40) << "40 never gives a half";
      ASSERT_NE(level, 80) << "80 never gives a half";
      ASSERT_EQ(FuzzyAllowance(level, length), expected) << level << " × " << length;
    }
  }
}

// Where long double is the 80-bit extended type (x86-64 Linux), the integer
// emulation must agree with the hardware for every level and entry length.
TEST(FuzzyAllowance, AgreesWithExtendedHardwareArithmetic) {
  if constexpr (LDBL_MANT_DIG != 64) {
    GTEST_SKIP() << "long double is not the 80-bit extended type here";
  } else {
    for (int level = 0; level <= 100; ++level) {
      for (std::size_t length = 1; length <= 300; ++length) {
        volatile long double constant = 0.005L;
        volatile long double rate = static_cast<long double>(level) * constant;
        volatile long double allowance = static_cast<long double>(length) * rate;
        const long double rounded = std::nearbyint(static_cast<long double>(allowance));
        ASSERT_EQ(FuzzyAllowance(level, length), static_cast<int>(rounded))
            << level << " × " << length;
      }
    }
  }
}

TEST(HeuristicWeight, FollowsTheRoundedSeventeenths) {
  struct Range {
    int from, to, weight;
  };
  const Range table[] = {{0, 8, 0},   {9, 25, 1},  {26, 42, 2}, {43, 59, 3},
                         {60, 76, 4}, {77, 93, 5}, {94, 100, 6}};
  for (const auto& range : table) {
    for (int level = range.from; level <= range.to; ++level) {
      EXPECT_EQ(HeuristicWeight(level), range.weight) << level;
    }
  }
}

TEST(HalfRoundedToEven, RoundsTheHalvesToTheEvenNeighbour) {
  const int expected[] = {0, 0, 1, 2, 2, 2, 3, 4, 4, 4};
  for (int r = 0; r < 10; ++r)
    EXPECT_EQ(HalfRoundedToEven(r), expected[r]) << r;
}

}  // namespace
}  // namespace kelvrin::filter
