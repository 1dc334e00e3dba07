// The cost of choosing a recording's name when many files of one title are
// in one folder: the probing the writer did before (one lstat per taken
// "(n)", then an O_EXCL open) beside RecordingName::ClaimFreePath (the plain
// name, then the remembered number, each claimed with O_EXCL). Each run
// creates N same-titled files in a fresh folder under $TMPDIR and reports
// the time (wall clock and this thread's CPU time, the folder's creation and
// removal left out) and the system calls per file. TMPDIR=/dev/shm leaves the disk's journal out.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "recording/NameNumbers.h"
#include "recording/RecordingName.h"

namespace {

struct Calls {
  uint64_t lookups = 0;  // lstat
  uint64_t opens = 0;    // open(O_CREAT | O_EXCL)
};

class Folder {
 public:
  Folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/dh-names-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    path = ::mkdtemp(name.data());
  }
  ~Folder() { std::filesystem::remove_all(path); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  std::string path;
};

// User and system time of this thread: the system calls' own cost.
double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int OpenExclusive(const std::string& path, Calls& calls) {
  ++calls.opens;
  const UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  return fd.Valid() ? 0 : errno;
}

// The writer's way before: look for the first free "(n)" from 1 on, then
// create it; again on EEXIST.
void CreateByProbing(const std::string& base, Calls& calls) {
  for (;;) {
    std::string candidate = base + ".mp3";
    struct stat status;
    for (uint64_t n = 1; (++calls.lookups, ::lstat(candidate.c_str(), &status) == 0); ++n) {
      candidate = RecordingName::NumberedPath(base, n, ".mp3");
    }
    if (OpenExclusive(candidate, calls) != EEXIST) {
      return;
    }
  }
}

void CreateByClaiming(const std::string& base, Calls& calls, NameNumbers& numbers) {
  RecordingName::Claim claim;
  claim.take = [&calls](const std::string& path) { return OpenExclusive(path, calls); };
  claim.exists = [&calls](const std::string& path) {
    ++calls.lookups;
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
  };
  std::string taken;
  if (RecordingName::ClaimFreePath(base, ".mp3", claim, taken, 100, numbers) != 0) {
    std::abort();
  }
}

template <bool kClaiming>
void BM_SameTitledFiles(benchmark::State& state) {
  const auto files = static_cast<int>(state.range(0));
  Calls calls;
  uint64_t created = 0;
  double seconds = 0;
  double cpuSeconds = 0;
  for (auto _ : state) {
    Folder folder;
    NameNumbers numbers;  // a fresh program: nothing remembered
    const std::string base = folder.path + "/Harbour FM - Same Title";
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadCpuSeconds();
    for (int file = 0; file < files; ++file) {
      if constexpr (kClaiming) {
        CreateByClaiming(base, calls, numbers);
      } else {
        CreateByProbing(base, calls);
      }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    cpuSeconds += ThreadCpuSeconds() - cpuStart;
    state.SetIterationTime(took.count());
    seconds += took.count();
    created += static_cast<uint64_t>(files);
  }
  const auto perFile = [created](double count) { return count / static_cast<double>(created); };
  state.counters["us_per_file"] = perFile(seconds * 1e6);
  // On a busy machine the wall clock mostly measures the others.
  state.counters["cpu_us_per_file"] = perFile(cpuSeconds * 1e6);
  state.counters["lstat_per_file"] = perFile(static_cast<double>(calls.lookups));
  state.counters["open_per_file"] = perFile(static_cast<double>(calls.opens));
  state.counters["syscalls_per_file"] = perFile(static_cast<double>(calls.lookups + calls.opens));
}

}  // namespace

BENCHMARK(BM_SameTitledFiles<false>)
    ->Name("Probing")
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
// Half a million lookups per thousand files: one run is plenty.
BENCHMARK(BM_SameTitledFiles<false>)
    ->Name("Probing")
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_SameTitledFiles<true>)
    ->Name("Claiming")
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
