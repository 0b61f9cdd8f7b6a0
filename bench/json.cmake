# JSON library: parse and write speed for message texts of typical sizes and
# for a recorded session, beside two DOM libraries as yardsticks (benchmark
# only: the plug-in never links them).
osa_bench(json_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_bench.cpp
  LAYERS osa::simple_json)
target_compile_definitions(json_bench PRIVATE
  OSA_BENCH_SESSION_RECORD="${PROJECT_SOURCE_DIR}/tests/records/model/v1-mask-core-32.rec")
