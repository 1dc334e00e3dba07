#include "recording/RecordingWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "recording/AudioTagger.h"
#include "recording/FileSyncer.h"
#include "recording/ReconnectJoin.h"
#include "audio/AudioFormat.h"
#include "text/ByteText.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamState.h"

namespace {

// Files of a station that names itself nowhere.
constexpr const char* kUntitled = "untitled";
// Attempts to find a free name when others keep taking the names we found.
constexpr int kMaxCreateAttempts = 100;

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) {
    return name;  // relative to the working directory, never the file system root
  }
  if (directory.back() == '/') {
    return directory + name;
  }
  return directory + '/' + name;
}

// Anything under that name, also a dangling symlink, takes the name.
bool NameTaken(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

std::string ErrorText(int error) { return std::generic_category().message(error); }

// Today's date in local time, "YYYY-MM-DD".
std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// Moves a closed recording into incomplete/ beside it, under a free name;
// its new path, or "" when it stays where it is (the reason goes to report).
std::string MoveToIncomplete(const std::string& path, SyncReport& report) {
  const std::filesystem::path from(path);
  const std::filesystem::path directory = from.parent_path() / "incomplete";
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    report.SetFailure(directory.string(), error.message());
    return {};
  }
  const std::string base = (directory / from.stem()).string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string target = RecordingWriter::MakeUniquePath(base, from.extension().string());
    // Never over an existing name, also one that appeared just now.
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return target;
    }
    if (errno != EEXIST) {
      report.SetFailure(path, "cannot move into incomplete/: " + std::generic_category().message(errno));
      return {};
    }
  }
  return {};
}

bool IsOgg(const std::string& extension) {
  return extension == AudioFormatProbe::Extension(AudioFormat::Ogg) ||
         extension == AudioFormatProbe::Extension(AudioFormat::Opus);
}

}  // namespace

void RecordingWriter::OutputFile::Reset(int newFd) {
  Close();
  fd = newFd;
}

int RecordingWriter::OutputFile::Release() {
  const int released = fd;
  fd = -1;
  return released;
}

int RecordingWriter::OutputFile::Close() {
  if (fd < 0) {
    return 0;
  }
  // On Linux the descriptor is gone even when close() fails: never retry.
  const int result = ::close(fd);
  fd = -1;
  return result == 0 ? 0 : errno;
}

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
  std::lock_guard<std::recursive_mutex> guard(lock);
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
  std::lock_guard<std::mutex> sharedGuard(shared);
  directory.clear();
  smartSplitting = true;
  fileSplitting = true;
  lastError.reset();
  notes.clear();
}

