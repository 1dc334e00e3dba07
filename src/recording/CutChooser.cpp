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

double LevelDb(double power) { return power > 0.0 ? std::max(kFloorDb, 10.0 * std::log10(power)) : kFloorDb; }

}  // namespace

CutChooser::CutChooser(const RecordingOptions& options)
    : searchBeforeUs(std::max<int64_t>(0, options.searchBeforeMs) * 1000),
      searchAfterUs(std::max<int64_t>(0, options.searchAfterMs) * 1000),
      offsetUs(int64_t{options.splitOffsetMs} * 1000),
      thresholdPower(std::pow(10.0, options.silenceThresholdDbfs / 10.0)) {}

std::optional<size_t> CutChooser::Choose(const FrameIndex& index, const HeldAudio& held, int64_t changeUs,
                                         int64_t lastCut, int64_t before) {
  const std::deque<AudioFrame>& frames = index.Frames();
  // Without the response's first frames, the first kPrerollFrames held only
  // warm the decoder up.
  const size_t firstAllowed = index.FromStart() ? 0 : SilenceCutter::kPrerollFrames;
  auto allowed = [&](const AudioFrame& frame) {
    return frame.boundary && frame.offset > lastCut && frame.offset < before;
  };
  std::optional<size_t> low;
  std::optional<size_t> high;
  std::optional<size_t> nearest;  // to the change, should the window hold no boundary
  const int64_t targetUs = changeUs + std::clamp(offsetUs, -searchBeforeUs, searchAfterUs);
  for (size_t at = firstAllowed; at < frames.size(); ++at) {
    const AudioFrame& frame = frames[at];
    if (!allowed(frame)) {
      continue;
    }
    if (!nearest || std::abs(frame.startUs - targetUs) < std::abs(frames[*nearest].startUs - targetUs)) {
      nearest = at;
    }
    if (frame.startUs >= changeUs - searchBeforeUs && frame.startUs <= changeUs + searchAfterUs) {
      low = low.value_or(at);
      high = at;
    }
  }
  if (!low) {
    return nearest;
  }
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
  if (*high > *low) {
    quiet = QuietMiddle(index, held, reachLow, reachEnd, *low, *high, targetUs, starts);
  }
  size_t best = *low;
  for (size_t at = *low; at <= *high; ++at) {
    if (!allowed(frames[at])) {
      continue;
    }
    const bool nearer = quiet ? std::abs(starts[at - reachLow] - *quiet) < std::abs(starts[best - reachLow] - *quiet)
                              : std::abs(frames[at].startUs - targetUs) < std::abs(frames[best].startUs - targetUs);
    if (nearer) {
      best = at;
    }
  }
  return best;
}

std::optional<int64_t> CutChooser::QuietMiddle(const FrameIndex& index, const HeldAudio& held, size_t reachLow,
                                               size_t reachEnd, size_t low, size_t high, int64_t targetUs,
                                               std::vector<int64_t>& starts) {
  const size_t preroll = reachLow >= static_cast<size_t>(SilenceCutter::kPrerollFrames)
                             ? reachLow - SilenceCutter::kPrerollFrames
                             : 0;
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
