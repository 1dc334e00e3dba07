#pragma once

#include <QList>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "app/LayoutAnchor.h"
#include "app/SettingsStore.h"
#include "recording/RecordingOptions.h"
#include "ui/FormControls.h"

class DetailPanel;
class EntryCommands;
class EntryList;
class QTreeWidget;
class QtListControl;
class UrlDropTarget;

// The main window's form. It owns the SettingsStore (which owns the
// entries) and the LayoutAnchor that keeps the controls in place when the
// frame is resized, and puts together the pieces that make the form, each
// with one job:
//   EntryList     the server list (rows, columns, selection, keys, clicks)
//                 and the hint line under it;
//   DetailPanel   the selected entry's directory, switches, options and
//                 status line (which names its next show);
//   EntryCommands the commands on the selected entries (Schedule... among
//                 them) and the list's context menu;
//   UrlDropTarget URLs and local playlist files dropped on the list.
// The pieces never call one another back: they announce through signals,
// which the form connects to what it does (toggle, remove, add entries,
// show the panel again). The panel and the commands read the list's
// selection; nothing reads the form.
//
// The view never polls: rows change when the presenters write them through
// the list's QtListControl; after each such turn the list decorates them
// and the form shows the status line again and announces entriesChanged.
// The panel follows the list's current row however it was chosen (mouse,
// arrow keys) and is refreshed after every command.
//
// Keys on the list: Enter or Space toggles the selected entries as a
// double-click does; Delete or Backspace asks, then removes them. URLs
// dropped on the list (text/uri-list or plain text, one per line) are added
// as Add Server adds them.
//
// The store is a member and the pieces are Qt children, so every stream
// has stopped before the list control (in the EntryList) goes. Child
// widgets belong to the view through Qt's parent chain.
//
// Threads: user-interface thread only. Stopping a stream (double-click,
// delete, destruction) waits for its worker, which never waits for this
// thread (QtListControl posts), so the wait is short. The view reads an
// entry's state only through its presenter, the stream's atomic state and
// the writer's published snapshot (LastError, CurrentPath, Directory),
// never through a lock held across a disk write.
class CDriftharbourView : public QWidget, public AnchorView {
  Q_OBJECT

 public:
  // The form's controls, by the ids the anchor knows them under.
  using ControlId = FormControl::Id;
  using enum FormControl::Id;

  // How many entries are recording (connected), retrying (started, not
  // connected) and stopped.
  struct EntryCounts {
    int recording = 0;
    int retrying = 0;
    int stopped = 0;
  };

  // The smallest the main window may be made (never more than its first
  // size).
  static constexpr QSize kSmallestFrame{400, 250};

  // settingsPath: the settings file; empty means where SettingsLocation
  // puts it for this executable.
  explicit CDriftharbourView(std::string settingsPath = {}, QWidget* parent = nullptr);
  ~CDriftharbourView() override;

  // Where the window keeps its settings when none is given (SettingsLocation
  // for this executable); makes the directory when it is the user's
  // configuration directory.
  static std::string DefaultSettingsPath();
  // The download directory new entries get by default with settingsFile:
  // the desktop's music folder when the file lives in the user's
  // configuration directory ($XDG_CONFIG_HOME/driftharbour), else empty
  // (the working directory).
  static std::string StartDirectoryFor(const std::string& settingsFile);

  // Once, after the view is placed in frame: sizes the form, inserts the
  // columns, loads the settings and the server list, registers the controls
  // with the anchor (the frame may shrink to kSmallestFrame) and
  // refreshes the panel.
  void OnInitialUpdate(QWidget* frame);

  // The form's size in pixels (370 x 147 dialog units of Arial 8 pt).
  QSize FormSize() const;
  QSize sizeHint() const override;

  // Starts recording each URL: an entry already in the list with that URL
  // is started (unless it records), any other URL is added first, as Add
  // Server would add it. Empty texts are skipped.
  void RecordUrls(const std::vector<std::string>& urls);
  // Adds each text as a server (ServerUrl's rule), asking before adding a
  // URL the list has already; refused texts are named in one message.
  // Returns how many entries were added.
  int AddUrls(const QStringList& texts);

  // Commands and list notifications.
  void OnAddServer();
  void OnSaveServerList();
  void OnDblclkServerList();
  void OnClickServerList();
  // Delete or Backspace: asks, then deletes the selected entries.
  void OnKeydownServerList(int key);
  // Enter, Space: starts the stopped and stops the running selected entries.
  void ToggleSelected();
  void UpdateDetailPanel();

  // Saves the server list without a message; false when it failed.
  bool SaveServerListQuietly();
  // Whether the list differs from the one last loaded or saved (an entry
  // added or removed, a directory, switch or option changed).
  bool ServerListChanged() const;
  EntryCounts CountEntries() const;
  // Entries started and not yet stopped (recording or retrying).
  int RunningCount() const;

  // The columns' widths in pixels, in column order.
  std::vector<int> ColumnWidths() const;
  // Gives each column a remembered width (0 or less: left as it is); those
  // stay as they are until the user drags them.
  void RestoreColumnWidths(const std::vector<int>& widths);

  // Places the controls again after the frame moved or changed size.
  void Relayout() { anchor.Relayout(); }
  LayoutAnchor& Anchor() { return anchor; }
  SettingsStore& Store() { return store; }
  const SettingsStore& Store() const { return store; }
  QtListControl& List();
  EntryList* Entries() const { return entries; }
  DetailPanel* Panel() const { return panel; }
  EntryCommands* Commands() const { return commands; }

  // The row selected in the list, -1 when none.
  int SelectedRow() const;
  // Every selected row, in ascending order.
  QList<int> SelectedRows() const;
  QTreeWidget* ServerList() const;
  QWidget* Control(AnchorControlId control) const;

  // AnchorView.
  AnchorSize ClientSize() const override;
  std::optional<AnchorRect> ControlRect(AnchorControlId control) const override;
  int ControlClientWidth(AnchorControlId control) const override;
  void PlaceControl(AnchorControlId control, const AnchorRect& rect) override;

 signals:
  // An entry started, stopped, changed its state, came or went.
  void entriesChanged();
  // The server list was written to the settings file (which drops the
  // sections it does not know).
  void serverListSaved();

 private:
  // One entry's settings as SaveServerList writes them.
  struct EntrySettings {
    std::string url;
    std::string directory;
    bool fileSplitting = true;
    bool smartSplitting = true;
    RecordingOptions options;
    std::vector<Schedule> schedules;
    bool operator==(const EntrySettings&) const = default;
  };

  // The selection or an entry changed: the commands and whoever counts.
  void NotifyEntriesChanged();
  // Every presenter at or below row writes its row again.
  void RefreshRowsFrom(int row);
  QString QuestionForDeletion(int count) const;
  std::vector<EntrySettings> CurrentSettings() const;
  // The first row whose entry has url, -1 when none.
  int RowOf(const std::string& url) const;

  const std::string settingsPath;
  bool initialized = false;
  // The list as last loaded or saved.
  std::vector<EntrySettings> savedSettings;

  SettingsStore store;
  LayoutAnchor anchor;

  // The pieces, owned by this view through Qt; made after the store, which
  // they borrow, and deleted by Qt after it.
  EntryList* entries = nullptr;
  DetailPanel* panel = nullptr;
  EntryCommands* commands = nullptr;
  UrlDropTarget* drops = nullptr;
};
