// The plug-in conversation of the proxy: starting the plug-in and its
// session, readying the kernel at each stop, the per-stop thread snapshot
// taken from the kernel's task list, and the session's end.
#include <string>
#include <utility>
#include <vector>

#include "debugger/client_calls.h"
#include "proxy/proxy_state.h"
#include "rsp/packet.h"

namespace {

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
// Every wait for the plug-in is bounded by this: GDB gives up on a reply
// after about six seconds, so a plug-in that hangs must be noticed sooner.
constexpr std::chrono::milliseconds kPluginTimeout{4000};

}  // namespace

namespace gdbproxy {

void PluginBroke(Proxy* proxy) {
  if (!proxy->pluginUsable) return;
  proxy->pluginUsable = false;
  proxy->targetReady = false;
  proxy->pluginProblem = "the plug-in failed: " + proxy->session->lastError;
  Warn(proxy->pluginProblem + "; only the CPU is shown from now on");
}

bool StartPlugin(Proxy* proxy) {
  DbgSessionOptions options;
  options.transport = DbgTransport::kPipe;
  options.expressionMemo = true;  // types and symbols come from the ELF once
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

namespace {

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

}  // namespace

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
}  // namespace gdbproxy
