# JSON library: parse and write speed for message texts of typical sizes.
osa_bench(json_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_bench.cpp
  LAYERS osa_simple_json osa_runtime)
