#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <optional>
#include <utility>

#include "audio/AudioFormat.h"
#include "playlist/PlaylistParser.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamSource.h"

class HttpConnection;
class OggChainReader;

// One server entry's connection: it connects to the entry's URL with the ICY
// metadata request on its own worker thread, reads the response in chunks,
// separates header lines, audio and metadata (ProcessChunk), and announces
// state, station name, bit rate, titles, title URLs, byte counts and audio
// blocks to its observers (see StreamSource). A failed or lost connection is
// retried every kRetryDelayMs until the stream is stopped.
//
// Every audio byte a response carries reaches the observers, and each after
// the Title it belongs to. Per response the observers see, before its first
// audio byte: Format (from the Content-Type, or the first bytes where that is
// generic), Station (icy-name, else the URL's host), and, on a stream with
// ICY metadata, the Title and Url of the first metadata block: the audio of
// the first interval is held until that block has arrived, since it belongs
// to the title the block announces. When the response ends (the connection
// is lost, the server ends it, or the stream is stopped), the audio of a
// partial interval is handed on too. An Ogg stream without ICY metadata
// carries its titles in its own comment headers: each chained logical
// stream announces its Title just before its first page (OggChainReader).
//
// Station URLs as people find them: a response that is a playlist (by its
// Content-Type, its first bytes, or its URL's suffix where the type is
// generic; PlaylistParser) is read (at most 64 KiB, up to three playlists
// within playlists) and its first http(s) stream recorded; when that entry
// fails, the next attempt tries the next one, going round, and the playlist
// is fetched again on every attempt, since stations rotate their servers. An
// HLS playlist is followed by an HlsReader over this stream's connections
// (every transfer a HttpConnection that a stop aborts at once); it keeps its
// place across reconnects, so its audio goes on without a repeat, and
// segments it missed are announced as a Gap. The URL in use is announced as
// Source, and a playlist's station name names untitled audio where the
// station sends no icy-name.
//
// A failed attempt announces Reason (why, in plain words) just before
// "Error on connecting"; a stop is never reported as an error.
//
// Threads: the controlling thread (the user-interface thread, or the
// recorder's main thread) constructs and destroys the stream and calls
// SetUrl, Toggle, Reset and CloseConnection; Run and the demultiplexer run on
// the worker. Toggle, Reset and the destructor return promptly: closing the
// connection makes a blocked look-up, connect or read fail at once.
//
// Locks, in the order they are taken: connectionLock (held by the worker for
// a whole connection attempt; Reset takes it once the worker has stopped),
// then the observer lock of StreamSource. connectionGuard only protects the
// pointer to the open connection and is never held while calling out.
//
// Owns its connection while connected, its leftover bytes and its worker;
// observers are not owned.
class ServerStream : public StreamSource {
 public:
  static constexpr int32_t kRetryDelayMs = 1000;
  // A response header block larger than this ends the attempt.
  static constexpr int32_t kMaxHeaderBytes = 64 * 1024;
  // A metadata interval above this (or below 0) ends the attempt. It also
  // bounds the audio held before the first metadata block.
  static constexpr int32_t kMaxMetadataInterval = 4 * 1024 * 1024;
  // Extra request header lines: the ICY metadata request.
  static constexpr const char* kRequestHeaderText = "Accept: text/*\r\nUser-Agent: winamp\r\n";
  static constexpr const char* kMetadataRequestHeader = "icy-metadata:1\r\n";
  // A playlist may name a playlist, which may name one more, but no deeper.
  static constexpr int32_t kMaxPlaylistLevels = 3;

  ServerStream();
  // Stops the stream (Reset), then the base is torn down.
  ~ServerStream() override;

  // Resets the stream, then stores the URL exactly as given; forgets the
  // known station name.
  void SetUrl(const std::string& url);
  std::string Url() const;
  // The station's name from where the URL was found (the station
  // directory): names untitled audio while the server sends no icy-name and
  // no playlist names one. Kept by Reset.
  void SetKnownStation(const std::string& name);

