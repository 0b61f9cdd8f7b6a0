# Plays back one commented session: drops its '#' lines and blank lines into
# a plain record file, replays that with PLUGIN -file, and passes only when
# the plug-in exits with 0 and reports every record line played back.
# cmake -DPLUGIN=<osa_plugin> -DSESSION=<file.session> -DRECORD=<out.rec> -P play_session.cmake
if(NOT PLUGIN OR NOT SESSION OR NOT RECORD)
  message(FATAL_ERROR "usage: cmake -DPLUGIN=<osa_plugin> -DSESSION=<file.session> "
                      "-DRECORD=<out.rec> -P play_session.cmake")
endif()

# file(STRINGS) would take the ';' inside messages as list separators: split
# the text by hand, one line at a time.
file(READ ${SESSION} text)
set(record "")
set(lines 0)
while(NOT text STREQUAL "")
  string(FIND "${text}" "\n" end)
  if(end EQUAL -1)
    set(line "${text}")
    set(text "")
  else()
    string(SUBSTRING "${text}" 0 ${end} line)
    math(EXPR next "${end} + 1")
    string(SUBSTRING "${text}" ${next} -1 text)
  endif()
  string(STRIP "${line}" stripped)
  if(NOT stripped STREQUAL "" AND NOT stripped MATCHES "^#")
    string(APPEND record "${line}\n")
    math(EXPR lines "${lines} + 1")
  endif()
endwhile()
file(WRITE ${RECORD} "${record}")

execute_process(COMMAND ${PLUGIN} -file ${RECORD}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code STREQUAL "0" OR NOT out STREQUAL "Successfully played back all ${lines} lines from ${RECORD}.\n")
  string(SUBSTRING "${out}" 0 4000 shown)
  message(FATAL_ERROR "playback of ${SESSION} (${lines} record lines) ended with ${code}\n"
                      "stdout:\n${shown}\nstderr:\n${err}")
endif()
message(STATUS "${SESSION}: ${lines} record lines played back")
