#include "cli/MetricsEndpoint.h"

#include <prometheus/exposer.h>

#include <stdexcept>

namespace {

std::string UrlHost(const std::string& address) {
  return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(const std::string& address, uint16_t requestedPort,
                                 const std::shared_ptr<prometheus::Collectable>& metrics)
    : host(UrlHost(address)) {
  try {
    // One thread serves the scrapes: Prometheus asks every few seconds, and
    // a second thread would only stand idle beside ten thousand workers.
    exposer = std::make_unique<prometheus::Exposer>(host + ":" + std::to_string(requestedPort), 1);
  } catch (const std::exception& error) {
    throw std::runtime_error("cannot serve metrics on " + host + ":" + std::to_string(requestedPort) + " (" +
                             error.what() + ")");
  }
  exposer->RegisterCollectable(metrics);
  const auto ports = exposer->GetListeningPorts();
  port = ports.empty() ? requestedPort : static_cast<uint16_t>(ports.front());
}

MetricsEndpoint::~MetricsEndpoint() = default;

std::string MetricsEndpoint::Url() const { return "http://" + host + ":" + std::to_string(port) + "/metrics"; }
