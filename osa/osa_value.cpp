// Storing a number into an OsaValue by its kind.
#include <bit>
#include <cstdint>

#include "osa/plugin_api.h"

bool OsaValueStoreNumber(OsaValue* value, std::uint64_t x) {
  if (value == nullptr) return false;
  switch (value->kind) {
    case OsaValueKind::kInt8:
    case OsaValueKind::kUInt8:
      value->payload = x & 0xFFu;
      return true;
    case OsaValueKind::kInt16:
    case OsaValueKind::kUInt16:
      value->payload = x & 0xFFFFu;
      return true;
    case OsaValueKind::kInt32:
    case OsaValueKind::kUInt32:
      value->payload = x & 0xFFFFFFFFu;
      return true;
    case OsaValueKind::kAddress:
    case OsaValueKind::kInt64:
    case OsaValueKind::kUInt64:
      value->payload = x;
      return true;
    case OsaValueKind::kFloat:
      value->payload = std::bit_cast<std::uint32_t>(static_cast<float>(x));
      return true;
    case OsaValueKind::kDouble:
      value->payload = std::bit_cast<std::uint64_t>(static_cast<double>(x));
      return true;
    case OsaValueKind::kText:
      return false;
  }
  return false;  // a kind above 11
}
