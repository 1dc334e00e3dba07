#include "ui/DetailPanel.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>

#include <initializer_list>
#include <utility>

#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "stream/ServerStream.h"
#include "stream/StreamState.h"
#include "ui/DialogUnits.h"
#include "ui/DisplayText.h"
#include "ui/EntryList.h"
#include "ui/FolderBrowser.h"
#include "ui/FormControls.h"
#include "ui/RowDecoration.h"
#include "ui/RowStatus.h"
#include "ui/ScheduleText.h"

namespace {

// An entry's settings may change only while its stream is idle: shown as
// Disconnected and not started. A stream that has just been started still
// shows Disconnected until its worker runs, so the state alone would let a
// click through in that moment.
bool IsIdle(const ServerStream& stream) {
  return stream.IsStopped() && stream.GetState() == StreamState::Disconnected;
}

}  // namespace

DetailPanel::DetailPanel(QWidget* formWidget, const EntryList& entryList, SettingsStore& settingsStore)
    : QObject(formWidget),
      form(formWidget),
      list(entryList),
      store(settingsStore),
      browseButton(new QPushButton(QStringLiteral("Browse"), form)),
      directoryField(new QLineEdit(form)),
      directoryLabel(new QLabel(QStringLiteral("Save Directory:"), form)),
      smartSplittingSwitch(new QCheckBox(QStringLiteral("Enable Smart Splitting"), form)),
      fileSplittingSwitch(new QCheckBox(QStringLiteral("Enable File Splitting"), form)),
      cutAtSilenceSwitch(new QCheckBox(QStringLiteral("Cut at silence"), form)),
      tagsSwitch(new QCheckBox(QStringLiteral("Write tags"), form)),
      keepPartialApartSwitch(new QCheckBox(QStringLiteral("Keep partial songs apart"), form)),
      backdrop(new QLabel(form)),
      statusLine(new QLabel(form)),
      folderBrowserFactory([] { return std::make_unique<FolderBrowser>(); }) {
  const DialogUnits units(form->font());
  browseButton->setGeometry(units.Rect(310, 90, 50, 14));
  directoryField->setReadOnly(true);
  directoryField->setGeometry(units.Rect(65, 90, 230, 14));
  directoryLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  directoryLabel->setGeometry(units.Rect(5, 90, 55, 14));
  smartSplittingSwitch->setGeometry(units.Rect(125, 108, 115, 10));
  fileSplittingSwitch->setGeometry(units.Rect(5, 108, 115, 10));
  cutAtSilenceSwitch->setToolTip(QStringLiteral("Cut each song at the quietest moment near the title change"));
  cutAtSilenceSwitch->setGeometry(units.Rect(245, 108, 115, 10));
  tagsSwitch->setToolTip(QStringLiteral("Tag each file with artist, title, station and URL when it is closed"));
  tagsSwitch->setGeometry(units.Rect(5, 120, 115, 10));
  keepPartialApartSwitch->setToolTip(QStringLiteral("File songs that are not whole under incomplete/"));
  keepPartialApartSwitch->setGeometry(units.Rect(125, 120, 115, 10));
  backdrop->setGeometry(units.Rect(0, 85, 370, 62));
  // The anchor raises every control it places; the empty backdrop must not
  // take the clicks meant for the controls in front of it.
  backdrop->setAttribute(Qt::WA_TransparentForMouseEvents);
  // Why the selected entry does not record, under its switches.
  statusLine->setGeometry(units.Rect(5, 133, 360, 10));
  statusLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette statusPalette = statusLine->palette();
  statusPalette.setColor(QPalette::WindowText, Qt::red);
  statusLine->setPalette(statusPalette);
  backdrop->lower();

  connect(browseButton, &QPushButton::clicked, this, &DetailPanel::OnBrowse);
  connect(fileSplittingSwitch, &QCheckBox::clicked, this, &DetailPanel::OnFileSplitting);
  connect(smartSplittingSwitch, &QCheckBox::clicked, this, &DetailPanel::OnSmartSplitting);
  connect(cutAtSilenceSwitch, &QCheckBox::clicked, this, &DetailPanel::OnCutAtSilence);
  connect(tagsSwitch, &QCheckBox::clicked, this, &DetailPanel::OnTags);
  connect(keepPartialApartSwitch, &QCheckBox::clicked, this, &DetailPanel::OnKeepPartialApart);
}

