#include "recording/RecordingWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

namespace {

constexpr char kExtension[] = ".mp3";
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

}  // namespace

void RecordingWriter::OutputFile::Reset(int newFd) {
  Close();
  fd = newFd;
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

RecordingWriter::RecordingWriter() { RecordingWriter::Reset(); }

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
  directory.clear();
  currentTitle.clear();
  CloseFile();
  pendingAudio.Clear();
  openFailed = false;
  smartSplitting = true;
  fileSplitting = true;
  lastError.reset();
}

void RecordingWriter::OnText(StreamEvent kind, std::string text) {
  if (kind != StreamEvent::Title) {
    return;
  }
  std::lock_guard<std::recursive_mutex> guard(lock);
  if (fileSplitting) {
    if (text != currentTitle) {
      pendingAudio.Clear();
    }
    // Also when the title returns to the current one before any audio came:
    // the next block then stays in the current file instead of going to a
    // file named after a title that is no longer playing.
    pendingTitle = std::move(text);
  } else if (currentTitle.empty() && text != currentTitle) {
    pendingTitle = std::move(text);
  }
  if (pendingTitle.empty()) {
    // Close the file now rather than at the next block, which may never come.
    OnAudio(StreamBuffer());
  }
}

void RecordingWriter::OnAudio(const StreamBuffer& audio) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  if (currentTitle != pendingTitle) {
    SwitchFile(audio);
  } else if (file.IsOpen()) {
    Write(audio);
  } else if (!openFailed && !fileSplitting) {
    HoldAudio(audio);
  }
  // Otherwise the block is dropped: creating the file failed, or with File
  // Splitting on the first title would discard it anyway.
}

void RecordingWriter::SwitchFile(const StreamBuffer& audio) {
  if (file.IsOpen()) {
    if (smartSplitting) {
      // A failure leaves file and title as they were; the next block tries
      // the switch again.
      Write(audio);
    }
    CloseFile();
  }
  currentTitle = pendingTitle;
  if (currentTitle.empty()) {
    openFailed = false;
    return;
  }
  if (!CreateFile()) {
    openFailed = true;
    return;
  }
  openFailed = false;
  if (pendingAudio.Size() > 0) {
    // The held audio gets one chance: emptied even when its write fails, so
    // that it can never end up behind later audio in the file.
    try {
      Write(pendingAudio);
    } catch (...) {
      pendingAudio.Clear();
      throw;
    }
    pendingAudio.Clear();
  }
  Write(audio);
}

bool RecordingWriter::CreateFile() {
  if (!directory.empty()) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
      lastError = FileError{directory, error.message()};
      return false;
    }
  }
  const std::string base = JoinPath(directory, FileStem(currentTitle));
  std::string path;
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    path = MakeUniquePath(base, kExtension);
    // O_EXCL: never truncate or write through whatever appeared under the
    // name since MakeUniquePath looked.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      file.Reset(fd);
      filePath = path;
      lastError.reset();
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
  const int error = file.Close();
  if (error != 0) {
    RecordError(filePath, error);
  }
  filePath.clear();
}

void RecordingWriter::Write(const StreamBuffer& audio) {
  const uint8_t* next = audio.Data();
  size_t left = static_cast<size_t>(audio.Size());
  // One write() per block; the loop only continues a write the kernel cut
  // short.
  while (left > 0) {
    const ssize_t written = ::write(file.Get(), next, left);
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
  }
}

void RecordingWriter::HoldAudio(const StreamBuffer& audio) {
  const int64_t total = int64_t{pendingAudio.Size()} + audio.Size();
  if (total <= kMaxPendingAudio) {
    pendingAudio.AppendBuffer(audio);
    return;
  }
  // Keep the newest kMaxPendingAudio bytes.
  const int32_t fromAudio = std::min(audio.Size(), kMaxPendingAudio);
  const int32_t fromPending = kMaxPendingAudio - fromAudio;
  std::unique_ptr<uint8_t, decltype(&std::free)> block(
      static_cast<uint8_t*>(std::malloc(kMaxPendingAudio)), &std::free);
  if (!block) {
    throw std::bad_alloc();
  }
  if (fromPending > 0) {
    std::memcpy(block.get(), pendingAudio.Data() + (pendingAudio.Size() - fromPending),
                static_cast<size_t>(fromPending));
  }
  std::memcpy(block.get() + fromPending, audio.Data() + (audio.Size() - fromAudio),
              static_cast<size_t>(fromAudio));
  pendingAudio.Adopt(block.release(), kMaxPendingAudio);
}

void RecordingWriter::RecordError(const std::string& path, int error) {
  lastError = FileError{path, ErrorText(error)};
}

bool RecordingWriter::SetDirectory(const std::string& path) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  directory = path;
  return true;
}

std::string RecordingWriter::Directory() const {
  std::lock_guard<std::recursive_mutex> guard(lock);
  return directory;
}

void RecordingWriter::SetFileSplitting(bool on) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  fileSplitting = on;
}

bool RecordingWriter::FileSplitting() const {
  std::lock_guard<std::recursive_mutex> guard(lock);
  return fileSplitting;
}

void RecordingWriter::SetSmartSplitting(bool on) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  smartSplitting = on;
}

bool RecordingWriter::SmartSplitting() const {
  std::lock_guard<std::recursive_mutex> guard(lock);
  return smartSplitting;
}

std::optional<RecordingWriter::FileError> RecordingWriter::LastError() const {
  std::lock_guard<std::recursive_mutex> guard(lock);
  return lastError;
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
  std::string stem = title;
  for (char& c : stem) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '/' || byte < 0x20) {
      c = '_';
    }
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
