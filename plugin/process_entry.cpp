// The process entry (see process_entry.h).
#include "plugin/process_entry.h"

#include <pthread.h>

#include <cstdio>

#include "osa/entry.h"
#include "plugin/command_line.h"
#include "plugin/conversation.h"
#include "plugin/exchange.h"
#include "plugin/message_loop.h"
#include "plugin/playback.h"
#include "runtime/history_log.h"

namespace {

// Lets the client service take the answers' trees from the mode's exchange,
// which parses every message anyway to tell answers from requests; only
// when the service was set up around that very exchange.
void UseParsedAnswers(JrSendFunction send, OsaConversationMode mode) {
  JsonRpcService* const service = OsaRpcService();
  if (service != nullptr && service->send == send) {
    OsaSendThrough(service, &OsaProcessConversation(), mode);
  }
}

std::int32_t RunPlayback(int argc, const char* const* argv, const OsaCommandLine& line) {
  OsaPlayback& playback = OsaProcessConversation().playback;
  playback.ignoreError = line.ignoreError;
  OSA_Client_CmdInit(argc, argv, OSA__Playback__Exchange);
  UseParsedAnswers(OSA__Playback__Exchange, OsaConversationMode::kPlayback);
  std::int32_t result = 2;
  if (line.hasFile) {
    result = OsaPlaybackRunFile(&playback, line.fileName.c_str());
  } else {
    std::printf("No record file to play back: give one with -file <JsonRecordPlaybackFile>.\n");
  }
  HistoryLogTraceFormat("OSA__Info", "Exit with %d (from playback)", result);
  return result;
}

struct LargeStackCall {
  void (*body)(void*);
  void* argument;
};

void* RunLargeStackCall(void* pointer) {
  const LargeStackCall* call = static_cast<const LargeStackCall*>(pointer);
  call->body(call->argument);
  return nullptr;
}

}  // namespace

std::int32_t OsaProcessEntry(int argc, const char* const* argv) {
  const OsaCommandLine line = OsaParseCommandLine(argc, argv);
  const char* programName = argc > 0 ? argv[0] : "osa_plugin";
  switch (line.action) {
    case OsaCommandAction::kLive:
      OSA_Client_CmdInit(argc, argv, OSA__JSON__Exchange);
      UseParsedAnswers(OSA__JSON__Exchange, OsaConversationMode::kLive);
      return OsaRunMessageLoop(&OsaProcessConversation().transport);
    case OsaCommandAction::kHelp:
      std::fputs(OsaUsageLine(programName).c_str(), stdout);
      HistoryLogTrace("OSA__Info", "Exit with 0 (help)");
      return 0;
    case OsaCommandAction::kSyntaxError:
      if (line.duplicateFile) std::fputs("Only one playback file is allowed.\n", stderr);
      std::fputs(OsaUsageLine(programName).c_str(), stderr);
      HistoryLogTraceFormat("OSA__Info", "Exit with 1 (syntaxError %d)", 1);
      return 1;
    case OsaCommandAction::kPlayback:
      return RunPlayback(argc, argv, line);
  }
  return 1;
}

bool OsaRunOnLargeStack(void (*body)(void* argument), void* argument) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  LargeStackCall call{body, argument};
  pthread_t thread;
  const bool made = pthread_attr_setstacksize(&attributes, kOsaProcessStackSize) == 0 &&
                    pthread_create(&thread, &attributes, RunLargeStackCall, &call) == 0;
  pthread_attr_destroy(&attributes);
  if (!made) return false;
  pthread_join(thread, nullptr);
  return true;
}
