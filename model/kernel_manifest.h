// The description of a kernel laid out by the builder: what each task and
// object holds, in the terms the debugger shows, so that a test can compare
// the plug-in's answers with the model without redoing its arithmetic.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/register_file.h"

namespace model {

// A member as stored ("count", "alarm_ticks", "pending.mask" for the mask of
// either layout, "pending.count") or a figure as the debugger should show it:
// "capacity" (queues, in messages), "active", "ticks_left" and "repeating"
// (timers), "inherited_priority_shown" (mutexes).
struct ManifestField {
  std::string name;
  uint64_t value = 0;
};

struct ManifestTask {
  uint32_t address = 0;      // the QX_TASK; the debugger's task id
  uint32_t coreAddress = 0;  // its object core
  uint32_t number = 0;       // index in qx_kernel_sched_info.static_task_array
  std::string name;
  uint32_t status = 0;  // the "status" member
  bool running = false;
  bool fpOwner = false;           // the task qx_cpu_fp_task names
  bool onStartupStack = false;    // its stack lies in [__hrxbegin_stack, __hrxend_stack)
  uint32_t staticPriority = 0;    // as shown (version 1 stores max_priorities - 1 - shown)
  uint32_t activePriority = 0;    // as shown
  uint32_t preemptThreshold = 0;  // as shown
  uint32_t timeSlice = 0;
  uint32_t remainingTimeSlice = 0;
  uint32_t stackStart = 0;
  uint32_t stackSize = 0;
  uint32_t savedSp = 0;    // stack_last or registers[0]: where the saved context starts
  bool fpFrame = false;    // the frame holds a floating-point context (EXC_RETURN bit 4 clear)
  bool padWord = false;    // the hardware frame was aligned with one extra word (xPSR bit 9)
  uint32_t excReturn = 0;  // 0 on kernels without the EXC_RETURN word
  uint32_t pendedOn = 0;   // object-core address in pending.parent, 0 when none
  bool waitTimerActive = false;
  uint32_t waitTicksLeft = 0;  // remaining ticks of the wait timer when active
  uint32_t ownedMutexCount = 0;
  uint64_t mutexWaitersMask = 0;  // version 1: waiters of the mutexes it owns
  bool terminated = false;        // meaningful when the kernel has `terminated`
  uint32_t exitCode = 0;
  // The thread-local-storage offset the debugger should show: 0 without TLS,
  // 0 for a task on the start-up stack whose `static_priority` holds the idle
  // priority (max_priorities - 1 as shown, stored as 0 on every version),
  // otherwise the end of its stack minus __hrx_tls_rw_start.
  int64_t tlsOffset = 0;
  // Registers a debugger shows for the task, by register number (r13 is the
  // stack pointer before the context was saved; xPSR as stacked). For the
  // running task the live registers; for the FPU owner its FP registers are
  // the live ones.
  std::array<uint32_t, kRegFpscr + 1> registers{};
};

struct ManifestObject {
  uint32_t listIndex = 0;  // 2 timer, 3 mutex, 4 semaphore, 5 queue, 6 event flags, 7, 8 pools
  uint32_t address = 0;
  uint32_t coreAddress = 0;  // equals address; 0 for pools built without `core`
  std::string name;          // empty when the name pointer is 0
  bool namePointerZero = false;
  std::vector<ManifestField> fields;
  std::vector<uint32_t> waiters;  // QX_TASK addresses, in static_task_array order
  std::string routine;            // timers: the expiration routine's name
};

struct KernelManifest {
  std::string variant;
  uint32_t version = 0;
  uint32_t maxPriorities = 0;
  uint32_t maxTasks = 0;       // 32 or 64
  uint32_t maxTasksValue = 0;  // version 3: the value of qx_kernel_max_tasks
  uint32_t coreOffset = 0;     // of `core` in QX_TASK
  bool pendIsList = false;
  bool pendInUnion = false;
  bool hasPoolCore = false;
  bool hasPendSv = false;
  bool hasFpu = false;
  bool hasTerminated = false;
  bool hasStaticPriority = false;  // QX_TASK has `static_priority`
  bool timerRemainingTicks = false;
  bool timerRepeatTicks = false;
  bool bigEndian = false;
  uint32_t runningTask = 0;
  uint32_t fpTask = 0;
  uint32_t interruptLevel = 0;
  uint32_t currentTick = 0;
  uint32_t regStackSize = 0;
  std::array<uint8_t, kRegisterCount> registerMap{};
  uint32_t tlsRwStart = 0;  // 0 without thread-local storage
  uint32_t stackBegin = 0;
  uint32_t stackEnd = 0;
  std::array<uint32_t, 9> listHeads{};  // qx_kernel_object_list[0..8]
  std::vector<ManifestTask> tasks;      // in ring order from listHeads[1]
  std::vector<ManifestObject> objects;  // by list index, each in ring order
};

// The field of that name, or null.
inline const ManifestField* FindManifestField(const ManifestObject& object, std::string_view name) {
  for (const ManifestField& field : object.fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

}  // namespace model
