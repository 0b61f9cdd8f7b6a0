// Members found by their place: the plug-in writes each kind of message
// with the same members in the same order, so a message in that layout is
// read without a search, and anything else goes to the search.
#pragma once

#include <cstddef>
#include <cstring>

#include "simple_json/json_value.h"

// True when `names[i]`, a literal of kSize bytes with its NUL, is the name
// of member i. The size is known here, so the bytes are compared inline.
template <std::size_t kSize>
[[gnu::always_inline]] inline bool DbgNameIs(const JsonMember& member, const char (&name)[kSize]) {
  return member.name.size() == kSize - 1 && std::memcmp(member.name.data(), name, kSize - 1) == 0;
}

// True when `object` is an object whose members carry exactly `names`, in
// that order. The names are distinct, so the first member of each name is
// then the one at its place.
template <std::size_t... kSizes>
[[gnu::always_inline]] inline bool DbgHasLayout(const JsonValue* object,
                                                const char (&... names)[kSizes]) {
  if (object == nullptr || object->kind != JsonKind::JsonObject ||
      object->members.size() != sizeof...(kSizes)) {
    return false;
  }
  const JsonMember* member = object->members.data();
  return (DbgNameIs(*member++, names) && ...);
}

// The value of member `at` of an object that DbgHasLayout accepted.
inline const JsonValue* DbgMemberAt(const JsonValue* object, std::size_t at) {
  return object->members[at].value.get();
}
