#pragma once

#include <QDateTime>
#include <QString>

class ServerRowPresenter;

// What the window shows about one entry beyond the texts its presenter
// writes: a file that could not be written ("Error writing file" in the
// State column until the writer's next file succeeds, with the path and the
// system's reason), and why and when the entry last failed to connect. The
// State cell's tool tip and the detail panel's status line show the same.
//
// Reads only what the presenter and the writer publish under their small
// locks (StateText, LastReason, RecordingWriter::LastError), never a lock
// held across a disk write: a hung disk cannot stall the window here.
//
// Plain data; built on the user-interface thread.
struct RowStatus {
  static constexpr const char* kWriteErrorState = "Error writing file";

  QString state;    // the State cell's text
  QString toolTip;  // the State cell's tool tip; empty when all is well
  QString panel;    // the status line's text (one line); empty when all is well
  bool writeError = false;
  bool connected = false;  // the bit rate, station and title are live

  // lastTry: when the window last saw the entry fail to connect (invalid:
  // not known).
  static RowStatus Of(const ServerRowPresenter& presenter, const QDateTime& lastTry = {});
  // Whether the state text is one of a failed connection.
  static bool IsConnectFailure(const QString& state);
};
