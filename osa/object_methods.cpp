// Handlers of the object-list cursor (Init, Next, Attribute, Cleanup) and of
// the object and memory-layout queries: GuiObjectCheck, ObjectChangedCheck,
// LifeCycleCountsGet, PageTableGet and KernelMemoryRegionsGet.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "osa/context.h"
#include "osa/methods.h"
#include "osa/params.h"
#include "osa/plugin_api.h"
#include "osa/status.h"

namespace {

constexpr std::uint32_t kNoParentType = 0xFFFFFFFF;

// The object type and optional parent that every object-list method names.
struct ObjectListTarget {
  std::int32_t objTypeId = 0;
  OsaParentRef parent;

  // The callback sees the parent only when one is named.
  const OsaParentRef* ParentOrNull() const {
    return parent.parentObjTypeId == kNoParentType ? nullptr : &parent;
  }
};

// The members an object-list request names its target and attribute by,
// found in one pass over params; the target's come first.
enum ListMember : std::uint8_t {
  kObjTypeId,
  kParentObjTypeId,
  kParentObjId,
  kParentObjListId,
  kObjAtrId,
  kValueType,
  kListMembers
};
constexpr std::array<std::string_view, kListMembers> kListNames = {
    "objTypeId", "parentObjTypeId", "parentObjId", "parentObjListId", "objAtrId", "valueType"};
constexpr std::size_t kTargetMembers = kObjAtrId;

// The integer members among `names` (null where one is missing or holds no
// integer), read by the rules of every parameter.
template <std::size_t kCount>
std::array<const JsonValue*, kCount> IntegerMembers(
    const JsonValue* params, const std::array<std::string_view, kCount>& names) {
  std::array<const JsonValue*, kCount> found = JsonObjectFindMembers(params, names);
  for (const JsonValue*& value : found) {
    if (value != nullptr && value->kind != JsonKind::JsonInteger) value = nullptr;
  }
  return found;
}

// False when "objTypeId" is missing, or a parent type is given without
// "parentObjId".
bool TargetFrom(const JsonValue* const* found, ObjectListTarget* out) {
  ObjectListTarget target;
  if (found[kObjTypeId] == nullptr) return false;
  target.objTypeId = static_cast<std::int32_t>(found[kObjTypeId]->number);
  if (found[kParentObjTypeId] != nullptr) {
    target.parent.parentObjTypeId = static_cast<std::uint32_t>(found[kParentObjTypeId]->number);
    if (found[kParentObjId] == nullptr) return false;
    target.parent.parentObjId = static_cast<std::uint64_t>(found[kParentObjId]->number);
    if (found[kParentObjListId] != nullptr) {
      target.parent.parentObjListId = static_cast<std::uint32_t>(found[kParentObjListId]->number);
    }
  }
  *out = target;
  return true;
}

bool ReadObjectListTarget(const JsonValue* params, ObjectListTarget* out) {
  constexpr auto kNames = [] {
    std::array<std::string_view, kTargetMembers> names;
    for (std::size_t i = 0; i < kTargetMembers; ++i)
      names[i] = kListNames[i];
    return names;
  }();
  return TargetFrom(IntegerMembers(params, kNames).data(), out);
}

// Value types 1 to 7, 10 and 11 ask for a number; the rest, floating point
// included, for a text.
OsaValueKind AttributeKind(std::uint32_t valueType) {
  const bool number = (valueType >= 1 && valueType <= 7) || valueType == 10 || valueType == 11;
  return number ? OsaValueKind::kUInt64 : OsaValueKind::kText;
}

// The slot 4 to 6 methods differ only in the callback they call.
JsonPtr ServeObjectListStep(const JsonValue* params, OsaObjectListCallback callback) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  ObjectListTarget target;
  if (!ReadObjectListTarget(params, &target)) return request.Answer(OsaStatus::kFailed);
  const OsaStatus status = request.Call(callback, target.objTypeId, target.ParentOrNull());
  return request.Answer(status);
}

