#include "cli/ConsoleReporter.h"

#include "recording/ByteCounter.h"
#include "recording/RecordingWriter.h"

ConsoleReporter::ConsoleReporter(int32_t number, const std::string& url, const RecordingWriter* writer)
    : prefix("[" + std::to_string(number) + "] " + url),
      shortPrefix("[" + std::to_string(number) + "]"),
      writer(writer) {}

void ConsoleReporter::OnAudio(const StreamBuffer&) { CheckWriter(); }

void ConsoleReporter::OnText(StreamEvent kind, std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    switch (kind) {
      case StreamEvent::State:
        if (text != state) {
          state = text;
          Queue(prefix + ": " + text);
        }
        break;
      case StreamEvent::Title:
        if (text != title) {
          title = text;
          if (!text.empty()) {
            Queue(prefix + ": title \"" + text + "\"");
          }
        }
        break;
      case StreamEvent::Name:
        Queue(prefix + ": station \"" + text + "\"");
        break;
      case StreamEvent::Bitrate:
        Queue(prefix + ": bit rate " + text + " kbit/s");
        break;
      case StreamEvent::Received:
        received = text;
        break;
      case StreamEvent::ReceivedComplete:
        receivedComplete = text;
        break;
      case StreamEvent::Url:
        break;
    }
  }
  CheckWriter();
}

void ConsoleReporter::CheckWriter() {
  if (writer == nullptr) {
    return;
  }
  const auto error = writer->LastError();
  std::lock_guard<std::mutex> lock(mutex);
  const std::string text = error ? error->path + ": " + error->reason : std::string();
  if (text != lastError) {
    lastError = text;
    if (!text.empty()) {
      Queue(prefix + ": cannot record to " + text);
    }
  }
}

void ConsoleReporter::Queue(std::string line) {
  if (lines.size() >= kMaxQueuedLines) {
    lines.pop_front();
    ++droppedLines;
  }
  lines.push_back(std::move(line));
}

std::vector<std::string> ConsoleReporter::TakeLines() {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> taken;
  if (droppedLines > 0) {
    taken.push_back(prefix + ": (" + std::to_string(droppedLines) + " older lines dropped)");
    droppedLines = 0;
  }
  taken.insert(taken.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lines.clear();
  return taken;
}

std::string ConsoleReporter::ProgressLine() const {
  std::lock_guard<std::mutex> lock(mutex);
  const std::string shown = title.empty() ? state : "\"" + title + "\"";
  return shortPrefix + " " + shown + ": " + ByteCounter::FromDigits(received).FormatDisplay() + " / " +
         ByteCounter::FromDigits(receivedComplete).FormatDisplay() + " in all";
}
