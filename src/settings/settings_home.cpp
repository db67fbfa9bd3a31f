#include "settings/settings_home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "settings/ini_file.h"
#include "settings/settings_error.h"

namespace kelvrin::settings {

namespace {

std::optional<std::string> nonEmpty(const EnvironmentLookup& environment, const char* name) {
  auto value = environment(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::optional<std::string> passwordDatabaseHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || found->pw_dir[0] == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

}  // namespace

std::optional<std::string> processEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

std::filesystem::path resolveSettingsHome(const std::optional<std::string>& homeOption,
                                          const EnvironmentLookup& environment) {
  std::filesystem::path home;
  if (homeOption && !homeOption->empty()) {
    home = *homeOption;
  } else if (auto kelvrinHome = nonEmpty(environment, "KELVRIN_HOME")) {
    home = *kelvrinHome;
  } else if (auto xdg = nonEmpty(environment, "XDG_CONFIG_HOME");
             xdg && std::filesystem::path(*xdg).is_absolute()) {
    home = std::filesystem::path(*xdg) / "kelvrin";
  } else {
    auto userHome = nonEmpty(environment, "HOME");
    if (!userHome) userHome = passwordDatabaseHome();
    if (!userHome) {
      throw SettingsError(
          "Cannot find the settings folder: set KELVRIN_HOME or start with --home DIR");
    }
    home = std::filesystem::path(*userHome) / ".config" / "kelvrin";
  }
  home = std::filesystem::absolute(home).lexically_normal();
  if (!home.has_filename() && home.has_relative_path()) home = home.parent_path();
  return home;
}

std::string programDirFor(const std::filesystem::path& home) {
  std::string dir = home.string();
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

std::string settingsFileName(std::string_view programDir) {
  return std::string(programDir) + std::string(kSettingsFileName);
}

void ensureSettingsHome(const std::filesystem::path& home) {
  createPrivateDirectories(home);
}

}  // namespace kelvrin::settings
