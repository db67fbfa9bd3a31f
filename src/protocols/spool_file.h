#pragma once

// Where a POP3 reply is collected while it arrives. A reply is kept in
// memory up to a limit (256 KiB: every header block, most whole messages);
// one that grows past it moves to a temporary file, so a large message does
// not hold its whole size in memory while it arrives. The file lies in the
// temporary directory, is named prefix + "-" + eight upper-case hexadecimal
// digits + ".$$$", is created exclusively with mode 0600 and is removed with
// the SpoolFile (or, should a signal end the program first, by the registry
// of live temporary files).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kelvrin::protocols {

class SpoolFile {
 public:
  static constexpr std::size_t kMemoryLimit = 256 * 1024;

  enum class WriteResult { Written, CannotCreate, CannotWrite };

  explicit SpoolFile(std::string prefix, std::size_t memoryLimit = kMemoryLimit);
  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  // Appends bytes; the write that takes the total past the memory limit
  // creates the file and moves everything there.
  WriteResult Write(std::string_view bytes);
  // Everything written; nullopt when the file cannot be read back.
  std::optional<std::string> ReadAll();
  // Closes and deletes the file, if there is one.
  void Remove();

  // The file's path; empty while the reply is in memory.
  const std::string& Path() const { return path_; }
  std::size_t Size() const { return size_; }

 private:
  bool createFile();

  std::string prefix_;
  std::size_t memoryLimit_;
  std::string memory_;
  int fd_ = -1;
  std::string path_;
  int liveSlot_ = -1;  // in the registry of live temporary files
  std::size_t size_ = 0;
};

}  // namespace kelvrin::protocols
