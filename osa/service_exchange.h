// The request pattern that every OSA_Service_* wrapper follows, written
// once: a params object that starts with "context", the exchange through the
// process's JSON-RPC service, and the status read from "return".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "osa/plugin_api.h"
#include "simple_json/json_value.h"

// A new params object holding "context" (the record's handle) as its first
// member; null for a null record, which then fails at the send.
JsonPtr OsaServiceParams(const OSA_ServiceCntx* context);

// Adds "coreId" (the 0-based core plus 1) unless core is kOsaNoCore.
void OsaServiceAddCore(JsonValue* params, std::int64_t core);

// Adds "taskId" unless the id is 0 (no task meant).
void OsaServiceAddTask(JsonValue* params, std::uint64_t taskId);

// Sends `method` with `params` (taken over) through OsaRpcService(). True
// when the exchange succeeded; *result then holds the answer's "result"
// member, or stays null when the answer had none. Reading members of a null
// result fails like reading missing members.
[[nodiscard]] bool OsaServiceSend(const char* method, JsonPtr params, JsonPtr* result);

// Params written straight as JSON text, byte for byte what JsonWrite makes
// of the same tree, for the wrappers called for nearly every attribute: no
// tree is built, written and freed per request. OsaParamsBegin gives the
// per-thread text with "{ " and "context" written, or null for a null
// record (which fails like a null params object); the members follow in
// order and OsaServiceSendText closes the object and sends it. The text is
// copied into the request before anything else can be sent.
// Member names are literals that the compiler checks need no escapes; the
// text in front of a member's value (", \"name\" : ") is made at compile time.
[[nodiscard]] std::string* OsaParamsBegin(const OSA_ServiceCntx* context);

void OsaParamNameRefused();  // never defined: naming it in a check fails the build

struct OsaParamName {
  static constexpr std::string_view kBefore = ", \"";
  static constexpr std::string_view kAfter = "\" : ";
  static constexpr std::size_t kLongestPiece = 40;

  consteval OsaParamName(const char* literal) {
    const std::string_view name(literal);
    if (kBefore.size() + name.size() + kAfter.size() > kLongestPiece) OsaParamNameRefused();
    for (const char byte : name) {
      if (byte == '"' || byte == '\\' || static_cast<unsigned char>(byte) < 0x20) {
        OsaParamNameRefused();
      }
    }
    for (const std::string_view part : {kBefore, name, kAfter}) {
      for (const char byte : part)
        piece[size++] = byte;
    }
  }
  std::array<char, kLongestPiece> piece{};
  std::size_t size = 0;
};

void OsaParamsInteger(std::string* params, const OsaParamName& name, std::int64_t value);
void OsaParamsString(std::string* params, const OsaParamName& name, const char* text);
// As OsaServiceAddCore and OsaServiceAddTask.
void OsaParamsCore(std::string* params, std::int64_t core);
void OsaParamsTask(std::string* params, std::uint64_t taskId);
// OsaServiceSend for params from OsaParamsBegin (false for null params),
// keeping the whole answer: *answer holds its tree and *result lends its
// "result" member (null when it has none) while *answer lives.
[[nodiscard]] bool OsaServiceSendText(const char* method, std::string* params, JsonPtr* answer,
                                      const JsonValue** result);

// The answer's "return" as an unsigned 32-bit status; 1 when it is missing
// or not an integer.
[[nodiscard]] std::uint32_t OsaServiceReturn(const JsonValue* result);

// The same for the "return" member already found (null when missing), for
// readers that find it in one pass with the answer's other members.
[[nodiscard]] std::uint32_t OsaServiceReturnOf(const JsonValue* status);

// Send and status in one, for requests whose answers carry no results.
[[nodiscard]] std::uint32_t OsaServiceCall(const char* method, JsonPtr params);

// Reads string member `name`, copying it into *place when place is given.
// False when the member is missing or not a string.
[[nodiscard]] bool OsaServiceGetText(const JsonValue* result, std::string_view name,
                                     std::string* place);

// A text argument of a timing label; labels never see a null pointer.
inline const char* OsaLabelText(const char* text) {
  return text != nullptr ? text : "(null)";
}
