// The status every kernel-awareness function returns. A debugger service's
// own status passes through unchanged (any 32-bit number); the kernel code
// adds only the values the interface gives a meaning. The number reaches the
// interface in one place, where registration.cpp hands the callbacks over.
#pragma once

#include <cstdint>

enum class [[nodiscard]] KernelStatus : std::uint32_t{
    kOk = 0, kFailed = 1,
    kEndOfList = 2,   // ObjectListNext: the walk is over
    kNotStarted = 2,  // TargetInit: the target is still in its start-up code
};

// A debugger service's status as the kernel code passes it on.
constexpr KernelStatus ServiceStatus(std::uint32_t status) {
  return static_cast<KernelStatus>(status);
}

// The number a callback returns on the interface: 0, 1, 2 or the service's
// status, as a signed 32-bit figure (0xFFFFFFFF reads -1).
constexpr std::int32_t InterfaceStatus(KernelStatus status) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(status));
}
