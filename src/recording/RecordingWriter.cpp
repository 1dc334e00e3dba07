#include "recording/RecordingWriter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "audio/AudioFormat.h"
#include "recording/FileSyncer.h"
#include "recording/ReconnectJoin.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamState.h"
#include "text/ByteText.h"

namespace {

// Files of a station that names itself nowhere.
constexpr const char* kUntitled = "untitled";

bool IsOgg(const std::string& extension) {
  return extension == AudioFormatProbe::Extension(AudioFormat::Ogg) ||
         extension == AudioFormatProbe::Extension(AudioFormat::Opus);
}

}  // namespace

RecordingWriter::RecordingWriter()
    : syncJitter(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) >> 4)),
      syncReport(std::make_shared<SyncReport>()) {
  RecordingWriter::Reset();
}

RecordingWriter::~RecordingWriter() {
  try {
    RecordingWriter::Reset();
  } catch (...) {
    // Only a failed allocation while noting a close error can get here; the
    // file is closed either way.
  }
}

void RecordingWriter::Reset() {
  MutexLock guard(lock);
  try {
    SettleJoin(true);
  } catch (const std::system_error&) {
    // The write failed and is recorded in lastError; the reset goes on.
  }
  join.reset();
  joinPending = false;
  currentTitle.clear();
  CloseFile();
  openFailed = false;
  streaming = false;
  extension = kDefaultExtension;
  stationName.clear();
  MutexLock sharedGuard(shared);
  directory.clear();
  smartSplitting = true;
  fileSplitting = true;
  lastError.reset();
  notes.clear();
}

void RecordingWriter::OnText(StreamEvent kind, std::string text) {
  MutexLock guard(lock);
  switch (kind) {
    case StreamEvent::Format: {
      // A new response: the held audio of the one before is all there is.
      SettleJoin(true);
      AudioFormat format = AudioFormat::Mp3;
      extension = AudioFormatProbe::FromExtension(text, format) ? text : kDefaultExtension;
      streaming = true;
      joinPending = file.IsOpen();
      responseFresh = true;
      continuing = false;
      return;
    }
    case StreamEvent::Station:
      stationName = std::move(text);
      return;
    case StreamEvent::State:
      if (text == StreamStateText(StreamState::Connected)) {
        streaming = true;
        // A source that resumes where it stopped (HLS) sends no Format:
        // its audio then goes on in the open file.
        continuing = file.IsOpen();
      } else {
        streaming = false;
        if (file.IsOpen()) {
          facts.interrupted = true;  // unless a reconnect goes on seamlessly
        }
        if (show && showEndsAtStop.load(std::memory_order_acquire) &&
            text == StreamStateText(StreamState::Disconnected)) {
          FinishShow(false);
        }
      }
      return;
    case StreamEvent::Gap:
      // Audio is missing before the next block: it must not hide inside one
      // file, so the next block starts another.
      SettleJoin(true);
      joinPending = false;
      continuing = false;
      if (file.IsOpen()) {
        facts.interrupted = true;
        const std::string before = file.Name();
        CloseFile();
        gapNote = "gap of " + text + ": " + before + " ends";
        responseFresh = true;
      }
      return;
    case StreamEvent::Bitrate:
      bitrateKbps = std::max(0, std::atoi(text.c_str()));
      return;
    case StreamEvent::Title:
      OnTitle(std::move(text), SplittingTitles());
      return;
    default:
      return;
  }
}

void RecordingWriter::OnTitle(std::string text, bool splitting) {
  if (!splitting) {
    // The first title names the one file; so does a later one after its
    // creation failed.
    if (!file.IsOpen() && (currentTitle.empty() || openFailed)) {
      pendingTitle = std::move(text);
    }
    return;
  }
  // Also when the title returns to the current one before any audio came:
  // the next block then stays in the current file instead of going to a
  // file named after a title that is no longer playing.
  pendingTitle = std::move(text);
  if (!pendingTitle.empty()) {
    return;
  }
  if (streaming && file.IsOpen() && OverlapsNextBlock()) {
    // Like any other title change: the next block ends this file and begins
    // the station-named one.
    return;
  }
  if (!streaming || !currentTitle.empty()) {
    // The stream has stopped, or a titled stretch ended: close now rather
    // than at the next block, which may never come. Untitled audio that
    // follows opens a file of its own.
    SettleJoin(true);
    joinPending = false;
    CloseFile();
    currentTitle.clear();
    openFailed = false;
  }
}

