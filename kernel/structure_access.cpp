// Kernel structure access: member addresses and sizes evaluated by the
// debugger, member and variable reads, object names and target texts, and
// the number and text helpers the kernel-awareness code shares.
#include "kernel/structure_access.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "kernel/target_cache.h"
#include "osa/service_requests.h"
#include "runtime/text_format.h"

namespace {

// Message type of every error the kernel code shows.
constexpr std::int32_t kErrorMessageType = 2;
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
void FormatExpression(std::array<char, kExpressionBufferSize>* buffer, const char* pattern,
                      std::va_list args) {
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

void ShowKernelError(OSA_ServiceCntx* context, const char* format, ...) {
  std::string message;
  std::va_list args;
  va_start(args, format);
  const bool formatted = RtFormatText(&message, format, args);
  va_end(args);
  if (!formatted) return;
  // The formatted text travels as an argument: target texts in it are never
  // read as a format.
  OSA_Service_MessageDisplay(context, kErrorMessageType, "%s", message.c_str());
}

std::uint32_t EvaluateFormatted(OSA_ServiceCntx* context, OsaValue* out, OsaValueKind kind,
                                const char* pattern, ...) {
  std::array<char, kExpressionBufferSize> expression;
  std::va_list args;
  va_start(args, pattern);
  FormatExpression(&expression, pattern, args);
  va_end(args);

  OsaValue value;
  value.kind = kind;
  if (kind == OsaValueKind::Text) {
    // The debugger's print command turns the expression into display text.
    const std::string input = std::string("`print /a ") + expression.data() + "+0`";
    std::string text;
    const std::uint32_t status = OSA_Service_StringEval(context, input.c_str(), &text, kOsaNoCore);
    if (status != 0) return status;
    value.text = std::move(text);
  } else {
    const std::uint32_t status =
        OSA_Service_ExpressionEval(context, expression.data(), &value, kOsaNoCore);
    if (status != 0) return status;
  }
  *out = std::move(value);
  return 0;
}

std::uint32_t EvaluateLayout(OSA_ServiceCntx* context, const KernelContext& kernel, OsaValue* out,
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
  return EvaluateFormatted(context, &offset, OsaValueKind::UInt32, "&((%s *)0)->%s", typeName,
                           member) == 0;
}

bool KernelMemberExists(OSA_ServiceCntx* context, const KernelContext& kernel, const char* typeName,
                        const char* member) {
  OsaValue offset;
  return EvaluateLayout(context, kernel, &offset, "&((%s *)0)->%s", typeName, member) == 0;
}

std::uint32_t ReadTargetBytes(OSA_ServiceCntx* context, std::uint32_t address, std::uint32_t size,
                              std::uint64_t* value) {
  if (size < 1 || size > sizeof(std::uint64_t)) return 1;
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  const std::uint32_t status = OSA_Service_MemoryRead(context, kKernelMemorySpace, address, 1, size,
                                                      bytes.data(), 0, kOsaNoCore);
  if (status != 0) return status;
  *value = ElementValue(bytes.data(), size);
  return 0;
}

std::uint32_t ReadTargetBytes(OSA_ServiceCntx* context, const KernelContext& kernel,
                              std::uint32_t address, std::uint32_t size, std::uint64_t* value,
                              std::uint32_t blockStart, std::uint32_t blockSize) {
  if (size < 1 || size > sizeof(std::uint64_t)) return 1;
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  const std::uint32_t status = CacheReadMemory(context, ActiveCache(&kernel.cache), address, 1,
                                               size, bytes.data(), blockStart, blockSize);
  if (status != 0) return status;
  *value = ElementValue(bytes.data(), size);
  return 0;
}

namespace {

// The end of every read of a kernel variable or member: a failed read is
// reported as "Unable to read", a good one delivered as an unsigned word.
std::uint32_t DeliverRead(OSA_ServiceCntx* context, const char* description, std::uint32_t status,
                          std::uint64_t value, OsaValue* out) {
  if (status != 0) {
    ShowKernelError(context, "Error: Unable to read %s\n", description);
    return status;
  }
  out->kind = OsaValueKind::UInt32;
  out->payload = value;
  out->text.reset();
  return 0;
}

}  // namespace

std::uint32_t ReadKernelVariable(OSA_ServiceCntx* context, OsaValue* out, std::uint32_t size,
                                 const char* description, const char* pattern, ...) {
  std::string expression;
  std::va_list args;
  va_start(args, pattern);
  const bool formatted = RtFormatText(&expression, pattern, args);
  va_end(args);
  if (!formatted) {
    ShowKernelError(context, "Error: Unable to format %s\n", description);
    return 1;
  }
  OsaValue address;
  std::uint32_t status =
      EvaluateFormatted(context, &address, OsaValueKind::UInt32, "%s", expression.c_str());
  if (status != 0) {
    ShowKernelError(context, "Error: Unable to parse %s\n", description);
    return status;
  }
  std::uint64_t bytes = 0;
  status = ReadTargetBytes(context, Low32(address.payload), size, &bytes);
  return DeliverRead(context, description, status, bytes, out);
}

namespace {

// The address of member `memberPath` of the `typeName` object at `base`:
// evaluated as "&((<type> *)<base>)-><member>", or with the cache on, once
// per type and member and then found from the base. The status is the
// evaluation's; *layout receives a copy of what is known of the member (a
// nested request may empty the cache while this one waits for an answer).
std::uint32_t MemberAddress(OSA_ServiceCntx* context, TargetCache* cache, std::uint32_t base,
                            const char* typeName, const char* memberPath,
                            CachedMemberLayout* layout, std::uint32_t* address) {
  if (!CacheFindMember(cache, typeName, memberPath, layout)) {
    OsaValue value;
    *layout = CachedMemberLayout{};
    layout->addressStatus = EvaluateFormatted(context, &value, OsaValueKind::UInt32,
                                              "&((%s *)%u)->%s", typeName, base, memberPath);
    // Offsets wrap like the addresses they come from.
    layout->offset = Low32(value.payload) - base;
    CacheKeepMember(cache, typeName, memberPath, *layout);
  }
  *address = base + layout->offset;
  return layout->addressStatus;
}

// The size of the member whose layout MemberAddress found.
std::uint32_t MemberSize(OSA_ServiceCntx* context, TargetCache* cache, std::uint32_t base,
                         const char* typeName, const char* memberPath, CachedMemberLayout* layout,
                         std::uint32_t* size) {
  if (!layout->haveSize) {
    OsaValue value;
    layout->sizeStatus = EvaluateFormatted(context, &value, OsaValueKind::UInt32,
                                           "sizeof(((%s *)%u)->%s)", typeName, base, memberPath);
    layout->size = Low32(value.payload);
    layout->haveSize = true;
    CacheKeepMember(cache, typeName, memberPath, *layout);
  }
  *size = layout->size;
  return layout->sizeStatus;
}

// With the cache on, the whole structure around a member is read at once.
std::uint32_t ObjectBlockSize(OSA_ServiceCntx* context, TargetCache* cache, const char* typeName) {
  std::uint32_t size = 0;
  return CacheObjectSize(context, cache, typeName, &size) ? size : 0;
}

}  // namespace

std::uint32_t ReadKernelMember(OSA_ServiceCntx* context, const KernelContext& kernel, OsaValue* out,
                               std::uint32_t size, const char* description, const char* typeName,
                               std::uint32_t base, const char* member) {
  TargetCache* cache = ActiveCache(&kernel.cache);
  CachedMemberLayout layout;
  std::uint32_t address = 0;
  std::uint32_t status = MemberAddress(context, cache, base, typeName, member, &layout, &address);
  if (status != 0) {
    ShowKernelError(context, "Error: Unable to parse %s\n", description);
    return status;
  }
  if (size < 1 || size > sizeof(std::uint64_t)) {
    ShowKernelError(context, "Error: Unable to read %s\n", description);
    return 1;
  }
  std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
  status = CacheReadMemory(context, cache, address, 1, size, bytes.data(), base,
                           ObjectBlockSize(context, cache, typeName));
  return DeliverRead(context, description, status, ElementValue(bytes.data(), size), out);
}

std::uint32_t ReadKernelSymbol(OSA_ServiceCntx* context, const KernelContext& kernel, OsaValue* out,
                               std::uint32_t size, const char* description,
                               const char* expression) {
  OsaValue address;
  std::uint32_t status = EvaluateLayout(context, kernel, &address, "%s", expression);
  if (status != 0) {
    ShowKernelError(context, "Error: Unable to parse %s\n", description);
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
std::uint32_t ReadMember(OSA_ServiceCntx* context, const KernelContext& kernel, std::uint32_t base,
                         const char* typeName, const char* memberPath, bool decimal,
                         bool emptyIfZero, OsaValue* out, bool signExtend, bool* present) {
  TargetCache* cache = ActiveCache(&kernel.cache);
  CachedMemberLayout layout;
  std::uint32_t address = 0;
  if (MemberAddress(context, cache, base, typeName, memberPath, &layout, &address) != 0) {
    if (present != nullptr) {
      *present = false;
      return 0;
    }
    ShowKernelError(context, "Error: Unable to parse kernel object member\n");
    return 1;
  }
  if (present != nullptr) *present = true;
  std::uint32_t size = 0;
  if (MemberSize(context, cache, base, typeName, memberPath, &layout, &size) != 0) {
    ShowKernelError(context, "Error: Unable to parse kernel object size\n");
    return 1;
  }
  if (kernel.version == 1 && size != 1 && size != 2 && size != 4 && size != 8) {
    // Only a warning: the read below still delivers what it can.
    ShowKernelError(context, "Error: Unsupported object member size\n");
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
  if (CacheReadMemory(context, cache, address, elementCount, elementSize, bytes.data(), base,
                      ObjectBlockSize(context, cache, typeName)) != 0) {
    ShowKernelError(context, "Error: Unable to read kernel object name address\n");
    return 1;
  }
  std::uint64_t payload = 0;
  for (std::uint32_t i = 0; i < elementCount; ++i) {
    payload |= ElementValue(bytes.data() + i * elementSize, elementSize) << (32 * i);
  }

  switch (out->kind) {
    case OsaValueKind::Text: {
      const std::uint32_t low = Low32(payload);
      if (emptyIfZero && low == 0) {
        out->text = std::string();
      } else {
        out->text = decimal ? FormatUnsigned(low) : FormatHex(low);
      }
      return 0;
    }
    case OsaValueKind::UInt32:
      out->payload = Low32(payload);
      return 0;
    case OsaValueKind::UInt64:
    case OsaValueKind::Address:
      // A 32-bit address shown on a debugger that works in 64 bits keeps its
      // sign when the debugger asks for it.
      if (signExtend && context->signExtendAddressFrom4BytesTo8Bytes != 0 && size == kWordSize &&
          (payload >> 32) == 0 && (payload & 0x80000000u) != 0) {
        payload |= 0xFFFFFFFF00000000u;
      }
      out->payload = payload;
      return 0;
    default:
      ShowKernelError(context, "Error: Unsupported object member data format\n");
      return 1;
  }
}

}  // namespace

std::uint32_t ReadObjectMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                               std::uint32_t base, const char* typeName, const char* memberPath,
                               bool decimal, bool emptyIfZero, OsaValue* out, bool signExtend) {
  return ReadMember(context, kernel, base, typeName, memberPath, decimal, emptyIfZero, out,
                    signExtend, nullptr);
}

std::uint32_t ReadOptionalObjectMember(OSA_ServiceCntx* context, const KernelContext& kernel,
                                       std::uint32_t base, const char* typeName,
                                       const char* memberPath, bool decimal, bool emptyIfZero,
                                       OsaValue* out, bool* present) {
  return ReadMember(context, kernel, base, typeName, memberPath, decimal, emptyIfZero, out, false,
                    present);
}

std::uint32_t ReadObjectWord(OSA_ServiceCntx* context, const KernelContext& kernel,
                             std::uint32_t base, const char* typeName, const char* memberPath,
                             std::uint32_t* value) {
  OsaValue word;
  word.kind = OsaValueKind::UInt32;
  const std::uint32_t status =
      ReadObjectMember(context, kernel, base, typeName, memberPath, false, false, &word);
  if (status != 0) return status;
  *value = Low32(word.payload);
  return 0;
}

std::uint32_t ReadObjectName(OSA_ServiceCntx* context, const KernelContext& kernel,
                             std::uint32_t coreAddress, OsaValue* out) {
  if (out->kind != OsaValueKind::Text) return 1;
  OsaValue nameAddress;
  const std::uint32_t status =
      ReadKernelMember(context, kernel, &nameAddress, 4, "kernel object name",
                       "struct QX_OBJECT_STRUCT", coreAddress, "name");
  if (status != 0) return status;
  const std::uint32_t address = Low32(nameAddress.payload);
  if (address == 0) {
    out->text = std::string();
    return 0;
  }
  std::optional<std::string> name =
      ReadTargetString(context, &kernel, kKernelMemorySpace, address, kObjectNameLimit);
  if (!name) return 1;
  out->text = std::move(name);
  return 0;
}

std::uint32_t ReadObjectName(OSA_ServiceCntx* context, std::uint32_t coreAddress, OsaValue* out) {
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
    const std::uint32_t status =
        cache != nullptr
            ? CacheReadMemory(context, cache, at, static_cast<std::uint32_t>(want), 1, piece.data())
            : OSA_Service_MemoryRead(context, memorySpace, at, want, 1, piece.data(), 0,
                                     kOsaNoCore);
    if (status != 0) return std::nullopt;
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

std::uint32_t ReadPriority(OSA_ServiceCntx* context, const KernelContext& kernel,
                           std::uint32_t object, const char* typeName, const char* member,
                           OsaValue* out) {
  OsaValue stored;
  stored.kind = OsaValueKind::UInt64;
  const std::uint32_t status =
      ReadObjectMember(context, kernel, object, typeName, member, true, false, &stored);
  if (status != 0) return status;
  // Version 1 kernels keep 0 as their most urgent priority. Version 3 kernels
  // keep their own priority members as shown, but a version 3 kernel that
  // still has the version 1 member "static_priority" keeps it inverted too.
  std::uint64_t priority = stored.payload;
  if (kernel.version == 1 || std::string_view(member) == "static_priority") {
    priority = (kernel.maxPriorities - 1) - stored.payload;
  }
  switch (out->kind) {
    case OsaValueKind::Text:
      out->text = FormatUnsigned(Low32(priority));
      return 0;
    case OsaValueKind::UInt32:
      out->payload = Low32(priority);
      return 0;
    case OsaValueKind::UInt64:
      out->payload = priority;
      return 0;
    default:
      ShowKernelError(context, "Error: Unsupported priority data format\n");
      return 1;
  }
}

bool DeliverNumber(OsaValue* out, std::uint32_t x) {
  switch (out->kind) {
    case OsaValueKind::Text:
      out->text = FormatUnsigned(x);
      return true;
    case OsaValueKind::UInt32:
    case OsaValueKind::UInt64:
      out->payload = x;
      return true;
    default:
      return false;
  }
}
