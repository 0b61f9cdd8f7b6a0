// The model debugger's front end: its command line and one run, which
// builds a kernel variant into a model target, opens a session with the
// plug-in and prints what a debugger's kernel windows would show.
#pragma once

#include <string>
#include <string_view>

#include "debugger/session.h"

// The variant a run uses unless told otherwise: version 1, 32 tasks.
inline constexpr std::string_view kDbgDefaultVariant = "v1-mask-core-32";

struct DbgFrontEndOptions {
  std::string variant{kDbgDefaultVariant};
  DbgTransport transport = DbgTransport::kInProcess;
  std::string pluginPath;  // with kPipe
  std::string recordPath;  // empty: no record
  bool cache = true;       // turn the plug-in's cache on after TargetInit
  bool listVariants = false;
  bool help = false;
};

// The usage text, with the program name.
std::string DbgFrontEndUsage(std::string_view program);

// Reads "--variant NAME", "--plugin PATH", "--in-process", "--record FILE",
// "--no-cache", "--list-variants" and "--help". False with a reason in *error for an
// unknown option, a missing value, or both "--plugin" and "--in-process".
[[nodiscard]] bool DbgParseCommandLine(int argc, const char* const* argv,
                                       DbgFrontEndOptions* options, std::string* error);

// Exit codes of a run.
inline constexpr int kDbgExitOk = 0;
inline constexpr int kDbgExitUsage = 1;
inline constexpr int kDbgExitSession = 2;  // unknown variant, plug-in not started or failed
inline constexpr int kDbgExitRecord = 3;   // the record file could not be written

// Runs the front end: the windows go to *out, diagnostics to *err.
int DbgFrontEndRun(const DbgFrontEndOptions& options, std::string* out, std::string* err);

// One conversation of a front end with the plug-in over a model target: what
// differs between the programs that hold one.
struct DbgConversation {
  std::string_view program;  // prefixes each diagnostic line
  DbgSessionOptions session;
  std::string recordPath;  // empty: no record
  bool bigEndianTarget = false;
  bool cache = false;         // turn the plug-in's cache on after TargetInit
  bool listCommands = false;  // print the commands OsaInit lists
  // Printed when OsaInit lists no ObjectListInit.
  std::string_view noAwareness;
  // Follows "OSA_Client_TargetInit answered N: " when TargetInit fails.
  std::string_view unrecognised;
};

// Opens the session over *target, converses from OsaInit to Exit, shows the
// plug-in's messages, closes the session and writes the record when asked.
// The windows go to *out, diagnostics to *err; returns kDbgExitOk,
// kDbgExitSession or kDbgExitRecord.
int DbgConverse(const DbgConversation& conversation, model::TargetModel* target, std::string* out,
                std::string* err);
