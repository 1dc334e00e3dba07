#include "stream/ServerStream.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <strings.h>

#include "stream/HttpConnection.h"

namespace {

constexpr const char* kLineSeparator = "\r\n";
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
  if (IsStopRequested()) {
    SetState(StreamState::Disconnected);
  }
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
      StreamBuffer chunk(ReadBuffer(), n);
      ProcessChunk(&chunk);
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
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  const bool useLeftover = leftover.Size() > 0;
  if (useLeftover && chunk != nullptr) {
    leftover.AppendBuffer(*chunk);
  }
  const StreamBuffer* work = useLeftover || chunk == nullptr ? &leftover : chunk;
  const int32_t size = work->Size();
  int32_t position = 0;

  bool more = true;
  while (more) {
    switch (phase) {
      case Phase::HeaderLines: {
        const int32_t found = work->Find(kLineSeparator, position);
        if (found < 0) {
          if (headerBytes + (size - position) > kMaxHeaderBytes) {
            throw std::runtime_error("response header block too large");
          }
          more = false;
          break;
        }
        headerBytes += found + 2 - position;
        if (headerBytes > kMaxHeaderBytes) {
          throw std::runtime_error("response header block too large");
        }
        StreamBuffer lineBuffer;
        work->CopyRange(lineBuffer, position, found - position);
        const std::string line = lineBuffer.ToText();
        consumed.header += found + 2 - position;
        position = found + 2;
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
            StreamBuffer audio(work->Data() + position, size - position);
            consumed.audio += size - position;
            DeliverAudio(&audio);
            position = size;
          }
          more = false;
        } else if (int64_t{position} + metadataInterval < size) {
          StreamBuffer audio(work->Data() + position, metadataInterval);
          consumed.audio += metadataInterval;
          DeliverAudio(&audio);
          position += metadataInterval;
          phase = Phase::MetadataLength;
        } else {
          more = false;
        }
        break;
      }
      case Phase::MetadataLength: {
        if (position + 1 >= size) {
          more = false;
          break;
        }
        const int32_t length = work->ByteAt(position) * kMetadataUnit;
        const int32_t next = position + 1 + length;
        if (next >= size) {
          more = false;
          break;
        }
        consumed.metadata += 1 + length;
        if (length > 0) {
          StreamBuffer block(work->Data() + position + 1, length);
          HandleMetadata(&block);
        }
        position = next;
        phase = Phase::Audio;
        break;
      }
    }
  }

  // Keep what is not consumed: shift the leftover's own bytes to its front,
  // or copy the chunk's tail once.
  if (work == &leftover) {
    leftover.DropFront(position);
  } else if (position < size) {
    leftover.Append(work->Data() + position, size - position);
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
