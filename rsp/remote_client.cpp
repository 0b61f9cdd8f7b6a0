// The upstream gdb-remote client (see remote_client.h).
#include "rsp/remote_client.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// A short, printable name of a request for messages: its first bytes.
std::string Describe(std::string_view request) {
  constexpr std::size_t kShown = 24;
  std::string text = "\"";
  for (std::size_t i = 0; i < request.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(request[i]);
    text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
  }
  if (request.size() > kShown) text += "...";
  text += "\"";
  return text;
}

RspStatus Fail(RspRemote* remote, RspStatus status, std::string reason) {
  remote->channel.error = std::move(reason);
  return status;
}

// Prefixes the channel's own reason (closed, I/O) with what we were doing.
RspStatus FailLink(RspRemote* remote, RspStatus status, std::string_view doing) {
  std::string reason(doing);
  reason += ": ";
  reason +=
      remote->channel.error.empty() ? std::string(RspStatusText(status)) : remote->channel.error;
  remote->channel.error = std::move(reason);
  return status;
}

// Acks a good packet. The packet stands even when the ack cannot be sent
// (an upstream that closed right after its reply): the next exchange
// reports the link's state.
void SendAck(RspRemote* remote) {
  if (remote->channel.noAck) return;
  static_cast<void>(RspChannelSendRaw(&remote->channel, "+"));
}

// What waiting for the `+` of a packet sent gave.
struct AckResult {
  bool earlyPacket = false;  // a packet came instead: taken as the reply
  std::string payload;
  int badReplies = 0;  // `-` already sent for a bad packet that came first
  // Sent again after a quiet wait: the stub may have had it and answer twice.
  bool resentQuiet = false;
};

// Waits for the `+` of the packet just sent, retransmitting it on `-` or a
// quiet ackTimeoutMs, at most maxRetransmits times.
RspStatus AwaitAck(RspRemote* remote, std::string_view request, AckResult* result) {
  RspChannel* channel = &remote->channel;
  int retransmits = 0;
  while (true) {
    RspEvent event;
    const RspStatus status = RspChannelNextEvent(channel, remote->options.ackTimeoutMs, &event);
    bool again = false;
    if (status == RspStatus::kTimeout) {
      again = true;
    } else if (status != RspStatus::kOk) {
      return FailLink(remote, status, "waiting for the ack of " + Describe(request));
    } else {
      switch (event.kind) {
        case RspEventKind::kAck:
          return RspStatus::kOk;
        case RspEventKind::kNack:
          again = true;
          break;
        case RspEventKind::kPacket: {
          SendAck(remote);
          result->earlyPacket = true;
          result->payload = std::move(event.payload);
          return RspStatus::kOk;
        }
        case RspEventKind::kBadChecksum:
        case RspEventKind::kMalformed: {
          // The stub skipped the ack and its reply came out damaged: the
          // request arrived, so ask for the reply again.
          const RspStatus nacked = RspChannelSendRaw(channel, "-");
          if (nacked != RspStatus::kOk) {
            return FailLink(remote, nacked, "asking again for the reply to " + Describe(request));
          }
          ++result->badReplies;
          return RspStatus::kOk;
        }
        case RspEventKind::kOversize:
          SendAck(remote);
          return Fail(remote, RspStatus::kProtocol,
                      "the reply to " + Describe(request) + " is longer than " +
                          std::to_string(channel->decoder.maxPacket) + " bytes");
        case RspEventKind::kInterrupt:
          break;
      }
    }
    if (!again) continue;
    if (retransmits >= remote->options.maxRetransmits) {
      if (status == RspStatus::kTimeout) {
        return Fail(remote, RspStatus::kTimeout,
                    "no ack for " + Describe(request) + " after " +
                        std::to_string(retransmits + 1) + " tries of " +
                        std::to_string(remote->options.ackTimeoutMs) + " ms");
      }
      return Fail(remote, RspStatus::kProtocol,
                  "the upstream refused " + Describe(request) + " " +
                      std::to_string(retransmits + 1) + " times (bad checksum on its side)");
    }
    ++retransmits;
    if (status == RspStatus::kTimeout) result->resentQuiet = true;
    const RspStatus sent = RspChannelRetransmit(channel);
    if (sent != RspStatus::kOk) return FailLink(remote, sent, "sending " + Describe(request));
  }
}

