#include "mail/mime_body.h"

#include <cstdint>
#include <functional>
#include <limits>

#include "mail/header_parsing.h"
#include "mail/random_source.h"
#include "mail/temp_file.h"

namespace kelvrin::mail {
namespace {

PartHeaders parsePartHeaders(LineSpan lines, const HeaderIndex& index, HeaderMatch& contentType);

constexpr auto npos = std::string_view::npos;

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != npos;
}

bool isBlankLine(std::string_view line) {
  return TrimView(line).empty();
}

// The file-name part of a path: the text after the last "\" or ":" (and "/",
// the separator of this platform).
std::string_view fileNamePart(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\:/");
  return cut == npos ? path : path.substr(cut + 1);
}

// Replaces the extension of name, or appends one.
std::string changeFileExt(std::string_view name, std::string_view extension) {
  const std::size_t dot = name.rfind('.');
  const std::size_t sep = name.find_last_of("\\:/");
  std::string out(name);
  if (dot != npos && (sep == npos || dot > sep)) out.resize(dot);
  out += extension;
  return out;
}

std::string joinWithCrLf(LineSpan lines, bool finalBreak) {
  std::size_t size = 0;
  for (const auto& line : lines)
    size += line.size() + 2;
  std::string joined;
  joined.reserve(size);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    joined += lines[i];
    if (finalBreak || i + 1 < lines.size()) joined += "\r\n";
  }
  return joined;
}

std::string decodeBase64Lines(LineSpan lines) {
  std::string decoded;
  StringSink sink(decoded);
  TBase64DecodingStream decoder(sink);
  for (const auto& line : lines)
    decoder.Write(line.data(), line.size());
  return decoded;
}

// The name of an attached message: its subject plus ".eml", or a random name
// when it has none.
std::string attachedMessageName(LineSpan lines, std::string_view stopPrefix) {
  std::string name;
  HeaderMatch subject;
  if (subject.Find("SUBJECT:", lines, stopPrefix)) {
    name = Trim(GetHeaderValue("SUBJECT:", *subject, false));
  }
  name += ".eml";
  if (name == ".eml") name = "rfc822-" + RandomHex8() + ".eml";
  return name;
}

void appendDecodedText(TStringList& target, LineSpan lines, std::string_view encoding) {
  if (encoding == "QUOTED-PRINTABLE") {
    std::string joined = joinWithCrLf(lines, true);
    TQPCodec::Decode(joined);
    AppendTextLines(joined, target);
  } else if (encoding == "BASE64") {
    AppendTextLines(decodeBase64Lines(lines), target);
  } else {
    target.insert(target.end(), lines.begin(), lines.end());
  }
}

// Decodes through a temporary file, so that a virus scanner can take the
// decoded content away before we read it back. When no temporary file can be
// written, decoding happens in memory: the user still gets the attachment.
void decodeThroughTempFile(TAttachedFile& item, std::string_view kind,
                           const std::function<void(ByteSink&)>& decode) {
  if (auto file = TempFile::Create(item.Identifier, kind)) {
    decode(file->Sink());
    if (file->FinishWriting()) {
      RunTempFileWrittenHook(file->Path());
      if (auto data = file->ReadBack()) {
        item.Data = std::move(*data);
      } else {
        item.Data = Trim(item.FileName) +
                    " cannot be opened.\r\nThis is generally due to virus protection software "
                    "suspecting a virus in the attachment.\r\nThe contents of the attachment has "
                    "been stripped.";
        item.FileName = "virus_report.txt";
      }
      return;
    }
  }
  item.Data.clear();
  StringSink sink(item.Data);
  decode(sink);
}

int uuValue(char c) {
  if (c == '`' || c == ' ') return 0;
  if (c >= '!' && c <= '_') return c - 32;
  throw MailError(std::string(kUUBadCharError));
}

bool isEndLine(std::string_view line) {
  const std::string_view t = TrimView(line);
  return t.size() == 3 && StartsWithNoCase(t, "end");
}

