// A debugger's full refresh of the 32-task model kernel (every task and every
// other object with all their attributes as text) against the osa_plugin
// executable over real pipes, and in-process, where no pipe is involved at
// all. Counters: client requests per second, service round trips per
// attribute, and the child's own CPU time per message it handled, read with
// getrusage(RUSAGE_CHILDREN) once it has been reaped. The pipe runs come
// placed by the scheduler and with the child kept on the debugger's CPU,
// since a wake-up on another CPU can cost more than the plug-in's own work;
// a third run turns the plug-in's cache of target reads on ("cache on") to
// count the round trips it saves (a plug-in without the cache answers the
// command and asks as often as ever: counter cache_on 0). The last benchmark
// keeps the plug-in and a child that only copies messages back (cat) alive
// side by side and takes turns, a refresh and then the same messages echoed
// through the same kind of pipes, so that the pipe's share of a refresh
// shows and both sides meet the same conditions on a shared machine.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/plugin_process.h"
#include "debugger/session.h"
#include "model/kernel_builder.h"
#include "simple_json/json_value.h"
#include "tools/debugger_script.h"

namespace {

constexpr std::string_view kVariant = "v1-mask-core-32";
constexpr std::string_view kEchoPath = "/bin/cat";
constexpr std::chrono::milliseconds kTimeout{30'000};

// While it lives, this process and the children it starts run on the CPU it
// was made on, so that a pipe round trip wakes no other CPU; with
// `active` false it changes nothing. Argument 1 of the pipe benchmarks.
struct SameCpu {
  cpu_set_t saved{};
  bool pinned = false;

  explicit SameCpu(bool active) {
    if (!active || sched_getaffinity(0, sizeof saved, &saved) != 0) return;
    const int cpu = sched_getcpu();
    if (cpu < 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pinned = sched_setaffinity(0, sizeof one, &one) == 0;
  }
  SameCpu(const SameCpu&) = delete;
  SameCpu& operator=(const SameCpu&) = delete;
  ~SameCpu() {
    if (pinned) (void)sched_setaffinity(0, sizeof saved, &saved);
  }
};

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Sends "cache on" and tells whether the plug-in took it (its result carries
// "cache"); false with *error when no answer came.
bool TurnCacheOn(DbgSession* session, bool* understood, std::string* error) {
  JsonPtr result;
  if (DbgOsaCmdExecute(session, kScriptContext, "cache on", &result) == kDbgNoAnswer) {
    *error = "no answer to \"cache on\": " + session->lastError;
    return false;
  }
  const JsonValue* state = nullptr;
  *understood = JsonObjectGet(result.get(), "cache", &state);
  return true;
}

// A session with OsaInit and TargetInit done, ready for refreshes.
bool OpenReadySession(DbgTransport transport, bool record, model::TargetModel* target,
                      std::unique_ptr<DbgSession>* session, std::string* error) {
  if (!model::BuildKernelModel(kVariant, target, error)) return false;
  DbgSessionOptions options;
  options.transport = transport;
  options.pluginPath = OSA_PLUGIN_PATH;
  options.timeout = kTimeout;
  options.record = record;
  options.expressionMemo = true;
  if (!DbgSessionOpen(options, target, session, error)) return false;
  DbgOsaInitAnswer init;
  DbgTargetInitAnswer answer;
  if (DbgOsaInit(session->get(), kScriptContext, &init) != 0 ||
      DbgTargetInit(session->get(), kScriptContext, target->manifest.bigEndian, &answer) != 0) {
    *error = "OsaInit or TargetInit failed: " + (*session)->lastError;
    return false;
  }
  return true;
}

// Ends the conversation (TargetCleanup, OsaCleanup, Exit), so that an
// in-process plug-in is left as it was found; the plug-in's exit code, or -1.
int CloseSession(DbgSession* session) {
  (void)DbgTargetCleanup(session, kScriptContext);
  (void)DbgOsaCleanup(session, kScriptContext);
  std::int32_t exitCode = 0;
  (void)DbgExit(session, &exitCode);
  return DbgSessionClose(session);
}

void FullRefresh(benchmark::State& state, DbgTransport transport) {
  const SameCpu sameCpu(state.range(0) != 0);
  const bool cache = state.range(1) != 0;
  const double cpuBefore = ChildrenCpuSeconds();
  model::TargetModel target;
  std::unique_ptr<DbgSession> session;
  std::string error;
  bool cacheOn = false;
  if (!OpenReadySession(transport, false, &target, &session, &error) ||
      (cache && !TurnCacheOn(session.get(), &cacheOn, &error))) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::int64_t requestsBefore = session->nextId;
  const std::uint64_t serviceBefore = session->service.answered;
  ScriptCounts counts;
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!ScriptRefresh(session.get(), &counts, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  const std::chrono::duration<double, std::micro> wall = std::chrono::steady_clock::now() - started;
  const auto iterations = static_cast<double>(state.iterations());
  const auto requests = static_cast<double>(session->nextId - requestsBefore);
  const auto service = static_cast<double>(session->service.answered - serviceBefore);
  // Every message the plug-in read over its life: client requests (from id 1)
  // and answers to its own service requests, set-up and Exit included.
  const auto messagesHandled =
      static_cast<double>(session->nextId) + static_cast<double>(session->service.answered);
  const int exitCode = CloseSession(session.get());
  if (transport == DbgTransport::kPipe && exitCode != 0) {
    state.SkipWithError("the plug-in did not end with exit code 0");
    return;
  }
  using benchmark::Counter;
  state.counters["client_req_per_s"] = Counter(requests, Counter::kIsRate);
  if (cache) state.counters["cache_on"] = cacheOn ? 1.0 : 0.0;
  state.counters["client_req_per_refresh"] = requests / iterations;
  state.counters["service_rt_per_refresh"] = service / iterations;
  // Round trips of the attribute requests alone, and of the whole refresh
  // (walk cursors and the halt notice included) spread over its attributes.
  const auto attributes = static_cast<double>(counts.attributes);
  state.counters["service_rt_per_attr"] =
      attributes == 0 ? 0.0 : static_cast<double>(counts.attributeServiceRoundTrips) / attributes;
  state.counters["service_rt_all_per_attr"] = attributes == 0 ? 0.0 : service / attributes;
  state.counters["attrs_per_refresh"] = static_cast<double>(counts.attributes) / iterations;
  state.counters["objects_per_refresh"] = static_cast<double>(counts.objects) / iterations;
  // Wall time of one message exchange: the refresh time spread over its
  // client and service round trips.
  state.counters["round_trip_us"] =
      requests + service == 0 ? 0.0 : wall.count() / (requests + service);
  if (transport == DbgTransport::kPipe) {
    state.counters["plugin_cpu_us_per_msg"] =
        (ChildrenCpuSeconds() - cpuBefore) * 1e6 / messagesHandled;
  }
}

void BM_FullRefreshPipe(benchmark::State& state) {
  FullRefresh(state, DbgTransport::kPipe);
}
void BM_FullRefreshInProcess(benchmark::State& state) {
  FullRefresh(state, DbgTransport::kInProcess);
}

// The debugger's messages of one refresh, as a recording of it sent them.
bool RefreshMessages(std::vector<std::string>* messages, std::string* error) {
  model::TargetModel target;
  std::unique_ptr<DbgSession> session;
  if (!OpenReadySession(DbgTransport::kPipe, true, &target, &session, error)) return false;
  session->record.clear();
  ScriptCounts counts;
  const bool refreshed = ScriptRefresh(session.get(), &counts, error);
  const std::string record = session->record;
  (void)CloseSession(session.get());
  if (!refreshed) return false;
  constexpr std::string_view kTag = "VEXLO: ";
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    const std::string_view line(record.data() + start, end - start);
    if (line.starts_with(kTag)) messages->emplace_back(line.substr(kTag.size()));
    start = end + 1;
  }
  return true;
}

// CPU time a live child has used so far, in seconds; 0 when it cannot be read.
double ChildCpuSeconds(pid_t pid) {
  clockid_t clock = 0;
  timespec used{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0) return 0.0;
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

// Each iteration is one refresh through the plug-in and then the same
// messages echoed by cat, both children kept alive throughout; the CPU of
// each comes from its own clock, the wall time of each turn from ours. A
// slow spell of the machine thus weighs on both sides alike.
void BM_RefreshBesideEcho(benchmark::State& state) {
  std::vector<std::string> messages;
  std::string error;
  if (!RefreshMessages(&messages, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const SameCpu sameCpu(state.range(0) != 0);
  model::TargetModel target;
  std::unique_ptr<DbgSession> session;
  DbgPluginProcess echo;
  if (!OpenReadySession(DbgTransport::kPipe, false, &target, &session, &error) ||
      !DbgPluginStart(std::string(kEchoPath), {}, &echo, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const pid_t pluginPid = session->process.running.child.Pid();
  const pid_t echoPid = echo.running.child.Pid();
  double pluginCpu = 0;
  double echoCpu = 0;
  std::chrono::duration<double, std::micro> refreshWall{0};
  std::chrono::duration<double, std::micro> echoWall{0};
  double pluginMessages = 0;
  double echoRoundTrips = 0;
  ScriptCounts counts;
  std::string back;
  for (auto _ : state) {
    const std::int64_t requestsBefore = session->nextId;
    const std::uint64_t serviceBefore = session->service.answered;
    const double pluginBefore = ChildCpuSeconds(pluginPid);
    const auto refreshStart = std::chrono::steady_clock::now();
    if (!ScriptRefresh(session.get(), &counts, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    const auto echoStart = std::chrono::steady_clock::now();
    pluginCpu += ChildCpuSeconds(pluginPid) - pluginBefore;
    refreshWall += echoStart - refreshStart;
    pluginMessages += static_cast<double>(session->nextId - requestsBefore) +
                      static_cast<double>(session->service.answered - serviceBefore);
    const double echoBefore = ChildCpuSeconds(echoPid);
    for (const std::string& message : messages) {
      if (DbgPluginSend(&echo, message, kTimeout) != DbgIoStatus::kOk ||
          DbgPluginReceive(&echo, &back, kTimeout) != DbgIoStatus::kOk || back != message) {
        state.SkipWithError("the echo child lost a message");
        return;
      }
    }
    echoWall += std::chrono::steady_clock::now() - echoStart;
    echoCpu += ChildCpuSeconds(echoPid) - echoBefore;
    echoRoundTrips += static_cast<double>(messages.size());
  }
  (void)DbgPluginFinish(&echo, kTimeout);
  (void)CloseSession(session.get());
  if (pluginMessages == 0 || echoRoundTrips == 0) return;
  state.counters["plugin_cpu_us_per_msg"] = pluginCpu * 1e6 / pluginMessages;
  state.counters["echo_cpu_us_per_msg"] = echoCpu * 1e6 / echoRoundTrips;
  state.counters["refresh_us_per_msg"] = refreshWall.count() / pluginMessages;
  state.counters["echo_us_per_msg"] = echoWall.count() / echoRoundTrips;
  // The two ratios the project tracks, taken within this run.
  state.counters["cpu_ratio"] =
      echoCpu == 0 ? 0.0 : (pluginCpu / pluginMessages) / (echoCpu / echoRoundTrips);
  state.counters["rate_ratio"] =
      (echoWall.count() / echoRoundTrips) / (refreshWall.count() / pluginMessages);
}

// Argument same_cpu: 0 lets the scheduler place the plug-in, 1 keeps it on
// the debugger's CPU (the difference is the cost of cross-CPU wake-ups).
// Argument cache: 1 turns the plug-in's cache on after TargetInit.
BENCHMARK(BM_FullRefreshPipe)
    ->ArgNames({"same_cpu", "cache"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_RefreshBesideEcho)
    ->ArgName("same_cpu")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FullRefreshInProcess)
    ->ArgNames({"same_cpu", "cache"})
    ->Args({0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
