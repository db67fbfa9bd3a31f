// The quoted-printable decoder works in place: it must never write past what
// it read, and the NUL-terminated and the string form must agree.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mail/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvrin::mail;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string decoded = text;
  TQPCodec::Decode(decoded);
  if (decoded.size() > text.size()) std::abort();

  // The C form stops at the first NUL; compare on that prefix.
  const std::size_t cLength = std::strlen(text.c_str());
  std::vector<char> buffer(text.c_str(), text.c_str() + cLength + 1);
  const std::size_t n = TQPCodec::Decode(buffer.data());
  if (n > cLength || buffer[n] != '\0') std::abort();
  std::string prefix = text.substr(0, cLength);
  TQPCodec::Decode(prefix);
  if (prefix != std::string(buffer.data(), n)) std::abort();
  return 0;
}
