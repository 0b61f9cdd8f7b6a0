// osa_postmortem's command line and run: a model target built from a
// program's ELF file and a dump of its stopped target (an ELF core file or
// raw memory images), a session with the plug-in over it, and the kernel
// windows a debugger would show, with no debugger and no target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "debugger/session.h"

struct PmOptions {
  std::string elfPath;
  std::string corePath;                // empty: none
  std::vector<std::string> rawImages;  // "FILE@ADDRESS", in command-line order
  std::vector<std::string> registers;  // "NAME=VALUE", known by other means than the dump
  DbgTransport transport = DbgTransport::kInProcess;
  std::string pluginPath;  // with kPipe
  std::string recordPath;  // empty: no record
  bool help = false;
};

// The usage text, with the program name.
std::string PmUsage(std::string_view program);

// Reads "--elf FILE", "--core FILE", "--ram FILE@ADDRESS" (repeatable),
// "--register NAME=VALUE" (repeatable), "--plugin PATH", "--in-process",
// "--record FILE" and "--help". False with a
// reason in *error for an unknown option, a missing value, no --elf, neither
// --core nor --ram, a --ram value that is not FILE@ADDRESS, or both --plugin
// and --in-process.
[[nodiscard]] bool PmParseCommandLine(int argc, const char* const* argv, PmOptions* options,
                                      std::string* error);

// Exit codes of a run beyond those of the model debugger (front_end.h).
inline constexpr int kPmExitLoad = 4;  // the ELF file or a dump could not be loaded

// Loads the files, converses with the plug-in and renders its windows into
// *out; diagnostics go to *err. Returns an exit code.
int PmRun(const PmOptions& options, std::string* out, std::string* err);
