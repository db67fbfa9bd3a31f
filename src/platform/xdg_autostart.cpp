#include "platform/xdg_autostart.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "base/atomic_file.h"

namespace kelvrin::platform {

namespace {

std::optional<std::string> variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

std::filesystem::path autostartDirectory() {
  if (auto config = variable("XDG_CONFIG_HOME")) {
    std::filesystem::path p(*config);
    // A relative path is invalid by the XDG rules and is ignored.
    if (p.is_absolute()) return p / "autostart";
  }
  if (auto home = variable("HOME")) return std::filesystem::path(*home) / ".config" / "autostart";
  return {};
}

std::string quoteExecArgument(const std::string& argument) {
  bool plain = !argument.empty();
  for (char c : argument) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '/' || c == '.' || c == '-' || c == '_' || c == '+' || c == ',' ||
                      c == ':' || c == '@';
    if (!safe) plain = false;
  }
  if (plain) return argument;
  std::string quoted = "\"";
  for (char c : argument) {
    // Inside quotes these four are escaped with a backslash; a "%" is a field
    // code and is doubled.
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  // The desktop entry format escapes backslashes once more in every string
  // value, so each backslash of the quoted argument is written twice.
  std::string escaped;
  for (char c : quoted) {
    escaped += c;
    if (c == '\\') escaped += '\\';
  }
  return escaped;
}

std::string autostartEntry(const std::string& program,
                           const std::optional<std::string>& settingsHome) {
  std::string exec = quoteExecArgument(program);
  if (settingsHome) exec += " --home " + quoteExecArgument(*settingsHome);
  exec += " --minimized";
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Kelvrin\n"
         "Comment=Screens the mailbox for spam before the mail program collects it\n"
         "Exec=" +
         exec +
         "\n"
         "Icon=kelvrin\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

XdgStartupEntry::XdgStartupEntry(std::string program, std::optional<std::string> settingsHome,
                                 std::filesystem::path directory)
    : program_(std::move(program)),
      settingsHome_(std::move(settingsHome)),
      directory_(std::move(directory)) {}

bool XdgStartupEntry::SetRunEntry(int Mode) {
  if (directory_.empty()) return false;
  if (Mode == 0) {
    std::error_code ec;
    if (!std::filesystem::exists(directory_, ec)) {
      std::filesystem::create_directories(directory_, ec);
      if (ec) throw base::FileError(directory_, ec.value());
      ::chmod(directory_.c_str(), 0700);
    }
    base::replaceFileAtomically(entryPath(), autostartEntry(program_, settingsHome_),
                                base::FileMode::exactly(0600));
  } else if (Mode == 1) {
    std::error_code ec;
    std::filesystem::remove(entryPath(), ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
      throw base::FileError(entryPath(), ec.value());
    }
  }
  return false;
}

}  // namespace kelvrin::platform
