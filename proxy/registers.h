// The target's registers as GDB sees them: the layout that the target
// description (target.xml and its includes) gives the 'g' packet, each
// register tied to the kernel's register number (model/register_file.h), and
// the 'g' data encoded from or decoded into those numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// No kernel register behind a description register.
inline constexpr std::int32_t kProxyNoKernelRegister = -1;

// One register of the description, in the order of the 'g' data.
struct ProxyRegister {
  std::string name;
  std::uint32_t number = 0;  // the remote protocol's number ('p', 'P')
  std::uint32_t bits = 32;
  std::uint32_t offset = 0;  // byte offset in the 'g' data
  // The kernel register it shows; a 64-bit d register shows two s registers,
  // kernel (low half) and kernelHigh (high half).
  std::int32_t kernel = kProxyNoKernelRegister;
  std::int32_t kernelHigh = kProxyNoKernelRegister;
};

struct ProxyRegisterLayout {
  std::vector<ProxyRegister> registers;  // by remote number
  std::uint32_t bytes = 0;               // size of the whole 'g' data
  // The part the proxy sends as its 'g' reply: the registers before the
  // first floating-point one. GDB then reads the rest, when it needs them,
  // one at a time with 'p', so a task's FPU registers are only looked up
  // on demand.
  std::uint32_t gBytes = 0;
  bool bigEndian = false;  // byte order of the values in the data
};

// Reads the description document `annex` (for the whole target: "target.xml")
// through `fetch`, following <xi:include href="..."/> (at most a few levels
// deep), and fills *layout. False with a reason when a document cannot be had
// or it names no register.
using ProxyAnnexFetch = std::function<bool(std::string_view annex, std::string* text)>;
[[nodiscard]] bool ProxyParseDescription(const ProxyAnnexFetch& fetch, bool bigEndian,
                                         ProxyRegisterLayout* layout, std::string* error);

// The description the proxy serves when the upstream has none (post-mortem,
// or a server without qXfer:features:read): an M-profile core, with the
// single-precision FPU's d0-d15 and fpscr when `withFpu`.
std::string_view ProxyBuiltinDescription(bool withFpu);

// The kernel register number of a description register's name, or
// kProxyNoKernelRegister ("r4" -> 4, "sp" -> 13, "xpsr" -> 16, "s3" -> 20,
// "fpscr" -> 49).
std::int32_t ProxyKernelRegisterOf(std::string_view name);

// Reads one kernel register (32 bits); false when it is not available.
using ProxyKernelRead = std::function<bool(std::int32_t kernel, std::uint32_t* value)>;

// The 'g' data as hex, each register from `read`; registers that cannot be
// read (or have no kernel register) are sent as "xx" bytes (unavailable).
std::string ProxyEncodeRegisters(const ProxyRegisterLayout& layout, const ProxyKernelRead& read);

// One register's value as hex in target byte order ("xx.." when unavailable).
std::string ProxyEncodeRegister(const ProxyRegisterLayout& layout, const ProxyRegister& reg,
                                const ProxyKernelRead& read);

// 'g' data decoded: bytes and which of them were sent as available.
struct ProxyRegisterData {
  std::vector<std::uint8_t> bytes;
  std::vector<bool> available;
};

// Decodes hex 'g' data ("xx" pairs are unavailable bytes). False when the
// text is not hex pairs. Data shorter than the layout leaves the rest
// unavailable.
[[nodiscard]] bool ProxyDecodeRegisterData(const ProxyRegisterLayout& layout, std::string_view hex,
                                           ProxyRegisterData* data);

// A kernel register (32 bits) taken from decoded 'g' data; false when no
// description register holds it or its bytes are unavailable.
[[nodiscard]] bool ProxyKernelFromData(const ProxyRegisterLayout& layout,
                                       const ProxyRegisterData& data, std::int32_t kernel,
                                       std::uint32_t* value);

// The description register with remote number `number`, or nullptr.
const ProxyRegister* ProxyFindRegister(const ProxyRegisterLayout& layout, std::uint32_t number);

// The description register that holds kernel register `kernel` (for a d
// register: either half), or nullptr.
const ProxyRegister* ProxyRegisterOfKernel(const ProxyRegisterLayout& layout, std::int32_t kernel);

// A register value from hex in target byte order (at most 8 bytes). False
// when the text is not `bits / 4` hex digits.
[[nodiscard]] bool ProxyDecodeRegisterValue(const ProxyRegisterLayout& layout,
                                            const ProxyRegister& reg, std::string_view hex,
                                            std::uint64_t* value);
