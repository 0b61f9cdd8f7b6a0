// Kernel structure access: the plug-in knows no layout of its own, so every
// member is found by having the debugger evaluate its address and size
// ("&((T *)base)->member", "sizeof(((T *)base)->member)") and then reading
// that many bytes of target memory. Also the text helpers shared by the
// kernel-awareness code and its error messages.
//
// All target addresses here are 32-bit; every memory access uses memory
// space 4, no task and no core. Out values are written only on success.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "kernel/target_cache.h"
#include "osa/plugin_api.h"

// x as "%u" and as "0x%x".
std::string FormatUnsigned(std::uint32_t x);
std::string FormatHex(std::uint32_t x);

// A member of the kernel object of C type `typeName` at target address
// `base`, by its path ("wait_timer.active.next"). The texts are borrowed for
// the call.
struct ObjectMember {
  const char* typeName;
  std::uint32_t base;
  const char* path;
};

// The two expressions asked of a member: its address, "&((<type> *)<base>)-><path>",
// and its size, "sizeof(((<type> *)<base>)-><path>)".
enum class MemberExpression : std::uint8_t { kAddress, kSize };

// Writes the expression into `buffer` as printf would (null texts as
// "(null)"), cut to the buffer's size less one and terminated; returns its
// length. Made without printf, as it is asked for nearly every attribute.
std::size_t FormatMemberExpression(const ObjectMember& member, MemberExpression which,
                                   std::span<char> buffer);

// How a member read as text is shown.
enum class MemberText : std::uint8_t {
  kHex,             // "0x%x"
  kDecimal,         // "%u"
  kDecimalOrEmpty,  // "%u", the empty text when the low 32 bits are 0
};

struct MemberReadOptions {
  MemberText text = MemberText::kHex;
  // A 4-byte address read as 64 bits keeps its sign when the debugger asks
  // for that (signExtendAddressFrom4BytesTo8Bytes).
  bool signExtendAddress = false;
};

// Formats the pattern (cut to 2047 bytes) and evaluates it: kind Text goes
// through OSA_Service_StringEval as "`print /a <expr>+0`", every other kind
// through OSA_Service_ExpressionEval, the answer stored in that kind. Returns
// the service's status.
[[nodiscard]] KernelStatus EvaluateFormatted(OSA_ServiceCntx* context, OsaValue* out,
                                             OsaValueKind kind, const char* pattern, ...)
    __attribute__((format(printf, 4, 5)));

// EvaluateFormatted of kind UInt32 for an expression whose answer cannot
// change while the program is loaded (a member offset, a size, the address
// of a static symbol): with the kernel's cache on it is asked once per
// TargetInit.
[[nodiscard]] KernelStatus EvaluateLayout(OSA_ServiceCntx* context, const KernelContext& kernel,
                                          OsaValue* out, const char* pattern, ...)
    __attribute__((format(printf, 4, 5)));

// Whether "&((<typeName> *)0)-><member>" evaluates, i.e. the type has it;
// the second form asks once per TargetInit when the kernel's cache is on.
bool KernelMemberExists(OSA_ServiceCntx* context, const char* typeName, const char* member);
bool KernelMemberExists(OSA_ServiceCntx* context, const KernelContext& kernel, const char* typeName,
                        const char* member);

// Reads `size` (1 to 8) bytes at a target address, zero-extended into *value.
[[nodiscard]] KernelStatus ReadTargetBytes(OSA_ServiceCntx* context, std::uint32_t address,
                                           std::uint32_t size, std::uint64_t* value);

// ReadTargetBytes through the kernel's cache: with it on, the bytes may come
// from a kept copy of target memory, or `block` around them is read as a
// whole first.
[[nodiscard]] KernelStatus ReadTargetBytes(OSA_ServiceCntx* context, const KernelContext& kernel,
                                           std::uint32_t address, std::uint32_t size,
                                           std::uint64_t* value, TargetBlock block = {});

