// Parses every header block of a file (blocks separated by an empty line,
// lines ending in CR LF) into a message, the way a header check does, and
// prints the CPU time that took and a checksum of what it found.
//
//   mail_header_driver FILE [ROUNDS]
//
// With ROUNDS (default 1) each figure is the best of that many rounds.
// Two figures are printed:
//   parse    LoadRawMail of the lines, split beforehand as the POP3 client
//            hands them over; the messages stay alive, as they do for the
//            rest of a check.
//   pipeline the same from the raw bytes: splitting into lines, LoadRawMail
//            and destroying the message again.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "mail/mail_message.h"

namespace {

double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::vector<std::string> splitLines(const std::string& block) {
  std::vector<std::string> lines;
  lines.reserve(64);
  std::size_t s = 0;
  while (s < block.size()) {
    std::size_t e = block.find("\r\n", s);
    if (e == std::string::npos) e = block.size();
    lines.emplace_back(block, s, e - s);
    s = e + 2;
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
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

  const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 1;
  double parse = 1e9;
  double pipeline = 1e9;
  std::size_t addresses = 0;
  std::size_t subjectBytes = 0;
  for (int round = 0; round < rounds; ++round) {
    // parse
    std::vector<std::vector<std::string>> split;
    split.reserve(blocks.size());
    for (const std::string& block : blocks)
      split.push_back(splitLines(block));
    std::vector<std::unique_ptr<kelvrin::mail::TMailMessage>> messages;
    messages.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      messages.push_back(std::make_unique<kelvrin::mail::TMailMessage>());
    }
    const double p0 = cpuSeconds();
    for (std::size_t i = 0; i < blocks.size(); ++i)
      messages[i]->LoadRawMail(std::move(split[i]));
    parse = std::min(parse, cpuSeconds() - p0);
    addresses = 0;
    for (const auto& m : messages) {
      addresses += m->FromList.Count() + m->SendToList.Count() + m->CCList.Count();
    }
    messages.clear();

    // pipeline
    const double q0 = cpuSeconds();
    subjectBytes = 0;
    for (const std::string& block : blocks) {
      kelvrin::mail::TMailMessage message;
      message.LoadRawMail(splitLines(block));
      subjectBytes += message.Subject.size();
    }
    pipeline = std::min(pipeline, cpuSeconds() - q0);
  }

  std::printf(
      "blocks %zu addresses %zu subject_bytes %zu parse_seconds %.6f pipeline_seconds %.6f\n",
      blocks.size(), addresses, subjectBytes, parse, pipeline);
  return 0;
}
