# Replays RECORD with PLUGIN -file and passes only when the plug-in exits
# with 0 and reports every line of the file played back.
# cmake -DPLUGIN=<osa_plugin> -DRECORD=<file.rec> -P play_record.cmake
if(NOT PLUGIN OR NOT RECORD)
  message(FATAL_ERROR "usage: cmake -DPLUGIN=<osa_plugin> -DRECORD=<file.rec> -P play_record.cmake")
endif()

file(READ ${RECORD} text)
string(REGEX REPLACE "[^\n]+" "" newlines "${text}")
string(LENGTH "${newlines}" lines)

execute_process(COMMAND ${PLUGIN} -file ${RECORD}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}" "Successfully played back all ${lines} lines" found)
if(NOT code STREQUAL "0" OR found EQUAL -1)
  string(SUBSTRING "${out}" 0 4000 shown)
  message(FATAL_ERROR "playback of ${RECORD} (${lines} lines) ended with ${code}\n"
                      "stdout:\n${shown}\nstderr:\n${err}")
endif()
message(STATUS "${RECORD}: ${lines} lines played back")
