#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/MetricsPage.h"

class RecorderMetrics;

// The recorder's /metrics page in the Prometheus text format, served by
// prometheus-cpp's embedded HTTP server (its Exposer, civetweb underneath)
// on a thread of its own. Only GET /metrics is answered. prometheus-cpp
// lives in the metrics module (cli/MetricsPage.h), opened by the first
// endpoint.
//
// Owns the page; the destructor stops its server, waiting for a scrape in
// progress. The metrics are held weakly: a scrape after they are gone
// shows an empty page. Construct and destroy on one thread; Port and Url
// from any.
class MetricsEndpoint {
 public:
  // Listens on address:port; port 0 takes one the system picks (Port()
  // tells which). An IPv6 address is given without brackets ("::1").
  // Throws std::runtime_error when the address cannot be bound, or the
  // metrics module cannot be loaded.
  MetricsEndpoint(const std::string& address, uint16_t port, const std::shared_ptr<RecorderMetrics>& metrics);
  ~MetricsEndpoint();

  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  uint16_t Port() const { return port; }
  // "http://127.0.0.1:9100/metrics", with the port bound.
  std::string Url() const;

 private:
  const std::string host;  // as it appears in a URL: IPv6 in brackets
  std::unique_ptr<metrics::Page> page;
  uint16_t port = 0;
};
