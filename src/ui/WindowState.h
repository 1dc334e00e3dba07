#pragma once

#include <optional>
#include <string>
#include <vector>

class IniDocument;

// What the window remembers across runs, in the section "Window" of
// Driftharbour.ini: its place and size (Left, Top, Width, Height: the area
// inside the frame, in device-independent pixels), whether it was
// maximized, the server list's column widths (ColumnWidths, comma-separated)
// and whether closing it while entries record hides it in the tray
// (HideToTray). A file without the section gives an empty state.
//
// The section is written at exit into the file as it stands on disk: the
// file is read again, only this section is replaced, and the file is
// written back atomically, so that a server list the user has not saved is
// never saved by it, and one saved meanwhile is kept. Nothing is written
// where no settings file exists (a list never saved stays without a file).
//
// Plain data; user-interface thread (the file is the window's).
struct WindowState {
  static constexpr const char* kSection = "Window";

  struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
  };
  std::optional<Rect> geometry;
  bool maximized = false;
  std::vector<int> columnWidths;  // 0 or less: not set
  bool hideToTray = false;

  // The state settings hold; fields whose keys are missing or malformed
  // keep their defaults.
  static WindowState Read(const IniDocument& settings);
  // Replaces the section in document with this state.
  void WriteTo(IniDocument& document) const;
  // Writes this state into the file at path as described above. False when
  // the file cannot be read or written; the file is then left as it was.
  bool StoreInto(const std::string& path) const;
};