// The three object query parameters, each with its default.
struct ObjectQuery {
  std::int32_t objTypeId;
  std::uint64_t objId;
  std::int32_t subObjTypeId;
};

ObjectQuery ReadObjectQuery(const JsonValue* params) {
  return {OsaParamOr<std::int32_t>(params, "objTypeId", -1),
          OsaParamOr<std::uint64_t>(params, "objId", 0),
          OsaParamOr<std::int32_t>(params, "subObjTypeId", -1)};
}

template <typename Entry, typename Field>
std::vector<std::int64_t> Column(const std::vector<Entry>& entries, Field field) {
  std::vector<std::int64_t> column;
  column.reserve(entries.size());
  for (const Entry& entry : entries)
    column.push_back(static_cast<std::int64_t>(field(entry)));
  return column;
}

}  // namespace

JsonPtr OsaHandleObjectListInit(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  ObjectListTarget target;
  if (!ReadObjectListTarget(params, &target)) return request.Answer(OsaStatus::kFailed);
  context->showAllObjects = OsaParamFlagOr(params, "showAllObjects", false) ? 1 : 0;
  context->info.optionBits.showObjectNumber = true;
  const OsaStatus status =
      request.Call(OsaCallbacks().objectListInit, target.objTypeId, target.ParentOrNull());
  OsaResultInt32(request.Result(), "showObjectNumber",
                 context->info.optionBits.showObjectNumber ? 1 : 0);
  return request.Answer(status);
}

JsonPtr OsaHandleObjectListCleanup(const JsonValue* params) {
  return ServeObjectListStep(params, OsaCallbacks().objectListCleanup);
}

JsonPtr OsaHandleObjectListNext(const JsonValue* params) {
  return ServeObjectListStep(params, OsaCallbacks().objectListNext);
}

JsonPtr OsaHandleObjectListAttribute(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  // The request's params are the record's current ones while it is decoded.
  const auto found = IntegerMembers(context->currentParams, kListNames);
  ObjectListTarget target;
  if (!TargetFrom(found.data(), &target) || found[kObjAtrId] == nullptr ||
      found[kValueType] == nullptr) {
    return request.Answer(OsaStatus::kFailed);
  }
  const auto attributeId = static_cast<std::int32_t>(found[kObjAtrId]->number);
  const auto valueType = static_cast<std::uint32_t>(found[kValueType]->number);
  OsaValue value = OsaPresetValue(AttributeKind(valueType));
  const OsaStatus status = request.Call(OsaCallbacks().objectListAttribute, target.objTypeId,
                                        target.ParentOrNull(), attributeId, &value);
  if (status == OsaStatus::kOk) OsaResultValue(request.Result(), "objAtrValue", value);
  return request.Answer(status);
}

JsonPtr OsaHandleGuiObjectCheck(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const char* typeName = nullptr;
  OsaGuiObjectInfo in;
  if (!OsaParamString(params, "objTypeName", &typeName) ||
      !OsaParam(params, "objTypeId", &in.typeId) || !OsaParam(params, "visible", &in.visible)) {
    return request.Answer(OsaStatus::kFailed);
  }
  in.typeName = std::string(typeName);
  OsaGuiObjectInfo out;
  out.typeId = in.typeId;
  out.visible = in.visible;
  const OsaStatus status = request.Call(OsaCallbacks().guiObjectCheck, &in, &out);
  if (status == OsaStatus::kOk) {
    OsaResultString(request.Result(), "objTypeName",
                    out.typeName ? out.typeName->c_str() : typeName);
    OsaResultInt32(request.Result(), "visible", out.visible);
  }
  return request.Answer(status);
}

