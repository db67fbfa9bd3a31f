#pragma once

// The content type that the system registers for a file-name extension.

#include <istream>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kelvrin::mail {

inline constexpr std::string_view kDefaultContentType = "application/octet-stream";

// A table in the format of /etc/mime.types: a media type followed by its
// extensions, "#" starts a comment.
class MimeTypeTable {
 public:
  static MimeTypeTable Load(std::istream& in);
  // The type registered for the extension of fileName (case-insensitive), or
  // an empty string.
  std::string Lookup(std::string_view fileName) const;
  std::size_t Size() const { return byExtension_.size(); }

 private:
  std::unordered_map<std::string, std::string> byExtension_;
};

// The registered type from /etc/mime.types (read once, on first use), or
// "application/octet-stream".
std::string RegisteredContentType(std::string_view fileName);

}  // namespace kelvrin::mail
