#pragma once

// Real Ogg streams for the tests, made with the ffmpeg and ffprobe programs
// on this machine, and checks that they still read cleanly:
//
//   if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
//   std::vector<size_t> starts;
//   std::string stream = MakeChainedOgg(OggCodec::Opus, {{"One", "Band", 1.0}, {"Two", "", 1.0}},
//                                       dir.Path(), &starts);
//
// A chained stream is the byte-for-byte concatenation of one complete Ogg
// file per song, each a sine tone of its own frequency with its own serial
// number, as a station that starts a new logical stream per song sends it.
// Nothing here touches the network. The functions run child processes and
// may be called from any thread, with distinct work directories.

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

enum class OggCodec { Vorbis, Opus };

struct OggSong {
  std::string title;   // no TITLE comment when empty
  std::string artist;  // no ARTIST comment when empty
  double seconds = 1.0;
  // More comments (key, value), e.g. a large DESCRIPTION standing in for
  // cover art; written before TITLE and ARTIST unless extraCommentsLast.
  std::vector<std::pair<std::string, std::string>> extraComments{};
  bool extraCommentsLast = false;
};

// True when both ffmpeg and ffprobe run. Asked once per process.
bool FfmpegAvailable();

// The songs encoded one by one in workDirectory (which must exist; files
// named ogg-song-N.* are replaced there) and concatenated. songOffsets, when
// given, receives where each song's first page begins in the result.
// Throws std::runtime_error when ffmpeg fails, with its error output.
std::string MakeChainedOgg(OggCodec codec, const std::vector<OggSong>& songs,
                           const std::filesystem::path& workDirectory,
                           std::vector<size_t>* songOffsets = nullptr);

// True when `ffprobe -v error FILE` and a full decode
// (`ffmpeg -v error -i FILE -f null -`) both exit with 0 and print nothing
// on their error output.
bool FfprobeReadsWithoutError(const std::filesystem::path& file);
