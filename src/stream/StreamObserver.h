#pragma once

#include <string>

#include "stream/StreamEvent.h"

class StreamBuffer;

// What a stream reports to. A stream calls OnAudio and OnText synchronously,
// on the thread that raised the event (usually its worker), with its
// observer lock held, in the order the observers were added. It neither owns
// nor destroys its observers; an observer must outlive the stream's worker
// (ServerStream::IsIdle), or its removal from the list of a stream whose
// worker has ended (StreamSource::ClearObservers). An observer may block
// (a disk that hangs): nothing the controlling thread does waits for it.
//
// An observer may throw: the stream releases its locks and the error ends
// the current connection attempt.
class StreamObserver {
 public:
  virtual ~StreamObserver() = default;

  // Back to the initial state.
  virtual void Reset() {}
  // A block of audio, lent for the duration of the call.
  virtual void OnAudio(const StreamBuffer& audio) { (void)audio; }
  // Every block of one network read (or of what a response still held at
  // its end) has reached OnAudio: a writer that gathered them writes them
  // now. Observers of a producer that never calls it see no difference.
  virtual void OnReadEnd() {}
  // The text is the observer's own copy.
  virtual void OnText(StreamEvent kind, std::string text) {  // NOLINT(performance-unnecessary-value-param)
    (void)kind;
    (void)text;
  }
};
