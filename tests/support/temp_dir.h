#pragma once

// A fresh directory for one test, removed with everything in it at the end.

#include <string>

namespace kelvrin::test {

class TempDir {
 public:
  // Created under $TMPDIR (or /tmp) as prefix + random suffix, mode 0700.
  explicit TempDir(const std::string& prefix = "kelvrin-test-");
  // Created in parent instead.
  TempDir(const std::string& prefix, const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points $TMPDIR at a directory for the lifetime of the object, restoring
// the previous value afterwards.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& path);
  ~ScopedTmpDir();
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

 private:
  bool hadValue_ = false;
  std::string previous_;
};

// Writes text to a file, replacing it; throws std::runtime_error on failure.
void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);

}  // namespace kelvrin::test