void RecordingWriter::OnAudio(const StreamBuffer& audio) {
  MutexLock guard(lock);
  if (audio.Size() <= 0) {
    return;
  }
  if (continuing) {
    continuing = false;
    facts.interrupted = false;  // the file goes on where it stopped
  }
  if (currentTitle != pendingTitle) {
    SettleJoin(true);
    joinPending = false;
    SwitchFile(audio);
  } else if (file.IsOpen()) {
    if (joinPending || join) {
      JoinAudio(audio);
    } else {
      Write(audio);
    }
  } else if (!openFailed) {
    if (CreateFile()) {
      if (!gapNote.empty()) {
        Note(gapNote + ", the audio goes on in " + file.Name());
        gapNote.clear();
      }
      Write(audio);
    } else {
      openFailed = true;
    }
  }
  // Otherwise the block is dropped: creating the file failed.
}

void RecordingWriter::SwitchFile(const StreamBuffer& audio) {
  if (file.IsOpen()) {
    if (OverlapsNextBlock()) {
      // A failure leaves file and title as they were; the next block tries
      // the switch again.
      Write(audio);
    }
    CloseFile();
  }
  currentTitle = pendingTitle;
  if (!CreateFile()) {
    openFailed = true;
    return;
  }
  openFailed = false;
  Write(audio);
}

bool RecordingWriter::OverlapsNextBlock() const {
  // An Ogg stream names its songs at their exact first page: an overlap
  // would only put the next song's first page at the end of this one. A
  // block of a response whose audio the file does not hold yet comes from
  // after a dropped connection: it must not end a file from before the gap.
  if (IsOgg(file.Extension()) || responseFresh) {
    return false;
  }
  MutexLock guard(shared);
  return smartSplitting && !options.cutAtSilence;
}

void RecordingWriter::JoinAudio(const StreamBuffer& audio) {
  if (!join) {
    joinPending = false;
    if (extension != file.Extension()) {
      // Another format cannot go on in this file.
      CloseFile();
      if (!CreateFile()) {
        openFailed = true;
        return;
      }
      Note("reconnected in another format: the audio goes on in " + file.Name());
      Write(audio);
      return;
    }
    // An unreadable tail makes the join find a gap and start a new file.
    join = std::make_unique<ReconnectJoin>(file.ReadTail(ReconnectJoin::kTailBytes), IsOgg(extension));
  }
  const ReconnectJoin::Outcome outcome = join->Add(audio.Data(), audio.Size());
  if (outcome != ReconnectJoin::Outcome::Undecided) {
    ApplyJoin(outcome == ReconnectJoin::Outcome::Overlap);
  }
}

void RecordingWriter::SettleJoin(bool final) {
  if (!join || !final) {
    return;
  }
  ApplyJoin(join->Finish() == ReconnectJoin::Outcome::Overlap);
}

void RecordingWriter::ApplyJoin(bool overlap) {
  const std::unique_ptr<ReconnectJoin> done = std::move(join);
  const std::string& held = done->Held();
  responseFresh = false;
  if (overlap) {
    facts.interrupted = false;  // the file goes on as if nothing happened
    const size_t skip = std::min(done->SkipBytes(), held.size());
    Note("reconnected: " + std::to_string(skip) + " bytes the server sent again were skipped, " + file.Name() +
         " goes on");
    Write(reinterpret_cast<const uint8_t*>(held.data()) + skip, held.size() - skip);
    return;
  }
  // A gap must not hide inside one file; the new file starts with a song
  // whose beginning is missing.
  const std::string before = file.Name();
  CloseFile();
  responseFresh = true;
  if (!CreateFile()) {
    openFailed = true;
    return;
  }
  Note("reconnected after a gap: " + before + " ends, the audio goes on in " + file.Name());
  Write(reinterpret_cast<const uint8_t*>(held.data()), held.size());
}