// Waits for a reply packet for up to timeoutMs (< 0: for ever), acking a
// good one and asking again (`-`) for a damaged one, at most
// maxRetransmits times in all. `badReplies` counts the `-` sent already.
RspStatus AwaitReply(RspRemote* remote, std::string_view request, int timeoutMs, int badReplies,
                     std::string* reply) {
  RspChannel* channel = &remote->channel;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int retransmits = 0;
  while (true) {
    RspEvent event;
    const RspStatus status =
        RspChannelNextEvent(channel, RspRemainingMs(deadline, timeoutMs), &event);
    if (status == RspStatus::kTimeout) {
      return Fail(
          remote, RspStatus::kTimeout,
          "no reply to " + Describe(request) + " within " + std::to_string(timeoutMs) + " ms");
    }
    if (status != RspStatus::kOk) {
      return FailLink(remote, status, "waiting for the reply to " + Describe(request));
    }
    switch (event.kind) {
      case RspEventKind::kPacket: {
        SendAck(remote);
        *reply = std::move(event.payload);
        return RspStatus::kOk;
      }
      case RspEventKind::kBadChecksum:
      case RspEventKind::kMalformed: {
        if (channel->noAck) {
          return Fail(remote, RspStatus::kProtocol,
                      "the reply to " + Describe(request) +
                          " is damaged and no-ack mode cannot ask for it again");
        }
        if (badReplies >= remote->options.maxRetransmits) {
          return Fail(remote, RspStatus::kProtocol,
                      "the reply to " + Describe(request) + " came damaged " +
                          std::to_string(badReplies + 1) + " times");
        }
        ++badReplies;
        const RspStatus nacked = RspChannelSendRaw(channel, "-");
        if (nacked != RspStatus::kOk) {
          return FailLink(remote, nacked, "asking again for the reply to " + Describe(request));
        }
        break;
      }
      case RspEventKind::kOversize:
        SendAck(remote);
        return Fail(remote, RspStatus::kProtocol,
                    "the reply to " + Describe(request) + " is longer than " +
                        std::to_string(channel->decoder.maxPacket) + " bytes");
      case RspEventKind::kNack: {
        // The stub lost our packet after all: send it again.
        if (channel->noAck) break;
        if (retransmits >= remote->options.maxRetransmits) {
          return Fail(remote, RspStatus::kProtocol,
                      "the upstream refused " + Describe(request) + " " +
                          std::to_string(retransmits + 1) + " times (bad checksum on its side)");
        }
        ++retransmits;
        const RspStatus sent = RspChannelRetransmit(channel);
        if (sent != RspStatus::kOk) return FailLink(remote, sent, "sending " + Describe(request));
        break;
      }
      case RspEventKind::kAck:
      case RspEventKind::kInterrupt:
        break;
    }
  }
}

