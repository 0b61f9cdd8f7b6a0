// The live-mode transport: blocking reads and writes on the two standard
// descriptors and the framing of the received bytes into messages.
#include "plugin/transport.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "plugin/framing.h"
#include "runtime/history_log.h"

namespace {

constexpr int kMaxCalls = 10;

int gInput = 0;
int gOutput = 1;

// Bytes received behind the last framed message. Only the innermost wait
// reads, and it takes these first, so messages are served in arrival order.
// Static storage: the receive path allocates nothing.
char gCarry[kOsaReceiveBufferSize];
std::size_t gCarryLength = 0;

}  // namespace

bool OSA__JSON__Read(char* buffer, std::int32_t size) {
  if (buffer == nullptr || size < 1) return false;
  buffer[0] = '\0';
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  std::size_t received = 0;
  errno = 0;
  for (int calls = 1;; ++calls) {
    const ssize_t count = read(gInput, buffer + received, room - received);
    if (count > 0) received += static_cast<std::size_t>(count);
    if (count < 0 && errno == EINTR && received < room && calls < kMaxCalls) continue;
    break;
  }
  const int error = errno;
  buffer[received] = '\0';
  HistoryLogTrace("OSA__JSON__Read", std::string_view(buffer));
  if (error == EAGAIN) {
    std::fputs("Unexpected EAGAIN because we did not set stdin into nonblock.\n", stderr);
  }
  errno = error;
  return (received > 0 && error == 0) || error == EINTR;
}

bool OSA__JSON__Write(const char* text, std::int32_t length) {
  if (text == nullptr || length < 1) return false;
  HistoryLogTrace("OSA__JSON__Write", std::string_view(text, static_cast<std::size_t>(length)));
  const std::size_t total = static_cast<std::size_t>(length);
  std::size_t written = 0;
  errno = 0;
  for (int calls = 1; written < total; ++calls) {
    const ssize_t count = write(gOutput, text + written, total - written);
    if (count > 0) written += static_cast<std::size_t>(count);
    if (count < 0 && errno == EINTR && calls < kMaxCalls) continue;
    break;
  }
  return written == total;
}

bool OsaReceiveMessage(char* buffer, int* error) {
  std::size_t length = gCarryLength;
  std::memcpy(buffer, gCarry, length);
  buffer[length] = '\0';
  gCarryLength = 0;
  for (;;) {
    const std::size_t blanks = OsaCountLeadingBlanks(buffer, length);
    if (blanks > 0) {
      length -= blanks;
      std::memmove(buffer, buffer + blanks, length + 1);
    }
    std::size_t end = 0;
    if (OsaFrameFirstObject(buffer, length, &end)) {
      gCarryLength = length - end;
      std::memcpy(gCarry, buffer + end, gCarryLength);
      buffer[end] = '\0';
      return true;
    }
    // A full buffer leaves a read of 0 bytes, which fails like an end of input.
    if (!OSA__JSON__Read(buffer + length,
                         kOsaReceiveBufferSize - static_cast<std::int32_t>(length))) {
      *error = errno;
      return false;
    }
    // A zero byte in the input ends the text there.
    length = std::strlen(buffer);
  }
}

void OsaTransportUseDescriptors(int input, int output) {
  gInput = input;
  gOutput = output;
  gCarryLength = 0;
}
