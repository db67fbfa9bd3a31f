#pragma once

// TIniVal: the settings component of a window. It stores, under the form's
// name, the checked state, text or value of every stored property of its
// owner form, in creation order, and can hook itself into the owner's
// creation and destruction so that loading and saving happen by themselves.

#include <functional>
#include <string>
#include <string_view>

#include "settings/form.h"

namespace kelvrin::settings {

// The file a settings name stands for: the name trimmed, with ".INI"
// appended when it contains no "." anywhere (a dot in a folder name counts).
// Letter case is kept: Linux file names are case-sensitive, and upper-casing
// would make the program read a different file from the one it wrote.
std::string effectiveIniFileName(std::string_view iniFileName);

class TIniVal {
 public:
  explicit TIniVal(Form& owner, std::string name = "IniVal1");

  std::function<void()> SavedOnCreate;   // the owner's own creation handler
  std::function<void()> SavedOnDestroy;  // the owner's own destruction handler
  std::string IniFileName;
  bool Automatic = true;

  const std::string& name() const { return name_; }
  Form& owner() { return owner_; }
  std::string effectiveFileName() const { return effectiveIniFileName(IniFileName); }

  // Reads every stored property of the owner from the effective file (one
  // read of the file); a missing key, or a number that does not parse,
  // leaves the property as it is. Raises SettingsError when the file exists
  // but cannot be read.
  void LoadAll();
  // Writes every stored property in one rewrite of the file (strings
  // unchanged, integers in decimal, booleans "1"/"0").
  void SaveAll();

  // The owner has been built from its design: an empty IniFileName becomes
  // ProgramDir + the component's name, and the component chains itself into
  // the owner's creation and destruction when Automatic.
  void Loaded(std::string_view programDir);
  bool hooked() const { return hooked_; }

  // The chained handlers; the composition root calls them when the owner is
  // created and destroyed. Automatic is read when they run, so clearing it
  // in between (a cancelled first run) stops the save at exit.
  void ownerCreated();
  void ownerDestroyed();

 private:
  Form& owner_;
  std::string name_;
  bool hooked_ = false;
};

}  // namespace kelvrin::settings