DetailPanel::~DetailPanel() = default;

QWidget* DetailPanel::Widget(AnchorControlId control) const {
  switch (control) {
    case FormControl::kSmartSplitting:
      return smartSplittingSwitch;
    case FormControl::kFileSplitting:
      return fileSplittingSwitch;
    case FormControl::kDirectoryField:
      return directoryField;
    case FormControl::kBrowse:
      return browseButton;
    case FormControl::kBackdrop:
      return backdrop;
    case FormControl::kDirectoryLabel:
      return directoryLabel;
    case FormControl::kStatusLine:
      return statusLine;
    case FormControl::kCutAtSilence:
      return cutAtSilenceSwitch;
    case FormControl::kTags:
      return tagsSwitch;
    case FormControl::kKeepPartialApart:
      return keepPartialApartSwitch;
    default:
      return nullptr;
  }
}

void DetailPanel::SetFolderBrowserFactory(FolderBrowserFactory factory) {
  folderBrowserFactory = std::move(factory);
}

void DetailPanel::Show() {
  const int row = list.SelectedRow();
  const bool selected = row != -1;
  for (QWidget* control :
       {static_cast<QWidget*>(smartSplittingSwitch), static_cast<QWidget*>(fileSplittingSwitch),
        static_cast<QWidget*>(cutAtSilenceSwitch), static_cast<QWidget*>(tagsSwitch),
        static_cast<QWidget*>(keepPartialApartSwitch), static_cast<QWidget*>(browseButton),
        static_cast<QWidget*>(directoryField), static_cast<QWidget*>(directoryLabel)}) {
    control->setEnabled(selected);
  }
  ShowStatus();
  if (!selected) {
    return;
  }
  if (const ServerRowPresenter* presenter = store.RowAt(row)) {
    directoryField->setText(DisplayText::FromBytes(presenter->DownloadDirectory()));
    directoryField->setCursorPosition(0);
    fileSplittingSwitch->setChecked(presenter->FileSplitting());
    smartSplittingSwitch->setChecked(presenter->SmartSplitting());
    const RecordingOptions options = presenter->Options();
    cutAtSilenceSwitch->setChecked(options.cutAtSilence);
    tagsSwitch->setChecked(options.tags);
    keepPartialApartSwitch->setChecked(options.keepPartialApart);
  }
  if (const ServerStream* stream = store.StreamAt(row)) {
    const bool idle = IsIdle(*stream);
    for (QWidget* control :
         {static_cast<QWidget*>(browseButton), static_cast<QWidget*>(smartSplittingSwitch),
          static_cast<QWidget*>(fileSplittingSwitch), static_cast<QWidget*>(cutAtSilenceSwitch),
          static_cast<QWidget*>(tagsSwitch), static_cast<QWidget*>(keepPartialApartSwitch)}) {
      control->setEnabled(idle);
    }
  }
}

