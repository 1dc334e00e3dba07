#pragma once

#include <QString>

#include <string_view>

// Turns the 8-bit texts of the core (URLs, titles, station names, paths) into
// text for the window. Servers send titles in whatever encoding they like:
// bytes that form valid UTF-8 are read as UTF-8, anything else as
// Windows-1252, the code page older servers and the settings file use. Only
// the window converts; the core keeps the bytes unchanged.
//
// Stateless; any thread.
class DisplayText {
 public:
  // The display text of bytes.
  static QString FromBytes(std::string_view bytes);
  // True when bytes are well-formed UTF-8 (no overlong forms, no surrogates,
  // nothing above U+10FFFF).
  static bool IsValidUtf8(std::string_view bytes);
  // Bytes read as Windows-1252; the five bytes that code page leaves
  // undefined map to the C1 control characters of the same value.
  static QString FromWindows1252(std::string_view bytes);
  // The 8-bit form of a path the user chose in the window: UTF-8, as the
  // file system takes it.
  static std::string ToBytes(const QString& text);
};
