#include "schedule/TimeZones.h"

#include "base/ModuleLoader.h"

namespace {

ModuleLoader& ZonesModule() {
  static ModuleLoader loader(zones::kModule);
  return loader;
}

const zones::Database* Database() { return static_cast<const zones::Database*>(ZonesModule().Interface()); }

// The one zone that needs no database.
class UtcZone final : public zones::Zone {
 public:
  std::string Name() const override { return "UTC"; }
  date::local_seconds ToLocal(date::sys_seconds instant) const override {
    return date::local_seconds{instant.time_since_epoch()};
  }
  date::sys_seconds Instant(date::local_seconds local) const override {
    return date::sys_seconds{local.time_since_epoch()};
  }
};

}  // namespace

const zones::Zone* TimeZones::Locate(const std::string& name) {
  if (const zones::Database* database = Database()) {
    return database->Locate(name);
  }
  return name == "UTC" ? &Utc() : nullptr;
}

const zones::Zone& TimeZones::Utc() {
  static const UtcZone utc;
  return utc;
}

std::string TimeZones::CurrentName() {
  const zones::Database* database = Database();
  return database != nullptr ? database->CurrentName() : std::string();
}

std::vector<std::string> TimeZones::Names() {
  const zones::Database* database = Database();
  return database != nullptr ? database->Names() : std::vector<std::string>();
}

std::string TimeZones::Failure() {
  (void)Database();
  return ZonesModule().Failure();
}
