#include "stream/IcyDemultiplexer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "net/HttpConnection.h"
#include "text/ByteText.h"

namespace {

constexpr int32_t kMetadataUnit = 16;
constexpr std::string_view kNameKey = "icy-name";
constexpr std::string_view kMetadataIntervalKey = "icy-metaint";
constexpr std::string_view kBitrateKey = "icy-br";
constexpr std::string_view kContentTypeKey = "content-type";
constexpr const char* kTitleKey = "StreamTitle";
constexpr const char* kTitleUrlKey = "StreamUrl";
// Header values are trimmed of spaces and tabs only, as servers pad them.
constexpr std::string_view kHeaderBlanks = " \t";

std::string TrimHeaderValue(const std::string& value) { return std::string(ByteText::Trim(value, kHeaderBlanks)); }

// Whether the "';" that ends at `after` closes a value: the text ends there,
// or the next key follows ("StreamUrl='").
bool ClosesValue(const std::string& text, size_t after) {
  size_t i = after;
  while (i < text.size() && ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z') ||
                             (text[i] >= '0' && text[i] <= '9') || text[i] == '_')) {
    ++i;
  }
  if (i == after) {
    return text.find_first_not_of(" \t\r\n", after) == std::string::npos;
  }
  return text.compare(i, 2, "='") == 0;
}

// The value after "key:" when line starts with it, in any letter case.
bool HeaderValue(const std::string& line, std::string_view key, std::string& value) {
  if (line.size() <= key.size() || line[key.size()] != ':' || !ByteText::StartsWithNoCase(line, key)) {
    return false;
  }
  value = line.substr(key.size() + 1);
  return true;
}

// atol's reading of a decimal number, saturated instead of overflowing.
int64_t ReadDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < INT64_C(1) << 40) {
      value = value * 10 + (text[i] - '0');
    }
  }
  return negative ? -value : value;
}

}  // namespace

void IcyDemultiplexer::Restart() {
  consumed = ConsumedBytes{};
  Forget();
}

void IcyDemultiplexer::Forget() {
  phase = Phase::HeaderLines;
  headerBytes = 0;
  leftover.Clear();
  contentType.clear();
  stationName.clear();
}

void IcyDemultiplexer::Clear() {
  Forget();
  metadataInterval = 0;
}

void IcyDemultiplexer::FinishAudio() {
  if (phase != Phase::Audio || leftover.Size() == 0) {
    return;  // in the other phases the leftover holds header or metadata bytes
  }
  const int32_t size = leftover.Size();
  consumed.audio += size;
  StreamBuffer partial;
  partial.AppendBuffer(leftover);
  leftover.Clear();
  sink.OnIcyAudio(partial.Data(), size);
}

void IcyDemultiplexer::Feed(const uint8_t* bytes, int32_t count) {
  if (bytes == nullptr || count <= 0) {
    return;
  }
  // A piece that straddles two reads is completed in the leftover, with no
  // more of the new bytes than it needs; the rest is walked where it lies.
  // The walk sees the same bytes in the same order either way, so the events
  // are the same as if every read were appended to the leftover whole.
  int32_t offset = 0;
  while (leftover.Size() > 0 && offset < count) {
    const int32_t oldSize = leftover.Size();
    const int32_t take = std::min(BytesWanted(), count - offset);
    leftover.Append(bytes + offset, take);
    offset += take;
    const int32_t position = Walk(leftover.Data(), leftover.Size());
    if (position >= oldSize) {
      // Only bytes of this read are left over: walk on in place.
      offset -= leftover.Size() - position;
      leftover.Clear();
    } else {
      leftover.DropFront(position);
    }
  }
  if (leftover.Size() == 0 && offset < count) {
    const int32_t position = Walk(bytes + offset, count - offset);
    leftover.Append(bytes + offset + position, count - offset - position);
  }
}

int32_t IcyDemultiplexer::BytesWanted() const {
  const int32_t size = leftover.Size();
  switch (phase) {
    case Phase::Audio:
      if (metadataInterval > 0) {
        // The block and the byte after it.
        return std::max(1, metadataInterval + 1 - size);
      }
      break;
    case Phase::MetadataLength:
      if (size < 2) {
        return 2 - size;
      }
      // The length byte, the block and the byte after it.
      return std::max(1, 1 + leftover.ByteAt(0) * kMetadataUnit + 1 - size);
    case Phase::HeaderLines:
      break;
  }
  return INT32_MAX;
}

