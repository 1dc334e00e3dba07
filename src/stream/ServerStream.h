#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "audio/AudioFormat.h"
#include "base/Mutex.h"
#include "hls/HlsReader.h"
#include "playlist/PlaylistParser.h"
#include "stream/IcyDemultiplexer.h"
#include "stream/ResponseBody.h"
#include "stream/SourceResolver.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamSource.h"

class HlsSession;
class HttpConnection;

// One server entry's connection: it connects to the entry's URL with the ICY
// metadata request on its own worker thread, reads the response in chunks,
// separates header lines, audio and metadata (IcyDemultiplexer), and announces
// state, station name, bit rate, titles, title URLs, byte counts and audio
// blocks to its observers (see StreamSource). A failed or lost connection is
// retried every kRetryDelayMs until the stream is stopped.
//
// Every audio byte a response carries reaches the observers, each after
// the Title it belongs to, and per response Format and Station before its
// first audio byte (ResponseBody). When the response ends (the connection is
// lost, the server ends it, or the stream is stopped), the audio of a
// partial interval is handed on too.
//
// Station URLs as people find them: a response that is a playlist (by its
// Content-Type, its first bytes, or its URL's suffix where the type is
// generic; PlaylistParser) is read (at most 64 KiB) and followed to the
// stream it names (SourceResolver: up to three levels, the next entry after
// a failure). An HLS playlist is followed by an HlsSession over this
// stream's connections (every transfer a HttpConnection that a stop aborts
// at once); it keeps its place across reconnects, so its audio goes on
// without a repeat, and segments it missed are announced as a Gap. The URL
// in use is announced as Source, and a playlist's station name names
// untitled audio where the station sends no icy-name.
//
// A failed attempt announces Reason (why, in plain words) just before
// "Error on connecting"; a stop is never reported as an error.
//
// Stopping never waits for the worker. The worker may sit in an observer for
// as long as a disk takes to accept a write, so RequestStop and Toggle only
// mark the stream stopped, store the state Disconnected (GetState), close
// the connection (a blocked look-up, connect or read fails at once) and
// wake the worker; no observer is called. The worker then hands on every
// byte it has taken in (the block it was delivering, the rest of its last
// read, a partial interval, the held first interval), announces
// Disconnected and the empty Title, and ends; its thread is joined by the
// next start, Stop, Reset or the destructor, at once since it has ended. A
// start while the last run's worker is still finishing makes that worker
// begin a new run once it is done, so no start waits either. IsIdle tells
// when the worker has ended. Stop, Reset and the destructor do wait for the
// worker: an owner that must not wait destroys a stopped stream, and what
// it reports to, where waiting costs nothing (StreamReaper).
//
// Threads: the controlling thread (the user-interface thread, or the
// recorder's main thread) constructs and destroys the stream and calls
// SetUrl, Toggle, RequestStop, Stop and Reset; Run runs on the worker. The
// demultiplexing entry points (ProcessChunk and the rest) run on the worker,
// or on any one thread while no worker runs (tests, the fuzzer).
//
// Locks, in the order they are taken:
// - connectionLock guards the response being read and what is kept across
//   attempts (response body, resolver, HLS session); the worker holds it
//   for a whole attempt, observer calls included, so the controlling thread
//   takes it only once the worker has ended (Reset) or while none runs.
// - the observer lock of StreamSource (see there).
// - connectionGuard guards the open connection, the URL, the last reason
//   and the worker's run bookkeeping; any thread, never held while calling
//   out (the connection is aborted after it is released).
// - wakeMutex pairs with `wake`, the worker's wait between attempts and
//   between HLS reloads; any thread, held only to wait or to notify.
//
// Owns its connection while connected, its leftover bytes and its worker;
// observers are not owned and must outlive the worker (IsIdle).
class ServerStream : public StreamSource, private ResponseBody::Output, private HlsReader::Sink {
 public:
  static constexpr int32_t kRetryDelayMs = 1000;
  // A metadata interval above this (or below 0) ends the attempt. It also
  // bounds the audio held before the first metadata block.
  static constexpr int32_t kMaxMetadataInterval = IcyDemultiplexer::kMaxMetadataInterval;
  // Extra request header lines: the ICY metadata request.
  static constexpr const char* kRequestHeaderText = "Accept: text/*\r\nUser-Agent: winamp\r\n";
  static constexpr const char* kMetadataRequestHeader = "icy-metadata:1\r\n";
  static constexpr int32_t kMaxPlaylistLevels = SourceResolver::kMaxPlaylistLevels;

