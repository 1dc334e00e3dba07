#pragma once

#include <curl/curl.h>

#include <vector>

// The sockets that curl holds open for a set of transfers, made and closed
// by the ledger itself through curl's socket callbacks, so that it knows
// which descriptors are open and curl's: a descriptor number curl gave back
// may already belong to another part of the process. The receive low-water
// mark is set on these only.
//
// Whoever points a transfer's callbacks at a ledger (OpenSocket and
// CloseSocket, with the ledger as their data) keeps the ledger alive until
// curl has closed every connection those transfers made: a connection that
// curl keeps for later is closed through the callback of the transfer that
// opened it.
//
// Threads: the thread that drives the transfers (curl calls the callbacks
// inside its calls there). No lock.
class SocketLedger {
 public:
  SocketLedger() = default;
  SocketLedger(const SocketLedger&) = delete;
  SocketLedger& operator=(const SocketLedger&) = delete;

  // Open now, in the order they were opened.
  const std::vector<curl_socket_t>& Open() const { return open; }

  // Sets SO_RCVLOWAT on every open socket. A failure only costs wakeups: the
  // mark is a hint.
  void SetLowWater(int bytes) const;

  // curl's replacement for socket() (CURLOPT_OPENSOCKETFUNCTION, the ledger
  // as CURLOPT_OPENSOCKETDATA): a close-on-exec socket, noted.
  static curl_socket_t OpenSocket(void* ledger, curlsocktype purpose, curl_sockaddr* address);
  // curl's replacement for close() (CURLOPT_CLOSESOCKETFUNCTION): forgets
  // the socket before its number can be reused.
  static int CloseSocket(void* ledger, curl_socket_t fd);

 private:
  std::vector<curl_socket_t> open;
};
