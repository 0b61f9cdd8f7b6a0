// Dump files laid over a model target.
#include "dwarf/core_dump.h"

namespace {

bool UnknownRegisterRead(void*, std::uint32_t, std::uint32_t*) {
  return false;
}
bool UnknownRegisterWrite(void*, std::uint32_t, std::uint32_t) {
  return false;
}

}  // namespace

bool DumpLoadCore(std::string_view, model::TargetModel*, std::string* error, DumpContents*) {
  *error = "not yet implemented";
  return false;
}

bool DumpLoadRaw(std::string_view, std::uint32_t, model::TargetModel*, std::string* error,
                 DumpContents*) {
  *error = "not yet implemented";
  return false;
}

bool DumpParseRawArgument(std::string_view, std::string*, std::uint32_t*, std::string* error) {
  *error = "not yet implemented";
  return false;
}

bool DumpOverlayMemory(model::TargetMemory*, std::uint32_t, const std::uint8_t*, std::uint64_t) {
  return false;
}

void DumpForgetRegisters(model::TargetModel* model) {
  model->registers.backing =
      model::RegisterBacking{nullptr, UnknownRegisterRead, UnknownRegisterWrite};
}

bool DumpHasRegisters(const model::TargetModel& model) {
  return model.registers.backing.read != UnknownRegisterRead;
}
