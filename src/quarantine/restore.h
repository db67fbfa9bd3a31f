#pragma once

// The way back from the quarantine. A POP3 mailbox takes mail only by SMTP,
// so Restore sends the copy, unchanged, to the user's own address through
// the account's SMTP server, and the mail program collects it again. Export
// writes the copy as an .eml file.

#include <filesystem>
#include <string>
#include <string_view>

#include "protocols/smtp_client.h"

#include "quarantine/quarantine_store.h"

namespace kelvrin::quarantine {

// Sends Bytes to Address (envelope sender and recipient both) over a
// client whose Host, Port, Security and account the caller set; logs in
// when the server offers AUTH and an account is given. Connects and quits
// itself. Raises QuarantineError with the reason when the server does not
// take the message.
void RestoreMessage(protocols::TSmtpClient& client, const std::string& Address,
                    std::string_view Bytes);

// Writes the copy of entry to file (mode 0600, atomically). Never replaces
// an existing file: raises QuarantineError instead, as for any failure.
void ExportMessage(const QuarantineStore& store, const QuarantineEntry& entry,
                   const std::filesystem::path& file);

}  // namespace kelvrin::quarantine
