// Uudecoding of arbitrary lines, and the begin-line recogniser.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/mime_body.h"

#include "fuzz_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvrin::mail;
  const auto lines = fuzz::SplitLines(data, size);
  for (const auto& line : lines) {
    if (auto name = UUBeginFileName(line); name && name->size() >= line.size()) std::abort();
  }
  std::string out;
  StringSink sink(out);
  try {
    Uudecode(lines, sink);
  } catch (const MailError&) {
    return 0;
  }
  // At most 63 bytes come from one line.
  if (out.size() > lines.size() * 63) std::abort();
  return 0;
}
