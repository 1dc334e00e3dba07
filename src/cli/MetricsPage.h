#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ModuleLoader.h"

// What the recorder asks of prometheus-cpp, as one interface: serve a
// /metrics page in the Prometheus text format. The code behind it
// (src/cli/prometheus/) lives in our shared module libdriftharbour-metrics.so,
// which MetricsEndpoint opens through a ModuleLoader when --metrics asks for
// the page, so that a recorder without it never maps prometheus-cpp or its
// HTTP server. Only the types below cross.
namespace metrics {

// Its entry returns the module's Server.
inline constexpr ModuleLoader::Module kModule{"libdriftharbour-metrics.so", "driftharbour_metrics_server", 1,
                                              "metrics module", "prometheus-cpp"};

struct Label {
  std::string name;
  std::string value;
};

// One sample of a family: its labels, in order, and its value.
struct Sample {
  std::vector<Label> label;
  double value = 0.0;
};

enum class Kind { Counter, Gauge };

// A metric family as the page shows it: "# HELP", "# TYPE", then the samples.
struct Family {
  std::string name;
  std::string help;
  Kind type = Kind::Gauge;
  std::vector<Sample> metric;
};

// The families of one scrape. Called on a thread of the page's server.
using Collect = std::function<std::vector<Family>()>;

// A page being served; destroying it stops its server, waiting for a scrape
// in progress, so that collect is never called after.
class Page {
 public:
  virtual ~Page() = default;
  // The port it listens on.
  virtual uint16_t Port() const = 0;
};

// Stateless and safe from any thread; lives as long as the process (the
// module is never closed).
class Server {
 public:
  // Serves GET /metrics on hostPort ("127.0.0.1:9100", "[::1]:0"; port 0:
  // one the system picks) from one thread of its own. Null, with the
  // reason in error, when it cannot listen there. Never throws.
  virtual std::unique_ptr<Page> Serve(const std::string& hostPort, Collect collect, std::string& error) const = 0;

 protected:
  ~Server() = default;
};

}  // namespace metrics
