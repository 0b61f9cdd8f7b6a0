// osa_gdbproxy's process entry: the command line, then one run.
#include <cstdio>
#include <string>

#include "proxy/gdb_proxy.h"
#include "proxy/options.h"

int main(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "osa_gdbproxy";
  ProxyOptions options;
  std::string error;
  if (!ProxyParseCommandLine(argc, argv, &options, &error)) {
    std::fprintf(stderr, "osa_gdbproxy: %s\n%s", error.c_str(), ProxyUsage(program).c_str());
    return kProxyExitUsage;
  }
  if (options.help) {
    std::fputs(ProxyUsage(program).c_str(), stdout);
    return kProxyExitOk;
  }
  return ProxyRun(options, program);
}
