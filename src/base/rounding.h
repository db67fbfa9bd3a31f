#pragma once

#include <cstdint>

namespace kelvrin::base {

// numerator / denominator to the nearest integer, a tie to the even
// neighbour (2.5 gives 2, 3.5 gives 4, -2.5 gives -2), without going
// through floating point. Either sign works; denominator must not be 0, and
// neither value may be the smallest int64.
std::int64_t roundHalfEven(std::int64_t numerator, std::int64_t denominator);

}  // namespace kelvrin::base
