#include "cli/SignalWait.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

SignalWait::SignalWait(const sigset_t& set) : signals(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK)) {
  if (!signals.Valid()) {
    throw std::system_error(errno, std::generic_category(), "signalfd");
  }
}

SignalWait::Result SignalWait::Wait(int fd, std::optional<std::chrono::milliseconds> timeout) {
  pollfd fds[2] = {{signals.Get(), POLLIN, 0}, {fd, POLLIN, 0}};
  const int waitMs =
      timeout ? static_cast<int>(std::min<std::chrono::milliseconds::rep>(std::max<std::chrono::milliseconds::rep>(
                                                                              timeout->count(), 0),
                                                                          INT_MAX))
              : -1;
  Result result;
  if (::poll(fds, fd >= 0 ? 2 : 1, waitMs) <= 0) {
    return result;  // the timeout, or an interruption: the caller looks again
  }
  if ((fds[0].revents & POLLIN) != 0) {
    signalfd_siginfo info{};
    if (::read(signals.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      result.signal = static_cast<int>(info.ssi_signo);
    }
  }
  result.ready = fd >= 0 && (fds[1].revents & (POLLIN | POLLERR)) != 0;
  return result;
}