  // Starts a stopped stream, stops a running one (Stop).
  void Toggle() override;
  // Marks the stream stopped and closes its connection, without waiting for
  // the worker: lets a caller stop many streams at once, then Stop each.
  void RequestStop();
  // RequestStop, then waits for the worker to end.
  void Stop();
  // Stops the stream and returns every field to its default; the read size
  // stays.
  void Reset() override;
  // True while the stream is idle or being stopped.
  bool IsStopped() const { return stopped.load(std::memory_order_acquire); }

  // Closes the open connection, if any (a blocked read on the worker fails
  // at once), and announces Disconnected. Takes no connection lock.
  void CloseConnection();

  // The connection loop, on the worker thread.
  void Run() override;

  // The demultiplexer, on the worker with the connection lock held (public
  // so that it can be driven without a network). Consumes what it can of
  // chunk (may be null or empty) and keeps the rest for the next call.
  // Throws std::runtime_error when the response is unusable: a header block
  // above kMaxHeaderBytes, or a metadata interval outside
  // 0..kMaxMetadataInterval.
  void ProcessChunk(const StreamBuffer* chunk);
  // The same for count bytes at bytes, which need not outlive the call.
  void ProcessBytes(const uint8_t* bytes, int32_t count);
  // One non-empty line of the response header block, status line included.
  // "icy-name", "icy-br" and "icy-metaint" are recognised in any letter case.
  void ParseHeaderLine(const std::string& line);
  // Announces the Title and Url of one metadata block (null or empty: none).
  void HandleMetadata(const StreamBuffer* block);
  // The quoted value of key in a metadata text ("StreamTitle='x';"), or "".
  static std::string ExtractValue(const std::string& text, const std::string& key);

  // Why the last attempt failed ("" after a successful connection, or
  // before any attempt). Any thread.
  std::string LastReason() const;

  // The stall limit of every later connection (HttpConnection::
  // SetStallLimit); values below 1 keep the connection's defaults. Any
  // thread.
  void SetStallLimit(int32_t bytesPerSecond, int32_t seconds);

  // What the demultiplexer has consumed since BeginResponse, by kind. Every
  // byte handed to ProcessChunk ends up in exactly one of these or in the
  // leftover (while no call throws). For tests and the fuzzer.
  struct ConsumedBytes {
    int64_t header = 0;    // header lines with their line ends, the empty line included
    int64_t audio = 0;     // audio handed to the observers
    int64_t metadata = 0;  // metadata length bytes and blocks
  };
  ConsumedBytes Consumed() const { return consumed; }
  int32_t LeftoverSize() const { return leftover.Size(); }

  int32_t MetadataInterval() const { return metadataInterval; }
  // Prepares the demultiplexer for a new response, as Run does after every
  // successful open.
  void BeginResponse();
  // The response ended (lost, ended by the server, or stopped): hands on the
  // audio still held, a partial interval included, as Run does at the end of
  // every response. May throw like an observer.
  void FinishResponse();

  // The name untitled audio is filed under when the server sends no
  // icy-name: the host of url ("radio.example.org", "::1"), or "" when url
  // has none.
  static std::string UrlHost(const std::string& url);

 private:
  enum class Phase : int32_t { HeaderLines = 1, Audio = 2, MetadataLength = 3 };

  // Runs the phases over size bytes at data, announcing every complete
  // piece; returns how many bytes it consumed.
  int32_t Walk(const uint8_t* data, int32_t size);
  // How many more bytes the leftover needs before its next piece can be
  // decided (INT32_MAX: as many as there are).
  int32_t BytesWanted() const;
  // Audio the demultiplexer has taken: held until the response's audio can
  // start, then handed on.
  void TakeAudio(const uint8_t* data, int32_t size);
  // A metadata block of length bytes at data (length 0: the block was
  // empty).
  void TakeMetadata(const uint8_t* data, int32_t length);
  // Announces Format, Station and the first title, then hands on the held
  // audio.
  void StartAudio();
  // Announces Format and Station for the audio that follows.
  void AnnounceFormat(AudioFormat audioFormat);

