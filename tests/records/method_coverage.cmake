# Passes when every client method of the plug-in's interface is sent as a
# request in at least one record file under RECORDS_DIR (searched through
# its subdirectories), so that playback exercises all of them.
# cmake -DRECORDS_DIR=<dir> -P method_coverage.cmake
set(methods
  OsaInit OsaCleanup TargetInit TargetCleanup
  ObjectListInit ObjectListCleanup ObjectListNext ObjectListAttribute
  TaskMemoryAccessSetup TaskMemoryAccessRestore TaskRegisterRead TaskRegisterWrite
  TaskAddressTranslate TaskNameGet TaskStatusGet TaskExecGet TaskCpuGet
  TaskAddressSpaceGet TaskSymTabGet TaskRelocatableGet CurrentTaskGet
  TaskInKernelCheck TaskInCurrentAddressSpaceCheck AddressSpaceNameGet
  TaskIsHiddenCheck TaskLsoGet TaskTksaGet Poll TargetNotify OsaCmd_Execute
  GuiObjectCheck ObjectChangedCheck LifeCycleCountsGet PageTableGet MessageInject
  KernelMemoryRegionsGet HistoryLogDump Exit)
list(LENGTH methods count)
if(NOT count EQUAL 38)
  message(FATAL_ERROR "the list holds ${count} client methods, the interface has 38")
endif()

file(GLOB_RECURSE records ${RECORDS_DIR}/*.rec)
if(NOT records)
  message(FATAL_ERROR "no record files under ${RECORDS_DIR}")
endif()
set(missing ${methods})
foreach(record ${records})
  file(READ ${record} text)
  foreach(method ${missing})
    string(FIND "${text}" "\"method\" : \"OSA_Client_${method}\"" at)
    if(NOT at EQUAL -1)
      list(REMOVE_ITEM missing ${method})
    endif()
  endforeach()
  if(NOT missing)
    break()
  endif()
endforeach()
if(missing)
  list(JOIN missing ", OSA_Client_" shown)
  message(FATAL_ERROR "no record under ${RECORDS_DIR} sends OSA_Client_${shown}")
endif()
list(LENGTH records files)
message(STATUS "all 38 client methods are sent in the ${files} record files")
