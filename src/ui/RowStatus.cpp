#include "ui/RowStatus.h"

#include <optional>

#include "app/ServerRowPresenter.h"
#include "recording/RecordingWriter.h"
#include "stream/StreamState.h"
#include "ui/DisplayText.h"

bool RowStatus::IsConnectFailure(const QString& state) {
  return state == QLatin1String(StreamStateText(StreamState::ErrorOnConnecting)) ||
         state == QLatin1String(StreamStateText(StreamState::ErrorPreparingBuffer));
}

RowStatus RowStatus::Of(const ServerRowPresenter& presenter, const QDateTime& lastTry) {
  RowStatus status;
  status.state = DisplayText::FromBytes(presenter.StateText());
  status.connected = status.state == QLatin1String(StreamStateText(StreamState::Connected));

  const RecordingWriter* writer = presenter.Writer();
  const std::optional<RecordingWriter::FileError> error = writer != nullptr ? writer->LastError() : std::nullopt;
  if (error) {
    status.writeError = true;
    status.state = QString::fromLatin1(kWriteErrorState);
    const QString path = DisplayText::FromBytes(error->path);
    const QString reason = DisplayText::FromBytes(error->reason);
    status.toolTip = QStringLiteral("Cannot write %1: %2").arg(path, reason);
    status.panel = QStringLiteral("%1: %2: %3").arg(status.state, path, reason);
    return status;
  }

  const std::string reason = presenter.LastReason();
  if (reason.empty() || !IsConnectFailure(status.state)) {
    return status;
  }
  const QString failure = QStringLiteral("%1: %2").arg(status.state, DisplayText::FromBytes(reason));
  if (lastTry.isValid()) {
    const QString when = lastTry.toString(QStringLiteral("HH:mm:ss"));
    status.toolTip = QStringLiteral("%1\nLast try: %2").arg(failure, when);
    status.panel = QStringLiteral("%1 (last try %2)").arg(failure, when);
  } else {
    status.toolTip = failure;
    status.panel = failure;
  }
  return status;
}
