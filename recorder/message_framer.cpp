// Framing of recorded streams into record lines (see message_framer.h).
#include "recorder/message_framer.h"

#include <sys/time.h>

#include <ctime>

#include "plugin/framing.h"

void FramerFeed(MessageFramer* framer, std::string_view bytes,
                void (*emit)(void* context, std::string_view message), void* context) {
  std::string& pending = framer->pending;
  for (const char byte : bytes) {
    if (byte == '\0') {
      ++framer->droppedBytes;
    } else {
      pending.push_back(byte);
    }
  }
  // Messages are framed in place and the bytes they took are cut off once at
  // the end, so a chunk of many small messages costs no more than its length.
  std::size_t offset = 0;
  for (;;) {
    std::size_t start =
        offset + OsaCountLeadingBlanks(pending.data() + offset, pending.size() - offset);
    if (start < pending.size() && pending[start] != '{') {
      const std::size_t brace = pending.find('{', start);
      const std::size_t next = brace == std::string::npos ? pending.size() : brace;
      framer->droppedBytes += next - start;
      start = next;
    }
    offset = start;
    std::size_t end = 0;
    if (!OsaFrameFirstObject(pending.data() + offset, pending.size() - offset, &end)) break;
    emit(context, std::string_view(pending).substr(offset, end));
    offset += end;
  }
  pending.erase(0, offset);
  if (pending.size() > kRecorderMaxMessage) {
    framer->droppedBytes += pending.size();
    pending.clear();
  }
}

std::string RecordTimeStamp() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm parts{};
  const time_t seconds = now.tv_sec;
  gmtime_r(&seconds, &parts);
  char text[32];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%06ld", parts.tm_hour, parts.tm_min,
                parts.tm_sec, static_cast<long>(now.tv_usec));
  return text;
}

std::string RecordLine(std::string_view stamp, std::string_view tag, std::string_view message) {
  std::string line;
  line.reserve(stamp.size() + tag.size() + message.size() + 4);
  line.append(stamp);
  line.push_back(' ');
  line.append(tag);
  line.append(": ");
  for (const char byte : message)
    line.push_back(byte == '\n' || byte == '\r' ? ' ' : byte);
  line.push_back('\n');
  return line;
}
