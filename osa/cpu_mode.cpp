// Per-core CPU modes of a service record and the host core of the request.
#include "osa/cpu_mode.h"

#include "osa/messages.h"
#include "osa/service_requests.h"

bool OsaCpuModeIsUser(OSA_ServiceCntx* context, std::int64_t core) {
  if (context == nullptr) return false;
  if (core == kOsaNoCore || context->unifiedMcOsa == 0) return context->inUserMode;
  for (const CoreModeEntry& entry : context->coreModes) {
    if (entry.core == core) return entry.inUserMode != 0;
  }
  std::uint32_t inUserMode = 0;
  if (OSA_Service_CpuModeGet(context, core, &inUserMode) == kOsaServiceOk) {
    OsaCoreModeRecord(context, core, inUserMode);
    return inUserMode != 0;
  }
  // Nothing is recorded, so the next call asks again.
  if (context->logCommunication) {
    // Nothing is left to do when the message cannot be shown either.
    (void)OSA_Service_MessageDisplay(context, kOsaErrorMessage, kOsaCpuModeUnknownFormat, core);
  }
  return false;
}

void OsaCoreModeRecord(OSA_ServiceCntx* context, std::int64_t core, std::uint32_t inUserMode) {
  if (context == nullptr) return;
  for (CoreModeEntry& entry : context->coreModes) {
    if (entry.core == core) {
      entry.inUserMode = inUserMode;
      return;
    }
  }
  context->coreModes.push_back({core, inUserMode});
}

std::int64_t OsaHostCore(const OSA_ServiceCntx* context, std::int64_t defaultCore) {
  if (context == nullptr || context->hostCoreIndex == kOsaNoCore) return defaultCore;
  return context->hostCoreIndex;
}