bool IsConsoleOutput(std::string_view payload) {
  return payload.size() > 1 && payload.front() == 'O' && payload != "OK";
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A stop or exit reply ("T05...", "S05", "W00", "X09"): what '?' answers.
bool IsStopShaped(std::string_view payload) {
  return payload.size() >= 3 &&
         std::string_view("TSWX").find(payload[0]) != std::string_view::npos &&
         IsHexDigit(payload[1]) && IsHexDigit(payload[2]);
}

// Takes one packet that came while settling. The stub answers in order,
// so once the probe's stop reply (the last owed) has come, everything asked
// before it has been answered or was lost.
void Settle(RspRemote* remote, std::string_view payload) {
  if (IsConsoleOutput(payload)) return;
  if (IsStopShaped(payload)) {
    if (remote->lateStops == 0) return;
    --remote->lateStops;
    if (remote->lateStops == 0 && remote->probing) {
      remote->probing = false;
      remote->unsettled = false;
      remote->lateReplies = 0;
    }
    return;
  }
  if (remote->lateReplies > 0) --remote->lateReplies;
}

bool Settled(const RspRemote& remote) {
  return remote.lateReplies == 0 && remote.lateStops == 0 && !remote.unsettled;
}

// Before a request, drops every packet that may still come for requests
// that gave up: those already here first; then, unless they account for
// all that was owed, the probe '?' goes out and everything up to its stop
// reply is dropped. kTimeout when the probe's reply does not come in time:
// the request must then not be sent, since a late reply could answer it.
RspStatus SettleLateReplies(RspRemote* remote, std::string_view request) {
  RspChannel* channel = &remote->channel;
  // Bounded: a stub that keeps talking cannot hold us here.
  for (int events = 0; events < 256 && !Settled(*remote); ++events) {
    RspEvent event;
    const RspStatus status = RspChannelNextEvent(channel, 0, &event);
    if (status == RspStatus::kTimeout) break;
    if (status != RspStatus::kOk) {
      return FailLink(remote, status, "dropping late replies before " + Describe(request));
    }
    if (event.kind == RspEventKind::kPacket) {
      SendAck(remote);
      Settle(remote, event.payload);
    }
  }
  if (Settled(*remote)) return RspStatus::kOk;
  // Replies of '?' cannot be told apart from the probe's: counting them
  // all keeps the probe's the last.
  if (!remote->probing) {
    const RspStatus sent = RspChannelSendPacket(channel, "?");
    if (sent != RspStatus::kOk) return FailLink(remote, sent, "sending the probe \"?\"");
    remote->probing = true;
    remote->unsettled = true;
    ++remote->lateStops;
  }
  const int timeoutMs = remote->options.replyTimeoutMs;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Settled(*remote)) {
    RspEvent event;
    const RspStatus status =
        RspChannelNextEvent(channel, RspRemainingMs(deadline, timeoutMs), &event);
    if (status == RspStatus::kTimeout) {
      return Fail(
          remote, RspStatus::kTimeout,
          "an earlier request's reply is late and no reply to the probe \"?\" came within " +
              std::to_string(timeoutMs) + " ms: " + Describe(request) + " not sent");
    }
    if (status != RspStatus::kOk) {
      return FailLink(remote, status, "waiting for the probe's reply before " + Describe(request));
    }
    switch (event.kind) {
      case RspEventKind::kPacket:
        SendAck(remote);
        Settle(remote, event.payload);
        break;
      case RspEventKind::kBadChecksum:
      case RspEventKind::kMalformed:
        if (!channel->noAck) {
          static_cast<void>(RspChannelSendRaw(channel, "-"));
        } else {
          // It may have been the probe's reply, which cannot be asked for
          // again: the next request sends a fresh probe.
          remote->probing = false;
          remote->lateStops = 0;
          return Fail(remote, RspStatus::kProtocol,
                      "a damaged packet came while dropping late replies: " + Describe(request) +
                          " not sent");
        }
        break;
      case RspEventKind::kOversize:
        SendAck(remote);
        Settle(remote, "");
        break;
      case RspEventKind::kAck:
      case RspEventKind::kNack:
      case RspEventKind::kInterrupt:
        // A `-` may be for a late packet: the late replies settle it either
        // way, and the probe goes out again only when its own wait ends.
        break;
    }
  }
  return RspStatus::kOk;
}

// Sends a request and waits for its ack and reply; a packet `fits` rejects
// is dropped, at most 4 times. On failure, records what may still come.
RspStatus Exchange(RspRemote* remote, std::string_view request, RspReplyFits fits,
                   std::string* reply) {
  const RspStatus sent = RspChannelSendPacket(&remote->channel, request);
  if (sent != RspStatus::kOk) return FailLink(remote, sent, "sending " + Describe(request));
  const bool isStatus = request == "?";
  AckResult ack;
  RspStatus status = RspStatus::kOk;
  bool haveReply = false;
  if (!remote->channel.noAck) {
    status = AwaitAck(remote, request, &ack);
    if (status == RspStatus::kOk && ack.earlyPacket) {
      *reply = std::move(ack.payload);
      haveReply = true;
    }
  }
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(remote->options.replyTimeoutMs);
  for (int stray = 0; status == RspStatus::kOk; ++stray) {
    if (!haveReply) {
      // The whole reply timeout for the first packet; what is left of it
      // for one after a stray.
      const int waitMs = stray == 0 ? remote->options.replyTimeoutMs
                                    : RspRemainingMs(deadline, remote->options.replyTimeoutMs);
      status = AwaitReply(remote, request, waitMs, ack.badReplies, reply);
      if (status != RspStatus::kOk) break;
    }
    if (fits == nullptr || fits(request, *reply)) break;
    if (stray >= 4) {
      status = Fail(remote, RspStatus::kProtocol,
                    "no packet that can answer " + Describe(request) + " came among 5");
      break;
    }
    haveReply = false;
  }
  // A request sent again after a quiet wait may be answered twice.
  if (ack.resentQuiet) remote->unsettled = true;
  if (status == RspStatus::kOk) return status;
  if (status == RspStatus::kTimeout || status == RspStatus::kProtocol) {
    if (isStatus) {
      ++remote->lateStops;
    } else {
      ++remote->lateReplies;
    }
    // Only a reply that simply has not come yet is counted for sure.
    if (status != RspStatus::kTimeout || ack.badReplies != 0) remote->unsettled = true;
  }
  return status;
}

}  // namespace

