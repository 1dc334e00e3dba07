#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "recording/LoudnessMeter.h"
#include "recording/RecordingOptions.h"

class FrameIndex;
class HeldAudio;

// Decides where a title change is cut: before the held frame closest to the
// middle of the quietest stretch (at least SilenceCutter::kMinQuietMs of
// blocks at or below the threshold) within the search range around the
// change; where nothing is quiet enough, before the frame nearest the change
// plus the split offset. Among quiet stretches the quietest wins (mean levels
// compared in steps of SilenceCutter::kLevelStepDb, levels below -90 dB
// counting as equal), then the longer, then the one nearer the target.
//
// Owns the LoudnessMeter; the options are fixed at construction. Not
// thread-safe: the cutter's thread alone uses it.
class CutChooser {
 public:
  explicit CutChooser(const RecordingOptions& options);

  // A new response (the decoder opens again).
  void Reset() { meter.Reset(); }

  int64_t SearchBeforeUs() const { return searchBeforeUs; }
  int64_t SearchAfterUs() const { return searchAfterUs; }

  // The index into frames.Frames() of the frame the cut of a change at
  // changeUs goes before: a boundary after lastCut (and after the warm-up
  // frames, unless the frames go back to the response's start) and before
  // the position `before` (the next change). Nothing where no frame
  // qualifies: the title then stays where it came.
  std::optional<size_t> Choose(const FrameIndex& frames, const HeldAudio& held, int64_t changeUs, int64_t lastCut,
                               int64_t before);

  // The decoded sample in the middle of the best quiet stretch of levels
  // that reaches into [rangeFirst, rangeLast]; targetSample breaks ties.
  // Nothing when no stretch is quiet and long enough.
  static std::optional<int64_t> QuietestMiddle(const LoudnessMeter::Levels& levels, double thresholdPower,
                                               int64_t rangeFirst, int64_t rangeLast, int64_t targetSample);

 private:
  // QuietestMiddle of frames[low, high], measured over frames[reachLow,
  // reachEnd); starts: the sample each measured frame begins at.
  std::optional<int64_t> QuietMiddle(const FrameIndex& frames, const HeldAudio& held, size_t reachLow,
                                     size_t reachEnd, size_t low, size_t high, int64_t targetUs,
                                     std::vector<int64_t>& starts);

  // Constant after construction.
  const int64_t searchBeforeUs;
  const int64_t searchAfterUs;
  const int64_t offsetUs;
  const double thresholdPower;

  LoudnessMeter meter;
};
