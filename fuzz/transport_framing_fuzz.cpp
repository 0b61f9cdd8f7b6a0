// Fuzz target: the brace-balance framing must never read past the bytes it
// is given, and every object it frames must itself be complete; the receive
// path must hand out only complete messages, whatever the stream holds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/framing.h"
#include "plugin/transport.h"

namespace {

// Input this size or smaller fits into an empty pipe, so it can be written
// before it is read back on one thread.
constexpr std::size_t kPipeInput = 60000;

void CheckFraming(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy: any read past it is caught by the address sanitizer.
  const std::vector<char> bytes(data, data + size);
  const std::size_t blanks = OsaCountLeadingBlanks(bytes.data(), bytes.size());
  if (blanks > size) std::abort();
  std::size_t end = 0;
  if (OsaFrameFirstObject(bytes.data() + blanks, size - blanks, &end)) {
    if (end < 2 || end > size - blanks) std::abort();
    const std::string framed(bytes.data() + blanks, end);
    if (framed.find('\0') != std::string::npos) std::abort();
    if (!OSA__JSON__IsComplete(framed.c_str())) std::abort();
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)OSA__JSON__IsComplete(text.c_str());
}

void CheckReceivePath(const std::uint8_t* data, std::size_t size) {
  if (size > kPipeInput) return;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  const bool written = write(ends[1], data, size) == static_cast<ssize_t>(size);
  close(ends[1]);
  if (written) {
    OsaTransportUseDescriptors(ends[0], -1);
    // Each message takes at least two bytes, so this ends.
    static char buffer[kOsaReceiveBufferSize];
    int error = 0;
    while (OsaReceiveMessage(buffer, &error)) {
      if (!OSA__JSON__IsComplete(buffer)) std::abort();
    }
    OsaTransportUseDescriptors(0, 1);
  }
  close(ends[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckFraming(data, size);
  CheckReceivePath(data, size);
  return 0;
}
