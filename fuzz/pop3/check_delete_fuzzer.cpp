// The whole check-and-delete dialogue against a server that sends anything.

#include <cstddef>
#include <cstdint>

#include "pop3_dialogue.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelvrin::fuzz::SetUpDialogue();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvrin::fuzz::PlayCheckAndDelete(data, size);
  return 0;
}
