#include "recording/CutChooser.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "recording/FrameIndex.h"
#include "recording/HeldAudio.h"
#include "recording/SilenceCutter.h"

namespace {

// Levels below this count as equal: the last bits of a lossy codec's
// rendering of digital silence say nothing about which gap is the real one.
constexpr double kFloorDb = -90.0;
constexpr int64_t kReachUs = int64_t{SilenceCutter::kReachMs} * 1000;

// A range shorter than this is not searched: a title that holds for less
// than a second is a burst of titles or a correction, not the end of a song,
// and a silence found for it would most likely be another change's.
constexpr int64_t kMinSearchedRangeUs = 1'000'000;

double LevelDb(double power) { return power > 0.0 ? std::max(kFloorDb, 10.0 * std::log10(power)) : kFloorDb; }

// The boundary frame of frames[first, end) that begins nearest us (the
// earlier of two as near).
std::optional<size_t> NearestBoundary(const std::deque<AudioFrame>& frames, size_t first, size_t end, int64_t us) {
  const auto at = static_cast<size_t>(
      std::partition_point(frames.begin() + static_cast<std::ptrdiff_t>(first),
                           frames.begin() + static_cast<std::ptrdiff_t>(end),
                           [&](const AudioFrame& frame) { return frame.startUs < us; }) -
      frames.begin());
  std::optional<size_t> best;
  for (size_t up = at; up < end && !best; ++up) {
    best = frames[up].boundary ? std::optional<size_t>(up) : std::nullopt;
  }
  for (size_t down = at; down > first; --down) {
    if (frames[down - 1].boundary) {
      if (!best || std::abs(frames[down - 1].startUs - us) <= std::abs(frames[*best].startUs - us)) {
        best = down - 1;
      }
      break;
    }
  }
  return best;
}

}  // namespace

CutChooser::CutChooser(const RecordingOptions& options)
    : searchBeforeUs(std::max<int64_t>(0, options.searchBeforeMs) * 1000),
      searchAfterUs(std::max<int64_t>(0, options.searchAfterMs) * 1000),
      offsetUs(int64_t{options.splitOffsetMs} * 1000),
      thresholdPower(std::pow(10.0, options.silenceThresholdDbfs / 10.0)),
      learn(options.learnTitleLag),
      creditUs(MeasureUs() * kBankedMeasures) {}

void CutChooser::Forget() {
  meter.Reset();
  lag.Clear();
  extraBeforeUs = 0;
  extraAfterUs = 0;
  lagUs = 0;
  creditUs = MeasureUs() * kBankedMeasures;
}

void CutChooser::Credit(int64_t durationUs) {
  creditUs = std::min(MeasureUs() * kBankedMeasures, creditUs + std::max<int64_t>(0, durationUs) / kDecodeShareDivisor);
}

int64_t CutChooser::MeasureUs() const {
  // The window, the reach each side, and the decoder's warm-up (frames of
  // at most about 50 ms).
  return searchBeforeUs + searchAfterUs + 2 * kReachUs + int64_t{SilenceCutter::kPrerollFrames} * 50'000;
}

void CutChooser::Learn(int64_t cutOffsetUs) {
  if (!learn) {
    return;
  }
  lag.Add(cutOffsetUs);
  if (const std::optional<int64_t> usual = lag.Usual()) {
    // Kept inside the first window, so that the window can never wander off
    // after stray silences of its own finding.
    lagUs = std::clamp(*usual, -searchBeforeUs, searchAfterUs);
    const int64_t halfUs = (searchBeforeUs + searchAfterUs) / 2;
    extraBeforeUs = std::max<int64_t>(0, halfUs - lagUs - searchBeforeUs);
    extraAfterUs = std::max<int64_t>(0, halfUs + lagUs - searchAfterUs);
  }
}

