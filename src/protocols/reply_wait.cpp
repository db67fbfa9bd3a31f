#include "protocols/reply_wait.h"

#include <algorithm>
#include <limits>

namespace kelvrin::protocols {

namespace {
constexpr int kYieldEveryPass = 10;
constexpr std::size_t kChunkSize = 2048;
}  // namespace

WaitOutcome WaitForData(Socket& socket, const std::function<bool()>& connected, EventPump& pump,
                        Clock& clock, std::int32_t timeoutMs, std::int64_t startTick,
                        std::int64_t* lastPumpTick) {
  int pass = 1;
  for (; !socket.WaitReadable(kPumpIntervalMs); ++pass) {
    if (!connected()) return WaitOutcome::NotConnected;
    const std::int64_t now = clock.TickCount();
    if (timeoutMs > 0 && now - startTick > timeoutMs) return WaitOutcome::TimedOut;
    pump.ProcessEvents();
    if (lastPumpTick != nullptr) *lastPumpTick = now;
    if (pass % kYieldEveryPass == 0) clock.Sleep(0);
  }
  if (lastPumpTick != nullptr && pass == 1) {
    const std::int64_t now = clock.TickCount();
    if (now - *lastPumpTick >= kPumpIntervalMs) {
      pump.ProcessEvents();
      *lastPumpTick = now;
    }
  }
  return WaitOutcome::Readable;
}

WaitOutcome ReadChunk(Socket& socket, const std::function<bool()>& connected, EventPump& pump,
                      Clock& clock, std::int32_t timeoutMs, std::int64_t startTick,
                      std::string& chunk, std::int64_t* lastPumpTick) {
  const WaitOutcome outcome =
      WaitForData(socket, connected, pump, clock, timeoutMs, startTick, lastPumpTick);
  if (outcome != WaitOutcome::Readable) return outcome;
  char buffer[kChunkSize];
  chunk.assign(buffer, socket.Receive(buffer, sizeof buffer));
  return WaitOutcome::Readable;
}

std::string_view TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
    --end;
  return text.substr(begin, end - begin);
}

bool IsDottedIPv4(std::string_view text) {
  int parts = 0;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t dot = text.find('.', pos);
    const std::string_view part =
        text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (part.empty() || part.size() > 3) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  return parts == 4;
}

int PortNumber(std::string_view text, int fallback) {
  if (text.empty() || text.size() > 5) return fallback;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
  }
  return (value >= 1 && value <= 65535) ? value : fallback;
}

void PointSocketAt(Socket& socket, std::string_view host, std::string_view port, int defaultPort,
                   SecurityMode security, const std::string& caFile) {
  socket.SetPort(PortNumber(port, defaultPort));
  if (IsDottedIPv4(host)) {
    socket.SetAddr(std::string(host));
  } else {
    socket.SetHost(std::string(host));
  }
  socket.SetImplicitTls(security == SecurityMode::ImplicitTls);
  socket.SetCaFile(caFile);
}

std::uint16_t ClampPercent(std::int64_t percent) {
  return static_cast<std::uint16_t>(
      std::clamp<std::int64_t>(percent, 0, std::numeric_limits<std::uint16_t>::max()));
}

}  // namespace kelvrin::protocols
