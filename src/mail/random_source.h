#pragma once

// The one pseudo-random generator of the message model (message ids,
// temporary file names, names of attached messages). Thread-safe.

#include <cstdint>
#include <string>

namespace kelvrin::mail {

// Makes sure the generator is seeded; creating a message calls it.
void SeedRandom();
// A number from 0 to 2^31 - 2.
std::uint32_t NextRandom();
// NextRandom() as eight upper-case hexadecimal digits.
std::string RandomHex8();
// value as eight upper-case hexadecimal digits.
std::string Hex8(std::uint32_t value);

}  // namespace kelvrin::mail
