// The GDB side of the proxy (see server.h).
#include "rsp/server.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void RspServerInit(RspLink link, RspServer* server) {
  RspChannelInit(std::move(link), false, &server->channel);
  if (server->channel.traceName.empty()) server->channel.traceName = "gdb";
}

const std::string& RspServerError(const RspServer& server) {
  return server.channel.error;
}

RspStatus RspServerReceive(RspServer* server, int timeoutMs, RspRequestKind* kind,
                           std::string* payload) {
  RspChannel* channel = &server->channel;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    RspEvent event;
    const RspStatus status =
        RspChannelNextEvent(channel, RspRemainingMs(deadline, timeoutMs), &event);
    if (status != RspStatus::kOk) return status;
    RspStatus answered = RspStatus::kOk;
    switch (event.kind) {
      case RspEventKind::kPacket:
        // The request stands even if the ack cannot go out (GDB left right
        // after it): the reply then reports the link's state.
        if (!channel->noAck) static_cast<void>(RspChannelSendRaw(channel, "+"));
        *kind = RspRequestKind::kPacket;
        *payload = std::move(event.payload);
        return RspStatus::kOk;
      case RspEventKind::kInterrupt:
        *kind = RspRequestKind::kInterrupt;
        payload->clear();
        return RspStatus::kOk;
      case RspEventKind::kBadChecksum:
      case RspEventKind::kMalformed:
        // GDB sends it again on `-`; without acks there is nobody to ask.
        if (!channel->noAck) answered = RspChannelSendRaw(channel, "-");
        break;
      case RspEventKind::kOversize:
        if (!channel->noAck) answered = RspChannelSendRaw(channel, "+");
        if (answered == RspStatus::kOk) {
          answered = RspChannelSendPacket(channel, server->oversizeReply);
        }
        break;
      case RspEventKind::kNack:
        if (!channel->noAck) answered = RspChannelRetransmit(channel);
        break;
      case RspEventKind::kAck:
        break;
    }
    if (answered != RspStatus::kOk) return answered;
  }
}

RspStatus RspServerReply(RspServer* server, std::string_view payload) {
  return RspChannelSendPacket(&server->channel, payload);
}

void RspServerSetNoAck(RspServer* server, bool noAck) {
  server->channel.noAck = noAck;
}
