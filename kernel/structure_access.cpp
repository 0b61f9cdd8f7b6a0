// Kernel structure access: member addresses and sizes evaluated by the
// debugger, member and variable reads, object names and target texts, and
// the number and text helpers the kernel-awareness code shares.
#include "kernel/structure_access.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "kernel/kernel_messages.h"
#include "kernel/target_cache.h"
#include "osa/service_requests.h"
#include "runtime/text_format.h"

namespace {

// Expressions are formatted into a buffer of this size; longer ones are cut.
constexpr std::size_t kExpressionBufferSize = 2048;
// Texts from the target are read in pieces of at most this many bytes, so a
// short name costs one read.
constexpr std::int32_t kTextPieceSize = 32;
// Longest object name taken from the target.
constexpr std::int32_t kObjectNameLimit = 127;
// The number buffers of FormatUnsigned and FormatHex.
constexpr std::size_t kNumberBufferSize = 21;
// The payload holds at most two 4-byte elements.
constexpr std::uint32_t kWordSize = 4;
constexpr std::uint32_t kMaxPayloadWords = 2;

// Formats an expression into *buffer as vsnprintf would: cut to the
// buffer's size less one, always terminated, empty when the pattern cannot
// be formatted. The plug-in's patterns are formatted without printf.
__attribute__((format(printf, 2, 0))) void FormatExpression(
    std::array<char, kExpressionBufferSize>* buffer, const char* pattern, std::va_list args) {
  // Per thread and only used within this call, so it stops allocating once
  // it has grown to the longest expression.
  thread_local std::string text;
  text.clear();
  if (!RtAppendFormat(&text, pattern, args)) text.clear();
  const std::size_t size = std::min(text.size(), buffer->size() - 1);
  std::memcpy(buffer->data(), text.data(), size);
  (*buffer)[size] = '\0';
}

// Turns `size` bytes of one element, as the memory wrapper delivered them
// (host byte order), into a number.
std::uint64_t ElementValue(const std::uint8_t* bytes, std::uint32_t size) {
  std::uint64_t value = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint32_t shift =
        std::endian::native == std::endian::little ? 8 * i : 8 * (size - 1 - i);
    value |= static_cast<std::uint64_t>(bytes[i]) << shift;
  }
  return value;
}

std::uint32_t Low32(std::uint64_t x) {
  return static_cast<std::uint32_t>(x);
}

}  // namespace

std::string FormatUnsigned(std::uint32_t x) {
  std::array<char, kNumberBufferSize> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%u", x);
  return std::string(buffer.data());
}

std::string FormatHex(std::uint32_t x) {
  std::array<char, kNumberBufferSize> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "0x%x", x);
  return std::string(buffer.data());
}

namespace {

// Evaluates the formatted expression (see EvaluateFormatted).
KernelStatus EvaluateExpression(OSA_ServiceCntx* context, OsaValue* out, OsaValueKind kind,
                                const std::array<char, kExpressionBufferSize>& expression) {
  OsaValue value;
  value.kind = kind;
  if (kind == OsaValueKind::kText) {
    // The debugger's print command turns the expression into display text.
    const std::string input = std::string("`print /a ") + expression.data() + "+0`";
    std::string text;
    const KernelStatus status =
        ServiceStatus(OSA_Service_StringEval(context, input.c_str(), &text, kOsaNoCore));
    if (status != KernelStatus::kOk) return status;
    value.text = std::move(text);
  } else {
    const KernelStatus status =
        ServiceStatus(OSA_Service_ExpressionEval(context, expression.data(), &value, kOsaNoCore));
    if (status != KernelStatus::kOk) return status;
  }
  *out = std::move(value);
  return KernelStatus::kOk;
}

}  // namespace

KernelStatus EvaluateFormatted(OSA_ServiceCntx* context, OsaValue* out, OsaValueKind kind,
                               const char* pattern, ...) {
  std::array<char, kExpressionBufferSize> expression;
  std::va_list args;
  va_start(args, pattern);
  FormatExpression(&expression, pattern, args);
  va_end(args);
  return EvaluateExpression(context, out, kind, expression);
}

