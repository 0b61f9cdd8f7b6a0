// osa_postmortem's command line and run (see postmortem.h).
#include "postmortem/postmortem.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "debugger/client_calls.h"
#include "debugger/front_end.h"
#include "debugger/windows.h"
#include "dwarf/core_dump.h"
#include "dwarf/elf_image.h"

namespace {

// The service context handle the run opens.
constexpr std::int64_t kContext = 1;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIx32, value);
  return text;
}

// Builds the target: the program's types, symbols and section contents,
// then the dumps over them. Describes each file in *out.
bool LoadTarget(const PmOptions& options, model::TargetModel* target, DumpKnownRegisters* known,
                std::string* out, std::string* error) {
  DwarfLoadOptions loadOptions;
  loadOptions.loadContents = true;
  DwarfLoadSummary summary;
  if (!DwarfLoadImage(options.elfPath, loadOptions, target, error, &summary)) return false;
  out->append("Program: " + options.elfPath + " (" +
              (target->memory.bigEndian ? "big-endian, " : "little-endian, ") +
              std::to_string(summary.types) + " types, " + std::to_string(summary.variables) +
              " variables, " + std::to_string(summary.routines) + " routines)\n");
  if (!options.corePath.empty()) {
    DumpContents contents;
    if (!DumpLoadCore(options.corePath, target, error, &contents)) return false;
    out->append("Core: " + options.corePath + " (" + std::to_string(contents.regions) +
                " memory ranges, " + std::to_string(contents.bytes) + " bytes" +
                (contents.hasRegisters ? ", registers" : ", no registers") +
                (contents.hasFpRegisters ? " with FP" : "") + ")\n");
  }
  for (const std::string& argument : options.rawImages) {
    std::string path;
    std::uint32_t address = 0;
    DumpContents contents;
    if (!DumpParseRawArgument(argument, &path, &address, error) ||
        !DumpLoadRaw(path, address, target, error, &contents))
      return false;
    out->append("Memory image: " + path + " at " + Hex(address) + " (" +
                std::to_string(contents.bytes) + " bytes)\n");
  }
  // Registers the user knows: over a core's, or the only ones known.
  const bool fromDump = DumpHasRegisters(*target);
  for (const std::string& argument : options.registers) {
    if (!DumpParseRegisterArgument(argument, *target, known, error)) return false;
  }
  if (fromDump) {
    for (std::uint32_t number = 0; number < known->known.size(); ++number) {
      if (known->known[number] && !model::ModelRegisterWrite(target, number, known->values[number]))
        return false;
    }
  } else if (!options.registers.empty()) {
    DumpUseKnownRegisters(target, known);
    out->append("Live registers: only those given with --register; reads of others fail\n");
  } else {
    out->append(
        "Live registers: unknown (the dump holds none); reads of them fail. Give the stop "
        "address with --register pc=ADDRESS if the kernel is not recognised.\n");
  }
  return true;
}

void ShowMessages(const DbgServiceState& service, std::string* out) {
  if (service.messages.empty()) return;
  out->append("Messages from the plug-in:\n");
  for (const DbgDisplayedMessage& message : service.messages) {
    std::string text = message.text;
    while (!text.empty() && text.back() == '\n')
      text.pop_back();
    out->append("  [type " + std::to_string(message.type) + "] " + text + "\n");
    if (!message.during.empty()) out->append("    while serving " + message.during + "\n");
  }
}

// The conversation from OsaInit to Exit; false when an exchange failed (the
// reason is in the session's lastError).
bool Converse(DbgSession* session, bool bigEndianTarget, std::string* out) {
  DbgOsaInitAnswer init;
  const std::int32_t initStatus = DbgOsaInit(session, kContext, &init);
  if (initStatus != 0) {
    if (initStatus != kDbgNoAnswer)
      session->lastError = "OSA_Client_OsaInit answered " + std::to_string(initStatus);
    return false;
  }
  DbgTargetInitAnswer targetAnswer;
  const std::int32_t targetStatus =
      DbgTargetInit(session, kContext, bigEndianTarget, &targetAnswer);
  if (targetStatus == kDbgNoAnswer) return false;
  if (!DbgOffersKernelAwareness(init)) {
    out->append("The plug-in offers no kernel awareness: no task or object windows.\n");
  } else if (targetStatus != 0) {
    out->append("OSA_Client_TargetInit answered " + std::to_string(targetStatus) +
                ": the plug-in did not recognise the kernel in this dump.\n");
  } else {
    out->push_back('\n');
    if (!DbgShowKernelWindows(session, kContext, init, out)) return false;
  }
  if (DbgTargetCleanup(session, kContext) == kDbgNoAnswer ||
      DbgOsaCleanup(session, kContext) == kDbgNoAnswer)
    return false;
  std::int32_t exitCode = 0;
  return DbgExit(session, &exitCode) != kDbgNoAnswer;
}

}  // namespace