void DetailPanel::ShowStatus() {
  const int row = list.SelectedRow();
  const ServerRowPresenter* presenter = row == -1 ? nullptr : store.RowAt(row);
  QString text;
  QString tip;
  bool failure = false;
  if (presenter != nullptr) {
    const RowStatus status = RowStatus::Of(*presenter, list.LastTry(row));
    text = status.panel;
    tip = status.toolTip;
    if (text.isEmpty()) {
      text = RowDecoration::SourceText(*presenter);
      tip = text;
    }
    if (text.isEmpty()) {
      text = ScheduleText::EntryLine(store, row);
      tip = text;
    }
    failure = !status.panel.isEmpty();
  }
  // Red for a problem, the usual colour for where the audio comes from.
  QPalette palette = statusLine->palette();
  const QColor wanted = failure ? QColor(Qt::red) : list.Tree()->palette().color(QPalette::WindowText);
  if (palette.color(QPalette::WindowText) != wanted) {
    palette.setColor(QPalette::WindowText, wanted);
    statusLine->setPalette(palette);
  }
  if (statusLine->toolTip() != tip || statusLine->property("fullText").toString() != text) {
    statusLine->setToolTip(tip);
    statusLine->setProperty("fullText", text);
    statusLine->setText(statusLine->fontMetrics().elidedText(text, Qt::ElideRight, statusLine->width()));
  }
}

void DetailPanel::Refresh() {
  Show();
  emit refreshed();
}

void DetailPanel::OnBrowse() {
  if (list.SelectedRow() == -1) {
    return;
  }
  const ServerStream* stream = store.StreamAt(list.SelectedRow());
  if (stream == nullptr) {
    return;
  }
  const bool idle = IsIdle(*stream);
  Refresh();
  if (!idle) {
    return;
  }
  const std::unique_ptr<FolderBrowser> browser = folderBrowserFactory();
  const ServerRowPresenter* presenter = store.RowAt(list.SelectedRow());
  const QString start =
      FolderBrowser::StartingPoint(presenter != nullptr ? DisplayText::FromBytes(presenter->DownloadDirectory()) : QString());
  const QString chosen = browser->Browse(form, QStringLiteral("Please select your download directory!"), start);
  if (chosen.isEmpty()) {
    return;
  }
  // The selection may have moved while the chooser was open.
  const int row = list.SelectedRow();
  if (row == -1) {
    return;
  }
  if (store.RowAt(row) != nullptr) {
    // The store hands the directory to the entry's writer too: recording goes
    // there from the next file on, not only after a restart.
    store.SetEntryDirectory(row, DisplayText::ToBytes(chosen));
    Refresh();
  }
}

void DetailPanel::OnFileSplitting() {
  ApplySwitch(fileSplittingSwitch->isChecked(), &SettingsStore::SetEntryFileSplitting);
}

void DetailPanel::OnSmartSplitting() {
  ApplySwitch(smartSplittingSwitch->isChecked(), &SettingsStore::SetEntrySmartSplitting);
}

void DetailPanel::OnCutAtSilence() { ApplyOption(cutAtSilenceSwitch->isChecked(), &RecordingOptions::cutAtSilence); }

void DetailPanel::OnTags() { ApplyOption(tagsSwitch->isChecked(), &RecordingOptions::tags); }

void DetailPanel::OnKeepPartialApart() {
  ApplyOption(keepPartialApartSwitch->isChecked(), &RecordingOptions::keepPartialApart);
}

void DetailPanel::ApplySwitch(bool on, bool (SettingsStore::*set)(int, bool)) {
  const int row = list.SelectedRow();
  if (row == -1) {
    return;
  }
  const ServerStream* stream = store.StreamAt(row);
  if (store.RowAt(row) == nullptr || stream == nullptr) {
    return;
  }
  // A running entry keeps its switches: the panel shows them back as they are.
  if (IsIdle(*stream)) {
    (store.*set)(row, on);
  }
  Refresh();
}

void DetailPanel::ApplyOption(bool on, bool RecordingOptions::*option) {
  const int row = list.SelectedRow();
  const ServerRowPresenter* presenter = row == -1 ? nullptr : store.RowAt(row);
  const ServerStream* stream = row == -1 ? nullptr : store.StreamAt(row);
  if (presenter == nullptr || stream == nullptr) {
    return;
  }
  if (IsIdle(*stream)) {
    RecordingOptions options = presenter->Options();
    options.*option = on;
    store.SetEntryOptions(row, options);
  }
  Refresh();
}
