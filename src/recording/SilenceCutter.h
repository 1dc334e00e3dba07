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
// 100 ms at or below the threshold, RMS) within the search range around the
// title change; frames before it end the old file, frames from it start the
// new one. No frame is split, lost or doubled: the bytes are the server's,
// only the place of the Title moves. Where nothing is quiet enough, the Title
// goes at the title change plus the split offset.
//
// Decoding uses FFmpeg's libavcodec (MP3, AAC; Vorbis and Opus inside Ogg
// only when the titles come from ICY metadata). An Ogg stream whose titles
// come from its own comment headers is passed through untouched: those
// titles already sit at the exact first page of each song.
//
// What is held: all events and audio since the oldest byte that a later cut
// could still move before, bounded by about searchBefore + searchAfter of
// audio at the stream's bit rate (and a hard byte bound); memory stays
// bounded per stream. Events that end a response or the stream (a State
// other than "Connected", the final empty Title of a stop, a new response's
// Format) first hand on everything held, deciding a pending cut with the
// audio there is, so nothing waits in the cutter while no audio comes.
//
// Threads: the stream's worker calls OnAudio and OnText (with the stream's
// observer lock held, like any observer), and so calls `next` on that
// thread. Options are fixed at construction. `next` must outlive the cutter.
class SilenceCutter : public StreamObserver {
 public:
  SilenceCutter(StreamObserver& next, const RecordingOptions& options);
  ~SilenceCutter() override;

  SilenceCutter(const SilenceCutter&) = delete;
  SilenceCutter& operator=(const SilenceCutter&) = delete;

  void Reset() override;
  void OnAudio(const StreamBuffer& audio) override;
  void OnText(StreamEvent kind, std::string text) override;

  // Hands everything held on to `next` now (the stream is being torn down).
  void Flush();

  // Audio bytes held right now (for tests and the memory bound).
  int64_t HeldBytes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
