#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace prometheus {
class Collectable;
class Exposer;
}  // namespace prometheus

// The recorder's /metrics page in the Prometheus text format, served by
// prometheus-cpp's embedded HTTP server (its Exposer, civetweb underneath)
// on threads of its own. Only GET /metrics is answered.
//
// Owns the server; the destructor stops it, waiting for a scrape in
// progress, so the collectable (held weakly by the server) may go after it.
// Construct and destroy on one thread; Port and Url from any.
class MetricsEndpoint {
 public:
  // Listens on address:port; port 0 takes one the system picks (Port()
  // tells which). An IPv6 address is given without brackets ("::1").
  // Throws std::runtime_error when the address cannot be bound.
  MetricsEndpoint(const std::string& address, uint16_t port, const std::shared_ptr<prometheus::Collectable>& metrics);
  ~MetricsEndpoint();

  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  uint16_t Port() const { return port; }
  // "http://127.0.0.1:9100/metrics", with the port bound.
  std::string Url() const;

 private:
  const std::string host;  // as it appears in a URL: IPv6 in brackets
  std::unique_ptr<prometheus::Exposer> exposer;
  uint16_t port = 0;
};
