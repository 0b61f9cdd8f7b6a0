// The tasks GDB sees as threads: a snapshot taken at each stop (the running
// task first) and the texts of the thread packets answered from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The id of the one thread shown when no task list can be had (the kernel
// has not started, or the plug-in refuses): the live CPU.
inline constexpr std::uint64_t kProxyCpuThread = 1;

struct ProxyThread {
  std::uint64_t id = 0;  // the task's address: stable across stops
  std::string name;      // the task's name ("" when unknown)
  std::string state;     // "Running", "Suspended (queue)", ... ("" when unknown)
  std::string pendedOn;  // the object the task waits on ("" when none)
};

struct ProxyThreadSnapshot {
  // True when the threads are the kernel's tasks; false: one CPU thread.
  bool tasks = false;
  std::vector<ProxyThread> threads;  // the running thread first
  std::uint64_t running = kProxyCpuThread;
  std::string why;  // without tasks: why there are none, for the CPU thread's text
};

// The one-thread snapshot of the live CPU, its text saying `why`.
ProxyThreadSnapshot ProxyCpuSnapshot(std::string_view why);

// Orders tasks for GDB: the running task first, the rest as listed; a
// running task missing from the list is added in front under its id. Ids 0
// and duplicates are dropped (GDB cannot tell them apart).
ProxyThreadSnapshot ProxyTaskSnapshot(std::vector<ProxyThread> tasks, std::uint64_t running);

// The thread whose id is `id`, or nullptr.
const ProxyThread* ProxyFindThread(const ProxyThreadSnapshot& snapshot, std::uint64_t id);

// The text GDB shows beside a thread: the state, and the object waited on
// ("Suspended (queue) on fp_queue").
std::string ProxyThreadText(const ProxyThread& thread);

// The qXfer:threads:read document: <threads> with one <thread id name> per
// thread and its text as content, XML-escaped.
std::string ProxyThreadsXml(const ProxyThreadSnapshot& snapshot);

// The qfThreadInfo reply: "m" and every id in hex, comma-separated.
std::string ProxyThreadInfoReply(const ProxyThreadSnapshot& snapshot);

// One slice of a qXfer document: "m" + bytes when more follow, "l" + bytes
// at the end ("l" alone past the end).
std::string ProxyXferSlice(std::string_view document, std::uint64_t offset, std::uint64_t length);

// Reads "ANNEX:OFFSET,LENGTH" of a qXfer read request (the part after
// "qXfer:OBJECT:read:"). False when it is malformed.
[[nodiscard]] bool ProxyParseXferRead(std::string_view request, std::string* annex,
                                      std::uint64_t* offset, std::uint64_t* length);

// What a thread argument (Hg, Hc, T, vCont action, qThreadExtraInfo) names.
enum class ProxyThreadRefKind : unsigned char { kAll, kAny, kThread };
struct ProxyThreadRef {
  ProxyThreadRefKind kind = ProxyThreadRefKind::kAny;
  std::uint64_t id = 0;  // kThread
};

// Parses "-1", "0", hex and the multiprocess forms "pPID.TID" / "pPID"
// (the process part is ignored: there is one). False when malformed.
[[nodiscard]] bool ProxyParseThreadRef(std::string_view text, ProxyThreadRef* ref);

// One action of a vCont packet: 'c', 's', 'C', 'S', 't' or 'r' with its
// thread (kAll when none is given).
struct ProxyResumeAction {
  char action = 'c';
  std::string argument;  // the signal of C/S, the range of r
  ProxyThreadRef thread;
};

// Parses the part after "vCont;" into its actions. False when malformed.
[[nodiscard]] bool ProxyParseVCont(std::string_view actions,
                                   std::vector<ProxyResumeAction>* parsed);

// How a resume request fits the snapshot: whether it asks a thread that is
// not running to step or to run alone. Returns "" when the request can go
// upstream, else the error text to send back.
std::string ProxyCheckResume(const ProxyThreadSnapshot& snapshot,
                             const std::vector<ProxyResumeAction>& actions);

// Rewrites an upstream stop reply to name `thread`: "S05" becomes
// "T05thread:ID;", a "T" reply gets its thread: field replaced (or added).
// Exit replies (W, X) and anything else come back unchanged.
std::string ProxyRewriteStopReply(std::string_view reply, std::uint64_t thread);
