// Service records: the list of live records (newest first), request decoding
// into a record's request-scoped state, and the request scope that keeps an
// outer request's state intact while a nested one is served.
#pragma once

#include <cstdint>
#include <memory>

#include "osa/plugin_api.h"
#include "osa/status.h"
#include "simple_json/json_value.h"

// Records are shared: the list holds one reference and every request being
// served holds another, so a nested OsaCleanup cannot free a record that an
// outer request still uses.
using OsaContextPtr = std::shared_ptr<OSA_ServiceCntx>;

// Creates a record with its initial values and puts it at the front of the
// list; an older record with the same handle is shadowed, not replaced.
OSA_ServiceCntx* OsaContextCreate(std::uint64_t handle);

// The newest listed record with that handle, or null.
OSA_ServiceCntx* OsaContextFind(std::uint64_t handle);

// Removes every list entry of the record. Everything it owns is released
// with the record once no request being served holds it any more.
void OsaContextDestroy(OSA_ServiceCntx* context);

// A shared reference to a listed record, or null when it is not listed.
OsaContextPtr OsaContextHold(const OSA_ServiceCntx* context);

// Finds the record named by the request's "context", updates its
// request-scoped flags and host core from the request, and shifts its request
// slots (current to previous, this request to current). Null when "context"
// is missing, not an integer, or names no listed record.
OSA_ServiceCntx* OsaRequestDecode(const JsonValue* params, JsonValue* result);

// Clears every request slot, in every record still alive, that refers to
// this request's params or result; called when the request is answered, so
// that no slot outlives the tree it points into.
void OsaRequestForget(const JsonValue* params, const JsonValue* result);

// Open request scopes over all records together.
std::int32_t OsaRequestNesting();

// The request scope: opening it (with a record) counts the nesting level and
// takes over the record's previous params and result; closing it restores
// the outer request's state by decoding its params again while an outer
// request is still open. A null record makes both steps do nothing.
class OsaRequestScope {
 public:
  explicit OsaRequestScope(OSA_ServiceCntx* context);
  ~OsaRequestScope();
  OsaRequestScope(const OsaRequestScope&) = delete;
  OsaRequestScope& operator=(const OsaRequestScope&) = delete;

  // Closes the scope once; later calls and the destructor do nothing.
  void Close();

 private:
  OsaContextPtr context_;
  const JsonValue* heldParams_ = nullptr;
  JsonValue* heldResult_ = nullptr;
  bool open_ = false;
};

// Calls a callback slot with `args`; an empty slot succeeds and leaves the
// outputs as preset. The one place a callback's status enters the interface.
template <typename Callback, typename... Args>
[[nodiscard]] OsaStatus OsaCallSlot(Callback callback, Args... args) {
  if (callback == nullptr) return OsaStatus::kOk;
  return OsaStatusFromInt32(callback(args...));
}

// One request served by the common handler pattern: the answer object, the
// decoded record (null when the request names none), the open scope and the
// kernel record the request started with, held until the request ends.
class OsaServedRequest {
 public:
  explicit OsaServedRequest(const JsonValue* params);
  ~OsaServedRequest();
  OsaServedRequest(const OsaServedRequest&) = delete;
  OsaServedRequest& operator=(const OsaServedRequest&) = delete;

  OSA_ServiceCntx* Context() const { return context_; }
  JsonValue* Result() const { return result_.get(); }
  // The kernel record to hand to the callback; it stays valid for the whole
  // request even when a nested request releases or replaces the record's.
  void* KernelRecord() const { return kernelRecord_.get(); }

  // Calls a slot from 4 on, whose callbacks take the record, its info and
  // the kernel record before `args` (a decoded record is needed).
  template <typename Callback, typename... Args>
  [[nodiscard]] OsaStatus Call(Callback callback, Args... args) const {
    return OsaCallSlot(callback, context_, &context_->info, KernelRecord(), args...);
  }

  // Writes "return", clears the record slots that refer to this request,
  // closes the scope and hands the answer out.
  JsonPtr Answer(OsaStatus status);

 private:
  const JsonValue* params_;
  JsonPtr result_;
  OSA_ServiceCntx* context_;
  OsaRequestScope scope_;
  OsaPrivateData kernelRecord_;
  bool answered_ = false;
};
