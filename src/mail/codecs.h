#pragma once

// Transfer-encoding routines of the mail components: a streaming Base64
// decoder, a quoted-printable decoder and a one-shot Base64 encoder.
// All data is bytes; no character-set conversion takes place.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvrin::mail {

// The destination of TBase64DecodingStream; it is not owned by the decoder.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all bytes or returns false.
  virtual bool WriteBytes(const char* data, std::size_t count) = 0;
};

// A ByteSink that appends to a string.
class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& target) : target_(target) {}
  bool WriteBytes(const char* data, std::size_t count) override {
    target_.append(data, count);
    return true;
  }

 private:
  std::string& target_;
};

class TBase64DecodingStream {
 public:
  explicit TBase64DecodingStream(ByteSink& destination) : destination_(destination) {}
  // Decodes and writes the resulting bytes to the destination; returns the
  // number of bytes written by this call (0 when the destination failed).
  std::size_t Write(const void* bytes, std::size_t count);
  // The decoder is write-only: both raise MailError("Invalid stream operation").
  [[noreturn]] std::size_t Read(void* buffer, std::size_t count);
  [[noreturn]] std::size_t Seek(long offset, int origin);

 private:
  ByteSink& destination_;
  char pending_[4] = {};
  std::size_t pendingCount_ = 0;
};

struct TQPCodec {
  // Decodes a NUL-terminated text in place; returns the decoded length.
  static std::size_t Decode(char* text);
  // The same on a string, which is shortened to its decoded length.
  static void Decode(std::string& text);
};

struct TBase64Codec {
  // The Base64 text of data; with lineBreaks, CR LF after every 76 output
  // characters. Raises MailError("Invalid Base64 String - Length:0") for
  // empty data.
  static std::string Encode(std::string_view data, bool lineBreaks = false);
};

}  // namespace kelvrin::mail
