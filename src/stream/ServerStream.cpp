#include "stream/ServerStream.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <strings.h>

#include "hls/HlsReader.h"
#include "net/HttpConnection.h"
#include "net/HttpFetcher.h"
#include "ogg/OggChainReader.h"

namespace {

constexpr int32_t kMetadataUnit = 16;
constexpr const char* kNameKey = "icy-name";
constexpr const char* kMetadataIntervalKey = "icy-metaint";
constexpr const char* kBitrateKey = "icy-br";
constexpr const char* kTitleKey = "StreamTitle";
constexpr const char* kTitleUrlKey = "StreamUrl";
constexpr const char* kContentTypeKey = "content-type";
// Files of a station that names itself nowhere.
constexpr const char* kUnnamedStation = "untitled";
constexpr const char* kEndedByServer = "the server closed the stream";

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

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

// The reason an attempt failed, from what it threw.
std::string ReasonFor(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    return "out of memory";
  }
  const std::string text = error.what();
  return text.empty() ? "unexpected error" : text;
}

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

// Hands the Ogg reader's audio and titles to the observers.
class ServerStream::OggTitles : public OggChainReader::Sink {
 public:
  explicit OggTitles(ServerStream& stream) : stream(stream), reader(*this) {}

  void OnOggAudio(const uint8_t* data, int32_t size) override {
    const StreamBuffer audio(data, size);
    stream.DeliverAudio(&audio);
  }
  void OnOggTitle(const std::string& title) override { stream.Notify(StreamEvent::Title, title); }

  OggChainReader& Reader() { return reader; }

 private:
  ServerStream& stream;
  OggChainReader reader;
};

// The HLS loop of a stream: its transfers go through the stream's own
// connections (published, so that a stop aborts them), its audio and titles
// to the stream's observers. Kept across attempts, since the reader holds
// the place in the playlist.
class ServerStream::HlsSession : public HlsReader::Fetcher, public HlsReader::Sink {
 public:
  explicit HlsSession(ServerStream& stream)
      : stream(stream), reader(*this, *this, [this](std::chrono::milliseconds wait) {
          return this->stream.WaitUnlessStopping(wait);
        }) {}

  // Runs the reader; true when the playlist ended.
  bool Run(const std::string& url, const std::string& body, bool announceFormat) {
    formatAnnounced = !announceFormat;
    return reader.Run(url, body);
  }

  HlsReader::Fetched Fetch(const std::string& url, size_t maxBytes) override {
    auto connection = std::make_shared<HttpConnection>();
    connection->SetStallLimit(stream.stallBytesPerSecond.load(std::memory_order_relaxed),
                              stream.stallSeconds.load(std::memory_order_relaxed));
    stream.Publish(connection);
    connection->Open(url, "");
    HlsReader::Fetched fetched;
    fetched.contentType = connection->ContentType();
    fetched.finalUrl = connection->EffectiveUrl();
    fetched.body = HttpFetcher::ReadBody(*connection, maxBytes,
                                         "an HLS file larger than " + std::to_string(maxBytes) + " bytes");
    return fetched;
  }

  void OnHlsFormat(AudioFormat audioFormat) override {
    // A reconnect that goes on where the reader stopped is no new response:
    // announcing one would make the writer look for a repeat that is not
    // there. A new format is announced, and so is the first after a start.
    if (!formatAnnounced || audioFormat != lastFormat) {
      stream.AnnounceFormat(audioFormat);
      formatAnnounced = true;
      lastFormat = audioFormat;
    }
  }
  void OnHlsAudio(const uint8_t* data, int32_t size) override { stream.PassAudio(data, size); }
  void OnHlsTitle(const std::string& title) override {
    stream.Notify(StreamEvent::Title, title);
    stream.Notify(StreamEvent::Url, "");
  }
  void OnHlsGap(int64_t missingSegments) override {
    stream.Notify(StreamEvent::Gap,
                  std::to_string(missingSegments) + (missingSegments == 1 ? " segment" : " segments"));
  }

 private:
  ServerStream& stream;
  HlsReader reader;
  bool formatAnnounced = false;
  AudioFormat lastFormat = AudioFormat::Aac;
};

// Qualified: during construction and destruction this class's own reset is
// the one meant.
ServerStream::ServerStream() { ServerStream::Reset(); }

ServerStream::~ServerStream() { ServerStream::Reset(); }

