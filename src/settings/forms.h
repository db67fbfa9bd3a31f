#pragma once

// The two stored forms with every key and design value: the main window's
// options `KVmain` and the settings wizard's fields `KVWForm1`.

#include <memory>
#include <string_view>

#include "settings/form.h"

namespace kelvrin::settings {

inline constexpr std::string_view kMainFormName = "KVmain";
inline constexpr std::string_view kWizardFormName = "KVWForm1";

// Placeholders of the empty wizard: fixed texts the system compares with
// (the check command refuses to run while the main address is the placeholder,
// and the SMTP account counts as configured only once host and user differ).
inline constexpr std::string_view kPlaceholderMainEmail = "your.name@example.com";
inline constexpr std::string_view kPlaceholderPopHost = "pop.example.com";
inline constexpr std::string_view kPlaceholderSmtpHost = "smtp.example.com";
inline constexpr std::string_view kPlaceholderUser = "YourUserName";
inline constexpr std::string_view kPlaceholderPassword = "xxxxxxxxx";

// Connection security of PopSecurity / SmtpSecurity.
inline constexpr int kSecurityNone = 0;
inline constexpr int kSecurityStartTls = 1;
inline constexpr int kSecurityImplicitTls = 2;

// Implicit TLS for the POP3S and SMTPS ports (995, 465), none otherwise.
int defaultSecurityForPort(int port);
// The same for a port field such as " 995 " (blanks removed; not a number
// gives none).
int defaultSecurityForPort(std::string_view portText);

// Both forms hold their design values when made.
std::unique_ptr<Form> makeKVmainForm();
std::unique_ptr<Form> makeKVWForm1Form();

}  // namespace kelvrin::settings