std::size_t FormatMemberExpression(const ObjectMember& member, MemberExpression which,
                                   std::span<char> buffer) {
  if (buffer.empty()) return 0;
  // Written as printf writes "&((%s *)%u)->%s" and "sizeof(((%s *)%u)->%s)",
  // cut to the buffer's size less one.
  std::array<char, 16> digits;
  const char* const digitsEnd =
      std::to_chars(digits.data(), digits.data() + digits.size(), member.base).ptr;
  const bool size = which == MemberExpression::kSize;
  const std::string_view pieces[] = {
      size ? "sizeof(((" : "&((",
      member.typeName != nullptr ? member.typeName : "(null)",
      " *)",
      std::string_view(digits.data(), static_cast<std::size_t>(digitsEnd - digits.data())),
      ")->",
      member.path != nullptr ? member.path : "(null)",
      size ? ")" : ""};
  std::size_t used = 0;
  const std::size_t room = buffer.size() - 1;
  for (const std::string_view piece : pieces) {
    const std::size_t taken = std::min(piece.size(), room - used);
    std::memcpy(buffer.data() + used, piece.data(), taken);
    used += taken;
  }
  buffer[used] = '\0';
  return used;
}

KernelStatus EvaluateLayout(OSA_ServiceCntx* context, const KernelContext& kernel, OsaValue* out,
                            const char* pattern, ...) {
  std::array<char, kExpressionBufferSize> expression;
  std::va_list args;
  va_start(args, pattern);
  FormatExpression(&expression, pattern, args);
  va_end(args);
  return CacheEvaluateLayout(context, ActiveCache(&kernel.cache), std::string(expression.data()),
                             out);
}

bool KernelMemberExists(OSA_ServiceCntx* context, const char* typeName, const char* member) {
  OsaValue offset;
  return EvaluateFormatted(context, &offset, OsaValueKind::kUInt32, "&((%s *)0)->%s", typeName,
                           member) == KernelStatus::kOk;
}

bool KernelMemberExists(OSA_ServiceCntx* context, const KernelContext& kernel, const char* typeName,
                        const char* member) {
  OsaValue offset;
  return EvaluateLayout(context, kernel, &offset, "&((%s *)0)->%s", typeName, member) ==
         KernelStatus::kOk;
}

KernelStatus ReadTargetBytes(OSA_ServiceCntx* context, std::uint32_t address, std::uint32_t size,
                             std::uint64_t* value) {
  if (size < 1 || size > sizeof(std::uint64_t)) return KernelStatus::kFailed;
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  const KernelStatus status = ServiceStatus(OSA_Service_MemoryRead(
      context, kKernelMemorySpace, address, 1, size, bytes.data(), 0, kOsaNoCore));
  if (status != KernelStatus::kOk) return status;
  *value = ElementValue(bytes.data(), size);
  return KernelStatus::kOk;
}

KernelStatus ReadTargetBytes(OSA_ServiceCntx* context, const KernelContext& kernel,
                             std::uint32_t address, std::uint32_t size, std::uint64_t* value,
                             TargetBlock block) {
  if (size < 1 || size > sizeof(std::uint64_t)) return KernelStatus::kFailed;
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  const KernelStatus status =
      CacheReadMemory(context, ActiveCache(&kernel.cache), address, 1, size, bytes.data(), block);
  if (status != KernelStatus::kOk) return status;
  *value = ElementValue(bytes.data(), size);
  return KernelStatus::kOk;
}

namespace {

// The end of every read of a kernel variable or member: a failed read is
// reported as "Unable to read", a good one delivered as an unsigned word.
KernelStatus DeliverRead(OSA_ServiceCntx* context, const char* description, KernelStatus status,
                         std::uint64_t value, OsaValue* out) {
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kCannotRead, description);
    return status;
  }
  out->kind = OsaValueKind::kUInt32;
  out->payload = value;
  out->text.reset();
  return KernelStatus::kOk;
}

}  // namespace

