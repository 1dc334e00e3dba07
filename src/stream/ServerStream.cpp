#include "stream/ServerStream.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <strings.h>

#include "stream/HttpConnection.h"

namespace {

constexpr int32_t kMetadataUnit = 16;
constexpr const char* kNameKey = "icy-name";
constexpr const char* kMetadataIntervalKey = "icy-metaint";
constexpr const char* kBitrateKey = "icy-br";
constexpr const char* kTitleKey = "StreamTitle";
constexpr const char* kTitleUrlKey = "StreamUrl";

// The value after "key:" when line starts with it, in any letter case.
bool HeaderValue(const std::string& line, const char* key, std::string& value) {
  const size_t keyLength = std::strlen(key);
  if (line.size() <= keyLength || line[keyLength] != ':' ||
      strncasecmp(line.c_str(), key, keyLength) != 0) {
    return false;
  }
  value = line.substr(keyLength + 1);
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

// Qualified: during construction and destruction this class's own reset is
// the one meant.
ServerStream::ServerStream() { ServerStream::Reset(); }

ServerStream::~ServerStream() { ServerStream::Reset(); }

void ServerStream::SetUrl(const std::string& newUrl) {
  Reset();
  std::lock_guard<std::mutex> guard(connectionGuard);
  url = newUrl;
}

std::string ServerStream::Url() const {
  std::lock_guard<std::mutex> guard(connectionGuard);
  return url;
}

void ServerStream::Toggle() {
  if (!IsStopped()) {
    Stop();
    return;
  }
  StopWorker();  // a worker that was only asked to stop ends first
  stopped.store(false, std::memory_order_release);
  if (!StartWorker()) {
    stopped.store(true, std::memory_order_release);
  }
}

void ServerStream::RequestStop() {
  if (!IsStopped()) {
    stopped.store(true, std::memory_order_release);
    CloseConnection();
  }
}

void ServerStream::Stop() {
  RequestStop();
  StopWorker();
}

void ServerStream::Reset() {
  stopped.store(true, std::memory_order_release);
  CloseConnection();
  StopWorker();
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  leftover.Clear();
  phase = Phase::HeaderLines;
  metadataInterval = 0;
  headerBytes = 0;
  {
    std::lock_guard<std::mutex> guard(connectionGuard);
    url.clear();
  }
  ResetSource();
}

void ServerStream::CloseConnection() {
  std::shared_ptr<HttpConnection> closing;
  {
    std::lock_guard<std::mutex> guard(connectionGuard);
    closing.swap(connection);
  }
  if (closing) {
    // The worker keeps its own reference; the connection is freed when the
    // last user lets go of it, never under a blocked call.
    closing->Abort();
  }
  WakeWorker();
  SetState(StreamState::Disconnected);
}

void ServerStream::Publish(const std::shared_ptr<HttpConnection>& newConnection) {
  std::lock_guard<std::mutex> guard(connectionGuard);
  connection = newConnection;
  // A stop that came between the worker's last look at the flag and now
  // found no connection to close: close this one at once.
  if (IsStopped() || IsStopRequested()) {
    newConnection->Abort();
  }
}

void ServerStream::ReleaseConnection() {
  std::lock_guard<std::mutex> guard(connectionGuard);
  connection.reset();
}

void ServerStream::WakeWorker() {
  { std::lock_guard<std::mutex> lock(wakeMutex); }
  wake.notify_all();
}

void ServerStream::WaitBeforeRetry() {
  std::unique_lock<std::mutex> lock(wakeMutex);
  wake.wait_for(lock, std::chrono::milliseconds(kRetryDelayMs),
                [this] { return IsStopped() || IsStopRequested(); });
}

void ServerStream::Run() {
  while (!IsStopped()) {
    Attempt();
    if (IsStopped()) {
      break;
    }
    WaitBeforeRetry();
  }
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  leftover.Clear();
  // Only a stop ends the loop. The stopping thread has announced
  // Disconnected already, but the aborted attempt may have reported its
  // error after that, and the join that sets the stop request may not have
  // begun yet: say it again, last.
  SetState(StreamState::Disconnected);
  Notify(StreamEvent::Title, "");
}

void ServerStream::Attempt() {
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  SetState(StreamState::Connecting);
  try {
    auto current = std::make_shared<HttpConnection>();
    current->SetStallLimit(stallBytesPerSecond.load(std::memory_order_relaxed),
                           stallSeconds.load(std::memory_order_relaxed));
    Publish(current);
    current->Open(Url(), std::string(kRequestHeaderText) + kMetadataRequestHeader);
    SetState(StreamState::Connected);
    BeginResponse();
    if (!AllocateReadBuffer()) {
      ReleaseConnection();
      SetState(StreamState::ErrorPreparingBuffer);
      return;
    }
    while (GetState() == StreamState::Connected && !IsStopRequested()) {
      const int32_t n = current->Read(ReadBuffer(), ReadSize());
      if (n == 0) {
        // The server ended the stream: a lost connection, retried like one.
        throw ConnectionError("the server closed the stream");
      }
      ProcessBytes(ReadBuffer(), n);
    }
  } catch (...) {
    // Network errors, an unusable response, memory exhaustion or an
    // observer's failure (a file that cannot be written) all end this
    // attempt alike.
    ReleaseConnection();
    SetState(StreamState::ErrorOnConnecting);
  }
}

void ServerStream::BeginResponse() {
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  phase = Phase::HeaderLines;
  headerBytes = 0;
  consumed = ConsumedBytes{};
  leftover.Clear();
}

void ServerStream::SetStallLimit(int32_t bytesPerSecond, int32_t seconds) {
  stallBytesPerSecond.store(bytesPerSecond, std::memory_order_relaxed);
  stallSeconds.store(seconds, std::memory_order_relaxed);
}

void ServerStream::ProcessChunk(const StreamBuffer* chunk) {
  if (chunk == nullptr) {
    return;
  }
  ProcessBytes(chunk->Data(), chunk->Size());
}

void ServerStream::ProcessBytes(const uint8_t* bytes, int32_t count) {
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
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

int32_t ServerStream::BytesWanted() const {
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

int32_t ServerStream::Walk(const uint8_t* data, int32_t size) {
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
          if (headerBytes + (size - position) > kMaxHeaderBytes) {
            throw std::runtime_error("response header block too large");
          }
          return position;
        }
        const auto lineEnd = static_cast<int32_t>(found - data);
        headerBytes += lineEnd + 2 - position;
        if (headerBytes > kMaxHeaderBytes) {
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
            const StreamBuffer audio(data + position, size - position);
            consumed.audio += size - position;
            DeliverAudio(&audio);
          }
          return size;
        }
        if (int64_t{position} + metadataInterval >= size) {
          return position;
        }
        const StreamBuffer audio(data + position, metadataInterval);
        consumed.audio += metadataInterval;
        DeliverAudio(&audio);
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
        if (length > 0) {
          const StreamBuffer block(data + position + 1, length);
          HandleMetadata(&block);
        }
        position = next;
        phase = Phase::Audio;
        break;
      }
    }
  }
}

