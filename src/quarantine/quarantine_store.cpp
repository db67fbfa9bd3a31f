#include "quarantine/quarantine_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "base/atomic_file.h"
#include "base/file_descriptor.h"

namespace kelvrin::quarantine {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kIndexHeader = "kelvrin-quarantine 1";
constexpr const char* kIndexName = "index";
constexpr const char* kLockName = "index.lock";
// A copy still in tmp/ after this long belongs to no running deletion (the
// Maildir rule of thumb).
constexpr std::int64_t kStaleTempSeconds = 36 * 3600;
constexpr std::size_t kIdLength = 12;

class SystemClockImpl final : public Clock {
 public:
  std::int64_t Now() override {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
};

[[noreturn]] void fail(const std::string& what, const fs::path& path, int error) {
  throw QuarantineError(what + " " + path.string() + ": " + std::strerror(error));
}

void makePrivateFolder(const fs::path& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) fail("Cannot create", path, errno);
  // Mail is private, whatever the umask made of an older folder.
  if (::chmod(path.c_str(), 0700) != 0) fail("Cannot protect", path, errno);
}

void syncFolder(const fs::path& folder) {
  const base::FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

std::string escapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

template <typename T>
bool parseNumber(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool isOurId(std::string_view text) {
  return text.size() == kIdLength && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<std::string> readWhole(const fs::path& path) {
  const base::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace

Clock& SystemClock() {
  static SystemClockImpl clock;
  return clock;
}

// ---------------------------------------------------------------------------
// The index as text

std::string FormatIndex(const std::vector<QuarantineEntry>& entries) {
  std::string text(kIndexHeader);
  text += '\n';
  for (const QuarantineEntry& e : entries) {
    const std::string fields[] = {e.Id,
                                  e.FileName,
                                  std::to_string(e.DeletedAt),
                                  e.Host,
                                  std::to_string(e.Port),
                                  e.User,
                                  e.UIDL,
                                  std::to_string(e.Level),
                                  std::to_string(e.Size),
                                  e.From,
                                  e.Subject};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
      if (i) text += '\t';
      text += escapeField(fields[i]);
    }
    text += '\n';
  }
  return text;
}

std::vector<QuarantineEntry> ParseIndex(std::string_view text) {
  std::vector<QuarantineEntry> entries;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (first) {
      first = false;
      if (line == kIndexHeader) continue;
    }
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(unescapeField(line.substr(start, tab - start)));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    // A line that is not an entry (a torn or hand-edited index) is skipped;
    // its copy, if there is one, is adopted again.
    if (fields.size() != 11) continue;
    QuarantineEntry e;
    e.Id = fields[0];
    e.FileName = fields[1];
    e.Host = fields[3];
    e.User = fields[5];
    e.UIDL = fields[6];
    e.From = fields[9];
    e.Subject = fields[10];
    if (e.Id.empty() || e.FileName.empty() || e.FileName.find('/') != std::string::npos ||
        !parseNumber(fields[2], e.DeletedAt) || !parseNumber(fields[4], e.Port) ||
        !parseNumber(fields[7], e.Level) || !parseNumber(fields[8], e.Size)) {
      continue;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

void ReadHeaderFields(std::string_view message, std::string& from, std::string& subject) {
  from.clear();
  subject.clear();
  std::string* current = nullptr;
  while (!message.empty()) {
    std::size_t end = message.find('\n');
    std::string_view line = message.substr(0, end);
    message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the end of the header block
    if (line.front() == ' ' || line.front() == '\t') {
      if (current) *current += std::string(line);
      continue;
    }
    current = nullptr;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name(line.substr(0, colon));
    for (char& c : name)
      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    if (name == "from" && from.empty()) {
      from = std::string(value);
      current = &from;
    } else if (name == "subject" && subject.empty()) {
      subject = std::string(value);
      current = &subject;
    }
  }
}

// ---------------------------------------------------------------------------
// The store

class QuarantineStore::IndexLock {
 public:
  explicit IndexLock(const fs::path& folder)
      : fd_(::open((folder / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_.get() < 0) fail("Cannot open", folder / kLockName, errno);
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) fail("Cannot lock", folder / kLockName, errno);
    }
  }

 private:
  base::FileDescriptor fd_;
};

QuarantineStore::QuarantineStore(fs::path folder, Clock& clock)
    : folder_(std::move(folder)), clock_(clock) {}

QuarantineStore::~QuarantineStore() = default;

fs::path QuarantineStore::DefaultFolder(
    const std::function<std::optional<std::string>(const std::string&)>& environment) {
  const auto value = [&](const std::string& name) -> std::optional<std::string> {
    auto v = environment(name);
    if (v && v->empty()) return std::nullopt;
    return v;
  };
  fs::path data;
  if (auto xdg = value("XDG_DATA_HOME"); xdg && fs::path(*xdg).is_absolute()) {
    data = *xdg;
  } else if (auto home = value("HOME"); home && fs::path(*home).is_absolute()) {
    data = fs::path(*home) / ".local" / "share";
  } else {
    throw QuarantineError(
        "Cannot find the folder for kept mail: neither XDG_DATA_HOME nor HOME "
        "is set");
  }
  return data / "kelvrin" / "quarantine";
}

fs::path QuarantineStore::indexPath() const {
  return folder_ / kIndexName;
}

void QuarantineStore::Open() {
  std::error_code ec;
  fs::create_directories(folder_.parent_path(), ec);
  if (ec) fail("Cannot create", folder_.parent_path(), ec.value());
  makePrivateFolder(folder_.parent_path());
  makePrivateFolder(folder_);
  for (const char* sub : {"tmp", "new", "cur"})
    makePrivateFolder(folder_ / sub);
  opened_ = true;
  const IndexLock lock(folder_);
  entries_ = loadMended();
  stampIndex();
}

std::vector<QuarantineEntry> QuarantineStore::loadMended() {
  std::vector<QuarantineEntry> entries;
  std::string text;
  if (fs::exists(indexPath())) {
    auto bytes = readWhole(indexPath());
    if (!bytes) fail("Cannot read", indexPath(), errno);
    text = std::move(*bytes);
  }
  const std::vector<QuarantineEntry> stored = ParseIndex(text);

  // The copies on disk: new/ for those written here, cur/ if a mail reader
  // has looked at them since.
  std::map<std::string, fs::path> files;
  for (const char* sub : {"new", "cur"}) {
    // A folder that cannot be read (out of file descriptors, an I/O error)
    // says nothing of the copies in it: taking it for empty would drop the
    // entries of every copy there.
    std::error_code ec;
    fs::directory_iterator it(folder_ / sub, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::error_code typeError;
      if (!name.empty() && name[0] != '.' && it->is_regular_file(typeError)) {
        files[name] = it->path();
      }
    }
    if (ec) fail("Cannot read", folder_ / sub, ec.value());
  }
  // The name of an entry's copy as it is now, or nullptr.
  const auto fileOf = [&](const std::string& name) -> const std::string* {
    auto it = files.find(name);
    if (it != files.end()) return &it->first;
    // A mail reader that moved a copy to cur/ adds ":2,FLAGS" to its name;
    // such names sort right after name + ":".
    const std::string prefix = name + ":";
    it = files.lower_bound(prefix);
    if (it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0) return &it->first;
    return nullptr;
  };

  std::set<std::string> ids;
  std::set<std::string> claimed;
  for (const QuarantineEntry& e : stored) {
    const std::string* file = fileOf(e.FileName);
    // An entry whose copy is gone (removed by hand, or pruned by a crash
    // between the unlink and the index) has nothing to restore.
    if (!file || claimed.count(*file) || ids.count(e.Id)) continue;
    claimed.insert(*file);
    ids.insert(e.Id);
    QuarantineEntry kept = e;
    kept.FileName = *file;
    entries.push_back(std::move(kept));
  }
  // A copy without an entry (a crash after the copy was moved into place)
  // is kept: it may be all that is left of the message.
  for (const auto& [name, path] : files) {
    if (claimed.count(name)) continue;
    QuarantineEntry e;
    e.FileName = name;
    const std::size_t dot = name.find('.');
    const std::string idPart =
        dot == std::string::npos
            ? ""
            : name.substr(dot + 1, name.find_first_of(".:", dot + 1) - dot - 1);
    e.Id = isOurId(idPart) && !ids.count(idPart) ? idPart : newId();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      e.DeletedAt = st.st_mtime;
      e.Size = st.st_size;
    }
    if (auto bytes = readWhole(path)) ReadHeaderFields(*bytes, e.From, e.Subject);
    ids.insert(e.Id);
    entries.push_back(std::move(e));
  }
  // Half copies of deletions that never finished. Their age is the file
  // system's, so it is measured on the system's clock.
  const std::int64_t now = SystemClock().Now();
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(folder_ / "tmp", ec)) {
    struct stat st {};
    if (::stat(item.path().c_str(), &st) == 0 && now - st.st_mtime > kStaleTempSeconds) {
      ::unlink(item.path().c_str());
    }
  }
  // Oldest first; copies of the same second stay in the order they were
  // kept (one deletion keeps many within a second), so that the cap takes
  // the first of them first.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.DeletedAt < b.DeletedAt; });
  if (FormatIndex(entries) != FormatIndex(stored) || text.empty()) save(entries);
  return entries;
}

void QuarantineStore::save(const std::vector<QuarantineEntry>& entries) {
  stamp_.valid = false;
  try {
    base::replaceFileAtomically(indexPath(), FormatIndex(entries), base::FileMode::exactly(0600));
  } catch (const base::FileError& e) {
    fail("Cannot write", e.path(), e.error());
  }
  stampIndex();
}

namespace {

bool sameVersion(const struct stat& st, std::uint64_t device, std::uint64_t inode,
                 std::int64_t size, std::int64_t sec, std::int64_t nsec) {
  return st.st_dev == device && st.st_ino == inode && st.st_size == size &&
         st.st_mtim.tv_sec == sec && st.st_mtim.tv_nsec == nsec;
}

}  // namespace

void QuarantineStore::stampIndex() {
  struct stat st {};
  stamp_.valid = ::stat(indexPath().c_str(), &st) == 0;
  stamp_.device = st.st_dev;
  stamp_.inode = st.st_ino;
  stamp_.size = st.st_size;
  stamp_.mtimeSec = st.st_mtim.tv_sec;
  stamp_.mtimeNsec = st.st_mtim.tv_nsec;
}

void QuarantineStore::refresh() {
  // Every change of the index holds the lock, and so does the caller: what
  // this store last saw is still there unless the file is another now.
  struct stat st {};
  if (::stat(indexPath().c_str(), &st) != 0) {
    if (errno != ENOENT) fail("Cannot read", indexPath(), errno);
    stamp_.valid = false;
    entries_.clear();
    return;
  }
  if (stamp_.valid && sameVersion(st, stamp_.device, stamp_.inode, stamp_.size, stamp_.mtimeSec,
                                  stamp_.mtimeNsec)) {
    return;
  }
  auto bytes = readWhole(indexPath());
  if (!bytes) fail("Cannot read", indexPath(), errno);
  entries_ = ParseIndex(*bytes);
  stampIndex();
}

void QuarantineStore::append(const QuarantineEntry& entry) {
  stamp_.valid = false;
  const base::FileDescriptor fd(::open(indexPath().c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || st.st_size == 0) {
    // No index to add to (removed by hand): a whole new one.
    std::vector<QuarantineEntry> all = entries_;
    all.push_back(entry);
    save(all);
    entries_ = std::move(all);
    return;
  }
  // Rewriting the whole index for every copy would make each deletion cost
  // as much as the quarantine holds; one line is added instead. A line torn
  // by a crash is ended first, so that it spoils no other.
  std::string line = FormatIndex({entry}).substr(kIndexHeader.size() + 1);
  char last = '\n';
  if (::pread(fd.get(), &last, 1, st.st_size - 1) == 1 && last != '\n') line.insert(0, "\n");
  if (!base::writeFully(fd.get(), line) || ::fsync(fd.get()) != 0) {
    fail("Cannot write", indexPath(), errno);
  }
  entries_.push_back(entry);
  stampIndex();
}

std::string QuarantineStore::newId() const {
  static std::random_device device;
  static std::mt19937_64 generator((std::uint64_t{device()} << 32) ^ device() ^
                                   static_cast<std::uint64_t>(::getpid()));
  constexpr char kHex[] = "0123456789abcdef";
  for (;;) {
    std::string id;
    std::uint64_t bits = generator();
    for (std::size_t i = 0; i < kIdLength; ++i, bits >>= 4)
      id += kHex[bits & 15];
    const bool taken = std::any_of(entries_.begin(), entries_.end(),
                                   [&](const QuarantineEntry& e) { return e.Id == id; });
    if (!taken) return id;
  }
}

std::unique_ptr<QuarantineStore::Writer> QuarantineStore::Begin() {
  if (!opened_) Open();
  const std::string id = newId();
  const fs::path temp = folder_ / "tmp" / (std::to_string(clock_.Now()) + "." + id + ".kelvrin");
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) fail("Cannot create", temp, errno);
  return std::unique_ptr<Writer>(new Writer(*this, id, temp, fd));
}

QuarantineStore::Writer::Writer(QuarantineStore& store, std::string id, fs::path temp, int fd)
    : store_(store), id_(std::move(id)), temp_(std::move(temp)), fd_(fd) {}

QuarantineStore::Writer::~Writer() {
  discard();
}

void QuarantineStore::Writer::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void QuarantineStore::Writer::Append(std::string_view bytes) {
  if (failed_ || fd_ < 0) throw QuarantineError("The copy " + id_ + " was not written");
  if (!base::writeFully(fd_, bytes)) {
    const int error = errno;
    const fs::path path = temp_;
    failed_ = true;
    discard();
    fail("Cannot write", path, error);
  }
  size_ += static_cast<std::int64_t>(bytes.size());
}

QuarantineEntry QuarantineStore::Writer::Commit(QuarantineEntry entry) {
  if (failed_ || fd_ < 0) throw QuarantineError("The copy " + id_ + " was not written");
  const fs::path temp = temp_;
  int error = 0;
  if (::fsync(fd_) != 0) error = errno;
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error != 0) {
    failed_ = true;
    discard();
    fail("Cannot write", temp, error);
  }
  entry.Id = id_;
  entry.FileName = temp.filename().string();
  entry.DeletedAt = store_.clock_.Now();
  entry.Size = size_;
  const fs::path target = store_.folder_ / "new" / entry.FileName;

  std::optional<IndexLock> lock;
  try {
    lock.emplace(store_.folder_);
    store_.refresh();
  } catch (...) {
    // No copy may stay behind in tmp/ for a message that is not deleted.
    failed_ = true;
    discard();
    throw;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    error = errno;
    failed_ = true;
    discard();
    fail("Cannot move", temp, error);
  }
  temp_.clear();
  syncFolder(store_.folder_ / "new");
  try {
    store_.append(entry);
  } catch (...) {
    // Without its entry the copy would pass for one of an earlier crash,
    // and the message is not deleted anyway.
    ::unlink(target.c_str());
    failed_ = true;
    throw;
  }
  return entry;
}

std::optional<QuarantineEntry> QuarantineStore::Find(std::string_view id) const {
  for (const QuarantineEntry& e : entries_) {
    if (e.Id == id) return e;
  }
  return std::nullopt;
}

fs::path QuarantineStore::MessagePath(const QuarantineEntry& entry) const {
  for (const char* sub : {"new", "cur"}) {
    fs::path path = folder_ / sub / entry.FileName;
    if (fs::exists(path)) return path;
  }
  return folder_ / "new" / entry.FileName;
}

std::string QuarantineStore::ReadMessage(const QuarantineEntry& entry) const {
  const fs::path path = MessagePath(entry);
  auto bytes = readWhole(path);
  if (!bytes) fail("Cannot read", path, errno);
  return std::move(*bytes);
}

std::int64_t QuarantineStore::TotalSize() const {
  std::int64_t total = 0;
  for (const QuarantineEntry& e : entries_)
    total += e.Size;
  return total;
}

int QuarantineStore::Prune(const QuarantineSettings& settings) {
  if (!opened_) Open();
  const IndexLock lock(folder_);
  refresh();
  const std::int64_t oldest = clock_.Now() - std::int64_t{settings.RetentionDays} * 86400;
  std::int64_t total = 0;
  for (const QuarantineEntry& e : entries_)
    total += e.Size;
  // Oldest first (the order of the index): past the retention, or while
  // all together do not fit.
  std::vector<bool> goes(entries_.size(), false);
  int removed = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const QuarantineEntry& e = entries_[i];
    if (e.DeletedAt < oldest || total > settings.SizeCap) {
      goes[i] = true;
      total -= e.Size;
      ++removed;
    }
  }
  if (removed == 0) return 0;
  std::vector<QuarantineEntry> kept;
  kept.reserve(entries_.size() - static_cast<std::size_t>(removed));
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (goes[i]) {
      ::unlink(MessagePath(entries_[i]).c_str());
    } else {
      kept.push_back(std::move(entries_[i]));
    }
  }
  entries_.clear();
  // A crash before the index is saved leaves entries without copies, which
  // the next Open drops.
  save(kept);
  entries_ = std::move(kept);
  return removed;
}

void QuarantineStore::Remove(std::string_view id) {
  if (!opened_) Open();
  const IndexLock lock(folder_);
  refresh();
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const QuarantineEntry& e) { return e.Id == id; });
  if (it == entries_.end()) return;
  ::unlink(MessagePath(*it).c_str());
  std::vector<QuarantineEntry> kept = entries_;
  kept.erase(kept.begin() + (it - entries_.begin()));
  save(kept);
  entries_ = std::move(kept);
}

}  // namespace kelvrin::quarantine
