#pragma once

// The demo mailbox: a folder of .eml files, served in file-name order.
//
// Files may use LF or CR LF line ends; on the wire every line ends with
// CR LF, and sizes are the octets of that form (before dot-stuffing). Sizes
// are cached per file (keyed by name, length and modification time), so a
// session reads a file only when it sends it, and the first session after
// a start reads each file once.
//
// POP3 sessions hold the maildrop exclusively from login to the end of the
// session; SMTP stores new files at any time (a POP3 session that is
// already open does not see them).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kelvrin::demo {

struct MessageInfo {
  std::string fileName;
  std::string uid;     // stable unique id derived from the file name
  std::uint64_t size;  // octets with CR LF line ends
};

class Maildir {
 public:
  explicit Maildir(std::filesystem::path dir);

  const std::filesystem::path& dir() const { return dir_; }

  // The messages now in the folder, sorted by file name.
  std::vector<MessageInfo> scan();

  // The message as it goes on the wire: CR LF line ends, dot-stuffed,
  // without the terminating line. With bodyLines: the header block, the
  // empty line after it and at most that many body lines. Empty optional
  // when the file can no longer be read.
  std::optional<std::string> wireText(const std::string& fileName,
                                      std::optional<std::uint64_t> bodyLines);

  // Removes a message file; false when it could not be removed.
  bool remove(const std::string& fileName);

  // Stores a new message (lines ending with CR LF) under a name that sorts
  // after the files of this run; returns the file name. Throws
  // std::runtime_error when the file cannot be written.
  std::string store(const std::string& text);

  // Exclusive use of the maildrop by one POP3 session. Waits up to `wait`
  // for a session that is ending to let go.
  bool lockMaildrop(std::chrono::milliseconds wait);
  void unlockMaildrop();

 private:
  struct CachedSize {
    std::int64_t modifiedNs;
    std::uint64_t fileSize;
    std::uint64_t wireSize;
  };

  std::filesystem::path dir_;
  std::mutex mutex_;  // the cache and the store counter
  std::unordered_map<std::string, CachedSize> sizes_;
  std::uint64_t stored_ = 0;

  std::mutex lockMutex_;
  std::condition_variable lockReleased_;
  bool locked_ = false;
};

// The unique id of a file: its name when that is a valid POP3 unique id
// (1 to 70 characters 0x21 ... 0x7E), else a hash of it.
std::string uidForFileName(const std::string& fileName);

// Octets of the text with every line ended by CR LF.
std::uint64_t wireSize(std::string_view fileText);

// The text with every line ended by CR LF and dot-stuffed; see wireText.
std::string wireForm(std::string_view fileText, std::optional<std::uint64_t> bodyLines);

}  // namespace kelvrin::demo
