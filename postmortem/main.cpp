// osa_postmortem: the kernel windows of a stopped target from its program's
// ELF file and a dump, with no debugger and no target.
#include <cstdio>
#include <string>

#include "debugger/front_end.h"
#include "postmortem/postmortem.h"

int main(int argc, char** argv) {
  PmOptions options;
  std::string error;
  const char* const program = argc > 0 ? argv[0] : "osa_postmortem";
  if (!PmParseCommandLine(argc, argv, &options, &error)) {
    std::fprintf(stderr, "osa_postmortem: %s\n%s", error.c_str(), PmUsage(program).c_str());
    return kDbgExitUsage;
  }
  if (options.help) {
    std::fputs(PmUsage(program).c_str(), stdout);
    return kDbgExitOk;
  }
  std::string out;
  std::string err;
  const int code = PmRun(options, &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return code;
}
