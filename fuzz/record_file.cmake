# Fuzz target of playback: arbitrary bytes as a record file, played back
# through the real dispatcher and method table. The playback files are
# compiled into the target itself, so that libFuzzer instruments them.
osa_fuzz(record_file_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/record_file_fuzz.cpp
          ${PROJECT_SOURCE_DIR}/plugin/playback.cpp
          ${PROJECT_SOURCE_DIR}/plugin/nesting.cpp
  LAYERS osa_interface osa_kernel osa_jsonrpc osa_simple_json osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/record_file ${PROJECT_SOURCE_DIR}/examples)
