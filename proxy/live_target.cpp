// The live target behind the upstream gdbserver: requests and their
// replies, the model's memory and registers backed by it (memory read
// through the per-stop block cache, registers from 'g' and 'p'), and the
// target description fetched from it or built in.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "proxy/proxy_state.h"
#include "proxy/replies.h"
#include "rsp/packet.h"

namespace {

// A stub that names no PacketSize is asked for at most this much at once.
constexpr std::size_t kDefaultUpstreamPacket = 0x400;
// The ELF header flag of the hard-float procedure call standard.
constexpr std::uint32_t kElfArmHardFloat = 0x400;

}  // namespace

namespace gdbproxy {

// Drops packets the stub sent before it was asked anything (a stop it
// announces when a debugger attaches), so they are not taken as replies.
void DrainUnrequested(Proxy* proxy) {
  for (int round = 0; round < 4; ++round) {
    std::string stray;
    if (RspRemoteWaitStop(&proxy->remote, 50, &stray) != RspStatus::kOk) return;
    Log(*proxy, "skipped an unrequested packet " + stray);
  }
}

// One request and its reply. False (with upstreamError) when the exchange
// failed; a link that closed or broke is not used again.
bool Upstream(Proxy* proxy, std::string_view request, std::string* reply) {
  if (!proxy->upstreamOpen) {
    if (proxy->upstreamError.empty()) proxy->upstreamError = "no target connection";
    return false;
  }
  // After a timeout the rest of the same GDB request fails at once: a wedged
  // stub must not cost a timeout for every read a task-list walk makes.
  if (proxy->timedOutIn == proxy->gdbRequest && proxy->gdbRequest != 0) return false;
  const Clock::time_point start = Clock::now();
  // The client settles what may still come for requests that gave up (a
  // late reply, a second reply to a request sent again) before it sends
  // this one. A packet whose shape cannot answer this request is a stop the
  // stub announced on its own: the real reply follows it.
  const RspStatus status = RspRemoteRequestShaped(&proxy->remote, request, ProxyReplyFits, reply);
  proxy->stats.upstreamMs += MsSince(start);
  if (status == RspStatus::kOk) return true;
  proxy->upstreamError = "target connection: " + std::string(RspStatusText(status)) + ": " +
                         RspRemoteError(proxy->remote);
  if (status != RspStatus::kTimeout) proxy->upstreamOpen = false;
  if (status == RspStatus::kTimeout) proxy->timedOutIn = proxy->gdbRequest;
  Warn(proxy->upstreamError);
  return false;
}

void ForgetStopCaches(Proxy* proxy) {
  ProxyCacheClear(&proxy->cache);
  proxy->regsValid = false;
  proxy->taskRegisters.clear();
}

namespace {

bool FetchMemory(Proxy* proxy, std::uint64_t address, std::uint32_t count, std::uint8_t* out) {
  char request[48];
  std::snprintf(request, sizeof request, "m%" PRIx64 ",%" PRIx32, address, count);
  std::string reply;
  if (!Upstream(proxy, request, &reply) || ProxyIsErrorReply(reply)) return false;
  std::string bytes;
  if (!RspFromHex(reply, &bytes) || bytes.size() != count) return false;
  std::copy(bytes.begin(), bytes.end(), out);
  return true;
}

bool ReadLiveMemory(Proxy* proxy, std::uint64_t address, std::uint64_t count, std::uint8_t* out) {
  return ProxyCacheRead(&proxy->cache, address, count, out,
                        [proxy](std::uint64_t at, std::uint32_t bytes, std::uint8_t* into) {
                          return FetchMemory(proxy, at, bytes, into);
                        });
}

bool WriteLiveMemory(Proxy* proxy, std::uint64_t address, std::uint64_t count,
                     const std::uint8_t* data) {
  ForgetStopCaches(proxy);
  char head[48];
  std::snprintf(head, sizeof head, "M%" PRIx64 ",%" PRIx64 ":", address, count);
  std::string request = head;
  RspAppendHex(std::string_view(reinterpret_cast<const char*>(data), count), &request);
  std::string reply;
  return Upstream(proxy, request, &reply) && reply == "OK";
}

bool EnsureLiveRegisters(Proxy* proxy) {
  if (proxy->regsValid) return true;
  std::string reply;
  if (!Upstream(proxy, "g", &reply) || ProxyIsErrorReply(reply) ||
      !ProxyDecodeRegisterData(proxy->layout, reply, &proxy->regs)) {
    return false;
  }
  proxy->regsHex = std::move(reply);
  proxy->upstreamGHex = proxy->regsHex.size();
  proxy->regsFetched.clear();
  // Registers past a short reply are read one at a time with 'p' when needed.
  if (proxy->regsHex.size() < 2 * static_cast<std::size_t>(proxy->layout.bytes)) {
    proxy->regsHex.append(2 * proxy->layout.bytes - proxy->regsHex.size(), 'x');
  }
  proxy->regsValid = true;
  return true;
}

}  // namespace

// One register of the live CPU as hex: from the 'g' reply, or by 'p' for
// those the stub leaves out of it (QEMU sends the FPU's that way).
bool LiveRegisterHex(Proxy* proxy, const ProxyRegister& reg, std::string* hex) {
  if (!EnsureLiveRegisters(proxy)) return false;
  const std::size_t at = 2 * static_cast<std::size_t>(reg.offset);
  const std::size_t digits = reg.bits / 4;
  if (at >= proxy->upstreamGHex && proxy->regsFetched.insert(reg.number).second) {
    std::string reply;
    if (Upstream(proxy, "p" + RspHexNumber(reg.number), &reply) && reply.size() == digits) {
      proxy->regsHex.replace(at, digits, reply);
      (void)ProxyDecodeRegisterData(proxy->layout, proxy->regsHex, &proxy->regs);
    }
  }
  *hex = proxy->regsHex.substr(at, digits);
  return true;
}

namespace {

bool ReadLiveRegister(Proxy* proxy, std::uint32_t number, std::uint32_t* value) {
  const ProxyRegister* reg =
      ProxyRegisterOfKernel(proxy->layout, static_cast<std::int32_t>(number));
  std::string hex;
  return reg != nullptr && LiveRegisterHex(proxy, *reg, &hex) &&
         ProxyKernelFromData(proxy->layout, proxy->regs, static_cast<std::int32_t>(number), value);
}

}  // namespace

// Writes one description register of the live CPU with 'P' (or 'G' when
// the stub has no 'P').
bool WriteLiveDescriptionRegister(Proxy* proxy, const ProxyRegister& reg, const std::string& hex) {
  const bool haveRegs = EnsureLiveRegisters(proxy);
  const std::string whole = haveRegs ? proxy->regsHex.substr(0, proxy->upstreamGHex) : "";
  ForgetStopCaches(proxy);
  std::string reply;
  if (!Upstream(proxy, "P" + RspHexNumber(reg.number) + "=" + hex, &reply)) return false;
  if (reply == "OK") return true;
  const std::size_t at = 2 * static_cast<std::size_t>(reg.offset);
  if (!reply.empty() || !haveRegs || at + hex.size() > whole.size()) return false;
  std::string data = whole;
  data.replace(at, hex.size(), hex);
  return Upstream(proxy, "G" + data, &reply) && reply == "OK";
}

// The hex of a register value in the target's byte order.
std::string RegisterValueHex(const ProxyRegisterLayout& layout, const ProxyRegister& reg,
                             std::uint64_t value) {
  std::string hex;
  for (std::uint32_t index = 0; index < reg.bits / 8; ++index) {
    const std::uint32_t byte = layout.bigEndian ? reg.bits / 8 - 1 - index : index;
    hex.append(RspToHex(std::string(1, static_cast<char>(byte < 8 ? value >> (8 * byte) : 0))));
  }
  return hex;
}

namespace {

bool WriteLiveRegister(Proxy* proxy, std::uint32_t number, std::uint32_t value) {
  const ProxyRegister* reg =
      ProxyRegisterOfKernel(proxy->layout, static_cast<std::int32_t>(number));
  if (reg == nullptr) return false;
  std::uint64_t whole = value;
  if (reg->kernelHigh != kProxyNoKernelRegister) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!ReadLiveRegister(proxy, static_cast<std::uint32_t>(reg->kernel), &low) ||
        !ReadLiveRegister(proxy, static_cast<std::uint32_t>(reg->kernelHigh), &high)) {
      return false;
    }
    if (static_cast<std::int32_t>(number) == reg->kernelHigh)
      high = value;
    else
      low = value;
    whole = std::uint64_t{high} << 32 | low;
  }
  return WriteLiveDescriptionRegister(proxy, *reg, RegisterValueHex(proxy->layout, *reg, whole));
}

