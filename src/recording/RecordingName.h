#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class NameNumbers;

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
// Any thread. MakeUniquePath only looks at the file system, so its answer
// may be stale by the time the caller creates the file; ClaimFreePath takes
// the name in the same step as it finds it (open with O_EXCL, a rename that
// replaces nothing), in two tries per file however many names are taken:
// the plain name, then the number remembered in NameNumbers.
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
  // base + "(" + n + ")" + extension.
  static std::string NumberedPath(const std::string& base, uint64_t n, const std::string& extension);

  // How a free name is taken. take claims path for good: 0, EEXIST when
  // anything is there, or another errno. exists looks without taking (null:
  // lstat). Both are called without any lock held.
  struct Claim {
    std::function<int(const std::string& path)> take;
    std::function<bool(const std::string& path)> exists;
  };
  // Takes the name MakeUniquePath would give, even when others take names
  // meanwhile: the plain name when free, else the remembered next number,
  // else (a clash) the first number that looks free from there. 0 with the
  // name in taken; the errno of a refused take (taken names the path it
  // failed on); or EEXIST after maxClashes numbers that looked free were
  // taken by someone else first.
  static int ClaimFreePath(const std::string& base, const std::string& extension, const Claim& claim,
                           std::string& taken, int maxClashes, NameNumbers& numbers);
  // name inside directory; an empty directory means the working directory
  // (never the file system's root).
  static std::string JoinPath(const std::string& directory, const std::string& name);
};