KernelStatus ReadKernelVariable(OSA_ServiceCntx* context, OsaValue* out, std::uint32_t size,
                                const char* description, const char* pattern, ...) {
  std::string expression;
  std::va_list args;
  va_start(args, pattern);
  const bool formatted = RtFormatText(&expression, pattern, args);
  va_end(args);
  if (!formatted) {
    ShowKernelMessage(context, KernelMessage::kCannotFormat, description);
    return KernelStatus::kFailed;
  }
  OsaValue address;
  KernelStatus status =
      EvaluateFormatted(context, &address, OsaValueKind::kUInt32, "%s", expression.c_str());
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kCannotParse, description);
    return status;
  }
  std::uint64_t bytes = 0;
  status = ReadTargetBytes(context, Low32(address.payload), size, &bytes);
  return DeliverRead(context, description, status, bytes, out);
}

namespace {

// The address of the member: evaluated as "&((<type> *)<base>)-><path>", or
// with the cache on, once per type and path and then found from the base.
// The status is the evaluation's; *layout receives a copy of what is known
// of the member (a nested request may empty the cache while this one waits
// for an answer).
KernelStatus MemberAddress(OSA_ServiceCntx* context, TargetCache* cache, const ObjectMember& member,
                           CachedMemberLayout* layout, std::uint32_t* address) {
  if (!CacheFindMember(cache, member.typeName, member.path, layout)) {
    OsaValue value;
    *layout = CachedMemberLayout{};
    std::array<char, kExpressionBufferSize> expression;
    (void)FormatMemberExpression(member, MemberExpression::kAddress, expression);
    layout->addressStatus = EvaluateExpression(context, &value, OsaValueKind::kUInt32, expression);
    // Offsets wrap like the addresses they come from.
    layout->offset = Low32(value.payload) - member.base;
    CacheKeepMember(cache, member.typeName, member.path, *layout);
  }
  *address = member.base + layout->offset;
  return layout->addressStatus;
}

// The size of the member whose layout MemberAddress found.
KernelStatus MemberSize(OSA_ServiceCntx* context, TargetCache* cache, const ObjectMember& member,
                        CachedMemberLayout* layout, std::uint32_t* size) {
  if (!layout->haveSize) {
    OsaValue value;
    std::array<char, kExpressionBufferSize> expression;
    (void)FormatMemberExpression(member, MemberExpression::kSize, expression);
    layout->sizeStatus = EvaluateExpression(context, &value, OsaValueKind::kUInt32, expression);
    layout->size = Low32(value.payload);
    layout->haveSize = true;
    CacheKeepMember(cache, member.typeName, member.path, *layout);
  }
  *size = layout->size;
  return layout->sizeStatus;
}

// With the cache on, the whole structure around a member is read at once.
TargetBlock ObjectBlock(OSA_ServiceCntx* context, TargetCache* cache, const ObjectMember& member) {
  std::uint32_t size = 0;
  if (!CacheObjectSize(context, cache, member.typeName, &size)) return {};
  return {member.base, size};
}

}  // namespace

KernelStatus ReadKernelMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                              const ObjectMember& member, std::uint32_t size,
                              const char* description, OsaValue* out) {
  TargetCache* cache = ActiveCache(&kernel.cache);
  CachedMemberLayout layout;
  std::uint32_t address = 0;
  KernelStatus status = MemberAddress(context, cache, member, &layout, &address);
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kCannotParse, description);
    return status;
  }
  if (size < 1 || size > sizeof(std::uint64_t)) {
    ShowKernelMessage(context, KernelMessage::kCannotRead, description);
    return KernelStatus::kFailed;
  }
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  status = CacheReadMemory(context, cache, address, 1, size, bytes.data(),
                           ObjectBlock(context, cache, member));
  return DeliverRead(context, description, status, ElementValue(bytes.data(), size), out);
}

KernelStatus ReadKernelSymbol(OSA_ServiceCntx* context, const KernelContext& kernel, OsaValue* out,
                              std::uint32_t size, const char* description, const char* expression) {
  OsaValue address;
  KernelStatus status = EvaluateLayout(context, kernel, &address, "%s", expression);
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kCannotParse, description);
    return status;
  }
  std::uint64_t bytes = 0;
  status = ReadTargetBytes(context, kernel, Low32(address.payload), size, &bytes);
  return DeliverRead(context, description, status, bytes, out);
}