int32_t IcyDemultiplexer::Walk(const uint8_t* data, int32_t size) {
  int32_t position = 0;
  for (;;) {
    switch (phase) {
      case Phase::HeaderLines: {
        const auto* end = data + size;
        const auto* found = data + position;
        while (found != end && (found = static_cast<const uint8_t*>(std::memchr(found, '\r', end - found))) != nullptr &&
               (found + 1 == end || found[1] != '\n')) {
          ++found;
        }
        if (found == nullptr || found == end) {
          if (headerBytes + (size - position) > HttpConnection::kMaxHeaderBytes) {
            throw std::runtime_error("response header block too large");
          }
          return position;
        }
        const auto lineEnd = static_cast<int32_t>(found - data);
        headerBytes += lineEnd + 2 - position;
        if (headerBytes > HttpConnection::kMaxHeaderBytes) {
          throw std::runtime_error("response header block too large");
        }
        // A line's text ends at its first NUL.
        const auto* text = reinterpret_cast<const char*>(data + position);
        const std::string line(text, strnlen(text, static_cast<size_t>(lineEnd - position)));
        consumed.header += lineEnd + 2 - position;
        position = lineEnd + 2;
        if (line.empty()) {
          phase = Phase::Audio;
        } else {
          ParseHeaderLine(line);
        }
        break;
      }
      case Phase::Audio: {
        if (metadataInterval == 0) {
          if (position < size) {
            consumed.audio += size - position;
            sink.OnIcyAudio(data + position, size - position);
          }
          return size;
        }
        if (int64_t{position} + metadataInterval >= size) {
          return position;
        }
        consumed.audio += metadataInterval;
        sink.OnIcyAudio(data + position, metadataInterval);
        position += metadataInterval;
        phase = Phase::MetadataLength;
        break;
      }
      case Phase::MetadataLength: {
        if (position + 1 >= size) {
          return position;
        }
        const int32_t length = data[position] * kMetadataUnit;
        const int32_t next = position + 1 + length;
        if (next >= size) {
          return position;
        }
        consumed.metadata += 1 + length;
        TakeMetadata(data + position + 1, length);
        position = next;
        phase = Phase::Audio;
        break;
      }
    }
  }
}

void IcyDemultiplexer::TakeMetadata(const uint8_t* data, int32_t length) {
  if (length == 0) {
    sink.OnIcyMetadata(true, {}, {});
    return;
  }
  const StreamBuffer block(data, length);
  const std::string text = block.ToText();
  sink.OnIcyMetadata(false, ExtractValue(text, kTitleKey), ExtractValue(text, kTitleUrlKey));
}

void IcyDemultiplexer::ParseHeaderLine(const std::string& line) {
  std::string value;
  if (HeaderValue(line, kNameKey, value)) {
    stationName = TrimHeaderValue(value);
    sink.OnIcyHeader(StreamEvent::Name, value);
  }
  if (HeaderValue(line, kContentTypeKey, value)) {
    contentType = TrimHeaderValue(value);
  }
  if (HeaderValue(line, kBitrateKey, value)) {
    sink.OnIcyHeader(StreamEvent::Bitrate, value);
  }
  if (HeaderValue(line, kMetadataIntervalKey, value)) {
    const int64_t interval = ReadDecimal(value);
    if (interval < 0 || interval > kMaxMetadataInterval) {
      throw std::runtime_error("metadata interval out of range (" + TrimHeaderValue(value) + ")");
    }
    metadataInterval = static_cast<int32_t>(interval);
  }
}

std::string IcyDemultiplexer::ExtractValue(const std::string& text, const std::string& key) {
  const size_t k = text.find(key);
  if (k == std::string::npos) {
    return {};
  }
  // Servers quote nothing inside a value, so a title may hold quotes and
  // semicolons of its own ("Rock 'n' Roll; Part 2"): the value runs to the
  // "';" that is followed by the next key or by the end of the block.
  if (text.compare(k + key.size(), 2, "='") == 0) {
    const size_t start = k + key.size() + 2;
    size_t lastClose = std::string::npos;
    for (size_t close = text.find("';", start); close != std::string::npos; close = text.find("';", close + 1)) {
      if (ClosesValue(text, close + 2)) {
        return text.substr(start, close - start);
      }
      lastClose = close;
    }
    if (lastClose != std::string::npos) {
      return text.substr(start, lastClose - start);
    }
  }
  // Without a closing "';": the value up to the first ';' after the opening
  // quote, cut before its last quote.
  const size_t e = text.find('=', k + 1);
  if (e == std::string::npos) {
    return {};
  }
  // An unquoted value ("StreamTitle=plain;") runs to the next ';'.
  if (e == k + key.size() && e + 1 < text.size() && text[e + 1] != '\'') {
    const size_t end = text.find(';', e + 1);
    return text.substr(e + 1, end == std::string::npos ? std::string::npos : end - e - 1);
  }
  const size_t q = text.find('\'', e + 1);
  if (q == std::string::npos) {
    return {};
  }
  const size_t t = text.find(';', q + 1);
  if (t == std::string::npos) {
    return {};
  }
  std::string value = text.substr(q + 1, t - q - 1);
  const size_t lastQuote = value.rfind('\'');
  if (lastQuote != std::string::npos) {
    value.resize(lastQuote);
  }
  return value;
}
