// The rules every client method handler reads its parameters by and writes
// its results with, written once: JSON integers only (true and false count as
// absent), 32-bit parameters take the low 32 bits, flags, defaults, and the
// typed-value and list results.
#pragma once

#include <concepts>
#include <cstdint>
#include <string_view>
#include <vector>

#include "osa/plugin_api.h"
#include "osa/status.h"
#include "simple_json/json_value.h"

// Reads member `name` as a JSON integer and keeps the low bits that fit T (a
// negative integer stands for the unsigned value with the same bits). False,
// with *out untouched, when the member is missing or of another kind, or
// when params is not an object.
bool OsaParamInteger(const JsonValue* params, std::string_view name, std::int64_t* out);

template <std::integral T>
bool OsaParam(const JsonValue* params, std::string_view name, T* out) {
  std::int64_t value = 0;
  if (!OsaParamInteger(params, name, &value)) return false;
  *out = static_cast<T>(value);
  return true;
}

// The member's value, or `fallback` when it is absent.
template <std::integral T>
T OsaParamOr(const JsonValue* params, std::string_view name, T fallback) {
  T value = fallback;
  OsaParam(params, name, &value);
  return value;
}

// A flag: true when the integer is non-zero; false when absent.
bool OsaParamFlag(const JsonValue* params, std::string_view name, bool* out);
bool OsaParamFlagOr(const JsonValue* params, std::string_view name, bool fallback);

// A low-bit flag: bit 0 of the integer alone decides.
bool OsaParamLowBit(const JsonValue* params, std::string_view name, bool* out);

// Lends a JSON string member's text (valid while the request tree lives).
bool OsaParamString(const JsonValue* params, std::string_view name, const char** out);

// Whether the member exists at all, of any kind.
bool OsaParamPresent(const JsonValue* params, std::string_view name);

// ---- Results ----------------------------------------------------------------

// A 64-bit result member (unsigned values with the top bit set come out
// negative on the wire).
void OsaResultInt64(JsonValue* result, std::string_view name, std::uint64_t value);
// A 32-bit result member, sign-extended.
void OsaResultInt32(JsonValue* result, std::string_view name, std::uint32_t value);
// A text member; null writes the empty string.
void OsaResultString(JsonValue* result, std::string_view name, const char* text);
// "return" with the status: the one place a status leaves for the wire.
void OsaResultReturn(JsonValue* result, OsaStatus status);

// A value whose kind is preset and whose payload and text are clear.
OsaValue OsaPresetValue(OsaValueKind kind);
// Kind Text: the text as a string ("" for a null text); any other kind: the
// whole payload as an integer.
void OsaResultValue(JsonValue* result, std::string_view name, const OsaValue& value);

// List members: the first `count` entries of `list`. False, with nothing
// written, when count is 0 or negative or the list holds fewer entries (a
// list that cannot be formed).
[[nodiscard]] bool OsaResultList(JsonValue* result, std::string_view name,
                                 const std::vector<std::int64_t>& list, std::int64_t count);
[[nodiscard]] bool OsaResultList(JsonValue* result, std::string_view name,
                                 const std::vector<std::int32_t>& list, std::int64_t count);
[[nodiscard]] bool OsaResultList(JsonValue* result, std::string_view name,
                                 const std::vector<std::string>& list, std::int64_t count);

// The payloads of a list of values, as 64-bit integers.
std::vector<std::int64_t> OsaValuePayloads(const std::vector<OsaValue>& values);
