#include "mail/compose.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "mail/header_parsing.h"
#include "mail/random_source.h"

namespace kelvrin::mail {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A header value that cannot break out of its line: a CR or LF (which an
// encoded word of a received subject or name may carry into a reply) would
// otherwise start a header of the sender's choosing.
std::string oneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::optional<std::string> ipv4Hex(std::string_view addr) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? addr.find('.', start) : addr.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view digits = addr.substr(start, dot - start);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    int value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return std::nullopt;
    out += kDigits[value >> 4];
    out += kDigits[value & 15];
    start = dot + 1;
  }
  return out;
}

int priorityNumber(TPriority p) {
  switch (p) {
    case TPriority::prHighest:
      return 1;
    case TPriority::prHigh:
      return 2;
    case TPriority::prNormal:
      return 3;
    case TPriority::prLow:
      return 4;
    case TPriority::prLowest:
      return 5;
  }
  return 3;
}

}  // namespace

ComposeTime ComposeTime::FromTimeT(std::time_t t) {
  ComposeTime result;
  localtime_r(&t, &result.Local);
  result.UtcOffsetSeconds = result.Local.tm_gmtoff;
  return result;
}

ComposeTime ComposeTime::Now() {
  return FromTimeT(std::time(nullptr));
}

std::string FormatDateLine(const ComposeTime& time) {
  const std::tm& t = time.Local;
  const long minutes = time.UtcOffsetSeconds / 60;
  char zone[8];
  if (minutes == 0) {
    std::snprintf(zone, sizeof zone, "-0000");
  } else {
    const long a = std::labs(minutes);
    std::snprintf(zone, sizeof zone, "%c%02ld%02ld", minutes > 0 ? '+' : '-', (a / 60) % 100,
                  a % 60);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %s",
                kDays[((t.tm_wday % 7) + 7) % 7], t.tm_mday, kMonths[((t.tm_mon % 12) + 12) % 12],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, zone);
  return text;
}

std::string MakeMessageId(const ComposeTime& time, std::string_view localAddr,
                          std::string_view localHost) {
  char date[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d", (time.Local.tm_year + 1900) % 10000,
                (time.Local.tm_mon + 1) % 100, time.Local.tm_mday % 100);
  // An address that is not dotted IPv4 (an IPv6 host, say) gets a random
  // part instead of making every send fail.
  std::string address = ipv4Hex(TrimView(localAddr)).value_or(std::string());
  if (address.empty()) address = RandomHex8();
  return "<ZOV" + std::string(date) + "$" + address + ".$" + RandomHex8() + "@" +
         oneLine(localHost) + ">";
}

void TMailMessage::Compose() {
  Compose(ComposeTime::Now());
}

void TMailMessage::Compose(const ComposeTime& now) {
  RawMail.clear();
  if (DateText.empty()) DateText = FormatDateLine(now);

  TStringList lines;
  lines.push_back("Date: " + oneLine(DateText));
  lines.push_back("Subject: " + oneLine(Subject));
  const std::string from = From();
  if (from.find('@') == std::string::npos) throw MailError("\"From\" address not complete.");
  lines.push_back("From: " + oneLine(from));
  const std::string replyTo = ReplyTo();
  if (!replyTo.empty()) lines.push_back("Reply-To: " + oneLine(replyTo));
  if (SendToList.Count() == 0) throw MailError("No e-mail addresses in the SendTo field.");
  std::string to = "To: ";
  bool first = true;
  for (const TMailAddress& a : SendToList) {
    if (!first) to += ",\r\n\t";
    first = false;
    const std::string name = oneLine(Trim(a.Name));
    if (!name.empty()) to += "\"" + name + "\" ";
    to += "<" + oneLine(a.Address) + ">";
  }
  lines.push_back(std::move(to));
  lines.push_back("Message-ID: " + MakeMessageId(now, LocalAddr, LocalHost()));
  lines.push_back("Content-Type: text/plain;\r\n\tcharset=\"" + oneLine(LowerCase(CharSet)) + "\"");
  lines.push_back("Content-Transfer-Encoding: 8Bit");
  lines.push_back("X-Priority: " + std::to_string(priorityNumber(Priority)));
  lines.push_back("MIME-Version: 1.0");
  lines.emplace_back();

  // A body line holding a line break would reach the server as two lines,
  // the second one not dot-stuffed; so such lines are split first.
  auto addBodyLine = [&lines](std::string_view line) {
    std::string stuffed;
    if (!line.empty() && line.front() == '.') stuffed += '.';
    stuffed += line;
    lines.push_back(std::move(stuffed));
  };
  for (const std::string& line : Text) {
    if (line.find_first_of("\r\n") == std::string::npos) {
      addBodyLine(line);
      continue;
    }
    TStringList parts;
    std::size_t start = 0;
    while (start <= line.size()) {
      std::size_t end = line.find_first_of("\r\n", start);
      if (end == std::string::npos) end = line.size();
      parts.push_back(line.substr(start, end - start));
      if (end < line.size() && line[end] == '\r' && end + 1 < line.size() &&
          line[end + 1] == '\n') {
        ++end;
      }
      start = end + 1;
    }
    for (const auto& part : parts)
      addBodyLine(part);
  }
  RawMail = std::move(lines);
}

}  // namespace kelvrin::mail
