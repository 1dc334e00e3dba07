#include "net/TrustStore.h"

#include <cstdlib>

TrustStore TrustStore::Read(const std::function<const char*(const char*)>& lookup) {
  const auto value = [&](const char* name) {
    const char* text = lookup(name);
    return std::string(text != nullptr ? text : "");
  };
  TrustStore store;
  store.caFile = value("CURL_CA_BUNDLE");
  if (store.caFile.empty()) {
    store.caFile = value("SSL_CERT_FILE");
  }
  store.caDirectory = value("SSL_CERT_DIR");
  return store;
}

const TrustStore& TrustStore::FromEnvironment() {
  static const TrustStore store = Read([](const char* name) { return std::getenv(name); });
  return store;
}