bool RecordingWriter::CreateFile() {
  std::chrono::seconds interval{0};
  std::string fileDirectory;
  {
    MutexLock guard(shared);
    fileDirectory = ByteText::ToUtf8(directory);
    interval = syncInterval;
  }
  if (show && show->splitTitles) {
    fileDirectory = RecordingName::JoinPath(fileDirectory, show->Stem());
  }
  // The folder is there for all but the first file: one stat says so,
  // where create_directories would look at every part of the path.
  struct stat folder {};
  if (!fileDirectory.empty() && (::stat(fileDirectory.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))) {
    std::error_code error;
    std::filesystem::create_directories(fileDirectory, error);
    if (error) {
      writeErrors.fetch_add(1, std::memory_order_relaxed);
      MutexLock guard(shared);
      lastError = FileError{fileDirectory, error.message()};
      return false;
    }
  }
  const std::string& name =
      RecordingName::IsBlank(currentTitle) ? (stationName.empty() ? kUntitled : stationName) : currentTitle;
  const bool showFile = show && !show->splitTitles;
  std::string path;
  if (const int error = file.Create(
          RecordingName::JoinPath(fileDirectory, showFile ? show->Stem() : RecordingName::Stem(name)), extension, path);
      error != 0) {
    RecordError(path, error);
    return false;
  }
  file.SetGathering(gatherReads);
  facts = SongFinish::Song{};
  facts.title = currentTitle;
  facts.station = stationName;
  facts.date = SongFinish::Today();
  facts.startsPartial = responseFresh;
  facts.showFile = showFile;
  if (show) {
    // The show is the album, on its own date; its one file is titled after
    // it.
    facts.station = show->name;
    facts.date = show->date;
    facts.title = showFile ? show->name + " " + show->date : facts.title;
    facts.showPartial = show->partial;
  }
  responseFresh = false;
  filesWritten.fetch_add(1, std::memory_order_relaxed);
  {
    MutexLock guard(shared);
    lastError.reset();
    shownPath = path;
  }
  syncReport->Clear();
  if (FileSyncer* syncer = FileSyncer::Installed()) {
    // The new name must survive a crash as well as the bytes.
    syncer->SyncDirectory(fileDirectory);
    // The first sync at a random point of the interval, so that streams
    // started together do not sync together ever after.
    const auto spread = std::chrono::milliseconds(syncJitter() % (interval.count() * 1000 + 1));
    nextSync = syncer->Now() + interval + spread;
  }
  return true;
}

void RecordingWriter::CloseFile() {
  if (!file.IsOpen()) {
    return;
  }
  FileSyncer::Finish finish = MakeFinish();
  const std::string path = file.Path();
  // What the last read gathered goes in before the file is handed on.
  if (const int error = file.Flush(); error != 0) {
    RecordError(path, error);
  }
  if (FileSyncer* syncer = FileSyncer::Installed()) {
    // Finished, synced and closed on the syncer's thread; a failure comes
    // back through syncReport.
    syncer->SyncAndClose(file.Release(), path, syncReport, std::move(finish));
  } else if (finish.beforeSync || finish.afterClose) {
    FileSyncer::FinishWithoutSync(file.Release(), path, finish, syncReport);
  } else if (const int error = file.Close(); error != 0) {
    RecordError(path, error);
  }
  MutexLock guard(shared);
  shownPath.clear();
}

FileSyncer::Finish RecordingWriter::MakeFinish() const {
  RecordingOptions wanted;
  bool splitting = true;
  std::string url;
  {
    MutexLock guard(shared);
    wanted = options;
    url = sourceUrl;
  }
  splitting = SplittingTitles();
  SongFinish::Song song = facts;
  song.extension = file.Extension();
  song.bytes = file.Bytes();
  song.bitrateKbps = bitrateKbps;
  return SongFinish::Make(wanted, splitting, url, song, syncReport);
}

void RecordingWriter::OnReadEnd() {
  MutexLock guard(lock);
  if (!gatherReads) {
    gatherReads = true;
    file.SetGathering(true);
  }
  FlushGathered();
}

