#pragma once

#include <unistd.h>

#include <utility>

namespace kelvrin::base {

// Owns a file descriptor and closes it on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  // Closes now and returns the result of close, which may be the first sign
  // of a failed write.
  int close() { return ::close(release()); }

 private:
  int fd_;
};

}  // namespace kelvrin::base
