#pragma once

#include <stdexcept>

namespace kelvrin::settings {

// The one exception type of the settings layer; what() is the text shown to
// the user (it names the file and the system's reason).
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kelvrin::settings
