// icy-bench-server: a loopback ICY server for the end-to-end benchmarks. One
// thread and epoll serve any number of streams, either paced in real time
// (--rate bytes per second, sent every --tick-ms) or as fast as the
// loopback allows (--rate 0).
//
// Every request path gives its own stream: the audio of path "/s/<n>" is
// byte k = Pattern[(k + n * 7919) % kPatternBytes] (any other path: n = 0),
// so a recording can be checked without the server. A request with
// "icy-metadata:1" gets a metadata block after every --metaint audio bytes,
// carrying the title "S<n> T<t>" (t = audio offset / --title-every) when it
// changed and the single byte 0 otherwise; a request without gets the audio
// alone. --total ends each stream after that many audio bytes (and the
// metadata block due there); 0 streams without end.
//
// On SIGTERM or SIGINT the server prints one line per connection, "<path>
// <audio bytes sent>", and exits.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kPatternBytes = 1048573;  // prime: never lines up with an interval

struct Settings {
  int port = 8000;
  int64_t rate = 16000;
  int tickMs = 100;
  int64_t metaint = 16000;
  int64_t titleEvery = 4000000;
  int64_t total = 0;
};

std::vector<uint8_t> MakePattern() {
  std::vector<uint8_t> pattern(kPatternBytes);
  uint32_t state = 12345;
  for (auto& byte : pattern) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return pattern;
}

const std::vector<uint8_t> kPattern = MakePattern();

struct Connection {
  int fd = -1;
  std::string request;
  bool responding = false;
  bool metadata = false;
  std::string path;
  int64_t streamNumber = 0;
  std::vector<uint8_t> out;  // bytes filled but not sent yet, from outStart
  size_t outStart = 0;
  int64_t audioSent = 0;   // audio offset of the next audio byte
  int64_t inBlock = 0;     // audio bytes since the last metadata block
  std::string block;       // unsent part of the current metadata block
  int64_t announced = -1;  // title number last announced
  int64_t credit = 0;      // bytes the pacing allows now
  bool done = false;       // everything sent
};

std::string TitleBlock(const Settings& settings, Connection& c) {
  const int64_t title = settings.titleEvery > 0 ? c.audioSent / settings.titleEvery : 0;
  if (title == c.announced) {
    return std::string(1, '\0');
  }
  c.announced = title;
  char text[96];
  const int n = std::snprintf(text, sizeof text, "StreamTitle='S%05lld T%06lld';", static_cast<long long>(c.streamNumber),
                              static_cast<long long>(title));
  const size_t units = (static_cast<size_t>(n) + 15) / 16;
  std::string out(1 + units * 16, '\0');
  out[0] = static_cast<char>(units);
  std::memcpy(out.data() + 1, text, static_cast<size_t>(n));
  return out;
}

// Fills at most room bytes of the stream body into out; returns how many.
size_t Fill(const Settings& settings, Connection& c, uint8_t* out, size_t room) {
  size_t filled = 0;
  while (filled < room) {
    if (!c.block.empty()) {
      const size_t n = std::min(room - filled, c.block.size());
      std::memcpy(out + filled, c.block.data(), n);
      c.block.erase(0, n);
      filled += n;
      continue;
    }
    if (settings.total > 0 && c.audioSent >= settings.total) {
      c.done = true;
      break;
    }
    int64_t n = static_cast<int64_t>(room - filled);
    if (c.metadata) {
      n = std::min(n, settings.metaint - c.inBlock);
    }
    if (settings.total > 0) {
      n = std::min(n, settings.total - c.audioSent);
    }
    const size_t start = static_cast<size_t>((c.audioSent + c.streamNumber * 7919) % kPatternBytes);
    n = std::min<int64_t>(n, static_cast<int64_t>(kPatternBytes - start));
    std::memcpy(out + filled, kPattern.data() + start, static_cast<size_t>(n));
    filled += static_cast<size_t>(n);
    c.audioSent += n;
    c.inBlock += n;
    if (c.metadata && c.inBlock == settings.metaint) {
      c.inBlock = 0;
      c.block = TitleBlock(settings, c);
    }
  }
  return filled;
}

