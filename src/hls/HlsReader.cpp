#include "hls/HlsReader.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "media/MediaLoader.h"

HlsReader::HlsReader(Fetcher& fetcher, Sink& sink, Wait wait) : fetcher(fetcher), sink(sink), wait(std::move(wait)) {}

bool HlsReader::Run(const std::string& url, const std::string& body) {
  formatAnnounced = false;
  titleAnnounced = false;
  playlistFailures = 0;
  segmentFailures = 0;
  stopping = false;

  HlsPlaylist playlist = HlsPlaylist::Parse(url, body);
  std::string media = url;
  if (playlist.IsMaster()) {
    media = playlist.AudioUrl();
    std::optional<HlsPlaylist> loaded = Load(media);
    if (!loaded) {
      return false;
    }
    playlist = std::move(*loaded);
  }
  if (media != mediaUrl) {
    // Another stream: nothing of the last one's place applies.
    mediaUrl = media;
    started = false;
    nextSequence = 0;
    title.reset();
    id3Titles = false;
    initUrl.clear();
    initBytes.clear();
  }

  int32_t reloadsWithoutNews = 0;
  for (;;) {
    int32_t newSegments = 0;
    if (ReadSegments(playlist, newSegments) == Step::Stopped) {
      return false;
    }
    if (playlist.endList && (playlist.segments.empty() || nextSequence > playlist.segments.back().sequence)) {
      return true;
    }
    reloadsWithoutNews = newSegments > 0 ? 0 : reloadsWithoutNews + 1;
    if (reloadsWithoutNews > kMaxReloadsWithoutNews) {
      throw std::runtime_error("the HLS playlist has stopped growing");
    }
    // HLS: the target duration after a reload that changed the playlist,
    // half of it after one that did not.
    const double waitMs = TargetSeconds(playlist) * (newSegments > 0 ? 1000.0 : 500.0);
    const auto bounded = std::clamp<int64_t>(std::llround(waitMs), kMinReloadMs, kMaxReloadMs);
    if (!wait(std::chrono::milliseconds(bounded))) {
      return false;
    }
    std::optional<HlsPlaylist> loaded = Load(mediaUrl);
    if (!loaded) {
      return false;
    }
    playlist = std::move(*loaded);
  }
}

std::optional<HlsPlaylist> HlsReader::Load(const std::string& url) {
  for (;;) {
    Fetched fetched;
    if (TryFetch(url, kMaxPlaylistBytes, fetched, playlistFailures)) {
      try {
        HlsPlaylist playlist = HlsPlaylist::Parse(fetched.finalUrl.empty() ? url : fetched.finalUrl, fetched.body);
        if (playlist.IsMaster()) {
          throw std::runtime_error("the HLS stream's variant is a master playlist itself");
        }
        playlistFailures = 0;
        return playlist;
      } catch (const std::runtime_error&) {
        CountFailure(playlistFailures, std::current_exception());
      }
    } else if (stopping) {
      return std::nullopt;
    }
    if (!wait(std::chrono::milliseconds(kRetryMs))) {
      return std::nullopt;
    }
  }
}

bool HlsReader::TryFetch(const std::string& url, size_t maxBytes, Fetched& fetched, int32_t& failures) {
  try {
    fetched = fetcher.Fetch(url, maxBytes);
    return true;
  } catch (const std::exception&) {
    // A stop makes the transfer fail too; that is no failure to count.
    if (!wait(std::chrono::milliseconds(0))) {
      stopping = true;
      return false;
    }
    CountFailure(failures, std::current_exception());
    return false;
  }
}

void HlsReader::CountFailure(int32_t& failures, const std::exception_ptr& failure) {
  if (++failures >= kMaxFailuresInARow) {
    std::rethrow_exception(failure);
  }
}

HlsReader::Step HlsReader::ReadSegments(const HlsPlaylist& playlist, int32_t& newSegments) {
  newSegments = 0;
  if (playlist.segments.empty()) {
    return Step::Read;
  }
  const int64_t first = playlist.segments.front().sequence;
  const int64_t last = playlist.segments.back().sequence;
  const auto length = static_cast<int64_t>(playlist.segments.size());
  if (!started) {
    nextSequence = playlist.endList ? first : LiveStart(playlist);
    started = true;
  } else if (first > nextSequence) {
    sink.OnHlsGap(first - nextSequence);
    nextSequence = first;
  } else if (last + 1 < nextSequence) {
    if (nextSequence - (last + 1) <= length) {
      return Step::Read;  // a stale copy: the next reload will be newer
    }
    sink.OnHlsGap(1);
    nextSequence = LiveStart(playlist);
  }
  for (const HlsPlaylist::Segment& segment : playlist.segments) {
    if (segment.sequence < nextSequence) {
      continue;
    }
    if (!segment.keyMethod.empty()) {
      throw std::runtime_error("the HLS stream is encrypted (" + segment.keyMethod + "), which cannot be recorded");
    }
    if (segment.byteRange) {
      throw std::runtime_error("the HLS stream's segments are byte ranges, which cannot be recorded");
    }
    ++newSegments;
    if (segment.gap) {
      sink.OnHlsGap(1);
    } else if (ReadSegment(segment) == Step::Stopped) {
      return Step::Stopped;  // not handed on: a later Run starts with it
    }
    nextSequence = segment.sequence + 1;
  }
  return Step::Read;
}

