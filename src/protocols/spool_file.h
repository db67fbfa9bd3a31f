#pragma once

// The temporary file a POP3 retrieval is spooled to: in the temporary
// directory, named prefix + "-" + eight upper-case hexadecimal digits + ".$$$",
// created exclusively with mode 0600 and removed when the SpoolFile goes.
//
// One SpoolFile can carry the retrievals of a whole check: Begin renames it
// for the next message (never over an existing file) and empties it. A
// check of ten thousand messages then costs one file creation instead of ten
// thousand, which on some file systems (ext4 with many recently deleted
// inodes) is most of the time a header check takes.

#include <cstddef>
#include <optional>
#include <string>

namespace kelvrin::protocols {

class SpoolFile {
 public:
  SpoolFile() = default;
  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  // Names the file for the next retrieval and starts writing at its
  // beginning; creates it when there is none yet. False when no file could
  // be created.
  bool Begin(const std::string& prefix);
  bool Write(const char* data, std::size_t count);
  // Cuts off what an earlier, longer retrieval left behind the end, then
  // reads everything written since Begin; nullopt when that fails.
  std::optional<std::string> ReadAll();
  // Closes and deletes the file.
  void Remove();

  const std::string& Path() const { return path_; }
  std::size_t Size() const { return size_; }

 private:
  std::string newName(const std::string& prefix) const;

  int fd_ = -1;
  std::string path_;
  std::size_t size_ = 0;    // written since Begin
  std::size_t length_ = 0;  // of the file
};

}  // namespace kelvrin::protocols