// Records that the lines Text gained from index first on came from a part of
// this Content-Type; nothing when it gained none.
void noteTextRun(TMailMessage& message, std::size_t first, std::string_view contentType) {
  if (message.Text.size() == first) return;
  message.TextRuns.push_back({first, std::string(contentType)});
}

void parseTextPart(TMailMessage& message, LineSpan lines, const PartHeaders& part) {
  const LineSpan body = StripHeaders(lines);
  if (!part.FileName.empty() && part.Disposition != "INLINE") {
    AddAttachment(message, body, part);
    if (part.ContentType == "TEXT/HTML") appendDecodedText(message.HTML, body, part.Encoding);
    return;
  }
  if (contains(part.ContentType, "TEXT/HTML")) {
    appendDecodedText(message.HTML, body, part.Encoding);
    return;
  }
  const std::size_t first = message.Text.size();
  appendDecodedText(message.Text, body, part.Encoding);
  noteTextRun(message, first, part.ContentType);
}

// Cuts every uuencoded block out of a message without MIME structure and
// makes it an attachment. Returns false when nothing was cut; otherwise kept
// receives the remaining lines.
//
// A block only counts while the text still holds a line ending in a
// backquote followed by a line starting with "end". The remaining lines are a
// linked list and that marker is counted incrementally, so the search goes
// once over the text however many blocks it holds.
bool cutUUBlocks(TMailMessage& message, LineSpan lines, std::vector<std::string>& kept) {
  const std::size_t n = lines.size();
  std::size_t first = 0;
  while (first < n && !UUBeginFileName(lines[first]))
    ++first;
  if (first == n) return false;

  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  std::vector<std::size_t> next(n);
  std::vector<std::size_t> prev(n);
  for (std::size_t i = 0; i < n; ++i) {
    next[i] = i + 1 < n ? i + 1 : kNone;
    prev[i] = i > 0 ? i - 1 : kNone;
  }
  std::size_t head = 0;
  auto marker = [&](std::size_t i) {
    return i != kNone && !lines[i].empty() && lines[i].back() == '`' && next[i] != kNone &&
           std::string_view(lines[next[i]]).starts_with("end");
  };
  std::size_t markers = 0;
  for (std::size_t i = 0; i < n; ++i)
    markers += marker(i) ? 1 : 0;

  bool cut = false;
  std::size_t cursor = first;  // lines before it are no begin lines
  while (markers > 0) {
    std::size_t begin = cursor;
    std::optional<std::string> fileName;
    while (begin != kNone && !(fileName = UUBeginFileName(lines[begin])))
      begin = next[begin];
    if (begin == kNone) break;
    std::size_t end = next[begin];
    while (end != kNone && !isEndLine(lines[end]))
      end = next[end];
    if (end == kNone) throw MailError(std::string(kUUNoEndError));

    TStringList block;
    const std::size_t before = prev[begin];
    const std::size_t after = next[end];
    if (marker(before)) --markers;
    for (std::size_t j = begin;; j = next[j]) {
      if (marker(j)) --markers;
      if (j == end) break;
      if (!lines[j].empty()) block.push_back(lines[j]);
    }
    if (before != kNone) {
      next[before] = after;
    } else {
      head = after;
    }
    if (after != kNone) prev[after] = before;
    if (marker(before)) ++markers;
    cut = true;

    PartHeaders part;
    part.FileName = std::move(*fileName);
    part.Encoding = "X-UUENCODE";
    part.ContentType = "APPLICATION/OCTET-STREAM";
    AddAttachment(message, block, part);
    cursor = after;
  }
  if (!cut) return false;
  for (std::size_t i = head; i != kNone; i = next[i])
    kept.push_back(lines[i]);
  return true;
}

