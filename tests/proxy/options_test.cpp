// Tests of osa_gdbproxy's command line.
#include "proxy/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Parse(std::vector<const char*> arguments, ProxyOptions* options, std::string* error) {
  arguments.insert(arguments.begin(), "osa_gdbproxy");
  return ProxyParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), options,
                               error);
}

TEST(ProxyOptions, ReadsEveryOption) {
  ProxyOptions options;
  std::string error;
  ASSERT_TRUE(Parse(
      {"--elf", "a.elf", "--remote", "localhost:1234", "--listen", "3333", "--plugin", "/p",
       "--no-cache", "--no-block-cache", "--probe-delay-ms", "1", "--stats", "s.txt", "--verbose"},
      &options, &error))
      << error;
  EXPECT_EQ("a.elf", options.elfPath);
  EXPECT_EQ(ProxySource::kRemote, options.source);
  EXPECT_EQ("localhost:1234", options.remote);
  EXPECT_TRUE(options.listen);
  EXPECT_EQ(3333, options.listenPort);
  EXPECT_EQ("/p", options.pluginPath);
  EXPECT_FALSE(options.sendCacheOn);
  EXPECT_FALSE(options.blockCache);
  EXPECT_EQ(1u, options.probeDelayMs);
  EXPECT_EQ("s.txt", options.statsPath);
  EXPECT_TRUE(options.verbose);

  ASSERT_TRUE(Parse({"--elf", "a.elf", "--ram", "r1.bin@0x20000000", "--ram", "r2.bin@4096"},
                    &options, &error))
      << error;
  EXPECT_EQ(ProxySource::kRam, options.source);
  ASSERT_EQ(2u, options.ramImages.size());
  EXPECT_EQ(0x20000000u, options.ramImages[0].address);
  EXPECT_EQ("r2.bin", options.ramImages[1].path);
  EXPECT_EQ(4096u, options.ramImages[1].address);
  EXPECT_TRUE(options.sendCacheOn);
  EXPECT_TRUE(options.blockCache);

  ASSERT_TRUE(Parse({"--core", "c", "--elf", "a.elf", "--ram", "r@0x0"}, &options, &error));
  EXPECT_EQ(ProxySource::kCore, options.source);
  ASSERT_TRUE(Parse({"--elf", "a.elf", "--remote-cmd", "qemu -gdb stdio"}, &options, &error));
  EXPECT_EQ(ProxySource::kRemoteCmd, options.source);
  ASSERT_TRUE(Parse({"--help"}, &options, &error));
  EXPECT_TRUE(options.help);
}

TEST(ProxyOptions, RefusesBadCommandLines) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{"--remote", "h:1"}, "--elf APP.elf is required"},
      {{"--elf", "a"}, "no target: give --remote, --remote-cmd, --core or --ram"},
      {{"--elf", "a", "--remote", "h:1", "--core", "c"},
       "--remote/--remote-cmd and --core/--ram exclude each other"},
      {{"--elf", "a", "--remote", "h:1", "--remote-cmd", "x"},
       "only one of --remote and --remote-cmd may be given"},
      {{"--elf", "a", "--core", "c", "--core", "d"}, "only one --core may be given"},
      {{"--elf", "a", "--remote", "h:1", "--listen", "0"},
       "--listen needs a port number from 1 to 65535"},
      {{"--elf", "a", "--remote", "h:1", "--listen", "70000"},
       "--listen needs a port number from 1 to 65535"},
      {{"--elf", "a", "--remote", "h:1", "--probe-delay-ms", "x"},
       "--probe-delay-ms needs a number of milliseconds up to 60000"},
      {{"--elf", "a", "--remote", ""}, "--remote needs a non-empty value"},
      {{"--elf"}, "--elf needs a value"},
      {{"--elf", "a", "--frobnicate"}, "unknown option --frobnicate"},
  };
  for (const auto& [arguments, reason] : cases) {
    ProxyOptions options;
    std::string error;
    EXPECT_FALSE(Parse(arguments, &options, &error)) << reason;
    EXPECT_EQ(reason, error);
  }
  ProxyOptions options;
  std::string error;
  EXPECT_FALSE(Parse({"--elf", "a", "--ram", "noaddress"}, &options, &error));
  EXPECT_TRUE(error.starts_with("--ram noaddress: ")) << error;
}

TEST(ProxyOptions, PluginOptionWinsOverTheSearch) {
  EXPECT_EQ("/x/osa_plugin", ProxyFindPlugin("/anything/osa_gdbproxy", "/x/osa_plugin"));
  const std::string found = ProxyFindPlugin("osa_gdbproxy", "");
  EXPECT_TRUE(found == "osa_plugin" || found.ends_with("/osa_plugin")) << found;
}

}  // namespace
