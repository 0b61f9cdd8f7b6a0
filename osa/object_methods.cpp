// Temporary handlers answering "return": 0 until the real ones land.
#include "osa/methods.h"

namespace {
JsonPtr Stub() {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  return result;
}
}  // namespace

JsonPtr OsaHandleObjectListInit(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleObjectListCleanup(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleObjectListNext(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleObjectListAttribute(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleGuiObjectCheck(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleObjectChangedCheck(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleLifeCycleCountsGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandlePageTableGet(const JsonValue* /*params*/) {
  return Stub();
}
JsonPtr OsaHandleKernelMemoryRegionsGet(const JsonValue* /*params*/) {
  return Stub();
}
