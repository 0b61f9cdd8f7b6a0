// Service records, request decoding and the request scope.
#include "osa/context.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "osa/messages.h"
#include "osa/params.h"
#include "osa/process_state.h"

namespace {

// The interface names one OsaContextList per process.
OsaContextRegistry& Registry() {
  return OsaProcess().contexts;
}

void ForgetIn(OSA_ServiceCntx* context, const JsonValue* params, const JsonValue* result) {
  if (params != nullptr) {
    if (context->currentParams == params) context->currentParams = nullptr;
    if (context->previousParams == params) context->previousParams = nullptr;
  }
  if (result != nullptr) {
    if (context->currentResult == result) context->currentResult = nullptr;
    if (context->previousResult == result) context->previousResult = nullptr;
  }
}

}  // namespace

OSA_ServiceCntx* OsaContextCreate(std::uint64_t handle) {
  OsaContextPtr context = std::make_shared<OSA_ServiceCntx>();
  context->contextHandle = handle;
  OsaContextRegistry& registry = Registry();
  std::erase_if(registry.live, [](const std::weak_ptr<OSA_ServiceCntx>& r) { return r.expired(); });
  registry.live.push_back(context);
  registry.list.insert(registry.list.begin(), context);
  return context.get();
}

OSA_ServiceCntx* OsaContextFind(std::uint64_t handle) {
  for (const OsaContextPtr& context : Registry().list) {
    if (context->contextHandle == handle) return context.get();
  }
  return nullptr;
}

void OsaContextDestroy(OSA_ServiceCntx* context) {
  if (context == nullptr) return;
  // Dropping the list's references releases the record at once unless an
  // outer request still holds it; it is then released when that one ends.
  std::erase_if(Registry().list, [context](const OsaContextPtr& c) { return c.get() == context; });
}

OsaContextPtr OsaContextHold(const OSA_ServiceCntx* context) {
  for (const OsaContextPtr& listed : Registry().list) {
    if (listed.get() == context) return listed;
  }
  return nullptr;
}

OSA_ServiceCntx* OsaRequestDecode(const JsonValue* params, JsonValue* result) {
  // The request-scoped members, found in one pass over params rather than
  // a lookup each: every client request carries them. Read by the rules of
  // every parameter (integers only; the first member of a name counts).
  enum Member : std::uint8_t {
    kContext,
    kInUserMode,
    kAbortAction,
    kVexloInValidation,
    kHostCoreId,
    kUnifiedMcOsa,
    kMcIsFrozen,
    kTraecIsActive,
    kMemberCount
  };
  static constexpr std::array<std::string_view, kMemberCount> kNames = {
      "context",    "inUserMode",   "abortAction", "vexloInValidation",
      "hostCoreId", "unifiedMcOsa", "mcIsFrozen",  "traecIsActive"};
  std::array<const JsonValue*, kMemberCount> found = JsonObjectFindMembers(params, kNames);
  for (const JsonValue*& value : found) {
    if (value != nullptr && value->kind != JsonKind::JsonInteger) value = nullptr;
  }
  // A flag: a non-zero integer; false when absent.
  const auto flag = [&found](Member which) {
    return found[which] != nullptr && found[which]->number != 0;
  };
  if (found[kContext] == nullptr) return nullptr;
  OSA_ServiceCntx* context = OsaContextFind(static_cast<std::uint64_t>(found[kContext]->number));
  if (context == nullptr) return nullptr;

  context->inUserMode = flag(kInUserMode);
  context->abortAction = flag(kAbortAction);
  context->vexloInValidation = flag(kVexloInValidation);
  // 1-based on the wire; 0 and absent both mean no core. Unsigned
  // arithmetic keeps the smallest integer from overflowing.
  const std::uint64_t hostCoreId =
      found[kHostCoreId] != nullptr ? static_cast<std::uint64_t>(found[kHostCoreId]->number) : 0;
  context->hostCoreIndex = static_cast<std::int64_t>(hostCoreId - 1);
  context->unifiedMcOsa = flag(kUnifiedMcOsa) ? 1 : 0;
  context->mcIsFrozen = flag(kMcIsFrozen) ? 1 : 0;
  if (found[kTraecIsActive] != nullptr) context->traecIsActive = flag(kTraecIsActive);

  context->previousParams = context->currentParams;
  context->currentParams = params;
  context->previousResult = context->currentResult;
  context->currentResult = result;
  return context;
}

void OsaRequestForget(const JsonValue* params, const JsonValue* result) {
  for (const std::weak_ptr<OSA_ServiceCntx>& record : Registry().live) {
    if (OsaContextPtr context = record.lock()) ForgetIn(context.get(), params, result);
  }
}

std::int32_t OsaRequestNesting() {
  return Registry().requestNesting;
}

OsaRequestScope::OsaRequestScope(OSA_ServiceCntx* context) {
  if (context == nullptr) return;
  context_ = OsaContextHold(context);
  if (context_ == nullptr) return;
  open_ = true;
  ++Registry().requestNesting;
  heldParams_ = std::exchange(context->previousParams, nullptr);
  heldResult_ = std::exchange(context->previousResult, nullptr);
}

OsaRequestScope::~OsaRequestScope() {
  Close();
}

void OsaRequestScope::Close() {
  if (!open_) return;
  open_ = false;
  --Registry().requestNesting;
  // The held params belong to a request still being served: answered
  // requests clear their slots, so nothing stale is ever held here.
  if (heldParams_ != nullptr && Registry().requestNesting > 0) {
    if (OsaRequestDecode(heldParams_, heldResult_) != context_.get()) {
      std::fputs(kOsaRestorationMismatch, stderr);
    }
  }
  heldParams_ = nullptr;
  heldResult_ = nullptr;
  context_.reset();
}

OsaServedRequest::OsaServedRequest(const JsonValue* params)
    : params_(params),
      result_(JsonNewObject()),
      context_(OsaRequestDecode(params, result_.get())),
      scope_(context_),
      kernelRecord_(context_ != nullptr ? context_->privateData : nullptr) {}

OsaServedRequest::~OsaServedRequest() {
  if (!answered_) {
    OsaRequestForget(params_, result_.get());
    scope_.Close();
  }
}

JsonPtr OsaServedRequest::Answer(OsaStatus status) {
  OsaResultReturn(result_.get(), status);
  answered_ = true;
  OsaRequestForget(params_, result_.get());
  scope_.Close();
  return std::move(result_);
}