void RspRemoteInit(RspLink link, const RspRemoteOptions& options, RspRemote* remote) {
  RspChannelInit(std::move(link), true, &remote->channel);
  remote->channel.delayMs = options.delayMs;
  if (remote->channel.traceName.empty()) remote->channel.traceName = "upstream";
  remote->options = options;
  remote->features = RspRemoteFeatures();
  remote->running = false;
  remote->lateReplies = 0;
  remote->lateStops = 0;
  remote->unsettled = false;
  remote->probing = false;
}

const std::string& RspRemoteError(const RspRemote& remote) {
  return remote.channel.error;
}

RspStatus RspRemoteRequestShaped(RspRemote* remote, std::string_view request, RspReplyFits fits,
                                 std::string* reply) {
  if (remote->running) {
    return Fail(remote, RspStatus::kProtocol,
                "the target is running: " + Describe(request) + " must wait for its stop");
  }
  const RspStatus settled = SettleLateReplies(remote, request);
  if (settled != RspStatus::kOk) return settled;
  return Exchange(remote, request, fits, reply);
}

RspStatus RspRemoteRequest(RspRemote* remote, std::string_view request, std::string* reply) {
  return RspRemoteRequestShaped(remote, request, nullptr, reply);
}

void RspRemoteUnsettle(RspRemote* remote) {
  remote->unsettled = true;
}

void RspParseFeatures(std::string_view list, std::vector<RspFeature>* features) {
  while (!list.empty()) {
    const std::size_t end = list.find(';');
    std::string_view entry = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (entry.empty()) continue;
    RspFeature feature;
    const std::size_t equals = entry.find('=');
    if (equals != std::string_view::npos) {
      feature.name = std::string(entry.substr(0, equals));
      feature.support = '=';
      feature.value = std::string(entry.substr(equals + 1));
    } else if (entry.back() == '+' || entry.back() == '-' || entry.back() == '?') {
      feature.name = std::string(entry.substr(0, entry.size() - 1));
      feature.support = entry.back();
    } else {
      // A bare name: treat it as offered.
      feature.name = std::string(entry);
      feature.support = '+';
    }
    features->push_back(std::move(feature));
  }
}

const RspFeature* RspFindFeature(const std::vector<RspFeature>& features, std::string_view name) {
  for (const RspFeature& feature : features) {
    if (feature.name == name) return &feature;
  }
  return nullptr;
}

std::string RspJoinFeatures(const std::vector<RspFeature>& features) {
  std::string list;
  for (const RspFeature& feature : features) {
    if (!list.empty()) list.push_back(';');
    list += feature.name;
    if (feature.support == '=') {
      list.push_back('=');
      list += feature.value;
    } else {
      list.push_back(feature.support);
    }
  }
  return list;
}