// SplitMultipart for an entity whose Content-Type header is known to be a
// multipart one.
void splitMultipart(LineSpan lines, std::vector<LineSpan>& parts, int depth,
                    std::string_view contentType) {
  const LineSpan body = StripHeaders(lines);
  if (body.empty()) return;  // a header block alone, as a header check fetches it
  const auto boundary = GetBoundary(contentType);
  if (!boundary) return;
  const std::string open = Trim(*boundary);
  const std::string close = open + "--";

  std::size_t i = 0;
  while (i < body.size() && body[i] != open)
    ++i;
  if (i == body.size()) return;  // no part ever starts
  ++i;
  std::size_t partStart = i;
  while (i < body.size()) {
    if (body[i] == close) break;
    if (body[i] == open) {
      SplitMultipart(body.subspan(partStart, i - partStart), parts, depth + 1);
      ++i;
      partStart = i;
      // The line after a boundary always belongs to the new part, even when
      // it is a boundary line itself.
      if (i < body.size() && body[i] != close) ++i;
      continue;
    }
    ++i;
  }
  LineSpan last = body.subspan(partStart, i - partStart);
  if (last.size() > 1) {
    if (TrimView(last.back()) == close) last = last.first(last.size() - 1);
    SplitMultipart(last, parts, depth + 1);
  }
}

void parseEntity(TMailMessage& message, LineSpan lines, bool isLeaf, const HeaderIndex& index,
                 bool headerBlockOnly = false) {
  HeaderMatch contentType;
  if (!isLeaf && index.Contains(HeaderIndex::kContentType, "MULTIPART")) {
    // A multipart entity needs nothing of its headers but the Content-Type
    // (whose name "CONTENT-TYPE:" cannot match); a header block alone, as a
    // header check fetches it, holds no part at all.
    if (headerBlockOnly) return;
    index.Get(HeaderIndex::kContentType, contentType);
    std::vector<LineSpan> parts;
    splitMultipart(lines, parts, 0, *contentType);
    for (const LineSpan& leaf : parts)
      parseEntity(message, leaf, true, HeaderIndex(leaf));
    return;
  }
  PartHeaders part = parsePartHeaders(lines, index, contentType);
  const bool multipart = contains(part.ContentType, "MULTIPART");
  if (contains(part.ContentType, "TEXT") && !multipart) {
    parseTextPart(message, lines, part);
    return;
  }
  if (multipart) {
    // Only a leaf nested past kMaxMultipartDepth arrives here.
    AddAttachment(message, StripHeaders(lines), part);
    return;
  }
  if (part.ContentType == "MESSAGE/RFC822") {
    part.FileName.clear();
    AddAttachment(message, StripHeaders(lines), part);
    return;
  }
  if (part.Encoding == "X-UUENCODE" || !part.FileName.empty()) {
    AddAttachment(message, StripHeaders(lines), part);
    return;
  }
  if (!message.MimeVersion.empty()) {
    const LineSpan body = StripHeaders(lines);
    if (part.Encoding != "BASE64" && part.Encoding != "QUOTED-PRINTABLE" &&
        part.Encoding != "X-UUENCODE") {
      const std::size_t first = message.Text.size();
      message.Text.insert(message.Text.end(), body.begin(), body.end());
      noteTextRun(message, first, part.ContentType);
    } else {
      AddAttachment(message, body, part);
    }
    return;
  }
  std::vector<std::string> kept;
  const LineSpan rest = StripHeaders(cutUUBlocks(message, lines, kept) ? LineSpan(kept) : lines);
  const std::size_t first = message.Text.size();
  message.Text.insert(message.Text.end(), rest.begin(), rest.end());
  noteTextRun(message, first, {});
}

}  // namespace

void ParseBody(TMailMessage& message, LineSpan lines) {
  parseEntity(message, lines, false, HeaderIndex(lines));
}

void ParseBody(TMailMessage& message, LineSpan lines, const HeaderIndex& index,
               bool headerBlockOnly) {
  parseEntity(message, lines, false, index, headerBlockOnly);
}

LineSpan StripHeaders(LineSpan lines) {
  std::size_t i = 0;
  while (i < lines.size() && !isBlankLine(lines[i]))
    ++i;
  while (i < lines.size() && isBlankLine(lines[i]))
    ++i;
  return lines.subspan(i);
}

PartHeaders ParsePartHeaders(LineSpan lines) {
  return ParsePartHeaders(lines, HeaderIndex(lines));
}

