#include "config/LineFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>
#include <system_error>
#include <utility>

#include "base/ReplacementFile.h"
#include "base/UniqueFd.h"
#include "text/ByteText.h"

namespace {

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

// A new file beside a target, named target.tmp-XXXXXX, which either
// replaces the target in one rename or is removed again when the object
// goes away.
class PendingFile {
 public:
  explicit PendingFile(const std::string& target) {
    static const char kNameCharacters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<size_t> pick(0, sizeof kNameCharacters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string candidate = target + ".tmp-";
      for (int i = 0; i < 6; ++i) {
        candidate += kNameCharacters[pick(random)];
      }
      // 0666 lets the umask decide, as for any newly created file.
      UniqueFd fd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (fd.Valid()) {
        file.Adopt(std::move(fd), std::move(candidate));
        return;
      }
      if (errno != EEXIST) {
        return;
      }
    }
  }

  bool IsOpen() const { return file.IsOpen(); }

  // Gives the new file the owner and permissions of the file it replaces.
  bool TakeOverAttributes(const struct stat& old) {
    if (::fchown(file.Fd(), old.st_uid, old.st_gid) != 0) {
      // Only a privileged process may give a file away; the permissions
      // below still keep a private file private.
    }
    return ::fchmod(file.Fd(), old.st_mode & 07777) == 0;
  }

  bool Write(const std::string& bytes) { return file.Write(bytes.data(), bytes.size()) == 0; }

  bool SyncAndClose() {
    const bool synced = ::fsync(file.Fd()) == 0;
    // A close that fails may be the write-back's late error.
    const bool closed = file.Close() == 0;
    return synced && closed;
  }

  bool RenameOver(const std::string& target) { return file.RenameOver(target) == 0; }

 private:
  ReplacementFile file;
};

// Makes a rename in the directory of path durable. Best effort: the new
// contents are already in place, only a crash right now could undo it.
void SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
  const UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) {
    ::fsync(dir.Get());
  }
}

// Replaces the file at requested with bytes, so that the old file stays as
// it was unless the new one is complete on disk.
bool ReplaceFile(const std::string& requested, const std::string& bytes) {
  if (requested.empty()) {
    return false;
  }
  std::string target = requested;
  struct stat linkStatus {};
  if (::lstat(requested.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
    // Keep the link; update the file it points to.
    std::unique_ptr<char, FreeDeleter> resolved(::realpath(requested.c_str(), nullptr));
    if (resolved) {
      target = resolved.get();
    }
  }
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && !S_ISREG(old.st_mode)) {
    return false;  // never replace a directory or a device with a file
  }

  PendingFile pending(target);
  if (!pending.IsOpen()) {
    return false;
  }
  if (hadOld && !pending.TakeOverAttributes(old)) {
    return false;
  }
  if (!pending.Write(bytes) || !pending.SyncAndClose() || !pending.RenameOver(target)) {
    return false;
  }
  SyncDirectoryOf(target);
  return true;
}

// The characters of a file's bytes: one byte each, or UTF-16 in UTF-8.
std::string DecodeCharacters(std::string_view bytes, TextEncoding encoding, LineFile::WideText wideText) {
  switch (encoding) {
    case TextEncoding::Ansi:
      return std::string(bytes);
    case TextEncoding::Utf8:
      return std::string(bytes.substr(3));
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
      break;
    case TextEncoding::Undetected:
    default:
      return {};
  }
  const bool little = encoding == TextEncoding::Utf16LE;
  auto unitAt = [&](size_t offset) -> uint32_t {
    const auto first = static_cast<uint8_t>(bytes[offset]);
    const auto second = static_cast<uint8_t>(bytes[offset + 1]);
    return little ? (first | second << 8) : (first << 8 | second);
  };
  std::string text;
  text.reserve(bytes.size() / 2);
  // An odd last byte is half a code unit and gives no character.
  for (size_t offset = 2; offset + 1 < bytes.size(); offset += 2) {
    const uint32_t unit = unitAt(offset);
    if (wideText == LineFile::WideText::Utf8) {
      uint32_t code = unit;
      if (unit >= 0xD800 && unit <= 0xDBFF && offset + 3 < bytes.size()) {
        const uint32_t next = unitAt(offset + 2);
        if (next >= 0xDC00 && next <= 0xDFFF) {
          code = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
          offset += 2;
        }
      }
      // A lone surrogate has no UTF-8 form.
      ByteText::AppendUtf8(text, code >= 0xD800 && code <= 0xDFFF ? uint32_t{'?'} : code);
      continue;
    }
    if (unit <= 0xFF) {
      text += static_cast<char>(unit);
      continue;
    }
    // Only the low byte of a wider character would be arbitrary, and could
    // even be a line break or an equals sign.
    text += '?';
    const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
    if (highSurrogate && offset + 3 < bytes.size()) {
      const uint32_t next = unitAt(offset + 2);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        offset += 2;
      }
    }
  }
  return text;
}

