#include "mail/random_source.h"

#include <mutex>
#include <random>

namespace kelvrin::mail {
namespace {

struct Generator {
  std::mutex mutex;
  std::mt19937 engine{std::random_device{}()};
};

Generator& generator() {
  static Generator instance;
  return instance;
}

}  // namespace

void SeedRandom() {
  generator();
}

std::uint32_t NextRandom() {
  Generator& g = generator();
  std::uniform_int_distribution<std::uint32_t> below(0, 0x7FFFFFFEu);
  const std::lock_guard lock(g.mutex);
  return below(g.engine);
}

std::string Hex8(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

std::string RandomHex8() {
  return Hex8(NextRandom());
}

}  // namespace kelvrin::mail
