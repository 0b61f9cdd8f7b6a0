// The kernel's C types per build variant. Members that a variant lacks are
// simply not declared, so expressions naming them fail as on a real target.
#include "model/kernel_types.h"

#include <vector>

namespace model {
namespace {

using Members = std::vector<MemberSpec>;

TypeId Named(const TypeTable& table, std::string_view name) {
  TypeId type = 0;
  const bool found = FindTypeByName(table, name, &type);
  (void)found;  // the base types are always there after TypeTableInit
  return type;
}

TypeId Record(TypeTable* table, std::string_view name, const Members& members) {
  return AddRecordType(table, TypeKind::kStruct, name, members);
}

}  // namespace

KernelTypes AddKernelTypes(TypeTable* table, const VariantSpec& spec) {
  KernelTypes k;
  const bool v3 = spec.version == 3;
  const TypeId voidPointer = AddPointerType(table, Named(*table, "void"));
  const TypeId charPointer = AddPointerType(table, Named(*table, "char"));
  const TypeId ushort = Named(*table, "unsigned short");
  k.uint = Named(*table, "unsigned int");
  k.stackWord = Named(*table, "unsigned long long");
  k.byte = AddTypedef(table, "QX_BYTE", Named(*table, "unsigned char"));

  k.waitList = Record(table, "struct QX_WAIT_LIST_STRUCT",
                      {{"words", AddArrayType(table, k.uint, spec.maxTasks / 32)}});

  const TypeId taskStruct = DeclareRecordType(table, TypeKind::kStruct, "struct QX_TASK_STRUCT");
  const TypeId taskStructPointer = AddPointerType(table, taskStruct);
  k.objectCore = DeclareRecordType(table, TypeKind::kStruct, "struct QX_OBJECT_STRUCT");
  k.objectPointer = AddPointerType(table, k.objectCore);

  const TypeId link = Record(table, "struct QX_OBJECT_LINK_STRUCT",
                             {{"next", k.objectPointer}, {"prev", k.objectPointer}});
  const bool list = spec.pend == PendLayout::kListCore || spec.pend == PendLayout::kListUnion;
  const bool inUnion = spec.pend == PendLayout::kMaskUnion || spec.pend == PendLayout::kListUnion;
  const TypeId pending =
      list ? Record(table, "struct QX_PEND_LIST_STRUCT",
                    {{"head", taskStructPointer}, {"count", k.uint}})
           : Record(table, "struct QX_PEND_MASK_STRUCT", {{v3 ? "task_mask" : "mask", k.waitList}});
  Members core = {{"name", charPointer}, {"type_id", k.uint}, {"created", link}};
  if (inUnion) {
    const TypeId unionType =
        AddRecordType(table, TypeKind::kUnion, "union QX_OBJECT_UNION",
                      Members{{"pending", pending}, {"raw", AddArrayType(table, k.uint, 3)}});
    core.push_back({"u", unionType});
  } else {
    core.push_back({"pending", pending});
  }
  DefineRecordType(table, k.objectCore, core);

  const TypeId timerLinkStruct =
      DeclareRecordType(table, TypeKind::kStruct, "struct QX_TIMER_LINK_STRUCT");
  const TypeId timerLinkPointer = AddPointerType(table, timerLinkStruct);
  DefineRecordType(table, timerLinkStruct,
                   Members{{"next", timerLinkPointer}, {"prev", timerLinkPointer}});
  const std::string_view tickMember = spec.timerRemaining ? "remaining_ticks" : "expiration_tick";
  const TypeId waitTimer = Record(table, "struct QX_WAIT_TIMER_STRUCT",
                                  {{"active", timerLinkStruct}, {tickMember, k.uint}});
  const TypeId taskPend = Record(table, "struct QX_TASK_PEND_STRUCT",
                                 {{"parent", k.objectPointer}, {"next", taskStructPointer}});

  Members task;
  if (v3) {
    task.push_back({"registers", AddArrayType(table, k.uint, 2)});
  } else {
    task.push_back({"stack_last", voidPointer});
  }
  task.push_back({"task_number", k.uint});
  task.push_back({"core", k.objectCore});
  task.push_back({"status", k.uint});
  if (v3) {
    const TypeId schedInfo =
        Record(table, "struct QX_TASK_SCHED_STRUCT", {{"priority", ushort}, {"slice", ushort}});
    task.push_back({"static_sched_info", schedInfo});
    task.push_back({"active_sched_info", schedInfo});
    if (spec.staticPriority) task.push_back({"static_priority", k.byte});
  } else {
    task.push_back({"static_priority", k.byte});
    task.push_back({"active_priority", k.byte});
  }
  task.push_back({"preempt_threshold", k.byte});
  task.push_back({"time_slice", k.uint});
  task.push_back({"remaining_time_slice", k.uint});
  task.push_back({"stack_start", voidPointer});
  if (v3) task.push_back({"stack_end", voidPointer});
  task.push_back({"stack_size", k.uint});
  task.push_back({"pending", taskPend});
  task.push_back({"owned_mutex_count", k.uint});
  if (!v3) task.push_back({"mutex_waiters_mask", k.waitList});
  task.push_back({"wait_timer", waitTimer});
  task.push_back({"entry_function", voidPointer});
  task.push_back({"exit_code", k.uint});
  if (spec.terminated) task.push_back({"terminated", k.byte});
  DefineRecordType(table, taskStruct, task);
  k.task = AddTypedef(table, "QX_TASK", taskStruct);
  k.taskPointer = AddPointerType(table, k.task);

  Members timer = {{"core", k.objectCore},
                   {"active", timerLinkStruct},
                   {tickMember, k.uint},
                   {"alarm_ticks", k.uint}};
  if (spec.timerRepeatTicks) {
    timer.push_back({"repeat_ticks", k.uint});
  } else {
    timer.push_back({"alarm_repeat", k.byte});
  }
  timer.push_back({"expiration_function", voidPointer});
  timer.push_back({"expiration_input", k.uint});
  k.timer = AddTypedef(table, "QX_TIMER", Record(table, "struct QX_TIMER_STRUCT", timer));

  k.mutex = AddTypedef(table, "QX_MUTEX",
                       Record(table, "struct QX_MUTEX_STRUCT",
                              {{"core", k.objectCore},
                               {"owner", k.taskPointer},
                               {"nesting_count", k.uint},
                               {"priority_inherit", k.byte},
                               {"inherited_priority", k.byte}}));
  k.sem = AddTypedef(
      table, "QX_SEM",
      Record(table, "struct QX_SEM_STRUCT", {{"core", k.objectCore}, {"count", k.uint}}));
  k.queue = AddTypedef(table, "QX_QUEUE",
                       Record(table, "struct QX_QUEUE_STRUCT",
                              {{"core", k.objectCore},
                               {"buf_start", voidPointer},
                               {"buf_end", voidPointer},
                               {"read_ptr", voidPointer},
                               {"msg_size", k.uint},
                               {"num_msgs", k.uint}}));
  k.eflags =
      AddTypedef(table, "QX_EFLAGS",
                 Record(table, "struct QX_EFLAGS_STRUCT",
                        {{"core", k.objectCore}, {"flags", k.uint}, {"requested_flags", k.uint}}));
  Members bpool;
  Members mpool;
  if (spec.poolCore) {
    bpool.push_back({"core", k.objectCore});
    mpool.push_back({"core", k.objectCore});
  } else {
    bpool.push_back({"name", charPointer});
    mpool.push_back({"name", charPointer});
  }
  for (std::string_view name : {"block_size", "available_blocks", "total_blocks"})
    bpool.push_back({name, k.uint});
  bpool.push_back({"pool_start", voidPointer});
  for (std::string_view name :
       {"available_bytes", "buf_size", "fragments", "min_pending_allocation_size"})
    mpool.push_back({name, k.uint});
  mpool.push_back({"pool_start", voidPointer});
  k.bpool = AddTypedef(table, "QX_BPOOL", Record(table, "struct QX_BPOOL_STRUCT", bpool));
  k.mpool = AddTypedef(table, "QX_MPOOL", Record(table, "struct QX_MPOOL_STRUCT", mpool));

  k.schedInfo = Record(table, "struct QX_SCHED_INFO_STRUCT",
                       {{"ready", k.waitList},
                        {"static_task_array", AddArrayType(table, k.taskPointer, spec.maxTasks)}});
  k.timerInfo = Record(table, "struct QX_TIMER_INFO_STRUCT",
                       {{"current_tick", k.uint}, {"active_list", timerLinkStruct}});
  return k;
}

}  // namespace model
