#pragma once

// Replacing a whole file so that a crash or a full disk leaves either the
// old file or the new one, never half of it.

#include <sys/types.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvrin::base {

// A file that could not be written; carries the file and the system's error
// so that each layer can say it in its own words.
class FileError : public std::runtime_error {
 public:
  FileError(std::filesystem::path path, int error);
  const std::filesystem::path& path() const { return path_; }
  int error() const { return error_; }
  // The system's text for error(), e.g. "No space left on device".
  std::string reason() const;

 private:
  std::filesystem::path path_;
  int error_;
};

// The permission bits the replacement gets.
class FileMode {
 public:
  // Always these bits, whatever the old file had.
  static FileMode exactly(mode_t mode) { return FileMode(mode, false); }
  // The old file's bits when there is one (the user may have chosen them),
  // else these.
  static FileMode existingOr(mode_t mode) { return FileMode(mode, true); }

  mode_t mode() const { return mode_; }
  bool keepsExisting() const { return keepExisting_; }

 private:
  FileMode(mode_t mode, bool keepExisting) : mode_(mode), keepExisting_(keepExisting) {}
  mode_t mode_;
  bool keepExisting_;
};

// Writes bytes to a hidden sibling of path (same folder, so the rename
// cannot cross file systems), gives it the mode, syncs it, renames it over
// path and syncs the folder. Raises FileError naming path when any step
// fails; the old file is then untouched and the sibling removed. The folder
// must exist.
void replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           FileMode mode);

// write(2) until every byte is written, again after EINTR. False (errno set)
// when a write fails.
bool writeFully(int fd, std::string_view bytes);

}  // namespace kelvrin::base