namespace {

// The member read behind ReadObjectMember and ReadOptionalObjectMember. With
// `present` given, a member whose address does not evaluate is reported there
// instead of as an error.
KernelStatus ReadMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                        const ObjectMember& member, MemberReadOptions options, OsaValue* out,
                        bool* present) {
  TargetCache* cache = ActiveCache(&kernel.cache);
  CachedMemberLayout layout;
  std::uint32_t address = 0;
  if (MemberAddress(context, cache, member, &layout, &address) != KernelStatus::kOk) {
    if (present != nullptr) {
      *present = false;
      return KernelStatus::kOk;
    }
    ShowKernelMessage(context, KernelMessage::kMemberUnparsed);
    return KernelStatus::kFailed;
  }
  if (present != nullptr) *present = true;
  std::uint32_t size = 0;
  if (MemberSize(context, cache, member, &layout, &size) != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kMemberSizeUnparsed);
    return KernelStatus::kFailed;
  }
  if (kernel.version == 1 && size != 1 && size != 2 && size != 4 && size != 8) {
    // Only a warning: the read below still delivers what it can.
    ShowKernelMessage(context, KernelMessage::kMemberSizeUnsupported);
  }

  // Below 4 bytes one element of the member's size; from 4 bytes on 4-byte
  // elements, the lower address giving the low half. A member longer than 8
  // bytes would overflow the payload, so only its first 8 bytes are read.
  std::uint32_t elementSize = size;
  std::uint32_t elementCount = 1;
  if (size >= kWordSize) {
    elementSize = kWordSize;
    elementCount = std::min(size / kWordSize, kMaxPayloadWords);
  }
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  if (CacheReadMemory(context, cache, address, elementCount, elementSize, bytes.data(),
                      ObjectBlock(context, cache, member)) != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kMemberUnreadable);
    return KernelStatus::kFailed;
  }
  std::uint64_t payload = 0;
  for (std::uint32_t i = 0; i < elementCount; ++i) {
    payload |= ElementValue(bytes.data() + i * elementSize, elementSize) << (32 * i);
  }

  switch (out->kind) {
    case OsaValueKind::kText: {
      const std::uint32_t low = Low32(payload);
      if (options.text == MemberText::kDecimalOrEmpty && low == 0) {
        out->text = std::string();
      } else {
        out->text = options.text == MemberText::kHex ? FormatHex(low) : FormatUnsigned(low);
      }
      return KernelStatus::kOk;
    }
    case OsaValueKind::kUInt32:
      out->payload = Low32(payload);
      return KernelStatus::kOk;
    case OsaValueKind::kUInt64:
    case OsaValueKind::kAddress:
      // A 32-bit address shown on a debugger that works in 64 bits keeps its
      // sign when the debugger asks for it.
      if (options.signExtendAddress && context->signExtendAddressFrom4BytesTo8Bytes != 0 &&
          size == kWordSize && (payload >> 32) == 0 && (payload & 0x80000000u) != 0) {
        payload |= 0xFFFFFFFF00000000u;
      }
      out->payload = payload;
      return KernelStatus::kOk;
    default:
      ShowKernelMessage(context, KernelMessage::kMemberFormatUnsupported);
      return KernelStatus::kFailed;
  }
}

}  // namespace

KernelStatus ReadObjectMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                              const ObjectMember& member, MemberReadOptions options,
                              OsaValue* out) {
  return ReadMember(context, kernel, member, options, out, nullptr);
}

KernelStatus ReadOptionalObjectMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                                      const ObjectMember& member, MemberReadOptions options,
                                      OsaValue* out, bool* present) {
  return ReadMember(context, kernel, member, options, out, present);
}

KernelStatus ReadObjectWord(OSA_ServiceCntx* context, const KernelContext& kernel,
                            const ObjectMember& member, std::uint32_t* value) {
  OsaValue word;
  word.kind = OsaValueKind::kUInt32;
  const KernelStatus status = ReadObjectMember(context, kernel, member, {}, &word);
  if (status != KernelStatus::kOk) return status;
  *value = Low32(word.payload);
  return KernelStatus::kOk;
}

