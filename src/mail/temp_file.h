#pragma once

// Temporary files that decoded attachments pass through, so that a virus
// scanner watching the temporary directory gets to see them. Each file is
// created exclusively with mode 0600 and removed when its TempFile goes.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mail/codecs.h"

namespace kelvrin::mail {

// $TMPDIR when set and not empty, else /tmp.
std::string TempDirectory();

class TempFile {
 public:
  // Creates <directory>/<identifier><kind>-<8 hex digits>.$$$, drawing a new
  // number while the name is taken. nullopt when no file can be created.
  static std::optional<TempFile> Create(std::string_view identifier, std::string_view kind);

  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&&) = delete;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();

  const std::string& Path() const { return path_; }
  // The writing end; buffered.
  ByteSink& Sink() { return sink_; }
  // Flushes and closes the writing end; false when any write failed.
  bool FinishWriting();
  // Opens the file again by its name and reads it whole; nullopt when it is
  // gone, locked or replaced by something that is not our regular file.
  std::optional<std::string> ReadBack() const;

 private:
  class FileSink : public ByteSink {
   public:
    bool WriteBytes(const char* data, std::size_t count) override;
    bool Flush();
    int fd = -1;
    bool failed = false;
    std::string buffer;
  };

  TempFile(std::string path, int fd);
  std::string path_;
  int slot_ = -1;
  FileSink sink_;
};

// Every temporary file of the process is registered while it exists, so
// that a way out that runs no destructor — a signal that ends the program —
// can still remove it. Register returns the file's slot, or -1 when the
// path is too long or every slot is taken (the file is then removed only by
// its owner, as before).
int RegisterLiveTempFile(const std::string& path) noexcept;
void UnregisterLiveTempFile(int slot) noexcept;
// Removes every registered file. Async-signal-safe (it only reads the
// registry and calls unlink), so a signal handler may call it.
void RemoveLiveTempFiles() noexcept;
// How many files are registered; for tests.
int LiveTempFileCount() noexcept;

// Called with the path of every temporary file after it was written and
// before it is read back; tests use it to play the virus scanner. An empty
// function removes the hook.
void SetTempFileWrittenHook(std::function<void(const std::string& path)> hook);
void RunTempFileWrittenHook(const std::string& path);

}  // namespace kelvrin::mail
