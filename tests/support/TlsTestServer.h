#pragma once

// A loopback HTTPS server for the tests of TLS failures: the openssl command
// line tool's s_server in -www mode, listening on 127.0.0.1 only, on a port
// the system picks, with a fresh self-signed certificate for 127.0.0.1 that
// nothing trusts. The certificate names 127.0.0.1, so a client that refuses
// it refuses it for want of trust, not for a wrong name.
//
//   if (!TlsTestServer::Available()) GTEST_SKIP() << "no openssl tool";
//   TlsTestServer server;
//   connection.Open(server.Url("/"), "");  // throws: certificate not trusted
//
// The key, the certificate and the server's output live in a temporary
// directory that goes away with the object.
//
// Threads: one thread makes, uses and destroys the object. The destructor
// kills the server process and reaps it.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "support/TempDir.h"

class TlsTestServer {
 public:
  // True when the openssl tool can be run.
  static bool Available();

  // Makes the key and certificate, starts the server and waits (a bounded
  // wait) until it listens. Throws std::runtime_error when any of this fails.
  TlsTestServer();
  ~TlsTestServer();

  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  uint16_t Port() const { return port; }
  // "https://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path = "/") const;
  // The server's certificate (PEM): a client that is given it as its CA
  // trusts the server.
  std::string CertificateFile() const { return directory.File("cert.pem"); }

 private:
  void Stop();

  TempDir directory;
  pid_t pid = -1;
  uint16_t port = 0;
};
