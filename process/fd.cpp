// Descriptor owners and pipes (see fd.h).
#include "process/fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

ProcFd& ProcFd::operator=(ProcFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int ProcFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void ProcFd::Reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}

std::string ProcErrnoText(std::string_view what, int errorNumber) {
  std::string text(what);
  text += ": ";
  text += std::strerror(errorNumber);
  return text;
}

ProcStatus ProcMakePipe(ProcPipe* pipe, std::string* error) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *error = ProcErrnoText("cannot make a pipe", errno);
    return ProcStatus::kFailed;
  }
  pipe->read.Reset(ends[0]);
  pipe->write.Reset(ends[1]);
  return ProcStatus::kOk;
}

ProcStatus ProcSetNonBlocking(int fd, std::string* error) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = ProcErrnoText("cannot make a pipe non-blocking", errno);
    return ProcStatus::kFailed;
  }
  return ProcStatus::kOk;
}