std::string PmUsage(std::string_view program) {
  return "usage: " + std::string(program) +
         " --elf APP.elf (--core FILE | --ram FILE@ADDRESS ...) [--register NAME=VALUE ...]"
         " [--plugin PATH | --in-process] [--record FILE]\n";
}

bool PmParseCommandLine(int argc, const char* const* argv, PmOptions* options, std::string* error) {
  PmOptions read;
  bool inProcess = false;
  for (int index = 1; index < argc; ++index) {
    const std::string_view option = argv[index];
    const bool takesValue = option == "--elf" || option == "--core" || option == "--ram" ||
                            option == "--register" || option == "--plugin" || option == "--record";
    if (takesValue && index + 1 >= argc) {
      *error = std::string(option) + " needs a value";
      return false;
    }
    if (option == "--elf") {
      read.elfPath = argv[++index];
    } else if (option == "--core") {
      read.corePath = argv[++index];
    } else if (option == "--ram") {
      std::string path;
      std::uint32_t address = 0;
      if (!DumpParseRawArgument(argv[index + 1], &path, &address, error)) return false;
      read.rawImages.emplace_back(argv[++index]);
    } else if (option == "--register") {
      if (std::string_view(argv[index + 1]).find('=') == std::string_view::npos) {
        *error = "--register expects NAME=VALUE";
        return false;
      }
      read.registers.emplace_back(argv[++index]);
    } else if (option == "--plugin") {
      read.transport = DbgTransport::kPipe;
      read.pluginPath = argv[++index];
    } else if (option == "--record") {
      read.recordPath = argv[++index];
    } else if (option == "--in-process") {
      inProcess = true;
    } else if (option == "--help" || option == "-h") {
      read.help = true;
    } else {
      *error = "unknown option " + std::string(option);
      return false;
    }
  }
  if (inProcess && read.transport == DbgTransport::kPipe) {
    *error = "--plugin and --in-process exclude each other";
    return false;
  }
  if (!read.help && read.elfPath.empty()) {
    *error = "--elf is required";
    return false;
  }
  if (!read.help && read.corePath.empty() && read.rawImages.empty()) {
    *error = "a dump is required: --core FILE or --ram FILE@ADDRESS";
    return false;
  }
  *options = std::move(read);
  return true;
}

int PmRun(const PmOptions& options, std::string* out, std::string* err) {
  model::TargetModel target;
  DumpKnownRegisters known;  // the target's register backing may point here
  std::string error;
  if (!LoadTarget(options, &target, &known, out, &error)) {
    err->append("osa_postmortem: " + error + "\n");
    return kPmExitLoad;
  }
  DbgSessionOptions sessionOptions;
  sessionOptions.transport = options.transport;
  sessionOptions.pluginPath = options.pluginPath;
  sessionOptions.record = !options.recordPath.empty();
  std::unique_ptr<DbgSession> session;
  if (!DbgSessionOpen(sessionOptions, &target, &session, &error)) {
    err->append("osa_postmortem: " + error + "\n");
    return kDbgExitSession;
  }
  out->append(options.transport == DbgTransport::kPipe
                  ? "Plug-in: " + options.pluginPath + " (child process)\n"
                  : std::string("Plug-in: linked into this process\n"));
  const bool conversed = Converse(session.get(), target.memory.bigEndian, out);
  ShowMessages(session->service, out);
  const int pluginExit = DbgSessionClose(session.get());
  int code = kDbgExitOk;
  if (!conversed) {
    err->append("osa_postmortem: " + session->lastError + "\n");
    code = kDbgExitSession;
  } else if (pluginExit != 0) {
    err->append("osa_postmortem: the plug-in ended with exit code " + std::to_string(pluginExit) +
                "\n");
    code = kDbgExitSession;
  }
  if (!options.recordPath.empty()) {
    if (!DbgSessionWriteRecord(*session, options.recordPath, &error)) {
      err->append("osa_postmortem: " + error + "\n");
      return kDbgExitRecord;
    }
    out->append("Recorded " + std::to_string(session->recordLines) + " lines to " +
                options.recordPath + "\n");
  }
  return code;
}
