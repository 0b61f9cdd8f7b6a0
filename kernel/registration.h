// The kernel's callback registrar: what the plug-in's executable and shared
// library hand the interface (OsaSetCallbackRegistrar) before it starts.
#pragma once

#include "osa/plugin_api.h"

// Zero-fills every slot of `table`, then sets the ones the kernel code
// implements; the interface answers the others with its defaults.
void RegisterKernelCallbacks(OsaPluginCallbacks* table, int argc, const char* const* argv);
