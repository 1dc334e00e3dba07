#pragma once

#include <cstddef>
#include <vector>

#include "app/SettingsStore.h"

// What re-reading a server list changes: which of the entries that record
// now go on untouched, which must restart because their settings changed,
// which stop and which start.
//
// An entry is recognised by what it records, not by its number, so that
// removing one entry does not disturb the ones below it. Entries that agree
// in everything that shapes the recording (URL, download directory as the
// writer uses it, File Splitting, Smart Splitting, recording options) pair
// up first, in list order, and go on as they are, even when their number
// changed. Of the rest, entries with the same URL pair up in list order and
// restart with their new settings. What is left of the running entries
// stops; what is left of the new list starts. The read size and the sync
// interval of the file shape no recording and never restart an entry.
//
// Directories are compared as SettingsStore::ReadServerList gives them, with
// the default directory put into entries that name none, so that a changed
// default restarts exactly the entries that use it.
//
// A value type; Between is pure and may be called from any thread.
struct ReloadPlan {
  // An entry of the running list and its place in the new one.
  struct Pair {
    size_t running = 0;
    size_t wanted = 0;
  };

  std::vector<Pair> unchanged;    // go on untouched; in new-list order
  std::vector<Pair> changed;      // stop, then start with the new settings; in new-list order
  std::vector<size_t> removed;    // running entries that stop; ascending
  std::vector<size_t> added;      // new entries that start; ascending

  static ReloadPlan Between(const std::vector<SettingsStore::StoredServer>& running,
                            const std::vector<SettingsStore::StoredServer>& wanted);

  // Whether two entries record the same way (see above).
  static bool SameRecording(const SettingsStore::StoredServer& a, const SettingsStore::StoredServer& b);
};
