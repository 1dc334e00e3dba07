#include "net/HttpConnection.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "net/ConnectionShare.h"
#include "net/CurlHandles.h"
#include "net/HttpFailureText.h"
#include "net/ResponseHead.h"
#include "net/SocketLedger.h"
#include "net/TrustStore.h"
#include "text/ByteText.h"

namespace {

// Above this many queued bytes the transfer is paused until the reader has
// emptied the queue.
constexpr size_t kQueueLimit = size_t{256} * 1024;
// curl_multi_poll wakes up by itself at least this often so that curl can
// run its own timers; an abort wakes it at once.
constexpr int kPollTimeoutMs = 1000;
// Once the header block is in, the socket reports itself readable only when
// this many bytes wait (SO_RCVLOWAT), so that a slow stream wakes its reader
// about once a second instead of for every packet. A poll that times out
// takes whatever is there, so no byte waits much longer than
// kPollTimeoutMs.
constexpr int kReceiveLowWater = 16 * 1024;
// curl's receive buffer: one recv() and one write callback per this many
// bytes at most. Larger than curl's 16 KB, so a fast stream costs a third of
// the system calls, and below the stream's default read size (50000), so
// that a callback's bytes go straight into the reader's buffer instead of
// through the queue.
constexpr long kReceiveBufferBytes = 48 * 1024;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kMaxRedirects = 10;
constexpr const char* kAgent = "Driftharbour";

template <typename T>
void SetOption(CURL* easy, CURLoption option, T value) {
  CURLcode code = curl_easy_setopt(easy, option, value);
  if (code != CURLE_OK) {
    HttpConnection::TransferFailure failure;
    failure.curlCode = code;
    throw ConnectionError(HttpConnection::DescribeFailure(failure));
  }
}

// Only http and https URLs go to curl, which would otherwise take
// "notaurl" for a host name and speak other protocols.
bool IsHttpUrl(std::string_view url) {
  return ByteText::StartsWithNoCase(url, "http://") || ByteText::StartsWithNoCase(url, "https://");
}

}  // namespace

struct HttpConnection::Impl {
  // The kept connections the transfer may use and leaves its own to; null
  // when it has its own. Set before Open; declared first, so that it
  // outlives the handles.
  std::shared_ptr<ConnectionShare> share;

  // Constant after construction (until the destructor); Abort uses it from
  // any thread.
  CurlMulti multi;

  // Any thread.
  std::atomic<bool> aborted{false};

  // The rest belongs to the thread calling Open and Read (curl's callbacks
  // run inside them). The lists are declared before the easy handle, which
  // uses them, so that they outlive it. (Flags are grouped at the end, where
  // they pack.)
  CurlList requestHeaders;
  CurlList statusAliases;
  CurlEasy easy;

  CURLcode result = CURLE_OK;  // once done
  int32_t stallBytesPerSecond = kStallBytesPerSecond;
  int32_t stallSeconds = kStallSeconds;
  std::string failure;  // our own reason for failing a callback, if any
  // The sockets curl holds for the transfer: our own ledger, or the
  // share's, which outlives the connection.
  SocketLedger ownSockets;
  SocketLedger* sockets = &ownSockets;

  // The final response's header block, once it is in (then also queued).
  ResponseHead head{static_cast<size_t>(kMaxHeaderBytes)};
  std::string requestedUrl;

  // While Read waits in curl, body bytes go straight into its buffer
  // (direct[0..directFilled), at most directCapacity) as long as nothing is
  // queued before them.
  uint8_t* direct = nullptr;
  size_t directCapacity = 0;
  size_t directFilled = 0;
  // Bytes for the reader: pending[pendingStart..] are not read yet.
  std::vector<uint8_t> pending;
  size_t pendingStart = 0;

  bool opened = false;   // Open was called
  bool added = false;    // easy is in multi
  bool done = false;     // curl reported the transfer finished
  bool paused = false;   // the body callback paused the transfer
  bool lowered = false;  // the low-water mark is 1 for now
  // The request that is under way (the latest after redirects) went out on
  // a connection.
  bool requestSent = false;

  // curl's own words for a failure (CURLOPT_ERRORBUFFER).
  char errorText[CURL_ERROR_SIZE] = {};

  Impl() : multi(curl_multi_init()) {
    if (!multi) {
      throw ConnectionError("cannot create a curl multi handle");
    }
  }

  ~Impl() {
    ReleaseEasy();
    // The multi handle closes the connections it keeps through the ledger:
    // release it while every member is still there.
    multi.reset();
  }

