// The cost of choosing a recording's name when many files of one title are
// in one folder: the probing the writer did before (one lstat per taken
// "(n)", then an O_EXCL open) beside RecordingName::ClaimFreePath (the plain
// name, then the remembered number, each claimed with O_EXCL). Each run
// creates N same-titled files in a fresh folder under $TMPDIR and reports
// the time and the system calls per file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
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
  for (auto _ : state) {
    state.PauseTiming();
    {
      Folder folder;
      NameNumbers numbers;  // a fresh program: nothing remembered
      const std::string base = folder.path + "/Harbour FM - Same Title";
      state.ResumeTiming();
      for (int file = 0; file < files; ++file) {
        if constexpr (kClaiming) {
          CreateByClaiming(base, calls, numbers);
        } else {
          CreateByProbing(base, calls);
        }
      }
      state.PauseTiming();
    }
    created += static_cast<uint64_t>(files);
    state.ResumeTiming();
  }
  const auto perFile = [created](uint64_t count) { return static_cast<double>(count) / static_cast<double>(created); };
  state.counters["us_per_file"] =
      benchmark::Counter(static_cast<double>(created) / 1e6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["lstat_per_file"] = perFile(calls.lookups);
  state.counters["open_per_file"] = perFile(calls.opens);
  state.counters["syscalls_per_file"] = perFile(calls.lookups + calls.opens);
}

}  // namespace

BENCHMARK(BM_SameTitledFiles<false>)->Name("Probing")->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SameTitledFiles<false>)->Name("Probing")->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SameTitledFiles<true>)->Name("Claiming")->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