  ServerStream();
  // Reset: stops the stream and waits for its worker (see above).
  ~ServerStream() override;

  // Resets the stream, then stores the URL exactly as given.
  void SetUrl(const std::string& url) EXCLUDES(connectionLock, connectionGuard);
  std::string Url() const EXCLUDES(connectionGuard);
  // The station's name from where the URL was found (the station
  // directory): names untitled audio while the server sends no icy-name and
  // no playlist names one. SetUrl forgets it; Reset keeps it.
  void SetKnownStation(const std::string& name) EXCLUDES(connectionGuard);

  // Starts a stopped stream, stops a running one (RequestStop). Returns at
  // once either way.
  void Toggle() override EXCLUDES(connectionGuard);
  // Marks the stream stopped and closes its connection, without waiting for
  // the worker or calling an observer. Nothing for a stopped stream.
  void RequestStop() EXCLUDES(connectionGuard);
  // RequestStop, then waits for the worker to end (for teardown and tests:
  // it waits as long as an observer blocks).
  void Stop() EXCLUDES(connectionGuard);
  // Stops the stream (Stop) and returns every field to its default; the
  // read size stays.
  void Reset() override EXCLUDES(connectionLock, connectionGuard);
  // True while the stream is idle or being stopped.
  bool IsStopped() const { return stopped.load(std::memory_order_acquire); }
  // Stopped, and its worker has ended: nothing calls the observers, so they
  // may be rewired or destroyed and settings changed.
  bool IsIdle() const EXCLUDES(connectionGuard);

  // The connection loop, on the worker thread.
  void Run() override EXCLUDES(connectionLock, connectionGuard);

  // The demultiplexer, driven without a network. Consumes what it can of
  // chunk (may be null or empty) and keeps the rest for the next call.
  // Throws std::runtime_error when the response is unusable (see
  // IcyDemultiplexer::Feed).
  void ProcessChunk(const StreamBuffer* chunk) EXCLUDES(connectionLock);
  // The same for count bytes at bytes, which need not outlive the call.
  void ProcessBytes(const uint8_t* bytes, int32_t count) EXCLUDES(connectionLock);
  // One non-empty line of the response header block, status line included.
  // "icy-name", "icy-br" and "icy-metaint" are recognised in any letter case.
  void ParseHeaderLine(const std::string& line) EXCLUDES(connectionLock);
  // Announces the Title and Url of one metadata block (null or empty: none).
  void HandleMetadata(const StreamBuffer* block);
  // The quoted value of key in a metadata text ("StreamTitle='x';"), or "".
  static std::string ExtractValue(const std::string& text, const std::string& key) {
    return IcyDemultiplexer::ExtractValue(text, key);
  }

  // Why the last attempt failed ("" after a successful connection, or
  // before any attempt). Any thread.
  std::string LastReason() const EXCLUDES(connectionGuard);

  // The stall limit of every later connection (HttpConnection::
  // SetStallLimit); values below 1 keep the connection's defaults. Any
  // thread.
  void SetStallLimit(int32_t bytesPerSecond, int32_t seconds) { resolver.SetStallLimit(bytesPerSecond, seconds); }

  // What the demultiplexer has consumed since BeginResponse, by kind. Every
  // byte handed to ProcessChunk ends up in exactly one of these or in the
  // leftover (while no call throws). For tests and the fuzzer.
  using ConsumedBytes = IcyDemultiplexer::ConsumedBytes;
  ConsumedBytes Consumed() const EXCLUDES(connectionLock);
  int32_t LeftoverSize() const EXCLUDES(connectionLock);
  int32_t MetadataInterval() const EXCLUDES(connectionLock);
  // Prepares the demultiplexer for a new response, as Run does after every
  // successful open.
  void BeginResponse() EXCLUDES(connectionLock);
  // The response ended (lost, ended by the server, or stopped): hands on the
  // audio still held, a partial interval included, as Run does at the end of
  // every response. May throw like an observer.
  void FinishResponse() EXCLUDES(connectionLock);

