#pragma once

// The start-up entry of the program on a Linux desktop: a desktop entry in
// $XDG_CONFIG_HOME/autostart (the XDG autostart folder) that starts the
// program minimised when the user logs in.

#include <filesystem>
#include <optional>
#include <string>

#include "app/later_parts.h"

namespace kelvrin::platform {

inline constexpr const char* kAutostartFileName = "kelvrin.desktop";

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when the variable is
// unset, empty or relative. Empty when neither can be found.
std::filesystem::path autostartDirectory();

// The text of the entry. settingsHome, when given, is passed on as --home so
// that the program started at log-in screens the same mailbox.
std::string autostartEntry(const std::string& program,
                           const std::optional<std::string>& settingsHome);

// Quotes one argument of an Exec line as the desktop entry rules ask.
std::string quoteExecArgument(const std::string& argument);

class XdgStartupEntry final : public app::StartupEntry {
 public:
  // directory: where the entry goes (autostartDirectory() by default).
  XdgStartupEntry(std::string program, std::optional<std::string> settingsHome,
                  std::filesystem::path directory = autostartDirectory());

  // Mode 0 writes the entry (folder 0700, file 0600, atomically), 1 removes
  // it; other modes do nothing. The result is always false. A failure is
  // raised as base::FileError, as the application reports it.
  bool SetRunEntry(int Mode) override;

  std::filesystem::path entryPath() const { return directory_ / kAutostartFileName; }

 private:
  std::string program_;
  std::optional<std::string> settingsHome_;
  std::filesystem::path directory_;
};

}  // namespace kelvrin::platform
