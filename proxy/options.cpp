// The command line of osa_gdbproxy (see options.h).
#include "proxy/options.h"

#include <unistd.h>

#include <charconv>

#include "dwarf/core_dump.h"

namespace {

bool ParseNumber(std::string_view text, std::uint64_t limit, std::uint64_t* value) {
  std::uint64_t number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || number > limit) {
    return false;
  }
  *value = number;
  return true;
}

bool IsExecutable(const std::string& path) {
  return access(path.c_str(), X_OK) == 0;
}

// The directory part of a path ("" for a bare name).
std::string DirectoryOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return "";
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

}  // namespace

std::string ProxyUsage(std::string_view program) {
  return "usage: " + std::string(program) +
         " --elf APP.elf (--remote HOST:PORT | --remote-cmd \"COMMAND\" | --core FILE |"
         " --ram FILE@ADDRESS ...)\n"
         "       [--listen PORT] [--plugin PATH] [--no-cache] [--no-block-cache]\n"
         "       [--probe-delay-ms N] [--stats FILE] [--verbose]\n"
         "A gdb-remote server that shows the kernel's tasks as threads. Without --listen,\n"
         "GDB talks over standard input and output: target remote | " +
         std::string(program) + " ...\n";
}

bool ProxyParseCommandLine(int argc, const char* const* argv, ProxyOptions* options,
                           std::string* error) {
  ProxyOptions read;
  bool live = false;
  for (int index = 1; index < argc; ++index) {
    const std::string_view option = argv[index];
    const bool takesValue = option == "--elf" || option == "--remote" || option == "--remote-cmd" ||
                            option == "--core" || option == "--ram" || option == "--listen" ||
                            option == "--plugin" || option == "--probe-delay-ms" ||
                            option == "--stats";
    if (takesValue && index + 1 >= argc) {
      *error = std::string(option) + " needs a value";
      return false;
    }
    const std::string_view value = takesValue ? argv[++index] : std::string_view();
    std::uint64_t number = 0;
    if (option == "--elf") {
      read.elfPath = value;
    } else if (option == "--remote" || option == "--remote-cmd") {
      if (live) {
        *error = "only one of --remote and --remote-cmd may be given";
        return false;
      }
      live = true;
      read.source = option == "--remote" ? ProxySource::kRemote : ProxySource::kRemoteCmd;
      read.remote = value;
      if (read.remote.empty()) {
        *error = std::string(option) + " needs a non-empty value";
        return false;
      }
    } else if (option == "--core") {
      if (!read.corePath.empty()) {
        *error = "only one --core may be given";
        return false;
      }
      read.corePath = value;
    } else if (option == "--ram") {
      ProxyRamImage image;
      if (!DumpParseRawArgument(value, &image.path, &image.address, error)) {
        *error = "--ram " + std::string(value) + ": " + *error;
        return false;
      }
      read.ramImages.push_back(std::move(image));
    } else if (option == "--listen") {
      if (!ParseNumber(value, 65535, &number) || number == 0) {
        *error = "--listen needs a port number from 1 to 65535";
        return false;
      }
      read.listen = true;
      read.listenPort = static_cast<std::uint16_t>(number);
    } else if (option == "--plugin") {
      read.pluginPath = value;
    } else if (option == "--no-cache") {
      read.sendCacheOn = false;
    } else if (option == "--no-block-cache") {
      read.blockCache = false;
    } else if (option == "--probe-delay-ms") {
      if (!ParseNumber(value, 60'000, &number)) {
        *error = "--probe-delay-ms needs a number of milliseconds up to 60000";
        return false;
      }
      read.probeDelayMs = static_cast<std::uint32_t>(number);
    } else if (option == "--stats") {
      read.statsPath = value;
    } else if (option == "--verbose" || option == "-v") {
      read.verbose = true;
    } else if (option == "--help" || option == "-h") {
      read.help = true;
    } else {
      *error = "unknown option " + std::string(option);
      return false;
    }
  }
  if (read.help) {
    *options = std::move(read);
    return true;
  }
  const bool dump = !read.corePath.empty() || !read.ramImages.empty();
  if (live && dump) {
    *error = "--remote/--remote-cmd and --core/--ram exclude each other";
    return false;
  }
  if (!live && !dump) {
    *error = "no target: give --remote, --remote-cmd, --core or --ram";
    return false;
  }
  if (dump) read.source = read.corePath.empty() ? ProxySource::kRam : ProxySource::kCore;
  if (read.elfPath.empty()) {
    *error = "--elf APP.elf is required";
    return false;
  }
  *options = std::move(read);
  return true;
}

std::string ProxyFindPlugin(std::string_view selfPath, std::string_view pluginOption) {
  if (!pluginOption.empty()) return std::string(pluginOption);
  std::string self(selfPath);
  // A bare program name was found on PATH: ask the system where it lies.
  char resolved[4096];
  const ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
  if (length > 0) self.assign(resolved, static_cast<std::size_t>(length));
  const std::string directory = DirectoryOf(self);
  if (!directory.empty()) {
    const std::string parent = DirectoryOf(directory);
    for (const std::string& candidate :
         {directory + "/osa_plugin", parent + "/osa_plugin", parent + "/bin/osa_plugin",
          directory + "/../bin/osa_plugin"}) {
      if (IsExecutable(candidate)) return candidate;
    }
  }
  return "osa_plugin";
}
