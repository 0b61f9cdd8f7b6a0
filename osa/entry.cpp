// The plug-in's exported entry points and the interface's process record
// (callback table, service, Exit state) behind them.
#include "osa/entry.h"

#include <utility>

#include "jsonrpc/dispatch.h"
#include "osa/methods.h"
#include "osa/params.h"
#include "osa/plugin_api.h"
#include "osa/process_state.h"
#include "osa/status.h"

OsaPluginCallbacks& OsaCallbacks() {
  return OsaProcess().callbacks;
}

void OsaSetCallbackRegistrar(OsaCallbackRegistrar registrar) {
  OsaProcess().registrar = registrar;
}

JsonRpcService* OsaRpcService() {
  OsaProcessState& process = OsaProcess();
  return process.serviceReady ? &process.service : nullptr;
}

bool OsaExitRequested() {
  return OsaProcess().exitRequested;
}
std::int32_t OsaExitStatus() {
  return OsaProcess().exitStatus;
}

JsonPtr OsaHandleExit(const JsonValue* /*params*/) {
  OsaProcessState& process = OsaProcess();
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "exitCode", process.exitStatus);
  OsaResultReturn(result.get(), OsaStatus::kOk);
  // The message loop sees the flag before it reads the next message.
  process.exitRequested = true;
  return result;
}

extern "C" {

OSA_EXPORT void OSA_Client_CmdInit(int argc, const char* const* argv, JrSendFunction send) {
  OsaProcessState& process = OsaProcess();
  if (process.serviceReady) return;
  JrCreateBindings();
  for (const OsaMethodBinding& binding : OsaClientMethodTable()) {
    JrBindMethod(binding.name, binding.handler);
  }
  process.service = JsonRpcService{};
  JrInitService(&process.service, send);
  process.serviceReady = true;
  if (process.registrar != nullptr) process.registrar(&process.callbacks, argc, argv);
}

OSA_EXPORT const char* OSA_Client_CmdParser(const char* text) {
  return JrHandleRequest(text);
}

}  // extern "C"

const char* OsaClientCmdParserParsed(const char* text, JsonPtr request) {
  return JrHandleParsedRequest(text, std::move(request));
}