std::optional<size_t> CutChooser::Choose(const FrameIndex& index, const HeldAudio& held, int64_t changeUs,
                                         int64_t lastCut, int64_t before) {
  const std::deque<AudioFrame>& frames = index.Frames();
  // Without the response's first frames, the first kPrerollFrames held only
  // warm the decoder up.
  const size_t firstAllowed = std::min(frames.size(), index.FromStart() ? size_t{0} : SilenceCutter::kPrerollFrames);
  // Frames are in the order of their offsets and times: binary searches find
  // the allowed ones, so a change costs little unless it decodes.
  const auto firstWhere = [&](auto after) {
    return static_cast<size_t>(std::partition_point(frames.begin() + static_cast<std::ptrdiff_t>(firstAllowed),
                                                    frames.end(), [&](const AudioFrame& frame) { return !after(frame); }) -
                               frames.begin());
  };
  const size_t first = firstWhere([&](const AudioFrame& frame) { return frame.offset > lastCut; });
  const size_t end = std::max(first, firstWhere([&](const AudioFrame& frame) { return frame.offset >= before; }));
  const int64_t beforeUs = SearchBeforeUs();
  const int64_t afterUs = SearchAfterUs();
  const int64_t targetUs = changeUs + std::clamp(lagUs + offsetUs, -beforeUs, afterUs);
  const size_t windowFirst =
      std::clamp(firstWhere([&](const AudioFrame& frame) { return frame.startUs >= changeUs - beforeUs; }), first, end);
  const size_t windowEnd =
      std::clamp(firstWhere([&](const AudioFrame& frame) { return frame.startUs > changeUs + afterUs; }), windowFirst,
                 end);
  std::optional<size_t> low;
  std::optional<size_t> high;
  for (size_t at = windowFirst; at < windowEnd && !low; ++at) {
    low = frames[at].boundary ? std::optional<size_t>(at) : std::nullopt;
  }
  for (size_t at = windowEnd; low && at > *low && !high; --at) {
    high = frames[at - 1].boundary ? std::optional<size_t>(at - 1) : std::nullopt;
  }
  if (!low) {
    // No boundary in the window: the one nearest the target.
    return NearestBoundary(frames, first, end, targetUs);
  }
  high = high.value_or(*low);
  // A quiet stretch that crosses the range's edge is followed up to kReachMs
  // beyond it, so that its middle is its own and not the range's.
  size_t reachLow = *low;
  while (reachLow > firstAllowed && frames[reachLow - 1].startUs >= frames[*low].startUs - kReachUs) {
    --reachLow;
  }
  size_t reachEnd = *high + 1;
  while (reachEnd < frames.size() && frames[reachEnd].startUs <= frames[*high].startUs + kReachUs) {
    ++reachEnd;
  }
  std::vector<int64_t> starts;  // decoded sample where each frame from reachLow begins
  std::optional<int64_t> quiet;
  // A change whose range is short (titles at every metadata block) has no
  // silence of its own to search.
  if (frames[*high].startUs - frames[*low].startUs >= kMinSearchedRangeUs) {
    const size_t preroll = reachLow >= static_cast<size_t>(SilenceCutter::kPrerollFrames)
                               ? reachLow - SilenceCutter::kPrerollFrames
                               : 0;
    const int64_t costUs = frames[reachEnd - 1].EndUs() - frames[preroll].startUs;
    if (costUs <= creditUs) {
      creditUs -= costUs;
      quiet = QuietMiddle(index, held, preroll, reachLow, reachEnd, *low, *high, targetUs, starts);
    }
  }
  if (!quiet) {
    return NearestBoundary(frames, *low, *high + 1, targetUs);
  }
  size_t best = *low;
  for (size_t at = *low; at <= *high; ++at) {
    if (frames[at].boundary && std::abs(starts[at - reachLow] - *quiet) < std::abs(starts[best - reachLow] - *quiet)) {
      best = at;
    }
  }
  Learn(frames[best].startUs - changeUs);
  return best;
}

std::optional<int64_t> CutChooser::QuietMiddle(const FrameIndex& index, const HeldAudio& held, size_t preroll,
                                               size_t reachLow, size_t reachEnd, size_t low, size_t high,
                                               int64_t targetUs, std::vector<int64_t>& starts) {
  std::optional<LoudnessMeter::Levels> levels =
      meter.Measure(index.Frames(), preroll, reachLow, reachEnd, held, index.Codec(), index.MpegLayer());
  if (!levels) {
    return std::nullopt;
  }
  starts = std::move(levels->starts);
  const std::deque<AudioFrame>& frames = index.Frames();
  const int64_t rangeFirst = starts[low - reachLow];
  const int64_t rangeLast = starts[high - reachLow];
  // Where the target lies on the decoded timeline.
  int64_t targetSample = rangeLast;
  for (size_t at = low; at < high; ++at) {
    if (frames[at].EndUs() > targetUs) {
      targetSample = starts[at - reachLow] + (targetUs - frames[at].startUs) * levels->rate / 1'000'000;
      break;
    }
  }
  return QuietestMiddle(*levels, thresholdPower, rangeFirst, rangeLast, targetSample);
}

std::optional<int64_t> CutChooser::QuietestMiddle(const LoudnessMeter::Levels& levels, double thresholdPower,
                                                  int64_t rangeFirst, int64_t rangeLast, int64_t targetSample) {
  const std::vector<double>& blocks = levels.blocks;
  const int64_t blockLength = levels.blockLength;
  const auto minimum = static_cast<size_t>(
      (int64_t{SilenceCutter::kMinQuietMs} * levels.rate / 1000 + blockLength - 1) / blockLength);
  struct Stretch {
    size_t first = 0;
    size_t count = 0;
    double sum = 0.0;
    int64_t Begin(int64_t length) const { return static_cast<int64_t>(first) * length; }
    int64_t End(int64_t length) const { return static_cast<int64_t>(first + count) * length; }
    int64_t Middle(int64_t length) const { return (Begin(length) + End(length)) / 2; }
  };
  // Lower is better: the level in steps, then longer, then nearer.
  auto better = [&](const Stretch& a, const Stretch& b) {
    const double stepA = std::floor(LevelDb(a.sum / static_cast<double>(a.count)) / SilenceCutter::kLevelStepDb);
    const double stepB = std::floor(LevelDb(b.sum / static_cast<double>(b.count)) / SilenceCutter::kLevelStepDb);
    if (stepA != stepB) {
      return stepA < stepB;
    }
    if (a.count != b.count) {
      return a.count > b.count;
    }
    return std::abs(a.Middle(blockLength) - targetSample) < std::abs(b.Middle(blockLength) - targetSample);
  };
  std::optional<Stretch> best;
  Stretch run;
  auto close = [&]() {
    // Only a stretch that reaches into the range can hold the cut.
    const bool inRange = run.Begin(blockLength) <= rangeLast && run.End(blockLength) >= rangeFirst;
    if (run.count >= minimum && inRange && (!best || better(run, *best))) {
      best = run;
    }
    run = Stretch{};
  };
  for (size_t block = 0; block < blocks.size(); ++block) {
    if (blocks[block] <= thresholdPower) {
      if (run.count == 0) {
        run.first = block;
      }
      ++run.count;
      run.sum += blocks[block];
    } else {
      close();
    }
  }
  close();
  if (!best) {
    return std::nullopt;
  }
  return best->Middle(blockLength);
}
