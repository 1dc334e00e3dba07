// The time zone module: date/tz behind the zones::Database interface, in
// libdriftharbour-zones.so. Everything but the entry point is hidden.
#include <date/tz.h>

#include <exception>
#include <map>
#include <memory>

#include "base/Mutex.h"
#include "schedule/TimeZones.h"

namespace {

class TzZone final : public zones::Zone {
 public:
  explicit TzZone(const date::time_zone& zone) : zone(zone) {}

  std::string Name() const override { return std::string(zone.name()); }
  date::local_seconds ToLocal(date::sys_seconds instant) const override { return zone.to_local(instant); }
  date::sys_seconds Instant(date::local_seconds local) const override {
    const date::local_info info = zone.get_info(local);
    if (info.result == date::local_info::nonexistent) {
      return info.second.begin;  // the clocks jump over local: the moment they land
    }
    // Unique, or ambiguous: the first occurrence, under the offset before
    // the change.
    return date::sys_seconds{local.time_since_epoch()} - info.first.offset;
  }

 private:
  const date::time_zone& zone;  // the database's, for the process's life
};

class TzDatabase final : public zones::Database {
 public:
  const zones::Zone* Locate(const std::string& name) const override EXCLUDES(lock) {
    const date::time_zone* found = nullptr;
    try {
      found = date::locate_zone(name);
    } catch (const std::exception&) {
      return nullptr;
    }
    if (found == nullptr) {
      return nullptr;
    }
    MutexLock held(lock);
    std::unique_ptr<TzZone>& zone = made[found];
    if (!zone) {
      zone = std::make_unique<TzZone>(*found);
    }
    return zone.get();
  }

  std::string CurrentName() const override {
    try {
      return std::string(date::current_zone()->name());
    } catch (const std::exception&) {
      return {};
    }
  }

  std::vector<std::string> Names() const override {
    std::vector<std::string> names;
    try {
      for (const date::time_zone& zone : date::get_tzdb().zones) {
        names.emplace_back(zone.name());
      }
    } catch (const std::exception&) {
      names.clear();
    }
    return names;
  }

 private:
  // `lock` guards `made`: one wrapper per zone, kept for the process's life.
  mutable Mutex lock;
  mutable std::map<const date::time_zone*, std::unique_ptr<TzZone>> made GUARDED_BY(lock);
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* driftharbour_time_zones(int interfaceVersion) {
  static const TzDatabase database;
  return interfaceVersion == zones::kModule.interfaceVersion ? static_cast<const zones::Database*>(&database) : nullptr;
}
