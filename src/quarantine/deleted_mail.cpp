#include "quarantine/deleted_mail.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "mail/display_text.h"
#include "settings/forms.h"

namespace kelvrin::quarantine {

namespace {

std::string localTime(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The first bytes of s up to limit, never cutting a UTF-8 sequence.
std::string cutAtCharacter(const std::string& s, std::size_t limit) {
  if (s.size() <= limit) return s;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
    --end;
  return s.substr(0, end);
}

}  // namespace

std::string SizeText(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  char text[32];
  const double kb = static_cast<double>(bytes) / 1024.0;
  if (kb < 1024.0) {
    std::snprintf(text, sizeof text, "%.1f KB", kb);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", kb / 1024.0);
  }
  return text;
}

std::vector<DeletedMailRow> DeletedMailRows(const std::vector<QuarantineEntry>& entries) {
  std::vector<const QuarantineEntry*> order;
  order.reserve(entries.size());
  for (const auto& e : entries)
    order.push_back(&e);
  std::stable_sort(order.begin(), order.end(),
                   [](const QuarantineEntry* a, const QuarantineEntry* b) {
                     return a->DeletedAt > b->DeletedAt;
                   });
  std::vector<DeletedMailRow> rows;
  rows.reserve(order.size());
  for (const QuarantineEntry* e : order) {
    DeletedMailRow row;
    row.Id = e->Id;
    row.Deleted = localTime(e->DeletedAt);
    if (!e->Host.empty()) row.Account = e->User + "@" + e->Host + ":" + std::to_string(e->Port);
    row.From = mail::HeaderDisplayText(e->From);
    row.Subject = mail::HeaderDisplayText(e->Subject);
    row.Level = e->Level < 0 ? "?" : std::to_string(e->Level);
    row.Size = SizeText(e->Size);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string ExportFileName(const QuarantineEntry& entry) {
  std::string name;
  for (char c : mail::HeaderDisplayText(entry.Subject)) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') {
      name += ' ';
    } else {
      name += c;
    }
  }
  name = trimmed(name);
  // A leading dot would hide the file.
  while (!name.empty() && name.front() == '.')
    name.erase(0, 1);
  name = trimmed(cutAtCharacter(name, 80));
  if (name.empty()) name = "message";
  return name + ".eml";
}

std::filesystem::path ExportPathIn(const std::filesystem::path& folder,
                                   const QuarantineEntry& entry) {
  const std::string name = ExportFileName(entry);
  const std::string stem = name.substr(0, name.size() - 4);
  std::filesystem::path path = folder / name;
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(path, ec); ++n) {
    path = folder / (stem + "-" + std::to_string(n) + ".eml");
  }
  return path;
}

RestoreAccount RestoreAccountOf(const settings::Form& KVWForm1) {
  RestoreAccount account;
  account.Address = trimmed(KVWForm1.text("KVWMainEmail1"));
  account.Host = trimmed(KVWForm1.text("KVWsmtphost"));
  if (account.Address.empty() || account.Address == settings::kPlaceholderMainEmail) {
    throw QuarantineError("No own mail address is set: a restored message is sent to it");
  }
  if (account.Host.empty() || account.Host == settings::kPlaceholderSmtpHost) {
    throw QuarantineError("No SMTP server is set: a restored message is sent through it");
  }
  account.Port = trimmed(KVWForm1.text("SmtpPort"));
  const int security = KVWForm1.value("SmtpSecurity");
  account.Security = security == settings::kSecurityStartTls ? protocols::SecurityMode::StartTls
                     : security == settings::kSecurityImplicitTls
                         ? protocols::SecurityMode::ImplicitTls
                         : protocols::SecurityMode::None;
  account.CaFile = KVWForm1.text("CaFile");
  account.User = KVWForm1.text("KVWedUser");
  account.Password = KVWForm1.text("KVWedPassword");
  return account;
}

void ConfigureRestoreClient(protocols::TSmtpClient& client, const RestoreAccount& account) {
  client.Host = account.Host;
  client.Port = account.Port;
  client.Security = account.Security;
  client.CaFile = account.CaFile;
  client.UserId = account.User;
  client.UserPasswd = account.Password;
}

std::string RestoredText(int restored, int failed, const std::string& address) {
  std::string text;
  if (restored > 0) {
    text = "Restored " + std::to_string(restored) + (restored == 1 ? " message" : " messages") +
           " to " + address;
  }
  if (failed > 0) {
    if (!text.empty()) text += "; ";
    text += std::to_string(failed) + (failed == 1 ? " message" : " messages") + " not restored";
  }
  return text.empty() ? "Nothing restored" : text;
}

std::string ExportedText(int exported, const std::string& where) {
  return "Exported " + std::to_string(exported) + (exported == 1 ? " message" : " messages") +
         " to " + where;
}

}  // namespace kelvrin::quarantine