PartHeaders ParsePartHeaders(LineSpan lines, const HeaderIndex& index) {
  HeaderMatch contentType;
  return parsePartHeaders(lines, index, contentType);
}

namespace {

// ParsePartHeaders that also leaves the Content-Type header in contentType.
PartHeaders parsePartHeaders(LineSpan lines, const HeaderIndex& index, HeaderMatch& contentType) {
  PartHeaders part;
  HeaderMatch disposition;
  HeaderMatch other;
  index.Get(HeaderIndex::kContentType, contentType);
  index.Get(HeaderIndex::kContentDisposition, disposition);
  const bool mime = index.Has(HeaderIndex::kMimeVersionBlank);
  if (contentType) {
    const std::string_view value = TrimView((*contentType).substr(13));
    part.ContentType = UpperCase(value);
    if (contains(part.ContentType, "MESSAGE/RFC822")) {
      part.FileName = attachedMessageName(lines, "--");
      return part;
    }
    // The first "NAME" of the header line lies in its value ("Content-Type:"
    // holds none), which is already upper case in ContentType.
    const std::size_t name = part.ContentType.find("NAME");
    if (name != npos) part.FileName = Trim(value.substr(name + 4));
    if (disposition) {
      part.Disposition = UpperCase(GetHeaderValue("CONTENT-DISPOSITION:", *disposition, true));
      if (part.Disposition != "INLINE") {
        std::string fileName = GetHeaderValue("FILENAME", *disposition, true);
        if (!TrimView(fileName).empty()) part.FileName = std::move(fileName);
      }
    }
  } else if (mime) {
    part.ContentType = "TEXT/PLAIN";
  }
  if (index.Get(HeaderIndex::kContentId, other)) {
    std::string id = GetHeaderValue("CONTENT-ID:", *other, true);
    if (!id.empty() && id.front() == '<') id.erase(0, 1);
    if (!id.empty() && id.back() == '>') id.pop_back();
    part.ContentID = std::move(id);
  }
  if (index.Get(HeaderIndex::kContentTransferEncoding, other)) {
    part.Encoding = UpperCase(GetHeaderValue("CONTENT-TRANSFER-ENCODING:", *other, true));
  } else if (mime) {
    part.Encoding = "7BIT";
  }
  if (index.Get(HeaderIndex::kContentLocation, other)) {
    const std::string value = GetHeaderValue("CONTENT-LOCATION:", *other, true);
    part.FileName = "=" + std::string(fileNamePart(value));
  }
  if (part.FileName.empty() && disposition) {
    if (GetHeaderValue("CONTENT-DISPOSITION:", *disposition, true) != "INLINE") {
      part.FileName = GetHeaderValue("FILENAME", *disposition, true);
    }
  }
  if (!part.FileName.empty()) {
    // The first character is the "=" of the parameter.
    std::string_view name = std::string_view(part.FileName).substr(1);
    name = TrimView(name.substr(0, name.find(';')));
    if (!name.empty() && (name.front() == '"' || name.front() == '\'')) name.remove_prefix(1);
    if (!name.empty() && (name.back() == '"' || name.back() == '\'')) name.remove_suffix(1);
    part.FileName = Trim(DecodeHeaderText(name));
  }
  return part;
}

}  // namespace

std::optional<std::string> GetBoundary(std::string_view headerLine) {
  const std::size_t at = FindNoCase(headerLine, "BOUNDARY");
  if (at == npos) return std::nullopt;
  std::string_view value = TrimView(headerLine.substr(at + 8, 72));
  if (!value.empty()) value = TrimView(value.substr(1));
  if (!value.empty() && value.front() == '"') {
    value.remove_prefix(1);
    value = value.substr(0, value.find('"'));
  }
  value = TrimView(value.substr(0, value.find(';')));
  return "--" + std::string(value);
}

