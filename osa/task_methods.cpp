// Temporary handlers answering "return": 0 until the real ones land.
#include "osa/methods.h"

namespace {
JsonPtr Stub() {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  return result;
}
}  // namespace

JsonPtr OsaHandleTaskMemoryAccessSetup(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskMemoryAccessRestore(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskRegisterRead(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskRegisterWrite(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskAddressTranslate(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskNameGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskStatusGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskExecGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskCpuGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskAddressSpaceGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskRelocatableGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskSymTabGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleCurrentTaskGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskInKernelCheck(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskInCurrentAddressSpaceCheck(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskIsHiddenCheck(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskLsoGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleTaskTksaGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleAddressSpaceNameGet(const JsonValue* /*params*/) {
  return Stub();
}
