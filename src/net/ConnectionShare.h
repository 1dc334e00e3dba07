#pragma once

#include "net/CurlHandles.h"
#include "net/SocketLedger.h"

// What the transfers of one station share, so that one connection carries
// them all: libcurl's connection cache (a finished response leaves its
// connection open for the next request: HTTP keep-alive), its TLS session
// cache (a new connection resumes the last session instead of a full
// handshake) and its DNS cache, in one curl share handle; and the ledger of
// the sockets those connections hold.
//
// An HttpConnection given the share (HttpConnection::UseShare) runs its
// transfer over it. The ledger lives here, not in the connection, because
// curl closes a kept connection later (when the server has closed it, or
// when the share goes) through the socket callbacks of the transfer that
// opened it.
//
// Ownership: shared by its owner and every HttpConnection that uses it;
// curl closes the kept connections when the last of them lets go.
// Threads: one thread at a time. The share has no lock functions, so the
// connections that use it are opened, read and finished (HttpConnection::
// Finish) on one thread, one after another; HttpConnection::Abort does not
// touch the share. Whoever lets go of the share last must not overlap with
// that thread's use of it.
class ConnectionShare {
 public:
  // Throws ConnectionError when curl cannot create the share handle.
  ConnectionShare();

  ConnectionShare(const ConnectionShare&) = delete;
  ConnectionShare& operator=(const ConnectionShare&) = delete;

  CURLSH* Handle() const { return share.get(); }
  SocketLedger& Sockets() { return sockets; }

 private:
  // Declared before the share: curl_share_cleanup closes the kept
  // connections through it.
  SocketLedger sockets;
  CurlShare share;
};
