// osa_postmortem's command line, and runs over files that hold no kernel or
// cannot be loaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debugger/front_end.h"
#include "postmortem/postmortem.h"

namespace {

const std::string kLayouts =
    std::string(OSA_SOURCE_DIR) + "/fuzz/corpus/dwarf_image/layouts-dwarf5.elf";
const std::string kCore = std::string(OSA_SOURCE_DIR) + "/fuzz/corpus/dwarf_image/small.core";

bool Parse(std::vector<const char*> args, PmOptions* options, std::string* error) {
  args.insert(args.begin(), "osa_postmortem");
  return PmParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(PmParseCommandLine, ReadsEveryOption) {
  PmOptions options;
  std::string error;
  ASSERT_TRUE(Parse(
      {"--elf", "app.elf", "--core", "app.core", "--ram", "a.bin@0x20000000", "--ram", "b.bin@4096",
       "--register", "pc=main", "--plugin", "./osa_plugin", "--record", "out.rec"},
      &options, &error))
      << error;
  EXPECT_EQ(options.elfPath, "app.elf");
  EXPECT_EQ(options.corePath, "app.core");
  EXPECT_EQ(options.rawImages, (std::vector<std::string>{"a.bin@0x20000000", "b.bin@4096"}));
  EXPECT_EQ(options.registers, std::vector<std::string>{"pc=main"});
  EXPECT_EQ(options.transport, DbgTransport::kPipe);
  EXPECT_EQ(options.pluginPath, "./osa_plugin");
  EXPECT_EQ(options.recordPath, "out.rec");
}

TEST(PmParseCommandLine, RefusesIncompleteCommandLines) {
  const struct {
    std::vector<const char*> args;
    const char* reason;
  } rows[] = {
      {{"--core", "app.core"}, "--elf is required"},
      {{"--elf", "app.elf"}, "a dump is required"},
      {{"--elf"}, "--elf needs a value"},
      {{"--elf", "app.elf", "--ram", "image.bin"}, "FILE@ADDRESS"},
      {{"--elf", "app.elf", "--ram", "image.bin@0x1@"}, "not a 32-bit number"},
      {{"--elf", "app.elf", "--core", "c", "--register", "pc"}, "NAME=VALUE"},
      {{"--elf", "app.elf", "--core", "c", "--plugin", "p", "--in-process"}, "exclude"},
      {{"--elf", "app.elf", "--core", "c", "--variant", "v1"}, "unknown option --variant"},
  };
  for (const auto& row : rows) {
    PmOptions options;
    std::string error;
    EXPECT_FALSE(Parse(row.args, &options, &error)) << row.reason;
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
  PmOptions options;
  std::string error;
  ASSERT_TRUE(Parse({"--help"}, &options, &error));
  EXPECT_TRUE(options.help);
}

PmOptions Options(std::string elf, std::string core, std::vector<std::string> raw = {},
                  std::vector<std::string> registers = {}) {
  PmOptions options;
  options.elfPath = std::move(elf);
  options.corePath = std::move(core);
  options.rawImages = std::move(raw);
  options.registers = std::move(registers);
  return options;
}

TEST(PmRun, FilesThatCannotBeLoadedEndTheRun) {
  const struct {
    PmOptions options;
    const char* reason;
  } rows[] = {
      {Options("/nonexistent.elf", kCore), "cannot open /nonexistent.elf"},
      {Options(kLayouts, kLayouts), "not an ELF core"},
      {Options(kLayouts, "", {"/nonexistent.bin@0x0"}), "cannot open"},
      {Options(kLayouts, kCore, {}, {"pc=no_such_routine"}), "does not evaluate"},
  };
  for (const auto& row : rows) {
    std::string out;
    std::string err;
    EXPECT_EQ(PmRun(row.options, &out, &err), kPmExitLoad) << row.reason;
    EXPECT_NE(err.find(row.reason), std::string::npos) << err;
  }
}

TEST(PmRun, AProgramWithoutTheKernelIsNotRecognised) {
  PmOptions options;
  options.elfPath = kLayouts;
  options.corePath = kCore;
  options.registers = {"pc=layout_use"};
  std::string out;
  std::string err;
  EXPECT_EQ(PmRun(options, &out, &err), kDbgExitOk) << err;
  EXPECT_NE(out.find("Core: " + kCore + " (2 memory ranges, 96 bytes, registers with FP)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("did not recognise the kernel"), std::string::npos) << out;
}

TEST(PmRun, WithoutRegistersTheLiveRegistersAreUnknown) {
  PmOptions options;
  options.elfPath = kLayouts;
  options.rawImages = {kCore + "@0x20000000"};  // any bytes serve as a RAM image
  std::string out;
  std::string err;
  EXPECT_EQ(PmRun(options, &out, &err), kDbgExitOk) << err;
  EXPECT_NE(out.find("Live registers: unknown"), std::string::npos) << out;
  EXPECT_EQ(out.find("Tasks ("), std::string::npos) << out;
}

}  // namespace
