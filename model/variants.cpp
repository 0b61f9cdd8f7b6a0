// The table of kernel build variants. Secondary features (timer fields, FPU,
// thread-local storage, byte order...) are spread over the rows so that each
// is present in some variants and absent in others.
#include "model/variants.h"

namespace model {
namespace {

constexpr VariantSpec Row(std::string_view name, uint32_t version, PendLayout pend,
                          uint32_t maxTasks) {
  return VariantSpec{.name = name,
                     .version = version,
                     .pend = pend,
                     .maxTasks = maxTasks,
                     .maxPriorities = 32,
                     .maxTasksValue = maxTasks,
                     .poolCore = true,
                     .timerRemaining = true,
                     .timerRepeatTicks = false,
                     .terminated = true,
                     .fpu = true,
                     .pendSv = true,
                     .tls = false,
                     .bigEndian = false,
                     .staticPriority = false,
                     .tripleUnderscoreBoot = false};
}

constexpr VariantSpec With(VariantSpec spec, bool VariantSpec::*flag, bool value) {
  spec.*flag = value;
  return spec;
}

constexpr VariantSpec WithPriorities(VariantSpec spec, uint32_t count) {
  spec.maxPriorities = count;
  return spec;
}

constexpr VariantSpec WithMaxTasksValue(VariantSpec spec, uint32_t value) {
  spec.maxTasksValue = value;
  return spec;
}

using P = PendLayout;
using V = VariantSpec;

constexpr VariantSpec kVariants[] = {
    With(Row("v1-mask-core-32", 1, P::kMaskCore, 32), &V::tls, true),
    With(With(With(Row("v1-mask-core-64", 1, P::kMaskCore, 64), &V::timerRemaining, false),
              &V::timerRepeatTicks, true),
         &V::terminated, false),
    With(Row("v1-list-core-32", 1, P::kListCore, 32), &V::timerRepeatTicks, true),
    With(With(Row("v1-list-core-64", 1, P::kListCore, 64), &V::timerRemaining, false), &V::tls,
         true),
    With(WithPriorities(Row("v1-mask-union-32", 1, P::kMaskUnion, 32), 16), &V::pendSv, false),
    With(With(Row("v1-mask-union-64", 1, P::kMaskUnion, 64), &V::timerRemaining, false),
         &V::tripleUnderscoreBoot, true),
    // v1-mask-union-64 on a big-endian target, with repeat_ticks: masks of
    // two words, scanned and read as 8-byte members in that byte order.
    With(
        With(With(With(Row("v1-mask-union-64-be", 1, P::kMaskUnion, 64), &V::timerRemaining, false),
                  &V::tripleUnderscoreBoot, true),
             &V::timerRepeatTicks, true),
        &V::bigEndian, true),
    With(Row("v1-list-union-32", 1, P::kListUnion, 32), &V::terminated, false),
    With(With(Row("v1-list-union-64", 1, P::kListUnion, 64), &V::timerRepeatTicks, true), &V::tls,
         true),
    With(Row("v1-mask-core-32-nopoolcore", 1, P::kMaskCore, 32), &V::poolCore, false),
    With(With(Row("v1-list-union-64-nopoolcore", 1, P::kListUnion, 64), &V::poolCore, false),
         &V::timerRemaining, false),
    With(Row("v1-mask-core-32-nofpu", 1, P::kMaskCore, 32), &V::fpu, false),
    With(With(Row("v1-list-core-32-be", 1, P::kListCore, 32), &V::bigEndian, true), &V::tls, true),
    With(Row("v3-32", 3, P::kMaskUnion, 32), &V::tls, true),
    With(With(With(With(Row("v3-64", 3, P::kMaskUnion, 64), &V::staticPriority, true),
                   &V::timerRemaining, false),
              &V::timerRepeatTicks, true),
         &V::tls, true),
    WithMaxTasksValue(With(Row("v3-32-maskbytes", 3, P::kMaskUnion, 32), &V::terminated, false), 4),
};
static_assert(std::size(kVariants) == 16);

}  // namespace

std::span<const VariantSpec> Variants() {
  return kVariants;
}

const VariantSpec* FindVariant(std::string_view name) {
  for (const VariantSpec& spec : kVariants) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

}  // namespace model
