// The proxy's run: the program and dumps loaded into a model target, the
// plug-in session over it, the upstream gdbserver behind the model's memory
// and registers, and the loop that answers GDB's packets (see gdb_proxy.h).
#include "proxy/gdb_proxy.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/session.h"
#include "dwarf/core_dump.h"
#include "dwarf/elf_image.h"
#include "model/target_model.h"
#include "proxy/block_cache.h"
#include "proxy/registers.h"
#include "proxy/replies.h"
#include "proxy/threads.h"
#include "rsp/packet.h"
#include "rsp/remote_client.h"
#include "rsp/server.h"

namespace {

using Clock = std::chrono::steady_clock;

// The service context the proxy opens with the plug-in.
constexpr std::int64_t kContext = 1;
// Object type and attributes of tasks, as the plug-in numbers them.
constexpr std::int32_t kTaskType = 1;
constexpr std::int32_t kAttributeId = 0;
constexpr std::int32_t kAttributeName = 1;
constexpr std::int32_t kAttributeState = 2;
constexpr std::int32_t kAttributePendedOn = 5;
// TargetInit's answer while the target is still in its start-up code.
constexpr std::int32_t kStartupRefused = 2;
// Threads shown at most: a corrupt task ring cannot flood GDB.
constexpr std::size_t kMaxThreads = 1024;
// The largest packet the proxy takes from GDB, offered as PacketSize.
constexpr std::size_t kOwnPacketSize = 0x4000;
// Every wait for the plug-in is bounded by this: GDB gives up on a reply
// after about six seconds, so a plug-in that hangs must be noticed sooner.
constexpr std::chrono::milliseconds kPluginTimeout{4000};
// GDB waits about two seconds for each reply (its remote timeout): an
// upstream that falls silent must fail the request within that, or GDB
// takes the late answer as the reply to its next request.
constexpr int kUpstreamAckMs = 900;
constexpr int kUpstreamRetransmits = 1;
constexpr int kUpstreamReplyMs = 1500;
// Monitor commands may take long (erasing flash, say): GDB users raise
// their remote timeout for them, and the proxy waits this long.
constexpr int kUpstreamMonitorReplyMs = 60'000;
// A stub that names no PacketSize is asked for at most this much at once.
constexpr std::size_t kDefaultUpstreamPacket = 0x400;
// Reads that the block cache makes at most in one 'm'.
constexpr std::uint32_t kMaxCacheFetch = 0x800;
// The ELF header flag of the hard-float procedure call standard.
constexpr std::uint32_t kElfArmHardFloat = 0x400;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Proxy {
  const ProxyOptions* options = nullptr;
  std::string_view selfPath;  // argv[0], to find the plug-in beside the proxy
  bool live = false;
  // A dump without registers (a raw RAM image): the CPU's registers are
  // unavailable to GDB, and the plug-in's start-up check is told of
  // startRoutine (see StandInRoutine).
  bool dumpWithoutRegisters = false;
  std::uint32_t startRoutine = 0;
  model::TargetModel model;
  ProxyStats stats;

  // Upstream (live only).
  RspRemote remote;
  bool upstreamOpen = false;  // the link works (false after it broke)
  bool negotiated = false;
  bool upstreamVCont = false;
  bool upstreamLate = false;     // a request timed out: its reply may still come
  std::uint64_t gdbRequest = 0;  // serial number of the GDB request being answered
  std::uint64_t timedOutIn = 0;  // the GDB request during which the stub timed out
  std::string upstreamError;

  // Caches of one stop.
  ProxyBlockCache cache;
  bool regsValid = false;
  ProxyRegisterData regs;
  std::string regsHex;                  // the whole layout ("xx" where unknown)
  std::size_t upstreamGHex = 0;         // hex digits the stub's 'g' reply held
  std::set<std::uint32_t> regsFetched;  // registers past them asked with 'p'
  // Registers of blocked tasks as hex, by thread and remote number.
  std::map<std::uint64_t, std::map<std::uint32_t, std::string>> taskRegisters;

  // The target description served to GDB.
  bool haveLayout = false;
  ProxyRegisterLayout layout;
  std::map<std::string, std::string, std::less<>> annexes;

  // GDB.
  RspServer gdb;
  ProxyThreadRef gThread;  // Hg
  ProxyThreadRef cThread;  // Hc

  // The plug-in.
  std::unique_ptr<DbgSession> session;
  bool pluginStarted = false;  // started (or tried) at the first stop
  bool pluginUsable = false;
  std::string pluginProblem;  // why it is not usable
  bool targetReady = false;   // TargetInit succeeded

  // The snapshot of the latest stop.
  bool stopped = false;
  std::string stopReply;
  std::uint64_t stopThread = kProxyCpuThread;  // the thread the stop reply names
  ProxyThreadSnapshot snapshot;
  std::string threadsXml;

  Proxy() = default;
  Proxy(const Proxy&) = delete;
  Proxy& operator=(const Proxy&) = delete;
};

void Log(const Proxy& proxy, const std::string& text) {
  if (proxy.options->verbose) std::fprintf(stderr, "osa_gdbproxy: %s\n", text.c_str());
}

void Warn(const std::string& text) {
  std::fprintf(stderr, "osa_gdbproxy: %s\n", text.c_str());
}

// ---- Upstream ----

// Drops packets the stub sent before it was asked anything (a stop it
// announces when a debugger attaches), so they are not taken as replies.
void DrainUnrequested(Proxy* proxy) {
  for (int round = 0; round < 4; ++round) {
    std::string stray;
    if (RspRemoteWaitStop(&proxy->remote, 50, &stray) != RspStatus::Ok) return;
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
  // A reply that came after its request timed out, or a second reply to a
  // retransmitted request, must not answer this one.
  if (proxy->upstreamLate || RspChannelHasBuffered(proxy->remote.channel)) {
    proxy->upstreamLate = false;
    std::string late;
    for (int round = 0; round < 16 && RspRemoteWaitStop(&proxy->remote, 0, &late) == RspStatus::Ok;
         ++round) {
      Log(*proxy, "dropped a late reply " + late);
    }
  }
  const std::uint64_t retransmits = proxy->remote.channel.counters.retransmits;
  RspStatus status = RspRemoteRequest(&proxy->remote, request, reply);
  // The stub may answer a retransmitted request twice.
  if (proxy->remote.channel.counters.retransmits != retransmits) proxy->upstreamLate = true;
  // A reply that cannot be this request's is a stop the stub announced on
  // its own (QEMU does when a debugger attaches to a running guest) or the
  // late reply of a request that timed out: the real reply follows it.
  for (int stray = 0; status == RspStatus::Ok && stray < 4 && !ProxyReplyFits(request, *reply);
       ++stray) {
    Log(*proxy, "skipped a packet that is no reply to " + std::string(request) + ": " + *reply);
    status = RspRemoteWaitStop(&proxy->remote, proxy->remote.options.reply_timeout_ms, reply);
  }
  proxy->stats.upstreamMs += MsSince(start);
  if (status == RspStatus::Ok) return true;
  proxy->upstreamError = "target connection: " + std::string(RspStatusText(status)) + ": " +
                         RspRemoteError(proxy->remote);
  if (status != RspStatus::Timeout) proxy->upstreamOpen = false;
  if (status == RspStatus::Timeout) {
    proxy->upstreamLate = true;
    proxy->timedOutIn = proxy->gdbRequest;
  }
  Warn(proxy->upstreamError);
  return false;
}

void ForgetStopCaches(Proxy* proxy) {
  ProxyCacheClear(&proxy->cache);
  proxy->regsValid = false;
  proxy->taskRegisters.clear();
}

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

bool ReadLiveRegister(Proxy* proxy, std::uint32_t number, std::uint32_t* value) {
  const ProxyRegister* reg =
      ProxyRegisterOfKernel(proxy->layout, static_cast<std::int32_t>(number));
  std::string hex;
  return reg != nullptr && LiveRegisterHex(proxy, *reg, &hex) &&
         ProxyKernelFromData(proxy->layout, proxy->regs, static_cast<std::int32_t>(number), value);
}

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

// ---- The target description ----

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

// Reads a whole description document from the upstream.
bool FetchAnnex(Proxy* proxy, std::string_view annex, std::string* text) {
  std::string document;
  const std::size_t chunk =
      (proxy->remote.features.packet_size != 0 ? proxy->remote.features.packet_size
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
    if (!proxy->live || !proxy->remote.features.xfer_features) return false;
    if (!FetchAnnex(proxy, annex, text)) return false;
    proxy->annexes.emplace(std::string(annex), *text);
    return true;
  };
  if (proxy->live && proxy->remote.features.xfer_features &&
      ProxyParseDescription(fromCache, proxy->model.memory.bigEndian, &proxy->layout, &error)) {
    proxy->haveLayout = true;
    return;
  }
  if (proxy->live && proxy->remote.features.xfer_features) {
    Warn("the target's description is unusable (" + error + "); using the built-in one");
  }
  proxy->annexes.clear();
  proxy->annexes.emplace(
      "target.xml", std::string(ProxyBuiltinDescription(ElfIsHardFloat(proxy->options->elfPath))));
  proxy->haveLayout =
      ProxyParseDescription(fromCache, proxy->model.memory.bigEndian, &proxy->layout, &error);
}

// ---- The plug-in and the thread snapshot ----

void PluginBroke(Proxy* proxy) {
  if (!proxy->pluginUsable) return;
  proxy->pluginUsable = false;
  proxy->targetReady = false;
  proxy->pluginProblem = "the plug-in failed: " + proxy->session->lastError;
  Warn(proxy->pluginProblem + "; only the CPU is shown from now on");
}

// Times a plug-in exchange into the stats.
struct PluginTimer {
  Proxy* proxy;
  Clock::time_point start = Clock::now();
  explicit PluginTimer(Proxy* owner) : proxy(owner) {}
  ~PluginTimer() { proxy->stats.pluginMs += MsSince(start); }
  PluginTimer(const PluginTimer&) = delete;
  PluginTimer& operator=(const PluginTimer&) = delete;
};

bool StartPlugin(Proxy* proxy) {
  DbgSessionOptions options;
  options.transport = DbgTransport::kPipe;
  options.pluginPath = ProxyFindPlugin(proxy->selfPath, proxy->options->pluginPath);
  options.timeout = kPluginTimeout;
  std::string error;
  if (!DbgSessionOpen(options, &proxy->model, &proxy->session, &error)) {
    proxy->pluginProblem = "the plug-in " + options.pluginPath + " did not start: " + error;
    Warn(proxy->pluginProblem);
    return false;
  }
  PluginTimer timer(proxy);
  DbgOsaInitAnswer answer;
  const std::int32_t status = DbgOsaInit(proxy->session.get(), kContext, &answer);
  if (status != 0) {
    proxy->pluginProblem = "the plug-in refused the session: " +
                           (status == kDbgNoAnswer ? proxy->session->lastError
                                                   : "OsaInit answered " + std::to_string(status));
    Warn(proxy->pluginProblem);
    return false;
  }
  if (!DbgOffersKernelAwareness(answer)) {
    proxy->pluginProblem = "the plug-in offers no kernel awareness";
    Warn(proxy->pluginProblem);
    return false;
  }
  Log(*proxy, "plug-in " + options.pluginPath + " ready");
  proxy->pluginUsable = true;
  return true;
}

// TargetInit (until it succeeds) or TargetNotify; false when there is no
// kernel to ask, with the reason in *why.
bool PrepareKernel(Proxy* proxy, std::string* why) {
  DbgSession* session = proxy->session.get();
  if (proxy->targetReady) {
    if (DbgTargetNotify(session, kContext, 0) == kDbgNoAnswer) {
      PluginBroke(proxy);
      *why = proxy->pluginProblem;
      return false;
    }
    return true;
  }
  DbgTargetInitAnswer answer;
  const std::int32_t status =
      DbgTargetInit(session, kContext, proxy->model.memory.bigEndian, &answer);
  if (status == kDbgNoAnswer) {
    PluginBroke(proxy);
    *why = proxy->pluginProblem;
    return false;
  }
  Log(*proxy, "TargetInit answered " + std::to_string(status));
  if (status != 0) {
    *why = status == kStartupRefused ? "the kernel has not started"
                                     : "the plug-in did not recognise the kernel (TargetInit " +
                                           std::to_string(status) + ")";
    return false;
  }
  proxy->targetReady = true;
  if (proxy->options->sendCacheOn) {
    JsonPtr result;
    if (DbgOsaCmdExecute(session, kContext, "cache on", &result) == kDbgNoAnswer) {
      PluginBroke(proxy);
      *why = proxy->pluginProblem;
      return false;
    }
  }
  return true;
}

std::string AttributeText(DbgSession* session, std::int32_t attribute, bool* answered) {
  std::string text;
  const std::int32_t status =
      DbgObjectListAttributeText(session, kContext, kTaskType, attribute, &text);
  if (status == kDbgNoAnswer) *answered = false;
  return status == 0 ? text : std::string("?");
}

// Takes the task list and the running task from the plug-in.
void RefreshThreads(Proxy* proxy) {
  ++proxy->stats.stops;
  std::string why;
  if (!proxy->pluginUsable) {
    proxy->snapshot = ProxyCpuSnapshot(proxy->pluginProblem);
  } else {
    PluginTimer timer(proxy);
    if (!PrepareKernel(proxy, &why)) {
      proxy->snapshot = ProxyCpuSnapshot(why);
    } else {
      DbgSession* session = proxy->session.get();
      std::vector<ProxyThread> tasks;
      bool answered = true;
      (void)DbgObjectListWalk(session, kContext, kTaskType, [&]() {
        ProxyThread task;
        const std::int32_t status =
            DbgObjectListAttributeNumber(session, kContext, kTaskType, kAttributeId, &task.id);
        if (status == kDbgNoAnswer) {
          answered = false;
          return false;
        }
        if (status != 0) return true;
        task.name = AttributeText(session, kAttributeName, &answered);
        task.state = AttributeText(session, kAttributeState, &answered);
        task.pendedOn = AttributeText(session, kAttributePendedOn, &answered);
        tasks.push_back(std::move(task));
        return answered && tasks.size() < kMaxThreads;
      });
      std::uint64_t running = 0;
      const std::int32_t current =
          answered ? DbgCurrentTaskGet(session, kContext, &running) : kDbgNoAnswer;
      if (!answered || current == kDbgNoAnswer) {
        PluginBroke(proxy);
        proxy->snapshot = ProxyCpuSnapshot(proxy->pluginProblem);
      } else if (tasks.empty()) {
        proxy->snapshot = ProxyCpuSnapshot("the kernel lists no task");
      } else if (current != 0 || running == 0) {
        proxy->snapshot = ProxyCpuSnapshot("no task is running");
      } else {
        proxy->snapshot = ProxyTaskSnapshot(std::move(tasks), running);
      }
    }
  }
  if (proxy->session != nullptr) {
    for (const DbgDisplayedMessage& message : proxy->session->service.messages) {
      Log(*proxy, "plug-in message: " + message.text);
    }
    proxy->session->service.messages.clear();
  }
  proxy->threadsXml = ProxyThreadsXml(proxy->snapshot);
  Log(*proxy, "stop: " + std::to_string(proxy->snapshot.threads.size()) + " thread(s), running " +
                  RspHexNumber(proxy->snapshot.running));
}

// A stop of the target: every cache of the previous stop goes, the thread
// list is taken again and the reply names the running thread.
//
// `stepped` is the thread GDB stepped (0 for none). When the step switched
// tasks, the stop is still reported in that thread, now blocked with its
// registers saved: GDB expects a step to end in the thread it stepped and
// fails an internal check otherwise.
void OnStop(Proxy* proxy, std::string_view upstreamReply, std::uint64_t stepped = 0) {
  ForgetStopCaches(proxy);
  proxy->gThread = ProxyThreadRef{};
  proxy->cThread = ProxyThreadRef{};
  const std::uint64_t previous = proxy->snapshot.running;
  RefreshThreads(proxy);
  // A list that can no longer be had (the plug-in died, the target was reset)
  // keeps the id GDB knows the CPU by.
  if (!proxy->snapshot.tasks) {
    proxy->snapshot.running = previous;
    proxy->snapshot.threads.front().id = previous;
    proxy->threadsXml = ProxyThreadsXml(proxy->snapshot);
  }
  proxy->stopped = true;
  // Without registers GDB cannot stand in the running task at all (it needs
  // a pc there): a RAM image stops in the first task whose registers the
  // kernel saved.
  std::uint64_t shown = proxy->snapshot.running;
  if (proxy->dumpWithoutRegisters && proxy->snapshot.threads.size() > 1) {
    shown = proxy->snapshot.threads[1].id;
  }
  if (stepped != 0 && ProxyFindThread(proxy->snapshot, stepped) != nullptr) shown = stepped;
  proxy->stopReply = ProxyRewriteStopReply(upstreamReply, shown);
  // GDB takes the thread of a stop reply as the one 'g' reads from now on.
  proxy->stopThread = shown;
}

// The first stop: the target's own reason, or a plain trap for a dump.
void EnsureStopped(Proxy* proxy) {
  if (proxy->stopped) return;
  // The plug-in starts here, not before GDB's first request: GDB gives each
  // reply a few seconds, and the start-up work is spread over two replies.
  if (!proxy->pluginStarted) {
    proxy->pluginStarted = true;
    (void)StartPlugin(proxy);
  }
  EnsureDescription(proxy);
  std::string reply = "T05";
  if (proxy->live) {
    if (!Upstream(proxy, "?", &reply) || reply.empty() || ProxyIsErrorReply(reply)) reply = "T05";
  }
  OnStop(proxy, reply);
}

// ---- Registers of threads ----

// The thread a register packet means (Hg): the one the stop reply named
// unless a known other thread was chosen.
std::uint64_t RegisterThread(const Proxy& proxy) {
  if (proxy.gThread.kind == ProxyThreadRefKind::kThread &&
      ProxyFindThread(proxy.snapshot, proxy.gThread.id) != nullptr) {
    return proxy.gThread.id;
  }
  return proxy.stopThread;
}

bool ThreadIsCpu(const Proxy& proxy, std::uint64_t thread) {
  return !proxy.snapshot.tasks || thread == proxy.snapshot.running;
}

// One register of a blocked task as hex, asked of the plug-in once per stop.
std::string TaskRegisterHex(Proxy* proxy, std::uint64_t thread, const ProxyRegister& reg) {
  std::map<std::uint32_t, std::string>& known = proxy->taskRegisters[thread];
  const auto found = known.find(reg.number);
  if (found != known.end()) return found->second;
  PluginTimer timer(proxy);
  bool answered = true;
  std::string hex =
      ProxyEncodeRegister(proxy->layout, reg, [&](std::int32_t kernel, std::uint32_t* value) {
        if (!answered || !proxy->pluginUsable) return false;
        std::uint64_t read = 0;
        const std::int32_t status =
            DbgTaskRegisterRead(proxy->session.get(), kContext, thread, kernel, &read);
        if (status == kDbgNoAnswer) answered = false;
        if (status != 0) return false;
        *value = static_cast<std::uint32_t>(read);
        return true;
      });
  if (!answered) PluginBroke(proxy);
  known.emplace(reg.number, hex);
  return hex;
}

// The register data of a thread as hex: every register of the layout, or
// with `gOnly` the part of a 'g' reply. False when the CPU's cannot be read.
bool ThreadRegistersHex(Proxy* proxy, std::uint64_t thread, bool gOnly, std::string* hex) {
  const std::size_t size =
      2 * static_cast<std::size_t>(gOnly ? proxy->layout.gBytes : proxy->layout.bytes);
  if (ThreadIsCpu(*proxy, thread)) {
    if (proxy->live) {
      hex->clear();
      for (const ProxyRegister& reg : proxy->layout.registers) {
        if (2 * static_cast<std::size_t>(reg.offset) >= size) break;
        std::string part;
        if (!LiveRegisterHex(proxy, reg, &part)) return false;
        hex->append(part);
      }
      return true;
    }
    if (proxy->dumpWithoutRegisters) {
      *hex = std::string(size, 'x');
      return true;
    }
    *hex = ProxyEncodeRegisters(proxy->layout, [proxy](std::int32_t kernel, std::uint32_t* value) {
      std::uint64_t read = 0;
      if (!model::ModelRegisterRead(proxy->model, static_cast<std::uint32_t>(kernel), &read)) {
        return false;
      }
      *value = static_cast<std::uint32_t>(read);
      return true;
    });
    hex->resize(size);
    return true;
  }
  hex->clear();
  for (const ProxyRegister& reg : proxy->layout.registers) {
    if (2 * static_cast<std::size_t>(reg.offset) >= size) break;
    hex->append(TaskRegisterHex(proxy, thread, reg));
  }
  return true;
}

// Writes one description register of a thread.
bool WriteThreadRegister(Proxy* proxy, std::uint64_t thread, const ProxyRegister& reg,
                         std::uint64_t value, std::string* error) {
  if (ThreadIsCpu(*proxy, thread)) {
    if (proxy->live) {
      if (WriteLiveDescriptionRegister(proxy, reg, RegisterValueHex(proxy->layout, reg, value))) {
        return true;
      }
      *error = "the target refused the register write";
      return false;
    }
    bool written = reg.kernel != kProxyNoKernelRegister;
    if (written) {
      written = model::ModelRegisterWrite(&proxy->model, static_cast<std::uint32_t>(reg.kernel),
                                          static_cast<std::uint32_t>(value));
    }
    if (written && reg.kernelHigh != kProxyNoKernelRegister) {
      written = model::ModelRegisterWrite(&proxy->model, static_cast<std::uint32_t>(reg.kernelHigh),
                                          value >> 32);
    }
    if (!written) *error = "register " + reg.name + " is not known in this dump";
    return written;
  }
  if (!proxy->pluginUsable || reg.kernel == kProxyNoKernelRegister) {
    *error = "register " + reg.name + " of a task that is not running cannot be written";
    return false;
  }
  PluginTimer timer(proxy);
  ForgetStopCaches(proxy);
  std::int32_t status = DbgTaskRegisterWrite(proxy->session.get(), kContext, thread, reg.kernel,
                                             static_cast<std::uint32_t>(value));
  if (status == 0 && reg.kernelHigh != kProxyNoKernelRegister) {
    status =
        DbgTaskRegisterWrite(proxy->session.get(), kContext, thread, reg.kernelHigh, value >> 32);
  }
  if (status == kDbgNoAnswer) PluginBroke(proxy);
  if (status != 0) {
    *error = "the kernel keeps no writable copy of " + reg.name + " for this task";
    return false;
  }
  return true;
}

// ---- GDB's packets ----

std::string ErrorText(std::string_view text) {
  return "E." + std::string(text);
}

std::string HandleQSupported(Proxy* proxy, std::string_view gdbFeatures) {
  std::size_t packetSize = kOwnPacketSize;
  std::string extra;
  if (proxy->live && !proxy->negotiated) {
    DrainUnrequested(proxy);
    const Clock::time_point start = Clock::now();
    const RspStatus status = RspRemoteNegotiate(&proxy->remote, gdbFeatures);
    proxy->stats.upstreamMs += MsSince(start);
    if (status != RspStatus::Ok) {
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
    if (features.packet_size != 0) packetSize = std::min(packetSize, features.packet_size);
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

// Serves GDB's own requests while the target runs: 0x03 goes upstream, GDB
// going away ends the wait. False when GDB is gone.
bool ServeWhileRunning(Proxy* proxy) {
  RspRequestKind kind = RspRequestKind::Packet;
  std::string payload;
  const RspStatus status = RspServerReceive(&proxy->gdb, 0, &kind, &payload);
  if (status == RspStatus::Timeout) return true;
  if (status != RspStatus::Ok) return false;
  if (kind == RspRequestKind::Interrupt) {
    Log(*proxy, "interrupt");
    if (RspRemoteInterrupt(&proxy->remote) != RspStatus::Ok) {
      proxy->upstreamOpen = false;
    }
  } else {
    // All-stop GDB sends nothing but 0x03 while the target runs.
    (void)RspServerReply(&proxy->gdb, "E.the target is running");
  }
  return true;
}

// Sends a resume upstream and waits for the stop. *reply is the stop reply
// for GDB (or an error); false when GDB went away meanwhile.
bool ResumeAndWait(Proxy* proxy, const std::string& packet, std::uint64_t stepped,
                   std::string* reply) {
  ForgetStopCaches(proxy);
  proxy->stopped = false;
  if (!proxy->upstreamOpen) {
    *reply = ErrorText(proxy->upstreamError);
    proxy->stopped = true;
    return true;
  }
  Log(*proxy, "resume: " + packet);
  if (RspRemoteResume(&proxy->remote, packet) != RspStatus::Ok) {
    proxy->upstreamError = "target connection: " + RspRemoteError(proxy->remote);
    proxy->upstreamOpen = false;
    *reply = ErrorText(proxy->upstreamError);
    proxy->stopped = true;
    return true;
  }
  for (;;) {
    RspChannel* channels[2] = {&proxy->gdb.channel, &proxy->remote.channel};
    std::size_t ready = 0;
    std::string error;
    const RspStatus waited = RspWaitChannels(channels, 2, -1, &ready, &error);
    if (waited != RspStatus::Ok && waited != RspStatus::Timeout) {
      *reply = ErrorText("waiting for the target: " + error);
      proxy->stopped = true;
      return true;
    }
    if (waited == RspStatus::Timeout) continue;
    if (ready == 0) {
      if (!ServeWhileRunning(proxy)) return false;
      continue;
    }
    std::string stop;
    const RspStatus status = RspRemoteWaitStop(&proxy->remote, 0, &stop);
    if (status == RspStatus::Timeout) continue;
    if (status != RspStatus::Ok) {
      proxy->upstreamError = "target connection: " + std::string(RspStatusText(status)) + ": " +
                             RspRemoteError(proxy->remote);
      proxy->upstreamOpen = false;
      Warn(proxy->upstreamError);
      *reply = ErrorText(proxy->upstreamError);
      proxy->stopped = true;
      return true;
    }
    if (stop.size() > 1 && stop[0] == 'O' && stop != "OK") {
      (void)RspServerReply(&proxy->gdb, stop);  // console output
      continue;
    }
    if (!stop.empty() && (stop[0] == 'W' || stop[0] == 'X')) {
      *reply = stop;
      proxy->stopped = true;
      return true;
    }
    OnStop(proxy, stop, stepped);
    *reply = proxy->stopReply;
    return true;
  }
}

// A resume request of GDB as actions, checked against the snapshot and
// sent upstream as one action for the CPU.
bool HandleResume(Proxy* proxy, const std::vector<ProxyResumeAction>& actions, std::string* reply) {
  const std::string refusal = ProxyCheckResume(proxy->snapshot, actions);
  if (!refusal.empty()) {
    *reply = ErrorText(refusal);
    return true;
  }
  if (!proxy->live) {
    *reply = ErrorText("this is a dump: the target cannot run or step");
    return true;
  }
  // The action that applies to the CPU: the running thread's own, else the
  // default one.
  const ProxyResumeAction* chosen = nullptr;
  for (const ProxyResumeAction& action : actions) {
    const bool mine = action.thread.kind != ProxyThreadRefKind::kThread ||
                      action.thread.id == proxy->snapshot.running;
    if (mine && action.action != 't') {
      chosen = &action;
      break;
    }
  }
  if (chosen == nullptr) {
    *reply = "OK";  // nothing for the CPU to do
    return true;
  }
  std::string packet;
  if (proxy->upstreamVCont) {
    packet = "vCont;" + std::string(1, chosen->action) + chosen->argument;
  } else if (chosen->action == 'r') {
    packet = "s";
  } else {
    packet = std::string(1, chosen->action) + chosen->argument;
  }
  const bool step = chosen->action == 's' || chosen->action == 'S' || chosen->action == 'r';
  return ResumeAndWait(proxy, packet, step ? proxy->snapshot.running : 0, reply);
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
    if (proxy->live && proxy->remote.features.xfer_features && FetchAnnex(proxy, annex, &text)) {
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
  proxy->remote.options.reply_timeout_ms = kUpstreamMonitorReplyMs;
  const bool answered = Upstream(proxy, request, &reply);
  proxy->remote.options.reply_timeout_ms = kUpstreamReplyMs;
  if (!answered) return ErrorText(proxy->upstreamError);
  // Bounded: a stub that writes output for ever cannot keep us.
  for (int round = 0; round < 100000 && reply.size() > 1 && reply[0] == 'O' && reply != "OK";
       ++round) {
    (void)RspServerReply(&proxy->gdb, reply);
    const RspStatus status = RspRemoteWaitStop(&proxy->remote, kUpstreamMonitorReplyMs, &reply);
    if (status != RspStatus::Ok)
      return ErrorText("target connection: " + RspRemoteError(proxy->remote));
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

int Serve(Proxy* proxy) {
  for (;;) {
    RspRequestKind kind = RspRequestKind::Packet;
    std::string request;
    const RspStatus status = RspServerReceive(&proxy->gdb, -1, &kind, &request);
    if (status == RspStatus::Closed) return kProxyExitOk;
    if (status != RspStatus::Ok) {
      if (status == RspStatus::Timeout) continue;
      Warn("GDB link: " + RspServerError(proxy->gdb));
      return kProxyExitFailed;
    }
    if (kind == RspRequestKind::Interrupt) continue;  // the target is stopped already
    ++proxy->stats.gdbPackets;
    proxy->gdbRequest = proxy->stats.gdbPackets;
    std::string reply;
    bool send = true;
    const After after = HandleRequest(proxy, request, &reply, &send);
    if (send && RspServerReply(&proxy->gdb, reply) != RspStatus::Ok) {
      Warn("GDB link: " + RspServerError(proxy->gdb));
      return kProxyExitFailed;
    }
    if (request == "QStartNoAckMode") RspServerSetNoAck(&proxy->gdb, true);
    if (after == After::kExit) return kProxyExitOk;
  }
}

// Names that mark start-up code, which the plug-in's start-up check refuses.
bool LooksLikeStartupCode(const model::TargetModel& model, const model::Symbol& routine) {
  for (const std::string_view word : {"reset", "start", "crt0", "RESET"}) {
    if (routine.name.find(word) != std::string::npos) return true;
  }
  for (const std::string_view section : {"reset", "ROM_reset", "boottext", "ROM_boottext"}) {
    const model::Symbol* begin =
        model::FindSymbol(model.symbols, "__hrxbegin_" + std::string(section));
    const model::Symbol* end = model::FindSymbol(model.symbols, "__hrxend_" + std::string(section));
    if (begin != nullptr && end != nullptr && begin->address <= routine.address &&
        routine.address < end->address) {
      return true;
    }
  }
  return false;
}

// A RAM image carries no registers, but it was taken from a system that ran
// past its start-up code. The plug-in checks that from the current routine,
// so it is told of the lowest routine outside the start-up code; GDB itself
// sees the CPU's registers as unavailable.
std::uint32_t StandInRoutine(const model::TargetModel& model) {
  const model::Symbol* chosen = nullptr;
  for (const model::Symbol& symbol : model.symbols.symbols) {
    if (symbol.kind != model::SymbolKind::kRoutine || symbol.address == 0 ||
        LooksLikeStartupCode(model, symbol)) {
      continue;
    }
    if (chosen == nullptr || symbol.address < chosen->address) chosen = &symbol;
  }
  return chosen != nullptr ? chosen->address : 0;
}

bool StandInRegisterRead(void* context, std::uint32_t number, std::uint32_t* value) {
  const auto* proxy = static_cast<const Proxy*>(context);
  if ((number != model::kRegPc && number != model::kRegLr) || proxy->startRoutine == 0) {
    return false;
  }
  *value = proxy->startRoutine;
  return true;
}

bool StandInRegisterWrite(void*, std::uint32_t, std::uint32_t) {
  return false;
}

// Loads the program and, for a dump, its files.
bool LoadTarget(Proxy* proxy) {
  const ProxyOptions& options = *proxy->options;
  DwarfLoadOptions load;
  load.loadContents = !proxy->live;
  std::string error;
  DwarfLoadSummary summary;
  if (!DwarfLoadImage(options.elfPath, load, &proxy->model, &error, &summary)) {
    Warn("cannot load " + options.elfPath + ": " + error);
    return false;
  }
  Log(*proxy, options.elfPath + ": " + std::to_string(summary.types) + " types, " +
                  std::to_string(summary.variables) + " variables, " +
                  std::to_string(summary.routines) + " routines");
  if (proxy->live) {
    proxy->model.memory.backing =
        model::MemoryBacking{proxy, BackingMemoryRead, BackingMemoryWrite};
    proxy->model.registers.backing =
        model::RegisterBacking{proxy, BackingRegisterRead, BackingRegisterWrite};
    return true;
  }
  if (!options.corePath.empty() && !DumpLoadCore(options.corePath, &proxy->model, &error)) {
    Warn("cannot load the core " + options.corePath + ": " + error);
    return false;
  }
  for (const ProxyRamImage& image : options.ramImages) {
    if (!DumpLoadRaw(image.path, image.address, &proxy->model, &error)) {
      Warn("cannot load the memory image " + image.path + ": " + error);
      return false;
    }
  }
  if (!DumpHasRegisters(proxy->model)) {
    proxy->dumpWithoutRegisters = true;
    proxy->startRoutine = StandInRoutine(proxy->model);
    proxy->model.registers.backing =
        model::RegisterBacking{proxy, StandInRegisterRead, StandInRegisterWrite};
  }
  return true;
}

bool ConnectUpstream(Proxy* proxy) {
  const ProxyOptions& options = *proxy->options;
  RspLink link;
  std::string error;
  const RspStatus status = options.source == ProxySource::kRemote
                               ? RspConnect(options.remote, 10000, &link, &error)
                               : RspStartCommand(options.remote, &link, &error);
  if (status != RspStatus::Ok) {
    Warn("cannot reach the target " + options.remote + ": " + error);
    return false;
  }
  RspRemoteOptions remoteOptions;
  remoteOptions.delay_ms = static_cast<int>(options.probeDelayMs);
  remoteOptions.ack_timeout_ms = kUpstreamAckMs;
  remoteOptions.max_retransmits = kUpstreamRetransmits;
  remoteOptions.reply_timeout_ms = kUpstreamReplyMs;
  RspRemoteInit(std::move(link), remoteOptions, &proxy->remote);
  proxy->remote.channel.trace = options.verbose;
  proxy->remote.channel.trace_name = "target";
  proxy->upstreamOpen = true;
  return true;
}

bool ConnectGdb(Proxy* proxy) {
  const ProxyOptions& options = *proxy->options;
  RspLink link;
  std::string error;
  if (options.listen) {
    RspListener listener;
    if (RspListen(options.listenPort, &listener, &error) != RspStatus::Ok) {
      Warn("cannot listen on 127.0.0.1:" + std::to_string(options.listenPort) + ": " + error);
      return false;
    }
    Warn("waiting for GDB on 127.0.0.1:" + std::to_string(listener.port));
    if (RspAccept(&listener, -1, &link, &error) != RspStatus::Ok) {
      Warn("no GDB connection: " + error);
      return false;
    }
  } else if (RspOpenStdio(&link, &error) != RspStatus::Ok) {
    Warn("cannot use standard input and output: " + error);
    return false;
  }
  RspServerInit(std::move(link), &proxy->gdb);
  proxy->gdb.channel.trace = options.verbose;
  proxy->gdb.channel.trace_name = "gdb";
  return true;
}

void EndPlugin(Proxy* proxy) {
  if (proxy->session == nullptr) return;
  if (proxy->pluginUsable) {
    PluginTimer timer(proxy);
    DbgSession* session = proxy->session.get();
    if (proxy->targetReady) (void)DbgTargetCleanup(session, kContext);
    (void)DbgOsaCleanup(session, kContext);
    std::int32_t code = 0;
    (void)DbgExit(session, &code);
  }
  proxy->stats.pluginRequests = static_cast<std::uint64_t>(proxy->session->nextId - 1);
  proxy->stats.serviceRequests = proxy->session->service.answered;
  (void)DbgSessionClose(proxy->session.get());
}

}  // namespace

std::string ProxyFormatStats(const ProxyStats& stats) {
  const auto line = [](std::string_view name, auto value) {
    return std::string(name) + " " + std::to_string(value) + "\n";
  };
  char ms[64];
  std::string text =
      line("gdb_packets", stats.gdbPackets) + line("upstream_packets", stats.upstreamPackets) +
      line("upstream_bytes_sent", stats.upstreamBytesSent) +
      line("upstream_bytes_received", stats.upstreamBytesReceived) +
      line("plugin_requests", stats.pluginRequests) +
      line("service_requests", stats.serviceRequests) + line("stops", stats.stops) +
      line("cache_hits", stats.cacheHits) + line("cache_fetches", stats.cacheFetches);
  for (const auto& [name, value] : {std::pair<std::string_view, double>{"wall_ms", stats.wallMs},
                                    {"plugin_ms", stats.pluginMs},
                                    {"upstream_ms", stats.upstreamMs}}) {
    std::snprintf(ms, sizeof ms, "%.3f", value);
    text += std::string(name) + " " + ms + "\n";
  }
  return text;
}

int ProxyRun(const ProxyOptions& options, std::string_view selfPath) {
  const Clock::time_point start = Clock::now();
  auto proxy = std::make_unique<Proxy>();
  proxy->options = &options;
  proxy->live = options.source == ProxySource::kRemote || options.source == ProxySource::kRemoteCmd;
  proxy->cache.enabled = options.blockCache;
  proxy->cache.maxFetch = kMaxCacheFetch;
  if (!LoadTarget(proxy.get())) return kProxyExitFailed;
  if (proxy->live && !ConnectUpstream(proxy.get())) return kProxyExitFailed;
  proxy->selfPath = selfPath;
  if (!ConnectGdb(proxy.get())) return kProxyExitFailed;

  const int code = Serve(proxy.get());

  EndPlugin(proxy.get());
  ProxyStats& stats = proxy->stats;
  stats.upstreamPackets = proxy->remote.channel.counters.packets_sent;
  stats.upstreamBytesSent = proxy->remote.channel.counters.bytes_sent;
  stats.upstreamBytesReceived = proxy->remote.channel.counters.bytes_received;
  stats.cacheHits = proxy->cache.hits;
  stats.cacheFetches = proxy->cache.fetches;
  stats.wallMs = MsSince(start);
  if (!options.statsPath.empty()) {
    std::ofstream file(options.statsPath, std::ios::trunc);
    file << ProxyFormatStats(stats);
    if (!file) Warn("cannot write the stats to " + options.statsPath);
  }
  return code;
}
