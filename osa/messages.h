// The texts the interface itself shows the user or writes to standard
// error, kept here byte for byte so that they are read and changed in one
// place.
#pragma once

#include <cinttypes>
#include <cstdint>

// Standard error, when the outer request's record is not found again after
// a nested request.
inline constexpr char kOsaRestorationMismatch[] = "Got different OSA_ServiceCntx at restoration.\n";

// Shown through OSA_Service_MessageDisplay (message type kOsaErrorMessage)
// when a core's CPU mode cannot be learnt; the argument is the 0-based core.
inline constexpr char kOsaCpuModeUnknownFormat[] =
    "OSA plugin: Failed to find CPU mode information for core %" PRId64 " (0-based).\n";

// The message type the debugger shows as an error.
inline constexpr std::int32_t kOsaErrorMessage = 2;
