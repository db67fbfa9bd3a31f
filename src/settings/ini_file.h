#pragma once

// A private-profile (INI) file on disk.
//
// Like the profile functions it stands in for, every access opens, reads and
// closes the file; nothing keeps it open and nothing is cached, so a change
// made by another writer is seen at the next read. Reading a missing file is
// reading an empty one. Every write replaces the whole file atomically: the
// new text goes to a hidden sibling file of mode 0600 in the same folder,
// which is synced and then renamed over the old one, so a crash leaves either
// the old file or the new one, never half of it. The file holds passwords,
// so it always has mode 0600, and a missing folder is created with mode 0700.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_document.h"

namespace kelvrin::settings {

struct IniEntry {
  std::string section;
  std::string key;
  std::string value;  // as written: use iniBool / std::to_string for other kinds
};

inline std::string iniBool(bool value) {
  return value ? "1" : "0";
}

class IniFile {
 public:
  explicit IniFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return path_; }
  bool exists() const;

  // One read of the whole file, for callers that read many keys at once.
  // Raises SettingsError when the file exists but cannot be read.
  IniDocument load() const;

  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
  bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;
  // The key names of a section, in file order.
  std::vector<std::string> readSection(std::string_view section) const;
  bool sectionExists(std::string_view section) const;
  bool valueExists(std::string_view section, std::string_view key) const;

  // Each write rewrites the file once. Raises SettingsError when the file
  // cannot be read or replaced, or when a name cannot be stored.
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, int value);
  void writeBool(std::string_view section, std::string_view key, bool value);
  // Many keys in one rewrite, applied in order.
  void writeAll(const std::vector<IniEntry>& entries);
  void deleteKey(std::string_view section, std::string_view key);
  void eraseSection(std::string_view section);

  // Replaces the file by the document's text (atomically, mode 0600).
  void save(const IniDocument& document) const;

 private:
  std::filesystem::path path_;
};

// Creates every missing folder of `dir` with mode 0700. Raises SettingsError.
void createPrivateDirectories(const std::filesystem::path& dir);

}  // namespace kelvrin::settings
