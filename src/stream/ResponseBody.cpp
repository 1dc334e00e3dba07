#include "stream/ResponseBody.h"

#include <stdexcept>

#include "hls/HlsReader.h"
#include "playlist/PlaylistParser.h"

void ResponseBody::Restart() {
  demultiplexer.Restart();
  Forget();
}

void ResponseBody::Open(Use bodyUse, std::string responseUrl) {
  use = bodyUse;
  url = std::move(responseUrl);
}

void ResponseBody::Forget() {
  demultiplexer.Forget();
  use = Use::Audio;
  url.clear();
  playlistBody.clear();
  audioStarted = false;
  metadataSeen = false;
  heldAudio.Clear();
  firstTitle.reset();
  oggReader.reset();
}

void ResponseBody::Clear() {
  demultiplexer.Clear();
  Restart();
}

void ResponseBody::AtEnd() {
  if (use == Use::Undecided) {
    Decide();
  }
}

void ResponseBody::Finish() {
  demultiplexer.FinishAudio();
  if (!audioStarted && heldAudio.Size() > 0) {
    StartAudio();
  }
  if (oggReader) {
    oggReader->Finish();
  }
  // Nothing of this response may reach the next one.
  Forget();
}

void ResponseBody::OnIcyAudio(const uint8_t* data, int32_t size) {
  const int32_t interval = demultiplexer.MetadataInterval();
  if (use != Use::Audio) {
    if (interval > 0) {
      use = Use::Audio;  // ICY metadata: a stream, never a playlist
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
  if (interval > 0 && !metadataSeen) {
    return;  // the first metadata block says whose audio this is
  }
  if (interval > 0 || AudioFormatProbe::ContentTypeDecides(demultiplexer.ContentType()) ||
      heldAudio.Size() >= AudioFormatProbe::kProbeBytes) {
    StartAudio();
  }
}

void ResponseBody::OnIcyMetadata(bool empty, std::string title, std::string titleUrl) {
  if (!audioStarted) {
    metadataSeen = true;
    if (!empty) {
      firstTitle.emplace(std::move(title), std::move(titleUrl));
    }
    StartAudio();
    return;
  }
  if (!empty) {
    output.OnResponseText(StreamEvent::Title, title);
    output.OnResponseText(StreamEvent::Url, titleUrl);
  }
}

void ResponseBody::TakeBody(const uint8_t* data, int32_t size) {
  if (playlistBody.size() + static_cast<size_t>(size) > HlsReader::kMaxPlaylistBytes) {
    throw std::runtime_error("a playlist larger than " + std::to_string(HlsReader::kMaxPlaylistBytes) + " bytes");
  }
  playlistBody.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  if (use == Use::Undecided && playlistBody.size() >= PlaylistParser::kSniffBytes) {
    Decide();
  }
}

void ResponseBody::Decide() {
  if (PlaylistParser::Recognise(demultiplexer.ContentType(), url, playlistBody) != PlaylistKind::None) {
    use = Use::Playlist;
    return;
  }
  use = Use::Audio;
  std::string audio;
  audio.swap(playlistBody);
  OnIcyAudio(reinterpret_cast<const uint8_t*>(audio.data()), static_cast<int32_t>(audio.size()));
}

void ResponseBody::AnnounceFormat(AudioFormat format) {
  output.OnResponseText(StreamEvent::Format, AudioFormatProbe::Extension(format));
  const std::string& name = demultiplexer.StationName();
  output.OnResponseText(StreamEvent::Station, name.empty() ? output.DefaultStation() : name);
}

void ResponseBody::StartAudio() {
  audioStarted = true;
  const AudioFormat format = AudioFormatProbe::Probe(demultiplexer.ContentType(), heldAudio.Data(), heldAudio.Size());
  AnnounceFormat(format);
  if ((format == AudioFormat::Ogg || format == AudioFormat::Opus) && demultiplexer.MetadataInterval() == 0) {
    oggReader = std::make_unique<OggChainReader>(static_cast<OggChainReader::Sink&>(*this));
  }
  if (firstTitle) {
    output.OnResponseText(StreamEvent::Title, firstTitle->first);
    output.OnResponseText(StreamEvent::Url, firstTitle->second);
    firstTitle.reset();
  }
  StreamBuffer held;
  held.AppendBuffer(heldAudio);
  heldAudio.Clear();
  PassAudio(held.Data(), held.Size());
}

void ResponseBody::PassAudio(const uint8_t* data, int32_t size) {
  if (size <= 0) {
    return;
  }
  if (oggReader) {
    try {
      oggReader->Feed(data, size);
    } catch (...) {
      // An observer failed inside the reader, which must not be fed or
      // finished after that: the rest of this response goes on unread.
      oggReader.reset();
      throw;
    }
    return;
  }
  output.OnResponseAudio(data, size);
}
