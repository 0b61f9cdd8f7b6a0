// Temporary handlers answering "return": 0 until the real ones land.
#include "osa/methods.h"

namespace {
JsonPtr Stub() {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  return result;
}
}  // namespace

JsonPtr OsaHandleOsaInit(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleOsaCleanup(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTargetInit(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTargetCleanup(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandlePoll(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTargetNotify(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleOsaCmd_Execute(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleMessageInject(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleHistoryLogDump(const JsonValue* /*params*/) {
  return Stub();
}
