// The interface's process-wide state in one record: the callback table and
// its registrar, the outgoing-request service, the Exit state and the list
// of service records with the request nesting, and the depth of the timing
// scopes. The interface's operations (OSA_Client_CmdInit, the handlers,
// OsaContextCreate and the rest) name no record, so they share the
// process's one, reached through OsaProcess().
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "jsonrpc/client.h"
#include "osa/context.h"
#include "osa/plugin_api.h"

// The live service records and the open request scopes over all of them.
struct OsaContextRegistry {
  std::vector<OsaContextPtr> list;  // newest first
  // Every record still alive, listed or held by a request being served, so
  // that an answered request's slots can be cleared wherever they are.
  std::vector<std::weak_ptr<OSA_ServiceCntx>> live;
  std::int32_t requestNesting = 0;
};

struct OsaProcessState {
  OsaPluginCallbacks callbacks{};
  OsaCallbackRegistrar registrar = nullptr;  // called by OSA_Client_CmdInit
  JsonRpcService service;
  bool serviceReady = false;  // OSA_Client_CmdInit has run
  bool exitRequested = false;
  std::int32_t exitStatus = 0;  // no method changes it
  OsaContextRegistry contexts;
  std::uint32_t timingDepth = 0;  // open timing scopes, nested like the requests
};

// The process's record, made on first use, so that a static initialiser
// (the shared library's registrar) may reach it before main. Inline, as
// every request reaches it several times.
inline OsaProcessState& OsaProcess() {
  static OsaProcessState state;
  return state;
}
