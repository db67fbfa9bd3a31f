#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "mail/codecs.h"
#include "mail/mail_message.h"

#include "sample_messages.h"

namespace kelvrin::mail::bench {
namespace {

std::size_t textSize(const std::vector<std::string>& lines) {
  std::size_t n = 0;
  for (const auto& l : lines)
    n += l.size() + 2;
  return n;
}

// (a) One header block as a header check parses it for every waiting message.
void BM_ParseHeaderBlock(benchmark::State& state) {
  const std::vector<std::string> block = TypicalHeaderBlock();
  for (auto _ : state) {
    TMailMessage message;
    message.LoadRawMail(block);
    benchmark::DoNotOptimize(message.FromList.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * textSize(block)));
  state.counters["header_bytes"] = static_cast<double>(textSize(block));
}
BENCHMARK(BM_ParseHeaderBlock);

// A 5 MB multipart message: a short text part, an HTML part and a Base64
// attachment in 76-character lines, as a whole-message retrieval delivers it.
std::vector<std::string> bigMultipartMessage() {
  // The typical header block without its own Content-Type header.
  std::vector<std::string> lines;
  bool skipping = false;
  for (const std::string& line : TypicalHeaderBlock()) {
    if (line.starts_with("Content-Type:")) {
      skipping = true;
      continue;
    }
    if (skipping && (line[0] == '\t' || line[0] == ' ')) continue;
    skipping = false;
    lines.push_back(line);
  }
  lines.push_back("Content-Type: multipart/mixed; boundary=\"==outer==\"");
  lines.push_back("");
  lines.push_back("This is a multi-part message in MIME format.");
  lines.push_back("--==outer==");
  lines.push_back("Content-Type: text/plain; charset=utf-8");
  lines.push_back("Content-Transfer-Encoding: quoted-printable");
  lines.push_back("");
  for (int i = 0; i < 40; ++i)
    lines.push_back("Hello, here is the report you asked for =E2=80=93 see=");
  lines.push_back("--==outer==");
  lines.push_back("Content-Type: application/pdf; name=\"report.pdf\"");
  lines.push_back("Content-Disposition: attachment; filename=\"report.pdf\"");
  lines.push_back("Content-Transfer-Encoding: base64");
  lines.push_back("");
  std::string data(3 * 1024 * 1024 + 1024 * 700, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string encoded = TBase64Codec::Encode(data, true);
  std::size_t start = 0;
  while (start < encoded.size()) {
    std::size_t end = encoded.find("\r\n", start);
    if (end == std::string::npos) end = encoded.size();
    lines.push_back(encoded.substr(start, end - start));
    start = end + 2;
  }
  lines.push_back("--==outer==--");
  return lines;
}

// (b) The 5 MB message, lines handed over as LoadRawMail receives them.
void BM_ParseLargeMultipart(benchmark::State& state) {
  const std::vector<std::string> message = bigMultipartMessage();
  const std::size_t size = textSize(message);
  for (auto _ : state) {
    TMailMessage m;
    m.LoadRawMail(message);
    benchmark::DoNotOptimize(m.Attachments.Items(0).Data.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["message_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_ParseLargeMultipart)->Unit(benchmark::kMillisecond);

// The Base64 decoder alone, for reference.
void BM_Base64Decode(benchmark::State& state) {
  std::string data(1 << 20, 'x');
  const std::string encoded = TBase64Codec::Encode(data, true);
  std::string out;
  out.reserve(data.size());
  for (auto _ : state) {
    out.clear();
    StringSink sink(out);
    TBase64DecodingStream decoder(sink);
    decoder.Write(encoded.data(), encoded.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded.size()));
}
BENCHMARK(BM_Base64Decode);

}  // namespace
}  // namespace kelvrin::mail::bench

BENCHMARK_MAIN();