// The backing functions the model calls for live memory and registers.
bool BackingMemoryRead(void* context, std::uint64_t address, std::uint64_t count,
                       std::uint8_t* out) {
  return ReadLiveMemory(static_cast<Proxy*>(context), address, count, out);
}
bool BackingMemoryWrite(void* context, std::uint64_t address, std::uint64_t count,
                        const std::uint8_t* data) {
  return WriteLiveMemory(static_cast<Proxy*>(context), address, count, data);
}
bool BackingRegisterRead(void* context, std::uint32_t number, std::uint32_t* value) {
  return ReadLiveRegister(static_cast<Proxy*>(context), number, value);
}
bool BackingRegisterWrite(void* context, std::uint32_t number, std::uint32_t value) {
  return WriteLiveRegister(static_cast<Proxy*>(context), number, value);
}

bool ElfIsHardFloat(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char header[52] = {};
  if (!file.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  const bool bigEndian = header[5] == 2;
  std::uint32_t flags = 0;
  for (int index = 0; index < 4; ++index) {
    const std::uint32_t byte = header[36 + index];
    flags |= bigEndian ? byte << (8 * (3 - index)) : byte << (8 * index);
  }
  return (flags & kElfArmHardFloat) != 0;
}

}  // namespace

// Reads a whole description document from the upstream.
bool FetchAnnex(Proxy* proxy, std::string_view annex, std::string* text) {
  std::string document;
  const std::size_t chunk =
      (proxy->remote.features.packetSize != 0 ? proxy->remote.features.packetSize
                                              : kDefaultUpstreamPacket) -
      8;
  // Bounded: a stub that never says "l" cannot keep us.
  for (int round = 0; round < 1024; ++round) {
    std::string reply;
    if (!Upstream(proxy,
                  "qXfer:features:read:" + std::string(annex) + ":" +
                      RspHexNumber(document.size()) + "," + RspHexNumber(chunk),
                  &reply) ||
        reply.empty() || (reply[0] != 'm' && reply[0] != 'l')) {
      return false;
    }
    document.append(reply, 1);
    if (reply[0] == 'l') {
      *text = std::move(document);
      return true;
    }
    if (reply.size() == 1) return false;
  }
  return false;
}

