// Registration of the kernel-awareness callbacks in the plug-in's table.
#include "osa/plugin_api.h"

void RegisterKernelCallbacks(OsaPluginCallbacks* table, int /*argc*/,
                             const char* const* /*argv*/) {
  if (table == nullptr) return;
  *table = OsaPluginCallbacks{};
}
