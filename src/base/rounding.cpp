#include "base/rounding.h"

namespace kelvrin::base {

std::int64_t roundHalfEven(std::int64_t numerator, std::int64_t denominator) {
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  // Division truncates toward zero, so the rest has the numerator's sign;
  // comparing the rest with what is left to the next integer away from zero
  // cannot overflow, unlike doubling it.
  std::int64_t quotient = numerator / denominator;
  const std::int64_t rest = numerator % denominator;
  const std::int64_t below = rest < 0 ? -rest : rest;
  const std::int64_t above = denominator - below;
  if (below > above || (below == above && quotient % 2 != 0)) quotient += rest < 0 ? -1 : 1;
  return quotient;
}

}  // namespace kelvrin::base
