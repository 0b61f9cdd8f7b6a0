// The live-mode transport: blocking reads and writes on the transport's two
// descriptors and the framing of the received bytes into messages, with the
// stream brought back in step after stray bytes and oversized messages.
#include "plugin/transport.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "plugin/conversation.h"
#include "plugin/framing.h"
#include "runtime/history_log.h"
#include "simple_json/json_parse.h"

namespace {

constexpr int kMaxCalls = 10;

// Bytes of skipped input shown in a line on stderr.
constexpr std::size_t kShownBytes = 48;

static_assert(kOsaMaxMessageLength == 65535, "the report below names the limit");

// Bytes skipped in front of a message: counted from the first one that is
// not a blank, the first kShownBytes of them kept for the report.
struct SkippedBytes {
  std::size_t count = 0;
  char shown[kShownBytes];
};

void NoteSkipped(SkippedBytes* skipped, char byte) {
  if (skipped->count == 0 && OsaIsInterMessageBlank(byte)) return;
  if (skipped->count < kShownBytes) skipped->shown[skipped->count] = byte;
  ++skipped->count;
}

// Writes one line on stderr naming `count` bytes of input, of which the
// first `shown` are given: quoted, every byte outside printable ASCII as
// \xHH, so input never reaches the terminal raw nor serves as a format.
void ReportBytes(const char* what, std::size_t count, const char* bytes, std::size_t shown) {
  char text[kShownBytes * 4 + 1];
  std::size_t length = 0;
  for (std::size_t index = 0; index < shown && index < kShownBytes; ++index) {
    const unsigned char byte = static_cast<unsigned char>(bytes[index]);
    if (byte == '"' || byte == '\\') {
      text[length++] = '\\';
      text[length++] = static_cast<char>(byte);
    } else if (byte >= 0x20 && byte < 0x7f) {
      text[length++] = static_cast<char>(byte);
    } else {
      std::snprintf(text + length, 5, "\\x%02X", byte);
      length += 4;
    }
  }
  text[length] = '\0';
  std::fprintf(stderr, "OSA plugin: %s (%zu bytes): \"%s\"%s\n", what, count, text,
               count > shown ? "..." : "");
}

void ReportSkipped(const SkippedBytes& skipped) {
  if (skipped.count == 0) return;
  ReportBytes("Skipped input between messages", skipped.count, skipped.shown,
              skipped.count < kShownBytes ? skipped.count : kShownBytes);
}

}  // namespace

bool OsaTransportRead(const OsaTransport& transport, char* buffer, std::int32_t size,
                      std::size_t* length) {
  *length = 0;
  if (buffer == nullptr || size < 1) return false;
  buffer[0] = '\0';
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  std::size_t received = 0;
  errno = 0;
  for (int calls = 1;; ++calls) {
    const ssize_t count = read(transport.input, buffer + received, room - received);
    if (count > 0) received += static_cast<std::size_t>(count);
    if (count < 0 && errno == EINTR && received < room && calls < kMaxCalls) continue;
    break;
  }
  const int error = errno;
  buffer[received] = '\0';
  // A zero byte ends what the read delivered.
  const void* zero = std::memchr(buffer, '\0', received);
  *length = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer)
                            : received;
  HistoryLogTrace("OSA__JSON__Read", std::string_view(buffer, *length));
  if (error == EAGAIN) {
    std::fputs("Unexpected EAGAIN because we did not set stdin into nonblock.\n", stderr);
  }
  errno = error;
  return (received > 0 && error == 0) || error == EINTR;
}

bool OsaTransportWrite(const OsaTransport& transport, const char* text, std::int32_t length) {
  if (text == nullptr || length < 1) return false;
  HistoryLogTrace("OSA__JSON__Write", std::string_view(text, static_cast<std::size_t>(length)));
  const std::size_t total = static_cast<std::size_t>(length);
  std::size_t written = 0;
  errno = 0;
  for (int calls = 1; written < total; ++calls) {
    const ssize_t count = write(transport.output, text + written, total - written);
    if (count > 0) written += static_cast<std::size_t>(count);
    if (count < 0 && errno == EINTR && calls < kMaxCalls) continue;
    break;
  }
  return written == total;
}

