#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Mutex.h"
#include "directory/DirectoryStation.h"
#include "directory/StationDirectory.h"
#include "ui/WakeupPipe.h"

class CDriftharbourView;
class DirectoryWorker;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

// "Find Station": looks stations up by name in the community radio
// directory and adds the chosen ones to the server list, so that a user can
// record a station without knowing its stream URL.
//
// Searching: as the user types into the name field or the genre, country
// and codec filters, a search starts kDebounceMs after the last change, on
// the dialog's DirectoryWorker thread; a newer search calls off an older
// one, and only the newest's answer is shown. The window never waits for
// the network. The status line says "Searching…", how many stations were
// found, or the directory's one error ("the station directory could not be
// reached: …"), which changes nothing else.
//
// Results: name, codec, bit rate, country, votes, sortable by any column
// (numbers as numbers), with the homepage, tags and stream URL in each
// row's tooltip. The first row is selected when results arrive.
//
// Adding: Add (Enter, or a double-click on a row) hands each selected
// station to `add`, which adds it as Add Server does (asking about a URL
// the list has already; see AddToView); each one added counts one click at
// the directory, on the worker. Searching alone never counts one. The
// dialog stays open for more; Close or Escape hides it.
//
// Keyboard: Tab walks the name, filters, results, Add and Close; Down in a
// text field moves into the results.
//
// Threads: user-interface thread only. The worker reports on its own
// thread: it keeps the report under reportMutex and wakes the dialog
// through a WakeupPipe, so no Qt call is made off the dialog's thread. The
// destructor stops the worker first (promptly: its transfer
// is aborted), so no report arrives later. Child widgets belong to the
// dialog through Qt.
class FindStationDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDebounceMs = 300;
  // Stations asked for per search.
  static constexpr int32_t kResultLimit = 100;

  // Adds one station; true when it was added.
  using AddStation = std::function<bool(const DirectoryStation& station)>;

  FindStationDialog(StationDirectory::Settings settings, AddStation add, QWidget* parent = nullptr);
  ~FindStationDialog() override;

  // Adds station to view's list as Add Server adds a URL (asking about a
  // duplicate), and shows the station's name in its Station column and
  // names untitled audio after it until the server names itself. True when
  // an entry was added.
  static bool AddToView(CDriftharbourView& view, const DirectoryStation& station);

  // The stations the results table shows, in the directory's order.
  const std::vector<DirectoryStation>& Stations() const { return stations; }

  // For tests and the keyboard.
  QLineEdit* NameField() const { return nameField; }
  QLineEdit* TagField() const { return tagField; }
  QLineEdit* CountryField() const { return countryField; }
  QComboBox* CodecBox() const { return codecBox; }
  QTableWidget* Results() const { return results; }
  QPushButton* AddButton() const { return addButton; }
  QLabel* StatusLine() const { return statusLine; }

  // Adds the selected stations (Add).
  void AddSelected();

 signals:
  // A search's answer is shown (count stations, or an error).
  void resultsShown(int count);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum Column { kName, kCodec, kBitrate, kCountry, kVotes, kColumnCount };

  // The filters changed: a search once the user pauses.
  void ScheduleSearch();
  void StartSearch();
  void ShowResults(uint64_t searchId, std::vector<DirectoryStation> found, const std::string& error);
  void UpdateAddButton();
  // Shows the worker's report, if one waits (on wakeup).
  void TakeReport() EXCLUDES(reportMutex);

  AddStation add;
  std::vector<DirectoryStation> stations;
  uint64_t shownSearch = 0;  // the newest search asked for

  // Child widgets, owned through Qt.
  QLineEdit* nameField = nullptr;
  QLineEdit* tagField = nullptr;
  QLineEdit* countryField = nullptr;
  QComboBox* codecBox = nullptr;
  QTableWidget* results = nullptr;
  QPushButton* addButton = nullptr;
  QLabel* statusLine = nullptr;
  QTimer* debounce = nullptr;

  // The worker's newest report, handed over without Qt: the worker stores it
  // and wakes this dialog's thread through the pipe. `reportMutex` guards
  // `report`; the worker's thread and the user-interface thread take it.
  struct Report {
    uint64_t searchId = 0;
    std::vector<DirectoryStation> found;
    std::string error;
  };
  Mutex reportMutex;
  std::unique_ptr<Report> report GUARDED_BY(reportMutex);  // null when none waits
  WakeupPipe wakeup;

  // Last, so that it is created once the widgets exist, and stopped first.
  std::unique_ptr<DirectoryWorker> worker;
};
