// Whole-message parsing: header fields, MIME structure, attachments and
// their temporary files.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/display_text.h"
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

  // Display text of whatever the parse produced, and of the raw input as a
  // header value and as a body in every charset the message declared: never
  // a control character, never more than its bound (an address view adds
  // its quotes and brackets to the bounded text of the header).
  const auto check = [](const std::string& text, std::size_t bound, bool lineBreaks) {
    if (text.size() > bound) std::abort();
    for (const char ch : text) {
      const auto c = static_cast<unsigned char>(ch);
      const bool allowed = lineBreaks && (c == '\r' || c == '\n' || c == '\t');
      if ((c < 0x20 || c == 0x7F) && !allowed) std::abort();
    }
  };
  const MessageDisplay display = DisplayHeaders(message);
  for (const std::string* text : {&display.From, &display.SendTo, &display.Subject, &display.Date})
    check(*text, 4 * kMaxHeaderDisplayBytes, false);
  check(DisplayFrom(message), 4 * kMaxHeaderDisplayBytes, false);
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  check(HeaderDisplayText(raw), kMaxHeaderDisplayBytes, false);
  for (const auto& run : message.TextRuns)
    check(BodyDisplayText(raw, run.ContentType), std::string::npos, true);
  for (const std::string& line : DisplayTextLines(message))
    check(line, std::string::npos, true);
  return 0;
}
