// The model debugger's front end (see front_end.h).
#include "debugger/front_end.h"

#include <memory>

#include "debugger/client_calls.h"
#include "debugger/windows.h"
#include "model/kernel_builder.h"

namespace {

// The service context handle the front end opens.
constexpr std::int64_t kContext = 1;

std::string JoinCommands(const std::vector<std::string>& commands) {
  std::string text;
  for (const std::string& command : commands) {
    if (!text.empty()) text.append(", ");
    text.append(command);
  }
  return text;
}

std::string DescribeModel(const model::KernelManifest& manifest) {
  return "Model target: " + manifest.variant + " (kernel version " +
         std::to_string(manifest.version) + ", " + std::to_string(manifest.maxTasks) +
         "-task masks, " + std::to_string(manifest.maxPriorities) + " priorities, " +
         std::to_string(manifest.tasks.size()) + " tasks, " +
         (manifest.bigEndian ? "big-endian" : "little-endian") + ")\n";
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

// The conversation proper, from OsaInit to Exit. False when it failed; the
// reason is then in the session's lastError.
bool Converse(DbgSession* session, const DbgConversation& conversation, std::string* out) {
  DbgOsaInitAnswer init;
  const std::int32_t initStatus = DbgOsaInit(session, kContext, &init);
  if (initStatus != 0) {
    if (initStatus != kDbgNoAnswer) {
      session->lastError = "OSA_Client_OsaInit answered " + std::to_string(initStatus);
    }
    return false;
  }
  if (conversation.listCommands) {
    out->append("Plug-in commands (" + std::to_string(init.commands.size()) +
                "): " + JoinCommands(init.commands) + "\n");
  }

  DbgTargetInitAnswer target;
  const std::int32_t targetStatus =
      DbgTargetInit(session, kContext, conversation.bigEndianTarget, &target);
  if (targetStatus == kDbgNoAnswer) return false;

  if (!DbgOffersKernelAwareness(init)) {
    out->append(conversation.noAwareness);
  } else if (targetStatus != 0) {
    out->append("OSA_Client_TargetInit answered " + std::to_string(targetStatus) + ": ");
    out->append(conversation.unrecognised);
  } else {
    // The cache changes no answer, only how often the plug-in asks; a
    // plug-in without it answers the command with 0 and goes on as before.
    bool understood = false;
    if (conversation.cache && DbgCacheSet(session, kContext, true, &understood) == kDbgNoAnswer)
      return false;
    out->push_back('\n');
    if (!DbgShowKernelWindows(session, kContext, init, out)) return false;
  }

  if (DbgTargetCleanup(session, kContext) == kDbgNoAnswer ||
      DbgOsaCleanup(session, kContext) == kDbgNoAnswer) {
    return false;
  }
  std::int32_t exitCode = 0;
  return DbgExit(session, &exitCode) != kDbgNoAnswer;
}

}  // namespace

std::string DbgFrontEndUsage(std::string_view program) {
  return "usage: " + std::string(program) +
         " [--variant NAME] [--plugin PATH | --in-process] [--record FILE] [--no-cache]"
         " [--list-variants]\n";
}

bool DbgParseCommandLine(int argc, const char* const* argv, DbgFrontEndOptions* options,
                         std::string* error) {
  DbgFrontEndOptions read;
  bool inProcess = false;
  for (int index = 1; index < argc; ++index) {
    const std::string_view option = argv[index];
    const bool takesValue = option == "--variant" || option == "--plugin" || option == "--record";
    if (takesValue && index + 1 >= argc) {
      *error = std::string(option) + " needs a value";
      return false;
    }
    if (option == "--variant") {
      read.variant = argv[++index];
    } else if (option == "--plugin") {
      read.transport = DbgTransport::kPipe;
      read.pluginPath = argv[++index];
    } else if (option == "--record") {
      read.recordPath = argv[++index];
    } else if (option == "--in-process") {
      inProcess = true;
    } else if (option == "--no-cache") {
      read.cache = false;
    } else if (option == "--list-variants") {
      read.listVariants = true;
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
  *options = std::move(read);
  return true;
}

int DbgFrontEndRun(const DbgFrontEndOptions& options, std::string* out, std::string* err) {
  if (options.listVariants) {
    for (const std::string_view name : model::KernelVariantNames()) {
      out->append(name);
      out->push_back('\n');
    }
    return kDbgExitOk;
  }

  model::TargetModel target;
  std::string error;
  if (!model::BuildKernelModel(options.variant, &target, &error)) {
    err->append("osa_modeldbg: cannot build variant " + options.variant + ": " + error + "\n");
    return kDbgExitSession;
  }
  out->append(DescribeModel(target.manifest));

  DbgConversation conversation;
  conversation.program = "osa_modeldbg";
  conversation.session.transport = options.transport;
  conversation.session.pluginPath = options.pluginPath;
  conversation.session.record = !options.recordPath.empty();
  conversation.session.expressionMemo = true;  // the model stays as built
  conversation.recordPath = options.recordPath;
  conversation.bigEndianTarget = target.manifest.bigEndian;
  conversation.cache = options.cache;
  conversation.listCommands = true;
  conversation.noAwareness =
      "The plug-in offers no kernel awareness: its OSA_Client_OsaInit answer lists no "
      "OSA_Client_ObjectListInit, so there are no task or object windows to show.\n";
  conversation.unrecognised = "the plug-in did not recognise the kernel.\n";
  return DbgConverse(conversation, &target, out, err);
}

int DbgConverse(const DbgConversation& conversation, model::TargetModel* target, std::string* out,
                std::string* err) {
  const std::string program(conversation.program);
  std::string error;
  std::unique_ptr<DbgSession> session;
  if (!DbgSessionOpen(conversation.session, target, &session, &error)) {
    err->append(program + ": " + error + "\n");
    return kDbgExitSession;
  }
  out->append(conversation.session.transport == DbgTransport::kPipe
                  ? "Plug-in: " + conversation.session.pluginPath + " (child process)\n"
                  : std::string("Plug-in: linked into this process\n"));

  const bool conversed = Converse(session.get(), conversation, out);
  ShowMessages(session->service, out);
  const int pluginExit = DbgSessionClose(session.get());
  int code = kDbgExitOk;
  if (!conversed) {
    err->append(program + ": " + session->lastError + "\n");
    code = kDbgExitSession;
  } else if (pluginExit != 0) {
    err->append(program + ": the plug-in ended with exit code " + std::to_string(pluginExit) +
                "\n");
    code = kDbgExitSession;
  }

  if (!conversation.recordPath.empty()) {
    if (!DbgSessionWriteRecord(*session, conversation.recordPath, &error)) {
      err->append(program + ": " + error + "\n");
      return kDbgExitRecord;
    }
    out->append("Recorded " + std::to_string(session->recordLines) + " lines to " +
                conversation.recordPath + "\n");
  }
  return code;
}
