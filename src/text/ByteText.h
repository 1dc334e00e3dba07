#pragma once

#include <string>
#include <string_view>

// Conversions of the 8-bit texts the program carries around (titles, station
// names, URLs, paths). Servers send titles in whatever encoding they like, and
// settings files written on Windows hold Windows-1252: bytes that form valid
// UTF-8 are taken as UTF-8, anything else as Windows-1252. The core keeps the
// bytes as they came; these helpers make the forms that leave the program:
// file names (UTF-8, which Linux file managers expect) and console lines
// (printable, so that no server can steer the user's terminal).
//
// Stateless; any thread.
class ByteText {
 public:
  // True when bytes are well-formed UTF-8 (no overlong forms, no surrogates,
  // nothing above U+10FFFF).
  static bool IsValidUtf8(std::string_view bytes);
  // The UTF-8 form of each character of bytes read as Windows-1252; the five
  // bytes that code page leaves undefined map to the C1 controls of the same
  // value.
  static std::string Windows1252ToUtf8(std::string_view bytes);
  // The Unicode code point of Windows-1252 byte.
  static char32_t Windows1252CodePoint(unsigned char byte);
  // bytes unchanged when they are valid UTF-8, else their Windows-1252
  // reading in UTF-8.
  static std::string ToUtf8(std::string_view bytes);
  // The UTF-8 form of bytes (ToUtf8) with every control character written
  // out: those below 0x20 and DEL as "\xHH", the C1 controls U+0080..U+009F
  // as "\u00HH". The text then prints as one line and cannot carry a
  // terminal escape sequence; everything else shows as the window shows it.
  static std::string EscapeControls(std::string_view bytes);

  // UTF-16 text (after its byte-order mark) in UTF-8; an unpaired surrogate
  // becomes U+FFFD, an odd last byte is dropped.
  static std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

  // Appends the UTF-8 form of code (up to U+10FFFF) to text.
  static void AppendUtf8(std::string& text, char32_t code);
  // The ASCII blanks: space, tab, CR, LF, FF, VT.
  static constexpr std::string_view kBlanks = " \t\r\n\f\v";
  static bool IsBlank(char c) { return kBlanks.find(c) != std::string_view::npos; }
  // text without the bytes of blanks around it (before it, after it).
  static std::string_view Trim(std::string_view text, std::string_view blanks = kBlanks);
  static std::string_view TrimStart(std::string_view text, std::string_view blanks = kBlanks);
  static std::string_view TrimEnd(std::string_view text, std::string_view blanks = kBlanks);

  // ASCII case folding; other bytes stay as they are.
  static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
  static std::string Lower(std::string_view text);
  static bool EqualsNoCase(std::string_view a, std::string_view b);
  static bool StartsWithNoCase(std::string_view text, std::string_view prefix);
  static bool EndsWithNoCase(std::string_view text, std::string_view suffix);

  // The largest length up to maxBytes at which text can be cut without
  // splitting a UTF-8 sequence: at most three continuation bytes are stepped
  // back over, so bytes that are not UTF-8 are cut where they stand.
  static size_t Utf8CutPoint(std::string_view text, size_t maxBytes);
  // How many characters UTF-8 text holds (bytes that do not continue a
  // sequence), for lining texts up in columns of a terminal.
  static size_t Utf8Length(std::string_view text);
  // The first maxCharacters characters of UTF-8 text.
  static std::string_view Utf8Prefix(std::string_view text, size_t maxCharacters);
  // text cut to at most maxBytes at such a point.
  static std::string_view CutAtUtf8Boundary(std::string_view text, size_t maxBytes) {
    return text.substr(0, Utf8CutPoint(text, maxBytes));
  }
};
