#include "support/temp_dir.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kelvrin::test {

namespace {
std::string tmpBase() {
  const char* base = std::getenv("TMPDIR");
  return (base != nullptr && *base != '\0') ? base : "/tmp";
}
}  // namespace

TempDir::TempDir(const std::string& prefix) : TempDir(prefix, tmpBase()) {}

TempDir::TempDir(const std::string& prefix, const std::string& parent) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory from " + pattern);
  }
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedTmpDir::ScopedTmpDir(const std::string& path) {
  if (const char* value = std::getenv("TMPDIR")) {
    hadValue_ = true;
    previous_ = value;
  }
  setenv("TMPDIR", path.c_str(), 1);
}

ScopedTmpDir::~ScopedTmpDir() {
  if (hadValue_) {
    setenv("TMPDIR", previous_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kelvrin::test
