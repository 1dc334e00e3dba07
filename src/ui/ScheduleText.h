#pragma once

#include <QString>

#include "schedule/Schedule.h"

class SettingsStore;
class ServerStream;

// The window's words for shows, in the system's local time: the panel's
// line for the selected entry, the State tooltip's note, and the next show
// of all entries for the status bar and the tray. Every text is empty where
// there is nothing to say (no schedules, no schedule runner).
//
// Stateless; user-interface thread (it reads the store and its runner).
class ScheduleText {
 public:
  // "Next show: Night Jazz, Sat 05:00", or "Recording the show Night Jazz
  // until 09:02" while one is on.
  static QString EntryLine(const SettingsStore& store, int row);
  // "Recording because of the show Night Jazz (Sat 2026-12-12 23:00
  // America/New_York), until 09:02" while the entry records a show.
  static QString StateNote(const SettingsStore& store, const ServerStream* stream);
  // "Next show: Night Jazz (radio.example/stream), Sat 05:00".
  static QString Soonest(const SettingsStore& store);
  // A schedule in the dialog's list: "Night Jazz: Sat 23:00 for 3h
  // (America/New_York)".
  static QString Describe(const Schedule& schedule);
};
