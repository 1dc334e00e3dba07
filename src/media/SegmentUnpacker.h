#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioFormat.h"
#include "media/MediaCodecs.h"

// Turns one HLS segment into audio as the program's files hold it: AAC as
// ADTS frames, MPEG audio as its frames. A segment may be MPEG-TS,
// fragmented MP4 (with its init segment), or packed audio (ADTS or MPEG
// audio, usually after an ID3 tag). The container is read by libavformat
// through an AVIOContext over the bytes in memory; AAC that arrives raw
// (from MP4) gets the ADTS header its AudioSpecificConfig describes
// (AdtsHeader), AAC
// from TS and packed ADTS already carries one and passes unchanged.
//
// Titles come from ID3 tags in the segment: the timed-ID3 data stream of a
// TS segment (each tag takes effect at the first audio frame whose time has
// come), the tags at the start of packed audio (at offset 0), and tags that
// libavformat meets between ADTS frames. A tag with TIT2 or TPE1 gives
// "ARTIST - TITLE" when both are set, else the one that is; tags with
// neither (the PRIV time stamps of packed audio) give none.
//
// Bad input is an outcome, never a crash or an exception: Malformed when
// the segment holds no readable audio, Unsupported when it holds audio the
// program cannot record (another codec, AAC in LATM, a layout ADTS cannot
// express). Audio read before damage is kept. Memory: the output is about
// the size of the input; input above kMaxSegmentBytes is refused unread.
//
// This class is compiled into the media module (libdriftharbour-media.so),
// never into the core: the program reaches Unpack through
// MediaLoader::Process().Codecs(), which loads FFmpeg on the first HLS
// segment. The constants and types here are free to use anywhere.
//
// Stateless; any thread, and several threads at once (each call has its own
// libavformat context).
class SegmentUnpacker {
 public:
  // The largest segment the program takes; the HlsReader fetches no more.
  static constexpr size_t kMaxSegmentBytes = size_t{32} * 1024 * 1024;
  // The largest single allocation FFmpeg may make in this process.
  static constexpr size_t kMaxAllocationBytes = 2 * kMaxSegmentBytes;
  // A title is kept up to this many bytes (cut at a UTF-8 character boundary).
  static constexpr size_t kMaxTitleBytes = 1024;

  // The result types cross the media module's interface (media/MediaCodecs.h).
  using Outcome = media::UnpackOutcome;
  using TitleMark = media::SegmentTitle;
  using Result = media::UnpackedSegment;

  // segment: the segment's bytes; init: its #EXT-X-MAP init segment, empty
  // when it has none. Neither need outlive the call.
  static Result Unpack(std::string_view segment, std::string_view init = {});

  // The title of an ID3v2 tag (TagLib reads it), or false when the tag is
  // unreadable or has neither TIT2 nor TPE1.
  static bool TitleFromId3(const uint8_t* tag, size_t size, std::string& title);

  // The length of the ID3v2 tag at data, header and footer included; 0 when
  // none starts there.
  static size_t Id3TagSize(const uint8_t* data, size_t size);
};
