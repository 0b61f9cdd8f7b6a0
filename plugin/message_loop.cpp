// The live-mode top-level loop (see message_loop.h).
#include "plugin/message_loop.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "jsonrpc/dispatch.h"
#include "osa/entry.h"
#include "plugin/framing.h"
#include "plugin/nesting.h"
#include "plugin/transport.h"
#include "runtime/history_log.h"

static_assert(kOsaMaxMessageLength == 65535, "the refusal below names the limit");

std::int32_t OsaRunMessageLoop(OsaTransport* transport) {
  for (;;) {
    if (OsaExitRequested()) {
      const std::int32_t status = OsaExitStatus();
      HistoryLogTraceFormat("OSA__Info", "Exit with %d (after Exit cmd) ", status);
      return status;
    }
    char buffer[kOsaReceiveBufferSize];
    int error = 0;
    // A request that arrived whole is parsed on the way in, and only once.
    JsonPtr request;
    const OsaReceiveStatus received =
        OsaReceiveMessage(transport, buffer, &error, nullptr, &request);
    if (received == OsaReceiveStatus::kFailed) {
      if (buffer[0] != '\0') {
        std::fprintf(stderr, "OSA plugin: Failed to get valid request: %s (err %d)\n", buffer,
                     error);
      }
      HistoryLogTraceFormat("OSA__Info", "Exit with %d (invalid request)", error);
      return error;
    }
    // A request too long to read is answered too, so the debugger never
    // waits for it; its id is unknown.
    std::string refusal;
    if (received == OsaReceiveStatus::kOversize) {
      OsaMakeErrorResponse(kJrInvalidRequest, "request larger than 65535 bytes", nullptr, &refusal);
    }
    const char* response = received == OsaReceiveStatus::kOversize
                               ? refusal.c_str()
                               : OsaClientCmdParserParsed(buffer, std::move(request));
    // The dispatcher's own response needs no scan: it is complete by
    // construction and its length is known.
    const std::string_view written = JrWrittenResponse();
    std::size_t length = written.size();
    if ((written.empty() || written.data() != response) &&
        !OsaIsCompleteMessage(response, &length)) {
      std::fprintf(stderr, "OSA plugin: Got invalid response: %s (err %d)\n",
                   response != nullptr ? response : "null", errno);
      HistoryLogTrace("OSA__Info", "Exit with 2 (invalid response)");
      return 2;
    }
    if (!OsaTransportWrite(*transport, response, static_cast<std::int32_t>(length))) {
      const int writeError = errno;
      std::fprintf(stderr, "OSA plugin: Failed to send response: %s (err %d)", response,
                   writeError);
      HistoryLogTrace("OSA__Info", "Exit with 3 (failed to send response)");
      return 3;
    }
  }
}
