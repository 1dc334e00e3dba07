#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/ByteCounter.h"
#include "base/Mutex.h"
#include "recording/RecordingOptions.h"
#include "stream/StreamObserver.h"

class ListControl;
class RecordingWriter;
class ServerStream;

// Shows one server entry in one row of the server list and keeps the row up
// to date from the entry's stream events. It also carries the entry's
// settings (URL, download directory, File Splitting, Smart Splitting) and
// pointers to the entry's RecordingWriter and ServerStream, so the window and
// the settings store find an entry's parts through the presenter of its row.
//
// Columns: 0 URL (written once, when the row is inserted), 1 state,
// 2 bit rate as received, 3 bytes of the current title, 4 current title,
// 5 bytes in total, 6 station name. Byte counts show as "512 Bytes" /
// "1,234 MBytes". Url and Format events are shown nowhere; the Reason, the
// Source and the Station are kept for the window (LastReason, SourceUrl,
// StationText).
//
// Ownership: owns nothing but its texts and counters. The list control, the
// writer and the stream are borrowed; each may be null, and each must
// outlive its use here (the settings store destroys the stream first, then
// the presenter). The presenter never removes its row from the list.
//
// Threads: OnText runs on whichever thread raised the event: the stream's
// worker, with the stream's observer lock held, or the user-interface thread
// (a stop shown at once by SettingsStore::ToggleRow, a test), without it.
// Everything else runs on the
// user-interface thread. The ListControl it writes to promises never to wait
// for the user-interface thread, so holding the lock around list updates
// cannot deadlock with the user-interface thread taking it.
//
// Lock: `mutex` guards every field and every list update. Taken by OnText
// on the thread that raised the event (after the stream's observer lock; a
// stop's state comes from the controlling thread this way) and by every
// other operation on the user-interface thread; never held across a call
// that could come back into the presenter. Errors thrown by the list control
// are swallowed.
class ServerRowPresenter : public StreamObserver {
 public:
  static constexpr int kUrlColumn = 0;
  static constexpr int kStateColumn = 1;
  static constexpr int kBitrateColumn = 2;
  static constexpr int kReceivedColumn = 3;
  static constexpr int kTitleColumn = 4;
  static constexpr int kReceivedCompleteColumn = 5;
  static constexpr int kStationNameColumn = 6;
  static constexpr int kColumnCount = 7;

  // No row, no list, state text "Disconnected", both counts 0, both
  // splitting switches on.
  ServerRowPresenter();
  // Forgets the list, writer and stream; destroys none of them.
  ~ServerRowPresenter() override;

  ServerRowPresenter(const ServerRowPresenter&) = delete;
  ServerRowPresenter& operator=(const ServerRowPresenter&) = delete;

  // Shows the entry in list: stores list and url and writes the row
  // (appending it when there is none yet). False, changing nothing, when
  // list is null.
  bool Attach(ListControl* list, std::string url) EXCLUDES(mutex);
  // Stops writing to the list; the row index becomes -1. For an entry whose
  // row is being deleted, so it cannot scribble over the row that moves up.
  void Detach() EXCLUDES(mutex);
  // Writes the row: appends it if it has no index yet, then writes columns
  // 1..6 (when the row exists) and fits all seven column widths. Nothing
  // without a list.
  void Refresh() EXCLUDES(mutex);

  void OnText(StreamEvent kind, std::string text) override EXCLUDES(mutex);

  // The row's index in the list, -1 while it has none.
  int RowIndex() const EXCLUDES(mutex);
  // Another row, removedIndex, left the list: a row below it moves up one.
  // A negative index names no row and changes nothing. If it names this
  // presenter's own row, the presenter detaches (see Detach).
  void OnRowRemoved(int removedIndex) EXCLUDES(mutex);

  // Why the entry's last connection attempt failed ("HTTP 404 Not Found"),
  // "" once one succeeded. The window shows it beside an error state.
  std::string LastReason() const EXCLUDES(mutex);
  // The state text the row shows.
  std::string StateText() const EXCLUDES(mutex);
  // The stream a playlist named, or the HLS playlist followed; "" while the
  // entry's own URL is recorded.
  std::string SourceUrl() const EXCLUDES(mutex);
  // What untitled audio is filed under: the station's icy-name, the
  // playlist's name, or the URL's host.
  std::string StationText() const EXCLUDES(mutex);

  // The entry's settings, read by the settings store and the window.
  std::string Url() const EXCLUDES(mutex);
  std::string DownloadDirectory() const EXCLUDES(mutex);
  void SetDownloadDirectory(std::string directory) EXCLUDES(mutex);
  bool FileSplitting() const EXCLUDES(mutex);
  void SetFileSplitting(bool on) EXCLUDES(mutex);
  bool SmartSplitting() const EXCLUDES(mutex);
  void SetSmartSplitting(bool on) EXCLUDES(mutex);
  // Cutting at silence, tags and partial songs (all off for an entry that
  // names none of them).
  RecordingOptions Options() const EXCLUDES(mutex);
  void SetOptions(const RecordingOptions& options) EXCLUDES(mutex);
  RecordingWriter* Writer() const EXCLUDES(mutex);
  void SetWriter(RecordingWriter* entryWriter) EXCLUDES(mutex);
  ServerStream* Stream() const EXCLUDES(mutex);
  void SetStream(ServerStream* entryStream) EXCLUDES(mutex);

  // Reads the plain decimal count a stream announces: leading white space
  // skipped, an optional sign, then digits up to the first non-digit. Text
  // without digits, and negative counts, give 0. Counts past 4294967295
  // arrive whole (up to the counter's own range of 2^32 millions).
  static ByteCounter ReadCount(std::string_view text);

 private:
  void RefreshLocked() REQUIRES(mutex);
  void DetachLocked() REQUIRES(mutex);

  mutable Mutex mutex;

  // Entry settings.
  std::string downloadDirectory GUARDED_BY(mutex);
  bool fileSplitting GUARDED_BY(mutex) = true;
  bool smartSplitting GUARDED_BY(mutex) = true;
  RecordingOptions options GUARDED_BY(mutex);
  std::string url GUARDED_BY(mutex);
  RecordingWriter* writer GUARDED_BY(mutex) = nullptr;  // not owned
  ServerStream* stream GUARDED_BY(mutex) = nullptr;     // not owned

  // What the row shows.
  std::string title GUARDED_BY(mutex);
  std::string bitrate GUARDED_BY(mutex);
  std::string stationName GUARDED_BY(mutex);
  int rowIndex GUARDED_BY(mutex) = -1;
  std::string stateText GUARDED_BY(mutex) = "Disconnected";
  std::string reason GUARDED_BY(mutex);
  std::string source GUARDED_BY(mutex);
  std::string stationText GUARDED_BY(mutex);
  ByteCounter received GUARDED_BY(mutex);
  ByteCounter receivedComplete GUARDED_BY(mutex);

  ListControl* list GUARDED_BY(mutex) = nullptr;  // not owned; null until Attach
};
