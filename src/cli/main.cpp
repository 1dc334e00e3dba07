// driftharbour-record: records internet radio streams without a window.
#include <curl/curl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/ConsoleOutput.h"
#include "cli/ConsoleReporter.h"
#include "cli/MetricsEndpoint.h"
#include "cli/Recorder.h"
#include "cli/RecorderMetrics.h"
#include "cli/RecorderOptions.h"
#include "cli/SettingsRecorder.h"
#include "cli/SignalWait.h"
#include "cli/StartPacer.h"
#include "cli/StationFinder.h"
#include "media/MediaLoader.h"
#include "recording/FileSyncer.h"
#include "stream/WorkerThread.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(250);
constexpr auto kPlainProgressInterval = std::chrono::seconds(5);
// While entries wait to start, the loop wakes at least this often.
constexpr auto kStartSlice = std::chrono::milliseconds(10);
// What one recording stream holds open: its socket, the wake-up pair of
// curl's multi handle, and the file it writes.
constexpr rlim_t kDescriptorsPerStream = 4;
// Standard streams, the syncer's duplicates, the metrics server, curl's
// resolver, a playlist being fetched.
constexpr rlim_t kSpareDescriptors = 64;
// How much later a worker's timeouts may fire; none of them is precise to a
// tenth of a second (a one-second poll, a one-second retry).
constexpr auto kWorkerTimerSlack = std::chrono::milliseconds(100);

// Makes room for `streams` recording streams: the soft descriptor limit goes
// up to the hard one, and the hard one up too where the process may raise
// it (root, CAP_SYS_RESOURCE). Returns how many streams the limit holds.
rlim_t MakeRoomForStreams(size_t streams) {
  const rlim_t needed = static_cast<rlim_t>(streams) * kDescriptorsPerStream + kSpareDescriptors;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) {
    return 0;
  }
  if (files.rlim_max != RLIM_INFINITY && files.rlim_max < needed) {
    const rlimit raised{needed, needed};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      files = raised;
    }
  }
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur == RLIM_INFINITY) {
    return static_cast<rlim_t>(streams);
  }
  return files.rlim_cur > kSpareDescriptors ? (files.rlim_cur - kSpareDescriptors) / kDescriptorsPerStream : 0;
}

// A warning when the descriptor limit cannot hold every stream: past it,
// connections and files fail at random, also for streams already recording.
void CheckDescriptors(size_t streams, ConsoleOutput& console) {
  const rlim_t room = MakeRoomForStreams(streams);
  if (room < streams) {
    console.Say(LogLevel::Warning, "the limit of open files holds about " + std::to_string(room) + " streams, not " +
                                       std::to_string(streams) +
                                       ": raise it (LimitNOFILE=, ulimit -n) or split the list with --shard");
  }
}

std::string ShardNote(const RecorderOptions& options, size_t taken, size_t listed) {
  if (options.shard.Count() < 2) {
    return {};
  }
  return "shard " + options.shard.Text() + " records " + std::to_string(taken) + " of " + std::to_string(listed) +
         " entries";
}

// SIGHUP: only the settings mode has a file to read again.
void Reload(Recorder&, const RecorderOptions&, ConsoleOutput&) {}

void Reload(SettingsRecorder& recorder, const RecorderOptions& options, ConsoleOutput& console) {
  const SettingsRecorder::ReloadResult result = recorder.Reload();
  if (!result.read) {
    console.Say(LogLevel::Warning, "cannot read the settings file " + options.settingsFile + " again; the " +
                                       std::to_string(recorder.EntryCount()) + " entries record on as they were");
    return;
  }
  std::string line = "reloaded " + options.settingsFile + ": " + std::to_string(result.unchanged) + " unchanged, " +
                     std::to_string(result.restarted) + " restarted, " + std::to_string(result.stopped) +
                     " stopped, " + std::to_string(result.added) + " added";
  const std::string shard = ShardNote(options, static_cast<size_t>(recorder.EntryCount()), recorder.ListedCount());
  if (!shard.empty()) {
    line += "; " + shard;
  }
  console.Say(LogLevel::Notice, line);
  CheckDescriptors(static_cast<size_t>(recorder.EntryCount()), console);
}

