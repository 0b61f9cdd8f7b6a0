// Storing a number into an OsaValue by its kind.
#include <bit>
#include <cstdint>

#include "osa/plugin_api.h"

bool OsaValueStoreNumber(OsaValue* value, std::uint64_t x) {
  if (value == nullptr) return false;
  switch (value->kind) {
    case OsaValueKind::Int8:
    case OsaValueKind::UInt8:
      value->payload = x & 0xFFu;
      return true;
    case OsaValueKind::Int16:
    case OsaValueKind::UInt16:
      value->payload = x & 0xFFFFu;
      return true;
    case OsaValueKind::Int32:
    case OsaValueKind::UInt32:
      value->payload = x & 0xFFFFFFFFu;
      return true;
    case OsaValueKind::Address:
    case OsaValueKind::Int64:
    case OsaValueKind::UInt64:
      value->payload = x;
      return true;
    case OsaValueKind::Float:
      value->payload = std::bit_cast<std::uint32_t>(static_cast<float>(x));
      return true;
    case OsaValueKind::Double:
      value->payload = std::bit_cast<std::uint64_t>(static_cast<double>(x));
      return true;
    case OsaValueKind::Text:
      return false;
  }
  return false;  // a kind above 11
}
