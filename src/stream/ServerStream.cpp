#include "stream/ServerStream.h"

#include <new>
#include <stdexcept>

#include "hls/HlsSession.h"
#include "net/HttpConnection.h"

namespace {

// Files of a station that names itself nowhere.
constexpr const char* kUnnamedStation = "untitled";
constexpr const char* kEndedByServer = "the server closed the stream";

// The reason an attempt failed, from what it threw.
std::string ReasonFor(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    return "out of memory";
  }
  const std::string text = error.what();
  return text.empty() ? "unexpected error" : text;
}

}  // namespace

// Qualified: during construction and destruction this class's own reset is
// the one meant.
ServerStream::ServerStream()
    : body(*this),
      resolver([this](const std::shared_ptr<HttpConnection>& newConnection) { Publish(newConnection); }) {
  ServerStream::Reset();
}

ServerStream::~ServerStream() { ServerStream::Reset(); }

void ServerStream::SetUrl(const std::string& newUrl) {
  Reset();
  MutexLock guard(connectionGuard);
  url = newUrl;
  knownStation.clear();
}

void ServerStream::SetKnownStation(const std::string& name) {
  MutexLock guard(connectionGuard);
  knownStation = name;
}

std::string ServerStream::Url() const {
  MutexLock guard(connectionGuard);
  return url;
}

void ServerStream::Toggle() {
  if (!IsStopped()) {
    RequestStop();
    return;
  }
  {
    MutexLock guard(connectionGuard);
    stopped.store(false, std::memory_order_release);
    if (workerActive) {
      // The last run's worker is still handing on what it holds: it starts
      // the new run once that is done, and nobody waits for it.
      restartPending = true;
      return;
    }
    workerActive = true;
  }
  StopWorker();  // joins the last run's thread, which has ended
  if (!StartWorker()) {
    MutexLock guard(connectionGuard);
    workerActive = false;
    stopped.store(true, std::memory_order_release);
  }
}

void ServerStream::RequestStop() {
  std::shared_ptr<HttpConnection> closing;
  {
    MutexLock guard(connectionGuard);
    if (IsStopped()) {
      return;
    }
    stopped.store(true, std::memory_order_release);
    stopCount.fetch_add(1, std::memory_order_acq_rel);
    restartPending = false;
    closing.swap(connection);
  }
  // The observers hear it from the worker, after the last audio it hands on;
  // they may be busy (a disk write) and nobody here waits for them.
  StoreState(StreamState::Disconnected);
  if (closing) {
    // The worker keeps its own reference; the connection is freed when the
    // last user lets go of it, never under a blocked call.
    closing->Abort();
  }
  WakeWorker();
}

void ServerStream::Stop() {
  RequestStop();
  StopWorker();
}

bool ServerStream::IsIdle() const {
  MutexLock guard(connectionGuard);
  return IsStopped() && !workerActive;
}

void ServerStream::Reset() {
  Stop();
  MutexLock lock(connectionLock);
  body.Clear();
  resolver.Reset();
  hls.reset();
  hlsAfterStop = false;
  {
    MutexLock guard(connectionGuard);
    url.clear();
    lastReason.clear();
  }
  ResetSource();
}

void ServerStream::Publish(const std::shared_ptr<HttpConnection>& newConnection) {
  bool stopping = false;
  {
    MutexLock guard(connectionGuard);
    connection = newConnection;
    stopping = Stopping();
  }
  // A stop that came between the worker's last look at the flag and now
  // found no connection to close: close this one at once. (A stop after the
  // look above finds it published.)
  if (stopping) {
    newConnection->Abort();
  }
}

void ServerStream::ReleaseConnection() {
  MutexLock guard(connectionGuard);
  connection.reset();
}

void ServerStream::WakeWorker() {
  MutexLock lock(wakeMutex);
  wake.NotifyAll();
}

bool ServerStream::WaitUnlessStopping(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(wakeMutex);
  while (!Stopping() && wake.WaitUntil(wakeMutex, deadline)) {
  }
  return !Stopping();
}

bool ServerStream::Stopping() const {
  return IsStopped() || stopCount.load(std::memory_order_acquire) != sessionStopCount;
}