void RecordingWriter::OnText(StreamEvent kind, std::string text) {
  std::lock_guard<std::recursive_mutex> guard(lock);
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
        const std::string before = FileName();
        CloseFile();
        gapNote = "gap of " + text + ": " + before + " ends";
        responseFresh = true;
      }
      return;
    case StreamEvent::Bitrate:
      bitrateKbps = std::max(0, std::atoi(text.c_str()));
      return;
    case StreamEvent::Title:
      break;
    default:
      return;
  }
  if (!SplittingTitles()) {
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
  std::lock_guard<std::recursive_mutex> guard(lock);
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
        Note(gapNote + ", the audio goes on in " + FileName());
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
    // An Ogg stream names its songs at their exact first page: an overlap
    // would only put the next song's first page at the end of this one.
    bool overlap = false;
    {
      std::lock_guard<std::mutex> guard(shared);
      overlap = smartSplitting && !options.cutAtSilence;
    }
    if (overlap && !IsOgg(fileExtension)) {
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

void RecordingWriter::JoinAudio(const StreamBuffer& audio) {
  if (!join) {
    joinPending = false;
    if (extension != fileExtension) {
      // Another format cannot go on in this file.
      CloseFile();
      if (!CreateFile()) {
        openFailed = true;
        return;
      }
      Note("reconnected in another format: the audio goes on in " + FileName());
      Write(audio);
      return;
    }
    join = std::make_unique<ReconnectJoin>(ReadTail(), IsOgg(extension));
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
    Note("reconnected: " + std::to_string(skip) + " bytes the server sent again were skipped, " + FileName() +
         " goes on");
    Write(reinterpret_cast<const uint8_t*>(held.data()) + skip, held.size() - skip);
    return;
  }
  // A gap must not hide inside one file; the new file starts with a song
  // whose beginning is missing.
  const std::string before = FileName();
  CloseFile();
  responseFresh = true;
  if (!CreateFile()) {
    openFailed = true;
    return;
  }
  Note("reconnected after a gap: " + before + " ends, the audio goes on in " + FileName());
  Write(reinterpret_cast<const uint8_t*>(held.data()), held.size());
}

std::string RecordingWriter::ReadTail() const {
  if (!file.IsOpen() || fileBytes <= 0) {
    return {};
  }
  const auto want = static_cast<size_t>(std::min<int64_t>(fileBytes, ReconnectJoin::kTailBytes));
  std::string tail(want, '\0');
  size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(file.Get(), tail.data() + done, want - done,
                              static_cast<off_t>(fileBytes - static_cast<int64_t>(want) + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return {};  // unreadable: the join then finds a gap and starts a new file
    }
    done += static_cast<size_t>(n);
  }
  return tail;
}

bool RecordingWriter::CreateFile() {
  std::chrono::seconds interval{0};
  std::string fileDirectory;
  {
    std::lock_guard<std::mutex> guard(shared);
    fileDirectory = ByteText::ToUtf8(directory);
    interval = syncInterval;
  }
  if (show && show->splitTitles) {
    fileDirectory = JoinPath(fileDirectory, show->Stem());
  }
  if (!fileDirectory.empty()) {
    std::error_code error;
    std::filesystem::create_directories(fileDirectory, error);
    if (error) {
      writeErrors.fetch_add(1, std::memory_order_relaxed);
      std::lock_guard<std::mutex> guard(shared);
      lastError = FileError{fileDirectory, error.message()};
      return false;
    }
  }
  const std::string& name = currentTitle.empty() ? (stationName.empty() ? kUntitled : stationName) : currentTitle;
  const bool showFile = show && !show->splitTitles;
  const std::string base = JoinPath(fileDirectory, showFile ? show->Stem() : FileStem(name));
  const std::string dotted = "." + extension;
  std::string path;
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    path = MakeUniquePath(base, dotted);
    // O_EXCL: never truncate or write through whatever appeared under the
    // name since MakeUniquePath looked. Read access lets a reconnect compare
    // the file's end with the new audio.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      file.Reset(fd);
      filePath = path;
      fileExtension = extension;
      fileBytes = 0;
      facts = FileFacts{currentTitle, stationName, Today(), responseFresh, false, showFile, false};
      if (show) {
        // The show is the album, on its own date; its one file is titled
        // after it.
        facts.station = show->name;
        facts.date = show->date;
        facts.title = showFile ? show->name + " " + show->date : facts.title;
        facts.showPartial = show->partial;
      }
      responseFresh = false;
      filesWritten.fetch_add(1, std::memory_order_relaxed);
      {
        std::lock_guard<std::mutex> guard(shared);
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
    if (errno != EEXIST && errno != EINTR) {
      RecordError(path, errno);
      return false;
    }
  }
  RecordError(path, EEXIST);
  return false;
}

void RecordingWriter::CloseFile() {
  if (!file.IsOpen()) {
    return;
  }
  FileSyncer::Finish finish = MakeFinish();
  if (FileSyncer* syncer = FileSyncer::Installed()) {
    // Finished, synced and closed on the syncer's thread; a failure comes
    // back through syncReport.
    syncer->SyncAndClose(file.Release(), filePath, syncReport, std::move(finish));
  } else if (finish.beforeSync || finish.afterClose) {
    FileSyncer::FinishWithoutSync(file.Release(), filePath, finish, syncReport);
  } else if (const int error = file.Close(); error != 0) {
    RecordError(filePath, error);
  }
  filePath.clear();
  fileBytes = 0;
  std::lock_guard<std::mutex> guard(shared);
  shownPath.clear();
}

FileSyncer::Finish RecordingWriter::MakeFinish() const {
  RecordingOptions wanted;
  bool splitting = true;
  std::string url;
  {
    std::lock_guard<std::mutex> guard(shared);
    wanted = options;
    url = sourceUrl;
  }
  splitting = SplittingTitles();
  FileSyncer::Finish finish;
  const std::shared_ptr<SyncReport> report = syncReport;
  if (wanted.tags) {
    AudioFormat format = AudioFormat::Mp3;
    AudioFormatProbe::FromExtension(fileExtension, format);
    const AudioTagger::Tags tags = AudioTagger::FromStreamTitle(facts.title, facts.station, url, facts.date);
    finish.beforeSync = [format, tags, report](const std::string& path) {
      std::string error;
      if (!AudioTagger::Tag(path, format, tags, &error)) {
        report->SetFailure(path, "cannot tag: " + error);
      }
    };
  }
  const bool tooShort = wanted.minLengthSeconds > 0 && bitrateKbps > 0 &&
                        fileBytes * 8 < int64_t{wanted.minLengthSeconds} * bitrateKbps * 1000;
  if (facts.showFile ? facts.showPartial
                     : wanted.keepPartialApart && splitting && (facts.startsPartial || facts.interrupted || tooShort)) {
    finish.afterClose = [report](const std::string& path) { return MoveToIncomplete(path, *report); };
  }
  return finish;
}

void RecordingWriter::Write(const StreamBuffer& audio) {
  Write(audio.Data(), static_cast<size_t>(audio.Size()));
}

void RecordingWriter::Write(const uint8_t* next, size_t left) {
  // One write() per block; the loop only continues a write the kernel cut
  // short.
  while (left > 0) {
    const ssize_t written = writeFunction ? writeFunction(file.Get(), next, left) : ::write(file.Get(), next, left);
    if (written <= 0) {
      const int error = written < 0 ? errno : EIO;
      if (error == EINTR) {
        continue;
      }
      RecordError(filePath, error);
      throw std::system_error(error, std::generic_category(), "cannot write " + filePath);
    }
    next += written;
    left -= static_cast<size_t>(written);
    fileBytes += written;
    bytesWritten.fetch_add(written, std::memory_order_relaxed);
  }
  SyncWhenDue();
}

void RecordingWriter::SyncWhenDue() {
  FileSyncer* syncer = FileSyncer::Installed();
  if (syncer == nullptr || !file.IsOpen()) {
    return;
  }
  const std::chrono::seconds interval = Shared(syncInterval);
  if (interval.count() <= 0) {
    return;
  }
  const auto now = syncer->Now();
  if (now >= nextSync) {
    syncer->SyncOpenFile(file.Get(), filePath, syncReport);
    nextSync = now + interval;
  }
}

void RecordingWriter::SetRecordingOptions(const RecordingOptions& newOptions) {
  std::lock_guard<std::mutex> guard(shared);
  options = newOptions;
}

RecordingOptions RecordingWriter::Options() const {
  std::lock_guard<std::mutex> guard(shared);
  return options;
}

void RecordingWriter::SetSourceUrl(const std::string& url) {
  std::lock_guard<std::mutex> guard(shared);
  sourceUrl = url;
}

void RecordingWriter::SetSyncInterval(int32_t seconds) {
  std::lock_guard<std::mutex> guard(shared);
  syncInterval = std::chrono::seconds(seconds > 0 ? seconds : 0);
}

int32_t RecordingWriter::SyncInterval() const {
  std::lock_guard<std::mutex> guard(shared);
  return static_cast<int32_t>(syncInterval.count());
}

void RecordingWriter::RecordError(const std::string& path, int error) {
  writeErrors.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<std::mutex> guard(shared);
  lastError = FileError{path, ErrorText(error)};
}

void RecordingWriter::Note(std::string text) {
  std::lock_guard<std::mutex> guard(shared);
  if (notes.size() >= kMaxNotes) {
    notes.erase(notes.begin());
  }
  notes.push_back(std::move(text));
}

std::string RecordingWriter::FileName() const {
  return std::filesystem::path(filePath).filename().string();
}

std::vector<std::string> RecordingWriter::TakeNotes() {
  std::lock_guard<std::mutex> guard(shared);
  std::vector<std::string> taken;
  taken.swap(notes);
  return taken;
}

std::string RecordingWriter::CurrentPath() const {
  std::lock_guard<std::mutex> guard(shared);
  return shownPath;
}

bool RecordingWriter::SetDirectory(const std::string& path) {
  std::lock_guard<std::mutex> guard(shared);
  directory = path;
  return true;
}

std::string RecordingWriter::Directory() const {
  std::lock_guard<std::mutex> guard(shared);
  return directory;
}

void RecordingWriter::SetFileSplitting(bool on) {
  std::lock_guard<std::mutex> guard(shared);
  fileSplitting = on;
}

bool RecordingWriter::FileSplitting() const {
  std::lock_guard<std::mutex> guard(shared);
  return fileSplitting;
}

void RecordingWriter::SetSmartSplitting(bool on) {
  std::lock_guard<std::mutex> guard(shared);
  smartSplitting = on;
}

bool RecordingWriter::SmartSplitting() const {
  std::lock_guard<std::mutex> guard(shared);
  return smartSplitting;
}

std::optional<RecordingWriter::FileError> RecordingWriter::LastError() const {
  {
    std::lock_guard<std::mutex> guard(shared);
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

std::string RecordingWriter::MakeUniquePath(const std::string& base, const std::string& extension) {
  std::string candidate = base + extension;
  for (uint64_t n = 1; NameTaken(candidate); ++n) {
    candidate = base;
    candidate += "(" + std::to_string(n) + ")";
    candidate += extension;
  }
  return candidate;
}

std::string RecordingWriter::FileStem(const std::string& title) {
  std::string stem = ByteText::ToUtf8(title);
  for (char& c : stem) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '/' || byte < 0x20 || byte == 0x7F) {
      c = '_';
    }
  }
  if (!stem.empty() && stem.front() == '.') {
    stem.front() = '_';  // a leading dot hides the file
  }
  if (stem.size() > kMaxStemBytes) {
    size_t cut = kMaxStemBytes;
    // Step back over at most three UTF-8 continuation bytes, so the cut falls
    // before the lead byte of a sequence instead of inside it.
    for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80; ++i) {
      --cut;
    }
    stem.resize(cut);
  }
  return stem;
}

void RecordingWriter::SetWriteFunction(WriteFunction function) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  writeFunction = std::move(function);
}
