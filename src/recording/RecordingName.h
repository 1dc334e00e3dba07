#pragma once

#include <cstddef>
#include <string>

// Where a recording goes on the disk: the file name a stream title gives, and
// the first free "(n)" form of it.
//
// Titles are bytes; bytes that are not valid UTF-8 are read as Windows-1252
// and written in UTF-8, so every name is valid UTF-8 (ByteText::ToUtf8). '/'
// and the control characters become '_', and so does a leading '.', which
// would hide the file. Blanks and dots at the end go, so that nothing stands
// between the title and the extension. A title longer than kMaxStemBytes is cut there (never
// inside a UTF-8 sequence) so that title, "(n)" and the extension fit in the
// 255 bytes a Linux file name may have. A name is never "." or "..", so a
// title can never leave the download directory.
//
// Stateless; any thread. MakeUniquePath looks at the file system, so its
// answer may be stale by the time the caller creates the file: create with
// O_EXCL and ask again on EEXIST.
class RecordingName {
 public:
  // Longest title part of a file name, in bytes: 255 less the longest
  // extension ".opus" and the longest "(n)" suffix, "(2147483647)".
  static constexpr size_t kMaxStemBytes = 255 - 5 - 12;

  // The file name part for a title that is not blank (see the rules above).
  static std::string Stem(const std::string& title);
  // True for a title that names no song: empty, or only blanks. Its audio is
  // filed under the station's name.
  static bool IsBlank(const std::string& title);
  // base + extension if nothing exists under that name (no file, directory
  // or symlink, not even a dangling one), otherwise the first free
  // base + "(n)" + extension for n = 1, 2, ...
  static std::string MakeUniquePath(const std::string& base, const std::string& extension);
  // name inside directory; an empty directory means the working directory
  // (never the file system's root).
  static std::string JoinPath(const std::string& directory, const std::string& name);
};
