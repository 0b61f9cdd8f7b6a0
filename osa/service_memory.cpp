// The memory service wrappers: reads and writes of target memory as text of
// hexadecimal digits, byte-swapped per element when the target's and the
// host's byte orders differ, and the prefetch hint.
#include <algorithm>
#include <array>
#include <charconv>
#include <cinttypes>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "osa/plugin_time.h"
#include "osa/service_exchange.h"
#include "osa/service_requests.h"

namespace {

// Element sizes that are swapped; other sizes travel as plain bytes.
constexpr std::int64_t kMinSwapSize = 2;
constexpr std::int64_t kMaxSwapSize = 8;

// The number of bytes of count elements of size bytes each. False for
// negative arguments and for products whose hexadecimal text would not fit
// a signed 64-bit length: such requests are refused before anything is sent.
bool ByteCount(std::int64_t count, std::int64_t size, std::int64_t* bytes) {
  if (count < 0 || size < 0) return false;
  std::int64_t product = 0;
  if (__builtin_mul_overflow(count, size, &product)) return false;
  if (product > std::numeric_limits<std::int64_t>::max() / 2) return false;
  *bytes = product;
  return true;
}

bool NeedsSwap(const OSA_ServiceCntx* context, std::int64_t size) {
  return size >= kMinSwapSize && size <= kMaxSwapSize &&
         context->bigEndianTarget != context->bigEndianHost;
}

void SwapElements(std::span<std::uint8_t> bytes, std::int64_t size) {
  const auto step = static_cast<std::size_t>(size);
  for (std::size_t at = 0; at + step <= bytes.size(); at += step) {
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + step));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes pairs of digits into out in order; false at the first pair that
// is not two hexadecimal digits, the bytes before it already stored.
bool DecodeHex(std::string_view text, std::span<std::uint8_t> out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

// Two lower-case digits per byte, as "%02x" writes them.
std::string EncodeHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  static_assert(sizeof(kDigits) == 17, "sixteen digits and a terminator");
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

// Room for "MemRead(0x%" PRIx64 ", count %" PRId64 ", size %" PRId64 ")",
// with kDigits for each number.
constexpr std::size_t kDigits = 24;
using MemReadLabel = std::array<char, 32 + 3 * kDigits>;

std::string_view WriteMemReadLabel(const OsaMemoryRange& range, MemReadLabel* label) {
  const auto put = [](char* at, std::string_view piece) {
    return std::copy(piece.begin(), piece.end(), at);
  };
  char* at = put(label->data(), "MemRead(0x");
  at = std::to_chars(at, at + kDigits, range.address, 16).ptr;
  at = put(at, ", count ");
  at = std::to_chars(at, at + kDigits, range.count).ptr;
  at = put(at, ", size ");
  at = std::to_chars(at, at + kDigits, range.size).ptr;
  at = put(at, ")");
  return std::string_view(label->data(), static_cast<std::size_t>(at - label->data()));
}

}  // namespace

std::uint32_t OSA_Service_MemoryRead(OSA_ServiceCntx* context, const OsaMemoryRange& range,
                                     std::uint8_t* buffer) {
  // Asked for nearly every attribute: the label is put together on the
  // stack without printf, and the scope copies it at once.
  MemReadLabel label;
  OsaTimingScope timing(OsaTimingLabel{WriteMemReadLabel(range, &label)});
  std::int64_t bytes = 0;
  if (context == nullptr || !ByteCount(range.count, range.size, &bytes)) return kOsaServiceFailed;
  if (buffer == nullptr && bytes > 0) return kOsaServiceFailed;
  std::string* params = OsaParamsBegin(context);
  OsaParamsInteger(params, "memorySpace", range.memorySpace);
  OsaParamsInteger(params, "address", static_cast<std::int64_t>(range.address));
  OsaParamsInteger(params, "count", bytes);
  OsaParamsTask(params, range.taskId);
  OsaParamsCore(params, range.core);
  JsonPtr answer;
  const JsonValue* result = nullptr;
  if (!OsaServiceSendText("OSA_Service_MemoryRead", params, &answer, &result))
    return kOsaServiceFailed;
  constexpr std::array<std::string_view, 2> kNames = {"value", "return"};
  const auto [value, status] = JsonObjectFindMembers(result, kNames);
  if (value == nullptr || value->kind != JsonKind::JsonString || !value->hasText) {
    return kOsaServiceFailed;
  }
  const std::string_view text = value->text.view();
  if (text.size() != static_cast<std::uint64_t>(bytes) * 2) return kOsaServiceFailed;
  const std::span<std::uint8_t> out(buffer, static_cast<std::size_t>(bytes));
  if (!DecodeHex(text, out)) return kOsaServiceFailed;
  if (NeedsSwap(context, range.size)) SwapElements(out, range.size);
  return OsaServiceReturnOf(status);
}

std::uint32_t OSA_Service_MemoryRead(OSA_ServiceCntx* context, std::int32_t memorySpace,
                                     std::uint64_t address, std::int64_t count, std::int64_t size,
                                     std::uint8_t* buffer, std::uint64_t taskId,
                                     std::int64_t core) {
  return OSA_Service_MemoryRead(context,
                                {.memorySpace = memorySpace,
                                 .address = address,
                                 .count = count,
                                 .size = size,
                                 .taskId = taskId,
                                 .core = core},
                                buffer);
}

std::uint32_t OSA_Service_MemoryWrite(OSA_ServiceCntx* context, std::int32_t memorySpace,
                                      std::uint64_t address, std::int64_t count, std::int64_t size,
                                      const std::uint8_t* data, std::int64_t core) {
  OsaTimingScope timing("MemWrite(0x%" PRIx64 ", count %" PRId64 ", size %" PRId64 ")", address,
                        count, size);
  std::int64_t bytes = 0;
  if (context == nullptr || !ByteCount(count, size, &bytes)) return kOsaServiceFailed;
  if (data == nullptr && bytes > 0) return kOsaServiceFailed;
  // Counted before it is sent: a write that fails may still have changed
  // the target.
  ++context->targetWrites;
  const std::span<const std::uint8_t> in(data, static_cast<std::size_t>(bytes));
  std::string value;
  if (NeedsSwap(context, size)) {
    // Swap a copy: the caller's data stay as they were.
    std::vector<std::uint8_t> swapped(in.begin(), in.end());
    SwapElements(swapped, size);
    value = EncodeHex(swapped);
  } else {
    value = EncodeHex(in);
  }
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "memorySpace", memorySpace);
  JsonObjectAddInteger(params.get(), "address", address);
  JsonObjectAddInteger(params.get(), "count", bytes);
  JsonObjectAdd(params.get(), "value", JsonNewStringOwned(std::move(value)));
  OsaServiceAddCore(params.get(), core);
  return OsaServiceCall("OSA_Service_MemoryWrite", std::move(params));
}

std::uint32_t OSA_Service_MemoryPreFetch(OSA_ServiceCntx* context, std::int32_t memorySpace,
                                         std::uint64_t address, std::int64_t count,
                                         std::int64_t size, std::int64_t stride,
                                         std::int64_t core) {
  OsaTimingScope timing("MemPreFetch(0x%" PRIx64 ", count %" PRId64 ", size %" PRId64 ")", address,
                        count, size);
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "memorySpace", memorySpace);
  JsonObjectAddInteger(params.get(), "address", address);
  JsonObjectAddInteger(params.get(), "count", count);
  JsonObjectAddInteger(params.get(), "size", size);
  JsonObjectAddInteger(params.get(), "stride", stride);
  OsaServiceAddCore(params.get(), core);
  return OsaServiceCall("OSA_Service_MemoryPreFetch", std::move(params));
}