void SplitMultipart(LineSpan lines, std::vector<LineSpan>& parts, int depth) {
  if (lines.empty()) return;
  HeaderMatch contentType;
  if (!contentType.Find("CONTENT-TYPE:", lines) || FindNoCase(*contentType, "MULTIPART") == npos ||
      depth >= kMaxMultipartDepth) {
    parts.push_back(lines);
    return;
  }
  splitMultipart(lines, parts, depth, *contentType);
}

std::optional<std::string> UUBeginFileName(std::string_view line) {
  if (line.size() <= 10 || !StartsWithNoCase(line, "begin")) return std::nullopt;
  const std::string_view mode = TrimView(line.substr(6, 4));
  if (mode.size() != 3) return std::nullopt;
  int value = 0;
  for (char c : mode) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 776) return std::nullopt;
  return StripQuotes(line.substr(10));
}

void Uudecode(LineSpan lines, ByteSink& sink) {
  std::string out;
  for (const std::string& line : lines) {
    if (line == "end" || line == "`") break;
    if (line.empty()) continue;
    const int count = uuValue(line[0]);
    std::size_t chars = line.size() - 1;
    if (count * 4 / 3 == 60 && chars > 60) chars = 60;
    out.clear();
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t k = 1; k <= chars; ++k) {
      bits = (bits << 6) | static_cast<std::uint32_t>(uuValue(line[k]));
      held += 6;
      if (held >= 8) {
        held -= 8;
        if (out.size() < static_cast<std::size_t>(count)) {
          out += static_cast<char>((bits >> held) & 0xFF);
        }
      }
    }
    // Mail transports like to strip trailing blanks, which encode zero bits.
    out.resize(static_cast<std::size_t>(count), '\0');
    sink.WriteBytes(out.data(), out.size());
  }
}

std::string SanitiseAttachmentName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (std::string_view("\\/:*?\"<>|").find(c) == npos) out += c;
  }
  const std::size_t firstNonDot = out.find_first_not_of('.');
  out.erase(0, firstNonDot == npos ? out.size() : firstNonDot);
  return out;
}

void AddAttachment(TMailMessage& message, LineSpan lines, const PartHeaders& part) {
  std::string name = part.FileName;
  if (name.empty()) {
    name = message.Subject;
    if (part.ContentType == "TEXT/HTML") {
      name = changeFileExt(name, ".html");
    } else if (part.ContentType == "IMAGE/JPEG") {
      name = changeFileExt(name, ".jpg");
    } else if (part.ContentType == "IMAGE/GIF") {
      name = changeFileExt(name, ".gif");
    } else if (part.ContentType == "MESSAGE/RFC822") {
      name = changeFileExt(name, ".eml");
    }
  }
  TAttachedFile& item = message.Attachments.Add(SanitiseAttachmentName(name), part.ContentID);

  if (part.Encoding == "BASE64") {
    decodeThroughTempFile(item, "-zov-b64d", [&](ByteSink& sink) {
      TBase64DecodingStream decoder(sink);
      for (const auto& line : lines)
        decoder.Write(line.data(), line.size());
    });
  } else if (part.Encoding == "X-UUENCODE") {
    decodeThroughTempFile(item, "-zov-uud", [&](ByteSink& sink) {
      if (!lines.empty()) Uudecode(lines.subspan(1), sink);
    });
  } else if (part.Encoding == "QUOTED-PRINTABLE") {
    if (!lines.empty() && !lines.front().empty()) {
      item.Data = joinWithCrLf(lines, true);
      TQPCodec::Decode(item.Data);
    }
  } else {
    if (contains(part.ContentType, "MESSAGE/RFC822")) {
      item.FileName = SanitiseAttachmentName(attachedMessageName(lines, {}));
    }
    if (!lines.empty()) item.Data = joinWithCrLf(lines, false);
  }
}

void AppendTextLines(std::string_view text, TStringList& target) {
  std::size_t start = 0;
  const std::size_t n = text.size();
  while (start < n) {
    std::size_t end = start;
    while (end < n && text[end] != '\r' && text[end] != '\n')
      ++end;
    target.emplace_back(text.substr(start, end - start));
    if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

}  // namespace kelvrin::mail
