// The client method table in registration order and the per-slot checks of
// the callback table, both expanded from osa/client_methods.def, with the
// compile-time checks that tie the rows, the slots and the members together.
#include <array>
#include <cstddef>

#include "osa/methods.h"
#include "osa/plugin_api.h"

namespace {

// The rows in slot order, as the .def lists them.
constexpr OsaMethodBinding kBySlot[] = {
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer) \
  {name, handler, slot, OsaOffer::k##offer},
#include "osa/client_methods.def"
};
constexpr std::size_t kRowOfSlot[] = {
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer) row,
#include "osa/client_methods.def"
};
static_assert(std::size(kBySlot) == kOsaSlotCount && std::size(kRowOfSlot) == kOsaSlotCount);

// The .def is in slot order, so each slot is bound exactly once.
constexpr bool SlotsRunInOrder() {
  for (std::size_t at = 0; at < kOsaSlotCount; ++at) {
    if (kBySlot[at].slot != static_cast<std::int32_t>(at)) return false;
  }
  return true;
}
static_assert(SlotsRunInOrder(), "client_methods.def lists the slots 0 to 37 in order");

// Every registration row is named once.
constexpr bool RowsArePermutation() {
  std::array<int, kOsaSlotCount> seen{};
  for (std::size_t row : kRowOfSlot) {
    if (row >= kOsaSlotCount) return false;
    ++seen[row];
  }
  for (int count : seen) {
    if (count != 1) return false;
  }
  return true;
}
static_assert(RowsArePermutation(), "client_methods.def names each row 0 to 37 once");

// The member of each row sits at its slot.
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer)         \
  static_assert(offsetof(OsaPluginCallbacks, member) == (slot) * sizeof(void (*)()), \
                #member " is slot " #slot);
#include "osa/client_methods.def"

// Rows placed in registration order, closed by a row with a null name.
// (Handler addresses are copied, never compared: with sanitizers they are
// not constant expressions.)
constexpr std::array<OsaMethodBinding, kOsaSlotCount + 1> InRegistrationOrder() {
  std::array<OsaMethodBinding, kOsaSlotCount + 1> table{};
  for (std::size_t slot = 0; slot < kOsaSlotCount; ++slot)
    table[kRowOfSlot[slot]] = kBySlot[slot];
  table[kOsaSlotCount] = {nullptr, nullptr, -1, OsaOffer::kWhenSet};
  return table;
}
constexpr std::array<OsaMethodBinding, kOsaSlotCount + 1> kOsaClientMethods = InRegistrationOrder();

// One check per slot, so that a slot number reaches its member without a
// switch.
using SlotCheck = bool (*)(const OsaPluginCallbacks&);

template <auto kMember>
bool SlotIsSet(const OsaPluginCallbacks& table) {
  return table.*kMember != nullptr;
}

constexpr SlotCheck kSlotChecks[] = {
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer) \
  SlotIsSet<&OsaPluginCallbacks::member>,
#include "osa/client_methods.def"
};

}  // namespace

std::span<const OsaMethodBinding> OsaClientMethodTable() {
  return {kOsaClientMethods.data(), kOsaSlotCount};
}

bool OsaCallbackIsSet(const OsaPluginCallbacks& table, int slot) {
  if (slot < 0 || slot >= kOsaSlotCount) return false;
  return kSlotChecks[static_cast<std::size_t>(slot)](table);
}
