#pragma once

// What the "Deleted mail" window shows of the quarantine and how it sends a
// copy back: the rows (newest first, display text), the name an export is
// offered under, the SMTP account a restore goes through, and the texts of
// the results. The window only renders these.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "protocols/smtp_client.h"
#include "settings/form.h"

#include "quarantine/quarantine_store.h"

namespace kelvrin::quarantine {

struct DeletedMailRow {
  std::string Id;
  std::string Deleted;  // local time, "YYYY-MM-DD HH:MM"
  std::string Account;  // user@host:port, empty for a copy adopted after a crash
  std::string From;     // display text
  std::string Subject;  // display text
  std::string Level;    // "?" when unknown
  std::string Size;     // "812 B", "4.2 KB", "1.3 MB"
};

// The entries as rows, newest deletion first (the index keeps them oldest
// first; entries deleted in the same second keep their order).
std::vector<DeletedMailRow> DeletedMailRows(const std::vector<QuarantineEntry>& entries);

// "1.3 MB" and kin, for people.
std::string SizeText(std::int64_t bytes);

// The file name an export is offered under: the subject's display text made
// safe as one file name (no slash, no control characters, no leading dot,
// at most 80 bytes on a character boundary), "message" when nothing is left,
// and ".eml".
std::string ExportFileName(const QuarantineEntry& entry);
// Where an export of several messages into folder puts entry: its export
// file name, with "-2", "-3" ... before ".eml" while that file exists.
std::filesystem::path ExportPathIn(const std::filesystem::path& folder,
                                   const QuarantineEntry& entry);

// The account a restore sends through: the wizard's own address and SMTP
// server (host, port, security, CA file, login).
struct RestoreAccount {
  std::string Address;
  std::string Host;
  std::string Port;
  protocols::SecurityMode Security = protocols::SecurityMode::None;
  std::string CaFile;
  std::string User;
  std::string Password;
};

// Raises QuarantineError ("No own mail address is set ...", "No SMTP server
// is set ...") when the wizard has not been filled in.
RestoreAccount RestoreAccountOf(const settings::Form& KVWForm1);
void ConfigureRestoreClient(protocols::TSmtpClient& client, const RestoreAccount& account);

// The status line after a restore or an export of several messages.
std::string RestoredText(int restored, int failed, const std::string& address);
std::string ExportedText(int exported, const std::string& where);

}  // namespace kelvrin::quarantine