// Starts the entries (paced), shows the lines until the duration ends or a
// stop signal arrives, reloads on SIGHUP, switches shows when the schedule's
// timer wakes it, then stops every entry and shows the last lines. While no
// stream runs (between shows) it sleeps until the next show, a signal or
// the end of the duration. Returns the exit status: 0 when every entry
// without schedules recorded audio, else 1, after a last line that names
// the entries that recorded nothing and why.
template <typename AnyRecorder>
int Record(AnyRecorder& recorder, const RecorderOptions& options, const sigset_t& signals, ConsoleOutput& console) {
  SignalWait sleeper(signals);
  bool idleShown = false;
  bool mediaFailureShown = false;
  const auto start = Clock::now();
  StartPacer pacer(options.startsPerSecond, start);
  size_t waiting = recorder.StartWaiting(pacer.Take(start));
  bool paced = waiting > 0;
  auto lastShow = start;
  auto lastProgress = start;
  for (;;) {
    std::optional<std::chrono::milliseconds> wait = std::chrono::duration_cast<std::chrono::milliseconds>(kTick);
    if (waiting > 0) {
      wait = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(pacer.UntilNext()),
                        std::chrono::milliseconds(1), kStartSlice);
    } else if (recorder.Idle()) {
      // One more turn shows the last lines; then nothing runs until a show.
      if (idleShown) {
        wait.reset();
      }
      idleShown = true;
    } else {
      idleShown = false;
    }
    if (options.durationSeconds > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          start + std::chrono::seconds(options.durationSeconds) - Clock::now());
      wait = std::min(wait.value_or(left), left);
    }
    const SignalWait::Result woke = sleeper.Wait(recorder.Shows().WakeFd(), wait);
    const int signal = woke.signal;
    if (woke.ready) {
      recorder.Shows().OnWake();
      idleShown = false;
    }
    auto now = Clock::now();
    if (signal == SIGHUP) {
      Reload(recorder, options, console);
      now = Clock::now();
      waiting = recorder.StartWaiting(pacer.Take(now));
      paced = paced || waiting > 0;
    } else if (signal > 0) {
      break;
    }
    if (options.durationSeconds > 0 && now - start >= std::chrono::seconds(options.durationSeconds)) {
      break;
    }
    if (waiting > 0) {
      waiting = recorder.StartWaiting(pacer.Take(now));
      if (waiting == 0 && paced) {
        console.Say(LogLevel::Info, "every stream started, " + std::to_string(recorder.EntryCount()) + " in all");
        paced = false;
      }
    }
    if (now - lastShow < kTick && signal != SIGHUP && !woke.ready) {
      continue;
    }
    lastShow = now;
    // A stream needed FFmpeg and the media module would not load: said once.
    // HLS streams also carry it as their reason; cutting at silence goes on
    // with the titles where they came.
    if (!mediaFailureShown) {
      if (const std::string failure = MediaLoader::Process().Failure(); !failure.empty()) {
        console.Say(LogLevel::Warning, "HLS and cutting at silence are unavailable: " + failure);
        mediaFailureShown = true;
      }
    }
    const bool progressDue = now - lastProgress >= kPlainProgressInterval;
    if (progressDue) {
      lastProgress = now;
    }
    const size_t wanted = console.ProgressWanted(progressDue);
    console.Show(recorder.TakeLogLines(), wanted > 0 ? recorder.ProgressLines(wanted) : std::vector<std::string>(),
                 static_cast<size_t>(recorder.EntryCount()));
  }
  recorder.StopAll();
  console.Finish(recorder.TakeLogLines(), recorder.ProgressLines());
  const std::string nothing = ConsoleReporter::NothingRecordedLine(recorder.UnscheduledReporters());
  if (nothing.empty()) {
    return 0;
  }
  console.Say(LogLevel::Error, nothing);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const RecorderArguments arguments = ParseRecorderArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (arguments.help) {
    std::fputs(RecorderUsage().c_str(), stdout);
    return 0;
  }
  if (arguments.version) {
    std::fputs(RecorderVersion().c_str(), stdout);
    return 0;
  }
  if (!arguments.error.empty()) {
    std::fprintf(stderr, "driftharbour-record: %s\n%s", arguments.error.c_str(), RecorderUsage().c_str());
    return 2;
  }
  RecorderOptions options = arguments.options;  // --find --pick fills in the URL
  const bool settingsMode = !options.settingsFile.empty();

  // Signals are taken by the main loop alone: block them before any thread
  // starts, so every thread inherits the mask. SIGHUP reads a settings file
  // again; without one it keeps its default action, as it always had.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (settingsMode) {
    sigaddset(&signals, SIGHUP);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Thousands of workers each wake about once a second; letting their
  // timeouts gather and their wakeups queue instead of preempt cut the CPU
  // time per stream by about a quarter (bench/cost.py, 3,333 streams).
  WorkerThread::SetScheduling({kWorkerTimerSlack, true});

  const char* journalStream = std::getenv("JOURNAL_STREAM");  // NOLINT(concurrency-mt-unsafe): no thread runs yet
  ConsoleOutput console(stdout, stderr, ConsoleOutput::StandardOutputMode(journalStream),
                        ConsoleOutput::StandardErrorToJournal(journalStream), options.quiet);

  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    console.Say(LogLevel::Error, "cannot initialise the network library");
    return 1;
  }

  if (options.find) {
    StationDirectory::Settings directory;
    directory.cacheDirectory = DirectoryCache::DefaultDirectory();
    // Ctrl+C ends a search that waits for the network, as it would any
    // program; the main loop takes the signals again from the recording on.
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    const StationFinder::Outcome found = StationFinder::Find(options, std::move(directory), stdout, console);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (!found.record) {
      curl_global_cleanup();
      return found.status;
    }
  }

  // Before any recording, so that a port in use ends the program at once.
  std::shared_ptr<RecorderMetrics> metrics;
  std::unique_ptr<MetricsEndpoint> endpoint;
  if (options.metrics) {
    metrics = std::make_shared<RecorderMetrics>();
    try {
      endpoint = std::make_unique<MetricsEndpoint>(options.metricsAddress, options.metricsPort, metrics);
    } catch (const std::runtime_error& error) {
      console.Say(LogLevel::Error, error.what());
      curl_global_cleanup();
      return 1;
    }
    console.Say(LogLevel::Info, "metrics at " + endpoint->Url());
  }

  // Outlives every writer: files closed at the end are synced by it before
  // the program exits.
  FileSyncer syncer;
  FileSyncer::Install(&syncer);
  int status = 0;
  if (!settingsMode) {
    Recorder recorder;
    recorder.SetMetrics(metrics.get());
    Rolls rolls;
    rolls.pre = options.preRollSeconds >= 0 ? std::chrono::seconds(options.preRollSeconds) : rolls.pre;
    rolls.post = options.postRollSeconds >= 0 ? std::chrono::seconds(options.postRollSeconds) : rolls.post;
    recorder.Shows().SetRolls(rolls);
    for (size_t i = 0; i < options.urls.size(); ++i) {
      if (options.shard.Owns(options.urls[i])) {
        recorder.AddEntry({options.urls[i], options.directory, options.fileSplitting, options.smartSplitting,
                           options.readSize, options.syncIntervalSeconds, options.recording,
                           static_cast<int32_t>(i + 1), options.pickedStation, options.schedules});
      }
    }
    const std::string shard = ShardNote(options, recorder.EntryCount(), options.urls.size());
    if (!shard.empty()) {
      console.Say(LogLevel::Info, shard);
    }
    CheckDescriptors(recorder.EntryCount(), console);
    status = Record(recorder, options, signals, console);
  } else {
    SettingsRecorder recorder;
    recorder.SetShard(options.shard);
    recorder.SetMetrics(metrics.get());
    recorder.SetRolls(options.preRollSeconds, options.postRollSeconds);
    std::string error;
    if (recorder.Load(options.settingsFile, error, options.syncIntervalSeconds)) {
      const std::string shard =
          ShardNote(options, static_cast<size_t>(recorder.EntryCount()), recorder.ListedCount());
      if (!shard.empty()) {
        console.Say(LogLevel::Info, shard);
      }
      CheckDescriptors(static_cast<size_t>(recorder.EntryCount()), console);
      status = Record(recorder, options, signals, console);
    } else {
      console.Say(LogLevel::Error, error);
      status = 1;
    }
  }
  FileSyncer::Install(nullptr);
  endpoint.reset();
  curl_global_cleanup();
  return status;
}
