// Lays out a complete kernel of one build variant in a model target: the
// kernel's types and symbols, tasks in every status with saved register
// frames, timers, mutexes, semaphores, queues, event flags, pools, the object
// rings, the run state and the register map, and records what it built in
// the model's manifest.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/target_model.h"

namespace model {

// Builds the variant named `variant` (see KernelVariantNames) into `model`,
// replacing what it held. On failure returns false with a reason in `error`
// (when given); `model` is then unspecified.
[[nodiscard]] bool BuildKernelModel(std::string_view variant, TargetModel* model,
                                    std::string* error);

// The names of every variant, in a fixed order ("v1-mask-core-32", ...).
std::vector<std::string_view> KernelVariantNames();

}  // namespace model
