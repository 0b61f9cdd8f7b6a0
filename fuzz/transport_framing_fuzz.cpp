// Fuzz target: the brace-balance framing must never read past the bytes it
// is given, every object it frames must itself be complete, and a scan split
// anywhere must end where a whole scan ends. The receive path is compared
// with a plain model of the stream: skip to "{", frame by brace balance,
// drop a message longer than the buffer; its stderr lines are counted and
// must hold printable text only.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/framing.h"
#include "plugin/transport.h"

namespace {

// In the receive-path input, 0xFF, n, b stands for (n + 1) * 300 copies of
// b, so that small inputs can hold messages longer than the buffer. The
// stream is cut a little past two buffers' worth, which keeps runs fast.
constexpr unsigned char kRepeat = 0xFF;
constexpr std::size_t kRepeatUnit = 300;
constexpr std::size_t kMaxStream = 2 * kOsaReceiveBufferSize + 4096;

// The harness's own loops need no coverage feedback, and tracing their
// comparisons byte by byte would cost most of the run time.
#if defined(__clang__)
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))
#else
#define HARNESS_ONLY
#endif

// The completeness rule byte by byte, plainly, to hold the table-driven
// scan of the plug-in against.
HARNESS_ONLY bool PlainIsComplete(const char* text) {
  const char* cursor = text;
  while (*cursor == ' ' || *cursor == '\t' || *cursor == '\n')
    ++cursor;
  if (*cursor != '{') return false;
  long depth = 0;
  bool inString = false;
  for (; *cursor != '\0'; ++cursor) {
    if (inString) {
      if (*cursor == '"') {
        inString = false;
      } else if (*cursor == '\\' && cursor[1] != '\0') {
        ++cursor;
      }
    } else if (*cursor == '{') {
      ++depth;
    } else if (*cursor == '}') {
      if (depth == 0) return false;
      --depth;
    } else if (*cursor == '"') {
      inString = true;
    }
  }
  return depth == 0 && !inString;
}

// The resumable brace scan byte by byte, plainly.
HARNESS_ONLY bool PlainScanBraces(OsaBraceScan* scan, const char* text, std::size_t length,
                                  std::size_t* end) {
  for (std::size_t index = 0; index < length; ++index) {
    const char byte = text[index];
    if (byte == '\0') return false;
    if (scan->escaped) {
      scan->escaped = false;
    } else if (scan->inString) {
      if (byte == '"') {
        scan->inString = false;
      } else if (byte == '\\') {
        scan->escaped = true;
      }
    } else if (byte == '{') {
      ++scan->depth;
    } else if (byte == '}') {
      if (scan->depth > 0 && --scan->depth == 0) {
        *end = index + 1;
        return true;
      }
    } else if (byte == '"') {
      scan->inString = true;
    }
  }
  return false;
}

// Both scans agree with the plain rules on the verdict, the end, the length
// and the state a scan is left in, from every starting state.
void CheckScansAgainstPlainRules(const char* text, std::size_t length) {
  const std::string zero = length == 0 ? std::string() : std::string(text, length);
  std::size_t measured = 0;
  const bool complete = OsaIsCompleteMessage(zero.c_str(), &measured);
  if (complete != PlainIsComplete(zero.c_str())) std::abort();
  if (complete != OSA__JSON__IsComplete(zero.c_str())) std::abort();
  if (complete && measured != std::strlen(zero.c_str())) std::abort();
  for (int start = 0; start < 4; ++start) {
    OsaBraceScan fast;
    fast.depth = static_cast<std::size_t>(start & 1);
    fast.inString = (start & 2) != 0;
    OsaBraceScan plain = fast;
    for (const bool escaped : {false, true}) {
      fast.escaped = plain.escaped = escaped && fast.inString;
      OsaBraceScan fastCopy = fast;
      OsaBraceScan plainCopy = plain;
      std::size_t fastEnd = 0;
      std::size_t plainEnd = 0;
      const bool fastClosed = OsaScanBraces(&fastCopy, text, length, &fastEnd);
      const bool plainClosed = PlainScanBraces(&plainCopy, text, length, &plainEnd);
      if (fastClosed != plainClosed || (fastClosed && fastEnd != plainEnd)) std::abort();
      if (fastCopy.depth != plainCopy.depth || fastCopy.inString != plainCopy.inString ||
          fastCopy.escaped != plainCopy.escaped) {
        std::abort();
      }
    }
  }
}

void CheckFraming(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy: any read past it is caught by the address sanitizer.
  const std::vector<char> bytes(data, data + size);
  const std::size_t blanks = OsaCountLeadingBlanks(bytes.data(), bytes.size());
  if (blanks > size) std::abort();
  std::size_t end = 0;
  const char* text = bytes.data() + blanks;
  const std::size_t length = size - blanks;
  if (OsaFrameFirstObject(text, length, &end)) {
    if (end < 2 || end > length) std::abort();
    const std::string framed(text, end);
    if (framed.find('\0') != std::string::npos) std::abort();
    if (!OSA__JSON__IsComplete(framed.c_str())) std::abort();
  }
  // Split the scan after the first byte's value, modulo the length.
  if (length > 0 && text[0] == '{') {
    const std::size_t split = static_cast<unsigned char>(data[0]) % length;
    OsaBraceScan scan;
    std::size_t first = 0;
    std::size_t second = 0;
    bool closed = OsaScanBraces(&scan, text, split, &first);
    if (!closed && std::memchr(text, '\0', split) == nullptr) {
      closed = OsaScanBraces(&scan, text + split, length - split, &second);
      first = split + second;
    }
    std::size_t whole = 0;
    OsaBraceScan fresh;
    if (closed != OsaScanBraces(&fresh, text, length, &whole) || (closed && first != whole)) {
      std::abort();
    }
  }
  CheckScansAgainstPlainRules(bytes.data(), bytes.size());
}

