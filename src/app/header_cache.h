#pragma once

// The header blocks of messages already seen, per account, so that a check
// of a mailbox that holds mostly the same mail fetches only the new headers.
//
// An entry is found by the server's unique id and must match the size the
// server lists now and the checksum it was stored with; anything else is
// no entry, so a cache that is damaged, stale or from another program
// version costs a fetch, never a wrong row. Each check writes a new file
// beside the old one with the entries it used or fetched (the messages
// still on the server) and renames it over the old one only when the check
// listed the whole mailbox; a check that fails or is cancelled leaves the
// old file as it was. The folder is private (0700), the file 0600.
// Readers see the old file or the new one, never a mixture (rename).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::app {

class HeaderCache {
 public:
  // The file of the account (host, port, user) in folder; nothing is read
  // or written before Open.
  HeaderCache(std::filesystem::path folder, std::string_view host, std::string_view port,
              std::string_view user);
  ~HeaderCache();
  HeaderCache(const HeaderCache&) = delete;
  HeaderCache& operator=(const HeaderCache&) = delete;

  // Reads the index of the stored file (an unreadable one counts as empty)
  // and starts the new one. False when the new file cannot be made: the
  // cache then finds nothing and keeps nothing.
  bool Open();
  // The lines stored for (uid, size), verified; the entry goes into the new
  // file.
  bool Find(const std::string& uid, std::int32_t size, std::vector<std::string>& lines);
  void Add(const std::string& uid, std::int32_t size, const std::vector<std::string>& lines);
  // Makes the new file the cache; false with error set when it cannot be.
  bool Commit(std::string& error);
  // Forgets the new file; the stored one stays.
  void Discard();

  const std::filesystem::path& Path() const { return path_; }
  int Found() const { return found_; }
  int Added() const { return added_; }

  // $XDG_CACHE_HOME/kelvrin, else $HOME/.cache/kelvrin; empty when neither
  // is an absolute path.
  static std::filesystem::path DefaultFolder(
      const std::function<std::optional<std::string>(const std::string&)>& environment);

 private:
  struct Entry {
    std::int32_t size = 0;
    std::uint64_t checksum = 0;
    std::uint64_t offset = 0;  // of the payload
    std::uint64_t length = 0;
    bool kept = false;
  };
  class StoredFile;
  void readIndex();
  void write(std::string_view bytes);
  bool flush();
  void record(const std::string& uid, std::int32_t size, std::string_view payload,
              std::uint64_t checksum);

  std::filesystem::path folder_;
  std::filesystem::path path_;
  std::filesystem::path newPath_;
  std::string account_;
  std::map<std::string, Entry, std::less<>> index_;
  std::unique_ptr<StoredFile> stored_;
  int newFd_ = -1;
  bool writeFailed_ = false;
  std::string buffer_;
  int found_ = 0;
  int added_ = 0;
};

// FNV-1a, 64 bits: the account's file name, and the start of an entry's checksum.
std::uint64_t CacheChecksum(std::string_view bytes, std::uint64_t seed = 0xcbf29ce484222325ULL);

}  // namespace kelvrin::app
