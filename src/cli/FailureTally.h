#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The one rule for telling a user about failures that repeat: a new reason
// is said at once; the same reason again is only counted, and how often it
// repeated is said when the reason changes or the failure ends (a reminder
// with the count so far at most every reminderInterval in between, so that
// a log read hours later still shows it is going on).
//
// A failure has a key (what makes two failures "the same": the state and
// the server's reason, or the system's text for a file) and the text the
// user read when it was new; the count lines repeat that text. The owner
// formats and prints; this class only decides.
//
// No lock and no thread of its own: its owner's lock guards it.
class FailureTally {
 public:
  using Clock = std::chrono::steady_clock;

  // What to say about one failure or recovery, in this order.
  struct Say {
    // The failure before this one repeated: "<endedText> (repeated N times)".
    std::string endedText;
    int64_t endedRepeats = 0;
    bool sayNew = false;       // say this failure's own text
    int64_t reminder = 0;      // > 0: "<text> (repeated N times so far)"
  };

  explicit FailureTally(std::chrono::milliseconds reminderInterval) : reminderInterval(reminderInterval) {}

  // Another failure.
  Say Fail(const std::string& key, const std::string& text, Clock::time_point now);
  // The failure is over; only endedText and endedRepeats can be set.
  Say Recover();

  bool Failing() const { return failing; }

  // "repeated 1 time", "repeated 3 times".
  static std::string RepeatedText(int64_t repeats);

 private:
  const std::chrono::milliseconds reminderInterval;
  bool failing = false;
  std::string key;
  std::string text;
  int64_t repeats = 0;
  Clock::time_point lastSaid;
};