KernelStatus ReadObjectName(OSA_ServiceCntx* context, const KernelContext& kernel,
                            std::uint32_t coreAddress, OsaValue* out) {
  if (out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
  OsaValue nameAddress;
  const KernelStatus status =
      ReadKernelMember(context, kernel, {"struct QX_OBJECT_STRUCT", coreAddress, "name"}, 4,
                       "kernel object name", &nameAddress);
  if (status != KernelStatus::kOk) return status;
  const std::uint32_t address = Low32(nameAddress.payload);
  if (address == 0) {
    out->text = std::string();
    return KernelStatus::kOk;
  }
  std::optional<std::string> name =
      ReadTargetString(context, &kernel, kKernelMemorySpace, address, kObjectNameLimit);
  if (!name) return KernelStatus::kFailed;
  out->text = std::move(name);
  return KernelStatus::kOk;
}

KernelStatus ReadObjectName(OSA_ServiceCntx* context, std::uint32_t coreAddress, OsaValue* out) {
  const KernelContext uncached;
  return ReadObjectName(context, uncached, coreAddress, out);
}

std::optional<std::string> ReadTargetString(OSA_ServiceCntx* context, std::int32_t memorySpace,
                                            std::uint32_t address, std::int32_t limit) {
  return ReadTargetString(context, nullptr, memorySpace, address, limit);
}

std::optional<std::string> ReadTargetString(OSA_ServiceCntx* context, const KernelContext* kernel,
                                            std::int32_t memorySpace, std::uint32_t address,
                                            std::int32_t limit) {
  if (limit < 1) return std::nullopt;
  // Kept copies hold the kernel's own memory space only.
  TargetCache* cache = kernel != nullptr && memorySpace == kKernelMemorySpace
                           ? ActiveCache(&kernel->cache)
                           : nullptr;
  std::string text;
  std::array<std::uint8_t, kTextPieceSize> piece{};
  std::int32_t got = 0;
  while (got < limit) {
    const std::int32_t want = std::min(limit - got, kTextPieceSize);
    const auto at = static_cast<std::uint32_t>(address + got);
    const KernelStatus status =
        cache != nullptr
            ? CacheReadMemory(context, cache, at, static_cast<std::uint32_t>(want), 1, piece.data())
            : ServiceStatus(OSA_Service_MemoryRead(context, memorySpace, at, want, 1, piece.data(),
                                                   0, kOsaNoCore));
    if (status != KernelStatus::kOk) return std::nullopt;
    for (std::int32_t i = 0; i < want; ++i) {
      const std::uint8_t byte = piece[static_cast<std::size_t>(i)];
      // A NUL or any byte outside the printable range ends the text.
      if (byte < 0x20 || byte > 0x7E) return text;
      text.push_back(static_cast<char>(byte));
      ++got;
    }
  }
  return text;
}

KernelStatus ReadPriority(OSA_ServiceCntx* context, const KernelContext& kernel,
                          const ObjectMember& member, OsaValue* out) {
  OsaValue stored;
  stored.kind = OsaValueKind::kUInt64;
  const KernelStatus status =
      ReadObjectMember(context, kernel, member, {.text = MemberText::kDecimal}, &stored);
  if (status != KernelStatus::kOk) return status;
  // Version 1 kernels keep 0 as their most urgent priority. Version 3 kernels
  // keep their own priority members as shown, but a version 3 kernel that
  // still has the version 1 member "static_priority" keeps it inverted too.
  std::uint64_t priority = stored.payload;
  if (kernel.version == 1 || std::string_view(member.path) == "static_priority") {
    priority = (kernel.maxPriorities - 1) - stored.payload;
  }
  switch (out->kind) {
    case OsaValueKind::kText:
      out->text = FormatUnsigned(Low32(priority));
      return KernelStatus::kOk;
    case OsaValueKind::kUInt32:
      out->payload = Low32(priority);
      return KernelStatus::kOk;
    case OsaValueKind::kUInt64:
      out->payload = priority;
      return KernelStatus::kOk;
    default:
      ShowKernelMessage(context, KernelMessage::kPriorityFormatUnsupported);
      return KernelStatus::kFailed;
  }
}

bool DeliverNumber(OsaValue* out, std::uint32_t x) {
  switch (out->kind) {
    case OsaValueKind::kText:
      out->text = FormatUnsigned(x);
      return true;
    case OsaValueKind::kUInt32:
    case OsaValueKind::kUInt64:
      out->payload = x;
      return true;
    default:
      return false;
  }
}
