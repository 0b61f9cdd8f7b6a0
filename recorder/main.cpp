// osa_record: sits between a debugger and the plug-in, passes their
// conversation on unchanged and writes it as a record file that the plug-in
// replays with "-file".
//
//   osa_record -o FILE -- COMMAND [ARGS...]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "process/child.h"
#include "recorder/relay.h"

namespace {

constexpr int kUsageError = 2;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

int Usage(const char* program) {
  std::fprintf(stderr, "usage: %s -o FILE -- COMMAND [ARGS...]\n", program);
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "osa_record";
  if (argc < 4 || std::strcmp(argv[1], "-o") != 0) return Usage(program);
  const char* recordName = argv[2];
  int first = 3;
  if (std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc) return Usage(program);

  // A debugger or child that goes away must show as a failed write.
  std::signal(SIGPIPE, SIG_IGN);
  const std::unique_ptr<std::FILE, FileCloser> record(std::fopen(recordName, "wb"));
  if (record == nullptr) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", program, recordName, std::strerror(errno));
    return kUsageError;
  }
  ProcCommand command;
  command.argv.assign(argv + first, argv + argc);
  command.searchPath = true;
  ProcRunning child;
  std::string error;
  if (ProcStart(command, &child, &error) != ProcStatus::kOk) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return 127;
  }
  const int exitCode = RelayRun(&child, 0, 1, record.get());
  if (std::ferror(record.get()) != 0) {
    std::fprintf(stderr, "%s: writing %s failed; the record is incomplete\n", program, recordName);
  }
  return exitCode;
}
