#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/file_descriptor.h"

namespace kelvrin::base {

FileError::FileError(std::filesystem::path path, int error)
    : std::runtime_error("Cannot write " + path.string() + ": " + std::strerror(error)),
      path_(std::move(path)),
      error_(error) {}

std::string FileError::reason() const {
  return std::strerror(error_);
}

bool writeFully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           FileMode mode) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) throw FileError(path, errno);

  mode_t bits = mode.mode();
  struct stat old {};
  if (mode.keepsExisting() && ::stat(path.c_str(), &old) == 0) bits = old.st_mode & 07777;
  int error = 0;
  if (::fchmod(fd.get(), bits) != 0 || !writeFully(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
    error = errno;
  }
  if (fd.close() != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw FileError(path, error);
  }
  // The new file is complete either way; this makes the rename itself
  // survive a crash before the write is called done.
  const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace kelvrin::base
