// Owners of file descriptors for the tools that start and talk to other
// processes: one descriptor, a pipe's two ends, and the calls that make them
// with close-on-exec set.
#pragma once

#include <string>
#include <string_view>

// How a process call ended; kFailed comes with a reason text.
enum class ProcStatus : unsigned char {
  kOk,
  kTimeout,  // the child did not end within the wait
  kFailed,   // a system call failed, or the program could not be started
};

// Owns one file descriptor and closes it on destruction; move-only.
class ProcFd {
 public:
  ProcFd() = default;
  explicit ProcFd(int fd) : fd_(fd) {}
  ~ProcFd() { Reset(); }
  ProcFd(ProcFd&& other) noexcept : fd_(other.Release()) {}
  ProcFd& operator=(ProcFd&& other) noexcept;
  ProcFd(const ProcFd&) = delete;
  ProcFd& operator=(const ProcFd&) = delete;

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  // Gives up ownership; the owner then holds nothing.
  int Release();
  // Closes what is held (EINTR is not retried: the descriptor is gone
  // either way on Linux) and takes `fd` (-1 for nothing).
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Both ends of one pipe.
struct ProcPipe {
  ProcFd read;
  ProcFd write;
};

// Makes a pipe whose ends close on exec. The reason goes to *error
// ("cannot make a pipe: ...").
[[nodiscard]] ProcStatus ProcMakePipe(ProcPipe* pipe, std::string* error);

// Sets O_NONBLOCK on `fd`.
[[nodiscard]] ProcStatus ProcSetNonBlocking(int fd, std::string* error);

// "what: <strerror(errorNumber)>".
[[nodiscard]] std::string ProcErrnoText(std::string_view what, int errorNumber);
