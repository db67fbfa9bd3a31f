#include "mail/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "base/atomic_file.h"
#include "mail/random_source.h"

namespace kelvrin::mail {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;
constexpr int kMaxNameAttempts = 100;

std::mutex& hookMutex() {
  static std::mutex m;
  return m;
}

std::function<void(const std::string&)>& hookSlot() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

// The registry of live temporary files: fixed storage, so that the signal
// path neither allocates nor locks. A slot is Free, Claimed while its path is
// written or removed, or Live; only Live slots are read from a signal.
constexpr int kLiveSlots = 64;
enum : int { kFree = 0, kClaimed = 1, kLive = 2 };
std::array<std::atomic<int>, kLiveSlots> gSlotState{};
std::array<std::array<char, PATH_MAX>, kLiveSlots> gSlotPath{};

}  // namespace

int RegisterLiveTempFile(const std::string& path) noexcept {
  if (path.size() >= PATH_MAX) return -1;
  for (int slot = 0; slot < kLiveSlots; ++slot) {
    int expected = kFree;
    if (!gSlotState[slot].compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(gSlotPath[slot].data(), path.c_str(), path.size() + 1);
    gSlotState[slot].store(kLive, std::memory_order_release);
    return slot;
  }
  return -1;
}

void UnregisterLiveTempFile(int slot) noexcept {
  if (slot < 0 || slot >= kLiveSlots) return;
  gSlotState[slot].store(kFree, std::memory_order_release);
}

void RemoveLiveTempFiles() noexcept {
  for (int slot = 0; slot < kLiveSlots; ++slot) {
    if (gSlotState[slot].load(std::memory_order_acquire) == kLive) {
      ::unlink(gSlotPath[slot].data());
    }
  }
}

int LiveTempFileCount() noexcept {
  int count = 0;
  for (const auto& state : gSlotState)
    count += state.load() == kLive ? 1 : 0;
  return count;
}

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp";
}

std::optional<TempFile> TempFile::Create(std::string_view identifier, std::string_view kind) {
  const std::string dir = TempDirectory();
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string path = dir;
    if (path.back() != '/') path += '/';
    path += identifier;
    path += kind;
    path += '-';
    path += RandomHex8();
    path += ".$$$";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return TempFile(std::move(path), fd);
    if (errno != EEXIST && errno != EINTR) return std::nullopt;
  }
  return std::nullopt;
}

TempFile::TempFile(std::string path, int fd)
    : path_(std::move(path)), slot_(RegisterLiveTempFile(path_)) {
  sink_.fd = fd;
}

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::move(other.path_)), slot_(std::exchange(other.slot_, -1)) {
  sink_.fd = other.sink_.fd;
  sink_.failed = other.sink_.failed;
  sink_.buffer = std::move(other.sink_.buffer);
  other.sink_.fd = -1;
  other.path_.clear();
}

TempFile::~TempFile() {
  if (sink_.fd >= 0) ::close(sink_.fd);
  if (!path_.empty()) ::unlink(path_.c_str());
  UnregisterLiveTempFile(slot_);
}

bool TempFile::FileSink::WriteBytes(const char* data, std::size_t count) {
  if (failed || fd < 0) return false;
  if (buffer.size() + count > kBufferSize) {
    if (!Flush()) return false;
    if (count >= kBufferSize) {
      failed = !base::writeFully(fd, std::string_view(data, count));
      return !failed;
    }
  }
  buffer.append(data, count);
  return true;
}

bool TempFile::FileSink::Flush() {
  if (failed || fd < 0) return false;
  if (!buffer.empty()) {
    failed = !base::writeFully(fd, buffer);
    buffer.clear();
  }
  return !failed;
}

bool TempFile::FinishWriting() {
  const bool ok = sink_.Flush();
  if (sink_.fd >= 0) {
    const bool closed = ::close(sink_.fd) == 0;
    sink_.fd = -1;
    return ok && closed;
  }
  return ok;
}

std::optional<std::string> TempFile::ReadBack() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> result;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    bool ok = true;
    for (;;) {
      if (got == data.size()) data.resize(data.size() + kBufferSize);
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (ok) {
      data.resize(got);
      result = std::move(data);
    }
  }
  ::close(fd);
  return result;
}

void SetTempFileWrittenHook(std::function<void(const std::string& path)> hook) {
  const std::lock_guard lock(hookMutex());
  hookSlot() = std::move(hook);
}

void RunTempFileWrittenHook(const std::string& path) {
  std::function<void(const std::string&)> hook;
  {
    const std::lock_guard lock(hookMutex());
    hook = hookSlot();
  }
  if (hook) hook(path);
}

}  // namespace kelvrin::mail
