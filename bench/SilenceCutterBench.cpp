// The silence cutter's CPU per stream: the same MP3 audio (songs of 150 s,
// bands of noise, 0.8 s of silence between them) fed to a SilenceCutter in
// metadata intervals, with the stream's own title events, to an observer
// that does nothing. Three stations:
//   PerSong/16000     a title per song, 2 s late, every 16000 bytes: the
//                     normal cutting case
//   PerSong/1024      the same titles, every 1024 bytes: what small blocks
//                     alone cost
//   EveryBlock/1024   a new title in every 1024-byte interval (64 ms): a
//                     burst, whose titles are not searched
//   EveryBlock/16000.. a new title every 1, 2 and 4 s: each is searched,
//                     until the decoding budget runs dry; the worst a
//                     server can send
// The figure to compare is the CPU time per iteration (one pass over the
// audio) against PerSong/1024: EveryBlock/1024 should stay at most about 2,
// the slower intervals at most about what half the audio decoded costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/MediaLoader.h"
#include "recording/SilenceCutter.h"
#include "stream/StreamBuffer.h"
#include "support/SongFixture.h"
#include "support/TempDir.h"

namespace {

constexpr int kSongs = 3;
constexpr double kSongSeconds = 150;
constexpr double kGapSeconds = 0.8;
constexpr double kLateSeconds = 2;

class NullObserver : public StreamObserver {};

// Without the media module the cutter only passes the audio through, and
// the figures would measure nothing: find it in the build tree, or stop.
const bool kModuleFound = [] {
  setenv("DRIFTHARBOUR_MEDIA_DIR", DRIFTHARBOUR_MODULE_BUILD_DIR, 0);  // NOLINT(concurrency-mt-unsafe): before any thread
  if (MediaLoader::Process().Codecs() == nullptr) {
    std::fprintf(stderr, "%s\n", MediaLoader::Process().Failure().c_str());
    std::exit(1);
  }
  return true;
}();

const SongAudio& Station() {
  static const SongAudio audio = [] {
    std::vector<SongPart> parts;
    for (int song = 0; song < kSongs; ++song) {
      parts.push_back({kSongSeconds, 400.0 + 300 * song, -12, true});
      parts.push_back({kGapSeconds});
    }
    const TempDir work;
    return MakeSongs(SongCodec::Mp3, parts, work.Path());
  }();
  return audio;
}

// One pass: intervals of `interval` bytes, each followed by its metadata's
// Title and Url when it names a title (everyBlock: a new one every time).
void Feed(StreamObserver& observer, const SongAudio& audio, size_t interval, bool everyBlock) {
  observer.OnText(StreamEvent::State, "Connected");
  observer.OnText(StreamEvent::Format, "mp3");
  std::vector<size_t> changes;
  for (size_t song = 1; song < static_cast<size_t>(kSongs); ++song) {
    changes.push_back(audio.OffsetNearMs(audio.parts[2 * song].startMs + kLateSeconds * 1000));
  }
  size_t song = 0;
  size_t block = 0;
  std::string title = "Song 0";
  observer.OnText(StreamEvent::Title, title);
  for (size_t at = 0; at < audio.bytes.size(); at += interval, ++block) {
    const size_t size = std::min(interval, audio.bytes.size() - at);
    const StreamBuffer piece(audio.bytes.data() + at, static_cast<int32_t>(size));
    observer.OnAudio(piece);
    while (song < changes.size() && changes[song] <= at + size) {
      ++song;
    }
    const std::string now = everyBlock ? "Block " + std::to_string(block) : "Song " + std::to_string(song);
    if (now != title) {
      title = now;
      observer.OnText(StreamEvent::Title, title);
      observer.OnText(StreamEvent::Url, "");
    }
  }
  observer.OnText(StreamEvent::State, "Disconnected");
  observer.OnText(StreamEvent::Title, "");
}

void Cut(benchmark::State& state, bool everyBlock) {
  const SongAudio& audio = Station();
  NullObserver sink;
  for (auto _ : state) {
    SilenceCutter cutter(sink, RecordingOptions::ForNewEntries());
    Feed(cutter, audio, static_cast<size_t>(state.range(0)), everyBlock);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(audio.bytes.size()));
  state.counters["audio_s"] = audio.frames.size() * audio.frameMs / 1000;
}

void BM_PerSong(benchmark::State& state) { Cut(state, false); }
void BM_EveryBlock(benchmark::State& state) { Cut(state, true); }

BENCHMARK(BM_PerSong)->Arg(16000)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EveryBlock)->Arg(1024)->Arg(16000)->Arg(32000)->Arg(64000)->Unit(benchmark::kMillisecond);

}  // namespace
