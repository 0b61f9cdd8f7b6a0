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

int RemainingMs(Clock::time_point deadline, int timeout_ms) {
  if (timeout_ms < 0) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void SleepMs(int ms) {
  timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// Writes one trace line; the payload is peer text, so it is escaped and
// never used as a format.
void Trace(const RspChannel& channel, std::string_view arrow, std::string_view payload) {
  std::string line = channel.trace_name;
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
      RspWriteAll(&channel->link, bytes, channel->write_timeout_ms, &channel->error);
  if (status == RspStatus::Ok) channel->counters.bytes_sent += bytes.size();
  return status;
}

}  // namespace

void RspChannelInit(RspLink link, bool expand_rle, RspChannel* channel) {
  channel->link = std::move(link);
  channel->decoder = RspDecoder();
  channel->decoder.expand_rle = expand_rle;
  channel->input.clear();
  channel->input_pos = 0;
  channel->has_pending = false;
  channel->pending.clear();
  channel->no_ack = false;
  channel->last_packet.clear();
  channel->counters = RspCounters();
  channel->error.clear();
}

RspStatus RspChannelNextEvent(RspChannel* channel, int timeout_ms, RspEvent* event) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (channel->input_pos < channel->input.size()) {
      const std::string_view rest = std::string_view(channel->input).substr(channel->input_pos);
      std::size_t used = 0;
      const bool found = RspDecodeNext(&channel->decoder, rest, &used, event);
      channel->input_pos += used;
      if (channel->input_pos >= channel->input.size()) {
        channel->input.clear();
        channel->input_pos = 0;
      }
      if (found) {
        switch (event->kind) {
          case RspEventKind::Packet:
            ++channel->counters.packets_received;
            if (channel->trace) Trace(*channel, " <- ", event->payload);
            break;
          case RspEventKind::BadChecksum:
          case RspEventKind::Malformed:
          case RspEventKind::Oversize:
            ++channel->counters.bad_packets;
            if (channel->trace) Trace(*channel, " <- (bad packet) ", event->payload);
            break;
          default:
            break;
        }
        return RspStatus::Ok;
      }
    }
    char buffer[kReadChunk];
    std::size_t got = 0;
    const RspStatus status = RspRead(&channel->link, RemainingMs(deadline, timeout_ms), buffer,
                                     sizeof buffer, &got, &channel->error);
    if (status != RspStatus::Ok) return status;
    channel->counters.bytes_received += got;
    channel->input.assign(buffer, got);
    channel->input_pos = 0;
  }
}

RspStatus RspChannelSendPacket(RspChannel* channel, std::string_view payload) {
  channel->last_packet.clear();
  RspAppendPacket(payload, &channel->last_packet);
  if (channel->delay_ms > 0) SleepMs(channel->delay_ms);
  if (channel->trace) Trace(*channel, " -> ", payload);
  const RspStatus status = Write(channel, channel->last_packet);
  if (status == RspStatus::Ok) ++channel->counters.packets_sent;
  return status;
}

RspStatus RspChannelRetransmit(RspChannel* channel) {
  if (channel->last_packet.empty()) return RspStatus::Ok;
  if (channel->delay_ms > 0) SleepMs(channel->delay_ms);
  if (channel->trace) Trace(*channel, " -> (again) ", channel->last_packet);
  const RspStatus status = Write(channel, channel->last_packet);
  if (status == RspStatus::Ok) {
    ++channel->counters.packets_sent;
    ++channel->counters.retransmits;
  }
  return status;
}

RspStatus RspChannelSendRaw(RspChannel* channel, std::string_view bytes) {
  return Write(channel, bytes);
}

bool RspChannelHasBuffered(const RspChannel& channel) {
  return channel.has_pending || channel.input_pos < channel.input.size();
}

RspStatus RspWaitChannels(RspChannel* const* channels, std::size_t count, int timeout_ms,
                          std::size_t* ready, std::string* error) {
  for (std::size_t i = 0; i < count; ++i) {
    if (RspChannelHasBuffered(*channels[i])) {
      *ready = i;
      return RspStatus::Ok;
    }
  }
  std::vector<int> fds(count);
  for (std::size_t i = 0; i < count; ++i) {
    // A link already closed is ready: its receive reports Closed (poll
    // would ignore it and could wait for ever).
    if (!channels[i]->link.input.Valid()) {
      *ready = i;
      return RspStatus::Ok;
    }
    fds[i] = channels[i]->link.input.Get();
  }
  return RspWaitReadable(fds.data(), count, timeout_ms, ready, error);
}
