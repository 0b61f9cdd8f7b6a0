// The command line of osa_gdbproxy: which program, where the target is (a
// live gdbserver or dump files), how GDB reaches the proxy, and the knobs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where the target's memory and registers come from.
enum class ProxySource : unsigned char {
  kNone,
  kRemote,     // --remote HOST:PORT
  kRemoteCmd,  // --remote-cmd "COMMAND" (a gdbserver on the command's stdio)
  kCore,       // --core FILE
  kRam,        // --ram FILE@ADDRESS (repeatable)
};

struct ProxyRamImage {
  std::string path;
  std::uint32_t address = 0;
};

struct ProxyOptions {
  std::string elfPath;
  ProxySource source = ProxySource::kNone;
  std::string remote;  // kRemote: HOST:PORT; kRemoteCmd: the command
  std::string corePath;
  std::vector<ProxyRamImage> ramImages;
  bool listen = false;  // accept GDB on 127.0.0.1:listenPort instead of stdio
  std::uint16_t listenPort = 0;
  std::string pluginPath;   // empty: found beside the proxy, else on PATH
  bool sendCacheOn = true;  // --no-cache clears it
  bool blockCache = true;   // --no-block-cache clears it
  std::uint32_t probeDelayMs = 0;
  std::string statsPath;
  bool verbose = false;
  bool help = false;
};

// The usage text, with the program name.
std::string ProxyUsage(std::string_view program);

// Reads the command line; false with a reason in *error for an unknown
// option, a missing or bad value, no --elf, no or more than one kind of
// target (--core and --ram may go together), or --help alone is fine.
[[nodiscard]] bool ProxyParseCommandLine(int argc, const char* const* argv, ProxyOptions* options,
                                         std::string* error);

// The plug-in executable to start: --plugin, else an `osa_plugin` beside the
// proxy (`selfPath`'s directory, its parent, then ../bin), else the bare
// name for PATH.
std::string ProxyFindPlugin(std::string_view selfPath, std::string_view pluginOption);
