#include "protocols/spool_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "mail/random_source.h"
#include "mail/temp_file.h"

namespace kelvrin::protocols {
namespace {
constexpr int kNameAttempts = 100;
}  // namespace

SpoolFile::~SpoolFile() {
  Remove();
}

std::string SpoolFile::newName(const std::string& prefix) const {
  std::string path = mail::TempDirectory();
  if (path.empty() || path.back() != '/') path += '/';
  return path + prefix + "-" + mail::RandomHex8() + ".$$$";
}

bool SpoolFile::Begin(const std::string& prefix) {
  if (fd_ >= 0) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      std::string path = newName(prefix);
      if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        // Emptying the file here would free its blocks only to allocate them
        // again for the next message; ReadAll cuts the file to size instead.
        path_ = std::move(path);
        size_ = 0;
        return true;
      }
      if (errno != EEXIST) break;
    }
    // Renaming is not possible here (the file went away, the file system
    // cannot do it): start over with a new file. A name that is gone is not
    // ours any more, so it is not deleted.
    if (errno == ENOENT) path_.clear();
    Remove();
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string path = newName(prefix);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      fd_ = fd;
      path_ = std::move(path);
      size_ = 0;
      length_ = 0;
      return true;
    }
    if (errno != EEXIST && errno != EINTR) return false;
  }
  return false;
}

bool SpoolFile::Write(const char* data, std::size_t count) {
  if (fd_ < 0) return false;
  while (count > 0) {
    const ssize_t written = ::pwrite(fd_, data, count, static_cast<off_t>(size_));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    count -= static_cast<std::size_t>(written);
    size_ += static_cast<std::size_t>(written);
  }
  length_ = std::max(length_, size_);
  return true;
}

std::optional<std::string> SpoolFile::ReadAll() {
  if (fd_ < 0) return std::nullopt;
  if (length_ > size_) {
    if (ftruncate(fd_, static_cast<off_t>(size_)) != 0) return std::nullopt;
    length_ = size_;
  }
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
  if (fd_ < 0) return;
  ::close(fd_);
  if (!path_.empty()) ::unlink(path_.c_str());
  fd_ = -1;
  path_.clear();
  size_ = 0;
  length_ = 0;
}

}  // namespace kelvrin::protocols
