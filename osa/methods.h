// The marshalling handlers of the 38 OSA_Client_* methods and the method
// table that binds each name to its handler and callback slot, both expanded
// from osa/client_methods.def.
#pragma once

#include <cstdint>
#include <span>

#include "jsonrpc/dispatch.h"

// Whether OsaInit lists a method only when its slot is set, or always.
enum class OsaOffer : std::uint8_t { kWhenSet, kAlways };

// One row of the client method table.
struct OsaMethodBinding {
  const char* name;  // null in the closing row
  JrMethodHandler handler;
  std::int32_t slot;  // index into OsaPluginCallbacks
  OsaOffer offer;
};

// The 38 rows in registration order (the order OsaInit reports), without the
// closing row.
std::span<const OsaMethodBinding> OsaClientMethodTable();

// Each takes the borrowed "params" value and returns a new result object
// that always carries "return". Setup and control methods live in
// setup_methods.cpp (Exit in entry.cpp), object methods in
// object_methods.cpp, task methods in task_methods.cpp.
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer) \
  JsonPtr handler(const JsonValue* params);
#include "osa/client_methods.def"
