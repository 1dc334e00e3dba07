#include "recording/RecordingName.h"

#include <sys/stat.h>

#include <cstdint>

#include "text/ByteText.h"

namespace {

// Anything under that name, also a dangling symlink, takes the name.
bool NameTaken(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
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
    stem = "_";
  }
  return stem;
}

bool RecordingName::IsBlank(const std::string& title) { return ByteText::Trim(title).empty(); }

std::string RecordingName::MakeUniquePath(const std::string& base, const std::string& extension) {
  std::string candidate = base + extension;
  for (uint64_t n = 1; NameTaken(candidate); ++n) {
    candidate = base;
    candidate += "(" + std::to_string(n) + ")";
    candidate += extension;
  }
  return candidate;
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