void ServerStream::ParseHeaderLine(const std::string& line) {
  std::string value;
  if (HeaderValue(line, kNameKey, value)) {
    Notify(StreamEvent::Name, value);
  }
  if (HeaderValue(line, kBitrateKey, value)) {
    Notify(StreamEvent::Bitrate, value);
  }
  if (HeaderValue(line, kMetadataIntervalKey, value)) {
    const int64_t interval = ReadDecimal(value);
    if (interval < 0 || interval > kMaxMetadataInterval) {
      throw std::runtime_error("unusable metadata interval: " + value);
    }
    std::lock_guard<std::recursive_mutex> lock(connectionLock);
    metadataInterval = static_cast<int32_t>(interval);
  }
}

void ServerStream::HandleMetadata(const StreamBuffer* block) {
  if (block == nullptr || block->Size() == 0) {
    return;
  }
  const std::string text = block->ToText();
  Notify(StreamEvent::Title, ExtractValue(text, kTitleKey));
  Notify(StreamEvent::Url, ExtractValue(text, kTitleUrlKey));
}

std::string ServerStream::ExtractValue(const std::string& text, const std::string& key) {
  const size_t k = text.find(key);
  if (k == std::string::npos) {
    return {};
  }
  const size_t e = text.find('=', k + 1);
  if (e == std::string::npos) {
    return {};
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