  // How a response's body is used.
  enum class BodyUse { Audio, Undecided, Playlist };
  // Reads the open response until the stream stops (nullopt: its audio was
  // handed on) or, for a playlist, until the body is complete.
  std::optional<Playlist> ReadResponse(HttpConnection& connection);
  // Body bytes of a response not known to be audio: collected, and sorted
  // out once enough have come (or atEnd).
  void TakeBody(const uint8_t* data, int32_t size);
  void DecideBody(bool atEnd);
  // Follows an HLS playlist until the stream stops; throws on a failure.
  void RunHls(const std::string& url, const std::string& body);
  // Waits up to timeout for a stop; false when the stream is stopping.
  bool WaitUnlessStopping(std::chrono::milliseconds timeout);
  // The name untitled audio is filed under.
  std::string StationText() const;
  // Audio on its way to the observers, through the Ogg reader when one
  // reads this response.
  void PassAudio(const uint8_t* data, int32_t size);
  // Drops everything the current response holds, without handing it on.
  void ForgetResponse();
  // Ends an attempt that failed for reason: hands on what is held, then
  // reports the reason and the error state, unless the stream is stopping.
  void Fail(const std::string& reason);
  void SetReason(const std::string& reason);

  // Runs one connection attempt; returns when it has failed or ended.
  void Attempt();
  // Makes connection the current one, or aborts it at once when the stream
  // is being stopped.
  void Publish(const std::shared_ptr<HttpConnection>& connection);
  void ReleaseConnection();
  // Waits kRetryDelayMs, or less when the stream is stopped meanwhile.
  void WaitBeforeRetry();
  void WakeWorker();

  // Shared without a lock.
  std::atomic<bool> stopped{true};

  // Guarded by connectionLock.
  std::recursive_mutex connectionLock;
  Phase phase = Phase::HeaderLines;
  int32_t metadataInterval = 0;  // audio bytes between metadata blocks; 0: none
  int32_t headerBytes = 0;       // header bytes consumed in this response
  StreamBuffer leftover;         // bytes not consumed yet
  ConsumedBytes consumed;
  // What the current response said and what of its audio waits.
  std::string contentType;
  std::string stationName;  // its icy-name, blanks trimmed
  bool audioStarted = false;  // Format and Station announced
  bool metadataSeen = false;  // its first metadata block (or length byte 0) has passed
  StreamBuffer heldAudio;     // its audio before the start
  std::optional<std::pair<std::string, std::string>> firstTitle;  // title and URL of its first block
  AudioFormat format = AudioFormat::Mp3;
  class OggTitles;
  std::unique_ptr<OggTitles> oggTitles;  // while an Ogg response without ICY metadata is read
  std::string responseUrl;  // where the response came from, after redirects
  BodyUse bodyUse = BodyUse::Audio;
  std::string playlistBody;  // the body of a response that may be a playlist
  // Across attempts (also guarded by connectionLock).
  std::string playlistStation;  // the name the last playlist gave
  uint32_t playlistEntry = 0;   // the entry of a playlist the next attempt records
  bool attemptUsedEntry = false;
  class HlsSession;
  std::unique_ptr<HlsSession> hls;  // created at the first HLS playlist, kept for the place it holds
  bool hlsAfterStop = false;        // the last HLS run ended with a stop

  std::atomic<int32_t> stallBytesPerSecond{0};
  std::atomic<int32_t> stallSeconds{0};

  // Guarded by connectionGuard.
  mutable std::mutex connectionGuard;
  std::shared_ptr<HttpConnection> connection;  // null while not connected
  std::string url;
  std::string knownStation;
  std::string lastReason;

  // Wakes the worker from its wait between attempts.
  std::mutex wakeMutex;
  std::condition_variable wake;
};
