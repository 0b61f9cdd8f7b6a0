// The start-up check: targets stopped in a reset entry (current or caller
// frame, with or without one more leading underscore) or with pc inside a
// reset or boot section are refused; everything else is accepted.
#include <gtest/gtest.h>

#include <string>

#include "kernel/discovery.h"
#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

constexpr const char* kNotInitialized =
    "Error: Cannot start OSA before data and bss are initialized.\n";

class StartCheck : public ModelTarget {
 public:
  // A new routine after all others; its address.
  std::uint32_t AddRoutine(const std::string& name) {
    std::uint32_t end = 0;
    for (const model::Symbol& symbol : model.symbols.symbols) {
      if (symbol.kind == model::SymbolKind::kRoutine)
        end = std::max(end, symbol.address + symbol.size);
    }
    const std::uint32_t address = (end + 0xFF) & ~0xFFu;
    EXPECT_TRUE(model::AddSymbol(&model.symbols,
                                 model::Symbol{name, model::SymbolKind::kRoutine, address, 64, 0}));
    return address;
  }

  // The routine of that name, added when the kernel has none.
  std::uint32_t RoutineAddress(const std::string& name) {
    if (const model::Symbol* symbol = Symbol(name)) return symbol->address;
    return AddRoutine(name);
  }

  void SetPc(std::uint32_t pc) { model.registers.values[model::kRegPc] = pc; }
  void SetLr(std::uint32_t lr) { model.registers.values[model::kRegLr] = lr; }

  std::uint32_t LinkerAddress(const char* name) {
    const model::Symbol* symbol = Symbol(name);
    EXPECT_NE(symbol, nullptr) << name;
    return symbol == nullptr ? 0 : symbol->address;
  }

  // TargetInit's status; a refused target leaves no record.
  std::int32_t Init() {
    std::int32_t status = -1;
    const KernelContext* kernel = TargetInit(&status);
    EXPECT_EQ(kernel != nullptr, status == 0);
    return status;
  }
};

TEST_F(StartCheck, ResetEntriesInEitherFrameAreRefused) {
  const char* const entries[] = {"qx_cpu_reset_handler", "entRESET", "_start", "_start_T",
                                 "__hrx_ind_crt0"};
  for (const char* entry : entries) {
    for (const std::string& name : {std::string(entry), "_" + std::string(entry)}) {
      for (const bool callerFrame : {false, true}) {
        SCOPED_TRACE(name + (callerFrame ? " (caller)" : " (current)"));
        ASSERT_TRUE(Open("v1-mask-core-32"));
        const std::uint32_t address = RoutineAddress(name) + 4;
        if (callerFrame) {
          SetLr(address | 1);
        } else {
          SetPc(address);
        }
        EXPECT_EQ(Init(), 2);
        EXPECT_EQ(Messages(), std::vector<std::string>{kNotInitialized});
      }
    }
  }
}

TEST_F(StartCheck, NamesThatOnlyResembleResetEntriesAreAccepted) {
  for (const char* name : {"___start", "start", "_START", "_start_TT", "xentRESET"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Open("v3-32"));
    SetPc(AddRoutine(name) + 8);
    EXPECT_EQ(Init(), 0);
  }
}

TEST_F(StartCheck, CommandsAreSentExactlyWithOutputMaskOne) {
  ASSERT_TRUE(Open("v1-mask-core-32"));
  EXPECT_EQ(TargetStartCheck(&context), 0u);
  const auto commands = RequestsWith("OSA_Service_CommandExec");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_NE(commands[0].find(R"("command" : "E 1; mprintf(\"%s\", $_PROCEDURE);", )"
                             R"("outputMask" : 1)"),
            std::string::npos)
      << commands[0];
  EXPECT_NE(commands[1].find(R"("command" : "E; mprintf(\"%s\", $_PROCEDURE);", )"
                             R"("outputMask" : 1)"),
            std::string::npos)
      << commands[1];
}

TEST_F(StartCheck, CallerFrameWithoutNameComparesOnlyTheCurrentOne) {
  ASSERT_TRUE(Open("v1-mask-core-32"));
  SetLr(0);  // no routine: the caller-frame command fails
  EXPECT_EQ(TargetStartCheck(&context), 0u);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StartCheck, CurrentProcedureUnknownIsRefused) {
  ASSERT_TRUE(Open("v1-mask-core-32"));
  SetPc(0);
  EXPECT_EQ(Init(), 2);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Error: Unable to obtain current procedure for OSA.\n"});
}

struct SectionRow {
  const char* variant;
  const char* begin;
  const char* end;
};

// pc in [begin, end) of a boot section is refused, pc at its end accepted;
// the three-underscore symbols stand in when the two-underscore begin
// symbol is missing.
TEST_F(StartCheck, PcInsideBootSectionsIsRefusedUpToItsEnd) {
  const SectionRow rows[] = {
      {"v1-mask-core-32", "__hrxbegin_boottext", "__hrxend_boottext"},
      {"v1-mask-union-64", "___hrxbegin_boottext", "___hrxend_boottext"},
  };
  for (const SectionRow& row : rows) {
    SCOPED_TRACE(row.variant);
    ASSERT_TRUE(Open(row.variant));
    const std::uint32_t begin = LinkerAddress(row.begin);
    const std::uint32_t end = LinkerAddress(row.end);
    ASSERT_LT(begin, end);
    for (const std::uint32_t pc : {begin, end - 1}) {
      SetPc(pc);
      Forget();
      EXPECT_EQ(TargetStartCheck(&context), 1u) << std::hex << pc;
      EXPECT_EQ(Messages(), std::vector<std::string>{kNotInitialized});
    }
    SetPc(end);
    Forget();
    EXPECT_EQ(TargetStartCheck(&context), 0u);
    EXPECT_TRUE(Messages().empty());
    // Every section is probed in order; a missing begin symbol is retried
    // with three underscores.
    const auto probes = RequestsWith("hrx");
    ASSERT_GE(probes.size(), 2u);
    EXPECT_NE(probes[0].find(R"("expression" : "__hrxbegin_reset")"), std::string::npos);
  }
}

TEST_F(StartCheck, ResetSectionRefusesByAddressAlone) {
  ASSERT_TRUE(Open("v3-64"));
  // A section named after no routine: only its bounds say it is reset code.
  const std::uint32_t begin = LinkerAddress("__hrxbegin_reset");
  Symbol("qx_cpu_reset_handler")->name = "vector_code";
  SetPc(begin + 2);
  EXPECT_EQ(Init(), 2);
  EXPECT_EQ(Messages(), std::vector<std::string>{kNotInitialized});
}

}  // namespace
}  // namespace kernel_test
