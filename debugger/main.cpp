// osa_modeldbg: a debugger stand-in that runs the plug-in against a model
// target and prints what the debugger's kernel windows would show.
#include <cstdio>
#include <string>

#include "debugger/front_end.h"

int main(int argc, char** argv) {
  DbgFrontEndOptions options;
  std::string error;
  const char* const program = argc > 0 ? argv[0] : "osa_modeldbg";
  if (!DbgParseCommandLine(argc, argv, &options, &error)) {
    std::fprintf(stderr, "osa_modeldbg: %s\n%s", error.c_str(), DbgFrontEndUsage(program).c_str());
    return kDbgExitUsage;
  }
  if (options.help) {
    std::fputs(DbgFrontEndUsage(program).c_str(), stdout);
    return kDbgExitOk;
  }
  std::string out;
  std::string err;
  const int code = DbgFrontEndRun(options, &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return code;
}
