#include "cli/MetricsEndpoint.h"

#include <stdexcept>
#include <utility>

#include "base/ModuleLoader.h"
#include "cli/RecorderMetrics.h"

namespace {

std::string UrlHost(const std::string& address) {
  return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

// The metrics module, opened by the first endpoint: a recorder without
// --metrics never maps prometheus-cpp.
ModuleLoader& MetricsModule() {
  static ModuleLoader loader(metrics::kModule);
  return loader;
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(const std::string& address, uint16_t requestedPort,
                                 const std::shared_ptr<RecorderMetrics>& metrics)
    : host(UrlHost(address)) {
  const std::string where = host + ":" + std::to_string(requestedPort);
  const auto* server = static_cast<const metrics::Server*>(MetricsModule().Interface());
  if (server == nullptr) {
    throw std::runtime_error("cannot serve metrics on " + where + " (" + MetricsModule().Failure() + ")");
  }
  std::weak_ptr<RecorderMetrics> figures = metrics;
  std::string error;
  page = server->Serve(
      where,
      [figures = std::move(figures)] {
        const std::shared_ptr<RecorderMetrics> alive = figures.lock();
        return alive ? alive->Collect() : std::vector<metrics::Family>();
      },
      error);
  if (!page) {
    throw std::runtime_error("cannot serve metrics on " + where + " (" + error + ")");
  }
  port = page->Port() != 0 ? page->Port() : requestedPort;
}

MetricsEndpoint::~MetricsEndpoint() = default;

std::string MetricsEndpoint::Url() const { return "http://" + host + ":" + std::to_string(port) + "/metrics"; }
