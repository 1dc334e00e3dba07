#include "support/IcyTestServer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace {

// The test programs run gtest's main(); libcurl is set up here instead,
// during static initialisation, while the program still has one thread.
struct CurlGlobalSetup {
  CurlGlobalSetup() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      std::abort();
    }
  }
  ~CurlGlobalSetup() { curl_global_cleanup(); }
};
const CurlGlobalSetup curlGlobalSetup;

constexpr size_t kMaxRequestBytes = size_t{64} * 1024;
// How often a stalled connection looks for ReleaseStalls().
constexpr int kStallCheckMs = 20;

[[noreturn]] void ThrowSystemError(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

UniqueFd LoopbackSocket(uint16_t& port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    ThrowSystemError("socket");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowSystemError("bind");
  }
  socklen_t length = sizeof address;
  if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowSystemError("getsockname");
  }
  port = ntohs(address.sin_port);
  return fd;
}

std::string LoopbackUrl(uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

// The path a request asks for: its target up to any query; "" when the
// request line has none.
std::string RequestPath(const std::string& request) {
  const size_t start = request.find(' ');
  if (start == std::string::npos) {
    return "";
  }
  const size_t end = request.find_first_of(" ?\r\n", start + 1);
  return request.substr(start + 1, (end == std::string::npos ? request.size() : end) - start - 1);
}

}  // namespace

IcyResponse IcyResponse::Redirect(const std::string& location, int status) {
  IcyResponse response;
  std::string body = "moved";
  response.head = "HTTP/1.1 " + std::to_string(status) + " Found\r\nLocation: " + location +
                  "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  response.body = body;
  return response;
}

std::string ChunkedBody(const std::string& body, size_t chunkSize) {
  static const char kHex[] = "0123456789abcdef";
  std::string encoded;
  for (size_t start = 0; start < body.size(); start += chunkSize) {
    size_t count = std::min(chunkSize, body.size() - start);
    std::string size;
    for (size_t rest = count; rest > 0; rest /= 16) {
      size.insert(size.begin(), kHex[rest % 16]);
    }
    encoded += size + "\r\n" + body.substr(start, count) + "\r\n";
  }
  return encoded + "0\r\n\r\n";
}

std::string StreamTitleText(const std::string& title, const std::string& url) {
  return "StreamTitle='" + title + "';StreamUrl='" + url + "';";
}

std::string MetadataBlock(const std::string& text) {
  size_t units = (text.size() + 15) / 16;
  if (units > 255) {
    throw std::invalid_argument("metadata text longer than 4080 bytes");
  }
  std::string block(1, static_cast<char>(units));
  block += text;
  block.resize(1 + units * 16, '\0');
  return block;
}

std::string InterleaveMetadata(const std::string& audio, size_t interval, const std::vector<TitleCue>& cues,
                               bool repeatTitles) {
  if (interval == 0) {
    throw std::invalid_argument("metadata interval 0");
  }
  std::string stream;
  size_t nextCue = 0;
  const TitleCue* current = nullptr;
  const TitleCue* announced = nullptr;
  for (size_t offset = 0; offset + interval <= audio.size(); offset += interval) {
    stream.append(audio, offset, interval);
    while (nextCue < cues.size() && cues[nextCue].audioOffset <= offset + interval) {
      current = &cues[nextCue++];
    }
    if (current != nullptr && (current != announced || repeatTitles)) {
      stream += MetadataBlock(StreamTitleText(current->title, current->url));
      announced = current;
    } else {
      stream += MetadataBlock("");
    }
  }
  size_t tail = audio.size() % interval;
  stream.append(audio, audio.size() - tail, tail);
  return stream;
}

std::string TestBytes(size_t count, uint32_t seed) {
  std::string bytes(count, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

IcyTestServer::IcyTestServer() {
  listener = LoopbackSocket(port);
  if (::listen(listener.Get(), SOMAXCONN) != 0) {
    ThrowSystemError("listen");
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    ThrowSystemError("pipe2");
  }
  stopRead.Reset(pipeFds[0]);
  stopWrite.Reset(pipeFds[1]);
  acceptor = std::thread(&IcyTestServer::AcceptLoop, this);
}

IcyTestServer::~IcyTestServer() {
  // The pipe stays readable from now on, so every poll below returns.
  char byte = 1;
  while (::write(stopWrite.Get(), &byte, 1) < 0 && errno == EINTR) {
  }
  acceptor.join();
  std::vector<std::thread> finished;
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished.swap(servers);
  }
  for (std::thread& thread : finished) {
    thread.join();
  }
}

void IcyTestServer::Push(IcyResponse response) {
  std::lock_guard<std::mutex> lock(mutex);
  scripts.push_back(std::move(response));
}

void IcyTestServer::Route(const std::string& path, IcyResponse response) {
  std::lock_guard<std::mutex> lock(mutex);
  routes[path] = std::move(response);
}

size_t IcyTestServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex);
  size_t count = 0;
  for (const std::string& request : requests) {
    count += RequestPath(request) == path ? 1 : 0;
  }
  return count;
}