RspStatus RspRemoteNegotiate(RspRemote* remote, std::string_view gdbFeatures) {
  std::vector<RspFeature> offered;
  RspParseFeatures(gdbFeatures, &offered);
  std::vector<RspFeature> forwarded;
  for (RspFeature& feature : offered) {
    if (feature.name != "multiprocess") forwarded.push_back(std::move(feature));
  }
  std::string request = "qSupported";
  if (!forwarded.empty()) request += ":" + RspJoinFeatures(forwarded);
  std::string reply;
  const RspStatus status = RspRemoteRequest(remote, request, &reply);
  if (status != RspStatus::kOk) return status;

  RspRemoteFeatures features;
  features.reply = reply;
  RspParseFeatures(reply, &features.all);
  const auto offers = [&](std::string_view name) {
    const RspFeature* feature = RspFindFeature(features.all, name);
    return feature != nullptr && feature->support == '+';
  };
  if (const RspFeature* size = RspFindFeature(features.all, "PacketSize");
      size != nullptr && size->support == '=') {
    std::uint64_t value = 0;
    if (RspParseHexNumber(size->value, &value)) {
      features.packetSize = value > kRspMaxPacket ? kRspMaxPacket : value;
    }
  }
  features.noAckMode = offers("QStartNoAckMode");
  features.xferFeatures = offers("qXfer:features:read");
  features.xferThreads = offers("qXfer:threads:read");
  features.vcont = offers("vContSupported");
  features.multiprocess = offers("multiprocess");
  features.swbreak = offers("swbreak");
  features.hwbreak = offers("hwbreak");
  remote->features = std::move(features);

  if (remote->features.noAckMode && !remote->channel.noAck) {
    std::string answer;
    const RspStatus asked = RspRemoteRequest(remote, "QStartNoAckMode", &answer);
    if (asked != RspStatus::kOk) return asked;
    // The OK was acked above; from here on neither side acks.
    if (answer == "OK") remote->channel.noAck = true;
  }
  return RspStatus::kOk;
}

RspStatus RspRemoteResume(RspRemote* remote, std::string_view packet) {
  if (remote->running) {
    return Fail(remote, RspStatus::kProtocol,
                "the target is running already: " + Describe(packet) + " refused");
  }
  // A late reply must not be taken for the stop reply.
  const RspStatus settled = SettleLateReplies(remote, packet);
  if (settled != RspStatus::kOk) return settled;
  remote->channel.hasPending = false;
  remote->channel.pending.clear();
  const RspStatus sent = RspChannelSendPacket(&remote->channel, packet);
  if (sent != RspStatus::kOk) return FailLink(remote, sent, "sending " + Describe(packet));
  remote->running = true;
  if (remote->channel.noAck) return RspStatus::kOk;
  AckResult ack;
  const RspStatus acked = AwaitAck(remote, packet, &ack);
  if (acked != RspStatus::kOk) {
    remote->running = false;
    return acked;
  }
  if (ack.earlyPacket) {
    remote->channel.hasPending = true;
    remote->channel.pending = std::move(ack.payload);
  }
  return RspStatus::kOk;
}

RspStatus RspRemoteWaitStop(RspRemote* remote, int timeoutMs, std::string* reply) {
  if (remote->channel.hasPending) {
    remote->channel.hasPending = false;
    *reply = std::move(remote->channel.pending);
    remote->channel.pending.clear();
    if (!IsConsoleOutput(*reply)) remote->running = false;
    return RspStatus::kOk;
  }
  const RspStatus status = AwaitReply(remote, "the stop reply", timeoutMs, 0, reply);
  if (status == RspStatus::kOk && !IsConsoleOutput(*reply)) remote->running = false;
  if (status == RspStatus::kTimeout) remote->channel.error = "the target is still running";
  if (status == RspStatus::kClosed || status == RspStatus::kIoError) remote->running = false;
  return status;
}

RspStatus RspRemoteInterrupt(RspRemote* remote) {
  const RspStatus status = RspChannelSendRaw(&remote->channel, std::string_view("\x03", 1));
  if (status != RspStatus::kOk) return FailLink(remote, status, "sending the interrupt");
  return status;
}

RspStatus RspRemoteResumeAndWait(RspRemote* remote, std::string_view packet,
                                 RspChannel* interruptSource, bool (*onInput)(void* context),
                                 void* context, std::string* reply) {
  reply->clear();
  const RspStatus resumed = RspRemoteResume(remote, packet);
  if (resumed != RspStatus::kOk) return resumed;
  while (true) {
    if (remote->channel.hasPending || interruptSource == nullptr || onInput == nullptr) {
      return RspRemoteWaitStop(remote, -1, reply);
    }
    RspChannel* channels[2] = {&remote->channel, interruptSource};
    std::size_t ready = 0;
    std::string error;
    const RspStatus waited = RspWaitChannels(channels, 2, -1, &ready, &error);
    if (waited != RspStatus::kOk) return Fail(remote, waited, error);
    if (ready == 0) {
      const RspStatus stopped = RspRemoteWaitStop(remote, 0, reply);
      if (stopped != RspStatus::kTimeout) return stopped;
      continue;
    }
    if (!onInput(context)) {
      reply->clear();
      return RspStatus::kOk;
    }
  }
}
