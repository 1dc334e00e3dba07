#include "app/ReloadPlan.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace {

using StoredServer = SettingsStore::StoredServer;

// Pairs every unpaired wanted entry with the first unpaired running entry
// of the same URL that `fits`, in list order. The running entries are
// bucketed by URL, so that ten thousand entries pair up without a quadratic
// search; a bucket rarely holds more than one.
template <typename Fits>
void PairUp(const std::vector<StoredServer>& running, const std::vector<StoredServer>& wanted, Fits fits,
            std::vector<bool>& runningPaired, std::vector<bool>& wantedPaired, std::vector<ReloadPlan::Pair>& pairs) {
  std::unordered_map<std::string, std::vector<size_t>> byUrl;
  for (size_t i = 0; i < running.size(); ++i) {
    if (!runningPaired[i]) {
      byUrl[running[i].url].push_back(i);
    }
  }
  for (size_t j = 0; j < wanted.size(); ++j) {
    if (wantedPaired[j]) {
      continue;
    }
    const auto bucket = byUrl.find(wanted[j].url);
    if (bucket == byUrl.end()) {
      continue;
    }
    for (const size_t i : bucket->second) {
      if (!runningPaired[i] && fits(running[i], wanted[j])) {
        runningPaired[i] = true;
        wantedPaired[j] = true;
        pairs.push_back({i, j});
        break;
      }
    }
  }
}

}  // namespace

bool ReloadPlan::SameRecording(const StoredServer& a, const StoredServer& b) {
  return a.url == b.url && a.directory == b.directory && a.writerDirectory == b.writerDirectory &&
         a.fileSplitting == b.fileSplitting && a.smartSplitting == b.smartSplitting && a.options == b.options;
}

ReloadPlan ReloadPlan::Between(const std::vector<StoredServer>& running, const std::vector<StoredServer>& wanted) {
  ReloadPlan plan;
  std::vector<bool> runningPaired(running.size(), false);
  std::vector<bool> wantedPaired(wanted.size(), false);
  PairUp(running, wanted, &ReloadPlan::SameRecording, runningPaired, wantedPaired, plan.unchanged);
  PairUp(
      running, wanted, [](const StoredServer&, const StoredServer&) { return true; }, runningPaired, wantedPaired,
      plan.changed);
  for (size_t i = 0; i < running.size(); ++i) {
    if (!runningPaired[i]) {
      plan.removed.push_back(i);
    }
  }
  for (size_t j = 0; j < wanted.size(); ++j) {
    if (!wantedPaired[j]) {
      plan.added.push_back(j);
    }
  }
  return plan;
}