HARNESS_ONLY std::string Expand(const std::uint8_t* data, std::size_t size) {
  std::string stream;
  for (std::size_t index = 0; index < size && stream.size() < kMaxStream; ++index) {
    if (data[index] == kRepeat && index + 2 < size) {
      stream.append((data[index + 1] + std::size_t{1}) * kRepeatUnit,
                    static_cast<char>(data[index + 2]));
      index += 2;
    } else {
      stream.push_back(static_cast<char>(data[index]));
    }
  }
  if (stream.size() > kMaxStream) stream.resize(kMaxStream);
  return stream;
}

struct Outcome {
  OsaReceiveStatus status;
  std::string text;  // the message, or the part held at a failure
  bool operator==(const Outcome&) const = default;
};

// What the receive path must yield: the stream is read in pieces of
// kOsaMaxMessageLength bytes (a file gives full reads), each cut at its
// first zero byte. *lines counts the stderr lines due.
HARNESS_ONLY std::vector<Outcome> Model(const std::string& stream, std::size_t* lines) {
  std::string text;
  for (std::size_t at = 0; at < stream.size(); at += kOsaMaxMessageLength) {
    const std::string piece = stream.substr(at, kOsaMaxMessageLength);
    text.append(piece.c_str());
  }
  std::vector<Outcome> outcomes;
  *lines = 0;
  std::size_t at = 0;
  for (;;) {
    const std::size_t start = text.find('{', at);
    bool stray = false;
    for (std::size_t index = at; index < std::min(start, text.size()); ++index) {
      if (!OsaIsInterMessageBlank(text[index])) stray = true;
    }
    if (stray) ++*lines;
    if (start == std::string::npos) {
      outcomes.push_back({OsaReceiveStatus::kFailed, ""});
      return outcomes;
    }
    long depth = 0;
    bool inString = false;
    std::size_t end = start;
    for (; end < text.size(); ++end) {
      const char byte = text[end];
      if (inString) {
        if (byte == '\\') {
          ++end;
        } else if (byte == '"') {
          inString = false;
        }
      } else if (byte == '"') {
        inString = true;
      } else if (byte == '{') {
        ++depth;
      } else if (byte == '}' && --depth == 0) {
        break;
      }
    }
    if (end >= text.size()) {
      outcomes.push_back({OsaReceiveStatus::kFailed, text.substr(start, kOsaMaxMessageLength)});
      return outcomes;
    }
    const std::size_t length = end + 1 - start;
    if (length <= kOsaMaxMessageLength) {
      outcomes.push_back({OsaReceiveStatus::kMessage, text.substr(start, length)});
    } else {
      outcomes.push_back({OsaReceiveStatus::kOversize, ""});
      ++*lines;
    }
    at = end + 1;
  }
}

// The number of lines in `report`; aborts on a byte that is not printable
// ASCII or on a last line without its line end.
HARNESS_ONLY std::size_t ReportLines(const std::string& report) {
  std::size_t lines = 0;
  for (const char byte : report) {
    if (byte == '\n') {
      ++lines;
    } else if (byte < 0x20 || byte > 0x7e) {
      std::abort();
    }
  }
  if (!report.empty() && report.back() != '\n') std::abort();
  return lines;
}

int MemoryFile(const std::string& bytes) {
  const int fd = memfd_create("transport_framing", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void CheckReceivePath(const std::uint8_t* data, std::size_t size) {
  const std::string stream = Expand(data, size);
  const int input = MemoryFile(stream);
  const int errors = MemoryFile("");
  const int savedError = dup(2);
  if (input < 0 || errors < 0 || savedError < 0) std::abort();
  std::fflush(stderr);
  dup2(errors, 2);
  // A fresh transport per input: nothing carried over from the last run.
  static OsaTransport transport;
  transport = OsaTransport{};
  transport.input = input;
  transport.output = -1;
  static char buffer[kOsaReceiveBufferSize];
  std::vector<Outcome> outcomes;
  for (;;) {
    int error = 0;
    const OsaReceiveStatus status = OsaReceiveMessage(&transport, buffer, &error);
    outcomes.push_back({status, status == OsaReceiveStatus::kOversize ? "" : buffer});
    if (status == OsaReceiveStatus::kFailed) break;
  }
  std::fflush(stderr);
  dup2(savedError, 2);
  close(savedError);
  close(input);

  std::string report(static_cast<std::size_t>(lseek(errors, 0, SEEK_CUR)), '\0');
  if (pread(errors, report.data(), report.size(), 0) != static_cast<ssize_t>(report.size())) {
    std::abort();
  }
  close(errors);
  std::size_t lines = 0;
  if (outcomes != Model(stream, &lines)) std::abort();
  if (ReportLines(report) != lines) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckFraming(data, size);
  CheckReceivePath(data, size);
  return 0;
}
