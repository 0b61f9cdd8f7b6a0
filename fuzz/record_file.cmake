# Fuzz target of playback: arbitrary bytes as a record file, played back
# through the real dispatcher, method table and kernel callbacks.
osa_fuzz(record_file_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/record_file_fuzz.cpp
  LAYERS osa::plugin osa::kernel
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/record_file ${PROJECT_SOURCE_DIR}/examples)
