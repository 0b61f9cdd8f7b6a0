// Run control: the stops of the target (the snapshot taken again and the
// stop reply rewritten), resuming and stepping upstream, and GDB's
// interrupts while the target runs.
#include <string>
#include <vector>

#include "proxy/proxy_state.h"
#include "proxy/replies.h"
#include "rsp/channel.h"

namespace gdbproxy {

namespace {

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

}  // namespace

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

namespace {

// Serves GDB's own requests while the target runs: 0x03 goes upstream, GDB
// going away ends the wait. False when GDB is gone.
bool ServeWhileRunning(Proxy* proxy) {
  RspRequestKind kind = RspRequestKind::kPacket;
  std::string payload;
  const RspStatus status = RspServerReceive(&proxy->gdb, 0, &kind, &payload);
  if (status == RspStatus::kTimeout) return true;
  if (status != RspStatus::kOk) return false;
  if (kind == RspRequestKind::kInterrupt) {
    Log(*proxy, "interrupt");
    if (RspRemoteInterrupt(&proxy->remote) != RspStatus::kOk) {
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
  if (RspRemoteResume(&proxy->remote, packet) != RspStatus::kOk) {
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
    if (waited != RspStatus::kOk && waited != RspStatus::kTimeout) {
      *reply = ErrorText("waiting for the target: " + error);
      proxy->stopped = true;
      return true;
    }
    if (waited == RspStatus::kTimeout) continue;
    if (ready == 0) {
      if (!ServeWhileRunning(proxy)) return false;
      continue;
    }
    std::string stop;
    const RspStatus status = RspRemoteWaitStop(&proxy->remote, 0, &stop);
    if (status == RspStatus::kTimeout) continue;
    if (status != RspStatus::kOk) {
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

}  // namespace

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
}  // namespace gdbproxy
