// The service wrappers that ask about the target program's debug
// information: expressions, strings, commands, symbols, structure layouts,
// macros and enumerations.
#include <array>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "osa/plugin_time.h"
#include "osa/service_exchange.h"
#include "osa/service_requests.h"

namespace {

// The value type asked of every expression evaluation: a 64-bit integer.
constexpr std::int32_t kExpressionValueType = 11;

// Decodes the answer's "output" member (null when missing) by the kind
// already set in *value. False when the member does not suit the kind, or the
// kind is unknown.
bool ReadExpressionOutput(const JsonValue* output, OsaValue* value) {
  // Lends the text of a string member (null for a node without one).
  const auto lendText = [output](const char** out) {
    if (output == nullptr || output->kind != JsonKind::JsonString) return false;
    *out = output->hasText ? output->text.c_str() : nullptr;
    return true;
  };
  switch (value->kind) {
    case OsaValueKind::kText: {
      const char* chars = nullptr;
      if (!lendText(&chars)) return false;
      if (chars == nullptr) {
        value->text.reset();
      } else {
        value->text = std::string(chars);
      }
      return true;
    }
    case OsaValueKind::kInt8:
    case OsaValueKind::kUInt8:
    case OsaValueKind::kInt16:
    case OsaValueKind::kUInt16:
    case OsaValueKind::kInt32:
    case OsaValueKind::kUInt32:
    case OsaValueKind::kAddress:
    case OsaValueKind::kInt64:
    case OsaValueKind::kUInt64: {
      if (output == nullptr || output->kind != JsonKind::JsonInteger) return false;
      return OsaValueStoreNumber(value, static_cast<std::uint64_t>(output->number));
    }
    case OsaValueKind::kFloat:
    case OsaValueKind::kDouble: {
      const char* text = nullptr;
      if (!lendText(&text) || text == nullptr || *text == '\0') {
        return false;
      }
      // The debugger's text is only ever the input of the conversion; text
      // that does not convert leaves the value as it was.
      if (value->kind == OsaValueKind::kFloat) {
        float number = 0;
        if (std::sscanf(text, "%f", &number) == 1) {
          value->payload = std::bit_cast<std::uint32_t>(number);
        }
      } else {
        double number = 0;
        if (std::sscanf(text, "%lf", &number) == 1) {
          value->payload = std::bit_cast<std::uint64_t>(number);
        }
      }
      return true;
    }
  }
  return false;  // a kind above 11
}

}  // namespace

std::uint32_t OSA_Service_ExpressionEval(OSA_ServiceCntx* context, const char* expression,
                                         OsaValue* value, std::int32_t searchFlag,
                                         std::int64_t core) {
  OsaTimingScope timing(OsaTimingLabel{"ExprEval(", OsaLabelText(expression), ")"});
  std::string* params = OsaParamsBegin(context);
  if (params == nullptr) return kOsaServiceFailed;
  OsaParamsString(params, "expression", expression);
  OsaParamsInteger(params, "valueType", kExpressionValueType);
  OsaParamsInteger(params, "searchFlag", searchFlag);
  OsaParamsCore(params, core);
  JsonPtr answer;
  const JsonValue* result = nullptr;
  if (!OsaServiceSendText("OSA_Service_ExpressionEval", params, &answer, &result))
    return kOsaServiceFailed;
  constexpr std::array<std::string_view, 2> kNames = {"output", "return"};
  const auto [output, status] = JsonObjectFindMembers(result, kNames);
  if (value != nullptr && !ReadExpressionOutput(output, value)) return kOsaServiceFailed;
  return OsaServiceReturnOf(status);
}

std::uint32_t OSA_Service_ExpressionEval(OSA_ServiceCntx* context, const char* expression,
                                         OsaValue* value, std::int64_t core) {
  return OSA_Service_ExpressionEval(context, expression, value, 0, core);
}

std::uint32_t OSA_Service_StringEval(OSA_ServiceCntx* context, const char* input,
                                     std::string* value, std::int64_t core) {
  OsaTimingScope timing("StrEval(%s)", OsaLabelText(input));
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "input", input);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_StringEval", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  // "value" is needed even when the caller does not want it.
  if (!OsaServiceGetText(result.get(), "value", value)) return kOsaServiceFailed;
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_CommandExec(OSA_ServiceCntx* context, const char* command,
                                      std::uint64_t outputMask, std::string* output,
                                      std::int32_t searchFlag, std::int64_t core) {
  OsaTimingScope timing("ExecCmd(%s)", OsaLabelText(command));
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "command", command);
  JsonObjectAddInteger(params.get(), "outputMask", outputMask);
  // Commands never get to set or clear breakpoints.
  JsonObjectAddInteger(params.get(), "allowBpOps", 0);
  JsonObjectAddInteger(params.get(), "searchFlag", searchFlag);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_CommandExec", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (output != nullptr && !OsaServiceGetText(result.get(), "output", output)) {
    return kOsaServiceFailed;
  }
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_CommandExec(OSA_ServiceCntx* context, const char* command,
                                      std::uint64_t outputMask, std::string* output,
                                      std::int64_t core) {
  return OSA_Service_CommandExec(context, command, outputMask, output, 0, core);
}

