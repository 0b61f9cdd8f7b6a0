// A packet endpoint over a link (see channel.h).
#include "rsp/channel.h"

#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// Bytes taken from the link per read; the unread input never holds more.
constexpr std::size_t kReadChunk = 16384;
// A traced payload is cut after this many bytes.
constexpr std::size_t kTraceLimit = 512;

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) {
  timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// Writes one trace line; the payload is peer text, so it is escaped and
// never used as a format.
void Trace(const RspChannel& channel, std::string_view arrow, std::string_view payload) {
  std::string line = channel.traceName;
  line += arrow;
  const std::size_t shown = payload.size() < kTraceLimit ? payload.size() : kTraceLimit;
  for (std::size_t i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(payload[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      line.push_back(static_cast<char>(c));
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      line += escaped;
    }
  }
  if (shown < payload.size()) line += "...(" + std::to_string(payload.size()) + " bytes)";
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

RspStatus Write(RspChannel* channel, std::string_view bytes) {
  const RspStatus status =
      RspWriteAll(&channel->link, bytes, channel->writeTimeoutMs, &channel->error);
  if (status == RspStatus::kOk) channel->counters.bytesSent += bytes.size();
  return status;
}

}  // namespace

void RspChannelInit(RspLink link, bool expandRle, RspChannel* channel) {
  channel->link = std::move(link);
  channel->decoder = RspDecoder();
  channel->decoder.expandRle = expandRle;
  channel->input.clear();
  channel->inputPos = 0;
  channel->hasPending = false;
  channel->pending.clear();
  channel->noAck = false;
  channel->lastPacket.clear();
  channel->counters = RspCounters();
  channel->error.clear();
}

RspStatus RspChannelNextEvent(RspChannel* channel, int timeoutMs, RspEvent* event) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (channel->inputPos < channel->input.size()) {
      const std::string_view rest = std::string_view(channel->input).substr(channel->inputPos);
      std::size_t used = 0;
      const bool found = RspDecodeNext(&channel->decoder, rest, &used, event);
      channel->inputPos += used;
      if (channel->inputPos >= channel->input.size()) {
        channel->input.clear();
        channel->inputPos = 0;
      }
      if (found) {
        switch (event->kind) {
          case RspEventKind::kPacket:
            ++channel->counters.packetsReceived;
            if (channel->trace) Trace(*channel, " <- ", event->payload);
            break;
          case RspEventKind::kBadChecksum:
          case RspEventKind::kMalformed:
          case RspEventKind::kOversize:
            ++channel->counters.badPackets;
            if (channel->trace) Trace(*channel, " <- (bad packet) ", event->payload);
            break;
          default:
            break;
        }
        return RspStatus::kOk;
      }
    }
    char buffer[kReadChunk];
    std::size_t got = 0;
    const RspStatus status = RspRead(&channel->link, RspRemainingMs(deadline, timeoutMs), buffer,
                                     sizeof buffer, &got, &channel->error);
    if (status != RspStatus::kOk) return status;
    channel->counters.bytesReceived += got;
    channel->input.assign(buffer, got);
    channel->inputPos = 0;
  }
}

RspStatus RspChannelSendPacket(RspChannel* channel, std::string_view payload) {
  channel->lastPacket.clear();
  RspAppendPacket(payload, &channel->lastPacket);
  if (channel->delayMs > 0) SleepMs(channel->delayMs);
  if (channel->trace) Trace(*channel, " -> ", payload);
  const RspStatus status = Write(channel, channel->lastPacket);
  if (status == RspStatus::kOk) ++channel->counters.packetsSent;
  return status;
}

RspStatus RspChannelRetransmit(RspChannel* channel) {
  if (channel->lastPacket.empty()) return RspStatus::kOk;
  if (channel->delayMs > 0) SleepMs(channel->delayMs);
  if (channel->trace) Trace(*channel, " -> (again) ", channel->lastPacket);
  const RspStatus status = Write(channel, channel->lastPacket);
  if (status == RspStatus::kOk) {
    ++channel->counters.packetsSent;
    ++channel->counters.retransmits;
  }
  return status;
}

RspStatus RspChannelSendRaw(RspChannel* channel, std::string_view bytes) {
  return Write(channel, bytes);
}

bool RspChannelHasBuffered(const RspChannel& channel) {
  return channel.hasPending || channel.inputPos < channel.input.size();
}

RspStatus RspWaitChannels(RspChannel* const* channels, std::size_t count, int timeoutMs,
                          std::size_t* ready, std::string* error) {
  for (std::size_t i = 0; i < count; ++i) {
    if (RspChannelHasBuffered(*channels[i])) {
      *ready = i;
      return RspStatus::kOk;
    }
  }
  std::vector<int> fds(count);
  for (std::size_t i = 0; i < count; ++i) {
    // A link already closed is ready: its receive reports kClosed (poll
    // would ignore it and could wait for ever).
    if (!channels[i]->link.input.Valid()) {
      *ready = i;
      return RspStatus::kOk;
    }
    fds[i] = channels[i]->link.input.Get();
  }
  return RspWaitReadable(fds.data(), count, timeoutMs, ready, error);
}
