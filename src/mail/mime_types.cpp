#include "mail/mime_types.h"

#include <fstream>
#include <sstream>

#include "mail/header_parsing.h"

namespace kelvrin::mail {

MimeTypeTable MimeTypeTable::Load(std::istream& in) {
  MimeTypeTable table;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string type;
    if (!(words >> type)) continue;
    std::string extension;
    while (words >> extension) {
      // The first registration of an extension wins, as in the file's own
      // convention.
      table.byExtension_.try_emplace(LowerCase(extension), type);
    }
  }
  return table;
}

std::string MimeTypeTable::Lookup(std::string_view fileName) const {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == fileName.size()) return {};
  const auto it = byExtension_.find(LowerCase(fileName.substr(dot + 1)));
  return it == byExtension_.end() ? std::string() : it->second;
}

std::string RegisteredContentType(std::string_view fileName) {
  static const MimeTypeTable system = [] {
    std::ifstream in("/etc/mime.types");
    return in ? MimeTypeTable::Load(in) : MimeTypeTable();
  }();
  std::string type = system.Lookup(fileName);
  return type.empty() ? std::string(kDefaultContentType) : type;
}

}  // namespace kelvrin::mail
