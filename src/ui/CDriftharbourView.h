#pragma once

#include <QList>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/LayoutAnchor.h"
#include "app/SettingsStore.h"
#include "recording/RecordingOptions.h"
#include "ui/QtListControl.h"

class EntryCommands;
class FolderBrowser;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class ServerRowPresenter;

// The main window's form: the server list (one row per server entry, seven
// columns written by the entries' row presenters), a hint line, and the
// detail panel of the selected entry (its download directory with Browse,
// its File Splitting and Smart Splitting switches, its recording options
// Cut at silence, Write tags and Keep partial songs apart, and a status
// line saying why it does not record, or else what it records through, or
// else its next show: ScheduleText). It owns the SettingsStore, which
// owns the entries, the LayoutAnchor that keeps the controls in place when
// the frame is resized, and the entry commands (EntryCommands) that the
// list's context menu and the frame's toolbar offer.
//
// The view never polls: rows change when the presenters write them through
// the QtListControl; after each such turn the view adds what the
// presenters do not write (RowStatus: a file that cannot be written, why and
// when a connection last failed, grey texts of an entry that is not
// connected) and announces entriesChanged. The panel follows the list's
// current row however it was chosen (mouse, arrow keys) and is refreshed
// after every command. The switches, options and Browse act only while the
// selected entry's stream is Disconnected; every handler checks that again,
// whatever the panel showed.
//
// Keys on the list: Enter or Space toggles the selected entries as a
// double-click does; Delete or Backspace asks, then removes them. URLs
// dropped on the list (text/uri-list or plain text, one per line) are added
// as Add Server adds them.
//
// Members in declaration order; the list control is declared before the
// store, so every stream has stopped before the list control goes. Child
// widgets belong to the view through Qt's parent chain and outlive the
// members.
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
  enum ControlId : AnchorControlId {
    kServerList = 1001,
    kSmartSplitting = 1006,
    kFileSplitting = 1007,
    kDirectoryField = 1008,
    kBrowse = 1009,
    kBackdrop = 1010,
    kDirectoryLabel = 1011,
    kHint = 1012,
    kStatusLine = 1013,
    kCutAtSilence = 1014,
    kTags = 1015,
    kKeepPartialApart = 1016,
  };
  using FolderBrowserFactory = std::function<std::unique_ptr<FolderBrowser>()>;

  // How many entries are recording (connected), retrying (started, not
  // connected) and stopped.
  struct EntryCounts {
    int recording = 0;
    int retrying = 0;
    int stopped = 0;
  };

  // settingsPath: the settings file; empty means where SettingsLocation
  // puts it for this executable.
  explicit CDriftharbourView(std::string settingsPath = {}, QWidget* parent = nullptr);
  ~CDriftharbourView() override;

  // Once, after the view is placed in frame: sizes the form, inserts the
  // columns, loads the settings and the server list, registers the controls
  // with the anchor (the frame's present size becomes its minimum) and
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
  void OnBrowse();
  void OnFileSplitting();
  void OnSmartSplitting();
  void OnCutAtSilence();
  void OnTags();
  void OnKeepPartialApart();
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
  QtListControl& List() { return listControl; }
  EntryCommands* Commands() const { return commands; }
  QMenu* ContextMenu() const { return contextMenu; }
  // Replaces the folder chooser (tests answer for the user).
  void SetFolderBrowserFactory(FolderBrowserFactory factory);

  // The row selected in the list, -1 when none.
  int SelectedRow() const;
  // Every selected row, in ascending order.
  QList<int> SelectedRows() const;
  QTreeWidget* ServerList() const { return serverList; }
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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

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

  // After the presenters wrote rows: what RowStatus adds to each.
  void DecorateRows(const QList<int>& rows);
  void DecorateRow(QTreeWidgetItem* item, const ServerRowPresenter& presenter);
  // The title cell of a row whose file could not be written keeps the
  // presenter's title and adds the problem.
  static void ShowWriterProblem(QTreeWidgetItem* item, const QString& problem);
  // Shows the selected entry's problem under its switches, or else the
  // stream it records when a playlist or HLS stands between.
  void UpdateStatusLine();
  // "Stream: URL (station)" for an entry recording through a playlist or
  // HLS; empty otherwise.
  static QString SourceText(const ServerRowPresenter& presenter);
  // The selection or an entry changed: the commands and whoever counts.
  void NotifyEntriesChanged();
  // Every presenter at or below row writes its row again.
  void RefreshRowsFrom(int row);
  QString QuestionForDeletion(int count) const;
  // Passes a switch's new state to the selected entry through set, when the
  // entry is idle, and shows the panel again.
  void ApplySwitch(bool on, bool (SettingsStore::*set)(int, bool));
  // The same for one of the entry's recording options.
  void ApplyOption(bool on, bool RecordingOptions::*option);
  // Column widths from the header and the widest texts some columns show.
  void SetInitialColumnWidths();
  std::vector<EntrySettings> CurrentSettings() const;
  // Whether url is an entry's URL already.
  bool IsListed(const std::string& url) const;
  // Handles drags and drops on the list; true when the event was used.
  bool HandleDrop(QEvent* event);
  static QStringList DroppedTexts(const QMimeData& data);

  // Child widgets, owned by this view through Qt.
  QLabel* hint = nullptr;
  QLabel* statusLine = nullptr;
  QLabel* directoryLabel = nullptr;
  QCheckBox* smartSplittingSwitch = nullptr;
  QCheckBox* fileSplittingSwitch = nullptr;
  QCheckBox* cutAtSilenceSwitch = nullptr;
  QCheckBox* tagsSwitch = nullptr;
  QCheckBox* keepPartialApartSwitch = nullptr;
  QPushButton* browseButton = nullptr;
  QLineEdit* directoryField = nullptr;
  QLabel* backdrop = nullptr;
  QTreeWidget* serverList = nullptr;
  QMenu* contextMenu = nullptr;
  EntryCommands* commands = nullptr;  // owned through Qt
  QTimer* clickTimer = nullptr;       // refreshes the panel once a click is handled
  QTimer* dropTimer = nullptr;        // adds droppedTexts once the drop has ended

  const std::string settingsPath;
  FolderBrowserFactory folderBrowserFactory;
  bool initialized = false;
  QStringList droppedTexts;
  // The list as last loaded or saved.
  std::vector<EntrySettings> savedSettings;

  QtListControl listControl;
  SettingsStore store;
  LayoutAnchor anchor;
};
