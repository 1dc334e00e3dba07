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

ConsoleReporter::ConsoleReporter(const std::string& label, const std::string& url, RecordingWriter* writer,
                                 std::chrono::milliseconds retryReportInterval)
    : url(url),
      prefix("[" + label + "] " + ByteText::EscapeControls(url)),
      shortPrefix("[" + label + "]"),
      writer(writer),
      connecting(retryReportInterval),
      files(retryReportInterval) {}

void ConsoleReporter::Push(const std::string& text, LogLevel level) { lines.Push(prefix + text, level); }

void ConsoleReporter::OnAudio(const StreamBuffer&) {
  if (audioAwaited.load(std::memory_order_relaxed)) {
    MutexLock lock(mutex);
    Recovered();
  }
  CheckWriter();
}

void ConsoleReporter::Recovered() {
  audioAwaited.store(false, std::memory_order_relaxed);
  Tell(connecting.Recover(), "", "", LogLevel::Warning);
  if (state == StreamStateText(StreamState::Connected) && shownState != state) {
    shownState = state;
    Push(": " + state);
  }
}

void ConsoleReporter::Tell(const FailureTally::Say& say, const std::string& text, const std::string& newSuffix,
                           LogLevel level) {
  if (say.endedRepeats > 0) {
    Push(say.endedText + " (" + FailureTally::RepeatedText(say.endedRepeats) + ")", level);
  }
  if (say.sayNew) {
    Push(text + newSuffix, level);
  }
  if (say.reminder > 0) {
    Push(text + " (" + FailureTally::RepeatedText(say.reminder) + " so far)", level);
  }
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
            Push(": title " + Quoted(text));
          }
        }
        break;
      case StreamEvent::Name:
        Push(": station " + Quoted(text));
        shownStation = std::move(text);
        break;
      case StreamEvent::Source:
        // The stream a playlist named: said when it changes (the next entry
        // after a failure), not on every reconnect.
        if (text != source) {
          source = std::move(text);
          if (source != url) {  // an HLS playlist given directly is its own source
            Push(": stream " + ByteText::EscapeControls(source));
          }
        }
        break;
      case StreamEvent::Station:
        // Behind a playlist, the station may be the playlist's name for it.
        if (!source.empty() && source != url && !text.empty() && text != shownStation) {
          Push(": station " + Quoted(text));
          shownStation = std::move(text);
        }
        break;
      case StreamEvent::Bitrate:
        Push(": bit rate " + ByteText::EscapeControls(text) + " kbit/s");
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
  state = text;
  if (IsFailure(text)) {
    const std::string shown = ": " + text + (reason.empty() ? "" : ": " + ByteText::EscapeControls(reason));
    Tell(connecting.Fail(text + '\n' + reason, shown, std::chrono::steady_clock::now()), shown,
         "; retrying every second", LogLevel::Warning);
    shownState = text;
    audioAwaited.store(true, std::memory_order_relaxed);
    return;
  }
  if (connecting.Failing() && (text == StreamStateText(StreamState::Connecting) ||
                               text == StreamStateText(StreamState::Connected))) {
    // The next attempt of a failing stream: no news until audio comes.
    return;
  }
  if (text == StreamStateText(StreamState::Disconnected)) {
    Recovered();  // stopped: the next start is a new story
  }
  if (text != shownState) {
    shownState = text;
    Push(": " + text);
  }
}

void ConsoleReporter::CheckWriter() {
  if (writer == nullptr) {
    return;
  }
  const auto error = writer->LastError();
  const int64_t errorCount = writer->WriteErrors();
  const std::vector<std::string> notes = writer->TakeNotes();
  MutexLock lock(mutex);
  for (const auto& note : notes) {
    Push(": " + ByteText::EscapeControls(note), LogLevel::Notice);
  }
  const std::string text = error ? error->path + ": " + error->reason : std::string();
  const bool more = errorCount != writeErrors;
  writeErrors = errorCount;
  if (text == lastError && !more) {
    return;
  }
  lastError = text;
  if (text.empty()) {
    Tell(files.Recover(), "", "", LogLevel::Error);
    return;
  }
  // The same reason for file after file (a full disk, a folder without
  // write permission) is one failure, whatever the files are called.
  const std::string shown = kCannotRecordText + ByteText::EscapeControls(text);
  Tell(files.Fail(error->reason, shown, std::chrono::steady_clock::now()), shown, "", LogLevel::Error);
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
