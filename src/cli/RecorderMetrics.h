#pragma once

#include <vector>

#include "base/Mutex.h"
#include "cli/MetricsPage.h"
#include "cli/StreamMetrics.h"

// The recorder's metrics in the Prometheus text format, gathered at each
// scrape from the StreamMetrics of every entry that records now:
//
//   driftharbour_stream_state{entry,url}                 connection state (code below)
//   driftharbour_stream_received_bytes_total{entry,url}  audio bytes received
//   driftharbour_stream_written_bytes_total{entry,url}   audio bytes written to files
//   driftharbour_stream_files_written_total{entry,url}   files created
//   driftharbour_stream_reconnects_total{entry,url}      connection attempts after the first
//   driftharbour_stream_seconds_since_audio{entry,url}   see StreamMetrics::Sample
//   driftharbour_stream_write_errors_total{entry,url}    failed creates, writes and syncs
//   driftharbour_streams{state}                          entries per state
//   driftharbour_show_next_start_seconds{entry,url}      Unix time the next show's recording starts (0: none)
//   driftharbour_shows_recorded_total{entry,url}         shows that recorded audio
//   driftharbour_shows_missed_total{entry,url}           shows that could not connect throughout
// (the show figures only for entries with schedules)
//
// entry is the entry's name in the console lines ("[3]" in URL mode,
// "[3f09a1c2]" in --settings mode, see EntryIds), which a reload that only
// renumbers the list leaves alone; url is its URL in UTF-8. State codes are StreamState's: 2 disconnected, 3
// connecting, 4 connected, 5 error on connecting, 6 error when preparing
// the buffer. The per-entry counters start from 0 when an entry (re)starts.
//
// Threads: the recorder's main thread adds and removes streams; Collect runs
// on a thread of the endpoint's server (MetricsEndpoint).
//
// `mutex` guards the list; taken by the main thread and by a scrape, which
// holds it while it reads the figures (a few milliseconds for ten thousand
// streams), so Remove returns only once no scrape reads the stream or its
// writer any more: the caller may then destroy both. The workers never take
// it.
class RecorderMetrics {
 public:
  // stream is not owned; it stays listed until Remove.
  void Add(StreamMetrics* stream) EXCLUDES(mutex);
  void Remove(const StreamMetrics* stream) EXCLUDES(mutex);
  size_t StreamCount() const EXCLUDES(mutex);

  std::vector<metrics::Family> Collect() const EXCLUDES(mutex);

  // The state label of driftharbour_streams: "connected",
  // "error_on_connecting", ...
  static const char* StateLabel(StreamState state);

 private:
  mutable Mutex mutex;
  std::vector<StreamMetrics*> streams GUARDED_BY(mutex);  // not owned
};
