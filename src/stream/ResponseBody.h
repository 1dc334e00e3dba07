#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "audio/AudioFormat.h"
#include "ogg/OggChainReader.h"
#include "stream/IcyDemultiplexer.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamEvent.h"

// What becomes of one response: its bytes go through the ICY demultiplexer,
// and its body turns out to be audio or a playlist.
//
// Audio: before its first byte the response announces Format (from the
// Content-Type, or the first bytes where that is generic) and Station
// (icy-name, else Output::DefaultStation), and, with ICY metadata, the
// Title and Url of the first metadata block: the first interval's audio is
// held until that block has arrived, since it belongs to the title the
// block announces. An Ogg body without ICY metadata carries its titles in
// its comment headers: each chained logical stream announces its Title just
// before its first page (OggChainReader).
//
// A body not known to be audio (its Content-Type names none) is collected
// until PlaylistParser can tell whether it is a playlist; if not, it is
// audio after all and goes on as above. A playlist body is kept whole for
// the caller (at most HlsReader::kMaxPlaylistBytes).
//
// Owns the demultiplexer, the held audio and the Ogg reader; the output is
// borrowed and must outlive the body. Not thread-safe: the stream's worker
// (or a test) drives it, with the stream's connection lock held.
class ResponseBody : private IcyDemultiplexer::Sink, private OggChainReader::Sink {
 public:
  // Where the response's events go: the stream's observers. May throw (an
  // observer that cannot write); the error passes out of the call that
  // brought the event.
  class Output {
   public:
    virtual ~Output() = default;
    virtual void OnResponseText(StreamEvent kind, const std::string& text) = 0;
    virtual void OnResponseAudio(const uint8_t* data, int32_t size) = 0;
    // What names untitled audio when the response sends no icy-name.
    virtual std::string DefaultStation() const = 0;
  };

  // How the body is used.
  enum class Use { Audio, Undecided, Playlist };

  explicit ResponseBody(Output& output) : output(output), demultiplexer(*this) {}

  ResponseBody(const ResponseBody&) = delete;
  ResponseBody& operator=(const ResponseBody&) = delete;

  // A new response: the demultiplexer's counts at 0, nothing held.
  void Restart();
  // The response comes from url (after redirects); use is Audio when its
  // Content-Type names audio, else Undecided.
  void Open(Use use, std::string url);
  // Bytes of the response as read (IcyDemultiplexer::Feed).
  void Feed(const uint8_t* bytes, int32_t count) { demultiplexer.Feed(bytes, count); }
  void ParseHeaderLine(const std::string& line) { demultiplexer.ParseHeaderLine(line); }
  // The server ended the response: an undecided body is decided now.
  void AtEnd();
  // The response is over (lost, ended, stopped): hands on the audio still
  // held, a partial interval included, then forgets it.
  void Finish();
  // Drops what the response holds without handing it on.
  void Forget();
  // Forget, and the metadata interval back to 0.
  void Clear();

  Use CurrentUse() const { return use; }
  const std::string& Url() const { return url; }
  const std::string& PlaylistBody() const { return playlistBody; }
  const IcyDemultiplexer& Demultiplexer() const { return demultiplexer; }

  // For a source whose audio comes without a response of its own (HLS):
  // announces Format and Station, and hands audio on.
  void AnnounceFormat(AudioFormat format);
  void PassAudio(const uint8_t* data, int32_t size);

 private:
  void OnIcyHeader(StreamEvent kind, const std::string& value) override { output.OnResponseText(kind, value); }
  void OnIcyAudio(const uint8_t* data, int32_t size) override;
  void OnIcyMetadata(bool empty, std::string title, std::string titleUrl) override;
  void OnOggAudio(const uint8_t* data, int32_t size) override { output.OnResponseAudio(data, size); }
  void OnOggTitle(const std::string& title) override { output.OnResponseText(StreamEvent::Title, title); }

  // Body bytes not known to be audio: collected, and sorted out once enough
  // have come.
  void TakeBody(const uint8_t* data, int32_t size);
  void Decide();
  // Announces Format, Station and the first title, then hands on the held
  // audio.
  void StartAudio();

  Output& output;
  IcyDemultiplexer demultiplexer;
  Use use = Use::Audio;
  std::string url;           // where the response came from, after redirects
  std::string playlistBody;  // the body of a response that may be a playlist
  bool audioStarted = false;  // Format and Station announced
  bool metadataSeen = false;  // the first metadata block (or length byte 0) has passed
  StreamBuffer heldAudio;     // the audio before the start
  std::optional<std::pair<std::string, std::string>> firstTitle;  // title and URL of the first block
  std::unique_ptr<OggChainReader> oggReader;  // while an Ogg body without ICY metadata is read
};
