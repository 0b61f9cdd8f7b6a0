// GDB's requests: the feature exchange, memory, registers, thread queries,
// transfers and monitor commands, the dispatch of one request and the loop
// that answers them; what the proxy does not handle passes upstream.
#include <algorithm>
#include <string>
#include <vector>

#include "proxy/proxy_state.h"
#include "rsp/packet.h"

namespace {

// The largest packet the proxy takes from GDB, offered as PacketSize.
constexpr std::size_t kOwnPacketSize = 0x4000;
// Monitor commands may take long (erasing flash, say): GDB users raise
// their remote timeout for them, and the proxy waits this long.
constexpr int kUpstreamMonitorReplyMs = 60'000;

}  // namespace

namespace gdbproxy {

namespace {

std::string HandleQSupported(Proxy* proxy, std::string_view gdbFeatures) {
  std::size_t packetSize = kOwnPacketSize;
  std::string extra;
  if (proxy->live && !proxy->negotiated) {
    DrainUnrequested(proxy);
    const Clock::time_point start = Clock::now();
    const RspStatus status = RspRemoteNegotiate(&proxy->remote, gdbFeatures);
    proxy->stats.upstreamMs += MsSince(start);
    if (status != RspStatus::kOk) {
      proxy->upstreamError = "target connection: " + std::string(RspStatusText(status)) + ": " +
                             RspRemoteError(proxy->remote);
      proxy->upstreamOpen = false;
      Warn(proxy->upstreamError);
    } else {
      proxy->negotiated = true;
      std::string reply;
      proxy->upstreamVCont = Upstream(proxy, "vCont?", &reply) && reply.starts_with("vCont");
      Log(*proxy, "target offers: " + proxy->remote.features.reply);
    }
  }
  if (proxy->live) {
    const RspRemoteFeatures& features = proxy->remote.features;
    if (features.packetSize != 0) packetSize = std::min(packetSize, features.packetSize);
    std::vector<RspFeature> offered;
    RspParseFeatures(gdbFeatures, &offered);
    if (features.swbreak && RspFindFeature(offered, "swbreak") != nullptr) extra += ";swbreak+";
    if (features.hwbreak && RspFindFeature(offered, "hwbreak") != nullptr) extra += ";hwbreak+";
    const std::size_t fetch = packetSize > 16 ? (packetSize - 16) / 2 : 0;
    proxy->cache.maxFetch = static_cast<std::uint32_t>(std::max<std::size_t>(
        proxy->cache.blockSize, std::min<std::size_t>(fetch, kMaxCacheFetch)));
  }
  EnsureDescription(proxy);
  return "PacketSize=" + RspHexNumber(packetSize) +
         ";qXfer:features:read+;qXfer:threads:read+;QStartNoAckMode+;vContSupported+" + extra;
}

// Passes a request upstream as it is; "" when there is no upstream.
std::string PassThrough(Proxy* proxy, std::string_view request) {
  if (!proxy->live) return "";
  std::string reply;
  if (!Upstream(proxy, request, &reply)) return ErrorText(proxy->upstreamError);
  return reply;
}

std::string HandleMemoryRead(Proxy* proxy, std::string_view arguments) {
  const std::size_t comma = arguments.find(',');
  std::uint64_t address = 0;
  std::uint64_t count = 0;
  if (comma == std::string_view::npos || !RspParseHexNumber(arguments.substr(0, comma), &address) ||
      !RspParseHexNumber(arguments.substr(comma + 1), &count)) {
    return "E01";
  }
  if (count > kOwnPacketSize / 2) count = kOwnPacketSize / 2;
  std::vector<std::uint8_t> bytes(count);
  if (!model::ModelMemoryRead(proxy->model, address, count, bytes.data())) return "E01";
  return RspToHex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string HandleMemoryWrite(Proxy* proxy, std::string_view request) {
  ForgetStopCaches(proxy);
  if (proxy->live) return PassThrough(proxy, request);
  // A dump takes writes into its own copy.
  const std::size_t comma = request.find(',');
  const std::size_t colon = request.find(':');
  std::uint64_t address = 0;
  std::uint64_t count = 0;
  if (comma == std::string_view::npos || colon == std::string_view::npos || colon < comma ||
      !RspParseHexNumber(request.substr(1, comma - 1), &address) ||
      !RspParseHexNumber(request.substr(comma + 1, colon - comma - 1), &count)) {
    return "E01";
  }
  std::string bytes(request.substr(colon + 1));
  if (request[0] == 'M' && !RspFromHex(request.substr(colon + 1), &bytes)) return "E01";
  if (bytes.size() != count) return "E01";
  if (count == 0) return "OK";
  return model::ModelMemoryWrite(&proxy->model, address, count,
                                 reinterpret_cast<const std::uint8_t*>(bytes.data()))
             ? "OK"
             : "E01";
}

std::string HandleRegisterRead(Proxy* proxy, std::string_view number) {
  std::uint64_t value = 0;
  if (!RspParseHexNumber(number, &value)) return "E01";
  const ProxyRegister* reg = ProxyFindRegister(proxy->layout, static_cast<std::uint32_t>(value));
  if (reg == nullptr) return "E01";
  const std::uint64_t thread = RegisterThread(*proxy);
  if (!ThreadIsCpu(*proxy, thread)) return TaskRegisterHex(proxy, thread, *reg);
  std::string hex;
  if (!ThreadRegistersHex(proxy, thread, false, &hex) ||
      hex.size() < 2 * static_cast<std::size_t>(reg->offset) + reg->bits / 4) {
    return "E01";
  }
  return hex.substr(2 * reg->offset, reg->bits / 4);
}

std::string HandleRegisterWrite(Proxy* proxy, std::string_view arguments) {
  const std::size_t equals = arguments.find('=');
  std::uint64_t number = 0;
  std::uint64_t value = 0;
  if (equals == std::string_view::npos ||
      !RspParseHexNumber(arguments.substr(0, equals), &number)) {
    return "E01";
  }
  const ProxyRegister* reg = ProxyFindRegister(proxy->layout, static_cast<std::uint32_t>(number));
  if (reg == nullptr ||
      !ProxyDecodeRegisterValue(proxy->layout, *reg, arguments.substr(equals + 1), &value)) {
    return "E01";
  }
  std::string error;
  if (!WriteThreadRegister(proxy, RegisterThread(*proxy), *reg, value, &error)) {
    return ErrorText(error);
  }
  return "OK";
}

std::string HandleRegistersWrite(Proxy* proxy, std::string_view hex) {
  const std::uint64_t thread = RegisterThread(*proxy);
  if (ThreadIsCpu(*proxy, thread) && proxy->live) {
    // GDB sends only the part of its 'g' data; the stub gets all of it.
    std::string whole;
    if (!ThreadRegistersHex(proxy, thread, false, &whole) || hex.size() > whole.size()) {
      return "E01";
    }
    whole.replace(0, hex.size(), hex);
    ForgetStopCaches(proxy);
    return PassThrough(proxy, "G" + whole);
  }
  std::string current;
  ProxyRegisterData now;
  ProxyRegisterData wanted;
  if (!ThreadRegistersHex(proxy, thread, true, &current) ||
      !ProxyDecodeRegisterData(proxy->layout, current, &now) ||
      !ProxyDecodeRegisterData(proxy->layout, hex, &wanted)) {
    return "E01";
  }
  // Only the registers that change are written: the kernel may keep some
  // (such as sp) read only.
  for (const ProxyRegister& reg : proxy->layout.registers) {
    const std::size_t begin = reg.offset;
    const std::size_t end = begin + reg.bits / 8;
    if (end > wanted.bytes.size() || end > now.bytes.size()) break;
    bool changed = false;
    bool complete = true;
    for (std::size_t index = begin; index < end; ++index) {
      complete = complete && wanted.available[index];
      changed = changed || !now.available[index] || now.bytes[index] != wanted.bytes[index];
    }
    if (!complete || !changed) continue;
    std::uint64_t value = 0;
    if (!ProxyDecodeRegisterValue(proxy->layout, reg, hex.substr(2 * begin, reg.bits / 4),
                                  &value)) {
      return "E01";
    }
    std::string error;
    if (!WriteThreadRegister(proxy, thread, reg, value, &error)) return ErrorText(error);
  }
  return "OK";
}

std::string HandleThreadQuery(Proxy* proxy, std::string_view request) {
  if (request == "qfThreadInfo") return ProxyThreadInfoReply(proxy->snapshot);
  if (request == "qsThreadInfo") return "l";
  if (request == "qC") return "QC" + RspHexNumber(proxy->snapshot.running);
  // qThreadExtraInfo,ID
  ProxyThreadRef ref;
  const std::string_view id = request.substr(request.find(',') + 1);
  if (!ProxyParseThreadRef(id, &ref) || ref.kind != ProxyThreadRefKind::kThread) return "E01";
  const ProxyThread* thread = ProxyFindThread(proxy->snapshot, ref.id);
  if (thread == nullptr) return "E01";
  return RspToHex(ProxyThreadText(*thread));
}

std::string HandleSetThread(Proxy* proxy, std::string_view request) {
  ProxyThreadRef ref;
  if (request.size() < 2 || !ProxyParseThreadRef(request.substr(2), &ref)) return "E01";
  if (ref.kind == ProxyThreadRefKind::kThread &&
      ProxyFindThread(proxy->snapshot, ref.id) == nullptr) {
    return "E01";
  }
  (request[1] == 'g' ? proxy->gThread : proxy->cThread) = ref;
  return "OK";
}

std::string HandleXfer(Proxy* proxy, std::string_view request) {
  std::string annex;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  constexpr std::string_view kFeatures = "qXfer:features:read:";
  constexpr std::string_view kThreads = "qXfer:threads:read:";
  if (request.starts_with(kThreads)) {
    if (!ProxyParseXferRead(request.substr(kThreads.size()), &annex, &offset, &length)) {
      return "E00";
    }
    return ProxyXferSlice(proxy->threadsXml, offset, length);
  }
  if (request.starts_with(kFeatures)) {
    if (!ProxyParseXferRead(request.substr(kFeatures.size()), &annex, &offset, &length)) {
      return "E00";
    }
    EnsureDescription(proxy);
    const auto found = proxy->annexes.find(annex);
    if (found != proxy->annexes.end()) return ProxyXferSlice(found->second, offset, length);
    std::string text;
    if (proxy->live && proxy->remote.features.xferFeatures && FetchAnnex(proxy, annex, &text)) {
      const auto placed = proxy->annexes.emplace(annex, std::move(text)).first;
      return ProxyXferSlice(placed->second, offset, length);
    }
    return "E00";
  }
  return PassThrough(proxy, request);
}

// Monitor commands go upstream; their console output is passed on.
std::string HandleMonitor(Proxy* proxy, std::string_view request) {
  if (!proxy->live) return "";
  ForgetStopCaches(proxy);
  std::string reply;
  proxy->remote.options.replyTimeoutMs = kUpstreamMonitorReplyMs;
  const bool answered = Upstream(proxy, request, &reply);
  proxy->remote.options.replyTimeoutMs = kUpstreamReplyMs;
  if (!answered) return ErrorText(proxy->upstreamError);
  // Bounded: a stub that writes output for ever cannot keep us.
  for (int round = 0; round < 100000 && reply.size() > 1 && reply[0] == 'O' && reply != "OK";
       ++round) {
    (void)RspServerReply(&proxy->gdb, reply);
    const RspStatus status = RspRemoteWaitStop(&proxy->remote, kUpstreamMonitorReplyMs, &reply);
    if (status != RspStatus::kOk) {
      // The rest of the command's output and its reply may still come.
      RspRemoteUnsettle(&proxy->remote);
      return ErrorText("target connection: " + RspRemoteError(proxy->remote));
    }
  }
  return reply;
}

// Requests that would resume the target in ways the proxy does not follow,
// or that need a multi-threaded stub's cooperation: answered as unsupported.
bool Unsupported(std::string_view request) {
  constexpr std::string_view kNames[] = {
      "vRun",   "vAttach",     "QNonStop",      "vStopped",
      "vCtrlC", "qGetTLSAddr", "QThreadEvents", "QListThreadsInStopReply"};
  constexpr std::string_view kSingleLetters = "iIRr!";
  if (kSingleLetters.find(request[0]) != std::string_view::npos) return true;
  for (const std::string_view name : kNames) {
    if (request.starts_with(name)) return true;
  }
  return false;
}

enum class After : unsigned char { kContinue, kExit };

// Answers one request of GDB. *reply empty with `send` false: nothing is sent.
After HandleRequest(Proxy* proxy, const std::string& request, std::string* reply, bool* send) {
  *send = true;
  reply->clear();
  if (request.empty()) return After::kContinue;
  if (request.starts_with("qSupported")) {
    const std::size_t colon = request.find(':');
    *reply = HandleQSupported(proxy, colon == std::string::npos
                                         ? std::string_view()
                                         : std::string_view(request).substr(colon + 1));
    return After::kContinue;
  }
  if (request == "QStartNoAckMode") {
    *reply = "OK";
    return After::kContinue;
  }
  if (request == "vMustReplyEmpty") return After::kContinue;
  // Without a target there is no stop to report: say why.
  if (request == "?" && proxy->live && !proxy->upstreamOpen && !proxy->stopped) {
    *reply = ErrorText(proxy->upstreamError);
    return After::kContinue;
  }
  EnsureStopped(proxy);
  const std::string_view text = request;
  const char head = request[0];
  if (request == "?") {
    *reply = proxy->stopReply;
  } else if (request == "qfThreadInfo" || request == "qsThreadInfo" || request == "qC" ||
             text.starts_with("qThreadExtraInfo,")) {
    *reply = HandleThreadQuery(proxy, text);
  } else if (head == 'H') {
    *reply = HandleSetThread(proxy, text);
  } else if (head == 'T') {
    ProxyThreadRef ref;
    *reply = ProxyParseThreadRef(text.substr(1), &ref) &&
                     (ref.kind != ProxyThreadRefKind::kThread ||
                      ProxyFindThread(proxy->snapshot, ref.id) != nullptr)
                 ? "OK"
                 : "E01";
  } else if (text.starts_with("qXfer:")) {
    *reply = HandleXfer(proxy, text);
  } else if (text.starts_with("qSymbol:")) {
    *reply = "OK";
  } else if (request == "qAttached" || text.starts_with("qAttached:")) {
    *reply = "1";
  } else if (text.starts_with("qRcmd,")) {
    *reply = HandleMonitor(proxy, text);
  } else if (request == "g") {
    std::string hex;
    *reply = ThreadRegistersHex(proxy, RegisterThread(*proxy), true, &hex) ? hex : "E01";
  } else if (head == 'G') {
    *reply = HandleRegistersWrite(proxy, text.substr(1));
  } else if (head == 'p') {
    *reply = HandleRegisterRead(proxy, text.substr(1));
  } else if (head == 'P') {
    *reply = HandleRegisterWrite(proxy, text.substr(1));
  } else if (head == 'm') {
    *reply = HandleMemoryRead(proxy, text.substr(1));
  } else if (head == 'M' || head == 'X') {
    *reply = HandleMemoryWrite(proxy, text);
  } else if (request == "vCont?") {
    *reply = "vCont;c;C;s;S";
  } else if (text.starts_with("vCont;")) {
    std::vector<ProxyResumeAction> actions;
    if (!ProxyParseVCont(text.substr(6), &actions)) {
      *reply = "E01";
    } else if (!HandleResume(proxy, actions, reply)) {
      return After::kExit;
    }
  } else if (head == 'c' || head == 's' || head == 'C' || head == 'S') {
    ProxyResumeAction action;
    action.action = head;
    const std::string_view rest = text.substr(1);
    if (head == 'C' || head == 'S') action.argument = std::string(rest.substr(0, rest.find(';')));
    action.thread = proxy->cThread;
    if (action.thread.kind == ProxyThreadRefKind::kAny)
      action.thread.kind = ProxyThreadRefKind::kAll;
    if (!HandleResume(proxy, {action}, reply)) return After::kExit;
  } else if (head == 'D') {
    if (proxy->live) (void)PassThrough(proxy, "D");
    *reply = "OK";
    (void)RspServerReply(&proxy->gdb, *reply);
    *send = false;
    return After::kExit;
  } else if (request == "k" || text.starts_with("vKill")) {
    // The stub may end at once without an answer: do not wait for one.
    if (proxy->live && proxy->upstreamOpen) (void)RspChannelSendPacket(&proxy->remote.channel, "k");
    if (head == 'v') (void)RspServerReply(&proxy->gdb, "OK");
    *send = false;
    return After::kExit;
  } else if (Unsupported(text)) {
    *reply = "";
  } else {
    *reply = PassThrough(proxy, text);
  }
  return After::kContinue;
}

}  // namespace

int Serve(Proxy* proxy) {
  for (;;) {
    RspRequestKind kind = RspRequestKind::kPacket;
    std::string request;
    const RspStatus status = RspServerReceive(&proxy->gdb, -1, &kind, &request);
    if (status == RspStatus::kClosed) return kProxyExitOk;
    if (status != RspStatus::kOk) {
      if (status == RspStatus::kTimeout) continue;
      Warn("GDB link: " + RspServerError(proxy->gdb));
      return kProxyExitFailed;
    }
    if (kind == RspRequestKind::kInterrupt) continue;  // the target is stopped already
    ++proxy->stats.gdbPackets;
    proxy->gdbRequest = proxy->stats.gdbPackets;
    std::string reply;
    bool send = true;
    const After after = HandleRequest(proxy, request, &reply, &send);
    if (send && RspServerReply(&proxy->gdb, reply) != RspStatus::kOk) {
      Warn("GDB link: " + RspServerError(proxy->gdb));
      return kProxyExitFailed;
    }
    if (request == "QStartNoAckMode") RspServerSetNoAck(&proxy->gdb, true);
    if (after == After::kExit) return kProxyExitOk;
  }
}
}  // namespace gdbproxy