// Takes the description from the upstream when it has one, else the
// built-in one for the program's FPU; fills the layout.
void EnsureDescription(Proxy* proxy) {
  if (proxy->haveLayout) return;
  std::string error;
  const auto fromCache = [proxy](std::string_view annex, std::string* text) {
    const auto found = proxy->annexes.find(annex);
    if (found != proxy->annexes.end()) {
      *text = found->second;
      return true;
    }
    if (!proxy->live || !proxy->remote.features.xferFeatures) return false;
    if (!FetchAnnex(proxy, annex, text)) return false;
    proxy->annexes.emplace(std::string(annex), *text);
    return true;
  };
  if (proxy->live && proxy->remote.features.xferFeatures &&
      ProxyParseDescription(fromCache, proxy->model.memory.bigEndian, &proxy->layout, &error)) {
    proxy->haveLayout = true;
    return;
  }
  if (proxy->live && proxy->remote.features.xferFeatures) {
    Warn("the target's description is unusable (" + error + "); using the built-in one");
  }
  proxy->annexes.clear();
  proxy->annexes.emplace(
      "target.xml", std::string(ProxyBuiltinDescription(ElfIsHardFloat(proxy->options->elfPath))));
  proxy->haveLayout =
      ProxyParseDescription(fromCache, proxy->model.memory.bigEndian, &proxy->layout, &error);
}

void UseLiveBackings(Proxy* proxy) {
  proxy->model.memory.backing = model::MemoryBacking{proxy, BackingMemoryRead, BackingMemoryWrite};
  proxy->model.registers.backing =
      model::RegisterBacking{proxy, BackingRegisterRead, BackingRegisterWrite};
}

}  // namespace gdbproxy
