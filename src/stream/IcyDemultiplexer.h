#pragma once

#include <cstdint>
#include <string>

#include "stream/StreamBuffer.h"
#include "stream/StreamEvent.h"

// Takes an ICY (SHOUTcast/Icecast) response apart: the status and header
// lines, then the body, which with an "icy-metaint" of N is N audio bytes,
// a length byte L and L * 16 bytes of metadata, over and over; without one,
// all audio.
//
// Bytes come in reads of any size (Feed). A piece that straddles two reads
// waits in the leftover until it is complete: header lines until their CR
// LF, an audio block until the byte after it (so that a block is never
// handed on before the stream has shown it goes on), a metadata block until
// the byte after it. Complete pieces go to the sink at once, in order.
// Every byte fed ends up in exactly one of Consumed()'s counts or in the
// leftover.
//
// What it recognises of the header lines ("icy-name", "icy-br",
// "icy-metaint", "content-type", in any letter case) it keeps for the
// response (StationName, ContentType, MetadataInterval) and passes the
// name and bit rate on as the server wrote them.
//
// Owns its leftover; the sink is borrowed and must outlive the
// demultiplexer. Not thread-safe: one thread at a time (the stream's worker,
// or a test); its owner serialises.
class IcyDemultiplexer {
 public:
  // A metadata interval above this (or below 0) ends the attempt. It also
  // bounds the audio a stream holds before the first metadata block.
  static constexpr int32_t kMaxMetadataInterval = 4 * 1024 * 1024;

  // Where the pieces go. A sink may throw; the error passes out of Feed,
  // and the piece counts as consumed.
  class Sink {
   public:
    virtual ~Sink() = default;
    // The icy-name (Name) or icy-br (Bitrate) header value, untrimmed.
    virtual void OnIcyHeader(StreamEvent kind, const std::string& value) = 0;
    // Body bytes that are not metadata, lent for the call.
    virtual void OnIcyAudio(const uint8_t* data, int32_t size) = 0;
    // One metadata block: empty (the length byte 0), or the values of its
    // StreamTitle and StreamUrl ("" where a key is missing).
    virtual void OnIcyMetadata(bool empty, std::string title, std::string url) = 0;
  };

  // What has been consumed since Restart, by kind.
  struct ConsumedBytes {
    int64_t header = 0;    // header lines with their line ends, the empty line included
    int64_t audio = 0;     // audio handed to the sink
    int64_t metadata = 0;  // metadata length bytes and blocks
  };

  explicit IcyDemultiplexer(Sink& sink) : sink(sink) {}

  IcyDemultiplexer(const IcyDemultiplexer&) = delete;
  IcyDemultiplexer& operator=(const IcyDemultiplexer&) = delete;

  // Consumes what it can of count bytes at bytes (may be null; nothing
  // then), which need not outlive the call, and keeps the rest. Throws
  // std::runtime_error when the response is unusable: a header block above
  // HttpConnection::kMaxHeaderBytes, or a metadata interval outside 0..kMaxMetadataInterval.
  void Feed(const uint8_t* bytes, int32_t count);
  // One non-empty line of the header block, status line included.
  void ParseHeaderLine(const std::string& line);
  // The response ended: an audio block it cut short is audio all the same
  // and goes to the sink; header or metadata bytes are dropped.
  void FinishAudio();

  // Ready for a new response, the counts at 0.
  void Restart();
  // Forgets the response's bytes and header values, keeping the counts and
  // the metadata interval (a reconnect's header block sets that again).
  void Forget();
  // Forget, and the metadata interval back to 0.
  void Clear();

  ConsumedBytes Consumed() const { return consumed; }
  int32_t LeftoverSize() const { return leftover.Size(); }
  int32_t MetadataInterval() const { return metadataInterval; }
  // The response's Content-Type and icy-name, blanks trimmed; "" without.
  const std::string& ContentType() const { return contentType; }
  const std::string& StationName() const { return stationName; }

  // The quoted value of key in a metadata text ("StreamTitle='x';"), or "".
  // A value may hold quotes and semicolons of its own: it runs to the "';"
  // that the next key or the end of the text follows.
  static std::string ExtractValue(const std::string& text, const std::string& key);

 private:
  enum class Phase : int32_t { HeaderLines = 1, Audio = 2, MetadataLength = 3 };

  // Runs the phases over size bytes at data, handing on every complete
  // piece; returns how many bytes it consumed.
  int32_t Walk(const uint8_t* data, int32_t size);
  // How many more bytes the leftover needs before its next piece can be
  // decided (INT32_MAX: as many as there are).
  int32_t BytesWanted() const;
  void TakeMetadata(const uint8_t* data, int32_t length);

  Sink& sink;
  Phase phase = Phase::HeaderLines;
  int32_t metadataInterval = 0;  // audio bytes between metadata blocks; 0: none
  int32_t headerBytes = 0;       // header bytes consumed in this response
  StreamBuffer leftover;         // bytes not consumed yet
  ConsumedBytes consumed;
  std::string contentType;
  std::string stationName;
};
