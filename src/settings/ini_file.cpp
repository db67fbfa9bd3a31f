#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/atomic_file.h"
#include "base/file_descriptor.h"
#include "settings/settings_error.h"

namespace kelvrin::settings {

namespace {

std::string systemReason(int error) {
  return std::strerror(error);
}

[[noreturn]] void fail(std::string_view what, const std::filesystem::path& path, int error) {
  throw SettingsError(std::string(what) + " " + path.string() + ": " + systemReason(error));
}

}  // namespace

void createPrivateDirectories(const std::filesystem::path& dir) {
  if (dir.empty()) return;
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return;
  createPrivateDirectories(dir.parent_path() == dir ? std::filesystem::path() : dir.parent_path());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    fail("Cannot create the folder", dir, errno);
  }
  if (!std::filesystem::is_directory(dir, ec)) fail("Cannot create the folder", dir, ENOTDIR);
}

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}

bool IniFile::exists() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

IniDocument IniFile::load() const {
  const base::FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return IniDocument();
    fail("Cannot read the settings file", path_, errno);
  }
  std::string content;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("Cannot read the settings file", path_, errno);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return IniDocument::parse(content);
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  return load().readString(section, key, defaultValue);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int defaultValue) const {
  return load().readInteger(section, key, defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return load().readBool(section, key, defaultValue);
}

std::vector<std::string> IniFile::readSection(std::string_view section) const {
  return load().keys(section);
}

bool IniFile::sectionExists(std::string_view section) const {
  return load().hasSection(section);
}

bool IniFile::valueExists(std::string_view section, std::string_view key) const {
  return load().value(section, key).has_value();
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  IniDocument doc = load();
  doc.set(section, key, value);
  save(doc);
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
  writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
  writeString(section, key, iniBool(value));
}

void IniFile::writeAll(const std::vector<IniEntry>& entries) {
  IniDocument doc = load();
  for (const IniEntry& e : entries)
    doc.set(e.section, e.key, e.value);
  save(doc);
}

void IniFile::deleteKey(std::string_view section, std::string_view key) {
  IniDocument doc = load();
  if (doc.removeKey(section, key)) save(doc);
}

void IniFile::eraseSection(std::string_view section) {
  IniDocument doc = load();
  if (doc.removeSection(section)) save(doc);
}

void IniFile::save(const IniDocument& document) const {
  const std::filesystem::path dir =
      path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  createPrivateDirectories(dir);

  try {
    // It holds passwords: private whatever mode the old file had.
    base::replaceFileAtomically(path_, document.serialize(), base::FileMode::exactly(0600));
  } catch (const base::FileError& e) {
    fail("Cannot write the settings file", path_, e.error());
  }
}

}  // namespace kelvrin::settings
