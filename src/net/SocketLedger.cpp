#include "net/SocketLedger.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <new>

void SocketLedger::SetLowWater(int bytes) const {
  for (curl_socket_t fd : open) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
  }
}

curl_socket_t SocketLedger::OpenSocket(void* ledger, curlsocktype, curl_sockaddr* address) {
  auto& sockets = static_cast<SocketLedger*>(ledger)->open;
  try {
    // Room first, so that a socket is never left made but unnoted.
    sockets.reserve(sockets.size() + 1);
  } catch (const std::bad_alloc&) {
    return CURL_SOCKET_BAD;
  }
  // Close-on-exec, so that a child process never keeps a stream's
  // connection open.
  curl_socket_t fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd != CURL_SOCKET_BAD) {
    sockets.push_back(fd);
  }
  return fd;
}

int SocketLedger::CloseSocket(void* ledger, curl_socket_t fd) {
  auto& sockets = static_cast<SocketLedger*>(ledger)->open;
  sockets.erase(std::remove(sockets.begin(), sockets.end(), fd), sockets.end());
  return ::close(fd) == 0 ? 0 : 1;
}