  // Ends the transfer and lets go of the easy handle (a finished response
  // leaves its connection in the share, if any).
  void ReleaseEasy() {
    if (added) {
      // A name look-up may still run in curl's resolver thread; after an
      // abort, leave it behind instead of waiting for it.
      if (aborted.load()) {
        curl_easy_setopt(easy.get(), CURLOPT_QUICK_EXIT, 1L);
      }
      curl_multi_remove_handle(multi.get(), easy.get());
      added = false;
    }
    easy.reset();
  }

  size_t Queued() const { return pending.size() - pendingStart; }

  // The final response's status is 2xx.
  bool Succeeded() const { return head.Status() >= 200 && head.Status() <= 299; }

  void Queue(const void* bytes, size_t length) {
    const uint8_t* first = static_cast<const uint8_t*>(bytes);
    pending.insert(pending.end(), first, first + length);
  }

  void ThrowIfAborted() const {
    if (aborted.load()) {
      throw ConnectionError(HttpFailureText::kAborted);
    }
  }

  ConnectionError Failure() const {
    if (!failure.empty()) {
      return ConnectionError(failure);
    }
    TransferFailure report;
    report.curlCode = result;
    long osErrno = 0;
    if (curl_easy_getinfo(easy.get(), CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK) {
      report.osErrno = static_cast<int>(osErrno);
    }
    report.detail = errorText;
    report.requestSent = requestSent;
    report.stallBytesPerSecond = stallBytesPerSecond;
    report.stallSeconds = stallSeconds;
    return ConnectionError(DescribeFailure(report));
  }

  // One line from curl's header callback, with its line end. False stops
  // the transfer.
  bool TakeHeaderLine(std::string_view line) {
    switch (head.Take(line)) {
      case ResponseHead::Step::More:
        break;
      case ResponseHead::Step::Redirect:
        requestSent = false;  // the next request is still to be made
        break;
      case ResponseHead::Step::Complete:
        Queue(head.Block().data(), head.Block().size());
        break;
      case ResponseHead::Step::TooLarge:
        failure = "response header block larger than " + std::to_string(kMaxHeaderBytes) + " bytes";
        return false;
    }
    return true;
  }

  // Body bytes from curl's write callback. Returns what curl expects back.
  size_t TakeBody(const char* bytes, size_t length) {
    TakeSetAsideBlock();
    if (Queued() >= kQueueLimit) {
      // curl keeps these bytes and offers them again after the unpause.
      paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    size_t taken = 0;
    if (direct != nullptr && Queued() == 0) {
      taken = std::min(length, directCapacity - directFilled);
      std::memcpy(direct + directFilled, bytes, taken);
      directFilled += taken;
    }
    Queue(bytes + taken, length - taken);
    return length;
  }

  // A block set aside becomes the final one when no other came.
  void TakeSetAsideBlock() {
    if (head.TakeSetAside()) {
      Queue(head.Block().data(), head.Block().size());
    }
  }

  // Lets curl work on the transfer without waiting, then notes its end.
  void Perform() {
    int running = 0;
    CURLMcode code = curl_multi_perform(multi.get(), &running);
    if (code != CURLM_OK) {
      throw ConnectionError(curl_multi_strerror(code));
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy.get()) {
        done = true;
        result = message->data.result;
      }
    }
  }

  // Sleeps until the socket, curl's timers or an abort need attention;
  // false when no socket became ready.
  bool Wait() {
    int ready = 0;
    CURLMcode code = curl_multi_poll(multi.get(), nullptr, 0, kPollTimeoutMs, &ready);
    if (code != CURLM_OK) {
      throw ConnectionError(curl_multi_strerror(code));
    }
    return ready > 0;
  }

  // Bytes went to the reader: back to the full mark if a timeout lowered it.
  void RaiseLowWater() {
    if (lowered) {
      lowered = false;
      SetLowWater(kReceiveLowWater);
    }
  }

  // A failure here only costs wakeups: the mark is a hint. Once the header
  // block is in, no new connection is made, and an earlier one that curl
  // still keeps from a redirect (or for a later transfer) is idle: the mark
  // does it no harm.
  void SetLowWater(int bytes) { sockets->SetLowWater(bytes); }

  void Configure(const std::string& url, const std::string& headerText) {
    CURL* handle = easy.get();
    size_t start = 0;
    while (start < headerText.size()) {
      size_t end = headerText.find("\r\n", start);
      if (end == std::string::npos) {
        end = headerText.size();
      }
      if (end > start) {
        AppendCurlLine(requestHeaders, headerText.substr(start, end - start));
      }
      start = end + 2;
    }
    // SHOUTcast servers answer "ICY 200 OK", which curl takes for a status
    // line only when told so. HTTP/0.9 stays off: it would hand an answer
    // without a status line on as body.
    AppendCurlLine(statusAliases, "ICY 200 OK");
    AppendCurlLine(statusAliases, "ICY 200");

    SetOption(handle, CURLOPT_ERRORBUFFER, errorText);
    SetOption(handle, CURLOPT_URL, url.c_str());
    SetOption(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    const TrustStore& trust = TrustStore::FromEnvironment();
    if (!trust.caFile.empty()) {
      SetOption(handle, CURLOPT_CAINFO, trust.caFile.c_str());
    }
    if (!trust.caDirectory.empty()) {
      SetOption(handle, CURLOPT_CAPATH, trust.caDirectory.c_str());
    }
    SetOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
    SetOption(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    SetOption(handle, CURLOPT_USERAGENT, kAgent);
    SetOption(handle, CURLOPT_HTTPHEADER, requestHeaders.get());
    SetOption(handle, CURLOPT_HTTP200ALIASES, statusAliases.get());
    SetOption(handle, CURLOPT_HTTP09_ALLOWED, 0L);
    SetOption(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    SetOption(handle, CURLOPT_NOSIGNAL, 1L);
    SetOption(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    SetOption(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    SetOption(handle, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(stallBytesPerSecond));
    SetOption(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallSeconds));

    curl_write_callback onHeader = [](char* bytes, size_t size, size_t count, void* user) -> size_t {
      size_t length = size * count;
      return static_cast<Impl*>(user)->TakeHeaderLine(std::string_view(bytes, length)) ? length : 0;
    };
    curl_write_callback onBody = [](char* bytes, size_t size, size_t count, void* user) -> size_t {
      return static_cast<Impl*>(user)->TakeBody(bytes, size * count);
    };
    SetOption(handle, CURLOPT_HEADERFUNCTION, onHeader);
    SetOption(handle, CURLOPT_HEADERDATA, this);
    SetOption(handle, CURLOPT_WRITEFUNCTION, onBody);
    SetOption(handle, CURLOPT_WRITEDATA, this);
    // curl names a transfer's socket only once the transfer is over, and
    // with happy eyeballs the socket it made last need not be the one that
    // won, nor still open. So the connection makes and closes the sockets
    // itself and knows which are open.
    curl_opensocket_callback onOpen = &SocketLedger::OpenSocket;
    curl_closesocket_callback onClose = &SocketLedger::CloseSocket;
    SetOption(handle, CURLOPT_OPENSOCKETFUNCTION, onOpen);
    SetOption(handle, CURLOPT_OPENSOCKETDATA, sockets);
    SetOption(handle, CURLOPT_CLOSESOCKETFUNCTION, onClose);
    SetOption(handle, CURLOPT_CLOSESOCKETDATA, sockets);
    if (share) {
      SetOption(handle, CURLOPT_SHARE, share->Handle());
    }
    // A timeout before the request went out means the server never
    // answered; after it, the stream stalled.
    curl_prereq_callback onRequest = [](void* user, char*, char*, int, int) -> int {
      static_cast<Impl*>(user)->requestSent = true;
      return CURL_PREREQFUNC_OK;
    };
    SetOption(handle, CURLOPT_PREREQFUNCTION, onRequest);
    SetOption(handle, CURLOPT_PREREQDATA, this);
  }
};

HttpConnection::HttpConnection() : impl(std::make_unique<Impl>()) {}

HttpConnection::~HttpConnection() = default;

void HttpConnection::Open(const std::string& url, const std::string& headerText) {
  Impl& c = *impl;
  c.ThrowIfAborted();
  if (c.opened) {
    throw std::logic_error("HttpConnection::Open called twice");
  }
  c.opened = true;
  c.requestedUrl = url;
  c.easy.reset(curl_easy_init());
  if (!c.easy) {
    throw ConnectionError("cannot create a curl handle");
  }
  if (!IsHttpUrl(url)) {
    throw ConnectionError(HttpFailureText::kNotHttpUrl);
  }
  c.Configure(url, headerText);
  // A kept connection still has the last response's low-water mark, which
  // would hold a short answer back.
  c.SetLowWater(1);
  CURLMcode code = curl_multi_add_handle(c.multi.get(), c.easy.get());
  if (code != CURLM_OK) {
    throw ConnectionError(curl_multi_strerror(code));
  }
  c.added = true;

  for (;;) {
    c.ThrowIfAborted();
    c.Perform();
    if (c.head.Complete()) {
      break;
    }
    if (c.done) {
      if (c.result != CURLE_OK) {
        throw c.Failure();
      }
      c.TakeSetAsideBlock();
      if (!c.head.Complete()) {
        throw ConnectionError("no response from the server");
      }
      break;
    }
    c.Wait();
  }
  if (!c.Succeeded()) {
    throw ConnectionError(HttpFailureText::ForStatus(c.head.Status(), c.head.StatusLine()));
  }
  c.SetLowWater(kReceiveLowWater);
}

int32_t HttpConnection::Read(uint8_t* buffer, int32_t size) {
  Impl& c = *impl;
  if (size <= 0) {
    return 0;
  }
  for (;;) {
    c.ThrowIfAborted();
    if (!c.head.Complete() || !c.Succeeded() || !c.easy) {
      throw ConnectionError("connection not open");
    }
    if (c.Queued() > 0) {
      size_t count = std::min(c.Queued(), static_cast<size_t>(size));
      std::memcpy(buffer, c.pending.data() + c.pendingStart, count);
      c.pendingStart += count;
      if (c.pendingStart == c.pending.size()) {
        c.pending.clear();
        c.pendingStart = 0;
      }
      c.RaiseLowWater();
      return static_cast<int32_t>(count);
    }
    if (c.done) {
      if (c.result != CURLE_OK) {
        throw c.Failure();
      }
      return 0;
    }
    if (c.paused) {
      // May hand the bytes curl kept back to TakeBody right away.
      c.paused = false;
      CURLcode code = curl_easy_pause(c.easy.get(), CURLPAUSE_CONT);
      if (code != CURLE_OK) {
        throw ConnectionError(curl_easy_strerror(code));
      }
      continue;
    }
    c.direct = buffer;
    c.directCapacity = static_cast<size_t>(size);
    c.directFilled = 0;
    try {
      c.Perform();
    } catch (...) {
      c.direct = nullptr;
      throw;
    }
    c.direct = nullptr;
    if (c.directFilled > 0) {
      c.RaiseLowWater();
      return static_cast<int32_t>(c.directFilled);
    }
    if (c.Queued() == 0 && !c.done && !c.paused) {
      if (!c.Wait() && !c.lowered) {
        // Nothing reached the mark in time: let curl see fewer bytes.
        c.lowered = true;
        c.SetLowWater(1);
      }
    }
  }
}

void HttpConnection::SetStallLimit(int32_t bytesPerSecond, int32_t seconds) {
  impl->stallBytesPerSecond = bytesPerSecond > 0 ? bytesPerSecond : kStallBytesPerSecond;
  impl->stallSeconds = seconds > 0 ? seconds : kStallSeconds;
}

void HttpConnection::UseShare(std::shared_ptr<ConnectionShare> kept) {
  if (impl->opened) {
    throw std::logic_error("HttpConnection::UseShare called after Open");
  }
  impl->share = std::move(kept);
  impl->sockets = impl->share ? &impl->share->Sockets() : &impl->ownSockets;
}

void HttpConnection::Finish() { impl->ReleaseEasy(); }

void HttpConnection::Abort() {
  impl->aborted.store(true);
  // Whatever the worker does right now, its next curl_multi_poll returns at
  // once, and it looks at the flag before and after every poll.
  curl_multi_wakeup(impl->multi.get());
}

long HttpConnection::StatusCode() const { return impl->head.Status(); }

std::string HttpConnection::StatusLine() const { return impl->head.StatusLine(); }

std::string HttpConnection::ContentType() const { return impl->head.ContentType(); }

std::string HttpConnection::EffectiveUrl() const {
  char* effective = nullptr;
  if (impl->easy && curl_easy_getinfo(impl->easy.get(), CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
      effective != nullptr) {
    return effective;
  }
  return impl->requestedUrl;
}

std::vector<int> HttpConnection::OpenSockets() const {
  const std::vector<curl_socket_t>& open = impl->sockets->Open();
  return std::vector<int>(open.begin(), open.end());
}

std::string HttpConnection::DescribeFailure(const TransferFailure& failure) {
  return HttpFailureText::ForTransfer(failure);
}
