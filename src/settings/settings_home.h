#pragma once

// "The program's folder" on Linux: the settings home that holds kelvrin.ini,
// the rule-list files and Kelvxmt.txt under their fixed names.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelvrin::settings {

inline constexpr std::string_view kSettingsFileName = "kelvrin.ini";

// Looks up an environment variable; empty optional when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;
std::optional<std::string> processEnvironment(const std::string& name);

// The settings home: `homeOption` (from --home) when given, else
// $KELVRIN_HOME, else $XDG_CONFIG_HOME/kelvrin, else ~/.config/kelvrin.
// Empty variables count as unset, and a relative XDG_CONFIG_HOME is ignored
// as the XDG rules require. The result is absolute. Raises SettingsError when
// no home folder can be found at all.
std::filesystem::path resolveSettingsHome(
    const std::optional<std::string>& homeOption,
    const EnvironmentLookup& environment = processEnvironment);

// `ProgramDir`: the settings home followed by "/".
std::string programDirFor(const std::filesystem::path& home);

// ProgramDir + "kelvrin.ini".
std::string settingsFileName(std::string_view programDir);

// Creates the settings home (and missing parents) with mode 0700; the
// writers of its files call this before they write.
void ensureSettingsHome(const std::filesystem::path& home);

}  // namespace kelvrin::settings
