#include "app/header_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <utility>

#include "base/atomic_file.h"
#include "base/file_descriptor.h"

namespace kelvrin::app {
namespace {

namespace fs = std::filesystem;

// Version 1 summed the payload byte by byte; its files are not read (their
// headers are fetched once more).
constexpr std::string_view kMagic = "kelvrin-headers 2\n";
constexpr std::size_t kFlushBytes = 64 * 1024;
// Far beyond a real header block; a length field above it is damage.
constexpr std::uint64_t kEntryLimit = 8 * 1024 * 1024;

std::string hex64(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

std::string payloadOf(const std::vector<std::string>& lines) {
  std::size_t total = 0;
  for (const std::string& line : lines)
    total += line.size() + 1;
  std::string payload;
  payload.reserve(total);
  for (const std::string& line : lines) {
    payload += line;
    payload += '\n';
  }
  return payload;
}

// FNV-1a's step over eight bytes at a time, the rest byte by byte: it
// finds damage as well (nothing here is guarded against a forger; the file
// is the user's own), at an eighth of the multiplications.
std::uint64_t wordChecksum(std::string_view bytes, std::uint64_t hash) {
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, 8);
    hash ^= word;
    hash *= 0x100000001b3ULL;
    hash ^= hash >> 29;
  }
  return CacheChecksum(bytes.substr(at), hash);
}

std::uint64_t entryChecksum(std::string_view uid, std::int32_t size, std::string_view payload) {
  std::uint64_t sum = CacheChecksum(uid);
  sum = CacheChecksum(std::to_string(size), sum);
  return wordChecksum(payload, sum);
}

}  // namespace

