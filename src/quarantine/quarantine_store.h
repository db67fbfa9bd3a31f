#pragma once

// The quarantine: a copy of every message before it is deleted on the
// server, kept for a while so that a wrong deletion can be undone.
//
// The copies are a Maildir (tmp/, new/, cur/) so that any mail reader can
// open them; beside it a small index says what was deleted when and from
// which account. Folders are 0700 and files 0600. A copy is written to tmp/,
// synced and renamed into new/ before its index entry is written (itself
// replaced atomically), so a crash leaves at worst a copy without an entry,
// which the next Open adopts; an entry whose copy is gone is dropped. Every
// change of the index holds a lock on it, so that the desktop program and the
// command line can both delete at the same time.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::quarantine {

// Anything the quarantine could not read or write; the text says what and
// why ("Cannot write /path: No space left on device").
class QuarantineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Wall-clock time, seconds since the epoch: retention counts days, which a
// tick count cannot.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t Now() = 0;
};
Clock& SystemClock();

struct QuarantineSettings {
  bool Enabled = true;
  int RetentionDays = 14;
  std::int64_t SizeCap = std::int64_t{200} * 1024 * 1024;  // bytes of all copies together
};

struct QuarantineEntry {
  std::string Id;              // what the user names the copy by
  std::string FileName;        // its name in new/ or cur/
  std::int64_t DeletedAt = 0;  // seconds since the epoch
  std::string Host;            // the account: POP3 server, port and user
  int Port = 0;
  std::string User;
  std::string UIDL;
  std::string From;
  std::string Subject;
  int Level = -1;  // spam level at the deletion; -1 unknown (a copy adopted after a crash)
  std::int64_t Size = 0;
};

class QuarantineStore {
 public:
  // folder: the quarantine itself (created with its parents on Open).
  QuarantineStore(std::filesystem::path folder, Clock& clock = SystemClock());
  ~QuarantineStore();
  QuarantineStore(const QuarantineStore&) = delete;
  QuarantineStore& operator=(const QuarantineStore&) = delete;

  // $XDG_DATA_HOME/kelvrin/quarantine, else ~/.local/share/kelvrin/quarantine
  // (a relative XDG_DATA_HOME is ignored). Raises QuarantineError when
  // neither is known.
  static std::filesystem::path DefaultFolder(
      const std::function<std::optional<std::string>(const std::string&)>& environment);

  // Creates the folders and reads the index, mending what a crash left.
  void Open();

  // One copy being written: bytes appended as they arrive. Nothing is in
  // the quarantine until Commit; a writer dropped without it leaves no file.
  class Writer {
   public:
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    // Raises QuarantineError (full disk ...); the writer is then failed and
    // takes no more bytes.
    void Append(std::string_view bytes);
    std::int64_t Size() const { return size_; }
    // Syncs the copy, moves it into the Maildir and writes its entry (Id,
    // FileName, DeletedAt and Size are filled in). Returns the entry.
    QuarantineEntry Commit(QuarantineEntry entry);

   private:
    friend class QuarantineStore;
    Writer(QuarantineStore& store, std::string id, std::filesystem::path temp, int fd);
    void discard();
    QuarantineStore& store_;
    std::string id_;
    std::filesystem::path temp_;
    int fd_;
    std::int64_t size_ = 0;
    bool failed_ = false;
  };
  std::unique_ptr<Writer> Begin();

  const std::vector<QuarantineEntry>& Entries() const { return entries_; }
  std::optional<QuarantineEntry> Find(std::string_view id) const;
  std::filesystem::path MessagePath(const QuarantineEntry& entry) const;
  // The stored bytes; raises QuarantineError when they cannot be read.
  std::string ReadMessage(const QuarantineEntry& entry) const;
  std::int64_t TotalSize() const;

  // Removes the copies older than the retention, then the oldest ones until
  // all together fit the cap. Returns how many went.
  int Prune(const QuarantineSettings& settings);
  void Remove(std::string_view id);

  const std::filesystem::path& Folder() const { return folder_; }

 private:
  class IndexLock;
  // Which version of the index file entries_ was read from or written as.
  struct IndexStamp {
    bool valid = false;
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, mtimeSec = 0, mtimeNsec = 0;
  };
  std::filesystem::path indexPath() const;
  // Under the lock: the index as it is on disk, mended against the copies
  // in the Maildir (Open only: it lists the folders).
  std::vector<QuarantineEntry> loadMended();
  // Under the lock: entries_ made the index as it is on disk, read again
  // only when another program changed it since this store last read or
  // wrote it.
  void refresh();
  void save(const std::vector<QuarantineEntry>& entries);
  // Adds one entry at the end of the index and of entries_.
  void append(const QuarantineEntry& entry);
  void stampIndex();
  std::string newId() const;

  std::filesystem::path folder_;
  Clock& clock_;
  std::vector<QuarantineEntry> entries_;
  IndexStamp stamp_;
  bool opened_ = false;
};

// The index as text and back (exposed for the tests of its escaping).
std::string FormatIndex(const std::vector<QuarantineEntry>& entries);
std::vector<QuarantineEntry> ParseIndex(std::string_view text);

// From and Subject of a stored message, as they stand in its header block
// (unfolded), for copies without an entry.
void ReadHeaderFields(std::string_view message, std::string& from, std::string& subject);

}  // namespace kelvrin::quarantine
