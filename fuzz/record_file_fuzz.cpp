// Fuzz target: any bytes as a record file must play back to one of the
// playback results without crashing, through the real dispatcher.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "kernel/registration.h"
#include "osa/entry.h"
#include "plugin/conversation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialised = [] {
    static const char* const arguments[] = {"record_file_fuzz", "-file", "fuzz.rec", nullptr};
    OsaSetCallbackRegistrar(RegisterKernelCallbacks);
    OSA_Client_CmdInit(3, arguments, OSA__Playback__Exchange);
    return true;
  }();
  (void)initialised;
  const std::string text(reinterpret_cast<const char*>(data), size);
  // HistoryLogDump with "dirPath" writes a file into any directory a record
  // names. Without \u escapes both names can only appear literally.
  const bool dumps =
      text.find("HistoryLogDump") != std::string::npos && text.find("dirPath") != std::string::npos;
  if (dumps || text.find("\\u") != std::string::npos) return 0;
  // The plain send function plays back through the process conversation.
  OsaPlayback& playback = OsaProcessConversation().playback;
  playback.ignoreError = size > 0 && (data[0] & 1) != 0;
  std::istringstream stream(text);
  const std::int32_t result = OsaPlaybackRun(&playback, stream, "fuzz.rec");
  if (result != 0 && result != 3 && result != 4) std::abort();
  return 0;
}
