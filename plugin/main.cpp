// Process entry of the plug-in: joins the kernel to the interface, runs the
// whole process on a thread with a large stack and turns a closed standard
// output into a failed write.
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "kernel/registration.h"
#include "osa/plugin_api.h"
#include "plugin/nesting.h"
#include "plugin/process_entry.h"

namespace {

constexpr int kSmallStackExchangeDepth = 32;

struct EntryCall {
  int argc;
  const char* const* argv;
  std::int32_t result;
};

void RunEntry(void* pointer) {
  EntryCall* call = static_cast<EntryCall*>(pointer);
  call->result = OsaProcessEntry(call->argc, call->argv);
}

}  // namespace

int main(int argc, char** argv) {
  // A debugger that went away must make the write fail (exit 3), not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  OsaSetCallbackRegistrar(RegisterKernelCallbacks);
  EntryCall call{argc, argv, 0};
  if (!OsaRunOnLargeStack(RunEntry, &call)) {
    // The main thread's stack holds far fewer 64 KiB receive buffers.
    std::fputs("OSA plugin: no thread with a large stack; nested requests limited to 32 levels\n",
               stderr);
    OsaLimitExchangeDepth(kSmallStackExchangeDepth);
    RunEntry(&call);
  }
  return call.result;
}
