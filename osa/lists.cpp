// Plain lists to and from JSON array members.
#include "osa/lists.h"

#include <utility>

namespace {

template <typename T>
bool PutList(JsonValue* object, std::string_view name, const T* list, std::uint32_t count) {
  if (object == nullptr || list == nullptr || count == 0) return false;
  JsonPtr array = JsonNewArray();
  if (!JsonArrayAppendList(array.get(), list, count)) return false;
  return JsonObjectAdd(object, name, std::move(array));
}

// The array's length is checked before anything is reserved, so a count
// from the debugger cannot make the plug-in allocate more than the request
// itself holds.
template <typename T>
bool GetList(const JsonValue* object, std::string_view name, std::vector<T>* list, std::int32_t n) {
  if (list == nullptr) return false;
  list->clear();
  if (n <= 0) return true;
  const JsonValue* array = nullptr;
  if (object == nullptr || !JsonObjectGet(object, name, &array) || array == nullptr ||
      array->kind != JsonKind::JsonArray || array->count() < static_cast<std::uint32_t>(n)) {
    return false;
  }
  list->assign(static_cast<std::size_t>(n), T{});
  if (!JsonArrayCopyOut(array, 0, list->data(), static_cast<std::uint32_t>(n))) {
    list->clear();
    return false;
  }
  return true;
}

}  // namespace

bool OsaPutList(JsonValue* object, std::string_view name, const char* const* list,
                std::uint32_t count) {
  return PutList(object, name, list, count);
}
bool OsaPutList(JsonValue* object, std::string_view name, const std::int64_t* list,
                std::uint32_t count) {
  return PutList(object, name, list, count);
}
bool OsaPutList(JsonValue* object, std::string_view name, const std::uint64_t* list,
                std::uint32_t count) {
  return PutList(object, name, list, count);
}
bool OsaPutList(JsonValue* object, std::string_view name, const std::int32_t* list,
                std::uint32_t count) {
  return PutList(object, name, list, count);
}

bool OsaGetList(const JsonValue* object, std::string_view name, std::vector<const char*>* list,
                std::int32_t n) {
  return GetList(object, name, list, n);
}
bool OsaGetList(const JsonValue* object, std::string_view name, std::vector<std::uint64_t>* list,
                std::int32_t n) {
  return GetList(object, name, list, n);
}
bool OsaGetList(const JsonValue* object, std::string_view name, std::vector<std::uint32_t>* list,
                std::int32_t n) {
  return GetList(object, name, list, n);
}
