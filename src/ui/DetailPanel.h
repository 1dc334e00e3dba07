#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "app/LayoutAnchor.h"
#include "recording/RecordingOptions.h"

class EntryList;
class FolderBrowser;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class SettingsStore;

// The detail panel of the main form: the selected entry's download
// directory with Browse, its File Splitting and Smart Splitting switches,
// its recording options (Cut at silence, Write tags, Keep partial songs
// apart), and a status line under them saying why the entry does not
// record, or else which stream it records when a playlist or HLS stands
// between, or else its next show (ScheduleText).
//
// Show fills the panel from the entry selected in the list. The switches,
// options and Browse act only while that entry's stream is idle
// (Disconnected and not started); every handler checks that again, however
// the panel looked, and shows the panel again afterwards, announcing it
// with refreshed.
//
// Ownership: a child of the form (QObject parent); its widgets are children
// of the form, so that the form's layout anchor places them. The list and
// the store are borrowed and must outlive this object. The folder chooser
// comes from a replaceable factory (tests answer for the user).
//
// Threads: user-interface thread only. An entry's state is read through
// its presenter, the stream's atomic state and the writer's published
// snapshot, never through a lock held across a disk write.
class DetailPanel : public QObject {
  Q_OBJECT

 public:
  using FolderBrowserFactory = std::function<std::unique_ptr<FolderBrowser>()>;

  DetailPanel(QWidget* form, const EntryList& list, SettingsStore& store);
  ~DetailPanel() override;

  // The panel's controls by their FormControl ids; null for any other id.
  QWidget* Widget(AnchorControlId control) const;

  // Shows the selected entry (nothing selected: every control disabled).
  void Show();
  // Shows the selected entry's problem, or the stream it records.
  void ShowStatus();
  void SetFolderBrowserFactory(FolderBrowserFactory factory);

  // The controls' handlers.
  void OnBrowse();
  void OnFileSplitting();
  void OnSmartSplitting();
  void OnCutAtSilence();
  void OnTags();
  void OnKeepPartialApart();

 signals:
  // A handler showed the panel again after acting (or declining to act).
  void refreshed();

 private:
  // Passes a switch's new state to the selected entry through set, when the
  // entry is idle, and shows the panel again.
  void ApplySwitch(bool on, bool (SettingsStore::*set)(int, bool));
  // The same for one of the entry's recording options.
  void ApplyOption(bool on, bool RecordingOptions::*option);
  void Refresh();

  // Constant after construction.
  QWidget* const form;  // the folder chooser's parent
  const EntryList& list;
  SettingsStore& store;
  // Owned by the form through Qt; made in this order.
  QPushButton* const browseButton;
  QLineEdit* const directoryField;
  QLabel* const directoryLabel;
  QCheckBox* const smartSplittingSwitch;
  QCheckBox* const fileSplittingSwitch;
  QCheckBox* const cutAtSilenceSwitch;
  QCheckBox* const tagsSwitch;
  QCheckBox* const keepPartialApartSwitch;
  QLabel* const backdrop;
  QLabel* const statusLine;

  FolderBrowserFactory folderBrowserFactory;
};
