#include "support/TlsTestServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

namespace {

// Far above what the tool needs on a loaded machine; only there so that a
// server that never comes up fails the test instead of hanging it.
constexpr auto kStartBound = std::chrono::seconds(20);

// The exit status of a finished child; -1 when it did not exit normally.
int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Run(std::vector<std::string> arguments) {
  pid_t pid = SpawnChild(std::move(arguments));
  return pid > 0 && Reap(pid) == 0;
}

// The port in s_server's "ACCEPT 127.0.0.1:40123" line; 0 while there is
// none.
uint16_t AcceptedPort(const std::string& output) {
  constexpr std::string_view kPrefix = "ACCEPT 127.0.0.1:";
  size_t start = output.find(kPrefix);
  if (start == std::string::npos) {
    return 0;
  }
  size_t end = output.find('\n', start);
  if (end == std::string::npos) {
    return 0;  // the line is not complete yet
  }
  unsigned long port = 0;
  for (size_t i = start + kPrefix.size(); i < end && output[i] >= '0' && output[i] <= '9'; ++i) {
    port = port * 10 + static_cast<unsigned long>(output[i] - '0');
    if (port > 65535) {
      return 0;
    }
  }
  return static_cast<uint16_t>(port);
}

}  // namespace

bool TlsTestServer::Available() { return Run({"openssl", "version"}); }

TlsTestServer::TlsTestServer() {
  std::string key = directory.File("key.pem");
  std::string certificate = CertificateFile();
  if (!Run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key, "-out", certificate, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
            "subjectAltName=IP:127.0.0.1"})) {
    throw std::runtime_error("openssl cannot make a certificate");
  }
  // Port 0: the system picks a free one, which the server then names.
  std::string output = directory.File("server.out");
  pid = SpawnChild({"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", certificate, "-key", key, "-www"}, output);
  if (pid < 0) {
    throw std::runtime_error("cannot start openssl s_server");
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartBound;
  while ((port = AcceptedPort(ReadFileBytes(output))) == 0) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      throw std::runtime_error("openssl s_server ended at once");
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Stop();
      throw std::runtime_error("openssl s_server does not listen");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TlsTestServer::~TlsTestServer() { Stop(); }

std::string TlsTestServer::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port) + path;
}

void TlsTestServer::Stop() {
  if (pid > 0) {
    // Nothing of the server's is worth a graceful end, and SIGKILL cannot
    // be ignored, so the reaping below cannot hang.
    ::kill(pid, SIGKILL);
    Reap(pid);
    pid = -1;
  }
}
