// The proxy's run: the program and dumps loaded into a model target, the
// connections to the upstream gdbserver and to GDB, the loop that answers
// GDB (gdb_requests.cpp) and the stats of the run (see gdb_proxy.h).
#include "proxy/gdb_proxy.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "dwarf/elf_image.h"
#include "proxy/proxy_state.h"
#include "rsp/link.h"

namespace gdbproxy {
namespace {

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
    UseLiveBackings(proxy);
    return true;
  }
  return LoadDumps(proxy);
}

bool ConnectUpstream(Proxy* proxy) {
  const ProxyOptions& options = *proxy->options;
  RspLink link;
  std::string error;
  const RspStatus status = options.source == ProxySource::kRemote
                               ? RspConnect(options.remote, 10000, &link, &error)
                               : RspStartCommand(options.remote, &link, &error);
  if (status != RspStatus::kOk) {
    Warn("cannot reach the target " + options.remote + ": " + error);
    return false;
  }
  RspRemoteOptions remoteOptions;
  remoteOptions.delayMs = static_cast<int>(options.probeDelayMs);
  remoteOptions.ackTimeoutMs = kUpstreamAckMs;
  remoteOptions.maxRetransmits = kUpstreamRetransmits;
  remoteOptions.replyTimeoutMs = kUpstreamReplyMs;
  RspRemoteInit(std::move(link), remoteOptions, &proxy->remote);
  proxy->remote.channel.trace = options.verbose;
  proxy->remote.channel.traceName = "target";
  proxy->upstreamOpen = true;
  return true;
}

bool ConnectGdb(Proxy* proxy) {
  const ProxyOptions& options = *proxy->options;
  RspLink link;
  std::string error;
  if (options.listen) {
    RspListener listener;
    if (RspListen(options.listenPort, &listener, &error) != RspStatus::kOk) {
      Warn("cannot listen on 127.0.0.1:" + std::to_string(options.listenPort) + ": " + error);
      return false;
    }
    Warn("waiting for GDB on 127.0.0.1:" + std::to_string(listener.port));
    if (RspAccept(&listener, -1, &link, &error) != RspStatus::kOk) {
      Warn("no GDB connection: " + error);
      return false;
    }
  } else if (RspOpenStdio(&link, &error) != RspStatus::kOk) {
    Warn("cannot use standard input and output: " + error);
    return false;
  }
  RspServerInit(std::move(link), &proxy->gdb);
  proxy->gdb.channel.trace = options.verbose;
  proxy->gdb.channel.traceName = "gdb";
  return true;
}

}  // namespace
}  // namespace gdbproxy

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
  using gdbproxy::Clock;
  const Clock::time_point start = Clock::now();
  auto proxy = std::make_unique<gdbproxy::Proxy>();
  proxy->options = &options;
  proxy->live = options.source == ProxySource::kRemote || options.source == ProxySource::kRemoteCmd;
  proxy->cache.enabled = options.blockCache;
  proxy->cache.maxFetch = gdbproxy::kMaxCacheFetch;
  if (!gdbproxy::LoadTarget(proxy.get())) return kProxyExitFailed;
  if (proxy->live && !gdbproxy::ConnectUpstream(proxy.get())) return kProxyExitFailed;
  proxy->selfPath = selfPath;
  if (!gdbproxy::ConnectGdb(proxy.get())) return kProxyExitFailed;

  const int code = gdbproxy::Serve(proxy.get());

  gdbproxy::EndPlugin(proxy.get());
  ProxyStats& stats = proxy->stats;
  stats.upstreamPackets = proxy->remote.channel.counters.packetsSent;
  stats.upstreamBytesSent = proxy->remote.channel.counters.bytesSent;
  stats.upstreamBytesReceived = proxy->remote.channel.counters.bytesReceived;
  stats.cacheHits = proxy->cache.hits;
  stats.cacheFetches = proxy->cache.fetches;
  stats.wallMs = gdbproxy::MsSince(start);
  if (!options.statsPath.empty()) {
    std::ofstream file(options.statsPath, std::ios::trunc);
    file << ProxyFormatStats(stats);
    if (!file) gdbproxy::Warn("cannot write the stats to " + options.statsPath);
  }
  return code;
}