// ReadKernelVariable of "&((<typeName> *)<base>)-><path>", the same
// requests and messages, through the kernel's cache: with it on, the
// member's offset is asked once and the whole structure read at once.
[[nodiscard]] KernelStatus ReadKernelMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                                            const ObjectMember& member, std::uint32_t size,
                                            const char* description, OsaValue* out);

// ReadKernelVariable of a static symbol's address expression through the
// kernel's cache (the address asked once, the bytes kept until the target
// runs).
[[nodiscard]] KernelStatus ReadKernelSymbol(OSA_ServiceCntx* context, const KernelContext& kernel,
                                            OsaValue* out, std::uint32_t size,
                                            const char* description, const char* expression);

// Evaluates the formatted address expression and reads `size` bytes there;
// *out becomes kind UInt32 with the bytes zero-extended. Failures show
// "Error: Unable to format|parse|read <description>\n".
[[nodiscard]] KernelStatus ReadKernelVariable(OSA_ServiceCntx* context, OsaValue* out,
                                              std::uint32_t size, const char* description,
                                              const char* pattern, ...)
    __attribute__((format(printf, 5, 6)));

// Reads the member and delivers it by out->kind: Text (as options.text
// says), UInt32 (low 32 bits), UInt64 and Address (all 64 bits, sign-extended
// from 4 bytes when options.signExtendAddress and the debugger asked for
// it). Members larger than 8 bytes are read up to their first 8 bytes.
[[nodiscard]] KernelStatus ReadObjectMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                                            const ObjectMember& member, MemberReadOptions options,
                                            OsaValue* out);

// ReadObjectMember for a member that only some builds of the kernel have:
// when its address does not evaluate, *present becomes false and the status
// is kOk, with no message and no further request. A member that exists
// costs the same requests as with ReadObjectMember.
[[nodiscard]] KernelStatus ReadOptionalObjectMember(OSA_ServiceCntx* context,
                                                    const KernelContext& kernel,
                                                    const ObjectMember& member,
                                                    MemberReadOptions options, OsaValue* out,
                                                    bool* present);

// A member as a number (kind UInt32), for the kernel code's own arithmetic.
[[nodiscard]] KernelStatus ReadObjectWord(OSA_ServiceCntx* context, const KernelContext& kernel,
                                          const ObjectMember& member, std::uint32_t* value);

// The name of the object whose core (struct QX_OBJECT_STRUCT) is at
// coreAddress, as text (at most 127 printable characters; "" for none).
[[nodiscard]] KernelStatus ReadObjectName(OSA_ServiceCntx* context, std::uint32_t coreAddress,
                                          OsaValue* out);
// The same through the kernel's cache (the form above has none).
[[nodiscard]] KernelStatus ReadObjectName(OSA_ServiceCntx* context, const KernelContext& kernel,
                                          std::uint32_t coreAddress, OsaValue* out);

// A printable text of at most `limit` characters at `address`, read in
// pieces of 32 bytes; it ends at a NUL or at the first unprintable byte.
// nullopt when limit < 1 or a read fails.
std::optional<std::string> ReadTargetString(OSA_ServiceCntx* context, std::int32_t memorySpace,
                                            std::uint32_t address, std::int32_t limit);
// The same through the cache of `kernel` (may be null: no cache).
std::optional<std::string> ReadTargetString(OSA_ServiceCntx* context, const KernelContext* kernel,
                                            std::int32_t memorySpace, std::uint32_t address,
                                            std::int32_t limit);

// A priority member: version 1 kernels store priorities inverted
// (shown = maxPriorities - 1 - stored), and so is "static_priority" on every
// version. Delivered as text "%u", UInt32 or UInt64.
[[nodiscard]] KernelStatus ReadPriority(OSA_ServiceCntx* context, const KernelContext& kernel,
                                        const ObjectMember& member, OsaValue* out);

// Delivers a number by kind: Text "%u", UInt32, UInt64 zero-extended. False
// for every other kind (nothing written).
bool DeliverNumber(OsaValue* out, std::uint32_t x);
