#pragma once

#include <string>

namespace kelvrin::demo {

// The one mailbox account the demo server knows (POP3 and SMTP alike).
struct Account {
  std::string user;
  std::string password;
};

// What a session answers with; `close` ends the connection after the text.
struct Reply {
  std::string text;
  bool close = false;
};

}  // namespace kelvrin::demo
