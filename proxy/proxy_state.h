// The record of one proxy run (the upstream link, the caches of one stop,
// the target description, the GDB link, the plug-in session and the thread
// snapshot), the helpers its parts share, and the functions each part
// offers the others. Internal to osa_proxy.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/session.h"
#include "model/target_model.h"
#include "proxy/block_cache.h"
#include "proxy/gdb_proxy.h"
#include "proxy/options.h"
#include "proxy/registers.h"
#include "proxy/threads.h"
#include "rsp/remote_client.h"
#include "rsp/server.h"

namespace gdbproxy {

using Clock = std::chrono::steady_clock;

// The service context the proxy opens with the plug-in.
inline constexpr std::int64_t kContext = 1;
// GDB waits about two seconds for each reply (its remote timeout): an
// upstream that falls silent must fail the request within that, or GDB
// takes the late answer as the reply to its next request.
inline constexpr int kUpstreamAckMs = 900;
inline constexpr int kUpstreamRetransmits = 1;
inline constexpr int kUpstreamReplyMs = 1500;
// Reads that the block cache makes at most in one 'm'.
inline constexpr std::uint32_t kMaxCacheFetch = 0x800;

inline double MsSince(Clock::time_point start) {
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

inline void Log(const Proxy& proxy, const std::string& text) {
  if (proxy.options->verbose) std::fprintf(stderr, "osa_gdbproxy: %s\n", text.c_str());
}

inline void Warn(const std::string& text) {
  std::fprintf(stderr, "osa_gdbproxy: %s\n", text.c_str());
}

// An error reply GDB shows as text.
inline std::string ErrorText(std::string_view text) {
  return "E." + std::string(text);
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

// ---- The live target behind the upstream (live_target.cpp) ----

// Drops packets the stub sent before it was asked anything.
void DrainUnrequested(Proxy* proxy);
// One request and its reply. False (with upstreamError) when the exchange
// failed; a link that closed or broke is not used again.
[[nodiscard]] bool Upstream(Proxy* proxy, std::string_view request, std::string* reply);
// Forgets the block cache and the registers of the current stop.
void ForgetStopCaches(Proxy* proxy);
// One register of the live CPU as hex.
[[nodiscard]] bool LiveRegisterHex(Proxy* proxy, const ProxyRegister& reg, std::string* hex);
// Writes one description register of the live CPU.
[[nodiscard]] bool WriteLiveDescriptionRegister(Proxy* proxy, const ProxyRegister& reg,
                                                const std::string& hex);
// The hex of a register value in the target's byte order.
std::string RegisterValueHex(const ProxyRegisterLayout& layout, const ProxyRegister& reg,
                             std::uint64_t value);
// Points the model's memory and registers at the upstream.
void UseLiveBackings(Proxy* proxy);
// Reads a whole description document from the upstream.
[[nodiscard]] bool FetchAnnex(Proxy* proxy, std::string_view annex, std::string* text);
// Fills the layout from the upstream's description or the built-in one.
void EnsureDescription(Proxy* proxy);

// ---- The plug-in and the thread snapshot (plugin_link.cpp) ----

// Marks the plug-in unusable after a failed exchange.
void PluginBroke(Proxy* proxy);
// Starts the plug-in and opens its session; false (with pluginProblem) when
// it cannot offer kernel awareness.
bool StartPlugin(Proxy* proxy);
// Takes the task list and the running task from the plug-in.
void RefreshThreads(Proxy* proxy);
// Ends the plug-in session and counts its requests into the stats.
void EndPlugin(Proxy* proxy);

// ---- Registers of threads (thread_registers.cpp) ----

// The thread a register packet means (Hg).
[[nodiscard]] std::uint64_t RegisterThread(const Proxy& proxy);
// Whether `thread` stands for the CPU itself.
[[nodiscard]] bool ThreadIsCpu(const Proxy& proxy, std::uint64_t thread);
// One register of a blocked task as hex.
std::string TaskRegisterHex(Proxy* proxy, std::uint64_t thread, const ProxyRegister& reg);
// The register data of a thread as hex.
[[nodiscard]] bool ThreadRegistersHex(Proxy* proxy, std::uint64_t thread, bool gOnly,
                                      std::string* hex);
// Writes one description register of a thread.
[[nodiscard]] bool WriteThreadRegister(Proxy* proxy, std::uint64_t thread, const ProxyRegister& reg,
                                       std::uint64_t value, std::string* error);

// ---- Stops, resuming and stepping (run_control.cpp) ----

// Makes sure the first stop was taken.
void EnsureStopped(Proxy* proxy);
// A resume request of GDB; false when GDB went away meanwhile.
[[nodiscard]] bool HandleResume(Proxy* proxy, const std::vector<ProxyResumeAction>& actions,
                                std::string* reply);

// ---- GDB's requests (gdb_requests.cpp) ----

// Answers GDB's requests until it goes away; the run's exit code.
int Serve(Proxy* proxy);

// ---- Dumps (dump_target.cpp) ----

// Loads the dump files into the model, with stand-in registers for a dump
// that carries none.
[[nodiscard]] bool LoadDumps(Proxy* proxy);

}  // namespace gdbproxy
