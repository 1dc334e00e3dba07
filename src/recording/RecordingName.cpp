#include "recording/RecordingName.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include "recording/NameNumbers.h"
#include "text/ByteText.h"

namespace {

// Anything under that name, also a dangling symlink, takes the name.
bool NameTaken(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

// The longest "(n)" a stem leaves room for.
constexpr uint64_t kMaxNumber = 2147483647;

int TakeRetried(const RecordingName::Claim& claim, const std::string& path) {
  int result = 0;
  do {
    result = claim.take(path);
  } while (result == EINTR);
  return result;
}

}  // namespace

std::string RecordingName::Stem(const std::string& title) {
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
  stem.resize(ByteText::Utf8CutPoint(stem, kMaxStemBytes));
  // "Bad .mp3" and "Title..mp3" are names no one means; a station's "';"
  // inside a title leaves such ends.
  stem.resize(ByteText::TrimEnd(stem, " \t.").size());
  if (stem.empty()) {
    stem.assign(1, '_');  // not = "_": GCC 12 then warns of an overlap that cannot happen
  }
  return stem;
}

bool RecordingName::IsBlank(const std::string& title) { return ByteText::Trim(title).empty(); }

std::string RecordingName::MakeUniquePath(const std::string& base, const std::string& extension) {
  std::string candidate = base + extension;
  for (uint64_t n = 1; NameTaken(candidate); ++n) {
    candidate = NumberedPath(base, n, extension);
  }
  return candidate;
}

std::string RecordingName::NumberedPath(const std::string& base, uint64_t n, const std::string& extension) {
  std::string path = base;
  path += '(';
  path += std::to_string(n);
  path += ')';
  path += extension;
  return path;
}

int RecordingName::ClaimFreePath(const std::string& base, const std::string& extension, const Claim& claim,
                                 std::string& taken, int maxClashes, NameNumbers& numbers) {
  taken = base + extension;
  if (const int result = TakeRetried(claim, taken); result != EEXIST) {
    return result;
  }
  const auto exists = [&claim](const std::string& path) { return claim.exists ? claim.exists(path) : NameTaken(path); };
  const std::string key = base + '\0' + extension;
  uint64_t n = numbers.Next(key);
  for (int clashes = 0; n <= kMaxNumber;) {
    taken = NumberedPath(base, n, extension);
    const int result = TakeRetried(claim, taken);
    if (result == 0) {
      numbers.Remember(key, n + 1);
      return 0;
    }
    if (result != EEXIST) {
      return result;
    }
    // The remembered number (or the one that looked free) is gone: look
    // from the next one on, as if nothing were remembered.
    if (++clashes > maxClashes) {
      break;
    }
    for (++n; n <= kMaxNumber && exists(NumberedPath(base, n, extension)); ++n) {
    }
  }
  return EEXIST;
}

std::string RecordingName::JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) {
    return name;  // relative to the working directory, never the file system root
  }
  if (directory.back() == '/') {
    return directory + name;
  }
  return directory + '/' + name;
}
