#include "stream/HttpConnection.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
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
    throw ConnectionError(curl_easy_strerror(code));
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

// A "Location" header line with a value: curl follows it for a 3xx answer.
bool IsLocationLine(std::string_view line) {
  if (!StartsWithNoCase(line, "location:")) {
    return false;
  }
  return line.find_first_not_of(" \t", 9) != std::string_view::npos;
}

}  // namespace

struct HttpConnection::Impl {
  // Constant after construction; Abort uses it from any thread.
  MultiHandle multi;

  // Any thread.
  std::atomic<bool> aborted{false};

  // The rest belongs to the thread calling Open and Read (curl's callbacks
  // run inside them). The lists are declared before the easy handle, which
  // uses them, so that they outlive it.
  HeaderList requestHeaders;
  HeaderList statusAliases;
  EasyHandle easy;
  bool added = false;  // easy is in multi
  char errorText[CURL_ERROR_SIZE] = {};

  bool done = false;  // curl reported the transfer finished
  CURLcode result = CURLE_OK;
  std::string failure;  // our own reason for failing a callback, if any
  bool paused = false;
  curl_socket_t socket = CURL_SOCKET_BAD;  // the newest socket curl opened for the transfer
  bool lowered = false;                    // the low-water mark is 1 for now
  long stallBytesPerSecond = kStallBytesPerSecond;
  long stallSeconds = kStallSeconds;

  // Header blocks: the one being received, the last complete one that was
  // not taken for the final response, and whether the final one is queued.
  bool inBlock = false;
  std::string block;
  long blockStatus = 0;
  bool blockHasLocation = false;
  std::string setAsideBlock;
  long setAsideStatus = 0;
  bool headerComplete = false;
  long status = 0;

  // While Read waits in curl, body bytes go straight into its buffer
  // (direct[0..directFilled), at most directCapacity) as long as nothing is
  // queued before them.
  uint8_t* direct = nullptr;
  size_t directCapacity = 0;
  size_t directFilled = 0;
  // Bytes for the reader: pending[pendingStart..] are not read yet.
  std::vector<uint8_t> pending;
  size_t pendingStart = 0;

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
    if (errorText[0] != '\0') {
      return ConnectionError(errorText);
    }
    return ConnectionError(curl_easy_strerror(result));
  }

  // Hands the header block on as the final response's.
  void CompleteHeader(const std::string& text, long code) {
    Queue(text.data(), text.size());
    status = code;
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

  // A failure here only costs wakeups: the mark is a hint.
  void SetLowWater(int bytes) {
    if (socket != CURL_SOCKET_BAD) {
      ::setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
    }
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
    SetOption(handle, CURLOPT_LOW_SPEED_LIMIT, stallBytesPerSecond);
    SetOption(handle, CURLOPT_LOW_SPEED_TIME, stallSeconds);

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
    // curl names a transfer's socket only once the transfer is over, so the
    // newest socket it opens is noted here: after redirects, the one that
    // carries the final response.
    curl_sockopt_callback onSocket = [](void* user, curl_socket_t fd, curlsocktype) -> int {
      static_cast<Impl*>(user)->socket = fd;
      return CURL_SOCKOPT_OK;
    };
    SetOption(handle, CURLOPT_SOCKOPTFUNCTION, onSocket);
    SetOption(handle, CURLOPT_SOCKOPTDATA, this);
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
  c.easy.reset(curl_easy_init());
  if (!c.easy) {
    throw ConnectionError("cannot create a curl handle");
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
        throw ConnectionError("no response header from the server");
      }
      break;
    }
    c.Wait();
  }
  if (c.status < 200 || c.status > 299) {
    throw ConnectionError("HTTP " + std::to_string(c.status));
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
