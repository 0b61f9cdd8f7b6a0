// The shared library's join of kernel and interface: hands the interface the
// kernel's registrar while the library loads, before a host can call
// OSA_Client_CmdInit. Compiled into the shared library only; it also holds
// the installed header to the interface's own declarations (a C function
// declared twice with other types does not compile).
#include "include/osa_plugin.h"
#include "kernel/registration.h"
#include "osa/entry.h"
#include "osa/plugin_api.h"

namespace {

// The interface's process record is made on first use, so this may run
// before or after any other initialiser of the library.
[[maybe_unused]] const bool kKernelJoined =
    (OsaSetCallbackRegistrar(RegisterKernelCallbacks), true);

}  // namespace
