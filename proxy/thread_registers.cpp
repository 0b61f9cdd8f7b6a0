// Registers of GDB's threads: the CPU's (live through the upstream, or from
// the dump) for the running task, and a blocked task's through the plug-in,
// asked once per stop; writes go the same ways.
#include <map>
#include <string>

#include "debugger/client_calls.h"
#include "proxy/proxy_state.h"

namespace gdbproxy {

// The thread a register packet means (Hg): the one the stop reply named
// unless a known other thread was chosen.
std::uint64_t RegisterThread(const Proxy& proxy) {
  if (proxy.gThread.kind == ProxyThreadRefKind::kThread &&
      ProxyFindThread(proxy.snapshot, proxy.gThread.id) != nullptr) {
    return proxy.gThread.id;
  }
  return proxy.stopThread;
}

bool ThreadIsCpu(const Proxy& proxy, std::uint64_t thread) {
  return !proxy.snapshot.tasks || thread == proxy.snapshot.running;
}

// One register of a blocked task as hex, asked of the plug-in once per stop.
std::string TaskRegisterHex(Proxy* proxy, std::uint64_t thread, const ProxyRegister& reg) {
  std::map<std::uint32_t, std::string>& known = proxy->taskRegisters[thread];
  const auto found = known.find(reg.number);
  if (found != known.end()) return found->second;
  PluginTimer timer(proxy);
  bool answered = true;
  std::string hex =
      ProxyEncodeRegister(proxy->layout, reg, [&](std::int32_t kernel, std::uint32_t* value) {
        if (!answered || !proxy->pluginUsable) return false;
        std::uint64_t read = 0;
        const std::int32_t status =
            DbgTaskRegisterRead(proxy->session.get(), kContext, thread, kernel, &read);
        if (status == kDbgNoAnswer) answered = false;
        if (status != 0) return false;
        *value = static_cast<std::uint32_t>(read);
        return true;
      });
  if (!answered) PluginBroke(proxy);
  known.emplace(reg.number, hex);
  return hex;
}

// The register data of a thread as hex: every register of the layout, or
// with `gOnly` the part of a 'g' reply. False when the CPU's cannot be read.
bool ThreadRegistersHex(Proxy* proxy, std::uint64_t thread, bool gOnly, std::string* hex) {
  const std::size_t size =
      2 * static_cast<std::size_t>(gOnly ? proxy->layout.gBytes : proxy->layout.bytes);
  if (ThreadIsCpu(*proxy, thread)) {
    if (proxy->live) {
      hex->clear();
      for (const ProxyRegister& reg : proxy->layout.registers) {
        if (2 * static_cast<std::size_t>(reg.offset) >= size) break;
        std::string part;
        if (!LiveRegisterHex(proxy, reg, &part)) return false;
        hex->append(part);
      }
      return true;
    }
    if (proxy->dumpWithoutRegisters) {
      *hex = std::string(size, 'x');
      return true;
    }
    *hex = ProxyEncodeRegisters(proxy->layout, [proxy](std::int32_t kernel, std::uint32_t* value) {
      std::uint64_t read = 0;
      if (!model::ModelRegisterRead(proxy->model, static_cast<std::uint32_t>(kernel), &read)) {
        return false;
      }
      *value = static_cast<std::uint32_t>(read);
      return true;
    });
    hex->resize(size);
    return true;
  }
  hex->clear();
  for (const ProxyRegister& reg : proxy->layout.registers) {
    if (2 * static_cast<std::size_t>(reg.offset) >= size) break;
    hex->append(TaskRegisterHex(proxy, thread, reg));
  }
  return true;
}

// Writes one description register of a thread.
bool WriteThreadRegister(Proxy* proxy, std::uint64_t thread, const ProxyRegister& reg,
                         std::uint64_t value, std::string* error) {
  if (ThreadIsCpu(*proxy, thread)) {
    if (proxy->live) {
      if (WriteLiveDescriptionRegister(proxy, reg, RegisterValueHex(proxy->layout, reg, value))) {
        return true;
      }
      *error = "the target refused the register write";
      return false;
    }
    bool written = reg.kernel != kProxyNoKernelRegister;
    if (written) {
      written = model::ModelRegisterWrite(&proxy->model, static_cast<std::uint32_t>(reg.kernel),
                                          static_cast<std::uint32_t>(value));
    }
    if (written && reg.kernelHigh != kProxyNoKernelRegister) {
      written = model::ModelRegisterWrite(&proxy->model, static_cast<std::uint32_t>(reg.kernelHigh),
                                          value >> 32);
    }
    if (!written) *error = "register " + reg.name + " is not known in this dump";
    return written;
  }
  if (!proxy->pluginUsable || reg.kernel == kProxyNoKernelRegister) {
    *error = "register " + reg.name + " of a task that is not running cannot be written";
    return false;
  }
  PluginTimer timer(proxy);
  ForgetStopCaches(proxy);
  std::int32_t status = DbgTaskRegisterWrite(proxy->session.get(), kContext, thread, reg.kernel,
                                             static_cast<std::uint32_t>(value));
  if (status == 0 && reg.kernelHigh != kProxyNoKernelRegister) {
    status =
        DbgTaskRegisterWrite(proxy->session.get(), kContext, thread, reg.kernelHigh, value >> 32);
  }
  if (status == kDbgNoAnswer) PluginBroke(proxy);
  if (status != 0) {
    *error = "the kernel keeps no writable copy of " + reg.name + " for this task";
    return false;
  }
  return true;
}
}  // namespace gdbproxy
