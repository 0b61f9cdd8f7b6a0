// Per-core CPU modes of a service record and the host core of the request.
#pragma once

#include <cstdint>

#include "osa/plugin_api.h"

// Whether `core` (0-based, or kOsaNoCore) runs in user mode: the request's
// inUserMode flag unless per-core modes apply; a core not yet known is asked
// of the debugger once (OSA_Service_CpuModeGet) and remembered.
bool OsaCpuModeIsUser(OSA_ServiceCntx* context, std::int64_t core);

// Records a core's mode: overwrites that core's entry or appends one.
void OsaCoreModeRecord(OSA_ServiceCntx* context, std::int64_t core, std::uint32_t inUserMode);

// The 0-based host core the current request named, or `defaultCore` when it
// named none.
std::int64_t OsaHostCore(const OSA_ServiceCntx* context, std::int64_t defaultCore);
