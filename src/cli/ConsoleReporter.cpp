#include "cli/ConsoleReporter.h"

#include "base/ByteCounter.h"
#include "recording/RecordingWriter.h"
#include "text/ByteText.h"
#include "stream/StreamState.h"

namespace {

bool IsFailure(const std::string& state) {
  return state == StreamStateText(StreamState::ErrorOnConnecting) ||
         state == StreamStateText(StreamState::ErrorPreparingBuffer);
}

std::string Quoted(const std::string& text) { return "\"" + ByteText::EscapeControls(text) + "\""; }

}  // namespace

ConsoleReporter::ConsoleReporter(int32_t number, const std::string& url, RecordingWriter* writer,
                                 std::chrono::milliseconds retryReportInterval)
    : url(url),
      escapedUrl(ByteText::EscapeControls(url)),
      writer(writer),
      retryReportInterval(retryReportInterval) {
  SetNumber(number);
}

void ConsoleReporter::SetNumber(int32_t number) {
  MutexLock lock(mutex);
  shortPrefix = "[" + std::to_string(number) + "]";
  prefix = shortPrefix + " " + escapedUrl;
}

void ConsoleReporter::OnAudio(const StreamBuffer&) {
  if (audioAwaited.load(std::memory_order_relaxed)) {
    MutexLock lock(mutex);
    unrecovered = false;
    repeating = false;
    audioAwaited.store(false, std::memory_order_relaxed);
  }
  CheckWriter();
}

void ConsoleReporter::OnText(StreamEvent kind, std::string text) {
  {
    MutexLock lock(mutex);
    switch (kind) {
      case StreamEvent::State:
        OnState(text);
        break;
      case StreamEvent::Reason:
        reason = std::move(text);
        break;
      case StreamEvent::Title:
        if (text != title) {
          title = text;
          if (!text.empty()) {
            lines.Push(prefix + ": title " + Quoted(text));
          }
        }
        break;
      case StreamEvent::Name:
        lines.Push(prefix + ": station " + Quoted(text));
        shownStation = std::move(text);
        break;
      case StreamEvent::Source:
        // The stream a playlist named: said when it changes (the next entry
        // after a failure), not on every reconnect.
        if (text != source) {
          source = std::move(text);
          if (source != url) {  // an HLS playlist given directly is its own source
            lines.Push(prefix + ": stream " + ByteText::EscapeControls(source));
          }
        }
        break;
      case StreamEvent::Station:
        // Behind a playlist, the station may be the playlist's name for it.
        if (!source.empty() && source != url && !text.empty() && text != shownStation) {
          lines.Push(prefix + ": station " + Quoted(text));
          shownStation = std::move(text);
        }
        break;
      case StreamEvent::Bitrate:
        lines.Push(prefix + ": bit rate " + ByteText::EscapeControls(text) + " kbit/s");
        break;
      case StreamEvent::Received:
        received = text;
        break;
      case StreamEvent::ReceivedComplete:
        receivedComplete = text;
        break;
      default:
        break;
    }
  }
  // The writer, the first observer, has seen the event already; only these
  // kinds can have changed its error or notes. The byte counts come with
  // every audio block, which checks the writer anyway.
  if (kind == StreamEvent::Title || kind == StreamEvent::Format || kind == StreamEvent::Station ||
      kind == StreamEvent::State) {
    CheckWriter();
  }
}

void ConsoleReporter::OnState(const std::string& text) {
  const auto now = std::chrono::steady_clock::now();
  if (IsFailure(text)) {
    const std::string shown = prefix + ": " + text + (reason.empty() ? "" : ": " + ByteText::EscapeControls(reason));
    if ((!failing && !unrecovered) || reason != failedReason) {
      lines.Push(shown + "; retrying every second", LogLevel::Warning);
      failing = true;
      unrecovered = true;
      audioAwaited.store(true, std::memory_order_relaxed);
      repeating = false;
      failedReason = reason;
      retries = 0;
      lastRetryReport = now;
    } else {
      failing = true;
      repeating = true;
      ++retries;
      if (now - lastRetryReport >= retryReportInterval) {
        lines.Push(shown + " (retried " + std::to_string(retries) + (retries == 1 ? " time)" : " times)"),
                   LogLevel::Warning);
        lastRetryReport = now;
      }
    }
    state = text;
    return;
  }
  if ((failing || repeating) && text == StreamStateText(StreamState::Connecting)) {
    state = text;  // the next attempt of a failing stream: no news
    return;
  }
  if (repeating && text == StreamStateText(StreamState::Connected)) {
    state = text;  // connected again, to fail again as before: no news until audio comes
    return;
  }
  if (text == StreamStateText(StreamState::Disconnected)) {
    unrecovered = false;  // stopped: the next start is a new story
    repeating = false;
  }
  failing = false;
  if (text != state) {
    state = text;
    lines.Push(prefix + ": " + text);
  }
}

void ConsoleReporter::CheckWriter() {
  if (writer == nullptr) {
    return;
  }
  const auto error = writer->LastError();
  const std::vector<std::string> notes = writer->TakeNotes();
  MutexLock lock(mutex);
  for (const auto& note : notes) {
    lines.Push(prefix + ": " + ByteText::EscapeControls(note), LogLevel::Notice);
  }
  const std::string text = error ? error->path + ": " + error->reason : std::string();
  if (text != lastError) {
    lastError = text;
    if (!text.empty()) {
      lines.Push(prefix + kCannotRecordText + ByteText::EscapeControls(text), LogLevel::Error);
    }
  }
}

std::vector<std::string> ConsoleReporter::TakeLines() { return LineTexts(TakeLogLines()); }

std::vector<LogLine> ConsoleReporter::TakeLogLines() {
  MutexLock lock(mutex);
  return lines.Take(prefix + ": ");
}

std::string ConsoleReporter::ProgressLine() const {
  MutexLock lock(mutex);
  const std::string shown = title.empty() ? state : Quoted(title);
  return shortPrefix + " " + shown + ": " + ByteCounter::FromDigits(received).FormatDisplay() + " / " +
         ByteCounter::FromDigits(receivedComplete).FormatDisplay() + " in all";
}

bool ConsoleReporter::Recorded() const { return writer != nullptr && writer->BytesWritten() > 0; }

std::string ConsoleReporter::LastReason() const {
  MutexLock lock(mutex);
  return reason;
}

std::string ConsoleReporter::NothingRecordedLine(const std::vector<const ConsoleReporter*>& reporters) {
  std::string line;
  for (const ConsoleReporter* reporter : reporters) {
    if (reporter == nullptr || reporter->Recorded()) {
      continue;
    }
    line += line.empty() ? "nothing recorded from " : ", ";
    line += ByteText::EscapeControls(reporter->Url());
    const std::string why = reporter->LastReason();
    line += " (" + (why.empty() ? std::string("no audio arrived") : ByteText::EscapeControls(why)) + ")";
  }
  return line;
}
