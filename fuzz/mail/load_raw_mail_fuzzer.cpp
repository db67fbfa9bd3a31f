// Whole-message parsing: header fields, MIME structure, attachments and
// their temporary files.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/mail_message.h"

#include "fuzz_lines.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A directory of our own, so leftover temporary files would be noticed and
  // the machine's /tmp stays clean.
  static char dir[] = "/tmp/kelvrin-fuzz-mail-XXXXXX";
  if (mkdtemp(dir) != nullptr) {
    setenv("TMPDIR", dir, 1);
    // Empty at exit unless a temporary file was left behind.
    std::atexit([] { rmdir(dir); });
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvrin::mail;
  TMailMessage message;
  try {
    message.LoadRawMail(fuzz::SplitLines(data, size));
  } catch (const MailError&) {
    // A broken uuencoded block is reported, not a fault.
  }
  // The views run over whatever the parse produced.
  (void)message.From();
  (void)message.ReplyTo();
  (void)message.SendToName();
  (void)message.CCAddress();
  (void)message.RawMailSize();
  return 0;
}