  // The name untitled audio is filed under when the server sends no
  // icy-name: the host of url ("radio.example.org", "::1"), or "" when url
  // has none.
  static std::string UrlHost(const std::string& url);

 private:
  // One run, from a start to the stop that ends it.
  void RunSession() EXCLUDES(connectionLock, connectionGuard);
  // Whether this run is being stopped: the stream is stopped, or was
  // stopped (and perhaps started again) since the run began. Worker only.
  bool Stopping() const;

  // Runs one connection attempt; returns when it has failed or ended.
  void Attempt() EXCLUDES(connectionLock);
  // Reads the open response until the stream stops (nullopt: its audio was
  // handed on) or, for a playlist, until the body is complete (its kind).
  std::optional<PlaylistKind> ReadResponse(HttpConnection& connection) REQUIRES(connectionLock);
  // Follows an HLS playlist until the stream stops; throws on a failure.
  void RunHls(const std::string& playlistUrl, const std::string& playlistText) REQUIRES(connectionLock);
  // Ends an attempt that failed for reason: hands on what is held, then
  // reports the reason and the error state, unless the stream is stopping.
  void Fail(const std::string& reason) REQUIRES(connectionLock);
  void SetReason(const std::string& reason) EXCLUDES(connectionGuard);

  // Where the response's events go, with connectionLock held.
  void OnResponseText(StreamEvent kind, const std::string& text) override { Notify(kind, text); }
  void OnResponseAudio(const uint8_t* data, int32_t size) override;
  std::string DefaultStation() const override;
  // What the HLS session hands on, within RunHls.
  void OnHlsFormat(AudioFormat audioFormat) override;
  void OnHlsAudio(const uint8_t* data, int32_t size) override;
  void OnHlsTitle(const std::string& title) override;
  void OnHlsGap(int64_t missingSegments) override;

  // Makes connection the current one, or aborts it at once when the stream
  // is being stopped.
  void Publish(const std::shared_ptr<HttpConnection>& connection) EXCLUDES(connectionGuard);
  void ReleaseConnection() EXCLUDES(connectionGuard);
  // Waits up to timeout for a stop; false when the run is stopping.
  bool WaitUnlessStopping(std::chrono::milliseconds timeout) EXCLUDES(wakeMutex);
  void WakeWorker() EXCLUDES(wakeMutex);

  // Shared without a lock.
  std::atomic<bool> stopped{true};             // the stream is idle or being stopped
  std::atomic<uint32_t> stopCount{0};          // RequestStops so far
  uint32_t sessionStopCount = 0;               // worker only: stopCount when its run began

  mutable Mutex connectionLock;
  ResponseBody body GUARDED_BY(connectionLock);
  // Its stall limit is atomic; the rest is the worker's (connectionLock).
  SourceResolver resolver;
  // Created at the first HLS playlist, kept for the place it holds.
  std::unique_ptr<HlsSession> hls GUARDED_BY(connectionLock);
  bool hlsAfterStop GUARDED_BY(connectionLock) = false;  // the last HLS run ended with a stop

  mutable Mutex connectionGuard;
  std::shared_ptr<HttpConnection> connection GUARDED_BY(connectionGuard);  // null while not connected
  std::string url GUARDED_BY(connectionGuard);
  std::string knownStation GUARDED_BY(connectionGuard);
  std::string lastReason GUARDED_BY(connectionGuard);
  bool workerActive GUARDED_BY(connectionGuard) = false;  // a worker runs and has not decided to end
  bool restartPending GUARDED_BY(connectionGuard) = false;  // started again before the worker ended its run

  Mutex wakeMutex;
  CondVar wake;
};
