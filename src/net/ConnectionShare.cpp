#include "net/ConnectionShare.h"

#include "net/HttpConnection.h"

ConnectionShare::ConnectionShare() : share(curl_share_init()) {
  if (!share) {
    throw ConnectionError("cannot create a curl share handle");
  }
  for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
    const CURLSHcode code = curl_share_setopt(share.get(), CURLSHOPT_SHARE, data);
    if (code != CURLSHE_OK) {
      throw ConnectionError(curl_share_strerror(code));
    }
  }
}
