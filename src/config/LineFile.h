#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How the bytes of a text file encode its characters.
enum class TextEncoding : int32_t {
  Undetected = -1,  // fewer than two bytes were read; nothing is decoded
  Ansi = 1,         // one byte per character, no byte-order mark
  Utf16LE = 2,      // UTF-16 little-endian, file starts with FF FE
  Utf16BE = 3,      // UTF-16 big-endian, file starts with FE FF
  Utf8 = 4,         // file starts with the UTF-8 signature EF BB BF; the
                    // bytes after it are taken one byte per character
};

// A text file as an ordered list of 8-bit lines, and the way back.
//
// Reading takes the whole file in one go, recognises the byte-order mark,
// narrows UTF-16 to one byte per character and splits at LF; a CR ends the
// text of a line (everything from the last CR of a line on is dropped), so
// CR alone is not a line break. Writing puts CR LF after every line.
//
// Owns its line list, the raw bytes of the last read and the path; nothing in
// it may be null. Files larger than kMaxFileSize are not read at all.
//
// Errors: a file that cannot be opened (missing, not a regular file, too
// large, no access) is reported with false and leaves the object unchanged;
// an I/O error while reading an opened file is thrown as std::system_error,
// also with the object unchanged. Writing never throws for platform errors:
// WriteLines writes a temporary file beside the target, syncs it and renames
// it over the target, so a failure at any step returns false, removes the
// temporary file and leaves the old file exactly as it was.
//
// Not thread-safe: an object belongs to one thread (the user-interface
// thread in the program). Not copyable: documents copy their content
// explicitly.
class LineFile {
 public:
  // How a UTF-16 file's characters become 8-bit text: narrowed to one byte
  // each (the settings' own form, see SplitLines), or written in UTF-8, the
  // form the file system takes paths in.
  enum class WideText : int32_t { Narrowed, Utf8 };

  // The settings file is a few kilobytes; anything this large is not one.
  static constexpr int64_t kMaxFileSize = int64_t{16} * 1024 * 1024;
  static constexpr char kPathSeparator = '/';

  LineFile();
  virtual ~LineFile() = default;

  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  // Reads the file at path, detects its encoding and splits it into the own
  // lines. False when the file cannot be opened; the object is then
  // unchanged. On success path, encoding, raw bytes and lines are replaced.
  bool ReadLines(const std::string& path);

  // Writes lines (the own lines when null), each followed by CR LF, in the
  // given encoding with its byte-order mark; Undetected writes an empty file.
  // Replaces the file at path atomically (see above); a symbolic link at
  // path is written through, not replaced. On success path := the given
  // path; on failure the path stays as it was and false is returned.
  bool WriteLines(const std::string& path, TextEncoding encoding,
                  const std::vector<std::string>* lines = nullptr);

  // Undetected for fewer than two bytes; FF FE, FE FF and EF BB BF give the
  // UTF-16 and UTF-8 encodings; anything else is Ansi.
  static TextEncoding DetectEncoding(std::string_view bytes);

  // Empties target, makes it the list PushLine fills and splits bytes into
  // it. A null bytes pointer or a null target gives false. Undetected gives
  // no lines at all. Otherwise the text after the last LF forms a final line,
  // also when empty. UTF-16 code units above 00FF, which have no single-byte
  // form, become '?' (a surrogate pair becomes one '?'); an incomplete last
  // code unit is dropped.
  bool SplitLines(std::string_view bytes, TextEncoding encoding, std::vector<std::string>* target);

  // Cuts text at its last CR and appends it to the list SplitLines is
  // filling; outside SplitLines, to the own lines.
  void PushLine(std::string text);

  // Appends to the own lines; always true.
  bool AppendLine(const std::string& text);

  // Strips ch from both ends of text, in place; no other character.
  static void TrimChar(std::string& text, char ch);

  // For the next ReadLines or SplitLines of a UTF-16 file; Narrowed after
  // construction. Other encodings are not affected.
  void SetWideText(WideText mode) { wideText = mode; }

  // Forgets path, encoding, raw bytes and lines.
  void ResetFile();

  const std::string& Path() const { return path; }
  void SetPath(const std::string& newPath) { path = newPath; }
  TextEncoding Encoding() const { return encoding; }
  // Bytes read by the last ReadLines; -1 after ResetFile.
  int32_t ByteCount() const { return byteCount; }
  const std::vector<std::string>& Lines() const { return lines; }

 private:
  std::string path;
  TextEncoding encoding = TextEncoding::Undetected;
  std::string rawBytes;
  int32_t byteCount = -1;
  std::vector<std::string> lines;
  WideText wideText = WideText::Narrowed;
  // Never null: the list SplitLines is filling, else the own lines.
  std::vector<std::string>* target;
};
