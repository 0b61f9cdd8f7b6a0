// The error messages the kernel-awareness code shows the user: their texts
// in one table, byte for byte as the debugger shows them, and the one
// function that shows them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "osa/plugin_api.h"
#include "osa/service_requests.h"

enum class KernelMessage : std::uint8_t {
  // Discovery and the start-up check.
  kStartupNotDone,
  kNoCurrentProcedure,
  kNoCurrentPc,
  kNoKernelVersion,
  kKernelVersionNotSupported,
  kNoKernelObjects,
  kNoPriorityCount,
  kNoTaskCount,
  kBadMaxTasks,
  kNoRegisterContextSize,
  kNoRegisterMap,
  kRegisterMapUnreadable,
  kNoPendListMember,
  kFpTaskUnreadable,
  // Object lists.
  kNoObjectList,
  kObjectListUnreadable,
  // Variable and member reads; the first three name what was read.
  kCannotFormat,
  kCannotParse,
  kCannotRead,
  kMemberUnparsed,
  kMemberSizeUnparsed,
  kMemberSizeUnsupported,
  kMemberUnreadable,
  // Values asked in a kind the attribute cannot give.
  kMemberFormatUnsupported,
  kPriorityFormatUnsupported,
  kTaskMemberFormatUnsupported,
  kTaskStatusFormatUnsupported,
  // Task registers.
  kExcReturnUnreadable,
  kXpsrUnreadable,
  kStackRegisterUnwritable,
  kStackRegisterUnreadable,
  kCount,
};

// Indexed by KernelMessage.
inline constexpr std::array<std::string_view, static_cast<std::size_t>(KernelMessage::kCount)>
    kKernelMessageTexts = {
        "Error: Cannot start OSA before data and bss are initialized.\n",
        "Error: Unable to obtain current procedure for OSA.\n",
        "Error: Unable to obtain current PC for OSA.\n",
        "Error: Unable to find OSA kernel version.  OSA requires\n"
        "       the kernel to be built with symbol information.\n",
        "Error: OSA kernel version on target is not supported.\n"
        "       The OSA module requires target OSA kernel version 1 or 3.\n",
        "Error: Unable to parse kernel objects.  OSA requires\n"
        "       the kernel to be built with symbol information.\n",
        "Error: Unable to find task priority count\n",
        "Error: Unable to find task count\n",
        "Error: QX_MAX_TASKS must be 32 or 64\n",
        "Error: Unable to find task register context size\n",
        "Error: Unable to find kernel register map\n",
        "Error: Unable to read kernel register map\n",
        "Error: Unable to find object pendlist member\n",
        "Error: Unable to read current floating point task\n",
        "Error: Unable to access kernel object list.  OSA requires\n"
        "       the kernel to be built with QX_DEBUG_OBJECTS.\n",
        "Error: Unable to read kernel object list\n",
        "Error: Unable to format %s\n",
        "Error: Unable to parse %s\n",
        "Error: Unable to read %s\n",
        "Error: Unable to parse kernel object member\n",
        "Error: Unable to parse kernel object size\n",
        "Error: Unsupported object member size\n",
        // Shown for any failed member read, whatever the member.
        "Error: Unable to read kernel object name address\n",
        "Error: Unsupported object member data format\n",
        "Error: Unsupported priority data format\n",
        "Error: Unsupported task member data format\n",
        "Error: Unsupported task status data format\n",
        "Error: Unable to read exc_return value from task stack\n",
        "Error: Unable to read XPSR\n",
        "Error: Unable to write register value to task stack\n",
        "Error: Unable to read register value from task stack\n",
};
static_assert(!kKernelMessageTexts.back().empty(), "one text per message");

// The text of a message, with "%s" where a message names what was read.
inline std::string_view KernelMessageText(KernelMessage message) {
  const auto index = static_cast<std::size_t>(message);
  return index < kKernelMessageTexts.size() ? kKernelMessageTexts[index] : std::string_view();
}

// Shows the message through OSA_Service_MessageDisplay (message type 2),
// `subject` standing in for its "%s". The text is sent as an argument, never
// read as a format.
inline void ShowKernelMessage(OSA_ServiceCntx* context, KernelMessage message,
                              std::string_view subject = {}) {
  constexpr std::int32_t kErrorMessageType = 2;
  const std::string_view text = KernelMessageText(message);
  std::string shown;
  const std::size_t at = text.find("%s");
  if (at == std::string_view::npos) {
    shown = text;
  } else {
    shown.append(text.substr(0, at)).append(subject).append(text.substr(at + 2));
  }
  // The message only informs the user; a debugger that cannot show it
  // changes nothing about the read that failed.
  (void)OSA_Service_MessageDisplay(context, kErrorMessageType, "%s", shown.c_str());
}
