// Memory and registers of a stopped target taken from dump files, laid over
// a model that DwarfLoadImage filled from the program's ELF file: ELF core
// files (GDB's gcore, QEMU's dump-guest-memory) and raw memory images that
// carry no address of their own ("FILE@ADDRESS").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/target_model.h"

// What a dump contributed.
struct DumpContents {
  bool hasRegisters = false;    // r0-r15 and xPSR came from the dump
  bool hasFpRegisters = false;  // s0-s31 and fpscr came from the dump
  std::uint32_t regions = 0;    // memory ranges laid over the model
  std::uint64_t bytes = 0;      // bytes those ranges hold
};

// Bytes of one dump file at most: a dump of the whole 4 GiB address space
// cannot be held anyway, and a bound keeps a hostile file from exhausting memory.
inline constexpr std::uint64_t kDumpMaxBytes = std::uint64_t{1} << 31;

// Reads an ELF core file of a 32-bit ARM target: each PT_LOAD segment with
// bytes in the file becomes mapped memory (its bytes replace whatever the
// model held there, such as section contents from the ELF: RAM in the dump
// wins), the first NT_PRSTATUS note gives r0-r15 and xPSR (from its cpsr;
// an A-profile CPSR, as QEMU's dump-guest-memory writes, keeps its flags
// and gets the Thumb bit, its exception number unknown and left 0),
// and an ARM VFP note, if any, s0-s31 and fpscr. Without NT_PRSTATUS the
// registers stay as they were. `contents` may be null. Fails with a reason
// in *error when the file cannot be read or is not an ELF core; the model
// then holds what was laid over it before the failure.
[[nodiscard]] bool DumpLoadCore(std::string_view corePath, model::TargetModel* model,
                                std::string* error, DumpContents* contents = nullptr);

// Places the raw bytes of `path` at `address` (the image must end at or
// below 4 GiB); bytes the model already maps there are replaced. A raw image
// has no registers: they stay as they were. Repeatable for several images.
[[nodiscard]] bool DumpLoadRaw(std::string_view path, std::uint32_t address,
                               model::TargetModel* model, std::string* error,
                               DumpContents* contents = nullptr);

// Splits "FILE@ADDRESS" (address in decimal or 0x-hex, at most 32 bits) at
// its last '@'. False with a reason in *error when there is no '@', the
// file part is empty or the address is not a number that fits.
[[nodiscard]] bool DumpParseRawArgument(std::string_view argument, std::string* path,
                                        std::uint32_t* address, std::string* error);

// Lays `size` bytes at `address` over the model's memory: bytes of mapped
// regions in the range are overwritten, the rest of the range is mapped.
// False when the range is empty or passes 4 GiB.
[[nodiscard]] bool DumpOverlayMemory(model::TargetMemory* memory, std::uint32_t address,
                                     const std::uint8_t* data, std::uint64_t size);

// Makes the model's live registers unknown: every read and write of them
// fails, as for a target whose registers nobody saved.
void DumpForgetRegisters(model::TargetModel* model);

// Whether the model's live registers are known (not forgotten as above).
bool DumpHasRegisters(const model::TargetModel& model);

// Some live registers known by other means than a dump (the user noted the
// stop address, a crash log gives pc and lr): r0-r15, xPSR, s0-s31, fpscr.
struct DumpKnownRegisters {
  std::array<bool, model::kRegFpscr + 1> known{};
  std::array<std::uint32_t, model::kRegFpscr + 1> values{};
};

// Makes the model read and write exactly the registers `known` holds (writes
// go into it); every other register fails. `known` is borrowed and must
// outlive the model's use of its registers. The values also go into the
// model's register file, which the routine look-ups at pc and lr read.
void DumpUseKnownRegisters(model::TargetModel* model, DumpKnownRegisters* known);

// Reads "NAME=VALUE" (a register name as RegisterName gives it, such as
// "pc", "lr", "r4", "xpsr", "s3"; a value as the model evaluates it: a
// number or a routine or symbol name) into `known`. False with a reason in
// *error.
[[nodiscard]] bool DumpParseRegisterArgument(std::string_view argument,
                                             const model::TargetModel& model,
                                             DumpKnownRegisters* known, std::string* error);
