// osa_postmortem's command line and run (see postmortem.h).
#include "postmortem/postmortem.h"

#include <cinttypes>
#include <cstdio>

#include "debugger/front_end.h"
#include "dwarf/core_dump.h"
#include "dwarf/elf_image.h"

namespace {

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
  DbgConversation conversation;
  conversation.program = "osa_postmortem";
  conversation.session.transport = options.transport;
  conversation.session.pluginPath = options.pluginPath;
  conversation.session.expressionMemo = true;  // the dump's model stays as loaded
  conversation.session.record = !options.recordPath.empty();
  conversation.recordPath = options.recordPath;
  conversation.bigEndianTarget = target.memory.bigEndian;
  conversation.noAwareness = "The plug-in offers no kernel awareness: no task or object windows.\n";
  conversation.unrecognised = "the plug-in did not recognise the kernel in this dump.\n";
  return DbgConverse(conversation, &target, out, err);
}
