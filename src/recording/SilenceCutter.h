#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "recording/RecordingOptions.h"
#include "stream/StreamObserver.h"

// Moves each title change of a stream to the quietest moment near it. A
// station sends a new title when its playout system says so, seconds away
// from where the song really ends; cutting at the metadata block puts the end
// of one song at the start of the next file. The cutter sits between the
// stream and the entry's RecordingWriter (it is the writer's place in the
// stream's observer list, and the writer is its `next`): it passes every
// event and every audio byte on to `next`, in the same order, but holds them
// back for a bounded window, and hands a Title (with its Url) on at the frame
// boundary that lies closest to the middle of the quietest stretch (at least
// kMinQuietMs at or below the threshold, RMS over kBlockMs blocks) within the
// search range around the title change; frames before it end the old file,
// frames from it start the new one. No frame is split, lost or doubled: the
// bytes are the server's, only the place of the Title moves. Where nothing is
// quiet enough, the Title goes to the frame boundary nearest the title change
// plus the split offset.
//
// Among several quiet stretches the quietest wins (their mean levels compared
// in steps of kLevelStepDb, so that two stretches of near digital silence
// count as equal), then the longer, then the one nearer the title change plus
// the split offset. The search range is searchBefore before the title change
// to searchAfter after it, narrowed so that cuts keep the order of the titles:
// a cut lies after the previous cut (and after the response's first frame)
// and before the next title change. Titles equal to the one before (stations
// that repeat the title in every metadata block) are no change: they travel
// with the change they repeat, so they never undo a moved cut. Unless the
// window was given (learnTitleLag off), it follows the station: once a few
// cuts have found their silence, it also reaches 5 s (half its width) either
// side of their usual offset from the title change (CutChooser, TitleLag). A title that
// holds for less than a second is not searched (a burst of titles costs
// what a title per song does), and decoding has a budget that the audio
// refills: a change the budget cannot pay for goes where nothing quiet was
// found.
//
// Decoding uses FFmpeg's libavcodec: its parser finds the frames of MPEG audio
// (layers I to III) and ADTS AAC (FrameIndex), its decoder makes the samples
// (LoudnessMeter), starting kPrerollFrames before the range where the audio
// before it is still held, so that an MP3 frame's bit reservoir is there.
// Frames whose bytes the parser merged with junk (an ID3 tag, a broken frame)
// are decoded but never cut at. CutChooser picks the frame; this class holds
// the window (HeldAudio and the queue of events) and moves the Title.
// Ogg and Opus streams, and audio before any Format, pass through untouched:
// an Ogg station's titles come from its own comment headers, which already
// sit at the exact first page of each song.
//
// What is held: all events and audio since the oldest byte that a later cut
// could still move before (searchBefore, kReachMs and the preroll frames
// before the newest audio, or before the oldest undecided title change), and
// a change waits for searchAfter + kReachMs of audio after it: so about
// searchBefore + searchAfter + 2 kReachMs of audio at the stream's bit rate,
// which the frames tell (or the Bitrate event, or kDefaultBytesPerSecond,
// while no frame has been found). kMaxHeldBytes bounds it whatever the stream
// sends: past it the oldest pending cut is decided with the audio there is,
// and then the oldest audio goes on. A block larger than kMaxPieceBytes is
// taken in pieces of that size (the writer then gets it in those pieces).
//
// Events that end a response or the stream (a State other than "Connected",
// the final empty Title of a stop, a new response's Format), a Gap (audio is
// missing: no cut moves across it), Reset and Flush
// first hand on everything held, deciding a pending cut with the audio there
// is, so nothing waits in the cutter while no audio comes. The destructor
// drops what is held without calling `next`: the owner stops the stream
// first, and the stop flushes.
//
// Errors of `next`: the cutter takes an item off its queue before handing it
// on, so a throwing `next` loses that item only (the writer keeps the reason).
// From OnAudio, a Format and a Gap the error passes on to the stream, once the
// cutter is consistent again. A State, the stop's empty Title, Reset and Flush
// hand on everything and keep such errors to themselves: the stream announces
// those outside any handler, where an error would end its worker.
//
// Threads: the stream's worker calls OnAudio and OnText (with the stream's
// observer lock held, like any observer), and so calls `next` on that
// thread; a stop's Disconnected state comes from the controlling thread,
// under the same lock. The controlling thread may call Reset and Flush while
// the worker is stopped. Options are fixed at construction. `next` must outlive the cutter.
// HeldBytes reads an atomic and may be called from any thread.
class SilenceCutter : public StreamObserver {
 public:
  static constexpr int32_t kBlockMs = 10;
  static constexpr int32_t kMinQuietMs = 100;
  static constexpr double kLevelStepDb = 3.0;
  static constexpr int32_t kReachMs = 1000;
  static constexpr int32_t kPrerollFrames = 10;
  static constexpr int64_t kMaxHeldBytes = int64_t{2} * 1024 * 1024;
  static constexpr int32_t kMaxPieceBytes = 64 * 1024;
  static constexpr int32_t kDefaultBytesPerSecond = 128000 / 8;

  SilenceCutter(StreamObserver& next, const RecordingOptions& options);
  // Drops what is held; never calls `next`.
  ~SilenceCutter() override;

  SilenceCutter(const SilenceCutter&) = delete;
  SilenceCutter& operator=(const SilenceCutter&) = delete;

  // Hands on everything held (Flush), then back to the state after
  // construction. `next` is not reset.
  void Reset() override;
  void OnAudio(const StreamBuffer& audio) override;
  void OnText(StreamEvent kind, std::string text) override;
  // Passes the end of a read on: what was handed on by then is written.
  void OnReadEnd() override;

  // Hands everything held on to `next` now, deciding pending cuts with the
  // audio there is (the stream is being torn down).
  void Flush();

  // Audio bytes held right now (for tests and the memory bound). Any thread.
  int64_t HeldBytes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
