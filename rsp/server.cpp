// The GDB side of the proxy (see server.h).
#include "rsp/server.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline, int timeout_ms) {
  if (timeout_ms < 0) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

void RspServerInit(RspLink link, RspServer* server) {
  RspChannelInit(std::move(link), false, &server->channel);
  if (server->channel.trace_name.empty()) server->channel.trace_name = "gdb";
}

const std::string& RspServerError(const RspServer& server) {
  return server.channel.error;
}

RspStatus RspServerReceive(RspServer* server, int timeout_ms, RspRequestKind* kind,
                           std::string* payload) {
  RspChannel* channel = &server->channel;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    RspEvent event;
    const RspStatus status =
        RspChannelNextEvent(channel, RemainingMs(deadline, timeout_ms), &event);
    if (status != RspStatus::Ok) return status;
    RspStatus answered = RspStatus::Ok;
    switch (event.kind) {
      case RspEventKind::Packet:
        // The request stands even if the ack cannot go out (GDB left right
        // after it): the reply then reports the link's state.
        if (!channel->no_ack) static_cast<void>(RspChannelSendRaw(channel, "+"));
        *kind = RspRequestKind::Packet;
        *payload = std::move(event.payload);
        return RspStatus::Ok;
      case RspEventKind::Interrupt:
        *kind = RspRequestKind::Interrupt;
        payload->clear();
        return RspStatus::Ok;
      case RspEventKind::BadChecksum:
      case RspEventKind::Malformed:
        // GDB sends it again on `-`; without acks there is nobody to ask.
        if (!channel->no_ack) answered = RspChannelSendRaw(channel, "-");
        break;
      case RspEventKind::Oversize:
        if (!channel->no_ack) answered = RspChannelSendRaw(channel, "+");
        if (answered == RspStatus::Ok) {
          answered = RspChannelSendPacket(channel, server->oversize_reply);
        }
        break;
      case RspEventKind::Nack:
        if (!channel->no_ack) answered = RspChannelRetransmit(channel);
        break;
      case RspEventKind::Ack:
        break;
    }
    if (answered != RspStatus::Ok) return answered;
  }
}

RspStatus RspServerReply(RspServer* server, std::string_view payload) {
  return RspChannelSendPacket(&server->channel, payload);
}

void RspServerSetNoAck(RspServer* server, bool no_ack) {
  server->channel.no_ack = no_ack;
}
