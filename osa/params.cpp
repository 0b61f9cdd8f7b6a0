// Parameter-reading and result-writing rules shared by all client method
// handlers.
#include "osa/params.h"

#include <string>

#include "osa/lists.h"

namespace {

// Whether the first `count` entries exist and there is at least one: an
// empty list cannot be sent, and a vector is never read past its end.
template <typename Entry>
bool ListHasEntries(const std::vector<Entry>& list, std::int64_t count) {
  return count > 0 && static_cast<std::uint64_t>(count) <= list.size() &&
         count <= std::int64_t{UINT32_MAX};
}

}  // namespace

bool OsaParamInteger(const JsonValue* params, std::string_view name, std::int64_t* out) {
  if (params == nullptr || params->kind != JsonKind::JsonObject) return false;
  return JsonObjectGetInteger(params, name, out);
}

bool OsaParamFlag(const JsonValue* params, std::string_view name, bool* out) {
  std::int64_t value = 0;
  if (!OsaParamInteger(params, name, &value)) return false;
  *out = value != 0;
  return true;
}

bool OsaParamFlagOr(const JsonValue* params, std::string_view name, bool fallback) {
  bool value = fallback;
  OsaParamFlag(params, name, &value);
  return value;
}

bool OsaParamLowBit(const JsonValue* params, std::string_view name, bool* out) {
  std::int64_t value = 0;
  if (!OsaParamInteger(params, name, &value)) return false;
  *out = (value & 1) != 0;
  return true;
}

bool OsaParamString(const JsonValue* params, std::string_view name, const char** out) {
  if (params == nullptr || params->kind != JsonKind::JsonObject) return false;
  const char* text = nullptr;
  // A string node without text is never parsed from the wire; treat it as absent.
  if (!JsonObjectGetString(params, name, &text) || text == nullptr) return false;
  *out = text;
  return true;
}

bool OsaParamPresent(const JsonValue* params, std::string_view name) {
  if (params == nullptr || params->kind != JsonKind::JsonObject) return false;
  return JsonObjectIndexOf(params, name) >= 0;
}

void OsaResultInt64(JsonValue* result, std::string_view name, std::uint64_t value) {
  JsonObjectAddInteger(result, name, static_cast<std::int64_t>(value));
}

void OsaResultInt32(JsonValue* result, std::string_view name, std::uint32_t value) {
  JsonObjectAddInteger(result, name, static_cast<std::int32_t>(value));
}

void OsaResultString(JsonValue* result, std::string_view name, const char* text) {
  JsonObjectAddString(result, name, std::string_view(text == nullptr ? "" : text));
}

void OsaResultReturn(JsonValue* result, OsaStatus status) {
  JsonObjectAddInteger(result, "return", OsaStatusToInt32(status));
}

OsaValue OsaPresetValue(OsaValueKind kind) {
  OsaValue value;
  value.kind = kind;
  return value;
}

void OsaResultValue(JsonValue* result, std::string_view name, const OsaValue& value) {
  if (value.kind == OsaValueKind::kText) {
    JsonObjectAddString(result, name, std::string_view(value.text ? *value.text : std::string()));
  } else {
    OsaResultInt64(result, name, value.payload);
  }
}

bool OsaResultList(JsonValue* result, std::string_view name, const std::vector<std::int64_t>& list,
                   std::int64_t count) {
  if (!ListHasEntries(list, count)) return false;
  return OsaPutList(result, name, list.data(), static_cast<std::uint32_t>(count));
}

bool OsaResultList(JsonValue* result, std::string_view name, const std::vector<std::int32_t>& list,
                   std::int64_t count) {
  if (!ListHasEntries(list, count)) return false;
  return OsaPutList(result, name, list.data(), static_cast<std::uint32_t>(count));
}

bool OsaResultList(JsonValue* result, std::string_view name, const std::vector<std::string>& list,
                   std::int64_t count) {
  if (!ListHasEntries(list, count)) return false;
  std::vector<const char*> texts;
  texts.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i)
    texts.push_back(list[static_cast<std::size_t>(i)].c_str());
  return OsaPutList(result, name, texts.data(), static_cast<std::uint32_t>(count));
}

std::vector<std::int64_t> OsaValuePayloads(const std::vector<OsaValue>& values) {
  std::vector<std::int64_t> payloads;
  payloads.reserve(values.size());
  for (const OsaValue& value : values)
    payloads.push_back(static_cast<std::int64_t>(value.payload));
  return payloads;
}
