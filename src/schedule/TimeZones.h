#pragma once

#include <date/date.h>

#include <string>
#include <vector>

#include "base/ModuleLoader.h"

// What the program asks of the time-zone database (Howard Hinnant's date/tz
// on the system's zoneinfo), as one interface. The code behind it
// (src/schedule/tz/) lives in our shared module libdriftharbour-zones.so,
// which TimeZones opens through a ModuleLoader the first time a zone is
// looked up, so that a recorder without schedules never maps date/tz (nor
// starts the C++ streams it sets up when it loads). Only the types below
// cross.
namespace zones {

// Its entry returns the module's Database.
inline constexpr ModuleLoader::Module kModule{"libdriftharbour-zones.so", "driftharbour_time_zones", 1,
                                              "time zone module", "date/tz"};

// One zone of the database. Lives as long as the process; any thread.
class Zone {
 public:
  virtual std::string Name() const = 0;
  // instant as the zone's clocks show it.
  virtual date::local_seconds ToLocal(date::sys_seconds instant) const = 0;
  // The instant a local time names: a local time that the spring-forward
  // hour skips names the first instant after the gap (the moment the clocks
  // jump); one that the fall-back hour repeats, its first occurrence.
  virtual date::sys_seconds Instant(date::local_seconds local) const = 0;

 protected:
  ~Zone() = default;
};

// Stateless to its callers and safe from any thread (zones load once each);
// lives as long as the process. Never throws.
class Database {
 public:
  // The zone of that name; null when the database does not know it.
  virtual const Zone* Locate(const std::string& name) const = 0;
  // The system's zone (/etc/localtime); "" when it cannot be told.
  virtual std::string CurrentName() const = 0;
  // Every zone's name, in the database's order.
  virtual std::vector<std::string> Names() const = 0;

 protected:
  ~Database() = default;
};

}  // namespace zones

// The program's time zones: the zones module's database, opened on first
// use. Without the module only "UTC" is known (a zone built in here), and
// Failure() says why. Any thread.
class TimeZones {
 public:
  // The zone of name; null when it is not known.
  static const zones::Zone* Locate(const std::string& name);
  // UTC, whether or not the module loads.
  static const zones::Zone& Utc();
  // The system's zone name, "" when it cannot be told.
  static std::string CurrentName();
  // Every zone's name; empty without the module.
  static std::vector<std::string> Names();
  // Why the module could not be loaded; "" while it loads or loaded.
  static std::string Failure();
};
