#include "cli/FailureTally.h"

FailureTally::Say FailureTally::Fail(const std::string& newKey, const std::string& newText, Clock::time_point now) {
  if (failing && newKey == key) {
    ++repeats;
    Say say;
    if (now - lastSaid >= reminderInterval) {
      say.reminder = repeats;
      lastSaid = now;
    }
    return say;
  }
  Say say = Recover();
  failing = true;
  key = newKey;
  text = newText;
  lastSaid = now;
  say.sayNew = true;
  return say;
}

FailureTally::Say FailureTally::Recover() {
  Say say;
  if (failing && repeats > 0) {
    say.endedText = text;
    say.endedRepeats = repeats;
  }
  failing = false;
  key.clear();
  text.clear();
  repeats = 0;
  return say;
}

std::string FailureTally::RepeatedText(int64_t repeats) {
  return "repeated " + std::to_string(repeats) + (repeats == 1 ? " time" : " times");
}
