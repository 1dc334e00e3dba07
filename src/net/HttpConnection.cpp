#include "net/HttpConnection.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

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
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kMaxRedirects = 10;
constexpr const char* kAgent = "Driftharbour";
constexpr const char* kAbortedText = "connection aborted";
constexpr const char* kNotHttpUrlText = "not an http or https URL";
constexpr const char* kNotHttpText = "the server's answer is not HTTP";
// A reason phrase longer than this is cut: the user needs its gist, and a
// server must not fill a tooltip with kilobytes of it.
constexpr size_t kMaxPhraseBytes = 100;

void AppendLine(HeaderList& list, const std::string& line) {
  // curl_slist_append returns the list's head (a new one for an empty list)
  // and leaves the list untouched when it fails.
  curl_slist* head = curl_slist_append(list.get(), line.c_str());
  if (head == nullptr) {
    throw std::bad_alloc();
  }
  (void)list.release();
  list.reset(head);
}

template <typename T>
void SetOption(CURL* easy, CURLoption option, T value) {
  CURLcode code = curl_easy_setopt(easy, option, value);
  if (code != CURLE_OK) {
    HttpConnection::TransferFailure failure;
    failure.curlCode = code;
    throw ConnectionError(HttpConnection::DescribeFailure(failure));
  }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i];
    char b = prefix[i];
    if (a >= 'A' && a <= 'Z') {
      a = static_cast<char>(a - 'A' + 'a');
    }
    if (b >= 'A' && b <= 'Z') {
      b = static_cast<char>(b - 'A' + 'a');
    }
    if (a != b) {
      return false;
    }
  }
  return true;
}

// The status code of a status line such as "HTTP/1.1 302 Found" or
// "ICY 200 OK"; 0 when there is none. curl has already accepted the line.
long ParseStatus(std::string_view line) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos) {
    return 0;
  }
  size_t position = line.find_first_not_of(' ', space);
  long status = 0;
  int digits = 0;
  while (position < line.size() && digits < 3 && line[position] >= '0' && line[position] <= '9') {
    status = status * 10 + (line[position] - '0');
    ++position;
    ++digits;
  }
  return digits == 3 ? status : 0;
}

// A standard reason phrase for the codes a radio server is likely to send;
// empty for the rest.
std::string_view StandardPhrase(long status) {
  switch (status) {
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 429: return "Too Many Requests";
    case 451: return "Unavailable For Legal Reasons";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    default: return {};
  }
}

