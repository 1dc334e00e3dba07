#pragma once

#include <functional>
#include <string>

// The certificate authorities an HTTPS connection trusts: curl's built-in
// bundle, unless the environment names others the way the curl tool reads
// them. CURL_CA_BUNDLE names a PEM file, else SSL_CERT_FILE does;
// SSL_CERT_DIR names a directory of hashed certificates. An empty variable
// counts as unset. This is how a service trusts a private CA (and how the
// benchmarks trust their loopback server) without touching the system's
// store.
//
// Plain value; FromEnvironment reads the environment once, on the first
// call (any thread; the environment is not changed while threads run).
struct TrustStore {
  std::string caFile;       // "" : curl's built-in bundle
  std::string caDirectory;  // "" : curl's built-in directory

  // Reads the variables through lookup (getenv's shape: null when unset).
  static TrustStore Read(const std::function<const char*(const char*)>& lookup);
  // The process's own, read on the first call and kept.
  static const TrustStore& FromEnvironment();
};
