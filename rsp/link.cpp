// Byte links of the gdb-remote layer (see link.h).
#include "rsp/link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

std::string ErrnoText(std::string_view what, int error) {
  std::string text(what);
  text += ": ";
  text += std::strerror(error);
  return text;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Poll timeouts count down across retries after EINTR.
using Clock = std::chrono::steady_clock;

// Polls one descriptor for `events`; kOk when it is ready (or in error,
// which the following call reports), kTimeout, kIoError.
RspStatus PollOne(int fd, short events, int timeoutMs, std::string* error) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, RspRemainingMs(deadline, timeoutMs));
    if (ready > 0) return RspStatus::kOk;
    if (ready == 0) return RspStatus::kTimeout;
    if (errno != EINTR) {
      SetError(error, ErrnoText("poll", errno));
      return RspStatus::kIoError;
    }
  }
}

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Small packets go out at once: the protocol is request and reply.
void SetNoDelay(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

std::string_view RspStatusText(RspStatus status) {
  switch (status) {
    case RspStatus::kOk:
      return "ok";
    case RspStatus::kTimeout:
      return "timeout";
    case RspStatus::kClosed:
      return "closed";
    case RspStatus::kIoError:
      return "I/O error";
    case RspStatus::kProtocol:
      return "protocol error";
  }
  return "unknown";
}

void RspIgnoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

RspStatus RspLinkFromFds(int input, int output, bool socket, std::string_view name, RspLink* link,
                         std::string* error) {
  RspIgnoreSigpipe();
  ProcFd in(input);
  ProcFd out;
  if (output == input) {
    out.Reset(fcntl(input, F_DUPFD_CLOEXEC, 0));
    if (!out.Valid()) {
      SetError(error, ErrnoText("dup", errno));
      return RspStatus::kIoError;
    }
  } else {
    out.Reset(output);
  }
  link->child = ProcChild();
  link->input = std::move(in);
  link->output = std::move(out);
  link->socket = socket;
  link->name = std::string(name);
  return RspStatus::kOk;
}

RspStatus RspOpenStdio(RspLink* link, std::string* error) {
  ProcFd in(fcntl(0, F_DUPFD_CLOEXEC, 0));
  if (!in.Valid()) {
    SetError(error, ErrnoText("standard input", errno));
    return RspStatus::kIoError;
  }
  ProcFd out(fcntl(1, F_DUPFD_CLOEXEC, 0));
  if (!out.Valid()) {
    SetError(error, ErrnoText("standard output", errno));
    return RspStatus::kIoError;
  }
  return RspLinkFromFds(in.Release(), out.Release(), false, "stdio", link, error);
}

RspStatus RspListen(std::uint16_t port, RspListener* listener, std::string* error) {
  ProcFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    SetError(error, ErrnoText("socket", errno));
    return RspStatus::kIoError;
  }
  const int on = 1;
  setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    SetError(error, ErrnoText("bind 127.0.0.1:" + std::to_string(port), errno));
    return RspStatus::kIoError;
  }
  if (listen(fd.Get(), 1) != 0) {
    SetError(error, ErrnoText("listen", errno));
    return RspStatus::kIoError;
  }
  socklen_t length = sizeof address;
  if (getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    SetError(error, ErrnoText("getsockname", errno));
    return RspStatus::kIoError;
  }
  listener->fd = std::move(fd);
  listener->port = ntohs(address.sin_port);
  return RspStatus::kOk;
}

RspStatus RspAccept(RspListener* listener, int timeoutMs, RspLink* link, std::string* error) {
  while (true) {
    const RspStatus ready = PollOne(listener->fd.Get(), POLLIN, timeoutMs, error);
    if (ready != RspStatus::kOk) {
      if (ready == RspStatus::kTimeout) SetError(error, "no connection came in time");
      return ready;
    }
    const int fd = accept4(listener->fd.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      SetNoDelay(fd);
      SetNonBlocking(fd);
      return RspLinkFromFds(fd, fd, true, "127.0.0.1:" + std::to_string(listener->port), link,
                            error);
    }
    // A connection that went away before it was taken: wait for the next.
    if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
    SetError(error, ErrnoText("accept", errno));
    return RspStatus::kIoError;
  }
}