bool OSA__JSON__Read(char* buffer, std::int32_t size) {
  std::size_t length = 0;
  return OsaTransportRead(OsaProcessConversation().transport, buffer, size, &length);
}

bool OSA__JSON__Write(const char* text, std::int32_t length) {
  return OsaTransportWrite(OsaProcessConversation().transport, text, length);
}

JsonPtr OsaParseEndingObject(const char* text, std::size_t length, std::size_t* end) {
  std::size_t last = length;
  while (last > 0 && OsaIsInterMessageBlank(text[last - 1]))
    --last;
  if (last == 0 || text[last - 1] != '}') return nullptr;
  return JsonParse(std::string_view(text, length), nullptr, end);
}

OsaReceiveStatus OsaReceiveMessage(OsaTransport* transport, char* buffer, int* error,
                                   std::size_t* size, JsonPtr* tree) {
  SkippedBytes skipped;
  OsaBraceScan scan;
  bool started = false;
  std::size_t length = 0;     // bytes of the message in `buffer`
  std::size_t discarded = 0;  // bytes of the message that did not fit
  buffer[0] = '\0';
  for (;;) {
    if (transport->queueStart == transport->queueEnd) {
      transport->queueStart = 0;
      transport->queueEnd = 0;
      std::size_t read = 0;
      if (!OsaTransportRead(*transport, transport->queue, kOsaReceiveBufferSize, &read)) {
        *error = errno;
        buffer[length] = '\0';
        ReportSkipped(skipped);
        return OsaReceiveStatus::kFailed;
      }
      transport->queueEnd = read;
      continue;
    }
    const char* next = transport->queue + transport->queueStart;
    const std::size_t available = transport->queueEnd - transport->queueStart;
    if (!started) {
      std::size_t index = 0;
      for (; index < available && next[index] != '{'; ++index)
        NoteSkipped(&skipped, next[index]);
      transport->queueStart += index;
      started = index < available;
      continue;
    }
    // A message that arrived whole, ending the bytes read, is parsed at once:
    // a well-formed object ends where its framing would, so the framing's
    // pass is saved. What does not parse is framed as usual; the caller
    // parses it then.
    if (tree != nullptr && length == 0 && available <= kOsaMaxMessageLength) {
      std::size_t end = 0;
      JsonPtr parsed = OsaParseEndingObject(next, available, &end);
      if (parsed != nullptr) {
        std::memcpy(buffer, next, end);
        buffer[end] = '\0';
        transport->queueStart += end;
        ReportSkipped(skipped);
        if (size != nullptr) *size = end;
        *tree = std::move(parsed);
        return OsaReceiveStatus::kMessage;
      }
    }
    // Until the buffer is full, scan only what still fits; beyond that, go on
    // counting braces over the bytes dropped, to find where the message ends.
    const std::size_t room = kOsaMaxMessageLength - length;
    const std::size_t span = room > 0 && room < available ? room : available;
    std::size_t end = 0;
    const bool closed = OsaScanBraces(&scan, next, span, &end);
    const std::size_t taken = closed ? end : span;
    if (room > 0) {
      std::memcpy(buffer + length, next, taken);
      length += taken;
    } else {
      discarded += taken;
    }
    transport->queueStart += taken;
    if (!closed) continue;
    buffer[length] = '\0';
    ReportSkipped(skipped);
    if (discarded == 0) {
      if (size != nullptr) *size = length;
      return OsaReceiveStatus::kMessage;
    }
    ReportBytes("Skipped a message longer than 65535 bytes", length + discarded, buffer,
                kShownBytes);
    return OsaReceiveStatus::kOversize;
  }
}