std::string IcyTestServer::Url(const std::string& path) const { return LoopbackUrl(port, path); }

std::vector<std::string> IcyTestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex);
  return requests;
}

std::string IcyTestServer::Request(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex);
  return index < requests.size() ? requests[index] : std::string();
}

size_t IcyTestServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  return connections;
}

bool IcyTestServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex);
  return requestArrived.wait_for(lock, timeout, [&] { return requests.size() >= count; });
}

void IcyTestServer::ReleaseStalls() {
  std::lock_guard<std::mutex> lock(mutex);
  ++releases;
}

IcyResponse IcyTestServer::NextScript(const std::string& request) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto route = routes.find(RequestPath(request));
  if (route != routes.end()) {
    return route->second;
  }
  if (!scripts.empty()) {
    lastScript = std::move(scripts.front());
    scripts.pop_front();
  }
  if (lastScript) {
    return *lastScript;
  }
  IcyResponse missing;
  missing.head = "HTTP/1.0 404 Not Found\r\n\r\n";
  return missing;
}

bool IcyTestServer::Sleep(int timeoutMs) const {
  pollfd stop{stopRead.Get(), POLLIN, 0};
  return ::poll(&stop, 1, timeoutMs) > 0;
}

void IcyTestServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener.Get(), POLLIN, 0}, {stopRead.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    UniqueFd connection(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!connection.Valid()) {
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex);
    ++connections;
    servers.emplace_back(&IcyTestServer::Serve, this, std::move(connection));
  }
}

bool IcyTestServer::SendAll(int fd, const char* bytes, size_t length) const {
  while (length > 0) {
    ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent > 0) {
      bytes += sent;
      length -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The client does not read: wait for room, or for the end.
      pollfd fds[2] = {{fd, POLLOUT, 0}, {stopRead.Get(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
        return false;
      }
      if (fds[1].revents != 0) {
        return false;
      }
      continue;
    }
    return false;  // the client went away
  }
  return true;
}

void IcyTestServer::Stall(int fd, uint64_t releaseMark) const {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (releases != releaseMark) {
        return;
      }
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopRead.Get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, kStallCheckMs);
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if (fds[0].revents != 0) {
      char discard[4096];
      ssize_t received = ::recv(fd, discard, sizeof discard, 0);
      if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) {
        return;  // the client closed
      }
    }
  }
}

void IcyTestServer::Serve(UniqueFd connection) {
  uint64_t releaseMark;
  {
    std::lock_guard<std::mutex> lock(mutex);
    releaseMark = releases;
  }
  while (ServeRequest(connection.Get(), releaseMark)) {
  }
}

bool IcyTestServer::ServeRequest(int fd, uint64_t releaseMark) {
  // The request's header text, up to its empty line.
  std::string request;
  bool complete = false;
  while (!complete && request.size() < kMaxRequestBytes) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopRead.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
      return false;
    }
    if (fds[1].revents != 0) {
      return false;
    }
    char bytes[4096];
    ssize_t received = ::recv(fd, bytes, sizeof bytes, 0);
    if (received < 0 && (errno == EAGAIN || errno == EINTR)) {
      continue;
    }
    if (received <= 0) {
      break;
    }
    request.append(bytes, static_cast<size_t>(received));
    size_t end = request.find("\r\n\r\n");
    if (end != std::string::npos) {
      request.resize(end + 4);
      complete = true;
    }
  }
  if (request.empty()) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(request);
  }
  requestArrived.notify_all();

  IcyResponse script = NextScript(request);
  std::string bytes = script.head + script.body;
  if (script.closeAfter < bytes.size()) {
    bytes.resize(script.closeAfter);
  }
  const size_t unpaced = std::min(script.paceAfter, bytes.size());
  if (unpaced > 0 && !SendAll(fd, bytes.data(), unpaced)) {
    return false;
  }
  size_t piece = script.pieceSize == 0 ? bytes.size() : script.pieceSize;
  for (size_t start = unpaced; start < bytes.size(); start += piece) {
    if ((start > 0) && script.pieceDelay.count() > 0 && Sleep(static_cast<int>(script.pieceDelay.count()))) {
      return false;
    }
    if (!SendAll(fd, bytes.data() + start, std::min(piece, bytes.size() - start))) {
      return false;
    }
  }
  if (script.stall) {
    Stall(fd, releaseMark);
  }
  if (script.reset) {
    // A zero linger time makes close() send a reset and drop unsent bytes.
    linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    return false;  // the descriptor closes with `connection`
  }
  if (script.keepAlive && !script.stall && script.closeAfter == IcyResponse::kEverything) {
    return true;
  }
  ::shutdown(fd, SHUT_WR);
  return false;
}

RefusingPort::RefusingPort() { socket = LoopbackSocket(port); }

std::string RefusingPort::Url(const std::string& path) const { return LoopbackUrl(port, path); }
