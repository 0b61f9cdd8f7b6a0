// osa_gdbproxy: a gdb-remote server between GDB and a real gdbserver (or dump
// files) that shows the kernel's tasks as threads. It answers the plug-in's
// service requests from the program's DWARF and the target's memory and
// registers (read through a per-stop block cache), takes the task list at
// every stop, serves the thread packets from it, and passes everything else
// through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "proxy/options.h"

// Exit codes of a run.
inline constexpr int kProxyExitOk = 0;      // GDB detached, killed or went away
inline constexpr int kProxyExitUsage = 1;   // a command-line error
inline constexpr int kProxyExitFailed = 2;  // the program, dumps, target or GDB link failed

// What one run counted, written to --stats FILE as "name value" lines.
struct ProxyStats {
  std::uint64_t gdbPackets = 0;       // requests from GDB
  std::uint64_t upstreamPackets = 0;  // packets sent to the gdbserver (retransmits included)
  std::uint64_t upstreamBytesSent = 0;
  std::uint64_t upstreamBytesReceived = 0;
  std::uint64_t pluginRequests = 0;   // OSA_Client_* requests sent
  std::uint64_t serviceRequests = 0;  // OSA_Service_* requests answered
  std::uint64_t stops = 0;            // stops that refreshed the thread list
  std::uint64_t cacheHits = 0;        // memory reads answered from the block cache
  std::uint64_t cacheFetches = 0;     // upstream memory reads the cache made
  double wallMs = 0;                  // the whole run
  double pluginMs = 0;                // inside requests to the plug-in
  double upstreamMs = 0;              // waiting for the gdbserver's replies
};

// The stats as "name value" lines.
std::string ProxyFormatStats(const ProxyStats& stats);

// Runs the proxy until GDB goes away; diagnostics go to standard error.
// `selfPath` (argv[0]) locates the plug-in beside the proxy.
int ProxyRun(const ProxyOptions& options, std::string_view selfPath);