void ServerStream::SetUrl(const std::string& newUrl) {
  Reset();
  std::lock_guard<std::mutex> guard(connectionGuard);
  url = newUrl;
  knownStation.clear();
}

void ServerStream::SetKnownStation(const std::string& name) {
  std::lock_guard<std::mutex> guard(connectionGuard);
  knownStation = name;
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
  BeginResponse();
  playlistStation.clear();
  playlistEntry = 0;
  hls.reset();
  hlsAfterStop = false;
  {
    std::lock_guard<std::mutex> guard(connectionGuard);
    url.clear();
    lastReason.clear();
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
  ForgetResponse();
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
  attemptUsedEntry = false;
  try {
    std::string target = Url();
    for (int32_t level = 0;; ++level) {
      auto current = std::make_shared<HttpConnection>();
      current->SetStallLimit(stallBytesPerSecond.load(std::memory_order_relaxed),
                             stallSeconds.load(std::memory_order_relaxed));
      Publish(current);
      current->Open(target, std::string(kRequestHeaderText) + kMetadataRequestHeader);
      SetReason("");
      SetState(StreamState::Connected);
      BeginResponse();
      responseUrl = current->EffectiveUrl();
      const std::string type = current->ContentType();
      // Only a type that names audio is taken at its word; anything else may
      // be a playlist, which its first bytes or its URL tell.
      const bool audioType = AudioFormatProbe::ContentTypeDecides(type) ||
                             ((type.rfind("audio/", 0) == 0 || type.rfind("application/ogg", 0) == 0) &&
                              PlaylistParser::Recognise(type, responseUrl, "") == PlaylistKind::None);
      bodyUse = audioType ? BodyUse::Audio : BodyUse::Undecided;
      if (level == 0) {
        playlistStation.clear();
      } else if (target != Url()) {
        Notify(StreamEvent::Source, target);
      }
      if (!AllocateReadBuffer()) {
        ReleaseConnection();
        SetReason("out of memory for the read buffer");
        SetState(StreamState::ErrorPreparingBuffer);
        return;
      }
      std::optional<Playlist> playlist = ReadResponse(*current);
      if (!playlist) {
        // Stopped: what this response still holds goes on before the
        // stream says it has ended.
        FinishResponse();
        return;
      }
      if (playlist->IsHls()) {
        Notify(StreamEvent::Source, responseUrl);
        RunHls(responseUrl, playlistBody);
        return;
      }
      if (level + 1 >= kMaxPlaylistLevels) {
        throw std::runtime_error("playlists nested more than " + std::to_string(kMaxPlaylistLevels) + " deep");
      }
      if (playlist->entries.empty()) {
        throw std::runtime_error(playlist->skippedEntries > 0 ? "the playlist names no http or https stream"
                                                              : "the playlist names no stream");
      }
      if (!playlist->stationName.empty()) {
        playlistStation = playlist->stationName;
      }
      target = playlist->entries[playlistEntry % playlist->entries.size()].url;
      attemptUsedEntry = true;
      ForgetResponse();
    }
  } catch (const std::exception& error) {
    // Network errors, an unusable response, memory exhaustion or an
    // observer's failure (a file that cannot be written) all end this
    // attempt alike.
    Fail(ReasonFor(error));
  } catch (...) {
    Fail("unexpected error");
  }
}

std::optional<Playlist> ServerStream::ReadResponse(HttpConnection& current) {
  while (GetState() == StreamState::Connected && !IsStopRequested()) {
    const int32_t n = current.Read(ReadBuffer(), ReadSize());
    if (n == 0) {
      if (bodyUse == BodyUse::Undecided) {
        DecideBody(true);
      }
      if (bodyUse != BodyUse::Playlist) {
        // The server ended the stream: a lost connection, retried like one.
        throw ConnectionError(kEndedByServer);
      }
    } else {
      ProcessBytes(ReadBuffer(), n);
    }
    if (bodyUse == BodyUse::Playlist) {
      const PlaylistKind kind = PlaylistParser::Recognise(contentType, responseUrl, playlistBody);
      // A plain playlist is read no further than its bound; an HLS one, whole.
      const bool full = kind != PlaylistKind::Hls && playlistBody.size() > PlaylistParser::kMaxBytes;
      if (n == 0 || full) {
        return PlaylistParser::Parse(kind == PlaylistKind::None ? PlaylistKind::M3u : kind, responseUrl,
                                     playlistBody);
      }
    }
  }
  return std::nullopt;
}

void ServerStream::TakeBody(const uint8_t* data, int32_t size) {
  if (playlistBody.size() + static_cast<size_t>(size) > HlsReader::kMaxPlaylistBytes) {
    throw std::runtime_error("a playlist larger than " + std::to_string(HlsReader::kMaxPlaylistBytes) + " bytes");
  }
  playlistBody.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  if (bodyUse == BodyUse::Undecided && playlistBody.size() >= PlaylistParser::kSniffBytes) {
    DecideBody(false);
  }
}

void ServerStream::DecideBody(bool atEnd) {
  (void)atEnd;
  if (PlaylistParser::Recognise(contentType, responseUrl, playlistBody) != PlaylistKind::None) {
    bodyUse = BodyUse::Playlist;
    return;
  }
  bodyUse = BodyUse::Audio;
  std::string audio;
  audio.swap(playlistBody);
  TakeAudio(reinterpret_cast<const uint8_t*>(audio.data()), static_cast<int32_t>(audio.size()));
}

void ServerStream::RunHls(const std::string& url, const std::string& body) {
  const bool fresh = !hls;
  if (!hls) {
    hls = std::make_unique<HlsSession>(*this);
  }
  // After a stop the writer has closed its file: announce the format anew.
  if (hls->Run(url, body, fresh || hlsAfterStop)) {
    hlsAfterStop = false;
    throw ConnectionError("the playlist ended");
  }
  hlsAfterStop = true;
}

bool ServerStream::WaitUnlessStopping(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(wakeMutex);
  wake.wait_for(lock, timeout, [this] { return IsStopped() || IsStopRequested(); });
  return !IsStopped() && !IsStopRequested();
}

void ServerStream::Fail(const std::string& reason) {
  ReleaseConnection();
  if (attemptUsedEntry) {
    ++playlistEntry;  // the next attempt tries the playlist's next stream
  }
  try {
    FinishResponse();
  } catch (...) {
    // An observer failed with the held audio as well: the reason that ended
    // the attempt is the one to tell.
  }
  if (IsStopped()) {
    return;  // the stop aborted the connection; that is no error
  }
  SetReason(reason);
  SetState(StreamState::ErrorOnConnecting);
}

void ServerStream::SetReason(const std::string& reason) {
  {
    std::lock_guard<std::mutex> guard(connectionGuard);
    if (reason.empty() && lastReason.empty()) {
      return;  // nothing to clear
    }
    lastReason = reason;
  }
  Notify(StreamEvent::Reason, reason);
}

std::string ServerStream::LastReason() const {
  std::lock_guard<std::mutex> guard(connectionGuard);
  return lastReason;
}

void ServerStream::BeginResponse() {
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  consumed = ConsumedBytes{};
  ForgetResponse();
}

void ServerStream::ForgetResponse() {
  phase = Phase::HeaderLines;
  headerBytes = 0;
  leftover.Clear();
  contentType.clear();
  stationName.clear();
  audioStarted = false;
  metadataSeen = false;
  heldAudio.Clear();
  firstTitle.reset();
  format = AudioFormat::Mp3;
  oggTitles.reset();
  responseUrl.clear();
  bodyUse = BodyUse::Audio;
  playlistBody.clear();
}

void ServerStream::FinishResponse() {
  std::lock_guard<std::recursive_mutex> lock(connectionLock);
  if (phase == Phase::Audio && leftover.Size() > 0) {
    // The start of an audio block whose end never came: audio all the same.
    // (In the other phases the leftover holds header or metadata bytes.)
    const int32_t size = leftover.Size();
    consumed.audio += size;
    StreamBuffer partial;
    partial.AppendBuffer(leftover);
    leftover.Clear();
    TakeAudio(partial.Data(), size);
  }
  if (!audioStarted && heldAudio.Size() > 0) {
    StartAudio();
  }
  if (oggTitles) {
    oggTitles->Reader().Finish();
  }
  // Nothing of this response may reach the next one.
  ForgetResponse();
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
            consumed.audio += size - position;
            TakeAudio(data + position, size - position);
          }
          return size;
        }
        if (int64_t{position} + metadataInterval >= size) {
          return position;
        }
        consumed.audio += metadataInterval;
        TakeAudio(data + position, metadataInterval);
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

