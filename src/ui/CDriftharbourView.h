#pragma once

#include <QList>
#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SettingsStore.h"
#include "app/LayoutAnchor.h"
#include "ui/QtListControl.h"

class FolderBrowser;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class ServerRowPresenter;

// The main window's form: the server list (one row per server entry, seven
// columns written by the entries' row presenters), a hint line, and the
// detail panel of the selected entry (its download directory with Browse,
// and its File Splitting and Smart Splitting switches). It owns the
// SettingsStore, which owns the entries, and the LayoutAnchor that keeps the
// controls in place when the frame is resized.
//
// The view never polls: rows change when the presenters write them through
// the QtListControl, and the panel is refreshed on a left click in the list,
// after a double-click and after Browse or a switch. The switches and Browse
// act only while the selected entry's stream is Disconnected; every handler
// checks that again, whatever the panel showed.
//
// Members in declaration order; the list control is declared before the
// store, so every stream has stopped before the list control goes. Child
// widgets belong to the view through Qt's parent chain and outlive the
// members.
//
// Threads: user-interface thread only. Stopping a stream (double-click,
// delete, destruction) waits for its worker, which never waits for this
// thread (QtListControl posts), so the wait is short.
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
  };
  using FolderBrowserFactory = std::function<std::unique_ptr<FolderBrowser>()>;

  // settingsPath: the settings file; empty means Driftharbour.ini beside the
  // executable.
  explicit CDriftharbourView(std::string settingsPath = {}, QWidget* parent = nullptr);
  ~CDriftharbourView() override;

  // Once, after the view is placed in frame: sizes the form, inserts the
  // columns, loads the settings and the server list, registers the controls
  // with the anchor (the frame's present size becomes its minimum) and
  // refreshes the panel.
  void OnInitialUpdate(QWidget* frame);

  // The form's size in pixels (370 x 125 dialog units of Arial 8 pt).
  QSize FormSize() const;
  QSize sizeHint() const override;

  // Starts recording each URL: an entry already in the list with that URL
  // is started (unless it records), any other URL is added first, as Add
  // Server would add it. Empty texts are skipped.
  void RecordUrls(const std::vector<std::string>& urls);

  // Commands and list notifications.
  void OnAddServer();
  void OnSaveServerList();
  void OnBrowse();
  void OnFileSplitting();
  void OnSmartSplitting();
  void OnDblclkServerList();
  void OnClickServerList();
  // Delete or Backspace: asks, then deletes the selected entries.
  void OnKeydownServerList(int key);
  void UpdateDetailPanel();

  // Places the controls again after the frame moved or changed size.
  void Relayout() { anchor.Relayout(); }
  LayoutAnchor& Anchor() { return anchor; }
  SettingsStore& Store() { return store; }
  QtListControl& List() { return listControl; }
  // Replaces the folder chooser (tests answer for the user).
  void SetFolderBrowserFactory(FolderBrowserFactory factory);

  // The row selected in the list, -1 when none.
  int SelectedRow() const;
  QTreeWidget* ServerList() const { return serverList; }
  QWidget* Control(AnchorControlId control) const;

  // AnchorView.
  AnchorSize ClientSize() const override;
  std::optional<AnchorRect> ControlRect(AnchorControlId control) const override;
  int ControlClientWidth(AnchorControlId control) const override;
  void PlaceControl(AnchorControlId control, const AnchorRect& rect) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // After the presenters wrote rows: writer problems, and why an entry
  // fails to connect in its State cell's tool tip and the status line.
  void DecorateRows(const QList<int>& rows);
  // Marks rows whose entry could not write its file: the reason goes into
  // the Current Title cell and the row's tool tip.
  void ShowWriterProblems(const QList<int>& rows);
  // "Error on connecting: <reason>" for an entry that fails, else empty.
  static QString FailureText(const ServerRowPresenter& presenter);
  // Shows the selected entry's failure beside its switches.
  void UpdateStatusLine();
  // Every presenter at or below row writes its row again.
  void RefreshRowsFrom(int row);
  QString QuestionForDeletion(int count) const;
  // Passes a switch's new state to the selected entry through set, when the
  // entry is idle, and shows the panel again.
  void ApplySwitch(bool on, bool (SettingsStore::*set)(int, bool));

  // Child widgets, owned by this view through Qt.
  QLabel* hint = nullptr;
  QLabel* statusLine = nullptr;
  QLabel* directoryLabel = nullptr;
  QCheckBox* smartSplittingSwitch = nullptr;
  QCheckBox* fileSplittingSwitch = nullptr;
  QPushButton* browseButton = nullptr;
  QLineEdit* directoryField = nullptr;
  QLabel* backdrop = nullptr;
  QTreeWidget* serverList = nullptr;

  const std::string settingsPath;
  FolderBrowserFactory folderBrowserFactory;
  bool initialized = false;

  QtListControl listControl;
  SettingsStore store;
  LayoutAnchor anchor;
};
