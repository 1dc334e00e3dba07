#pragma once

#include <string>

// Asks whether an X server answers at a display name before Qt is started:
// Qt's X platform aborts the program when it cannot connect, so the window
// program tries the connection itself first and says in one line what is
// wrong. Connects with libxcb (the library Qt's X platform uses), then
// closes the connection at once.
//
// Stateless; any thread (main calls it before any other thread exists).
class XDisplayProbe {
 public:
  // True when an X server accepted a connection at display (":0",
  // "host:1.0"); an empty name means the DISPLAY variable, as for Qt.
  static bool Answers(const std::string& display);
};