void ServerStream::TakeAudio(const uint8_t* data, int32_t size) {
  if (bodyUse != BodyUse::Audio) {
    if (metadataInterval > 0) {
      bodyUse = BodyUse::Audio;  // ICY metadata: a stream, never a playlist
    } else {
      TakeBody(data, size);
      return;
    }
  }
  if (audioStarted) {
    PassAudio(data, size);
    return;
  }
  heldAudio.Append(data, size);
  if (metadataInterval > 0 && !metadataSeen) {
    return;  // the first metadata block says whose audio this is
  }
  if (metadataInterval > 0 || AudioFormatProbe::ContentTypeDecides(contentType) ||
      heldAudio.Size() >= AudioFormatProbe::kProbeBytes) {
    StartAudio();
  }
}

void ServerStream::TakeMetadata(const uint8_t* data, int32_t length) {
  std::string title;
  std::string titleUrl;
  if (length > 0) {
    const StreamBuffer block(data, length);
    const std::string text = block.ToText();
    title = ExtractValue(text, kTitleKey);
    titleUrl = ExtractValue(text, kTitleUrlKey);
  }
  if (!audioStarted) {
    metadataSeen = true;
    if (length > 0) {
      firstTitle.emplace(std::move(title), std::move(titleUrl));
    }
    StartAudio();
    return;
  }
  if (length > 0) {
    Notify(StreamEvent::Title, title);
    Notify(StreamEvent::Url, titleUrl);
  }
}

