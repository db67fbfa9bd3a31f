// The streaming Base64 decoder must give the same bytes whatever the split
// points between writes are.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvrin::mail;
  if (size < 2) return 0;
  // The first two bytes pick the chunk sizes of the split run.
  const std::size_t stepA = data[0] % 7 + 1;
  const std::size_t stepB = data[1] % 13 + 1;
  const char* text = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;

  std::string whole;
  StringSink wholeSink(whole);
  TBase64DecodingStream one(wholeSink);
  const std::size_t written = one.Write(text, length);
  if (written != whole.size()) std::abort();
  if (whole.size() > length) std::abort();

  std::string split;
  StringSink splitSink(split);
  TBase64DecodingStream many(splitSink);
  std::size_t total = 0;
  bool useA = true;
  for (std::size_t pos = 0; pos < length;) {
    const std::size_t n = std::min(useA ? stepA : stepB, length - pos);
    total += many.Write(text + pos, n);
    pos += n;
    useA = !useA;
  }
  if (split != whole || total != whole.size()) std::abort();

  // Whatever was decoded encodes back to a text that decodes to the same bytes.
  if (!whole.empty()) {
    const std::string encoded = TBase64Codec::Encode(whole, (data[0] & 1) != 0);
    std::string again;
    StringSink againSink(again);
    TBase64DecodingStream check(againSink);
    check.Write(encoded.data(), encoded.size());
    if (again != whole) std::abort();
  }
  return 0;
}
