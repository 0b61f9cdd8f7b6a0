// Plain lists to and from JSON array members, for the method handlers.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "simple_json/json_value.h"

// Adds member `name` holding a new array of the `count` list entries (texts
// are copied). False, with nothing added, when the object or the list is
// null or `count` is 0.
[[nodiscard]] bool OsaPutList(JsonValue* object, std::string_view name, const char* const* list,
                              std::uint32_t count);
[[nodiscard]] bool OsaPutList(JsonValue* object, std::string_view name, const std::int64_t* list,
                              std::uint32_t count);
[[nodiscard]] bool OsaPutList(JsonValue* object, std::string_view name, const std::uint64_t* list,
                              std::uint32_t count);
[[nodiscard]] bool OsaPutList(JsonValue* object, std::string_view name, const std::int32_t* list,
                              std::uint32_t count);

// Copies elements 0 to n-1 of array member `name` into *list. n <= 0: the
// list is emptied and the result is true. The list never gets more elements
// than the array holds: a missing member, a short array or an element of the
// wrong kind gives false (texts are lent from the tree).
[[nodiscard]] bool OsaGetList(const JsonValue* object, std::string_view name,
                              std::vector<const char*>* list, std::int32_t n);
[[nodiscard]] bool OsaGetList(const JsonValue* object, std::string_view name,
                              std::vector<std::uint64_t>* list, std::int32_t n);
[[nodiscard]] bool OsaGetList(const JsonValue* object, std::string_view name,
                              std::vector<std::uint32_t>* list, std::int32_t n);