bool Has(const std::string& request, const char* text) {
  std::string lower = request;
  for (auto& ch : lower) {
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  return lower.find(text) != std::string::npos;
}

void StartResponse(const Settings& settings, Connection& c) {
  const size_t space = c.request.find(' ');
  const size_t end = c.request.find(' ', space + 1);
  c.path = space == std::string::npos ? "/" : c.request.substr(space + 1, end - space - 1);
  if (c.path.rfind("/s/", 0) == 0) {
    c.streamNumber = std::atoll(c.path.c_str() + 3);
  }
  c.metadata = Has(c.request, "icy-metadata:1") || Has(c.request, "icy-metadata: 1");
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-name:Bench " + std::to_string(c.streamNumber) +
           "\r\nicy-br:128\r\n";
  if (c.metadata) {
    head += "icy-metaint:" + std::to_string(settings.metaint) + "\r\n";
  }
  head += "\r\n";
  c.out.assign(head.begin(), head.end());
  c.outStart = 0;
  c.responding = true;
  c.credit = settings.rate > 0 ? settings.rate * settings.tickMs / 1000 : 0;
}

// Sends what the connection may send now; false when it is finished or broken.
bool Pump(const Settings& settings, Connection& c, size_t burst) {
  for (;;) {
    if (c.outStart == c.out.size()) {
      size_t room = burst;
      if (settings.rate > 0) {
        if (c.credit <= 0) {
          return true;
        }
        room = std::min(room, static_cast<size_t>(c.credit));
      }
      c.out.resize(room);
      const size_t filled = Fill(settings, c, c.out.data(), room);
      c.out.resize(filled);
      c.outStart = 0;
      c.credit -= static_cast<int64_t>(filled);
      if (filled == 0) {
        return !c.done;
      }
    }
    const ssize_t n = ::send(c.fd, c.out.data() + c.outStart, c.out.size() - c.outStart, MSG_NOSIGNAL);
    if (n < 0) {
      return errno == EAGAIN || errno == EINTR;
    }
    c.outStart += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const long long value = std::atoll(argv[i + 1]);
    if (name == "--port") {
      settings.port = static_cast<int>(value);
    } else if (name == "--rate") {
      settings.rate = value;
    } else if (name == "--tick-ms") {
      settings.tickMs = static_cast<int>(value);
    } else if (name == "--metaint") {
      settings.metaint = value;
    } else if (name == "--title-every") {
      settings.titleEvery = value;
    } else if (name == "--total") {
      settings.total = value;
    } else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      return 2;
    }
  }
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(settings.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 4096) != 0) {
    std::perror("icy-bench-server: bind/listen");
    return 1;
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (settings.rate > 0) {
    itimerspec tick{};
    tick.it_interval.tv_sec = settings.tickMs / 1000;
    tick.it_interval.tv_nsec = (settings.tickMs % 1000) * 1000000L;
    tick.it_value = tick.it_interval;
    ::timerfd_settime(timer, 0, &tick, nullptr);
  }
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  auto watch = [&](int fd, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
  };
  watch(listener, EPOLLIN);
  watch(signalFd, EPOLLIN);
  watch(timer, EPOLLIN);
  std::printf("listening on 127.0.0.1:%d\n", settings.port);
  std::fflush(stdout);

  std::map<int, Connection> connections;
  std::vector<std::pair<std::string, int64_t>> finished;
  const size_t burst = settings.rate > 0 ? static_cast<size_t>(settings.rate * settings.tickMs / 1000) : 256 * 1024;
  auto close = [&](int fd) {
    auto found = connections.find(fd);
    if (found != connections.end()) {
      if (found->second.responding) {
        finished.emplace_back(found->second.path, found->second.audioSent);
      }
      connections.erase(found);
    }
    ::close(fd);
  };

  std::vector<epoll_event> events(1024);
  for (;;) {
    const int ready = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), -1);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    bool quit = false;
    for (int i = 0; i < ready; ++i) {
      const int fd = events[i].data.fd;
      if (fd == signalFd) {
        quit = true;
      } else if (fd == listener) {
        for (;;) {
          const int client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (client < 0) {
            break;
          }
          connections[client].fd = client;
          watch(client, EPOLLIN | EPOLLOUT | EPOLLET | EPOLLRDHUP);
        }
      } else if (fd == timer) {
        uint64_t expirations = 0;
        if (::read(timer, &expirations, sizeof expirations) < 0) {
          continue;
        }
        std::vector<int> broken;
        for (auto& [cfd, c] : connections) {
          if (!c.responding) {
            continue;
          }
          c.credit = std::min<int64_t>(c.credit + settings.rate * settings.tickMs / 1000 * static_cast<int64_t>(expirations),
                                       settings.rate * 2);
          if (!Pump(settings, c, burst)) {
            broken.push_back(cfd);
          }
        }
        for (int cfd : broken) {
          close(cfd);
        }
      } else {
        auto found = connections.find(fd);
        if (found == connections.end()) {
          continue;
        }
        Connection& c = found->second;
        if (!c.responding) {
          char bytes[4096];
          ssize_t n;
          while ((n = ::recv(fd, bytes, sizeof bytes, 0)) > 0) {
            c.request.append(bytes, static_cast<size_t>(n));
          }
          if (n == 0 && c.request.find("\r\n\r\n") == std::string::npos) {
            close(fd);
            continue;
          }
          if (c.request.find("\r\n\r\n") == std::string::npos) {
            continue;
          }
          StartResponse(settings, c);
        } else if (events[i].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
          close(fd);
          continue;
        }
        if (!Pump(settings, c, burst)) {
          close(fd);
        }
      }
    }
    if (quit) {
      break;
    }
  }
  for (auto& [fd, c] : connections) {
    if (c.responding) {
      finished.emplace_back(c.path, c.audioSent);
    }
  }
  for (const auto& [path, bytes] : finished) {
    std::printf("%s %lld\n", path.c_str(), static_cast<long long>(bytes));
  }
  return 0;
}