void ServerStream::Run() {
  for (;;) {
    {
      MutexLock guard(connectionGuard);
      restartPending = false;
      sessionStopCount = stopCount.load(std::memory_order_acquire);
    }
    RunSession();
    MutexLock guard(connectionGuard);
    if (!restartPending) {
      workerActive = false;
      return;
    }
  }
}

void ServerStream::RunSession() {
  while (!Stopping()) {
    Attempt();
    if (Stopping()) {
      break;
    }
    WaitUnlessStopping(std::chrono::milliseconds(kRetryDelayMs));
  }
  MutexLock lock(connectionLock);
  body.Forget();
  // Only a stop ends the loop. The stopping thread has stored Disconnected
  // already, but the aborted attempt may have stored its own state after
  // that: say it, last, after the last audio.
  SetState(StreamState::Disconnected);
  Notify(StreamEvent::Title, "");
}

void ServerStream::Attempt() {
  MutexLock lock(connectionLock);
  SetState(StreamState::Connecting);
  resolver.BeginAttempt(Url());
  try {
    for (;;) {
      const std::shared_ptr<HttpConnection> current =
          resolver.Open(std::string(kRequestHeaderText) + kMetadataRequestHeader);
      SetReason("");
      SetState(StreamState::Connected);
      body.Restart();
      const std::string responseUrl = current->EffectiveUrl();
      const std::string type = current->ContentType();
      // Only a type that names audio is taken at its word; anything else may
      // be a playlist, which its first bytes or its URL tell.
      const bool audioType = AudioFormatProbe::ContentTypeDecides(type) ||
                             ((type.rfind("audio/", 0) == 0 || type.rfind("application/ogg", 0) == 0) &&
                              PlaylistParser::Recognise(type, responseUrl, "") == PlaylistKind::None);
      body.Open(audioType ? ResponseBody::Use::Audio : ResponseBody::Use::Undecided, responseUrl);
      if (resolver.Level() > 0 && resolver.Target() != Url()) {
        Notify(StreamEvent::Source, resolver.Target());
      }
      if (!AllocateReadBuffer()) {
        ReleaseConnection();
        SetReason("out of memory for the read buffer");
        SetState(StreamState::ErrorPreparingBuffer);
        return;
      }
      const std::optional<PlaylistKind> playlist = ReadResponse(*current);
      if (!playlist) {
        // Stopped: what this response still holds goes on before the
        // stream says it has ended.
        body.Finish();
        EndRead();
        return;
      }
      if (resolver.Follow(*playlist, body.Url(), body.PlaylistBody()) == SourceResolver::Next::Hls) {
        Notify(StreamEvent::Source, body.Url());
        RunHls(body.Url(), body.PlaylistBody());
        return;
      }
      body.Forget();
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

std::optional<PlaylistKind> ServerStream::ReadResponse(HttpConnection& current) {
  while (GetState() == StreamState::Connected && !Stopping()) {
    const int32_t n = current.Read(ReadBuffer(), ReadSize());
    if (n == 0) {
      body.AtEnd();
      if (body.CurrentUse() != ResponseBody::Use::Playlist) {
        // The server ended the stream: a lost connection, retried like one.
        throw ConnectionError(kEndedByServer);
      }
    } else {
      body.Feed(ReadBuffer(), n);
      EndRead();
    }
    if (body.CurrentUse() == ResponseBody::Use::Playlist) {
      const std::string& text = body.PlaylistBody();
      const PlaylistKind kind = PlaylistParser::Recognise(body.Demultiplexer().ContentType(), body.Url(), text);
      // A plain playlist is read no further than its bound; an HLS one, whole.
      const bool full = kind != PlaylistKind::Hls && text.size() > PlaylistParser::kMaxBytes;
      if (n == 0 || full) {
        return kind;
      }
    }
  }
  return std::nullopt;
}

void ServerStream::RunHls(const std::string& playlistUrl, const std::string& playlistText) {
  const bool fresh = !hls;
  if (!hls) {
    hls = std::make_unique<HlsSession>([this] { return resolver.NewConnection(); },
                                       static_cast<HlsReader::Sink&>(*this),
                                       [this](std::chrono::milliseconds wait) { return WaitUnlessStopping(wait); });
  }
  // After a stop the writer has closed its file: announce the format anew.
  if (hls->Run(playlistUrl, playlistText, fresh || hlsAfterStop)) {
    hlsAfterStop = false;
    throw ConnectionError("the playlist ended");
  }
  hlsAfterStop = true;
}

void ServerStream::Fail(const std::string& reason) {
  ReleaseConnection();
  resolver.AttemptFailed();
  try {
    body.Finish();
    EndRead();
  } catch (...) {
    // An observer failed with the held audio as well: the reason that ended
    // the attempt is the one to tell.
  }
  if (Stopping()) {
    return;  // the stop aborted the connection; that is no error
  }
  SetReason(reason);
  SetState(StreamState::ErrorOnConnecting);
}

void ServerStream::SetReason(const std::string& reason) {
  {
    MutexLock guard(connectionGuard);
    if (reason.empty() && lastReason.empty()) {
      return;  // nothing to clear
    }
    lastReason = reason;
  }
  Notify(StreamEvent::Reason, reason);
}

std::string ServerStream::LastReason() const {
  MutexLock guard(connectionGuard);
  return lastReason;
}

void ServerStream::ProcessChunk(const StreamBuffer* chunk) {
  if (chunk != nullptr) {
    ProcessBytes(chunk->Data(), chunk->Size());
  }
}

void ServerStream::ProcessBytes(const uint8_t* bytes, int32_t count) {
  MutexLock lock(connectionLock);
  body.Feed(bytes, count);
  EndRead();
}

void ServerStream::ParseHeaderLine(const std::string& line) {
  MutexLock lock(connectionLock);
  body.ParseHeaderLine(line);
}

void ServerStream::HandleMetadata(const StreamBuffer* block) {
  if (block == nullptr || block->Size() == 0) {
    return;
  }
  const std::string text = block->ToText();
  Notify(StreamEvent::Title, ExtractValue(text, "StreamTitle"));
  Notify(StreamEvent::Url, ExtractValue(text, "StreamUrl"));
}

ServerStream::ConsumedBytes ServerStream::Consumed() const {
  MutexLock lock(connectionLock);
  return body.Demultiplexer().Consumed();
}

int32_t ServerStream::LeftoverSize() const {
  MutexLock lock(connectionLock);
  return body.Demultiplexer().LeftoverSize();
}

int32_t ServerStream::MetadataInterval() const {
  MutexLock lock(connectionLock);
  return body.Demultiplexer().MetadataInterval();
}

void ServerStream::BeginResponse() {
  MutexLock lock(connectionLock);
  body.Restart();
}

void ServerStream::FinishResponse() {
  MutexLock lock(connectionLock);
  body.Finish();
  EndRead();
}

void ServerStream::OnResponseAudio(const uint8_t* data, int32_t size) {
  // Lent, not copied: the bytes stay where the demultiplexer found them
  // (the read buffer or its leftover) until every observer has returned.
  const StreamBuffer audio = StreamBuffer::Lend(data, size);
  DeliverAudio(&audio);
}

std::string ServerStream::DefaultStation() const {
  if (!resolver.PlaylistStation().empty()) {
    return resolver.PlaylistStation();
  }
  {
    MutexLock guard(connectionGuard);
    if (!knownStation.empty()) {
      return knownStation;
    }
  }
  const std::string host = UrlHost(Url());
  return host.empty() ? kUnnamedStation : host;
}

void ServerStream::OnHlsFormat(AudioFormat audioFormat) {
  connectionLock.AssertHeld();
  body.AnnounceFormat(audioFormat);
}

void ServerStream::OnHlsAudio(const uint8_t* data, int32_t size) {
  connectionLock.AssertHeld();
  body.PassAudio(data, size);
  EndRead();
}

void ServerStream::OnHlsTitle(const std::string& title) {
  Notify(StreamEvent::Title, title);
  Notify(StreamEvent::Url, "");
}

void ServerStream::OnHlsGap(int64_t missingSegments) {
  Notify(StreamEvent::Gap, std::to_string(missingSegments) + (missingSegments == 1 ? " segment" : " segments"));
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
