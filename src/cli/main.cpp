// driftharbour-record: records internet radio streams without a window.
#include <curl/curl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/ConsoleReporter.h"
#include "cli/LineQueue.h"
#include "cli/Recorder.h"
#include "cli/RecorderOptions.h"
#include "cli/SettingsRecorder.h"
#include "recording/FileSyncer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(250);
constexpr auto kPlainProgressInterval = std::chrono::seconds(5);
// On a terminal at most this many progress lines are redrawn in place.
constexpr size_t kMaxLiveLines = 20;

class Console {
 public:
  Console(bool quiet, bool terminal) : quiet(quiet), terminal(terminal) {}

  // Prints event lines, then (when due) the progress lines.
  void Show(const std::vector<std::string>& lines, const std::vector<std::string>& progress, bool progressDue) {
    if (terminal) {
      ClearLive();
      Print(lines);
      ShowLive(progress);
    } else {
      Print(lines);
      if (progressDue) {
        Print(progress);
      }
    }
    std::fflush(stdout);
  }

  // --quiet: only the lines about files that could not be recorded, on
  // standard error.
  static void ShowErrors(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
      if (line.find(kCannotRecordText) != std::string::npos) {
        std::fprintf(stderr, "%s\n", line.c_str());
      }
    }
  }

  void Finish(const std::vector<std::string>& lines, const std::vector<std::string>& progress) {
    if (quiet) {
      ShowErrors(lines);
      return;
    }
    if (terminal) {
      ClearLive();
    }
    Print(lines);
    Print(progress);
    std::fflush(stdout);
  }

 private:
  static void Print(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
      std::fputs(line.c_str(), stdout);
      std::fputc('\n', stdout);
    }
  }

  void ClearLive() {
    if (liveLines > 0) {
      std::printf("\x1b[%zuA\x1b[J", liveLines);
      liveLines = 0;
    }
  }

  void ShowLive(const std::vector<std::string>& progress) {
    const size_t shown = progress.size() > kMaxLiveLines ? kMaxLiveLines - 1 : progress.size();
    for (size_t i = 0; i < shown; ++i) {
      std::printf("%s\x1b[K\n", progress[i].c_str());
    }
    liveLines = shown;
    if (shown < progress.size()) {
      std::printf("... and %zu more streams\x1b[K\n", progress.size() - shown);
      ++liveLines;
    }
  }

  const bool quiet;
  const bool terminal;
  size_t liveLines = 0;
};

// Starts every entry, shows the lines until the duration ends or a stop
// signal arrives, then stops every entry and shows the last lines. Returns
// the exit status: 0 when every entry recorded audio, else 1, after a last
// line that names the entries that recorded nothing and why.
template <typename AnyRecorder>
int Record(AnyRecorder& recorder, const RecorderOptions& options, const sigset_t& stopSignals) {
  Console console(options.quiet, isatty(STDOUT_FILENO) == 1);
  recorder.StartAll();

  const auto start = Clock::now();
  auto lastProgress = start;
  const timespec tick{0, std::chrono::duration_cast<std::chrono::nanoseconds>(kTick).count()};
  for (;;) {
    siginfo_t info;
    if (sigtimedwait(&stopSignals, &info, &tick) > 0) {
      break;
    }
    const auto now = Clock::now();
    if (options.durationSeconds > 0 && now - start >= std::chrono::seconds(options.durationSeconds)) {
      break;
    }
    const bool progressDue = now - lastProgress >= kPlainProgressInterval;
    if (progressDue) {
      lastProgress = now;
    }
    if (options.quiet) {
      Console::ShowErrors(recorder.TakeLines());
    } else {
      console.Show(recorder.TakeLines(), recorder.ProgressLines(), progressDue);
    }
  }
  recorder.StopAll();
  console.Finish(recorder.TakeLines(), recorder.ProgressLines());
  const std::string nothing = ConsoleReporter::NothingRecordedLine(recorder.Reporters());
  if (nothing.empty()) {
    return 0;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "driftharbour-record: %s\n", nothing.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const RecorderArguments arguments = ParseRecorderArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (arguments.help) {
    std::fputs(RecorderUsage().c_str(), stdout);
    return 0;
  }
  if (!arguments.error.empty()) {
    std::fprintf(stderr, "driftharbour-record: %s\n%s", arguments.error.c_str(), RecorderUsage().c_str());
    return 2;
  }
  const RecorderOptions& options = arguments.options;

  // Signals are taken by the main loop alone: block them before any thread
  // starts, so every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Every stream holds a few descriptors (its socket, curl's wakeup pair, its
  // file): allow as many as the system lets this process have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr, "driftharbour-record: cannot initialise the network library\n");
    return 1;
  }

  // Outlives every writer: files closed at the end are synced by it before
  // the program exits.
  FileSyncer syncer;
  FileSyncer::Install(&syncer);
  int status = 0;
  if (options.settingsFile.empty()) {
    Recorder recorder;
    for (const auto& url : options.urls) {
      recorder.AddEntry({url, options.directory, options.fileSplitting, options.smartSplitting, options.readSize,
                         options.syncIntervalSeconds, options.recording});
    }
    status = Record(recorder, options, stopSignals);
  } else {
    SettingsRecorder recorder;
    std::string error;
    if (recorder.Load(options.settingsFile, error, options.syncIntervalSeconds)) {
      status = Record(recorder, options, stopSignals);
    } else {
      std::fprintf(stderr, "driftharbour-record: %s\n", error.c_str());
      status = 1;
    }
  }
  FileSyncer::Install(nullptr);
  curl_global_cleanup();
  return status;
}
