#include "app/ServerRowPresenter.h"

#include <utility>

#include "app/ListControl.h"
#include "text/ByteText.h"

namespace {

constexpr uint32_t kMillion = 1000000;
// The most whole millions one ByteCounter::Add can take: 2147 millions.
constexpr uint32_t kMillionsPerAdd = 2147;

}  // namespace

ServerRowPresenter::ServerRowPresenter() {
  received.Set(0);
  receivedComplete.Set(0);
}

ServerRowPresenter::~ServerRowPresenter() {
  MutexLock lock(mutex);
  list = nullptr;
  writer = nullptr;
  stream = nullptr;
}

bool ServerRowPresenter::Attach(ListControl* listControl, std::string entryUrl) {
  MutexLock lock(mutex);
  if (listControl == nullptr) {
    return false;
  }
  list = listControl;
  url = std::move(entryUrl);
  RefreshLocked();
  return true;
}

void ServerRowPresenter::Detach() {
  MutexLock lock(mutex);
  DetachLocked();
}

void ServerRowPresenter::DetachLocked() {
  list = nullptr;
  rowIndex = -1;
}

void ServerRowPresenter::Refresh() {
  MutexLock lock(mutex);
  RefreshLocked();
}

void ServerRowPresenter::RefreshLocked() {
  if (list == nullptr) {
    return;
  }
  try {
    if (rowIndex == -1) {
      const int inserted = list->InsertRow(list->RowCount(), url);
      rowIndex = inserted < 0 ? -1 : inserted;
    }
    if (rowIndex != -1) {
      list->SetCellText(rowIndex, kStateColumn, stateText);
      list->SetCellText(rowIndex, kBitrateColumn, bitrate);
      list->SetCellText(rowIndex, kReceivedColumn, received.FormatDisplay());
      list->SetCellText(rowIndex, kTitleColumn, title);
      list->SetCellText(rowIndex, kReceivedCompleteColumn, receivedComplete.FormatDisplay());
      list->SetCellText(rowIndex, kStationNameColumn, stationName);
    }
    for (int column = 0; column < kColumnCount; ++column) {
      list->FitColumnWidth(column);
    }
  } catch (...) {
    // A row that cannot be shown must not end the stream's connection: the
    // next event tries again.
  }
}

void ServerRowPresenter::OnText(StreamEvent kind, std::string text) {
  MutexLock lock(mutex);
  switch (kind) {
    case StreamEvent::Title:
      title = std::move(text);
      break;
    case StreamEvent::Bitrate:
      bitrate = std::move(text);
      break;
    case StreamEvent::Name:
      stationName = std::move(text);
      break;
    case StreamEvent::State:
      stateText = std::move(text);
      break;
    case StreamEvent::Received:
      received = ReadCount(text);
      break;
    case StreamEvent::ReceivedComplete:
      receivedComplete = ReadCount(text);
      break;
    case StreamEvent::Reason:
      // Shown by the window beside the state (tool tip, detail panel); the
      // row is written again so that it notices.
      reason = std::move(text);
      break;
    case StreamEvent::Source:
      source = std::move(text);
      break;
    case StreamEvent::Station:
      stationText = std::move(text);
      break;
    default:
      return;  // Url and unknown kinds are shown nowhere
  }
  RefreshLocked();
}

int ServerRowPresenter::RowIndex() const {
  MutexLock lock(mutex);
  return rowIndex;
}

void ServerRowPresenter::OnRowRemoved(int removedIndex) {
  MutexLock lock(mutex);
  if (removedIndex < 0 || rowIndex < 0) {
    return;
  }
  if (removedIndex == rowIndex) {
    // Our own row is gone; writing on would overwrite the row that took its
    // place, and a later Refresh would append a stray row.
    DetachLocked();
  } else if (removedIndex < rowIndex) {
    --rowIndex;
  }
}

std::string ServerRowPresenter::LastReason() const {
  MutexLock lock(mutex);
  return reason;
}

std::string ServerRowPresenter::SourceUrl() const {
  MutexLock lock(mutex);
  return source;
}

std::string ServerRowPresenter::StationText() const {
  MutexLock lock(mutex);
  return stationText;
}

std::string ServerRowPresenter::StateText() const {
  MutexLock lock(mutex);
  return stateText;
}

std::string ServerRowPresenter::Url() const {
  MutexLock lock(mutex);
  return url;
}

std::string ServerRowPresenter::DownloadDirectory() const {
  MutexLock lock(mutex);
  return downloadDirectory;
}

void ServerRowPresenter::SetDownloadDirectory(std::string directory) {
  MutexLock lock(mutex);
  downloadDirectory = std::move(directory);
}

RecordingOptions ServerRowPresenter::Options() const {
  MutexLock lock(mutex);
  return options;
}

void ServerRowPresenter::SetOptions(const RecordingOptions& newOptions) {
  MutexLock lock(mutex);
  options = newOptions;
}

bool ServerRowPresenter::FileSplitting() const {
  MutexLock lock(mutex);
  return fileSplitting;
}

void ServerRowPresenter::SetFileSplitting(bool on) {
  MutexLock lock(mutex);
  fileSplitting = on;
}

bool ServerRowPresenter::SmartSplitting() const {
  MutexLock lock(mutex);
  return smartSplitting;
}

void ServerRowPresenter::SetSmartSplitting(bool on) {
  MutexLock lock(mutex);
  smartSplitting = on;
}

RecordingWriter* ServerRowPresenter::Writer() const {
  MutexLock lock(mutex);
  return writer;
}

void ServerRowPresenter::SetWriter(RecordingWriter* entryWriter) {
  MutexLock lock(mutex);
  writer = entryWriter;
}

ServerStream* ServerRowPresenter::Stream() const {
  MutexLock lock(mutex);
  return stream;
}

void ServerRowPresenter::SetStream(ServerStream* entryStream) {
  MutexLock lock(mutex);
  stream = entryStream;
}

ByteCounter ServerRowPresenter::ReadCount(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && ByteText::IsBlank(text[at])) {
    ++at;
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  // The value is kept as whole millions plus a remainder, like the stream's
  // own counter, so that counts past 4 GB (three days of a 128 kbit/s
  // station) are not cut down to 32 bits. The millions wrap at 2^32 exactly
  // as the stream's counter does.
  uint32_t millions = 0;
  uint32_t remainder = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    remainder = remainder * 10 + static_cast<uint32_t>(text[at] - '0');
    millions = millions * 10 + remainder / kMillion;
    remainder %= kMillion;
  }
  ByteCounter count;
  if (negative) {
    return count;  // a byte count is never negative
  }
  count.Set(remainder);
  for (; millions >= kMillionsPerAdd; millions -= kMillionsPerAdd) {
    count.Add(static_cast<int32_t>(kMillionsPerAdd * kMillion));
  }
  count.Add(static_cast<int32_t>(millions * kMillion));
  return count;
}
