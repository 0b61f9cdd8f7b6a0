// Dumps behind the proxy: a core file and RAM images loaded into the
// model, and stand-in registers for a dump that carries none.
#include <string>
#include <string_view>

#include "dwarf/core_dump.h"
#include "proxy/proxy_state.h"

namespace gdbproxy {

namespace {

// Names that mark start-up code, which the plug-in's start-up check refuses.
bool LooksLikeStartupCode(const model::TargetModel& model, const model::Symbol& routine) {
  for (const std::string_view word : {"reset", "start", "crt0", "RESET"}) {
    if (routine.name.find(word) != std::string::npos) return true;
  }
  for (const std::string_view section : {"reset", "ROM_reset", "boottext", "ROM_boottext"}) {
    const model::Symbol* begin =
        model::FindSymbol(model.symbols, "__hrxbegin_" + std::string(section));
    const model::Symbol* end = model::FindSymbol(model.symbols, "__hrxend_" + std::string(section));
    if (begin != nullptr && end != nullptr && begin->address <= routine.address &&
        routine.address < end->address) {
      return true;
    }
  }
  return false;
}

// A RAM image carries no registers, but it was taken from a system that ran
// past its start-up code. The plug-in checks that from the current routine,
// so it is told of the lowest routine outside the start-up code; GDB itself
// sees the CPU's registers as unavailable.
std::uint32_t StandInRoutine(const model::TargetModel& model) {
  const model::Symbol* chosen = nullptr;
  for (const model::Symbol& symbol : model.symbols.symbols) {
    if (symbol.kind != model::SymbolKind::kRoutine || symbol.address == 0 ||
        LooksLikeStartupCode(model, symbol)) {
      continue;
    }
    if (chosen == nullptr || symbol.address < chosen->address) chosen = &symbol;
  }
  return chosen != nullptr ? chosen->address : 0;
}

bool StandInRegisterRead(void* context, std::uint32_t number, std::uint32_t* value) {
  const auto* proxy = static_cast<const Proxy*>(context);
  if ((number != model::kRegPc && number != model::kRegLr) || proxy->startRoutine == 0) {
    return false;
  }
  *value = proxy->startRoutine;
  return true;
}

bool StandInRegisterWrite(void*, std::uint32_t, std::uint32_t) {
  return false;
}

}  // namespace

bool LoadDumps(Proxy* proxy) {
  const ProxyOptions& options = *proxy->options;
  std::string error;
  if (!options.corePath.empty() && !DumpLoadCore(options.corePath, &proxy->model, &error)) {
    Warn("cannot load the core " + options.corePath + ": " + error);
    return false;
  }
  for (const ProxyRamImage& image : options.ramImages) {
    if (!DumpLoadRaw(image.path, image.address, &proxy->model, &error)) {
      Warn("cannot load the memory image " + image.path + ": " + error);
      return false;
    }
  }
  if (!DumpHasRegisters(proxy->model)) {
    proxy->dumpWithoutRegisters = true;
    proxy->startRoutine = StandInRoutine(proxy->model);
    proxy->model.registers.backing =
        model::RegisterBacking{proxy, StandInRegisterRead, StandInRegisterWrite};
  }
  return true;
}

}  // namespace gdbproxy
