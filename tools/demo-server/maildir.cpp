#include "maildir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "demo_text.h"

namespace kelvrin::demo {

namespace {

bool isMessageFile(std::string_view name) {
  return name.size() > 4 && name.front() != '.' &&
         equalsIgnoringCase(name.substr(name.size() - 4), ".eml");
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0)
    content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

// Calls f(line) for every line of the text without its line end; a final
// line end adds no line.
template <typename F>
void forEachLine(std::string_view text, F&& f) {
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!f(line)) return;
    if (nl == std::string_view::npos) return;
    text.remove_prefix(nl + 1);
  }
}

}  // namespace

std::string uidForFileName(const std::string& fileName) {
  const bool valid =
      !fileName.empty() && fileName.size() <= 70 &&
      std::all_of(fileName.begin(), fileName.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
  if (valid) return fileName;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : fileName) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[20];
  std::snprintf(text, sizeof text, "h%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::uint64_t wireSize(std::string_view fileText) {
  std::uint64_t size = 0;
  forEachLine(fileText, [&](std::string_view line) {
    size += line.size() + 2;
    return true;
  });
  return size;
}

std::string wireForm(std::string_view fileText, std::optional<std::uint64_t> bodyLines) {
  std::string out;
  out.reserve(fileText.size() + fileText.size() / 16 + 16);
  bool inHeader = true;
  std::uint64_t bodyLeft = bodyLines.value_or(0);
  forEachLine(fileText, [&](std::string_view line) {
    if (bodyLines && !inHeader) {
      if (bodyLeft == 0) return false;
      --bodyLeft;
    }
    if (line.empty()) inHeader = false;
    if (!line.empty() && line.front() == '.') out.push_back('.');  // RFC 1939 section 3
    out.append(line);
    out.append("\r\n");
    return true;
  });
  return out;
}

Maildir::Maildir(std::filesystem::path dir) : dir_(std::move(dir)) {}

std::vector<MessageInfo> Maildir::scan() {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir_.c_str());
  if (!d) return {};
  const int dirFd = ::dirfd(d);
  struct Found {
    std::string name;
    struct stat st;
  };
  std::vector<Found> found;
  while (const dirent* e = ::readdir(d)) {
    if (!isMessageFile(e->d_name)) continue;
    Found f{e->d_name, {}};
    if (::fstatat(dirFd, e->d_name, &f.st, 0) != 0 || !S_ISREG(f.st.st_mode)) continue;
    found.push_back(std::move(f));
  }
  ::closedir(d);
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.name < b.name; });

  std::vector<MessageInfo> messages;
  messages.reserve(found.size());
  std::lock_guard lock(mutex_);
  for (Found& f : found) {
    const std::int64_t modifiedNs =
        static_cast<std::int64_t>(f.st.st_mtim.tv_sec) * 1000000000 + f.st.st_mtim.tv_nsec;
    const auto fileSize = static_cast<std::uint64_t>(f.st.st_size);
    auto it = sizes_.find(f.name);
    if (it == sizes_.end() || it->second.modifiedNs != modifiedNs ||
        it->second.fileSize != fileSize) {
      const auto text = readFile(dir_ / f.name);
      if (!text) continue;  // vanished or unreadable: not part of the maildrop
      it = sizes_.insert_or_assign(f.name, CachedSize{modifiedNs, fileSize, wireSize(*text)}).first;
    }
    messages.push_back(MessageInfo{f.name, uidForFileName(f.name), it->second.wireSize});
  }
  return messages;
}

std::optional<std::string> Maildir::wireText(const std::string& fileName,
                                             std::optional<std::uint64_t> bodyLines) {
  const auto text = readFile(dir_ / fileName);
  if (!text) return std::nullopt;
  return wireForm(*text, bodyLines);
}

bool Maildir::remove(const std::string& fileName) {
  if (::unlink((dir_ / fileName).c_str()) != 0 && errno != ENOENT) return false;
  std::lock_guard lock(mutex_);
  sizes_.erase(fileName);
  return true;
}

std::string Maildir::store(const std::string& text) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "smtp-%016lld-%d-%06llu.eml", static_cast<long long>(now),
                  static_cast<int>(::getpid()), static_cast<unsigned long long>(++stored_));
    name = buffer;
  }
  std::string temp = (dir_ / ".incoming-XXXXXX").string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("cannot store mail: ") + std::strerror(errno));
  std::string_view left = text;
  bool ok = true;
  while (ok && !left.empty()) {
    const ssize_t n = ::write(fd, left.data(), left.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) left.remove_prefix(static_cast<std::size_t>(n));
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), (dir_ / name).c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw std::runtime_error(std::string("cannot store mail: ") + std::strerror(error));
  }
  return name;
}

bool Maildir::lockMaildrop(std::chrono::milliseconds wait) {
  std::unique_lock lock(lockMutex_);
  if (!lockReleased_.wait_for(lock, wait, [this] { return !locked_; })) return false;
  locked_ = true;
  return true;
}

void Maildir::unlockMaildrop() {
  {
    std::lock_guard lock(lockMutex_);
    locked_ = false;
  }
  lockReleased_.notify_all();
}

}  // namespace kelvrin::demo