JsonPtr OsaHandleObjectChangedCheck(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const ObjectQuery query = ReadObjectQuery(params);
  OsaValue changeMask = OsaPresetValue(OsaValueKind::kUInt64);
  const OsaStatus status = request.Call(OsaCallbacks().objectChangedCheck, query.objTypeId,
                                        query.objId, query.subObjTypeId, &changeMask);
  if (status == OsaStatus::kOk) OsaResultInt64(request.Result(), "changeMask", changeMask.payload);
  return request.Answer(status);
}

JsonPtr OsaHandleLifeCycleCountsGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const ObjectQuery query = ReadObjectQuery(params);
  OsaValue count = OsaPresetValue(OsaValueKind::kUInt64);
  std::vector<OsaValue> lifeCycle;
  OsaStatus status = request.Call(OsaCallbacks().lifeCycleCountsGet, query.objTypeId, query.objId,
                                  query.subObjTypeId, &count, &lifeCycle);
  if (status == OsaStatus::kOk) {
    OsaResultInt64(request.Result(), "count", count.payload);
    const auto entries = static_cast<std::int64_t>(count.payload);
    if (!OsaResultList(request.Result(), "lifeCycle", OsaValuePayloads(lifeCycle), entries)) {
      status = OsaStatus::kFailed;
    }
  }
  return request.Answer(status);
}

JsonPtr OsaHandlePageTableGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const std::uint64_t domainId = OsaParamOr<std::uint64_t>(params, "domainId", 0);
  std::vector<OsaTargetAddress> physLow;
  std::vector<OsaTargetAddress> virtLow;
  std::vector<OsaValue> regionSize;
  std::vector<std::uint64_t> aid;
  OsaValue count = OsaPresetValue(OsaValueKind::kUInt64);
  OsaStatus status = request.Call(OsaCallbacks().pageTableGet, domainId, &physLow, &virtLow,
                                  &regionSize, &aid, &count);
  if (status == OsaStatus::kOk) {
    JsonValue* result = request.Result();
    OsaResultInt64(result, "count", count.payload);
    const auto entries = static_cast<std::int64_t>(count.payload);
    const auto address = [](OsaTargetAddress a) { return OsaAddressToU64(a); };
    const auto same = [](std::uint64_t id) { return id; };
    const bool formed[] = {
        OsaResultList(result, "physLowArray", Column(physLow, address), entries),
        OsaResultList(result, "virtLowArray", Column(virtLow, address), entries),
        OsaResultList(result, "regionSize", OsaValuePayloads(regionSize), entries),
        OsaResultList(result, "aidArray", Column(aid, same), entries),
    };
    for (bool ok : formed) {
      if (!ok) status = OsaStatus::kFailed;
    }
  }
  return request.Answer(status);
}

JsonPtr OsaHandleKernelMemoryRegionsGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::int32_t numRegions = 0;
  std::vector<OsaMemoryRegion> regions;
  OsaStatus status = request.Call(OsaCallbacks().kernelMemoryRegionsGet, &numRegions, &regions);
  if (status == OsaStatus::kOk) {
    JsonValue* result = request.Result();
    OsaResultInt32(result, "numRegions", static_cast<std::uint32_t>(numRegions));
    // No regions is a valid answer here: the lists are simply left out.
    if (numRegions > 0) {
      using Region = OsaMemoryRegion;
      const bool formed[] = {
          OsaResultList(result, "beginArray",
                        Column(regions, [](const Region& r) { return r.begin; }), numRegions),
          OsaResultList(result, "physicalBeginArray",
                        Column(regions, [](const Region& r) { return r.physicalBegin; }),
                        numRegions),
          OsaResultList(result, "endArray", Column(regions, [](const Region& r) { return r.end; }),
                        numRegions),
          OsaResultList(result, "physicalEndArray",
                        Column(regions, [](const Region& r) { return r.physicalEnd; }), numRegions),
          OsaResultList(result, "attributesArray",
                        Column(regions, [](const Region& r) { return r.attributes; }), numRegions),
      };
      for (bool ok : formed) {
        if (!ok) status = OsaStatus::kFailed;
      }
    }
  }
  return request.Answer(status);
}
