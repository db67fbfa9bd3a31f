#include "app/header_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <utility>

#include "base/atomic_file.h"

namespace kelvrin::app {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "kelvrin-headers 1\n";
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

std::uint64_t entryChecksum(std::string_view uid, std::int32_t size, std::string_view payload) {
  std::uint64_t sum = CacheChecksum(uid);
  sum = CacheChecksum(std::to_string(size), sum);
  return CacheChecksum(payload, sum);
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
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string line;
  if (!std::getline(in, line) || line + "\n" != kMagic) return;
  if (!std::getline(in, line)) return;
  const std::size_t accountSize = std::strtoull(line.c_str(), nullptr, 10);
  if (accountSize != account_.size()) return;
  std::string account(accountSize, '\0');
  if (!in.read(account.data(), static_cast<std::streamsize>(accountSize)) || account != account_ ||
      in.get() != '\n') {
    return;
  }
  // Entry: "E" uid-length size payload-length checksum, LF, the uid, the
  // payload (each line ended by LF).
  while (std::getline(in, line)) {
    unsigned long long uidLength = 0;
    long long size = 0;
    unsigned long long length = 0;
    unsigned long long checksum = 0;
    if (std::sscanf(line.c_str(), "E %llu %lld %llu %llx", &uidLength, &size, &length, &checksum) !=
            4 ||
        uidLength == 0 || uidLength > 512 || length > kEntryLimit || size < 0 || size > INT32_MAX) {
      return;  // what follows cannot be found any more
    }
    std::string uid(uidLength, '\0');
    if (!in.read(uid.data(), static_cast<std::streamsize>(uidLength))) return;
    const auto offset = static_cast<std::uint64_t>(in.tellg());
    in.seekg(static_cast<std::streamoff>(length), std::ios::cur);
    if (!in) return;
    index_[uid] = Entry{static_cast<std::int32_t>(size), checksum, offset, length, false};
  }
}

bool HeaderCache::Find(const std::string& uid, std::int32_t size, std::vector<std::string>& lines) {
  if (newFd_ < 0 || writeFailed_) return false;
  const auto found = index_.find(uid);
  if (found == index_.end()) return false;
  Entry& entry = found->second;
  if (entry.size != size || entry.kept) return false;
  std::ifstream in(path_, std::ios::binary);
  std::string payload(entry.length, '\0');
  in.seekg(static_cast<std::streamoff>(entry.offset));
  if (!in.read(payload.data(), static_cast<std::streamsize>(entry.length))) return false;
  if (entryChecksum(uid, size, payload) != entry.checksum ||
      (!payload.empty() && payload.back() != '\n')) {
    return false;
  }
  lines.clear();
  lines.reserve(static_cast<std::size_t>(std::count(payload.begin(), payload.end(), '\n')));
  std::size_t start = 0;
  while (start < payload.size()) {
    const std::size_t end = payload.find('\n', start);
    lines.emplace_back(payload, start, end - start);
    start = end + 1;
  }
  entry.kept = true;
  record(uid, size, payload, entry.checksum);
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