std::string_view TrimEnd(std::string_view text) {
  size_t end = text.find_last_not_of(" \t\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// The reason phrase of a status line as the server sent it ("Not Found" in
// "HTTP/1.1 404 Not Found"), at most kMaxPhraseBytes of it; empty when there
// is none.
std::string_view ReasonPhrase(std::string_view statusLine) {
  size_t code = statusLine.find(' ');
  if (code == std::string_view::npos) {
    return {};
  }
  code = statusLine.find_first_not_of(' ', code);
  if (code == std::string_view::npos || statusLine.size() - code <= 3) {
    return {};
  }
  size_t start = statusLine.find_first_not_of(" \t", code + 3);
  if (start == std::string_view::npos) {
    return {};
  }
  std::string_view phrase = TrimEnd(statusLine.substr(start));
  if (phrase.size() > kMaxPhraseBytes) {
    // Cut before a UTF-8 character rather than through it.
    size_t cut = kMaxPhraseBytes;
    while (cut > 0 && (static_cast<unsigned char>(phrase[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    phrase = TrimEnd(phrase.substr(0, cut));
  }
  return phrase;
}

// "HTTP 404 Not Found" for a final status outside 2xx.
std::string DescribeStatus(long status, std::string_view statusLine) {
  if (status < 100 || status > 999) {
    return kNotHttpText;
  }
  std::string text = "HTTP " + std::to_string(status);
  std::string_view phrase = ReasonPhrase(statusLine);
  if (phrase.empty()) {
    phrase = StandardPhrase(status);
  }
  if (!phrase.empty()) {
    text += ' ';
    text.append(phrase);
  }
  return text;
}

// strerror_r comes in two shapes; whichever this C library has, these
// overloads turn its result into the text.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }

// The system's text for an errno value, starting lower-case to sit inside
// our own sentence: "network is unreachable".
std::string ErrnoText(int number) {
  char buffer[256] = {};
  std::string text = ErrorText(strerror_r(number, buffer, sizeof buffer), buffer);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

std::string WithDetail(std::string text, std::string_view detail) {
  if (!detail.empty()) {
    text += " (";
    text.append(detail);
    text += ')';
  }
  return text;
}

// Only http and https URLs go to curl, which would otherwise take
// "notaurl" for a host name and speak other protocols.
bool IsHttpUrl(std::string_view url) { return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"); }

// A "Location" header line with a value: curl follows it for a 3xx answer.
bool IsLocationLine(std::string_view line) {
  if (!StartsWithNoCase(line, "location:")) {
    return false;
  }
  return line.find_first_not_of(" \t", 9) != std::string_view::npos;
}

}  // namespace

struct HttpConnection::Impl {
  // Constant after construction (until the destructor); Abort uses it from
  // any thread.
  MultiHandle multi;

  // Any thread.
  std::atomic<bool> aborted{false};

  // The rest belongs to the thread calling Open and Read (curl's callbacks
  // run inside them). The lists are declared before the easy handle, which
  // uses them, so that they outlive it. (Flags are grouped at the end, where
  // they pack.)
  HeaderList requestHeaders;
  HeaderList statusAliases;
  EasyHandle easy;

  CURLcode result = CURLE_OK;  // once done
  int32_t stallBytesPerSecond = kStallBytesPerSecond;
  int32_t stallSeconds = kStallSeconds;
  std::string failure;  // our own reason for failing a callback, if any
  // Every socket OpenSocket made that CloseSocket has not closed yet: only
  // these are ours to touch. A descriptor number curl gave back may already
  // belong to another part of the process.
  std::vector<curl_socket_t> openSockets;

  // Header blocks: the one being received, the last complete one that was
  // not taken for the final response, and the final one's status.
  std::string block;
  long blockStatus = 0;
  std::string setAsideBlock;
  long setAsideStatus = 0;
  long status = 0;
  std::string statusLine;
  std::string contentType;  // of the final response
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

  bool added = false;    // easy is in multi
  bool done = false;     // curl reported the transfer finished
  bool paused = false;   // the body callback paused the transfer
  bool lowered = false;  // the low-water mark is 1 for now
  // The request that is under way (the latest after redirects) went out on
  // a connection.
  bool requestSent = false;
  bool inBlock = false;  // a header block is being received
  bool blockHasLocation = false;
  bool headerComplete = false;  // the final header block is queued

  // curl's own words for a failure (CURLOPT_ERRORBUFFER).
  char errorText[CURL_ERROR_SIZE] = {};

  Impl() : multi(curl_multi_init()) {
    if (!multi) {
      throw ConnectionError("cannot create a curl multi handle");
    }
  }

  ~Impl() {
    if (added) {
      // A name look-up may still run in curl's resolver thread; after an
      // abort, leave it behind instead of waiting for it.
      if (aborted.load()) {
        curl_easy_setopt(easy.get(), CURLOPT_QUICK_EXIT, 1L);
      }
      curl_multi_remove_handle(multi.get(), easy.get());
    }
    // The multi handle closes the connections it keeps through CloseSocket,
    // which needs openSockets: release the handles while every member is
    // still there.
    easy.reset();
    multi.reset();
  }

  size_t Queued() const { return pending.size() - pendingStart; }

  void Queue(const void* bytes, size_t length) {
    const uint8_t* first = static_cast<const uint8_t*>(bytes);
    pending.insert(pending.end(), first, first + length);
  }

  void ThrowIfAborted() const {
    if (aborted.load()) {
      throw ConnectionError(kAbortedText);
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

  // Hands the header block on as the final response's.
  void CompleteHeader(const std::string& text, long code) {
    Queue(text.data(), text.size());
    status = code;
    statusLine = text.substr(0, text.find("\r\n"));
    contentType.clear();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        end = text.size();
      }
      const std::string_view line(text.data() + start, end - start);
      if (StartsWithNoCase(line, "content-type:")) {
        const size_t first = line.find_first_not_of(" \t", 13);
        const size_t last = line.find_last_not_of(" \t");
        contentType = first == std::string_view::npos ? std::string() : std::string(line.substr(first, last - first + 1));
      }
      start = end + 2;
    }
    headerComplete = true;
  }

  // One line from curl's header callback, with its line end. False stops
  // the transfer.
  bool TakeHeaderLine(std::string_view line) {
    if (headerComplete) {
      return true;  // trailers after a chunked body
    }
    if (!line.empty() && line.back() == '\n') {
      line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (!inBlock) {
      if (line.empty()) {
        return true;
      }
      inBlock = true;
      block.clear();
      blockStatus = ParseStatus(line);
      blockHasLocation = false;
    } else if (line.empty()) {
      inBlock = false;
      block += "\r\n";
      bool interim = blockStatus >= 100 && blockStatus < 200;
      bool redirect = blockStatus >= 300 && blockStatus < 400 && blockStatus != 304 && blockHasLocation;
      if (interim || redirect) {
        // curl goes on with the next response. Should it not (a redirect it
        // does not follow), TakeBody or the end of the transfer takes this
        // block after all.
        setAsideBlock.swap(block);
        setAsideStatus = blockStatus;
        if (redirect) {
          requestSent = false;  // the next request is still to be made
        }
      } else {
        CompleteHeader(block, blockStatus);
      }
      return true;
    } else if (IsLocationLine(line)) {
      blockHasLocation = true;
    }
    block.append(line);
    block += "\r\n";
    if (block.size() > static_cast<size_t>(kMaxHeaderBytes)) {
      failure = "response header block larger than " + std::to_string(kMaxHeaderBytes) + " bytes";
      return false;
    }
    return true;
  }

  // Body bytes from curl's write callback. Returns what curl expects back.
  size_t TakeBody(const char* bytes, size_t length) {
    if (!headerComplete) {
      TakeSetAsideBlock();
    }
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

  void TakeSetAsideBlock() {
    if (!headerComplete && !setAsideBlock.empty()) {
      CompleteHeader(setAsideBlock, setAsideStatus);
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
  // still keeps from a redirect is idle: the mark does it no harm.
  void SetLowWater(int bytes) {
    for (curl_socket_t fd : openSockets) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
    }
  }

  // curl's replacement for socket(): notes the socket as ours.
  static curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto& sockets = static_cast<Impl*>(user)->openSockets;
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

  // curl's replacement for close(): forgets the socket before its number
  // can be reused.
  static int CloseSocket(void* user, curl_socket_t fd) {
    auto& sockets = static_cast<Impl*>(user)->openSockets;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), fd), sockets.end());
    return ::close(fd) == 0 ? 0 : 1;
  }

  void Configure(const std::string& url, const std::string& headerText) {
    CURL* handle = easy.get();
    size_t start = 0;
    while (start < headerText.size()) {
      size_t end = headerText.find("\r\n", start);
      if (end == std::string::npos) {
        end = headerText.size();
      }
      if (end > start) {
        AppendLine(requestHeaders, headerText.substr(start, end - start));
      }
      start = end + 2;
    }
    // SHOUTcast servers answer "ICY 200 OK", which curl takes for a status
    // line only when told so. HTTP/0.9 stays off: it would hand an answer
    // without a status line on as body.
    AppendLine(statusAliases, "ICY 200 OK");
    AppendLine(statusAliases, "ICY 200");

    SetOption(handle, CURLOPT_ERRORBUFFER, errorText);
    SetOption(handle, CURLOPT_URL, url.c_str());
    SetOption(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    SetOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
    SetOption(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    SetOption(handle, CURLOPT_USERAGENT, kAgent);
    SetOption(handle, CURLOPT_HTTPHEADER, requestHeaders.get());
    SetOption(handle, CURLOPT_HTTP200ALIASES, statusAliases.get());
    SetOption(handle, CURLOPT_HTTP09_ALLOWED, 0L);
    SetOption(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    SetOption(handle, CURLOPT_NOSIGNAL, 1L);
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
    curl_opensocket_callback onOpen = &Impl::OpenSocket;
    curl_closesocket_callback onClose = &Impl::CloseSocket;
    SetOption(handle, CURLOPT_OPENSOCKETFUNCTION, onOpen);
    SetOption(handle, CURLOPT_OPENSOCKETDATA, this);
    SetOption(handle, CURLOPT_CLOSESOCKETFUNCTION, onClose);
    SetOption(handle, CURLOPT_CLOSESOCKETDATA, this);
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
  if (c.easy) {
    throw std::logic_error("HttpConnection::Open called twice");
  }
  c.requestedUrl = url;
  c.easy.reset(curl_easy_init());
  if (!c.easy) {
    throw ConnectionError("cannot create a curl handle");
  }
  if (!IsHttpUrl(url)) {
    throw ConnectionError(kNotHttpUrlText);
  }
  c.Configure(url, headerText);
  CURLMcode code = curl_multi_add_handle(c.multi.get(), c.easy.get());
  if (code != CURLM_OK) {
    throw ConnectionError(curl_multi_strerror(code));
  }
  c.added = true;

  for (;;) {
    c.ThrowIfAborted();
    c.Perform();
    if (c.headerComplete) {
      break;
    }
    if (c.done) {
      if (c.result != CURLE_OK) {
        throw c.Failure();
      }
      c.TakeSetAsideBlock();
      if (!c.headerComplete) {
        throw ConnectionError("no response from the server");
      }
      break;
    }
    c.Wait();
  }
  if (c.status < 200 || c.status > 299) {
    throw ConnectionError(DescribeStatus(c.status, c.statusLine));
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
    if (!c.headerComplete || c.status < 200 || c.status > 299) {
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

void HttpConnection::Abort() {
  impl->aborted.store(true);
  // Whatever the worker does right now, its next curl_multi_poll returns at
  // once, and it looks at the flag before and after every poll.
  curl_multi_wakeup(impl->multi.get());
}

long HttpConnection::StatusCode() const { return impl->status; }

std::string HttpConnection::StatusLine() const { return impl->statusLine; }

std::string HttpConnection::ContentType() const { return impl->contentType; }

std::string HttpConnection::EffectiveUrl() const {
  char* effective = nullptr;
  if (impl->easy && curl_easy_getinfo(impl->easy.get(), CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
      effective != nullptr) {
    return effective;
  }
  return impl->requestedUrl;
}

std::vector<int> HttpConnection::OpenSockets() const {
  return std::vector<int>(impl->openSockets.begin(), impl->openSockets.end());
}

std::string HttpConnection::DescribeFailure(const TransferFailure& failure) {
  std::string_view detail = TrimEnd(failure.detail);
  auto code = static_cast<CURLcode>(failure.curlCode);
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      // Before a request went out, the scheme of a URL (a redirect's: ours
      // were checked) was refused; after it, the answer had no status line
      // and was taken for HTTP/0.9, which is off.
      return failure.requestSent ? kNotHttpText : kNotHttpUrlText;
    case CURLE_URL_MALFORMAT:
      return kNotHttpUrlText;
    case CURLE_COULDNT_RESOLVE_HOST:
      return "host not found";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "proxy not found";
    case CURLE_COULDNT_CONNECT:
      if (failure.osErrno == ECONNREFUSED) {
        return "connection refused";
      }
      if (failure.osErrno == ETIMEDOUT) {
        return "no answer from the server";
      }
      return failure.osErrno != 0 ? WithDetail("cannot connect", ErrnoText(failure.osErrno)) : "cannot connect";
    case CURLE_OPERATION_TIMEDOUT:
      // Before the request, only the connect timeout runs; after it, only
      // the low-speed limit.
      if (!failure.requestSent) {
        return "no answer from the server";
      }
      return "the stream stalled (less than " + std::to_string(failure.stallBytesPerSecond) + " bytes/s for " +
             std::to_string(failure.stallSeconds) + " s)";
    case CURLE_TOO_MANY_REDIRECTS:
      return "too many redirects";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: {
      // Our own words already say it is about the certificate.
      constexpr std::string_view kRedundant = "SSL certificate problem: ";
      if (StartsWithNoCase(detail, kRedundant)) {
        detail.remove_prefix(kRedundant.size());
      }
      return WithDetail("certificate not trusted", detail);
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return WithDetail("secure connection failed", detail);
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return WithDetail("connection lost", detail);
    case CURLE_GOT_NOTHING:
      return "no response from the server";
    case CURLE_WEIRD_SERVER_REPLY:
      return kNotHttpText;
    case CURLE_PROXY:
      return WithDetail("proxy failed", detail);
    case CURLE_OUT_OF_MEMORY:
      return "out of memory";
    case CURLE_ABORTED_BY_CALLBACK:
      return kAbortedText;
    default:
      return WithDetail("connection failed", detail.empty() ? std::string_view(curl_easy_strerror(code)) : detail);
  }
}
