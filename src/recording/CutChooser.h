#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "recording/LoudnessMeter.h"
#include "recording/RecordingOptions.h"
#include "recording/TitleLag.h"

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
// The window: options.searchBeforeMs before the change to searchAfterMs
// after it. With learnTitleLag, once TitleLag knows the station's usual
// offset from its silences (kept inside the first window), the window also
// reaches half its first width either side of that offset, and the target
// moves there: a station's usual lag is searched as widely as the change
// itself was, and titles that come as early or late as the first window
// allows are still covered.
//
// Decoding is paid from a budget that the audio refills (Credit): a
// 1/kDecodeShareDivisor share of the audio's duration, banked up to
// kBankedMeasures whole windows. A change whose window the budget cannot
// pay for is cut at the target without decoding, and so is one whose range
// (between the previous cut and the next change) is shorter than a second:
// such a title is a burst or a correction, not a song. So a station that
// changes its title at every metadata block decodes nothing, one that
// changes it every few seconds decodes at most half its audio, and a
// station with songs of ordinary length never meets the limit. Frames are found by binary search: a change that decodes
// nothing costs little.
//
// Owns the LoudnessMeter and the TitleLag; the options are fixed at
// construction. Not thread-safe: the cutter's thread alone uses it.
class CutChooser {
 public:
  explicit CutChooser(const RecordingOptions& options);

  // Of the audio's duration, the share that may be decoded in the long run.
  static constexpr int64_t kDecodeShareDivisor = 2;
  static constexpr int64_t kBankedMeasures = 6;

  // A new response (the decoder opens again). The learned lag stays: it is
  // the station's.
  void Reset() { meter.Reset(); }
  // Back to the state after construction.
  void Forget();
  // durationUs more audio arrived: refills the decoding budget.
  void Credit(int64_t durationUs);

  // The window now: how far before and after a change it reaches.
  int64_t SearchBeforeUs() const { return searchBeforeUs + extraBeforeUs; }
  int64_t SearchAfterUs() const { return searchAfterUs + extraAfterUs; }

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
  // reachEnd) after warming the decoder up from preroll; starts: the sample
  // each measured frame begins at.
  std::optional<int64_t> QuietMiddle(const FrameIndex& frames, const HeldAudio& held, size_t preroll,
                                     size_t reachLow, size_t reachEnd, size_t low, size_t high, int64_t targetUs,
                                     std::vector<int64_t>& starts);

  // The longest stretch one Choose decodes.
  int64_t MeasureUs() const;
  void Learn(int64_t cutOffsetUs);

  // Constant after construction.
  const int64_t searchBeforeUs;
  const int64_t searchAfterUs;
  const int64_t offsetUs;
  const double thresholdPower;
  const bool learn;

  LoudnessMeter meter;
  TitleLag lag;
  int64_t extraBeforeUs = 0;  // beyond the first window, from what lag learned
  int64_t extraAfterUs = 0;
  int64_t lagUs = 0;     // the learned offset, by which the target moves
  int64_t creditUs = 0;  // decoding the budget still pays for
};
