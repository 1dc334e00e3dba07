#include "ui/RowDecoration.h"

#include <QTreeWidgetItem>

#include "app/ServerRowPresenter.h"
#include "ui/DisplayText.h"
#include "ui/RowStatus.h"

namespace {

// Where a row whose file could not be written keeps the title the presenter
// wrote and the text shown instead.
constexpr int kPlainTitleRole = Qt::UserRole;
constexpr int kShownTitleRole = Qt::UserRole + 1;
// When the window last saw the entry of a row fail to connect (on its State
// cell): each failed try writes the row once more.
constexpr int kLastTryRole = Qt::UserRole + 2;

}  // namespace

void RowDecoration::Apply(QTreeWidgetItem& item, const ServerRowPresenter& presenter, const QBrush& notLive,
                          const QString& showNote) {
  constexpr int kState = ServerRowPresenter::kStateColumn;
  constexpr int kTitle = ServerRowPresenter::kTitleColumn;
  const QString presenterState = DisplayText::FromBytes(presenter.StateText());
  // Every row written while the entry fails is one more failed try.
  if (RowStatus::IsConnectFailure(presenterState)) {
    item.setData(kState, kLastTryRole, QDateTime::currentDateTime());
  }
  const RowStatus status = RowStatus::Of(presenter, LastTry(item));
  if (item.text(kState) != status.state) {
    item.setText(kState, status.state);
  }
  ShowWriterProblem(item, status.writeError ? status.toolTip : QString());
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    item.setToolTip(column, status.writeError ? status.toolTip : QString());
  }
  item.setToolTip(kState, showNote.isEmpty()          ? status.toolTip
                          : status.toolTip.isEmpty() ? showNote
                                                     : status.toolTip + QLatin1Char('\n') + showNote);
  // Where the audio really comes from, when a playlist or HLS stands between.
  if (!status.writeError) {
    item.setToolTip(ServerRowPresenter::kUrlColumn, SourceText(presenter));
  }
  if (!status.writeError && !item.text(kTitle).isEmpty()) {
    // The column may be narrower than a long title.
    item.setToolTip(kTitle, item.text(kTitle));
  }
  // What the server announced for an earlier connection is not live.
  for (const int column : {ServerRowPresenter::kBitrateColumn, kTitle, ServerRowPresenter::kStationNameColumn}) {
    if (column == kTitle && status.writeError) {
      item.setForeground(column, QBrush(Qt::red));
    } else if (status.connected) {
      item.setData(column, Qt::ForegroundRole, QVariant());
    } else {
      item.setForeground(column, notLive);
    }
  }
}

QDateTime RowDecoration::LastTry(const QTreeWidgetItem& item) {
  return item.data(ServerRowPresenter::kStateColumn, kLastTryRole).toDateTime();
}

QString RowDecoration::SourceText(const ServerRowPresenter& presenter) {
  const std::string source = presenter.SourceUrl();
  if (source.empty()) {
    return {};
  }
  const std::string station = presenter.StationText();
  return station.empty() ? QStringLiteral("Stream: %1").arg(DisplayText::FromBytes(source))
                         : QStringLiteral("Stream: %1 (%2)")
                               .arg(DisplayText::FromBytes(source), DisplayText::FromBytes(station));
}

void RowDecoration::ShowWriterProblem(QTreeWidgetItem& item, const QString& problem) {
  constexpr int kTitle = ServerRowPresenter::kTitleColumn;
  // The presenter's title, unless the cell still shows our earlier text.
  QString title = item.text(kTitle);
  const bool decorated = item.data(kTitle, kShownTitleRole).isValid();
  if (decorated && title == item.data(kTitle, kShownTitleRole).toString()) {
    title = item.data(kTitle, kPlainTitleRole).toString();
  }
  if (problem.isEmpty()) {
    if (decorated) {
      item.setText(kTitle, title);
      item.setData(kTitle, kPlainTitleRole, QVariant());
      item.setData(kTitle, kShownTitleRole, QVariant());
    }
    return;
  }
  const QString shown =
      title.isEmpty() ? QStringLiteral("[%1]").arg(problem) : QStringLiteral("%1 [%2]").arg(title, problem);
  if (decorated && item.text(kTitle) == shown) {
    return;
  }
  item.setText(kTitle, shown);
  item.setData(kTitle, kPlainTitleRole, title);
  item.setData(kTitle, kShownTitleRole, shown);
}