RspStatus RspConnect(std::string_view hostPort, int timeoutMs, RspLink* link, std::string* error) {
  const std::size_t colon = hostPort.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == hostPort.size()) {
    SetError(error, "expected HOST:PORT, got \"" + std::string(hostPort) + "\"");
    return RspStatus::kIoError;
  }
  std::string host(hostPort.substr(0, colon));
  const std::string port(hostPort.substr(colon + 1));
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) host = "127.0.0.1";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (lookup != 0) {
    SetError(error, "cannot resolve " + std::string(hostPort) + ": " + gai_strerror(lookup));
    return RspStatus::kIoError;
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, freeaddrinfo);
  std::string last = "no address";
  RspStatus lastStatus = RspStatus::kIoError;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    ProcFd fd(socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                     entry->ai_protocol));
    if (!fd.Valid()) {
      last = ErrnoText("socket", errno);
      continue;
    }
    if (connect(fd.Get(), entry->ai_addr, entry->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        last = ErrnoText("connect", errno);
        continue;
      }
      std::string pollError;
      const RspStatus ready = PollOne(fd.Get(), POLLOUT, timeoutMs, &pollError);
      if (ready == RspStatus::kTimeout) {
        last = "connect: no answer within " + std::to_string(timeoutMs) + " ms";
        lastStatus = RspStatus::kTimeout;
        continue;
      }
      if (ready != RspStatus::kOk) {
        last = pollError;
        continue;
      }
      int failure = 0;
      socklen_t length = sizeof failure;
      if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
      if (failure != 0) {
        last = ErrnoText("connect", failure);
        lastStatus = RspStatus::kIoError;
        continue;
      }
    }
    SetNoDelay(fd.Get());
    const int raw = fd.Release();
    return RspLinkFromFds(raw, raw, true, hostPort, link, error);
  }
  SetError(error, "cannot connect to " + std::string(hostPort) + ": " + last);
  return lastStatus;
}

RspStatus RspStartCommand(std::string_view command, RspLink* link, std::string* error) {
  RspIgnoreSigpipe();
  ProcCommand shell;
  shell.argv = {"/bin/sh", "-c", std::string(command)};
  shell.ownGroup = true;
  shell.dieWithParent = true;
  ProcRunning running;
  std::string why;
  if (ProcStart(shell, &running, &why) != ProcStatus::kOk ||
      ProcSetNonBlocking(running.toStdin.Get(), &why) != ProcStatus::kOk) {
    SetError(error, why);
    return RspStatus::kIoError;
  }
  link->child = std::move(running.child);
  link->input = std::move(running.fromStdout);
  link->output = std::move(running.toStdin);
  link->socket = false;
  link->name = "command";
  return RspStatus::kOk;
}

RspStatus RspRead(RspLink* link, int timeoutMs, char* buffer, std::size_t size, std::size_t* got,
                  std::string* error) {
  *got = 0;
  if (!link->input.Valid()) {
    SetError(error, link->name + " is not open");
    return RspStatus::kClosed;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const RspStatus ready =
        PollOne(link->input.Get(), POLLIN, RspRemainingMs(deadline, timeoutMs), error);
    if (ready == RspStatus::kTimeout) {
      SetError(error, "no bytes from " + link->name + " in time");
      return ready;
    }
    if (ready != RspStatus::kOk) return ready;
    const ssize_t count = read(link->input.Get(), buffer, size);
    if (count > 0) {
      *got = static_cast<std::size_t>(count);
      return RspStatus::kOk;
    }
    if (count == 0) {
      SetError(error, link->name + " closed the connection");
      return RspStatus::kClosed;
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
      if (timeoutMs == 0) {
        SetError(error, "no bytes from " + link->name + " in time");
        return RspStatus::kTimeout;
      }
      continue;
    }
    if (errno == ECONNRESET) {
      SetError(error, link->name + " reset the connection");
      return RspStatus::kClosed;
    }
    SetError(error, ErrnoText("read from " + link->name, errno));
    return RspStatus::kIoError;
  }
}

RspStatus RspWriteAll(RspLink* link, std::string_view bytes, int timeoutMs, std::string* error) {
  if (!link->output.Valid()) {
    SetError(error, link->name + " is not open");
    return RspStatus::kClosed;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const char* data = bytes.data() + done;
    const std::size_t left = bytes.size() - done;
    const ssize_t count = link->socket ? send(link->output.Get(), data, left, MSG_NOSIGNAL)
                                       : write(link->output.Get(), data, left);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const RspStatus ready = PollOne(link->output.Get(), POLLOUT, timeoutMs, error);
      if (ready == RspStatus::kTimeout) {
        SetError(error, link->name + " takes no more bytes");
        return ready;
      }
      if (ready != RspStatus::kOk) return ready;
      continue;
    }
    if (count < 0 && (errno == EPIPE || errno == ECONNRESET)) {
      SetError(error, link->name + " closed the connection");
      return RspStatus::kClosed;
    }
    SetError(error, ErrnoText("write to " + link->name, count < 0 ? errno : EIO));
    return RspStatus::kIoError;
  }
  return RspStatus::kOk;
}

RspStatus RspWaitReadable(const int* fds, std::size_t count, int timeoutMs, std::size_t* ready,
                          std::string* error) {
  std::vector<pollfd> entries(count);
  for (std::size_t i = 0; i < count; ++i)
    entries[i] = pollfd{fds[i], POLLIN, 0};
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const int result =
        poll(entries.data(), static_cast<nfds_t>(count), RspRemainingMs(deadline, timeoutMs));
    if (result > 0) {
      for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].revents != 0) {
          *ready = i;
          return RspStatus::kOk;
        }
      }
    }
    if (result == 0) {
      SetError(error, "nothing arrived in time");
      return RspStatus::kTimeout;
    }
    if (result < 0 && errno != EINTR) {
      SetError(error, ErrnoText("poll", errno));
      return RspStatus::kIoError;
    }
  }
}

int RspRemainingMs(std::chrono::steady_clock::time_point deadline, int timeoutMs) {
  if (timeoutMs < 0) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}