HlsReader::Step HlsReader::ReadSegment(const HlsPlaylist::Segment& segment) {
  if (!segment.mapUrl.empty() && segment.mapUrl != initUrl) {
    Fetched init;
    if (!TryFetch(segment.mapUrl, kMaxInitBytes, init, segmentFailures)) {
      if (stopping) {
        return Step::Stopped;
      }
      sink.OnHlsGap(1);
      return Step::Read;
    }
    initUrl = segment.mapUrl;
    initBytes = std::move(init.body);
  }
  Fetched fetched;
  if (!TryFetch(segment.url, SegmentUnpacker::kMaxSegmentBytes, fetched, segmentFailures)) {
    if (stopping) {
      return Step::Stopped;
    }
    sink.OnHlsGap(1);
    return Step::Read;
  }
  const std::string_view init = segment.mapUrl.empty() ? std::string_view() : std::string_view(initBytes);
  // FFmpeg is loaded here, at the first segment, and only for HLS.
  const SegmentUnpacker::Result unpacked = MediaLoader::Process().Require().Unpack(fetched.body, init);
  fetched.body.clear();
  fetched.body.shrink_to_fit();
  switch (unpacked.outcome) {
    case SegmentUnpacker::Outcome::Unsupported:
      throw std::runtime_error(unpacked.reason);
    case SegmentUnpacker::Outcome::Malformed:
      CountFailure(segmentFailures, std::make_exception_ptr(std::runtime_error(unpacked.reason)));
      sink.OnHlsGap(1);
      return Step::Read;
    case SegmentUnpacker::Outcome::Audio:
      break;
  }
  segmentFailures = 0;
  Deliver(segment, unpacked);
  return Step::Read;
}

void HlsReader::Deliver(const HlsPlaylist::Segment& segment, const SegmentUnpacker::Result& unpacked) {
  if (!formatAnnounced || unpacked.format != format) {
    sink.OnHlsFormat(unpacked.format);
    format = unpacked.format;
    formatAnnounced = true;
  }
  std::vector<SegmentUnpacker::TitleMark> marks = unpacked.titles;
  if (!marks.empty()) {
    id3Titles = true;
  } else if (!id3Titles) {
    // Stations that put the song into #EXTINF put it into every segment's.
    if (!segment.title.empty()) {
      marks.push_back({0, segment.title});
    }
  }
  const size_t size = unpacked.audio.size();
  size_t at = 0;
  for (const SegmentUnpacker::TitleMark& mark : marks) {
    const size_t offset = std::min(static_cast<size_t>(std::max<int64_t>(mark.audioOffset, 0)), size);
    if (offset > at) {
      PassAudio(unpacked.audio.data() + at, offset - at);
      at = offset;
    }
    Announce(mark.title);
  }
  if (at < size) {
    PassAudio(unpacked.audio.data() + at, size - at);
  }
}

void HlsReader::PassAudio(const uint8_t* data, size_t size) {
  if (!titleAnnounced) {
    // A Run starts like a response: with the title in effect.
    if (title) {
      sink.OnHlsTitle(*title);
    }
    titleAnnounced = true;
  }
  sink.OnHlsAudio(data, static_cast<int32_t>(size));
}

void HlsReader::Announce(const std::string& text) {
  if (titleAnnounced && title && *title == text) {
    return;
  }
  sink.OnHlsTitle(text);
  title = text;
  titleAnnounced = true;
}

double HlsReader::TargetSeconds(const HlsPlaylist& playlist) {
  if (playlist.targetDuration > 0) {
    return playlist.targetDuration;
  }
  double longest = 0;
  for (const HlsPlaylist::Segment& segment : playlist.segments) {
    longest = std::max(longest, segment.duration);
  }
  return longest > 0 ? longest : kDefaultTargetMs / 1000.0;
}

int64_t HlsReader::LiveStart(const HlsPlaylist& playlist) {
  const double target = TargetSeconds(playlist);
  const double wanted = kLiveStartTargetDurations * target;
  double covered = 0;
  size_t index = playlist.segments.size();
  while (index > 0 && covered < wanted) {
    --index;
    const double duration = playlist.segments[index].duration;
    covered += duration > 0 ? duration : target;
  }
  return playlist.segments.empty() ? playlist.mediaSequence : playlist.segments[index].sequence;
}
