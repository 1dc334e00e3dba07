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

  // Appends the UTF-8 form of code (up to U+10FFFF) to text.
  static void AppendUtf8(std::string& text, char32_t code);
  // text without the ASCII blanks (space, tab, CR, LF, FF, VT) around it.
  static std::string_view Trim(std::string_view text);
};