std::uint64_t CacheChecksum(std::string_view bytes, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// The stored file, read through one window that moves forward with the
// reader: entries are read in the order they were written, so the index
// and the lookups of a check read the file about once, in large pieces,
// without holding all of it.
class HeaderCache::StoredFile {
 public:
  explicit StoredFile(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (fd_.get() >= 0 && ::fstat(fd_.get(), &info) == 0 && S_ISREG(info.st_mode)) {
      size_ = static_cast<std::uint64_t>(info.st_size);
    } else {
      fd_.close();
    }
  }

  bool Usable() const { return fd_.get() >= 0; }
  std::uint64_t Size() const { return size_; }

  // The bytes [offset, offset + length), or nothing when the file does not
  // hold them all.
  std::optional<std::string_view> Read(std::uint64_t offset, std::uint64_t length) {
    if (!Usable() || offset > size_ || length > size_ - offset) return std::nullopt;
    if (offset < start_ || offset + length > start_ + window_.size()) {
      const std::uint64_t want =
          std::min<std::uint64_t>(std::max<std::uint64_t>(length, kWindowBytes), size_ - offset);
      window_.resize(static_cast<std::size_t>(want));
      std::size_t got = 0;
      while (got < window_.size()) {
        const ssize_t n = ::pread(fd_.get(), window_.data() + got, window_.size() - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      window_.resize(got);
      start_ = offset;
      if (got < length) return std::nullopt;
    }
    return std::string_view(window_).substr(static_cast<std::size_t>(offset - start_),
                                            static_cast<std::size_t>(length));
  }

  // The line that starts at offset, without its LF, and where the next one
  // starts; nothing past the end or for a line longer than limit.
  std::optional<std::string_view> Line(std::uint64_t& offset, std::size_t limit) {
    const std::uint64_t length =
        std::min<std::uint64_t>(limit + 1, size_ - std::min(offset, size_));
    const std::optional<std::string_view> bytes = Read(offset, length);
    if (!bytes) return std::nullopt;
    const std::size_t end = bytes->find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    offset += end + 1;
    return bytes->substr(0, end);
  }

 private:
  static constexpr std::uint64_t kWindowBytes = 256 * 1024;
  base::FileDescriptor fd_;
  std::uint64_t size_ = 0;
  std::string window_;
  std::uint64_t start_ = 0;
};

HeaderCache::HeaderCache(fs::path folder, std::string_view host, std::string_view port,
                         std::string_view user)
    : folder_(std::move(folder)) {
  account_.append(host).append(1, '\0').append(port).append(1, '\0').append(user);
  path_ = folder_ / ("headers-" + hex64(CacheChecksum(account_)) + ".cache");
}

HeaderCache::~HeaderCache() {
  Discard();
}

fs::path HeaderCache::DefaultFolder(
    const std::function<std::optional<std::string>(const std::string&)>& environment) {
  const auto absolute = [&](const std::string& name) -> std::optional<fs::path> {
    const std::optional<std::string> value = environment(name);
    if (!value || value->empty() || !fs::path(*value).is_absolute()) return std::nullopt;
    return fs::path(*value);
  };
  if (auto xdg = absolute("XDG_CACHE_HOME")) return *xdg / "kelvrin";
  if (auto home = absolute("HOME")) return *home / ".cache" / "kelvrin";
  return {};
}

bool HeaderCache::Open() {
  readIndex();
  std::error_code ec;
  fs::create_directories(folder_, ec);
  if (ec) return false;
  ::chmod(folder_.c_str(), 0700);
  std::random_device random;
  for (int attempt = 0; attempt < 8 && newFd_ < 0; ++attempt) {
    newPath_ = folder_ / ("." + path_.filename().string() + "." + hex64(random()) + ".new");
    newFd_ = ::open(newPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (newFd_ < 0 && errno != EEXIST) break;
  }
  if (newFd_ < 0) {
    newPath_.clear();
    return false;
  }
  ::fchmod(newFd_, 0600);
  write(kMagic);
  write(std::to_string(account_.size()) + "\n");
  write(account_);
  write("\n");
  return true;
}

void HeaderCache::readIndex() {
  index_.clear();
  stored_ = std::make_unique<StoredFile>(path_);
  if (!stored_->Usable()) return;
  std::uint64_t at = 0;
  const std::optional<std::string_view> magic = stored_->Line(at, kMagic.size());
  if (!magic || std::string(*magic) + "\n" != kMagic) return;
  const std::optional<std::string_view> accountLine = stored_->Line(at, 32);
  if (!accountLine) return;
  const std::size_t accountSize = std::strtoull(std::string(*accountLine).c_str(), nullptr, 10);
  if (accountSize != account_.size()) return;
  const std::optional<std::string_view> account = stored_->Read(at, accountSize + 1);
  if (!account || account->substr(0, accountSize) != account_ || account->back() != '\n') return;
  at += accountSize + 1;
  // Entry: "E" uid-length size payload-length checksum, LF, the uid, the
  // payload (each line ended by LF).
  while (at < stored_->Size()) {
    const std::optional<std::string_view> head = stored_->Line(at, 128);
    if (!head) return;
    unsigned long long uidLength = 0;
    long long size = 0;
    unsigned long long length = 0;
    unsigned long long checksum = 0;
    if (std::sscanf(std::string(*head).c_str(), "E %llu %lld %llu %llx", &uidLength, &size, &length,
                    &checksum) != 4 ||
        uidLength == 0 || uidLength > 512 || length > kEntryLimit || size < 0 || size > INT32_MAX) {
      return;  // what follows cannot be found any more
    }
    const std::optional<std::string_view> uid = stored_->Read(at, uidLength);
    if (!uid) return;
    const std::uint64_t offset = at + uidLength;
    if (offset > stored_->Size() || length > stored_->Size() - offset) return;  // cut short
    index_[std::string(*uid)] =
        Entry{static_cast<std::int32_t>(size), checksum, offset, length, false};
    at = offset + length;
  }
}

bool HeaderCache::Find(const std::string& uid, std::int32_t size, std::vector<std::string>& lines) {
  if (newFd_ < 0 || writeFailed_ || !stored_) return false;
  const auto found = index_.find(uid);
  if (found == index_.end()) return false;
  Entry& entry = found->second;
  if (entry.size != size || entry.kept) return false;
  const std::optional<std::string_view> payload = stored_->Read(entry.offset, entry.length);
  if (!payload || entryChecksum(uid, size, *payload) != entry.checksum ||
      (!payload->empty() && payload->back() != '\n')) {
    return false;
  }
  lines.clear();
  lines.reserve(static_cast<std::size_t>(std::count(payload->begin(), payload->end(), '\n')));
  std::size_t start = 0;
  while (start < payload->size()) {
    const std::size_t end = payload->find('\n', start);
    lines.emplace_back(payload->substr(start, end - start));
    start = end + 1;
  }
  entry.kept = true;
  record(uid, size, *payload, entry.checksum);
  ++found_;
  return true;
}

void HeaderCache::Add(const std::string& uid, std::int32_t size,
                      const std::vector<std::string>& lines) {
  if (newFd_ < 0 || writeFailed_ || uid.empty() || uid.size() > 512) return;
  const std::string payload = payloadOf(lines);
  record(uid, size, payload, entryChecksum(uid, size, payload));
  ++added_;
}

void HeaderCache::record(const std::string& uid, std::int32_t size, std::string_view payload,
                         std::uint64_t checksum) {
  write("E " + std::to_string(uid.size()) + " " + std::to_string(size) + " " +
        std::to_string(payload.size()) + " " + hex64(checksum) + "\n");
  write(uid);
  write(payload);
}

void HeaderCache::write(std::string_view bytes) {
  buffer_ += bytes;
  if (buffer_.size() >= kFlushBytes) flush();
}

bool HeaderCache::flush() {
  if (newFd_ < 0 || writeFailed_) return false;
  if (!base::writeFully(newFd_, buffer_)) writeFailed_ = true;
  buffer_.clear();
  return !writeFailed_;
}

bool HeaderCache::Commit(std::string& error) {
  if (newFd_ < 0) {
    error = "Cannot create a file in " + folder_.string() + ".";
    return false;
  }
  // No fsync: the rename alone keeps a reader from ever seeing half a
  // file, and what a crash may still damage the checksums catch, at the
  // cost of fetching those headers once more. Syncing megabytes of cache
  // on every check would cost more than it can save.
  const bool written = flush();
  const int closeResult = ::close(std::exchange(newFd_, -1));
  if (!written || closeResult != 0 || ::rename(newPath_.c_str(), path_.c_str()) != 0) {
    error = "Cannot write " + path_.string() + ": " + std::strerror(errno) + ".";
    ::unlink(newPath_.c_str());
    newPath_.clear();
    return false;
  }
  newPath_.clear();
  return true;
}

void HeaderCache::Discard() {
  if (newFd_ >= 0) ::close(std::exchange(newFd_, -1));
  if (!newPath_.empty()) ::unlink(newPath_.c_str());
  newPath_.clear();
  buffer_.clear();
}

}  // namespace kelvrin::app
