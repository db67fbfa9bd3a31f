// Parses every header block of a file (blocks separated by an empty line,
// lines ending in CR LF) into a message, the way a header check does, and
// prints the time the parsing took and a checksum of what it found.
//
//   mail_header_driver FILE

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mail/mail_message.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  // The raw bytes of each block, as they would come off the socket.
  std::vector<std::string> blocks;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n\r\n", start);
    if (end == std::string::npos) end = text.size();
    blocks.push_back(text.substr(start, end + 2 - start));
    start = end + 4;
  }

  const auto t0 = std::chrono::steady_clock::now();
  std::size_t addresses = 0;
  std::size_t subjectBytes = 0;
  for (const std::string& block : blocks) {
    std::vector<std::string> lines;
    std::size_t s = 0;
    while (s < block.size()) {
      std::size_t e = block.find("\r\n", s);
      if (e == std::string::npos) e = block.size();
      lines.emplace_back(block, s, e - s);
      s = e + 2;
    }
    kelvrin::mail::TMailMessage message;
    message.LoadRawMail(std::move(lines));
    addresses += message.FromList.Count() + message.SendToList.Count() + message.CCList.Count();
    subjectBytes += message.Subject.size();
  }
  const auto t1 = std::chrono::steady_clock::now();
  std::printf("blocks %zu addresses %zu subject_bytes %zu seconds %.6f\n", blocks.size(), addresses,
              subjectBytes, std::chrono::duration<double>(t1 - t0).count());
  return 0;
}
