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
          lines.Push(prefix + ": " + text);
        }
        break;
      case StreamEvent::Title:
        if (text != title) {
          title = text;
          if (!text.empty()) {
            lines.Push(prefix + ": title \"" + text + "\"");
          }
        }
        break;
      case StreamEvent::Name:
        lines.Push(prefix + ": station \"" + text + "\"");
        break;
      case StreamEvent::Bitrate:
        lines.Push(prefix + ": bit rate " + text + " kbit/s");
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
      lines.Push(prefix + kCannotRecordText + text);
    }
  }
}

std::vector<std::string> ConsoleReporter::TakeLines() {
  std::lock_guard<std::mutex> lock(mutex);
  return lines.Take(prefix + ": ");
}

std::string ConsoleReporter::ProgressLine() const {
  std::lock_guard<std::mutex> lock(mutex);
  const std::string shown = title.empty() ? state : "\"" + title + "\"";
  return shortPrefix + " " + shown + ": " + ByteCounter::FromDigits(received).FormatDisplay() + " / " +
         ByteCounter::FromDigits(receivedComplete).FormatDisplay() + " in all";
}
