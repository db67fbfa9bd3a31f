#pragma once

// The upgrade information file: a few "key=value" lines, read by the
// version check.
//
//   # comments and blank lines are allowed
//   version=1.4.2
//   homepage=https://kelvrin.example/download
//
// "version" (numbers joined by dots) and "homepage" (an http or https
// address) are required; other keys are ignored, so that later files may
// carry more. Anything else is refused with a reason a person can read:
// the file comes from the network and decides what the user is told.

#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvrin::update {

class UpdateInfoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct UpdateInfo {
  std::string Version;
  std::string HomePage;
};

// Throws UpdateInfoError.
UpdateInfo parseUpdateInfo(std::string_view text);

// Numbers joined by single dots ("1", "0.10.3"), each of at most nine digits.
bool isVersionText(std::string_view text);

// Compares by number, part by part, a missing part counting as 0: "1.10" is
// newer than "1.9", and "1.2" equals "1.2.0". Both must be version texts.
// Negative, 0 or positive as a is older than, equal to or newer than b.
int compareVersions(std::string_view a, std::string_view b);

}  // namespace kelvrin::update