std::string EncodeLines(const std::vector<std::string>& lines, TextEncoding encoding) {
  std::string bytes;
  switch (encoding) {
    case TextEncoding::Ansi:
      break;
    case TextEncoding::Utf8:
      bytes = "\xEF\xBB\xBF";
      break;
    case TextEncoding::Utf16LE:
      bytes = "\xFF\xFE";
      break;
    case TextEncoding::Utf16BE:
      bytes = "\xFE\xFF";
      break;
    case TextEncoding::Undetected:
    default:
      return {};
  }
  const bool wide = encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE;
  auto put = [&](char c) {
    if (!wide) {
      bytes += c;
    } else if (encoding == TextEncoding::Utf16LE) {
      bytes += c;
      bytes += '\0';
    } else {
      bytes += '\0';
      bytes += c;
    }
  };
  for (const std::string& line : lines) {
    for (char c : line) {
      put(c);
    }
    put('\r');
    put('\n');
  }
  return bytes;
}

}  // namespace

LineFile::LineFile() : target(&lines) {}

bool LineFile::ReadLines(const std::string& filePath) {
  UniqueFd file(::open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.Valid()) {
    return false;
  }
  struct stat status {};
  // Only regular files: a FIFO or a device could block or never end.
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kMaxFileSize) {
    return false;
  }
  std::string bytes(static_cast<size_t>(status.st_size), '\0');
  size_t total = 0;
  while (total < bytes.size()) {
    const ssize_t n = ::read(file.Get(), bytes.data() + total, bytes.size() - total);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      throw std::system_error(errno, std::generic_category(), "cannot read " + filePath);
    }
    if (n == 0) {
      break;  // the file shrank since fstat
    }
    total += static_cast<size_t>(n);
  }
  bytes.resize(total);
  file.Reset();

  ResetFile();
  path = filePath;
  rawBytes = std::move(bytes);
  byteCount = static_cast<int32_t>(total);
  encoding = DetectEncoding(rawBytes);
  return SplitLines(rawBytes, encoding, &lines);
}

bool LineFile::WriteLines(const std::string& filePath, TextEncoding textEncoding,
                          const std::vector<std::string>* lineList) {
  const std::string bytes = EncodeLines(lineList != nullptr ? *lineList : lines, textEncoding);
  if (!ReplaceFile(filePath, bytes)) {
    return false;
  }
  path = filePath;
  return true;
}

TextEncoding LineFile::DetectEncoding(std::string_view bytes) {
  if (bytes.data() == nullptr || bytes.size() < 2) {
    return TextEncoding::Undetected;
  }
  if (bytes.starts_with("\xFF\xFE")) {
    return TextEncoding::Utf16LE;
  }
  if (bytes.starts_with("\xFE\xFF")) {
    return TextEncoding::Utf16BE;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    return TextEncoding::Utf8;
  }
  return TextEncoding::Ansi;
}

bool LineFile::SplitLines(std::string_view bytes, TextEncoding textEncoding,
                          std::vector<std::string>* targetList) {
  if (bytes.data() == nullptr || targetList == nullptr) {
    return false;
  }
  targetList->clear();
  if (textEncoding == TextEncoding::Undetected) {
    return true;
  }
  const std::string text = DecodeCharacters(bytes, textEncoding, wideText);
  // The list may belong to the caller and die before this object, so the
  // target points at it only while it is being filled.
  struct TargetScope {
    LineFile& file;
    ~TargetScope() { file.target = &file.lines; }
  } scope{*this};
  target = targetList;
  size_t start = 0;
  for (size_t lineFeed = text.find('\n'); lineFeed != std::string::npos; lineFeed = text.find('\n', start)) {
    PushLine(text.substr(start, lineFeed - start));
    start = lineFeed + 1;
  }
  PushLine(text.substr(start));
  return true;
}

void LineFile::PushLine(std::string text) {
  const size_t carriageReturn = text.rfind('\r');
  if (carriageReturn != std::string::npos) {
    text.resize(carriageReturn);
  }
  target->push_back(std::move(text));
}

bool LineFile::AppendLine(const std::string& text) {
  lines.push_back(text);
  return true;
}

void LineFile::TrimChar(std::string& text, char ch) {
  text = std::string(ByteText::Trim(text, std::string_view(&ch, 1)));
}

void LineFile::ResetFile() {
  path.clear();
  encoding = TextEncoding::Undetected;
  rawBytes.clear();
  rawBytes.shrink_to_fit();
  byteCount = -1;
  lines.clear();
  target = &lines;
}
