// The metrics module: prometheus-cpp's embedded HTTP server (its Exposer,
// civetweb underneath) behind the metrics::Server interface, in
// libdriftharbour-metrics.so. Everything but the entry point is hidden.
#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>

#include <exception>
#include <memory>
#include <utility>

#include "cli/MetricsPage.h"

namespace {

// Each scrape's families, turned into prometheus-cpp's.
class FamiliesCollectable final : public prometheus::Collectable {
 public:
  explicit FamiliesCollectable(metrics::Collect collectFamilies) : collect(std::move(collectFamilies)) {}

  std::vector<prometheus::MetricFamily> Collect() const override {
    std::vector<prometheus::MetricFamily> result;
    for (metrics::Family& family : collect()) {
      prometheus::MetricFamily out;
      out.name = std::move(family.name);
      out.help = std::move(family.help);
      out.type = family.type == metrics::Kind::Counter ? prometheus::MetricType::Counter
                                                       : prometheus::MetricType::Gauge;
      out.metric.reserve(family.metric.size());
      for (metrics::Sample& sample : family.metric) {
        prometheus::ClientMetric metric;
        metric.label.reserve(sample.label.size());
        for (metrics::Label& label : sample.label) {
          metric.label.push_back({std::move(label.name), std::move(label.value)});
        }
        if (out.type == prometheus::MetricType::Counter) {
          metric.counter.value = sample.value;
        } else {
          metric.gauge.value = sample.value;
        }
        out.metric.push_back(std::move(metric));
      }
      result.push_back(std::move(out));
    }
    return result;
  }

 private:
  const metrics::Collect collect;
};

class ExposerPage final : public metrics::Page {
 public:
  ExposerPage(std::unique_ptr<prometheus::Exposer> server, std::shared_ptr<FamiliesCollectable> families)
      : collectable(std::move(families)), exposer(std::move(server)) {
    exposer->RegisterCollectable(collectable);
    const auto ports = exposer->GetListeningPorts();
    port = ports.empty() ? 0 : static_cast<uint16_t>(ports.front());
  }

  uint16_t Port() const override { return port; }

 private:
  // Declared first, so that the server (which holds it weakly) stops first.
  std::shared_ptr<FamiliesCollectable> collectable;
  std::unique_ptr<prometheus::Exposer> exposer;
  uint16_t port = 0;
};

class PrometheusServer final : public metrics::Server {
 public:
  std::unique_ptr<metrics::Page> Serve(const std::string& hostPort, metrics::Collect collect,
                                       std::string& error) const override {
    try {
      // One thread serves the scrapes: Prometheus asks every few seconds,
      // and a second thread would only stand idle beside ten thousand
      // workers.
      auto exposer = std::make_unique<prometheus::Exposer>(hostPort, 1);
      return std::make_unique<ExposerPage>(std::move(exposer),
                                           std::make_shared<FamiliesCollectable>(std::move(collect)));
    } catch (const std::exception& failure) {
      error = failure.what();
      return nullptr;
    }
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* driftharbour_metrics_server(int interfaceVersion) {
  static const PrometheusServer server;
  return interfaceVersion == metrics::kModule.interfaceVersion ? static_cast<const metrics::Server*>(&server) : nullptr;
}
