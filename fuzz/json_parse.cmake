# Fuzz targets of the JSON library: the parser on arbitrary bytes, and the
# write/parse round trip that must reach a fixed point after one pass.

# Under libFuzzer the library needs coverage instrumentation too, or the
# fuzzer sees only the small target files and runs blind. A private copy of
# the layer carries it, so that the tests and the plug-in stay uninstrumented.
if(OSA_FUZZ)
  file(GLOB json_fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/simple_json/*.cpp)
  add_library(osa_simple_json_fuzz OBJECT ${json_fuzz_sources})
  target_include_directories(osa_simple_json_fuzz PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(osa_simple_json_fuzz PRIVATE -fsanitize=fuzzer-no-link)
  osa_warnings(osa_simple_json_fuzz)
  set(json_fuzz_layer osa_simple_json_fuzz)
else()
  set(json_fuzz_layer osa_simple_json)
endif()

osa_fuzz(json_parse_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_parse_fuzz.cpp
  LAYERS ${json_fuzz_layer} osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)

osa_fuzz(json_roundtrip_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_roundtrip_fuzz.cpp
  LAYERS ${json_fuzz_layer} osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)