void ServerStream::AnnounceFormat(AudioFormat audioFormat) {
  Notify(StreamEvent::Format, AudioFormatProbe::Extension(audioFormat));
  Notify(StreamEvent::Station, StationText());
}

std::string ServerStream::StationText() const {
  if (!stationName.empty()) {
    return stationName;
  }
  if (!playlistStation.empty()) {
    return playlistStation;
  }
  {
    std::lock_guard<std::mutex> guard(connectionGuard);
    if (!knownStation.empty()) {
      return knownStation;
    }
  }
  const std::string host = UrlHost(Url());
  return host.empty() ? kUnnamedStation : host;
}

void ServerStream::StartAudio() {
  audioStarted = true;
  format = AudioFormatProbe::Probe(contentType, heldAudio.Data(), heldAudio.Size());
  AnnounceFormat(format);
  if ((format == AudioFormat::Ogg || format == AudioFormat::Opus) && metadataInterval == 0) {
    oggTitles = std::make_unique<OggTitles>(*this);
  }
  if (firstTitle) {
    Notify(StreamEvent::Title, firstTitle->first);
    Notify(StreamEvent::Url, firstTitle->second);
    firstTitle.reset();
  }
  StreamBuffer held;
  held.AppendBuffer(heldAudio);
  heldAudio.Clear();
  PassAudio(held.Data(), held.Size());
}

void ServerStream::PassAudio(const uint8_t* data, int32_t size) {
  if (size <= 0) {
    return;
  }
  if (oggTitles) {
    try {
      oggTitles->Reader().Feed(data, size);
    } catch (...) {
      // An observer failed inside the reader, which must not be fed or
      // finished after that: the rest of this response goes on unread.
      oggTitles.reset();
      throw;
    }
    return;
  }
  const StreamBuffer audio(data, size);
  DeliverAudio(&audio);
}

std::string ServerStream::UrlHost(const std::string& address) {
  size_t start = address.find("://");
  if (start == std::string::npos) {
    return {};
  }
  start += 3;
  size_t end = address.find_first_of("/?#", start);
  if (end == std::string::npos) {
    end = address.size();
  }
  std::string authority = address.substr(start, end - start);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    authority.erase(0, at + 1);
  }
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    return close == std::string::npos ? std::string() : authority.substr(1, close - 1);
  }
  return authority.substr(0, authority.find(':'));
}

void ServerStream::ParseHeaderLine(const std::string& line) {
  std::string value;
  if (HeaderValue(line, kNameKey, value)) {
    {
      std::lock_guard<std::recursive_mutex> lock(connectionLock);
      stationName = TrimBlanks(value);
    }
    Notify(StreamEvent::Name, value);
  }
  if (HeaderValue(line, kContentTypeKey, value)) {
    std::lock_guard<std::recursive_mutex> lock(connectionLock);
    contentType = TrimBlanks(value);
  }
  if (HeaderValue(line, kBitrateKey, value)) {
    Notify(StreamEvent::Bitrate, value);
  }
  if (HeaderValue(line, kMetadataIntervalKey, value)) {
    const int64_t interval = ReadDecimal(value);
    if (interval < 0 || interval > kMaxMetadataInterval) {
      throw std::runtime_error("metadata interval out of range (" + TrimBlanks(value) + ")");
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
