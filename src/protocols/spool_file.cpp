#include "protocols/spool_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/atomic_file.h"
#include "mail/random_source.h"
#include "mail/temp_file.h"

namespace kelvrin::protocols {
namespace {
constexpr int kNameAttempts = 100;
}  // namespace

SpoolFile::SpoolFile(std::string prefix, std::size_t memoryLimit)
    : prefix_(std::move(prefix)), memoryLimit_(memoryLimit) {}

SpoolFile::~SpoolFile() {
  Remove();
}

bool SpoolFile::createFile() {
  std::string directory = mail::TempDirectory();
  if (directory.back() != '/') directory += '/';
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string path = directory + prefix_ + "-" + mail::RandomHex8() + ".$$$";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      fd_ = fd;
      path_ = std::move(path);
      liveSlot_ = mail::RegisterLiveTempFile(path_);
      return true;
    }
    if (errno != EEXIST && errno != EINTR) return false;
  }
  return false;
}

SpoolFile::WriteResult SpoolFile::Write(std::string_view bytes) {
  if (fd_ < 0) {
    if (size_ + bytes.size() <= memoryLimit_) {
      memory_.append(bytes);
      size_ += bytes.size();
      return WriteResult::Written;
    }
    if (!createFile()) return WriteResult::CannotCreate;
    const bool moved = base::writeFully(fd_, memory_);
    std::string().swap(memory_);
    if (!moved) return WriteResult::CannotWrite;
  }
  if (!base::writeFully(fd_, bytes)) return WriteResult::CannotWrite;
  size_ += bytes.size();
  return WriteResult::Written;
}

std::optional<std::string> SpoolFile::ReadAll() {
  if (fd_ < 0) return std::exchange(memory_, std::string());
  std::string text(size_, '\0');
  std::size_t got = 0;
  while (got < size_) {
    const ssize_t n = ::pread(fd_, text.data() + got, size_ - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  return text;
}

void SpoolFile::Remove() {
  std::string().swap(memory_);
  size_ = 0;
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
  mail::UnregisterLiveTempFile(std::exchange(liveSlot_, -1));
  fd_ = -1;
  path_.clear();
}

}  // namespace kelvrin::protocols
