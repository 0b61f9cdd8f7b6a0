// The interface's status as a type of its own, and its conversions to and
// from the two integer forms at the interface's edges: the signed 32-bit
// status of callbacks and of the answers' "return", and the unsigned 32-bit
// status of the service wrappers and of the debugger's "return".
#pragma once

#include <cstdint>

// 0 is success and 1 the interface's own failure; any other value is a
// callback's or the debugger's status, carried through unchanged.
enum class OsaStatus : std::uint32_t {
  kOk = 0,
  kFailed = 1,
};

// A callback's status taken over as it is, bit for bit.
[[nodiscard]] constexpr OsaStatus OsaStatusFromInt32(std::int32_t status) {
  return static_cast<OsaStatus>(static_cast<std::uint32_t>(status));
}

// The value a callback returns or an answer's "return" carries; the same
// bits as the unsigned form, so -1 survives the round trip.
[[nodiscard]] constexpr std::int32_t OsaStatusToInt32(OsaStatus status) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(status));
}

// The value a service wrapper hands to the kernel code (the debugger's
// "return" passes through the wrappers as it came).
[[nodiscard]] constexpr std::uint32_t OsaStatusToUInt32(OsaStatus status) {
  return static_cast<std::uint32_t>(status);
}

// The statuses a service wrapper hands back to the kernel code.
inline constexpr std::uint32_t kOsaServiceOk = OsaStatusToUInt32(OsaStatus::kOk);
inline constexpr std::uint32_t kOsaServiceFailed = OsaStatusToUInt32(OsaStatus::kFailed);