void RecordingWriter::FlushGathered() {
  if (const int error = file.Flush(); error != 0) {
    RecordError(file.Path(), error);
    throw std::system_error(error, std::generic_category(), "cannot write " + file.Path());
  }
}

void RecordingWriter::Write(const StreamBuffer& audio) {
  Write(audio.Data(), static_cast<size_t>(audio.Size()));
}

void RecordingWriter::Write(const uint8_t* data, size_t size) {
  const int64_t before = file.Bytes();
  const int error = file.Write(data, size);
  bytesWritten.fetch_add(file.Bytes() - before, std::memory_order_relaxed);
  if (error != 0) {
    RecordError(file.Path(), error);
    throw std::system_error(error, std::generic_category(), "cannot write " + file.Path());
  }
  SyncWhenDue();
}

void RecordingWriter::SyncWhenDue() {
  FileSyncer* syncer = FileSyncer::Installed();
  if (syncer == nullptr || !file.IsOpen()) {
    return;
  }
  const int32_t seconds = SyncInterval();
  if (seconds <= 0) {
    return;
  }
  const auto now = syncer->Now();
  if (now >= nextSync) {
    FlushGathered();
    syncer->SyncOpenFile(file.Fd(), file.Path(), syncReport);
    nextSync = now + std::chrono::seconds(seconds);
  }
}

void RecordingWriter::RecordError(const std::string& path, int error) {
  writeErrors.fetch_add(1, std::memory_order_relaxed);
  MutexLock guard(shared);
  lastError = FileError{path, std::generic_category().message(error)};
}

void RecordingWriter::Note(std::string text) {
  MutexLock guard(shared);
  if (notes.size() >= kMaxNotes) {
    notes.erase(notes.begin());
  }
  notes.push_back(std::move(text));
}

void RecordingWriter::SetWriteFunction(WriteFunction function) {
  MutexLock guard(lock);
  file.SetWriteFunction(std::move(function));
}

// The settings and what the writer publishes: `shared` only.

void RecordingWriter::SetRecordingOptions(const RecordingOptions& newOptions) {
  MutexLock guard(shared);
  options = newOptions;
}

RecordingOptions RecordingWriter::Options() const {
  MutexLock guard(shared);
  return options;
}

void RecordingWriter::SetSourceUrl(const std::string& url) {
  MutexLock guard(shared);
  sourceUrl = url;
}

void RecordingWriter::SetSyncInterval(int32_t seconds) {
  MutexLock guard(shared);
  syncInterval = std::chrono::seconds(seconds > 0 ? seconds : 0);
}

int32_t RecordingWriter::SyncInterval() const {
  MutexLock guard(shared);
  return static_cast<int32_t>(syncInterval.count());
}

std::vector<std::string> RecordingWriter::TakeNotes() {
  MutexLock guard(shared);
  std::vector<std::string> taken;
  taken.swap(notes);
  return taken;
}

std::string RecordingWriter::CurrentPath() const {
  MutexLock guard(shared);
  return shownPath;
}

bool RecordingWriter::SetDirectory(const std::string& path) {
  MutexLock guard(shared);
  directory = path;
  return true;
}

std::string RecordingWriter::Directory() const {
  MutexLock guard(shared);
  return directory;
}

void RecordingWriter::SetFileSplitting(bool on) {
  MutexLock guard(shared);
  fileSplitting = on;
}

bool RecordingWriter::FileSplitting() const {
  MutexLock guard(shared);
  return fileSplitting;
}

void RecordingWriter::SetSmartSplitting(bool on) {
  MutexLock guard(shared);
  smartSplitting = on;
}

bool RecordingWriter::SmartSplitting() const {
  MutexLock guard(shared);
  return smartSplitting;
}

std::optional<RecordingWriter::FileError> RecordingWriter::LastError() const {
  {
    MutexLock guard(shared);
    if (lastError) {
      return lastError;
    }
  }
  std::string failure = syncReport->Failure();
  if (!failure.empty()) {
    return FileError{syncReport->FailedPath(), std::move(failure)};
  }
  return std::nullopt;
}