std::uint32_t OSA_Service_SymbolLookup(OSA_ServiceCntx* context, const char* name,
                                       std::uint64_t* address, std::uint32_t* storageClass,
                                       std::int64_t core) {
  OsaTimingScope timing("Lookup(%s)", OsaLabelText(name));
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "name", name);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_SymbolLookup", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (address != nullptr && !JsonObjectGetInteger(result.get(), "address", address)) {
    return kOsaServiceFailed;
  }
  if (storageClass != nullptr &&
      !JsonObjectGetInteger(result.get(), "storageClass", storageClass)) {
    return kOsaServiceFailed;
  }
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_SymbolFromAddress(OSA_ServiceCntx* context, std::uint64_t address,
                                            std::int32_t symbolType, std::string* name,
                                            std::int64_t core) {
  OsaTimingScope timing("SymFAddr(0x%" PRIx64 ")", address);
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "address", address);
  JsonObjectAddInteger(params.get(), "symbolType", symbolType);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_SymbolFromAddress", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (name != nullptr && !OsaServiceGetText(result.get(), "name", name)) return kOsaServiceFailed;
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_StructFieldSearch(OSA_ServiceCntx* context, const char* structName,
                                            const char* fieldName, std::int32_t useOsaSym,
                                            const OsaFieldPlaces& places, std::int64_t core) {
  OsaTimingScope timing("StructField(%s.%s)", OsaLabelText(structName), OsaLabelText(fieldName));
  struct Field {
    const char* name;
    std::uint32_t* place;
  };
  const Field fields[] = {{"byteOffset", places.byteOffset},
                          {"byteWidth", places.byteWidth},
                          {"bitOffset", places.bitOffset},
                          {"bitWidth", places.bitWidth}};
  // A place whose member is not delivered holds all ones.
  for (const Field& field : fields) {
    if (field.place != nullptr) *field.place = 0xFFFFFFFFu;
  }
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "structName", structName);
  JsonObjectAddString(params.get(), "fieldName", fieldName);
  JsonObjectAddInteger(params.get(), "useOsaSym", useOsaSym);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_StructFieldSearch", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  for (const Field& field : fields) {
    if (field.place != nullptr && !JsonObjectGetInteger(result.get(), field.name, field.place)) {
      return kOsaServiceFailed;
    }
  }
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_StructFieldSearch(OSA_ServiceCntx* context, const char* structName,
                                            const char* fieldName, std::int32_t useOsaSym,
                                            std::uint32_t* byteOffset, std::uint32_t* byteWidth,
                                            std::uint32_t* bitOffset, std::uint32_t* bitWidth,
                                            std::int64_t core) {
  return OSA_Service_StructFieldSearch(context, structName, fieldName, useOsaSym,
                                       {.byteOffset = byteOffset,
                                        .byteWidth = byteWidth,
                                        .bitOffset = bitOffset,
                                        .bitWidth = bitWidth},
                                       core);
}

std::uint32_t OSA_Service_MacroGet(OSA_ServiceCntx* context, const char* macroName,
                                   std::int32_t useOsaSym, std::string* value, std::int64_t core) {
  OsaTimingScope timing("MacroGet(%s)", OsaLabelText(macroName));
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "macroName", macroName);
  JsonObjectAddInteger(params.get(), "useOsaSym", useOsaSym);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_MacroGet", std::move(params), &result)) return kOsaServiceFailed;
  if (value != nullptr && !OsaServiceGetText(result.get(), "value", value)) {
    return kOsaServiceFailed;
  }
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_MacroGetValue(OSA_ServiceCntx* context, const char* macroName,
                                        std::int32_t useOsaSym, OsaValue* value,
                                        std::int64_t core) {
  std::string text;
  const std::uint32_t status =
      OSA_Service_MacroGet(context, macroName, useOsaSym, value != nullptr ? &text : nullptr, core);
  if (status != kOsaServiceOk || value == nullptr) return status;
  if (value->kind == OsaValueKind::kText) {
    value->text = std::move(text);
    return kOsaServiceOk;
  }
  // Automatic base as C's unsigned conversion has it: blanks, a sign, "0x"
  // hexadecimal, leading-0 octal, decimal, all ones on overflow.
  const unsigned long long number = std::strtoull(text.c_str(), nullptr, 0);
  // A kind that cannot hold a number is the caller's mistake: nothing was
  // stored, so the call does not report success.
  return OsaValueStoreNumber(value, number) ? kOsaServiceOk : kOsaServiceFailed;
}

std::uint32_t OSA_Service_EnumValueGet(OSA_ServiceCntx* context, const char* enumName,
                                       const char* enumMemberName, std::int32_t useOsaSym,
                                       std::int64_t* value, std::int64_t core) {
  OsaTimingScope timing("EnumGet(%s)", OsaLabelText(enumName));
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "enumName", enumName);
  JsonObjectAddString(params.get(), "enumMemberName", enumMemberName);
  JsonObjectAddInteger(params.get(), "useOsaSym", useOsaSym);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_EnumValueGet", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (value != nullptr && !JsonObjectGetInteger(result.get(), "value", value)) {
    return kOsaServiceFailed;
  }
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_StructSizeGet(OSA_ServiceCntx* context, const char* name,
                                        std::int32_t useOsaSym, std::uint32_t* size,
                                        std::int64_t core) {
  OsaTimingScope timing("StructSize(%s)", OsaLabelText(name));
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "name", name);
  JsonObjectAddInteger(params.get(), "useOsaSym", useOsaSym);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_StructSizeGet", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (size != nullptr && !JsonObjectGetInteger(result.get(), "value", size)) {
    return kOsaServiceFailed;
  }
  return OsaServiceReturn(result.get());
}
